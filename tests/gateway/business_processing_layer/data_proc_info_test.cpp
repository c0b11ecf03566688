// The packer and unpacker: packing rules (four entries, rate-control limit, the 276-byte
// room, single-message packets and their weights), round trips through plain and LZO1Z
// entries, and every way a packet or a record is dropped with a log line instead of
// stopping the gateway.
#include "gateway/business_processing_layer/data_proc_info.h"

#include <gtest/gtest.h>

#include <string>

#include "record_test_support.h"

using namespace record_test;

namespace
{
struct packer_deleter
{
    void operator()(data_proc_info *p) const { data_proc_info_destroy(p); }
};
using packer_ptr = std::unique_ptr<data_proc_info, packer_deleter>;

packer_ptr new_packer()
{
    return packer_ptr(data_proc_info_create(PACKER_CAPACITY, nullptr));
}

bytes full_order_entry(uint32_t user_id)
{
    bytes f = pattern(240);
    be32(f, 0, user_id);
    be16(f, 10, 2000);
    be16(f, 116, 1);
    return f;
}

// Packs and reports what the logger printed (a null logger writes to standard error).
ea_status pack(data_proc_info *packer, const bytes &record, int32_t limit, std::string *log = nullptr,
               uint32_t sequence = 0, uint16_t user_type = 0)
{
    message_ptr m = message_of(record, sequence, user_type);
    testing::internal::CaptureStderr();
    ea_status result = data_proc_info_pack(packer, m.get(), limit, nullptr);
    std::string text = testing::internal::GetCapturedStderr();
    if (log != nullptr)
        *log = text;
    return result;
}

struct unpack_result
{
    ea_status status;
    std::vector<message_ptr> messages;
    std::string log;
};

unpack_result unpack(const bytes &packet_bytes, uint32_t packet_sequence = 9, uint32_t *counter = nullptr)
{
    packer_ptr packer = new_packer();
    message_ptr packet = message_of(packet_bytes, packet_sequence);
    queue_ptr output(queue_create());
    uint32_t own_counter = 0;
    testing::internal::CaptureStderr();
    unpack_result r;
    r.status = data_proc_info_unpack(packer.get(), packet.get(), output.get(),
                                     counter ? counter : &own_counter, nullptr);
    r.log = testing::internal::GetCapturedStderr();
    r.messages = drain(output.get());
    return r;
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}
} // namespace

TEST(DataProcInfoPack, FourEntriesFillAPacket)
{
    packer_ptr packer = new_packer();
    for (uint32_t i = 0; i < 4; i++)
        EXPECT_EQ(pack(packer.get(), internal_record(2300, 40, 100 + i), 0, nullptr, 50 + i,
                       static_cast<uint16_t>(i + 1)),
                  0);
    EXPECT_EQ(pack(packer.get(), internal_record(2300, 40, 104), 0), DATA_PROC_PACKET_FULL);

    uint32_t counter = 6;
    message_ptr packet(data_proc_info_get_packet(packer.get(), &counter, nullptr));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(counter, 7u);
    EXPECT_EQ(packet->sequence_number, 7u);
    EXPECT_EQ(packet->packing_weight, 4);
    EXPECT_EQ(packet->tag, NORMAL_MESSAGE);
    ASSERT_EQ(packet->data_length, 2 + 4 * 40);
    bytes expected = packet_of(4, {exchange_record(2300, 40, 100), exchange_record(2300, 40, 101),
                                   exchange_record(2300, 40, 102), exchange_record(2300, 40, 103)});
    EXPECT_EQ(to_hex(data_of(packet.get())), to_hex(expected));
    for (uint32_t i = 0; i < 4; i++)
    {
        EXPECT_EQ(packet->routing_area_a[i], 50 + i);
        EXPECT_EQ(packet->routing_area_b[i], i + 1);
    }

    // The packer starts afresh: an empty packer closes nothing, the next packet counts on.
    EXPECT_EQ(data_proc_info_get_packet(packer.get(), &counter, nullptr), nullptr);
    EXPECT_EQ(pack(packer.get(), internal_record(2300, 40, 105), 0), 0);
    message_ptr next(data_proc_info_get_packet(packer.get(), &counter, nullptr));
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->sequence_number, 8u);
    EXPECT_EQ(next->data_length, 42);
    EXPECT_EQ(read16(next->data, 0), 1);
}

TEST(DataProcInfoPack, RateControlLimit)
{
    struct
    {
        int32_t limit;
        int packed;
    } cases[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 4}, {0, 4}, {-1, 4}};
    for (const auto &c : cases)
    {
        packer_ptr packer = new_packer();
        int packed = 0;
        while (pack(packer.get(), internal_record(2300, 40, 1), c.limit) == 0)
            packed++;
        EXPECT_EQ(packed, c.packed) << "limit " << c.limit;
    }
}

TEST(DataProcInfoPack, RoomOf276Bytes)
{
    packer_ptr packer = new_packer();
    EXPECT_EQ(pack(packer.get(), full_order_entry(1), 0), 0);
    EXPECT_EQ(pack(packer.get(), full_order_entry(2), 0), 0);
    EXPECT_EQ(pack(packer.get(), full_order_entry(3), 0), DATA_PROC_PACKET_FULL);
    // 2 + 220 used: a 56-byte record fills the packet exactly.
    EXPECT_EQ(pack(packer.get(), internal_record(2300, 57, 4), 0), DATA_PROC_PACKET_FULL);
    EXPECT_EQ(pack(packer.get(), internal_record(2300, 56, 4), 0), 0);
    uint32_t counter = 0;
    message_ptr packet(data_proc_info_get_packet(packer.get(), &counter, nullptr));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->data_length, 278);
    EXPECT_EQ(read16(packet->data, 0), 3);
    EXPECT_EQ(read16(packet->data, 2), 20000);
    EXPECT_EQ(read16(packet->data, 112), 20000);
    EXPECT_EQ(read16(packet->data, 222), 2300);
}

TEST(DataProcInfoPack, RecordsThatCannotBePackedAreDroppedWithALogLine)
{
    bytes reply = full_order_entry(1);
    be16(reply, 10, 20041); // an order reply sent by a workstation
    bytes short_data = internal_record(2300, 60, 1);
    short_data.resize(50);
    bytes header_below_40 = internal_record(2300, 40, 1);
    be16(header_below_40, 38, 30);
    bytes order_cut = full_order_entry(1);
    order_cut.resize(100);
    struct
    {
        const char *name;
        bytes record;
        const char *log;
    } cases[] = {
        {"reply transcode", reply, "Couldn't process transcode [20041]"},
        {"data shorter than its length", short_data, "is less than the length present in the length field"},
        {"length below the header", header_below_40, "The transcode [2300] can't be processed"},
        {"too large for any packet", internal_record(2300, 277, 1), "more than a packet can hold"},
        {"no header", bytes{0x00, 0x01, 0x02}, "too small to hold the header"},
        {"order entry cut short", order_cut, "too small to hold the header"},
    };
    for (const auto &c : cases)
    {
        packer_ptr packer = new_packer();
        std::string log;
        EXPECT_EQ(pack(packer.get(), c.record, 0, &log), DATA_PROC_DROPPED) << c.name;
        EXPECT_TRUE(contains(log, c.log)) << c.name << ": " << log;
        EXPECT_EQ(packer->used_length, 2) << c.name;
        EXPECT_EQ(packer->message_count, 0) << c.name;
        // The packer is still usable.
        EXPECT_EQ(pack(packer.get(), internal_record(2300, 40, 1), 0), 0) << c.name;
    }
}

TEST(DataProcInfoPack, SingleMessagePacket)
{
    packer_ptr packer = new_packer();
    message_ptr record = message_of(internal_record(2300, 300, 9), 41, 3);
    message *packet = nullptr;
    uint32_t counter = 10;
    ASSERT_EQ(data_proc_info_pack_single_message(packer.get(), record.get(), &packet, &counter, nullptr), 0);
    message_ptr owned(packet);
    EXPECT_EQ(counter, 11u);
    EXPECT_EQ(packet->sequence_number, 11u);
    EXPECT_EQ(packet->packing_weight, 1);
    EXPECT_EQ(packet->routing_area_a[0], 41u);
    EXPECT_EQ(packet->routing_area_b[0], 3u);
    EXPECT_EQ(to_hex(data_of(packet)), to_hex(packet_of(1, {exchange_record(2300, 300, 9)})));
}

TEST(DataProcInfoPack, SingleMessageWeight)
{
    struct
    {
        int16_t transcode;
        uint16_t value;
        int16_t weight;
    } cases[] = {
        {2090, 50, 82}, {2090, 0, 1},      {2090, 10, 20}, {2092, 41, 82},
        {2092, 40, 80}, {2092, 0xFFFD, 1}, {2300, 50, 1},
    };
    for (const auto &c : cases)
    {
        bytes record = internal_record(c.transcode, 300, 1);
        be16(record, 108, c.value);
        message_ptr m = message_of(record);
        message *packet = nullptr;
        uint32_t counter = 0;
        ASSERT_EQ(data_proc_info_pack_single_message(nullptr, m.get(), &packet, &counter, nullptr), 0);
        EXPECT_EQ(packet->packing_weight, c.weight) << c.transcode << " " << c.value;
        message_destroy(packet);
    }
}

TEST(DataProcInfoPack, SingleMessageTooLargeForTheNetworkHeaderIsDropped)
{
    // 2023 + 2 + 22 bytes is as much as one message record can carry to the host.
    struct
    {
        uint16_t length;
        ea_status result;
    } cases[] = {{2023, 0}, {2024, DATA_PROC_DROPPED}, {2026, DATA_PROC_DROPPED}};
    for (const auto &c : cases)
    {
        message_ptr m = message_of(internal_record(2300, c.length, 1));
        message *packet = nullptr;
        uint32_t counter = 0;
        testing::internal::CaptureStderr();
        EXPECT_EQ(data_proc_info_pack_single_message(nullptr, m.get(), &packet, &counter, nullptr), c.result);
        std::string log = testing::internal::GetCapturedStderr();
        if (c.result == 0)
        {
            ASSERT_NE(packet, nullptr);
            EXPECT_EQ(packet->data_length, c.length + 2);
            message_destroy(packet);
        }
        else
        {
            EXPECT_EQ(packet, nullptr);
            EXPECT_EQ(counter, 0u);
            EXPECT_TRUE(contains(log, "with its network header")) << log;
        }
    }

    bytes reply = internal_record(20041, 300, 1);
    message_ptr m = message_of(reply);
    message *packet = nullptr;
    uint32_t counter = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(data_proc_info_pack_single_message(nullptr, m.get(), &packet, &counter, nullptr),
              DATA_PROC_DROPPED);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStderr(), "Couldn't process transcode"));
    EXPECT_EQ(packet, nullptr);
}

TEST(DataProcInfoUnpack, PackedRecordsComeBackFull)
{
    packer_ptr packer = new_packer();
    bytes entry = full_order_entry(0x1111);
    bytes change = full_order_entry(0x2222);
    be16(change, 10, 2070);
    bytes sign_on = internal_record(2300, 60, 0x3333);
    bytes trade_out = pattern(209);
    be16(trade_out, 10, 20222);
    be32(trade_out, 0, 0x4444);
    ASSERT_EQ(pack(packer.get(), entry, 0), 0);
    ASSERT_EQ(pack(packer.get(), sign_on, 0), 0);
    uint32_t counter = 0;
    message_ptr first(data_proc_info_get_packet(packer.get(), &counter, nullptr));
    ASSERT_EQ(pack(packer.get(), change, 0), 0);
    message_ptr second(data_proc_info_get_packet(packer.get(), &counter, nullptr));
    ASSERT_EQ(pack(packer.get(), trade_out, 0), 0);
    message_ptr third(data_proc_info_get_packet(packer.get(), &counter, nullptr));

    uint32_t message_counter = 100;
    unpack_result r = unpack(data_of(first.get()), 5, &message_counter);
    ASSERT_EQ(r.status, 0) << r.log;
    ASSERT_EQ(r.messages.size(), 2u);
    message *order = r.messages[0].get();
    EXPECT_EQ(order->transcode, 2000);
    EXPECT_EQ(order->user_id, 0x1111u);
    EXPECT_EQ(order->login_count, -1);
    EXPECT_EQ(order->sequence_number, 101u);
    EXPECT_EQ(order->routing_area_a[0], 5u);
    EXPECT_EQ(order->routing_area_a[1], 1u);
    EXPECT_EQ(order->routing_area_a[2], 2u);
    ASSERT_EQ(order->data_length, 240);
    for (size_t off : {0, 48, 116, 118, 201, 228})
        EXPECT_EQ(order->data[off], entry[off]) << off;
    EXPECT_EQ(read16(order->data, 38), 240);
    EXPECT_EQ(to_hex(data_of(r.messages[1].get())), to_hex(sign_on));
    EXPECT_EQ(r.messages[1]->routing_area_a[1], 2u);
    EXPECT_EQ(r.messages[1]->sequence_number, 102u);

    r = unpack(data_of(second.get()));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0]->transcode, 2070);
    EXPECT_EQ(read16(r.messages[0]->data, 10), 2070);
    EXPECT_EQ(r.messages[0]->data[219], 'P');

    r = unpack(data_of(third.get()));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0]->transcode, 2222);
    EXPECT_EQ(r.messages[0]->user_id, 0x4444u);
    EXPECT_EQ(r.messages[0]->data_length, 209);
}

TEST(DataProcInfoUnpack, PlainAndCompressedEntriesMix)
{
    bytes reply = pattern(156, 0x41);
    be16(reply, 0, 20041);
    be32(reply, 6, 0x0102);
    reply[20] = '3';
    bytes system_information = exchange_record(1601, 80, 0x0203);
    be32(system_information, 14, 0);
    be32(system_information, 18, 12);
    bytes box = exchange_record(23001, 48, 0x0304);
    bytes order = pattern(110, 0x41);
    be16(order, 0, 20000);
    be32(order, 2, 0x0405);
    be16(order, 48, 1);

    bytes packet = packet_of(4, {reply, compressed_entry(system_information), box, compressed_entry(order)});
    packet.insert(packet.end(), 5, 0x77); // bytes after the last entry are ignored
    unpack_result r = unpack(packet);
    ASSERT_EQ(r.status, 0) << r.log;
    ASSERT_EQ(r.messages.size(), 4u);

    EXPECT_EQ(r.messages[0]->transcode, 2041);
    EXPECT_EQ(r.messages[0]->user_id, 0x0102u);
    EXPECT_EQ(r.messages[0]->data[37], 3);

    EXPECT_EQ(r.messages[1]->transcode, 1601);
    EXPECT_EQ(r.messages[1]->login_count, 12);
    EXPECT_EQ(r.messages[1]->user_id, 0x0203u);
    bytes expected_information = internal_record(1601, 80, 0x0203);
    be32(expected_information, 14, 0);
    be32(expected_information, 18, 12);
    EXPECT_EQ(to_hex(data_of(r.messages[1].get())), to_hex(expected_information));

    EXPECT_EQ(r.messages[2]->transcode, 23001);
    EXPECT_EQ(to_hex(data_of(r.messages[2].get())), to_hex(internal_record(23001, 48, 0x0304)));

    EXPECT_EQ(r.messages[3]->transcode, 2000);
    EXPECT_EQ(r.messages[3]->user_id, 0x0405u);
    EXPECT_EQ(r.messages[3]->data_length, 240);
    for (size_t i = 0; i < 4; i++)
    {
        EXPECT_EQ(r.messages[i]->routing_area_a[1], i + 1);
        EXPECT_EQ(r.messages[i]->routing_area_a[2], 4u);
    }
}

TEST(DataProcInfoUnpack, TranscodesMappedAndLoginCounts)
{
    struct
    {
        int16_t wire;
        int16_t internal;
        int32_t login_count;
    } cases[] = {
        {18000, 18000, -1}, {18001, 1, -1},   {22999, 4999, -1}, {23000, 23000, -1},
        {25003, 25003, -1}, {19601, 1601, 6}, {7011, 7011, 6},   {7021, 7021, 6},
        {7031, 7031, 6},    {2301, 2301, -1}, {1600, 1600, -1},
    };
    for (const auto &c : cases)
    {
        bytes record = exchange_record(c.wire, 40, 1);
        be32(record, 14, 0x01);
        be32(record, 18, 6);
        unpack_result r = unpack(packet_of(1, {record}));
        ASSERT_EQ(r.messages.size(), 1u) << c.wire;
        EXPECT_EQ(r.messages[0]->transcode, c.internal) << c.wire;
        EXPECT_EQ(r.messages[0]->login_count, c.login_count) << c.wire;
        EXPECT_EQ(r.messages[0]->data_length, 40) << c.wire;
    }
}

TEST(DataProcInfoUnpack, EmptyPacket)
{
    unpack_result r = unpack(packet_of(0, {exchange_record(2300, 40, 1)}));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.messages.empty());
}

TEST(DataProcInfoUnpack, MalformedPacketsAreDroppedWithALogLine)
{
    bytes good = exchange_record(2300, 60, 1);
    bytes truncated = exchange_record(2300, 60, 2);
    truncated.resize(50);
    bytes header_cut = exchange_record(2300, 60, 3);
    header_cut.resize(30);
    bytes order_cut = pattern(40, 0x41);
    be16(order_cut, 0, 20000);
    bytes runs_past = compressed_entry(exchange_record(2300, 60, 4));
    runs_past.resize(runs_past.size() - 3);
    bytes corrupt = compressed_entry(exchange_record(2300, 200, 5));
    for (size_t i = 2; i < corrupt.size(); i++)
        corrupt[i] = static_cast<uint8_t>(0xF0 ^ i);
    bytes short_record = exchange_record(2300, 120, 6);
    short_record.resize(100);
    bytes long_record = exchange_record(2300, 60, 7);
    long_record.resize(70, 0x55);
    bytes below_header = exchange_record(2300, 40, 8);
    be16(below_header, 38, 20);
    bytes reply_cut = pattern(100, 0x41);
    be16(reply_cut, 0, 20041);

    struct
    {
        const char *name;
        bytes packet;
        size_t delivered;
        const char *log;
    } cases[] = {
        {"one byte", bytes{0x00}, 0, "is less than required [2]"},
        {"negative count", packet_of(-1, {good}), 0, "which is not a positive number"},
        {"most negative count", packet_of(-32768, {good}), 0, "which is not a positive number"},
        {"count above the entries", packet_of(3, {good, good}), 2, "additional [2] bytes are required"},
        {"lone byte of a lead", packet_of(2, {good, bytes{0x08}}), 1, "additional [2] bytes are required"},
        {"truncated plain entry", packet_of(2, {good, truncated}), 1, "additional [60] bytes are required"},
        {"plain header cut", packet_of(2, {good, header_cut}), 1, "additional [40] bytes are required"},
        {"order header cut", packet_of(1, {order_cut}), 0, "additional [50] bytes are required"},
        {"order reply cut", packet_of(2, {good, reply_cut}), 1, "additional [156] bytes are required"},
        {"compressed runs past the packet", packet_of(2, {good, runs_past}), 1, "bytes are required"},
        {"corrupt compressed data", packet_of(3, {good, good, corrupt}), 2,
         "Decompression of the message failed"},
        {"decompressed too short", packet_of(2, {good, compressed_entry(short_record)}), 1,
         "is less than size"},
        {"decompressed too long", packet_of(2, {good, compressed_entry(long_record)}), 1,
         "is more than size"},
        {"length below the header", packet_of(2, {good, below_header}), 1, "Unknown transcode [2300]"},
        {"compressed length below the header", packet_of(1, {compressed_entry(below_header)}), 0,
         "Unknown transcode [2300]"},
    };
    for (const auto &c : cases)
    {
        unpack_result r = unpack(c.packet);
        EXPECT_EQ(r.status, DATA_PROC_DROPPED) << c.name;
        EXPECT_EQ(r.messages.size(), c.delivered) << c.name;
        EXPECT_TRUE(contains(r.log, c.log)) << c.name << ": " << r.log;
        for (const message_ptr &m : r.messages)
            EXPECT_EQ(to_hex(data_of(m.get())), to_hex(internal_record(2300, 60, 1))) << c.name;
    }
}
