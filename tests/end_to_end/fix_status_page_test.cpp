// The FIX engine's status page of the running gateway (HttpAcceptPort), beside connections
// that send nothing: an operator's request is answered while they still wait for the end of
// their own time (the page served one connection after the other, two seconds each, and
// twenty of them kept the request waiting forty), and each of them then gets its 408; and
// beside one silent connection from each of many addresses, each connecting again when it
// is dropped, the operator's request from its own address is answered every time (past the
// page's bound, a tie between addresses cost the address that sorted first, the
// operator's).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/hostile/hostile_peers.h"
#include "support/fix_road.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const size_t kSilent = 20;

std::string status_line(const std::string &answer)
{
    return answer.substr(0, answer.find("\r\n"));
}
} // namespace

TEST(FixStatusPage, ARequestBesideTwentySilentConnectionsIsAnsweredWhileTheyWait)
{
    qel_test::gateway_config ports;
    const uint16_t http_port = ports.reserve_port();
    qel_test::fix_road road({kFixUser}, qel_sim::box_options(), qel_sim::exchange_options(), {},
                            "HttpAcceptPort=" + std::to_string(http_port) + "\n");
    ASSERT_TRUE(road.listening);
    ASSERT_TRUE(qel_test::wait_until([&] { return qel_test::fix_port_open(http_port); }, 10000));

    std::vector<std::unique_ptr<qel_sim::raw_peer>> silent;
    for (size_t i = 0; i < kSilent; ++i)
    {
        silent.emplace_back(new qel_sim::raw_peer);
        ASSERT_TRUE(silent.back()->connect(http_port, "127.0.0.3")) << "connection " << i;
    }
    // The operator, from an address of its own.
    const auto asked = std::chrono::steady_clock::now();
    qel_sim::raw_peer page;
    ASSERT_TRUE(page.connect(http_port, "127.0.0.2"));
    ASSERT_TRUE(page.send_all("GET / HTTP/1.0\r\n\r\n", kTimeoutMs));
    ASSERT_TRUE(page.wait_closed(60000));
    const double waited_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count();
    size_t answered_first = 0;
    for (auto &peer : silent)
        answered_first += peer->closed_by_peer() ? 1 : 0;
    std::printf("the page beside %zu silent connections: answered in %.0f ms, %zu of them answered first\n",
                kSilent, waited_ms, answered_first);
    EXPECT_EQ("HTTP/1.1 200 OK", status_line(page.received()));
    EXPECT_LT(answered_first, kSilent / 2);

    for (size_t i = 0; i < silent.size(); ++i)
    {
        if (!silent[i]->connected())
            continue;
        EXPECT_TRUE(silent[i]->wait_closed(kTimeoutMs)) << "connection " << i;
        EXPECT_EQ("HTTP/1.1 408 Request Timeout", status_line(silent[i]->received())) << "connection " << i;
    }

    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

TEST(FixStatusPage, TheOperatorIsAnsweredBesideSilentConnectionsFromEveryAddress)
{
    const uint32_t kCrowds[] = {64, 2000};
    const int kRequests = 5;
    rlimit limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    const rlim_t wanted = 4096;
    if (limit.rlim_cur < wanted && limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        GTEST_SKIP() << "the hard limit of descriptors is " << limit.rlim_max;
    const rlimit before = limit;
    if (limit.rlim_cur < wanted)
    {
        limit.rlim_cur = wanted;
        ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    }

    qel_test::gateway_config ports;
    const uint16_t http_port = ports.reserve_port();
    qel_test::fix_road road({kFixUser}, qel_sim::box_options(), qel_sim::exchange_options(), {},
                            "HttpAcceptPort=" + std::to_string(http_port) + "\n");
    ASSERT_TRUE(road.listening);
    ASSERT_TRUE(qel_test::wait_until([&] { return qel_test::fix_port_open(http_port); }, 10000));

    for (uint32_t crowd : kCrowds)
    {
        SCOPED_TRACE(std::to_string(crowd) + " addresses");
        qel_sim::slot_holding how;
        how.addresses = qel_sim::attacker_addresses(crowd);
        how.silent = true;
        qel_sim::reconnecting_slot_holders holders;
        holders.start(http_port, crowd, how);
        // Every address holds its connection, and they have begun to come again.
        ASSERT_TRUE(qel_test::wait_until([&] { return holders.reconnects() >= crowd; }, 30000));

        int answered = 0;
        const uint32_t reconnects_before = holders.reconnects();
        for (int i = 0; i < kRequests; ++i)
        {
            qel_sim::raw_peer page;
            ASSERT_TRUE(page.connect(http_port, "127.0.0.2")) << "request " << i;
            ASSERT_TRUE(page.send_all("GET / HTTP/1.0\r\n\r\n", kTimeoutMs)) << "request " << i;
            const bool closed = page.wait_closed(30000);
            const std::string &text = page.received();
            const bool whole = closed && qel_test::count_of(text, "HTTP/1.") == 1 &&
                               status_line(text) == "HTTP/1.1 200 OK" && text.size() >= 7 &&
                               text.compare(text.size() - 7, 7, "</HTML>") == 0;
            answered += whole ? 1 : 0;
            EXPECT_TRUE(whole) << "request " << i << ": " << text.substr(0, 200);
        }
        const uint32_t reconnects = holders.reconnects() - reconnects_before;
        holders.stop();
        std::printf("the page beside %u addresses reconnecting: %d of %d requests answered, %u reconnects "
                    "meanwhile\n",
                    crowd, answered, kRequests, reconnects);
        // The crowd was dropped and came again meanwhile: the bound was in play.
        EXPECT_GT(reconnects, 0u);
    }

    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    setrlimit(RLIMIT_NOFILE, &before);
}
