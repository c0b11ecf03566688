// What a running gateway has written to its log folder, as the attack suites measure it: the
// day's console events and the size of every file, so that a suite can say how many events
// and bytes an attack added while it lasted.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qel_test
{

struct console_event
{
    uint16_t reason;
    int32_t extra;
    uint32_t user; // 0 or 0xFFFFFFFF (the gateway's own) for a connection no user signed on
};

// The day's console events in `logs/kova_event_log.dat` (42-byte events after the 2-byte
// day; user id at 32, reason at 36 and extra info at 38, little-endian).
inline std::vector<console_event> day_console_events(const temp_dir &dir)
{
    const std::string file = read_file(dir.file("logs/kova_event_log.dat"));
    std::vector<console_event> events;
    auto u32 = [](const uint8_t *at)
    {
        return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
               (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
    };
    for (size_t at = 2; at + 42 <= file.size(); at += 42)
    {
        const uint8_t *e = reinterpret_cast<const uint8_t *>(file.data() + at);
        events.push_back(
            {static_cast<uint16_t>(e[36] | (e[37] << 8)), static_cast<int32_t>(u32(e + 38)), u32(e + 32)});
    }
    return events;
}

// Whether the event is about a connection on which no user signed on.
inline bool about_unsigned_connection(const console_event &e)
{
    return e.user == 0 || e.user == 0xFFFFFFFFu;
}

// The size of every file in the folder `logs`.
inline std::map<std::string, long> log_folder_sizes(const temp_dir &dir)
{
    std::map<std::string, long> sizes;
    for (const std::string &name : dir.list("logs"))
    {
        struct stat st;
        if (stat(dir.file("logs/" + name).c_str(), &st) == 0)
            sizes[name] = static_cast<long>(st.st_size);
    }
    return sizes;
}

// What the log folder grew by, in all and (for a report) file by file.
inline long log_folder_growth(const std::map<std::string, long> &before,
                              const std::map<std::string, long> &after, std::string *by_file)
{
    long sum = 0;
    for (const auto &entry : after)
    {
        auto old = before.find(entry.first);
        const long grown = entry.second - (old == before.end() ? 0 : old->second);
        sum += grown;
        if (grown > 0)
            *by_file += " " + entry.first + " " + std::to_string(grown);
    }
    return sum;
}

} // namespace qel_test
