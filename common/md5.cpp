// MD5 message digest (RFC 1321) for the 16-byte digest field of the link frames.
//
// Input is taken one byte at a time and the block transform runs on every 64th byte, so
// the state needs no block buffer of its own beyond sixteen pending words. Nothing is
// allocated: a message is at most one message buffer (2048 bytes).
#include "common/md5.h"

#include <cstring>

namespace
{
// The sine-derived additive constants, one per step, in step order.
const uint32_t STEP_CONSTANT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left-rotation amounts: four per round, repeated over the round's sixteen steps.
const int ROTATION[4][4] = {
    {7, 12, 17, 22},
    {5, 9, 14, 20},
    {4, 11, 16, 23},
    {6, 10, 15, 21},
};

inline uint32_t rotate_left(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

void md5_transform(uint32_t state[4], const uint32_t block[16])
{
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];

    for (int step = 0; step < 64; ++step)
    {
        const int round = step / 16;
        uint32_t mixed;
        int word;
        switch (round)
        {
        case 0:
            mixed = (b & c) | (~b & d);
            word = step;
            break;
        case 1:
            mixed = (b & d) | (c & ~d);
            word = (5 * step + 1) % 16;
            break;
        case 2:
            mixed = b ^ c ^ d;
            word = (3 * step + 5) % 16;
            break;
        default:
            mixed = c ^ (b | ~d);
            word = (7 * step) % 16;
            break;
        }
        const uint32_t sum = a + mixed + STEP_CONSTANT[step] + block[word];
        a = d;
        d = c;
        c = b;
        b = b + rotate_left(sum, ROTATION[round][step % 4]);
    }

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}
} // namespace

void md5_init(md5_state *state)
{
    state->state[0] = 0x67452301;
    state->state[1] = 0xefcdab89;
    state->state[2] = 0x98badcfe;
    state->state[3] = 0x10325476;
    state->bit_count[0] = 0;
    state->bit_count[1] = 0;
    std::memset(state->pending, 0, sizeof state->pending);
    state->pending_bytes = 0;
}

// Adds a byte to the block without counting it; padding goes through here too.
static void md5_add_byte(md5_state *state, uint8_t byte)
{
    const uint32_t index = state->pending_bytes;
    const uint32_t shift = (index % 4) * 8;
    if (shift == 0)
    {
        state->pending[index / 4] = 0;
    }
    // Words of the block are little-endian.
    state->pending[index / 4] |= static_cast<uint32_t>(byte) << shift;
    if (++state->pending_bytes == 64)
    {
        md5_transform(state->state, state->pending);
        state->pending_bytes = 0;
    }
}

void md5_update_byte(md5_state *state, uint8_t byte)
{
    state->bit_count[0] += 8;
    if (state->bit_count[0] < 8)
    {
        ++state->bit_count[1];
    }
    md5_add_byte(state, byte);
}

void md5_final(md5_state *state, uint8_t digest[MD5_DIGEST_SIZE])
{
    const uint32_t low_bits = state->bit_count[0];
    const uint32_t high_bits = state->bit_count[1];

    md5_add_byte(state, 0x80);
    while (state->pending_bytes != 56)
    {
        md5_add_byte(state, 0);
    }
    for (int i = 0; i < 4; ++i)
    {
        md5_add_byte(state, static_cast<uint8_t>(low_bits >> (8 * i)));
    }
    for (int i = 0; i < 4; ++i)
    {
        md5_add_byte(state, static_cast<uint8_t>(high_bits >> (8 * i)));
    }

    for (int word = 0; word < 4; ++word)
    {
        for (int i = 0; i < 4; ++i)
        {
            digest[word * 4 + i] = static_cast<uint8_t>(state->state[word] >> (8 * i));
        }
    }
}

int32_t md5_checksum(const uint8_t *buffer, int32_t length, uint8_t *digest_field, int32_t mode)
{
    if (length < 0 || length > MD5_MAX_LENGTH || digest_field == nullptr || (buffer == nullptr && length > 0))
    {
        return MD5_RESULT_BAD_LENGTH;
    }

    // Private copies: the digest field may lie inside the bytes being digested.
    uint8_t message[MD5_MAX_LENGTH];
    uint8_t expected[MD5_DIGEST_SIZE];
    if (length > 0)
    {
        std::memcpy(message, buffer, static_cast<size_t>(length));
    }
    std::memcpy(expected, digest_field, MD5_DIGEST_SIZE);

    md5_state state;
    md5_init(&state);
    for (int32_t i = 0; i < length; ++i)
    {
        md5_update_byte(&state, message[i]);
    }
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(&state, digest);

    if (mode == MD5_MODE_VERIFY)
    {
        return std::memcmp(digest, expected, MD5_DIGEST_SIZE) == 0 ? MD5_RESULT_MATCH : MD5_RESULT_MISMATCH;
    }
    std::memcpy(digest_field, digest, MD5_DIGEST_SIZE);
    return MD5_RESULT_WRITTEN;
}
