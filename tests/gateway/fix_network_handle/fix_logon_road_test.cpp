// The FIX application against a real FIX client of the same engine on loopback: logon
// admission and its refusals, the exchange logon sequence driven through the shared
// queues (the test plays the box communication and user session threads), the journal
// download, and the gate in front of application messages.
#include <gtest/gtest.h>

#include <thread>

#include "gateway/fix_network_handle/fix_front_end_test_support.h"
#include "support/fix_text.h"
#include "support/hex.h"

using namespace fix_front_end_test;
using qel_test::fix_field;
using qel_test::fix_has_field;
using qel_test::hex_digits;
using qel_test::to_hex;

namespace
{
// The sign-on response 2301 of user 1001 as the exchange sends it (214 or 182 bytes).
message *signOnResponse(uint32_t length, int16_t errorCode, uint16_t clientIndex, int32_t handle)
{
    message *m = zeroReply(length, 2301, errorCode, clientIndex, handle);
    put_u32_be(m->data, 0, 1001);
    memcpy(m->data + 44, "secret", 6);
    memcpy(m->data + 60, "TRADER ONE", 10);
    put_u64_be(m->data, 160, 0x0000000100000000ull); // journal floor time
    if (length >= 214)
    {
        m->data[182] = 'A';
        put_u16_be(m->data, 186, 2);
        m->data[188] = 'S';
        memcpy(m->data + 189, "MEMBER NAME", 11);
    }
    return m;
}

// System information reply 1601: stream count at 8, market status at 40.
message *systemInfoReply(uint8_t streams, uint16_t marketStatus, uint16_t clientIndex, int32_t handle)
{
    message *m = zeroReply(44, 1601, 0, clientIndex, handle);
    put_u32_be(m->data, 0, 1001);
    m->data[8] = streams;
    put_u16_be(m->data, 40, marketStatus);
    return m;
}

FIX42::TradingSessionStatusRequest statusRequest(const std::vector<std::string> &times)
{
    FIX42::TradingSessionStatusRequest request(FIX::TradSesReqID("1"), FIX::SubscriptionRequestType('0'));
    request.setField(FIX::IntField(6015, static_cast<int>(times.size())));
    for (const auto &time : times)
    {
        FIX::Group entry(6015, 6001, FIX::message_order(6001, 0));
        entry.setField(FIX::StringField(6001, time));
        request.addGroup(entry);
    }
    return request;
}

// Takes the logon as far as the box's admission: the client is connected and pending.
void logOnPending(GatewaySide &side, Client &client)
{
    client.start();
    Record notification(side.take(side.toBoxComm()));
    ASSERT_NE(notification, nullptr);
    EXPECT_EQ(notification->tag, INCOMING_CLIENT_CONNECTION);
    EXPECT_EQ(notification->user_type, 1);
}
} // namespace

TEST(FixLogonRoad, ClientReachesTheReadyStateThroughTheExchangeLogon)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    SendThread sender(side, a.app);
    Client client(a.port);
    logOnPending(side, client);
    EXPECT_EQ(a.app->fixNwInfoSlotSnapshot(0).pending, 1);

    put(side.fromBoxComm(), message_create(0, CONNECTION_ACCEPT));
    Record signOn(side.take(side.toUserSession()));
    ASSERT_NE(signOn, nullptr);
    EXPECT_EQ(signOn->tag, NORMAL_MESSAGE);
    EXPECT_EQ(signOn->user_type, 1);
    EXPECT_EQ(signOn->workstation_index, 4); // slot 0 after the 4 workstation slots
    EXPECT_EQ(signOn->workstation_network_handle, 1);
    ASSERT_EQ(signOn->data_length, 214);
    EXPECT_EQ(get_i16_be(signOn->data, 10), 2300);
    EXPECT_EQ(get_u32_be(signOn->data, 40), 1001u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(signOn->data + 44), 8), "secret  ");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(signOn->data + 52), 8), "        ");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(signOn->data + 90), 5), "MEMBR");
    EXPECT_EQ(get_u32_be(signOn->data, 98), 41402u);
    EXPECT_EQ(a.app->fixNwInfoSlotSnapshot(0).pending, 0);

    put(side.fromUserSession(), signOnResponse(214, 0, 4, 1));
    Record systemInfo(side.take(side.toUserSession()));
    ASSERT_NE(systemInfo, nullptr);
    // user 1001, zero, two blanks, 1600, error 0, 24 zero bytes, length 44, u32 0
    EXPECT_EQ(to_hex(systemInfo.get()), hex_digits("000003e9 00000000 2020 0640 0000 000000000000000000000000"
                                                   "000000000000000000000000 002c 00000000"));
    EXPECT_EQ(systemInfo->workstation_index, 4);
    EXPECT_EQ(systemInfo->workstation_network_handle, 1);
    EXPECT_EQ(systemInfo->user_type, 1);

    put(side.fromUserSession(), systemInfoReply(2, 1, 4, 1));
    ASSERT_TRUE(client.waitFor("A"));
    const std::string logon = client.application.firstOfType("A");
    EXPECT_EQ(fix_field(logon, 6014), "2");
    EXPECT_EQ(fix_field(logon, 108), "30");
    EXPECT_EQ(fix_field(logon, 554), "secret");
    EXPECT_EQ(fix_field(logon, 6004), "TRADER ONE");
    EXPECT_EQ(fix_field(logon, 6003), "MEMBER NAME");
    EXPECT_EQ(fix_field(logon, 6002), "A");
    EXPECT_EQ(fix_field(logon, 6005), "2");
    EXPECT_EQ(fix_field(logon, 6006), "S");
    EXPECT_FALSE(fix_has_field(logon, 99999));
    EXPECT_TRUE(fix_test::waitUntil([&] { return client.application.m_logons.load() == 1; }));

    // An order before the system information request is refused by the gate.
    FIX42::NewOrderSingle order(FIX::ClOrdID("7"), FIX::HandlInst('1'), FIX::Symbol("ZORAX"), FIX::Side('1'),
                                FIX::TransactTime(), FIX::OrdType('2'));
    client.send(order);
    ASSERT_TRUE(client.waitFor("j"));
    EXPECT_EQ(fix_field(client.application.firstOfType("j"), 58),
              "Message type Invalid, Expecting System Information In(35=g)");

    FIX42::TradingSessionStatusRequest request = statusRequest({"20261209-03:30:00", "19800101-00:00:00"});
    client.send(request);
    Record first(side.take(side.toUserSession()));
    Record second(side.take(side.toUserSession()));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    // Stream 1: one second before the client's time (above the floor); stream 2: the floor.
    EXPECT_EQ(to_hex(first.get()), hex_digits("000003e9 00000000 3100 1b58 0000 000000000000000000000000"
                                              "000000000000000000000000 0030 0000584a728f0000"));
    EXPECT_EQ(to_hex(second.get()), hex_digits("000003e9 00000000 3200 1b58 0000 000000000000000000000000"
                                               "000000000000000000000000 0030 0000000100000000"));
    EXPECT_EQ(second->sequence_number, first->sequence_number + 1);
    EXPECT_EQ(first->workstation_index, 4);
    EXPECT_EQ(a.app->fixNwInfoSlotSnapshot(0).state, FIX_SLOT_JOURNAL_DOWNLOAD);

    put(side.fromUserSession(), zeroReply(40, 7011, 0, 4, 1));
    put(side.fromUserSession(), zeroReply(40, 7031, 0, 4, 1));
    message *lastTrailer = zeroReply(40, 7031, 0, 4, 1);
    lastTrailer->login_count = 77;
    put(side.fromUserSession(), lastTrailer);
    ASSERT_TRUE(client.waitFor("h"));
    const std::string status = client.application.firstOfType("h");
    EXPECT_EQ(fix_field(status, 336), "77");
    EXPECT_EQ(fix_field(status, 340), "2"); // market status 1
    EXPECT_EQ(a.app->fixNwInfoSlotSnapshot(0).state, FIX_SLOT_READY);
    EXPECT_EQ(sender.stop(), 204u);
}

TEST(FixLogonRoad, ShortSignOnResponseCarriesNoFieldsBeyondItsLength)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    SendThread sender(side, a.app);
    Client client(a.port);
    logOnPending(side, client);
    put(side.fromBoxComm(), message_create(0, CONNECTION_ACCEPT));
    Record signOn(side.take(side.toUserSession()));
    ASSERT_NE(signOn, nullptr);

    // 200 bytes is no sign-on response; a second one after a valid one is dropped.
    put(side.fromUserSession(), signOnResponse(200, 0, 4, 1));
    put(side.fromUserSession(), signOnResponse(182, 0, 4, 1));
    put(side.fromUserSession(), signOnResponse(182, 0, 4, 1));
    Record systemInfo(side.take(side.toUserSession()));
    ASSERT_NE(systemInfo, nullptr);
    EXPECT_EQ(get_i16_be(systemInfo->data, 10), 1600);
    EXPECT_EQ(side.take(side.toUserSession(), 300), nullptr);

    // No stream at all: the download is complete as soon as it is asked for.
    put(side.fromUserSession(), systemInfoReply(0, 3, 4, 1));
    ASSERT_TRUE(client.waitFor("A"));
    const std::string logon = client.application.firstOfType("A");
    EXPECT_EQ(fix_field(logon, 6014), "0");
    EXPECT_FALSE(fix_has_field(logon, 6002));
    EXPECT_FALSE(fix_has_field(logon, 6003));
    FIX42::TradingSessionStatusRequest request = statusRequest({});
    client.send(request);
    ASSERT_TRUE(client.waitFor("h"));
    EXPECT_EQ(fix_field(client.application.firstOfType("h"), 340), "7"); // market status 3
    EXPECT_EQ(a.app->fixNwInfoSlotSnapshot(0).state, FIX_SLOT_READY);
}

TEST(FixLogonRoad, ExchangeErrorOnSignOnEndsInLogoutWithTheErrorCode)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    SendThread sender(side, a.app);
    Client client(a.port);
    logOnPending(side, client);
    put(side.fromBoxComm(), message_create(0, CONNECTION_ACCEPT));
    Record signOn(side.take(side.toUserSession()));
    put(side.fromUserSession(), signOnResponse(214, 16042, 4, 1));
    ASSERT_TRUE(client.waitFor("5"));
    EXPECT_EQ(fix_field(client.application.firstOfType("5"), 58), "16042");
    // The exchange knows the user: its logoff goes to the user session thread, with the
    // reason of a client that logged out (the client answered the Logout with its own).
    Record disconnected(side.take(side.toUserSession()));
    ASSERT_NE(disconnected, nullptr);
    EXPECT_EQ(disconnected->tag, CLIENT_DISCONNECTED);
    EXPECT_EQ(disconnected->workstation_index, 4);
    EXPECT_EQ(disconnected->workstation_network_handle, 1);
    EXPECT_EQ(disconnected->reason_code, 11007);
}

TEST(FixLogonRefusals, InvalidLogonFieldsEndInLogoutWithTheirText)
{
    struct
    {
        const char *name;
        int heartBeat;
        std::map<int, std::string> fields;
        const char *target;
        const char *text;
    } cases[] = {
        {"heart beat", 60, {}, CLIENT_COMP_ID, "Invalid value for field id 108"},
        {"raw data length 4", 30, {{95, "4"}, {96, "4140"}}, CLIENT_COMP_ID, "Invalid value for field id 95"},
        {"raw data length 8",
         30,
         {{95, "8"}, {96, "41402000"}},
         CLIENT_COMP_ID,
         "Invalid value for field id 95"},
        {"reset flag N", 30, {{141, "N"}}, CLIENT_COMP_ID, "ResetSeqNumFlag is Invalid"},
        {"front end version", 30, {{96, "4a402"}}, CLIENT_COMP_ID, "Front End Version is Invalid"},
        {"password too long", 30, {{554, "123456789"}}, CLIENT_COMP_ID, "Invalid Length for field id 554"},
        {"trader id", 30, {}, "0,AB,1", "TraderID is Invalid"},
        {"member id", 30, {}, "12,ABCDEF,1", "MemberID is Invalid"},
        {"branch id", 30, {}, "12,AB,-1", "BranchID is Invalid"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        GatewaySide side;
        Application a(side, 4, true, "CONTRACT_EXPIRY_OFFSET=15:30:00\n", c.target);
        ASSERT_NE(a.app, nullptr);
        Client client(a.port, c.target, c.heartBeat);
        for (const auto &field : c.fields)
            client.application.logonFields[field.first] = field.second;
        client.start();
        ASSERT_TRUE(client.waitFor("5"));
        EXPECT_EQ(fix_field(client.application.firstOfType("5"), 58), c.text);
        Record event(side.take(side.toInterface()));
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->tag, KOVA_MESSAGE);
        EXPECT_EQ(event->reason_code, 11026);
        EXPECT_EQ(side.take(side.toBoxComm(), 100), nullptr);
        EXPECT_EQ(a.app->fixNwInfoValidClientCount(), 0);
    }
}

TEST(FixLogonRefusals, MissingPasswordIsReportedAsTheMissingField)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    Client client(a.port);
    client.application.logonFields[554] = "";
    client.start();
    ASSERT_TRUE(client.waitFor("5"));
    EXPECT_EQ(fix_field(client.application.firstOfType("5"), 58), "Field not found 554");
    Record event(side.take(side.toInterface()));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 11026);
}

TEST(FixLogonRefusals, BoxRejectionLogsOutEveryWaitingClientWithOneConsoleEvent)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    SendThread sender(side, a.app);
    Client client(a.port);
    logOnPending(side, client);
    put(side.fromBoxComm(), message_create(0, NEW_CONNECTION_REJECT));
    Record event(side.take(side.toInterface()));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->tag, KOVA_MESSAGE);
    EXPECT_EQ(event->reason_code, 11016);
    EXPECT_EQ(event->user_id, 0xFFFFFFFFu);
    ASSERT_TRUE(client.waitFor("5"));
    EXPECT_TRUE(fix_test::waitUntil([&] { return a.app->fixNwInfoValidClientCount() == 0; }));
    // Nothing reached the user session thread.
    EXPECT_EQ(side.take(side.toUserSession(), 200), nullptr);
}

TEST(FixLogonRefusals, ClientLeavingBeforeAdmissionFreesItsSlotAndTellsTheConsole)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    {
        Client client(a.port);
        logOnPending(side, client);
    } // the client stops and disconnects
    Record event(side.take(side.toInterface()));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 11009);
    EXPECT_EQ(event->user_id, 1001u);
    EXPECT_TRUE(fix_test::waitUntil([&] { return a.app->fixNwInfoValidClientCount() == 0; }));
    EXPECT_EQ(side.take(side.toUserSession(), 100), nullptr);
}

TEST(FixLogonRefusals, FullTableRefusesTheNextClient)
{
    GatewaySide side;
    Application a(side, 1, true, "CONTRACT_EXPIRY_OFFSET=15:30:00\n", CLIENT_COMP_ID, "2002,MEMBR,1");
    ASSERT_NE(a.app, nullptr);
    Client first(a.port);
    logOnPending(side, first);
    Client second(a.port, "2002,MEMBR,1");
    second.start();
    ASSERT_TRUE(second.waitFor("5"));
    EXPECT_EQ(fix_field(second.application.firstOfType("5"), 58), "Max Number of connection exceeds");
    Record event(side.take(side.toInterface()));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->reason_code, 11013);
    EXPECT_EQ(a.app->fixNwInfoValidClientCount(), 1);
}

TEST(FixClientControl, UserLogoffFlushLogsTheClientOutAndFreesItsSlot)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);
    SendThread sender(side, a.app);
    Client client(a.port);
    logOnPending(side, client);
    put(side.fromBoxComm(), message_create(0, CONNECTION_ACCEPT));
    Record signOn(side.take(side.toUserSession()));
    ASSERT_NE(signOn, nullptr);

    message *flush = message_create(0, USER_LOGOFF_FLUSH);
    flush->workstation_index = 4;
    flush->workstation_network_handle = 1;
    flush->user_id = 1001;
    flush->reason_code = 11009;
    put(side.fromUserSession(), flush);
    ASSERT_TRUE(client.waitFor("5"));
    // The engine reports the end of the session on its own thread: while the send thread
    // is between the Logout and the slot's clean-up, the slot's CLIENT_DISCONNECTED may
    // come first.
    Record forwarded(side.take(side.toUserSession()));
    ASSERT_NE(forwarded, nullptr);
    if (forwarded->tag == CLIENT_DISCONNECTED)
    {
        EXPECT_EQ(forwarded->workstation_index, 4);
        EXPECT_EQ(forwarded->workstation_network_handle, 1);
        forwarded.reset(side.take(side.toUserSession()));
        ASSERT_NE(forwarded, nullptr);
    }
    EXPECT_EQ(forwarded->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(forwarded->workstation_index, 4);
    Record event(side.take(side.toInterface()));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->tag, KOVA_MESSAGE);
    EXPECT_EQ(event->user_id, 1001u);
    EXPECT_EQ(event->reason_code, 11009);
    EXPECT_EQ(a.app->fixNwInfoValidClientCount(), 0);
    // A reply for the old handle no longer reaches anyone.
    put(side.fromUserSession(), zeroReply(40, 7011, 0, 4, 1));
    EXPECT_EQ(side.take(side.toUserSession(), 200), nullptr);
}
