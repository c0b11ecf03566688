// The simulated host's own record encoding against golden bytes written from the record
// layouts: box answers, user replies in the exchange's header order, short order replies
// and trades, the gateway's records read back, and compressed packet entries.
#include <gtest/gtest.h>
#include <lzo/lzo1z.h>

#include "sim/host/sim_host_encoding.h"
#include "tests/sim/sim_host_peer.h"

using sim_host_test::ascii;
using sim_host_test::from_hex;
using sim_host_test::layout;

TEST(SimHostEncoding, BoxAnswersHaveTheirFieldsAtTheirPlaces)
{
    struct row
    {
        const char *name;
        qel_sim::bytes actual;
        qel_sim::bytes expected;
    } rows[] = {
        {"sign-on response, recovery", qel_sim::encode_box_sign_on_response(101, 0, true),
         layout(38, {{0, "59d9 0065 0000"}, {14, "45"}})},
        {"sign-on response, refused", qel_sim::encode_box_sign_on_response(0x1234, 16500, false),
         layout(38, {{0, "59d9 1234 4074"}, {14, "44"}})},
        {"box parameters", qel_sim::encode_box_parameters(100, 10, 101),
         layout(38, {{0, "59df 0064 000a 0065"}})},
        {"relogon response", qel_sim::encode_box_relogon_response(101, 0, 100),
         layout(38, {{0, "5bcf 0065 0000"}, {18, "0064"}})},
        {"box sign-off", qel_sim::encode_box_sign_off(101, 7), layout(38, {{0, "4f62 0065"}, {8, "0007"}})},
        {"rate update", qel_sim::encode_rate_update(50), from_hex("5bd0 0032")},
        {"rate update 0", qel_sim::encode_rate_update(0), from_hex("5bd0 0000")},
        {"host heart beat", qel_sim::encode_host_heart_beat(), from_hex("59de")},
        {"acknowledgement", qel_sim::encode_acknowledgement(7), from_hex("61ab 0007")},
    };
    for (const row &r : rows)
        EXPECT_EQ(r.actual, r.expected) << r.name;
}

TEST(SimHostEncoding, UserRepliesUseTheExchangeHeaderOrder)
{
    qel_sim::bytes sign_on = qel_sim::encode_user_sign_on_response(0x01020304, 16053, "Invalid password.");
    qel_sim::bytes expected = layout(214, {{0, "08fd 00000000 2020 01020304 3eb5"},
                                           {38, "00d6 01020304 20202020202020202020"},
                                           {54, ascii("Invalid password.")}});
    EXPECT_EQ(sign_on, expected);

    // Login count 3 in the low half of the first time field; two streams; market open.
    EXPECT_EQ(qel_sim::encode_system_information_out(1001, 0, 3, 2),
              layout(48, {{0, "0641 00000000 0220 000003e9 0000 0000000000000003"}, {38, "0030 0001"}}));
    EXPECT_EQ(qel_sim::encode_user_sign_off_response(1001, 0),
              layout(40, {{0, "0911 00000000 2020 000003e9"}, {38, "0028"}}));

    // The status query as the gateway's header reorder leaves it: box id and time stamp
    // at 2 to 7, 'A' at 14; the reply echoes them and gives the state at 14.
    qel_sim::bytes query = layout(40, {{0, "59da 0065 0001 e240 000003e9 0000 41"}, {38, "0028"}}, ' ');
    qel_sim::bytes inactive = query;
    inactive[1] = 0xdb;
    inactive[14] = 'I';
    EXPECT_EQ(qel_sim::encode_user_status_reply(query, false), inactive);
    EXPECT_EQ(qel_sim::encode_user_status_reply(query, true)[14], 'A');
}

TEST(SimHostEncoding, ReadsTheGatewaysBoxRequestsAndOrders)
{
    qel_sim::box_request request;
    ASSERT_TRUE(qel_sim::decode_box_request(sim_host_test::box_relogon(101, "123", 9, 4), &request));
    EXPECT_EQ(request.transcode, 23502);
    EXPECT_EQ(request.box_id, 101);
    EXPECT_EQ(request.broker_id, "123  ");
    EXPECT_EQ(request.version, 41402u);
    EXPECT_EQ(request.address, "127.0.0.1         ");
    EXPECT_EQ(request.least_sent, 9);
    EXPECT_EQ(request.last_received, 4);
    EXPECT_FALSE(qel_sim::decode_box_request(from_hex("59d8 0065"), &request));

    qel_sim::sim_order order;
    ASSERT_TRUE(qel_sim::decode_short_entry(sim_host_test::order_entry(1001, 2, 75, 123456, 77), &order));
    EXPECT_EQ(order.user_id, 1001u);
    EXPECT_EQ(order.token, 4711u);
    EXPECT_EQ(order.kinds, "FUTIDX");
    EXPECT_EQ(order.symbol, "ZORAX     ");
    EXPECT_EQ(order.side, 2);
    EXPECT_EQ(order.volume, 75u);
    EXPECT_EQ(order.remaining, 75u);
    EXPECT_EQ(order.price, 123456);
    EXPECT_EQ(order.book_type, 1);
    EXPECT_EQ(order.client_order, from_hex("0000004d"));

    ASSERT_TRUE(qel_sim::decode_short_change(
        sim_host_test::order_change(20070, 1001, "430c6bf526340008", 50, 99, 78), &order));
    EXPECT_EQ(order.order_number, 1000000000000001.0);
    EXPECT_EQ(order.volume, 50u);
    EXPECT_EQ(order.price, 99);
    EXPECT_FALSE(qel_sim::decode_short_entry(qel_sim::bytes(109, 0), &order));
}

TEST(SimHostEncoding, OrderRepliesAndTradesPutTheOrderAtTheShortOffsets)
{
    qel_sim::sim_order order;
    ASSERT_TRUE(qel_sim::decode_short_entry(sim_host_test::order_entry(1001, 1, 75, 123456, 77), &order));
    order.order_number = 1000000000000001.0;
    order.order_time = 0x01020304;
    qel_sim::bytes reply = qel_sim::encode_short_reply(20073, order, 0, 0x0a0b0c0d);
    ASSERT_EQ(reply.size(), 156u);
    qel_sim::bytes expected = layout(156, {{0, "4e69 0a0b0c0d 000003e9 0000"},
                                           {20, "31 20"},
                                           {24, "00001267" + ascii("FUTIDXZORAX     ")},
                                           {44, "35a4e900 00000000 2020 20"},
                                           {56, "430c6bf526340008" + ascii("          ")},
                                           {74, "0001 0001 00000000"},
                                           {86, "0000004b 0000004b 00000000 0001e240 00000000"},
                                           {110, "01020304 0800 2020 20202020 2020202020 20"},
                                           {128, ascii("            ") + "0001 20"},
                                           {144, "0000004d 20202020 20202020"}});
    EXPECT_EQ(reply, expected);

    order.filled = 75;
    order.remaining = 0;
    qel_sim::sim_fill fill;
    fill.fill_number = 5;
    fill.quantity = 75;
    fill.price = 123400;
    qel_sim::bytes trade = qel_sim::encode_short_trade(order, fill, "12345", 0x0a0b0c0d);
    qel_sim::bytes expected_trade =
        layout(153, {{0, "4efe 0a0b0c0d 000003e9"},
                     {34, "430c6bf526340008" + ascii("12345 ") + ascii("          ")},
                     {58, "0001"},
                     {64, "00000000 00000000"},
                     {76, "0001e240 0800"},
                     {86, "00000005 0000004b 0001e208 0000004b"},
                     {108, "00001267" + ascii("FUTIDXZORAX     ")},
                     {128, "35a4e900 00000000 2020 20 20"},
                     {140, ascii("             ")}});
    EXPECT_EQ(trade, expected_trade);
}

TEST(SimHostEncoding, CompressedEntriesCarryANegativeLeadAndDecompressToTheRecord)
{
    qel_sim::bytes record = qel_sim::encode_user_sign_on_response(1001, 0, "");
    qel_sim::bytes plain = qel_sim::encode_host_heart_beat();
    qel_sim::bytes packet = qel_sim::host_encode_packet_entries({record, plain}, {true, false});
    ASSERT_EQ(sim_host_test::be16(packet, 0), 2u);
    int16_t lead = static_cast<int16_t>(sim_host_test::be16(packet, 2));
    ASSERT_LT(lead, 0);
    size_t compressed = static_cast<size_t>(-lead);
    ASSERT_EQ(packet.size(), 4 + compressed + plain.size());
    EXPECT_EQ(qel_sim::bytes(packet.end() - 2, packet.end()), plain);

    ASSERT_EQ(lzo_init(), LZO_E_OK);
    qel_sim::bytes out(2048);
    lzo_uint length = out.size();
    ASSERT_EQ(lzo1z_decompress_safe(packet.data() + 4, compressed, out.data(), &length, nullptr), LZO_E_OK);
    out.resize(length);
    EXPECT_EQ(out, record);
}
