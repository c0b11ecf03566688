// The console's link against the real qel_ip running against the simulated exchange
// host: the version first on both ports, the user list for a 40-byte request, the live
// events with their reason texts, and one OnConnectionLost per link when the gateway
// exits.
#include <gtest/gtest.h>

#include <QObject>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "console/kova_helper.h"
#include "console/kova_logger.h"
#include "console/kova_reason_codes.h"
#include "console/shim/kova_message_box.h"
#include "end_to_end/main_road_fixture.h"
#include "support/kova_test_app.h"

namespace
{
struct recording_listener : CConnectionListener
{
    std::vector<std::vector<uint8_t>> packets;
    int established = 0;
    int lost = 0;

    void RouteMessage(const uint8_t *p, uint16_t transcode) override
    {
        uint16_t length = static_cast<uint16_t>(p[0] | (p[1] << 8));
        EXPECT_EQ(transcode, static_cast<uint16_t>(p[20] | (p[21] << 8)));
        packets.emplace_back(p, p + length);
    }
    void OnConnectionEstablished() override { ++established; }
    void OnConnectionLost() override { ++lost; }
};

uint16_t u16(const std::vector<uint8_t> &p, size_t at)
{
    return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}

uint32_t u32(const std::vector<uint8_t> &p, size_t at)
{
    return static_cast<uint32_t>(u16(p, at)) | (static_cast<uint32_t>(u16(p, at + 2)) << 16);
}

// Connects, trying again while the gateway is still starting (a refused connect ends
// the attempt with OnConnectionLost).
bool connect(CKOVAHelper &helper, recording_listener &listener, const std::string &port)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        int lost_before = listener.lost;
        if (helper.EstablishConnection("127.0.0.1", port) != 1)
            return false;
        kova_test::pump_until([&] { return listener.established == 1 || listener.lost > lost_before; }, 5000);
        if (listener.established == 1)
        {
            listener.lost = 0;
            return true;
        }
        usleep(100 * 1000);
    }
    return false;
}
} // namespace

TEST(ConsoleLinkToGateway, UsersEventsAndTheEndOfTheGateway)
{
    kova_test::application();
    qel_test::main_road road;
    qel_sim::workstation_client client;
    road.connect(client);
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::answered(trader.sign_on(qel_test::kTimeoutMs), 2301));
    ASSERT_TRUE(qel_test::answered(trader.system_information(qel_test::kTimeoutMs), 1601));

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(road.dir.path().c_str()), 0); // the console's log goes beside the gateway's
    setenv("QEL_REGISTRY_FILE", road.dir.file("no_registry").c_str(), 1);
    std::vector<std::string> boxes;
    KovaSetMessageBoxHook(
        [&](const KovaMessageBoxCall &call)
        {
            boxes.push_back(call.text.toStdString());
            return IDOK;
        });
    {
        CLogger logger;
        QObject page, dialog;
        recording_listener realtime, interactive;
        CKOVAHelper realtime_helper(&logger), interactive_helper(&logger);
        realtime_helper.SetListener(&realtime, KOVA_MARKET_KR);
        realtime_helper.Create(&page);
        interactive_helper.SetListener(&interactive, KOVA_MARKET_KR);
        interactive_helper.Create(&dialog);

        ASSERT_TRUE(connect(realtime_helper, realtime, road.config.values["INTERFACE_REALTIME_PORT_NUMBER"]));
        ASSERT_TRUE(connect(interactive_helper, interactive,
                            road.config.values["INTERFACE_INTERACTIVE_PORT_NUMBER"]));
        EXPECT_EQ(realtime.m_connected, 1);

        // A 40-byte user information request, built as the active users list builds it.
        uint8_t request[KOVA_REQUEST_WIDENED] = {};
        ASSERT_EQ(KovaRequestLength(KOVA_MARKET_KR), KOVA_REQUEST_WIDENED);
        interactive_helper.GeneratePacketHeader(request, 10001);
        interactive_helper.GenerateNetworkHeader(request, KovaRequestLength(KOVA_MARKET_KR));
        ASSERT_EQ(interactive_helper.SendPacket(request, sizeof request), 1);
        ASSERT_TRUE(kova_test::pump_until(
            [&] { return !interactive.packets.empty() && u16(interactive.packets.back(), 20) == 10005; },
            10000));
        ASSERT_GE(interactive.packets.size(), 4u);
        EXPECT_EQ(u16(interactive.packets[0], 20), 10002) << "the version comes first";
        EXPECT_EQ(u32(interactive.packets[0], 30), 41402u);
        EXPECT_EQ(u16(interactive.packets[1], 20), 10003);
        std::map<uint32_t, uint16_t> users;
        for (const std::vector<uint8_t> &p : interactive.packets)
        {
            if (u16(p, 20) == 10004)
                users[u32(p, 30)] = u16(p, 34);
        }
        ASSERT_EQ(users.count(5001), 1u);
        EXPECT_EQ(users[5001], 2) << "logged on";

        // The realtime port: the version, then the day's events so far.
        ASSERT_TRUE(kova_test::pump_until([&] { return realtime.packets.size() >= 2; }, 10000));
        EXPECT_EQ(u16(realtime.packets[0], 20), 10002);
        EXPECT_EQ(u32(realtime.packets[0], 30), 41402u);
        bool logon_event = false;
        ASSERT_TRUE(kova_test::pump_until(
            [&]
            {
                for (size_t i = 1; i < realtime.packets.size(); ++i)
                {
                    const std::vector<uint8_t> &p = realtime.packets[i];
                    EXPECT_EQ(u16(p, 20), 10000);
                    EXPECT_EQ(p.size(), 42u);
                    std::string text = ReasonCodeText(u16(p, 36));
                    EXPECT_EQ(text.find("No description"), std::string::npos) << u16(p, 36);
                    logon_event =
                        logon_event ||
                        (u32(p, 32) == 5001 && text == "The user successfully logged on to the trading host");
                }
                return logon_event;
            },
            10000));

        // The gateway exits: each link ends once.
        qel_test::process_result result = road.stop();
        EXPECT_EQ(result.exit_code, 0) << result.output;
        ASSERT_TRUE(
            kova_test::pump_until([&] { return realtime.lost == 1 && interactive.lost == 1; }, 10000));
        kova_test::pump_for(300);
        EXPECT_EQ(realtime.lost, 1);
        EXPECT_EQ(interactive.lost, 1);
        EXPECT_EQ(realtime.m_connected, 0);
        EXPECT_EQ(interactive.m_connected, 0);
        EXPECT_TRUE(boxes.empty());
    }
    KovaSetMessageBoxHook(nullptr);
    unsetenv("QEL_REGISTRY_FILE");
    EXPECT_EQ(chdir(cwd), 0);
}
