// The FIX users dialogs: the list from the TargetCompID lines, sorted by number; the
// start-up checks (broker id usable by the gateway, MAX_TWS_CLIENTS, readable files,
// recovery from the temporary file); New, Edit and Delete through buttons, double click
// and the Delete key, with the files compared byte for byte, listed users refused and
// blocks without their end marker left alone; the details dialog's checks and keys; and
// the close rule: the restart request, or "KOVA network error." when it cannot be sent.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <unistd.h>

#include "console/kova_fix_user_details.h"
#include "console/kova_fix_user_sessions.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_screenshot.h"
#include "sim/console/console_port_peer.h"
#include "support/console_fixture.h"
#include "support/kova_dialog_fixture.h"

using qel_test::from_hex;

namespace
{
const char *const k_config = "BROKER_ID=901\nMAX_TWS_CLIENTS=4\n";
const char *const k_head = "[DEFAULT]\nConnectionType=acceptor\nBeginString=FIX.4.2\nSenderCompID=QEL\n";
const char *const k_block_5 = "\n#BeginSession_5\n[SESSION]\nTargetCompID=5,901,1\n#EndSession_5\n";
const char *const k_block_12 = "\n#BeginSession_12\n[SESSION]\nTargetCompID=12,901,3\n#EndSession_12\n";
const char *const k_block_30 = "\n#BeginSession_30\n[SESSION]\nTargetCompID=30,901,2\n#EndSession_30\n";

struct fix_users_fixture : kova_test::dialog_fixture
{
    sim_console::console_port_peer peer;
    std::unique_ptr<CFixUserSessions> dialog;
    uint16_t port = 0;

    void SetUp() override
    {
        dialog_fixture::SetUp();
        TX_USERID_INCREASE_FLAG = 0;
        ASSERT_TRUE(peer.start());
        port = peer.port();
        ASSERT_EQ(system(("mkdir -p '" + dir.file("fix") + "'").c_str()), 0);
        dir.write("qel_ip.cfg", k_config);
    }

    void TearDown() override
    {
        dialog.reset();
        peer.stop();
        dialog_fixture::TearDown();
    }

    std::string fix() { return dir.read("fix/fix_settings.cfg"); }
    void open(const std::string &settings)
    {
        dir.write("fix/fix_settings.cfg", settings);
        reopen();
    }
    void reopen()
    {
        dialog.reset(new CFixUserSessions(2, dir.file("qel_ip.cfg"), dir.file("fix/fix_settings.cfg"), port,
                                          logger.get()));
        dialog->OnInitDialog();
        if (!dialog->IsEnded())
            activate(dialog.get());
    }
    int open_ended()
    {
        reopen();
        return dialog->IsEnded() ? dialog->EndResult() : 0;
    }
    std::vector<std::string> column(int c)
    {
        std::vector<std::string> cells;
        for (int r = 0; r < dialog->List()->GetItemCount(); ++r)
            cells.push_back(dialog->List()->GetItemText(r, c).toStdString());
        return cells;
    }
    QPushButton *button(int id) { return dialog->Item<QPushButton>(id); }
    std::string label(int id) { return dialog->Item<QLabel>(id)->text().toStdString(); }
    void select(const std::string &user)
    {
        for (int r = 0; r < dialog->List()->GetItemCount(); ++r)
            if (dialog->List()->GetItemText(r, 0).toStdString() == user)
                dialog->List()->SetSelectedRow(r);
    }

    // Runs script on the details dialog once it is shown modally; a script that leaves it
    // open has it cancelled.
    void on_details(std::function<void(CFixUserDetails *)> script)
    {
        QTimer::singleShot(
            0,
            [script]
            {
                kova_test::pump_until(
                    [] { return qobject_cast<CFixUserDetails *>(QApplication::activeModalWidget()); }, 5000);
                auto *details = qobject_cast<CFixUserDetails *>(QApplication::activeModalWidget());
                if (details == nullptr)
                    return;
                script(details);
                if (!details->IsEnded())
                    details->OnCancel();
            });
    }
    static void fill(CFixUserDetails *d, const char *user, const char *branch)
    {
        if (user != nullptr)
        {
            d->Item<QLineEdit>(1056)->selectAll();
            QTest::keyClicks(d->Item<QLineEdit>(1056), user);
        }
        d->Item<QLineEdit>(1058)->selectAll();
        QTest::keyClicks(d->Item<QLineEdit>(1058), branch);
        d->Item<QPushButton>(1020)->click();
    }
    bool received(size_t bytes)
    {
        return kova_test::pump_until([&] { return peer.received().size() >= bytes; });
    }
};
} // namespace

TEST_F(fix_users_fixture, TheListShowsEveryIdentityLineSortedByNumber)
{
    open(std::string(k_head) + k_block_30 + k_block_5 + "\nTargetCompID=100,901,7");
    EXPECT_EQ(dialog->windowTitle().toStdString(), "FIX Users- TX");
    EXPECT_EQ(column(0), (std::vector<std::string>{"5", "30", "100"}))
        << "a last line without newline counts once";
    EXPECT_EQ(column(1), (std::vector<std::string>{"1", "2", "7"}));
    EXPECT_EQ(label(1064), "901");
    EXPECT_EQ(label(1034), "3");
    EXPECT_TRUE(button(1042)->isEnabled());
    EXPECT_TRUE(button(1043)->isEnabled());
    KovaSaveScreenshot(dialog.get(), "kova_fix_users");
    dialog->OnColumnClick(0);
    EXPECT_EQ(column(0), (std::vector<std::string>{"100", "30", "5"})) << "the same column again: descending";
    dialog->OnColumnClick(1);
    EXPECT_EQ(column(1), (std::vector<std::string>{"1", "2", "7"})) << "another column: ascending";
    EXPECT_TRUE(logged("TraderID = 30 , BranchID = 2 "));

    open(k_head);
    EXPECT_EQ(label(1034), "0");
    EXPECT_FALSE(button(1042)->isEnabled());
    EXPECT_FALSE(button(1043)->isEnabled());

    dialog.reset(new CFixUserSessions(1, dir.file("qel_ip.cfg"), dir.file("fix/fix_settings.cfg"), port,
                                      logger.get()));
    dialog->OnInitDialog();
    EXPECT_EQ(dialog->windowTitle().toStdString(), "FIX Users - KR");
}

TEST_F(fix_users_fixture, StartUpNeedsABrokerIdTheGatewayTakesAndTheFiles)
{
    dir.write("fix/fix_settings.cfg", k_head);
    for (const char *config : {"MAX_TWS_CLIENTS=4\n", "BROKER_ID=AB-12\nMAX_TWS_CLIENTS=4\n",
                               "BROKER_ID=ABCDEF\nMAX_TWS_CLIENTS=4\n"})
    {
        dir.write("qel_ip.cfg", config);
        EXPECT_EQ(open_ended(), -1) << config;
        EXPECT_EQ(take_boxes(),
                  (std::vector<std::string>{"Error: Please configure Broker ID in QEL Configuration."}))
            << config;
    }
    EXPECT_TRUE(logged("BROKER_ID [AB-12] of QEL config file is not 1 to 5 letters or digits."));
    dir.write("qel_ip.cfg", "BROKER_ID=901\n");
    EXPECT_EQ(open_ended(), -1);
    EXPECT_TRUE(take_boxes().empty());
    EXPECT_TRUE(logged("Cannot read MAX_TWS_CLIENTS from QEL config file."));
    ASSERT_EQ(remove(dir.file("qel_ip.cfg").c_str()), 0);
    EXPECT_EQ(open_ended(), -1);
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: QEL Setup Error."}));

    dir.write("qel_ip.cfg", k_config);
    ASSERT_EQ(remove(dir.file("fix/fix_settings.cfg").c_str()), 0);
    EXPECT_EQ(open_ended(), -1);
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: Can not open FIX config file"}));
    EXPECT_TRUE(logged("Temp file for Fix Config is not present"));

    // A rewrite interrupted before its rename: the temporary file takes the file's place.
    dir.write("fix/temp_QEL_FIX_TX.cfg", std::string(k_head) + k_block_5);
    EXPECT_EQ(open_ended(), 0);
    EXPECT_EQ(column(0), (std::vector<std::string>{"5"}));
    EXPECT_EQ(dir.list("fix"), (std::vector<std::string>{"fix_settings.cfg"}));
}

TEST_F(fix_users_fixture, NewAppendsTheBlockAndRefusesAListedUser)
{
    open(std::string(k_head) + k_block_5 + "[SESSION]\nTargetCompID=44,901,1");
    on_details(
        [](CFixUserDetails *d)
        {
            EXPECT_EQ(d->windowTitle().toStdString(), "FIX User Details");
            EXPECT_TRUE(d->Item<QLineEdit>(1056)->isEnabled());
            EXPECT_FALSE(d->Item<QPushButton>(1020)->isEnabled());
            KovaSaveScreenshot(d, "kova_fix_user_details");
            fill(d, "12", "5");
            EXPECT_EQ(d->EndResult(), 10);
        });
    button(1041)->click();
    EXPECT_EQ(fix(), std::string(k_head) + k_block_5 + "[SESSION]\nTargetCompID=44,901,1\n" +
                         "\n#BeginSession_12\n[SESSION]\nTargetCompID=12,901,5\n#EndSession_12\n");
    EXPECT_EQ(column(0), (std::vector<std::string>{"5", "12", "44"}));
    EXPECT_TRUE(dialog->ChangesMade());
    EXPECT_TRUE(logged("New Session added for Trader ID 12 in FIX config file."));

    // Leading zeros go; a user with a block, or listed by its identity line alone, is refused.
    std::string before = fix();
    for (const char *listed : {"5", "044"})
    {
        on_details(
            [&, listed](CFixUserDetails *d)
            {
                fill(d, listed, "1");
                EXPECT_FALSE(d->IsEnded()) << "the dialog stays open";
            });
        button(1041)->click();
        std::string id = std::to_string(std::stoi(listed));
        EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: User ID " + id + " already exists.\n"}));
        EXPECT_EQ(fix(), before);
    }
    on_details([](CFixUserDetails *d) { fill(d, "007", "002"); });
    button(1041)->click();
    EXPECT_EQ(fix(), before + "\n#BeginSession_7\n[SESSION]\nTargetCompID=7,901,2\n#EndSession_7\n");
    EXPECT_EQ(dir.list("fix"), (std::vector<std::string>{"fix_settings.cfg"}));

    // Four users: MAX_TWS_CLIENTS is reached.
    take_boxes();
    button(1041)->click();
    EXPECT_EQ(take_boxes(),
              (std::vector<std::string>{"Error: Maximum User limit is reached. New User cannot be added."}));
}

TEST_F(fix_users_fixture, TheDetailsDialogChecksItsFieldsAndKeys)
{
    dir.write("fix/fix_settings.cfg", k_head);
    CFixUserDetails d(2, QString(), QStringLiteral("901"), QString(), dir.file("fix/fix_settings.cfg"), 1,
                      logger.get());
    d.OnInitDialog();
    activate(&d);
    QLineEdit *user = d.Item<QLineEdit>(1056);
    QLineEdit *branch = d.Item<QLineEdit>(1058);
    EXPECT_EQ(user->maxLength(), 5);
    EXPECT_EQ(branch->maxLength(), 3);
    QTest::keyClicks(user, "12x");
    EXPECT_EQ(user->text().toStdString(), "12");
    EXPECT_TRUE(d.Item<QPushButton>(1020)->isEnabled());
    struct step
    {
        const char *user, *branch, *box;
    };
    for (const step &s :
         {step{"", "1", "User ID can't be blank"}, step{"3", "", "Branch ID can't be blank"},
          step{"0", "1", "User ID can't be zero"}, step{"3", "000", "Branch ID can't be zero"}})
    {
        user->setText(s.user);
        branch->setText(s.branch);
        d.Item<QPushButton>(1020)->click();
        EXPECT_EQ(take_boxes(), (std::vector<std::string>{std::string("Error: ") + s.box}));
        EXPECT_FALSE(d.IsEnded());
    }
    EXPECT_EQ(fix(), k_head);
    QTest::keyClick(branch, Qt::Key_Return);
    EXPECT_FALSE(d.IsEnded()) << "Enter does nothing";
    QTest::keyClick(&d, Qt::Key_B, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), branch);
    QTest::keyClick(branch, Qt::Key_Escape);
    EXPECT_TRUE(d.IsEnded());

    CFixUserDetails edit(2, QStringLiteral("5"), QStringLiteral("901"), QStringLiteral("1"),
                         dir.file("fix/fix_settings.cfg"), 2, logger.get());
    edit.OnInitDialog();
    EXPECT_FALSE(edit.Item<QLineEdit>(1056)->isEnabled()) << "the user id of an edit is fixed";
    EXPECT_EQ(edit.Item<QLineEdit>(1058)->text().toStdString(), "1");
    EXPECT_FALSE(edit.Item<QPushButton>(1020)->isEnabled());
}

TEST_F(fix_users_fixture, EditChangesTheIdentityInsideItsBlockOnly)
{
    const std::string unended = "\n#BeginSession_40\n[SESSION]\nTargetCompID=40,901,4\n";
    open(std::string(k_head) + k_block_5 + k_block_12 + unended + k_block_30);
    take_boxes();
    button(1042)->click();
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Alert: No item is selected!"}));

    select("12");
    on_details(
        [](CFixUserDetails *d)
        {
            EXPECT_EQ(d->Item<QLineEdit>(1056)->text().toStdString(), "12");
            fill(d, nullptr, "9");
        });
    button(1042)->click();
    EXPECT_EQ(fix(), std::string(k_head) + k_block_5 +
                         "\n#BeginSession_12\n[SESSION]\nTargetCompID=12,901,9\n#EndSession_12\n" + unended +
                         k_block_30);
    EXPECT_TRUE(dialog->ChangesMade());
    EXPECT_TRUE(logged("TargetCompID=12,901,9 set for Trader ID 12"));

    // A block without its end marker: nothing changes, and the operator is told.
    std::string before = fix();
    select("40");
    on_details(
        [](CFixUserDetails *d)
        {
            fill(d, nullptr, "8");
            EXPECT_FALSE(d->IsEnded());
        });
    button(1042)->click();
    std::vector<std::string> shown = take_boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("User ID 40 cannot be changed"), std::string::npos);
    EXPECT_EQ(fix(), before);

    // A double click edits the row.
    select("5");
    on_details([](CFixUserDetails *d) { fill(d, nullptr, "6"); });
    emit dialog->List()->rowDoubleClicked(dialog->List()->GetSelectedRow());
    EXPECT_NE(fix().find("TargetCompID=5,901,6\n"), std::string::npos);
}

TEST_F(fix_users_fixture, DeleteTakesTheBlockAndOnlyAnEmptyLineAfterIt)
{
    const std::string tail = "#BeginSession_30\n[SESSION]\nTargetCompID=30,901,2\n#EndSession_30";
    const std::string head = std::string(k_head) + "SessionQualifier=" + std::string(3000, 'q') + "\n";
    open(head + k_block_5 + k_block_12 + "\n" + tail + "\n");
    take_boxes();
    button(1043)->click();
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Alert: No item is selected!"}));

    box_answer = IDNO;
    select("12");
    button(1043)->click();
    EXPECT_EQ(take_boxes(),
              (std::vector<std::string>{"Delete: Are you sure you want to delete User ID 12?"}));
    EXPECT_EQ(column(0).size(), 3u);

    box_answer = IDYES;
    select("12");
    button(1043)->click();
    // The block and the empty line in front of the next block; no final newline.
    EXPECT_EQ(fix(), head + k_block_5 + "\n" + tail) << "lines of any length are copied whole";
    EXPECT_EQ(column(0), (std::vector<std::string>{"5", "30"}));
    EXPECT_TRUE(dialog->ChangesMade());

    // The last block (by the Delete key): the lines before it stay.
    select("30");
    QTest::keyClick(dialog->List(), Qt::Key_Delete);
    EXPECT_EQ(fix(), head + k_block_5);
    EXPECT_EQ(column(0), (std::vector<std::string>{"5"}));
}

TEST_F(fix_users_fixture, DeleteKeepsWhatFollowsAndLeavesAnUnendedBlockAlone)
{
    // Hand-edited: the next block's marker follows the end marker at once.
    const std::string next = "#BeginSession_30\n[SESSION]\nTargetCompID=30,901,2\n#EndSession_30";
    const std::string unended = "\n#BeginSession_40\n[SESSION]\nTargetCompID=40,901,4\n";
    open(std::string(k_head) + "#BeginSession_5\n[SESSION]\nTargetCompID=5,901,1\n#EndSession_5\n" + next +
         "\n" + unended);
    box_answer = IDYES;
    select("5");
    button(1043)->click();
    EXPECT_EQ(fix(), std::string(k_head) + next + "\n" + unended.substr(0, unended.size() - 1));
    EXPECT_EQ(column(0), (std::vector<std::string>{"30", "40"}));

    std::string before = fix();
    take_boxes();
    select("40");
    button(1043)->click();
    std::vector<std::string> shown = take_boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[1].find("User ID 40 cannot be deleted"), std::string::npos);
    EXPECT_EQ(fix(), before) << "nothing deleted";
    EXPECT_EQ(column(0), (std::vector<std::string>{"30", "40"}));
}

TEST_F(fix_users_fixture, ClosingAfterAChangeRestartsARunningGatewayThenCloses)
{
    open(std::string(k_head) + k_block_5 + k_block_12);
    // Unchanged, or changed with the gateway stopped: it closes at once.
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->IsEnded());
    reopen();
    box_answer = IDYES;
    select("12");
    button(1043)->click();
    take_boxes();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(dialog->IsEnded());
    EXPECT_EQ(peer.connections(), 0);

    running = 1;
    reopen();
    select("5");
    button(1043)->click();
    take_boxes();
    QTest::keyClick(dialog.get(), Qt::Key_X, Qt::AltModifier);
    ASSERT_TRUE(received(38));
    EXPECT_EQ(take_boxes(),
              (std::vector<std::string>{"Alert: QEL will restart to take changes into effect."}));
    EXPECT_EQ(
        peer.received_packets()[0].bytes,
        from_hex("2600 00000000 00000000 00000000 00000000 0000 401f 00000000 00000000 00000000 00000000"));
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->IsEnded(); }));
    EXPECT_EQ(dialog->EndResult(), IDOK);
    EXPECT_TRUE(logged("Request to kill qel sent."));
}

TEST_F(fix_users_fixture, ARestartRequestThatCannotBeSentIsShownAndTheDialogCloses)
{
    running = 1;
    open(std::string(k_head) + k_block_5 + k_block_12);
    box_answer = IDYES;
    select("5");
    button(1043)->click();
    take_boxes();
    peer.stop(); // the gateway's console port is gone: the connect is refused
    dialog->OnCancel();
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->IsEnded(); }));
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Alert: QEL will restart to take changes into effect.",
                                                      "Error: KOVA network error."}));
    EXPECT_TRUE(logged("Restart request for market TX could not be sent: the link was refused or lost."));
}

TEST_F(fix_users_fixture, NoLinkWithinFiveSecondsIsShownAndTheDialogCloses)
{
    kova_test::stalled_port stalled; // the console's connect hangs
    port = stalled.port;

    running = 1;
    open(std::string(k_head) + k_block_5 + k_block_12);
    box_answer = IDYES;
    select("5");
    button(1043)->click();
    take_boxes();
    dialog->OnCancel();
    EXPECT_FALSE(dialog->IsEnded());
    dialog->OnCancel();
    EXPECT_EQ(take_boxes(),
              (std::vector<std::string>{"Alert: QEL will restart to take changes into effect."}))
        << "a second Esc while the request is on its way adds nothing";
    ASSERT_TRUE(kova_test::pump_until([&] { return dialog->IsEnded(); }, 8000));
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: KOVA network error."}));
    EXPECT_TRUE(logged("Restart request for market TX could not be sent: no link within 5 s."));
}
