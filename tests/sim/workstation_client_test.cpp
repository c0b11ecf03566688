// The simulated workstation catches a gateway's faults: frames written here byte by byte
// from the exchange's record formats, some of them wrong, and what the client makes of each. Also the
// frames it writes itself, as golden bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/runtime/ea_socket.h"
#include "sim/workstation/workstation_client.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace
{
using qel_test::from_hex;

// The invitation record with count 2, and its digest.
const char *const k_invitation =
    "000000000000000000003a980000000000000000000000000000000000000000000000000000002a0002";
const char *const k_invitation_digest = "3436a96ed5de1443022b5c5730690782";

class fake_gateway : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char text[128];
        uint32_t size = sizeof text;
        ASSERT_EQ(ea_socket_init(text, &size), EA_SUCCESS);
        listener = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        ASSERT_EQ(ea_bind(listener, "127.0.0.1", port), 0);
        ASSERT_EQ(ea_listen(listener, 1), 0);
        ASSERT_TRUE(client.connect("127.0.0.1", port));
        gateway = ea_accept(listener, nullptr, 0, nullptr);
        ASSERT_GE(gateway, 0);
    }

    void TearDown() override
    {
        ea_closesocket(gateway);
        ea_closesocket(listener);
        ea_socket_cleanup();
    }

    void write(const std::string &bytes)
    {
        std::vector<uint8_t> data = from_hex(bytes);
        ASSERT_EQ(ea_send(gateway, data.data(), static_cast<int32_t>(data.size())),
                  static_cast<int32_t>(data.size()));
    }

    std::vector<uint8_t> read(size_t n)
    {
        std::vector<uint8_t> data(n);
        size_t done = 0;
        while (done < n)
        {
            int32_t got = ea_recv(gateway, data.data() + done, static_cast<int32_t>(n - done));
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        data.resize(done);
        return data;
    }

    qel_test::reserved_port reservation;
    uint16_t port = reservation.number();
    int32_t listener = -1;
    int32_t gateway = -1;
    qel_sim::workstation_client client;
};

TEST_F(fake_gateway, InvitationGivesCreditAndFramesCarryHeaderAndSequence)
{
    write(std::string("0040 00000001 ") + k_invitation_digest + k_invitation);
    ASSERT_TRUE(client.wait_for_invitation(2000));
    EXPECT_EQ(client.credit(), 2u);
    std::vector<uint8_t> record = from_hex("01020304");
    ASSERT_TRUE(client.send_record(record, 2000));
    EXPECT_EQ(client.credit(), 1u);
    EXPECT_EQ(read(26), from_hex("001a 00000001 08d6c05a21512a79a1dfeb9d2a8f262f 01020304"));
    EXPECT_TRUE(client.check_failures().empty());
}

TEST_F(fake_gateway, EachFaultOfAReceivedFrameIsCaught)
{
    write(std::string("0040 00000001 ") + k_invitation_digest + k_invitation);
    // Sequence 3 where 2 is due; then a spoilt digest (last byte changed).
    write(std::string("0040 00000003 ") + k_invitation_digest + k_invitation);
    write(std::string("0040 00000004 ") + k_invitation_digest +
          "000000000000000000003a980000000000000000000000000000000000000000000000000000002a0003");
    ASSERT_TRUE(client.wait_for_invitation(2000));
    client.wait_for_invitation(2000);
    client.wait_for_invitation(2000);
    ASSERT_EQ(client.check_failures().size(), 2u);
    EXPECT_NE(client.check_failures()[0].find("sequence 3"), std::string::npos);
    EXPECT_NE(client.check_failures()[1].find("digest"), std::string::npos);
}

TEST_F(fake_gateway, FrameLengthBelowTheHeaderEndsTheConnection)
{
    write("0005 000000");
    qel_sim::workstation_frame frame;
    EXPECT_FALSE(client.receive(&frame, 2000));
    ASSERT_EQ(client.check_failures().size(), 1u);
    EXPECT_FALSE(client.connected());
}

TEST_F(fake_gateway, MisbehaviourIsWrittenAsAsked)
{
    client.faults().ignore_invitations = true;
    client.faults().bad_digest = true;
    client.faults().sequence_delta = 4;
    ASSERT_TRUE(client.send_record(from_hex("01020304"), 2000));
    EXPECT_EQ(read(26), from_hex("001a 00000005 f7d6c05a21512a79a1dfeb9d2a8f262f 01020304"));
    client.faults().bad_digest = false;
    client.faults().frame_length_delta = 1;
    ASSERT_TRUE(client.send_record(from_hex("05"), 2000));
    EXPECT_EQ(read(23), from_hex("0018 00000006 8bb6c17838643f9691cc6a4de6c51709 05"));
}
} // namespace
