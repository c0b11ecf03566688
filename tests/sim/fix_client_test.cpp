// The simulated FIX client against a plain acceptor of the same engine on loopback. The
// acceptor validates with the gateway's acceptor dictionary and plays the gateway's part
// of the logon road only as far as the client can see it: it answers a marked Logon with
// the stream count, replays one journal message per stream and reports the trading
// session status, or logs the client out with an exchange error code.
#include "sim/fix_client/fix_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Application.h"
#include "Session.h"
#include "SessionSettings.h"
#include "SocketAcceptor.h"
#include "fix_engine/fix_engine_test_support.h"

namespace
{

const char *const CLIENT_ID = "12,AB,0";

class PlainGatewayApplication : public FIX::Application
{
  public:
    PlainGatewayApplication(int stream_count, const std::string &refusal)
        : m_stream_count(stream_count), m_refusal(refusal)
    {
    }

    void onCreate(const FIX::SessionID &) override {}
    void onLogon(const FIX::SessionID &) override {}
    void onLogout(const FIX::SessionID &) override {}
    // The engine's own Logon answer leaves only with the mark; it carries the stream count.
    void toAdmin(FIX::Message &message, const FIX::SessionID &) override
    {
        if (message.getHeader().getField(FIX::FIELD::MsgType) != FIX::MsgType_Logon || !m_refusal.empty())
            return;
        message.getHeader().setField(99999, "VALID_LOGON");
        if (m_stream_count >= 0)
            message.setField(6014, std::to_string(m_stream_count));
    }
    void toApp(FIX::Message &, const FIX::SessionID &) noexcept override {}
    void fromAdmin(const FIX::Message &message, const FIX::SessionID &id) noexcept override
    {
        const std::string type = message.getHeader().getField(FIX::FIELD::MsgType);
        if (type == FIX::MsgType_Heartbeat)
            return;
        record(message);
        if (type == FIX::MsgType_Logon && !m_refusal.empty())
        {
            FIX::Message logout;
            logout.getHeader().setField(FIX::FIELD::MsgType, FIX::MsgType_Logout);
            logout.setField(FIX::FIELD::Text, m_refusal);
            FIX::Session::sendToTarget(logout, id);
        }
    }
    void fromApp(const FIX::Message &message, const FIX::SessionID &id) noexcept override
    {
        record(message);
        if (message.getHeader().getField(FIX::FIELD::MsgType) != FIX::MsgType_TradingSessionStatusRequest)
            return;
        if (message.getField(6015) != std::to_string(m_stream_count))
            return;
        for (int stream = 1; stream <= m_stream_count; stream++)
            FIX::Session::sendToTarget(*replayed_report(stream), id);
        FIX::Message status;
        status.getHeader().setField(FIX::FIELD::MsgType, FIX::MsgType_TradingSessionStatus);
        status.setField(FIX::FIELD::TradingSessionID, "4567");
        status.setField(FIX::FIELD::TradSesStatus, "2");
        FIX::Session::sendToTarget(status, id);
    }

    std::vector<std::string> received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    std::string first_of(const std::string &type)
    {
        for (const std::string &text : received())
            if (text.find("|35=" + type + "|") != std::string::npos)
                return text;
        return "";
    }

  private:
    static std::unique_ptr<FIX::Message> replayed_report(int stream)
    {
        std::unique_ptr<FIX::Message> report(new FIX::Message);
        report->getHeader().setField(FIX::FIELD::MsgType, FIX::MsgType_ExecutionReport);
        report->getHeader().setField(FIX::FIELD::PossResend, "Y");
        const std::pair<int, std::string> fields[] = {{37, "90" + std::to_string(stream)},
                                                      {17, "1"},
                                                      {20, "0"},
                                                      {150, "0"},
                                                      {39, "0"},
                                                      {55, "ZORAX"},
                                                      {54, "1"},
                                                      {151, "50"},
                                                      {14, "0"},
                                                      {6, "0"}};
        for (const auto &field : fields)
            report->setField(field.first, field.second);
        return report;
    }
    void record(const FIX::Message &message)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(fix_test::readable(message.toString()));
    }

    const int m_stream_count;
    const std::string m_refusal;
    std::mutex m_mutex;
    std::vector<std::string> m_received;
};

struct PlainGateway
{
    PlainGateway(int stream_count, const std::string &refusal = "")
        : port(reservation.number()), application(stream_count, refusal),
          settings(fix_test::settingsFrom(
              "[DEFAULT]\nConnectionType=acceptor\nStartTime=00:00:00\n"
              "EndTime=00:00:00\nUseDataDictionary=Y\nDataDictionary=" QEL_FIX_DICTIONARY_DIR
              "/FIX42_qel_acceptor.xml\nSocketAcceptPort=" +
              std::to_string(port) +
              "\n[SESSION]\nBeginString=FIX.4.2\nSenderCompID=GATEWAY\n"
              "TargetCompID=" +
              CLIENT_ID + "\n")),
          acceptor(application, stores, settings)
    {
        acceptor.start();
    }
    ~PlainGateway() { acceptor.stop(true); }

    qel_test::reserved_port reservation;
    uint16_t port;
    PlainGatewayApplication application;
    FIX::SessionSettings settings;
    FIX::MemoryStoreFactory stores;
    FIX::SocketAcceptor acceptor;
};

qel_sim::fix_client_options client_options(uint16_t port)
{
    qel_sim::fix_client_options options;
    options.port = port;
    options.sender_comp_id = CLIENT_ID;
    options.password = "secret";
    options.new_password = "renewed";
    return options;
}

size_t count_of(const std::vector<std::string> &texts, const std::string &part)
{
    size_t count = 0;
    for (const std::string &text : texts)
        count += text.find(part) != std::string::npos ? 1 : 0;
    return count;
}

TEST(FixClient, FollowsTheLogonRoadToReady)
{
    PlainGateway gateway(2);
    qel_sim::fix_client client(client_options(gateway.port));
    std::string error;
    ASSERT_TRUE(client.start(&error)) << error;
    ASSERT_TRUE(client.wait_for_state(qel_sim::fix_client_state::logged_on, 10000));
    EXPECT_EQ(client.stream_count(), 2);

    // The Logon as the gateway sees it: the release mark never reaches the wire.
    const std::string logon = gateway.application.first_of("A");
    for (const char *field :
         {"|98=0|", "|108=30|", "|95=5|96=12345|", "|141=Y|", "|554=secret|", "|925=renewed|"})
        EXPECT_NE(logon.find(field), std::string::npos) << field << " in " << logon;
    EXPECT_EQ(logon.find("99999="), std::string::npos) << logon;

    ASSERT_TRUE(client.request_journal({"20261209-00:00:00", "20261209-01:30:00"}));
    ASSERT_TRUE(client.wait_for_state(qel_sim::fix_client_state::ready, 10000));
    const std::string request = gateway.application.first_of("g");
    EXPECT_NE(request.find("|6015=2|6001=20261209-00:00:00|6001=20261209-01:30:00|"), std::string::npos)
        << request;

    size_t replayed = 0;
    for (const qel_sim::fix_client_message &m : client.received())
        replayed += m.type == "8" && m.poss_resend ? 1 : 0;
    EXPECT_EQ(replayed, 2u);
    EXPECT_EQ(client.received().back().type, "h");
    client.stop();
}

TEST(FixClient, SendsTheDialectsRequestsAsTheAcceptorParsesThem)
{
    PlainGateway gateway(1);
    qel_sim::fix_client client(client_options(gateway.port));
    ASSERT_TRUE(client.start(nullptr));
    ASSERT_TRUE(client.wait_for_state(qel_sim::fix_client_state::logged_on, 10000));
    ASSERT_TRUE(client.request_journal({}));
    ASSERT_TRUE(client.wait_for_state(qel_sim::fix_client_state::ready, 10000));

    const qel_sim::fix_client_fields order = {{11, "1"},     {21, "1"},      {55, "ZORAX"},
                                              {48, "35001"}, {54, "1"},      {38, "50"},
                                              {40, "2"},     {44, "100.25"}, {60, "20261209-05:00:00"},
                                              {460, "2"}};
    const qel_sim::fix_client_fields leg_1 = {{600, "ZORAX"}, {602, "35001"}, {624, "1"},
                                              {685, "50"},    {566, "1.5"},   {6009, "1"}};
    const qel_sim::fix_client_fields leg_2 = {
        {600, "ZORAX"}, {602, "35002"}, {624, "2"}, {685, "50"}, {566, "0"}};
    qel_sim::fix_client_fields filled_leg_2 = leg_2;
    filled_leg_2.push_back({6011, "10"});
    EXPECT_TRUE(client.send_new_order_single(order));
    EXPECT_TRUE(client.send_order_cancel_request(
        {{11, "2"}, {41, "1"}, {37, "77"}, {55, "ZORAX"}, {54, "1"}, {60, "20261209-05:00:00"}}));
    EXPECT_TRUE(client.send_order_cancel_replace_request({{11, "3"},
                                                          {41, "1"},
                                                          {37, "77"},
                                                          {21, "1"},
                                                          {55, "ZORAX"},
                                                          {54, "1"},
                                                          {40, "2"},
                                                          {14, "0"},
                                                          {6000, "20261209-05:00:00"}}));
    EXPECT_TRUE(client.send_spread_multi_leg_single({{11, "4"}, {204, "1"}, {376, "C1"}, {6008, "1"}},
                                                    {leg_1, leg_2}));
    EXPECT_TRUE(client.send_spread_cancel_replace_request(
        {{37, "88"}, {11, "5"}, {204, "1"}, {376, "C1"}, {6013, "N"}, {6000, "20261209-05:00:00"}},
        {leg_1, filled_leg_2}));
    EXPECT_TRUE(client.send_position_maintenance_request({{48, "35001"},
                                                          {55, "ZORAX"},
                                                          {460, "2"},
                                                          {167, "FUT"},
                                                          {200, "202612"},
                                                          {205, "31"},
                                                          {204, "1"},
                                                          {53, "5"},
                                                          {709, "1"},
                                                          {710, "6"},
                                                          {712, "1"}}));

    ASSERT_TRUE(fix_test::waitUntil([&] { return !gateway.application.first_of("U4").empty(); }, 10000));
    const std::string spread = gateway.application.first_of("U1");
    EXPECT_NE(spread.find("|555=2|600=ZORAX|602=35001|6009=1|624=1|685=50|566=1.5|600=ZORAX|602=35002|"),
              std::string::npos)
        << spread;
    EXPECT_NE(gateway.application.first_of("U2").find("|566=0|6011=10|"), std::string::npos);
    for (const char *type : {"D", "F", "G"})
        EXPECT_FALSE(gateway.application.first_of(type).empty()) << type;
    // Nothing the client sent was refused by the acceptor's dictionary (LegCumQty in a U1
    // leg would be: "Tag not defined for this message type").
    EXPECT_EQ(count_of(gateway.application.received(), "|35=3|"), 0u);
    for (const qel_sim::fix_client_message &m : client.received())
        EXPECT_NE(m.type, "3") << m.text;
    client.stop();
}

TEST(FixClient, RequestsOutsideTheDialectAreRefusedByTheAcceptor)
{
    PlainGateway gateway(1);
    qel_sim::fix_client client(client_options(gateway.port));
    ASSERT_TRUE(client.start(nullptr));
    ASSERT_TRUE(client.wait_for_state(qel_sim::fix_client_state::logged_on, 10000));
    EXPECT_TRUE(client.send_spread_multi_leg_single({{11, "4"}, {204, "1"}, {376, "C1"}, {6008, "1"}},
                                                    {{{600, "ZORAX"}, {6011, "10"}}}));
    ASSERT_TRUE(client.wait_for_messages("3", 1, 10000));
    EXPECT_NE(client.received().back().text.find("|371=6011|372=U1|"), std::string::npos);
    client.stop();
}

// A Logon answer without the stream count is not the gateway's logon response.
TEST(FixClient, WaitsForALogonAnswerThatCarriesTheStreamCount)
{
    PlainGateway gateway(-1);
    qel_sim::fix_client client(client_options(gateway.port));
    ASSERT_TRUE(client.start(nullptr));
    ASSERT_TRUE(client.wait_for_messages("A", 1, 10000));
    EXPECT_FALSE(client.wait_for_state(qel_sim::fix_client_state::logged_on, 500));
    EXPECT_EQ(client.stream_count(), -1);
    client.stop();
}

TEST(FixClient, EndsWithTheExchangeErrorCodeWhenLoggedOut)
{
    PlainGateway gateway(1, "16389");
    qel_sim::fix_client client(client_options(gateway.port));
    ASSERT_TRUE(client.start(nullptr));
    ASSERT_TRUE(client.wait_for_state(qel_sim::fix_client_state::logged_out, 10000));
    EXPECT_EQ(client.logout_text(), "16389");
    EXPECT_EQ(client.stream_count(), -1);
    EXPECT_FALSE(client.request_journal({"20261209-00:00:00"}) &&
                 client.wait_for_state(qel_sim::fix_client_state::ready, 200));
    client.stop();
}

} // namespace
