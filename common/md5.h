// MD5 (RFC 1321) over at most one message buffer: computes the digest into a 16-byte
// field, or verifies the field. Used by the host and workstation validators.
#pragma once

#include <cstdint>

enum
{
    MD5_DIGEST_SIZE = 16,
    MD5_MAX_LENGTH = 2048,
    MD5_MODE_COMPUTE = 1,
    MD5_MODE_VERIFY = 2,
    MD5_RESULT_WRITTEN = 1,
    MD5_RESULT_MATCH = 3,
    MD5_RESULT_MISMATCH = -2,
    MD5_RESULT_BAD_LENGTH = -1,
};

struct md5_state
{
    uint32_t state[4];
    uint32_t bit_count[2]; // low word first
    uint32_t pending[16];
    uint32_t pending_bytes;
};

int32_t md5_checksum(const uint8_t *buffer, int32_t length, uint8_t *digest_field, int32_t mode);
void md5_init(md5_state *state);
void md5_update_byte(md5_state *state, uint8_t byte);
void md5_final(md5_state *state, uint8_t digest[MD5_DIGEST_SIZE]);
