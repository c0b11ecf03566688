// The finder fills a caller's array and says only whether it filled up, so a search that
// fills it is asked again with a larger one.
#include "tools/statistics/qel_stats_search.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/ea_file.h"

namespace
{
const uint32_t k_first_room = 16;
const uint32_t k_most_room = 1u << 16;
} // namespace

ea_status qel_stats_find_files(const std::string &pattern, std::vector<std::string> *names)
{
    names->clear();
    for (uint32_t room = k_first_room; room <= k_most_room; room *= 2)
    {
        std::unique_ptr<char[][EA_MAX_FILE_NAME]> buffers(new (std::nothrow) char[room][EA_MAX_FILE_NAME]);
        if (!buffers)
            return EA_ERROR;
        uint32_t found = room;
        ea_status status = ea_find_files(pattern.c_str(), buffers.get(), &found);
        if (status == EA_ERROR)
            return EA_ERROR;
        if (status == EA_VALID && room < k_most_room)
            continue;
        for (uint32_t i = 0; i < found; ++i)
            names->push_back(buffers[i]);
        return EA_SUCCESS;
    }
    return EA_ERROR;
}

std::string qel_stats_pattern_literal(const char *text)
{
    std::string literal;
    for (const char *p = text; *p != '\0'; ++p)
    {
        if (strchr("*?[]\\", *p) != nullptr)
            literal.push_back('\\');
        literal.push_back(*p);
    }
    return literal;
}
