// The service as the dispatcher runs it. Three threads: the dispatcher (the program's
// main thread, serving controls), the service entry (waiting for the monitoring thread)
// and the monitoring thread. The handler shares the stop flag, the waiting flag and the
// start event with the monitoring thread; the flags are atomic words.
//
// RUN exits with the service's exit code, so that systemd's Restart=on-failure restarts a
// service whose supervision failed. A RUN started by hand or by START has nobody to
// restart it: the status and the log say so.
#include "tools/service/qel_service_controller.h"

#include <cstdio>
#include <cstring>

#include "platform/admin/pf_event.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_wait.h"

namespace qel_service
{

qel_service_controller g_controller;

namespace
{
const char k_service_name[] = "QEL_IP";
thread_local char t_last_failure[1024];
char g_last_failure[1024];

// Called with the status lock held; a failure is logged under the name of the caller.
bool report_status(logger_object *logger, const char *caller)
{
    if (pf_service_set_status(g_controller.status_handle, &g_controller.status))
        return true;
    uint32_t error = pf_get_last_error();
    QEL_FAIL_IN(caller, logger, "Error while setting service status.");
    QEL_ERROR_TEXT_IN(caller, logger, error);
    return false;
}
} // namespace

const char *qel_service_last_failure()
{
    return g_last_failure;
}

void qel_service_note_failure(const char *text)
{
    snprintf(t_last_failure, sizeof t_last_failure, "%s", text);
    snprintf(g_last_failure, sizeof g_last_failure, "%s", text);
}

int32_t qel_service_initialize(logger_object_container *container, logger_object *logger)
{
    {
        std::lock_guard<std::mutex> guard(g_controller.status_lock);
        g_controller.status = pf_service_status{};
    }
    g_controller.status_handle = nullptr;
    g_controller.stop_flag = 0;
    g_controller.qel_process_p = nullptr;
    g_controller.process_count = 0;
    g_controller.exit_code = QEL_FAILURE;
    QEL_LOG(logger, qel_tools::LOG_LEVEL_EVENT, "Service table initialized successfully.");
    g_controller.start_event = pf_event_create();
    if (g_controller.start_event == nullptr)
    {
        QEL_FAIL(logger, "Error while creating the event.");
        QEL_ERROR_TEXT_IN(__func__, logger, pf_get_last_error());
        return QEL_FAILURE;
    }
    g_controller.waiting_for_start_event = 0;
    g_controller.status.service_type = PF_SERVICE_WIN32_OWN_PROCESS;
    g_controller.status.current_state = PF_SERVICE_START_PENDING;
    g_controller.status.controls_accepted = PF_SERVICE_ACCEPT_STOP;
    QEL_LOG(logger, qel_tools::LOG_LEVEL_EVENT, "Service status set to SERVICE_START_PENDING.");
    g_controller.container = container;
    g_controller.logger = logger;

    QEL_LOG(logger, qel_tools::LOG_LEVEL_EVENT, "Starting service control dispatcher.");
    uint32_t result = pf_service_run_dispatcher(k_service_name, qel_service_main);
    pf_event_destroy(g_controller.start_event);
    g_controller.start_event = nullptr;
    if (result != 0)
    {
        QEL_FAIL(logger, "Error while starting service control dispatcher.");
        QEL_ERROR_TEXT_IN(__func__, logger, result);
        return QEL_FAILURE;
    }
    return g_controller.exit_code;
}

void qel_service_main(uint32_t, char **)
{
    logger_object *logger = g_controller.logger;
    g_controller.status_handle = pf_service_register_handler(k_service_name, qel_service_control_handler);
    if (g_controller.status_handle == nullptr)
    {
        QEL_FAIL(logger, "Error while registering service control handler.");
        QEL_ERROR_TEXT_IN(__func__, logger, pf_get_last_error());
        qel_service_stop(QEL_FAILURE, logger);
        return;
    }
    QEL_LOG(logger, qel_tools::LOG_LEVEL_EVENT, "Service control handler successfully registered.");
    if (qel_service_get_qel_arguments(&g_controller, logger) != QEL_SUCCESS)
    {
        QEL_FAIL(logger, "qel_service_get_qel_arguments failed.");
        qel_service_free_processes(&g_controller);
        qel_service_stop(QEL_FAILURE, logger);
        return;
    }
    const char *error_text = nullptr;
    pf_thread *thread = pf_thread_create(qel_service_monitor, nullptr, &error_text);
    if (thread == nullptr)
    {
        QEL_FAIL(logger, "Error while starting monitoring thread.");
        qel_service_free_processes(&g_controller);
        qel_service_stop(QEL_FAILURE, logger);
        return;
    }
    uint32_t thread_id = pf_thread_id(thread);
    QEL_LOG(logger, qel_tools::LOG_LEVEL_EVENT, "Monitoring thread started successfully. Thread id [%u].",
            thread_id);
    if (pf_wait_for_single(pf_thread_waitable(thread), PF_INFINITE) != PF_WAIT_OBJECT_0)
        QEL_FAIL(logger, "wait for monitoring thread failed.");
    uint32_t monitor_result = QEL_FAILURE;
    pf_thread_exit_code(thread, &monitor_result);
    pf_thread_close(thread);
    QEL_LOG(logger, qel_tools::LOG_LEVEL_EVENT, "Monitoring thread exited successfully. Thread id [%u].",
            thread_id);
    qel_service_free_processes(&g_controller);
    qel_service_stop(g_controller.stop_flag != 0 ? QEL_SUCCESS : QEL_FAILURE, logger);
}

uint32_t qel_service_control_handler(uint32_t control)
{
    // The handler writes through the NULL logger: standard error, the default text log.
    std::lock_guard<std::mutex> guard(g_controller.status_lock);
    if (control == PF_SERVICE_CONTROL_STOP)
    {
        g_controller.stop_flag = 1;
        g_controller.status.current_state = PF_SERVICE_STOP_PENDING;
    }
    else if (control == QEL_SERVICE_CONTROL_START_APPLICATIONS && g_controller.waiting_for_start_event != 0)
    {
        pf_event_set(g_controller.start_event);
    }
    // A failed report is logged; the state stays what it truly is.
    report_status(nullptr, __func__);
    return 0;
}

bool qel_service_report_state(uint32_t state, logger_object *logger, const char *caller)
{
    std::lock_guard<std::mutex> guard(g_controller.status_lock);
    // A stop asked for meanwhile stays stop-pending.
    if (g_controller.status.current_state != PF_SERVICE_STOP_PENDING || state == PF_SERVICE_STOPPED)
        g_controller.status.current_state = state;
    return report_status(logger, caller);
}

void qel_service_stop(int32_t exit_code, logger_object *logger)
{
    std::lock_guard<std::mutex> guard(g_controller.status_lock);
    g_controller.exit_code = exit_code;
    g_controller.status.current_state = PF_SERVICE_STOPPED;
    g_controller.status.controls_accepted = 0;
    g_controller.status.win32_exit_code =
        exit_code != 0 ? static_cast<uint32_t>(PF_ERROR_SERVICE_SPECIFIC_ERROR) : 0u;
    g_controller.status.service_specific_exit_code = static_cast<uint32_t>(exit_code);
    if (exit_code != 0)
    {
        const char *note =
            pf_service_started_by_systemd()
                ? "failed: systemd restarts the service (Restart=on-failure)"
                : "failed: started by hand or by START, so nothing restarts it; START it again";
        pf_service_set_note(g_controller.status_handle, note);
        QEL_LOG(logger, qel_tools::LOG_LEVEL_SYSTEM_ERROR, "Service stopped with exit code [%d]: %s",
                exit_code, note);
    }
    if (g_controller.status_handle != nullptr && report_status(logger, __func__))
        QEL_LOG(logger, qel_tools::LOG_LEVEL_EVENT, "Service status set to SERVICE_STOPPED.");
}

} // namespace qel_service
