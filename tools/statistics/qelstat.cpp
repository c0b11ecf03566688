// qelstat: computes the installation's statistics through its plug-ins and writes the
// files the console's statistics pages show.
//
//   qelstat -c config-file    runs until SIGTERM, SIGINT or SIGHUP (then exits 0)
//   qelstat -v                version
//   qelstat --help            usage
//
// Exit codes: 0; 10003 when start-up fails (a parent sees 19); 10005 for a bad command line
// (21). After start-up its standard output and error go to qel_text_log_default.txt in its
// working folder; a failed start-up also tells the terminal why and where to look.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "common/ea_getopt.h"
#include "platform/core/pf_redirect.h"
#include "platform/core/pf_signal.h"
#include "tools/statistics/qel_stats_loop.h"

using qel_tools::LOG_LEVEL_SYSTEM_ERROR;
using qel_tools::logger_object_container;

namespace
{
const char k_version[] = "3.0 RC10";
const char k_default_log[] = "qel_text_log_default.txt";
const char *const k_logger_names[] = {"main"};
const int k_start_up_failure = 10003;
const int k_usage_error = 10005;

void usage(const char *program)
{
    printf("\nUsage: %s -v|c [config-file name]\n", program);
    printf("\nOptions:\n");
    printf("\tv: Displays QEL version\n");
    printf("\tc [config-file name]: Starts QEL with the specified config file\n");
}

// The terminal's standard error, kept before the outputs go to the default log.
int g_terminal = -1;

int start_up_failed(const char *why, const char *log_folder)
{
    if (g_terminal >= 0)
        dprintf(g_terminal, "qelstat: start-up failed: %s\nqelstat: see the log folder [%s] and [%s]\n", why,
                log_folder, k_default_log);
    return k_start_up_failure;
}

void redirect_output()
{
    const char *failed_call = "open";
    if (pf_redirect_output(k_default_log, PF_REDIRECT_BOTH, &failed_call) == 0)
        return;
    int error = errno;
    if (strcmp(failed_call, "open") == 0)
        qel_tools::logging_info_logf(nullptr, LOG_LEVEL_SYSTEM_ERROR, __func__, __FILE__, __LINE__,
                                     "open for file [%s] failed with error [%d] - [%s]", k_default_log, error,
                                     strerror(error));
    else
        qel_tools::logging_info_logf(nullptr, LOG_LEVEL_SYSTEM_ERROR, __func__, __FILE__, __LINE__,
                                     "dup2 failed with error [%d] - [%s]", error, strerror(error));
    qel_tools::logging_info_logf(nullptr, LOG_LEVEL_SYSTEM_ERROR, "main", __FILE__, __LINE__,
                                 "redirect_output failed. Text messages would be lost");
}

int run(const char *config_file)
{
    printf("\nStarting QEL_STATISTICS [%s] with config file [%s]\n", k_version, config_file);
    fflush(stdout);
    g_terminal = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (access(config_file, R_OK) != 0)
    {
        dprintf(g_terminal, "qelstat: the configuration file [%s] cannot be read: %s\n", config_file,
                strerror(errno));
        return k_start_up_failure;
    }
    redirect_output();

    logger_object_container *container =
        qel_tools::logger_object_container_create(config_file, k_logger_names, 1);
    if (container == nullptr)
    {
        fprintf(stderr, "Loggger Object container creation failed\n");
        return start_up_failed("the logger could not be created (is LOG_FILE_PATH set?)", "-");
    }
    qel_stats_state state = {};
    state.container = container;
    state.logger = container->loggers[0];
    std::string log_folder = container->info->log_folder;

    state.config = create_qel_stats_config_parameters(config_file, state.logger);
    if (state.config == nullptr)
    {
        QEL_TOOL_LOG(state.logger, LOG_LEVEL_SYSTEM_ERROR, "Config parameter creation failed");
        qel_tools::logger_object_container_destroy(container);
        return start_up_failed("the configuration or the current files folder was refused",
                               log_folder.c_str());
    }
    state.global = qel_stats_global_create(state.config, state.logger);
    if (state.global == nullptr)
    {
        QEL_TOOL_LOG(state.logger, LOG_LEVEL_SYSTEM_ERROR, "qel_stats_global object cteation failed");
        qel_stats_config_parameters_destroy(state.config);
        qel_tools::logger_object_container_destroy(container);
        return start_up_failed("a parameter file could not be read", log_folder.c_str());
    }

    static std::atomic<uint16_t> stop(0);
    pf_stop_on_termination_signal(&stop);
    qel_stats_begin(&state, static_cast<int64_t>(time(nullptr)));
    qel_stats_run(&state, &stop);

    QEL_TOOL_LOG(state.logger, qel_tools::LOG_LEVEL_EVENT,
                 "Stop requested: the plug-ins are released and the logs rolled");
    qel_stats_global_destroy(state.global, state.config, state.logger);
    qel_stats_config_parameters_destroy(state.config);
    qel_tools::logger_object_container_destroy(container);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "--help") == 0)
        {
            usage(argv[0]);
            return 0;
        }
    }
    // Only the first option counts.
    switch (ea::getopt(argc, argv, ":vc:"))
    {
    case 'v':
        printf("\nQel Application Version: %s\nCompiled on %s at %s\n", k_version, __DATE__, __TIME__);
        return 0;
    case 'c':
        return run(ea::optarg);
    case ':':
        printf("\nArgument missing for option c\n");
        usage(argv[0]);
        return k_usage_error;
    case '?':
        printf("\nInvalid option\n");
        usage(argv[0]);
        return k_usage_error;
    default:
        usage(argv[0]);
        return k_usage_error;
    }
}
