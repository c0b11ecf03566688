// The main road end to end: qel_ip runs as its own process with a full configuration on
// free loopback ports; the simulated exchange host and the traders' workstations run in
// the test. Orders go from a workstation through the gateway to the host and their
// answers come back to the workstation that sent them.
#include "main_road_fixture.h"

using qel_sim::trader;
using qel_sim::trader_order;
using qel_sim::trader_reply;
using qel_test::answered;
using qel_test::kTimeoutMs;
using qel_test::main_road;

TEST(MainRoad, WorkstationTradesThroughTheGatewayAndSignsOff)
{
    main_road road;
    qel_sim::workstation_client client;
    road.connect(client);
    trader alice(client, 1001);

    EXPECT_TRUE(answered(alice.sign_on(kTimeoutMs), 2301));
    EXPECT_TRUE(answered(alice.system_information(kTimeoutMs), 1601));

    trader_order buy, sell;
    sell.side = 2;
    sell.volume = 120;
    sell.price = 1851000;
    trader_reply entered = alice.enter(buy, kTimeoutMs);
    ASSERT_TRUE(answered(entered, 2073));
    EXPECT_EQ(entered.record.size(), qel_sim::ORDER_RECORD_SIZE);
    ASSERT_TRUE(answered(alice.enter(sell, kTimeoutMs), 2073));
    EXPECT_NE(buy.order_number, sell.order_number);

    EXPECT_TRUE(answered(alice.modify(buy, 80, 1850500, kTimeoutMs), 2074));
    EXPECT_TRUE(answered(alice.cancel(sell, kTimeoutMs), 2075));
    EXPECT_TRUE(alice.sign_off(kTimeoutMs).arrived);
    EXPECT_TRUE(client.check_failures().empty());

    // The host saw the orders in their trimmed forms, once each.
    std::vector<qel_sim::sim_order> book = road.box->orders();
    ASSERT_EQ(book.size(), 1u) << "the cancelled order left the book";
    EXPECT_EQ(book[0].volume, 80u);
    EXPECT_EQ(book[0].price, 1850500);
    EXPECT_TRUE(road.box->wait_for_line("20000 order entry user 1001", 1000));
    EXPECT_TRUE(road.box->wait_for_line("20040 modification user 1001", 1000));
    EXPECT_TRUE(road.box->wait_for_line("20070 cancellation user 1001", 1000));
    EXPECT_TRUE(road.box->session_faults().empty());

    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}

TEST(MainRoad, CompressedRepliesAndTradesReachTheirUser)
{
    qel_sim::exchange_options exchange;
    exchange.fill_on_entry = true;
    qel_sim::box_faults faults;
    faults.compress_replies = true;
    main_road road(exchange, faults);

    qel_sim::workstation_client client;
    road.connect(client);
    trader bob(client, 2002);
    ASSERT_TRUE(answered(bob.sign_on(kTimeoutMs), 2301));
    ASSERT_TRUE(answered(bob.system_information(kTimeoutMs), 1601));
    trader_order order;
    ASSERT_TRUE(answered(bob.enter(order, kTimeoutMs), 2073));

    // The fill arrives unsolicited as the full trade record.
    qel_sim::workstation_frame frame;
    bool traded = false;
    for (const qel_sim::workstation_frame &kept : client.received())
        traded = traded || qel_sim::workstation_record_transcode(kept.record) == 2222;
    if (!traded)
        traded = client.wait_for_transcode(2222, &frame, kTimeoutMs);
    EXPECT_TRUE(traded);
    EXPECT_TRUE(client.check_failures().empty());
}

TEST(MainRoad, RepliesNeverCrossBetweenWorkstations)
{
    main_road road;
    qel_sim::workstation_client first_client, second_client;
    road.connect(first_client);
    road.connect(second_client);
    trader first(first_client, 3001), second(second_client, 3002);
    ASSERT_TRUE(answered(first.sign_on(kTimeoutMs), 2301));
    ASSERT_TRUE(answered(second.sign_on(kTimeoutMs), 2301));
    ASSERT_TRUE(answered(first.system_information(kTimeoutMs), 1601));
    ASSERT_TRUE(answered(second.system_information(kTimeoutMs), 1601));

    for (int i = 0; i < 5; ++i)
    {
        trader_order a, b;
        trader_reply to_first = first.enter(a, kTimeoutMs);
        trader_reply to_second = second.enter(b, kTimeoutMs);
        ASSERT_TRUE(answered(to_first, 2073));
        ASSERT_TRUE(answered(to_second, 2073));
    }
    auto user_of = [](const std::vector<uint8_t> &r)
    { return static_cast<uint32_t>(r[0] << 24 | r[1] << 16 | r[2] << 8 | r[3]); };
    for (const qel_sim::workstation_frame &frame : first_client.received())
        EXPECT_EQ(user_of(frame.record), 3001u) << "a record of another user reached the first workstation";
    for (const qel_sim::workstation_frame &frame : second_client.received())
        EXPECT_EQ(user_of(frame.record), 3002u) << "a record of another user reached the second workstation";
    EXPECT_TRUE(first_client.check_failures().empty());
    EXPECT_TRUE(second_client.check_failures().empty());
}

TEST(MainRoad, RefusedSignOnGetsTheExchangesErrorAndTheSessionCloses)
{
    qel_sim::exchange_options exchange;
    exchange.accept_unknown_users = false;
    exchange.users.push_back({4001, "SECRET", 0});
    main_road road(exchange);

    qel_sim::workstation_client client;
    road.connect(client);
    trader stranger(client, 4999);
    trader_reply refused = stranger.sign_on(kTimeoutMs);
    ASSERT_TRUE(refused.arrived);
    EXPECT_EQ(refused.transcode, 2301);
    EXPECT_EQ(refused.error_code, 16042);
    EXPECT_TRUE(client.wait_for_close(kTimeoutMs));

    qel_sim::workstation_client second;
    road.connect(second);
    trader known(second, 4001, "SECRET");
    EXPECT_TRUE(answered(known.sign_on(kTimeoutMs), 2301));
}
