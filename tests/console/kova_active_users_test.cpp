// The active users dialog against the scripted console port: its requests in the market's
// form (38 or 40 bytes), users read narrow or widened, box and login texts, the list
// emptied by each reply's header (two refreshes list every user once), the lost link;
// and the exchange sort of list rows by number and by text.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QPushButton>

#include "console/kova_active_users.h"
#include "console/kova_logger.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_screenshot.h"
#include "sim/console/console_port_peer.h"
#include "support/console_fixture.h"
#include "support/kova_window_fixture.h"

using qel_test::from_hex;

namespace
{
// Replies as the gateway sends them, written from the console packet formats.
const char *const k_box_header =
    "2800 00000000 00000000 00000000 00000000 0000 6519 00000000 00000000 00000000 00000000 0000";
const char *const k_box_data =
    "2200 00000000 00000000 00000000 00000000 0000 6619 00000000 00000000 6500 0200";
const char *const k_box_response =
    "2800 00000000 00000000 00000000 00000000 0000 6719 00000000 00000000 00000000 00000000 0000";
const char *const k_user_header =
    "2800 00000000 00000000 00000000 00000000 0000 1327 00000000 00000000 00000000 00000000 0000";
const char *const k_user_response =
    "2800 00000000 00000000 00000000 00000000 0000 1527 00000000 00000000 00000000 00000000 0000";

// A widened user record: 36 bytes, user id (32-bit) at 30, logon status at 34.
std::vector<uint8_t> widened_user(int32_t user, uint16_t status)
{
    std::vector<uint8_t> bytes =
        from_hex("2400 00000000 00000000 00000000 00000000 0000 1427 00000000 0000 0000 00000000 0000");
    memcpy(&bytes[30], &user, 4);
    memcpy(&bytes[34], &status, 2);
    return bytes;
}

// A narrow user record: 34 bytes, user id (16-bit) at 30, logon status at 32.
std::vector<uint8_t> narrow_user(uint16_t user, uint16_t status)
{
    std::vector<uint8_t> bytes =
        from_hex("2200 00000000 00000000 00000000 00000000 0000 1427 00000000 0000 0000 0000 0000");
    memcpy(&bytes[30], &user, 2);
    memcpy(&bytes[32], &status, 2);
    return bytes;
}

struct users_fixture : kova_test::window_fixture
{
    std::unique_ptr<CLogger> logger;
    sim_console::console_port_peer peer;
    std::unique_ptr<CGenericActiveUsersList> dialog;

    void SetUp() override
    {
        window_fixture::SetUp();
        TX_USERID_INCREASE_FLAG = 0;
        logger.reset(new CLogger());
        ASSERT_TRUE(peer.start());
    }

    void TearDown() override
    {
        dialog.reset();
        peer.stop();
        logger.reset();
        TX_USERID_INCREASE_FLAG = 0;
        window_fixture::TearDown();
    }

    // Opens the dialog for the market; it connects and asks at once.
    void open(int market)
    {
        dialog.reset(new CGenericActiveUsersList(market, peer.port(), logger.get()));
        dialog->OnInitDialog();
        dialog->show();
        ASSERT_TRUE(peer.wait_connected(5000));
        ASSERT_TRUE(kova_test::pump_until([&] { return dialog->m_connected == 1; }));
    }

    void answer(const std::vector<std::vector<uint8_t>> &users)
    {
        std::vector<std::vector<uint8_t>> frames = {from_hex(k_box_header), from_hex(k_box_data),
                                                    from_hex(k_box_response), from_hex(k_user_header)};
        frames.insert(frames.end(), users.begin(), users.end());
        frames.push_back(from_hex(k_user_response));
        ASSERT_TRUE(peer.send_joined(frames));
    }

    std::vector<std::string> column(int c)
    {
        std::vector<std::string> cells;
        for (int r = 0; r < dialog->List()->GetItemCount(); ++r)
            cells.push_back(dialog->List()->GetItemText(r, c).toStdString());
        return cells;
    }

    bool refresh_enabled() { return dialog->GetDlgItem(1016)->isEnabled(); }
    std::string log() { return qel_test::read_file(logger->CurrentFilePath()); }
};
} // namespace

TEST_F(users_fixture, NarrowTxAsksWith38BytesAndReadsSixteenBitIds)
{
    open(2);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Active Users TX");
    ASSERT_TRUE(peer.wait_received(76, 5000));
    std::vector<sim_console::packet> requests = peer.received_packets();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(
        requests[0].bytes,
        from_hex("2600 00000000 00000000 00000000 00000000 0000 6419 00000000 00000000 00000000 00000000"));
    EXPECT_EQ(
        requests[1].bytes,
        from_hex("2600 00000000 00000000 00000000 00000000 0000 1127 00000000 00000000 00000000 00000000"));
    EXPECT_TRUE(refresh_enabled());
    answer({narrow_user(5, 2), narrow_user(3, 0), narrow_user(9, 7)});
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->List()->GetItemCount() == 3; }));
    EXPECT_EQ(column(0), (std::vector<std::string>{"9", "3", "5"}));
    EXPECT_EQ(column(1), (std::vector<std::string>{"", "Logged Off.", "Logged on."}));
    EXPECT_EQ(dialog->ConnectedUsersText().toStdString(), "3");
    EXPECT_EQ(dialog->BoxIdText().toStdString(), "101");
    EXPECT_EQ(dialog->BoxStatusText().toStdString(), "Logged on.");
    EXPECT_NE(log().find("Box information request sent.|"), std::string::npos);
    EXPECT_NE(log().find("User information request sent.|"), std::string::npos);
}

TEST_F(users_fixture, WidenedTxAsksWith40BytesAndReadsThirtyTwoBitIds)
{
    TX_USERID_INCREASE_FLAG = 1;
    open(2);
    ASSERT_TRUE(peer.wait_received(80, 5000));
    std::vector<sim_console::packet> requests = peer.received_packets();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(
        requests[0].bytes,
        from_hex(
            "2800 00000000 00000000 00000000 00000000 0000 6419 00000000 00000000 00000000 00000000 0000"));
    EXPECT_EQ(
        requests[1].bytes,
        from_hex(
            "2800 00000000 00000000 00000000 00000000 0000 1127 00000000 00000000 00000000 00000000 0000"));
    answer({widened_user(70001, 3), widened_user(-2, 1)});
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->List()->GetItemCount() == 2; }));
    EXPECT_EQ(column(0), (std::vector<std::string>{"-2", "70001"}));
    EXPECT_EQ(column(1), (std::vector<std::string>{"Logoff in progress.", "Logon in progress."}));
    EXPECT_NE(log().find("Box information request for TX sent.|"), std::string::npos);
    EXPECT_NE(log().find("User information request for TX sent.|"), std::string::npos);
    KovaSaveScreenshot(dialog.get(), "kova_active_users_tx");
}

TEST_F(users_fixture, TwoRefreshesBeforeTheAnswersListEveryUserOnce)
{
    TX_USERID_INCREASE_FLAG = 1;
    open(2);
    ASSERT_TRUE(peer.wait_received(80, 5000));
    dialog->OnButtonActiveUsersListRefresh();
    ASSERT_TRUE(peer.wait_received(160, 5000));
    answer({widened_user(5001, 2), widened_user(5002, 2)});
    answer({widened_user(5001, 2), widened_user(5002, 2)});
    ASSERT_TRUE(kova_test::pump_until(
        [&] { return peer.received().size() >= 160 && dialog->List()->GetItemCount() >= 2; }));
    kova_test::pump_for(200);
    EXPECT_EQ(column(0), (std::vector<std::string>{"5002", "5001"}));
    EXPECT_EQ(dialog->ConnectedUsersText().toStdString(), "2");
}

TEST_F(users_fixture, ARefreshRebuildsTheListFromNothing)
{
    TX_USERID_INCREASE_FLAG = 1;
    open(2);
    answer({widened_user(5001, 2), widened_user(5002, 2), widened_user(5003, 2)});
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->List()->GetItemCount() == 3; }));
    static_cast<QPushButton *>(dialog->GetDlgItem(1016))->click();
    EXPECT_EQ(dialog->List()->GetItemCount(), 0);
    EXPECT_EQ(dialog->ConnectedUsersText().toStdString(), "0");
    answer({widened_user(5002, 0)});
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->List()->GetItemCount() == 1; }));
    kova_test::pump_for(100);
    EXPECT_EQ(column(0), (std::vector<std::string>{"5002"}));
    EXPECT_EQ(column(1), (std::vector<std::string>{"Logged Off."}));
}

TEST_F(users_fixture, TheGatewayClosingEmptiesTheFieldsButKeepsTheCount)
{
    TX_USERID_INCREASE_FLAG = 1;
    open(2);
    answer({widened_user(5001, 2), widened_user(5002, 2)});
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->List()->GetItemCount() == 2; }));
    peer.close_connection();
    ASSERT_TRUE(kova_test::pump_until([&] { return !refresh_enabled(); }));
    EXPECT_EQ(dialog->List()->GetItemCount(), 0);
    EXPECT_EQ(dialog->BoxIdText().toStdString(), "");
    EXPECT_EQ(dialog->BoxStatusText().toStdString(), "");
    EXPECT_EQ(dialog->ConnectedUsersText().toStdString(), "2");
    EXPECT_TRUE(box_texts().empty());
}

TEST_F(users_fixture, BoxAndLoginStatesHaveTheirTexts)
{
    const char *const texts[] = {
        "Logged Off.", "Logoff in progress.", "Logged on.", "Logon in progress.", "", ""};
    for (int state = 0; state < 6; ++state)
        EXPECT_EQ(CGenericActiveUsersList::LoginStateText(state == 5 ? 65535 : state).toStdString(),
                  texts[state]);
}

TEST_F(users_fixture, ColumnClicksSortByNumberThenByText)
{
    open(2);
    answer({narrow_user(5, 2), narrow_user(3, 0), narrow_user(9, 3)});
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->List()->GetItemCount() == 3; }));
    kova_test::pump_for(50);
    EXPECT_EQ(column(0), (std::vector<std::string>{"9", "3", "5"}));
    dialog->OnColumnClick(0); // the remembered column: descending
    EXPECT_EQ(column(0), (std::vector<std::string>{"9", "5", "3"}));
    EXPECT_EQ(column(1), (std::vector<std::string>{"Logon in progress.", "Logged on.", "Logged Off."}));
    dialog->OnColumnClick(0);
    EXPECT_EQ(column(0), (std::vector<std::string>{"3", "5", "9"}));
    dialog->OnColumnClick(1); // a new column: ascending, byte-wise
    EXPECT_EQ(column(1), (std::vector<std::string>{"Logged Off.", "Logged on.", "Logon in progress."}));
    dialog->OnColumnClick(1);
    EXPECT_EQ(column(1), (std::vector<std::string>{"Logon in progress.", "Logged on.", "Logged Off."}));
}

struct sort_case
{
    std::vector<std::string> keys;
    int32_t direction;
    int32_t key_type;
    std::vector<std::string> sorted;
};

TEST(ListSort, SortsRowsByTheColumnsTexts)
{
    kova_test::application();
    const sort_case cases[] = {
        {{"10", "9", "100", "-3"}, 1, 2, {"-3", "9", "10", "100"}},
        {{"10", "9", "100", "-3"}, 2, 2, {"100", "10", "9", "-3"}},
        {{"10", "9", "100", "-3"}, 1, 1, {"-3", "10", "100", "9"}}, // as text
        {{"Logged on.", "Logged Off.", "logged"}, 1, 1, {"Logged Off.", "Logged on.", "logged"}},
        {{"b", "a", "c"}, 1, 7, {"b", "a", "c"}}, // no such key type: nothing moves
        {{"12abc", "x", "3"}, 1, 2, {"x", "3", "12abc"}},
        {{}, 1, 2, {}},
        {{"1"}, 2, 2, {"1"}},
    };
    for (const sort_case &c : cases)
    {
        CListCtrl list;
        list.InsertColumn(0, "Key", 100);
        list.InsertColumn(1, "Tag", 100);
        for (size_t i = 0; i < c.keys.size(); ++i)
        {
            list.InsertItem(static_cast<int>(i), QString::fromStdString(c.keys[i]));
            list.SetItemText(static_cast<int>(i), 1, QString::fromStdString("tag" + c.keys[i]));
        }
        SortListControl(&list, 0, c.direction, c.key_type);
        for (size_t i = 0; i < c.sorted.size(); ++i)
        {
            EXPECT_EQ(list.GetItemText(static_cast<int>(i), 0).toStdString(), c.sorted[i]);
            EXPECT_EQ(list.GetItemText(static_cast<int>(i), 1).toStdString(), "tag" + c.sorted[i])
                << "rows move whole";
        }
    }
}
