// The simulated host's own encoding of what travels on the host link: the 22-byte
// network header with its MD5 digest, packets (a 16-bit count and the records back to
// back) and the sizes of the records the gateway sends. Written from the exchange's record formats,
// independently of the gateway's code, so that a disagreement shows up in a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sim_wire.h"

namespace qel_sim
{

typedef std::vector<uint8_t> bytes;

enum : uint32_t
{
    HOST_HEADER_SIZE = 22,
    HOST_MAX_FRAME = 2047,
};

// Faults the host can put into a frame it sends.
enum class frame_fault
{
    none,
    wrong_digest,       // one bit of the digest flipped
    short_frame,        // a complete frame of 21 bytes: less than the header
    bad_length,         // length field 2048: outside what the gateway reads
    sequence_gap,       // sequence number one further than the next
    sequence_duplicate, // the previous sequence number again
};

// MD5 of a buffer (OpenSSL).
void host_md5(const uint8_t *data, size_t length, uint8_t digest[16]);

// A whole frame: header with length, both sequence numbers and the digest of the body.
bytes host_encode_frame(const bytes &body, uint16_t sequence_number, uint16_t last_sequence_number);

// A packet: the count, then the records.
bytes host_encode_packet(const std::vector<bytes> &records);

// The size of the record that starts at `p` (at most `available` bytes there), or 0 when
// the host cannot tell it: trimmed order records by transcode, box records by their
// fixed sizes, the 16-byte-header record by its length field, any other by the length
// field of the 40-byte exchange header.
uint32_t host_record_size(const uint8_t *p, uint32_t available);

// Splits a packet body into its records; false when the count or a size does not fit
// (the records before the bad one are returned).
bool host_decode_packet(const bytes &body, std::vector<bytes> *records);

} // namespace qel_sim
