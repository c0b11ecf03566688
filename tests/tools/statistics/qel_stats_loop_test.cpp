// qelstat's configuration and main loop driven in-process with an injected clock: the
// configuration's keys and refusals, the current folder emptied, the history roll that
// never replaces, the statistics files (one line in the current file, every line in the
// history), intervals and failing calls, offline runs once a day with padded stamps, and
// the day change.
#include "tools/statistics/qel_stats_loop.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/qel_stats_fixture.h"
#include "tools/statistics/qel_stats_file.h"

using qel_test::parameter_line;
using qel_test::stats_fixture;
using qel_test::utc_seconds;

namespace
{

std::string probe_online(const std::string &name, int interval, const std::string &results, int values = 1,
                         int name_length = 2)
{
    return parameter_line(STATS_PROBE_PLUGIN, name, interval,
                          {"0", std::to_string(values), results, std::to_string(name_length), "online"});
}

std::string probe_offline(const std::string &name, int time_of_day, const std::string &results = "o")
{
    return parameter_line(STATS_PROBE_PLUGIN, name, time_of_day, {"0", "0", results, "1", "offline"});
}

// qelstat's start-up and passes over the fixture's files.
struct stats_run
{
    stats_fixture &f;
    qel_stats_state state = {};

    explicit stats_run(stats_fixture &fixture, int64_t start) : f(fixture)
    {
        state.container = f.container;
        state.logger = f.logger;
        state.config = create_qel_stats_config_parameters(f.config.c_str(), f.logger);
        EXPECT_NE(state.config, nullptr) << f.log();
        if (state.config == nullptr)
            return;
        state.global = qel_stats_global_create(state.config, f.logger);
        EXPECT_NE(state.global, nullptr) << f.log();
        qel_stats_begin(&state, start);
    }
    ~stats_run()
    {
        if (state.global != nullptr)
            qel_stats_global_destroy(state.global, state.config, f.logger);
        qel_stats_config_parameters_destroy(state.config);
    }
    void pass(int64_t now) { qel_stats_pass(&state, now); }
    std::string current(const std::string &name) const
    {
        return f.dir.read("current/" + name + "." + state.stamp + ".current.txt");
    }
    std::string history(const std::string &name) const
    {
        return f.dir.read("history/" + name + "." + state.stamp + ".current.txt");
    }
};

TEST(QelStatsConfig, MissingKeysAndUnsafeCurrentFolderFailStartUp)
{
    const char *keys[][2] = {
        {"ONLINE_PARAM_FILE_NAME", "Parameter ONLINE_PARAM_FILE_PARAM not found in config file"},
        {"OFFLINE_PARAM_FILE_NAME", "Parameter OFFLINE_PARAM_FILE_PARAMnot found in config file"},
        {"CURRENT_FILES_PATH", "Parameter CURRENT_FILES_PATH_PARAMnot found in config file"},
        {"OFFLINE_FILES_PATH", "Parameter OFFLINE_FILES_PATH_PARAMnot found in config file"},
        {"HISTORY_FILES_PATH", "Parameter HISTORY_FILES_PARAMnot found in config file"},
    };
    for (const auto &key : keys)
    {
        stats_fixture f;
        std::string text = f.dir.read("qelstat.cfg");
        size_t at = text.find(std::string(key[0]) + "=");
        text.erase(at, text.find('\n', at) + 1 - at);
        f.dir.write("qelstat.cfg", text);
        EXPECT_EQ(create_qel_stats_config_parameters(f.config.c_str(), f.logger), nullptr) << key[0];
        EXPECT_TRUE(f.logged(std::string("System Error|") + key[1] + "|create_qel_stats_config_parameters|"))
            << f.log();
    }
    for (const char *other : {"HISTORY_FILES_PATH", "OFFLINE_FILES_PATH", "LOG_FILE_PATH"})
    {
        stats_fixture f;
        std::string text = f.dir.read("qelstat.cfg");
        std::string folder = other == std::string("LOG_FILE_PATH") ? "logs"
                             : other[0] == 'H'                     ? "history"
                                                                   : "offline";
        size_t at = text.find("CURRENT_FILES_PATH=");
        text.replace(at, text.find('\n', at) - at, "CURRENT_FILES_PATH=" + f.dir.file(folder) + "/.");
        f.dir.write("qelstat.cfg", text);
        f.dir.write(folder + "/keep.txt", "kept");
        EXPECT_EQ(create_qel_stats_config_parameters(f.config.c_str(), f.logger), nullptr) << other;
        EXPECT_EQ(f.dir.read(folder + "/keep.txt"), "kept") << other;
        EXPECT_TRUE(f.logged("emptying it at start-up would delete those files")) << other;
    }
}

TEST(QelStatsConfig, StartUpEmptiesTheCurrentFolderAndRollsHistoryWithoutReplacing)
{
    stats_fixture f;
    f.dir.write("current/any name.txt", "old");
    f.dir.write("current/p.20120305.093000.current.txt", "old");
    f.dir.write("current/notes.csv", "kept");
    f.dir.write("history/p.20120305.093000.current.txt", "first");
    f.dir.write("history/p.20120305.093000.repository.txt", "taken");
    f.dir.write("history/q.20120305.093000.current.txt", "second");
    qel_stats_config_parameters *config = create_qel_stats_config_parameters(f.config.c_str(), f.logger);
    ASSERT_NE(config, nullptr) << f.log();
    EXPECT_EQ(f.dir.list("current"), std::vector<std::string>{"notes.csv"});
    EXPECT_EQ(f.dir.read("history/p.20120305.093000.repository.txt"), "taken");
    EXPECT_EQ(f.dir.read("history/p.20120305.093000.repository.1.txt"), "first");
    EXPECT_EQ(f.dir.read("history/q.20120305.093000.repository.txt"), "second");
    EXPECT_EQ(f.dir.list("history").size(), 3u);
    qel_stats_config_parameters_rename_history_files(config, f.logger);
    EXPECT_TRUE(f.logged("Activity|No files in the History folder to rename|"));
    qel_stats_config_parameters_destroy(config);

    stats_fixture g;
    config = create_qel_stats_config_parameters(g.config.c_str(), g.logger);
    ASSERT_NE(config, nullptr);
    EXPECT_TRUE(g.logged("Activity|No files in the Current folder|"));
    qel_stats_config_parameters_destroy(config);
}

TEST(QelStatsFile, LineFormatAndTheBoundOf1024Bytes)
{
    stats_fixture f;
    qel_stats_online_parameter record = {};
    snprintf(record.name, sizeof record.name, "cpu");
    qel_stats_value values[5] = {};
    record.values = values;
    record.value_count = 2;
    values[0] = {"CPU", 3, "12.50", "%"};
    values[1] = {"Threads", 100, "7.00", "count"};
    EXPECT_EQ(qel_stats_file_line(&record, 1331000000, f.logger),
              "3,CPU,12.50,%,1331000000|100,Threads,7.00,count,1331000000\n");
    record.value_count = 0;
    EXPECT_EQ(qel_stats_file_line(&record, 1, f.logger), "\n");

    // Four records of about 340 bytes: the fourth would pass 1023 and is left out.
    record.value_count = 4;
    for (int i = 0; i < 4; ++i)
    {
        memset(values[i].name, 'n', sizeof values[i].name - 1);
        values[i].name[sizeof values[i].name - 1] = '\0';
        values[i].id = i + 1;
        memset(values[i].value, '9', sizeof values[i].value - 1);
        values[i].value[sizeof values[i].value - 1] = '\0';
    }
    std::string line = qel_stats_file_line(&record, 1331000000, f.logger);
    EXPECT_LE(line.size(), 1023u);
    EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 2) << "three records, the last ended by the newline";
    EXPECT_EQ(line.back(), '\n');
    EXPECT_TRUE(f.logged("Value record [4] of parameter [cpu] left out"));
}

TEST(QelStatsLoop, OnlineIntervalsFailedCallsAndTheOneLineCurrentFile)
{
    stats_fixture f;
    // "slow": every 5 s; "flaky": 203 on its second call; "error": always 10000; the long
    // names make the first line longer than the later ones.
    f.dir.write("online.txt", probe_online("slow", 5, "o") + probe_online("flaky", 1, "ovo") +
                                  probe_online("error", 1, "e") + parameter_line("nosuch.so", "gone", 1, {}) +
                                  probe_online("empty", 1, "o", 0));
    int64_t t0 = utc_seconds(2012, 3, 5, 9, 30, 0);
    stats_run run(f, t0);
    ASSERT_NE(run.state.global, nullptr);
    for (int64_t t = t0; t <= t0 + 6; ++t)
        run.pass(t);

    std::string next = std::to_string(t0 + 5);
    EXPECT_EQ(run.history("slow"),
              "1,v1,1,u," + std::to_string(t0 + 5) + "\n1,v1,2,u," + std::to_string(t0 + 10) + "\n");
    EXPECT_EQ(run.current("slow"), "1,v1,2,u," + std::to_string(t0 + 10) + "\n");
    // flaky: calls at t0..t0+6 give 1 (ok), 2 (203), 3, 4, 5 (203), 6, 7.
    std::string history = run.history("flaky");
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 5) << history;
    EXPECT_EQ(history.find(",2,u,"), std::string::npos) << "a 203 writes nothing";
    EXPECT_EQ(run.current("flaky"), "1,v1,7,u," + std::to_string(t0 + 7) + "\n");
    EXPECT_EQ(f.dir.list("current").size(), 3u) << "slow, flaky and empty; none for error or gone";
    EXPECT_EQ(run.current("empty"), "\n");
    EXPECT_EQ(
        f.times_logged("Activity|get_qel_statistics() function failed for dll [" STATS_PROBE_PLUGIN "]"), 2u);
    EXPECT_EQ(
        f.times_logged("System Error|get_qel_statistics() function failed for dll [" STATS_PROBE_PLUGIN "]"),
        7u);
    EXPECT_EQ(f.times_logged("Activity|Function address not found for [nosuch.so]"), 7u);
}

TEST(QelStatsLoop, CurrentFileKeepsOnlyTheNewestLineWhenItIsShorter)
{
    stats_fixture f;
    qel_stats_online_parameter record = {};
    snprintf(record.name, sizeof record.name, "p");
    qel_stats_file_write(f.dir.file("current").c_str(), f.dir.file("history").c_str(), &record,
                         "20120305.093000", "1,a long name,123456.00,unit,1331000000\n", f.logger);
    qel_stats_file_write(f.dir.file("current").c_str(), f.dir.file("history").c_str(), &record,
                         "20120305.093000", "1,b,1.00,u,1331000005\n", f.logger);
    EXPECT_EQ(f.dir.read("current/p.20120305.093000.current.txt"), "1,b,1.00,u,1331000005\n");
    EXPECT_EQ(f.dir.read("history/p.20120305.093000.current.txt"),
              "1,a long name,123456.00,unit,1331000000\n1,b,1.00,u,1331000005\n");

    // An unwritable history folder loses only the history line.
    chmod(f.dir.file("history").c_str(), 0500);
    if (access(f.dir.file("history").c_str(), W_OK) != 0)
    {
        qel_stats_file_write(f.dir.file("current").c_str(), f.dir.file("history").c_str(), &record,
                             "20120305.093001", "2,c,2.00,u,1\n", f.logger);
        EXPECT_EQ(f.dir.read("current/p.20120305.093001.current.txt"), "2,c,2.00,u,1\n");
        EXPECT_TRUE(f.logged("Open and share operation failed for file [" + f.dir.file("history") +
                             "/p.20120305.093001.current.txt]. Error Code[13]"));
    }
    chmod(f.dir.file("history").c_str(), 0700);
}

TEST(QelStatsLoop, OfflineRunsOnceADayFromItsTimeWithAPaddedStamp)
{
    stats_fixture f; // first: it pins the zone the stamps are computed in
    char stamp[32];
    qel_stats_offline_stamp(utc_seconds(2012, 3, 5, 9, 30), 930, stamp, sizeof stamp);
    EXPECT_STREQ(stamp, "20120305.093000");
    qel_stats_offline_stamp(utc_seconds(2012, 1, 11, 0, 0), 0, stamp, sizeof stamp);
    EXPECT_STREQ(stamp, "20120111.000000");
    qel_stats_offline_stamp(utc_seconds(2012, 11, 1, 0, 0), 0, stamp, sizeof stamp);
    EXPECT_STREQ(stamp, "20121101.000000") << "11 January and 1 November no longer share a stamp";

    f.dir.write("offline.txt", probe_offline("early", 0) + probe_offline("a", 930) + probe_offline("b", 930) +
                                   probe_offline("late", 2300, "v") +
                                   parameter_line("nosuch.so", "gone", 930, {}));
    int64_t t0 = utc_seconds(2012, 3, 5, 9, 29, 50);
    stats_run run(f, t0);
    ASSERT_NE(run.state.global, nullptr);
    run.pass(t0);
    EXPECT_EQ(f.dir.list("offline"), std::vector<std::string>{"early.20120305.000000.probe"})
        << "a time already passed runs on the first pass";
    for (int64_t t = t0 + 1; t <= t0 + 20; ++t)
        run.pass(t);
    EXPECT_EQ(f.dir.read("offline/a.20120305.093000.probe"), "called\n");
    EXPECT_EQ(f.dir.read("offline/b.20120305.093000.probe"), "called\n") << "the same minute, the same pass";
    EXPECT_EQ(f.dir.read("offline/early.20120305.000000.probe"), "called\n");
    EXPECT_TRUE(f.logged("Activity|Offline statistics files generated for parameter [2]|"));
    EXPECT_TRUE(f.logged("Activity|Offline statistics files generated for parameter [3]|"));
    EXPECT_EQ(f.times_logged("Function address not found for [nosuch.so]"), 1u);

    run.pass(utc_seconds(2012, 3, 5, 23, 0));
    EXPECT_TRUE(f.logged(
        "Activity|get_qel_statistics() function returned EA_VALID for dll [" STATS_PROBE_PLUGIN "]"));
    run.pass(utc_seconds(2012, 3, 5, 23, 1));
    EXPECT_EQ(f.dir.read("offline/late.20120305.230000.probe"), "called\n") << "no second attempt that day";

    // The next day each runs again under the new day's stamp, from its own name.
    run.pass(utc_seconds(2012, 3, 6, 9, 30));
    EXPECT_TRUE(f.logged("Activity|Offline Flags resetted to TRUE|"));
    EXPECT_EQ(f.dir.read("offline/a.20120306.093000.probe"), "called\n");
    EXPECT_EQ(f.dir.read("offline/early.20120306.000000.probe"), "called\n");

    // An output of that name already there: no call.
    f.dir.write("offline/a.20120307.093000", "");
    run.pass(utc_seconds(2012, 3, 7, 9, 30));
    EXPECT_TRUE(f.logged("Activity|" + f.dir.file("offline") +
                         "/a.20120307.093000 found, no need to recreate file|"));
    EXPECT_EQ(f.dir.read("offline/b.20120307.093000.probe"), "called\n");
    std::vector<std::string> files = f.dir.list("offline");
    EXPECT_EQ(std::count(files.begin(), files.end(), "a.20120307.093000.probe"), 0);
}

TEST(QelStatsLoop, OfflinePathTooLongForTheRecordSkipsThatDay)
{
    stats_fixture f;
    std::string deep = f.dir.file("offline/" + std::string(120, 'd'));
    mkdir(deep.c_str(), 0700);
    std::string text = f.dir.read("qelstat.cfg");
    size_t at = text.find("OFFLINE_FILES_PATH=");
    text.replace(at, text.find('\n', at) - at, "OFFLINE_FILES_PATH=" + deep);
    f.dir.write("qelstat.cfg", text);
    f.dir.write("offline.txt", probe_offline(std::string(200, 'p'), 0) + probe_offline("short", 0));
    int64_t t0 = utc_seconds(2012, 3, 5, 10, 0);
    stats_run run(f, t0);
    ASSERT_NE(run.state.global, nullptr);
    run.pass(t0);
    EXPECT_TRUE(f.logged("of parameter [1] is longer than [255] characters: it does not run today"));
    EXPECT_EQ(f.dir.list("offline/" + std::string(120, 'd')),
              std::vector<std::string>{"short.20120305.000000.probe"});
}

TEST(QelStatsLoop, DayChangeRollsHistoryRemovesStaleCurrentFilesAndBeginsNewOnes)
{
    stats_fixture f;
    f.dir.write("online.txt", probe_online("p", 60, "o"));
    int64_t t0 = utc_seconds(2012, 3, 5, 23, 59, 0);
    stats_run run(f, t0);
    ASSERT_NE(run.state.global, nullptr);
    run.pass(t0);
    EXPECT_STREQ(run.state.stamp, "20120305.235900");
    EXPECT_EQ(f.dir.list("current"), std::vector<std::string>{"p.20120305.235900.current.txt"});

    int64_t t1 = utc_seconds(2012, 3, 6, 0, 0, 0);
    run.pass(t1);
    EXPECT_STREQ(run.state.stamp, "20120306.000000");
    EXPECT_EQ(f.dir.list("current"), std::vector<std::string>{"p.20120306.000000.current.txt"})
        << "yesterday's current file is gone";
    EXPECT_EQ(f.dir.list("history"), (std::vector<std::string>{"p.20120305.235900.repository.txt",
                                                               "p.20120306.000000.current.txt"}));
    EXPECT_EQ(run.history("p"), "1,v1,2,u," + std::to_string(t1 + 60) + "\n");
    // The log was reopened under the new day's stamp.
    std::vector<std::string> logs = f.dir.list("logs");
    EXPECT_EQ(std::count_if(logs.begin(), logs.end(),
                            [](const std::string &n) { return n.find(".repository.") != std::string::npos; }),
              1);
}

} // namespace
