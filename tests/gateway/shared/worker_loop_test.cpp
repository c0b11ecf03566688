// The worker threads' loop: the order of a pass's steps, what a wait without records skips,
// the day change, how a failing step or the shutdown flag ends the loop, and the routine's
// name that the steps' lines are logged under.
#include "gateway/shared/worker_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "support/gateway_log.h"
#include "support/test_support.h"

namespace
{

// Steps that write down what ran; the shutdown flag goes up after `passes` passes. A step
// named in `failing` returns `failure` instead of EA_SUCCESS.
struct recorded_steps
{
    ea_flag *shutdown_flag = nullptr;
    int passes = 1;
    ea_status waited = EA_SUCCESS;
    std::string failing;
    ea_status failure = EA_ERROR;
    std::string trace;

    ea_status step(const char *name)
    {
        trace += name;
        trace += ' ';
        return failing == name ? failure : EA_SUCCESS;
    }
    ea_status new_day() { return step("day"); }
    ea_status wait()
    {
        const ea_status status = step("wait");
        return status != EA_SUCCESS ? status : waited;
    }
    ea_status process() { return step("process"); }
    ea_status each_pass()
    {
        if (--passes == 0)
            ea_flag_set(shutdown_flag, 1);
        return step("pass");
    }
};

// A thread with only a wait: the steps it leaves out do nothing.
struct wait_only_steps : worker_steps
{
    int waits = 0;
    ea_flag *shutdown_flag = nullptr;
    ea_status wait()
    {
        if (++waits == 2)
            ea_flag_set(shutdown_flag, 1);
        return EA_SUCCESS;
    }
};

class WorkerLoop : public ::testing::Test
{
  protected:
    ea_flag shutdown{0};
    ea_flag day{0};
    recorded_steps steps;

    void SetUp() override { steps.shutdown_flag = &shutdown; }

    ea_status run() { return worker_loop_run(steps, &shutdown, &day, nullptr); }
};

TEST_F(WorkerLoop, RunsWaitProcessAndPassInOrderUntilTheShutdownFlag)
{
    steps.passes = 2;
    EXPECT_EQ(run(), EA_SHUTDOWN);
    EXPECT_EQ(steps.trace, "wait process pass wait process pass ");
}

TEST_F(WorkerLoop, RaisedShutdownFlagRunsNoStep)
{
    ea_flag_set(&shutdown, 1);
    ea_flag_set(&day, 1);
    EXPECT_EQ(run(), EA_SHUTDOWN);
    EXPECT_EQ(steps.trace, "");
    EXPECT_EQ(ea_flag_get(&day), 1);
}

TEST_F(WorkerLoop, WaitWithoutRecordsSkipsProcessButNotThePass)
{
    steps.waited = EA_NO_DATA;
    EXPECT_EQ(run(), EA_SHUTDOWN);
    EXPECT_EQ(steps.trace, "wait pass ");
}

TEST_F(WorkerLoop, DayChangeRunsBeforeTheWaitOnceAndClearsTheFlag)
{
    steps.passes = 2;
    ea_flag_set(&day, 1);
    EXPECT_EQ(run(), EA_SHUTDOWN);
    EXPECT_EQ(steps.trace, "day wait process pass wait process pass ");
    EXPECT_EQ(ea_flag_get(&day), 0);
}

TEST_F(WorkerLoop, FailedDayChangeEndsTheLoopAndLeavesTheFlagSet)
{
    ea_flag_set(&day, 1);
    steps.failing = "day";
    EXPECT_EQ(run(), EA_ERROR);
    EXPECT_EQ(steps.trace, "day ");
    EXPECT_EQ(ea_flag_get(&day), 1);
}

TEST_F(WorkerLoop, FailingStepEndsThePassWithItsStatus)
{
    struct
    {
        const char *step;
        ea_status failure;
        const char *trace;
    } cases[] = {
        {"wait", EA_ERROR, "wait "},
        {"process", EA_ERROR, "wait process "},
        {"process", EA_RESTART, "wait process "},
        {"pass", EA_ERROR, "wait process pass "},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(std::string(c.step) + " " + std::to_string(c.failure));
        recorded_steps failing;
        failing.shutdown_flag = &shutdown;
        failing.passes = 3;
        failing.failing = c.step;
        failing.failure = c.failure;
        ea_flag_set(&shutdown, 0);
        EXPECT_EQ(worker_loop_run(failing, &shutdown, &day, nullptr), c.failure);
        EXPECT_EQ(failing.trace, c.trace);
        EXPECT_EQ(ea_flag_get(&shutdown), 0);
    }
}

TEST_F(WorkerLoop, LeftOutStepsDoNothing)
{
    wait_only_steps waits;
    waits.shutdown_flag = &shutdown;
    ea_flag_set(&day, 1);
    EXPECT_EQ(worker_loop_run(waits, &shutdown, &day, nullptr), EA_SHUTDOWN);
    EXPECT_EQ(waits.waits, 2);
    EXPECT_EQ(ea_flag_get(&day), 0);
}

// The three fields every worker thread's argument record carries.
struct thread_args
{
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

TEST(WorkerThread, EndFreesTheQueuesWithTheirRecordsAndRaisesTheFlagUnlessShutDown)
{
    const ea_status ends[] = {EA_SHUTDOWN, EA_ERROR, EA_RESTART};
    for (ea_status end : ends)
    {
        SCOPED_TRACE(end);
        ea_flag shutdown{0};
        queue *locals[2] = {};
        ASSERT_EQ(worker_queues_create(locals), -1);
        ASSERT_EQ(queue_append(locals[1], message_create(8, NORMAL_MESSAGE)), EA_SUCCESS);
        EXPECT_EQ(worker_thread_end(&shutdown, locals, end), static_cast<uint32_t>(end));
        EXPECT_EQ(ea_flag_get(&shutdown), end == EA_SHUTDOWN ? 0 : 1);
        EXPECT_EQ(locals[0], nullptr);
        EXPECT_EQ(locals[1], nullptr);
    }
}

TEST(WorkerThread, RunGivesTheStepsTheirQueuesAndEndsWithTheLoop)
{
    struct queue_steps : worker_steps
    {
        queue *locals[3] = {};
        ea_flag *shutdown_flag = nullptr;
        bool saw_queues = false;
        ea_status wait()
        {
            saw_queues = locals[0] != nullptr && locals[1] != nullptr && locals[2] != nullptr;
            return EA_NO_DATA;
        }
        ea_status each_pass() { return saw_queues ? EA_RESTART : EA_ERROR; }
    };
    ea_flag shutdown{0};
    ea_flag day{0};
    thread_args args = {&shutdown, &day, nullptr};
    queue_steps steps;
    EXPECT_EQ(worker_thread_run(&args, steps, steps.locals, "a_thread", "not used"),
              static_cast<uint32_t>(EA_RESTART));
    EXPECT_TRUE(steps.saw_queues);
    EXPECT_EQ(ea_flag_get(&shutdown), 1);
    EXPECT_EQ(steps.locals[0], nullptr);
}

TEST(WorkerThread, RunOnARaisedFlagEndsWithShutdownAndLeavesTheFlagAsItIs)
{
    ea_flag shutdown{1};
    ea_flag day{0};
    thread_args args = {&shutdown, &day, nullptr};
    wait_only_steps steps;
    queue *locals[1] = {};
    EXPECT_EQ(worker_thread_run(&args, steps, locals, "a_thread", "not used"),
              static_cast<uint32_t>(EA_SHUTDOWN));
    EXPECT_EQ(steps.waits, 0);
    EXPECT_EQ(ea_flag_get(&shutdown), 1);
}

// Steps made from the argument record, as a thread routine makes them.
struct made_steps : wait_only_steps
{
    queue *locals[2] = {};
    explicit made_steps(thread_args *args) { shutdown_flag = args->shutdown_flag; }
};

TEST(WorkerThread, MainMakesTheStepsFromTheArgumentRecordAndChecksItWhenAsked)
{
    ea_flag shutdown{0};
    ea_flag day{0};
    thread_args args = {&shutdown, &day, nullptr};
    EXPECT_EQ((worker_thread_main_checked<made_steps, thread_args>(&args, "a_thread", "not used")),
              static_cast<uint32_t>(EA_SHUTDOWN));
    EXPECT_EQ(ea_flag_get(&shutdown), 1); // raised by the steps' second wait
    ea_flag_set(&shutdown, 0);
    EXPECT_EQ((worker_thread_main_checked<made_steps, thread_args>(nullptr, "a_thread", "not used")),
              static_cast<uint32_t>(EA_ERROR));
    EXPECT_EQ(ea_flag_get(&shutdown), 0);
}

TEST(WorkerThread, StepsLogTheirLinesUnderTheNameTheRoutineGave)
{
    // A thread whose wait fails on its second pass, after a line of its own on the first.
    struct logging_steps : worker_steps
    {
        logger_object *logger = nullptr;
        queue *locals[1] = {};
        int waits = 0;
        ea_status wait()
        {
            if (++waits == 1)
            {
                EA_LOG_IN(routine, logger, EA_LEVEL_EVENT, "first pass");
                return EA_NO_DATA;
            }
            return worker_step_failed(routine, logger, "wait failed");
        }
    };
    qel_test::temp_dir dir;
    dir.write("log.cfg", "LOG_FILE_PATH=" + dir.path() + "\n");
    const char *names[] = {"a_thread"};
    logger_object_container *loggers = logger_object_container_create(dir.file("log.cfg").c_str(), names, 1);
    ASSERT_NE(loggers, nullptr);
    ea_flag shutdown{0};
    ea_flag day{0};
    thread_args args = {&shutdown, &day, loggers->loggers[0]};
    logging_steps steps;
    steps.logger = loggers->loggers[0];
    EXPECT_EQ(worker_thread_run(&args, steps, steps.locals, "a_thread_routine", "not used"),
              static_cast<uint32_t>(EA_ERROR));
    const auto lines = qel_test::gateway_log_lines(dir.path(), "a_thread");
    EXPECT_EQ(qel_test::functions_of_lines(lines, "first pass"),
              std::vector<std::string>{"a_thread_routine"});
    EXPECT_EQ(qel_test::functions_of_lines(lines, "wait failed"),
              std::vector<std::string>{"a_thread_routine"});
    logger_object_container_destroy(loggers);
}

} // namespace
