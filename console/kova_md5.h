// CMD5: the console's MD5 message digest (RFC 1321) over at most 1024 bytes, on the
// gateway library's MD5.
#pragma once

#include <cstdint>

class CMD5
{
  public:
    enum : int32_t
    {
        MODE_VERIFY = 2, // any other mode computes
        MAX_LENGTH = 1024,
        RESULT_WRITTEN = 1,
        RESULT_MATCH = 3,
        RESULT_MISMATCH = -2,
        RESULT_BAD_LENGTH = -1,
    };

    // Mode 2: compares the MD5 of data with the 16 bytes at digest (3 equal, -2 not);
    // any other mode writes the MD5 into digest (1). -1 when length is not 0 to 1024.
    int32_t Digest(const uint8_t *data, int32_t length, uint8_t *digest, int32_t mode);
};
