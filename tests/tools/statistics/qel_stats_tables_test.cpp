// qelstat's parameter tables: the parameter line's fields and its refusals, the binding of
// each line's plug-in (a missing library, a failing init, value records) and the release
// that calls destroy and unloads.
#include "tools/statistics/qel_stats_parameters.h"

#include <gtest/gtest.h>

#include "platform/admin/pf_counter.h"
#include "support/qel_stats_fixture.h"

using qel_test::parameter_line;
using qel_test::stats_fixture;

namespace
{

struct line_case
{
    const char *line;
    bool accepted;
    const char *reason_part; // accepted: the last argument
};

TEST(QelStatsParameterLine, FieldsAndRefusals)
{
    std::string long_name(256, 'n');
    std::string long_file(256, 'f');
    const line_case cases[] = {
        {"onstat.so,threads,5,2,a b,c,", true, "c"},
        {"onstat.so,threads,5,2,a,last", true, "last"}, // the last argument may end the line
        {"pkeff.so,pk,0930,0,", true, ""},
        {",threads,5,0,", false, "plug-in file"},
        {"onstat.so,,5,0,", false, "name"},
        {"onstat.so,a/b,5,0,", false, "\"/\""},
        {"onstat.so,threads,five,0,", false, "interval"},
        {"onstat.so,threads,5,-1,", false, "argument count"},
        {"onstat.so,threads,5,x,", false, "argument count"},
        {"onstat.so,threads,5,3,a,b,", false, "2 of its 3"},
        {"onstat.so,threads,5,2,a,,", false, "1 of its 2"},
        {"onstat.so,threads,99999999999,0,", false, "interval"},
    };
    for (const line_case &c : cases)
    {
        qel_stats_parameter_fields fields;
        std::string reason;
        bool accepted = qel_stats_parse_parameter_line(c.line, &fields, &reason);
        EXPECT_EQ(accepted, c.accepted) << c.line << ": " << reason;
        if (accepted && !fields.arguments.empty())
        {
            EXPECT_EQ(fields.arguments.back(), c.reason_part) << c.line;
        }
        if (!accepted)
        {
            EXPECT_NE(reason.find(c.reason_part), std::string::npos) << c.line << ": " << reason;
        }
    }
    qel_stats_parameter_fields fields;
    std::string reason;
    EXPECT_FALSE(qel_stats_parse_parameter_line("onstat.so," + long_name + ",5,0,", &fields, &reason));
    EXPECT_TRUE(
        qel_stats_parse_parameter_line("onstat.so," + long_name.substr(1) + ",5,0,", &fields, &reason));
    EXPECT_FALSE(qel_stats_parse_parameter_line(long_file + ",n,5,0,", &fields, &reason));
}

TEST(QelStatsTables, EachLineBindsOrStaysWithoutEntryPointAndTheOthersGoOn)
{
    stats_fixture f;
    std::string probe = STATS_PROBE_PLUGIN;
    std::string long_line = "onstat.so,long,1,1," + std::string(5000, 'a') + ",\n";
    f.dir.write("online.txt", "\n" + parameter_line("nosuch.so", "missing", 5, {}) + "   \n" + long_line +
                                  "onstat.so,short,5,3,a,\n" +
                                  parameter_line(probe, "good", 5, {"0", "2", "o", "2", "online"}) +
                                  parameter_line(probe, "refused", 5, {"203", "2", "o", "2", "online"}) +
                                  parameter_line(probe, "broken", 5, {"10000", "1", "o", "2", "online"}) +
                                  parameter_line(probe, "none", 5, {"0", "0", "o", "2", "online"}));
    qel_stats_config_parameters config = {};
    snprintf(config.online_file, sizeof config.online_file, "%s", f.dir.file("online.txt").c_str());
    qel_stats_online_parameter *table = qel_stats_online_parameters_create(&config, f.logger);
    ASSERT_NE(table, nullptr) << f.log();
    ASSERT_EQ(config.online_count, 5) << "blank and refused lines give no parameter";

    EXPECT_STREQ(table[0].name, "missing");
    EXPECT_EQ(table[0].entry_point, nullptr);
    EXPECT_EQ(table[0].module, nullptr);
    EXPECT_TRUE(f.logged("System Error|Error while loading module [nosuch.so]. Error [126]|"));
    EXPECT_TRUE(f.logged("nosuch.so: No such file or directory")) << "the loader's text follows";
    EXPECT_TRUE(f.logged("Parameter line [4] of file [" + f.dir.file("online.txt") + "] refused"));
    EXPECT_TRUE(f.logged("Parameter line [5] of file [" + f.dir.file("online.txt") +
                         "] refused: it holds 1 of its 3"));

    EXPECT_STREQ(table[1].name, "good");
    EXPECT_NE(table[1].entry_point, nullptr);
    EXPECT_EQ(table[1].value_count, 2u);
    ASSERT_NE(table[1].values, nullptr);
    EXPECT_EQ(table[1].interval, 5);
    EXPECT_EQ(table[1].last_call_time, 0);
    EXPECT_EQ(table[1].argument_count, 5);
    EXPECT_STREQ(table[1].arguments[4], "online");

    for (int i : {2, 3})
    {
        EXPECT_EQ(table[i].entry_point, nullptr) << table[i].name;
        EXPECT_NE(table[i].module, nullptr) << "loaded, so destroy is still called";
    }
    EXPECT_TRUE(f.logged("Error while initialising module [" + probe + "]."));

    EXPECT_NE(table[4].entry_point, nullptr);
    EXPECT_EQ(table[4].values, nullptr) << "no value records for a count of 0";

    qel_stats_online_parameters_destroy(table, config.online_count, f.logger);
    EXPECT_EQ(f.times_logged("probe destroy for ["), 4u);
}

TEST(QelStatsTables, ZeroByteAndOverlongLinesAreRefusedForWhatTheyAre)
{
    stats_fixture f;
    const std::string head = "nosuch.so,exact,5,1,";
    std::string exact = head + std::string(4096 - head.size() - 1, 'a') + ",";
    ASSERT_EQ(exact.size(), 4096u);
    std::string over = head + std::string(4096 - head.size(), 'a') + ",";
    f.dir.write("online.txt", std::string("nosuch.so,zero,5,1,a") + '\0' + "b,\n" + exact + "\n" + over +
                                  "\n" + exact + "\r\n" + "nosuch.so,after,5,0,\n");
    qel_stats_config_parameters config = {};
    snprintf(config.online_file, sizeof config.online_file, "%s", f.dir.file("online.txt").c_str());
    qel_stats_online_parameter *table = qel_stats_online_parameters_create(&config, f.logger);
    ASSERT_NE(table, nullptr) << f.log();
    ASSERT_EQ(config.online_count, 2) << f.log();
    EXPECT_STREQ(table[0].name, "exact");
    EXPECT_STREQ(table[1].name, "after");
    auto line = [&](int n) {
        return "Parameter line [" + std::to_string(n) + "] of file [" + f.dir.file("online.txt") +
               "] refused: ";
    };
    EXPECT_TRUE(f.logged(line(1) + "it holds a zero byte|")) << f.log();
    EXPECT_TRUE(f.logged(line(3) + "it is longer than 4096 characters|")) << f.log();
    EXPECT_TRUE(f.logged(line(4) + "it is longer than 4096 characters|"))
        << "its carriage return counts, as the line was read" << f.log();
    EXPECT_EQ(f.times_logged("longer than"), 2u);
    qel_stats_online_parameters_destroy(table, config.online_count, f.logger);
}

TEST(QelStatsTables, OfflineTableBindsAndAnUnreadableFileFailsIt)
{
    stats_fixture f;
    std::string probe = STATS_PROBE_PLUGIN;
    f.dir.write("offline.txt", parameter_line(probe, "daily", 930, {"0", "1", "o", "1", "offline"}) +
                                   parameter_line(probe, "bad", 930, {"203", "0", "o", "1", "offline"}) +
                                   parameter_line(PKEFF_PLUGIN, "pk", 0, {"prefix", "folder"}));
    qel_stats_config_parameters config = {};
    snprintf(config.offline_file, sizeof config.offline_file, "%s", f.dir.file("offline.txt").c_str());
    qel_stats_offline_parameter *table = qel_stats_offline_parameters_create(&config, f.logger);
    ASSERT_NE(table, nullptr) << f.log();
    ASSERT_EQ(config.offline_count, 3);
    EXPECT_EQ(table[0].time_of_day, 930);
    EXPECT_STREQ(table[0].parameter_name, "daily");
    EXPECT_NE(table[0].entry_point, nullptr);
    EXPECT_NE(table[0].value, nullptr) << "one value record for a count above 0";
    EXPECT_EQ(table[0].done, 0);
    EXPECT_EQ(table[1].entry_point, nullptr);
    EXPECT_TRUE(f.logged("Error intializing module of dll [" + probe + "]."));
    EXPECT_NE(table[2].entry_point, nullptr);
    EXPECT_EQ(table[2].value, nullptr);
    qel_stats_offline_parameters_destroy(table, config.offline_count, f.logger);

    snprintf(config.offline_file, sizeof config.offline_file, "%s", f.dir.file("absent.txt").c_str());
    EXPECT_EQ(qel_stats_offline_parameters_create(&config, f.logger), nullptr);
    EXPECT_TRUE(f.logged("System Error|Config file open error.Error|qel_stats_offline_parameters_create|"));
    snprintf(config.online_file, sizeof config.online_file, "%s", f.dir.file("absent.txt").c_str());
    EXPECT_EQ(qel_stats_online_parameters_create(&config, f.logger), nullptr);
    EXPECT_TRUE(f.logged("System Error|Config file open error.|qel_stats_online_parameters_create|"));
}

} // namespace

namespace
{

// The example parameter files: every line is accepted, and every counter onstat is asked
// for exists.
TEST(QelStatsTables, ExampleParameterFilesAreWhole)
{
    for (const char *file : {"qelstat_online.txt", "qelstat_offline.txt"})
    {
        std::string text = qel_test::read_file(QEL_TEST_DATA_DIR "/../../config/" + std::string(file));
        size_t lines = 0;
        for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1)
        {
            std::string line = text.substr(at, text.find('\n', at) - at);
            qel_stats_parameter_fields fields;
            std::string reason;
            ASSERT_TRUE(qel_stats_parse_parameter_line(line, &fields, &reason)) << line << ": " << reason;
            ++lines;
            if (fields.plugin_file != "onstat.so")
                continue;
            ASSERT_EQ(fields.arguments.size(), 5u) << line;
            pf_counter_query *query = nullptr;
            pf_counter *counter = nullptr;
            ASSERT_EQ(pf_counter_open_query(&query), 0u);
            EXPECT_EQ(pf_counter_add(query, ("\\" + fields.arguments[0]).c_str(), &counter), 0u) << line;
            pf_counter_close_query(query);
        }
        EXPECT_GT(lines, 0u) << file;
    }
}

} // namespace
