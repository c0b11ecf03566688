// The loop every worker thread of the gateway runs, written once. Until the gateway's
// shutdown flag is raised, each pass first reopens the thread's log when its day flag is
// set, then runs the thread's own steps:
//
//   wait()       takes in what came, or waits out the thread's time; EA_NO_DATA when
//                nothing came
//   process()    handles what the wait took in and moves the outputs on; skipped after
//                EA_NO_DATA
//   each_pass()  the work of every pass, records or not (timers, supervision, sending)
//   new_day()    what the thread does on a day change besides reopening its log
//   at_stop()    once, when the passes are over however they ended: what the thread still
//                holds back or counts (log_hold.h, log_fold.h) is written, so that nothing
//                vanishes with the stop
//
// A step returns EA_SUCCESS to go on; any other status ends the loop with that status, the
// step having logged why. The texts and the order of work inside the steps are the
// thread's own, and so is the name they are logged under: the thread routine hands its
// name down (`routine`), and the steps and the lines written here for the thread use it. Header only (and
// C++14), so that the FIX front end and the processing layer use it as the other modules do.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/queue.h"

// The steps a thread may leave out, and the name its lines are logged under.
struct worker_steps
{
    const char *routine = "";

    ea_status new_day() { return EA_SUCCESS; }
    ea_status process() { return EA_SUCCESS; }
    ea_status each_pass() { return EA_SUCCESS; }
    void at_stop() {}
};

// A step's failure: logs the text under the thread routine's name and gives EA_ERROR.
inline ea_status worker_step_failed(const char *routine, logger_object *logger, const char *text)
{
    EA_LOG_IN(routine, logger, EA_LEVEL_SYSTEM_ERROR, "%s", text);
    return EA_ERROR;
}

// Runs the passes; EA_SHUTDOWN when the shutdown flag ended them, else the status of the
// step that did. The day flag stays set when new_day() fails.
template <typename Steps>
ea_status worker_loop_run(Steps &steps, ea_flag *shutdown_flag, ea_flag *day_flag, logger_object *logger)
{
    while (ea_flag_get(shutdown_flag) == 0)
    {
        if (ea_flag_get(day_flag) != 0)
        {
            logger_object_reopen(logger);
            const ea_status renewed = steps.new_day();
            if (renewed != EA_SUCCESS)
                return renewed;
            ea_flag_set(day_flag, 0);
        }
        ea_status status = steps.wait();
        if (status != EA_NO_DATA)
        {
            if (status != EA_SUCCESS)
                return status;
            status = steps.process();
            if (status != EA_SUCCESS)
                return status;
        }
        status = steps.each_pass();
        if (status != EA_SUCCESS)
            return status;
    }
    return EA_SHUTDOWN;
}

// Makes every local queue of a thread; the index of the first that could not be made (it
// and those after it stay null), or -1.
template <size_t N> int worker_queues_create(queue *(&locals)[N])
{
    for (size_t i = 0; i < N; ++i)
    {
        locals[i] = queue_create();
        if (locals[i] == nullptr)
            return static_cast<int>(i);
    }
    return -1;
}

// The end of a worker thread: its local queues are freed with the records they hold, and a
// thread that stops for any reason but the shutdown flag raises the flag, so that the rest
// of the gateway stops with it. The thread routine's result.
template <size_t N> uint32_t worker_thread_end(ea_flag *shutdown_flag, queue *(&locals)[N], ea_status result)
{
    ea_destroy_message_queue_array(locals, N);
    if (result != EA_SHUTDOWN)
        ea_flag_set(shutdown_flag, 1);
    return static_cast<uint32_t>(result);
}

// A worker thread's life after its argument record was checked: the steps take the thread
// routine's name, its local queues are made (`creation_failure` is logged when one cannot
// be), the loop runs, the thread ends. The argument record carries the shutdown flag, the
// thread's day flag and its logger.
template <typename Args, typename Steps, size_t N>
uint32_t worker_thread_run(const Args *args, Steps &steps, queue *(&locals)[N], const char *routine,
                           const char *creation_failure)
{
    steps.routine = routine;
    ea_status result = EA_ERROR;
    if (worker_queues_create(locals) >= 0)
        EA_LOG_IN(routine, args->logger, EA_LEVEL_SYSTEM_ERROR, "%s", creation_failure);
    else
    {
        result = worker_loop_run(steps, args->shutdown_flag, args->day_flag, args->logger);
        steps.at_stop();
    }
    return worker_thread_end(args->shutdown_flag, locals, result);
}

// A worker thread's routine, named `routine`, whose Steps are made from the argument record
// and hold the thread's local queues in `locals`.
template <typename Steps, typename Args>
uint32_t worker_thread_main(Args *args, const char *routine, const char *creation_failure)
{
    Steps steps(args);
    return worker_thread_run(args, steps, steps.locals, routine, creation_failure);
}

// The same for a thread that first makes sure it was given an argument record.
template <typename Steps, typename Args>
uint32_t worker_thread_main_checked(void *argument, const char *routine, const char *creation_failure)
{
    Args *args = static_cast<Args *>(argument);
    if (args == nullptr)
    {
        EA_LOG_IN(routine, nullptr, EA_LEVEL_SYSTEM_ERROR, "Thread arguments not available");
        return EA_ERROR;
    }
    return worker_thread_main<Steps>(args, routine, creation_failure);
}
