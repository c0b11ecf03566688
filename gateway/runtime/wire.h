// Explicit readers and writers of wire and file fields. Every record layout of the
// gateway is read and written through these, never by laying a struct over bytes:
// network order (big-endian) on the host and workstation links, little-endian where
// the Windows design writes its machine order (console frames, binary logs, event files).
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t get_u16_be(const uint8_t *buf, uint32_t off)
{
    return static_cast<uint16_t>((buf[off] << 8) | buf[off + 1]);
}

inline uint32_t get_u32_be(const uint8_t *buf, uint32_t off)
{
    return (static_cast<uint32_t>(buf[off]) << 24) | (static_cast<uint32_t>(buf[off + 1]) << 16) |
           (static_cast<uint32_t>(buf[off + 2]) << 8) | buf[off + 3];
}

inline uint64_t get_u64_be(const uint8_t *buf, uint32_t off)
{
    return (static_cast<uint64_t>(get_u32_be(buf, off)) << 32) | get_u32_be(buf, off + 4);
}

inline int16_t get_i16_be(const uint8_t *buf, uint32_t off)
{
    return static_cast<int16_t>(get_u16_be(buf, off));
}

inline int32_t get_i32_be(const uint8_t *buf, uint32_t off)
{
    return static_cast<int32_t>(get_u32_be(buf, off));
}

inline void put_u16_be(uint8_t *buf, uint32_t off, uint16_t value)
{
    buf[off] = static_cast<uint8_t>(value >> 8);
    buf[off + 1] = static_cast<uint8_t>(value);
}

inline void put_u32_be(uint8_t *buf, uint32_t off, uint32_t value)
{
    buf[off] = static_cast<uint8_t>(value >> 24);
    buf[off + 1] = static_cast<uint8_t>(value >> 16);
    buf[off + 2] = static_cast<uint8_t>(value >> 8);
    buf[off + 3] = static_cast<uint8_t>(value);
}

inline void put_u64_be(uint8_t *buf, uint32_t off, uint64_t value)
{
    put_u32_be(buf, off, static_cast<uint32_t>(value >> 32));
    put_u32_be(buf, off + 4, static_cast<uint32_t>(value));
}

inline void put_i16_be(uint8_t *buf, uint32_t off, int16_t value)
{
    put_u16_be(buf, off, static_cast<uint16_t>(value));
}

inline void put_i32_be(uint8_t *buf, uint32_t off, int32_t value)
{
    put_u32_be(buf, off, static_cast<uint32_t>(value));
}

inline uint16_t get_u16_le(const uint8_t *buf, uint32_t off)
{
    return static_cast<uint16_t>(buf[off] | (buf[off + 1] << 8));
}

inline uint32_t get_u32_le(const uint8_t *buf, uint32_t off)
{
    return buf[off] | (static_cast<uint32_t>(buf[off + 1]) << 8) |
           (static_cast<uint32_t>(buf[off + 2]) << 16) | (static_cast<uint32_t>(buf[off + 3]) << 24);
}

inline uint64_t get_u64_le(const uint8_t *buf, uint32_t off)
{
    return get_u32_le(buf, off) | (static_cast<uint64_t>(get_u32_le(buf, off + 4)) << 32);
}

inline int16_t get_i16_le(const uint8_t *buf, uint32_t off)
{
    return static_cast<int16_t>(get_u16_le(buf, off));
}

inline int32_t get_i32_le(const uint8_t *buf, uint32_t off)
{
    return static_cast<int32_t>(get_u32_le(buf, off));
}

inline void put_u16_le(uint8_t *buf, uint32_t off, uint16_t value)
{
    buf[off] = static_cast<uint8_t>(value);
    buf[off + 1] = static_cast<uint8_t>(value >> 8);
}

inline void put_u32_le(uint8_t *buf, uint32_t off, uint32_t value)
{
    put_u16_le(buf, off, static_cast<uint16_t>(value));
    put_u16_le(buf, off + 2, static_cast<uint16_t>(value >> 16));
}

inline void put_u64_le(uint8_t *buf, uint32_t off, uint64_t value)
{
    put_u32_le(buf, off, static_cast<uint32_t>(value));
    put_u32_le(buf, off + 4, static_cast<uint32_t>(value >> 32));
}

inline void put_i16_le(uint8_t *buf, uint32_t off, int16_t value)
{
    put_u16_le(buf, off, static_cast<uint16_t>(value));
}

inline void put_i32_le(uint8_t *buf, uint32_t off, int32_t value)
{
    put_u32_le(buf, off, static_cast<uint32_t>(value));
}
