// The VRX header in its two orders, the 7777 short header, the host link's transcode
// mapping and the login count of the replies that carry one.
#include "gateway/business_processing_layer/vrx_record.h"

#include <gtest/gtest.h>

#include "record_test_support.h"

using namespace record_test;

namespace
{
// user id 01020304, second field 05060708, "AB", transcode 2300, error 16004, three time
// fields, length 44, then a 4-byte body.
const char *const INTERNAL_2300 = "01020304 05060708 4142 08FC 3E84 1111111111111111 2222222222222222 "
                                  "3333333333333333 002C DEADBEEF";
const char *const EXCHANGE_2300 = "08FC 05060708 4142 01020304 3E84 1111111111111111 2222222222222222 "
                                  "3333333333333333 002C DEADBEEF";
// 7777: user id, second field, 2 bytes, transcode, length 20, 2 bytes, then a body.
const char *const INTERNAL_7777 = "01020304 05060708 4142 1E61 0014 5A5A CAFEBABE";
const char *const EXCHANGE_7777 = "1E61 05060708 4142 01020304 0014 5A5A CAFEBABE";
} // namespace

TEST(VrxRecord, GenericHeaderReordersBothWays)
{
    bytes internal = from_hex(INTERNAL_2300);
    bytes exchange(internal.size(), 0xEE);
    vrx_record_internal_to_exchange(internal.data(), exchange.data());
    EXPECT_EQ(to_hex(exchange), to_hex(from_hex(EXCHANGE_2300)));

    bytes back(internal.size(), 0xEE);
    vrx_record_exchange_to_internal(exchange.data(), back.data());
    EXPECT_EQ(to_hex(back), to_hex(internal));
}

TEST(VrxRecord, HeaderOnlyRecordCopiesNoBody)
{
    bytes internal = from_hex(INTERNAL_2300);
    internal.resize(40);
    be16(internal, 38, 40);
    bytes exchange(48, 0xEE);
    vrx_record_internal_to_exchange(internal.data(), exchange.data());
    bytes expected = from_hex(EXCHANGE_2300);
    expected.resize(40);
    be16(expected, 38, 40);
    expected.insert(expected.end(), 8, 0xEE);
    EXPECT_EQ(to_hex(exchange), to_hex(expected));

    bytes back(48, 0xEE);
    vrx_record_exchange_to_internal(exchange.data(), back.data());
    EXPECT_EQ(to_hex(back.data(), 40), to_hex(internal));
    EXPECT_EQ(back[40], 0xEE);
}

TEST(VrxRecord, ShortHeaderReordersBothWays)
{
    bytes internal = from_hex(INTERNAL_7777);
    bytes exchange(internal.size() + 2, 0xEE);
    vrx_record_short_internal_to_exchange(internal.data(), exchange.data());
    bytes expected = from_hex(EXCHANGE_7777);
    expected.insert(expected.end(), 2, 0xEE);
    EXPECT_EQ(to_hex(exchange), to_hex(expected));

    bytes back(internal.size(), 0xEE);
    vrx_record_short_exchange_to_internal(exchange.data(), back.data());
    EXPECT_EQ(to_hex(back), to_hex(internal));
}

TEST(VrxRecord, ReceivedTranscodeMapping)
{
    struct
    {
        int16_t wire;
        int16_t internal;
    } cases[] = {
        {18000, 18000}, {18001, 1},     {20000, 2000},  {20041, 2041},  {22999, 4999},
        {23000, 23000}, {25003, 25003}, {7777, 7777},   {2000, 2000},   {0, 0},
        {-5, -5},       {20322, 2322},  {23506, 23506}, {32767, 32767},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vrx_record_map_received_transcode(c.wire), c.internal) << c.wire;
}

TEST(VrxRecord, LoginCountOnlyForItsReplies)
{
    bytes record = from_hex(INTERNAL_2300);
    // Time field 1 as one 64-bit number whose low half is -2.
    for (size_t i = 14; i < 22; i++)
        record[i] = 0;
    record[17] = 0x01;
    be32(record, 18, 0xFFFFFFFE);
    struct
    {
        int16_t transcode;
        int32_t login_count;
    } cases[] = {
        {1601, -2}, {7011, -2}, {7021, -2}, {7031, -2},  {1600, -1},
        {7003, -1}, {2301, -1}, {7001, -1}, {19601, -1}, {23001, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vrx_record_login_count(c.transcode, record.data()), c.login_count) << c.transcode;

    be32(record, 18, 7);
    EXPECT_EQ(vrx_record_login_count(7021, record.data()), 7);
}
