// The simulated host's own encoding: frames, digests, packets and injected faults, with
// golden bytes written from the header layout and RFC 1321's test digests.
#include <gtest/gtest.h>

#include <string>

#include "sim/host/sim_host_records.h"
#include "support/hex.h"

using qel_sim::bytes;

using qel_test::from_hex;

TEST(SimHostEncoding, FramesCarryLengthSequenceNumbersAndTheDigestOfTheBody)
{
    EXPECT_EQ(qel_sim::host_encode_frame({}, 7, 9),
              from_hex("0016 0007 0009 d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(qel_sim::host_encode_frame(bytes{'a', 'b', 'c'}, 0x0102, 0xfffe),
              from_hex("0019 0102 fffe 900150983cd24fb0d6963f7d28e17f72 616263"));
}

TEST(SimHostEncoding, SplitsPacketsByTheRecordSizes)
{
    bytes entry(110, 0);
    entry[0] = 0x4e; // 20000: trimmed order entry
    entry[1] = 0x20;
    bytes generic(44, 0);
    generic[0] = 0x08; // 2301, length at offset 38
    generic[1] = 0xfd;
    generic[39] = 44;
    bytes heart_beat = from_hex("5bd2");
    std::vector<bytes> records;
    ASSERT_TRUE(
        qel_sim::host_decode_packet(qel_sim::host_encode_packet({entry, generic, heart_beat}), &records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], entry);
    EXPECT_EQ(records[1], generic);
    EXPECT_EQ(records[2], heart_beat);

    EXPECT_FALSE(qel_sim::host_decode_packet(from_hex("0002 5bd2"), &records)) << "count says two";
    EXPECT_EQ(records.size(), 1u);
    EXPECT_FALSE(qel_sim::host_decode_packet(from_hex("ffff"), &records));
    EXPECT_TRUE(qel_sim::host_decode_packet(from_hex("0000"), &records));
}
