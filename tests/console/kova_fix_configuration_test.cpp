// The FIX configuration dialog: the two switches read ignoring case and defaulted, Save
// only while a box differs, every PersistMessages line rewritten and every other line
// copied whole, FIX_LOGGING appended, the settings file recovered from its temporary
// file, the restart request in the market's form when the gateway runs, one link at a
// time, and the keys.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include "console/kova_fix_configuration.h"
#include "console/shim/kova_screenshot.h"
#include "sim/console/console_port_peer.h"
#include "support/console_fixture.h"
#include "support/kova_dialog_fixture.h"

using qel_test::from_hex;

namespace
{
const char *const k_narrow_restart =
    "2600 00000000 00000000 00000000 00000000 0000 401f 00000000 00000000 00000000 00000000";
const char *const k_widened_restart =
    "2800 00000000 00000000 00000000 00000000 0000 401f 00000000 00000000 00000000 00000000 0000";

struct fix_config_fixture : kova_test::dialog_fixture
{
    sim_console::console_port_peer peer;
    std::unique_ptr<CFixConfiguration> dialog;

    void SetUp() override
    {
        dialog_fixture::SetUp();
        TX_USERID_INCREASE_FLAG = 0;
        ASSERT_TRUE(peer.start());
        dir.write("qel_ip.cfg", "BOX_ID=101\nFIX_LOGGING=Y\n");
    }

    void TearDown() override
    {
        dialog.reset();
        peer.stop();
        TX_USERID_INCREASE_FLAG = 0;
        dialog_fixture::TearDown();
    }

    void open(int market = 2)
    {
        dialog.reset(new CFixConfiguration(market, dir.file("qel_ip.cfg"), dir.file("fix/fix_settings.cfg"),
                                           peer.port(), logger.get()));
        dialog->OnInitDialog();
        if (!dialog->IsEnded())
            activate(dialog.get());
    }
    void write_fix(const std::string &text)
    {
        system(("mkdir -p '" + dir.file("fix") + "'").c_str());
        dir.write("fix/fix_settings.cfg", text);
    }
    QCheckBox *persist() { return dialog->Item<QCheckBox>(1080); }
    QCheckBox *fix_logging() { return dialog->Item<QCheckBox>(1078); }
    QPushButton *save() { return dialog->Item<QPushButton>(1020); }
    // The console's link runs on the event loop: pumped while waiting.
    bool received(size_t bytes)
    {
        return kova_test::pump_until([&] { return peer.received().size() >= bytes; });
    }
};
} // namespace

TEST_F(fix_config_fixture, SwitchesAreReadIgnoringCaseAndSaveFollowsTheBoxes)
{
    write_fix("[DEFAULT]\nPersistMessages=y\n");
    open();
    EXPECT_EQ(dialog->windowTitle().toStdString(), "FIX Configuration- TX");
    EXPECT_TRUE(persist()->isChecked());
    EXPECT_TRUE(fix_logging()->isChecked());
    EXPECT_FALSE(save()->isEnabled()) << "y is Y";
    persist()->click();
    EXPECT_TRUE(save()->isEnabled());
    persist()->click();
    EXPECT_FALSE(save()->isEnabled());
    fix_logging()->click();
    EXPECT_TRUE(save()->isEnabled());
    KovaSaveScreenshot(dialog.get(), "kova_fix_configuration");
    EXPECT_TRUE(logged("Market type for dialog is 2 - TX"));
    EXPECT_TRUE(logged("Interface thread interactive port is " + std::to_string(peer.port())));

    dialog.reset(new CFixConfiguration(1, dir.file("qel_ip.cfg"), dir.file("fix/fix_settings.cfg"),
                                       peer.port(), logger.get()));
    dialog->OnInitDialog();
    EXPECT_EQ(dialog->windowTitle().toStdString(), "FIX Configuration - KR");
}

TEST_F(fix_config_fixture, UnknownOrAbsentValuesCountAsYesAndAbsentFixLoggingIsAppended)
{
    write_fix("[DEFAULT]\nPersistMessages=maybe\n");
    dir.write("qel_ip.cfg", "BOX_ID=101");
    open();
    EXPECT_TRUE(persist()->isChecked());
    EXPECT_TRUE(fix_logging()->isChecked());
    EXPECT_TRUE(logged("Unknown value of PersistMessages flag"));
    EXPECT_TRUE(logged("Cannot read FIX_LOGGING from QEL config file."));
    EXPECT_TRUE(logged("FIX_LOGGING Configuration (Check Box) set to Checked"));
    EXPECT_FALSE(save()->isEnabled());
    fix_logging()->click();
    save()->click();
    EXPECT_EQ(dir.read("qel_ip.cfg"), "BOX_ID=101\nFIX_LOGGING=N\n");
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"), "[DEFAULT]\nPersistMessages=maybe\n") << "untouched";
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in configuration file."}));
    EXPECT_FALSE(fix_logging()->isChecked());
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_EQ(peer.connections(), 0) << "gateway stopped: no request";
}

TEST_F(fix_config_fixture, EveryPersistMessagesLineIsRewrittenAndOtherLinesCopiedWhole)
{
    std::string long_line = "SessionQualifier=" + std::string(2000, 'q');
    write_fix("[DEFAULT]\nPersistMessages=Y\n\npersistmessages=Y\r\nPersistMessagesX=Y\n=PersistMessages\n" +
              long_line + "\n[SESSION]\nTargetCompID=1,AB,1\nPersistMessages=Y");
    open();
    persist()->click();
    save()->click();
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"),
              "[DEFAULT]\nPersistMessages=N\n\nPersistMessages=N\nPersistMessagesX=Y\n=PersistMessages\n" +
                  long_line + "\n[SESSION]\nTargetCompID=1,AB,1\nPersistMessages=N\n");
    EXPECT_EQ(dir.list("fix"), (std::vector<std::string>{"fix_settings.cfg"})) << "no temporary file left";
    EXPECT_EQ(dir.read("qel_ip.cfg"), "BOX_ID=101\nFIX_LOGGING=Y\n") << "FIX_LOGGING unchanged: not written";
    EXPECT_FALSE(persist()->isChecked());
}

TEST_F(fix_config_fixture, AnAbsentPersistMessagesIsWrittenIntoTheDefaultSection)
{
    // As the example settings file stood: no PersistMessages line anywhere.
    const std::string sessions = "\n#BeginSession_5\n[SESSION]\nTargetCompID=5,AB,1\n#EndSession_5\n";
    write_fix("# comment\n [default] \nConnectionType=acceptor\nBeginString=FIX.4.2\n" + sessions);
    open();
    EXPECT_TRUE(persist()->isChecked());
    EXPECT_TRUE(logged("Cannot read PersistMessages from FIX config file."));
    persist()->click();
    save()->click();
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"),
              "# comment\n [default] \nPersistMessages=N\nConnectionType=acceptor\nBeginString=FIX.4.2\n" +
                  sessions)
        << "in the [DEFAULT] section, so that every session takes it";
    EXPECT_FALSE(persist()->isChecked()) << "read back as saved";
    dialog.reset();
    open();
    EXPECT_FALSE(persist()->isChecked()) << "and so when the dialog opens again";

    // Without a [DEFAULT] section, one is added after the sessions, apart from their blocks.
    write_fix("[SESSION]\nTargetCompID=5,AB,1\n");
    dialog.reset();
    open();
    persist()->click();
    save()->click();
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"),
              "[SESSION]\nTargetCompID=5,AB,1\n\n[DEFAULT]\nPersistMessages=N\n");
}

TEST_F(fix_config_fixture, TheRewrittenSettingsFileKeepsItsPermissions)
{
    write_fix("[DEFAULT]\nPersistMessages=Y\n");
    ASSERT_EQ(chmod(dir.file("fix/fix_settings.cfg").c_str(), 0640), 0);
    open();
    persist()->click();
    save()->click();
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"), "[DEFAULT]\nPersistMessages=N\n");
    struct stat info;
    ASSERT_EQ(stat(dir.file("fix/fix_settings.cfg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(fix_config_fixture, TheTemporaryFileTakesTheMissingSettingsFilesPlace)
{
    write_fix("");
    ASSERT_EQ(rename(dir.file("fix/fix_settings.cfg").c_str(), dir.file("fix/temp_QEL_FIX_TX.cfg").c_str()),
              0);
    dir.write("fix/temp_QEL_FIX_TX.cfg", "[DEFAULT]\nPersistMessages=N\n");
    open();
    EXPECT_FALSE(dialog->IsEnded());
    EXPECT_FALSE(persist()->isChecked());
    EXPECT_EQ(dir.list("fix"), (std::vector<std::string>{"fix_settings.cfg"}));
    EXPECT_TRUE(logged("Couldn't open file [" + dir.file("fix/fix_settings.cfg") + "] in read mode."));
    EXPECT_EQ(dialog->TempFilePath(), dir.file("fix/temp_QEL_FIX_TX.cfg"));

    // Neither file: the dialog ends at its first read.
    ASSERT_EQ(remove(dir.file("fix/fix_settings.cfg").c_str()), 0);
    take_boxes();
    CFixConfiguration none(2, dir.file("qel_ip.cfg"), dir.file("fix/fix_settings.cfg"), peer.port(),
                           logger.get());
    EXPECT_EQ(none.DoModal(), -1);
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: QEL Setup Error."}));
    EXPECT_TRUE(logged("Temp file for Fix Config is not present"));
    EXPECT_TRUE(logged("KOVA could not open FIX config file."));

    // A gateway configuration that cannot be read ends it too.
    write_fix("PersistMessages=Y\n");
    CFixConfiguration no_config(2, dir.file("none.cfg"), dir.file("fix/fix_settings.cfg"), peer.port(),
                                logger.get());
    EXPECT_EQ(no_config.DoModal(), -1);
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: QEL Setup Error."}));
    EXPECT_TRUE(logged("KOVA could not open QEL config file."));
}

TEST_F(fix_config_fixture, ARunningGatewayGetsTheRestartRequestInItsMarketsForm)
{
    write_fix("PersistMessages=Y\n");
    running = 1;
    open(2);
    persist()->click();
    save()->click();
    EXPECT_EQ(take_boxes(),
              (std::vector<std::string>{
                  "Success: Parameter(s) updated successfully in configuration file. QEL will restart to "
                  "take changes into effect."}));
    ASSERT_TRUE(received(38));
    std::vector<sim_console::packet> requests = peer.received_packets();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, from_hex(k_narrow_restart));
    ASSERT_TRUE(kova_test::pump_until([&] { return logged("Request to kill qel sent."); }));
    EXPECT_TRUE(logged("Attempting to connect...for market TX"));
    // The gateway stops: its end of the link closes.
    peer.close_connection();
    ASSERT_TRUE(
        kova_test::pump_until([&] { return logged("Attempting to close connection...for market TX"); }));

    // Widened TX, and KR always, ask with 40 bytes.
    TX_USERID_INCREASE_FLAG = 1;
    persist()->click();
    save()->click();
    ASSERT_TRUE(received(38 + 40));
    EXPECT_EQ(peer.received_packets().back().bytes, from_hex(k_widened_restart));
    ASSERT_TRUE(kova_test::pump_until([&] { return logged("Request to kill TX qel sent."); }));
    peer.close_connection();
    dialog.reset();
    open(1);
    persist()->click();
    save()->click();
    ASSERT_TRUE(received(38 + 40 + 40));
    EXPECT_EQ(peer.received_packets().back().bytes, from_hex(k_widened_restart));
    ASSERT_TRUE(kova_test::pump_until([&] { return logged("Request to kill KR qel sent."); }));
}

TEST_F(fix_config_fixture, ARestartRequestThatCannotBeSentIsShownAndTheDialogStaysOpen)
{
    // The gateway's console port is gone: the connect is refused.
    write_fix("PersistMessages=Y\n");
    running = 1;
    open(2);
    peer.stop();
    persist()->click();
    save()->click();
    ASSERT_TRUE(kova_test::pump_until([&] { return box_shown("KOVA network error."); }));
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in configuration file. QEL "
                                "will restart to take changes into effect.",
                                "Error: KOVA network error."}));
    EXPECT_TRUE(logged("Restart request for market TX could not be sent: the link was refused or lost."));
    EXPECT_FALSE(dialog->IsEnded());
    EXPECT_EQ(dialog->Helper(), nullptr);
    EXPECT_FALSE(persist()->isChecked()) << "the file was saved all the same";

    // A connect that hangs: after 5 s it is given up and said.
    kova_test::stalled_port stalled;
    dialog.reset(new CFixConfiguration(2, dir.file("qel_ip.cfg"), dir.file("fix/fix_settings.cfg"),
                                       stalled.port, logger.get()));
    dialog->OnInitDialog();
    activate(dialog.get());
    persist()->click();
    take_boxes();
    save()->click();
    EXPECT_TRUE(dialog->RestartPending());
    kova_test::pump_for(4000);
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in configuration file. QEL "
                                "will restart to take changes into effect."}))
        << "nothing more before 5 s";
    ASSERT_TRUE(kova_test::pump_until([&] { return box_shown("KOVA network error."); }, 4000));
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: KOVA network error."}));
    EXPECT_TRUE(logged("Restart request for market TX could not be sent: no link within 5 s."));
    EXPECT_FALSE(dialog->IsEnded());
}

TEST_F(fix_config_fixture, ASecondSaveClosesAndFreesTheFirstLink)
{
    write_fix("PersistMessages=Y\n");
    running = 1;
    open(2);
    persist()->click();
    save()->click();
    ASSERT_TRUE(received(38));
    ASSERT_NE(dialog->Helper(), nullptr);
    persist()->click();
    save()->click();
    ASSERT_TRUE(received(76));
    EXPECT_EQ(dialog->findChildren<CKOVAHelper *>().size(), 1) << "one helper: the first was freed";
    EXPECT_EQ(peer.connections(), 2);
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"), "PersistMessages=Y\n");
}

TEST_F(fix_config_fixture, EnterEscAndExitCloseWithoutSaving)
{
    write_fix("PersistMessages=Y\n");
    open();
    persist()->click();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(dialog->IsEnded());
    open();
    persist()->click();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->IsEnded());
    open();
    QTest::keyClick(dialog.get(), Qt::Key_X, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until([&] { return dialog->IsEnded(); }, 2000));
    open();
    persist()->click();
    QTest::keyClick(dialog.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until(
        [&] { return dir.read("fix/fix_settings.cfg") == "PersistMessages=N\n"; }, 2000));
}

TEST_F(fix_config_fixture, TheRestartRequestIsWidenedByMarketAndFlag)
{
    struct row
    {
        int market;
        int32_t *flag;
        size_t length;
        const char *sent;
    };
    const row rows[] = {
        {1, nullptr, 40, "Request to kill KR qel sent."},
        {3, nullptr, 38, "Request to kill qel sent."},
        {4, &GUV_USERID_INCREASE_FLAG, 40, "Request to kill GUV qel sent."},
        {4, nullptr, 38, "Request to kill qel sent."},
        {5, nullptr, 38, "Request to kill qel sent."},
        {6, &RAQE_USERID_INCREASE_FLAG, 40, "Request to kill RAQE qel sent."},
        {7, nullptr, 38, "Request to kill qel sent."},
    };
    write_fix("PersistMessages=Y\n");
    running = 1;
    size_t total = 0;
    for (const row &r : rows)
    {
        if (r.flag != nullptr)
            *r.flag = 1;
        open(r.market);
        persist()->click();
        save()->click();
        total += r.length;
        ASSERT_TRUE(received(total)) << r.market;
        EXPECT_EQ(peer.received_packets().back().bytes.size(), r.length) << r.market;
        EXPECT_TRUE(kova_test::pump_until([&] { return logged(r.sent); })) << r.market;
        peer.close_connection();
        dialog.reset();
        if (r.flag != nullptr)
            *r.flag = 0;
    }
}
