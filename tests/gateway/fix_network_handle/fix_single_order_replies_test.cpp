// Single-order replies turned into FIX: each record is built byte by byte from the order
// record's layout, converted through the reply conversion, and every field of the FIX
// message (body and the two header fields) is compared with the expected set, so that a
// field too many is caught as surely as a wrong one. The host runs in a zone other than
// the exchange's: exchange times and expiry dates must not depend on it.
#include <gtest/gtest.h>

#include "gateway/fix_network_handle/fix_reply_test_support.h"

using namespace fix_reply_test;

namespace
{
// An option order of user 1001 as the exchange echoes it; transcode and error code per case.
RecordBytes orderReply(const std::string &transcodeHex, const std::string &errorHex)
{
    RecordBytes r(240);
    r.at(0, "000003e9")                       // user 1001
        .at(4, "3b9acac8")                    // reply time 1000000200 (2011-09-08 20:20:00 UTC)
        .at(8, "4e49")                        // "NI"
        .at(10, transcodeHex)                 // transcode
        .at(12, errorHex)                     // error code
        .at(22, "00003b9aca648000")           // stamp 1000000100 s + 1/2 s (20:18:20 UTC)
        .at(37, "03")                         // stream 3
        .at(38, "00f0")                       // length 240
        .at(46, "20")                         // restatement code ' '
        .at(54, "00003039")                   // token 12345
        .at(58, "4f5054 53544b")              // "OPT" "STK"
        .at(64, "5a4f524158 2020202020")      // "ZORAX     "
        .at(74, "366008e8")                   // expiry 2008-11-27 14:30 at UTC+05:30
        .at(78, "0012d644")                   // strike 1234500 hundredths
        .at(82, "4341")                       // call, American
        .at(98, "43118b54f22aeb00")           // order number 1234567890123456
        .at(106, "41434331 202020202020")     // "ACC1      "
        .at(118, "0001")                      // buy
        .at(120, "00000032")                  // disclosed 50
        .at(128, "00000096")                  // remaining 150
        .at(136, "00000000")                  // filled 0
        .at(140, "ffffcfc7")                  // price -12345
        .at(144, "00003039")                  // trigger 12345
        .at(160, "3b9aca00")                  // order time 1000000000 (2011-09-08 20:16:40 UTC)
        .at(164, "0c")                        // good-till-cancelled + day
        .at(202, "434c52 313233343536373839") // "CLR123456789"
        .at(214, "0001")                      // client order
        .at(220, "4d000000");                 // client order number 77, least significant byte first
    return r;
}

// What orderReply gives as a 2073 without an error.
Fields confirmationFields()
{
    return {{37, "1234567890123456"},
            {11, "77"},
            {17, "2073OE12345678901234560000000077"},
            {20, "0"},
            {150, "0"},
            {39, "0"},
            {22, "8"},
            {77, "O"},
            {1, "ACC1      "},
            {55, "ZORAX     "},
            {167, "OPT"},
            {201, "1"},
            {206, "L"},
            {202, "12345"},
            {460, "5"},
            {200, "200811"},
            {205, "27"},
            {54, "1"},
            {38, "150"},
            {151, "150"},
            {14, "0"},
            {40, "2"},
            {44, "-123.45"},
            {6, "0"},
            {99, "123.45"},
            {59, "1"},
            {60, "20110908-20:16:40"},
            {21, "1"},
            {111, "50"},
            {440, "CLR123456789"},
            {204, "0"},
            {48, "12345"},
            // header
            {370, "20110908-20:18:20"},
            {144, "3"}};
}

class SingleOrderReplies : public HostOutsideExchangeZone
{
};

struct ReportCase
{
    const char *name;
    int16_t transcode;
    const char *transcodeHex;
    int16_t errorCode;
    const char *errorHex;
    const char *restatementHex; // offset 46
    const char *filledHex;      // offset 136
    Fields changed;             // values that differ from confirmationFields(); "" removes the tag
};

const ReportCase REPORT_CASES[] = {
    {"price changed",
     2012,
     "07dc",
     0,
     "0000",
     "20",
     "00000000",
     {{17, "2012OP12345678901234560000000077"}, {150, "D"}, {39, "0"}, {378, "3"}, {44, "123.45"}}},
    {"confirmed", 2073, "0819", 0, "0000", "20", "00000000", {}},
    {"confirmed with error", 2073, "0819", 16004, "3e84", "20", "00000000", {{58, "16004"}}},
    {"modified C unfilled",
     2074,
     "081a",
     0,
     "0000",
     "43",
     "00000000",
     {{17, "2074OM12345678901234560000000077"}, {150, "D"}, {39, "5"}, {378, "50"}}},
    {"modified C filled",
     2074,
     "081a",
     0,
     "0000",
     "43",
     "0000000a",
     {{17, "2074OM12345678901234560000000077"}, {150, "D"}, {39, "1"}, {378, "50"}, {38, "160"}, {14, "10"}}},
    {"modified B",
     2074,
     "081a",
     0,
     "0000",
     "42",
     "00000000",
     {{17, "2074OM12345678901234560000000077"}, {150, "D"}, {39, "5"}, {378, "52"}}},
    {"modified M with error",
     2074,
     "081a",
     7,
     "0007",
     "4d",
     "00000000",
     {{17, "2074OM12345678901234560000000077"}, {150, "D"}, {39, "5"}, {378, "51"}, {58, "7"}}},
    {"modified other code",
     2074,
     "081a",
     0,
     "0000",
     "58",
     "00000000",
     {{17, "2074OM12345678901234560000000077"}, {150, "5"}, {39, "5"}}},
    {"cancelled M",
     2075,
     "081b",
     0,
     "0000",
     "4d",
     "00000000",
     {{17, "2075OC12345678901234560000000077"}, {150, "D"}, {39, "4"}, {378, "51"}}},
    {"cancelled plain, negative error",
     2075,
     "081b",
     -3,
     "fffd",
     "20",
     "00000000",
     {{17, "2075OC12345678901234560000000077"}, {150, "4"}, {39, "4"}}},
    {"frozen",
     2170,
     "087a",
     5,
     "0005",
     "20",
     "00000000",
     {{17, "2170OF12345678901234560000000077"}, {150, "7"}, {39, "7"}}},
    {"rejected",
     2231,
     "08b7",
     16123,
     "3efb",
     "20",
     "00000000",
     {{17, "2231OR12345678901234560000000077"},
      {150, "8"},
      {39, "3"},
      {58, "16123"},
      {60, "20110908-20:20:00"}}},
    {"cancelled by the exchange",
     9002,
     "232a",
     0,
     "0000",
     "20",
     "00000000",
     {{17, "9002OX12345678901234560000000077"}, {150, "C"}, {39, "3"}}},
};

Fields expected(const Fields &changes)
{
    Fields fields = confirmationFields();
    for (const auto &change : changes)
    {
        if (change.second.empty())
            fields.erase(change.first);
        else
            fields[change.first] = change.second;
    }
    return fields;
}
} // namespace

TEST_F(SingleOrderReplies, EachOrderEventBecomesItsExecutionReport)
{
    for (const ReportCase &c : REPORT_CASES)
    {
        SCOPED_TRACE(c.name);
        RecordBytes r = orderReply(c.transcodeHex, c.errorHex);
        r.at(46, c.restatementHex).at(136, c.filledHex);
        Converted out = convert(r, c.transcode, c.errorCode);
        ASSERT_EQ(out.status, EA_SUCCESS);
        EXPECT_EQ(out.type, "8");
        EXPECT_EQ(out.fields, expected(c.changed));
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}

TEST_F(SingleOrderReplies, RefusedModificationAndCancellationBecomeCancelRejects)
{
    const struct
    {
        int16_t transcode;
        const char *hex;
        const char *responseTo;
    } cases[] = {{2042, "07fa", "2"}, {2072, "0818", "1"}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.transcode);
        Converted out = convert(orderReply(c.hex, "3e84"), c.transcode, 16004);
        ASSERT_EQ(out.status, EA_SUCCESS);
        EXPECT_EQ(out.type, "9");
        const Fields want = {{37, "1234567890123456"},
                             {11, "77"},
                             {41, "0"},
                             {39, "U"},
                             {1, "ACC1      "},
                             {60, "20110908-20:20:00"},
                             {434, c.responseTo},
                             {58, "16004"},
                             {370, "20110908-20:18:20"},
                             {144, "3"}};
        EXPECT_EQ(out.fields, want);
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
    // The error text is there even without an error.
    Converted zero = convert(orderReply("0818", "0000"), 2072, 0);
    ASSERT_EQ(zero.status, EA_SUCCESS);
    EXPECT_EQ(zero.fields[58], "0");
}

TEST_F(SingleOrderReplies, FutureCarriesNoOptionFieldsWhateverItsOptionBytes)
{
    RecordBytes r = orderReply("0819", "0000");
    r.at(58, "465554 494458"); // "FUT" "IDX"; strike and option bytes stay set
    Converted out = convert(r, 2073, 0);
    ASSERT_EQ(out.status, EA_SUCCESS);
    EXPECT_EQ(out.fields, expected({{167, "FUT"}, {201, ""}, {206, ""}, {202, ""}, {460, "7"}}));
}

TEST_F(SingleOrderReplies, OrderTermsGiveOrdTypeAndTimeInForce)
{
    const struct
    {
        const char *flags;
        const char *ordType;
        const char *timeInForce; // "" absent
    } cases[] = {{"60", "3", ""},  {"20", "4", ""},  {"40", "1", ""},  {"00", "2", ""}, {"0c", "2", "1"},
                 {"08", "2", "0"}, {"82", "2", "2"}, {"02", "2", "3"}, {"6a", "3", "0"}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.flags);
        RecordBytes r = orderReply("0819", "0000");
        r.at(164, c.flags);
        Converted out = convert(r, 2073, 0);
        ASSERT_EQ(out.status, EA_SUCCESS);
        EXPECT_EQ(out.fields, expected({{40, c.ordType}, {59, c.timeInForce}}));
    }
}

TEST_F(SingleOrderReplies, ValuesOutsideTheMappedOnesLeaveTheirFieldOut)
{
    RecordBytes r = orderReply("0819", "0000");
    r.at(118, "0003")                     // side 3
        .at(82, "585a")                   // option type 'X', exercise style 'Z'
        .at(214, "0003")                  // pro/client 3
        .at(61, "585858")                 // underlying "XXX"
        .at(106, "00000000000000000000"); // empty account
    Converted out = convert(r, 2073, 0);
    ASSERT_EQ(out.status, EA_SUCCESS);
    EXPECT_EQ(out.fields, expected({{54, ""}, {201, ""}, {206, ""}, {204, ""}, {460, ""}, {1, ""}}));
}

TEST_F(SingleOrderReplies, FirmOrderAndSellSide)
{
    RecordBytes r = orderReply("0819", "0000");
    r.at(118, "0002").at(214, "0002").at(82, "5045"); // sell, firm, put European
    Converted out = convert(r, 2073, 0);
    ASSERT_EQ(out.status, EA_SUCCESS);
    EXPECT_EQ(out.fields, expected({{54, "2"}, {204, "1"}, {201, "0"}, {206, "S"}}));
}

TEST_F(SingleOrderReplies, IdentifiersComeFromTheOrderNumberAndClientOrderNumber)
{
    const struct
    {
        int16_t transcode;
        const char *transcodeHex;
        const char *orderNumber;
        const char *clientOrder;
        const char *orderId;
        const char *clOrdId;
        const char *execId;
    } cases[] = {
        {9002, "232a", "430c6bf526340150", "4d000000", "1000000000000042", "77",
         "9002OX10000000000000420000000077"},
        {2073, "0819", "4093480000000000", "4d000000", "1234000000000000", "77",
         "2073OE00000000000012340000000077"},
        {2073, "0819", "0000000000000000", "15cd5b07", "0000000000000000", "123456789",
         "2073OE00000000000000000123456789"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.execId);
        RecordBytes r = orderReply(c.transcodeHex, "0000");
        r.at(98, c.orderNumber).at(220, c.clientOrder);
        Converted out = convert(r, c.transcode, 0);
        ASSERT_EQ(out.status, EA_SUCCESS);
        EXPECT_EQ(out.fields[37], c.orderId);
        EXPECT_EQ(out.fields[11], c.clOrdId);
        EXPECT_EQ(out.fields[17], c.execId);
    }
}

TEST_F(SingleOrderReplies, SameFixTimesInTheExchangeZone)
{
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    Converted out = convert(orderReply("0819", "0000"), 2073, 0);
    ASSERT_EQ(out.status, EA_SUCCESS);
    EXPECT_EQ(out.fields, confirmationFields());
}
