// The simulated exchange behind the box: user sign-on with known users and refusals,
// system information, orders through entry, modification, cancellation and trades, sign-off,
// status queries and unsolicited records, driven by a scripted gateway with its own framing.
#include <gtest/gtest.h>
#include <lzo/lzo1z.h>

#include <memory>

#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "tests/sim/sim_host_peer.h"

using namespace sim_host_test;

namespace
{

const char *k_first_order = "430c6bf526340008"; // 1000000000000001 as a big-endian double

class exchange_fixture
{
  public:
    explicit exchange_fixture(qel_sim::exchange_options exchange = {}, qel_sim::box_faults faults = {})
    {
        EXPECT_TRUE(host.start());
        qel_sim::box_options options;
        options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(host, options, exchange));
        box->set_faults(faults);
        EXPECT_TRUE(gateway.connect(host.port()));
        EXPECT_TRUE(gateway.send(packet({box_sign_on(101, "12345")}), next++, 0));
        peer_frame f;
        EXPECT_TRUE(gateway.receive_transcode(23007, &f));
    }
    ~exchange_fixture()
    {
        gateway.close();
        box.reset();
        host.stop();
    }

    // Sends one record numbered in turn and returns the records of the host's answer
    // (acknowledgements are skipped); compressed entries are returned as they are.
    bytes ask(const bytes &record)
    {
        EXPECT_TRUE(gateway.send(packet({record}), next++, 0));
        peer_frame f;
        while (gateway.receive(&f))
        {
            if (f.transcode() != 25003)
                return f.body;
        }
        ADD_FAILURE() << "no answer to " << be16(record, 0);
        return bytes();
    }

    // The one plain record of an answer.
    bytes ask_one(const bytes &record)
    {
        bytes body = ask(record);
        EXPECT_EQ(be16(body, 0), 1u);
        return bytes(body.begin() + 2, body.end());
    }

    void sign_on(uint32_t user, const std::string &password = "secret")
    {
        bytes reply = ask_one(user_sign_on(user, password));
        ASSERT_EQ(be16(reply, 0), 2301);
        ASSERT_EQ(be16(reply, 12), 0);
    }

    qel_sim::sim_host host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    peer gateway;
    uint16_t next = 1;
};

} // namespace

TEST(SimHostExchange, AUserSignsOnTradesAndSignsOff)
{
    exchange_fixture t;
    bytes sign_on = t.ask_one(user_sign_on(1001, "secret"));
    EXPECT_EQ(sign_on, layout(214, {{0, "08fd 00000000 2020 000003e9 0000"},
                                    {38, "00d6 000003e9 20202020202020202020"}}));
    EXPECT_EQ(t.ask_one(exchange_record(1600, 1001, 44)),
              layout(48, {{0, "0641 00000000 0120 000003e9 0000 0000000000000001"}, {38, "0030 0001"}}));

    bytes entered = t.ask_one(order_entry(1001, 1, 75, 123456, 77));
    ASSERT_EQ(entered.size(), 156u);
    EXPECT_EQ(be16(entered, 0), 20073);
    EXPECT_EQ(be32(entered, 6), 1001u);
    EXPECT_EQ(be16(entered, 10), 0);
    EXPECT_EQ(bytes(entered.begin() + 56, entered.begin() + 64), from_hex(k_first_order));
    EXPECT_EQ(be32(entered, 86), 75u) << "remaining";
    EXPECT_EQ(be32(entered, 98), 123456u) << "price";
    EXPECT_EQ(be32(entered, 144), 77u) << "client order number";
    ASSERT_EQ(t.box->orders().size(), 1u);

    bytes modified = t.ask_one(order_change(20040, 1001, k_first_order, 50, 120000, 78));
    EXPECT_EQ(be16(modified, 0), 20074);
    EXPECT_EQ(be32(modified, 86), 50u);
    EXPECT_EQ(be32(modified, 98), 120000u);
    EXPECT_EQ(be32(modified, 144), 78u);

    // Another user's order number, and an unknown one, are refused.
    bytes foreign = t.ask_one(order_change(20040, 1002, k_first_order, 50, 1, 79));
    EXPECT_EQ(be16(foreign, 0), 20042);
    EXPECT_EQ(be16(foreign, 10), 16111) << "1002 is not even signed on";
    bytes cancelled = t.ask_one(order_change(20070, 1001, k_first_order, 50, 120000, 80));
    EXPECT_EQ(be16(cancelled, 0), 20075);
    EXPECT_TRUE(t.box->orders().empty());
    bytes again = t.ask_one(order_change(20070, 1001, k_first_order, 50, 120000, 81));
    EXPECT_EQ(be16(again, 0), 20072);
    EXPECT_EQ(bytes(again.begin() + 6, again.begin() + 12), from_hex("000003e9 3f97"));

    EXPECT_EQ(t.ask_one(exchange_record(2320, 1001, 40)),
              layout(40, {{0, "0911 00000000 2020 000003e9"}, {38, "0028"}}));
    EXPECT_FALSE(t.box->user_signed_on(1001));
    bytes query = layout(40, {{0, "59da 0065 0001 e240 000003e9 0000 41"}, {38, "0028"}}, ' ');
    bytes status = t.ask_one(query);
    EXPECT_EQ(bytes(status.begin(), status.begin() + 15), from_hex("59db 0065 0001 e240 000003e9 0000 49"));
}

TEST(SimHostExchange, SignOnRefusalsAndBadOrders)
{
    qel_sim::exchange_options options;
    options.accept_unknown_users = false;
    options.refuse_second_sign_on = true;
    options.users.resize(3);
    options.users[0].user_id = 1001;
    options.users[0].password = "secret";
    options.users[1].user_id = 1002;
    options.users[1].refuse_error = 16300;
    options.users[2].user_id = 1003;
    exchange_fixture t(options);

    struct row
    {
        uint32_t user;
        const char *password;
        uint16_t error;
    } rows[] = {
        {1001, "wrong", 16053}, {1002, "any", 16300},    {4711, "secret", 16042},
        {1001, "secret", 0},    {1001, "secret", 16004}, {1003, "whatever", 0},
    };
    for (const row &r : rows)
    {
        bytes reply = t.ask_one(user_sign_on(r.user, r.password));
        EXPECT_EQ(be16(reply, 0), 2301) << r.user;
        EXPECT_EQ(be16(reply, 12), r.error) << r.user << " " << r.password;
        EXPECT_EQ(reply[54] != 0, r.error != 0) << "a reason text with every refusal";
    }
    EXPECT_EQ(be16(t.ask_one(order_entry(4711, 1, 10, 100, 1)), 10), 16111);
    bytes bad_side = t.ask_one(order_entry(1001, 3, 10, 100, 1));
    EXPECT_EQ(bytes(bad_side.begin(), bad_side.begin() + 2), from_hex("4f07"));
    EXPECT_EQ(be16(bad_side, 10), 16273);
    EXPECT_EQ(be16(t.ask_one(order_entry(1001, 1, 0, 100, 1)), 10), 16273) << "no volume";
    EXPECT_EQ(be16(t.ask_one(exchange_record(1600, 4711, 44)), 12), 16111);
}

TEST(SimHostExchange, OrdersTradeOnEntryOrWhenFilled)
{
    qel_sim::exchange_options options;
    options.fill_on_entry = true;
    exchange_fixture t(options);
    t.sign_on(1001);
    bytes body = t.ask(order_entry(1001, 2, 75, 123456, 77));
    ASSERT_EQ(be16(body, 0), 2u);
    ASSERT_EQ(body.size(), 2u + 156 + 153);
    bytes trade(body.begin() + 2 + 156, body.end());
    EXPECT_EQ(be16(trade, 0), 20222);
    EXPECT_EQ(be32(trade, 6), 1001u);
    EXPECT_EQ(bytes(trade.begin() + 34, trade.begin() + 47),
              from_hex(std::string(k_first_order) + ascii("12345")));
    EXPECT_EQ(be16(trade, 58), 2) << "side";
    EXPECT_EQ(be32(trade, 68), 0u) << "nothing left";
    EXPECT_EQ(be32(trade, 86), 1u) << "fill number";
    EXPECT_EQ(be32(trade, 90), 75u);
    EXPECT_EQ(be32(trade, 94), 123456u);
    EXPECT_TRUE(t.box->orders().empty());
}

TEST(SimHostExchange, UnsolicitedRecordsReachTheUser)
{
    exchange_fixture t;
    t.sign_on(1001);
    t.ask_one(order_entry(1001, 1, 75, 123456, 77));
    t.box->fill(1000000000000001.0, 25, 123400);
    peer_frame f;
    ASSERT_TRUE(t.gateway.receive_transcode(20222, &f));
    EXPECT_EQ(be32(f.record(), 68), 50u) << "remaining after the fill";
    EXPECT_EQ(be32(f.record(), 90), 25u);
    ASSERT_EQ(t.box->orders().size(), 1u);
    EXPECT_EQ(t.box->orders()[0].filled, 25u);

    bytes broadcast = exchange_record(6501, 1001, 319);
    t.box->send_to_user(1001, broadcast);
    ASSERT_TRUE(t.gateway.receive_transcode(6501, &f));
    EXPECT_EQ(f.record(), broadcast);

    // The box signed off by the host takes its users with it.
    t.box->sign_off_box(0);
    ASSERT_TRUE(t.gateway.receive_transcode(20322, &f));
    EXPECT_FALSE(t.box->user_signed_on(1001));
}

TEST(SimHostExchange, RepliesCanTravelCompressed)
{
    qel_sim::box_faults faults;
    faults.compress_replies = true;
    exchange_fixture t({}, faults);
    bytes body = t.ask(user_sign_on(1001, "x"));
    ASSERT_EQ(be16(body, 0), 1u);
    int16_t lead = static_cast<int16_t>(be16(body, 2));
    ASSERT_LT(lead, 0);
    ASSERT_EQ(body.size(), 4u + static_cast<size_t>(-lead));
    ASSERT_EQ(lzo_init(), LZO_E_OK);
    bytes out(2048);
    lzo_uint length = out.size();
    ASSERT_EQ(
        lzo1z_decompress_safe(body.data() + 4, static_cast<lzo_uint>(-lead), out.data(), &length, nullptr),
        LZO_E_OK);
    out.resize(length);
    EXPECT_EQ(out.size(), 214u);
    EXPECT_EQ(bytes(out.begin(), out.begin() + 14), from_hex("08fd 00000000 2020 000003e9 0000"));
}

namespace
{
// A journal download request as the gateway sends it (exchange order, 48 bytes): the
// stream number's digits at 6, the start time (exchange seconds x 65536) at 40.
bytes journal_request(uint32_t user, const std::string &stream_hex, const std::string &start_hex)
{
    bytes r = layout(48, {{0, "1b58 00000000 " + stream_hex}, {38, "0030"}, {40, start_hex}});
    set_be32(r, 8, user);
    return r;
}

std::string hex32(uint32_t value)
{
    char text[9];
    snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The records of one packet body, cut by the length field of their exchange header.
std::vector<bytes> records_of(const bytes &body)
{
    std::vector<bytes> out;
    size_t at = 2;
    while (at + 40 <= body.size() && out.size() < be16(body, 0))
    {
        size_t length = be16(body, at + 38);
        if (length < 40 || at + length > body.size())
            break;
        out.emplace_back(body.begin() + static_cast<long>(at), body.begin() + static_cast<long>(at + length));
        at += length;
    }
    return out;
}
} // namespace

TEST(SimHostExchange, JournalDownloadReplaysTheUsersOrders)
{
    exchange_fixture t;
    t.sign_on(1001);
    t.ask_one(order_entry(1001, 1, 75, 123456, 77));
    t.sign_on(1001); // login count 2: the journal records carry it
    std::vector<bytes> records = records_of(t.ask(journal_request(1001, "3100", "0000000000000000")));
    ASSERT_EQ(records.size(), 3u);

    uint32_t stamp = be32(records[0], 2);
    uint32_t now = static_cast<uint32_t>(time(nullptr) - 315513000);
    EXPECT_LE(now - stamp, 60u) << "reply time stamp in exchange seconds";
    const std::string header = hex32(stamp) + " 3100 000003e9 0000 00000000 00000002";
    EXPECT_EQ(records[0], layout(40, {{0, "1b63 " + header}, {37, "01 0028"}}));
    EXPECT_EQ(records[2], layout(40, {{0, "1b77 " + header}, {37, "01 0028"}}));

    // The data record: its header, then the order's entry confirmation in full, internal order.
    ASSERT_EQ(records[1].size(), 280u);
    EXPECT_EQ(bytes(records[1].begin(), records[1].begin() + 40),
              layout(40, {{0, "1b6d " + header}, {37, "01 0118"}}));
    bytes inner(records[1].begin() + 40, records[1].end());
    uint32_t entered = be32(inner, 160);
    EXPECT_EQ(be32(inner, 4), entered);
    EXPECT_LE(now - entered, 60u);
    bytes expected =
        layout(240, {{0, "000003e9 " + hex32(entered) + " 5a4f 0819 0000"},
                     {37, "01 00f0"},
                     {46, "20"},
                     {54, "00001267" + ascii("FUTIDXZORAX     ") + "35a4e900 00000000 2020"},
                     {94, "20"},
                     {98, std::string(k_first_order) + ascii("          ") + "0001 0001"},
                     {120, "00000000 00000000 0000004b 0000004b 00000000 0001e240"},
                     {160, hex32(entered) + "0800" + ascii("           ")},
                     {201, ascii("             ") + "0001 0a00 2050 0000004d" + ascii("        ")}});
    EXPECT_EQ(inner, expected);
}

TEST(SimHostExchange, JournalDownloadPerStreamAndStartTime)
{
    exchange_fixture t;
    t.sign_on(1001);
    t.ask_one(order_entry(1001, 2, 10, 100, 5));
    struct row
    {
        uint32_t user;
        const char *stream;
        const char *start;
        std::vector<uint16_t> transcodes;
        uint16_t error;
        uint8_t stream_byte;
    } rows[] = {
        {1001, "3200", "0000000000000000", {7011, 7031}, 0, 2},       // orders are on stream 1 only
        {1001, "3130", "0000000000000000", {7011, 7031}, 0, 10},      // two digits
        {1001, "3100", "7fffffffffff0000", {7011, 7031}, 0, 1},       // nothing after the start
        {1001, "3100", "ffffffffffff0000", {7011, 7021, 7031}, 0, 1}, // one second before 1980
        {4711, "3100", "0000000000000000", {7011, 7031}, 16111, 1},   // not signed on
    };
    for (const row &r : rows)
    {
        std::vector<bytes> records = records_of(t.ask(journal_request(r.user, r.stream, r.start)));
        std::vector<uint16_t> transcodes;
        for (const bytes &record : records)
        {
            transcodes.push_back(be16(record, 0));
            EXPECT_EQ(be32(record, 8), r.user);
            EXPECT_EQ(be16(record, 12), r.error) << r.stream;
            EXPECT_EQ(record[37], r.stream_byte) << r.stream;
            EXPECT_EQ(bytes(record.begin() + 6, record.begin() + 8), from_hex(r.stream));
            EXPECT_EQ(be32(record, 18), r.error == 0 ? 1u : 0xffffffffu) << "login count";
        }
        EXPECT_EQ(transcodes, r.transcodes) << r.user << " " << r.stream << " " << r.start;
    }
}

// A host slow to sign users on: the sign-on's frame is acknowledged at once, the rest of the
// link goes on (a rate-control heart beat is acknowledged meanwhile), and the sign-on is
// acted on and answered only after the delay.
TEST(SimHostExchange, LateUserSignOnsAreAnsweredAfterTheDelayWhileTheLinkGoesOn)
{
    qel_sim::box_faults faults;
    faults.user_sign_on_delay_ms = 1500;
    exchange_fixture t({}, faults);
    ASSERT_TRUE(t.gateway.send(packet({user_sign_on(1001, "secret")}), t.next++, 0));
    peer_frame f;
    ASSERT_TRUE(t.gateway.receive(&f, 1000));
    EXPECT_EQ(f.transcode(), 25003) << "the sign-on's frame is acknowledged at once";
    EXPECT_FALSE(t.box->user_signed_on(1001));
    ASSERT_TRUE(t.gateway.send(packet({from_hex("59dc 0000")}), t.next++, 0));
    ASSERT_TRUE(t.gateway.receive(&f, 1000));
    EXPECT_EQ(f.transcode(), 25003) << "the heart beat is acknowledged while the sign-on waits";
    ASSERT_TRUE(t.gateway.receive(&f, 10000));
    ASSERT_EQ(f.transcode(), 2301);
    EXPECT_EQ(be16(f.body, 2 + 12), 0) << "error code of the late answer";
    EXPECT_TRUE(t.box->user_signed_on(1001));
}
