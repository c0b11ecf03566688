// What a console on the realtime port hears of the gateway's log writes: 13004 as a log
// file's writes begin to fail or the file is found without its name (the extra info is the
// error number), 13005 as it is written again (the lines lost). For the suites that fill or
// remove the log folder of a running gateway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/console/console_client.h"

namespace qel_test
{

const uint16_t k_log_writes_failing = 13004;
const uint16_t k_log_writes_resumed = 13005;

struct log_write_heard
{
    uint16_t reason;
    uint32_t extra;
    uint32_t user; // the gateway's own events carry 0xFFFFFFFF
};

// Reads what the console has been sent, waiting up to timeout_ms for the first packet only,
// and adds the log write events among it to *heard.
inline void hear_log_writes(sim_console::console_client &console, int timeout_ms,
                            std::vector<log_write_heard> *heard)
{
    sim_console::packet p;
    while (console.receive(&p, timeout_ms) == sim_console::receive_result::packet)
    {
        timeout_ms = 0;
        if (p.transcode() != sim_console::TC_KOVA_LOG_MESSAGE)
            continue;
        const sim_console::log_event event = sim_console::decode_log_event(p);
        if (event.reason_code == k_log_writes_failing || event.reason_code == k_log_writes_resumed)
            heard->push_back({event.reason_code, event.extra_info, event.user_id});
    }
}

inline size_t count_of_reason(const std::vector<log_write_heard> &heard, uint16_t reason)
{
    size_t n = 0;
    for (const log_write_heard &e : heard)
        n += e.reason == reason ? 1 : 0;
    return n;
}

} // namespace qel_test
