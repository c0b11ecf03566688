// The real gateway with its log folder full, then freed: a trader and a FIX client trade
// on, and the console hears once per log file (the threads' text and binary logs, the
// FIX engine's message and event logs) that writes began to fail (13004, the error
// number) and that they succeed again (13005, the lines lost), never once per line; the
// same two lines stand in the gateway's standard error, and the end in the logs. A gateway
// stopped while its folder is still full says the lines each failing log lost. A gateway
// started with its folder full starts as if it had filled later, and a console that
// connects hears it from the events the console event log could not take; one that cannot
// start (its FIX store full as well) says why on standard error. Standard error on the full
// disk as well keeps every log's spell, the FIX engine's among them, until it can say it.
//
// The log folder is a small tmpfs of the test's own mount namespace (it goes with the
// test process), filled by a file of the test's. Where mounting is not permitted, the
// gateway's file size limit stands in for the full disk (prlimit, SIGXFSZ ignored), its
// standard error goes into a pipe, which no size limit stops, and the FIX client stays
// away: the limit would fail the FIX store as well, which is not a log.
#include "main_road_fixture.h"

#include <unistd.h>

#include <string>
#include <vector>

#include "sim/console/console_client.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "support/console_log_writes.h"
#include "support/fix_road.h"
#include "support/full_disk.h"
#include "support/full_log_folder.h"
#include "support/log_folder_figures.h"

using qel_test::answered;
using qel_test::k_log_writes_failing;
using qel_test::k_log_writes_resumed;
using qel_test::kTimeoutMs;
using sim_console::console_client;

namespace
{

const int k_wait_ms = 60000;
const uint32_t k_fix_user = 1001;

// The main road with a FIX session, its log folder able to fill; `started_full`: filled
// before the gateway starts (a tmpfs only: a file size limit set then would fail the FIX
// store as well, which is not a log); without `start` the caller starts the gateway.
struct road_with_full_folder
{
    qel_test::fix_road road{{k_fix_user}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}, "", false};
    std::unique_ptr<qel_test::full_log_folder> folder;
    std::unique_ptr<qel_test::gateway_stderr> stderr_file;

    explicit road_with_full_folder(bool started_full = false, bool start = true)
    {
        folder.reset(new qel_test::full_log_folder(road.dir.file("logs"), started_full ? "2m" : "32m"));
        stderr_file.reset(
            new qel_test::gateway_stderr(road.dir.file("qel_text_log_default.txt"), !folder->mounted()));
        EXPECT_TRUE(stderr_file->ready());
        std::string error;
        if (started_full && folder->mounted())
        {
            EXPECT_TRUE(folder->fill(0, &error)) << error;
        }
        if (start && (!started_full || folder->mounted()))
            road.start();
    }
    // The gateway goes before its folder does.
    ~road_with_full_folder()
    {
        if (road.gateway)
            road.stop();
    }
};

} // namespace

TEST(LogFolderFull, TheConsoleHearsOncePerFileWhenLogWritesFailAndWhenTheySucceedAgain)
{
    road_with_full_folder full;
    qel_test::fix_road &road = full.road;
    qel_sim::workstation_client client;
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(client, trader, road.workstation_port, kTimeoutMs));

    console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    std::unique_ptr<qel_sim::fix_client> fix;
    if (full.folder->mounted())
    {
        std::string error;
        fix = road.ready_client(k_fix_user, kTimeoutMs, &error);
        ASSERT_TRUE(fix) << error;
    }
    std::vector<qel_test::log_write_heard> events;
    auto hear = [&](int timeout_ms) { qel_test::hear_log_writes(console, timeout_ms, &events); };
    auto count = [&](uint16_t reason) { return qel_test::count_of_reason(events, reason); };
    int orders = 0;
    auto trade = [&]
    {
        qel_sim::trader_order order;
        EXPECT_TRUE(answered(trader.enter(order, kTimeoutMs), 2073)) << "order " << orders;
        ++orders;
        if (!fix)
            return;
        EXPECT_TRUE(fix->send_new_order_single(
            qel_sim::sample_new_order(std::to_string(orders), qel_sim::utc_timestamp())));
        EXPECT_TRUE(fix->wait_for_messages("8", static_cast<size_t>(orders), kTimeoutMs))
            << "FIX order " << orders;
    };
    trade();
    hear(500);
    ASSERT_TRUE(events.empty());

    // The folder fills: the gateway trades on, and the console hears of it.
    std::string error;
    ASSERT_TRUE(full.folder->fill(road.gateway->pid(), &error)) << error;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            trade();
            hear(50);
            return count(k_log_writes_failing) > 0;
        },
        k_wait_ms));
    for (int i = 0; i < 20; ++i)
        trade();
    hear(500);
    EXPECT_EQ(count(k_log_writes_resumed), 0u);
    for (const qel_test::log_write_heard &e : events)
        EXPECT_EQ(e.extra, static_cast<uint32_t>(full.folder->expected_error()));

    // Room again: each log that failed says how many lines it lost.
    ASSERT_TRUE(full.folder->free_space(road.gateway->pid(), &error)) << error;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            trade();
            hear(50);
            return count(k_log_writes_resumed) > 0;
        },
        k_wait_ms));
    for (int i = 0; i < 20; ++i)
        trade();
    hear(500);
    uint32_t lost = 0;
    for (const qel_test::log_write_heard &e : events)
    {
        EXPECT_EQ(e.user, 0xFFFFFFFFu) << "the gateway's own event";
        if (e.reason == k_log_writes_resumed)
        {
            EXPECT_GT(e.extra, 0u);
            lost += e.extra;
        }
    }
    const size_t failing = count(k_log_writes_failing);
    const size_t files = road.dir.list("logs").size();
    EXPECT_LE(failing, files) << "once per file, never per line (" << lost << " lines lost)";
    EXPECT_LE(count(k_log_writes_resumed), failing);

    const bool with_fix = fix != nullptr;
    fix.reset();
    EXPECT_EQ(road.stop().exit_code, 0);
    const std::string said = full.stderr_file->text();
    EXPECT_EQ(qel_test::count_of(said, "] are failing (["), failing) << said;
    EXPECT_GE(qel_test::count_of(said, "] succeed again: ["), count(k_log_writes_resumed)) << said;
    EXPECT_NE(said.find("): lines are lost until they succeed again\n"), std::string::npos) << said;
    EXPECT_NE(said.find(" lines were lost\n"), std::string::npos) << said;
    if (with_fix)
    {
        EXPECT_NE(said.find(".messages."), std::string::npos) << "the FIX message log's spell: " << said;
    }

    bool in_a_log = false;
    for (const std::string &name : road.dir.list("logs"))
        in_a_log = in_a_log || road.dir.read("logs/" + name).find("] succeed again: [") != std::string::npos;
    EXPECT_TRUE(in_a_log) << "the end of a spell stands in the log itself";
}

TEST(LogFolderFull, AGatewayStoppedWhileItsFolderIsFullSaysTheLinesEachLogLost)
{
    road_with_full_folder full;
    qel_test::fix_road &road = full.road;
    qel_sim::workstation_client client;
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(client, trader, road.workstation_port, kTimeoutMs));
    std::string error;
    ASSERT_TRUE(full.folder->fill(road.gateway->pid(), &error)) << error;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            qel_sim::trader_order order;
            EXPECT_TRUE(answered(trader.enter(order, kTimeoutMs), 2073));
            return full.stderr_file->text().find("] are failing ([") != std::string::npos;
        },
        k_wait_ms));

    // Stopped with the folder still full: no write ends the spells.
    EXPECT_EQ(road.stop().exit_code, 0);
    const std::string said = full.stderr_file->text();
    const size_t failing = qel_test::count_of(said, "] are failing ([");
    const size_t resumed = qel_test::count_of(said, "] succeed again: [");
    const size_t closed = qel_test::count_of(said, "] were still failing when it was closed: [");
    EXPECT_GE(closed, 1u) << said;
    EXPECT_EQ(closed + resumed, failing) << "every spell ends said, at a write or at the close: " << said;
}

TEST(LogFolderFull, AGatewayStartedWithItsFolderFullTradesAndAConsoleThatConnectsHearsIt)
{
    road_with_full_folder full(true);
    if (!full.folder->mounted())
        GTEST_SKIP() << "no tmpfs may be mounted here, and a file size limit from the start would fail the "
                        "FIX store too";
    qel_test::fix_road &road = full.road;
    ASSERT_TRUE(road.listening) << full.stderr_file->text();
    qel_sim::workstation_client client;
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(client, trader, road.workstation_port, kTimeoutMs));
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(k_fix_user, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    int orders = 0;
    auto trade = [&]
    {
        qel_sim::trader_order order;
        EXPECT_TRUE(answered(trader.enter(order, kTimeoutMs), 2073)) << "order " << orders;
        ++orders;
        EXPECT_TRUE(fix->send_new_order_single(
            qel_sim::sample_new_order(std::to_string(orders), qel_sim::utc_timestamp())));
        EXPECT_TRUE(fix->wait_for_messages("8", static_cast<size_t>(orders), kTimeoutMs))
            << "FIX order " << orders;
    };
    trade();

    // A console that connects after the start gets the logs' spells from the replay, though
    // the console event log is on the full folder too.
    std::vector<qel_test::log_write_heard> events;
    {
        console_client console;
        ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
        ASSERT_TRUE(qel_test::wait_until(
            [&]
            {
                qel_test::hear_log_writes(console, 50, &events);
                return qel_test::count_of_reason(events, k_log_writes_failing) >= 3;
            },
            k_wait_ms));
    }
    for (const qel_test::log_write_heard &e : events)
    {
        EXPECT_EQ(e.reason, k_log_writes_failing);
        EXPECT_EQ(e.extra, static_cast<uint32_t>(ENOSPC));
    }
    const std::string said = full.stderr_file->text();
    EXPECT_NE(said.find("Log writes to [logs/kova_event_log.dat] are failing (["), std::string::npos) << said;
    EXPECT_NE(said.find("System Error|Error while writing to kova log file."), std::string::npos)
        << "a start-up line that its log could not take: " << said;

    // Room again: the held events go into the console event log, in their order, the logs'
    // spells among them; and a console that connects now hears them from the file.
    ASSERT_TRUE(full.folder->free_space(0, &error)) << error;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            trade();
            const std::vector<qel_test::console_event> stored = qel_test::day_console_events(road.dir);
            size_t failing = 0, resumed = 0;
            for (const qel_test::console_event &e : stored)
            {
                failing += e.reason == k_log_writes_failing ? 1 : 0;
                resumed += e.reason == k_log_writes_resumed ? 1 : 0;
            }
            return failing >= 3 && resumed >= 1;
        },
        k_wait_ms));
    const std::vector<qel_test::console_event> stored = qel_test::day_console_events(road.dir);
    EXPECT_EQ(stored.front().reason, k_log_writes_failing) << "the day begins with the full folder";
    fix.reset();
    EXPECT_EQ(road.stop().exit_code, 0);
}

TEST(LogFolderFull, AGatewayThatCannotStartForAFullDiskSaysWhyOnStandardError)
{
    road_with_full_folder full(true, false);
    if (!full.folder->mounted())
        GTEST_SKIP() << "no tmpfs may be mounted here";
    qel_test::fix_road &road = full.road;
    // The FIX store on a full disk as well (the shipped layout puts both on one).
    std::string error;
    ASSERT_TRUE(full.folder->fill_another(road.dir.file("fix_store"), "1m", &error)) << error;
    road.start();
    if (road.listening)
    {
        // It starts: as with a full log folder alone.
        EXPECT_EQ(road.stop().exit_code, 0);
        return;
    }
    const qel_test::process_result ended = road.gateway->wait(20000);
    road.gateway.reset();
    EXPECT_EQ(ended.exit_code, 10003) << "a start-up failure";
    const std::string said = full.stderr_file->text();
    EXPECT_NE(said.find("System Error|Configuration failed: "), std::string::npos) << said;
    EXPECT_NE(said.find("fix_store/"), std::string::npos) << "the file it could not write: " << said;
}

// The shipped layout puts standard error (qel_text_log_default.txt) on the disk of the logs:
// what it could not take while the disk was full, the beginning of every log's spell, the
// FIX engine's message log among them, is said there once the disk has room.
TEST(LogFolderFull, StandardErrorOnTheFullDiskSaysEveryLogsSpellOnceItHasRoom)
{
    road_with_full_folder full(false, false);
    if (!full.folder->mounted())
        GTEST_SKIP() << "no tmpfs may be mounted here, and a file size limit would fail the FIX store too";
    qel_test::fix_road &road = full.road;
    ASSERT_EQ(symlink("logs/qel_text_log_default.txt", road.dir.file("qel_text_log_default.txt").c_str()), 0);
    road.start();
    ASSERT_TRUE(road.listening);
    qel_sim::workstation_client client;
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(client, trader, road.workstation_port, kTimeoutMs));
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(k_fix_user, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    std::vector<qel_test::log_write_heard> events;
    int orders = 0;
    auto trade = [&]
    {
        qel_sim::trader_order order;
        EXPECT_TRUE(answered(trader.enter(order, kTimeoutMs), 2073)) << "order " << orders;
        ++orders;
        EXPECT_TRUE(fix->send_new_order_single(
            qel_sim::sample_new_order(std::to_string(orders), qel_sim::utc_timestamp())));
        EXPECT_TRUE(fix->wait_for_messages("8", static_cast<size_t>(orders), kTimeoutMs))
            << "FIX order " << orders;
        qel_test::hear_log_writes(console, 50, &events);
    };
    trade();

    const std::string messages_log =
        "logs/FIX.4.2-QEL-" + qel_test::fix_road::session_of(k_fix_user) + ".messages.";
    auto engine_spell_ended = [&]
    {
        for (const std::string &name : road.dir.list("logs"))
            if (("logs/" + name).rfind(messages_log, 0) == 0 &&
                road.dir.read("logs/" + name).find("] succeed again: [") != std::string::npos)
                return true;
        return false;
    };
    ASSERT_TRUE(full.folder->fill(road.gateway->pid(), &error)) << error;
    for (int i = 0; i < 20; ++i)
        trade();
    ASSERT_TRUE(full.folder->free_space(road.gateway->pid(), &error)) << error;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            trade();
            return engine_spell_ended() && qel_test::count_of_reason(events, k_log_writes_resumed) ==
                                               qel_test::count_of_reason(events, k_log_writes_failing);
        },
        k_wait_ms))
        << "the message log's spell ends in the log itself";
    fix.reset();
    EXPECT_EQ(road.stop().exit_code, 0);

    const std::string said = full.stderr_file->text();
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + messages_log), 2u)
        << "the message log's spell, its beginning and its end: " << said;
    EXPECT_EQ(qel_test::count_of(said, "] are failing (["),
              qel_test::count_of_reason(events, k_log_writes_failing))
        << "every spell the console heard of: " << said;
}
