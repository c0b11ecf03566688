// The configuration dialogs against the real gateway: qel_ip runs as qel_ip_tx with the
// simulated exchange host and a FIX settings file whose [DEFAULT] holds BeginString and
// SenderCompID, KOVA's main window runs in the test with a registry that installs TX as
// FIX enabled, and a stand-in monitoring service records its controls. Each dialog is
// opened from the menu (or as "-c 2") and driven by control id; each Save restarts the
// gateway: it exits with 10001 (17 as Linux keeps it) and the test starts it again, as the
// monitoring service would. A new broker id reaches the FIX identities and a FIX user
// added by the console logs on after the restart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/wait.h>
#include <thread>

#include "console/kova_common_config.h"
#include "console/kova_fix_configuration.h"
#include "console/kova_fix_user_details.h"
#include "console/kova_fix_user_sessions.h"
#include "console/kova_generic_configuration.h"
#include "console/kova_logger.h"
#include "console/kova_main_window.h"
#include "console/shim/kova_list.h"
#include "end_to_end/main_road_fixture.h"
#include "platform/admin/exit_status.h"
#include "platform/admin/pf_service.h"
#include "sim/fix_client/fix_client.h"
#include "support/fix_road.h"
#include "support/installation.h"
#include "support/kova_window_fixture.h"

namespace
{
std::mutex g_controls_mutex;
std::vector<uint32_t> g_controls;
std::atomic<pf_service_status_handle *> g_service{nullptr};
std::atomic<bool> g_service_stop{false};

void report(uint32_t state)
{
    pf_service_status status = {PF_SERVICE_WIN32_OWN_PROCESS, state, PF_SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    pf_service_set_status(g_service, &status);
}

uint32_t service_handler(uint32_t control)
{
    std::lock_guard<std::mutex> guard(g_controls_mutex);
    g_controls.push_back(control);
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

size_t controls_130()
{
    std::lock_guard<std::mutex> guard(g_controls_mutex);
    return static_cast<size_t>(std::count(g_controls.begin(), g_controls.end(), 130u));
}

struct config_end_to_end : kova_test::window_fixture
{
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    qel_test::gateway_config config;
    std::unique_ptr<qel_test::child_process> gateway;
    std::unique_ptr<CKOVAClientPHASE4Dlg> window;
    std::thread dispatcher;
    uint16_t fix_port = 0;

    void SetUp() override
    {
        window_fixture::SetUp();
        setenv("TZ", "Asia/Kolkata", 1);
        tzset();
        host.reset(new qel_sim::sim_host());
        ASSERT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, qel_sim::exchange_options()));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        config.write(dir);
        fix_port = config.fix_port; // held by the configuration until the gateway binds it
        dir.write("fix_settings.cfg",
                  "[DEFAULT]\nConnectionType=acceptor\nBeginString=FIX.4.2\nSenderCompID=QEL\n"
                  "NicIpAddress=127.0.0.1\nSocketAcceptPort=" +
                      std::to_string(fix_port) +
                      "\nFileStorePath=fix_store\nFileLogPath=logs\nStartTime=00:00:00\nEndTime=00:00:00\n"
                      "HeartBtInt=30\nPersistMessages=Y\n\n#BeginSession_1001\n[SESSION]\n"
                      "TargetCompID=1001,12345,1\n#EndSession_1001\n");
        std::string error;
        ASSERT_TRUE(qel_test::install_gateway(QEL_IP_BINARY, dir.path(), "qel_ip_tx", &error)) << error;
        kova_test::registry_market tx(2, std::stoi(config.values["INTERFACE_REALTIME_PORT_NUMBER"]),
                                      std::stoi(config.values["INTERFACE_INTERACTIVE_PORT_NUMBER"]),
                                      dir.file("qel_ip.cfg"), dir.file("fix_settings.cfg"));
        ASSERT_EQ(system(("mkdir -p '" + dir.file("statistics") + "'").c_str()), 0);
        write_registry({tx}, "[SOFTWARE\\QEL_IP\\COMMON\\1]\n\"CURRENT_FILES_PATH\"=\"" +
                                 dir.file("statistics") + "\"\n");

        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(kova_test::child_of_this_process);
        pf_service_entry entry = {"QEL_IP", "QEL_IP", "monitoring service", "/opt/qel_ip/qelmon", 30, 10, 0};
        ASSERT_EQ(pf_service_create(&entry), 0u);
        g_controls.clear();
        g_service_stop = false;
        dispatcher = std::thread([] { pf_service_run_dispatcher("QEL_IP", service_main); });
        pf_service_query_result state;
        ASSERT_TRUE(qel_test::wait_until(
            [&] {
                return pf_service_query("QEL_IP", &state) == 0 &&
                       state.status.current_state == PF_SERVICE_RUNNING;
            },
            5000));
    }

    void TearDown() override
    {
        CKOVAClientPHASE4Dlg::SetProcessFilterForTests(nullptr);
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
        if (dispatcher.joinable())
        {
            pf_service_control("QEL_IP", PF_SERVICE_CONTROL_STOP, nullptr);
            dispatcher.join();
        }
        if (host)
            host->stop();
        TX_USERID_INCREASE_FLAG = 0;
        window_fixture::TearDown();
    }

    void start_gateway()
    {
        gateway.reset(
            new qel_test::child_process({dir.file("qel_ip_tx"), "-c", dir.file("qel_ip.cfg")}, dir.path()));
        ASSERT_TRUE(qel_test::wait_until([&] { return qel_test::fix_port_open(fix_port); }, 10000));
        if (window)
        {
            ASSERT_TRUE(kova_test::pump_until([&] { return status() == "Running"; }, 10000));
        }
    }

    // The restart request was sent: the gateway ends with 10001, and is started again.
    void expect_restart(const char *what)
    {
        qel_test::process_result result = gateway->wait(20000);
        gateway.reset();
        EXPECT_EQ(result.exit_code, 10001) << what << ": " << result.output;
        EXPECT_EQ(pf_exit_code_from_status(10001 & 0xFF), 10001) << "seen as 17";
        ASSERT_NO_FATAL_FAILURE(start_gateway());
    }

    // The gateway has ended (it stays to be reaped by wait).
    bool gateway_exited()
    {
        siginfo_t info = {};
        return waitid(P_PID, static_cast<id_t>(gateway->pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid != 0;
    }

    std::string status() { return window->StatusList()->GetItemText(0, 1).toStdString(); }

    // Runs command; script drives the modal dialog of type T it opens and closes it.
    template <typename T> void run_dialog(int32_t command, std::function<void(T *)> script)
    {
        EXPECT_TRUE(kova_test::run_modal<T>(window.get(), command, script));
    }

    std::unique_ptr<qel_sim::fix_client> logged_on_client(const std::string &identity)
    {
        qel_sim::fix_client_options options;
        options.port = fix_port;
        options.sender_comp_id = identity;
        options.target_comp_id = "QEL";
        std::unique_ptr<qel_sim::fix_client> client(new qel_sim::fix_client(options));
        std::string error;
        EXPECT_TRUE(client->start(&error)) << error;
        EXPECT_TRUE(client->wait_for_state(qel_sim::fix_client_state::logged_on, 20000))
            << identity << ": " << client->logout_text();
        return client;
    }
};
} // namespace

TEST_F(config_end_to_end, EachSaveRestartsTheGatewayAndAnAddedFixUserLogsOn)
{
    ASSERT_NO_FATAL_FAILURE(start_gateway());
    window.reset(new CKOVAClientPHASE4Dlg());
    window->OnInitDialog();
    window->show();
    ASSERT_TRUE(kova_test::pump_until([&] { return status() == "Running"; }, 10000));
    ASSERT_TRUE(kova_test::pump_until([&] { return TX_USERID_INCREASE_FLAG == 1; }, 10000))
        << "version 41402 read";

    // Market configuration from the menu: a new broker id; the restart request (40 bytes:
    // the TX page accepted 41402), then "Start Applications" (control 130).
    box_answer = IDYES;
    run_dialog<CGenericConfiguration>(
        CKOVAClientPHASE4Dlg::ID_QEL_CONFIGURATION_TX,
        [&](CGenericConfiguration *d)
        {
            EXPECT_EQ(d->windowTitle().toStdString(), "TX - Configuration");
            QLineEdit *broker = d->Item<QLineEdit>(1027);
            broker->selectAll();
            QTest::keyClicks(broker, "67890");
            d->Item<QPushButton>(1020)->click();
            EXPECT_TRUE(kova_test::pump_until([&] { return controls_130() == 1; }, 10000));
            d->OnCancel();
        });
    EXPECT_NE(qel_test::read_file(window->Logger()->CurrentFilePath()).find("Request to kill TX qel sent."),
              std::string::npos)
        << "40 bytes: the TX page accepted 41402";
    EXPECT_NE(dir.read("qel_ip.cfg").find("BROKER_ID=67890\n"), std::string::npos);
    EXPECT_NE(dir.read("fix_settings.cfg").find("TargetCompID=1001,67890,1\n"), std::string::npos);
    ASSERT_NO_FATAL_FAILURE(expect_restart("market configuration"));
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{
                  " QEL will restart to take changes into effect. Do you want to continue?",
                  "Parameter(s) updated successfully in QEL configuration file. QEL will restart to "
                  "take changes into effect."}));
    {
        std::unique_ptr<qel_sim::fix_client> user = logged_on_client("1001,67890,1");
    }

    // FIX users from the menu: New 2002 in branch 3; closing restarts the gateway.
    run_dialog<CFixUserSessions>(
        CKOVAClientPHASE4Dlg::ID_FIX_USER_CONFIGURATION_FIRST + 1,
        [&](CFixUserSessions *d)
        {
            EXPECT_EQ(d->List()->GetItemCount(), 1);
            QTimer::singleShot(
                0,
                []
                {
                    kova_test::pump_until(
                        [] { return qobject_cast<CFixUserDetails *>(QApplication::activeModalWidget()); },
                        5000);
                    auto *details = qobject_cast<CFixUserDetails *>(QApplication::activeModalWidget());
                    ASSERT_NE(details, nullptr);
                    QTest::keyClicks(details->Item<QLineEdit>(1056), "2002");
                    QTest::keyClicks(details->Item<QLineEdit>(1058), "3");
                    details->Item<QPushButton>(1020)->click();
                });
            d->Item<QPushButton>(1041)->click();
            EXPECT_EQ(d->List()->GetItemCount(), 2);
            d->Item<QPushButton>(1032)->click();
            EXPECT_TRUE(kova_test::pump_until([&] { return d->IsEnded(); }, 10000))
                << "closes once the request is sent";
        });
    EXPECT_NE(dir.read("fix_settings.cfg")
                  .find("\n#BeginSession_2002\n[SESSION]\nTargetCompID=2002,67890,3\n#EndSession_2002\n"),
              std::string::npos);
    ASSERT_NO_FATAL_FAILURE(expect_restart("FIX users"));
    {
        std::unique_ptr<qel_sim::fix_client> added = logged_on_client("2002,67890,3");
        EXPECT_EQ(added->state(), qel_sim::fix_client_state::logged_on);
    }

    // FIX configuration from the menu: PersistMessages off.
    run_dialog<CFixConfiguration>(CKOVAClientPHASE4Dlg::ID_FIX_SESSION_CONFIGURATION_FIRST + 1,
                                  [&](CFixConfiguration *d)
                                  {
                                      d->Item<QCheckBox>(1080)->click();
                                      d->Item<QPushButton>(1020)->click();
                                      EXPECT_TRUE(
                                          kova_test::pump_until([&] { return gateway_exited(); }, 20000));
                                      d->OnCancel();
                                  });
    EXPECT_NE(dir.read("fix_settings.cfg").find("PersistMessages=N\n"), std::string::npos);
    ASSERT_NO_FATAL_FAILURE(expect_restart("FIX configuration"));

    // The -c form: the restart request, but no "Start Applications".
    size_t before = controls_130();
    run_dialog<CGenericConfiguration>(CKOVAClientPHASE4Dlg::ID_COMMAND_LINE_CONFIGURATION_BASE + 2,
                                      [&](CGenericConfiguration *d)
                                      {
                                          QLineEdit *broker = d->Item<QLineEdit>(1027);
                                          broker->selectAll();
                                          QTest::keyClicks(broker, "12345");
                                          d->Item<QPushButton>(1020)->click();
                                          EXPECT_TRUE(
                                              kova_test::pump_until([&] { return gateway_exited(); }, 20000));
                                          d->OnCancel();
                                      });
    ASSERT_NO_FATAL_FAILURE(expect_restart("-c 2"));
    kova_test::pump_for(300);
    EXPECT_EQ(controls_130(), before);
    {
        std::unique_ptr<qel_sim::fix_client> added = logged_on_client("2002,12345,3");
    }

    // The common configuration from the menu: its file (the registry's path) is absent
    // here, so it ends at once with the setup error.
    size_t shown = box_texts().size();
    window->OnCommand(CKOVAClientPHASE4Dlg::ID_QEL_CONFIGURATION_COMMON);
    ASSERT_EQ(box_texts().size(), shown + 1);
    EXPECT_EQ(box_texts().back(), "QEL Setup Error.");
}

TEST_F(config_end_to_end, ABlockOfTargetCompIDAloneNeedsBeginStringInDefault)
{
    // The console's blocks carry TargetCompID alone: without BeginString in [DEFAULT] the
    // gateway cannot start.
    dir.write(
        "fix_settings.cfg",
        "[DEFAULT]\nConnectionType=acceptor\nSenderCompID=QEL\nSocketAcceptPort=" + std::to_string(fix_port) +
            "\nFileStorePath=fix_store\nFileLogPath=logs\n\n#BeginSession_1001\n[SESSION]\n"
            "TargetCompID=1001,12345,1\n#EndSession_1001\n");
    qel_test::process_result result =
        qel_test::run_process({dir.file("qel_ip_tx"), "-c", dir.file("qel_ip.cfg")}, dir.path(), 20000);
    EXPECT_EQ(result.exit_code, 10003) << result.output;
}
