// Exercise requests of a FIX client against the application's acceptor, on loopback with a
// real initiator of the same engine: each PositionMaintenanceRequest becomes the
// exchange's 162-byte position record on the queue to the user session thread (golden
// bytes written from the record layout), and every check answers with its
// BusinessMessageReject while nothing reaches the exchange.
#include <gtest/gtest.h>

#include "gateway/fix_network_handle/fix_request_test_support.h"

using namespace fix_front_end_test;

namespace
{
// A customer's request to exercise 25 stock call options.
const Fields EXERCISE = {{48, "42"},    {55, "ZORAX"}, {460, "5"},    {167, "OPT"},
                         {202, "1300"}, {201, "1"},    {206, "S"},    {200, "202612"},
                         {205, "31"},   {204, "0"},    {1, "ACC1"},   {440, "CLR01"},
                         {53, "25"},    {709, "1"},    {710, "REQ7"}, {712, "1"}};
// What a replacement or cancellation adds: the exchange's number of the request and its time.
const Fields EARLIER = {{714, "5001"}, {6000, "20261209-04:15:30"}};

FIX::Message position(const Fields &fields)
{
    return build<FIX42::PositionMaintenanceRequest>(fields);
}

struct PositionCase
{
    const char *name;
    Fields changes;    // to EXERCISE
    const char *text;  // the reject's Text, or null when the request passes
    int reason;        // BusinessRejectReason, or the record offset to look at when it passes
    const char *bytes; // the bytes expected there
};

// clang-format off
const PositionCase POSITION_CASES[] = {
    {"NewRequestNeedsNoEarlierRequest", {}, nullptr, 76, "0000000000000000"},
    {"ReplacementWithoutRequestNumber", {{712, "2"}, {6000, "20261209-04:15:30"}}, "Field not found 714", 5, nullptr},
    {"CancellationWithoutExchangeTime", {{712, "3"}, {714, "5001"}}, "Field not found 6000", 5, nullptr},
    {"PosMaintActionFour", {{712, "4"}}, "PosMaintAction is Invalid", 0, nullptr},
    {"DoNotExercise", {{709, "2"}}, nullptr, 102, "0000"},
    {"PosTransTypeThree", {{709, "3"}}, "PosTransType is Invalid", 0, nullptr},
    {"PosReqIdOfLetters", {{710, "ABC"}}, nullptr, 119, "414243 20202020"},
    {"PosReqIdAboveTheLimit", {{710, "2000000001"}}, "Invalid value for field id 710", 0, nullptr},
    {"PosReqIdAtTheLimit", {{710, "2000000000"}}, nullptr, 119, "32303030303030303030 20"},
    {"PosReqIdOfThirtyOneCharacters", {{710, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"}}, "Invalid Length for field id 710",
     0, nullptr},
    {"FutureHasStrikeZero", {{167, "FUT"}}, nullptr, 46, "465554 53544b 5a4f5241582020202020 5867cef8 00000000 5858"},
    {"SharesZero", {{53, "0"}}, "Invalid value for field id 53", 0, nullptr},
    {"SharesMissing", {{53, ""}}, "Field not found 53", 5, nullptr},
    {"MaturityOfEightCharacters", {{200, "20261231"}}, "Invalid Length for field id 200", 0, nullptr},
    {"SecurityIdZero", {{48, "0"}}, "Invalid value for field id 48", 0, nullptr},
    {"SymbolOfElevenCharacters", {{55, "ABCDEFGHIJK"}}, "Invalid Length for field id 55", 0, nullptr},
    {"ProductSix", {{460, "6"}}, "Product is Invalid", 0, nullptr},
    {"SecurityTypeOther", {{167, "CS"}}, "SecurityType is Invalid", 0, nullptr},
    {"StrikeTooHigh", {{202, "10000000"}}, "Invalid value for field id 202", 0, nullptr},
    {"PutOrCallTwo", {{201, "2"}}, "PutOrCall is Invalid", 0, nullptr},
    {"OptAttributeOther", {{206, "X"}}, "OptAttribute is Invalid", 0, nullptr},
    {"CustomerOrFirmTwo", {{204, "2"}}, "CustomerOrFirm is Invalid", 0, nullptr},
    {"CustomerWithoutAccount", {{1, ""}}, "Field not found 1", 5, nullptr},
    {"FirmIgnoresAccounts", {{204, "1"}, {1, "ABCDEFGHIJK"}, {440, ""}}, nullptr, 86, "20202020202020202020"},
};
// clang-format on
} // namespace

TEST(FixPositionRequests, EachActionBecomesTheExchangePositionRecord)
{
    ReadyClient r;
    r.logOnReady();
    struct Golden
    {
        const char *name;
        Fields fields;
        int16_t transcode;
        const char *hex;
    };
    // clang-format off
    const Golden goldens[] = {
        {"CustomerExercisesOptions", EXERCISE, 4000,
         "000003e9 00000000 5a4f 0fa0 0000 000000000000000000000000000000000000000000000000 00a2" // header
         "0000 0000002a 4f505453544b 5a4f5241582020202020"  // 42 token, 46 OPTSTK, 52 symbol
         "5867cef8 0001fbd0 4345 0000 0001"                 // 62 expiry, 66 strike 1300, 70 CE, 72, 74
         "0000000000000000 0001 41434331202020202020"       // 76 no request number, 84, 86 account
         "00000019 0001 0001 00000000"                      // 96 quantity 25, customer, exercise, no time
         "0001 000003e9 4d454d4252"                         // 108 branch, trader, broker
         "52455137 2020202020202020202020202020202020202020202020202020" // 119 request id REQ7
         "434c523031 20202020202020 00"},                   // 149 settlor CLR01
        {"FirmReplacesNotToExerciseAFuture",
         with(with(EXERCISE, EARLIER), {{167, "FUT"}, {204, "1"}, {1, ""}, {440, ""}, {709, "2"}, {712, "2"}}),
         4005,
         "000003e9 00000000 5a4f 0fa5 0000 000000000000000000000000000000000000000000000000 00a2"
         "0000 0000002a 465554 53544b 5a4f5241582020202020" // FUTSTK
         "5867cef8 00000000 5858 0000 0001"                 // a future keeps strike 0
         "40b3890000000000 0001 20202020202020202020"       // request number 5001
         "00000019 0002 0000 584a7d3a"                      // firm, do not exercise, 2026-12-09 04:15:30 UTC
         "0001 000003e9 4d454d4252"
         "52455137 2020202020202020202020202020202020202020202020202020"
         "202020202020202020202020 00"},
        {"CustomerCancelsARequest", with(with(EXERCISE, EARLIER), {{712, "3"}}), 4008,
         "000003e9 00000000 5a4f 0fa8 0000 000000000000000000000000000000000000000000000000 00a2"
         "0000 0000002a 4f505453544b 5a4f5241582020202020"
         "5867cef8 0001fbd0 4345 0000 0001"
         "40b3890000000000 0001 41434331202020202020"
         "00000019 0001 0001 584a7d3a"
         "0001 000003e9 4d454d4252"
         "52455137 2020202020202020202020202020202020202020202020202020"
         "434c523031 20202020202020 00"},
    };
    // clang-format on
    for (const auto &golden : goldens)
    {
        SCOPED_TRACE(golden.name);
        r.send(position(golden.fields));
        Record record(r.side.take(r.side.toUserSession()));
        ASSERT_NE(record, nullptr);
        ASSERT_EQ(record->data_length, 162);
        const std::string expected = strip(golden.hex);
        ASSERT_EQ(expected.size(), 324u) << "the golden record itself";
        EXPECT_EQ(hexOf(record.get()), expected);
        EXPECT_EQ(record->transcode, golden.transcode);
        EXPECT_EQ(record->user_type, 1);
        EXPECT_EQ(record->workstation_index, CLIENT_INDEX);
        EXPECT_EQ(record->workstation_network_handle, HANDLE);
    }
    EXPECT_EQ(r.client.application.firstOfType("j"), "");
}

TEST(FixPositionRequests, EveryCheckAnswersWithItsReject)
{
    ReadyClient r;
    r.logOnReady();
    for (const PositionCase &c : POSITION_CASES)
    {
        SCOPED_TRACE(c.name);
        const int seqNum = r.send(position(with(EXERCISE, c.changes)));
        if (c.text == nullptr)
        {
            Record record(r.side.take(r.side.toUserSession()));
            ASSERT_NE(record, nullptr);
            const std::string expected = strip(c.bytes);
            EXPECT_EQ(bytesAt(record.get(), static_cast<uint32_t>(c.reason),
                              static_cast<uint32_t>(expected.size() / 2)),
                      expected);
            continue;
        }
        const std::string reject = r.rejectOf(seqNum);
        ASSERT_NE(reject, "");
        EXPECT_EQ(tagValue(reject, 58), c.text);
        EXPECT_EQ(tagValue(reject, 380), std::to_string(c.reason));
        EXPECT_EQ(tagValue(reject, 372), "U4");
        EXPECT_EQ(r.side.take(r.side.toUserSession(), 50), nullptr) << "nothing went towards the exchange";
    }
    EXPECT_EQ(r.side.shutdown.load(), 0);
}

TEST(FixPositionRequests, UnknownSessionIsLoggedOut)
{
    ReadyClient r;
    r.logOn(0);
    r.a.app->fixNwInfoValidClientCount();
    r.a.app->onMessage(build<FIX42::PositionMaintenanceRequest>(EXERCISE), ACCEPTOR_SESSION);
    ASSERT_TRUE(r.client.waitFor("5"));
    EXPECT_EQ(tagValue(r.client.application.firstOfType("5"), 58), "Session Not Found");
}

TEST(FixPositionRequests, TheHandlerLogsItsOwnLines)
{
    expectHandlerLines(
        build<FIX42::PositionMaintenanceRequest>(EXERCISE), "fix_position_requests.cpp",
        "Sending PositionMaintenanceRequest message of session index[0] and Fix Nw handle [1] to User Session Module",
        "Session id [" + ACCEPTOR_SESSION.toString() +
            "] not found in the fix_client_list.Hence not processing the PositionMaintenanceRequest message");
}
