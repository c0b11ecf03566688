// The actions that manage the service entry from the command line: CREATE, DELETE, START
// and STOP. Each returns 0 or 1000 and logs its failure with the error's text.
#include "tools/service/qel_service_management.h"

#include <limits.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/admin/pf_service.h"
#include "platform/admin/pf_spawn.h"
#include "tools/service/qel_service_controller.h"

namespace qel_service
{

namespace
{
using qel_tools::LOG_LEVEL_EVENT;

const char k_service_name[] = "QEL_IP";
const char k_description[] = "Service to start/ stop and monitor Quick Exchange Link For IP";
const int k_start_poll_ms = 100;
const int k_start_limit_ms = 30000;
// The service's descriptor limit, which the processes it starts inherit. A gateway holds
// a socket per workstation connection (MAX_TWS_CLIENTS) and per FIX session (as many
// again), each FIX session's message store and log files, and the text and binary logs
// of its threads; systemd's default of 1024 made a gateway exit under many idle FIX
// connections. 65536 leaves room for thousands of clients of each kind and stays far
// below the kernel's ceiling for one process (fs.nr_open, 1048576 by default), so the
// unit starts on any machine.
const uint32_t k_open_files_limit = 65536;

// Runs systemctl with the given arguments and waits for it; its exit status. Its failures are
// logged under the name of the action that runs it, `caller`, as are those of START's wait.
int systemctl(const std::vector<std::string> &arguments, logger_object *logger, const char *caller)
{
    std::vector<std::string> argv = {"systemctl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pf_spawn_options options;
    options.stdout_fd = STDOUT_FILENO;
    options.stderr_fd = STDERR_FILENO;
    pid_t pid = 0;
    const char *program = access("/usr/bin/systemctl", X_OK) == 0 ? "/usr/bin/systemctl" : "/bin/systemctl";
    int error = pf_spawn(program, argv, options, &pid);
    if (error != 0)
    {
        QEL_FAIL_IN(caller, logger, "Error while running [%s %s].", program,
                    arguments.empty() ? "" : arguments[0].c_str());
        QEL_ERROR_TEXT_IN(caller, logger, static_cast<uint32_t>(error));
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code != 0)
        QEL_FAIL_IN(caller, logger, "[%s %s] failed with exit status [%d].", program,
                    arguments.empty() ? "" : arguments[0].c_str(), code);
    return code;
}

void sleep_ms(int ms)
{
    struct timespec pause = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// START's wait: 0 once the started service runs, 1000 (logged) when it stopped or did
// not leave the start-pending state within 30 s.
int32_t wait_for_start(uint32_t pid, logger_object *logger, const char *caller)
{
    for (int waited = 0; waited <= k_start_limit_ms; waited += k_start_poll_ms)
    {
        pf_service_query_result result;
        uint32_t error = pf_service_query(k_service_name, &result);
        if (error != 0)
        {
            QEL_FAIL_IN(caller, logger, "Error while starting the service.");
            QEL_ERROR_TEXT_IN(caller, logger, error);
            return QEL_FAILURE;
        }
        bool ours = result.process_id == pid;
        if (ours && result.status.current_state == PF_SERVICE_RUNNING)
            return QEL_SUCCESS;
        // The started process is our child: once it has ended, its last status is final.
        bool ended = waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == static_cast<pid_t>(pid);
        if (ended)
        {
            pf_service_query(k_service_name, &result);
            QEL_FAIL_IN(caller, logger, "Service failed to start. Error Code [%u].",
                        result.status.service_specific_exit_code);
            return QEL_FAILURE;
        }
        sleep_ms(k_start_poll_ms);
    }
    QEL_FAIL_IN(caller, logger, "Service failed to start. Error Code [%u].",
                static_cast<uint32_t>(PF_ERROR_SERVICE_REQUEST_TIMEOUT));
    QEL_ERROR_TEXT_IN(caller, logger, PF_ERROR_SERVICE_REQUEST_TIMEOUT);
    return QEL_FAILURE;
}
} // namespace

int32_t create_qel_service_entry(const char *working_folder, const char *config_file, logger_object *logger)
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
    {
        QEL_FAIL(logger, "Error while getting self name.");
        return QEL_FAILURE;
    }
    self[length] = '\0';
    // The service runs from another folder: its configuration path must stand on its own.
    char config[PATH_MAX];
    if (realpath(config_file, config) == nullptr)
        snprintf(config, sizeof config, "%s", config_file);
    std::string command =
        std::string("\"") + self + "\" -w \"" + working_folder + "\" -c \"" + config + "\" -a \"RUN\"";
    pf_service_entry entry = {k_service_name,    k_service_name, k_description, command.c_str(), 30, 10, 0,
                              k_open_files_limit};
    uint32_t result = pf_service_create(&entry);
    if (result != 0)
    {
        QEL_FAIL(logger, "Error while getting handle to created service.");
        QEL_ERROR_TEXT_IN(__func__, logger, result);
        return QEL_FAILURE;
    }
    QEL_LOG(logger, LOG_LEVEL_EVENT, "Service [%s] created with command line [%s] in [%s]", k_service_name,
            command.c_str(), pf_service_dir());
    if (pf_service_systemd_runs())
    {
        if (systemctl({"link", pf_service_file(k_service_name, "service")}, logger, __func__) != 0 ||
            systemctl({"enable", "--now", k_service_name}, logger, __func__) != 0)
            return QEL_FAILURE;
        QEL_LOG(logger, LOG_LEVEL_EVENT, "Service unit linked and enabled in systemd");
    }
    return QEL_SUCCESS;
}

int32_t delete_qel_service_entry(logger_object *logger)
{
    if (pf_service_systemd_runs())
        systemctl({"disable", k_service_name}, logger, __func__);
    uint32_t result = pf_service_delete(k_service_name);
    if (result != 0)
    {
        QEL_FAIL(logger, result == PF_ERROR_SERVICE_DOES_NOT_EXIST
                             ? "Error while getting handle to the service."
                             : "Error while deleting service.");
        QEL_ERROR_TEXT_IN(__func__, logger, result);
        return QEL_FAILURE;
    }
    QEL_LOG(logger, LOG_LEVEL_EVENT, "Service [%s] deleted", k_service_name);
    return QEL_SUCCESS;
}

int32_t control_qel_service(int action, logger_object *logger)
{
    if (action == QEL_CONTROL_START)
    {
        if (pf_service_systemd_runs() && access(pf_service_file(k_service_name, "entry"), F_OK) == 0)
            return systemctl({"start", k_service_name}, logger, __func__) == 0 ? QEL_SUCCESS : QEL_FAILURE;
        uint32_t pid = 0;
        uint32_t result = pf_service_start(k_service_name, &pid);
        if (result != 0)
        {
            QEL_FAIL(logger, result == PF_ERROR_SERVICE_DOES_NOT_EXIST
                                 ? "Error while getting handle to existing service."
                                 : "Error while starting the service.");
            QEL_ERROR_TEXT_IN(__func__, logger, result);
            return QEL_FAILURE;
        }
        return wait_for_start(pid, logger, __func__);
    }
    uint32_t result = pf_service_control(k_service_name, PF_SERVICE_CONTROL_STOP, nullptr);
    if (result != 0)
    {
        QEL_FAIL(logger, result == PF_ERROR_SERVICE_DOES_NOT_EXIST
                             ? "Error while getting handle to existing service."
                             : "Error while stopping the service.");
        QEL_ERROR_TEXT_IN(__func__, logger, result);
        return QEL_FAILURE;
    }
    QEL_LOG(logger, LOG_LEVEL_EVENT, "Stop control sent to service [%s]", k_service_name);
    return QEL_SUCCESS;
}

} // namespace qel_service
