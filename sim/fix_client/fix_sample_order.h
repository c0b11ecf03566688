// The sample order of the FIX suites, benchmarks and the simulated client's program: a
// firm's day limit order for 50 of the December 2026 future of the invented "ZORAX",
// field by field as a member's order system spells it. Header-only, no engine headers.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "sim/fix_client/fix_client.h"

namespace qel_sim
{

// A UTCTimestamp ("YYYYMMDD-HH:MM:SS") of now, moved by shift_seconds.
inline std::string utc_timestamp(int64_t shift_seconds = 0)
{
    time_t now = time(nullptr) + static_cast<time_t>(shift_seconds);
    struct tm t;
    gmtime_r(&now, &t);
    char text[32];
    strftime(text, sizeof text, "%Y%m%d-%H:%M:%S", &t);
    return text;
}

// ClOrdID and TransactTime are the caller's.
inline fix_client_fields sample_new_order(const std::string &cl_ord_id, const std::string &transact_time)
{
    return {{11, cl_ord_id},     {21, "1"},  {55, "ZORAX"}, {48, "35001"}, {167, "FUT"},   {200, "202612"},
            {205, "31"},         {54, "1"},  {38, "50"},    {40, "2"},     {44, "100.25"}, {59, "0"},
            {60, transact_time}, {204, "1"}, {376, "0"},    {460, "7"}};
}

// The fields with changes: a change replaces the field of its tag, or is added when there
// is none; a change with an empty value removes the field.
inline fix_client_fields with_changes(fix_client_fields fields, const fix_client_fields &changes)
{
    for (const fix_client_field &change : changes)
    {
        bool found = false;
        for (size_t i = 0; i < fields.size(); ++i)
        {
            if (fields[i].tag != change.tag)
                continue;
            found = true;
            if (change.value.empty())
                fields.erase(fields.begin() + static_cast<long>(i));
            else
                fields[i].value = change.value;
            break;
        }
        if (!found && !change.value.empty())
            fields.push_back(change);
    }
    return fields;
}

} // namespace qel_sim
