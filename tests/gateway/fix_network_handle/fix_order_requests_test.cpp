// Single orders of a FIX client against the application's acceptor, on loopback with a
// real initiator of the same engine: each request becomes the exchange's order record on
// the queue to the user session thread (the test plays that thread and the box
// communication thread through the queues), every field check answers with its
// BusinessMessageReject, and the gate refuses orders until the session is ready.
#include <gtest/gtest.h>

#include <map>

#include "gateway/fix_network_handle/fix_request_test_support.h"

using namespace fix_front_end_test;

namespace
{
// A customer's limit order for a future, and the cancellation and modification of an order.
const Fields NEW_ORDER = {{48, "35001"}, {21, "1"},       {55, "ZORAX"}, {460, "7"},
                          {167, "FUT"},  {200, "202612"}, {205, "31"},   {204, "0"},
                          {1, "ACC1"},   {440, "CLR01"},  {54, "1"},     {38, "50"},
                          {40, "2"},     {44, "123.45"},  {376, "1234"}, {11, "7"}};
const Fields CANCEL = {{48, "35001"}, {55, "ZORAX"}, {460, "7"}, {167, "FUT"}, {200, "202612"},
                       {205, "31"},   {54, "2"},     {40, "3"},  {37, "5.5"},  {11, "8"}};
const Fields MODIFY = {
    {48, "35001"}, {55, "ZORAX"}, {460, "7"},     {167, "FUT"}, {200, "202612"},
    {205, "31"},   {204, "1"},    {54, "1"},      {111, "5"},   {14, "20"},
    {38, "50"},    {40, "2"},     {44, "123.45"}, {59, "0"},    {6000, "20261209-04:15:30"},
    {37, "98765"}, {376, "1234"}, {11, "9"}};

// One request with one fault, or none.
struct FieldCase
{
    const char *name;
    char type;
    Fields changes;
    const char *text;  // the reject's Text, or null when the request passes
    int reason;        // BusinessRejectReason, or the record offset to look at when it passes
    const char *bytes; // the bytes expected there
};

// clang-format off
const FieldCase FIELD_CASES[] = {
    {"SecurityIdZero", 'D', {{48, "0"}}, "Invalid value for field id 48", 0, nullptr},
    {"SecurityIdLetters", 'D', {{48, "ABC"}}, "Invalid value for field id 48", 0, nullptr},
    {"SecurityIdTooWide", 'D', {{48, "99999999999"}}, "Invalid value for field id 48", 0, nullptr},
    {"SecurityIdMissing", 'D', {{48, ""}}, "Field not found 48", 5, nullptr},
    {"HandlInstTwo", 'D', {{21, "2"}}, "HandInst is Invalid", 0, nullptr},
    {"SymbolOfElevenCharacters", 'D', {{55, "ABCDEFGHIJK"}}, "Invalid Length for field id 55", 0, nullptr},
    {"ProductSix", 'D', {{460, "6"}}, "Product is Invalid", 0, nullptr},
    {"ProductMissing", 'D', {{460, ""}}, "Field not found 460", 5, nullptr},
    {"SecurityTypeOther", 'D', {{167, "CS"}}, "SecurityType is Invalid", 0, nullptr},
    {"StrikeTooHigh", 'D', {{167, "OPT"}, {202, "10000000"}, {201, "1"}, {206, "L"}},
     "Invalid value for field id 202", 0, nullptr},
    {"StrikeJustBelowTheLimit", 'D', {{167, "OPT"}, {202, "9999999"}, {201, "1"}, {206, "L"}}, nullptr, 78,
     "3b9ac99c"},
    {"StrikeDigitsBeyondHundredthsDropped", 'D', {{167, "OPT"}, {202, "1234.567"}, {201, "0"}, {206, "S"}},
     nullptr, 78, "0001e240 5045"},
    {"StrikeMissing", 'D', {{167, "OPT"}, {201, "1"}, {206, "L"}}, "Field not found 202", 5, nullptr},
    {"PutOrCallTwo", 'D', {{167, "OPT"}, {202, "100"}, {201, "2"}, {206, "L"}}, "PutOrCall is Invalid", 0,
     nullptr},
    {"OptAttributeOther", 'D', {{167, "OPT"}, {202, "100"}, {201, "1"}, {206, "X"}}, "OptAttribute is Invalid", 0,
     nullptr},
    {"MaturityOfEightCharacters", 'D', {{200, "20261231"}}, "Invalid Length for field id 200", 0, nullptr},
    {"MaturityDayOfOneCharacter", 'D', {{205, "5"}}, "Invalid Length for field id 205", 0, nullptr},
    {"CustomerOrFirmTwo", 'D', {{204, "2"}}, "CustomerOrFirm is Invalid", 0, nullptr},
    {"CustomerWithoutClearingAccount", 'D', {{440, ""}}, "Field not found 440", 5, nullptr},
    {"CustomerWithoutAccount", 'D', {{1, ""}}, "Field not found 1", 5, nullptr},
    {"AccountOfElevenCharacters", 'D', {{1, "ABCDEFGHIJK"}}, "Invalid Length for field id 1", 0, nullptr},
    {"ClearingAccountOfThirteen", 'D', {{440, "ABCDEFGHIJKLM"}}, "Invalid Length for field id 440", 0, nullptr},
    {"FirmIgnoresAccounts", 'D', {{204, "1"}, {1, "ABCDEFGHIJK"}, {440, ""}}, nullptr, 106,
     "20202020202020202020"},
    {"SideThree", 'D', {{54, "3"}}, "Side is Invalid", 0, nullptr},
    {"MaxFloorAtTheLimit", 'D', {{111, "999999999"}}, "Invalid value for field id 111", 0, nullptr},
    {"MaxFloorTooNegative", 'D', {{111, "-3000000000"}}, "Invalid value for field id 111", 0, nullptr},
    {"MaxFloorCopied", 'D', {{111, "25"}}, nullptr, 120, "00000019 00000019"},
    {"OrderQtyZero", 'D', {{38, "0"}}, "Invalid value for field id 38", 0, nullptr},
    {"OrderQtyAtTheLimit", 'D', {{38, "999999999"}}, "Invalid value for field id 38", 0, nullptr},
    {"OrderQtyJustBelowTheLimit", 'D', {{38, "999999998"}}, nullptr, 128, "3b9ac9fe 3b9ac9fe"},
    {"OrdTypeFive", 'D', {{40, "5"}}, "OrdType is Invalid", 0, nullptr},
    {"LimitPriceZero", 'D', {{44, "0"}}, "Invalid value for field id 44", 0, nullptr},
    {"LimitPriceMissing", 'D', {{44, ""}}, "Field not found 44", 5, nullptr},
    {"MarketOrderReadsNoPrice", 'D', {{40, "1"}, {44, "0"}}, nullptr, 140, "00000000"},
    {"StopOrderWithoutStopPx", 'D', {{40, "3"}}, "Field not found 99", 5, nullptr},
    {"StopPxTooHigh", 'D', {{40, "3"}, {99, "10000000"}}, "Invalid value for field id 99", 0, nullptr},
    {"StopPxNegative", 'D', {{40, "3"}, {99, "-1.5"}}, "Invalid value for field id 99", 0, nullptr},
    {"StopPxZero", 'D', {{40, "4"}, {99, "0"}}, nullptr, 144, "00000000"},
    {"StopOrderBookAndFlag", 'D', {{40, "3"}, {99, "12.345"}}, nullptr, 140, "00000000 000004d2"},
    {"TimeInForceGoodTillCancel", 'D', {{59, "1"}}, "Unsupported value for TimeInForce ", 0, nullptr},
    {"TimeInForceDay", 'D', {{59, "0"}}, nullptr, 164, "0800"},
    {"ComplianceIdMissing", 'D', {{376, ""}}, "Field not found 376", 5, nullptr},
    {"ClOrdIdAboveTheLimit", 'D', {{11, "2000000001"}}, "Invalid value for field id 11", 0, nullptr},
    {"ClOrdIdOfLetters", 'D', {{11, "ABC"}}, nullptr, 220, "00000000"},
    {"ClOrdIdMissing", 'D', {{11, ""}}, "Field not found 11", 5, nullptr},
    {"CancelWithoutComplianceId", 'F', {}, nullptr, 224, "0000000000000000"},
    {"CancelReadsNoHandlInst", 'F', {{21, "2"}}, nullptr, 10, "0816"},
    {"CancelOrderQtyZero", 'F', {{38, "0"}}, "Invalid value for field id 38", 0, nullptr},
    {"CancelOrderQtyStored", 'F', {{38, "70"}}, nullptr, 128, "00000046 00000046"},
    {"CancelAccountStored", 'F', {{1, "ACC2"}}, nullptr, 106, "41434332202020202020"},
    {"CancelAccountOfElevenCharacters", 'F', {{1, "ABCDEFGHIJK"}}, "Invalid Length for field id 1", 0, nullptr},
    {"CancelWithoutOrderId", 'F', {{37, ""}}, "Field not found 37", 5, nullptr},
    {"CancelWithoutOrdType", 'F', {{40, ""}}, "Field not found 40", 5, nullptr},
    {"CancelSideOther", 'F', {{54, "5"}}, "Side is Invalid", 0, nullptr},
    {"ModifyOrderQtyEqualToCumQty", 'G', {{38, "20"}}, "OrderQty lesser than CumQty ", 0, nullptr},
    {"ModifyWithoutHandlInst", 'G', {}, nullptr, 10, "07f8"},
    {"ModifyWithHandlInstTwo", 'G', {{21, "2"}}, nullptr, 10, "07f8"},
    {"ModifyWithoutExchangeTime", 'G', {{6000, ""}}, "Field not found 6000", 5, nullptr},
    {"ModifyCumQtyAtTheLimit", 'G', {{14, "999999999"}}, "Invalid value for field id 14", 0, nullptr},
    {"ModifyWithoutCumQty", 'G', {{14, ""}}, "Field not found 14", 5, nullptr},
    {"ModifyWithoutComplianceId", 'G', {{376, ""}}, "Field not found 376", 5, nullptr},
    {"ModifyWithoutOrderId", 'G', {{37, ""}}, "Field not found 37", 5, nullptr},
    {"ModifyStopPxNegative", 'G', {{40, "4"}, {99, "-0.01"}}, "Invalid value for field id 99", 0, nullptr},
    {"ModifyImmediateOrCancel", 'G', {{59, "3"}}, nullptr, 164, "0210"},
};
// clang-format on

const Fields &baseOf(char type)
{
    return type == 'D' ? NEW_ORDER : type == 'F' ? CANCEL : MODIFY;
}
} // namespace

TEST(FixOrderRequests, EachRequestBecomesTheExchangeOrderRecord)
{
    ReadyClient r;
    r.logOnReady();

    struct Golden
    {
        const char *name;
        char type;
        Fields fields;
        int16_t transcode;
        const char *hex;
    };
    // clang-format off
    const Golden goldens[] = {
        {"CustomerLimitFuture", 'D', NEW_ORDER, 2000,
         "000003e9 00000000 5a4f 07d0 0000 000000000000000000000000000000000000000000000000 00f0" // header
         "20 0000000000 20 000000 20202020"           // 40 marker, 46 modification marker, 50 blanks
         "000088b9 465554494458 5a4f5241582020202020" // 54 token, 58 FUTIDX, 64 symbol
         "5867cef8 ffffffff 5858 0000"                // 74 expiry 2026-12-31 15:30, 78 strike, 82 XX, 84
         "2020202020 000000 20 000000"                // 86 blanks, 94 blank
         "0000000000000000 41434331202020202020"      // 98 order number, 106 account
         "0001 0001 00000000 00000000 00000032 00000032 00000000" // 116 book, side, volumes
         "00003039 00000000 000000000000000000000000 00000000"    // 140 price, trigger, 160 time
         "0800 0001 000003e9 4d454d4252"              // 164 flags, branch, trader, broker
         "202020202020202020202020202020202020202020202020 4f" // 177 blanks, 201 'O'
         "434c523031 20202020202020 0001 000a 55 50"  // 202 settlor, pro/client, 10, U, P
         "07000000 4093480000000000 0000000000000000"}, // 220 ClOrdID, compliance
        {"FirmStopLimitOptionImmediateOrCancel", 'D',
         with(NEW_ORDER, {{48, "42"}, {55, "ZORAXMID01"}, {460, "5"}, {167, "OPT"}, {202, "1234.567"},
                          {201, "1"}, {206, "S"}, {200, "202701"}, {205, "28"}, {204, "1"}, {1, "IGNORED"},
                          {54, "2"}, {111, "10"}, {38, "100.9"}, {40, "4"}, {99, "99.5"}, {44, "100.25"},
                          {59, "3"}, {376, "98765"}, {11, "2000000000"}}),
         2000,
         "000003e9 00000000 5a4f 07d0 0000 000000000000000000000000000000000000000000000000 00f0"
         "20 0000000000 20 000000 20202020"
         "0000002a 4f505453544b 5a4f5241584d49443031" // OPTSTK, ZORAXMID01
         "588cb8f8 0001e240 4345 0000"                // 2027-01-28 15:30, strike 1234.56, CE
         "2020202020 000000 20 000000"
         "0000000000000000 20202020202020202020"
         "0003 0002 0000000a 0000000a 00000064 00000064 00000000" // book 3, side 2, disclosed 10, qty 100
         "00002729 000026de 000000000000000000000000 00000000"    // price 100.25, trigger 99.50
         "2200 0001 000003e9 4d454d4252"                          // stop + immediate or cancel
         "202020202020202020202020202020202020202020202020 4f"
         "202020202020202020202020 0002 000a 55 50"
         "00943577 40f81cd000000000 0000000000000000"},
        {"StopCancellation", 'F', CANCEL, 2070,
         "000003e9 00000000 5a4f 0816 0000 000000000000000000000000000000000000000000000000 00f0"
         "20 0000000000 54 000000 20202020"           // modification marker 'T'
         "000088b9 465554494458 5a4f5241582020202020"
         "5867cef8 ffffffff 5858 0000"
         "2020202020 000000 20 000000"
         "4016000000000000 20202020202020202020"      // order number 5.5
         "0003 0002 00000000 00000000 00000000 00000000 00000000"
         "00000000 00000000 000000000000000000000000 00000000"
         "2000 0001 000003e9 4d454d4252"              // stop flag only
         "202020202020202020202020202020202020202020202020 4f"
         "202020202020202020202020 0000 000a 55 50"
         "08000000 0000000000000000 0000000000000000"},
        {"FirmModification", 'G', MODIFY, 2040,
         "000003e9 00000000 5a4f 07f8 0000 000000000000000000000000000000000000000000000000 00f0"
         "20 0000000000 54 000000 20202020"
         "000088b9 465554494458 5a4f5241582020202020"
         "5867cef8 ffffffff 5858 0000"
         "2020202020 000000 20 000000"
         "40f81cd000000000 20202020202020202020"      // order number 98765
         "0001 0001 00000005 00000000 0000001e 0000001e 00000014" // disclosed 5, 50 - 20, filled 20
         "00003039 00000000 000000000000000000000000 584a7d3a"    // modified at 2026-12-09 04:15:30 UTC
         "0810 0001 000003e9 4d454d4252"              // day, modified
         "202020202020202020202020202020202020202020202020 4f"
         "202020202020202020202020 0002 000a 55 50"
         "09000000 4093480000000000 0000000000000000"},
    };
    // clang-format on
    uint32_t lastSequence = 0;
    for (const auto &golden : goldens)
    {
        SCOPED_TRACE(golden.name);
        r.send(golden.type, golden.fields);
        Record order(r.side.take(r.side.toUserSession()));
        ASSERT_NE(order, nullptr);
        ASSERT_EQ(order->data_length, 240);
        EXPECT_EQ(hexOf(order.get()), strip(golden.hex));
        EXPECT_EQ(order->tag, NORMAL_MESSAGE);
        EXPECT_EQ(order->user_type, 1);
        EXPECT_EQ(order->workstation_index, CLIENT_INDEX);
        EXPECT_EQ(order->workstation_network_handle, HANDLE);
        EXPECT_EQ(order->link_index, 0);
        EXPECT_EQ(order->transcode, golden.transcode);
        EXPECT_GT(order->sequence_number, lastSequence);
        lastSequence = order->sequence_number;
    }
    EXPECT_EQ(r.client.application.firstOfType("j"), "");
}

TEST(FixOrderRequests, EveryFieldCheckAnswersWithItsReject)
{
    ReadyClient r;
    r.logOnReady();
    for (const auto &c : FIELD_CASES)
    {
        SCOPED_TRACE(c.name);
        const int seqNum = r.send(c.type, with(baseOf(c.type), c.changes));
        if (c.text == nullptr)
        {
            Record order(r.side.take(r.side.toUserSession()));
            ASSERT_NE(order, nullptr);
            const std::string expected = strip(c.bytes);
            EXPECT_EQ(bytesAt(order.get(), static_cast<uint32_t>(c.reason),
                              static_cast<uint32_t>(expected.size() / 2)),
                      expected);
            continue;
        }
        const std::string reject = r.rejectOf(seqNum);
        ASSERT_NE(reject, "");
        EXPECT_EQ(tagValue(reject, 58), c.text);
        EXPECT_EQ(tagValue(reject, 380), std::to_string(c.reason));
        EXPECT_EQ(tagValue(reject, 372), std::string(1, c.type));
        // The record was dropped: nothing went towards the exchange.
        EXPECT_EQ(r.side.take(r.side.toUserSession(), 50), nullptr);
    }
    EXPECT_EQ(r.side.shutdown.load(), 0);
}

TEST(FixOrderRequests, GateRefusesOrdersUntilTheSessionIsReady)
{
    ReadyClient r;
    r.logOn(1);

    // Logged on, system information request still awaited.
    for (char type : {'D', 'F', 'G'})
    {
        const std::string reject = r.rejectOf(r.send(type, baseOf(type)));
        EXPECT_EQ(tagValue(reject, 58), "Message type Invalid, Expecting System Information In(35=g)")
            << type;
        EXPECT_EQ(tagValue(reject, 380), "0");
    }
    // Journal download under way.
    r.askForJournal(1);
    Record journal(r.side.take(r.side.toUserSession()));
    ASSERT_NE(journal, nullptr);
    EXPECT_EQ(get_i16_be(journal->data, 10), 7000);
    EXPECT_EQ(tagValue(r.rejectOf(r.send('D', NEW_ORDER)), 58), "Journal Download In Progress");
    EXPECT_EQ(r.side.take(r.side.toUserSession(), 50), nullptr);

    put(r.side.fromUserSession(), zeroReply(40, 7031, 0, CLIENT_INDEX, HANDLE));
    ASSERT_TRUE(r.client.waitFor("h"));
    // Ready, but no link yet: the allowance of two requests is not renewed.
    for (int i = 0; i < 2; ++i)
    {
        r.send('D', NEW_ORDER);
        Record order(r.side.take(r.side.toUserSession()));
        ASSERT_NE(order, nullptr);
        EXPECT_EQ(order->link_index, 65535);
    }
    const std::string refused = r.rejectOf(r.send('F', CANCEL));
    EXPECT_EQ(tagValue(refused, 58), "System is not ready to accept requests.");
    EXPECT_EQ(tagValue(refused, 380), "4");
    EXPECT_EQ(r.side.take(r.side.toUserSession(), 50), nullptr);

    r.assignLink();
    r.send('G', MODIFY);
    Record modification(r.side.take(r.side.toUserSession()));
    ASSERT_NE(modification, nullptr);
    EXPECT_EQ(get_i16_be(modification->data, 10), 2040);
}

TEST(FixOrderRequests, UnknownSessionIsLoggedOut)
{
    ReadyClient r;
    r.logOn(0);
    // The gate never hands over a message without a slot; the handler itself must still
    // end such a session. Taking the lock orders this thread after the acceptor's work.
    r.a.app->fixNwInfoValidClientCount();
    ASSERT_EQ(r.a.app->m_currentSessionIndex, FIX_NO_SESSION_INDEX);
    r.a.app->onMessage(build<FIX42::OrderCancelRequest>(CANCEL), ACCEPTOR_SESSION);
    ASSERT_TRUE(r.client.waitFor("5"));
    EXPECT_EQ(tagValue(r.client.application.firstOfType("5"), 58), "Session Not Found");
    // What follows on the queue is the end of the session, never an order.
    Record next(r.side.take(r.side.toUserSession(), 200));
    if (next != nullptr)
    {
        EXPECT_EQ(next->tag, CLIENT_DISCONNECTED);
    }
}

TEST(FixOrderRequests, NewOrderDuringShutdownGetsNoAnswer)
{
    ReadyClient r;
    r.logOnReady();
    ea_flag_set(&r.side.shutdown, 1);
    r.a.app->fixNwInfoValidClientCount();
    r.a.app->onMessage(build<FIX42::NewOrderSingle>(NEW_ORDER), ACCEPTOR_SESSION);
    EXPECT_EQ(r.side.take(r.side.toUserSession(), 200), nullptr);
    EXPECT_EQ(r.client.application.firstOfType("j"), "");
    EXPECT_EQ(r.client.application.firstOfType("5"), "");
}

TEST(FixOrderRequests, EachHandlerLogsItsOwnLines)
{
    const std::string id = ACCEPTOR_SESSION.toString();
    expectHandlerLines(
        request('D', NEW_ORDER), "fix_order_requests.cpp",
        "Sending newSingleOrder message of session index[0] and Fix Nw handle [1] to User Session Module",
        "Session id [" + id +
            "] not found in the fix_client_list.Hence not processing the NewOrderSingle message");
    expectHandlerLines(
        request('F', CANCEL), "fix_order_requests.cpp",
        "Sending OrderCancelRequest message of session index[0] and Fix Nw handle [1] to User Session Module",
        "Session id [" + id + "] not found in the fix_client_list.Hence not processing OrderCancelRequest.");
    expectHandlerLines(
        request('G', MODIFY), "fix_order_requests.cpp",
        "Sending OrderCancelReplaceRequest message of session index[0] and Fix Nw handle [1] to User Session Module",
        "Session id [" + id +
            "] not found in the fix_client_list. Hence not processing OrderCancelReplaceRequest");
}
