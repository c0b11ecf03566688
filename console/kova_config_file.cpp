// Readers and writer of name=value files. The readers take lines (and words) of at most
// 511 characters, a longer one being read in pieces; the writer copies every line whole
// whatever its length. A trailing carriage return is no part of a value, as in the
// gateway's reader.
#include "console/kova_config_file.h"

#include <cerrno>
#include <cstdarg>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/admin/pf_temp_file.h"

namespace
{
enum
{
    PIECE_SIZE = 512, // 511 characters and the terminator
};

// The next blank-separated word of at most PIECE_SIZE - 1 characters; false at the end.
bool read_word(FILE *file, char *word)
{
    int c;
    do
    {
        c = fgetc(file);
    } while (c != EOF && isspace(c));
    if (c == EOF)
    {
        return false;
    }
    size_t length = 0;
    while (c != EOF && !isspace(c))
    {
        word[length++] = static_cast<char>(c);
        if (length == PIECE_SIZE - 1)
        {
            break;
        }
        c = fgetc(file);
    }
    word[length] = '\0';
    return true;
}

// The leading decimal number of text (sign allowed, no digits give 0), held in 32 bits.
int32_t leading_number(const char *text)
{
    long long value = strtoll(text, nullptr, 10);
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
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
    FILE *file = path != nullptr ? fopen(path, "r") : nullptr;
    if (file == nullptr)
    {
        return KOVA_PARAM_OPEN_FAILED;
    }
    char word[PIECE_SIZE];
    for (;;)
    {
        if (!read_word(file, word))
        {
            fclose(file);
            return KOVA_PARAM_NOT_FOUND;
        }
        char *equals = strchr(word, '=');
        if (equals == word)
        {
            continue; // no name
        }
        if (equals != nullptr)
        {
            *equals = '\0';
        }
        if (name == nullptr || strcmp(word, name) != 0)
        {
            continue;
        }
        if (equals == nullptr || equals[1] == '\0' || equals[1] == '=')
        {
            fclose(file);
            return KOVA_PARAM_NOT_FOUND;
        }
        char *end = strchr(equals + 1, '=');
        if (end != nullptr)
        {
            *end = '\0';
        }
        if (value != nullptr)
        {
            *value = leading_number(equals + 1);
        }
        fclose(file);
        return KOVA_PARAM_FOUND;
    }
}

uint32_t GetStringParameterValue(const char *path, const char *name, char *buffer, size_t size)
{
    FILE *file = path != nullptr ? fopen(path, "r") : nullptr;
    if (file == nullptr)
    {
        return KOVA_PARAM_OPEN_FAILED;
    }
    char line[PIECE_SIZE];
    for (;;)
    {
        if (fgets(line, sizeof line, file) == nullptr)
        {
            fclose(file);
            return KOVA_PARAM_NOT_FOUND;
        }
        size_t length = strlen(line);
        if (length > 0 && line[length - 1] == '\n')
        {
            line[--length] = '\0';
        }
        if (length > 0 && line[length - 1] == '\r')
        {
            line[--length] = '\0';
        }
        char *equals = strchr(line, '=');
        if (equals == line || length == 0)
        {
            continue; // no name
        }
        if (equals != nullptr)
        {
            *equals = '\0';
        }
        if (name == nullptr || strcmp(line, name) != 0)
        {
            continue;
        }
        const char *rest = equals != nullptr ? equals + 1 : "";
        size_t rest_length = strlen(rest);
        uint32_t result = KOVA_PARAM_NOT_FOUND;
        if (rest_length > 0 && buffer != nullptr && rest_length < size)
        {
            memcpy(buffer, rest, rest_length + 1);
            result = KOVA_PARAM_FOUND;
        }
        fclose(file);
        return result;
    }
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
