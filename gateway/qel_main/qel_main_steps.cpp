// The steps of main that tests drive on their own: output redirection, the daily roll,
// the watch of the FIX acceptor and the exit code from the threads' exit values.
#include "gateway/qel_main/qel_main.h"

#include <cerrno>
#include <cstring>

#include "common/ea_time.h"
#include "gateway/fix_network_handle/fix_nw_info.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/logger.h"
#include "platform/core/pf_redirect.h"

ea_status redirect_output(const char *file_name, int which)
{
    if (which != PF_REDIRECT_STDOUT && which != PF_REDIRECT_STDERR && which != PF_REDIRECT_BOTH)
    {
        EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "Invalid stream number option");
        return EA_ERROR;
    }
    const char *failed_call = "";
    if (pf_redirect_output(file_name, which, &failed_call) != 0)
    {
        int error = errno;
        if (strcmp(failed_call, "open") == 0)
            EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "open for file [%s] failed with error [%d] - [%s]",
                   file_name, error, strerror(error));
        else
            EA_LOG(nullptr, EA_LEVEL_SYSTEM_ERROR, "%s failed with error [%d] - [%s]", failed_call, error,
                   strerror(error));
        return EA_ERROR;
    }
    return EA_SUCCESS;
}

int qel_main_day_of_year(time_t now)
{
    struct tm local;
    return ea_localtime(&now, &local) != nullptr ? local.tm_yday : -1;
}

bool qel_main_roll_day(time_t now, int *noted_day, logger_object_container *loggers,
                       logger_object *main_logger, ea_global *global)
{
    int day = qel_main_day_of_year(now);
    if (day == *noted_day)
        return false;
    logger_object_container_day_change(loggers);
    logger_object_reopen(main_logger);
    print_runtime_parameters(global, main_logger);
    for (ea_flag &flag : global->day_flags)
        ea_flag_set(&flag, 1);
    *noted_day = day;
    return true;
}

bool qel_main_fix_acceptor_lost(ea_global *global, logger_object *logger)
{
    if (fix_nw_info_poll_acceptor(global->fix_nw_info) != EA_ERROR)
        return false;
    EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR,
           "The FIX acceptor has stopped and FIX clients can no longer connect. Stopping the gateway.");
    ea_flag_set(&global->shutdown_flag, 1);
    return true;
}

int32_t qel_main_exit_code(const int32_t *exit_values, uint32_t count)
{
    int32_t code = 0;
    for (uint32_t i = 0; i < count; ++i)
    {
        if (exit_values[i] == EA_ERROR)
            code = EA_ERROR;
        else if (exit_values[i] == EA_RESTART && code != EA_ERROR)
            code = EA_RESTART;
    }
    return code;
}
