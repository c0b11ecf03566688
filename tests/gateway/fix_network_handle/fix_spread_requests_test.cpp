// Multi-leg requests of a FIX client against the application's acceptor, on loopback with
// a real initiator of the same engine: each SpreadMultiLegSingle and
// SpreadCancelReplaceRequest becomes the exchange's 404-byte spread record on the queue to
// the user session thread (golden bytes written from the record layout), and every check
// answers with its BusinessMessageReject while nothing reaches the exchange.
#include <gtest/gtest.h>

#include "gateway/fix_network_handle/fix_request_test_support.h"

using namespace fix_front_end_test;

namespace
{
typedef std::vector<Fields> Legs;

// A firm's two-leg spread of two index futures at 2.50.
const Fields SPREAD = {{11, "21"}, {204, "1"}, {376, "1234"}, {59, "0"}, {6008, "1"}};
const Legs SPREAD_LEGS = {{{600, "ZORAX"},
                           {602, "35001"},
                           {607, "7"},
                           {609, "FUT"},
                           {611, "20261231"},
                           {624, "1"},
                           {685, "50"},
                           {566, "2.5"}},
                          {{600, "ZORAX"},
                           {602, "35002"},
                           {607, "7"},
                           {609, "FUT"},
                           {611, "20270128"},
                           {624, "2"},
                           {685, "50"},
                           {566, "0"}}};

// A customer's all-or-none two-leg order of stock options.
const Fields TWO_LEG_ORDER = {{11, "22"}, {204, "0"}, {1, "ACC1"}, {440, "CLR01"}, {376, "1234"},
                              {18, "G"},  {40, "2"},  {59, "3"},   {6008, "2"}};
const Legs OPTION_LEGS = {{{600, "ZORAX"},
                           {602, "42"},
                           {607, "5"},
                           {609, "OPT"},
                           {611, "20261231"},
                           {612, "1234.567"},
                           {6009, "1"},
                           {613, "L"},
                           {624, "1"},
                           {685, "10"},
                           {566, "12.5"}},
                          {{600, "ZORAX"},
                           {602, "43"},
                           {607, "5"},
                           {609, "OPT"},
                           {611, "20261231"},
                           {612, "1300"},
                           {6009, "0"},
                           {613, "S"},
                           {624, "2"},
                           {685, "10"},
                           {566, "-0.5"}}};

// A firm's three-leg order of index futures.
const Fields THREE_LEG_ORDER = {{11, "23"}, {204, "1"}, {376, "0"}, {59, "3"}, {6008, "3"}};
const Legs THREE_LEGS = {{{600, "ZORAX"},
                          {602, "35001"},
                          {607, "7"},
                          {609, "FUT"},
                          {611, "20261231"},
                          {624, "1"},
                          {685, "5"},
                          {566, "100.25"}},
                         {{600, "ZORAX"},
                          {602, "35002"},
                          {607, "7"},
                          {609, "FUT"},
                          {611, "20270128"},
                          {624, "2"},
                          {685, "5"},
                          {566, "101"}},
                         {{600, "ZORAX"},
                          {602, "35003"},
                          {607, "7"},
                          {609, "FUT"},
                          {611, "20270225"},
                          {624, "1"},
                          {685, "5"},
                          {566, "99"}}};

// The modification of a resting spread to 80 of which 30 are filled, at 3.75.
const Fields MODIFY = {
    {37, "1000000000000007"},   {6013, "N"}, {204, "1"}, {376, "1234"}, {11, "24"}, {59, "0"},
    {6000, "20261209-04:15:30"}};
const Legs MODIFY_LEGS = {{{600, "ZORAX"},
                           {602, "35001"},
                           {607, "7"},
                           {609, "FUT"},
                           {611, "20261231"},
                           {624, "1"},
                           {685, "80"},
                           {6011, "30"},
                           {566, "3.75"}},
                          {{600, "ZORAX"},
                           {602, "35002"},
                           {607, "7"},
                           {609, "FUT"},
                           {611, "20270128"},
                           {624, "2"},
                           {685, "80"},
                           {6011, "30"},
                           {566, "0"}}};

FIX::Message multiLeg(char type, const Fields &body, const Legs &legs)
{
    if (type == '1')
        return withLegs<FIX42::SpreadMultiLegSingle>(body, legs);
    return withLegs<FIX42::SpreadCancelReplaceRequest>(body, legs);
}

// One request with one fault, or none.
struct SpreadCase
{
    const char *name;
    char type; // '1' SpreadMultiLegSingle, '2' SpreadCancelReplaceRequest
    Fields changes;
    Legs legChanges;   // per leg; a leg beyond the base ones is the base's first with its changes
    const char *text;  // the reject's Text, or null when the request passes
    int reason;        // BusinessRejectReason, or the record offset to look at when it passes
    const char *bytes; // the bytes expected there
};

// clang-format off
const SpreadCase SPREAD_CASES[] = {
    {"SecondLegPricedInASpread", '1', {}, {{}, {{566, "0.50"}}}, "Invalid value for field id 566", 0, nullptr},
    {"NegativeSpreadPrice", '1', {}, {{{566, "-0.50"}}}, nullptr, 240, "ffffffce"},
    {"TwoLegOrderWithoutTimeInForce", '1', {{6008, "2"}, {59, ""}}, {}, "TimeInForce is Invalid", 0, nullptr},
    {"TwoLegOrderImmediateOrCancel", '1', {{6008, "2"}, {59, "3"}}, {}, nullptr, 164, "0a"},
    {"TwoLegOrderSecondLegFlags", '1', {{6008, "2"}, {59, "3"}}, {}, nullptr, 318, "0a00"},
    {"ThreeLegOrderWithTwoLegs", '1', {{6008, "3"}, {59, "3"}}, {}, "Field not found 555", 5, nullptr},
    {"ThirdLegOfASpreadIgnored", '1', {}, {{}, {}, {{600, "IGNORED"}}}, nullptr, 324, "ffffffff"},
    {"FourLegs", '1', {}, {{}, {}, {}, {}}, "Nolegs is Invalid", 0, nullptr},
    {"ExecInstStartingWithG", '1', {{18, "GX"}}, {}, nullptr, 116, "0002"},
    {"ExecInstAllOrNoneFlag", '1', {{18, "GX"}}, {}, nullptr, 164, "09"},
    {"ExecInstOther", '1', {{18, "M"}}, {}, "ExecInst is Invalid", 0, nullptr},
    {"OrdTypeMarket", '1', {{40, "1"}}, {}, "OrdType is Invalid", 0, nullptr},
    {"OrdTypeLimit", '1', {{40, "2"}}, {}, nullptr, 10, "0834"},
    {"TimeInForceGoodTillCancel", '1', {{59, "1"}}, {}, "TimeInForce is Invalid", 0, nullptr},
    {"MultilegOrdTypeFour", '1', {{6008, "4"}}, {}, "MultilegOrdType is Invalid", 0, nullptr},
    {"MultilegOrdTypeMissing", '1', {{6008, ""}}, {}, "Field not found 6008", 5, nullptr},
    {"CustomerOrFirmTwo", '1', {{204, "2"}}, {}, "CustomerOrFirm is Invalid", 0, nullptr},
    {"CustomerWithoutClearingAccount", '1', {{204, "0"}, {1, "ACC1"}}, {}, "Field not found 440", 5, nullptr},
    {"ComplianceIdMissing", '1', {{376, ""}}, {}, "Field not found 376", 5, nullptr},
    {"ClOrdIdAboveTheLimit", '1', {{11, "2000000001"}}, {}, "Invalid value for field id 11", 0, nullptr},
    {"LegSymbolOfElevenCharacters", '1', {}, {{}, {{600, "ABCDEFGHIJK"}}}, "Invalid Length for field id 600", 0,
     nullptr},
    {"LegSecurityIdZero", '1', {}, {{{602, "0"}}}, "Invalid value for field id 602", 0, nullptr},
    {"LegSecurityIdTooWide", '1', {}, {{{602, "99999999999"}}}, "Invalid value for field id 602", 0, nullptr},
    {"LegProductSix", '1', {}, {{{607, "6"}}}, "LegProduct is Invalid", 0, nullptr},
    {"FirstLegSecurityTypeOther", '1', {}, {{{609, "CS"}}}, "SecurityType is Invalid", 0, nullptr},
    {"SecondLegSecurityTypeOther", '1', {}, {{}, {{609, "CS"}}}, "LegSecurityType is Invalid", 0, nullptr},
    {"LegPutOrCallTwo", '1', {}, {{{609, "OPT"}, {612, "100"}, {6009, "2"}, {613, "L"}}}, "PutOrCall is Invalid", 0,
     nullptr},
    {"LegOptAttributeOther", '1', {}, {{{609, "OPT"}, {612, "100"}, {6009, "1"}, {613, "X"}}},
     "LegOptAttribute is Invalid", 0, nullptr},
    {"LegStrikeTooHigh", '1', {}, {{{609, "OPT"}, {612, "10000000"}, {6009, "1"}, {613, "L"}}},
     "Invalid value for field id 612", 0, nullptr},
    {"LegStrikeMissing", '1', {}, {{{609, "OPT"}, {6009, "1"}, {613, "L"}}}, "Field not found 612", 5, nullptr},
    {"LegMaturityOfSevenCharacters", '1', {}, {{{611, "2026123"}}}, "Invalid Length for field id 611", 0, nullptr},
    {"LegSideThree", '1', {}, {{}, {{624, "3"}}}, "LegSide is Invalid", 0, nullptr},
    {"LegOrderQtyZero", '1', {}, {{{685, "0"}}}, "Invalid value for field id 685", 0, nullptr},
    {"LegOrderQtyAtTheLimit", '1', {}, {{{685, "999999999"}}}, "Invalid value for field id 685", 0, nullptr},
    {"LegPriceTooHigh", '1', {}, {{{566, "10000000"}}}, "Invalid value for field id 566", 0, nullptr},
    {"LegPriceMissing", '1', {}, {{{566, ""}}}, "Field not found 566", 5, nullptr},
    {"ModifyThreeLegs", '2', {}, {{}, {}, {}}, "Nolegs is Invalid", 0, nullptr},
    {"ModifyOrdTypeMarket", '2', {{40, "1"}}, {}, "OrdType is Invalid", 0, nullptr},
    {"ModifyLegOrderQtyEqualToLegCumQty", '2', {}, {{}, {{685, "30"}}}, "LegOrderQty lesser than LegCumQty", 0,
     nullptr},
    {"CancelWithLegOrderQtyEqualToLegCumQty", '2', {{6013, "Y"}}, {{}, {{685, "30"}}}, nullptr, 10, "083a"},
    {"CancelWithoutLegOrderQty", '2', {{6013, "Y"}}, {{{685, ""}}, {{685, ""}}}, nullptr, 128,
     "00000000 00000000 0000001e"},
    {"CancelWithoutLegCumQty", '2', {{6013, "Y"}}, {{}, {{6011, ""}}}, "Field not found 6011", 5, nullptr},
    {"ModifyLegCumQtyAtTheLimit", '2', {}, {{{6011, "999999999"}}}, "Invalid value for field id 6011", 0, nullptr},
    {"CancelRemainingQtyOther", '2', {{6013, "X"}}, {}, "CancelRemainingQty is Invalid", 0, nullptr},
    {"WithoutCancelRemainingQty", '2', {{6013, ""}}, {}, nullptr, 164, "0800"},
    {"ModifyWithoutExchangeTime", '2', {{6000, ""}}, {}, "Field not found 6000", 5, nullptr},
    {"ModifyWithoutOrderId", '2', {{37, ""}}, {}, "Field not found 37", 5, nullptr},
    {"ModifyImmediateOrCancel", '2', {{59, "3"}}, {}, nullptr, 164, "0a10"},
};
// clang-format on

FIX::Message caseRequest(const SpreadCase &c)
{
    const Fields &body = c.type == '1' ? SPREAD : MODIFY;
    const Legs &base = c.type == '1' ? SPREAD_LEGS : MODIFY_LEGS;
    Legs legs = base;
    for (size_t i = 0; i < c.legChanges.size(); ++i)
    {
        if (i >= legs.size())
            legs.push_back(base[0]);
        legs[i] = with(legs[i], c.legChanges[i]);
    }
    return multiLeg(c.type, with(body, c.changes), legs);
}
} // namespace

TEST(FixSpreadRequests, EachRequestBecomesTheExchangeSpreadRecord)
{
    ReadyClient r;
    r.logOnReady();

    struct Golden
    {
        const char *name;
        FIX::Message request;
        int16_t transcode;
        const char *hex;
    };
    // clang-format off
    const Golden goldens[] = {
        {"FirmTwoLegSpreadOfFutures", multiLeg('1', SPREAD, SPREAD_LEGS), 2100,
         "000003e9 00000000 5a4f 0834 0000 000000000000000000000000000000000000000000000000 0194" // header
         "20 0000000000 20 000000 20202020"            // 40 marker, 46 modification marker, 50 blanks
         "000088b9 465554494458 5a4f5241582020202020"  // 54 token, 58 FUTIDX, 64 symbol
         "5867cef8 ffffffff 5858 0000"                 // 74 expiry 2026-12-31 15:30, 78 strike, 82 XX, 84
         "2020202020 202020 00000000"                  // 86 and 91 blanks
         "0000000000000000 20202020202020202020"       // 98 order number, 106 account
         "0001 0001 00000000 00000000 00000032 00000032 00000000" // 116 book, side, 120, 124, volumes
         "00000000 00000000000000000000000000000000 00000000"     // 140 price (moved), 160 time
         "0800 0001 000003e9 4d454d4252"               // 164 day, branch, trader, broker
         "202020202020202020202020202020202020202020202020 4f" // 177 blanks, 201 'O'
         "202020202020202020202020 0002 000a 55 20"    // 202 settlor, firm, 10, 'U', blank
         "15000000 4093480000000000 0000000000000000"  // 220 ClOrdID 21, compliance 1234
         "000000fa"                                    // 240 spread price 2.50
         // 244 second leg: token, FUTIDX, symbol, 2027-01-28 15:30, strike, XX, 0, blanks
         "000088ba 465554494458 5a4f5241582020202020 588cb8f8 ffffffff 5858 0000 2020202020 000000"
         "0002 0000000000000000 00000032 00000032 00000000 00000000 0000000000000000" // side, volumes, price 0
         "0800 4f 55 20 00"                            // day, 'O', 'U', blank
         // 324 third leg: empty
         "ffffffff 000000000000 20202020202020202020 00000000 ffffffff 0000 0000 2020202020"
         "000000 0000 0000000000000000 00000000 00000000 00000000 00000000 0000000000000000"
         "0800 0000 20 00"},
        {"CustomerTwoLegOrderOfOptions", multiLeg('1', TWO_LEG_ORDER, OPTION_LEGS), 2102,
         "000003e9 00000000 5a4f 0836 0000 000000000000000000000000000000000000000000000000 0194"
         "20 0000000000 20 000000 20202020"
         "0000002a 4f505453544b 5a4f5241582020202020"  // OPTSTK
         "5867cef8 0001e240 4341 0000"                 // strike 1234.56, call American
         "2020202020 202020 00000000"
         "0000000000000000 41434331202020202020"       // account ACC1
         "0002 0001 00000000 00000000 0000000a 0000000a 00000000" // book type 2 for all-or-none
         "000004e2 00000000000000000000000000000000 00000000"     // leg price 12.50
         "0b00 0001 000003e9 4d454d4252"               // all or none, immediate or cancel, day
         "202020202020202020202020202020202020202020202020 4f"
         "434c523031 20202020202020 0001 000a 55 20"   // settlor CLR01, customer
         "16000000 4093480000000000 0000000000000000"
         "00000000"                                    // no spread price
         "0000002b 4f505453544b 5a4f5241582020202020 5867cef8 0001fbd0 5045 0000 2020202020 000000" // put European
         "0002 0000000000000000 0000000a 0000000a 00000000 ffffffce 0000000000000000" // price -0.50
         "0a00 4f 55 20 00"
         "ffffffff 000000000000 20202020202020202020 00000000 ffffffff 0000 0000 2020202020"
         "000000 0000 0000000000000000 00000000 00000000 00000000 00000000 0000000000000000"
         "0800 0000 20 00"},
        {"FirmThreeLegOrderOfFutures", multiLeg('1', THREE_LEG_ORDER, THREE_LEGS), 2104,
         "000003e9 00000000 5a4f 0838 0000 000000000000000000000000000000000000000000000000 0194"
         "20 0000000000 20 000000 20202020"
         "000088b9 465554494458 5a4f5241582020202020"
         "5867cef8 ffffffff 5858 0000"
         "2020202020 202020 00000000"
         "0000000000000000 20202020202020202020"
         "0001 0001 00000000 00000000 00000005 00000005 00000000"
         "00002729 00000000000000000000000000000000 00000000"     // 100.25
         "0a00 0001 000003e9 4d454d4252"
         "202020202020202020202020202020202020202020202020 4f"
         "202020202020202020202020 0002 000a 55 20"
         "17000000 0000000000000000 0000000000000000"  // ClOrdID 23, compliance 0
         "00000000"
         "000088ba 465554494458 5a4f5241582020202020 588cb8f8 ffffffff 5858 0000 2020202020 000000"
         "0002 0000000000000000 00000005 00000005 00000000 00002774 0000000000000000" // 101.00
         "0a00 4f 55 20 00"
         "000088bb 465554494458 5a4f5241582020202020 58b1a2f8 ffffffff 5858 0000 2020202020 000000"
         "0001 0000000000000000 00000005 00000005 00000000 000026ac 0000000000000000" // 99.00
         "0a00 4f 55 20 00"},
        {"SpreadModification", multiLeg('2', MODIFY, MODIFY_LEGS), 2118,
         "000003e9 00000000 5a4f 0846 0000 000000000000000000000000000000000000000000000000 0194"
         "20 0000000000 54 000000 20202020"            // modification marker 'T'
         "000088b9 465554494458 5a4f5241582020202020"
         "5867cef8 ffffffff 5858 0000"
         "2020202020 202020 00000000"
         "430c6bf526340038 20202020202020202020"       // order number 1000000000000007
         "0001 0001 00000000 00000000 00000032 00000032 0000001e" // 80 - 30 remaining, 30 filled
         "00000000 00000000000000000000000000000000 584a7d3a"     // modified at 2026-12-09 04:15:30 UTC
         "0810 0001 000003e9 4d454d4252"               // day, modified
         "202020202020202020202020202020202020202020202020 4f"
         "202020202020202020202020 0002 000a 55 20"
         "18000000 4093480000000000 0000000000000000"
         "00000177"                                    // spread price 3.75
         "000088ba 465554494458 5a4f5241582020202020 588cb8f8 ffffffff 5858 0000 2020202020 000000"
         "0002 0000000000000000 00000032 00000032 0000001e 00000000 0000000000000000"
         "0800 4f 55 20 00"
         "ffffffff 000000000000 20202020202020202020 00000000 ffffffff 0000 0000 2020202020"
         "000000 0000 0000000000000000 00000000 00000000 00000000 00000000 0000000000000000"
         "0000 0000 20 00"},                           // no day flag on a modification's third leg
        {"SpreadCancellation", multiLeg('2', with(MODIFY, {{6013, "Y"}}), MODIFY_LEGS), 2106,
         "000003e9 00000000 5a4f 083a 0000 000000000000000000000000000000000000000000000000 0194"
         "20 0000000000 54 000000 20202020"
         "000088b9 465554494458 5a4f5241582020202020"
         "5867cef8 ffffffff 5858 0000"
         "2020202020 202020 00000000"
         "430c6bf526340038 20202020202020202020"
         "0001 0001 00000000 00000000 00000000 00000000 0000001e" // no volumes when cancelling
         "00000000 00000000000000000000000000000000 584a7d3a"
         "0800 0001 000003e9 4d454d4252"               // no modified flag
         "202020202020202020202020202020202020202020202020 4f"
         "202020202020202020202020 0002 000a 55 20"
         "18000000 4093480000000000 0000000000000000"
         "00000177"
         "000088ba 465554494458 5a4f5241582020202020 588cb8f8 ffffffff 5858 0000 2020202020 000000"
         "0002 0000000000000000 00000000 00000000 0000001e 00000000 0000000000000000"
         "0800 4f 55 20 00"
         "ffffffff 000000000000 20202020202020202020 00000000 ffffffff 0000 0000 2020202020"
         "000000 0000 0000000000000000 00000000 00000000 00000000 00000000 0000000000000000"
         "0000 0000 20 00"},
    };
    // clang-format on
    uint32_t lastSequence = 0;
    for (const auto &golden : goldens)
    {
        SCOPED_TRACE(golden.name);
        r.send(golden.request);
        Record spread(r.side.take(r.side.toUserSession()));
        ASSERT_NE(spread, nullptr);
        ASSERT_EQ(spread->data_length, 404);
        const std::string expected = strip(golden.hex);
        ASSERT_EQ(expected.size(), 808u) << "the golden record itself";
        EXPECT_EQ(hexOf(spread.get()), expected);
        EXPECT_EQ(spread->tag, NORMAL_MESSAGE);
        EXPECT_EQ(spread->user_type, 1);
        EXPECT_EQ(spread->workstation_index, CLIENT_INDEX);
        EXPECT_EQ(spread->workstation_network_handle, HANDLE);
        EXPECT_EQ(spread->link_index, 0);
        EXPECT_EQ(spread->transcode, golden.transcode);
        EXPECT_GT(spread->sequence_number, lastSequence);
        lastSequence = spread->sequence_number;
    }
    EXPECT_EQ(r.client.application.firstOfType("j"), "");
}

TEST(FixSpreadRequests, EveryCheckAnswersWithItsReject)
{
    ReadyClient r;
    r.logOnReady();
    for (const SpreadCase &c : SPREAD_CASES)
    {
        SCOPED_TRACE(c.name);
        const int seqNum = r.send(caseRequest(c));
        if (c.text == nullptr)
        {
            Record spread(r.side.take(r.side.toUserSession()));
            ASSERT_NE(spread, nullptr);
            const std::string expected = strip(c.bytes);
            EXPECT_EQ(bytesAt(spread.get(), static_cast<uint32_t>(c.reason),
                              static_cast<uint32_t>(expected.size() / 2)),
                      expected);
            continue;
        }
        const std::string reject = r.rejectOf(seqNum);
        ASSERT_NE(reject, "");
        EXPECT_EQ(tagValue(reject, 58), c.text);
        EXPECT_EQ(tagValue(reject, 380), std::to_string(c.reason));
        EXPECT_EQ(tagValue(reject, 372), c.type == '1' ? "U1" : "U2");
        EXPECT_EQ(r.side.take(r.side.toUserSession(), 50), nullptr) << "nothing went towards the exchange";
    }
    EXPECT_EQ(r.side.shutdown.load(), 0);
}

TEST(FixSpreadRequests, ThirdLegOfAThreeLegOrderIsCheckedLikeTheOthers)
{
    ReadyClient r;
    r.logOnReady();
    Legs legs = THREE_LEGS;
    legs[2] = with(legs[2], {{609, "CS"}});
    const std::string reject = r.rejectOf(r.send(multiLeg('1', THREE_LEG_ORDER, legs)));
    EXPECT_EQ(tagValue(reject, 58), "LegSecurityType is Invalid");
    EXPECT_EQ(r.side.take(r.side.toUserSession(), 50), nullptr);
}

TEST(FixSpreadRequests, LegNumberOutsideOneToThreeIsRefused)
{
    ReadyClient r;
    r.logOn(0);
    const FIX42::SpreadMultiLegSingle spread = withLegs<FIX42::SpreadMultiLegSingle>(SPREAD, SPREAD_LEGS);
    const FIX42::SpreadCancelReplaceRequest replace =
        withLegs<FIX42::SpreadCancelReplaceRequest>(MODIFY, MODIFY_LEGS);
    std::vector<uint8_t> record(404, 0xaa);
    for (uint16_t leg : {0, 4})
    {
        EXPECT_EQ(r.a.app->fixNwInfoGetSpreadMultiLegInfo(spread, record.data(), leg), 203);
        EXPECT_EQ(r.a.app->fixNwInfoGetSpreadCancelReplaceLegInfo(replace, record.data(), leg, 'N'), 203);
    }
    EXPECT_EQ(record, std::vector<uint8_t>(404, 0xaa)) << "nothing written";
}

TEST(FixSpreadRequests, UnknownSessionIsLoggedOut)
{
    ReadyClient r;
    r.logOn(0);
    r.a.app->fixNwInfoValidClientCount();
    ASSERT_EQ(r.a.app->m_currentSessionIndex, FIX_NO_SESSION_INDEX);
    r.a.app->onMessage(withLegs<FIX42::SpreadCancelReplaceRequest>(MODIFY, MODIFY_LEGS), ACCEPTOR_SESSION);
    ASSERT_TRUE(r.client.waitFor("5"));
    EXPECT_EQ(tagValue(r.client.application.firstOfType("5"), 58), "Session Not Found");
}

TEST(FixSpreadRequests, SpreadDuringShutdownGetsNoAnswer)
{
    ReadyClient ready;
    ready.logOnReady();
    ea_flag_set(&ready.side.shutdown, 1);
    ready.a.app->fixNwInfoValidClientCount();
    ready.a.app->onMessage(withLegs<FIX42::SpreadMultiLegSingle>(SPREAD, SPREAD_LEGS), ACCEPTOR_SESSION);
    EXPECT_EQ(ready.side.take(ready.side.toUserSession(), 200), nullptr);
    EXPECT_EQ(ready.client.application.firstOfType("j"), "");
}

TEST(FixSpreadRequests, EachHandlerLogsItsOwnLines)
{
    const std::string id = ACCEPTOR_SESSION.toString();
    expectHandlerLines(
        withLegs<FIX42::SpreadMultiLegSingle>(SPREAD, SPREAD_LEGS), "fix_spread_requests.cpp",
        "Sending spreadMultiLegSingle message of session index[0] and Fix Nw handle [1] to User Session Module",
        "Session id [" + id +
            "] not found in the fix_client_list.Hence not processing the SpreadMultiLegSingle message");
    expectHandlerLines(
        withLegs<FIX42::SpreadCancelReplaceRequest>(MODIFY, MODIFY_LEGS), "fix_spread_requests.cpp",
        "Sending spreadCancelReplaceRequest message of session index[0] and Fix Nw handle [1] to User Session Module",
        "Session id [" + id +
            "] not found in the fix_client_list.Hence not processing the SpreadCancelReplaceRequest message");
}
