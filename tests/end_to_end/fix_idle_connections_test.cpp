// Connections to the FIX port that never log on, against the running gateway: hundreds
// that send nothing and some that send half a Logon and then nothing. The oldest past the
// engine's bound are cut at once, the rest when the logon time-out (10 s, the gateway's
// FIX settings name none) is over, each with its line in the engine's log, while a FIX
// client logs on and trades beside them; the gateway then stops as usual.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/hostile/hostile_peers.h"
#include "support/fix_road.h"

// The engine's session keeps its logon flag and send and receive times without a lock:
// the timer of its own thread reads them while an application thread sends. That is the
// engine's; this suite's ThreadSanitizer runs leave it out.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:FIX::SessionState::\n";
}

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const size_t kSilent = 900;
const size_t kHalfMessage = 50;
const char kSoh = '\x01';

std::string local_date()
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char date[16];
    strftime(date, sizeof date, "%Y%m%d", &local);
    return date;
}

size_t occurrences(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}
} // namespace

TEST(FixIdleConnections, ConnectionsWithoutALogonAreCutWhileAClientTrades)
{
    qel_test::fix_road road({kFixUser});
    ASSERT_TRUE(road.listening);

    std::vector<std::unique_ptr<qel_sim::raw_peer>> idle;
    for (size_t i = 0; i < kSilent + kHalfMessage; ++i)
    {
        std::unique_ptr<qel_sim::raw_peer> peer(new qel_sim::raw_peer);
        ASSERT_TRUE(peer->connect(road.fix_port)) << "connection " << i;
        idle.push_back(std::move(peer));
    }
    // The last ones send the start of a Logon, which never ends.
    const std::string half = std::string("8=FIX.4.2") + kSoh + "9=80" + kSoh + "35=A" + kSoh + "49=1001,MEM";
    for (size_t i = kSilent; i < idle.size(); ++i)
        EXPECT_TRUE(idle[i]->send_all(half, kTimeoutMs)) << "connection " << i;

    // A client logs on and trades while they are held.
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    const uint32_t kOrders = 5;
    for (uint32_t id = 1; id <= kOrders; ++id)
    {
        ASSERT_TRUE(fix->send_new_order_single(
            qel_sim::sample_new_order(std::to_string(id), qel_sim::utc_timestamp())));
        EXPECT_TRUE(fix->wait_for_messages("8", id, kTimeoutMs)) << "FIX order " << id;
    }

    // Every connection without a Logon is closed: the oldest by the bound, the rest by the
    // time-out.
    // One deadline for all, well past the time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    size_t closed = 0;
    for (size_t i = 0; i < idle.size(); ++i)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        closed += idle[i]->wait_closed(left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0) ? 1 : 0;
    }
    EXPECT_EQ(idle.size(), closed);
    const std::string events =
        qel_test::read_file(road.dir.file("logs/GLOBAL.event." + local_date() + ".log"));
    const size_t by_bound =
        occurrences(events, "More than 128 connections without a Logon, the oldest from 127.0.0.1 dropped");
    const size_t by_time_out =
        occurrences(events, "No Logon from 127.0.0.1 within 10 seconds, connection dropped");
    EXPECT_GE(by_bound, idle.size() - 128);
    EXPECT_EQ(by_bound + by_time_out, idle.size());

    // The client traded on, undisturbed, and still does.
    EXPECT_EQ(fix->state(), qel_sim::fix_client_state::ready);
    ASSERT_TRUE(fix->send_new_order_single(
        qel_sim::sample_new_order(std::to_string(kOrders + 1), qel_sim::utc_timestamp())));
    EXPECT_TRUE(fix->wait_for_messages("8", kOrders + 1, kTimeoutMs));

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}
