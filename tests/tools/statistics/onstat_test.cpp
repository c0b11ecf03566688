// onstat, loaded as qelstat loads it: init's refusals (too few arguments, a name or unit
// that would not fit, a divisor of 0 or not a number, an unknown counter), values read
// from /proc (this process's threads), the rate that needs two samples, a process that is
// not running, and destroy releasing the handles.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/admin/pf_library.h"
#include "support/qel_stats_fixture.h"
#include "tools/statistics/qel_stats_interface.h"

using qel_test::stats_fixture;

namespace
{

struct onstat_record
{
    qel_stats_online_parameter record = {};
    std::vector<std::string> texts;
    std::vector<char *> argv;
    void *context[QEL_STATS_CONTEXT_WORDS] = {};
    qel_stats_value value = {};

    explicit onstat_record(const std::vector<std::string> &arguments) : texts(arguments)
    {
        for (std::string &text : texts)
            argv.push_back(&text[0]);
        record.argument_count = static_cast<int32_t>(argv.size());
        record.arguments = argv.data();
        record.context = context;
    }
};

struct onstat_plugin
{
    pf_library *library = nullptr;
    qel_stats_entry init = nullptr, get = nullptr, destroy = nullptr;
    onstat_plugin()
    {
        EXPECT_EQ(pf_library_load(ONSTAT_PLUGIN, &library), 0u) << pf_library_error_text();
        void *address = nullptr;
        pf_library_symbol(library, "init", &address);
        init = reinterpret_cast<qel_stats_entry>(address);
        pf_library_symbol(library, "get_qel_statistics", &address);
        get = reinterpret_cast<qel_stats_entry>(address);
        pf_library_symbol(library, "destroy", &address);
        destroy = reinterpret_cast<qel_stats_entry>(address);
    }
    ~onstat_plugin() { pf_library_unload(library); }
    // init, and the value record qelstat would give it.
    int32_t start(onstat_record &r, qel_tools::logger_object *logger)
    {
        int32_t result = init(&r.record, logger);
        if (result == QEL_STATS_SUCCESS)
            r.record.values = &r.value;
        return result;
    }
};

// Threads of a process as /proc tells them.
int threads_of(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.compare(0, 8, "Threads:") == 0)
            return std::stoi(line.substr(8));
    }
    return -1;
}

// A program of a name no other process has: a copy of sleep.
std::string unique_program(const stats_fixture &f)
{
    std::string name = "onstat_probe_" + std::to_string(getpid());
    f.dir.write(name, qel_test::read_file("/bin/sleep"));
    chmod(f.dir.file(name).c_str(), 0755);
    return name;
}

TEST(Onstat, InitRefusesWhatWouldNotFitOrCannotBeComputed)
{
    stats_fixture f;
    onstat_plugin plugin;
    struct
    {
        std::vector<std::string> arguments;
        const char *logged;
    } cases[] = {
        {{"Memory\\Available Bytes", "3", "Memory", "KB"},
         "Argument count is lesser than expected for onstat.dll"},
        {{"Memory\\Available Bytes", "3", std::string(256, 'n'), "KB", "1024"},
         "Argument [3] of onstat for MarketId [3] is longer than [255]"},
        {{"Memory\\Available Bytes", "3", "Memory", std::string(16, 'u'), "1024"},
         "Argument [4] of onstat for MarketId [3] is longer than [15]"},
        {{"Memory\\Available Bytes", "3", "Memory", "KB", "0"}, "Divisor [0] of onstat for MarketId [3]"},
        {{"Memory\\Available Bytes", "3", "Memory", "KB", "kilo"},
         "Divisor [kilo] of onstat for MarketId [3]"},
        {{"Disk\\Free Bytes", "4", "Disk", "KB", "1"},
         "PdhAddCounter failed for onstat and MarketId [4]. Error Code [3221228472]"},
        {{"Memory\\Free Bytes", "5", "Memory", "KB", "1"},
         "PdhAddCounter failed for onstat and MarketId [5]. Error Code [3221228473]"},
    };
    for (auto &c : cases)
    {
        onstat_record r(c.arguments);
        EXPECT_EQ(plugin.start(r, f.logger), QEL_STATS_VALID) << c.logged;
        EXPECT_TRUE(f.logged(std::string("Activity|") + c.logged)) << f.log();
        EXPECT_EQ(f.log().find("|arguments_fit|"), std::string::npos) << "lines carry the entry point's name";
        EXPECT_EQ(r.record.value_count, 0u);
        EXPECT_EQ(plugin.destroy(&r.record, f.logger), QEL_STATS_SUCCESS);
        EXPECT_EQ(r.context[0], nullptr) << "destroy closed the query init opened";
    }
}

TEST(Onstat, ThreadCountOfAProcessAndDivisor)
{
    stats_fixture f;
    onstat_plugin plugin;
    std::string name = unique_program(f);
    qel_test::child_process program({f.dir.file(name), "30"}, f.dir.path());
    std::string exe = "/proc/" + std::to_string(program.pid()) + "/exe";
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            char target[4096] = "";
            ssize_t got = readlink(exe.c_str(), target, sizeof target - 1);
            return got > 0 && std::string(target, static_cast<size_t>(got)) == f.dir.file(name);
        },
        5000));
    // The name ignoring case and ".exe", as the parameter files of the other platform wrote it.
    for (char &c : name)
        c = static_cast<char>(toupper(c));
    onstat_record r({"Process(" + name + ".exe)\\Thread Count", "3", "Test threads", "count", "1"});
    ASSERT_EQ(plugin.start(r, f.logger), QEL_STATS_SUCCESS) << f.log();
    EXPECT_EQ(r.record.value_count, 1u);
    void *query = r.context[0], *counter = r.context[1];
    EXPECT_NE(query, nullptr);
    EXPECT_NE(counter, nullptr);
    ASSERT_EQ(plugin.init(&r.record, f.logger), QEL_STATS_SUCCESS);
    EXPECT_EQ(r.context[0], query) << "a repeated init reuses its handles";
    EXPECT_EQ(r.context[1], counter);

    ASSERT_EQ(plugin.get(&r.record, f.logger), QEL_STATS_SUCCESS) << f.log();
    EXPECT_EQ(std::string(r.value.value), std::to_string(threads_of(program.pid())) + ".00");
    EXPECT_STREQ(r.value.name, "Test threads");
    EXPECT_STREQ(r.value.unit, "count");
    EXPECT_EQ(r.value.id, 3);
    program.signal(SIGKILL);
    program.wait(5000);
    EXPECT_EQ(plugin.get(&r.record, f.logger), QEL_STATS_VALID) << "the process has ended";
    EXPECT_EQ(plugin.destroy(&r.record, f.logger), QEL_STATS_SUCCESS);
    EXPECT_EQ(r.context[0], nullptr);
    EXPECT_EQ(r.context[1], nullptr);
    EXPECT_EQ(r.record.value_count, 0u);

    onstat_record kb({"Memory\\Available Bytes", "100", "Free memory", "KB", "1024"});
    ASSERT_EQ(plugin.start(kb, f.logger), QEL_STATS_SUCCESS);
    ASSERT_EQ(plugin.get(&kb.record, f.logger), QEL_STATS_SUCCESS);
    double kilobytes = atof(kb.value.value);
    EXPECT_GT(kilobytes, 1024.0);
    EXPECT_NE(strchr(kb.value.value, '.'), nullptr);
    EXPECT_EQ(strlen(strchr(kb.value.value, '.')), 3u) << "two decimals";
    plugin.destroy(&kb.record, f.logger);
}

TEST(Onstat, RateNeedsTwoSamplesAndAMissingProcessGivesNoData)
{
    stats_fixture f;
    onstat_plugin plugin;
    onstat_record rate({"Processor(_Total)\\% Processor Time", "100", "CPU", "%", "1"});
    ASSERT_EQ(plugin.start(rate, f.logger), QEL_STATS_SUCCESS);
    EXPECT_EQ(plugin.get(&rate.record, f.logger), QEL_STATS_VALID);
    EXPECT_TRUE(
        f.logged("Activity|The specified Counter for CPU and Market Id [100] doesn't contain valid data|"
                 "get_qel_statistics|online.cpp|"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(plugin.get(&rate.record, f.logger), QEL_STATS_SUCCESS) << f.log();
    double share = atof(rate.value.value);
    EXPECT_GE(share, 0.0);
    EXPECT_LE(share, 100.0);
    plugin.destroy(&rate.record, f.logger);

    onstat_record gone({"Process(no_such_program)\\Working Set", "2", "Gone", "B", "1"});
    ASSERT_EQ(plugin.start(gone, f.logger), QEL_STATS_SUCCESS) << "an absent process is no reason to refuse";
    EXPECT_EQ(plugin.get(&gone.record, f.logger), QEL_STATS_VALID);
    EXPECT_TRUE(f.logged("The specified Counter for Gone and Market Id [2] doesn't contain valid data"));
    plugin.destroy(&gone.record, f.logger);
}

} // namespace
