// Readers and writer of name=value files. The readers take lines (and words) of at most
// 511 characters, a longer one being read in pieces; the writer copies every line whole
// whatever its length. A trailing carriage return is no part of a value, as in the
// gateway's reader.
#include "console/kova_config_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/config_file.h"
#include "platform/admin/pf_temp_file.h"

namespace
{
const config_syntax k_console_words = {true, CONFIG_SPLIT_FIRST_EQUALS};
const config_syntax k_console_lines = {false, CONFIG_SPLIT_WHOLE_REST};

uint32_t console_result(ea_status status)
{
    return status == EA_SUCCESS ? KOVA_PARAM_FOUND
           : status == EA_ERROR ? KOVA_PARAM_OPEN_FAILED
                                : KOVA_PARAM_NOT_FOUND;
}

// One line of any length, its newline included when it had one; false at the end.
bool read_whole_line(FILE *file, std::string *line)
{
    line->clear();
    int c;
    while ((c = fgetc(file)) != EOF)
    {
        line->push_back(static_cast<char>(c));
        if (c == '\n')
        {
            break;
        }
    }
    return !line->empty();
}

void set_message(char *message, const char *format, ...) __attribute__((format(printf, 2, 3)));
void set_message(char *message, const char *format, ...)
{
    if (message == nullptr)
    {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, KOVA_PARAM_MESSAGE_SIZE, format, arguments);
    va_end(arguments);
}

// The name of a table slot, cut at the slot's size when it has no terminator.
std::string slot_text(const char *slot)
{
    return std::string(slot, strnlen(slot, KOVA_PARAM_SLOT_SIZE));
}
} // namespace

uint32_t GetIntParameterValue(const char *path, const char *name, int32_t *value)
{
    char text[CONFIG_PIECE_SIZE];
    ea_status status = config_file_find(path, name, &k_console_words, text);
    if (status == EA_SUCCESS && value != nullptr)
    {
        *value = config_leading_number(text);
    }
    return console_result(status);
}

uint32_t GetStringParameterValue(const char *path, const char *name, char *buffer, size_t size)
{
    char text[CONFIG_PIECE_SIZE];
    ea_status status = config_file_find(path, buffer != nullptr ? name : nullptr, &k_console_lines, text);
    if (status == EA_SUCCESS)
    {
        size_t length = strlen(text);
        if (length >= size)
        {
            return KOVA_PARAM_NOT_FOUND;
        }
        memcpy(buffer, text, length + 1);
    }
    return console_result(status);
}

uint32_t ReplaceParameterValues(const char *path, const char (*names)[KOVA_PARAM_SLOT_SIZE],
                                const char (*values)[KOVA_PARAM_SLOT_SIZE], int32_t count, char *message)
{
    if (count < 0 || (count > 0 && (names == nullptr || values == nullptr)))
    {
        count = 0;
    }
    std::vector<bool> written(static_cast<size_t>(count), false);
    uint32_t status = KOVA_PARAM_UNCHANGED;

    FILE *input = path != nullptr ? fopen(path, "r") : nullptr;
    if (input == nullptr)
    {
        set_message(message, "Couldn't open file [%s] in read mode.", path != nullptr ? path : "");
        return KOVA_PARAM_OPEN_FAILED;
    }
    char temp_path[4096];
    FILE *output = pf_temp_file_create_beside(path, temp_path, sizeof temp_path);
    if (output == nullptr)
    {
        set_message(message, "Couldn't open temporary file [%s] in write mode.", temp_path);
        fclose(input);
        return KOVA_PARAM_WRITE_FAILED;
    }

    std::string line;
    while (read_whole_line(input, &line))
    {
        size_t equals = line.find('=');
        bool matched = false;
        if (equals != std::string::npos)
        {
            std::string line_name = line.substr(0, equals);
            for (int32_t i = 0; i < count; ++i)
            {
                if (slot_text(names[i]) != line_name)
                {
                    continue;
                }
                std::string value = slot_text(values[i]);
                if (!value.empty())
                {
                    fprintf(output, "%s=%s\n", line_name.c_str(), value.c_str());
                    status = KOVA_PARAM_REPLACED;
                }
                else
                {
                    status = KOVA_PARAM_REMOVED;
                }
                written[static_cast<size_t>(i)] = true;
                matched = true;
            }
        }
        if (!matched)
        {
            fwrite(line.data(), 1, line.size(), output);
            if (line.back() != '\n')
            {
                fputc('\n', output);
            }
        }
    }
    bool read_failed = ferror(input) != 0;
    fclose(input);
    for (int32_t i = 0; i < count; ++i)
    {
        std::string value = slot_text(values[i]);
        if (!written[static_cast<size_t>(i)] && !value.empty())
        {
            fprintf(output, "%s=%s\n", slot_text(names[i]).c_str(), value.c_str());
            status = KOVA_PARAM_APPENDED;
        }
    }

    bool write_failed = ferror(output) != 0;
    int error = errno;
    if (pf_temp_file_close_synced(output) != 0 || write_failed || read_failed)
    {
        error = write_failed || read_failed ? (error != 0 ? error : EIO) : errno;
        set_message(message, "Writing the temporary file failed. Error Code : [%d]", error);
        remove(temp_path);
        return KOVA_PARAM_WRITE_FAILED;
    }
    if (pf_temp_file_replace(temp_path, path) != 0)
    {
        set_message(message, "Renaming the temporary file failed. Error Code : [%d]", errno);
        remove(temp_path);
        return KOVA_PARAM_WRITE_FAILED;
    }
    return status;
}

int32_t GetFileTitleWrapper(const char *path, char *title, uint16_t size)
{
    if (path == nullptr)
    {
        return -1;
    }
    const char *slash = strrchr(path, '/');
    const char *name = slash != nullptr ? slash + 1 : path;
    size_t length = strlen(name);
    if (length == 0)
    {
        return -1;
    }
    if (title == nullptr || length + 1 > size)
    {
        return static_cast<int32_t>(length + 1);
    }
    memcpy(title, name, length + 1);
    return 0;
}
