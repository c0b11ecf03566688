// The live event log page: the version check of every market (accepted, refused, the
// widened-user-id flags), events in their narrow and widened forms with their cells,
// newest first, emptied and refilled on a new connection, a refused connect tried again
// and logged once; a refused version ends a child console with 200.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "console/kova_generic_logs.h"
#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_screenshot.h"
#include "sim/console/console_port_peer.h"
#include "support/console_fixture.h"
#include "support/kova_window_fixture.h"
#include "support/test_support.h"

using qel_test::count_of;
using qel_test::from_hex;

namespace
{
int g_exit_code = -1;
void record_exit(int code)
{
    g_exit_code = code;
}

// A page for one market beside a status list holding every market's row.
struct log_page_fixture : kova_test::window_fixture
{
    std::unique_ptr<CLogger> logger;
    std::unique_ptr<QWidget> host;
    CListCtrl *status = nullptr;
    CGenericLogs *page = nullptr;
    INPUT_FOR_LOGS_THREAD input{};

    void SetUp() override
    {
        window_fixture::SetUp();
        setenv("TZ", "Asia/Kolkata", 1);
        tzset();
        TX_USERID_INCREASE_FLAG = GUV_USERID_INCREASE_FLAG = RAQE_USERID_INCREASE_FLAG = 0;
        g_exit_code = -1;
        CGenericLogs::SetExitProcessForTests(record_exit);
        logger.reset(new CLogger());
        host.reset(new QWidget());
        host->resize(760, 400);
        status = new CListCtrl(host.get());
        status->InsertColumn(0, "Market", 100);
        status->InsertColumn(1, "Status", 100);
        status->InsertColumn(2, "Version", 100);
        for (const char *name : {"KR", "TX", "ZBL", "GUV", "HY", "RAQE", "JN"})
            status->InsertItem(status->GetItemCount(), name);
    }

    void TearDown() override
    {
        delete page;
        host.reset();
        logger.reset();
        CGenericLogs::SetExitProcessForTests(nullptr);
        TX_USERID_INCREASE_FLAG = GUV_USERID_INCREASE_FLAG = RAQE_USERID_INCREASE_FLAG = 0;
        window_fixture::TearDown();
    }

    void make_page(int market, int realtime_port = 1)
    {
        page = new CGenericLogs(logger.get(), host.get());
        page->SetMarketType(market);
        ASSERT_TRUE(page->Create(host.get()));
        page->setGeometry(0, 0, 760, 400);
        page->SetStatusList(status);
        input = INPUT_FOR_LOGS_THREAD{page, 0, realtime_port, logger.get()};
        page->SetLinkData(&input);
    }

    void route(const std::vector<uint8_t> &bytes)
    {
        uint8_t buffer[1024] = {};
        memcpy(buffer, bytes.data(), bytes.size());
        page->RouteMessage(buffer, static_cast<uint16_t>(buffer[20] | (buffer[21] << 8)));
        page->FlushEvents();
    }

    std::vector<std::string> row(int r)
    {
        std::vector<std::string> cells;
        for (int c = 0; c < 4; ++c)
            cells.push_back(page->List()->GetItemText(r, c).toStdString());
        return cells;
    }

    std::string log() { return qel_test::read_file(logger->CurrentFilePath()); }
};

// The version check message: length 34, transcode 10002, the version at 30.
std::vector<uint8_t> version_message(uint32_t version)
{
    std::vector<uint8_t> bytes(34, 0);
    bytes[0] = 34;
    bytes[20] = 0x12;
    bytes[21] = 0x27;
    memcpy(&bytes[30], &version, 4); // little-endian machine
    return bytes;
}

// A widened event: time 1700000000, box 101, user 5001, reason 11018, extra -1.
const char *const k_widened_event = "2a00 000000000000000000000000000000000000 1027 00f15365 00000000 6500 "
                                    "89130000 0a2b ffffffff";
// A narrow event: time 1700000000, box 101, user 0, reason 12010 (0x2eea), extra 7.
const char *const k_narrow_event = "2800 000000000000000000000000000000000000 1027 00f15365 00000000 6500 "
                                   "0000 ea2e 07000000";
} // namespace

struct version_case
{
    int market;
    uint32_t version;
    bool accepted;
    int flag_after; // -1: the market has no flag
};

TEST_F(log_page_fixture, EachMarketAcceptsOrRefusesVersionsAndSetsItsFlag)
{
    const version_case cases[] = {
        {1, 10101, true, -1},  {1, 41402, false, -1}, {2, 41402, true, 1},  {2, 40802, true, 0},
        {2, 40902, true, 1},   {2, 10002, false, 0},  {2, 41401, false, 1}, {3, 30903, true, -1},
        {3, 30803, false, -1}, {4, 31204, true, 1},   {4, 31104, true, 0},  {4, 30902, false, 0},
        {5, 10105, true, -1},  {6, 31006, true, 1},   {6, 30906, true, 0},  {6, 30806, false, 0},
        {7, 30107, true, -1},  {7, 30007, false, -1},
    };
    for (const version_case &c : cases)
    {
        SCOPED_TRACE("market " + std::to_string(c.market) + " version " + std::to_string(c.version));
        delete page;
        page = nullptr;
        TX_USERID_INCREASE_FLAG = GUV_USERID_INCREASE_FLAG = RAQE_USERID_INCREASE_FLAG = 0;
        status->SetItemText(c.market - 1, 2, QString());
        boxes.clear();
        g_exit_code = -1;
        make_page(c.market);
        route(version_message(c.version));
        EXPECT_EQ(page->VersionState(), c.accepted ? 1 : 2);
        EXPECT_EQ(status->GetItemText(c.market - 1, 2).toStdString(),
                  c.accepted ? std::to_string(c.version) : "");
        EXPECT_EQ(g_exit_code, c.accepted ? -1 : 200);
        if (!c.accepted)
        {
            ASSERT_EQ(boxes.size(), 1u);
            std::string name = KovaMarketName(c.market);
            EXPECT_EQ(boxes[0].text.toStdString(), "QEL Setup Error.. Version " + std::to_string(c.version) +
                                                       " is invalid for market " + name);
            EXPECT_EQ(boxes[0].caption.toStdString(), "Invalid version");
            EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONEXCLAMATION);
        }
        int32_t flag = c.market == 2   ? TX_USERID_INCREASE_FLAG
                       : c.market == 4 ? GUV_USERID_INCREASE_FLAG
                       : c.market == 6 ? RAQE_USERID_INCREASE_FLAG
                                       : -1;
        EXPECT_EQ(flag, c.flag_after);
    }
    EXPECT_NE(log().find("Received market version is 41402|"), std::string::npos);
    EXPECT_NE(log().find("TX_USERID_INCREASE_FLAG = TRUE|"), std::string::npos);
    EXPECT_NE(log().find("QEL Setup Error.. Version 41402 is invalid for market KR|"), std::string::npos);
}

TEST_F(log_page_fixture, TheVersionRowIsFoundIgnoringCase)
{
    status->SetItemText(1, 0, "tx");
    make_page(2);
    route(version_message(41402));
    EXPECT_EQ(status->GetItemText(1, 2).toStdString(), "41402");
    EXPECT_EQ(status->GetItemText(0, 2).toStdString(), "");
}

TEST_F(log_page_fixture, EventsBeforeAnAcceptedVersionAreDropped)
{
    make_page(2);
    route(from_hex(k_narrow_event));
    EXPECT_EQ(page->List()->GetItemCount(), 0);
    route(version_message(40802));
    route(from_hex(k_narrow_event));
    EXPECT_EQ(page->List()->GetItemCount(), 1);
}

TEST_F(log_page_fixture, NarrowAndWidenedEventsShowTheirCells)
{
    make_page(2);
    route(version_message(40802)); // TX narrow
    route(from_hex(k_narrow_event));
    EXPECT_EQ(row(0), (std::vector<std::string>{"NEW", "Wednesday, November 15, 2023, 03:43:20",
                                                "QEL successfully logged on to the trading host", "7"}));
    route(version_message(41402)); // the same page's gateway now widened
    route(from_hex(k_widened_event));
    EXPECT_EQ(row(0), (std::vector<std::string>{"5001", "Wednesday, November 15, 2023, 03:43:20",
                                                "The user successfully logged on to the trading host", ""}));
    EXPECT_EQ(row(1)[0], "NEW") << "the older event moved down";
    const QString longest = QStringLiteral("Wednesday, September 30, 2026, 23:59:59");
    EXPECT_GT(page->List()->columnWidth(1), page->List()->fontMetrics().horizontalAdvance(longest))
        << "the time is shown whole";

    // User id -1 leaves the cell empty; an unknown reason shows the default text.
    std::vector<uint8_t> event = from_hex(k_widened_event);
    memset(&event[32], 0xff, 4);
    event[36] = 0xee; // 12014 = 0x2eee
    event[37] = 0x2e;
    memset(&event[38], 0, 4);
    route(event);
    EXPECT_EQ(row(0), (std::vector<std::string>{"", "Wednesday, November 15, 2023, 03:43:20",
                                                "No description for reason code [12014]", "0"}));
}

TEST_F(log_page_fixture, KrIsAlwaysWidenedAndZblNever)
{
    make_page(1);
    route(version_message(10101));
    route(from_hex(k_widened_event));
    EXPECT_EQ(row(0)[0], "5001");
    delete page;
    page = nullptr;
    make_page(3);
    route(version_message(30903));
    route(from_hex(k_narrow_event));
    EXPECT_EQ(row(0)[0], "NEW");
    EXPECT_EQ(row(0)[3], "7");
}

TEST_F(log_page_fixture, TimeTextFollowsThePinnedZone)
{
    EXPECT_EQ(CGenericLogs::EventTimeText(0).toStdString(), "Thursday, January 01, 1970, 05:30:00");
    EXPECT_EQ(CGenericLogs::EventTimeText(1709577000).toStdString(), "Tuesday, March 05, 2024, 00:00:00");
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(CGenericLogs::EventTimeText(1709577000).toStdString(), "Monday, March 04, 2024, 18:30:00");
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
}

TEST_F(log_page_fixture, EventsReachTheListInBatchesWithinFiftyMilliseconds)
{
    make_page(2);
    uint8_t buffer[1024] = {};
    std::vector<uint8_t> version = version_message(41402);
    memcpy(buffer, version.data(), version.size());
    page->RouteMessage(buffer, 10002);
    std::vector<uint8_t> event = from_hex(k_widened_event);
    for (uint32_t user = 1; user <= 3; ++user)
    {
        memcpy(&event[32], &user, 4);
        memcpy(buffer, event.data(), event.size());
        page->RouteMessage(buffer, 10000);
    }
    EXPECT_EQ(page->List()->GetItemCount(), 0);
    EXPECT_EQ(page->PendingEvents(), 3u);
    ASSERT_TRUE(kova_test::pump_until([&] { return page->List()->GetItemCount() == 3; }, 1000));
    EXPECT_EQ(row(0)[0], "3");
    EXPECT_EQ(row(2)[0], "1");
    // A new connection drops what had not been shown yet.
    page->RouteMessage(buffer, 10000);
    page->OnConnectionEstablished();
    kova_test::pump_for(100);
    EXPECT_EQ(page->List()->GetItemCount(), 0);
}

TEST_F(log_page_fixture, TheListKeepsItsNewestRowsUpToItsBound)
{
    // A flood of events (refused connects, a long day) would otherwise grow the console
    // without end: the oldest rows go.
    make_page(2);
    route(version_message(41402));
    const uint32_t bound = CGenericLogs::MAX_ROWS;
    uint8_t buffer[1024] = {};
    std::vector<uint8_t> event = from_hex(k_widened_event);
    auto add = [&](uint32_t user)
    {
        memcpy(&event[32], &user, 4);
        memcpy(buffer, event.data(), event.size());
        page->RouteMessage(buffer, 10000);
    };
    uint32_t user = 0;
    while (user < bound + 25)
    {
        add(++user);
        if (user % 1000 == 0)
            page->FlushEvents(); // as the batch timer would
    }
    page->FlushEvents();
    ASSERT_EQ(page->List()->GetItemCount(), static_cast<int>(bound));
    EXPECT_EQ(row(0)[0], std::to_string(bound + 25)) << "the newest on top";
    EXPECT_EQ(row(static_cast<int>(bound) - 1)[0], "26") << "the 25 oldest dropped";
    EXPECT_NE(log().find("The TX page keeps the newest " + std::to_string(bound) + " events"),
              std::string::npos);

    // A burst that the batch timer never sees: what waits is bounded as well.
    for (uint32_t i = 0; i < bound + 10; ++i)
        add(++user);
    EXPECT_LE(page->PendingEvents(), static_cast<size_t>(bound));
    page->FlushEvents();
    ASSERT_EQ(page->List()->GetItemCount(), static_cast<int>(bound));
    EXPECT_EQ(row(0)[0], std::to_string(user));
    EXPECT_EQ(row(static_cast<int>(bound) - 1)[0], std::to_string(user - bound + 1));
}

TEST_F(log_page_fixture, AConnectionEmptiesTheListAndTheReplayRefillsItNewestFirst)
{
    sim_console::console_port_peer peer;
    ASSERT_TRUE(peer.start());
    make_page(2, peer.port());
    page->ConnectToGateway();
    ASSERT_TRUE(kova_test::pump_until([&] { return page->LinkUp(); }));
    ASSERT_TRUE(peer.wait_connected(5000));
    ASSERT_TRUE(peer.send(sim_console::build_version_message(41402)));
    for (uint32_t user : {11u, 12u, 13u})
        ASSERT_TRUE(peer.send(sim_console::build_log_event({101, user, 11018, 0xFFFFFFFFu}, 1700000000u)));
    ASSERT_TRUE(kova_test::pump_until([&] { return page->List()->GetItemCount() == 3; }));
    EXPECT_EQ(row(0)[0], "13");
    EXPECT_EQ(row(2)[0], "11");
    KovaSaveScreenshot(page, "kova_log_page_tx");

    // The gateway drops the link: rows and version stay.
    peer.close_connection();
    ASSERT_TRUE(kova_test::pump_until([&] { return !page->LinkUp(); }));
    EXPECT_EQ(page->List()->GetItemCount(), 3);
    EXPECT_EQ(page->VersionState(), 1);

    // Back again: emptied at the connection, then the day replayed.
    page->EnsureConnection();
    ASSERT_TRUE(kova_test::pump_until([&] { return page->LinkUp(); }));
    ASSERT_TRUE(peer.wait_connected(5000, 2));
    EXPECT_EQ(page->List()->GetItemCount(), 0);
    ASSERT_TRUE(peer.send_joined({sim_console::build_version_message(41402),
                                  sim_console::build_log_event({101, 11, 11018, 0xFFFFFFFFu}, 1700000000u),
                                  sim_console::build_log_event({101, 14, 11009, 3}, 1700000100u)}));
    ASSERT_TRUE(kova_test::pump_until([&] { return page->List()->GetItemCount() == 2; }));
    EXPECT_EQ(row(0), (std::vector<std::string>{"14", "Wednesday, November 15, 2023, 03:45:00",
                                                "User has disconnected. ", "3"}));
    EXPECT_TRUE(box_texts().empty());
    peer.stop();
}

TEST_F(log_page_fixture, AnOldRowInViewStaysInPlaceWhenEventsArrive)
{
    make_page(2);
    route(version_message(41402));
    std::vector<uint8_t> event = from_hex(k_widened_event);
    for (uint32_t user = 1; user <= 200; ++user)
    {
        memcpy(&event[32], &user, 4);
        route(event);
    }
    page->show();
    host->show();
    kova_test::pump_for(50);
    page->List()->scrollToItem(page->List()->topLevelItem(100), QAbstractItemView::PositionAtTop);
    kova_test::pump_for(50);
    QTreeWidgetItem *before = page->List()->itemAt(5, 5);
    ASSERT_NE(before, nullptr);
    for (uint32_t user = 201; user <= 205; ++user)
    {
        memcpy(&event[32], &user, 4);
        route(event);
    }
    kova_test::pump_for(50);
    EXPECT_EQ(page->List()->itemAt(5, 5), before);
    EXPECT_EQ(page->List()->topLevelItem(0)->text(0).toStdString(), "205");
}

// A port where connects are refused until the test listens on it.
struct refusing_port
{
    int fd = -1;
    uint16_t port = 0;

    refusing_port()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        socklen_t size = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~refusing_port() { close(fd); }
};

TEST_F(log_page_fixture, ARefusedConnectIsTriedAgainAndTheSeriesIsLoggedOnce)
{
    refusing_port gateway;
    make_page(2, gateway.port);
    page->ConnectToGateway();
    ASSERT_TRUE(kova_test::pump_until(
        [&] { return log().find("Trying again while it runs.") != std::string::npos; }));
    for (int pass = 0; pass < 4; ++pass)
    {
        page->EnsureConnection();
        kova_test::pump_for(30);
    }
    EXPECT_FALSE(page->LinkUp());
    EXPECT_EQ(count_of(log(), "Trying again while it runs."), 1u);
    EXPECT_EQ(count_of(log(), "Establishing connection to"), 1u) << "the link's own lines only once";
    EXPECT_TRUE(box_texts().empty());

    // The gateway's listener opens: the next pass connects.
    ASSERT_EQ(listen(gateway.fd, 4), 0);
    page->EnsureConnection();
    ASSERT_TRUE(kova_test::pump_until([&] { return page->LinkUp(); }));
    EXPECT_NE(log().find("after failed attempts"), std::string::npos);
    int accepted = accept(gateway.fd, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    std::vector<uint8_t> version = version_message(41402);
    ASSERT_EQ(write(accepted, version.data(), version.size()), static_cast<ssize_t>(version.size()));
    ASSERT_TRUE(kova_test::pump_until([&] { return page->VersionState() == 1; }));
    close(accepted);
    ASSERT_TRUE(kova_test::pump_until([&] { return !page->LinkUp(); }));

    // A new series after the gateway stopped is logged anew.
    page->GatewayStopped();
    close(gateway.fd);
    gateway.fd = -1;
    page->ConnectToGateway();
    ASSERT_TRUE(kova_test::pump_until([&] { return count_of(log(), "Trying again while it runs.") == 2; }));
}

TEST_F(log_page_fixture, WhileAConnectIsUnderWayNoOtherStarts)
{
    sim_console::console_port_peer peer;
    ASSERT_TRUE(peer.start());
    make_page(2, peer.port());
    page->ConnectToGateway();
    page->EnsureConnection();
    page->EnsureConnection();
    ASSERT_TRUE(kova_test::pump_until([&] { return page->LinkUp(); }));
    kova_test::pump_for(100);
    EXPECT_EQ(peer.connections(), 1);
    peer.stop();
}

using log_page_death = log_page_fixture;

TEST_F(log_page_death, ARefusedVersionEndsTheConsoleWith200)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CGenericLogs::SetExitProcessForTests(nullptr);
            sim_console::console_port_peer peer;
            peer.start();
            make_page(1, peer.port());
            page->ConnectToGateway();
            kova_test::pump_until([&] { return page->LinkUp(); });
            peer.wait_connected(5000);
            peer.send(sim_console::build_version_message(41402));
            kova_test::pump_for(5000);
            _exit(1); // not reached when the version ends the console
        },
        ::testing::ExitedWithCode(200), "");
}
