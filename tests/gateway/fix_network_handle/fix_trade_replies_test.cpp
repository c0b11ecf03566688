// Trade, give-up and position-maintenance replies turned into FIX: each record is built
// byte by byte from its layout (209-byte trade, 121-byte give-up, 162-byte position
// record) and every field of the ExecutionReport, GiveUpReport or
// PositionMaintenanceReport is compared with the expected set; a FIX client's engine with
// the client dictionary takes each one.
#include <gtest/gtest.h>

#include <string>

#include "gateway/fix_network_handle/fix_reply_test_support.h"

using namespace fix_reply_test;

namespace
{
// A fill of 15 at 100.26 of a customer's sell order of 50 at 100.25, 45 filled in all.
RecordBytes tradeReply(const std::string &transcodeHex)
{
    RecordBytes r(209);
    r.at(0, "000003e9")                   // user 1001
        .at(4, "3b9acac8")                // reply time 2011-09-08 20:20:00 UTC
        .at(8, "5a4f")                    // "ZO"
        .at(10, transcodeHex)             // transcode
        .at(22, "00003b9aca648000")       // stamp (20:18:20 UTC)
        .at(37, "03")                     // stream 3
        .at(38, "00d1")                   // length 209
        .at(40, "43118b54f22aeb00")       // order number 1234567890123456
        .at(48, "4d454d4252")             // broker "MEMBR"
        .at(58, "41434331 202020202020")  // account "ACC1      "
        .at(68, "0002")                   // sell
        .at(74, "00000032")               // disclosed 50
        .at(78, "00000005")               // remaining 5
        .at(86, "00002729")               // order price 100.25
        .at(90, "08")                     // day
        .at(96, "00001267")               // fill number 4711
        .at(100, "0000000f")              // fill quantity 15
        .at(104, "0000272a")              // fill price 100.26
        .at(108, "0000002d")              // filled today 45
        .at(132, "000088b9")              // token 35001
        .at(136, "465554 494458")         // "FUT" "IDX"
        .at(142, "5a4f524158 2020202020") // "ZORAX     "
        .at(152, "366008e8")              // expiry 2008-11-27 14:30 at UTC+05:30
        .at(156, "ffffffff")
        .at(160, "5858");
    return r;
}

Fields confirmationFields()
{
    return {{37, "1234567890123456"},
            {17, "2222TS00000000000047110000000000"},
            {20, "0"},
            {22, "8"},
            {77, "O"},
            {150, "1"},
            {39, "1"},
            {6007, "4711"},
            {1, "ACC1      "},
            {55, "ZORAX     "},
            {167, "FUT"},
            {460, "7"},
            {200, "200811"},
            {205, "27"},
            {54, "2"},
            {38, "50"},
            {14, "45"},
            {40, "2"},
            {44, "100.25"},
            {6, "0"},
            {59, "0"},
            {32, "15"},
            {31, "100.26"},
            {151, "5"},
            {60, "20110908-20:20:00"},
            {21, "1"},
            {111, "50"},
            {204, "0"},
            {48, "35001"},
            // header
            {370, "20110908-20:18:20"},
            {144, "3"}};
}

struct TradeCase
{
    const char *name;
    const char *transcodeHex;
    int16_t transcode;
    std::vector<std::pair<uint32_t, const char *>> bytes; // changes to tradeReply()
    Fields changes;                                       // to confirmationFields()
};

// clang-format off
const TradeCase TRADE_CASES[] = {
    {"partial fill of a sell order", "08ae", 2222, {}, {}},
    {"fill", "08ae", 2222, {{78, "00000000"}}, {{150, "2"}, {39, "2"}, {38, "45"}, {151, "0"}}},
    {"buy side", "08ae", 2222, {{68, "0001"}}, {{17, "2222TB00000000000047110000000000"}, {54, "1"}}},
    {"the member's own account", "08ae", 2222, {{58, "4d454d4252 3031 202020"}},
     {{204, "1"}, {1, "MEMBR01   "}}},
    {"fill number beyond 31 bits", "08ae", 2222, {{96, "f0000000"}},
     {{17, "2222TS00000040265318400000000000"}, {6007, "4026531840"}}},
    {"option", "08ae", 2222, {{136, "4f5054 53544b"}, {156, "0012d644"}, {160, "5045"}},
     {{167, "OPT"}, {460, "5"}, {201, "0"}, {206, "S"}, {202, "12345"}}},
    {"stop limit good till cancelled", "08ae", 2222, {{90, "24"}}, {{40, "4"}, {59, "1"}}},
    {"trade reply", "08a4", 2212, {},
     {{17, "2212TG12345678901234560000000000"}, {150, "T"}, {39, "0"}, {6007, ""}, {38, ""}, {44, ""}, {32, ""},
      {31, ""}}},
    {"trade reply of a stop market order", "08a4", 2212, {{90, "60"}},
     {{17, "2212TG12345678901234560000000000"}, {150, "T"}, {39, "0"}, {6007, ""}, {38, ""}, {44, ""}, {32, ""},
      {31, ""}, {40, "1"}, {59, ""}}},
    {"trade reply of a stop order", "08a4", 2212, {{90, "28"}},
     {{17, "2212TG12345678901234560000000000"}, {150, "T"}, {39, "0"}, {6007, ""}, {38, ""}, {44, ""}, {32, ""},
      {31, ""}, {40, "2"}}},
};
// clang-format on

// A give-up of fill 4711 (15 stock call options at 100.26), accepted.
RecordBytes giveUp(const std::string &transcodeHex)
{
    RecordBytes r(121);
    r.at(0, "000003e9")
        .at(4, "3b9acac8")
        .at(10, transcodeHex)
        .at(22, "00003b9aca648000")
        .at(37, "03")
        .at(38, "0079")             // length 121
        .at(42, "43118b54f22aeb00") // order number
        .at(50, "00001267")         // trade number 4711
        .at(54, "4f5054 53544b")    // "OPT" "STK"
        .at(60, "5a4f524158 2020202020")
        .at(70, "366008e8")
        .at(74, "0012d644")  // strike 12345.00
        .at(78, "4341")      // call, American
        .at(82, "0000000f")  // 15
        .at(86, "0000272a")  // 100.26
        .at(96, "0001")      // buy
        .at(100, "3b9aca00") // 2011-09-08 20:16:40 UTC
        .at(105, "43")       // 'C'
        .at(106, "55")       // 'U'
        .at(107, "434c52 313233343536373839")
        .at(119, "41"); // 'A'
    return r;
}

Fields giveUpFields()
{
    return {{37, "1234567890123456"},
            {6007, "4711"},
            {6012, "1"},
            {55, "ZORAX     "},
            {167, "OPT"},
            {201, "1"},
            {206, "L"},
            {202, "12345"},
            {460, "5"},
            {200, "200811"},
            {205, "27"},
            {54, "1"},
            {31, "100.26"},
            {32, "15"},
            {77, "C"},
            {203, "1"},
            {6000, "20110908-20:16:40"},
            {440, "CLR123456789"},
            {144, "3"}};
}

// A customer's request to exercise 25 stock call options, as the exchange echoes it.
RecordBytes positionReply(const std::string &transcodeHex, const std::string &errorHex)
{
    RecordBytes r(162);
    r.at(0, "000003e9")
        .at(4, "3b9acac8")
        .at(10, transcodeHex)
        .at(12, errorHex)
        .at(22, "00003b9aca648000")
        .at(37, "03")
        .at(38, "00a2")     // length 162
        .at(42, "0000002a") // token 42
        .at(46, "4f5054 53544b")
        .at(52, "5a4f524158 2020202020")
        .at(62, "366008e8")
        .at(66, "0001fbd0")         // strike 1300.00
        .at(70, "4345")             // call, European
        .at(76, "430c6bf526340038") // request number 1000000000000007
        .at(86, "41434331 202020202020")
        .at(96, "00000019")  // 25
        .at(100, "0001")     // customer
        .at(102, "0001")     // exercise
        .at(104, "3b9aca00") // request time 2011-09-08 20:16:40 UTC
        .at(119, "52455137") // "REQ7", then blanks
        .at(123, "20202020202020202020202020202020202020202020202020 20")
        .at(149, "434c523031 20202020202020"); // "CLR01       "
    return r;
}

Fields positionFields()
{
    return {{712, "1"},
            {710, "REQ7                          "},
            {709, "1"},
            {721, "1000000000000007"},
            {722, "0"},
            {55, "ZORAX     "},
            {48, "42"},
            {167, "OPT"},
            {201, "1"},
            {206, "S"},
            {202, "1300"},
            {460, "5"},
            {200, "200811"},
            {205, "27"},
            {1, "ACC1      "},
            {60, "20110908-20:16:40"},
            {53, "25"},
            {204, "0"},
            {440, "CLR01       "},
            {144, "3"}};
}

class TradeReplies : public HostOutsideExchangeZone
{
};
} // namespace

TEST_F(TradeReplies, TradesBecomeExecutionReports)
{
    for (const TradeCase &c : TRADE_CASES)
    {
        SCOPED_TRACE(c.name);
        RecordBytes r = tradeReply(c.transcodeHex);
        for (const auto &change : c.bytes)
            r.at(change.first, change.second);
        Converted out = convert(r, c.transcode, 0);
        ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
        EXPECT_EQ(out.type, "8");
        EXPECT_EQ(out.fields, changed(confirmationFields(), c.changes));
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}

TEST_F(TradeReplies, ConfirmationForNeitherSideIsDroppedWithTheFillNamed)
{
    for (const char *side : {"0003", "0000", "ffff"})
    {
        SCOPED_TRACE(side);
        RecordBytes r = tradeReply("08ae");
        r.at(68, side);
        Converted out = convert(r, 2222, 0);
        EXPECT_EQ(out.status, EA_VALID);
        EXPECT_EQ(out.fix, nullptr);
        EXPECT_EQ(out.log, "Discarding trade with transcode [2222] having invalid side [" +
                               std::to_string(static_cast<int16_t>(std::stoi(side, nullptr, 16))) +
                               "] fill number [4711] for nw_handle [1] tws_index [4]\n");
    }
    // The trade reply's ExecID does not depend on the side: it goes, without a Side.
    RecordBytes r = tradeReply("08a4");
    r.at(68, "0003");
    Converted out = convert(r, 2212, 0);
    ASSERT_EQ(out.status, EA_SUCCESS);
    EXPECT_EQ(out.fields.count(54), 0u);
}

TEST_F(TradeReplies, GiveUpsBecomeGiveUpReports)
{
    const struct
    {
        const char *name;
        const char *transcodeHex;
        int16_t transcode;
        std::vector<std::pair<uint32_t, const char *>> bytes;
        Fields changes;
    } cases[] = {
        {"accepted", "119a", 4506, {}, {}},
        {"refused, covered", "119b", 4507, {{119, "52"}, {106, "56"}}, {{6012, "2"}, {203, "0"}}},
        {"open", "119a", 4506, {{105, "4f"}}, {{77, "O"}}},
        {"any printable open or close flag as written", "119a", 4506, {{105, "78"}}, {{77, "x"}}},
        {"zero open or close flag left out", "119a", 4506, {{105, "00"}}, {{77, ""}}},
        {"SOH open or close flag left out", "119a", 4506, {{105, "01"}}, {{77, ""}}},
        {"unmapped status, cover and side left out",
         "119a",
         4506,
         {{119, "58"}, {106, "58"}, {96, "0003"}},
         {{6012, ""}, {203, ""}, {54, ""}}},
        {"future",
         "119a",
         4506,
         {{54, "465554 494458"}},
         {{167, "FUT"}, {460, "7"}, {201, ""}, {206, ""}, {202, ""}}},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        RecordBytes r = giveUp(c.transcodeHex);
        for (const auto &change : c.bytes)
            r.at(change.first, change.second);
        Converted out = convert(r, c.transcode, 0);
        ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
        EXPECT_EQ(out.type, "U3");
        EXPECT_EQ(out.fields, changed(giveUpFields(), c.changes)) << "no OnBehalfOfSendingTime";
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}

TEST_F(TradeReplies, PositionRepliesBecomePositionMaintenanceReports)
{
    const struct
    {
        const char *name;
        const char *transcodeHex;
        int16_t transcode;
        int16_t errorCode;
        const char *errorHex;
        std::vector<std::pair<uint32_t, const char *>> bytes;
        Fields changes;
    } cases[] = {
        {"new request accepted", "0fa0", 4000, 0, "0000", {}, {}},
        {"new request refused", "0fa2", 4002, 16042, "3eaa", {}, {{722, "2"}, {58, "16042"}}},
        {"replacement not to exercise", "0fa5", 4005, 0, "0000", {{102, "0000"}}, {{712, "2"}, {709, "2"}}},
        {"replacement with type 2", "0fa5", 4005, 0, "0000", {{102, "0002"}}, {{712, "2"}, {709, ""}}},
        {"refused replacement with type 2",
         "0fa7",
         4007,
         16042,
         "3eaa",
         {{102, "0002"}},
         {{712, "2"}, {709, "2"}, {722, "2"}, {58, "16042"}}},
        {"cancellation", "0fa8", 4008, 0, "0000", {}, {{712, "3"}}},
        {"refused cancellation, firm",
         "0faa",
         4010,
         16042,
         "3eaa",
         {{100, "0002"}},
         {{712, "3"}, {722, "2"}, {58, "16042"}, {204, "1"}}},
        {"future",
         "0fa0",
         4000,
         0,
         "0000",
         {{46, "465554 494458"}, {66, "00000000"}, {70, "5858"}},
         {{167, "FUT"}, {460, "7"}, {201, ""}, {206, ""}, {202, ""}}},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        RecordBytes r = positionReply(c.transcodeHex, c.errorHex);
        for (const auto &change : c.bytes)
            r.at(change.first, change.second);
        Converted out = convert(r, c.transcode, c.errorCode);
        ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
        EXPECT_EQ(out.type, "U5");
        EXPECT_EQ(out.fields, changed(positionFields(), c.changes)) << "no OnBehalfOfSendingTime";
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}

TEST_F(TradeReplies, AnyInstrumentKindReachesTheClientAndAnEmptyOneIsLeftOut)
{
    const struct
    {
        const char *name;
        RecordBytes record;
        uint32_t kindOffset;
        int16_t transcode;
    } families[] = {
        {"trade confirmation", tradeReply("08ae"), 136, 2222},
        {"trade reply", tradeReply("08a4"), 136, 2212},
        {"give-up", giveUp("119a"), 54, 4506},
        {"position", positionReply("0fa0", "0000"), 46, 4000},
    };
    for (const auto &f : families)
    {
        for (const char *kind : {"ABC", "SPR", "FUT"})
        {
            SCOPED_TRACE(std::string(f.name) + " " + kind);
            RecordBytes r = f.record;
            r.text(f.kindOffset, kind);
            Converted out = convert(r, f.transcode, 0);
            ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
            EXPECT_EQ(out.fields[167], kind);
            EXPECT_EQ(out.fields.count(201) + out.fields.count(206) + out.fields.count(202), 0u)
                << "option fields for OPT only";
            EXPECT_EQ(clientRefusal(*out.fix), "");
        }
        SCOPED_TRACE(std::string(f.name) + " without a kind");
        RecordBytes r = f.record;
        r.at(f.kindOffset, "000000");
        Converted out = convert(r, f.transcode, 0);
        ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
        EXPECT_EQ(out.fields.count(167), 0u);
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}
