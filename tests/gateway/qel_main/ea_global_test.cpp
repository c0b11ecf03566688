// The global context: keys and their defaults, the queue types, a creation that fails
// late taking down everything built before it, and the function its lines are logged under;
// the worker threads made from it log their loop's lines under their routines' names.
#include "gateway/qel_main/ea_global.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "gateway/qel_main/qel_main.h"
#include "gateway/qel_main/qel_threads.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/user_link_info.h"
#include "support/gateway_config.h"
#include "support/gateway_log.h"

using qel_test::gateway_config;
using qel_test::temp_dir;

namespace
{
// A context built in-process, with its loggers writing into the test's folder.
struct global_fixture
{
    temp_dir dir;
    gateway_config config;
    std::string config_file;
    logger_object_container *loggers = nullptr;
    ea_global *global = nullptr;

    global_fixture()
    {
        config.values["LOG_FILE_PATH"] = dir.file("logs");
        config.values["FIX_FILE_PATH"] = dir.file("fix_settings.cfg");
        config.values["KOVA_EVENT_LOG_FILE"] = dir.file("logs/kova_event_log.dat");
    }
    ~global_fixture()
    {
        ea_global_destroy(global, main_logger());
        logger_object_container_destroy(loggers);
    }
    logger_object *main_logger() { return loggers ? loggers->loggers[QEL_MAIN_LOGGER_INDEX] : nullptr; }
    ea_global *create()
    {
        config_file = config.write(dir);
        loggers = logger_object_container_create(config_file.c_str(), qel_logger_names, QEL_LOGGER_COUNT);
        if (loggers == nullptr)
            return nullptr;
        global = ea_global_create(config_file.c_str(), main_logger(), loggers->loggers[QEL_FIX_LOGGER_INDEX]);
        return global;
    }
};
} // namespace

TEST(EaGlobal, MissingOptionalKeysTakeTheirDefaults)
{
    global_fixture f;
    f.config.omitted = {"NUMBER_OF_LINKS", "FLOW_CONTROL_COUNT"};
    ASSERT_NE(f.create(), nullptr);
    EXPECT_EQ(f.global->number_of_links, 1);
    EXPECT_EQ(f.global->flow_control_count, 1);
    EXPECT_EQ(f.global->receive_count, 1u);
    EXPECT_EQ(ea_flag_get(&f.global->base_rate_control), 100);
    EXPECT_EQ(f.global->max_tws_clients, 10);
}

TEST(EaGlobal, FlowControlCountBelowOneBecomesOne)
{
    for (const char *value : {"0", "-4"})
    {
        global_fixture f;
        f.config.values["FLOW_CONTROL_COUNT"] = value;
        ASSERT_NE(f.create(), nullptr) << value;
        EXPECT_EQ(f.global->flow_control_count, 1) << value;
    }
}

TEST(EaGlobal, NetworkThreadsInputQueuesAreSignalledByNetworkEvents)
{
    global_fixture f;
    ASSERT_NE(f.create(), nullptr);
    for (int i = 0; i < EA_SHARED_QUEUE_COUNT; ++i)
    {
        uint32_t expected =
            (i == 3 || i == 11 || i == 16) ? SHARED_QUEUE_NETWORK_EVENT : SHARED_QUEUE_SEMAPHORE;
        EXPECT_EQ(shared_queue_get_type(f.global->array_of_shared_queues[i]), expected) << "queue " << i;
    }
}

TEST(EaGlobal, SharedArraysStartCleared)
{
    global_fixture f;
    f.config.values["NUMBER_OF_LINKS"] = "3";
    ASSERT_NE(f.create(), nullptr);
    for (int link = 0; link < 3; ++link)
    {
        EXPECT_EQ(ea_flag_get(&f.global->box_rate_control_count[link]), 0);
        EXPECT_EQ(ea_flag_get(&f.global->allow_invitations_flag[link]), 0);
        EXPECT_EQ(ea_flag_get(&f.global->recovery_queue_overflow[link]), 0);
        EXPECT_EQ(ea_flag_get(&f.global->session_recovery_flag[link]), 0);
    }
    for (int slot = 0; slot < 2 * 10; ++slot)
        EXPECT_EQ(ea_flag_get(&f.global->user_logoff_in_progress[slot]), 0);
}

TEST(EaGlobal, LateFailureDestroysEverythingBuiltBefore)
{
    global_fixture f;
    f.config.values["FIX_FILE_PATH"] = "does_not_exist.cfg";
    f.config_file = f.config.write(f.dir);
    f.loggers = logger_object_container_create(f.config_file.c_str(), qel_logger_names, QEL_LOGGER_COUNT);
    ASSERT_NE(f.loggers, nullptr);
    // Under the sanitizer run a module left behind shows as a leak.
    EXPECT_EQ(
        ea_global_create(f.config_file.c_str(), f.main_logger(), f.loggers->loggers[QEL_FIX_LOGGER_INDEX]),
        nullptr);
}

TEST(EaGlobal, CreationLogsItsLinesUnderEaGlobalCreate)
{
    const struct
    {
        const char *name;
        std::map<std::string, std::string> values;
        std::set<std::string> omitted;
        bool created;
        std::vector<std::string> lines; // beginnings of main's lines
        bool fix_failed;                // the FIX application's reason, on its own logger
    } cases[] = {
        {"keys found, a flow-control count replaced",
         {{"NUMBER_OF_LINKS", "2"}, {"FLOW_CONTROL_COUNT", "0"}},
         {},
         true,
         {"[NUMBER_OF_LINKS] parameter found in config file",
          "[FLOW_CONTROL_COUNT] parameter found in config file",
          "FLOW_CONTROL_COUNT is [0] so taking default value[1]"},
         false},
        {"a required key missing",
         {},
         {"MAX_TWS_CLIENTS"},
         false,
         {"[MAX_TWS_CLIENTS] parameter not found"},
         false},
        {"a port out of range",
         {{"INTERFACE_REALTIME_PORT_NUMBER", "70000"}},
         {},
         false,
         {"[INTERFACE_REALTIME_PORT_NUMBER] value [70000] in config file"},
         false},
        {"a module that cannot be made",
         {},
         {"HOST_PORT_NUMBER"},
         false,
         {"ea_global_ptr->user_link_info: is NULL."},
         false},
        {"the FIX application that cannot be made",
         {{"FIX_FILE_PATH", "does_not_exist.cfg"}},
         {},
         false,
         {"ea_global_ptr->fix_nw_info: is NULL."},
         true},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        global_fixture f;
        for (const auto &value : c.values)
            f.config.values[value.first] = value.second;
        f.config.omitted = c.omitted;
        EXPECT_EQ(f.create() != nullptr, c.created);
        const auto lines = qel_test::gateway_log_lines(f.dir.file("logs"), "main");
        for (const std::string &text : c.lines)
            EXPECT_EQ(qel_test::functions_of_lines(lines, text), std::vector<std::string>{"ea_global_create"})
                << text;
        if (c.fix_failed)
        {
            const auto fix_lines =
                qel_test::gateway_log_lines(f.dir.file("logs"), "fix_network_handler_recv_thread");
            ASSERT_FALSE(fix_lines.empty());
            EXPECT_EQ(fix_lines.back().function, "fix_nw_info_create");
        }
    }
}

TEST(QelThreads, AFailedWaitIsLoggedUnderTheThreadRoutinesName)
{
    // Every thread waits on shared queues of the other kind than it expects, so that its
    // first wait fails. The state controller only sleeps in its wait.
    const struct
    {
        int index;
        const char *routine;
        const char *line;
    } threads[] = {
        {0, "tws_nw_handler_thread", "tcp_nw_info_get_client failed"},
        {1, "tws_receive_validate_thread", "shared_queue_get_elements_from_single_queue return ERROR"},
        {2, "tws_send_validate_thread", "shared_queue_get_elements_from_multiple_queues returned ERROR"},
        {3, "user_session_thread", "shared_queue_get_elements_from_multiple_queues returned EA_ERROR"},
        {4, "request_data_processing_thread", "retreival from shared queue failed."},
        {5, "th_session_module_thread", "shared queue get elements from multiple queues failed"},
        {6, "response_data_processing_thread", "retreival from shared queue failed."},
        {7, "th_send_validator_thread", "Getting messages from shared queue failed"},
        {8, "th_receive_validator_thread", "Getting messages from shared queue failed"},
        {9, "th_nw_handler_thread", "th_nw_info_get_elements returns ERROR"},
        {10, "box_comm_thread", "shared_queue_get_elements_from_multiple_queues returned EA_ERROR"},
        {12, "interface_thread", "shared_queue_get_elements_from_single_queue failed"},
        {13, "fix_nw_handler_send_thread", "retreival from shared queue failed."},
    };
    global_fixture f;
    ASSERT_NE(f.create(), nullptr);
    shared_queue *kept[EA_SHARED_QUEUE_COUNT];
    for (int i = 0; i < EA_SHARED_QUEUE_COUNT; ++i)
    {
        kept[i] = f.global->array_of_shared_queues[i];
        f.global->array_of_shared_queues[i] = shared_queue_create(
            shared_queue_get_type(kept[i]) == SHARED_QUEUE_SEMAPHORE ? SHARED_QUEUE_NETWORK_EVENT
                                                                     : SHARED_QUEUE_SEMAPHORE);
        ASSERT_NE(f.global->array_of_shared_queues[i], nullptr);
    }
    qel_thread_table table{};
    ASSERT_EQ(qel_threads_create_args(&table, f.global, f.loggers, f.main_logger()), EA_SUCCESS);
    for (const auto &t : threads)
    {
        SCOPED_TRACE(t.routine);
        ea_flag_set(&f.global->shutdown_flag, 0);
        ea_thread *thread = ea_thread_create(table.routines[t.index], table.args[t.index], nullptr);
        ASSERT_NE(thread, nullptr);
        const ea_status joined = ea_thread_join(thread, 30000, nullptr);
        if (joined != EA_SUCCESS)
        {
            ea_flag_set(&f.global->shutdown_flag, 1);
            ea_thread_join(thread, 30000, nullptr);
        }
        EXPECT_EQ(joined, EA_SUCCESS) << "the thread did not end on its failed wait";
        EXPECT_EQ(thread->exit_value, static_cast<int32_t>(EA_ERROR));
        ea_thread_close(thread);
        EXPECT_EQ(qel_test::functions_of_lines(
                      qel_test::gateway_log_lines(f.dir.file("logs"), qel_logger_names[t.index]), t.line),
                  std::vector<std::string>{t.routine});
    }
    qel_threads_free_args(&table);
    queue *left = queue_create();
    for (int i = 0; i < EA_SHARED_QUEUE_COUNT; ++i)
    {
        shared_queue_get_elements_no_wait(f.global->array_of_shared_queues[i], left);
        shared_queue_destroy(f.global->array_of_shared_queues[i]);
        f.global->array_of_shared_queues[i] = kept[i];
    }
    ea_destroy_message_queue(left);
}

TEST(QelMain, ExitCodeFromThreadExitValues)
{
    struct
    {
        std::vector<int32_t> values;
        int32_t expected;
    } cases[] = {
        {{204, 204, 204}, 0},         {{204, 10001, 204}, 10001}, {{10000, 10001, 204}, 10000},
        {{10001, 10000, 204}, 10000}, {{0, 204, 10001}, 10001},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qel_main_exit_code(c.values.data(), static_cast<uint32_t>(c.values.size())), c.expected);
}

TEST(QelMain, DayRollSetsEveryDayFlagAndRenamesMainsFiles)
{
    global_fixture f;
    ASSERT_NE(f.create(), nullptr);
    EA_LOG(f.main_logger(), EA_LEVEL_EVENT, "before the roll");
    auto current_files = [&]
    {
        int n = 0;
        for (const std::string &name : f.dir.list("logs"))
            n += name.find("main_text.") == 0 && name.find(".current.") != std::string::npos;
        return n;
    };
    ASSERT_EQ(current_files(), 1);

    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    int noted = local.tm_yday;
    EXPECT_FALSE(qel_main_roll_day(now, &noted, f.loggers, f.main_logger(), f.global));
    for (const ea_flag &flag : f.global->day_flags)
        EXPECT_EQ(ea_flag_get(&flag), 0);

    time_t tomorrow = now + 24 * 3600;
    EXPECT_TRUE(qel_main_roll_day(tomorrow, &noted, f.loggers, f.main_logger(), f.global));
    localtime_r(&tomorrow, &local);
    EXPECT_EQ(noted, local.tm_yday);
    for (const ea_flag &flag : f.global->day_flags)
        EXPECT_EQ(ea_flag_get(&flag), 1);
    // The roll reopened main's logger and wrote the parameters into a new current file;
    // the one of the day before carries its repository name.
    int repository = 0;
    for (const std::string &name : f.dir.list("logs"))
        repository += name.find("main_text.") == 0 && name.find(".repository.") != std::string::npos;
    EXPECT_EQ(repository, 1);
    EXPECT_EQ(current_files(), 1);
}
