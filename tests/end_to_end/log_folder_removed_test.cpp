// The real gateway whose log folder an operator removes while it trades: within seconds
// each log that is written again (the threads' text and binary logs, the FIX engine's
// message log, the console event log) is said once on standard error and to the console
// (13004 with error number 2, then 13005 with the lines that went with the old file), the
// folder is made again, and the later lines stand in it under the files' own names. A FIX
// session that comes and goes between two looks keeps its logs all the same: the first
// line after a file's open or after a quiet second looks at once, and the close looks once
// more. A folder missing at the start, or removed before threads open their logs, is made by
// the first log that opens: the gateway starts, and every later line and record stands
// under its file's name, the folder said once.
#include "main_road_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sim/console/console_client.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "support/binary_log.h"
#include "support/console_log_writes.h"
#include "support/fix_road.h"
#include "support/log_folder_figures.h"

using qel_test::answered;
using qel_test::k_log_writes_failing;
using qel_test::kTimeoutMs;
using sim_console::console_client;

namespace
{

const uint32_t k_fix_user = 1001;
const int k_wait_ms = 60000;

// The operator's rm -rf. A log that looks between the removal of its file and that of the
// folder writes its file again there, and rm then finds the folder not empty: as an operator
// would, the test runs it again.
bool remove_folder(const std::string &folder)
{
    for (int tries = 0; tries < 10; ++tries)
    {
        if (qel_test::run_process({"/bin/rm", "-rf", folder}, "/", 20000).exit_code == 0)
            return true;
    }
    return false;
}

// The FIX engine's log of the day: "GLOBAL" or a session's prefix, "messages" or "event".
std::string engine_log(const std::string &prefix, const std::string &kind)
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char date[16];
    strftime(date, sizeof date, "%Y%m%d", &local);
    return "logs/" + prefix + "." + kind + "." + date + ".log";
}

const char *const k_folder_made =
    "Log folder [logs] was missing (never made, or removed by a clean-up): made it to write [logs/";

// The lines of the threads' logs (level column first) that standard error took instead.
size_t thread_lines_in(const std::string &said)
{
    size_t lines = 0;
    for (size_t at = 0; at < said.size(); at = said.find('\n', at) + 1)
    {
        for (const char *level : {"System Error|", "Business Error|", "Event|", "Activity|", "Debug|"})
            lines += said.compare(at, strlen(level), level) == 0 ? 1 : 0;
        if (said.find('\n', at) == std::string::npos)
            break;
    }
    return lines;
}

// The sign-ons (2300) of each user in the workstation thread's request log, and the records
// of its response log.
std::map<uint32_t, size_t> sign_ons_logged(const qel_test::temp_dir &dir, size_t *responses)
{
    std::string damage;
    std::map<uint32_t, size_t> users;
    for (const qel_test::binary_log_record &r :
         qel_test::binary_log_records(dir.file("logs"), "tws_network_handler_thread", "request", &damage))
        if (qel_test::frame_transcode(r) == 2300)
            ++users[qel_test::frame_sign_on_user(r)];
    *responses =
        qel_test::binary_log_records(dir.file("logs"), "tws_network_handler_thread", "response", &damage)
            .size();
    EXPECT_EQ(damage, "") << "whole records only";
    return users;
}

// The "Log file [...] no longer stood under its name" lines of a text, by file.
std::vector<std::string> files_said_lost(const std::string &text, bool written_again)
{
    std::vector<std::string> files;
    for (size_t at = text.find("Log file ["); at != std::string::npos; at = text.find("Log file [", at + 1))
    {
        const std::string line = text.substr(at, text.find('\n', at) - at);
        if ((line.find("; written under its name again") != std::string::npos) == written_again)
            files.push_back(line.substr(10, line.find(']') - 10));
    }
    return files;
}

} // namespace

TEST(LogFolderRemoved, EachLogSaysSoOnceAndIsWrittenAgainInTheFolderMadeAgain)
{
    qel_test::fix_road road{{k_fix_user}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}};
    qel_sim::workstation_client client;
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(client, trader, road.workstation_port, kTimeoutMs));
    console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(k_fix_user, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;

    std::vector<qel_test::log_write_heard> events;
    auto hear = [&] { qel_test::hear_log_writes(console, 50, &events); };
    // A workstation connects and goes at each step without signing on: console events,
    // which the console event log stores.
    int orders = 0;
    auto trade = [&]
    {
        {
            qel_sim::workstation_client passing;
            EXPECT_TRUE(passing.connect("127.0.0.1", road.workstation_port));
        }
        qel_sim::trader_order order;
        EXPECT_TRUE(answered(trader.enter(order, kTimeoutMs), 2073)) << "order " << orders;
        ++orders;
        EXPECT_TRUE(fix->send_new_order_single(
            qel_sim::sample_new_order(std::to_string(orders), qel_sim::utc_timestamp())));
        EXPECT_TRUE(fix->wait_for_messages("8", static_cast<size_t>(orders), kTimeoutMs))
            << "FIX order " << orders;
        hear();
    };
    trade();
    const std::vector<std::string> before = road.dir.list("logs");
    ASSERT_FALSE(before.empty());

    // The operator's clean-up; the gateway trades on and, within seconds, writes again.
    ASSERT_TRUE(remove_folder(road.dir.file("logs")));
    const std::string stderr_path = road.dir.file("qel_text_log_default.txt");
    auto said = [&] { return qel_test::read_file(stderr_path); };
    auto written_again = [&](const std::string &what)
    {
        const std::string text = said();
        for (size_t at = text.find("Log file ["); at != std::string::npos;
             at = text.find("Log file [", at + 1))
        {
            const size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end - at);
            if (line.find(what) != std::string::npos &&
                line.find("; written under its name again") != std::string::npos)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            trade();
            return written_again("logs/tws_network_handler_thread_text.") && written_again(".messages.") &&
                   written_again("kova_event_log.dat") && written_again("_request.");
        },
        k_wait_ms))
        << said();
    for (int i = 0; i < 5; ++i)
        trade();

    struct stat status;
    ASSERT_EQ(stat(road.dir.file("logs").c_str(), &status), 0) << "the folder is made again";
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    const std::vector<std::string> after = road.dir.list("logs");
    std::string messages_log, tws_log;
    for (const std::string &name : after)
    {
        if (name.find(".messages.") != std::string::npos)
            messages_log = road.dir.read("logs/" + name);
        if (name.rfind("tws_network_handler_thread_text.", 0) == 0)
            tws_log = road.dir.read("logs/" + name);
    }
    EXPECT_NE(messages_log.find("no longer stood under its name"), std::string::npos);
    EXPECT_NE(messages_log.find("35=D"), std::string::npos)
        << "orders after the removal stand in the new file";
    EXPECT_NE(tws_log.find("no longer stood under its name"), std::string::npos);
    const std::vector<qel_test::console_event> stored = qel_test::day_console_events(road.dir);
    EXPECT_FALSE(stored.empty()) << "the console event log is made again";

    // A file's second event comes at its next write under its name: the test trades on until
    // every file that said it lost its name has said it is written again.
    size_t failing = 0, resumed = 0;
    auto count_events = [&]
    {
        hear();
        failing = resumed = 0;
        for (const qel_test::log_write_heard &event : events)
            ++(event.reason == k_log_writes_failing ? failing : resumed);
        return resumed == failing;
    };
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            if (count_events())
                return true;
            trade();
            return false;
        },
        k_wait_ms));
    // Each file says it once: no file is reported twice. Read after the trading above, in
    // which a file checked later than the others may still have found its name gone.
    const std::string text = said();
    std::vector<std::string> reported;
    for (size_t at = text.find("Log file ["); at != std::string::npos; at = text.find("Log file [", at + 1))
    {
        const std::string name = text.substr(at + 10, text.find(']', at) - at - 10);
        EXPECT_EQ(std::count(reported.begin(), reported.end(), name), 0) << name << " said twice";
        reported.push_back(name);
    }
    for (const qel_test::log_write_heard &event : events)
    {
        if (event.reason == k_log_writes_failing)
        {
            EXPECT_EQ(event.extra, 2u) << "the error number of a file without its name";
        }
    }
    EXPECT_GE(failing, 3u);
    EXPECT_EQ(resumed, failing) << "each file is written again";
    EXPECT_LE(failing, reported.size());

    fix.reset();
    EXPECT_EQ(road.stop().exit_code, 0);
}

// The clean-up soon after the start, and a FIX client that comes `after_ms` later and goes
// within two seconds: its session's logs stand under their names with the whole session,
// and each of the engine's four files says the removal once.
void fix_session_after_clean_up(int after_ms)
{
    qel_test::fix_road road{{k_fix_user}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}};
    ASSERT_TRUE(road.listening);
    console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    ASSERT_TRUE(remove_folder(road.dir.file("logs")));
    std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
    {
        std::string error;
        std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(k_fix_user, kTimeoutMs, &error);
        ASSERT_TRUE(fix) << error;
        ASSERT_TRUE(fix->send_new_order_single(qel_sim::sample_new_order("1", qel_sim::utc_timestamp())));
        ASSERT_TRUE(fix->wait_for_messages("8", 1, kTimeoutMs));
        fix->stop();
    }
    // Each file written again is said to the console too: 13004 with error number 2, then
    // 13005.
    const std::string stderr_path = road.dir.file("qel_text_log_default.txt");
    std::vector<qel_test::log_write_heard> events;
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            qel_test::hear_log_writes(console, 50, &events);
            const size_t again = files_said_lost(qel_test::read_file(stderr_path), true).size();
            return again >= 2 && qel_test::count_of_reason(events, qel_test::k_log_writes_resumed) == again &&
                   qel_test::count_of_reason(events, k_log_writes_failing) == again;
        },
        k_wait_ms))
        << qel_test::read_file(stderr_path);
    for (const qel_test::log_write_heard &event : events)
    {
        if (event.reason == k_log_writes_failing)
        {
            EXPECT_EQ(event.extra, 2u);
        }
    }
    EXPECT_EQ(road.stop().exit_code, 0);

    const std::string session = "FIX.4.2-QEL-" + qel_test::fix_road::session_of(k_fix_user);
    const std::string messages = road.dir.read(engine_log(session, "messages"));
    EXPECT_NE(messages.find("35=A"), std::string::npos) << "the Logon stands under the log's name";
    EXPECT_NE(messages.find("35=D"), std::string::npos) << "the order stands under the log's name";
    EXPECT_NE(messages.find("35=5"), std::string::npos) << "the Logout stands under the log's name";
    const std::string session_events = road.dir.read(engine_log(session, "event"));
    EXPECT_NE(session_events.find("no longer stood under its name"), std::string::npos);
    EXPECT_NE(session_events.find("Received logon request"), std::string::npos)
        << "the session's events: " << session_events;

    // Every one of the engine's four files is said once, written again or at the close.
    const std::string said = qel_test::read_file(stderr_path);
    std::vector<std::string> files = files_said_lost(said, true);
    const std::vector<std::string> at_close = files_said_lost(said, false);
    files.insert(files.end(), at_close.begin(), at_close.end());
    for (const std::string &prefix : {std::string("GLOBAL"), session})
    {
        for (const char *kind : {"messages", "event"})
        {
            const std::string file = engine_log(prefix, kind);
            EXPECT_EQ(std::count(files.begin(), files.end(), file), 1) << file << ": " << said;
        }
    }
    std::vector<std::string> sorted = files;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end())
        << "a file said twice: " << said;
}

// The client comes more than five seconds after the engine last saw its files.
TEST(LogFolderRemoved, AFixSessionBetweenTwoLooksLeavesItsLogsAndEachEngineFileSaysTheRemovalOnce)
{
    fix_session_after_clean_up(5500);
}

// The client comes a second after the clean-up, within the five seconds since the engine last
// saw its files: the first line after a quiet second looks all the same.
TEST(LogFolderRemoved, AFixSessionSoonAfterTheCleanUpLeavesItsLogsAndEachEngineFileSaysTheRemovalOnce)
{
    fix_session_after_clean_up(1000);
}

// A clean-up while the gateway was stopped: it starts all the same, makes the folder (its
// owner's only) and says so once, and a trader and a FIX client trade with every log under
// its name: nothing goes to standard error in a log's place.
TEST(LogFolderRemoved, AGatewayStartedWithoutItsFolderMakesItAndTradesWithEveryLogUnderItsName)
{
    qel_test::fix_road road{{k_fix_user}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}, "", false};
    ASSERT_EQ(rmdir(road.dir.file("logs").c_str()), 0);
    road.start();
    ASSERT_TRUE(road.listening) << qel_test::read_file(road.dir.file("qel_text_log_default.txt"));
    qel_sim::workstation_client client;
    qel_sim::trader trader(client, 5001);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(client, trader, road.workstation_port, kTimeoutMs));
    qel_sim::trader_order order;
    EXPECT_TRUE(answered(trader.enter(order, kTimeoutMs), 2073));
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(k_fix_user, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    ASSERT_TRUE(fix->send_new_order_single(qel_sim::sample_new_order("1", qel_sim::utc_timestamp())));
    ASSERT_TRUE(fix->wait_for_messages("8", 1, kTimeoutMs));
    fix.reset();
    EXPECT_EQ(road.stop().exit_code, 0);

    struct stat status;
    ASSERT_EQ(stat(road.dir.file("logs").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    const std::string said = qel_test::read_file(road.dir.file("qel_text_log_default.txt"));
    EXPECT_EQ(qel_test::count_of(said, "Log folder ["), 1u) << said;
    EXPECT_EQ(qel_test::count_of(said, k_folder_made), 1u) << said;
    EXPECT_EQ(thread_lines_in(said), 0u) << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to ["), 0u) << said;
    EXPECT_EQ(qel_test::count_of(said, "Log file ["), 0u) << said;
    size_t responses = 0;
    EXPECT_EQ(sign_ons_logged(road.dir, &responses), (std::map<uint32_t, size_t>{{5001, 1}}));
    EXPECT_GE(responses, 3u) << "the sign-on, system information and order answers";
    EXPECT_FALSE(qel_test::day_console_events(road.dir).empty());
    const std::string session = "FIX.4.2-QEL-" + qel_test::fix_road::session_of(k_fix_user);
    EXPECT_NE(road.dir.read(engine_log(session, "messages")).find("35=D"), std::string::npos);
    std::string main_log;
    for (const std::string &name : road.dir.list("logs"))
        if (name.rfind("main_text.", 0) == 0)
            main_log += road.dir.read("logs/" + name);
    EXPECT_NE(main_log.find("|" + std::string(k_folder_made)), std::string::npos)
        << "in the log of the thread that made it: " << main_log;
}

// The clean-up soon after the start, while most threads have not opened their logs yet (the
// day's roll leaves every thread so too): traders signing on later find their logs made, the
// folder with them, and lose no record; the logs open before look at their next write and
// say once that they lost their name; the folder is said once.
TEST(LogFolderRemoved, ThreadsThatOpenTheirLogsAfterTheCleanUpWriteThemUnderTheirNamesAndLoseNoRecord)
{
    qel_test::fix_road road{{k_fix_user}, {}, {}, {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}};
    ASSERT_TRUE(road.listening);
    console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    std::vector<qel_test::log_write_heard> events;
    qel_test::hear_log_writes(console, 200, &events);
    ASSERT_TRUE(remove_folder(road.dir.file("logs")));
    const std::string stderr_path = road.dir.file("qel_text_log_default.txt");

    std::vector<std::unique_ptr<qel_sim::workstation_client>> clients;
    std::vector<std::unique_ptr<qel_sim::trader>> traders;
    for (uint32_t user = 5001; user <= 5003; ++user)
    {
        clients.emplace_back(new qel_sim::workstation_client);
        traders.emplace_back(new qel_sim::trader(*clients.back(), user));
        ASSERT_TRUE(qel_test::sign_on_at_workstation(*clients.back(), *traders.back(), road.workstation_port,
                                                     kTimeoutMs));
        qel_sim::trader_order order;
        EXPECT_TRUE(answered(traders.back()->enter(order, kTimeoutMs), 2073)) << user;
        if (user == 5001)
        {
            // The console event log, open since the start, takes the sign-on under its name at
            // once: the folder was made meanwhile, so it does not wait for its next look.
            EXPECT_TRUE(qel_test::wait_until(
                [&]
                {
                    for (const qel_test::console_event &e : qel_test::day_console_events(road.dir))
                        if (e.user == 5001)
                            return true;
                    return false;
                },
                2000));
        }
        size_t responses = 0;
        const std::map<uint32_t, size_t> sign_ons = sign_ons_logged(road.dir, &responses);
        EXPECT_EQ(sign_ons.size(), user - 5000u) << "each sign-on stands in the request log at once";
        EXPECT_EQ(sign_ons.count(user), 1u);
        EXPECT_GE(responses, 3u * (user - 5000u));
    }
    qel_test::hear_log_writes(console, 200, &events);
    const std::string said = qel_test::read_file(stderr_path);
    EXPECT_EQ(qel_test::count_of(said, "Log folder ["), 1u) << said;
    EXPECT_EQ(thread_lines_in(said), 0u) << "no line went to standard error in a log's place: " << said;
    EXPECT_EQ(qel_test::count_of(said, "Log writes to ["), 0u) << said;
    for (const std::string &file : files_said_lost(said, false))
        ADD_FAILURE() << file << " was not written under its name again: " << said;
    const std::vector<std::string> again = files_said_lost(said, true);
    EXPECT_NE(std::find(again.begin(), again.end(), "logs/kova_event_log.dat"), again.end()) << said;
    // Each file found without its name is told to the console: 13004 with error number 2, then
    // 13005.
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            qel_test::hear_log_writes(console, 50, &events);
            return qel_test::count_of_reason(events, k_log_writes_failing) == again.size() &&
                   qel_test::count_of_reason(events, qel_test::k_log_writes_resumed) == again.size();
        },
        k_wait_ms));
    for (const qel_test::log_write_heard &event : events)
    {
        if (event.reason == k_log_writes_failing)
        {
            EXPECT_EQ(event.extra, 2u);
        }
    }

    traders.clear();
    clients.clear();
    EXPECT_EQ(road.stop().exit_code, 0);
    std::vector<std::string> reported = files_said_lost(qel_test::read_file(stderr_path), true);
    const std::vector<std::string> at_close = files_said_lost(qel_test::read_file(stderr_path), false);
    reported.insert(reported.end(), at_close.begin(), at_close.end());
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(std::adjacent_find(reported.begin(), reported.end()), reported.end()) << "each file once";
    EXPECT_EQ(qel_test::count_of(qel_test::read_file(stderr_path), "Log folder ["), 1u);
}
