// CMD5 over md5_checksum, with the console's own length limit.
#include "console/kova_md5.h"

#include "common/md5.h"

int32_t CMD5::Digest(const uint8_t *data, int32_t length, uint8_t *digest, int32_t mode)
{
    if (length < 0 || length > MAX_LENGTH || digest == nullptr)
    {
        return RESULT_BAD_LENGTH;
    }
    return md5_checksum(data, length, digest, mode == MODE_VERIFY ? MD5_MODE_VERIFY : MD5_MODE_COMPUTE);
}
