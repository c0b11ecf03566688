// A trader at a workstation of a running gateway, as the end-to-end suites and benchmarks
// bring one in: connected once the gateway listens, signed on and told the system
// information, each answer read whole (its transcode and no error); then trading at a
// steady pace beside whatever the test measures.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/workstation/trader.h"
#include "support/test_support.h"

namespace qel_test
{

inline bool answered(const qel_sim::trader_reply &reply, int16_t transcode)
{
    return reply.arrived && reply.transcode == transcode && reply.error_code == 0;
}

// Connects the trader's client to the workstation port (waiting up to 10 s while the
// gateway starts), signs the trader on and asks for the system information: false at the
// first step that fails.
inline bool sign_on_at_workstation(qel_sim::workstation_client &client, qel_sim::trader &trader,
                                   uint16_t port, uint32_t timeout_ms)
{
    return wait_until([&] { return client.connect("127.0.0.1", port); }, 10000) &&
           answered(trader.sign_on(timeout_ms), 2301) &&
           answered(trader.system_information(timeout_ms), 1601);
}

// One order of a trader who trades at a steady pace (paced_requests): the sample order,
// then its answer within timeout_ms.
inline std::function<bool(uint32_t)> paced_trader_order(qel_sim::trader &t, uint32_t timeout_ms)
{
    return [&t, timeout_ms](uint32_t)
    {
        qel_sim::trader_order order;
        return t.enter(order, timeout_ms).arrived;
    };
}

} // namespace qel_test
