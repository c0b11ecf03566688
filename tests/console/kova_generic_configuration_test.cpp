// The market configuration dialog: keys loaded with their defaults and modes, the change
// check, the eight keys written in place (and BCP_HOST_IP while BCP is selected), each
// validation with its message and restored field, the broker id's clean-up, addresses
// that are not addresses, the restart question and request, "Start Applications" from
// the menu form only, the FIX settings file following a new broker id and local address
// (and a failure to rewrite it shown), and the keys.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "console/kova_generic_configuration.h"
#include "console/shim/kova_edit.h"
#include "console/shim/kova_ip_address.h"
#include "console/shim/kova_screenshot.h"
#include "sim/console/console_port_peer.h"
#include "support/console_fixture.h"
#include "support/kova_dialog_fixture.h"

using qel_test::from_hex;

namespace
{
const char *const k_config = "# TX gateway\n"
                             "MACHINE_LAN_IP=10.1.1.5\n"
                             "MACHINE_WAN_IP=172.16.0.9\n"
                             "HOST_MACHINE_IP=192.168.7.1\n"
                             "PRIMARY_HOST_IP=192.168.7.1\n"
                             "BCP_HOST_IP=192.168.8.1\n"
                             "CURRENT_CONFIG=PRIMARY\n"
                             "HOST_PORT_NUMBER=9801\n"
                             "BOX_ID=101\n"
                             "BROKER_ID=AB123\n"
                             "MAX_TWS_CLIENTS=50\n";

struct market_config_fixture : kova_test::dialog_fixture
{
    sim_console::console_port_peer peer;
    std::unique_ptr<CGenericConfiguration> dialog;

    void SetUp() override
    {
        dialog_fixture::SetUp();
        TX_USERID_INCREASE_FLAG = 0;
        ASSERT_TRUE(peer.start());
    }

    void TearDown() override
    {
        dialog.reset();
        peer.stop();
        dialog_fixture::TearDown();
    }

    void open(const std::string &config = k_config, int command_line = 0, const std::string &fix_path = "")
    {
        dir.write("qel_ip.cfg", config);
        reopen(command_line, fix_path);
    }
    void reopen(int command_line = 0, const std::string &fix_path = "")
    {
        dialog.reset(new CGenericConfiguration(2, dir.file("qel_ip.cfg"), fix_path, peer.port(), logger.get(),
                                               nullptr, command_line));
        dialog->OnInitDialog();
        activate(dialog.get());
    }
    CIPAddressCtrl *ip(int id) { return dialog->Item<CIPAddressCtrl>(id); }
    QLineEdit *edit(int id) { return dialog->Item<QLineEdit>(id); }
    QPushButton *save() { return dialog->Item<QPushButton>(1020); }
    std::string text(int id)
    {
        if (CIPAddressCtrl *c = ip(id))
            return KovaAddressText(c).toStdString();
        return edit(id)->text().toStdString();
    }
    void type(int id, const std::string &t)
    {
        edit(id)->selectAll();
        QTest::keyClicks(edit(id), QString::fromStdString(t));
    }
    bool received(size_t bytes)
    {
        return kova_test::pump_until([&] { return peer.received().size() >= bytes; });
    }
    // The boxes shown by one Save.
    std::vector<std::string> click_save()
    {
        take_boxes();
        save()->click();
        return take_boxes();
    }
};

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}
} // namespace

TEST_F(market_config_fixture, KeysAreShownInPrimaryModeAndEveryEditIsCheckedAgainstThem)
{
    open();
    EXPECT_EQ(dialog->windowTitle().toStdString(), "TX - Configuration");
    EXPECT_EQ(text(1022), "10.1.1.5");
    EXPECT_EQ(text(1023), "172.16.0.9");
    EXPECT_EQ(text(1024), "192.168.7.1");
    EXPECT_EQ(text(1040), "192.168.8.1");
    EXPECT_EQ(text(1025), "9801");
    EXPECT_EQ(text(1026), "101");
    EXPECT_EQ(text(1027), "AB123");
    EXPECT_TRUE(dialog->Item<QRadioButton>(1036)->isChecked());
    EXPECT_TRUE(ip(1024)->isVisible());
    EXPECT_FALSE(ip(1040)->isVisible());
    EXPECT_FALSE(dialog->GetDlgItem(1039)->isVisible());
    EXPECT_FALSE(save()->isEnabled());
    KovaSaveScreenshot(dialog.get(), "kova_market_configuration_primary");

    for (int id : {1025, 1026, 1027})
    {
        std::string old = text(id);
        type(id, "7");
        EXPECT_TRUE(save()->isEnabled()) << id;
        type(id, old);
        EXPECT_FALSE(save()->isEnabled()) << id;
    }
    type(1025, "09801");
    EXPECT_FALSE(save()->isEnabled()) << "the port is compared as a number";
    for (int id : {1022, 1023, 1024})
    {
        std::string old = text(id);
        ip(id)->SetAddressText("1.2.3.4");
        EXPECT_TRUE(save()->isEnabled()) << id;
        ip(id)->SetAddressText(QString::fromStdString(old));
        EXPECT_FALSE(save()->isEnabled()) << id;
    }
    dialog->Item<QRadioButton>(1037)->click();
    EXPECT_TRUE(save()->isEnabled()) << "the mode is a change";
    dialog->Item<QRadioButton>(1036)->click();
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_TRUE(logged("BOX_ID = 101"));
    EXPECT_TRUE(logged("MACHINE_LAN_IP = 10.1.1.5"));
}

TEST_F(market_config_fixture, AbsentKeysTakeTheirDefaultsAndCurrentConfigIsReadIgnoringCase)
{
    open("HOST_MACHINE_IP=192.168.7.1\nCURRENT_CONFIG=bcp\n");
    EXPECT_EQ(text(1024), "192.168.7.1") << "the primary host from HOST_MACHINE_IP";
    EXPECT_TRUE(logged("Copying HOST_IP to PRIMARY_HOST_IP."));
    EXPECT_TRUE(logged("Cannot read MACHINE_LAN_IP from config file."));
    EXPECT_EQ(text(1040), "0.0.0.0");
    EXPECT_EQ(text(1022), "");
    EXPECT_EQ(text(1025), "0");
    EXPECT_EQ(text(1027), "");
    EXPECT_EQ(dialog->RadioPrimary(), 1);
    EXPECT_TRUE(dialog->Item<QRadioButton>(1037)->isChecked());
    EXPECT_TRUE(ip(1040)->isVisible());
    EXPECT_TRUE(ip(1040)->isEnabled());
    EXPECT_FALSE(ip(1024)->isVisible());
    EXPECT_FALSE(edit(1025)->isEnabled());
    EXPECT_FALSE(save()->isEnabled());

    open("CURRENT_CONFIG=BACKUP\n");
    EXPECT_EQ(dialog->RadioPrimary(), 0);
    EXPECT_TRUE(logged("Unknown value of CURRENT_CONFIG flag"));
    EXPECT_TRUE(logged("Configuration (Radio Button) set to Primary"));
    EXPECT_FALSE(save()->isEnabled()) << "PRIMARY is what was remembered";

    // Primary host from HOST_MACHINE_IP: the next save writes PRIMARY_HOST_IP too.
    open(replaced(k_config, "PRIMARY_HOST_IP=192.168.7.1\n", ""));
    type(1026, "102");
    EXPECT_EQ(click_save(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in QEL configuration file."}));
    EXPECT_EQ(dir.read("qel_ip.cfg"),
              replaced(replaced(k_config, "PRIMARY_HOST_IP=192.168.7.1\n", ""), "BOX_ID=101", "BOX_ID=102") +
                  "PRIMARY_HOST_IP=192.168.7.1\n");
}

TEST_F(market_config_fixture, ASaveWritesTheKeysInPlaceAndOnlyTheMenuFormStartsTheApplications)
{
    open(std::string(k_config) + "CURRENT_CONFIG=PRIMARY");
    type(1026, "0207");
    ip(1022)->SetAddressText("10.1.1.6");
    EXPECT_EQ(click_save(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in QEL configuration file."}));
    std::string expected = replaced(replaced(k_config, "BOX_ID=101", "BOX_ID=207"), "MACHINE_LAN_IP=10.1.1.5",
                                    "MACHINE_LAN_IP=10.1.1.6") +
                           "CURRENT_CONFIG=PRIMARY\n";
    EXPECT_EQ(dir.read("qel_ip.cfg"), expected) << "a key standing twice is written twice";
    EXPECT_EQ(text(1026), "207") << "read again";
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_EQ(start_posts.load(), 1);
    EXPECT_EQ(peer.connections(), 0) << "the gateway is not running: no request";
    EXPECT_EQ(dir.list(""), (std::vector<std::string>{"logs", "qel_ip.cfg", "registry", "service", "tmp"}));

    open(k_config, 1);
    type(1026, "208");
    click_save();
    EXPECT_EQ(start_posts.load(), 1) << "the -c form posts nothing";
    EXPECT_NE(dir.read("qel_ip.cfg").find("BOX_ID=208\n"), std::string::npos);
}

TEST_F(market_config_fixture, BcpModeWritesItsAddressAsHostAndKeepsItForTheNextLoad)
{
    open();
    ip(1024)->SetAddressText("192.168.7.77");
    type(1025, "9999");
    dialog->Item<QRadioButton>(1037)->click();
    EXPECT_EQ(text(1024), "192.168.7.1") << "the edit of the mode left is discarded";
    EXPECT_EQ(text(1025), "9801");
    EXPECT_FALSE(edit(1025)->isEnabled());
    ip(1040)->SetAddressText("192.168.9.9");
    KovaSaveScreenshot(dialog.get(), "kova_market_configuration_bcp");
    EXPECT_EQ(click_save(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in QEL configuration file."}));
    std::string expected =
        replaced(replaced(replaced(k_config, "HOST_MACHINE_IP=192.168.7.1", "HOST_MACHINE_IP=192.168.9.9"),
                          "BCP_HOST_IP=192.168.8.1", "BCP_HOST_IP=192.168.9.9"),
                 "CURRENT_CONFIG=PRIMARY", "CURRENT_CONFIG=BCP");
    EXPECT_EQ(dir.read("qel_ip.cfg"), expected);
    EXPECT_EQ(dialog->RadioPrimary(), 1);
    EXPECT_EQ(text(1040), "192.168.9.9") << "the address entered, not the old one";
    EXPECT_EQ(text(1024), "192.168.7.1");
    EXPECT_FALSE(save()->isEnabled());

    // Saved again unchanged in BCP mode: HOST_MACHINE_IP stays the BCP address.
    type(1026, "5");
    click_save();
    EXPECT_NE(dir.read("qel_ip.cfg").find("HOST_MACHINE_IP=192.168.9.9\n"), std::string::npos);

    // Back to primary: the BCP edit is discarded, HOST_MACHINE_IP is the primary again,
    // BCP_HOST_IP stays as it was.
    ip(1040)->SetAddressText("1.1.1.1");
    dialog->Item<QRadioButton>(1036)->click();
    EXPECT_EQ(text(1040), "192.168.9.9");
    click_save();
    std::string now = dir.read("qel_ip.cfg");
    EXPECT_NE(now.find("HOST_MACHINE_IP=192.168.7.1\n"), std::string::npos);
    EXPECT_NE(now.find("BCP_HOST_IP=192.168.9.9\n"), std::string::npos);
    EXPECT_NE(now.find("CURRENT_CONFIG=PRIMARY\n"), std::string::npos);
}

TEST_F(market_config_fixture, EachValidationShowsItsMessageAndRestoresWhereItShould)
{
    open();
    struct step
    {
        std::function<void()> edit;
        std::string box;
        int restored_id;
        std::string restored;
    };
    const std::string info = "Error: ";
    std::vector<step> steps = {
        {[&] { ip(1022)->ClearAddress(); }, "Local IP can't be blank", 1022, "10.1.1.5"},
        {[&] { ip(1023)->ClearAddress(); }, "WAN IP can't be blank", 1023, "172.16.0.9"},
        {[&] { ip(1024)->ClearAddress(); }, "Host IP can't be blank", 1024, "192.168.7.1"},
        {[&] { edit(1025)->clear(); }, "Host Port can't be blank", 1025, ""},
        {[&] { edit(1026)->clear(); }, "Box ID can't be blank", 1026, ""},
        {[&] { edit(1027)->clear(); }, "Broker ID can't be blank", 1027, ""},
        {[&] { ip(1022)->SetAddressText("0.0.0.0"); }, "Local IP can't be 0.0.0.0", 1022, "10.1.1.5"},
        {[&] { ip(1023)->SetAddressText("0.0.0.0"); }, "WAN IP can't be 0.0.0.0", 1023, "172.16.0.9"},
        {[&] { ip(1024)->SetAddressText("0.0.0.0"); }, "Host IP can't be 0.0.0.0", 1024, "192.168.7.1"},
        {[&] { type(1025, "0"); },
         "Host Port value should be greater than zero and less than or equal to 65535", 1025, "0"},
        {[&] { type(1025, "65536"); },
         "Host Port value should be greater than zero and less than or equal to 65535", 1025, "65536"},
        {[&] { type(1025, "99999999999999999999999"); },
         "Host Port value should be greater than zero and less than or equal to 65535", 1025,
         "99999999999999999999999"},
        {[&] { type(1026, "0"); }, "Box ID value should be greater than zero and less than or equal to 32767",
         1026, "0"},
        {[&] { type(1026, "32768"); },
         "Box ID value should be greater than zero and less than or equal to 32767", 1026, "32768"},
        {[&] { type(1026, "4294967397"); },
         "Box ID value should be greater than zero and less than or equal to 32767", 1026, "4294967397"},
    };
    for (const step &s : steps)
    {
        open();
        s.edit();
        ASSERT_TRUE(save()->isEnabled()) << s.box;
        EXPECT_EQ(click_save(), (std::vector<std::string>{info + s.box}));
        EXPECT_EQ(text(s.restored_id), s.restored) << s.box;
        EXPECT_FALSE(save()->isEnabled()) << s.box;
        EXPECT_EQ(dir.read("qel_ip.cfg"), k_config) << s.box;
    }
    EXPECT_TRUE(logged("Host port [1099511627776] is not greater than zero and less than or equal to 65535"));
    EXPECT_TRUE(logged("Not doing Blank validation for BCP IP"));

    // BCP mode checks the BCP address too.
    open();
    dialog->Item<QRadioButton>(1037)->click();
    ip(1040)->ClearAddress();
    EXPECT_EQ(click_save(), (std::vector<std::string>{"Error: TX - QEL Setup Error."}));
    open();
    dialog->Item<QRadioButton>(1037)->click();
    ip(1040)->SetAddressText("0.0.0.0");
    EXPECT_EQ(click_save(),
              (std::vector<std::string>{"Error: TX - QEL Setup Error.\nBCP IP can't be 0.0.0.0"}));
    EXPECT_EQ(text(1040), "192.168.8.1");

    // The edges are accepted.
    open();
    type(1025, "65535");
    type(1026, "32767");
    EXPECT_EQ(click_save(), (std::vector<std::string>{
                                "Success: Parameter(s) updated successfully in QEL configuration file."}));
    EXPECT_EQ(dir.read("qel_ip.cfg"),
              replaced(replaced(k_config, "HOST_PORT_NUMBER=9801", "HOST_PORT_NUMBER=65535"), "BOX_ID=101",
                       "BOX_ID=32767"));
}

TEST_F(market_config_fixture, TheBrokerIdKeepsOnlyLettersAndDigitsTypedOrPasted)
{
    open();
    edit(1027)->clear();
    QTest::keyClicks(edit(1027), "A b-1 2");
    EXPECT_EQ(text(1027), "Ab12");
    edit(1027)->clear();
    QApplication::clipboard()->setText(QStringLiteral("x-y z"));
    edit(1027)->paste();
    EXPECT_EQ(text(1027), "xyz");
    EXPECT_TRUE(save()->isEnabled());
    // Digits-only fields take no pasted letters.
    QApplication::clipboard()->setText(QStringLiteral("12a"));
    edit(1026)->selectAll();
    edit(1026)->paste();
    EXPECT_EQ(text(1026), "101");
}

TEST_F(market_config_fixture, AnAddressThatIsNoAddressShowsBlankAndIsWrittenOnlyWhenEntered)
{
    std::string config =
        replaced(replaced(k_config, "MACHINE_WAN_IP=172.16.0.9", "MACHINE_WAN_IP=172.16.300.9"),
                 "BCP_HOST_IP=192.168.8.1", "BCP_HOST_IP=backup-host");
    open(config);
    EXPECT_EQ(text(1023), "");
    EXPECT_EQ(text(1040), "");
    EXPECT_TRUE(
        logged("MACHINE_WAN_IP [172.16.300.9] in the config file is not an IP address; shown blank."));
    EXPECT_FALSE(save()->isEnabled());
    type(1026, "102");
    EXPECT_EQ(click_save(), (std::vector<std::string>{"Error: WAN IP can't be blank"}));
    EXPECT_EQ(dir.read("qel_ip.cfg"), config);
    ip(1023)->SetAddressText("172.16.0.10");
    type(1026, "102");
    click_save();
    EXPECT_EQ(dir.read("qel_ip.cfg"),
              replaced(replaced(config, "MACHINE_WAN_IP=172.16.300.9", "MACHINE_WAN_IP=172.16.0.10"),
                       "BOX_ID=101", "BOX_ID=102"))
        << "the BCP line stays as it was in primary mode";
}

TEST_F(market_config_fixture, ARunningGatewayIsAskedFirstAndThenSentTheRestartRequest)
{
    running = 1;
    open();
    type(1026, "102");
    box_answer = IDNO;
    EXPECT_EQ(click_save(),
              (std::vector<std::string>{
                  "Warning:  QEL will restart to take changes into effect. Do you want to continue?"}));
    EXPECT_EQ(text(1026), "101") << "No reloads the file";
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_EQ(dir.read("qel_ip.cfg"), k_config);

    type(1026, "102");
    box_answer = IDYES;
    EXPECT_EQ(
        click_save(),
        (std::vector<std::string>{
            "Warning:  QEL will restart to take changes into effect. Do you want to continue?",
            "Success: Parameter(s) updated successfully in QEL configuration file. QEL will restart to take "
            "changes into effect."}));
    ASSERT_TRUE(received(38));
    EXPECT_EQ(
        peer.received_packets()[0].bytes,
        from_hex("2600 00000000 00000000 00000000 00000000 0000 401f 00000000 00000000 00000000 00000000"));
    ASSERT_TRUE(kova_test::pump_until([&] { return logged("Request to kill qel sent."); }));
    EXPECT_EQ(start_posts.load(), 1);
    peer.close_connection();
    ASSERT_TRUE(
        kova_test::pump_until([&] { return logged("Attempting to close connection...for market TX"); }));

    // Widened TX asks with 40 bytes; the -c form sends the request but posts nothing.
    TX_USERID_INCREASE_FLAG = 1;
    open(k_config, 1);
    type(1026, "103");
    click_save();
    ASSERT_TRUE(received(38 + 40));
    EXPECT_EQ(peer.received_packets()[1].bytes.size(), 40u);
    EXPECT_EQ(start_posts.load(), 1);
    TX_USERID_INCREASE_FLAG = 0;
}

TEST_F(market_config_fixture, ARestartRequestThatCannotBeSentIsShownAndTheDialogStaysOpen)
{
    // The gateway's console port is gone: the connect is refused.
    running = 1;
    box_answer = IDYES;
    open();
    peer.stop();
    type(1026, "102");
    take_boxes();
    save()->click();
    ASSERT_TRUE(kova_test::pump_until([&] { return box_shown("KOVA network error."); }));
    EXPECT_EQ(
        take_boxes(),
        (std::vector<std::string>{
            "Warning:  QEL will restart to take changes into effect. Do you want to continue?",
            "Success: Parameter(s) updated successfully in QEL configuration file. QEL will restart to take "
            "changes into effect.",
            "Error: KOVA network error."}));
    EXPECT_TRUE(logged("Restart request for market TX could not be sent: the link was refused or lost."));
    EXPECT_FALSE(dialog->IsEnded()) << "the dialog stays open, as after every save";
    EXPECT_EQ(dialog->Helper(), nullptr);
    EXPECT_EQ(text(1026), "102") << "the file was saved all the same";

    // A connect that hangs: after 5 s it is given up and said; nothing is sent later.
    kova_test::stalled_port stalled;
    dialog.reset(new CGenericConfiguration(2, dir.file("qel_ip.cfg"), "", stalled.port, logger.get()));
    dialog->OnInitDialog();
    activate(dialog.get());
    type(1026, "103");
    click_save();
    EXPECT_TRUE(dialog->RestartPending());
    kova_test::pump_for(4000);
    EXPECT_EQ(take_boxes(), std::vector<std::string>()) << "not before 5 s";
    ASSERT_TRUE(kova_test::pump_until([&] { return box_shown("KOVA network error."); }, 4000));
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: KOVA network error."}));
    EXPECT_TRUE(logged("Restart request for market TX could not be sent: no link within 5 s."));
    EXPECT_FALSE(dialog->RestartPending());
    EXPECT_FALSE(dialog->IsEnded());
}

TEST_F(market_config_fixture, ANewBrokerIdOrLocalAddressRewritesTheFixSettings)
{
    system(("mkdir -p '" + dir.file("fix") + "'").c_str());
    const std::string fix =
        "[DEFAULT]\nNicIpAddress=10.1.1.5\nBeginString=FIX.4.2\n\n#BeginSession_5\n[SESSION]\n"
        "TargetCompID=5,AB123,1\n#EndSession_5\nTargetCompID=broken\ntargetcompid=7,AB123,2\n";
    dir.write("fix/fix_settings.cfg", fix);
    open(k_config, 0, dir.file("fix/fix_settings.cfg"));
    type(1026, "102");
    click_save();
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"), fix) << "neither broker id nor local address changed";

    type(1027, "ZZ9");
    ip(1022)->SetAddressText("10.1.1.6");
    click_save();
    EXPECT_EQ(dir.read("fix/fix_settings.cfg"),
              "[DEFAULT]\nNicIpAddress=10.1.1.6\nBeginString=FIX.4.2\n\n#BeginSession_5\n[SESSION]\n"
              "TargetCompID=5,ZZ9,1\n#EndSession_5\nTargetCompID=broken\nTargetCompID=7,ZZ9,2\n");
    EXPECT_EQ(dir.list("fix"), (std::vector<std::string>{"fix_settings.cfg"}));
    EXPECT_TRUE(logged("TargetCompID=5,ZZ9,1 written in fix config file for trader id 5"));

    // The FIX settings cannot be rewritten: shown, no success, Save stays for another try.
    system(
        ("rm -rf '" + dir.file("fix") + "' && mkdir -p '" + dir.file("fix/fix_settings.cfg") + "'").c_str());
    running = 1;
    box_answer = IDYES;
    type(1027, "ZZ8");
    std::vector<std::string> shown = click_save();
    EXPECT_EQ(shown.back(), "Error: QEL Setup Error.");
    EXPECT_EQ(shown.size(), 2u) << "the question, then the failure";
    EXPECT_TRUE(save()->isEnabled());
    EXPECT_EQ(peer.connections(), 0) << "no restart";
    EXPECT_TRUE(logged("FIX config file could not be rewritten for the new broker id and local IP."));
}

TEST_F(market_config_fixture, AnUnreadableFileLeavesTheFieldsEmpty)
{
    dialog.reset(new CGenericConfiguration(2, dir.file("none.cfg"), "", peer.port(), logger.get()));
    dialog->OnInitDialog();
    EXPECT_EQ(take_boxes(), (std::vector<std::string>{"Error: QEL Setup Error."}));
    EXPECT_EQ(text(1022), "");
    EXPECT_EQ(text(1026), "");
    EXPECT_FALSE(save()->isEnabled());
    EXPECT_TRUE(logged("KOVA could not open QEL config file."));
}

TEST_F(market_config_fixture, EnterDoesNothingEscAndExitCloseAndMnemonicsReachTheFields)
{
    open();
    type(1026, "102");
    QTest::keyClick(edit(1026), Qt::Key_Return);
    EXPECT_FALSE(dialog->IsEnded());
    QTest::keyClick(dialog.get(), Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), edit(1027));
    QTest::keyClick(dialog.get(), Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until([&] { return dialog->RadioPrimary() == 1; }, 2000))
        << "Alt+C selects BCP";
    QTest::keyClick(dialog.get(), Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until([&] { return dialog->RadioPrimary() == 0; }, 2000));
    QTest::keyClick(dialog.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until(
        [&] { return dir.read("qel_ip.cfg").find("BOX_ID=102") != std::string::npos; }, 2000));
    QTest::keyClick(edit(1026), Qt::Key_Escape);
    EXPECT_TRUE(dialog->IsEnded());
    open();
    QTest::keyClick(dialog.get(), Qt::Key_X, Qt::AltModifier);
    EXPECT_TRUE(kova_test::pump_until([&] { return dialog->IsEnded(); }, 2000));
}
