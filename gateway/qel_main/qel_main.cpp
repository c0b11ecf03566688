// main of qel_ip: the command line, the loggers and the global context, the 14 worker
// threads, the daily log roll, and the ordered shutdown whose exit code tells the
// supervisor why the gateway stopped (10003 and 10005 are not restarted; others are).
#include "gateway/qel_main/qel_main.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/ea_getopt.h"
#include "common/ea_time.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/qel_main/qel_threads.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/log_write_events.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/qel_version.h"
#include "platform/core/pf_redirect.h"
#include "platform/core/pf_signal.h"

enum
{
    // Each pass of the loop watches the FIX acceptor, whose end no thread reports.
    MAIN_LOOP_WAIT_MS = 1000,
    SHUTDOWN_WAIT_MS = 15000,
};

static const char *const QEL_DEFAULT_TEXT_LOG = "qel_text_log_default.txt";

static void qel_main_print_version(const char *program, bool with_flags)
{
    (void)program;
    printf("\nQel Application Version: %s [%d]\nCompiled on %s at %s\n", QEL_VERSION_TEXT, QEL_VERSION_NUMBER,
           __DATE__, __TIME__);
    if (with_flags)
        printf("\n\nFlags defined:\n");
    fflush(stdout);
}

static void qel_main_usage(const char *program)
{
    printf("\nUsage: %s -v|p|c [config-file name]\n", program);
    printf("\nOptions:\n");
    printf("\tv: Displays QEL version\n");
    printf("\tp: Displays Compile time and default parameters\n");
    printf("\tc [config-file name]: Starts QEL with the specified config file\n");
    fflush(stdout);
}

// Moves whatever is still queued into the local queue and frees it.
static void qel_main_drain_queues(ea_global *global, queue *local)
{
    for (shared_queue *sq : global->array_of_shared_queues)
    {
        if (shared_queue_get_type(sq) == SHARED_QUEUE_SEMAPHORE)
            shared_queue_get_elements_from_single_queue(sq, local, 0);
        else
            shared_queue_get_elements_no_wait(sq, local);
        while (message *msg = static_cast<message *>(queue_remove_head(local)))
            message_destroy(msg);
    }
}

struct qel_main_state
{
    queue *local;
    logger_object_container *loggers;
    logger_object *logger;
    ea_global *global;
    qel_thread_table threads;
    uint32_t started;
    logging_write_notice write_notice; // failing log writes become console events
};

// Clean-up once every started thread has ended: queues drained, context, argument
// records, threads, loggers and the local queue freed.
static int32_t qel_main_cleanup(qel_main_state *s, int32_t code)
{
    ea_global_stop_fix(s->global);
    logger_object_container_set_write_notice(s->loggers, nullptr); // queue 19 goes next
    qel_main_drain_queues(s->global, s->local);
    ea_global_destroy(s->global, s->logger);
    qel_threads_free_args(&s->threads);
    for (uint32_t i = 0; i < s->started; ++i)
        ea_thread_close(s->threads.threads[i]);
    logger_object_container_destroy(s->loggers);
    queue_destroy(s->local);
    return code;
}

// Stops the threads already started when start-up cannot go on. A thread that does not
// end in time may still use the shared objects, so nothing is freed then.
static int32_t qel_main_abort_start(qel_main_state *s)
{
    ea_flag_set(&s->global->shutdown_flag, 1);
    ea_global_stop_fix(s->global);
    if (s->started > 0)
    {
        int32_t index = -1;
        if (ea_multiple_thread_join(s->threads.threads, s->started, true, SHUTDOWN_WAIT_MS, &index,
                                    s->logger) != EA_SUCCESS)
            return EA_ERROR;
    }
    return qel_main_cleanup(s, EA_ERROR);
}

// `failed`: the gateway stops because a part of it was lost, whatever the threads say.
static int32_t qel_main_shutdown(qel_main_state *s, bool failed)
{
    ea_flag_set(&s->global->shutdown_flag, 1);
    ea_global_stop_fix(s->global);
    int32_t index = -1;
    ea_status status = ea_multiple_thread_join(s->threads.threads, QEL_WORKER_THREAD_COUNT, true,
                                               SHUTDOWN_WAIT_MS, &index, s->logger);
    if (status != EA_SUCCESS)
    {
        // Threads still running may touch every shared object: leave them all in place.
        EA_LOG(s->logger, EA_LEVEL_SYSTEM_ERROR, "ea_multiple_thread_join() return EA_WAIT_TIME_OUT");
        return EA_ERROR;
    }
    int32_t exit_values[QEL_WORKER_THREAD_COUNT];
    for (int i = 0; i < QEL_WORKER_THREAD_COUNT; ++i)
    {
        ea_thread *thread = s->threads.threads[i];
        exit_values[i] = thread->exit_value;
        EA_LOG(s->logger, EA_LEVEL_SYSTEM_ERROR, "Thread routine[%s] Thread id[%d] Exit value[%d]",
               qel_logger_names[i], static_cast<int32_t>(thread->thread_id), thread->exit_value);
    }
    return qel_main_cleanup(s, failed ? EA_ERROR : qel_main_exit_code(exit_values, QEL_WORKER_THREAD_COUNT));
}

static int32_t qel_main_run(const char *config_file)
{
    printf("\nStarting QEL [%s] with config file [%s]\n", QEL_VERSION_TEXT, config_file);
    fflush(stdout);
    if (redirect_output(QEL_DEFAULT_TEXT_LOG, PF_REDIRECT_BOTH) != EA_SUCCESS)
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "redirect_output failed. Text messages would be lost");

    // The listeners open before the shutdown flag exists; a stop request meanwhile is held.
    pf_hold_termination_signal();
    qel_main_state s = {};
    s.local = queue_create();
    if (s.local == nullptr)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "queue_create failed");
        return EA_ERROR;
    }
    s.loggers = logger_object_container_create(config_file, qel_logger_names, QEL_LOGGER_COUNT);
    if (s.loggers == nullptr)
    {
        queue_destroy(s.local);
        return EXIT_STARTUP_FAILURE;
    }
    s.logger = s.loggers->loggers[QEL_MAIN_LOGGER_INDEX];

    EA_LOG(s.logger, EA_LEVEL_EVENT, "Initializing global objects");
    s.global = ea_global_create(config_file, s.logger, s.loggers->loggers[QEL_FIX_LOGGER_INDEX]);
    if (s.global == nullptr)
    {
        queue_destroy(s.local);
        logger_object_container_destroy(s.loggers);
        return EXIT_STARTUP_FAILURE;
    }
    s.write_notice = {log_write_event_tell, s.global->array_of_shared_queues[SQ_EVENTS_TO_INTERFACE]};
    logger_object_container_set_write_notice(s.loggers, &s.write_notice);
    print_runtime_parameters(s.global, s.logger);
    // An operator's or supervisor's stop request ends the gateway as a failing thread would.
    pf_stop_on_termination_signal(&s.global->shutdown_flag);

    if (qel_threads_create_args(&s.threads, s.global, s.loggers, s.logger) != EA_SUCCESS)
        return qel_main_abort_start(&s);

    int noted_day = qel_main_day_of_year(time(nullptr));
    for (int i = 0; i < QEL_WORKER_THREAD_COUNT; ++i)
    {
        s.threads.threads[i] = ea_thread_create(s.threads.routines[i], s.threads.args[i], s.logger);
        if (s.threads.threads[i] == nullptr)
        {
            EA_LOG(s.logger, EA_LEVEL_SYSTEM_ERROR, "Thread creation failed for [%s].", qel_logger_names[i]);
            return qel_main_abort_start(&s);
        }
        ++s.started;
        EA_LOG(s.logger, EA_LEVEL_EVENT, "[%s] thread created", qel_logger_names[i]);
    }
    logger_object_container_started(s.loggers);

    bool fix_lost = false;
    for (;;)
    {
        qel_main_roll_day(time(nullptr), &noted_day, s.loggers, s.logger, s.global);
        if (!fix_lost)
            fix_lost = qel_main_fix_acceptor_lost(s.global, s.logger);
        int32_t index = -1;
        ea_status status = ea_multiple_thread_join(s.threads.threads, QEL_WORKER_THREAD_COUNT, false,
                                                   MAIN_LOOP_WAIT_MS, &index, s.logger);
        if (status == EA_WAIT_TIME_OUT)
            continue;
        if (status != EA_SUCCESS)
        {
            EA_LOG(s.logger, EA_LEVEL_SYSTEM_ERROR, "ea_multiple_thread_join() return EA_ERROR");
            ea_flag_set(&s.global->shutdown_flag, 1);
            int32_t all = -1;
            if (ea_multiple_thread_join(s.threads.threads, QEL_WORKER_THREAD_COUNT, true, SHUTDOWN_WAIT_MS,
                                        &all, s.logger) != EA_SUCCESS)
                return EA_ERROR;
            return qel_main_cleanup(&s, EA_ERROR);
        }
        return qel_main_shutdown(&s, fix_lost);
    }
}

int main(int argc, char *argv[])
{
    tzset();
    ea::opterr = 0;
    switch (ea::getopt(argc, argv, ":vpc:"))
    {
    case 'v':
        qel_main_print_version(argv[0], false);
        return 0;
    case 'p':
        qel_main_print_version(argv[0], true);
        return 0;
    case 'c':
        return qel_main_run(ea::optarg);
    case ':':
        printf("\nArgument missing for option c\n");
        break;
    case '?':
        printf("\nInvalid option\n");
        break;
    default:
        break;
    }
    qel_main_usage(argv[0]);
    return EXIT_USAGE;
}
