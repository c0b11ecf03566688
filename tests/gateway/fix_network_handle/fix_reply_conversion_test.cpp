// The frame of the reply conversion: which replies reach a FIX client and at which exact
// length, the discards with their log lines, the two exchange-time conversions (on a host
// outside the exchange's zone), the identifiers made from the order number, the stream
// in the header, and the road of a converted reply to a real client: live, and replayed
// from the journal with PossResend.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <string>

#include "gateway/fix_network_handle/fix_front_end_test_support.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"

using namespace fix_front_end_test;

namespace
{
struct Converted
{
    int32_t status = -1;
    std::unique_ptr<FIX::Message> fix;
    std::string log;
};

// A zero record of `length` bytes with the transcode in its header, from client 4 on handle 1.
Converted convertZero(uint32_t length, int16_t transcode, int16_t errorCode = 0, uint8_t stream = 0)
{
    message *m = zeroReply(length, transcode, errorCode, 4, 1);
    if (length > 37)
        m->data[37] = stream;
    FIX::Message *out = nullptr;
    Converted c;
    testing::internal::CaptureStderr();
    c.status = fixReplyGetFixMessage(m, transcode, errorCode, &out, nullptr);
    c.log = testing::internal::GetCapturedStderr();
    message_destroy(m);
    c.fix.reset(out);
    return c;
}

std::string typeOf(const FIX::Message &m)
{
    return m.getHeader().getField(35);
}

// Every reply that reaches a FIX client, with its exact length and the MsgType the client
// gets; "none" for order replies without a FIX form. A zero trade confirmation names no
// side, so it has no ExecID and is dropped ("no side").
const struct
{
    int16_t transcode;
    uint32_t length;
    const char *outcome;
} REPLIES[] = {
    {2001, 240, "none"},    {2012, 240, "8"},  {2041, 240, "none"}, {2042, 240, "9"},  {2072, 240, "9"},
    {2073, 240, "8"},       {2074, 240, "8"},  {2075, 240, "8"},    {2170, 240, "8"},  {2231, 240, "8"},
    {9002, 240, "8"},       {2124, 404, "8"},  {2125, 404, "8"},    {2126, 404, "8"},  {2127, 404, "9"},
    {2130, 404, "8"},       {2131, 404, "8"},  {2132, 404, "8"},    {2133, 404, "9"},  {2136, 404, "8"},
    {2154, 404, "8"},       {2155, 404, "8"},  {2156, 404, "8"},    {9004, 404, "8"},  {2212, 209, "8"},
    {2222, 209, "no side"}, {4000, 162, "U5"}, {4002, 162, "U5"},   {4005, 162, "U5"}, {4007, 162, "U5"},
    {4008, 162, "U5"},      {4010, 162, "U5"}, {4506, 121, "U3"},   {4507, 121, "U3"}, {5295, 289, "B"},
    {6501, 319, "B"},       {6511, 319, "B"},  {6521, 319, "B"},    {6531, 319, "B"},  {6571, 319, "B"},
};

class HostOutsideExchangeZone : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char *zone = getenv("TZ");
        hadZone = zone != nullptr;
        saved = hadZone ? zone : "";
        setenv("TZ", "America/Los_Angeles", 1);
        tzset();
    }
    void TearDown() override
    {
        if (hadZone)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string saved;
    bool hadZone = false;
};
} // namespace

TEST(FixReplyDispatch, EveryReplyForFixClientsIsDispatchedAtItsLength)
{
    size_t count = 0;
    fixReplyKinds(&count);
    EXPECT_EQ(count, sizeof(REPLIES) / sizeof(REPLIES[0]));
    for (const auto &reply : REPLIES)
    {
        SCOPED_TRACE(reply.transcode);
        const fix_reply_kind *kind = fixReplyFindKind(reply.transcode);
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(kind->length, reply.length);
        Converted c = convertZero(reply.length, reply.transcode, 0, 2);
        const std::string outcome = reply.outcome;
        const std::string code = std::to_string(reply.transcode);
        if (outcome == "none")
        {
            EXPECT_EQ(c.status, EA_VALID);
            EXPECT_EQ(c.fix, nullptr);
            EXPECT_EQ(c.log, "Discarding Unknown Message having transcode [" + code +
                                 "]and error code[0] for nw_handle[1] and tws_index[4]\n");
            continue;
        }
        if (outcome == "no side")
        {
            EXPECT_EQ(c.status, EA_VALID);
            EXPECT_EQ(c.fix, nullptr);
            EXPECT_EQ(c.log,
                      "Discarding trade with transcode [" + code +
                          "] having invalid side [0] fill number [0] for nw_handle [1] tws_index [4]\n");
            continue;
        }
        ASSERT_EQ(c.status, EA_SUCCESS) << c.log;
        ASSERT_NE(c.fix, nullptr);
        EXPECT_EQ(typeOf(*c.fix), outcome);
        EXPECT_EQ(c.fix->getHeader().getField(144), "2");
        EXPECT_EQ(c.log, "");
    }
}

TEST(FixReplyDispatch, ReplyOfAnyOtherLengthIsDiscarded)
{
    for (const auto &reply : REPLIES)
        for (uint32_t length : {reply.length - 1, reply.length + 1, 40u})
        {
            SCOPED_TRACE(std::to_string(reply.transcode) + " at " + std::to_string(length));
            Converted c = convertZero(length, reply.transcode);
            EXPECT_EQ(c.status, EA_VALID);
            EXPECT_EQ(c.fix, nullptr);
            EXPECT_EQ(c.log, "Discarding the Message with transcode [" + std::to_string(reply.transcode) +
                                 "] having invalid length [" + std::to_string(length) +
                                 "] Actual length is [" + std::to_string(reply.length) +
                                 "] for nw_handle [1] tws_index [4]\n");
        }
}

TEST(FixReplyDispatch, TranscodeNotForFixClientsIsDiscardedAsUnknown)
{
    for (int16_t transcode : {2013, 2301, 7021, 0, -1})
    {
        SCOPED_TRACE(transcode);
        Converted c = convertZero(240, transcode, 16004);
        EXPECT_EQ(c.status, EA_VALID);
        EXPECT_EQ(c.fix, nullptr);
        EXPECT_EQ(c.log, "Discarding Unknown Message from length validation case having transcode [" +
                             std::to_string(transcode) +
                             "] and error code[16004] for nw_handle[1] and tws_index[4]\n");
    }
}

TEST_F(HostOutsideExchangeZone, ExchangeTimeStampsBecomeUtcWholeSeconds)
{
    const struct
    {
        const char *stamp; // 8 bytes, big-endian 1/65536 s
        const char *utc;
    } cases[] = {
        {"0000000000000000", "19791231-18:30:00"},
        {"000000000000ffff", "19791231-18:30:00"}, // the fraction is dropped
        {"ffffffffffffffff", "19791231-18:30:00"}, // toward zero, also below the epoch
        {"fffffffffffeffff", "19791231-18:29:59"},
        {"00003b9aca648000", "20110908-20:18:20"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.stamp);
        uint8_t bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = static_cast<uint8_t>(std::stoi(std::string(c.stamp + 2 * i, 2), nullptr, 16));
        FIX::UtcTimeStamp time(0, 0, 0, 1, 1, 2000);
        ASSERT_TRUE(fixReplyExchangeStampToUtc(bytes, &time));
        EXPECT_EQ(FIX::UtcTimeStampConvertor::convert(time, 0), c.utc);
    }
    // Millions of years away: no four-digit FIX year, so no time rather than a wrong one.
    const uint8_t far[8] = {0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    FIX::UtcTimeStamp untouched(0, 0, 0, 1, 1, 2000);
    EXPECT_FALSE(fixReplyExchangeStampToUtc(far, &untouched));
    EXPECT_EQ(FIX::UtcTimeStampConvertor::convert(untouched, 0), "20000101-00:00:00");
    const struct
    {
        uint32_t seconds;
        const char *utc;
    } secondsCases[] = {
        {0, "19791231-18:30:00"}, {1000000000, "20110908-20:16:40"}, {0xffffffffu, "21160207-00:58:15"}};
    for (const auto &c : secondsCases)
    {
        SCOPED_TRACE(c.seconds);
        FIX::UtcTimeStamp time(0, 0, 0, 1, 1, 2000);
        ASSERT_TRUE(fixReplyExchangeSecondsToUtc(c.seconds, &time));
        EXPECT_EQ(FIX::UtcTimeStampConvertor::convert(time, 0), c.utc);
    }
}

TEST_F(HostOutsideExchangeZone, HeaderCarriesSendingTimeAndStream)
{
    const struct
    {
        uint8_t stream;
        const char *location;
    } cases[] = {{0, "0"}, {3, "3"}, {9, "9"}, {12, "12"}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.location);
        Converted out = convertZero(240, 2073, 0, c.stream);
        ASSERT_EQ(out.status, EA_SUCCESS);
        EXPECT_EQ(out.fix->getHeader().getField(144), c.location);
        EXPECT_EQ(out.fix->getHeader().getField(370), "19791231-18:30:00");
        // A zero record: every time in it is the exchange epoch, whose exchange date is 1980-01-01.
        EXPECT_EQ(out.fix->getField(60), "19791231-18:30:00");
        EXPECT_EQ(out.fix->getField(200), "198001");
        EXPECT_EQ(out.fix->getField(205), "01");
    }
}

TEST(FixReplyIdentifiers, OrderNumberRendersAsSixteenSignificantDigits)
{
    const struct
    {
        double number;
        const char *orderId;
        const char *execIdMiddle;
    } cases[] = {
        {1234567890123456.0, "1234567890123456", "1234567890123456"},
        {1234.0, "1234000000000000", "0000000000001234"},
        {0.0, "0000000000000000", "0000000000000000"},
        {-1234.0, "1234000000000000", "-000000000001234"},
        {12345678901234567.0, "1234567890123457", "12345678901234568"},
        {std::numeric_limits<double>::quiet_NaN(), "0000000000000000", nullptr},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.orderId);
        EXPECT_EQ(fixReplyOrderIdText(c.number), c.orderId);
        if (c.execIdMiddle != nullptr)
        {
            EXPECT_EQ(fixReplyOrderExecId(2073, "OE", c.number, 77),
                      std::string("2073OE") + c.execIdMiddle + "0000000077");
        }
    }
    // The widest double still gives a whole identifier.
    EXPECT_EQ(fixReplyOrderExecId(2073, "OE", 1e300, 1).size(), 6u + 301u + 10u);
}

TEST(FixReplyIdentifiers, TextFieldsEndAtZeroOrFieldSeparator)
{
    const uint8_t record[] = {'A', ' ', 'B', 0, 'C', 'D', 1, 'E', 'F', ' '};
    EXPECT_EQ(fixReplyText(record, 0, 2), "A ");
    EXPECT_EQ(fixReplyText(record, 0, 10), "A B");
    EXPECT_EQ(fixReplyText(record, 4, 6), "CD");
    EXPECT_EQ(fixReplyText(record, 7, 3), "EF ");
}

TEST(FixReplyApplication, ConvertsThroughTheApplicationAndReplaysTheJournalWithPossResend)
{
    GatewaySide side;
    Application a(side, 4);
    ASSERT_NE(a.app, nullptr);

    // The application's entry point is the conversion.
    {
        message *m = zeroReply(240, 2072, 16004, 4, 1);
        FIX::Message *out = nullptr;
        EXPECT_EQ(a.app->fixNwInfoGetFixMessage(m, 2072, 16004, &out, nullptr), EA_SUCCESS);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(typeOf(*out), "9");
        EXPECT_EQ(out->getField(58), "16004");
        delete out;
        message_destroy(m);
    }

    SendThread sender(side, a.app);
    Client client(a.port);
    client.start();
    Record notification(side.take(side.toBoxComm()));
    ASSERT_NE(notification, nullptr);
    put(side.fromBoxComm(), message_create(0, CONNECTION_ACCEPT));
    Record signOn(side.take(side.toUserSession()));
    ASSERT_NE(signOn, nullptr);

    message *response = zeroReply(214, 2301, 0, 4, 1);
    put_u32_be(response->data, 0, 1001);
    put(side.fromUserSession(), response);
    Record systemInfo(side.take(side.toUserSession()));
    ASSERT_NE(systemInfo, nullptr);
    message *reply = zeroReply(44, 1601, 0, 4, 1);
    reply->data[8] = 1; // one stream
    put(side.fromUserSession(), reply);
    ASSERT_TRUE(client.waitFor("A"));

    FIX42::TradingSessionStatusRequest request(FIX::TradSesReqID("1"), FIX::SubscriptionRequestType('0'));
    request.setField(FIX::IntField(6015, 1));
    FIX::Group entry(6015, 6001, FIX::message_order(6001, 0));
    entry.setField(FIX::StringField(6001, "20261209-03:30:00"));
    request.addGroup(entry);
    client.send(request);
    Record journalRequest(side.take(side.toUserSession()));
    ASSERT_NE(journalRequest, nullptr);

    // Journal data: a 40-byte 7021 header around a whole 2073 of client order 77.
    message *data = zeroReply(280, 7021, 0, 4, 1);
    uint8_t *inner = data->data + 40;
    put_u16_be(inner, 10, 2073);
    put_u16_be(inner, 38, 240);
    inner[37] = 1;
    memcpy(inner + 58, "FUTIDX", 6);
    put_u32_le(inner, 220, 77);
    put(side.fromUserSession(), data);
    put(side.fromUserSession(), zeroReply(40, 7031, 0, 4, 1));
    ASSERT_TRUE(client.waitFor("h"));
    const std::string replayed = client.application.firstOfType("8");
    ASSERT_FALSE(replayed.empty());
    EXPECT_NE(replayed.find("|97=Y|"), std::string::npos) << replayed;
    EXPECT_NE(replayed.find("|11=77|"), std::string::npos) << replayed;
    EXPECT_NE(replayed.find("|17=2073OE00000000000000000000000077|"), std::string::npos) << replayed;
    EXPECT_NE(replayed.find("|144=1|"), std::string::npos) << replayed;

    // A live reply in the ready state: the same report without PossResend.
    message *live = zeroReply(240, 2073, 0, 4, 1);
    put_u32_le(live->data, 220, 78);
    put(side.fromUserSession(), live);
    ASSERT_TRUE(fix_test::waitUntil(
        [&]
        {
            for (const auto &text : client.application.received())
                if (text.find("|11=78|") != std::string::npos)
                    return true;
            return false;
        }));
    for (const auto &text : client.application.received())
        if (text.find("|11=78|") != std::string::npos)
        {
            EXPECT_NE(text.find("|35=8|"), std::string::npos) << text;
            EXPECT_EQ(text.find("|97="), std::string::npos) << text;
        }
    EXPECT_EQ(sender.stop(), 204u);
}
