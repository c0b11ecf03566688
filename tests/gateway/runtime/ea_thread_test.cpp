// Thread objects: exit values, joining one thread or any/all of several with time-outs,
// suspension, and the log lines each function writes.
#include "gateway/runtime/ea_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "gateway/runtime/ea_sync_info.h"
#include "gateway/runtime/logger.h"
#include "support/test_support.h"

namespace
{
struct gate
{
    std::atomic<bool> open{false};
    uint32_t value = 0;
};

uint32_t return_when_open(void *argument)
{
    gate *g = static_cast<gate *>(argument);
    while (!g->open.load())
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return g->value;
}

struct counter
{
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> count{0};
};

uint32_t count_until_stopped(void *argument)
{
    counter *c = static_cast<counter *>(argument);
    while (!c->stop.load())
    {
        c->count.fetch_add(1);
        std::this_thread::yield();
    }
    return 0;
}

// A logger writing into a temporary folder, and everything it wrote.
struct logged : ::testing::Test
{
    qel_test::temp_dir dir;
    logger_object_container *container = nullptr;
    logger_object *logger = nullptr;

    void SetUp() override
    {
        dir.write("test.cfg", "LOG_FILE_PATH=" + dir.path() + "\nSYSTEM_LOGGING_LEVEL=DEBUG\n");
        const char *names[] = {"main"};
        container = logger_object_container_create(dir.file("test.cfg").c_str(), names, 1);
        ASSERT_NE(container, nullptr);
        logger = container->loggers[0];
    }

    std::string log_text()
    {
        logger_object_container_destroy(container);
        container = nullptr;
        std::string text;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path()))
        {
            if (entry.is_regular_file() && entry.path().filename() != "test.cfg")
            {
                text += qel_test::read_file(entry.path().string());
            }
        }
        return text;
    }

    void TearDown() override { logger_object_container_destroy(container); }
};
} // namespace

using EaThread = logged;

TEST_F(EaThread, JoinReportsTimeOutThenTheExitValue)
{
    gate g;
    g.value = 10001;
    ea_thread *t = ea_thread_create(return_when_open, &g, logger);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t->thread_id, 0u);
    EXPECT_NE(t->thread_id, ea_thread_current_id());
    EXPECT_EQ(ea_thread_join(t, 10, logger), EA_WAIT_TIME_OUT);
    g.open = true;
    EXPECT_EQ(ea_thread_join(t, EA_INFINITE, logger), EA_SUCCESS);
    EXPECT_EQ(t->exit_value, 10001);
    std::string id = std::to_string(t->thread_id);
    ea_thread_close(t);
    std::string text = log_text();
    EXPECT_NE(text.find("Thread created with id : [" + id + "]"), std::string::npos) << text;
    EXPECT_NE(text.find("Waiting operation on thread timed out."), std::string::npos) << text;
}

TEST_F(EaThread, JoinAnyGivesTheIndexAndJoinAllGivesMinusOne)
{
    gate gates[3];
    ea_thread *threads[3];
    for (int i = 0; i < 3; ++i)
    {
        gates[i].value = static_cast<uint32_t>(i == 1 ? 204 : 10000);
        threads[i] = ea_thread_create(return_when_open, &gates[i], logger);
        ASSERT_NE(threads[i], nullptr);
    }
    int32_t index = 7;
    EXPECT_EQ(ea_multiple_thread_join(threads, 3, false, 10, &index, logger), EA_WAIT_TIME_OUT);
    EXPECT_EQ(index, -1);
    gates[1].open = true;
    EXPECT_EQ(ea_multiple_thread_join(threads, 3, false, EA_INFINITE, &index, logger), EA_SUCCESS);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(threads[1]->exit_value, 204);
    EXPECT_EQ(ea_multiple_thread_join(threads, 3, true, 10, &index, logger), EA_WAIT_TIME_OUT);
    EXPECT_EQ(index, -1);
    gates[0].open = true;
    gates[2].open = true;
    index = 7;
    EXPECT_EQ(ea_multiple_thread_join(threads, 3, true, EA_INFINITE, &index, logger), EA_SUCCESS);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(threads[0]->exit_value, 10000);
    EXPECT_EQ(threads[2]->exit_value, 10000);
    for (ea_thread *t : threads)
    {
        ea_thread_close(t);
    }
}

TEST_F(EaThread, MoreThan64ThreadsAreRefused)
{
    ea_thread *threads[65] = {};
    int32_t index = 7;
    EXPECT_EQ(ea_multiple_thread_join(threads, 65, false, EA_INFINITE, &index, logger), EA_ERROR);
    EXPECT_EQ(index, -1);
}

TEST_F(EaThread, SuspendAndResume)
{
    counter c;
    ea_thread *t = ea_thread_create(count_until_stopped, &c, logger);
    ASSERT_TRUE(qel_test::wait_until([&] { return c.count.load() > 0; }, 5000));
    ASSERT_EQ(ea_thread_suspend(t, logger), EA_SUCCESS);
    uint64_t frozen = c.count.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(c.count.load(), frozen);
    ASSERT_EQ(ea_thread_resume(t, logger), EA_SUCCESS);
    EXPECT_TRUE(qel_test::wait_until([&] { return c.count.load() > frozen; }, 5000));
    c.stop = true;
    ASSERT_EQ(ea_thread_join(t, EA_INFINITE, logger), EA_SUCCESS);
    EXPECT_EQ(ea_thread_suspend(t, logger), EA_ERROR);
    ea_thread_close(t);
    EXPECT_NE(log_text().find("SuspendThread failed with error code : [5]"), std::string::npos);
}

TEST_F(EaThread, ClosingARunningThreadAndANullOne)
{
    // The gate outlives the test: the thread may still read it after the test ends.
    static gate g;
    ea_thread *t = ea_thread_create(return_when_open, &g, logger);
    ea_thread_close(t);
    g.open = true;
    testing::internal::CaptureStderr();
    ea_thread_close(nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ea_thread is already NULL. File ["),
              std::string::npos);
}
