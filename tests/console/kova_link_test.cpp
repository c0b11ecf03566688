// The console's link to a gateway console port, against the scripted console port:
// frames whole, split anywhere, joined, at the length limits; bad lengths, closes,
// resets and a refused connect each end the link with one OnConnectionLost.
#include <gtest/gtest.h>

#include <QObject>
#include <string>
#include <unistd.h>
#include <vector>

#include "console/kova_helper.h"
#include "console/kova_logger.h"
#include "console/shim/kova_message_box.h"
#include "platform/core/pf_socket.h"
#include "sim/console/console_port_peer.h"
#include "support/console_fixture.h"
#include "support/hex.h"
#include "support/kova_test_app.h"
#include "support/test_support.h"

using sim_console::console_port_peer;
using sim_console::packet;

namespace
{
struct recorded_listener : CConnectionListener
{
    std::vector<std::string> calls; // "established", "lost", "route <transcode> <length>"
    std::vector<std::vector<uint8_t>> packets;

    void RouteMessage(const uint8_t *p, uint16_t transcode) override
    {
        uint16_t length = static_cast<uint16_t>(p[0] | (p[1] << 8));
        calls.push_back("route " + std::to_string(transcode) + " " + std::to_string(length));
        packets.emplace_back(p, p + length);
    }
    void OnConnectionEstablished() override { calls.push_back("established"); }
    void OnConnectionLost() override { calls.push_back("lost"); }

    int count(const std::string &call) const
    {
        int n = 0;
        for (const std::string &c : calls)
            n += c == call ? 1 : 0;
        return n;
    }
};

// A helper on a listener, its logger writing into a temporary folder, message boxes
// recorded instead of shown.
struct link_fixture : ::testing::Test
{
    qel_test::temp_dir dir;
    std::string old_folder;
    std::unique_ptr<CLogger> logger;
    QObject owner;
    recorded_listener listener;
    CKOVAHelper *helper = nullptr;
    std::vector<std::string> boxes;
    console_port_peer peer;

    void SetUp() override
    {
        kova_test::application();
        char cwd[4096];
        old_folder = getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        logger.reset(new CLogger());
        KovaSetMessageBoxHook(
            [this](const KovaMessageBoxCall &call)
            {
                boxes.push_back(call.text.toStdString());
                return IDOK;
            });
        helper = new CKOVAHelper(logger.get());
        helper->SetListener(&listener, KOVA_MARKET_TX);
        helper->Create(&owner);
        ASSERT_TRUE(peer.start());
    }

    void TearDown() override
    {
        delete helper;
        KovaSetMessageBoxHook(nullptr);
        logger.reset();
        EXPECT_EQ(chdir(old_folder.c_str()), 0);
    }

    // A new connection to the peer; the listener's record starts afresh.
    void connect_to_peer()
    {
        listener.calls.clear();
        listener.packets.clear();
        int before = peer.connections();
        ASSERT_EQ(helper->EstablishConnection("127.0.0.1", std::to_string(peer.port())), 1);
        ASSERT_TRUE(kova_test::pump_until([&] { return listener.count("established") == 1; }));
        ASSERT_TRUE(peer.wait_connected(5000, before + 1));
    }

    size_t routed() const { return listener.packets.size(); }

    std::string log() const { return qel_test::read_file(logger->CurrentFilePath()); }
};

std::vector<uint8_t> event_frame(uint32_t user, uint16_t reason)
{
    return sim_console::build_log_event({101, user, reason, 0xFFFFFFFFu}, 1700000000u);
}
} // namespace

TEST_F(link_fixture, HelperIsANamedChildOfItsOwnerAndConnects)
{
    EXPECT_EQ(owner.findChild<CKOVAHelper *>("KOVA Helper"), helper);
    EXPECT_EQ(listener.m_connected, 0);
    connect_to_peer();
    EXPECT_EQ(listener.m_connected, 1);
    EXPECT_NE(log().find("Establishing connection to 127.0.0.1:" + std::to_string(peer.port())),
              std::string::npos);
    EXPECT_NE(log().find("Connection established.|"), std::string::npos);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(link_fixture, VersionThenEventsArriveWholeWithTheirTranscodes)
{
    connect_to_peer();
    ASSERT_TRUE(peer.send(sim_console::build_version_message(41402)));
    ASSERT_TRUE(peer.send(event_frame(5001, 11018)));
    ASSERT_TRUE(kova_test::pump_until([&] { return routed() == 2; }));
    EXPECT_EQ(listener.calls[1], "route 10002 34");
    EXPECT_EQ(listener.calls[2], "route 10000 42");
    EXPECT_EQ(listener.packets[0], sim_console::build_version_message(41402));
    EXPECT_EQ(listener.packets[1], event_frame(5001, 11018));
}

TEST_F(link_fixture, AFrameSplitAtAnyOffsetIsAssembled)
{
    connect_to_peer();
    std::vector<uint8_t> frame = event_frame(7, 12010);
    for (size_t cut = 1; cut < frame.size(); ++cut)
    {
        ASSERT_TRUE(peer.send_split(frame, {cut}, 5)) << cut;
        ASSERT_TRUE(kova_test::pump_until([&] { return routed() == cut; })) << "cut at " << cut;
        EXPECT_EQ(listener.packets.back(), frame) << "cut at " << cut;
    }
    // And in many pieces: byte by byte.
    std::vector<size_t> every_byte;
    for (size_t cut = 1; cut < frame.size(); ++cut)
        every_byte.push_back(cut);
    ASSERT_TRUE(peer.send_split(frame, every_byte, 1));
    ASSERT_TRUE(kova_test::pump_until([&] { return routed() == frame.size(); }));
    EXPECT_EQ(listener.packets.back(), frame);
    EXPECT_EQ(listener.count("lost"), 0);
}

TEST_F(link_fixture, FramesJoinedInOneSegmentAreDeliveredInOrder)
{
    connect_to_peer();
    ASSERT_TRUE(peer.send_joined({event_frame(1, 11000), event_frame(2, 11001),
                                  sim_console::build_version_message(), event_frame(3, 11002)}));
    ASSERT_TRUE(kova_test::pump_until([&] { return routed() == 4; }));
    EXPECT_EQ(listener.packets[0], event_frame(1, 11000));
    EXPECT_EQ(listener.packets[1], event_frame(2, 11001));
    EXPECT_EQ(listener.packets[2], sim_console::build_version_message());
    EXPECT_EQ(listener.packets[3], event_frame(3, 11002));
}

TEST_F(link_fixture, LengthsThreeAndTenTwentyThreeAreDelivered)
{
    connect_to_peer();
    std::vector<uint8_t> shortest = sim_console::build_frame(3, 3, 0);
    std::vector<uint8_t> longest = sim_console::build_frame(1023, 1023, 6502);
    longest[1022] = 0x5A;
    ASSERT_TRUE(peer.send_joined({shortest, longest}));
    ASSERT_TRUE(kova_test::pump_until([&] { return routed() == 2; }));
    EXPECT_EQ(listener.calls[1], "route 0 3") << "the transcode of a 3-byte frame lies in zeroed bytes";
    EXPECT_EQ(listener.calls[2], "route 6502 1023");
    EXPECT_EQ(listener.packets[1], longest);
}

// A length outside 3..1023 cannot be followed: the link ends there, once, whatever follows.
TEST_F(link_fixture, ALengthOutsideTheLimitsEndsTheLink)
{
    const uint16_t bad_lengths[] = {0, 1, 2, 1024, 2047, 65535};
    for (uint16_t bad : bad_lengths)
    {
        SCOPED_TRACE(bad);
        connect_to_peer();
        ASSERT_TRUE(peer.send_joined(
            {event_frame(1, 11000), sim_console::build_frame(bad, 40, 10000), event_frame(2, 11001)}));
        ASSERT_TRUE(kova_test::pump_until([&] { return listener.count("lost") == 1; }));
        kova_test::pump_for(50);
        EXPECT_EQ(listener.calls, (std::vector<std::string>{"established", "route 10000 42", "lost"}));
        EXPECT_EQ(listener.m_connected, 0);
        EXPECT_EQ(helper->Tcp()->Socket(), -1);
        EXPECT_TRUE(peer.wait_peer_closed(5000)) << "the console closed its end";
    }
    EXPECT_NE(log().find("ACTIVITY|Error in length field of Recieved Packet|KOVAHelper|"), std::string::npos);
    EXPECT_TRUE(boxes.empty()) << "the link's end shows no message box";
}

TEST_F(link_fixture, ThePeerClosingOrResettingEndsTheLinkOnce)
{
    struct ending
    {
        const char *name;
        bool reset;
        std::vector<uint8_t> half_frame; // sent before the end
    };
    std::vector<uint8_t> frame = event_frame(9, 11009);
    const ending endings[] = {
        {"orderly close", false, {}},
        {"close mid-frame", false, std::vector<uint8_t>(frame.begin(), frame.begin() + 30)},
        {"close inside the length field", false, std::vector<uint8_t>(frame.begin(), frame.begin() + 1)},
        {"reset", true, {}},
        {"reset mid-frame", true, std::vector<uint8_t>(frame.begin(), frame.begin() + 10)},
    };
    for (const ending &e : endings)
    {
        SCOPED_TRACE(e.name);
        connect_to_peer();
        ASSERT_TRUE(peer.send(frame));
        if (!e.half_frame.empty())
        {
            ASSERT_TRUE(peer.send(e.half_frame));
        }
        ASSERT_TRUE(kova_test::pump_until([&] { return routed() == 1; }));
        kova_test::pump_for(20);
        if (e.reset)
            peer.reset_connection();
        else
            peer.close_connection();
        ASSERT_TRUE(kova_test::pump_until([&] { return listener.count("lost") == 1; }));
        kova_test::pump_for(100); // an ended socket stays readable: nothing more comes
        EXPECT_EQ(listener.calls, (std::vector<std::string>{"established", "route 10000 42", "lost"}));
        EXPECT_EQ(listener.m_connected, 0);
        EXPECT_EQ(helper->Tcp()->Socket(), -1);
    }
    EXPECT_NE(log().find("recv failed due to connection reset by peer."), std::string::npos);
    EXPECT_NE(log().find("Attempting to close connection..."), std::string::npos);
    EXPECT_NE(log().find("Socket closed successfully."), std::string::npos);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(link_fixture, ARefusedConnectIsReportedAsALostConnection)
{
    // A bound socket that does not listen refuses connections to its port.
    int closed_port_socket = pf_socket_create(2, 1, 6);
    ASSERT_GE(closed_port_socket, 0);
    ASSERT_EQ(pf_socket_bind(closed_port_socket, pf_inet_addr("127.0.0.1"), 0), 0);
    uint16_t port = pf_socket_local_port(closed_port_socket);
    ASSERT_EQ(helper->EstablishConnection("127.0.0.1", std::to_string(port)), 1)
        << "the attempt is under way";
    ASSERT_TRUE(kova_test::pump_until([&] { return listener.count("lost") == 1; }));
    kova_test::pump_for(100);
    EXPECT_EQ(listener.calls, std::vector<std::string>{"lost"});
    EXPECT_EQ(listener.m_connected, 0);
    EXPECT_NE(log().find("Can not connect to socket. Error [10061]"), std::string::npos);
    pf_socket_close(closed_port_socket);
}

TEST_F(link_fixture, AnAddressThatIsNoAddressFailsAtOnce)
{
    ASSERT_EQ(helper->EstablishConnection("not an address", "1"), 0);
    EXPECT_NE(log().find("Error in Establishing connection"), std::string::npos);
    EXPECT_EQ(boxes, (std::vector<std::string>{"KOVA network error.", "KOVA network error"}));
}

TEST_F(link_fixture, RequestsGoOutAsBuiltAndLengthFollowsTheMarketsFlag)
{
    connect_to_peer();
    struct request_case
    {
        int32_t market;
        int32_t *flag;
        int32_t flag_value;
        uint16_t length;
    };
    const request_case cases[] = {
        {KOVA_MARKET_KR, nullptr, 0, 40},
        {KOVA_MARKET_TX, &TX_USERID_INCREASE_FLAG, 0, 38},
        {KOVA_MARKET_TX, &TX_USERID_INCREASE_FLAG, 1, 40},
        {KOVA_MARKET_ZBL, nullptr, 0, 38},
        {KOVA_MARKET_GUV, &GUV_USERID_INCREASE_FLAG, 0, 38},
        {KOVA_MARKET_GUV, &GUV_USERID_INCREASE_FLAG, 1, 40},
        {KOVA_MARKET_HY, nullptr, 0, 38},
        {KOVA_MARKET_RAQE, &RAQE_USERID_INCREASE_FLAG, 0, 38},
        {KOVA_MARKET_RAQE, &RAQE_USERID_INCREASE_FLAG, 1, 40},
        {KOVA_MARKET_JN, nullptr, 0, 38},
    };
    size_t expected_bytes = 0;
    for (const request_case &c : cases)
    {
        if (c.flag != nullptr)
            *c.flag = c.flag_value;
        uint16_t length = KovaRequestLength(c.market);
        EXPECT_EQ(length, c.length) << "market " << c.market << " flag " << c.flag_value;
        uint8_t request[40] = {};
        EXPECT_EQ(helper->GeneratePacketHeader(request, 10001), 1);
        EXPECT_EQ(helper->GenerateNetworkHeader(request, length), 1);
        EXPECT_EQ(helper->SendPacket(request, length), 1);
        expected_bytes += length;
        if (c.flag != nullptr)
            *c.flag = 0;
    }
    ASSERT_TRUE(peer.wait_received(expected_bytes, 5000));
    std::vector<packet> packets = peer.received_packets();
    ASSERT_EQ(packets.size(), sizeof cases / sizeof cases[0]);
    // Hand-written: 40 bytes, length 0x0028 little-endian at 0, transcode 10001 = 0x2711 at 20.
    std::vector<uint8_t> golden = qel_test::from_hex("2800 0000 00000000000000000000000000000000 1127"
                                                     "0000000000000000 0000000000000000 0000");
    EXPECT_EQ(packets[0].bytes, golden);
    for (size_t i = 0; i < packets.size(); ++i)
    {
        EXPECT_EQ(packets[i].length(), cases[i].length);
        EXPECT_EQ(packets[i].transcode(), 10001);
    }
}

TEST_F(link_fixture, SendingWithoutAConnectionFailsAndSaysSo)
{
    uint8_t request[38] = {};
    EXPECT_EQ(helper->SendPacket(request, sizeof request), 0);
    EXPECT_NE(log().find("| Error in sending packet Error code [10038]|"), std::string::npos);
    EXPECT_EQ(boxes, std::vector<std::string>{"KOVA network error."});
}

TEST(ConsoleMd5, DigestsVerifiesAndRefusesOverlongInput)
{
    // RFC 1321's test suite.
    const struct
    {
        const char *text;
        const char *digest;
    } vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    CMD5 md5;
    for (const auto &v : vectors)
    {
        uint8_t digest[16];
        int32_t length = static_cast<int32_t>(strlen(v.text));
        ASSERT_EQ(md5.Digest(reinterpret_cast<const uint8_t *>(v.text), length, digest, 1), 1);
        EXPECT_EQ(qel_test::to_hex(digest, sizeof digest), v.digest) << v.text;
        EXPECT_EQ(md5.Digest(reinterpret_cast<const uint8_t *>(v.text), length, digest, 2), 3);
        digest[15] ^= 1;
        EXPECT_EQ(md5.Digest(reinterpret_cast<const uint8_t *>(v.text), length, digest, 2), -2);
    }
    std::vector<uint8_t> big(1025, 'x');
    uint8_t digest[16];
    EXPECT_EQ(md5.Digest(big.data(), 1024, digest, 1), 1);
    EXPECT_EQ(md5.Digest(big.data(), 1025, digest, 1), -1);
    EXPECT_EQ(md5.Digest(big.data(), -1, digest, 1), -1);

    // The network header's checksum is the MD5 of the bytes after the first 20.
    CNetworkHeader header(nullptr);
    std::vector<uint8_t> frame = sim_console::build_frame(23, 23, 0);
    frame[20] = 'a', frame[21] = 'b', frame[22] = 'c';
    ASSERT_TRUE(header.GenerateChecksum(frame.data(), frame.data() + 20, 23));
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 4, frame.begin() + 20),
              qel_test::from_hex("900150983cd24fb0d6963f7d28e17f72"));
}
