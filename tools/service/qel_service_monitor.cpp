// Supervision of the processes the registry lists. Each process is in one state at a
// time: running (its process handle is in the wait), restart pending (its timer is) or
// held (it waits for control 130, whose start event has one slot however many are held).
// The wait list is built afresh on each pass, so it never holds an invalid handle or the
// same object twice.
//
// A process that cannot be started because its file is missing or not executable is held
// like one that failed its start-up; any other creation failure is retried later. Neither
// ends the supervision of the others. A process that keeps ending soon after its start
// (or cannot be created) is restarted after a delay that doubles up to 30 s, so that a
// program crashing at once does not fill the logs and the machine; an end with 10001, the
// restart the console asked for, is never delayed so.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/ea_status.h"
#include "platform/admin/exit_status.h"
#include "platform/admin/pf_event.h"
#include "platform/admin/pf_process.h"
#include "platform/admin/pf_process_handle.h"
#include "platform/admin/pf_registry.h"
#include "platform/admin/pf_spawn.h"
#include "platform/admin/pf_timer.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_wait.h"
#include "tools/service/qel_service_controller.h"

namespace qel_service
{

namespace
{
using qel_tools::LOG_LEVEL_CONTINUATION;
using qel_tools::LOG_LEVEL_DEBUG;
using qel_tools::LOG_LEVEL_EVENT;
using qel_tools::LOG_LEVEL_SYSTEM_ERROR;

const char k_root_key[] = "SOFTWARE\\QEL_IP";
const char k_common_key[] = "SOFTWARE\\QEL_IP\\COMMON";
const uint32_t k_wait_ms = 500;

// The helpers below log under the name of the function whose step they are, `caller`: the
// reading of the registry, the monitoring thread or the termination.

void log_registry_problem(const char *caller, logger_object *logger, uint32_t code)
{
    if (code == PF_ERROR_BADDB || code == PF_ERROR_REGISTRY_IO_FAILED)
        qel_service::logging_info_log(logger, pf_reg_problem(), LOG_LEVEL_CONTINUATION, caller, __FILE__,
                                      __LINE__);
}

// Adds one process from a sub-key holding path and argument; false on a failure that
// ends the reading (too many processes).
bool add_process(qel_service_controller *controller, const char *path, const char *argument,
                 logger_object *logger, const char *caller)
{
    if (controller->process_count >= QEL_MAX_PROCESSES)
    {
        QEL_FAIL_IN(caller, logger, "Too many processes in the registry: at most [%d] can be supervised",
                    static_cast<int>(QEL_MAX_PROCESSES));
        return false;
    }
    qel_process *grown = static_cast<qel_process *>(
        realloc(controller->qel_process_p, sizeof(qel_process) * (controller->process_count + 1)));
    if (grown == nullptr)
    {
        QEL_FAIL_IN(caller, logger, "realloc failed for qel_process_p");
        return false;
    }
    controller->qel_process_p = grown;
    qel_process *process = &grown[controller->process_count];
    memset(process, 0, sizeof *process);
    snprintf(process->path, sizeof process->path, "%s", path);
    snprintf(process->working_folder, sizeof process->working_folder, "%s", pf_folder_of(path).c_str());
    snprintf(process->command_line, sizeof process->command_line, " %s", argument);
    process->state = QEL_PROCESS_RESTART_PENDING;
    qel_restart_backoff_reset(&process->backoff);
    controller->process_count += 1;
    return true;
}

// Reads every sub-key of a key (skipping the one named skip); false on a failure.
bool read_sub_keys(qel_service_controller *controller, const pf_reg_key *key, const char *skip,
                   logger_object *logger, const char *caller)
{
    for (uint32_t index = 0;; ++index)
    {
        char name[101];
        uint32_t size = sizeof name;
        uint32_t result = pf_reg_enum_key(key, index, name, &size);
        if (result == PF_ERROR_NO_MORE_ITEMS)
            return true;
        if (result != 0)
        {
            QEL_FAIL_IN(caller, logger, "RegEnumKeyEx failed for [%s] , return code [%u] ",
                        pf_reg_key_path(key), result);
            log_registry_problem(caller, logger, result);
            return false;
        }
        if (skip != nullptr && pf_process_name_equal(name, skip))
            continue;
        std::string full = std::string(pf_reg_key_path(key)) + "\\" + name;
        pf_reg_key *sub = nullptr;
        result = pf_reg_open_key(key, name, &sub);
        if (result != 0)
        {
            QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT, "RegOpenKeyEx failed for [%s] , return code [%u] ",
                       full.c_str(), result);
            continue;
        }
        char path[QEL_PROCESS_TEXT_SIZE];
        char argument[QEL_PROCESS_TEXT_SIZE - 1];
        result = pf_reg_query_string(sub, "path", path, sizeof path);
        if (result == 0)
            result = pf_reg_query_string(sub, "argument", argument, sizeof argument);
        pf_reg_close_key(sub);
        if (result != 0)
        {
            QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT, "RegQueryValueEx failed for [%s] , return code [%u] ",
                       full.c_str(), result);
            continue;
        }
        if (!add_process(controller, path, argument, logger, caller))
            return false;
    }
}

uint32_t current_thread_id()
{
    return pf_thread_current_id();
}

int64_t monotonic_ms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Starts a process: 0 running, 1 held (missing or unusable file), 2 retry after 1 s.
int start_process(qel_process *process, bool restart, logger_object *logger, const char *caller)
{
    std::vector<std::string> words;
    bool split = pf_split_command_line(process->command_line, &words);
    if (!split || access(process->path, X_OK) != 0)
    {
        QEL_FAIL_IN(caller, logger, "Process executable [%s] not found", process->path);
        if (!split)
            QEL_LOG_IN(caller, logger, LOG_LEVEL_CONTINUATION, "Unterminated quote in arguments [%s]",
                       process->command_line);
        else
            QEL_ERROR_TEXT_IN(caller, logger, static_cast<uint32_t>(errno));
        return 1;
    }
    words.insert(words.begin(), process->path);
    pf_spawn_options options;
    options.working_folder = process->working_folder;
    options.stdout_fd = STDOUT_FILENO; // qelmon's default text log
    options.stderr_fd = STDERR_FILENO;
    options.own_process_group = true;
    int error = 0;
    QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT, "Process [%s], working dir [%s], arguments [%s]",
               process->path, process->working_folder, process->command_line);
    process->handle = pf_process_handle_create(process->path, words, options, &error);
    if (process->handle == nullptr)
    {
        QEL_FAIL_IN(caller, logger, "Error while creating the process.");
        QEL_ERROR_TEXT_IN(caller, logger, static_cast<uint32_t>(error));
        return (error == ENOENT || error == EACCES || error == ENOEXEC) ? 1 : 2;
    }
    process->started_ms = monotonic_ms();
    if (restart)
        QEL_LOG_IN(
            caller, logger, LOG_LEVEL_EVENT,
            "The process [%s] created successfully with process id: [%u] through thread with id: [%u].",
            process->path, pf_process_handle_pid(process->handle), current_thread_id());
    else
        QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT,
                   "The process created successfully with process id: [%u] through thread with id: [%u].",
                   pf_process_handle_pid(process->handle), current_thread_id());
    return 0;
}

// Sets a process's timer for its restart; false on a failure that ends the supervision.
bool restart_later(qel_service_controller *controller, uint32_t index, uint32_t delay_ms,
                   logger_object *logger, const char *caller)
{
    qel_process *process = &controller->qel_process_p[index];
    if (!pf_timer_set(process->timer, delay_ms))
    {
        QEL_FAIL_IN(caller, logger, "set waitable timer failed.");
        return false;
    }
    process->state = QEL_PROCESS_RESTART_PENDING;
    QEL_LOG_IN(caller, logger, LOG_LEVEL_DEBUG, "Waitable timer set sucessfully, process index [%u]", index);
    if (delay_ms > QEL_RESTART_DELAY_MS)
        QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT,
                   "The process [%s] did not stay up for [%d] s: its restart waits [%u] ms", process->path,
                   static_cast<int>(QEL_STAYS_UP_MS / 1000), delay_ms);
    return true;
}

// Puts a process in its next state after a start attempt (0 running, 1 held, 2 to be
// tried again); false on a failure that ends the supervision (a timer that cannot be set).
bool after_start(qel_service_controller *controller, uint32_t index, int started, logger_object *logger,
                 const char *caller)
{
    qel_process *process = &controller->qel_process_p[index];
    if (started == 0)
    {
        process->state = QEL_PROCESS_RUNNING;
        return true;
    }
    if (started == 1)
    {
        process->state = QEL_PROCESS_HELD;
        controller->waiting_for_start_event = 1;
        QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT, "Not restarting the process [%s]", process->path);
        QEL_LOG_IN(caller, logger, LOG_LEVEL_DEBUG, "Set waiting_for_start_event flag to TRUE");
        return true;
    }
    return restart_later(controller, index, qel_restart_backoff_next(&process->backoff, 0), logger, caller);
}

// Handles the end of a running process; false when supervision must end.
bool process_ended(qel_service_controller *controller, uint32_t index, logger_object *logger,
                   const char *caller)
{
    qel_process *process = &controller->qel_process_p[index];
    int code = 0;
    pf_process_end end = pf_process_handle_end(process->handle, &code);
    uint32_t pid = pf_process_handle_pid(process->handle);
    pf_process_handle_close(process->handle);
    process->handle = nullptr;
    int32_t exit_code = -1;
    if (end == PF_PROCESS_EXITED)
    {
        exit_code = pf_exit_code_from_status(code);
        QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT,
                   "The process [%s], id [%u] terminated with exit code [%d]. ", process->path, pid,
                   exit_code);
        if (exit_code == EXIT_STARTUP_FAILURE || exit_code == EXIT_USAGE)
            return after_start(controller, index, 1, logger, caller);
    }
    else if (end == PF_PROCESS_SIGNALED)
    {
        QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT, "The process [%s], id [%u] was ended by signal [%d]. ",
                   process->path, pid, code);
    }
    else
    {
        QEL_LOG_IN(
            caller, logger, LOG_LEVEL_EVENT,
            "The process [%s], id [%u] terminated. Its exit code is unknown: it was adopted, not started here. ",
            process->path, pid);
    }
    int64_t up_ms = monotonic_ms() - process->started_ms;
    return restart_later(controller, index, qel_restart_delay_after_end(&process->backoff, exit_code, up_ms),
                         logger, caller);
}

// The first start of every process: adopted when it already runs.
bool start_all(qel_service_controller *controller, logger_object *logger, const char *caller)
{
    pf_process_snapshot *snapshot = nullptr;
    uint32_t result = pf_process_snapshot_create(&snapshot);
    if (result != 0)
    {
        // The look-up among the running processes reports under its own name.
        QEL_FAIL_IN("qel_service_get_process_info", logger, "Error while getting handle to process list.");
        QEL_ERROR_TEXT_IN("qel_service_get_process_info", logger, result);
        return false;
    }
    for (uint32_t i = 0; i < controller->process_count; ++i)
    {
        qel_process *process = &controller->qel_process_p[i];
        process->timer = pf_timer_create();
        if (process->timer == nullptr)
        {
            QEL_FAIL_IN(caller, logger, "Error while creating waitable timer.");
            pf_process_snapshot_destroy(snapshot);
            return false;
        }
        const pf_process_entry *running = pf_process_find_by_path(snapshot, process->path);
        int error = 0;
        if (running != nullptr && (process->handle = pf_process_handle_open(running->pid, &error)) != nullptr)
        {
            process->state = QEL_PROCESS_RUNNING;
            process->started_ms = monotonic_ms();
            QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT,
                       "Started monitoring the process which is running already with process id: [%u]",
                       running->pid);
            continue;
        }
        if (!after_start(controller, i, start_process(process, false, logger, caller), logger, caller))
        {
            pf_process_snapshot_destroy(snapshot);
            return false;
        }
    }
    pf_process_snapshot_destroy(snapshot);
    return true;
}

// One pass of the wait; false when supervision must end.
bool wait_once(qel_service_controller *controller, logger_object *logger, const char *caller)
{
    pf_waitable *objects[PF_MAXIMUM_WAIT_OBJECTS];
    int32_t owners[PF_MAXIMUM_WAIT_OBJECTS]; // process index, or -1 for the start event
    uint32_t n = 0;
    bool held = false;
    for (uint32_t i = 0; i < controller->process_count; ++i)
    {
        qel_process *process = &controller->qel_process_p[i];
        if (process->state == QEL_PROCESS_HELD)
        {
            held = true;
            continue;
        }
        objects[n] = process->state == QEL_PROCESS_RUNNING ? pf_process_handle_waitable(process->handle)
                                                           : pf_timer_waitable(process->timer);
        owners[n++] = static_cast<int32_t>(i);
    }
    if (held)
    {
        objects[n] = pf_event_waitable(controller->start_event);
        owners[n++] = -1;
    }
    if (n == 0)
    {
        usleep(k_wait_ms * 1000);
        return true;
    }
    uint32_t result = pf_wait_for_multiple(objects, n, false, k_wait_ms);
    if (result == PF_WAIT_TIMEOUT)
        return true;
    if (result >= n)
    {
        QEL_FAIL_IN(caller, logger, "Waiting for process(s) failed with error code [%u]",
                    pf_get_last_error());
        return false;
    }
    int32_t owner = owners[result];
    if (owner < 0)
    {
        QEL_LOG_IN(caller, logger, LOG_LEVEL_EVENT, "Start event is set. Starting all non running processes");
        // The operator's request is a fresh start: the delays begin again at 1 s.
        for (uint32_t i = 0; i < controller->process_count; ++i)
        {
            qel_process *held = &controller->qel_process_p[i];
            if (held->state != QEL_PROCESS_HELD)
                continue;
            qel_restart_backoff_reset(&held->backoff);
            if (!restart_later(controller, i, QEL_RESTART_DELAY_MS, logger, caller))
                return false;
        }
        controller->waiting_for_start_event = 0;
        QEL_LOG_IN(caller, logger, LOG_LEVEL_DEBUG, "Set waiting_for_start_event flag to FALSE");
        return true;
    }
    uint32_t index = static_cast<uint32_t>(owner);
    qel_process *process = &controller->qel_process_p[index];
    if (process->state == QEL_PROCESS_RESTART_PENDING)
        return after_start(controller, index, start_process(process, true, logger, caller), logger, caller);
    return process_ended(controller, index, logger, caller);
}

int local_day_of_month()
{
    time_t now = time(nullptr);
    struct tm local;
    return localtime_r(&now, &local) != nullptr ? local.tm_mday : 0;
}
} // namespace

void qel_restart_backoff_reset(qel_restart_backoff *backoff)
{
    backoff->next_delay_ms = QEL_RESTART_DELAY_MS;
}

uint32_t qel_restart_backoff_next(qel_restart_backoff *backoff, int64_t up_ms)
{
    if (up_ms >= QEL_STAYS_UP_MS)
        qel_restart_backoff_reset(backoff);
    uint32_t delay = backoff->next_delay_ms;
    uint32_t most = QEL_RESTART_DELAY_MAX_MS;
    backoff->next_delay_ms = delay >= most / 2 ? most : delay * 2;
    return delay;
}

uint32_t qel_restart_delay_after_end(qel_restart_backoff *backoff, int32_t exit_code, int64_t up_ms)
{
    if (exit_code != EA_RESTART)
        return qel_restart_backoff_next(backoff, up_ms);
    qel_restart_backoff_reset(backoff);
    return QEL_RESTART_DELAY_MS;
}

int32_t qel_service_get_qel_arguments(qel_service_controller *controller, logger_object *logger)
{
    pf_reg_key *root = nullptr;
    pf_reg_key *common = nullptr;
    uint32_t result = pf_reg_open_key(nullptr, k_root_key, &root);
    if (result != 0)
    {
        QEL_FAIL(logger, "RegOpenKeyEx failed for [%s] , return code [%u] ", k_root_key, result);
        log_registry_problem(__func__, logger, result);
        QEL_LOG(logger, LOG_LEVEL_CONTINUATION, "Registry file [%s]", pf_registry_file());
        return QEL_FAILURE;
    }
    QEL_LOG(logger, LOG_LEVEL_EVENT, "Registry key [%s] read successfully", k_root_key);
    result = pf_reg_open_key(nullptr, k_common_key, &common);
    if (result != 0)
    {
        QEL_FAIL(logger, "RegOpenKeyEx failed for [%s] , return code [%u] ", k_common_key, result);
        pf_reg_close_key(root);
        return QEL_FAILURE;
    }
    QEL_LOG(logger, LOG_LEVEL_EVENT, "Registry key [%s] read successfully", k_common_key);
    uint32_t status = 0;
    result = pf_reg_query_dword(root, "SERVICESTATUS", &status);
    bool ok = true;
    if (result != 0)
    {
        QEL_FAIL(logger, "RegQueryValueEx failed for [%s\\SERVICESTATUS] return code [%u] ", k_root_key,
                 result);
        ok = false;
    }
    else
    {
        QEL_LOG(logger, LOG_LEVEL_EVENT, "Key Service Status read successfully SERVICESTATUS = %u", status);
        if (status == 1)
        {
            QEL_FAIL(logger, "Qel Installation is in progress, can't start service");
            ok = false;
        }
    }
    ok = ok && read_sub_keys(controller, root, "COMMON", logger, __func__) &&
         read_sub_keys(controller, common, nullptr, logger, __func__);
    pf_reg_close_key(root);
    pf_reg_close_key(common);
    return ok ? QEL_SUCCESS : QEL_FAILURE;
}

uint32_t qel_service_monitor(void *)
{
    qel_service_controller *controller = &g_controller;
    logger_object *logger = controller->logger;
    if (!qel_service_report_state(PF_SERVICE_START_PENDING, logger, __func__))
        return QEL_FAILURE;
    if (!start_all(controller, logger, __func__))
    {
        qel_service_terminate_process(controller, controller->process_count, logger);
        return QEL_FAILURE;
    }
    qel_service_report_state(PF_SERVICE_RUNNING, logger, __func__);
    QEL_LOG(logger, LOG_LEVEL_EVENT, "Set service status to SERVICE_RUNNING.");
    int day = local_day_of_month();
    while (controller->stop_flag == 0)
    {
        int today = local_day_of_month();
        if (today != day)
        {
            day = today;
            logger_object_container_update_time(controller->container);
            logger_object_reopen(logger);
        }
        if (!wait_once(controller, logger, __func__))
            break;
    }
    qel_service_terminate_process(controller, controller->process_count, logger);
    return QEL_SUCCESS;
}

void qel_service_terminate_process(qel_service_controller *controller, uint32_t count, logger_object *logger)
{
    // SIGTERM to all at once (a gateway then stops in order), SIGKILL to what remains
    // after the grace time.
    for (uint32_t i = 0; i < count; ++i)
    {
        qel_process *process = &controller->qel_process_p[i];
        if (process->handle != nullptr && !pf_process_handle_signal(process->handle, SIGTERM))
        {
            QEL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR, "Error while terminating the process[%s].",
                    process->path);
            QEL_ERROR_TEXT_IN(__func__, logger, static_cast<uint32_t>(errno));
        }
    }
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (uint32_t i = 0; i < count; ++i)
    {
        qel_process *process = &controller->qel_process_p[i];
        if (process->handle == nullptr)
            continue;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        uint32_t left = spent >= QEL_STOP_GRACE_MS ? 0 : static_cast<uint32_t>(QEL_STOP_GRACE_MS - spent);
        if (pf_wait_for_single(pf_process_handle_waitable(process->handle), left) != PF_WAIT_OBJECT_0)
        {
            QEL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR, "The process[%s] did not stop in [%d] ms: killing it",
                    process->path, static_cast<int>(QEL_STOP_GRACE_MS));
            pf_process_handle_signal(process->handle, SIGKILL);
            pf_wait_for_single(pf_process_handle_waitable(process->handle), 5000);
        }
        int code = 0;
        pf_process_end end = pf_process_handle_end(process->handle, &code);
        QEL_LOG(logger, LOG_LEVEL_EVENT, "The process[%s] terminated successfully", process->path);
        if (end == PF_PROCESS_EXITED)
            QEL_LOG(logger, LOG_LEVEL_CONTINUATION, "Exit code [%d]", pf_exit_code_from_status(code));
        else if (end == PF_PROCESS_SIGNALED)
            QEL_LOG(logger, LOG_LEVEL_CONTINUATION, "Ended by signal [%d]", code);
        pf_process_handle_close(process->handle);
        process->handle = nullptr;
    }
}

void qel_service_free_processes(qel_service_controller *controller)
{
    for (uint32_t i = 0; i < controller->process_count; ++i)
    {
        qel_process *process = &controller->qel_process_p[i];
        if (process->handle != nullptr)
            pf_process_handle_close(process->handle);
        if (process->timer != nullptr)
            pf_timer_destroy(process->timer);
    }
    free(controller->qel_process_p);
    controller->qel_process_p = nullptr;
    controller->process_count = 0;
}

} // namespace qel_service
