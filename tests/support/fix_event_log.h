// The FIX engine's global event log as the suites read it: how often a line stands in it,
// and how many lines about connections without a Logon it accounts for, written or counted
// in the lines that say how many were left out. Header-only and C++14, for the FIX suites.
#pragma once

#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace qel_test
{

// The sum of the counts of the lines "Left out <n> lines about connections without a Logon
// from <address> (<how they ended>)"; with `from` given, of the lines that name that
// address alone.
inline unsigned long long fix_log_lines_left_out(const std::string &events, const std::string &from = "")
{
    const std::string before = " : Left out ";
    const std::string after = " lines about connections without a Logon from ";
    unsigned long long sum = 0;
    for (size_t at = events.find(before); at != std::string::npos; at = events.find(before, at + 1))
    {
        const size_t number = at + before.size();
        const size_t end = events.find(after, number);
        const size_t line_end = events.find('\n', number);
        if (end == std::string::npos || end > line_end)
            continue;
        const size_t address = end + after.size();
        if (!from.empty() && events.compare(address, from.size() + 2, from + " (") != 0)
            continue;
        sum += std::strtoull(events.substr(number, end - number).c_str(), nullptr, 10);
    }
    return sum;
}

// The count lines in the log, one per spell and second.
inline size_t fix_log_count_lines(const std::string &events)
{
    return count_of(events, " : Left out ");
}

// Lines about connections without a Logon, written or left out, where the connections only
// come and go: their acceptance and their drop past the bound or at the logon time-out.
inline unsigned long long fix_log_lines_without_logon(const std::string &events)
{
    return count_of(events, " : Accepted connection from ") +
           count_of(events, " connections without a Logon, the oldest from ") +
           count_of(events, " : No Logon from ") + fix_log_lines_left_out(events);
}

} // namespace qel_test
