// The main road with several workstations at once and with workstations that leave in
// the middle of an order. qel_ip runs as its own process; every order a trader sends is
// counted on the trader's side (confirmed, or rejected with a reason) and on the simulated
// host's side (the order entries it received per user), and the two must agree.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "main_road_fixture.h"

using qel_sim::trader;
using qel_sim::trader_order;
using qel_sim::trader_reply;
using qel_test::answered;
using qel_test::kTimeoutMs;
using qel_test::main_road;

namespace
{
uint32_t lines_with(const qel_sim::sim_box_host &box, const std::string &text)
{
    uint32_t count = 0;
    for (const std::string &line : box.lines())
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

// What one trader's orders came to.
struct tally
{
    uint32_t confirmed = 0;
    uint32_t rejected = 0; // answered with an order error carrying a reason
    uint32_t unanswered = 0;
    uint32_t other = 0;
};

tally trade(trader &person, uint32_t orders, const trader_order &shape)
{
    tally t;
    for (uint32_t i = 0; i < orders; ++i)
    {
        trader_order order = shape;
        trader_reply reply = person.enter(order, kTimeoutMs);
        if (!reply.arrived)
            ++t.unanswered;
        else if (reply.transcode == 2073 && reply.error_code == 0)
            ++t.confirmed;
        else if (reply.transcode == 2231 && reply.error_code != 0)
            ++t.rejected;
        else
            ++t.other;
    }
    return t;
}

// The gateway logged the user off at the host: its sign-off or its status query arrived.
bool host_saw_logoff(const qel_sim::sim_box_host &box, uint32_t user)
{
    std::string id = std::to_string(user);
    return qel_test::wait_until(
        [&]
        {
            return lines_with(box, "2320 sign-off user " + id) > 0 ||
                   lines_with(box, "23002 user status user " + id) > 0;
        },
        static_cast<int>(kTimeoutMs));
}
} // namespace

TEST(MainRoadLoad, EveryOrderOfSeveralWorkstationsComesBackOrIsRejectedWithAReason)
{
    struct desk
    {
        uint32_t user;
        int16_t side; // 3 is no side at all: the exchange refuses it with a reason
        bool refused;
    };
    const desk desks[] = {{5001, 1, false}, {5002, 2, false}, {5003, 1, false}, {5004, 3, true}};
    const uint32_t orders = 12;
    const size_t count = sizeof desks / sizeof desks[0];

    main_road road;
    std::vector<std::unique_ptr<qel_sim::workstation_client>> clients;
    std::vector<std::unique_ptr<trader>> traders;
    for (const desk &d : desks)
    {
        clients.emplace_back(new qel_sim::workstation_client());
        road.connect(*clients.back());
        traders.emplace_back(new trader(*clients.back(), d.user));
        ASSERT_TRUE(answered(traders.back()->sign_on(kTimeoutMs), 2301));
        ASSERT_TRUE(answered(traders.back()->system_information(kTimeoutMs), 1601));
    }

    // All trade at once, each on its own thread and connection.
    std::vector<tally> tallies(count);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i)
    {
        threads.emplace_back(
            [&, i]
            {
                trader_order shape;
                shape.side = desks[i].side;
                tallies[i] = trade(*traders[i], orders, shape);
            });
    }
    for (std::thread &t : threads)
        t.join();

    uint32_t confirmed = 0;
    for (size_t i = 0; i < count; ++i)
    {
        SCOPED_TRACE("user " + std::to_string(desks[i].user));
        const tally &t = tallies[i];
        EXPECT_EQ(t.unanswered, 0u) << "orders lost";
        EXPECT_EQ(t.other, 0u) << "orders answered with something else";
        EXPECT_EQ(t.confirmed + t.rejected, orders);
        EXPECT_EQ(t.rejected, desks[i].refused ? orders : 0u);
        confirmed += t.confirmed;
        // The host received each order once and answered it as the trader saw it.
        std::string id = std::to_string(desks[i].user);
        EXPECT_EQ(lines_with(*road.box, "20000 order entry user " + id + ":"), orders);
        EXPECT_EQ(lines_with(*road.box, "20000 order entry user " + id + ": refused with"), t.rejected);
        EXPECT_TRUE(clients[i]->check_failures().empty());
    }
    EXPECT_EQ(road.box->orders().size(), confirmed) << "the book holds every confirmed order";
    EXPECT_TRUE(road.box->session_faults().empty());
    EXPECT_TRUE(road.host->errors().empty());

    for (std::unique_ptr<trader> &t : traders)
        EXPECT_TRUE(t->sign_off(kTimeoutMs).arrived);
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}

// A workstation that leaves in the middle of an order: the gateway logs its user off, the
// other workstations keep trading, the user can sign on again, and the gateway still ends
// cleanly (under the sanitizers: nothing leaked).
TEST(MainRoadLoad, AWorkstationThatLeavesMidOrderIsLoggedOffAndTheOthersKeepTrading)
{
    enum class leaving
    {
        half_frame_then_reset,
        clean_close_after_order,
    };
    for (leaving how : {leaving::half_frame_then_reset, leaving::clean_close_after_order})
    {
        bool reset = how == leaving::half_frame_then_reset;
        SCOPED_TRACE(reset ? "half a frame, then a reset" : "a clean close right after an order");
        const uint32_t leaver = 6001, stayer_a = 6002, stayer_b = 6003;

        main_road road;
        qel_sim::workstation_client gone, a_client, b_client;
        road.connect(gone);
        road.connect(a_client);
        road.connect(b_client);
        trader leaving_trader(gone, leaver), a(a_client, stayer_a), b(b_client, stayer_b);
        for (trader *t : {&leaving_trader, &a, &b})
        {
            ASSERT_TRUE(answered(t->sign_on(kTimeoutMs), 2301));
            ASSERT_TRUE(answered(t->system_information(kTimeoutMs), 1601));
        }
        EXPECT_EQ(trade(a, 2, trader_order()).confirmed, 2u);
        EXPECT_EQ(trade(b, 2, trader_order()).confirmed, 2u);

        trader_order order;
        std::vector<uint8_t> entry = leaving_trader.order_record(2000, order);
        ASSERT_TRUE(gone.send_record(entry, kTimeoutMs));
        if (reset)
        {
            // The confirmation of the whole order is left unread, so closing resets the
            // connection; the half frame of a second order goes before it.
            ASSERT_TRUE(
                road.box->wait_for_line("20000 order entry user " + std::to_string(leaver), kTimeoutMs));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            gone.reset_mid_frame(entry, (qel_sim::WS_HEADER_SIZE + qel_sim::ORDER_RECORD_SIZE) / 2);
        }
        else
        {
            gone.close();
        }

        EXPECT_TRUE(host_saw_logoff(*road.box, leaver)) << "the gateway did not log the user off";

        // The others trade on while and after the user is logged off.
        tally a_tally = trade(a, 3, trader_order());
        tally b_tally = trade(b, 3, trader_order());
        EXPECT_EQ(a_tally.confirmed, 3u);
        EXPECT_EQ(b_tally.confirmed, 3u);
        EXPECT_EQ(lines_with(*road.box, "20000 order entry user " + std::to_string(stayer_a) + ":"), 5u);
        EXPECT_EQ(lines_with(*road.box, "20000 order entry user " + std::to_string(stayer_b) + ":"), 5u);
        // Half a frame never became an order; the whole one reached the host once.
        EXPECT_EQ(lines_with(*road.box, "20000 order entry user " + std::to_string(leaver) + ":"), 1u);
        EXPECT_TRUE(a_client.check_failures().empty());
        EXPECT_TRUE(b_client.check_failures().empty());

        // The leaver's session was freed: the user signs on again from a new workstation.
        qel_sim::workstation_client back;
        road.connect(back);
        trader returning(back, leaver);
        trader_reply again = returning.sign_on(kTimeoutMs);
        EXPECT_TRUE(answered(again, 2301)) << qel_sim::trader_reply_text(again);
        EXPECT_TRUE(answered(returning.system_information(kTimeoutMs), 1601));
        EXPECT_EQ(trade(returning, 1, trader_order()).confirmed, 1u);
        EXPECT_TRUE(back.check_failures().empty());
        EXPECT_TRUE(road.box->session_faults().empty());

        for (trader *t : {&a, &b, &returning})
            EXPECT_TRUE(t->sign_off(kTimeoutMs).arrived);
        qel_test::process_result result = road.stop();
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, 0);
    }
}
