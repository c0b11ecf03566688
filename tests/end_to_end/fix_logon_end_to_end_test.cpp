// The FIX logon road end to end: qel_ip runs as its own process with a FIX settings file
// that names the clients' sessions; the simulated exchange host, a trader's workstation
// and the FIX clients (initiators of the same engine) run in the test. A client logs on,
// the gateway signs its user on at the exchange, asks for the system information, answers
// the client's Logon with the stream count, downloads the journal of every stream and
// reports the trading session status; refusals end in a Logout carrying the exchange's
// error code, and a client that logs out leaves its session free for the next logon. The
// engine's logs and store, which hold the Logon's password, are their owner's only.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>

#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"

namespace
{
const uint32_t kTimeoutMs = 15000;

// What the gateway's gate answers to a request it does not let through.
const char *const kGateRefusals[] = {
    "System is not ready to accept requests.",
    "Session Not Found",
    "Journal Download In Progress",
    "User Logon is in Progress",
    "Message type Invalid, Expecting System Information In(35=g)",
};

using qel_test::fix_road;
using qel_test::of_type;

// A client of the road's gateway, started; the test fails when it cannot start.
std::unique_ptr<qel_sim::fix_client> started_client(fix_road &road, uint32_t user,
                                                    const std::string &password = "secret")
{
    std::string error;
    std::unique_ptr<qel_sim::fix_client> c = road.client(user, &error, password);
    EXPECT_TRUE(c) << error;
    return c;
}

// A client taken along the whole road to the ready state; the test fails otherwise.
std::unique_ptr<qel_sim::fix_client> ready_client(fix_road &road, uint32_t user)
{
    std::string error;
    std::unique_ptr<qel_sim::fix_client> c = road.ready_client(user, kTimeoutMs, &error);
    EXPECT_TRUE(c) << error;
    return c;
}
} // namespace

TEST(FixLogonEndToEnd, ClientReachesTheReadyStateAfterTheJournalOfEveryStream)
{
    qel_sim::exchange_options exchange;
    exchange.streams = 2;
    fix_road road({1001, 1002, 1003}, qel_sim::box_options(), exchange);
    ASSERT_TRUE(road.listening);

    // A trader at a workstation leaves an order in the book: the FIX user's journal.
    {
        qel_sim::workstation_client workstation;
        uint16_t port = static_cast<uint16_t>(std::stoi(road.config.values["PORT_NUMBER"]));
        ASSERT_TRUE(qel_test::wait_until([&] { return workstation.connect("127.0.0.1", port); }, 10000));
        qel_sim::trader alice(workstation, 1001);
        ASSERT_TRUE(alice.sign_on(kTimeoutMs).arrived);
        ASSERT_TRUE(alice.system_information(kTimeoutMs).arrived);
        qel_sim::trader_order order;
        ASSERT_EQ(alice.enter(order, kTimeoutMs).transcode, 2073);
        ASSERT_TRUE(alice.sign_off(kTimeoutMs).arrived);
    }

    // The gateway frees the trader's user a moment after the sign-off answer; until then it
    // refuses the same user as already signed on (16004), as a client on a busy machine sees.
    std::unique_ptr<qel_sim::fix_client> c;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            c = started_client(road, 1001);
            if (c == nullptr)
                return false;
            if (c->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs))
                return true;
            EXPECT_EQ(c->logout_text(), "16004");
            c->stop();
            return false;
        },
        kTimeoutMs));
    EXPECT_EQ(c->stream_count(), 2);
    EXPECT_TRUE(road.box->wait_for_line("2300 sign-on user 1001: accepted, login count 2", 1000));
    EXPECT_TRUE(road.box->wait_for_line("1600 system information user 1001", 1000));
    std::vector<qel_sim::fix_client_message> logons = of_type(*c, "A");
    ASSERT_EQ(logons.size(), 1u);
    EXPECT_EQ(qel_test::fix_field(logons[0].text, 6014), "2");
    EXPECT_EQ(logons[0].text.find("99999="), std::string::npos)
        << "the release mark never leaves the gateway";

    ASSERT_TRUE(c->request_journal({}));
    ASSERT_TRUE(c->wait_for_state(qel_sim::fix_client_state::ready, kTimeoutMs)) << c->logout_text();
    EXPECT_TRUE(road.box->wait_for_line("7000 journal download user 1001 stream 1: 1 orders replayed", 1000));
    EXPECT_TRUE(road.box->wait_for_line("7000 journal download user 1001 stream 2: 0 orders replayed", 1000));
    std::vector<qel_sim::fix_client_message> status = of_type(*c, "h");
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(qel_test::fix_field(status[0].text, 336), "2") << "the login count of the journal";
    EXPECT_EQ(qel_test::fix_field(status[0].text, 340), "2") << "the exchange is open";
    // The order in the book comes back first, as a resent ExecutionReport.
    std::vector<qel_sim::fix_client_message> received = c->received();
    size_t replayed = 0;
    for (const qel_sim::fix_client_message &m : received)
    {
        if (m.type == "h")
            break;
        if (!m.poss_resend)
            continue;
        ++replayed;
        EXPECT_EQ(m.type, "8") << m.text;
        EXPECT_EQ(qel_test::fix_field(m.text, 37), "1000000000000001") << m.text;
        EXPECT_EQ(qel_test::fix_field(m.text, 39), "0") << m.text;
    }
    EXPECT_EQ(replayed, 1u);

    // Trading requests now pass the gate and reach the exchange.
    ASSERT_TRUE(c->send_new_order_single(qel_sim::sample_new_order("1", "20261209-05:00:00")));
    ASSERT_TRUE(qel_test::wait_until([&] { return of_type(*c, "8").size() + of_type(*c, "j").size() > 1; },
                                     kTimeoutMs));
    for (const qel_sim::fix_client_message &reject : of_type(*c, "j"))
    {
        for (const char *refusal : kGateRefusals)
            EXPECT_NE(qel_test::fix_field(reject.text, 58), refusal) << reject.text;
    }
    std::vector<qel_sim::fix_client_message> reports = of_type(*c, "8");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_FALSE(reports[1].poss_resend);
    EXPECT_EQ(qel_test::fix_field(reports[1].text, 11), "1");
    EXPECT_EQ(qel_test::fix_field(reports[1].text, 37), "1000000000000002");
    EXPECT_TRUE(road.box->wait_for_line("20000 order entry user 1001: order 1000000000000002", 1000));

    c->stop();
    EXPECT_TRUE(road.box->wait_for_line("2320 sign-off user 1001: signed off", kTimeoutMs));
    EXPECT_TRUE(road.box->session_faults().empty());
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}

TEST(FixLogonEndToEnd, RefusedSignOnEndsInLogoutWithTheExchangeErrorCode)
{
    qel_sim::exchange_options exchange;
    exchange.users.resize(2);
    exchange.users[0].user_id = 1002;
    exchange.users[0].refuse_error = 16300;
    exchange.users[1].user_id = 1003;
    exchange.users[1].password = "right";
    fix_road road({1001, 1002, 1003}, qel_sim::box_options(), exchange);
    ASSERT_TRUE(road.listening);

    struct row
    {
        uint32_t user;
        const char *password;
        const char *text;
    } rows[] = {{1002, "secret", "16300"}, {1003, "wrong", "16053"}};
    for (const row &r : rows)
    {
        std::unique_ptr<qel_sim::fix_client> c = started_client(road, r.user, r.password);
        ASSERT_TRUE(c->wait_for_state(qel_sim::fix_client_state::logged_out, kTimeoutMs)) << r.user;
        EXPECT_EQ(c->logout_text(), r.text) << r.user;
        EXPECT_EQ(c->stream_count(), -1) << "no Logon answer before the Logout";
        EXPECT_TRUE(of_type(*c, "A").empty()) << r.user;
        c->stop();
    }
    EXPECT_FALSE(road.box->user_signed_on(1002));
    EXPECT_FALSE(road.box->user_signed_on(1003));
    EXPECT_TRUE(road.box->session_faults().empty());
}

TEST(FixLogonEndToEnd, LogoutFreesTheSessionForTheNextLogon)
{
    fix_road road({1001});
    ASSERT_TRUE(road.listening);
    std::unique_ptr<qel_sim::fix_client> first = ready_client(road, 1001);
    first->stop();
    ASSERT_TRUE(road.box->wait_for_line("2320 sign-off user 1001: signed off", kTimeoutMs));

    // The slot is free once the user session has flushed the logoff; until then the
    // gateway refuses the same session as a duplicate.
    std::unique_ptr<qel_sim::fix_client> second;
    bool ready = qel_test::wait_until(
        [&]
        {
            second = started_client(road, 1001);
            if (!second->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs))
            {
                EXPECT_EQ(second->logout_text(), "Duplicate Session");
                second->stop();
                return false;
            }
            return true;
        },
        kTimeoutMs);
    ASSERT_TRUE(ready);
    ASSERT_TRUE(second->request_journal({}));
    EXPECT_TRUE(second->wait_for_state(qel_sim::fix_client_state::ready, kTimeoutMs))
        << second->logout_text();
    EXPECT_TRUE(road.box->wait_for_line("2300 sign-on user 1001: accepted, login count 2", 1000));
    second->stop();
    EXPECT_TRUE(road.box->session_faults().empty());
}

// The engine's message log holds each Logon with its password: started under the usual
// umask, the gateway creates it, the event logs and the store for their owner only.
TEST(FixLogonEndToEnd, TheEnginesLogsAndStoreAreTheirOwnersOnly)
{
    const mode_t previous = umask(022);
    std::unique_ptr<fix_road> road(new fix_road({1001}));
    umask(previous);
    ASSERT_TRUE(road->listening);
    std::unique_ptr<qel_sim::fix_client> client = ready_client(*road, 1001);
    ASSERT_TRUE(client);
    client->stop();
    qel_test::process_result result = road->stop();
    EXPECT_EQ(result.exit_code, 0) << result.output;

    auto mode_of = [&](const std::string &name)
    {
        struct stat status;
        return stat(road->dir.file(name).c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777)
                                                                : -1;
    };
    size_t logs = 0;
    bool password_logged = false;
    for (const std::string &name : road->dir.list("logs"))
    {
        if (name.rfind("FIX.4.2-", 0) != 0 && name.rfind("GLOBAL.", 0) != 0)
            continue;
        ++logs;
        EXPECT_EQ(mode_of("logs/" + name), 0600) << name;
        password_logged =
            password_logged || road->dir.read("logs/" + name).find("554=secret") != std::string::npos;
    }
    EXPECT_EQ(logs, 4u) << "the session's and the acceptor's messages and event logs";
    EXPECT_TRUE(password_logged) << "what the log holds is unchanged";
    const std::vector<std::string> store = road->dir.list("fix_store");
    EXPECT_EQ(store.size(), 4u);
    for (const std::string &name : store)
        EXPECT_EQ(mode_of("fix_store/" + name), 0600) << name;
}
