// Big-endian fields of the simulated peers' records. The peers read and write the wire
// with these and never with the gateway's own helpers, so that a fault in the gateway's
// wire code shows as a mismatch instead of being mirrored. Header-only and C++14, for the
// peers, their tests and the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qel_sim
{

inline uint16_t be16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t be32(const uint8_t *p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

inline uint16_t be16(const std::vector<uint8_t> &in, size_t offset)
{
    return be16(in.data() + offset);
}

inline uint32_t be32(const std::vector<uint8_t> &in, size_t offset)
{
    return be32(in.data() + offset);
}

inline void set_be16(uint8_t *p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

inline void set_be32(uint8_t *p, uint32_t value)
{
    set_be16(p, static_cast<uint16_t>(value >> 16));
    set_be16(p + 2, static_cast<uint16_t>(value));
}

inline void set_be16(std::vector<uint8_t> &out, size_t offset, uint16_t value)
{
    set_be16(out.data() + offset, value);
}

inline void set_be32(std::vector<uint8_t> &out, size_t offset, uint32_t value)
{
    set_be32(out.data() + offset, value);
}

// Appended at the end of out.
inline void put_be16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void put_be32(std::vector<uint8_t> &out, uint32_t value)
{
    put_be16(out, static_cast<uint16_t>(value >> 16));
    put_be16(out, static_cast<uint16_t>(value));
}

} // namespace qel_sim
