// The file-backed registry. The file is parsed whole into its lines on every call: it
// holds a few dozen values and is read at start-up, so simplicity wins over caching.
// Comment and blank lines keep their text; value lines are written back in one form.
//
// Writers serialise on an exclusive flock of the file itself. Since a change replaces the
// file by rename, a writer that waited on the old file sees that the name now points to
// another file and takes the lock again on the new one.
#include "platform/admin/pf_registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/core/pf_error.h"
#include "platform/core/pf_file.h"

struct pf_reg_key
{
    std::string path; // components joined by "\", "" for the root
};

namespace
{

const char k_default_registry_file[] = "/var/lib/qel_ip/registry";

thread_local char t_problem[1024];

enum class line_kind
{
    other,   // comment or blank line, kept as it stands
    section, // "[path]"
    value,   // "name"=data within the section before it
};

struct reg_line
{
    line_kind kind = line_kind::other;
    std::string text;   // the line as read (comment lines)
    std::string path;   // section lines: the key's path
    std::string name;   // value lines
    uint32_t type = 0;  // value lines: PF_REG_SZ or PF_REG_DWORD
    std::string string; // PF_REG_SZ data
    uint32_t dword = 0; // PF_REG_DWORD data
    size_t section = 0; // value lines: index of their section line
};

struct reg_file
{
    std::vector<reg_line> lines;
};

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

int compare_ignoring_case(const std::string &a, const std::string &b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
    {
        char x = upper(a[i]);
        char y = upper(b[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool equal_ignoring_case(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && compare_ignoring_case(a, b) == 0;
}

// True when path lies below key (or is key itself when or_self is set).
bool path_under(const std::string &path, const std::string &key, bool or_self)
{
    if (key.empty())
        return or_self || !path.empty();
    if (path.size() == key.size())
        return or_self && equal_ignoring_case(path, key);
    return path.size() > key.size() && path[key.size()] == '\\' &&
           equal_ignoring_case(path.substr(0, key.size()), key);
}

// A key path: components separated by single "\", none empty, no line breaks, no "]" at
// the end (it would end the section header early).
bool valid_path(const std::string &path)
{
    if (path.empty())
        return true;
    if (path.front() == '\\' || path.back() == '\\' || path.back() == ']' ||
        path.find("\\\\") != std::string::npos)
        return false;
    return path.find_first_of("\r\n") == std::string::npos;
}

void set_problem(const char *file, size_t line, const char *reason)
{
    if (line > 0)
        snprintf(t_problem, sizeof t_problem, "registry file [%s] line %zu: %s", file, line, reason);
    else
        snprintf(t_problem, sizeof t_problem, "registry file [%s]: %s", file, reason);
}

std::string trim(const std::string &text)
{
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// Reads a quoted text starting at text[*at] == '"'; leaves *at after the closing quote.
bool parse_quoted(const std::string &text, size_t *at, std::string *out)
{
    if (*at >= text.size() || text[*at] != '"')
        return false;
    out->clear();
    for (size_t i = *at + 1; i < text.size(); ++i)
    {
        char c = text[i];
        if (c == '"')
        {
            *at = i + 1;
            return true;
        }
        if (c == '\\')
        {
            if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"'))
                return false;
            c = text[++i];
        }
        out->push_back(c);
    }
    return false;
}

std::string quote(const std::string &text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

bool parse_dword(const std::string &text, uint32_t *value)
{
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t result = 0;
    for (char c : text)
    {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (upper(c) >= 'A' && upper(c) <= 'F')
            digit = upper(c) - 'A' + 10;
        else
            return false;
        result = result * 16 + static_cast<uint32_t>(digit);
    }
    *value = result;
    return true;
}

// A value line: "name"="text" or "name"=dword:hex. Returns the reason when malformed.
const char *parse_value_line(const std::string &text, reg_line *line)
{
    size_t at = 0;
    if (!parse_quoted(text, &at, &line->name) || line->name.empty())
        return "a value name must be a non-empty quoted text";
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at >= text.size() || text[at] != '=')
        return "\"=\" expected after the value name";
    ++at;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at < text.size() && text[at] == '"')
    {
        if (!parse_quoted(text, &at, &line->string))
            return "unterminated or badly escaped string";
        line->type = PF_REG_SZ;
        if (!trim(text.substr(at)).empty())
            return "text after the string";
        return nullptr;
    }
    std::string rest = trim(text.substr(at));
    if (rest.size() > 6 && compare_ignoring_case(rest.substr(0, 6), "dword:") == 0 &&
        parse_dword(rest.substr(6), &line->dword))
    {
        line->type = PF_REG_DWORD;
        return nullptr;
    }
    return "a value must be a quoted string or dword: with one to eight hexadecimal digits";
}

// Parses the whole text. On failure records the problem and returns false.
bool parse(const char *file_name, const std::string &content, reg_file *out)
{
    out->lines.clear();
    size_t start = 0;
    size_t number = 0;
    bool in_section = false;
    while (start < content.size())
    {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string raw = content.substr(start, end - start);
        start = end + 1;
        ++number;
        if (raw.find('\0') != std::string::npos)
        {
            set_problem(file_name, number, "a zero byte in the line");
            return false;
        }
        std::string text = trim(raw);
        reg_line line;
        line.text = raw;
        if (!raw.empty() && raw.back() == '\r')
            line.text.pop_back();
        if (text.empty() || text[0] == ';' || text[0] == '#')
        {
            out->lines.push_back(line);
            continue;
        }
        if (text[0] == '[')
        {
            line.kind = line_kind::section;
            line.path =
                text.size() >= 2 && text.back() == ']' ? text.substr(1, text.size() - 2) : std::string();
            if (line.path.empty() || !valid_path(line.path))
            {
                set_problem(file_name, number,
                            "a section must be [key path] with non-empty names between \"\\\"");
                return false;
            }
            for (const reg_line &other : out->lines)
            {
                if (other.kind == line_kind::section && equal_ignoring_case(other.path, line.path))
                {
                    set_problem(file_name, number, "the key's section stands twice");
                    return false;
                }
            }
            in_section = true;
            out->lines.push_back(line);
            continue;
        }
        if (!in_section)
        {
            set_problem(file_name, number, "a value before the first section");
            return false;
        }
        line.kind = line_kind::value;
        const char *reason = parse_value_line(text, &line);
        if (reason != nullptr)
        {
            set_problem(file_name, number, reason);
            return false;
        }
        for (size_t i = out->lines.size(); i-- > 0;)
        {
            const reg_line &other = out->lines[i];
            if (other.kind == line_kind::section)
            {
                line.section = i;
                break;
            }
            if (other.kind == line_kind::value && equal_ignoring_case(other.name, line.name))
            {
                set_problem(file_name, number, "the value stands twice in its section");
                return false;
            }
        }
        out->lines.push_back(line);
    }
    return true;
}

std::string serialise(const reg_file &file)
{
    std::string out;
    for (const reg_line &line : file.lines)
    {
        switch (line.kind)
        {
        case line_kind::other:
            out += line.text;
            break;
        case line_kind::section:
            out += "[" + line.path + "]";
            break;
        case line_kind::value:
            out += quote(line.name) + "=";
            if (line.type == PF_REG_SZ)
            {
                out += quote(line.string);
            }
            else
            {
                char hex[16];
                snprintf(hex, sizeof hex, "dword:%08x", line.dword);
                out += hex;
            }
            break;
        }
        out += "\n";
    }
    return out;
}

uint32_t error_from_errno(int error)
{
    switch (error)
    {
    case ENOENT:
        return PF_ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return PF_ERROR_ACCESS_DENIED;
    case ENOTDIR:
        return PF_ERROR_PATH_NOT_FOUND;
    case ENOMEM:
        return PF_ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
        return PF_ERROR_DISK_FULL;
    default:
        return PF_ERROR_REGISTRY_IO_FAILED;
    }
}

bool read_all(int fd, std::string *content)
{
    content->clear();
    char buffer[4096];
    for (;;)
    {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        content->append(buffer, static_cast<size_t>(got));
    }
}

bool write_all(int fd, const std::string &content)
{
    size_t done = 0;
    while (done < content.size())
    {
        ssize_t written = write(fd, content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// Reads and parses the file for a query. A missing file is an empty registry.
uint32_t load(reg_file *file)
{
    const char *name = pf_registry_file();
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        if (errno == ENOENT)
        {
            file->lines.clear();
            return PF_ERROR_SUCCESS;
        }
        int error = errno;
        set_problem(name, 0, strerror(error));
        return error_from_errno(error);
    }
    std::string content;
    bool ok = read_all(fd, &content);
    int error = errno;
    close(fd);
    if (!ok)
    {
        set_problem(name, 0, strerror(error));
        return error_from_errno(error);
    }
    return parse(name, content, file) ? static_cast<uint32_t>(PF_ERROR_SUCCESS)
                                      : static_cast<uint32_t>(PF_ERROR_BADDB);
}

bool key_exists(const reg_file &file, const std::string &path)
{
    if (path.empty())
        return true;
    for (const reg_line &line : file.lines)
    {
        if (line.kind == line_kind::section && path_under(line.path, path, true))
            return true;
    }
    return false;
}

// Index of the key's own section line, or -1.
long find_section(const reg_file &file, const std::string &path)
{
    for (size_t i = 0; i < file.lines.size(); ++i)
    {
        if (file.lines[i].kind == line_kind::section && equal_ignoring_case(file.lines[i].path, path))
            return static_cast<long>(i);
    }
    return -1;
}

long find_value(const reg_file &file, const std::string &path, const std::string &name)
{
    long section = find_section(file, path);
    if (section < 0)
        return -1;
    for (size_t i = static_cast<size_t>(section) + 1; i < file.lines.size(); ++i)
    {
        const reg_line &line = file.lines[i];
        if (line.kind == line_kind::section)
            break;
        if (line.kind == line_kind::value && equal_ignoring_case(line.name, name))
            return static_cast<long>(i);
    }
    return -1;
}

// Adds the key's section at the end of the file; returns its index.
size_t add_section(reg_file *file, const std::string &path)
{
    if (!file->lines.empty() && !trim(file->lines.back().text).empty())
        file->lines.push_back(reg_line());
    reg_line line;
    line.kind = line_kind::section;
    line.path = path;
    file->lines.push_back(line);
    return file->lines.size() - 1;
}

// Puts a value line after the last value of its section (or after the header).
void insert_value(reg_file *file, size_t section, reg_line line)
{
    size_t at = section + 1;
    for (size_t i = section + 1; i < file->lines.size() && file->lines[i].kind != line_kind::section; ++i)
    {
        if (file->lines[i].kind == line_kind::value)
            at = i + 1;
    }
    line.section = section;
    file->lines.insert(file->lines.begin() + static_cast<long>(at), line);
}

// A change under the lock: the edit is given the parsed file and says whether it changed
// anything (or fails with a code, leaving the file as it is).
template <typename Edit> uint32_t change(Edit edit)
{
    const char *name = pf_registry_file();
    int fd = -1;
    for (;;)
    {
        fd = open(name, O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
        {
            int error = errno;
            set_problem(name, 0, strerror(error));
            return error == ENOENT ? PF_ERROR_PATH_NOT_FOUND : error_from_errno(error);
        }
        if (flock(fd, LOCK_EX) != 0)
        {
            int error = errno;
            close(fd);
            if (error == EINTR)
                continue;
            set_problem(name, 0, strerror(error));
            return error_from_errno(error);
        }
        if (pf_file_still_named(fd, name))
            break;
        close(fd); // replaced while we waited: lock the new file
    }

    std::string content;
    reg_file file;
    uint32_t result = PF_ERROR_SUCCESS;
    struct stat held;
    if (!read_all(fd, &content) || fstat(fd, &held) != 0)
    {
        set_problem(name, 0, strerror(errno));
        result = error_from_errno(errno);
    }
    else if (!parse(name, content, &file))
    {
        result = PF_ERROR_BADDB;
    }
    bool changed = false;
    if (result == PF_ERROR_SUCCESS)
        result = edit(&file, &changed);
    if (result == PF_ERROR_SUCCESS && changed)
    {
        std::string temp = std::string(name) + ".XXXXXX";
        std::vector<char> temp_name(temp.begin(), temp.end());
        temp_name.push_back('\0');
        int out = mkostemp(temp_name.data(), O_CLOEXEC);
        if (out < 0)
        {
            set_problem(name, 0, strerror(errno));
            result = error_from_errno(errno);
        }
        else
        {
            bool ok =
                fchmod(out, held.st_mode & 07777) == 0 && write_all(out, serialise(file)) && fsync(out) == 0;
            int error = errno;
            ok = close(out) == 0 && ok;
            if (ok && rename(temp_name.data(), name) != 0)
            {
                ok = false;
                error = errno;
            }
            if (!ok)
            {
                unlink(temp_name.data());
                set_problem(name, 0, strerror(error));
                result = error_from_errno(error);
            }
        }
    }
    close(fd);
    return result;
}

uint32_t join_path(const pf_reg_key *parent, const char *sub_key, std::string *path)
{
    if (sub_key == nullptr)
        sub_key = "";
    std::string sub = sub_key;
    if (!valid_path(sub))
        return PF_ERROR_BAD_PATHNAME;
    std::string base = parent != nullptr ? parent->path : std::string();
    if (base.empty() || sub.empty())
        *path = base + sub;
    else
        *path = base + "\\" + sub;
    return PF_ERROR_SUCCESS;
}

uint32_t new_key(const std::string &path, pf_reg_key **key_out)
{
    pf_reg_key *key = new (std::nothrow) pf_reg_key;
    if (key == nullptr)
        return PF_ERROR_NOT_ENOUGH_MEMORY;
    key->path = path;
    *key_out = key;
    return PF_ERROR_SUCCESS;
}

uint32_t set_value(const pf_reg_key *key, const char *name, const reg_line &value)
{
    if (key == nullptr)
        return PF_ERROR_INVALID_HANDLE;
    if (name == nullptr || *name == '\0' || strpbrk(name, "\r\n") != nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    if (key->path.empty())
        return PF_ERROR_ACCESS_DENIED; // the root holds keys only
    const std::string path = key->path;
    const std::string value_name = name;
    return change(
        [&](reg_file *file, bool *changed)
        {
            if (!key_exists(*file, path))
                return static_cast<uint32_t>(PF_ERROR_KEY_DELETED);
            reg_line line = value;
            line.kind = line_kind::value;
            line.name = value_name;
            long at = find_value(*file, path, value_name);
            if (at >= 0)
            {
                line.section = file->lines[static_cast<size_t>(at)].section;
                file->lines[static_cast<size_t>(at)] = line;
            }
            else
            {
                long section = find_section(*file, path);
                size_t index = section >= 0 ? static_cast<size_t>(section) : add_section(file, path);
                insert_value(file, index, line);
            }
            *changed = true;
            return static_cast<uint32_t>(PF_ERROR_SUCCESS);
        });
}

} // namespace

const char *pf_registry_file()
{
    const char *name = getenv("QEL_REGISTRY_FILE");
    return (name != nullptr && *name != '\0') ? name : k_default_registry_file;
}

uint32_t pf_reg_open_key(const pf_reg_key *parent, const char *sub_key, pf_reg_key **key_out)
{
    if (key_out == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    *key_out = nullptr;
    std::string path;
    uint32_t result = join_path(parent, sub_key, &path);
    if (result != PF_ERROR_SUCCESS)
        return result;
    reg_file file;
    result = load(&file);
    if (result != PF_ERROR_SUCCESS)
        return result;
    if (!key_exists(file, path))
        return PF_ERROR_FILE_NOT_FOUND;
    return new_key(path, key_out);
}

uint32_t pf_reg_create_key(const pf_reg_key *parent, const char *sub_key, pf_reg_key **key_out)
{
    if (key_out == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    *key_out = nullptr;
    std::string path;
    uint32_t result = join_path(parent, sub_key, &path);
    if (result != PF_ERROR_SUCCESS)
        return result;
    reg_file existing;
    if (load(&existing) != PF_ERROR_SUCCESS || !key_exists(existing, path))
    {
        result = change(
            [&](reg_file *file, bool *changed)
            {
                if (!key_exists(*file, path))
                {
                    add_section(file, path);
                    *changed = true;
                }
                return static_cast<uint32_t>(PF_ERROR_SUCCESS);
            });
        if (result != PF_ERROR_SUCCESS)
            return result;
    }
    return new_key(path, key_out);
}

uint32_t pf_reg_close_key(pf_reg_key *key)
{
    if (key == nullptr)
        return PF_ERROR_INVALID_HANDLE;
    delete key;
    return PF_ERROR_SUCCESS;
}

const char *pf_reg_key_path(const pf_reg_key *key)
{
    return key != nullptr ? key->path.c_str() : "";
}

uint32_t pf_reg_query_value(const pf_reg_key *key, const char *name, uint32_t *type_out, void *data,
                            uint32_t *size)
{
    if (key == nullptr)
        return PF_ERROR_INVALID_HANDLE;
    if (name == nullptr || (data != nullptr && size == nullptr))
        return PF_ERROR_INVALID_PARAMETER;
    reg_file file;
    uint32_t result = load(&file);
    if (result != PF_ERROR_SUCCESS)
        return result;
    if (!key_exists(file, key->path))
        return PF_ERROR_KEY_DELETED;
    long at = find_value(file, key->path, name);
    if (at < 0)
        return PF_ERROR_FILE_NOT_FOUND;
    const reg_line &line = file.lines[static_cast<size_t>(at)];
    if (type_out != nullptr)
        *type_out = line.type;
    uint8_t dword_bytes[4] = {static_cast<uint8_t>(line.dword), static_cast<uint8_t>(line.dword >> 8),
                              static_cast<uint8_t>(line.dword >> 16), static_cast<uint8_t>(line.dword >> 24)};
    const void *bytes = line.type == PF_REG_SZ ? static_cast<const void *>(line.string.c_str()) : dword_bytes;
    uint32_t needed = line.type == PF_REG_SZ ? static_cast<uint32_t>(line.string.size() + 1) : 4;
    if (size == nullptr)
        return PF_ERROR_SUCCESS;
    uint32_t room = *size;
    *size = needed;
    if (data == nullptr)
        return PF_ERROR_SUCCESS;
    if (room < needed)
        return PF_ERROR_MORE_DATA;
    memcpy(data, bytes, needed);
    return PF_ERROR_SUCCESS;
}

uint32_t pf_reg_query_string(const pf_reg_key *key, const char *name, char *buffer, uint32_t size)
{
    if (buffer == nullptr || size == 0)
        return PF_ERROR_INVALID_PARAMETER;
    buffer[0] = '\0';
    uint32_t type = 0;
    uint32_t needed = 0;
    uint32_t result = pf_reg_query_value(key, name, &type, nullptr, &needed);
    if (result != PF_ERROR_SUCCESS)
        return result;
    if (type != PF_REG_SZ)
        return PF_ERROR_UNSUPPORTED_TYPE;
    uint32_t room = size;
    result = pf_reg_query_value(key, name, &type, buffer, &room);
    if (result == PF_ERROR_SUCCESS && type != PF_REG_SZ)
        result = PF_ERROR_UNSUPPORTED_TYPE; // rewritten between the two reads
    if (result != PF_ERROR_SUCCESS)
        buffer[0] = '\0';
    return result;
}

uint32_t pf_reg_query_dword(const pf_reg_key *key, const char *name, uint32_t *value_out)
{
    if (value_out == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    uint8_t bytes[64];
    uint32_t type = 0;
    uint32_t size = sizeof bytes;
    uint32_t result = pf_reg_query_value(key, name, &type, bytes, &size);
    if (result == PF_ERROR_MORE_DATA || (result == PF_ERROR_SUCCESS && type != PF_REG_DWORD))
        return PF_ERROR_UNSUPPORTED_TYPE;
    if (result != PF_ERROR_SUCCESS)
        return result;
    *value_out = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                 static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return PF_ERROR_SUCCESS;
}

uint32_t pf_reg_set_string(const pf_reg_key *key, const char *name, const char *value)
{
    if (value == nullptr || strpbrk(value, "\r\n") != nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    reg_line line;
    line.type = PF_REG_SZ;
    line.string = value;
    return set_value(key, name, line);
}

uint32_t pf_reg_set_dword(const pf_reg_key *key, const char *name, uint32_t value)
{
    reg_line line;
    line.type = PF_REG_DWORD;
    line.dword = value;
    return set_value(key, name, line);
}

uint32_t pf_reg_delete_value(const pf_reg_key *key, const char *name)
{
    if (key == nullptr)
        return PF_ERROR_INVALID_HANDLE;
    if (name == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    const std::string path = key->path;
    const std::string value_name = name;
    return change(
        [&](reg_file *file, bool *changed)
        {
            if (!key_exists(*file, path))
                return static_cast<uint32_t>(PF_ERROR_KEY_DELETED);
            long at = find_value(*file, path, value_name);
            if (at < 0)
                return static_cast<uint32_t>(PF_ERROR_FILE_NOT_FOUND);
            file->lines.erase(file->lines.begin() + at);
            *changed = true;
            return static_cast<uint32_t>(PF_ERROR_SUCCESS);
        });
}

uint32_t pf_reg_enum_key(const pf_reg_key *key, uint32_t index, char *name, uint32_t *size)
{
    if (key == nullptr)
        return PF_ERROR_INVALID_HANDLE;
    if (name == nullptr || size == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    reg_file file;
    uint32_t result = load(&file);
    if (result != PF_ERROR_SUCCESS)
        return result;
    if (!key_exists(file, key->path))
        return PF_ERROR_KEY_DELETED;
    std::vector<std::string> children;
    size_t skip = key->path.empty() ? 0 : key->path.size() + 1;
    for (const reg_line &line : file.lines)
    {
        if (line.kind != line_kind::section || !path_under(line.path, key->path, false))
            continue;
        std::string child = line.path.substr(skip, line.path.find('\\', skip) - skip);
        bool known = false;
        for (const std::string &other : children)
            known = known || equal_ignoring_case(other, child);
        if (!known)
            children.push_back(child);
    }
    std::sort(children.begin(), children.end(),
              [](const std::string &a, const std::string &b) { return compare_ignoring_case(a, b) < 0; });
    if (index >= children.size())
        return PF_ERROR_NO_MORE_ITEMS;
    const std::string &child = children[index];
    uint32_t room = *size;
    *size = static_cast<uint32_t>(child.size());
    if (room < child.size() + 1)
        return PF_ERROR_MORE_DATA;
    memcpy(name, child.c_str(), child.size() + 1);
    return PF_ERROR_SUCCESS;
}

const char *pf_reg_problem()
{
    return t_problem;
}
