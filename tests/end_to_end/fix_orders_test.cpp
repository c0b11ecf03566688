// FIX orders end to end: qel_ip runs as its own process, the simulated exchange host and
// the FIX clients run in the test. A logged-on client's NewOrderSingle,
// OrderCancelReplaceRequest and OrderCancelRequest each reach the exchange as the trimmed
// order record and come back as ExecutionReports; refused changes come back as
// OrderCancelRejects; requests that fail the gateway's field checks are answered with a
// BusinessMessageReject, and the gateway goes on serving the session, a workstation
// trader and a second FIX client whose replies never cross the first one's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
using qel_test::fix_field;

std::string utc_now_text(int64_t shift_seconds = 0)
{
    return qel_sim::utc_timestamp(shift_seconds);
}

// Unix seconds of a UTCTimestamp "YYYYMMDD-HH:MM:SS", -1 when it is not one.
int64_t utc_seconds(const std::string &text)
{
    struct tm t = {};
    if (text.size() < 17 || strptime(text.c_str(), "%Y%m%d-%H:%M:%S", &t) == nullptr)
        return -1;
    return static_cast<int64_t>(timegm(&t));
}

// The sample order with `changes`: a change replaces or adds a field, an empty value
// removes one.
qel_sim::fix_client_fields order(const qel_sim::fix_client_fields &changes = {})
{
    return qel_sim::with_changes(qel_sim::sample_new_order("1", utc_now_text()), changes);
}

// The modification of an order: the new quantity and price, what is filled, the client's
// own modification time (6000).
qel_sim::fix_client_fields replace(const std::string &order_id, const std::string &cl_ord_id,
                                   const qel_sim::fix_client_fields &changes = {})
{
    qel_sim::fix_client_fields own = {
        {11, cl_ord_id}, {41, "1"}, {37, order_id}, {14, "0"}, {6000, utc_now_text()}};
    own.insert(own.end(), changes.begin(), changes.end());
    return order(own);
}

qel_sim::fix_client_fields cancel(const std::string &order_id, const std::string &cl_ord_id)
{
    return {{41, "1"},    {37, order_id},       {11, cl_ord_id}, {55, "ZORAX"}, {48, "35001"},
            {167, "FUT"}, {200, "202612"},      {205, "31"},     {54, "1"},     {38, "50"},
            {40, "2"},    {60, utc_now_text()}, {376, "0"},      {460, "7"}};
}

// The messages of one type the client received, resent ones left out.
std::vector<qel_sim::fix_client_message> of_type(const qel_sim::fix_client &c, const std::string &type)
{
    std::vector<qel_sim::fix_client_message> out;
    for (const qel_sim::fix_client_message &m : c.received())
        if (m.type == type && !m.poss_resend)
            out.push_back(m);
    return out;
}

// Waits for the n-th (1-based) message of the type and returns its text, empty on timeout.
std::string nth(const qel_sim::fix_client &c, const std::string &type, size_t n)
{
    if (!c.wait_for_messages(type, n, kTimeoutMs))
    {
        std::string seen;
        for (const qel_sim::fix_client_message &m : c.received())
            seen += "\n  " + m.text;
        ADD_FAILURE() << "no " << n << ". message of type " << type << "; received:" << seen;
        return "";
    }
    std::vector<qel_sim::fix_client_message> all = of_type(c, type);
    return all.size() >= n ? all[n - 1].text : "";
}

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

void expect_recent(const std::string &text, int tag)
{
    int64_t seconds = utc_seconds(fix_field(text, tag));
    EXPECT_LE(std::llabs(seconds - static_cast<int64_t>(time(nullptr))), 600)
        << "tag " << tag << " in " << text;
}

std::unique_ptr<qel_sim::fix_client> ready(qel_test::fix_road &road, uint32_t user)
{
    std::string error;
    std::unique_ptr<qel_sim::fix_client> c = road.ready_client(user, kTimeoutMs, &error);
    EXPECT_TRUE(c != nullptr) << error;
    return c;
}
} // namespace

TEST(FixOrdersEndToEnd, OrderModificationAndCancellationTravelToTheExchangeAndBack)
{
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    qel_test::fix_road road({1001});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> c = ready(road, 1001);
    ASSERT_TRUE(c);

    // Entry: a firm's day limit order for 50 at 100.25.
    ASSERT_TRUE(c->send_new_order_single(order()));
    std::string entered = nth(*c, "8", 1);
    expect_fields(entered, {{37, "1000000000000001"},
                            {11, "1"},
                            {17, "2073OE10000000000000010000000001"},
                            {20, "0"},
                            {150, "0"},
                            {39, "0"},
                            {22, "8"},
                            {77, "O"},
                            {55, "ZORAX     "},
                            {167, "FUT"},
                            {460, "7"},
                            {200, "202612"},
                            {205, "31"},
                            {54, "1"},
                            {38, "50"},
                            {151, "50"},
                            {14, "0"},
                            {40, "2"},
                            {44, "100.25"},
                            {59, "0"},
                            {21, "1"},
                            {204, "1"},
                            {48, "35001"},
                            {58, ""},
                            {201, ""},
                            {202, ""}});
    expect_recent(entered, 60);
    // The simulated exchange's short replies carry no exchange time stamp: its zero bytes
    // are the exchange epoch, 1980-01-01 00:00 in India. The stream is the reply's '1'.
    expect_fields(entered, {{370, "19791231-18:30:00"}, {144, "1"}});
    EXPECT_TRUE(
        road.box->wait_for_line("order entry user 1001: order 1000000000000001, buy 50 at 10025", 1000));

    // The trimmed record as the exchange holds it.
    std::vector<qel_sim::sim_order> book = road.box->orders();
    ASSERT_EQ(book.size(), 1u);
    const qel_sim::sim_order &held = book[0];
    EXPECT_EQ(held.user_id, 1001u);
    EXPECT_EQ(held.token, 35001u);
    EXPECT_EQ(held.kinds, "FUTIDX");
    EXPECT_EQ(held.symbol, "ZORAX     ");
    EXPECT_EQ(held.option, "XX");
    EXPECT_EQ(held.strike, -1);
    EXPECT_EQ(held.side, 1);
    EXPECT_EQ(held.book_type, 1);
    EXPECT_EQ(held.volume, 50u);
    EXPECT_EQ(held.price, 10025);
    EXPECT_EQ(held.terms[0], 0x08) << "a day order";
    EXPECT_EQ(held.client_or_firm, 2) << "a firm's own order";
    EXPECT_EQ(held.account, "          ");
    EXPECT_EQ(held.client_order, (qel_sim::bytes{0x01, 0x00, 0x00, 0x00})) << "least significant byte first";
    // 2026-12-31 at the contract expiry offset 14:30 in India, in exchange seconds.
    EXPECT_EQ(held.expiry, static_cast<uint32_t>(1798707600 - 315513000));

    // Modification to 80 at 101.50.
    ASSERT_TRUE(
        c->send_order_cancel_replace_request(replace("1000000000000001", "2", {{38, "80"}, {44, "101.50"}})));
    std::string modified = nth(*c, "8", 2);
    expect_fields(modified, {{37, "1000000000000001"},
                             {11, "2"},
                             {17, "2074OM10000000000000010000000002"},
                             {150, "5"},
                             {39, "5"},
                             {378, ""},
                             {38, "80"},
                             {151, "80"},
                             {14, "0"},
                             {44, "101.5"},
                             {58, ""}});
    EXPECT_TRUE(
        road.box->wait_for_line("modification user 1001 order 1000000000000001: now 80 at 10150", 1000));

    // Cancellation. The exchange's confirmation echoes the order as it stood, with the
    // client order number of its last change.
    ASSERT_TRUE(c->send_order_cancel_request(cancel("1000000000000001", "3")));
    std::string cancelled = nth(*c, "8", 3);
    expect_fields(cancelled, {{37, "1000000000000001"},
                              {11, "2"},
                              {17, "2075OC10000000000000010000000002"},
                              {150, "4"},
                              {39, "4"},
                              {58, ""}});
    EXPECT_TRUE(road.box->wait_for_line("cancellation user 1001 order 1000000000000001: cancelled", 1000));
    EXPECT_TRUE(road.box->orders().empty());

    // Changes of an order the exchange does not have come back as OrderCancelRejects.
    ASSERT_TRUE(c->send_order_cancel_request(cancel("1000000000000099", "4")));
    std::string cancel_refused = nth(*c, "9", 1);
    expect_fields(cancel_refused,
                  {{37, "1000000000000099"}, {11, "4"}, {41, "0"}, {39, "U"}, {434, "1"}, {58, "16279"}});
    expect_recent(cancel_refused, 60);
    ASSERT_TRUE(c->send_order_cancel_replace_request(replace("1000000000000099", "5")));
    std::string modify_refused = nth(*c, "9", 2);
    expect_fields(modify_refused,
                  {{37, "1000000000000099"}, {11, "5"}, {41, "0"}, {39, "U"}, {434, "2"}, {58, "16279"}});
    EXPECT_TRUE(
        road.box->wait_for_line("cancellation user 1001 order 1000000000000099: refused with 16279", 1000));

    EXPECT_TRUE(of_type(*c, "j").empty()) << of_type(*c, "j")[0].text;
    EXPECT_TRUE(road.box->session_faults().empty());
    c->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}

// (Stop orders travel to the exchange untrimmed, which the simulated exchange does not take.)
TEST(FixOrdersEndToEnd, OptionOrderForACustomerCarriesItsOptionAndAccountFields)
{
    qel_test::fix_road road({1001});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> c = ready(road, 1001);
    ASSERT_TRUE(c);
    ASSERT_TRUE(c->send_new_order_single(order({{167, "OPT"},
                                                {202, "1234.567"},
                                                {201, "1"},
                                                {206, "L"},
                                                {204, "0"},
                                                {1, "ACC42"},
                                                {440, "CP0001"},
                                                {59, "3"},
                                                {111, "10"},
                                                {460, "5"}})));
    std::string entered = nth(*c, "8", 1);
    expect_fields(entered, {{167, "OPT"},
                            {201, "1"},
                            {206, "L"},
                            {202, "1234.56"},
                            {460, "5"},
                            {204, "0"},
                            {1, "ACC42     "},
                            {440, "CP0001      "},
                            {40, "2"},
                            {59, "3"},
                            {111, "10"}});
    std::vector<qel_sim::sim_order> book = road.box->orders();
    ASSERT_EQ(book.size(), 1u);
    EXPECT_EQ(book[0].kinds, "OPTSTK");
    EXPECT_EQ(book[0].option, "CA");
    EXPECT_EQ(book[0].strike, 123456) << "digits beyond the hundredths are dropped";
    EXPECT_EQ(book[0].book_type, 1);
    EXPECT_EQ(book[0].terms[0], 0x02) << "immediate or cancel, not a day order";
    EXPECT_EQ(book[0].disclosed, 10u);
    EXPECT_EQ(book[0].client_or_firm, 1);
    EXPECT_EQ(book[0].account, "ACC42     ");
    EXPECT_EQ(book[0].clearing, "CP0001      ");
}

TEST(FixOrdersEndToEnd, BadInputIsRefusedAndTheGatewayKeepsServing)
{
    qel_test::fix_road road({1001, 1002});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> c = ready(road, 1001);
    ASSERT_TRUE(c);

    // A trader at a workstation trades at the same time.
    qel_sim::workstation_client workstation;
    ASSERT_TRUE(
        qel_test::wait_until([&] { return workstation.connect("127.0.0.1", road.workstation_port); }, 10000));
    qel_sim::trader bob(workstation, 2001);
    ASSERT_TRUE(bob.sign_on(kTimeoutMs).arrived);
    ASSERT_TRUE(bob.system_information(kTimeoutMs).arrived);

    struct row
    {
        const char *what;
        const char *type;
        qel_sim::fix_client_fields fields;
        const char *reason;
        const char *text; // the whole text, or with a leading '~' a part of it
    };
    const std::vector<row> rows = {
        {"HandlInst 2", "D", order({{21, "2"}}), "0", "HandInst is Invalid"},
        {"OrderQty 0", "D", order({{38, "0"}}), "0", "Invalid value for field id 38"},
        {"OrderQty 999999999", "D", order({{38, "999999999"}}), "0", "Invalid value for field id 38"},
        {"limit price 0", "D", order({{44, "0"}}), "0", "Invalid value for field id 44"},
        {"symbol of 11", "D", order({{55, "ABCDEFGHIJK"}}), "0", "Invalid Length for field id 55"},
        {"maturity of 8", "D", order({{200, "20261231"}}), "0", "Invalid Length for field id 200"},
        {"ClOrdID 2000000001", "D", order({{11, "2000000001"}}), "0", "Invalid value for field id 11"},
        {"SecurityID 0", "D", order({{48, "0"}}), "0", "Invalid value for field id 48"},
        {"Product 3", "D", order({{460, "3"}}), "0", "Product is Invalid"},
        {"TimeInForce 1", "D", order({{59, "1"}}), "0", "Unsupported value for TimeInForce "},
        {"no ComplianceID", "D", order({{376, ""}}), "5", "~376"},
        {"customer without ClearingAccount", "D", order({{204, "0"}, {1, "ACC1"}}), "5", "~440"},
        {"OrderQty equal to CumQty", "G", replace("1000000000000001", "7", {{38, "50"}, {14, "50"}}), "0",
         "OrderQty lesser than CumQty "},
        {"cancel without OrderID", "F", cancel("", "8"), "5", "~37"},
    };
    size_t refused = 0;
    for (const row &r : rows)
    {
        qel_sim::fix_client_fields fields;
        for (const qel_sim::fix_client_field &f : r.fields)
            if (!f.value.empty())
                fields.push_back(f);
        ASSERT_TRUE(c->send_message(r.type, fields)) << r.what;
        std::string reject = nth(*c, "j", ++refused);
        ASSERT_FALSE(reject.empty()) << r.what;
        EXPECT_EQ(fix_field(reject, 372), r.type) << r.what;
        EXPECT_EQ(fix_field(reject, 380), r.reason) << r.what << ": " << reject;
        std::string text = fix_field(reject, 58);
        if (r.text[0] == '~')
            EXPECT_NE(text.find(r.text + 1), std::string::npos) << r.what << ": " << reject;
        else
            EXPECT_EQ(text, r.text) << r.what << ": " << reject;
        EXPECT_FALSE(fix_field(reject, 45).empty()) << r.what << ": " << reject;
    }
    EXPECT_TRUE(of_type(*c, "8").empty()) << "no refused request reached the exchange";
    EXPECT_TRUE(road.box->orders().empty());

    // The session, the workstation and a second client go on trading, each with its own replies.
    std::unique_ptr<qel_sim::fix_client> other = ready(road, 1002);
    ASSERT_TRUE(other);
    qel_sim::trader_order at_workstation;
    ASSERT_TRUE(c->send_new_order_single(order({{11, "21"}})));
    ASSERT_TRUE(other->send_new_order_single(order({{11, "22"}, {54, "2"}})));
    qel_sim::trader_reply entered = bob.enter(at_workstation, kTimeoutMs);
    EXPECT_EQ(entered.transcode, 2073);
    std::string mine = nth(*c, "8", 1);
    std::string theirs = nth(*other, "8", 1);
    EXPECT_EQ(fix_field(mine, 11), "21") << mine;
    EXPECT_EQ(fix_field(mine, 54), "1") << mine;
    EXPECT_EQ(fix_field(theirs, 11), "22") << theirs;
    EXPECT_EQ(fix_field(theirs, 54), "2") << theirs;
    EXPECT_NE(fix_field(mine, 37), fix_field(theirs, 37));
    EXPECT_EQ(road.box->orders().size(), 3u);
    EXPECT_EQ(of_type(*c, "8").size(), 1u);
    EXPECT_EQ(of_type(*other, "8").size(), 1u);
    EXPECT_TRUE(of_type(*other, "j").empty());
    EXPECT_EQ(c->state(), qel_sim::fix_client_state::ready);
    EXPECT_TRUE(road.box->session_faults().empty());

    // ClOrdID is a number in the dialect: its leading digits are taken, a ClOrdID of letters
    // as 0, and every reply carries that number; only the OrderID tells such orders apart.
    ASSERT_TRUE(other->send_new_order_single(order({{11, "ORD7"}})));
    ASSERT_TRUE(other->send_new_order_single(order({{11, "12AB"}})));
    ASSERT_TRUE(other->send_new_order_single(order({{11, "KEY"}})));
    std::string letters = nth(*other, "8", 2), digits_first = nth(*other, "8", 3),
                more_letters = nth(*other, "8", 4);
    EXPECT_EQ(fix_field(letters, 11), "0") << letters;
    EXPECT_EQ(fix_field(digits_first, 11), "12") << digits_first;
    EXPECT_EQ(fix_field(more_letters, 11), "0") << more_letters;
    EXPECT_NE(fix_field(letters, 37), fix_field(more_letters, 37));
    EXPECT_TRUE(of_type(*other, "j").empty()) << "taken, not refused";

    c->stop();
    other->stop();
    EXPECT_TRUE(bob.sign_off(kTimeoutMs).arrived);
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}
