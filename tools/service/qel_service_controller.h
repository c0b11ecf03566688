// The running service "QEL_IP": its controller record, the RUN action (the dispatcher),
// the service's entry point and control handler, and the supervision of the processes
// that the registry lists (the monitoring thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/admin/pf_service.h"
#include "tools/service/service_logger.h"

struct pf_event;
struct pf_process_handle;
struct pf_timer;

namespace qel_service
{

enum
{
    QEL_PROCESS_TEXT_SIZE = 1024,
    QEL_MAX_PROCESSES = 63, // the 64-object wait, one slot kept for the start event
    QEL_SERVICE_CONTROL_START_APPLICATIONS = 130,
    QEL_RESTART_DELAY_MS = 1000,
    QEL_STOP_GRACE_MS = 20000,
    // A process that keeps ending soon after its start is restarted after 1 s, 2 s, 4 s
    // ... up to 30 s, as the gateway's host link retries. One that ran for 30 s (longer
    // than any start-up of a gateway, which logs on and loads its configuration within
    // seconds) counts as having started well: its next restart is after 1 s again.
    QEL_RESTART_DELAY_MAX_MS = 30000,
    QEL_STAYS_UP_MS = 30000,
};

// The delay before a process's next restart: 1 s after a process that stayed up, else
// double the last one up to the maximum.
struct qel_restart_backoff
{
    uint32_t next_delay_ms;
};
void qel_restart_backoff_reset(qel_restart_backoff *backoff);
// The delay for the restart of a process that ran for up_ms; the next one is doubled.
uint32_t qel_restart_backoff_next(qel_restart_backoff *backoff, int64_t up_ms);
// The delay for the restart of a process that ended with exit_code (the gateway's value;
// -1 when it did not exit by itself or its code is unknown) after up_ms. An end with
// EA_RESTART is the console's restart request, an operator's deliberate act however often
// it comes: 1 s, and the back-off starts over. Every other end is backed off.
uint32_t qel_restart_delay_after_end(qel_restart_backoff *backoff, int32_t exit_code, int64_t up_ms);

// Where a supervised process stands.
enum qel_process_state
{
    QEL_PROCESS_RUNNING,         // its handle is in the wait
    QEL_PROCESS_RESTART_PENDING, // its timer is in the wait
    QEL_PROCESS_HELD,            // waits for control 130 (the start event's one slot)
};

struct qel_process
{
    char working_folder[QEL_PROCESS_TEXT_SIZE]; // path up to its last "/"
    char path[QEL_PROCESS_TEXT_SIZE];
    char command_line[QEL_PROCESS_TEXT_SIZE]; // " " and the registry's argument
    pf_process_handle *handle;
    pf_timer *timer;
    qel_process_state state;
    int64_t started_ms; // monotonic time of its start or adoption
    qel_restart_backoff backoff;
};

struct qel_service_controller
{
    std::mutex status_lock; // the handler's thread and the service's threads report
    pf_service_status status;
    pf_service_status_handle *status_handle;
    std::atomic<uint32_t> stop_flag;
    pf_event *start_event;
    std::atomic<uint32_t> waiting_for_start_event;
    qel_process *qel_process_p;
    uint32_t process_count;
    logger_object_container *container;
    logger_object *logger;
    int32_t exit_code; // the service's, which RUN exits with
};

extern qel_service_controller g_controller;

// RUN: 0 or 1000 (the service's own exit code once it ran).
int32_t qel_service_initialize(logger_object_container *container, logger_object *logger);
void qel_service_main(uint32_t argc, char **argv);
uint32_t qel_service_control_handler(uint32_t control);
void qel_service_stop(int32_t exit_code, logger_object *logger);
// Sets the state (under the status lock) and reports it; false after logging a failure under
// the name of the caller, `caller`.
bool qel_service_report_state(uint32_t state, logger_object *logger, const char *caller);

// Supervision.
int32_t qel_service_get_qel_arguments(qel_service_controller *controller, logger_object *logger);
uint32_t qel_service_monitor(void *unused);
void qel_service_terminate_process(qel_service_controller *controller, uint32_t count, logger_object *logger);
void qel_service_free_processes(qel_service_controller *controller);

// The reason of the last failure line, for the terminal.
const char *qel_service_last_failure();
void qel_service_note_failure(const char *text);

} // namespace qel_service

// A failure line: logged at level 0 and kept as the reason the terminal is told.
#define QEL_FAIL(logger, ...) QEL_FAIL_IN(__func__, logger, __VA_ARGS__)
// The same under the name of the function whose line it is, handed down by that function to
// the helper that writes the line for it.
#define QEL_FAIL_IN(function, logger, ...)                                                                   \
    do                                                                                                       \
    {                                                                                                        \
        char qel_fail_text_[1024];                                                                           \
        snprintf(qel_fail_text_, sizeof qel_fail_text_, __VA_ARGS__);                                        \
        qel_service::qel_service_note_failure(qel_fail_text_);                                               \
        qel_service::logging_info_log((logger), qel_fail_text_, qel_tools::LOG_LEVEL_SYSTEM_ERROR,           \
                                      (function), __FILE__, __LINE__);                                       \
    } while (0)

// The text of the error `code`, continuing the failure line of `function`.
#define QEL_ERROR_TEXT_IN(function, logger, code)                                                            \
    do                                                                                                       \
    {                                                                                                        \
        uint32_t qel_error_code_ = static_cast<uint32_t>(code);                                              \
        char qel_error_text_[512];                                                                           \
        qel_service::logging_info_log((logger),                                                              \
                                      qel_service::qel_service_get_error_text(                               \
                                          qel_error_code_, qel_error_text_, sizeof qel_error_text_),         \
                                      qel_tools::LOG_LEVEL_CONTINUATION, (function), __FILE__, __LINE__);    \
    } while (0)

#define QEL_LOG(logger, level, ...) QEL_LOG_IN(__func__, logger, level, __VA_ARGS__)
#define QEL_LOG_IN(function, logger, level, ...)                                                             \
    qel_service::logging_info_logf((logger), (level), (function), __FILE__, __LINE__, __VA_ARGS__)
