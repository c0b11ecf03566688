// KOVA against the real gateway: qel_ip runs as qel_ip_tx (a copy, version 41402:
// release 414 of TX) against the simulated exchange host, with a registry that installs
// TX; the console runs in the test. Traders sign on; the status list shows TX running
// with its version, the TX page shows the replayed and then the live events newest
// first, the active users dialog lists the traders with their states and the box; the
// gateway exits and starts again, and the page reconnects and refills; statistics files
// show on the Common and TX pages.
//
// And the example installation as shipped in config/ (the registry, the gateway's
// configuration and FIX settings, the common configuration), installed into the test's
// folder with the test's own ports: every page and dialog of the console opens on it
// without an error, and a FIX user edited in the console keeps the identity that the
// demo's FIX client logs on with.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/kova_about_dlg.h"
#include "console/kova_active_users.h"
#include "console/kova_common_config.h"
#include "console/kova_fix_configuration.h"
#include "console/kova_fix_user_details.h"
#include "console/kova_fix_user_sessions.h"
#include "console/kova_generic_configuration.h"
#include "console/kova_generic_statistics.h"
#include "console/kova_logger.h"
#include "console/kova_main_window.h"
#include "console/kova_page_tab_ctrl.h"
#include "console/shim/kova_ip_address.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_screenshot.h"
#include "end_to_end/main_road_fixture.h"
#include "sim/fix_client/fix_client.h"
#include "support/fix_road.h"
#include "support/installation.h"
#include "support/kova_window_fixture.h"

namespace
{
// The gateway under its market name, in the road's folder.
struct tx_gateway
{
    qel_test::temp_dir &dir;
    std::string config_path;
    std::unique_ptr<qel_test::child_process> process;

    tx_gateway(qel_test::temp_dir &dir_, const std::string &config) : dir(dir_), config_path(config)
    {
        std::string error;
        EXPECT_TRUE(qel_test::install_gateway(QEL_IP_BINARY, dir.path(), "qel_ip_tx", &error)) << error;
    }
    void start()
    {
        process.reset(new qel_test::child_process({dir.file("qel_ip_tx"), "-c", config_path}, dir.path()));
    }
    qel_test::process_result stop()
    {
        process->signal(SIGTERM);
        qel_test::process_result result = process->wait(20000);
        process.reset();
        return result;
    }
};

struct end_to_end_fixture : kova_test::window_fixture
{
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    qel_test::gateway_config config;
    std::unique_ptr<tx_gateway> gateway;
    std::unique_ptr<CKOVAClientPHASE4Dlg> window;

    void SetUp() override
    {
        window_fixture::SetUp();
        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(kova_test::child_of_this_process);
        setenv("TZ", "Asia/Kolkata", 1);
        tzset();
        host.reset(new qel_sim::sim_host());
        ASSERT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, qel_sim::exchange_options()));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        gateway.reset(new tx_gateway(dir, config.write(dir)));
        ASSERT_EQ(system(("mkdir -p '" + dir.file("statistics") + "'").c_str()), 0);
        kova_test::registry_market tx(2, std::stoi(config.values["INTERFACE_REALTIME_PORT_NUMBER"]),
                                      std::stoi(config.values["INTERFACE_INTERACTIVE_PORT_NUMBER"]),
                                      dir.file("qel_ip.cfg"));
        write_registry({tx}, "[SOFTWARE\\QEL_IP\\COMMON\\1]\n\"CURRENT_FILES_PATH\"=\"" +
                                 dir.file("statistics") + "\"\n");
    }

    void TearDown() override
    {
        if (window)
        {
            box_answer = IDYES;
            window->ExitKOVA();
            window.reset();
        }
        if (gateway && gateway->process)
            gateway->stop();
        if (host)
            host->stop();
        TX_USERID_INCREASE_FLAG = 0;
        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(nullptr);
        window_fixture::TearDown();
    }

    // Signs a trader on; a workstation that the gateway sends away while it is still
    // starting comes again.
    void sign_on(qel_sim::workstation_client &client, qel_sim::trader &trader)
    {
        uint16_t port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        qel_sim::trader_reply reply;
        for (int attempt = 0; attempt < 20 && !qel_test::answered(reply, 2301); ++attempt)
        {
            if (attempt > 0)
            {
                client.close();
                usleep(100 * 1000);
            }
            ASSERT_TRUE(qel_test::wait_until([&] { return client.connect("127.0.0.1", port); }, 10000));
            reply = trader.sign_on(qel_test::kTimeoutMs);
        }
        ASSERT_TRUE(qel_test::answered(reply, 2301)) << "arrived " << reply.arrived << " transcode "
                                                     << reply.transcode << " error " << reply.error_code;
        ASSERT_TRUE(qel_test::answered(trader.system_information(qel_test::kTimeoutMs), 1601));
    }

    CListCtrl *events() { return window->LogPage(0)->List(); }

    // The rows' (user, message) from the top.
    std::vector<std::pair<std::string, std::string>> event_rows()
    {
        std::vector<std::pair<std::string, std::string>> rows;
        for (int r = 0; r < events()->GetItemCount(); ++r)
            rows.emplace_back(events()->GetItemText(r, 0).toStdString(),
                              events()->GetItemText(r, 2).toStdString());
        return rows;
    }

    int row_of(const std::string &user, const std::string &message)
    {
        std::vector<std::pair<std::string, std::string>> rows = event_rows();
        for (size_t r = 0; r < rows.size(); ++r)
            if (rows[r].first == user && rows[r].second == message)
                return static_cast<int>(r);
        return -1;
    }

    std::string status(int col) { return window->StatusList()->GetItemText(0, col).toStdString(); }
};

const char *const k_logged_on = "QEL successfully logged on to the trading host";
const char *const k_ready = "System is ready to accept requests";
const char *const k_not_ready = "System is not ready to accept requests";
const char *const k_user_on = "The user successfully logged on to the trading host";
} // namespace

TEST_F(end_to_end_fixture, TheConsoleFollowsARunningGatewayAcrossItsRestart)
{
    gateway->start();
    qel_sim::workstation_client first_client;
    qel_sim::trader first(first_client, 5001);
    ASSERT_NO_FATAL_FAILURE(sign_on(first_client, first));

    window.reset(new CKOVAClientPHASE4Dlg());
    window->OnInitDialog();
    window->show();
    ASSERT_TRUE(kova_test::pump_until([&] { return status(1) == "Running"; }, 10000));
    ASSERT_TRUE(kova_test::pump_until([&] { return status(2) == "41402"; }, 10000));
    EXPECT_EQ(TX_USERID_INCREASE_FLAG, 1);

    // The day so far, replayed: the box logged on, then the first trader.
    ASSERT_TRUE(kova_test::pump_until([&] { return row_of("5001", k_user_on) >= 0; }, 10000));
    int logged_on = row_of("", k_logged_on);
    ASSERT_GE(logged_on, 0);
    EXPECT_LT(row_of("5001", k_user_on), logged_on) << "newest on top";

    // Live: the host holds the box's orders and lets them go again; a second trader signs on.
    box->send_rate_update(0);
    ASSERT_TRUE(kova_test::pump_until([&] { return row_of("", k_not_ready) == 0; }, 10000));
    box->send_rate_update(100);
    ASSERT_TRUE(kova_test::pump_until([&] { return row_of("", k_ready) == 0; }, 10000));
    qel_sim::workstation_client second_client;
    qel_sim::trader second(second_client, 5002);
    ASSERT_NO_FATAL_FAILURE(sign_on(second_client, second));
    ASSERT_TRUE(kova_test::pump_until([&] { return row_of("5002", k_user_on) == 0; }, 10000));
    EXPECT_EQ(row_of("", k_ready), 1);
    EXPECT_EQ(events()->GetItemText(1, 3).toStdString(), "") << "no extra information";
    EXPECT_NE(events()->GetItemText(0, 1).toStdString().find(", 20"), std::string::npos) << "a time text";
    EXPECT_EQ(window->LinkStatusLine()->text().toStdString(), "Link to the TX gateway: up");

    // Statistics files of qelstat's form: Common (100) and TX (2) records.
    int64_t next = static_cast<int64_t>(time(nullptr)) + 60;
    dir.write("statistics/cpu.20260101.000000.current.txt",
              "100,CPU load,12.50,%," + std::to_string(next) + "\n");
    dir.write("statistics/tx.20260101.000000.current.txt", "2,Packets sent,420,per s," +
                                                               std::to_string(next) + "|2,Users,2,," +
                                                               std::to_string(next) + "\n");
    CGenericStatistics *common = window->StatisticsPage(0);
    CGenericStatistics *tx = window->StatisticsPage(1);
    ASSERT_TRUE(kova_test::pump_until(
        [&] { return common->List()->GetItemCount() == 1 && tx->List()->GetItemCount() == 2; }, 10000));
    EXPECT_EQ(common->List()->GetItemText(0, 1).toStdString(), "12.50");
    EXPECT_EQ(tx->List()->GetItemText(0, 0).toStdString(), "Packets sent");
    EXPECT_EQ(tx->List()->GetItemText(1, 1).toStdString(), "2");

    KovaSaveScreenshot(window.get(), "kova_main_window_tx_running");
    KovaSaveScreenshot(window->LogPage(0), "kova_log_page_tx_live");
    window->StatisticsTabs()->SetCurSel(1);
    KovaSaveScreenshot(tx, "kova_statistics_tx");
    KovaSaveScreenshot(common, "kova_statistics_common_live");

    // The active users of TX.
    {
        CGenericActiveUsersList users(2, window->InteractivePort(1), window->Logger(), window.get());
        users.OnInitDialog();
        users.show();
        ASSERT_TRUE(kova_test::pump_until([&] { return users.List()->GetItemCount() == 2; }, 10000));
        kova_test::pump_for(100);
        SortListControl(users.List(), 0, KOVA_SORT_ASCENDING, KOVA_SORT_KEY_NUMBER);
        EXPECT_EQ(users.List()->GetItemText(0, 0).toStdString(), "5001");
        EXPECT_EQ(users.List()->GetItemText(1, 0).toStdString(), "5002");
        EXPECT_EQ(users.List()->GetItemText(0, 1).toStdString(), "Logged on.");
        EXPECT_EQ(users.BoxIdText().toStdString(), "101");
        EXPECT_EQ(users.BoxStatusText().toStdString(), "Logged on.");
        EXPECT_EQ(users.ConnectedUsersText().toStdString(), "2");
        KovaSaveScreenshot(&users, "kova_active_users_tx_live");
        users.OnCancel();
    }

    // The gateway stops; the status says so and the page keeps its rows.
    int rows_before = events()->GetItemCount();
    qel_test::process_result stopped = gateway->stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.output;
    ASSERT_TRUE(kova_test::pump_until([&] { return status(1) == "Not Running"; }, 10000));
    ASSERT_TRUE(kova_test::pump_until([&] { return !window->LogPage(0)->LinkUp(); }, 10000));
    EXPECT_EQ(events()->GetItemCount(), rows_before);
    EXPECT_EQ(window->LinkStatusLine()->text().toStdString(), "Link to the TX gateway: down");

    // It starts again: the page reconnects, is emptied and refilled with the day's events.
    gateway->start();
    ASSERT_TRUE(kova_test::pump_until([&] { return status(1) == "Running"; }, 10000));
    ASSERT_TRUE(kova_test::pump_until([&] { return window->LogPage(0)->LinkUp(); }, 10000));
    ASSERT_TRUE(kova_test::pump_until([&] { return events()->GetItemCount() >= rows_before; }, 10000));
    EXPECT_GE(row_of("5002", k_user_on), 0);
    EXPECT_GE(row_of("5001", k_user_on), row_of("5002", k_user_on));
    EXPECT_EQ(status(2), "41402");
    EXPECT_TRUE(box_texts().empty()) << box_texts().front();
}

namespace
{
using qel_test::replaced_once;

std::string example(const std::string &name)
{
    return qel_test::checkout_file("config/" + name);
}

std::string dword(uint16_t port)
{
    char text[32];
    snprintf(text, sizeof text, "dword:%08x", port);
    return text;
}

// config/ installed where its registry says, with /opt/qel_ip the test's folder "opt",
// the ports the test's, and the gateway a copy named qel_ip_tx in bin/.
struct example_installation : kova_test::window_fixture
{
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    qel_test::gateway_config ports; // only its reserved ports are used
    uint16_t realtime_port = 0, interactive_port = 0, fix_port = 0;
    std::string root, bin;
    std::string installed_fix_settings;
    std::unique_ptr<qel_test::child_process> gateway;
    std::unique_ptr<CKOVAClientPHASE4Dlg> window;

    void SetUp() override
    {
        window_fixture::SetUp();
        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(kova_test::child_of_this_process);
        setenv("TZ", "Asia/Kolkata", 1);
        tzset();
        host.reset(new qel_sim::sim_host());
        ASSERT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box_options.broker_id = "MEMBR"; // the example's box and broker, or no sign-on
        box.reset(new qel_sim::sim_box_host(*host, box_options, qel_sim::exchange_options()));
        realtime_port = ports.reserve_port();
        interactive_port = ports.reserve_port();
        fix_port = ports.reserve_port();
        root = dir.file("opt");
        bin = root + "/bin";
        for (const char *folder :
             {"/bin/logs", "/bin/fix_store", "/bin/statistics/current", "/config", "/logs/kova"})
            ASSERT_EQ(system(("mkdir -p '" + root + folder + "'").c_str()), 0);
        install();
    }

    void install()
    {
        std::string registry = example("registry");
        while (registry.find("/opt/qel_ip") != std::string::npos)
            registry.replace(registry.find("/opt/qel_ip"), 11, root);
        registry = replaced_once(registry, dword(9701), dword(realtime_port));
        registry = replaced_once(registry, dword(9702), dword(interactive_port));
        dir.write("registry", registry);

        std::string config = example("qel_ip.cfg");
        config = replaced_once(config, "\nINTERFACE_REALTIME_PORT_NUMBER=9701\n",
                               "\nINTERFACE_REALTIME_PORT_NUMBER=" + std::to_string(realtime_port) + "\n");
        config =
            replaced_once(config, "\nINTERFACE_INTERACTIVE_PORT_NUMBER=9702\n",
                          "\nINTERFACE_INTERACTIVE_PORT_NUMBER=" + std::to_string(interactive_port) + "\n");
        config = replaced_once(config, "\nHOST_PORT_NUMBER=9801\n",
                               "\nHOST_PORT_NUMBER=" + std::to_string(host->port()) + "\n");
        config = replaced_once(config, "\nPORT_NUMBER=9602\n",
                               "\nPORT_NUMBER=" + std::to_string(ports.reserve_port()) + "\n");
        write(bin + "/qel_ip.cfg", config);

        std::string fix = example("fix_settings.cfg");
        fix = replaced_once(fix, "\nSocketAcceptPort=9901\n",
                            "\nSocketAcceptPort=" + std::to_string(fix_port) + "\n");
        fix = replaced_once(fix, "\nHttpAcceptPort=9902\n",
                            "\nHttpAcceptPort=" + std::to_string(ports.reserve_port()) + "\n");
        write(bin + "/fix_settings.cfg", fix);
        installed_fix_settings = fix;
        write(root + "/config/qel_ip_common.cfg", example("qel_ip_common.cfg"));
        std::string error;
        ASSERT_TRUE(qel_test::install_gateway(QEL_IP_BINARY, bin, "qel_ip_tx", &error)) << error;
    }

    static void write(const std::string &path, const std::string &text)
    {
        FILE *file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr) << path;
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }

    void TearDown() override
    {
        if (window)
        {
            box_answer = IDYES;
            window->ExitKOVA();
            window.reset();
        }
        if (gateway)
        {
            gateway->signal(SIGTERM);
            gateway->wait(20000);
        }
        if (host)
            host->stop();
        TX_USERID_INCREASE_FLAG = 0;
        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(nullptr);
        window_fixture::TearDown();
    }

    // As qelmon starts it: in the folder of its path, with its argument.
    void start_gateway()
    {
        gateway.reset(new qel_test::child_process({bin + "/qel_ip_tx", "-c", "qel_ip.cfg"}, bin));
        ASSERT_TRUE(qel_test::wait_until([&] { return qel_test::fix_port_open(fix_port); }, 10000));
    }

    std::string status(int col) { return window->StatusList()->GetItemText(0, col).toStdString(); }
    // The console's log of the day, in the folder the example registry names.
    std::string kova_log() { return qel_test::read_file(window->Logger()->CurrentFilePath()); }

    // The demo's FIX client (scripts/run.sh takes its identity and the gateway's from the
    // settings file) logs on: the box signs on with the example's box and broker first.
    void demo_client_logs_on()
    {
        qel_sim::fix_client_options options;
        options.port = fix_port;
        options.sender_comp_id = "1001,MEMBR,1";
        options.target_comp_id = "QEL";
        EXPECT_NE(installed_fix_settings.find("\nTargetCompID=" + options.sender_comp_id + "\n"),
                  std::string::npos);
        EXPECT_NE(installed_fix_settings.find("\nSenderCompID=" + options.target_comp_id + "\n"),
                  std::string::npos);
        qel_sim::fix_client client(options);
        std::string error;
        ASSERT_TRUE(client.start(&error)) << error;
        EXPECT_TRUE(client.wait_for_state(qel_sim::fix_client_state::logged_on, 20000))
            << client.logout_text();
    }

    template <typename T> void open(int32_t command, std::function<void(T *)> script)
    {
        EXPECT_TRUE(kova_test::run_modal<T>(window.get(), command, script)) << command;
    }
};

std::vector<std::string> column(CListCtrl *list, int c)
{
    std::vector<std::string> cells;
    for (int r = 0; r < list->GetItemCount(); ++r)
        cells.push_back(list->GetItemText(r, c).toStdString());
    return cells;
}
} // namespace

TEST_F(example_installation, EveryPageAndDialogOpensWithoutAnErrorOnTheShippedExamples)
{
    ASSERT_NO_FATAL_FAILURE(start_gateway());
    ASSERT_NO_FATAL_FAILURE(demo_client_logs_on());
    window.reset(new CKOVAClientPHASE4Dlg());
    window->OnInitDialog();
    window->show();
    ASSERT_EQ(window->NumberOfMarkets(), 1);
    EXPECT_EQ(window->ConfigFilePath(1), bin + "/qel_ip.cfg");
    EXPECT_EQ(window->FixConfigFilePath(1), bin + "/fix_settings.cfg");
    ASSERT_TRUE(kova_test::pump_until([&] { return status(1) == "Running" && status(2) == "41402"; }, 10000));
    ASSERT_TRUE(kova_test::pump_until(
        [&]
        {
            CListCtrl *events = window->LogPage(0)->List();
            for (int r = 0; r < events->GetItemCount(); ++r)
                if (events->GetItemText(r, 2).toStdString() == k_logged_on)
                    return true;
            return false;
        },
        10000))
        << "the box signed on with the example's box and broker, replayed";
    KovaSaveScreenshot(window.get(), "kova_example_main_window");

    open<CAboutDlg>(
        CKOVAClientPHASE4Dlg::ID_ABOUT_KOVA,
        [&](CAboutDlg *d)
        {
            EXPECT_EQ(column(d->List(), 0),
                      (std::vector<std::string>{"QEL TX", "logsweep", "QEL Reports", "QEL Monitoring Service",
                                                "QEL Statistics", "KOVA", "Uninstaller"}));
            EXPECT_EQ(d->List()->GetItemText(0, 1).toStdString(), "41402");
            KovaSaveScreenshot(d, "kova_example_about");
            d->OnOK();
        });
    open<CGenericConfiguration>(
        CKOVAClientPHASE4Dlg::ID_QEL_CONFIGURATION_TX,
        [&](CGenericConfiguration *d)
        {
            EXPECT_EQ(KovaAddressText(d->Item<CIPAddressCtrl>(1022)).toStdString(), "127.0.0.1");
            EXPECT_EQ(d->Item<QLineEdit>(1027)->text().toStdString(), "MEMBR");
            EXPECT_EQ(d->Item<QLineEdit>(1025)->text().toStdString(), std::to_string(host->port()));
            EXPECT_TRUE(d->Item<QRadioButton>(1036)->isChecked());
            EXPECT_FALSE(d->Item<QPushButton>(1020)->isEnabled());
            KovaSaveScreenshot(d, "kova_example_market_configuration");
            d->OnCancel();
        });
    open<CCommonConfig>(CKOVAClientPHASE4Dlg::ID_QEL_CONFIGURATION_COMMON,
                        [&](CCommonConfig *d)
                        {
                            EXPECT_EQ(d->Item<QLineEdit>(1029)->text().toStdString(), "30");
                            KovaSaveScreenshot(d, "kova_example_common_configuration");
                            d->OnCancel();
                        });
    open<CGenericActiveUsersList>(
        CKOVAClientPHASE4Dlg::ID_ACTIVE_USERS_TX,
        [&](CGenericActiveUsersList *d)
        {
            EXPECT_TRUE(kova_test::pump_until(
                [&] { return d->BoxStatusText().toStdString() == "Logged on."; }, 10000));
            EXPECT_EQ(d->BoxIdText().toStdString(), "101");
            KovaSaveScreenshot(d, "kova_example_active_users");
            d->OnCancel();
        });
    open<CFixConfiguration>(CKOVAClientPHASE4Dlg::ID_FIX_SESSION_CONFIGURATION_FIRST + 1,
                            [&](CFixConfiguration *d)
                            {
                                EXPECT_TRUE(d->Item<QCheckBox>(1080)->isChecked());
                                EXPECT_TRUE(d->Item<QCheckBox>(1078)->isChecked());
                                EXPECT_FALSE(d->Item<QPushButton>(1020)->isEnabled());
                                KovaSaveScreenshot(d, "kova_example_fix_configuration");
                                d->OnCancel();
                            });
    EXPECT_EQ(box_texts(), std::vector<std::string>());
    std::string log = kova_log();
    EXPECT_EQ(std::string(window->Logger()->CurrentFilePath()).rfind(root + "/logs/kova/", 0), 0u)
        << "the console logs where the example says";
    EXPECT_EQ(log.find("SYSTEM_ERROR"), std::string::npos) << log;
    EXPECT_EQ(log.find("Cannot"), std::string::npos) << log;

    // The example FIX user, edited to another branch and back: its identity is again the
    // one the demo's FIX client logs on with, and closing restarts the gateway.
    auto edit_branch = [](const char *branch)
    {
        QTimer::singleShot(
            0,
            [branch]
            {
                kova_test::pump_until(
                    [] { return qobject_cast<CFixUserDetails *>(QApplication::activeModalWidget()); }, 5000);
                auto *details = qobject_cast<CFixUserDetails *>(QApplication::activeModalWidget());
                ASSERT_NE(details, nullptr);
                QLineEdit *field = details->Item<QLineEdit>(1058);
                field->selectAll();
                QTest::keyClicks(field, branch);
                KovaSaveScreenshot(details, "kova_example_fix_user_details");
                details->Item<QPushButton>(1020)->click();
            });
    };
    open<CFixUserSessions>(
        CKOVAClientPHASE4Dlg::ID_FIX_USER_CONFIGURATION_FIRST + 1,
        [&](CFixUserSessions *d)
        {
            EXPECT_EQ(d->Item<QLabel>(1064)->text().toStdString(), "MEMBR");
            EXPECT_EQ(column(d->List(), 0), std::vector<std::string>{"1001"});
            EXPECT_EQ(column(d->List(), 1), std::vector<std::string>{"1"});
            KovaSaveScreenshot(d, "kova_example_fix_users");
            d->List()->SetSelectedRow(0);
            edit_branch("2");
            d->Item<QPushButton>(1042)->click();
            EXPECT_NE(qel_test::read_file(bin + "/fix_settings.cfg").find("TargetCompID=1001,MEMBR,2\n"),
                      std::string::npos);
            d->List()->SetSelectedRow(0);
            edit_branch("1");
            d->Item<QPushButton>(1042)->click();
            EXPECT_EQ(qel_test::read_file(bin + "/fix_settings.cfg"), installed_fix_settings);
            d->Item<QPushButton>(1032)->click();
            EXPECT_TRUE(kova_test::pump_until([&] { return d->IsEnded(); }, 10000));
        });
    EXPECT_EQ(box_texts(), std::vector<std::string>{"QEL will restart to take changes into effect."});
    qel_test::process_result restarted = gateway->wait(20000);
    EXPECT_EQ(restarted.exit_code, 10001) << restarted.output;
    ASSERT_NO_FATAL_FAILURE(start_gateway());

    // The demo's FIX client logs on again with the same identity.
    demo_client_logs_on();
}
