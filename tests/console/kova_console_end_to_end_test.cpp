// KOVA against the real gateway: qel_ip runs as qel_ip_tx (a copy, version 41402:
// release 414 of TX) against the simulated exchange host, with a registry that installs
// TX; the console runs in the test. Traders sign on; the status list shows TX running
// with its version, the TX page shows the replayed and then the live events newest
// first, the active users dialog lists the traders with their states and the box; the
// gateway exits and starts again, and the page reconnects and refills; statistics files
// show on the Common and TX pages.
#include <gtest/gtest.h>

#include <QLabel>
#include <csignal>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "console/kova_active_users.h"
#include "console/kova_generic_statistics.h"
#include "console/kova_main_window.h"
#include "console/kova_page_tab_ctrl.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_screenshot.h"
#include "end_to_end/main_road_fixture.h"
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
        EXPECT_EQ(system(("cp '" + std::string(QEL_IP_BINARY) + "' '" + dir.file("qel_ip_tx") + "'").c_str()), 0);
    }
    void start() { process.reset(new qel_test::child_process({dir.file("qel_ip_tx"), "-c", config_path}, dir.path())); }
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
        write_registry({tx}, "[SOFTWARE\\QEL_IP\\COMMON\\1]\n\"CURRENT_FILES_PATH\"=\"" + dir.file("statistics") +
                                 "\"\n");
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
        ASSERT_TRUE(qel_test::answered(reply, 2301))
            << "arrived " << reply.arrived << " transcode " << reply.transcode << " error " << reply.error_code;
        ASSERT_TRUE(qel_test::answered(trader.system_information(qel_test::kTimeoutMs), 1601));
    }

    CListCtrl *events() { return window->LogPage(0)->List(); }

    // The rows' (user, message) from the top.
    std::vector<std::pair<std::string, std::string>> event_rows()
    {
        std::vector<std::pair<std::string, std::string>> rows;
        for (int r = 0; r < events()->GetItemCount(); ++r)
            rows.emplace_back(events()->GetItemText(r, 0).toStdString(), events()->GetItemText(r, 2).toStdString());
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
    dir.write("statistics/cpu.20260101.000000.current.txt", "100,CPU load,12.50,%," + std::to_string(next) + "\n");
    dir.write("statistics/tx.20260101.000000.current.txt",
              "2,Packets sent,420,per s," + std::to_string(next) + "|2,Users,2,," + std::to_string(next) + "\n");
    CGenericStatistics *common = window->StatisticsPage(0);
    CGenericStatistics *tx = window->StatisticsPage(1);
    ASSERT_TRUE(kova_test::pump_until([&] { return common->List()->GetItemCount() == 1 && tx->List()->GetItemCount() == 2; },
                                      10000));
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
