// Rewriting a configuration file safely. The file is the gateway's whole configuration, so
// it is never removed or truncated in place: the new text goes to a temporary file beside
// it (a rename within one file system is atomic), which takes the old file's mode, is
// synced to the disk and then renamed over the old file. A symbolic link is followed to
// its target, so the link itself stays. The folder is synced too, so that the new name
// survives a power cut.
#include "tools/parmset/write_config_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "common/config_file.h"
#include "platform/admin/pf_temp_file.h"
#include "tools/parmset/parmset_logger.h"
#include "tools/parmset/parmset_status.h"

namespace
{

// One line as read: its bytes without the line end, and which end it had.
struct config_line
{
    std::string body;     // without "\n" and a "\r" before it
    bool newline = false; // ended with "\n"
    bool carriage_return = false;
    std::string name; // body up to the first "="
};

// Whole lines of any length, NUL bytes included.
class line_reader
{
  public:
    explicit line_reader(FILE *file) : m_file(file) {}
    ~line_reader() { free(m_buffer); }
    line_reader(const line_reader &) = delete;
    line_reader &operator=(const line_reader &) = delete;

    bool next(config_line *line)
    {
        ssize_t length = getline(&m_buffer, &m_capacity, m_file);
        if (length < 0)
            return false;
        line->body.assign(m_buffer, static_cast<size_t>(length));
        line->newline = !line->body.empty() && line->body.back() == '\n';
        if (line->newline)
            line->body.pop_back();
        line->carriage_return = !line->body.empty() && line->body.back() == '\r';
        if (line->carriage_return)
            line->body.pop_back();
        line->name = line->body.substr(0, line->body.find('='));
        return true;
    }

  private:
    FILE *m_file;
    char *m_buffer = nullptr;
    size_t m_capacity = 0;
};

std::string format_message(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string format_message(const char *format, ...)
{
    char buffer[PATH_MAX + 256];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// The line's own ending (a file edited on Windows keeps its CRLF), a newline added where
// the last line had none.
std::string line_end(const config_line &line)
{
    return line.carriage_return ? "\r\n" : "\n";
}

std::string copied(const config_line &line)
{
    return line.body + line_end(line);
}

FILE *open_for_reading(const std::string &file_name, struct stat *info, std::string *message)
{
    FILE *file = fopen(file_name.c_str(), "r");
    if (file != nullptr && fstat(fileno(file), info) == 0 && S_ISREG(info->st_mode))
        return file;
    if (file != nullptr)
        fclose(file);
    *message = format_message("Couldn't open file [%s] in read mode.", file_name.c_str());
    return nullptr;
}

// The file opened for a rewrite, under the lock that other runs of parmset wait for
// until this run has put its new file in place: without it two runs would each copy the
// same old file and the later rename would drop the other's change. Null with *result
// 300 when the file cannot be read, 200 when another run held it for the whole wait.
FILE *open_for_rewrite(const std::string &file_name, std::string *message, int *result)
{
    FILE *file = pf_temp_file_open_locked(file_name.c_str(), PARMSET_LOCK_WAIT_MS);
    struct stat info;
    if (file != nullptr && fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode))
        return file;
    int error = errno;
    if (file != nullptr)
        fclose(file);
    *result = file == nullptr && error == EWOULDBLOCK ? PARMSET_REWRITE_FAILED : PARMSET_OPEN_FAILED;
    *message = *result == PARMSET_REWRITE_FAILED
                   ? format_message("Couldn't lock file [%s]: another run is rewriting it. Error Code : [%d]",
                                    file_name.c_str(), error)
                   : format_message("Couldn't open file [%s] in read mode.", file_name.c_str());
    return nullptr;
}

using line_editor = std::function<std::string(const config_line &)>;
using tail_writer = std::function<std::string()>;

// Copies the file through edit (what replaces each line) and tail (what is appended), and
// puts the copy in the old file's place. 0, or 200 or 300 with the reason in *message.
int rewrite_config_file(const std::string &file_name, const line_editor &edit, const tail_writer &tail,
                        std::string *message, parmset_logger *logger)
{
    int opened = PARMSET_OPEN_FAILED;
    FILE *in = open_for_rewrite(file_name, message, &opened);
    if (in == nullptr)
        return opened;
    // Closing the file releases the lock: it stays open until the rename is done.
    std::unique_ptr<FILE, int (*)(FILE *)> held(in, fclose);
    PARMSET_LOG(logger, PARMSET_ACTIVITY, "Orignal file opened successfully");

    char temp_name[PATH_MAX + 16];
    FILE *out = pf_temp_file_create_beside(file_name.c_str(), temp_name, sizeof temp_name);
    if (out == nullptr)
    {
        *message = format_message("Couldn't open temporary file [%s] in write mode. Error Code : [%d]",
                                  temp_name, errno);
        return PARMSET_REWRITE_FAILED;
    }
    PARMSET_LOG(logger, PARMSET_ACTIVITY, "Temp file opened successfully");

    int write_error = 0;
    auto put = [&](const std::string &text)
    {
        if (write_error == 0 && fwrite(text.data(), 1, text.size(), out) != text.size())
            write_error = errno != 0 ? errno : EIO;
    };
    {
        line_reader reader(in);
        config_line line;
        while (write_error == 0 && reader.next(&line))
            put(edit(line));
    }
    int read_error = ferror(in) != 0 ? (errno != 0 ? errno : EIO) : 0;
    if (read_error == 0)
        put(tail());
    if (pf_temp_file_close_synced(out) != 0 && write_error == 0)
        write_error = errno != 0 ? errno : EIO;
    if (read_error != 0 || write_error != 0)
    {
        *message =
            read_error != 0
                ? format_message("Couldn't read file [%s]. Error Code : [%d]", file_name.c_str(), read_error)
                : format_message("Writing the temporary file [%s] failed. Error Code : [%d]", temp_name,
                                 write_error);
        remove(temp_name);
        return read_error != 0 ? PARMSET_OPEN_FAILED : PARMSET_REWRITE_FAILED;
    }
    if (pf_temp_file_replace(temp_name, file_name.c_str()) != 0)
    {
        *message = format_message("Renaming the temporary file failed. Error Code : [%d]", errno);
        remove(temp_name);
        return PARMSET_REWRITE_FAILED;
    }
    PARMSET_LOG(logger, PARMSET_ACTIVITY, "Temp file renamed");
    return PARMSET_SUCCESS;
}

} // namespace

int configure_param(const std::string &file_name, const std::vector<parameter_request> &requests,
                    std::string *message, parmset_logger *logger)
{
    // A name asked for twice takes its last value; the earlier request is left out.
    std::vector<bool> active(requests.size(), true);
    for (size_t i = 0; i < requests.size(); ++i)
    {
        for (size_t j = i + 1; j < requests.size() && active[i]; ++j)
            active[i] = requests[i].name != requests[j].name;
    }
    std::vector<bool> found(requests.size(), false);
    int result = PARMSET_UNCHANGED;

    line_editor edit = [&](const config_line &line)
    {
        for (size_t i = 0; i < requests.size(); ++i)
        {
            if (!active[i] || requests[i].name != line.name)
                continue;
            found[i] = true;
            if (requests[i].value.empty())
            {
                PARMSET_LOG_IN("configure_param", logger, PARMSET_ACTIVITY,
                               "Value of %s deleted from config file", line.name.c_str());
                result = PARMSET_LINE_DELETED;
                return std::string();
            }
            PARMSET_LOG_IN("configure_param", logger, PARMSET_ACTIVITY, "Value of %s written to config file",
                           line.name.c_str());
            result = PARMSET_LINE_WRITTEN;
            return line.name + "=" + requests[i].value + line_end(line);
        }
        return copied(line);
    };
    tail_writer tail = [&]()
    {
        std::string text;
        for (size_t i = 0; i < requests.size(); ++i)
        {
            if (!active[i] || found[i] || requests[i].value.empty())
                continue;
            PARMSET_LOG_IN("configure_param", logger, PARMSET_ACTIVITY, "Value of %s appended to config file",
                           requests[i].name.c_str());
            text += requests[i].name + "=" + requests[i].value + "\n";
            result = PARMSET_LINE_APPENDED;
        }
        return text;
    };
    int status = rewrite_config_file(file_name, edit, tail, message, logger);
    return status == PARMSET_SUCCESS ? result : status;
}

int get_duplicate_count_of_param(const std::string &file_name, const std::string &name, uint32_t *count,
                                 std::string *message, parmset_logger *logger)
{
    *count = 0;
    struct stat info;
    FILE *in = open_for_reading(file_name, &info, message);
    if (in == nullptr)
    {
        PARMSET_LOG(logger, PARMSET_ERROR, "%s", message->c_str());
        return PARMSET_OPEN_FAILED;
    }
    line_reader reader(in);
    config_line line;
    while (reader.next(&line))
    {
        if (line.name == name)
            ++*count;
    }
    bool failed = ferror(in) != 0;
    fclose(in);
    if (failed)
    {
        *message = format_message("Couldn't read file [%s]. Error Code : [%d]", file_name.c_str(), errno);
        PARMSET_LOG(logger, PARMSET_ERROR, "%s", message->c_str());
        return PARMSET_OPEN_FAILED;
    }
    return PARMSET_SUCCESS;
}

int remove_duplicate_params(const std::string &file_name, const std::string &name, std::string *message,
                            parmset_logger *logger)
{
    PARMSET_LOG(logger, PARMSET_CONTINUATION, "Removing duplicates of %s from config file", name.c_str());
    int removed = 0;
    line_editor edit = [&](const config_line &line)
    {
        if (line.name == name)
        {
            ++removed;
            PARMSET_LOG_IN("remove_duplicate_params", logger, PARMSET_ACTIVITY,
                           "Removed occurrance#%d of %s from config file", removed, name.c_str());
            return std::string();
        }
        PARMSET_LOG_IN("remove_duplicate_params", logger, PARMSET_ACTIVITY,
                       "Value of %s written to config file", line.name.c_str());
        return copied(line);
    };
    int status = rewrite_config_file(
        file_name, edit, []() { return std::string(); }, message, logger);
    return status == PARMSET_SUCCESS ? removed : status;
}

int read_config_param(const std::string &file_name, const std::string &name, std::string *value,
                      std::string *message)
{
    struct stat info;
    FILE *in = open_for_reading(file_name, &info, message);
    if (in == nullptr)
        return PARMSET_OPEN_FAILED;
    int result = PARMSET_NAME_NOT_FOUND;
    {
        line_reader reader(in);
        config_line line;
        while (reader.next(&line))
        {
            // The gateway reader's own split, on the text up to any NUL byte as the gateway
            // sees it, so that name and value end where the gateway ends them.
            std::string text = line.body.c_str();
            config_split split = config_split_at_equals(&text[0]);
            if (split.name == nullptr || name != split.name)
                continue;
            if (split.value == nullptr)
            {
                result = PARMSET_NAME_WITHOUT_VALUE;
            }
            else if (strlen(split.value) > PARMSET_MAX_VALUE_LENGTH)
            {
                result = PARMSET_VALUE_TOO_LONG;
            }
            else
            {
                *value = split.value;
                result = PARMSET_SUCCESS;
            }
            break;
        }
    }
    if (result == PARMSET_NAME_NOT_FOUND && ferror(in) != 0)
    {
        *message = format_message("Couldn't read file [%s]. Error Code : [%d]", file_name.c_str(), errno);
        result = PARMSET_OPEN_FAILED;
    }
    fclose(in);
    return result;
}
