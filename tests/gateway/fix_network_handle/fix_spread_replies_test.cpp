// Spread-order replies turned into FIX: a 404-byte spread record built byte by byte from
// its layout goes through the reply conversion, and every field of the ExecutionReport or
// OrderCancelReject (body, each NoLegs entry in leg order, the header fields) is compared
// with the expected set; a FIX client's engine with the client dictionary takes each one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/fix_network_handle/fix_reply_test_support.h"

using namespace fix_reply_test;

namespace
{
// A firm's three-leg order of user 1001 as the exchange echoes it; the two-leg families
// read its first two legs only. Transcode and error code per case.
RecordBytes spreadReply(int16_t transcode, const std::string &errorHex)
{
    RecordBytes r(404);
    r.at(0, "000003e9")                       // user 1001
        .at(4, "3b9acac8")                    // reply time 1000000200 (2011-09-08 20:20:00 UTC)
        .at(8, "5a4f")                        // "ZO"
        .at(12, errorHex)                     // error code
        .at(22, "00003b9aca648000")           // stamp 1000000100 s + 1/2 s (20:18:20 UTC)
        .at(37, "03")                         // stream 3
        .at(38, "0194")                       // length 404
        .at(46, "20")                         // restatement code ' '
        .at(54, "000088b9")                   // first leg: token 35001
        .at(58, "465554 494458")              // "FUT" "IDX"
        .at(64, "5a4f524158 2020202020")      // "ZORAX     "
        .at(74, "366008e8")                   // expiry 2008-11-27 14:30 at UTC+05:30
        .at(78, "ffffffff")                   // no strike
        .at(82, "5858")                       // "XX"
        .at(98, "43118b54f22aeb00")           // order number 1234567890123456
        .at(106, "41434331 202020202020")     // "ACC1      "
        .at(118, "0001")                      // buy
        .at(120, "00000032")                  // disclosed 50
        .at(128, "00000064")                  // remaining 100
        .at(136, "0000000a")                  // filled 10
        .at(140, "000003e8")                  // leg price 10.00
        .at(160, "3b9aca00")                  // order time 1000000000 (2011-09-08 20:16:40 UTC)
        .at(164, "0a")                        // day + immediate or cancel
        .at(202, "434c52 313233343536373839") // "CLR123456789"
        .at(214, "0002")                      // the firm's own order
        .at(220, "4d000000")                  // client order number 77, least significant byte first
        .at(240, "ffffffce")                  // spread price -0.50
        .at(244, "000088ba")                  // second leg: token 35002
        .at(248, "4f5054 53544b")             // "OPT" "STK"
        .at(254, "5a4f524158 2020202020")
        .at(264, "366008e8")
        .at(268, "0012d644") // strike 12345.00
        .at(272, "5045")     // put, European
        .at(284, "0002")     // sell
        .at(294, "00000064") // remaining 100
        .at(302, "0000000a") // filled 10
        .at(306, "000004d2") // leg price 12.34
        .at(324, "000088bb") // third leg: token 35003
        .at(328, "465554 494458")
        .at(334, "5a4f524158 2020202020")
        .at(344, "366008e8")
        .at(348, "ffffffff")
        .at(352, "5858")
        .at(364, "0001")
        .at(374, "00000064")
        .at(382, "0000000a")
        .at(386, "ffffff38"); // leg price -2.00
    r.bytes[10] = static_cast<uint8_t>(static_cast<uint16_t>(transcode) >> 8);
    r.bytes[11] = static_cast<uint8_t>(transcode);
    return r;
}

// The body of a 2124 confirmation without an error.
Fields spreadFields()
{
    return {{37, "1234567890123456"},
            {11, "77"},
            {20, "0"},
            {17, "2124OE12345678901234560000000077"},
            {39, "0"},
            {150, "0"},
            {60, "20110908-20:16:40"},
            {22, "8"},
            {77, "O"},
            {1, "ACC1      "},
            {55, "XXXXXXXXXX"},
            {54, "L"},
            {151, "0"},
            {14, "0"},
            {6, "0"},
            {40, "2"},
            {59, "0"},
            {111, "50"},
            {440, "CLR123456789"},
            {204, "1"},
            {6008, "1"},
            {555, "2"},
            // header
            {370, "20110908-20:18:20"},
            {144, "3"}};
}

Fields firstLeg(const char *price)
{
    return {{600, "ZORAX     "}, {611, "20081127"}, {609, "FUT"},  {607, "7"},   {624, "1"},
            {566, price},        {685, "110"},      {6010, "100"}, {6011, "10"}, {602, "35001"}};
}

Fields secondLeg(const char *price)
{
    return {{600, "ZORAX     "}, {611, "20081127"}, {609, "OPT"},  {6009, "0"},  {613, "S"},
            {612, "12345"},      {607, "5"},        {624, "2"},    {566, price}, {685, "110"},
            {6010, "100"},       {6011, "10"},      {602, "35002"}};
}

Fields thirdLeg()
{
    return {{600, "ZORAX     "}, {611, "20081127"}, {609, "FUT"},  {607, "7"},   {624, "1"},
            {566, "-2"},         {685, "110"},      {6010, "100"}, {6011, "10"}, {602, "35003"}};
}

struct EventCase
{
    const char *name;
    int16_t transcode;
    int16_t errorCode;
    const char *errorHex;
    const char *restatementHex; // offset 46
    Fields changes;             // to spreadFields(); "" removes the tag
    std::vector<Fields> legs;
};

const std::vector<Fields> SPREAD_LEGS = {firstLeg("-0.5"), secondLeg("0")};
const std::vector<Fields> ORDER_LEGS = {firstLeg("10"), secondLeg("12.34")};
const std::vector<Fields> THREE_LEGS = {firstLeg("10"), secondLeg("12.34"), thirdLeg()};

const EventCase EVENT_CASES[] = {
    {"spread confirmed", 2124, 0, "0000", "20", {}, SPREAD_LEGS},
    {"spread confirmed with error", 2124, 16004, "3e84", "20", {{58, "16004"}}, SPREAD_LEGS},
    {"two-leg order confirmed",
     2125,
     0,
     "0000",
     "20",
     {{17, "2125OE12345678901234560000000077"}, {6008, "2"}},
     ORDER_LEGS},
    {"three-leg order confirmed",
     2126,
     0,
     "0000",
     "20",
     {{17, "2126OE12345678901234560000000077"}, {6008, "3"}, {555, "3"}},
     THREE_LEGS},
    {"spread cancelled B",
     2130,
     0,
     "0000",
     "42",
     {{17, "2130OC12345678901234560000000077"}, {150, "D"}, {39, "4"}, {378, "52"}},
     SPREAD_LEGS},
    {"spread cancelled plain, error never told",
     2130,
     7,
     "0007",
     "20",
     {{17, "2130OC12345678901234560000000077"}, {150, "4"}, {39, "4"}},
     SPREAD_LEGS},
    {"two-leg order's rest cancelled",
     2131,
     0,
     "0000",
     "43",
     {{17, "2131OC12345678901234560000000077"}, {150, "4"}, {39, "4"}, {6008, "2"}},
     ORDER_LEGS},
    {"three-leg order's rest cancelled",
     2132,
     0,
     "0000",
     "20",
     {{17, "2132OC12345678901234560000000077"}, {150, "4"}, {39, "4"}, {6008, "3"}, {555, "3"}},
     THREE_LEGS},
    {"spread modified M",
     2136,
     0,
     "0000",
     "4d",
     {{17, "2136OM12345678901234560000000077"}, {150, "D"}, {39, "5"}, {378, "51"}},
     SPREAD_LEGS},
    {"spread modified C",
     2136,
     0,
     "0000",
     "43",
     {{17, "2136OM12345678901234560000000077"}, {150, "D"}, {39, "5"}, {378, "50"}},
     SPREAD_LEGS},
    {"spread modified other code",
     2136,
     0,
     "0000",
     "58",
     {{17, "2136OM12345678901234560000000077"}, {150, "5"}, {39, "5"}},
     SPREAD_LEGS},
    {"spread refused",
     2154,
     16273,
     "3f91",
     "20",
     {{17, "2154OR12345678901234560000000077"},
      {150, "8"},
      {39, "3"},
      {58, "16273"},
      {60, "20110908-20:20:00"}},
     SPREAD_LEGS},
    {"two-leg order refused without error",
     2155,
     0,
     "0000",
     "20",
     {{17, "2155OR12345678901234560000000077"},
      {150, "8"},
      {39, "3"},
      {58, "0"},
      {60, "20110908-20:20:00"},
      {6008, "2"}},
     ORDER_LEGS},
    {"three-leg order refused",
     2156,
     16273,
     "3f91",
     "20",
     {{17, "2156OR12345678901234560000000077"},
      {150, "8"},
      {39, "3"},
      {58, "16273"},
      {60, "20110908-20:20:00"},
      {6008, "3"},
      {555, "3"}},
     THREE_LEGS},
    {"spread cancelled by the exchange",
     9004,
     0,
     "0000",
     "20",
     {{17, "9004OX12345678901234560000000077"}, {150, "C"}, {39, "3"}},
     SPREAD_LEGS},
};

class SpreadReplies : public HostOutsideExchangeZone
{
};
} // namespace

TEST_F(SpreadReplies, EachEventBecomesItsExecutionReportWithLegsInOrder)
{
    for (const EventCase &c : EVENT_CASES)
    {
        SCOPED_TRACE(c.name);
        RecordBytes r = spreadReply(c.transcode, c.errorHex);
        r.at(46, c.restatementHex);
        Converted out = convert(r, c.transcode, c.errorCode);
        ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
        EXPECT_EQ(out.type, "8");
        EXPECT_EQ(out.fields, changed(spreadFields(), c.changes));
        EXPECT_EQ(out.groups, c.legs);
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}

TEST_F(SpreadReplies, OpenCloseStandsInTheBodyForOptionLegsOfOrdersAndAlwaysForSpreads)
{
    // Two futures legs: a spread still says 'O', an order says nothing.
    for (int16_t transcode : {2124, 2125})
    {
        SCOPED_TRACE(transcode);
        RecordBytes r = spreadReply(transcode, "0000");
        r.at(248, "465554 494458");
        Converted out = convert(r, transcode, 0);
        ASSERT_EQ(out.status, EA_SUCCESS);
        EXPECT_EQ(out.fields.count(77), transcode == 2124 ? 1u : 0u);
        for (const Fields &leg : out.groups)
        {
            EXPECT_EQ(leg.count(77), 0u);
            EXPECT_EQ(leg.count(6009), 0u) << "no option fields on a futures leg";
        }
    }
}

TEST_F(SpreadReplies, LegValuesOutsideTheMappedOnesAreLeftOut)
{
    RecordBytes r = spreadReply(2125, "0000");
    r.at(272, "5841")      // option type 'X', exercise style 'A'
        .at(251, "585858") // underlying "XXX"
        .at(284, "0003");  // side 3
    Converted out = convert(r, 2125, 0);
    ASSERT_EQ(out.status, EA_SUCCESS);
    ASSERT_EQ(out.groups.size(), 2u);
    Fields second = out.groups[1];
    EXPECT_EQ(second.count(6009), 0u);
    EXPECT_EQ(second[613], "L");
    EXPECT_EQ(second.count(607), 0u);
    EXPECT_EQ(second.count(624), 0u);
}

TEST_F(SpreadReplies, ALegOfAnyKindCarriesItAndAnEmptyKindIsLeftOut)
{
    RecordBytes r = spreadReply(2126, "0000");
    r.text(248, "SPR")      // second leg
        .at(328, "000000"); // third leg: no kind
    Converted out = convert(r, 2126, 0);
    ASSERT_EQ(out.status, EA_SUCCESS) << out.log;
    ASSERT_EQ(out.groups.size(), 3u);
    EXPECT_EQ(out.groups[0][609], "FUT");
    Fields second = out.groups[1];
    EXPECT_EQ(second[609], "SPR");
    EXPECT_EQ(second.count(6009) + second.count(613) + second.count(612), 0u) << "option fields for OPT only";
    EXPECT_EQ(out.groups[2].count(609), 0u);
    EXPECT_EQ(out.groups[2][602], "35003") << "the rest of the entry stays";
    EXPECT_EQ(clientRefusal(*out.fix), "");
}

TEST_F(SpreadReplies, RefusedChangesOfASpreadBecomeCancelRejects)
{
    const struct
    {
        int16_t transcode;
        const char *responseTo;
    } cases[] = {{2127, "1"}, {2133, "2"}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.transcode);
        Converted out = convert(spreadReply(c.transcode, "3e97"), c.transcode, 16023);
        ASSERT_EQ(out.status, EA_SUCCESS);
        EXPECT_EQ(out.type, "9");
        const Fields want = {
            {37, "1234567890123456"},  {11, "77"},          {41, "0"},     {39, "U"},   {1, "ACC1      "},
            {60, "20110908-20:20:00"}, {434, c.responseTo}, {58, "16023"}, {6008, "1"}, {144, "3"}};
        EXPECT_EQ(out.fields, want) << "no OnBehalfOfSendingTime";
        EXPECT_TRUE(out.groups.empty());
        EXPECT_EQ(clientRefusal(*out.fix), "");
    }
}
