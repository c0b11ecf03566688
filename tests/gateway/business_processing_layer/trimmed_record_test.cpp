// Golden images of every converter family in each direction it has. The expected records
// are golden pieces typed into this file from the exchange's record formats, offset by offset, so a
// wrong offset or width in the converters' tables fails.
#include "gateway/business_processing_layer/trimmed_record.h"

#include <gtest/gtest.h>

#include "record_test_support.h"

using namespace record_test;

namespace
{
// A golden record: `size` bytes of `fill` with the pieces (offset, hex) written over it.
// Offsets and values are typed here from the exchange's record formats, never taken from the
// converters' tables, so a wrong offset or width in a table fails.
bytes golden(size_t size, uint8_t fill, const std::vector<std::pair<size_t, std::string>> &pieces)
{
    bytes b(size, fill);
    for (const auto &piece : pieces)
    {
        bytes value = from_hex(piece.second);
        EXPECT_LE(piece.first + value.size(), size) << piece.first;
        std::copy(value.begin(), value.end(), b.begin() + static_cast<long>(piece.first));
    }
    return b;
}

// The sources: a full record whose every byte holds its own offset, and a trimmed record
// whose every byte holds 0x40 + its offset, so that each golden piece below tells where
// its bytes came from. Transcode, length and book type are set for the family.
bytes full_source(size_t size, uint16_t transcode, bool book_type_1)
{
    bytes f = pattern(size, 0);
    be16(f, 10, transcode);
    be16(f, 38, static_cast<uint16_t>(size));
    if (book_type_1)
        be16(f, 116, 1);
    return f;
}

bytes trimmed_source(size_t size, uint16_t transcode, size_t book_type_offset = 0)
{
    bytes t = pattern(size, 0x40);
    be16(t, 0, transcode);
    if (book_type_offset != 0)
        be16(t, book_type_offset, 1);
    return t;
}

// Order entry 2000 sent as 20000 (110 bytes; byte 97 is no field).
const std::vector<std::pair<size_t, std::string>> ENTRY_TRIMMED = {
    {0, "4e20"},          {2, "00010203"},
    {6, "3031"},          {8, "36373839"},
    {12, "3a3b3c3d3e3f"}, {18, "40414243444546474849"},
    {28, "4a4b4c4d"},     {32, "4e4f5051"},
    {36, "5253"},         {38, "6a6b6c6d6e6f70717273"},
    {48, "0001"},         {50, "7677"},
    {52, "78797a7b"},     {56, "84858687"},
    {60, "8c8d8e8f"},     {64, "94959697"},
    {68, "a4a5"},         {70, "a6a7"},
    {72, "a8a9aaab"},     {76, "acadaeafb0"},
    {81, "c9"},           {82, "cacbcccdcecfd0d1d2d3d4d5"},
    {94, "d6d7"},         {96, "da"},
    {98, "dcdddedf"},     {102, "e0e1e2e3"},
    {106, "e4e5e6e7"},
};

// Order entry 20000 received, as the full 2000 of 240 bytes.
const std::vector<std::pair<size_t, std::string>> ENTRY_FULL = {
    {0, "42434445"},
    {10, "07d0"},
    {38, "00f0"},
    {48, "4647"},
    {54, "48494a4b"},
    {58, "4c4d4e4f5051"},
    {64, "52535455565758595a5b"},
    {74, "5c5d5e5f"},
    {78, "60616263"},
    {82, "6465"},
    {106, "666768696a6b6c6d6e6f"},
    {116, "0001"},
    {118, "7273"},
    {120, "74757677"},
    {132, "78797a7b"},
    {140, "7c7d7e7f"},
    {148, "80818283"},
    {164, "8485"},
    {166, "8687"},
    {168, "88898a8b"},
    {172, "8c8d8e8f90"},
    {201, "91"},
    {202, "92939495969798999a9b9c9d"},
    {214, "9e9f"},
    {218, "a0"},
    {220, "a2a3a4a5"},
    {224, "a6a7a8a9"},
    {228, "aaabacad"},
};

// Order modification 2040 sent as 20040 (138 bytes; bytes 7 and 125 are no field).
const std::vector<std::pair<size_t, std::string>> CHANGE_TRIMMED = {
    {0, "4f88"},
    {2, "00010203"},
    {6, "2e"},
    {8, "36373839"},
    {12, "3a3b3c3d3e3f"},
    {18, "40414243444546474849"},
    {28, "4a4b4c4d"},
    {32, "4e4f5051"},
    {36, "5253"},
    {38, "62636465"},
    {42, "66676869"},
    {46, "6a6b6c6d6e6f70717273"},
    {56, "0001"},
    {58, "7677"},
    {60, "78797a7b"},
    {64, "7c7d7e7f"},
    {68, "80818283"},
    {72, "84858687"},
    {76, "88898a8b"},
    {80, "8c8d8e8f"},
    {84, "94959697"},
    {88, "98999a9b"},
    {92, "a0a1a2a3"},
    {96, "a4a5"},
    {98, "a6a7"},
    {100, "a8a9aaab"},
    {104, "acadaeafb0"},
    {109, "c9"},
    {110, "cacbcccdcecfd0d1d2d3d4d5"},
    {122, "d6d7"},
    {124, "da"},
    {126, "dcdddedf"},
    {130, "e0e1e2e3"},
    {134, "e4e5e6e7"},
};

// Order modification 20040 received, as the full 2040: the header's two characters are
// trimmed bytes 18 and 19, and 216, 217 and 219 are fixed.
const std::vector<std::pair<size_t, std::string>> CHANGE_FULL = {
    {0, "42434445"},
    {8, "5253"},
    {10, "07f8"},
    {38, "00f0"},
    {46, "46"},
    {54, "48494a4b"},
    {58, "4c4d4e4f5051"},
    {64, "52535455565758595a5b"},
    {74, "5c5d5e5f"},
    {78, "60616263"},
    {82, "6465"},
    {98, "66676869"},
    {102, "6a6b6c6d"},
    {106, "6e6f7071727374757677"},
    {116, "0001"},
    {118, "7a7b"},
    {120, "7c7d7e7f"},
    {124, "80818283"},
    {128, "84858687"},
    {132, "88898a8b"},
    {136, "8c8d8e8f"},
    {140, "90919293"},
    {148, "94959697"},
    {152, "98999a9b"},
    {160, "9c9d9e9f"},
    {164, "a0a1"},
    {166, "a2a3"},
    {168, "a4a5a6a7"},
    {172, "a8a9aaabac"},
    {201, "ad"},
    {202, "aeafb0b1b2b3b4b5b6b7b8b9"},
    {214, "babb"},
    {216, "0a00"},
    {218, "bc"},
    {219, "50"},
    {220, "bebfc0c1"},
    {224, "c2c3c4c5"},
    {228, "c6c7c8c9"},
};

// Order reply 20041 received, as the full 2041: byte 37 is the digit at trimmed 20 ('7'),
// the header's two characters are trimmed bytes 34 and 35, and 216, 217 and 219 are fixed.
const std::vector<std::pair<size_t, std::string>> REPLY_FULL = {
    {0, "46474849"},
    {4, "42434445"},
    {8, "6263"},
    {10, "07f9"},
    {12, "4a4b"},
    {22, "4c4d4e4f"},
    {26, "50515253"},
    {37, "07"},
    {38, "00f0"},
    {46, "55"},
    {48, "5657"},
    {54, "58595a5b"},
    {58, "5c5d5e5f6061"},
    {64, "62636465666768696a6b"},
    {74, "6c6d6e6f"},
    {78, "70717273"},
    {82, "7475"},
    {94, "76"},
    {98, "78797a7b"},
    {102, "7c7d7e7f"},
    {106, "80818283848586878889"},
    {116, "8a8b"},
    {118, "8c8d"},
    {120, "8e8f9091"},
    {124, "92939495"},
    {128, "96979899"},
    {132, "9a9b9c9d"},
    {136, "9e9fa0a1"},
    {140, "a2a3a4a5"},
    {148, "a6a7a8a9"},
    {152, "aaabacad"},
    {160, "aeafb0b1"},
    {164, "b2b3"},
    {166, "b4b5"},
    {168, "b6b7b8b9"},
    {172, "babbbcbdbe"},
    {201, "bf"},
    {202, "c0c1c2c3c4c5c6c7c8c9cacb"},
    {214, "cccd"},
    {216, "0a00"},
    {218, "ce"},
    {219, "50"},
    {220, "d0d1d2d3"},
    {224, "d4d5d6d7"},
    {228, "d8d9dadb"},
};

// Trade record 20222 sent from the full record's first copies (153 bytes).
const std::vector<std::pair<size_t, std::string>> TRADE_TRIMMED = {
    {0, "4efe"},
    {2, "04050607"},
    {6, "00010203"},
    {10, "0e0f1011"},
    {14, "12131415"},
    {18, "16171819"},
    {22, "1a1b1c1d"},
    {26, "1e1f2021"},
    {30, "22232425"},
    {34, "28292a2b"},
    {38, "2c2d2e2f"},
    {42, "3031323334"},
    {47, "35"},
    {48, "3a3b3c3d3e3f40414243"},
    {58, "4445"},
    {60, "46474849"},
    {64, "4a4b4c4d"},
    {68, "4e4f5051"},
    {72, "52535455"},
    {76, "56575859"},
    {80, "5a5b"},
    {82, "5c5d5e5f"},
    {86, "60616263"},
    {90, "64656667"},
    {94, "68696a6b"},
    {98, "6c6d6e6f"},
    {102, "7071"},
    {104, "72737475"},
    {108, "84858687"},
    {112, "88898a8b8c8d"},
    {118, "8e8f9091929394959697"},
    {128, "98999a9b"},
    {132, "9c9d9e9f"},
    {136, "a0a1"},
    {138, "a4"},
    {139, "a6"},
    {140, "b6b7b8b9babbbcbdbebfc0c1"},
    {152, "ce"},
};

// Trade record 20222 received, as the full 2222 of 209 bytes: every copy of a field
// filled, the header's two characters from the field at trimmed 118, error code 0.
const std::vector<std::pair<size_t, std::string>> TRADE_FULL = {
    {0, "46474849"},
    {4, "42434445"},
    {8, "b6b7"},
    {10, "08ae"},
    {12, "0000"},
    {14, "4a4b4c4d"},
    {18, "4e4f5051"},
    {22, "52535455"},
    {26, "56575859"},
    {30, "5a5b5c5d"},
    {34, "5e5f6061"},
    {38, "00d1"},
    {40, "62636465"},
    {44, "66676869"},
    {48, "6a6b6c6d6e"},
    {53, "6f"},
    {54, "46474849"},
    {58, "70717273747576777879"},
    {68, "7a7b"},
    {70, "7c7d7e7f"},
    {74, "80818283"},
    {78, "84858687"},
    {82, "88898a8b"},
    {86, "8c8d8e8f"},
    {90, "9091"},
    {92, "92939495"},
    {96, "96979899"},
    {100, "9a9b9c9d"},
    {104, "9e9fa0a1"},
    {108, "a2a3a4a5"},
    {112, "a6a7"},
    {114, "a8a9aaab"},
    {118, "62636465"},
    {122, "66676869"},
    {126, "6a6b6c6d6e"},
    {132, "acadaeaf"},
    {136, "b0b1b2b3b4b5"},
    {142, "b6b7b8b9babbbcbdbebf"},
    {152, "c0c1c2c3"},
    {156, "c4c5c6c7"},
    {160, "c8c9"},
    {164, "ca"},
    {165, "ca"},
    {166, "cb"},
    {172, "70717273747576777879"},
    {182, "cccdcecfd0d1d2d3d4d5d6d7"},
    {194, "cccdcecfd0d1d2d3d4d5d6d7"},
    {206, "d8"},
    {207, "d8"},
    {208, "6f"},
};

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
    bytes full = full_source(240, 2000, true);
    EXPECT_EQ(to_hex(convert(2000, full, 110, DATA_PROC_FULL_TO_TRIMMED)),
              to_hex(golden(110, 0x20, ENTRY_TRIMMED)));
}

TEST(TrimmedRecord, OrderEntryIn)
{
    bytes trimmed = trimmed_source(110, 20000, 48);
    EXPECT_EQ(to_hex(convert(20000, trimmed, 240, DATA_PROC_TRIMMED_TO_FULL)),
              to_hex(golden(240, 0, ENTRY_FULL)));
}

TEST(TrimmedRecord, OrderChangeOut)
{
    for (int16_t transcode : {2040, 2060, 2070})
    {
        bytes full = full_source(240, static_cast<uint16_t>(transcode), true);
        bytes expected = golden(138, 0x20, CHANGE_TRIMMED);
        be16(expected, 0, static_cast<uint16_t>(transcode + 18000));
        EXPECT_EQ(to_hex(convert(transcode, full, 138, DATA_PROC_FULL_TO_TRIMMED)), to_hex(expected));
    }
    EXPECT_EQ(to_hex(golden(138, 0x20, CHANGE_TRIMMED).data(), 2), "4f88") << "20040";
}

TEST(TrimmedRecord, OrderChangeIn)
{
    for (int16_t transcode : {20040, 20060, 20070})
    {
        bytes trimmed = trimmed_source(138, static_cast<uint16_t>(transcode), 56);
        bytes expected = golden(240, 0, CHANGE_FULL);
        be16(expected, 10, static_cast<uint16_t>(transcode - 18000));
        EXPECT_EQ(to_hex(convert(transcode, trimmed, 240, DATA_PROC_TRIMMED_TO_FULL)), to_hex(expected));
    }
}

TEST(TrimmedRecord, OrderReplyIn)
{
    for (int16_t transcode : {20001, 20012, 20041, 20042, 20072, 20073, 20074, 20075, 20231})
    {
        bytes trimmed = trimmed_source(156, static_cast<uint16_t>(transcode));
        trimmed[20] = '7';
        bytes expected = golden(240, 0, REPLY_FULL);
        be16(expected, 10, static_cast<uint16_t>(transcode - 18000));
        EXPECT_EQ(to_hex(convert(transcode, trimmed, 240, DATA_PROC_TRIMMED_TO_FULL)), to_hex(expected));
    }
    // Whatever the trimmed record holds there, bytes 216, 217 and 219 come out fixed.
    bytes trimmed(156, 0xFF);
    be16(trimmed, 0, 20041);
    trimmed[20] = '0';
    bytes full = convert(20041, trimmed, 240, DATA_PROC_TRIMMED_TO_FULL);
    EXPECT_EQ(to_hex(full.data() + 216, 4), "0a00ff50");
    EXPECT_EQ(full[37], 0);
}

TEST(TrimmedRecord, OrderReplyHasNoOutboundForm)
{
    bytes full = full_source(240, 20041, true);
    bytes trimmed(156, 0x20);
    EXPECT_EQ(run(20041, &full, &trimmed, DATA_PROC_FULL_TO_TRIMMED), EA_ERROR);
}

TEST(TrimmedRecord, TradeRecordOut)
{
    bytes full = full_source(209, 20222, false);
    EXPECT_EQ(to_hex(convert(20222, full, 153, DATA_PROC_FULL_TO_TRIMMED)),
              to_hex(golden(153, 0x20, TRADE_TRIMMED)));
}

TEST(TrimmedRecord, TradeRecordInFillsEveryCopy)
{
    bytes trimmed = trimmed_source(153, 20222);
    EXPECT_EQ(to_hex(convert(20222, trimmed, 209, DATA_PROC_TRIMMED_TO_FULL)),
              to_hex(golden(209, 0, TRADE_FULL)));
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
