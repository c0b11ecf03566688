// File search, string and byte-order helpers of the gateway's library.
//
// The file search serves the log sweeper and the message-store file list: both hand in a
// shell pattern and want the matching files in a stable (name) order.
#include "common/ea_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/pf_file.h"

ea_status ea_find_files(const char *pattern, char names[][EA_MAX_FILE_NAME], uint32_t *count)
{
    if (pattern == nullptr || count == nullptr || (names == nullptr && *count > 0))
    {
        if (count != nullptr)
        {
            *count = 0;
        }
        return EA_ERROR;
    }

    const uint32_t room = *count;
    *count = 0;

    std::vector<std::string> matches;
    if (pf_file_find(pattern, &matches) != 0)
    {
        return EA_ERROR;
    }

    // Sorted by bytes rather than by glob's locale collation, so the order does not depend
    // on the environment the gateway runs in.
    std::sort(matches.begin(), matches.end(),
              [](const std::string &a, const std::string &b)
              { return std::strcmp(a.c_str(), b.c_str()) < 0; });

    // A filled array gives 203 even when no match is left over: the caller cannot tell.
    ea_status status = (room == 0 && !matches.empty()) ? EA_VALID : EA_SUCCESS;
    for (const std::string &match : matches)
    {
        if (*count == room)
        {
            break;
        }
        const size_t length = match.size();
        if (length >= EA_MAX_FILE_NAME)
        {
            // A cut path would name another (or no) file; report a failure instead.
            status = EA_ERROR;
            break;
        }
        std::memcpy(names[*count], match.c_str(), length + 1);
        ++*count;
        if (*count == room)
        {
            status = EA_VALID;
        }
    }
    return status;
}

char *ea_strupr(char *text)
{
    if (text == nullptr)
    {
        return nullptr;
    }
    for (char *p = text; *p != '\0'; ++p)
    {
        *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    return text;
}

const char *ea_get_file_name(const char *path)
{
    if (path == nullptr)
    {
        return nullptr;
    }
    const char *name = path;
    for (const char *p = path; *p != '\0'; ++p)
    {
        if (*p == '/' || *p == '\\')
        {
            name = p + 1;
        }
    }
    return name;
}

void ea_reverse_bytes(void *buffer, size_t n)
{
    if (buffer == nullptr || n < 2)
    {
        return;
    }
    uint8_t *bytes = static_cast<uint8_t *>(buffer);
    std::reverse(bytes, bytes + n);
}

double ea_swap_double(uint32_t low_word, uint32_t high_word)
{
    // The two words hold the eight bytes as they lay in memory; reversing all eight turns
    // network order into this (little-endian) host's order and back.
    uint8_t bytes[8];
    std::memcpy(bytes, &low_word, 4);
    std::memcpy(bytes + 4, &high_word, 4);
    ea_reverse_bytes(bytes, sizeof bytes);
    double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
