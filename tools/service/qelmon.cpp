// qelmon: the monitoring service of the installation and its own management.
//
//   qelmon -a CREATE|DELETE|START|STOP|RUN [-w folder] -c config-file
//   qelmon -v          version
//   qelmon --help      usage
//
// RUN is the service itself (systemd's ExecStart, or a terminal): it starts and watches
// every process of the registry until the stop control, SIGTERM, SIGINT or SIGHUP. Exit
// code 0, or 1000 on any failure (a parent sees 232); a failed action also tells the
// terminal why and where its log is.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/ea_getopt.h"
#include "platform/core/pf_self.h"
#include "tools/service/qel_service_controller.h"
#include "tools/service/qel_service_management.h"

using namespace qel_service;

namespace
{
const char k_version[] = "3.0 RC6";
const char k_default_log[] = "qel_monitoring_service_text_log_default.txt";
const char *const k_logger_names[] = {"qel_monitoring_thread"};

void usage(const char *program)
{
    printf("Usage: %s : -a|-v|c [config-file name]\n\tcompiled on %s at %s.\n", program, __DATE__, __TIME__);
    printf("\nOptions: \n\t\t -a : action [START\\STOP\\DELETE\\CREATE]\n\t\t -c Configuration file for QEL "
           "monitoring service\n");
    printf(
        "\t\t -w : working folder (\".\": the folder of qelmon's executable)\n\t\t -a RUN : runs the service in "
        "the foreground\n\t\t -v : version\n");
}

// The terminal's standard error, kept before the outputs go to the default log.
int g_terminal = -1;

void tell_terminal(const char *action, const std::string &folder, const char *log_folder)
{
    if (g_terminal < 0)
        return;
    std::string text = std::string("qelmon: action [") + action + "] failed: " + qel_service_last_failure() +
                       "\nqelmon: see the log folder [" + log_folder + "] and [" + folder + "/" +
                       k_default_log + "]\n";
    ssize_t written = write(g_terminal, text.data(), text.size());
    (void)written;
}

// What the command line asks for.
struct qelmon_options
{
    const char *action = nullptr;
    const char *config_file = nullptr;
    const char *working = ".";
};

// -1 when the action is to run; otherwise the program's exit code (usage, version, a
// refused option).
int parse_command_line(int argc, char **argv, qelmon_options *options)
{
    if (argc < 2)
    {
        usage(argv[0]);
        return QEL_FAILURE;
    }
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "--help") == 0)
        {
            usage(argv[0]);
            return QEL_SUCCESS;
        }
    }
    int option;
    while ((option = ea::getopt(argc, argv, ":va:c:w:")) != -1)
    {
        switch (option)
        {
        case 'v':
            printf("QEL Monitoring Service Version %s\n", k_version);
            printf("%s : compiled on %s at %s.\n", argv[0], __DATE__, __TIME__);
            return QEL_SUCCESS;
        case 'a':
            options->action = ea::optarg;
            break;
        case 'c':
            options->config_file = ea::optarg;
            break;
        case 'w':
            options->working = ea::optarg;
            break;
        default:
            printf("Invalid options.\n");
            return QEL_FAILURE;
        }
    }
    if (ea::optind < argc)
    {
        printf("Invalid options.\n");
        return QEL_FAILURE;
    }
    return -1;
}

// Changes to the working folder ("." is the executable's own); the folder as it then
// stands, or as given when the change failed.
std::string enter_working_folder(const char *working)
{
    std::string folder = working;
    if (folder == "." && !pf_self_folder(&folder))
    {
        fprintf(stderr, "Error while getting self name.\n");
        folder = ".";
    }
    if (chdir(folder.c_str()) != 0)
        fprintf(stderr, "Failed to change the working folder to [%s]: %s\n", folder.c_str(), strerror(errno));
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr)
        folder = cwd;
    return folder;
}

// Sends both outputs to the default text log (the terminal's kept for a failure) and
// creates the logger container; null after the failure has been told. Its lines are those
// of the start-up, logged under the name of `caller` (main), as are run_action's.
logger_object_container *open_logs(const qelmon_options &options, const std::string &folder,
                                   const char *caller)
{
    const char *action = options.action ? options.action : "";
    const char *config_file = options.config_file;
    g_terminal = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (redirect_output(k_default_log, REDIRECT_BOTH) != QEL_SUCCESS)
    {
        dprintf(g_terminal, "Redirecting the output failed.\n");
        return nullptr;
    }
    if (config_file == nullptr || access(config_file, R_OK) != 0)
    {
        qel_service_note_failure(config_file == nullptr ? "no configuration file given (-c)"
                                                        : "the configuration file cannot be read");
        qel_service::logging_info_logf(nullptr, qel_tools::LOG_LEVEL_SYSTEM_ERROR, caller, __FILE__, __LINE__,
                                       "Configuration file [%s] cannot be read.",
                                       config_file ? config_file : "");
        tell_terminal(action, folder, "-");
        return nullptr;
    }
    logger_object_container *container = logger_object_container_create(config_file, k_logger_names, 1);
    if (container == nullptr)
    {
        QEL_FAIL_IN(caller, nullptr, "Creation of logger object container failed.");
        tell_terminal(action, folder, "-");
    }
    return container;
}

int32_t run_action(const std::string &what, const std::string &folder, const char *config_file,
                   logger_object_container *container, const char *caller)
{
    logger_object *logger = container->loggers[0];
    if (what == "CREATE")
        return create_qel_service_entry(folder.c_str(), config_file, logger);
    if (what == "DELETE")
        return delete_qel_service_entry(logger);
    if (what == "START")
        return control_qel_service(QEL_CONTROL_START, logger);
    if (what == "STOP")
        return control_qel_service(QEL_CONTROL_STOP, logger);
    if (what == "RUN")
        return qel_service_initialize(container, logger);
    QEL_FAIL_IN(caller, logger, "Invalid action [%s] specified.", what.c_str());
    return QEL_FAILURE;
}
} // namespace

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);
    qelmon_options options;
    int ended = parse_command_line(argc, argv, &options);
    if (ended >= 0)
        return ended;
    std::string folder = enter_working_folder(options.working);
    logger_object_container *container = open_logs(options, folder, __func__);
    if (container == nullptr)
        return QEL_FAILURE;
    std::string what = options.action != nullptr ? options.action : "";
    int32_t result = run_action(what, folder, options.config_file, container, __func__);
    std::string log_folder = container->info->log_folder;
    logger_object_container_destroy(container);
    if (result != QEL_SUCCESS)
        tell_terminal(what.c_str(), folder, log_folder.c_str());
    return result;
}
