// The main window and the program: markets from the registry (menus, tabs, pages), the
// command line, menu commands, the About box, the process check, the status thread (a
// gateway seen running gets its page connected and its version shown), the single
// instance across two processes, Start Applications through the service manager, help,
// scrolling, exit, the socket library failing, and the menus and boxes as shown.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "console/kova_about_dlg.h"
#include "console/kova_app.h"
#include "console/kova_generic_statistics.h"
#include "console/kova_logger.h"
#include "console/kova_main_window.h"
#include "console/kova_page_tab_ctrl.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_screenshot.h"
#include "platform/admin/pf_service.h"
#include "platform/core/pf_socket.h"
#include "sim/console/console_port_peer.h"
#include "support/kova_window_fixture.h"

using kova_test::registry_market;

namespace
{
struct main_window_fixture : kova_test::window_fixture
{
    std::unique_ptr<CKOVAClientPHASE4Dlg> window;
    std::vector<std::pair<std::string, int>> dialogs; // what the menu opened

    void SetUp() override
    {
        window_fixture::SetUp();
        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(kova_test::child_of_this_process);
        CKOVAClientPHASE4Dlg::SetDialogHookForTests([this](const char *dialog, int32_t market)
                                                    { dialogs.emplace_back(dialog, market); });
    }

    void TearDown() override
    {
        window.reset();
        CKOVAClientPHASE4Dlg::SetDialogHookForTests(nullptr);
        CKOVAClientPHASE4Dlg::SetHelpOpener(nullptr);
        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(nullptr);
        for (int32_t &flag : g_kova_fix_enabled)
            flag = 0;
        window_fixture::TearDown();
    }

    void open(const QStringList &arguments = QStringList())
    {
        window.reset(new CKOVAClientPHASE4Dlg());
        window->SetCommandLine(arguments);
        window->OnInitDialog();
    }

    bool enabled(int32_t command) { return window->Action(command)->isEnabled(); }

    std::vector<std::string> tab_labels(CPageTabCtrl *tabs)
    {
        std::vector<std::string> labels;
        for (int i = 0; i < tabs->count(); ++i)
            labels.push_back(tabs->tabText(i).toStdString());
        return labels;
    }

    std::string status_cell(int row, int col)
    {
        return window->StatusList()->GetItemText(row, col).toStdString();
    }
};

// A program of a given name that runs until it is killed (a copy of sleep), or that has
// exited and is not reaped yet (a copy of true).
std::unique_ptr<qel_test::child_process> named_process(const qel_test::temp_dir &dir, const std::string &name,
                                                       bool ends_at_once = false)
{
    std::string path = dir.file(name);
    std::string copy = std::string("cp ") + (ends_at_once ? "/bin/true" : "/bin/sleep") + " '" + path + "'";
    EXPECT_EQ(system(copy.c_str()), 0);
    return std::unique_ptr<qel_test::child_process>(new qel_test::child_process(
        ends_at_once ? std::vector<std::string>{path} : std::vector<std::string>{path, "120"}, dir.path()));
}

const int32_t k_qel_items[] = {32775, 32776, 32777, 32778, 32801, 32802, 32780};
const int32_t k_user_items[] = {32786, 32787, 32788, 32789, 32800, 32803, 32790};
} // namespace

TEST_F(main_window_fixture, NoMarketKeyLeavesOnlyTheCommonTabAndEveryMarketItemDisabled)
{
    open();
    EXPECT_EQ(window->NumberOfMarkets(), 0);
    EXPECT_EQ(window->LogTabs()->count(), 0);
    EXPECT_EQ(tab_labels(window->StatisticsTabs()), std::vector<std::string>{"Common"});
    EXPECT_EQ(window->StatisticsPage(0)->MarketId(), 100);
    for (int i = 0; i < 7; ++i)
    {
        EXPECT_FALSE(enabled(k_qel_items[i]));
        EXPECT_FALSE(enabled(k_user_items[i]));
        EXPECT_FALSE(enabled(32811 + i));
        EXPECT_FALSE(enabled(32821 + i));
    }
    EXPECT_FALSE(window->FixUserMenu()->menuAction()->isEnabled());
    EXPECT_FALSE(window->FixSessionMenu()->menuAction()->isEnabled());
    for (int32_t always : {32793, 32797, 32798, 32792, 32795})
        EXPECT_TRUE(enabled(always)) << always;
    EXPECT_EQ(window->windowTitle().toStdString(), "KOVA");
    EXPECT_EQ(window->StatusList()->GetItemCount(), 0);
    EXPECT_NE(console_log().find("Market KR is not installed|"), std::string::npos);
}

TEST_F(main_window_fixture, AMarketWithoutItsInteractivePortEndsTheScan)
{
    registry_market zbl{3, 7103, 0};
    zbl.omit_interactive_port = true;
    write_registry(
        {{1, 7001, 7011}, {2, 7002, 7012, "/cfg/tx.cfg", "/cfg/tx_fix.cfg"}, zbl, {5, 7005, 7015}});
    open();
    EXPECT_EQ(window->NumberOfMarkets(), 3);
    EXPECT_EQ(window->MarketType(0), 1);
    EXPECT_EQ(window->MarketType(1), 2);
    EXPECT_EQ(window->MarketType(2), 3);
    EXPECT_EQ(window->MarketType(4), -1) << "markets after the failing one are not looked at";
    EXPECT_EQ(window->NonInteractivePort(1), 7002);
    EXPECT_EQ(window->InteractivePort(1), 7012);
    EXPECT_EQ(window->ConfigFilePath(1), "/cfg/tx.cfg");
    EXPECT_EQ(window->FixConfigFilePath(1), "/cfg/tx_fix.cfg");
    EXPECT_EQ(window->CommonConfigFilePath(), "/opt/qel_ip/config/common.cfg");
    EXPECT_TRUE(enabled(32775));
    EXPECT_TRUE(enabled(32776));
    EXPECT_FALSE(enabled(32777)) << "the counted market keeps its items disabled";
    EXPECT_FALSE(enabled(32788));
    EXPECT_FALSE(enabled(32811)) << "KR is not FIX enabled";
    EXPECT_TRUE(enabled(32812));
    EXPECT_TRUE(enabled(32822));
    EXPECT_EQ(g_kova_fix_enabled[1], 1);
    EXPECT_EQ(tab_labels(window->LogTabs()), (std::vector<std::string>{"KR", "TX", "ZBL"}));
    EXPECT_EQ(tab_labels(window->StatisticsTabs()), (std::vector<std::string>{"Common", "KR", "TX", "ZBL"}));
    EXPECT_NE(console_log().find("Cannot query registry for INTERFACE_THREAD_INTERACTIVE_PORT.|"),
              std::string::npos);
    EXPECT_EQ(console_log().find("Market HY"), std::string::npos);
}

TEST_F(main_window_fixture, PagesTakeTheInstalledMarketsInOrder)
{
    write_registry({{2, 7002, 7012}, {6, 7006, 7016}});
    open();
    ASSERT_EQ(window->NumberOfMarkets(), 2);
    EXPECT_EQ(window->LogPage(0)->MarketType(), 2);
    EXPECT_EQ(window->LogPage(1)->MarketType(), 6);
    EXPECT_EQ(window->LogPage(0)->Port(), "7002");
    EXPECT_EQ(window->StatisticsPage(0)->MarketId(), 100);
    EXPECT_EQ(window->StatisticsPage(1)->MarketId(), 2);
    EXPECT_EQ(window->StatisticsPage(2)->MarketId(), 6);
    EXPECT_EQ(window->StatisticsPage(3), nullptr);
    EXPECT_EQ(status_cell(0, 0), "TX");
    EXPECT_EQ(status_cell(1, 0), "RAQE");
    EXPECT_EQ(status_cell(1, 1), "Not Running");
    EXPECT_TRUE(window->FixUserMenu()->menuAction()->isEnabled() == false);

    // Selecting a tab shows exactly its page.
    window->show();
    kova_test::pump_for(50);
    window->LogTabs()->SetCurSel(1);
    kova_test::pump_for(20);
    EXPECT_FALSE(window->LogPage(0)->isVisible());
    EXPECT_TRUE(window->LogPage(1)->isVisible());
    window->StatisticsTabs()->SetCurSel(2);
    kova_test::pump_for(20);
    EXPECT_FALSE(window->StatisticsPage(0)->isVisible());
    EXPECT_FALSE(window->StatisticsPage(1)->isVisible());
    EXPECT_TRUE(window->StatisticsPage(2)->isVisible());
    EXPECT_EQ(window->LinkStatusLine()->text().toStdString(), "Link to the RAQE gateway: down");
    KovaSaveScreenshot(window->StatisticsPage(2), "kova_statistics_raqe");
}

struct command_line_case
{
    QStringList arguments;
    std::vector<std::pair<std::string, int>> opened;
    std::string logged;
};

TEST_F(main_window_fixture, TheCommandLineOpensAnInstalledMarketsConfiguration)
{
    write_registry({{1, 7001, 7011}, {3, 7003, 7013}});
    const command_line_case cases[] = {
        {{"-c", "9"}, {}, "Invalid market type specified. Not opening any configuration window|"},
        {{"-c"}, {}, ""},
        {{"-c", "2"}, {}, "Market TX not installed. Not opening configuration window|"},
        {{"-c", "3"}, {{"CGenericConfiguration -c", 3}}, "Posted message to open ZBL configuration|"},
        {{"-x", "3"}, {}, ""},
        {{"-c", "zz"}, {}, "Invalid market type specified. Not opening any configuration window|"},
    };
    for (const command_line_case &c : cases)
    {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        dialogs.clear();
        size_t log_before = console_log().size();
        open(c.arguments);
        kova_test::pump_for(30);
        EXPECT_EQ(dialogs, c.opened);
        std::string log = console_log().substr(log_before);
        if (!c.logged.empty())
        {
            EXPECT_NE(log.find(c.logged), std::string::npos);
        }
        EXPECT_EQ(log.find("Posted message") != std::string::npos, !c.opened.empty());
        window.reset();
    }
}

TEST_F(main_window_fixture, MenuCommandsOpenTheirDialogsForTheirMarkets)
{
    write_registry({{2, 7002, 7012, "/cfg/tx.cfg", "/cfg/tx_fix.cfg"}, {7, 7007, 7017}});
    open();
    for (int32_t command : {32776, 32780, 32793, 32787, 32790, 32812, 32822, 32792})
        window->Action(command)->trigger();
    window->OnCommand(16); // the system menu's About item
    EXPECT_EQ(dialogs, (std::vector<std::pair<std::string, int>>{{"CGenericConfiguration", 2},
                                                                 {"CGenericConfiguration", 7},
                                                                 {"CCommonConfig", 100},
                                                                 {"CGenericActiveUsersList", 2},
                                                                 {"CGenericActiveUsersList", 7},
                                                                 {"CFixUserSessions", 2},
                                                                 {"CFixConfiguration", 2},
                                                                 {"CAboutDlg", 0},
                                                                 {"CAboutDlg", 0}}));
    EXPECT_FALSE(enabled(32817)) << "JN is not FIX enabled";
    EXPECT_EQ(window->Action(32798)->text().toStdString(), "&KOVA Help            F1");
}

TEST_F(main_window_fixture, ExitAsksAndOnYesStopsBothThreads)
{
    write_registry({{2, 7002, 7012}});
    open();
    EXPECT_TRUE(window->ThreadsRunning());
    box_answer = IDNO;
    window->Action(32795)->trigger();
    EXPECT_TRUE(window->ThreadsRunning());
    EXPECT_FALSE(window->IsEnded());
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text.toStdString(), "Are you sure you want to exit KOVA?");
    EXPECT_EQ(boxes.back().type, MB_YESNO | MB_ICONQUESTION);
    box_answer = IDYES;
    window->OnCancel(); // Esc and the close box
    EXPECT_FALSE(window->ThreadsRunning());
    EXPECT_TRUE(window->IsEnded());
    EXPECT_EQ(window->EndResult(), 0);
    EXPECT_NE(console_log().find("Killing QEL status thread.|"), std::string::npos);
    EXPECT_NE(console_log().find("Killing QEL statistics thread.|"), std::string::npos);
    window->OnOK(); // Enter does nothing
}

struct about_case
{
    std::string extra_registry;
    std::vector<std::string> rows;
    bool message;
};

TEST_F(main_window_fixture, TheAboutBoxListsComponentsUntilTheFirstMissingValue)
{
    registry_market kr{1, 7001, 7011};
    kr.version = "4.14.1";
    registry_market raqe{6, 7006, 7016};
    raqe.version = "3.10.6";
    const std::string full =
        "[SOFTWARE\\QEL_IP\\COMMON]\n\"LOGSWEEP_VERSION\"=\"1.2\"\n\"QEL_REPORTS_VERSION\"=\"7.0\"\n"
        "\"QEL_MONITORING_VERSION\"=\"2.1\"\n\"QEL_STATISTICS_VERSION\"=\"3.0 RC10\"\n"
        "\"KOVA_IP_VERSION\"=\"4.0\"\n\"UNINSTALLER_VERSION\"=\"1.0\"\n";
    const std::string no_statistics = "[SOFTWARE\\QEL_IP\\COMMON]\n\"LOGSWEEP_VERSION\"=\"1.2\"\n"
                                      "\"QEL_REPORTS_VERSION\"=\"7.0\"\n\"QEL_MONITORING_VERSION\"=\"2.1\"\n"
                                      "\"KOVA_IP_VERSION\"=\"4.0\"\n\"UNINSTALLER_VERSION\"=\"1.0\"\n";
    const about_case cases[] = {
        {full,
         {"QEL KR=4.14.1", "QEL RAQE=3.10.6", "logsweep=1.2", "QEL Reports=7.0", "QEL Monitoring Service=2.1",
          "QEL Statistics=3.0 RC10", "KOVA=4.0", "Uninstaller=1.0"},
         false},
        {"", {"QEL KR=4.14.1", "QEL RAQE=3.10.6"}, true},
        {no_statistics,
         {"QEL KR=4.14.1", "QEL RAQE=3.10.6", "logsweep=1.2", "QEL Reports=7.0",
          "QEL Monitoring Service=2.1"},
         true},
    };
    for (const about_case &c : cases)
    {
        write_registry({kr, raqe}, c.extra_registry);
        boxes.clear();
        CAboutDlg about;
        about.OnInitDialog();
        std::vector<std::string> rows;
        for (int r = 0; r < about.List()->GetItemCount(); ++r)
            rows.push_back(about.List()->GetItemText(r, 0).toStdString() + "=" +
                           about.List()->GetItemText(r, 1).toStdString());
        EXPECT_EQ(rows, c.rows);
        ASSERT_EQ(boxes.size(), c.message ? 1u : 0u);
        if (c.message)
        {
            EXPECT_EQ(boxes[0].text.toStdString(), "Cannot query registry. QEL Setup Error..");
            EXPECT_EQ(boxes[0].caption.toStdString(), "Error");
        }
        if (!c.message)
        {
            EXPECT_EQ(about.windowTitle().toStdString(), "About KOVA ");
            KovaSaveScreenshot(&about, "kova_about");
        }
    }
    // A market without VERSION ends the list at once.
    raqe.version.clear();
    write_registry({kr, raqe}, full);
    boxes.clear();
    CAboutDlg about;
    about.OnInitDialog();
    EXPECT_EQ(about.List()->GetItemCount(), 1);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(main_window_fixture, AGatewayRunsUnderItsNameInAnyCaseButNotAsAZombie)
{
    open();
    EXPECT_EQ(window->qel_status_query(2), 0);
    auto tx = named_process(dir, "QEL_IP_TX");
    ASSERT_TRUE(qel_test::wait_until([&] { return window->qel_status_query(2) == 1; }, 5000));
    EXPECT_EQ(window->qel_status_query(1), 0);
    auto zbl = named_process(dir, "qel_ip_zbl.exe", true);
    usleep(300 * 1000); // it has ended and waits to be reaped
    EXPECT_EQ(window->qel_status_query(3), 0);
    EXPECT_EQ(window->qel_status_query(0), 0);
    EXPECT_EQ(window->qel_status_query(8), 0);
}

TEST_F(main_window_fixture, TheStatusThreadShowsAGatewayRunningConnectsItsPageAndShowsItsVersion)
{
    sim_console::console_port_peer peer;
    ASSERT_TRUE(peer.start());
    write_registry({{2, peer.port(), 7012}});
    open();
    window->show();
    EXPECT_EQ(status_cell(0, 1), "Not Running");
    auto tx = named_process(dir, "qel_ip_tx");
    ASSERT_TRUE(kova_test::pump_until([&] { return status_cell(0, 1) == "Running"; }, 5000));
    ASSERT_TRUE(peer.wait_connected(5000));
    ASSERT_TRUE(peer.send(sim_console::build_version_message(41402)));
    ASSERT_TRUE(peer.send(sim_console::build_log_event({101, 5001, 11018, 0xFFFFFFFFu}, 1700000000u)));
    ASSERT_TRUE(kova_test::pump_until([&] { return status_cell(0, 2) == "41402"; }, 5000));
    ASSERT_TRUE(kova_test::pump_until([&] { return window->LogPage(0)->List()->GetItemCount() == 1; }, 5000));
    EXPECT_EQ(window->LinkStatusLine()->text().toStdString(), "Link to the TX gateway: up");
    EXPECT_NE(console_log().find("Attempting to connect...for market TX|"), std::string::npos);

    // The gateway drops the page while it runs: the next pass connects again.
    peer.close_connection();
    ASSERT_TRUE(kova_test::pump_until([&] { return peer.connections() == 2; }, 5000));
    ASSERT_TRUE(kova_test::pump_until([&] { return window->LogPage(0)->LinkUp(); }, 5000));
    EXPECT_EQ(window->LogPage(0)->List()->GetItemCount(), 0) << "emptied for the replay";

    tx.reset();
    ASSERT_TRUE(kova_test::pump_until([&] { return status_cell(0, 1) == "Not Running"; }, 5000));
    peer.stop();
    box_answer = IDYES;
    window->ExitKOVA();
}

TEST_F(main_window_fixture, ASecondConsoleEndsAndTheFirstTellsTheOperator)
{
    open();
    ASSERT_FALSE(window->IsSecondInstance());
    qel_test::process_result second = qel_test::run_process({KOVA_BINARY}, dir.path(), 20000);
    EXPECT_EQ(second.exit_code, 0) << second.output;
    EXPECT_FALSE(second.timed_out);
    ASSERT_TRUE(kova_test::pump_until(
        [&] { return box_shown("Another instance of KOVA is already running."); }, 5000));
    EXPECT_EQ(boxes.back().caption.toStdString(), "KOVA");
    kova_test::pump_for(700);
    size_t shown = 0;
    for (const std::string &text : box_texts())
        shown += text == "Another instance of KOVA is already running." ? 1 : 0;
    EXPECT_EQ(shown, 1u) << "the event is reset once told";
}

TEST_F(main_window_fixture, TheSocketOfACrashedConsoleIsTakenOver)
{
    std::string socket_path = dir.file("tmp/KOVAClient4.0");
    {
        qel_test::child_process first({KOVA_BINARY}, dir.path());
        struct stat info;
        ASSERT_TRUE(qel_test::wait_until([&] { return stat(socket_path.c_str(), &info) == 0; }, 20000));
        first.signal(SIGKILL);
        first.wait(10000);
    }
    struct stat info;
    ASSERT_EQ(stat(socket_path.c_str(), &info), 0) << "the crash left its socket";
    open();
    EXPECT_FALSE(window->IsSecondInstance());
    qel_test::process_result second = qel_test::run_process({KOVA_BINARY}, dir.path(), 20000);
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_TRUE(
        kova_test::pump_until([&] { return box_shown("Another instance of KOVA is already running."); }));
}

TEST_F(main_window_fixture, TheProgramPrintsItsUsage)
{
    qel_test::process_result help = qel_test::run_process({KOVA_BINARY, "--help"}, dir.path(), 20000);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.output.find("Usage: KOVA [-c <market number>]"), 0u);
}

TEST_F(main_window_fixture, WithoutTheSocketLibraryTheConsoleEndsWith50)
{
    pf_socket_set_startup_result(10091, 0);
    CKOVAClientPHASE4App app(QStringList{});
    EXPECT_EQ(app.InitInstance(), 50);
    pf_socket_set_startup_result(0, 0x0101);
    EXPECT_EQ(box_texts(), std::vector<std::string>{"Windows sockets initialization failed."});
}

namespace
{
std::vector<uint32_t> g_service_controls;
std::atomic<pf_service_status_handle *> g_service{nullptr};
std::atomic<bool> g_service_stop{false};

void report(uint32_t state)
{
    pf_service_status status = {PF_SERVICE_WIN32_OWN_PROCESS, state, PF_SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    pf_service_set_status(g_service, &status);
}

uint32_t service_handler(uint32_t control)
{
    g_service_controls.push_back(control);
    if (control == PF_SERVICE_CONTROL_STOP)
        g_service_stop = true;
    return 0;
}

void service_main(uint32_t, char **)
{
    g_service = pf_service_register_handler("QEL_IP", service_handler);
    report(PF_SERVICE_RUNNING);
    while (!g_service_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    report(PF_SERVICE_STOPPED);
}
} // namespace

TEST_F(main_window_fixture, StartApplicationsSendsControl130ToTheService)
{
    open();
    pf_service_entry entry = {"QEL_IP", "QEL_IP", "monitoring service", "/opt/qel_ip/qelmon", 30, 10, 0};
    ASSERT_EQ(pf_service_create(&entry), 0u);
    g_service_controls.clear();
    g_service_stop = false;
    std::thread dispatcher([] { pf_service_run_dispatcher("QEL_IP", service_main); });
    pf_service_query_result state;
    ASSERT_TRUE(qel_test::wait_until(
        [&] {
            return pf_service_query("QEL_IP", &state) == 0 &&
                   state.status.current_state == PF_SERVICE_RUNNING;
        },
        5000));
    window->Action(32797)->trigger();
    EXPECT_TRUE(box_texts().empty());
    pf_service_control("QEL_IP", PF_SERVICE_CONTROL_STOP, nullptr);
    dispatcher.join();
    EXPECT_EQ(g_service_controls, (std::vector<uint32_t>{130, PF_SERVICE_CONTROL_STOP}));

    // Not running any more: the control fails.
    window->StartApplications();
    EXPECT_NE(console_log().find(
                  "Error in ControlService(). Cannot send control signal to QEL serivce. Error [1062]|"),
              std::string::npos);
    // No service entry.
    ASSERT_EQ(pf_service_delete("QEL_IP"), 0u);
    window->StartApplications();
    EXPECT_NE(console_log().find("Error in OpenService(). Cannot access QEL Service. Error [1060]|"),
              std::string::npos);
    // No service manager at all.
    setenv("QEL_SERVICE_DIR", dir.file("no_such_folder").c_str(), 1);
    window->StartApplications();
    EXPECT_NE(console_log().find("Error in OpenSCManager(). Cannot access Service Control. Error [1065]|"),
              std::string::npos);
    EXPECT_EQ(box_texts(), std::vector<std::string>(3, "Couldn't start QEL application"));
    EXPECT_EQ(boxes.back().caption.toStdString(), "Error");
}

TEST_F(main_window_fixture, HelpOpensTheFileOfTheCurrentFolderOrSaysItIsMissing)
{
    open();
    std::vector<std::string> opened;
    CKOVAClientPHASE4Dlg::SetHelpOpener(
        [&](const QString &path)
        {
            opened.push_back(path.toStdString());
            return true;
        });
    window->Action(32798)->trigger();
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(box_texts().size(), 1u);
    EXPECT_EQ(box_texts()[0], "Help file " + dir.file("kova_ip_help.chm") + " not found.");
    EXPECT_NE(console_log().find("Help file path is " + dir.file("kova_ip_help.chm") + "|"),
              std::string::npos);
    dir.write("kova_ip_help.chm", "help");
    window->Action(32798)->trigger();
    EXPECT_EQ(opened, std::vector<std::string>{dir.file("kova_ip_help.chm")});
    EXPECT_EQ(box_texts().size(), 1u);

    // F1, the application's help command, opens the same file.
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F1);
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(main_window_fixture, ASmallerWindowScrollsItsStartUpContentByHundredthsAndTenths)
{
    open();
    window->show();
    kova_test::pump_for(50);
    QSize startup = window->size();
    EXPECT_EQ(window->maximumSize(), startup);
    EXPECT_FALSE(window->ScrollBar()->isEnabled());
    window->resize(startup.width(), startup.height() - 400);
    kova_test::pump_for(50);
    int range = window->ScrollBar()->maximum();
    ASSERT_GE(range, 390);
    EXPECT_TRUE(window->ScrollBar()->isEnabled());
    window->OnVScroll(0, 0); // line up at the top: nothing
    EXPECT_EQ(window->ScrollPosition(), 0);
    window->OnVScroll(1, 0);
    EXPECT_EQ(window->ScrollPosition(), range / 100);
    window->OnVScroll(3, 0);
    EXPECT_EQ(window->ScrollPosition(), range / 100 + range / 10);
    EXPECT_EQ(window->Content()->y(), -(range / 100 + range / 10));
    window->OnVScroll(4, range - 3);
    window->OnVScroll(3, 0); // the last page step stops at the end
    EXPECT_EQ(window->ScrollPosition(), range);
    window->OnVScroll(1, 0);
    EXPECT_EQ(window->ScrollPosition(), range);
    window->OnVScroll(2, 0);
    EXPECT_EQ(window->ScrollPosition(), range - range / 10);
    window->OnVScroll(8, 0); // end scroll: nothing
    EXPECT_EQ(window->ScrollPosition(), range - range / 10);
    window->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(window->ScrollPosition(), range - range / 10 - range / 100);
    window->resize(startup.width() + 200, startup.height() + 200);
    kova_test::pump_for(50);
    EXPECT_EQ(window->size(), startup) << "never larger than at start-up";
    EXPECT_EQ(window->ScrollPosition(), 0);
}

namespace
{
// Saves the message box with this text once the window shows it, then presses its
// button. The box is shown for real: the test hook is off meanwhile.
void shoot_box(const QString &text, const QString &name, QMessageBox::StandardButton button, bool *shot)
{
    auto *poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout,
                     [poll, text, name, button, shot]
                     {
                         auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                         if (box == nullptr || box->text() != text || box->button(button) == nullptr)
                             return;
                         poll->stop();
                         poll->deleteLater();
                         *shot = KovaSaveScreenshot(box, name);
                         box->button(button)->click();
                     });
    poll->start(20);
}
} // namespace

TEST_F(main_window_fixture, TheWindowsMenusAndBoxesAsTheOperatorSeesThem)
{
    write_registry(
        {registry_market(2, 7002, 7012, "/opt/qel_ip/config/qel_ip.cfg", "/opt/qel_ip/config/fix.cfg"),
         registry_market(6, 7006, 7016)});
    KovaSetMessageBoxHook(nullptr);
    // Without the statistics folder in the registry the statistics thread says so.
    bool setup_error = false;
    shoot_box(QStringLiteral("QEL Setup Error."), QStringLiteral("kova_box_setup_error"), QMessageBox::Ok,
              &setup_error);
    open();
    window->show();
    EXPECT_TRUE(kova_test::pump_until([&] { return setup_error; }, 5000));
    for (QMenu *menu : window->findChildren<QMenu *>())
    {
        QString name =
            menu->title().remove(QLatin1Char('&')).toLower().replace(QLatin1Char(' '), QLatin1Char('_'));
        if (!name.isEmpty())
        {
            EXPECT_TRUE(KovaSaveScreenshot(menu, QStringLiteral("kova_menu_") + name)) << name.toStdString();
        }
    }

    // Asked to exit, the operator says No.
    bool shot = false;
    shoot_box(QStringLiteral("Are you sure you want to exit KOVA?"), QStringLiteral("kova_box_exit"),
              QMessageBox::No, &shot);
    window->Action(32795)->trigger();
    EXPECT_TRUE(shot);
    EXPECT_FALSE(window->IsEnded());
    // No service manager: Start Applications fails.
    shot = false;
    setenv("QEL_SERVICE_DIR", dir.file("no_such_folder").c_str(), 1);
    shoot_box(QStringLiteral("Couldn't start QEL application"), QStringLiteral("kova_box_start_failed"),
              QMessageBox::Ok, &shot);
    window->Action(32797)->trigger();
    EXPECT_TRUE(shot);
    // A second console: the first comes to the front and tells the operator.
    shot = false;
    shoot_box(QStringLiteral("Another instance of KOVA is already running."),
              QStringLiteral("kova_box_another_instance"), QMessageBox::Ok, &shot);
    qel_test::process_result second = qel_test::run_process({KOVA_BINARY}, dir.path(), 20000);
    EXPECT_EQ(second.exit_code, 0) << second.output;
    EXPECT_TRUE(kova_test::pump_until([&] { return shot; }, 5000));
}
