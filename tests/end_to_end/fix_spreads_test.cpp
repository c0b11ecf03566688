// Multi-leg orders, exercise requests and the exchange's own events end to end: qel_ip runs
// as its own process, the simulated exchange host and FIX clients run in the test. Each
// SpreadMultiLegSingle, SpreadCancelReplaceRequest and PositionMaintenanceRequest reaches
// the exchange as its whole record and comes back as ExecutionReports with legs,
// OrderCancelRejects or PositionMaintenanceReports; the exchange's fills, trade replies,
// give-ups, spread cancellations and broadcasts reach the client as ExecutionReport,
// GiveUpReport and News. Every FIX client validates what it receives with the client
// dictionary: none of them refuses a message.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/host/sim_host_full_records.h"
#include "support/fix_messages.h"
#include "support/fix_road.h"
#include "support/fix_session_race.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
using qel_sim::fix_client_fields;
using qel_test::fix_field;

struct expected_field
{
    int tag;
    const char *value;
};

void expect_fields(const std::string &text, const std::vector<expected_field> &fields)
{
    ASSERT_FALSE(text.empty()) << "no message";
    for (const expected_field &f : fields)
        EXPECT_EQ(fix_field(text, f.tag), f.value) << "tag " << f.tag << " in " << text;
}

std::string nth(const qel_sim::fix_client &c, const std::string &type, size_t n)
{
    return qel_test::fix_nth_message(c, type, n, kTimeoutMs);
}

fix_client_fields leg(const char *token, const char *side, const char *quantity, const char *price,
                      const char *maturity = "20261231")
{
    return {{600, "ZORAX"},  {602, token}, {607, "7"},      {609, "FUT"},
            {611, maturity}, {624, side},  {685, quantity}, {566, price}};
}

// A firm's multi-leg order: 1 two-leg spread, 2 two-leg order, 3 three-leg order.
fix_client_fields multi_leg(const char *cl_ord_id, const char *type)
{
    fix_client_fields body = {{11, cl_ord_id}, {204, "1"}, {376, "0"}, {6008, type}};
    if (std::string(type) != "1")
        body.push_back({59, "3"});
    return body;
}

const std::vector<fix_client_fields> SPREAD_LEGS = {leg("35001", "1", "50", "2.5"),
                                                    leg("35002", "2", "50", "0", "20270128")};

// The change of a resting spread; with `cancel` its cancellation.
fix_client_fields spread_change(const std::string &order_id, const char *cl_ord_id, bool cancel)
{
    return {{37, order_id},  {6013, cancel ? "Y" : "N"}, {204, "1"}, {376, "0"},
            {11, cl_ord_id}, {6000, "20261209-04:15:30"}};
}

std::vector<fix_client_fields> change_legs(const char *quantity)
{
    std::vector<fix_client_fields> legs = SPREAD_LEGS;
    for (fix_client_fields &l : legs)
    {
        l[6].value = quantity;
        l.push_back({6011, "0"});
    }
    legs[0][7].value = "3.75";
    return legs;
}

// A customer's exercise request for 25 call options of ZORAX.
fix_client_fields exercise(const char *action, const std::string &report_id = "")
{
    fix_client_fields fields = {{48, "42"},    {55, "ZORAX"}, {460, "5"},    {167, "OPT"},
                                {202, "1300"}, {201, "1"},    {206, "S"},    {200, "202612"},
                                {205, "31"},   {204, "0"},    {1, "ACC1"},   {440, "CLR01"},
                                {53, "25"},    {709, "1"},    {710, "REQ7"}, {712, action}};
    if (!report_id.empty())
    {
        fields.push_back({714, report_id});
        fields.push_back({6000, "20261209-04:15:30"});
    }
    return fields;
}

std::unique_ptr<qel_sim::fix_client> ready(qel_test::fix_road &road, uint32_t user)
{
    std::string error;
    std::unique_ptr<qel_sim::fix_client> c;
    // A session that just ended may still be taken down inside the gateway.
    qel_test::wait_until(
        [&]
        {
            c = road.ready_client(user, kTimeoutMs, &error);
            return c != nullptr;
        },
        30000);
    EXPECT_TRUE(c != nullptr) << error;
    return c;
}

void expect_nothing_refused(const qel_sim::fix_client &c)
{
    EXPECT_TRUE(c.refused().empty()) << c.refused()[0];
    EXPECT_TRUE(qel_test::fix_live_messages(c, "j").empty()) << qel_test::fix_live_messages(c, "j")[0].text;
}
} // namespace

TEST(FixSpreadsEndToEnd, MultiLegOrdersTravelToTheExchangeAndBack)
{
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    qel_test::fix_road road({1001});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> c = ready(road, 1001);
    ASSERT_TRUE(c);

    // A two-leg spread at 2.50 rests in the book.
    ASSERT_TRUE(c->send_spread_multi_leg_single(multi_leg("21", "1"), SPREAD_LEGS));
    std::string spread = nth(*c, "8", 1);
    expect_fields(spread, {{37, "1000000000000001"},
                           {11, "21"},
                           {17, "2124OE10000000000000010000000021"},
                           {150, "0"},
                           {39, "0"},
                           {6008, "1"},
                           {555, "2"},
                           {55, "XXXXXXXXXX"},
                           {54, "L"},
                           {77, "O"},
                           {144, "1"},
                           {600, "ZORAX     "},
                           {566, "2.5"},
                           {602, "35001"}});
    EXPECT_NE(spread.find("|602=35002|"), std::string::npos) << spread;
    EXPECT_TRUE(road.box->wait_for_line("two-leg spread user 1001: order 1000000000000001", 1000));
    std::vector<qel_sim::bytes> book = road.box->spreads();
    ASSERT_EQ(book.size(), 1u);
    EXPECT_EQ(qel_sim::be32(book[0].data() + qel_sim::SPREAD_PRICE), 250u)
        << "the spread's price in hundredths";
    EXPECT_EQ(qel_sim::spread_tokens(book[0], 2), (std::vector<uint32_t>{35001, 35002}));

    // A two-leg order is immediate or cancel: confirmed, then its rest cancelled.
    ASSERT_TRUE(c->send_spread_multi_leg_single(
        multi_leg("22", "2"), {leg("35001", "1", "10", "101.5"), leg("35003", "2", "10", "99.25")}));
    expect_fields(nth(*c, "8", 2), {{17, "2125OE10000000000000020000000022"}, {150, "0"}, {6008, "2"}});
    expect_fields(nth(*c, "8", 3), {{17, "2131OC10000000000000020000000022"}, {150, "4"}, {39, "4"}});

    // A three-leg order likewise.
    ASSERT_TRUE(c->send_spread_multi_leg_single(
        multi_leg("23", "3"),
        {leg("35001", "1", "5", "100"), leg("35002", "2", "5", "101"), leg("35003", "1", "5", "99")}));
    std::string three = nth(*c, "8", 4);
    expect_fields(three, {{17, "2126OE10000000000000030000000023"}, {6008, "3"}, {555, "3"}});
    EXPECT_NE(three.find("|602=35003|"), std::string::npos) << three;
    expect_fields(nth(*c, "8", 5), {{17, "2132OC10000000000000030000000023"}, {150, "4"}, {6008, "3"}});

    // The spread is modified, and then cancelled.
    ASSERT_TRUE(c->send_spread_cancel_replace_request(spread_change("1000000000000001", "24", false),
                                                      change_legs("80")));
    expect_fields(
        nth(*c, "8", 6),
        {{17, "2136OM10000000000000010000000024"}, {150, "5"}, {39, "5"}, {566, "3.75"}, {6008, "1"}});
    ASSERT_TRUE(c->send_spread_cancel_replace_request(spread_change("1000000000000001", "25", true),
                                                      change_legs("80")));
    // The confirmation echoes the spread as it stood, with the client order number of its
    // last change.
    expect_fields(nth(*c, "8", 7), {{17, "2130OC10000000000000010000000024"}, {150, "4"}, {39, "4"}});
    EXPECT_TRUE(road.box->spreads().empty());

    // Changes of a spread the exchange does not have are refused as cancel rejects.
    ASSERT_TRUE(c->send_spread_cancel_replace_request(spread_change("1000000000000099", "26", false),
                                                      change_legs("80")));
    expect_fields(nth(*c, "9", 1), {{11, "26"}, {434, "2"}, {58, "16279"}, {39, "U"}, {6008, "1"}});
    ASSERT_TRUE(c->send_spread_cancel_replace_request(spread_change("1000000000000099", "27", true),
                                                      change_legs("80")));
    expect_fields(nth(*c, "9", 2), {{11, "27"}, {434, "1"}, {58, "16279"}});

    // The exchange refuses orders whose legs name one instrument twice.
    const struct
    {
        const char *type;
        std::vector<fix_client_fields> legs;
        const char *exec_id;
    } refusals[] = {
        {"1", {leg("35001", "1", "5", "1"), leg("35001", "2", "5", "0")}, "2154OR00000000000000000000000028"},
        {"2", {leg("35001", "1", "5", "1"), leg("35001", "2", "5", "2")}, "2155OR00000000000000000000000028"},
        {"3",
         {leg("35001", "1", "5", "1"), leg("35002", "2", "5", "2"), leg("35001", "1", "5", "3")},
         "2156OR00000000000000000000000028"},
    };
    size_t reports = 7;
    for (const auto &r : refusals)
    {
        SCOPED_TRACE(r.type);
        ASSERT_TRUE(c->send_spread_multi_leg_single(multi_leg("28", r.type), r.legs));
        expect_fields(nth(*c, "8", ++reports), {{17, r.exec_id}, {150, "8"}, {39, "3"}, {58, "16273"}});
    }
    expect_nothing_refused(*c);
    EXPECT_TRUE(road.box->session_faults().empty());
    c->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}

TEST(FixSpreadsEndToEnd, ExerciseRequestsAndTheirRefusals)
{
    qel_test::fix_road road({1001});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> c = ready(road, 1001);
    ASSERT_TRUE(c);

    ASSERT_TRUE(c->send_position_maintenance_request(exercise("1")));
    expect_fields(nth(*c, "U5", 1), {{712, "1"},
                                     {722, "0"},
                                     {721, "5000000000000001"},
                                     {709, "1"},
                                     {710, "REQ7                          "},
                                     {48, "42"},
                                     {53, "25"},
                                     {204, "0"},
                                     {58, ""}});
    ASSERT_EQ(road.box->position_requests().size(), 1u);
    ASSERT_TRUE(c->send_position_maintenance_request(exercise("2", "5000000000000001")));
    expect_fields(nth(*c, "U5", 2), {{712, "2"}, {722, "0"}, {721, "5000000000000001"}});
    ASSERT_TRUE(c->send_position_maintenance_request(exercise("3", "5000000000000001")));
    expect_fields(nth(*c, "U5", 3), {{712, "3"}, {722, "0"}});
    EXPECT_TRUE(road.box->position_requests().empty());

    // Refusals: a future cannot be exercised; a request the exchange does not have.
    fix_client_fields future = exercise("1");
    future[3].value = "FUT";
    future.erase(future.begin() + 4, future.begin() + 7);
    ASSERT_TRUE(c->send_position_maintenance_request(future));
    expect_fields(nth(*c, "U5", 4), {{712, "1"}, {722, "2"}, {58, "16273"}});
    ASSERT_TRUE(c->send_position_maintenance_request(exercise("2", "5000000000000009")));
    expect_fields(nth(*c, "U5", 5), {{712, "2"}, {722, "2"}, {58, "16279"}});
    ASSERT_TRUE(c->send_position_maintenance_request(exercise("3", "5000000000000009")));
    expect_fields(nth(*c, "U5", 6), {{712, "3"}, {722, "2"}, {58, "16279"}});
    expect_nothing_refused(*c);
}

TEST(FixSpreadsEndToEnd, TheExchangesOwnEventsReachTheClient)
{
    qel_test::fix_road road({1001});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> c = ready(road, 1001);
    ASSERT_TRUE(c);

    // A resting order: filled in part, its trade reply, two give-ups of the fill.
    ASSERT_TRUE(c->send_new_order_single({{11, "1"},
                                          {21, "1"},
                                          {55, "ZORAX"},
                                          {48, "35001"},
                                          {167, "FUT"},
                                          {200, "202612"},
                                          {205, "31"},
                                          {54, "1"},
                                          {38, "50"},
                                          {40, "2"},
                                          {44, "100.25"},
                                          {204, "1"},
                                          {376, "0"},
                                          {460, "7"}}));
    expect_fields(nth(*c, "8", 1), {{150, "0"}, {37, "1000000000000001"}});
    road.box->fill(1000000000000001.0, 20, 10025);
    expect_fields(nth(*c, "8", 2), {{17, "2222TB00000000000000010000000000"},
                                    {150, "1"},
                                    {39, "1"},
                                    {6007, "1"},
                                    {32, "20"},
                                    {31, "100.25"},
                                    {151, "30"},
                                    {14, "20"}});
    road.box->trade_reply(1000000000000001.0);
    expect_fields(nth(*c, "8", 3),
                  {{17, "2212TG10000000000000010000000000"}, {150, "T"}, {39, "0"}, {6007, ""}});
    road.box->give_up(qel_sim::TC_GIVE_UP, 1000000000000001.0, 1, 'O', 'A');
    expect_fields(nth(*c, "U3", 1),
                  {{37, "1000000000000001"}, {6007, "1"}, {6012, "1"}, {77, "O"}, {203, "1"}});
    // A give-up whose open or close flag is a zero byte still arrives, without the flag.
    road.box->give_up(qel_sim::TC_GIVE_UP_OTHER, 1000000000000001.0, 1, '\0', 'R');
    expect_fields(nth(*c, "U3", 2), {{6012, "2"}, {77, ""}});

    // A resting spread cancelled by the exchange.
    ASSERT_TRUE(c->send_spread_multi_leg_single(multi_leg("2", "1"), SPREAD_LEGS));
    expect_fields(nth(*c, "8", 4), {{17, "2124OE10000000000000020000000002"}});
    road.box->cancel_spread(1000000000000002.0);
    expect_fields(nth(*c, "8", 5), {{17, "9004OX10000000000000020000000002"}, {150, "C"}, {39, "3"}});

    // Every broadcast becomes News.
    const struct
    {
        uint16_t transcode;
        const char *prefix;
        const char *text;
        const char *headline;
        const char *line;
    } broadcasts[] = {
        {qel_sim::TC_GENERAL_BROADCAST, "EXC", "HELLO MEMBERS", "General Broadcast", "EXC - HELLO MEMBERS"},
        {qel_sim::TC_MARKET_OPEN, "", "NORMAL MARKET", "Market Open", "MKT - NORMAL MARKET"},
        {qel_sim::TC_MARKET_CLOSED, "", "NORMAL MARKET", "Market Closed", "MKT - NORMAL MARKET"},
        {qel_sim::TC_PREOPEN_BEGINS, "", "", "Preopen Begins", "MKT - "},
        {qel_sim::TC_PREOPEN_ENDS, "", "ZORAX", "Preopen Ends", "MKT - ZORAX"},
        {qel_sim::TC_CONTROL_MESSAGE, "CTL", "TRADING HALTED", "Message from Control",
         "CTL - TRADING HALTED"},
    };
    size_t news = 0;
    for (const auto &b : broadcasts)
    {
        SCOPED_TRACE(b.headline);
        road.box->broadcast(b.transcode, b.prefix, b.text);
        expect_fields(nth(*c, "B", ++news), {{148, b.headline}, {33, "1"}, {58, b.line}, {144, "1"}});
    }
    expect_nothing_refused(*c);
    EXPECT_TRUE(road.box->session_faults().empty());
}

TEST(FixSpreadsEndToEnd, JournalReplaysASpreadConfirmationWithPossResend)
{
    qel_test::fix_road road({1001});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> first = ready(road, 1001);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->send_spread_multi_leg_single(multi_leg("21", "1"), SPREAD_LEGS));
    expect_fields(nth(*first, "8", 1), {{17, "2124OE10000000000000010000000021"}});
    first->stop();
    first.reset();

    std::unique_ptr<qel_sim::fix_client> again = ready(road, 1001);
    ASSERT_TRUE(again);
    std::vector<qel_sim::fix_client_message> replayed;
    for (const qel_sim::fix_client_message &m : again->received())
        if (m.poss_resend)
            replayed.push_back(m);
    ASSERT_EQ(replayed.size(), 1u);
    EXPECT_EQ(replayed[0].type, "8");
    expect_fields(replayed[0].text, {{97, "Y"},
                                     {17, "2124OE10000000000000010000000021"},
                                     {6008, "1"},
                                     {555, "2"},
                                     {566, "2.5"},
                                     {150, "0"}});
    expect_nothing_refused(*again);
}

TEST(FixSpreadsEndToEnd, TwoClientsRepliesAndBroadcastsNeverCross)
{
    qel_test::fix_road road({1001, 1002});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> a = ready(road, 1001);
    std::unique_ptr<qel_sim::fix_client> b = ready(road, 1002);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(a->send_spread_multi_leg_single(multi_leg("31", "1"), SPREAD_LEGS));
    ASSERT_TRUE(b->send_spread_multi_leg_single(multi_leg("32", "1"), SPREAD_LEGS));
    expect_fields(nth(*a, "8", 1), {{11, "31"}});
    expect_fields(nth(*b, "8", 1), {{11, "32"}});
    // A session's next request goes once its last one has been answered: with a flow-control
    // count of 1, one that comes while the last still waits for the host link is refused
    // ("System is not ready"), as the gateway's threads happen to interleave.
    ASSERT_TRUE(b->send_position_maintenance_request(exercise("1")));
    expect_fields(nth(*b, "U5", 1), {{712, "1"}});
    road.box->broadcast(qel_sim::TC_GENERAL_BROADCAST, "EXC", "TO EVERY MEMBER");
    expect_fields(nth(*a, "B", 1), {{58, "EXC - TO EVERY MEMBER"}});
    expect_fields(nth(*b, "B", 1), {{58, "EXC - TO EVERY MEMBER"}});
    // A marker reply to each: whatever crossed would have arrived before it.
    road.box->broadcast(qel_sim::TC_MARKET_CLOSED, "", "END");
    nth(*a, "B", 2);
    nth(*b, "B", 2);
    EXPECT_EQ(qel_test::fix_live_messages(*a, "8").size(), 1u);
    EXPECT_EQ(qel_test::fix_live_messages(*a, "U5").size(), 0u);
    EXPECT_EQ(qel_test::fix_live_messages(*a, "B").size(), 2u);
    EXPECT_EQ(qel_test::fix_live_messages(*b, "8").size(), 1u);
    EXPECT_EQ(qel_test::fix_live_messages(*b, "B").size(), 2u);
    expect_nothing_refused(*a);
    expect_nothing_refused(*b);
}

TEST(FixSpreadsEndToEnd, EveryMarketStatusReachesTheClientAsATradingSessionStatus)
{
    qel_test::fix_road road({1001});
    ASSERT_TRUE(road.listening);
    const struct
    {
        uint16_t status;
        const char *trading_session_status;
    } statuses[] = {{0, "4"}, {1, "2"}, {2, "3"}, {3, "7"}, {4, "8"}, {5, "0"}};
    for (const auto &s : statuses)
    {
        SCOPED_TRACE(s.status);
        road.box->set_market_status(s.status);
        std::unique_ptr<qel_sim::fix_client> c = ready(road, 1001);
        ASSERT_TRUE(c) << "the client's engine took the TradingSessionStatus";
        expect_fields(nth(*c, "h", 1), {{340, s.trading_session_status}});
        expect_nothing_refused(*c);
        c->stop();
    }
}
