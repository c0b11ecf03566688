// Golden images of every converter family in each direction it has. The expected bytes
// are built here from the record layouts (rows typed into this file, not taken from the
// production tables), so a wrong offset or width in the converters fails.
#include "gateway/business_processing_layer/trimmed_record.h"

#include <gtest/gtest.h>

#include "record_test_support.h"

using namespace record_test;

namespace
{
struct layout_row
{
    uint16_t trimmed;
    uint16_t width;
    uint16_t full;
    uint16_t full_copy; // trade record in: the second place filled, 0 = none
};

// Order entry, 110 bytes.
const std::vector<layout_row> ENTRY = {
    {2, 4, 0, 0},     {6, 2, 48, 0},    {8, 4, 54, 0},    {12, 6, 58, 0},  {18, 10, 64, 0}, {28, 4, 74, 0},
    {32, 4, 78, 0},   {36, 2, 82, 0},   {38, 10, 106, 0}, {48, 2, 116, 0}, {50, 2, 118, 0}, {52, 4, 120, 0},
    {56, 4, 132, 0},  {60, 4, 140, 0},  {64, 4, 148, 0},  {68, 2, 164, 0}, {70, 2, 166, 0}, {72, 4, 168, 0},
    {76, 5, 172, 0},  {81, 1, 201, 0},  {82, 12, 202, 0}, {94, 2, 214, 0}, {96, 1, 218, 0}, {98, 4, 220, 0},
    {102, 4, 224, 0}, {106, 4, 228, 0},
};

// Order change, 138 bytes.
const std::vector<layout_row> CHANGE = {
    {2, 4, 0, 0},     {6, 1, 46, 0},    {8, 4, 54, 0},     {12, 6, 58, 0},   {18, 10, 64, 0},
    {28, 4, 74, 0},   {32, 4, 78, 0},   {36, 2, 82, 0},    {38, 4, 98, 0},   {42, 4, 102, 0},
    {46, 10, 106, 0}, {56, 2, 116, 0},  {58, 2, 118, 0},   {60, 4, 120, 0},  {64, 4, 124, 0},
    {68, 4, 128, 0},  {72, 4, 132, 0},  {76, 4, 136, 0},   {80, 4, 140, 0},  {84, 4, 148, 0},
    {88, 4, 152, 0},  {92, 4, 160, 0},  {96, 2, 164, 0},   {98, 2, 166, 0},  {100, 4, 168, 0},
    {104, 5, 172, 0}, {109, 1, 201, 0}, {110, 12, 202, 0}, {122, 2, 214, 0}, {124, 1, 218, 0},
    {126, 4, 220, 0}, {130, 4, 224, 0}, {134, 4, 228, 0},
};

// Order reply, 156 bytes.
const std::vector<layout_row> REPLY = {
    {2, 4, 4, 0},     {6, 4, 0, 0},     {10, 2, 12, 0},   {12, 4, 22, 0},    {16, 4, 26, 0},
    {21, 1, 46, 0},   {22, 2, 48, 0},   {24, 4, 54, 0},   {28, 6, 58, 0},    {34, 10, 64, 0},
    {44, 4, 74, 0},   {48, 4, 78, 0},   {52, 2, 82, 0},   {54, 1, 94, 0},    {56, 4, 98, 0},
    {60, 4, 102, 0},  {64, 10, 106, 0}, {74, 2, 116, 0},  {76, 2, 118, 0},   {78, 4, 120, 0},
    {82, 4, 124, 0},  {86, 4, 128, 0},  {90, 4, 132, 0},  {94, 4, 136, 0},   {98, 4, 140, 0},
    {102, 4, 148, 0}, {106, 4, 152, 0}, {110, 4, 160, 0}, {114, 2, 164, 0},  {116, 2, 166, 0},
    {118, 4, 168, 0}, {122, 5, 172, 0}, {127, 1, 201, 0}, {128, 12, 202, 0}, {140, 2, 214, 0},
    {142, 1, 218, 0}, {144, 4, 220, 0}, {148, 4, 224, 0}, {152, 4, 228, 0},
};

// Trade record, 153 bytes trimmed, 209 full.
const std::vector<layout_row> TRADE = {
    {2, 4, 4, 0},        {6, 4, 0, 54},      {10, 4, 14, 0},    {14, 4, 18, 0},     {18, 4, 22, 0},
    {22, 4, 26, 0},      {26, 4, 30, 0},     {30, 4, 34, 0},    {34, 4, 40, 118},   {38, 4, 44, 122},
    {42, 5, 48, 126},    {47, 1, 53, 208},   {48, 10, 58, 172}, {58, 2, 68, 0},     {60, 4, 70, 0},
    {64, 4, 74, 0},      {68, 4, 78, 0},     {72, 4, 82, 0},    {76, 4, 86, 0},     {80, 2, 90, 0},
    {82, 4, 92, 0},      {86, 4, 96, 0},     {90, 4, 100, 0},   {94, 4, 104, 0},    {98, 4, 108, 0},
    {102, 2, 112, 0},    {104, 4, 114, 0},   {108, 4, 132, 0},  {112, 6, 136, 0},   {118, 10, 142, 0},
    {128, 4, 152, 0},    {132, 4, 156, 0},   {136, 2, 160, 0},  {138, 1, 164, 165}, {139, 1, 166, 0},
    {140, 12, 182, 194}, {152, 1, 206, 207},
};

bytes expected_trimmed(const std::vector<layout_row> &rows, const bytes &full, size_t size,
                       uint16_t transcode)
{
    bytes t(size, 0x20);
    be16(t, 0, transcode);
    for (const layout_row &r : rows)
        for (size_t i = 0; i < r.width; i++)
            t[r.trimmed + i] = full[r.full + i];
    return t;
}

bytes expected_full(const std::vector<layout_row> &rows, const bytes &trimmed, size_t size,
                    uint16_t transcode)
{
    bytes f(size, 0);
    for (const layout_row &r : rows)
        for (size_t i = 0; i < r.width; i++)
        {
            f[r.full + i] = trimmed[r.trimmed + i];
            if (r.full_copy != 0)
                f[r.full_copy + i] = trimmed[r.trimmed + i];
        }
    be16(f, 10, transcode);
    be16(f, 38, static_cast<uint16_t>(size));
    return f;
}

void order_fixed_bytes(bytes &f)
{
    f[216] = 0x0A;
    f[217] = 0x00;
    f[219] = 'P';
}

bytes full_order(int16_t transcode, uint16_t book_type)
{
    bytes f = pattern(240);
    be16(f, 10, static_cast<uint16_t>(transcode));
    be16(f, 116, book_type);
    return f;
}

bytes trimmed_record(size_t size, int16_t transcode, size_t book_type_offset = 0)
{
    bytes t = pattern(size, 0x41);
    be16(t, 0, static_cast<uint16_t>(transcode));
    if (book_type_offset != 0)
        be16(t, book_type_offset, 1);
    return t;
}

ea_status run(int16_t transcode, bytes *full, bytes *trimmed, uint32_t operation, int32_t *result = nullptr)
{
    return data_proc_info_process(nullptr, transcode, full ? full->data() : nullptr,
                                  trimmed ? trimmed->data() : nullptr, operation, result);
}

// Converts out into a buffer with a guard tail, checks the tail, returns the record.
bytes convert(int16_t transcode, bytes source, size_t size, uint32_t operation)
{
    bytes target(size + 8, 0xEE);
    bool out = operation == DATA_PROC_FULL_TO_TRIMMED;
    EXPECT_EQ(run(transcode, out ? &source : &target, out ? &target : &source, operation), EA_SUCCESS)
        << transcode;
    for (size_t i = size; i < target.size(); i++)
        EXPECT_EQ(target[i], 0xEE) << "wrote past the record at " << i;
    target.resize(size);
    return target;
}
} // namespace

TEST(TrimmedRecord, OrderEntryOut)
{
    bytes full = full_order(2000, 1);
    bytes expected = expected_trimmed(ENTRY, full, 110, 20000);
    EXPECT_EQ(to_hex(convert(2000, full, 110, DATA_PROC_FULL_TO_TRIMMED)), to_hex(expected));
    EXPECT_EQ(to_hex(expected.data(), 2), "4e20");
    EXPECT_EQ(to_hex(expected.data() + 48, 2), "0001");
}

TEST(TrimmedRecord, OrderEntryIn)
{
    bytes trimmed = trimmed_record(110, 20000, 48);
    bytes expected = expected_full(ENTRY, trimmed, 240, 2000);
    EXPECT_EQ(to_hex(convert(20000, trimmed, 240, DATA_PROC_TRIMMED_TO_FULL)), to_hex(expected));
}

TEST(TrimmedRecord, OrderChangeOut)
{
    for (int16_t transcode : {2040, 2060, 2070})
    {
        bytes full = full_order(transcode, 1);
        bytes expected = expected_trimmed(CHANGE, full, 138, static_cast<uint16_t>(transcode + 18000));
        EXPECT_EQ(to_hex(convert(transcode, full, 138, DATA_PROC_FULL_TO_TRIMMED)), to_hex(expected));
    }
}

TEST(TrimmedRecord, OrderChangeIn)
{
    for (int16_t transcode : {20040, 20060, 20070})
    {
        bytes trimmed = trimmed_record(138, transcode, 56);
        bytes expected = expected_full(CHANGE, trimmed, 240, static_cast<uint16_t>(transcode - 18000));
        expected[8] = trimmed[18];
        expected[9] = trimmed[19];
        order_fixed_bytes(expected);
        EXPECT_EQ(to_hex(convert(transcode, trimmed, 240, DATA_PROC_TRIMMED_TO_FULL)), to_hex(expected));
    }
}

TEST(TrimmedRecord, OrderReplyIn)
{
    for (int16_t transcode : {20001, 20012, 20041, 20042, 20072, 20073, 20074, 20075, 20231})
    {
        bytes trimmed = trimmed_record(156, transcode);
        trimmed[20] = '7';
        // Whatever the trimmed record holds, bytes 216, 217 and 219 come out fixed.
        bytes expected = expected_full(REPLY, trimmed, 240, static_cast<uint16_t>(transcode - 18000));
        expected[37] = 7;
        expected[8] = trimmed[34];
        expected[9] = trimmed[35];
        order_fixed_bytes(expected);
        EXPECT_EQ(to_hex(convert(transcode, trimmed, 240, DATA_PROC_TRIMMED_TO_FULL)), to_hex(expected));
    }
}

TEST(TrimmedRecord, OrderReplyHasNoOutboundForm)
{
    bytes full = full_order(20041, 1);
    bytes trimmed(156, 0x20);
    EXPECT_EQ(run(20041, &full, &trimmed, DATA_PROC_FULL_TO_TRIMMED), EA_ERROR);
}

TEST(TrimmedRecord, TradeRecordOut)
{
    bytes full = pattern(209);
    be16(full, 10, 20222);
    bytes expected = expected_trimmed(TRADE, full, 153, 20222);
    EXPECT_EQ(to_hex(convert(20222, full, 153, DATA_PROC_FULL_TO_TRIMMED)), to_hex(expected));
}

TEST(TrimmedRecord, TradeRecordInFillsEveryCopy)
{
    bytes trimmed = trimmed_record(153, 20222);
    bytes expected = expected_full(TRADE, trimmed, 209, 2222);
    expected[8] = trimmed[118];
    expected[9] = trimmed[119];
    EXPECT_EQ(to_hex(convert(20222, trimmed, 209, DATA_PROC_TRIMMED_TO_FULL)), to_hex(expected));
    EXPECT_EQ(to_hex(expected.data() + 12, 2), "0000");
}

TEST(TrimmedRecord, ShortHeaderRecordBothWays)
{
    bytes internal = from_hex("01020304 05060708 4142 1E61 0018 5A5A CAFEBABE 01020304");
    bytes exchange = from_hex("1E61 05060708 4142 01020304 0018 5A5A CAFEBABE 01020304");
    EXPECT_EQ(to_hex(convert(7777, internal, 24, DATA_PROC_FULL_TO_TRIMMED)), to_hex(exchange));
    EXPECT_EQ(to_hex(convert(7777, exchange, 24, DATA_PROC_TRIMMED_TO_FULL)), to_hex(internal));
}

TEST(TrimmedRecord, GenericBothWays)
{
    for (int16_t transcode : {2300, 2222, 7000, 23001, 2100})
    {
        bytes internal = internal_record(transcode, 64, 0x0A0B0C0D);
        bytes exchange = exchange_record(transcode, 64, 0x0A0B0C0D);
        EXPECT_EQ(to_hex(convert(transcode, internal, 64, DATA_PROC_FULL_TO_TRIMMED)), to_hex(exchange));
        EXPECT_EQ(to_hex(convert(transcode, exchange, 64, DATA_PROC_TRIMMED_TO_FULL)), to_hex(internal));
    }
}

TEST(TrimmedRecord, OrdersOfOtherBookTypesGoGeneric)
{
    // Out: a full order of book type 2 keeps its 240 bytes and transcode, header reordered.
    bytes full = internal_record(2000, 240, 77);
    be16(full, 116, 2);
    int32_t size = 0;
    EXPECT_EQ(run(2000, &full, nullptr, DATA_PROC_TRIMMED_SIZE, &size), EA_SUCCESS);
    EXPECT_EQ(size, 240);
    bytes exchange = exchange_record(2000, 240, 77);
    be16(exchange, 116, 2);
    EXPECT_EQ(to_hex(convert(2000, full, 240, DATA_PROC_FULL_TO_TRIMMED)), to_hex(exchange));

    // In: a 20000 whose trimmed book type is not 1 is a generic record.
    bytes received = exchange_record(20000, 120, 77);
    be16(received, 48, 3);
    bytes expected = internal_record(20000, 120, 77);
    be16(expected, 48, 3);
    EXPECT_EQ(run(20000, nullptr, &received, DATA_PROC_TRIMMED_SIZE, &size), EA_SUCCESS);
    EXPECT_EQ(size, 120);
    EXPECT_EQ(to_hex(convert(20000, received, 120, DATA_PROC_TRIMMED_TO_FULL)), to_hex(expected));

    bytes change = internal_record(2070, 240, 77);
    be16(change, 116, 0);
    EXPECT_EQ(run(2070, &change, nullptr, DATA_PROC_TRIMMED_SIZE, &size), EA_SUCCESS);
    EXPECT_EQ(size, 240);
    EXPECT_EQ(read16(convert(2070, change, 240, DATA_PROC_FULL_TO_TRIMMED).data(), 0), 2070);
}

TEST(TrimmedRecord, SizesAndUserIds)
{
    struct
    {
        int16_t transcode;
        size_t book_type_offset; // in the trimmed record; 0 = none
        int32_t trimmed_size;
        int32_t full_size;
        size_t user_id_offset;
    } cases[] = {
        {20000, 48, 110, 240, 2}, {20040, 56, 138, 240, 2}, {20070, 56, 138, 240, 2},
        {20041, 0, 156, 240, 6},  {20231, 0, 156, 240, 6},  {20222, 0, 153, 209, 6},
    };
    for (const auto &c : cases)
    {
        bytes trimmed = trimmed_record(200, c.transcode, c.book_type_offset);
        be32(trimmed, c.user_id_offset, 0x00ABCDEF);
        int32_t value = 0;
        EXPECT_EQ(run(c.transcode, nullptr, &trimmed, DATA_PROC_TRIMMED_SIZE, &value), EA_SUCCESS);
        EXPECT_EQ(value, c.trimmed_size) << c.transcode;
        EXPECT_EQ(run(c.transcode, nullptr, &trimmed, DATA_PROC_FULL_SIZE, &value), EA_SUCCESS);
        EXPECT_EQ(value, c.full_size) << c.transcode;
        EXPECT_EQ(run(c.transcode, nullptr, &trimmed, DATA_PROC_USER_ID, &value), EA_SUCCESS);
        EXPECT_EQ(value, 0x00ABCDEF) << c.transcode;
    }

    // Generic: the length field, trimmed record first, else the full one.
    bytes full = internal_record(2300, 70, 11);
    bytes trimmed = exchange_record(2300, 90, 22);
    int32_t value = 0;
    EXPECT_EQ(run(2300, &full, nullptr, DATA_PROC_TRIMMED_SIZE, &value), EA_SUCCESS);
    EXPECT_EQ(value, 70);
    EXPECT_EQ(run(2300, &full, &trimmed, DATA_PROC_FULL_SIZE, &value), EA_SUCCESS);
    EXPECT_EQ(value, 90);
    EXPECT_EQ(run(2300, &full, nullptr, DATA_PROC_USER_ID, &value), EA_SUCCESS);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(run(2300, &full, &trimmed, DATA_PROC_USER_ID, &value), EA_SUCCESS);
    EXPECT_EQ(value, 22);

    bytes short_record = from_hex("1E61 05060708 4142 01020304 0018 5A5A CAFEBABE 01020304");
    EXPECT_EQ(run(7777, nullptr, &short_record, DATA_PROC_FULL_SIZE, &value), EA_SUCCESS);
    EXPECT_EQ(value, 24);
    EXPECT_EQ(run(7777, nullptr, &short_record, DATA_PROC_USER_ID, &value), EA_SUCCESS);
    EXPECT_EQ(value, 0x01020304);
}

TEST(TrimmedRecord, DispatcherFailures)
{
    bytes full = internal_record(2300, 60, 1);
    bytes trimmed(60, 0x20);
    int32_t value = 0;
    EXPECT_EQ(run(2300, &full, &trimmed, 5, &value), EA_ERROR);
    EXPECT_EQ(run(2300, nullptr, nullptr, DATA_PROC_TRIMMED_SIZE, &value), EA_ERROR);
    EXPECT_EQ(run(7777, nullptr, nullptr, DATA_PROC_FULL_SIZE, &value), EA_ERROR);
    EXPECT_EQ(run(2300, nullptr, nullptr, DATA_PROC_USER_ID, &value), EA_ERROR);

    // A length field shorter than the record's own header is no record.
    be16(full, 38, 39);
    EXPECT_EQ(run(2300, &full, nullptr, DATA_PROC_FULL_SIZE, &value), EA_ERROR);
    EXPECT_EQ(run(2300, &full, &trimmed, DATA_PROC_FULL_TO_TRIMMED), EA_ERROR);
    bytes short_record = from_hex("1E61 05060708 4142 01020304 000F 5A5A");
    EXPECT_EQ(run(7777, nullptr, &short_record, DATA_PROC_TRIMMED_SIZE, &value), EA_ERROR);
}
