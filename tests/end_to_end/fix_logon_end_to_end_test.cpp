// The FIX logon road end to end: qel_ip runs as its own process with a FIX settings file
// that names the clients' sessions; the simulated exchange host, a trader's workstation
// and the FIX clients (initiators of the same engine) run in the test. A client logs on,
// the gateway signs its user on at the exchange, asks for the system information, answers
// the client's Logon with the stream count, downloads the journal of every stream and
// reports the trading session status; refusals end in a Logout carrying the exchange's
// error code, and a client that logs out leaves its session free for the next logon.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>

#include "gateway/library/ea_socket.h"
#include "sim/fix_client/fix_client.h"
#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "sim/workstation/trader.h"
#include "support/gateway_config.h"
#include "support/test_support.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const char *const kGatewayCompId = "QEL";

// What the gateway's gate answers to a request it does not let through.
const char *const kGateRefusals[] = {
    "System is not ready to accept requests.",
    "Session Not Found",
    "Journal Download In Progress",
    "User Logon is in Progress",
    "Message type Invalid, Expecting System Information In(35=g)",
};

bool port_open(uint16_t port)
{
    int32_t s = ea_socket(EA_AF_INET, EA_SOCK_STREAM, 0);
    if (s < 0)
        return false;
    bool open = ea_connect(s, "127.0.0.1", port) == 0;
    ea_closesocket(s);
    return open;
}

std::string field(const std::string &text, int tag)
{
    const std::string key = "|" + std::to_string(tag) + "=";
    size_t at = text.find(key);
    if (at == std::string::npos)
        return "";
    at += key.size();
    return text.substr(at, text.find('|', at) - at);
}

// One exchange host, one gateway whose FIX acceptor knows the users 1001 to 1003.
struct fix_road
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t fix_port = 0;

    explicit fix_road(qel_sim::exchange_options exchange = qel_sim::exchange_options())
    {
        host.reset(new qel_sim::sim_host());
        EXPECT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, exchange));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        std::string path = config.write(dir);
        // Without a DataDictionary line the gateway takes the dialect's acceptor dictionary.
        fix_port = qel_test::free_port();
        std::string settings =
            "[DEFAULT]\nConnectionType=acceptor\nNicIpAddress=127.0.0.1\nSocketAcceptPort=" +
            std::to_string(fix_port) +
            "\nFileStorePath=fix_store\nFileLogPath=logs\nStartTime=00:00:00\n"
            "EndTime=00:00:00\nHeartBtInt=30\n";
        for (const char *user : {"1001", "1002", "1003"})
            settings += std::string("[SESSION]\nBeginString=FIX.4.2\nSenderCompID=") + kGatewayCompId +
                        "\nTargetCompID=" + user + ",MEMBR,1\n";
        dir.write(config.values["FIX_FILE_PATH"], settings);
        gateway.reset(new qel_test::child_process({QEL_IP_BINARY, "-c", path}, dir.path()));
        EXPECT_TRUE(qel_test::wait_until([&] { return port_open(fix_port); }, 10000));
    }

    ~fix_road()
    {
        if (gateway)
            stop();
        host->stop();
    }

    std::unique_ptr<qel_sim::fix_client> client(uint32_t user, const std::string &password = "secret")
    {
        qel_sim::fix_client_options options;
        options.port = fix_port;
        options.sender_comp_id = std::to_string(user) + ",MEMBR,1";
        options.target_comp_id = kGatewayCompId;
        options.password = password;
        std::unique_ptr<qel_sim::fix_client> c(new qel_sim::fix_client(options));
        std::string error;
        EXPECT_TRUE(c->start(&error)) << error;
        return c;
    }

    // A client taken along the whole road to the ready state.
    std::unique_ptr<qel_sim::fix_client> ready_client(uint32_t user)
    {
        std::unique_ptr<qel_sim::fix_client> c = client(user);
        EXPECT_TRUE(c->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs)) << c->logout_text();
        EXPECT_TRUE(c->request_journal({}));
        EXPECT_TRUE(c->wait_for_state(qel_sim::fix_client_state::ready, kTimeoutMs)) << c->logout_text();
        return c;
    }

    qel_test::process_result stop()
    {
        gateway->signal(SIGTERM);
        qel_test::process_result result = gateway->wait(20000);
        gateway.reset();
        return result;
    }
};

std::vector<qel_sim::fix_client_message> of_type(const qel_sim::fix_client &c, const std::string &type)
{
    std::vector<qel_sim::fix_client_message> out;
    for (const qel_sim::fix_client_message &m : c.received())
        if (m.type == type)
            out.push_back(m);
    return out;
}
} // namespace

TEST(FixLogonEndToEnd, ClientReachesTheReadyStateAfterTheJournalOfEveryStream)
{
    qel_sim::exchange_options exchange;
    exchange.streams = 2;
    fix_road road(exchange);

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

    std::unique_ptr<qel_sim::fix_client> c = road.client(1001);
    ASSERT_TRUE(c->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs)) << c->logout_text();
    EXPECT_EQ(c->stream_count(), 2);
    EXPECT_TRUE(road.box->wait_for_line("2300 sign-on user 1001: accepted, login count 2", 1000));
    EXPECT_TRUE(road.box->wait_for_line("1600 system information user 1001", 1000));
    std::vector<qel_sim::fix_client_message> logons = of_type(*c, "A");
    ASSERT_EQ(logons.size(), 1u);
    EXPECT_EQ(field(logons[0].text, 6014), "2");
    EXPECT_EQ(logons[0].text.find("99999="), std::string::npos)
        << "the release mark never leaves the gateway";

    ASSERT_TRUE(c->request_journal({}));
    ASSERT_TRUE(c->wait_for_state(qel_sim::fix_client_state::ready, kTimeoutMs)) << c->logout_text();
    EXPECT_TRUE(road.box->wait_for_line("7000 journal download user 1001 stream 1: 1 orders replayed", 1000));
    EXPECT_TRUE(road.box->wait_for_line("7000 journal download user 1001 stream 2: 0 orders replayed", 1000));
    std::vector<qel_sim::fix_client_message> status = of_type(*c, "h");
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(field(status[0].text, 336), "2") << "the login count of the journal";
    EXPECT_EQ(field(status[0].text, 340), "2") << "the exchange is open";
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
        EXPECT_EQ(field(m.text, 37), "1000000000000001") << m.text;
        EXPECT_EQ(field(m.text, 39), "0") << m.text;
    }
    EXPECT_EQ(replayed, 1u);

    // Trading requests now pass the gate and reach the exchange.
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
                                          {59, "0"},
                                          {60, "20261209-05:00:00"},
                                          {204, "1"},
                                          {376, "0"},
                                          {460, "7"}}));
    ASSERT_TRUE(qel_test::wait_until([&] { return of_type(*c, "8").size() + of_type(*c, "j").size() > 1; },
                                     kTimeoutMs));
    for (const qel_sim::fix_client_message &reject : of_type(*c, "j"))
    {
        for (const char *refusal : kGateRefusals)
            EXPECT_NE(field(reject.text, 58), refusal) << reject.text;
    }
    std::vector<qel_sim::fix_client_message> reports = of_type(*c, "8");
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_FALSE(reports[1].poss_resend);
    EXPECT_EQ(field(reports[1].text, 11), "1");
    EXPECT_EQ(field(reports[1].text, 37), "1000000000000002");
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
    fix_road road(exchange);

    struct row
    {
        uint32_t user;
        const char *password;
        const char *text;
    } rows[] = {{1002, "secret", "16300"}, {1003, "wrong", "16053"}};
    for (const row &r : rows)
    {
        std::unique_ptr<qel_sim::fix_client> c = road.client(r.user, r.password);
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
    fix_road road;
    std::unique_ptr<qel_sim::fix_client> first = road.ready_client(1001);
    first->stop();
    ASSERT_TRUE(road.box->wait_for_line("2320 sign-off user 1001: signed off", kTimeoutMs));

    // The slot is free once the user session has flushed the logoff; until then the
    // gateway refuses the same session as a duplicate.
    std::unique_ptr<qel_sim::fix_client> second;
    bool ready = qel_test::wait_until(
        [&]
        {
            second = road.client(1001);
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
