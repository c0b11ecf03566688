// MD5 digest: the RFC 1321 test suite, padding boundaries, length limits and the
// digest field lying inside the digested bytes.
#include "common/md5.h"
#include "support/hex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
using qel_test::to_hex;

std::string digest_of(const std::string &text)
{
    uint8_t field[MD5_DIGEST_SIZE] = {};
    EXPECT_EQ(md5_checksum(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()),
                           field, MD5_MODE_COMPUTE),
              MD5_RESULT_WRITTEN);
    return to_hex(field, sizeof field);
}

TEST(Md5, Rfc1321TestSuite)
{
    const struct
    {
        std::string text;
        const char *digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(digest_of(c.text), c.digest) << '"' << c.text << '"';
    }
}

TEST(Md5, PaddingBoundaries)
{
    // Lengths around the 56-byte point where the bit count no longer fits the last block.
    const struct
    {
        size_t length;
        const char *digest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(digest_of(std::string(c.length, 'a')), c.digest) << c.length;
    }
}

TEST(Md5, LengthLimits)
{
    std::vector<uint8_t> buffer(MD5_MAX_LENGTH + 1);
    for (size_t i = 0; i < buffer.size(); ++i)
    {
        buffer[i] = static_cast<uint8_t>(i % 251);
    }
    uint8_t field[MD5_DIGEST_SIZE];
    EXPECT_EQ(md5_checksum(buffer.data(), 2048, field, MD5_MODE_COMPUTE), MD5_RESULT_WRITTEN);
    EXPECT_EQ(to_hex(field, sizeof field), "1544ef7a46131a30cf328f55979db73d");

    const uint8_t untouched[MD5_DIGEST_SIZE] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5,
                                                0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
    for (int32_t length : {2049, -1, -2048})
    {
        for (int32_t mode : {MD5_MODE_COMPUTE, MD5_MODE_VERIFY})
        {
            std::memcpy(field, untouched, sizeof field);
            EXPECT_EQ(md5_checksum(buffer.data(), length, field, mode), MD5_RESULT_BAD_LENGTH) << length;
            EXPECT_EQ(std::memcmp(field, untouched, sizeof field), 0) << length;
        }
    }
}

TEST(Md5, VerifyMatchesUntilAnyByteChanges)
{
    uint8_t buffer[100];
    for (size_t i = 0; i < sizeof buffer; ++i)
    {
        buffer[i] = static_cast<uint8_t>(i * 7);
    }
    uint8_t field[MD5_DIGEST_SIZE];
    ASSERT_EQ(md5_checksum(buffer, sizeof buffer, field, MD5_MODE_COMPUTE), MD5_RESULT_WRITTEN);
    EXPECT_EQ(md5_checksum(buffer, sizeof buffer, field, MD5_MODE_VERIFY), MD5_RESULT_MATCH);

    for (size_t i = 0; i < sizeof buffer; ++i)
    {
        buffer[i] ^= 0x01;
        EXPECT_EQ(md5_checksum(buffer, sizeof buffer, field, MD5_MODE_VERIFY), MD5_RESULT_MISMATCH) << i;
        buffer[i] ^= 0x01;
    }
    field[15] ^= 0x80;
    EXPECT_EQ(md5_checksum(buffer, sizeof buffer, field, MD5_MODE_VERIFY), MD5_RESULT_MISMATCH);
}

TEST(Md5, FieldInsideTheDigestedBytes)
{
    // A frame whose header carries the digest of the whole frame at offset 6.
    uint8_t frame[64];
    for (size_t i = 0; i < sizeof frame; ++i)
    {
        frame[i] = static_cast<uint8_t>(0x30 + i);
    }
    uint8_t before[sizeof frame];
    std::memcpy(before, frame, sizeof frame);
    uint8_t expected[MD5_DIGEST_SIZE];
    ASSERT_EQ(md5_checksum(before, sizeof before, expected, MD5_MODE_COMPUTE), MD5_RESULT_WRITTEN);

    ASSERT_EQ(md5_checksum(frame, sizeof frame, frame + 6, MD5_MODE_COMPUTE), MD5_RESULT_WRITTEN);
    EXPECT_EQ(std::memcmp(frame + 6, expected, MD5_DIGEST_SIZE), 0);
    EXPECT_EQ(std::memcmp(frame, before, 6), 0);
    EXPECT_EQ(std::memcmp(frame + 22, before + 22, sizeof frame - 22), 0);

    // Verifying in place compares against the field as it stands and leaves it alone.
    uint8_t field_before[MD5_DIGEST_SIZE];
    std::memcpy(field_before, frame + 6, sizeof field_before);
    EXPECT_EQ(md5_checksum(frame, sizeof frame, frame + 6, MD5_MODE_VERIFY), MD5_RESULT_MISMATCH);
    EXPECT_EQ(std::memcmp(frame + 6, field_before, sizeof field_before), 0);
}

TEST(Md5, StepsSinglyGiveTheSameDigest)
{
    const std::string text = "message digest";
    md5_state state;
    md5_init(&state);
    for (char c : text)
    {
        md5_update_byte(&state, static_cast<uint8_t>(c));
    }
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(&state, digest);
    EXPECT_EQ(to_hex(digest, sizeof digest), "f96b697d7cb7938d525a2f31aaf161d0");
}
} // namespace
