// What FIX clients of the end-to-end suites received: the live messages of a type, and
// the n-th of them waited for. The test fails with the whole list when it does not come.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "support/test_support.h"

namespace qel_test
{

// The messages of a type a client received, live ones only (no journal replay).
inline std::vector<qel_sim::fix_client_message> fix_live_messages(const qel_sim::fix_client &c,
                                                                  const std::string &type)
{
    std::vector<qel_sim::fix_client_message> out;
    for (const qel_sim::fix_client_message &m : c.received())
        if (m.type == type && !m.poss_resend)
            out.push_back(m);
    return out;
}

// Waits for the n-th (1-based) live message of the type and returns its text; empty (and
// a test failure listing what did arrive) on time-out.
inline std::string fix_nth_message(const qel_sim::fix_client &c, const std::string &type, size_t n,
                                   uint32_t timeout_ms)
{
    bool arrived = qel_test::wait_until([&] { return fix_live_messages(c, type).size() >= n; },
                                        static_cast<int>(timeout_ms));
    if (!arrived)
    {
        std::string seen;
        for (const qel_sim::fix_client_message &m : c.received())
            seen += "\n  " + m.text;
        ADD_FAILURE() << "no " << n << ". message of type " << type << "; received:" << seen;
        return "";
    }
    return fix_live_messages(c, type)[n - 1].text;
}

} // namespace qel_test
