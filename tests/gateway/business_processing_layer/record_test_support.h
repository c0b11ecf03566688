// Helpers shared by the business processing suites: message records made
// from bytes, queues drained into owned records, LZO1Z compression as the host does it,
// and records built field by field with the tests' own big-endian writers.
#pragma once

#include <lzo/lzo1z.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "support/hex.h"

namespace record_test
{
using bytes = std::vector<uint8_t>;
using qel_test::from_hex;
using qel_test::to_hex;

inline void be16(bytes &b, size_t off, uint16_t v)
{
    b[off] = static_cast<uint8_t>(v >> 8);
    b[off + 1] = static_cast<uint8_t>(v);
}

inline void be32(bytes &b, size_t off, uint32_t v)
{
    be16(b, off, static_cast<uint16_t>(v >> 16));
    be16(b, off + 2, static_cast<uint16_t>(v));
}

inline uint16_t read16(const uint8_t *p, size_t off)
{
    return static_cast<uint16_t>((p[off] << 8) | p[off + 1]);
}

// Every byte different from its neighbours and never 0, so a row copied from or to the
// wrong offset shows.
inline bytes pattern(size_t n, uint8_t start = 1)
{
    bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = static_cast<uint8_t>(start + i);
    return b;
}

// A record in the internal order: user id, transcode and length set, the rest a pattern.
inline bytes internal_record(int16_t transcode, uint16_t length, uint32_t user_id)
{
    bytes b = pattern(length, 0x31);
    be32(b, 0, user_id);
    be16(b, 10, static_cast<uint16_t>(transcode));
    be16(b, 38, length);
    return b;
}

// The same record as the exchange order lays it out, written from the header layout.
inline bytes exchange_record(int16_t transcode, uint16_t length, uint32_t user_id)
{
    bytes internal = internal_record(transcode, length, user_id);
    bytes b(length);
    memcpy(&b[0], &internal[10], 2);
    memcpy(&b[2], &internal[4], 4);
    memcpy(&b[6], &internal[8], 2);
    memcpy(&b[8], &internal[0], 4);
    memcpy(&b[12], &internal[12], 2);
    memcpy(&b[14], &internal[14], 24);
    memcpy(&b[38], &internal[38], 2);
    memcpy(&b[40], &internal[40], length - 40u);
    return b;
}

struct message_deleter
{
    void operator()(message *m) const { message_destroy(m); }
};
using message_ptr = std::unique_ptr<message, message_deleter>;

inline message_ptr message_of(const bytes &b, uint32_t sequence = 0, uint16_t user_type = 0)
{
    message *m = message_create(static_cast<uint32_t>(b.size()), NORMAL_MESSAGE);
    if (m != nullptr)
    {
        memcpy(m->data, b.data(), b.size());
        m->sequence_number = sequence;
        m->user_type = user_type;
    }
    return message_ptr(m);
}

inline bytes data_of(const message *m)
{
    return bytes(m->data, m->data + m->data_length);
}

struct queue_deleter
{
    void operator()(queue *q) const { ea_destroy_message_queue(q); }
};
using queue_ptr = std::unique_ptr<queue, queue_deleter>;

inline std::vector<message_ptr> drain(queue *q)
{
    std::vector<message_ptr> out;
    while (void *m = queue_remove_head(q))
        out.emplace_back(static_cast<message *>(m));
    return out;
}

// A compressed entry: the negative lead, then the LZO1Z data.
inline bytes compressed_entry(const bytes &record)
{
    EXPECT_EQ(lzo_init(), LZO_E_OK);
    std::vector<uint8_t> work(LZO1Z_999_MEM_COMPRESS);
    bytes out(record.size() + record.size() / 16 + 64 + 3);
    lzo_uint out_length = out.size();
    EXPECT_EQ(lzo1z_999_compress(record.data(), record.size(), out.data(), &out_length, work.data()),
              LZO_E_OK);
    bytes entry(2 + out_length);
    be16(entry, 0, static_cast<uint16_t>(-static_cast<int32_t>(out_length)));
    memcpy(&entry[2], out.data(), out_length);
    return entry;
}

inline bytes packet_of(int16_t count, const std::vector<bytes> &entries)
{
    size_t size = 2;
    for (const bytes &e : entries)
        size += e.size();
    bytes p(size);
    be16(p, 0, static_cast<uint16_t>(count));
    size_t at = 2;
    for (const bytes &e : entries)
    {
        if (!e.empty())
            memcpy(&p[at], e.data(), e.size());
        at += e.size();
    }
    return p;
}
} // namespace record_test
