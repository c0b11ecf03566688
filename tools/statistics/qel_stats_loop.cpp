// The main loop's passes. Online parameters are sampled on their intervals; offline ones
// run once a day. An offline parameter's output path is built each day from its own name
// (kept apart from the record's name field, which the call gets the path in) and must fit
// that field, or that day's call is skipped. At the day change the previous day's current
// files are removed: left behind with their old times they would blank the console's rows.
#include "tools/statistics/qel_stats_loop.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <thread>

#include "tools/statistics/qel_stats_file.h"
#include "tools/statistics/qel_stats_parameters.h"

using qel_tools::LOG_LEVEL_ACTIVITY;
using qel_tools::LOG_LEVEL_SYSTEM_ERROR;
using qel_tools::logger_object;

namespace
{

const int k_pass_ms = 1000;
const int k_stop_poll_ms = 50;

bool local_time(int64_t now, struct tm *local)
{
    time_t seconds = static_cast<time_t>(now);
    return localtime_r(&seconds, local) != nullptr;
}

int32_t day_of(int64_t now)
{
    struct tm local;
    if (!local_time(now, &local))
        return -1;
    return (local.tm_year + 1900) * 1000 + local.tm_yday;
}

void file_stamp(int64_t now, char *stamp, size_t size)
{
    struct tm local;
    if (!local_time(now, &local) || strftime(stamp, size, "%Y%m%d.%H%M%S", &local) == 0)
        snprintf(stamp, size, "%s", "00000000.000000");
}

bool file_exists(const char *path)
{
    struct stat status;
    return stat(path, &status) == 0;
}

void call_online(qel_stats_state *state, qel_stats_online_parameter *record, int64_t now)
{
    logger_object *logger = state->logger;
    record->current_time = now;
    // A clock set back makes the parameter due at once rather than silent until it catches up.
    if (now - record->last_call_time < record->interval && now >= record->last_call_time)
        return;
    record->last_call_time = now;
    if (record->entry_point == nullptr)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY, "Function address not found for [%s]", record->plugin_file);
        return;
    }
    int32_t result = record->entry_point(record, logger);
    if (result == QEL_STATS_ERROR || result == QEL_STATS_VALID)
    {
        QEL_TOOL_LOG(logger, result == QEL_STATS_ERROR ? LOG_LEVEL_SYSTEM_ERROR : LOG_LEVEL_ACTIVITY,
                     "get_qel_statistics() function failed for dll [%s]", record->plugin_file);
        return;
    }
    std::string line = qel_stats_file_line(record, now + record->interval, logger);
    qel_stats_file_write(state->config->current_folder, state->config->history_folder, record, state->stamp,
                         line, logger);
}

void call_offline(qel_stats_state *state, qel_stats_offline_parameter *record, int position, int64_t now)
{
    logger_object *logger = state->logger;
    record->done = 1;
    char stamp[QEL_STATS_STAMP_SIZE];
    qel_stats_offline_stamp(now, record->time_of_day, stamp, sizeof stamp);
    std::string path =
        std::string(state->config->offline_folder) + "/" + record->parameter_name + "." + stamp;
    if (path.size() >= sizeof record->name)
    {
        QEL_TOOL_LOG(
            logger, LOG_LEVEL_SYSTEM_ERROR,
            "Offline output path [%s] of parameter [%d] is longer than [%d] characters: it does not run today",
            path.c_str(), position, static_cast<int>(sizeof record->name) - 1);
        return;
    }
    memset(record->name, 0, sizeof record->name);
    memcpy(record->name, path.c_str(), path.size());
    if (file_exists(record->name))
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY, "%s found, no need to recreate file", record->name);
        return;
    }
    if (record->entry_point == nullptr)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY, "Function address not found for [%s]", record->plugin_file);
        return;
    }
    int32_t result = record->entry_point(record, logger);
    if (result == QEL_STATS_ERROR)
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR, "get_qel_statistics() function failed for dll [%s]",
                     record->plugin_file);
    else if (result == QEL_STATS_VALID)
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY,
                     "get_qel_statistics() function returned EA_VALID for dll [%s]", record->plugin_file);
    else
        QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY, "Offline statistics files generated for parameter [%d]",
                     position);
}

void change_day(qel_stats_state *state, int32_t day, int64_t now)
{
    logger_object *logger = state->logger;
    qel_tools::logger_object_container_update_time(state->container);
    for (uint32_t i = 0; i < state->container->count; ++i)
        qel_tools::logger_object_reopen(state->container->loggers[i]);
    qel_stats_config_parameters_rename_history_files(state->config, logger);
    qel_stats_offline_parameters_reset_flag(state->global->offline, state->config->offline_count, logger);
    state->day = day;
    char previous[QEL_STATS_STAMP_SIZE];
    memcpy(previous, state->stamp, sizeof previous);
    file_stamp(now, state->stamp, sizeof state->stamp);
    for (int32_t i = 0; i < state->config->online_count; ++i)
    {
        std::string stale =
            qel_stats_file_path(state->config->current_folder, state->global->online[i].name, previous);
        if (unlink(stale.c_str()) != 0 && errno != ENOENT)
            QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR, "Can not remove the file [%s]. Error Code [%d]",
                         stale.c_str(), errno);
    }
}

} // namespace

qel_stat_global *qel_stats_global_create(qel_stats_config_parameters *config, logger_object *logger)
{
    qel_stat_global *global = new (std::nothrow) qel_stat_global();
    if (global == nullptr)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR, "Memory allocation for qel_stat_global failed");
        return nullptr;
    }
    global->online = qel_stats_online_parameters_create(config, logger);
    if (global->online == nullptr)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR, "qel_stats_online_parameters object creation failed");
        delete global;
        return nullptr;
    }
    global->offline = qel_stats_offline_parameters_create(config, logger);
    if (global->offline == nullptr)
    {
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                     "qel_stats_offline_parameters struction creation failed");
        qel_stats_online_parameters_destroy(global->online, config->online_count, logger);
        delete global;
        return nullptr;
    }
    return global;
}

void qel_stats_global_destroy(qel_stat_global *global, qel_stats_config_parameters *config,
                              logger_object *logger)
{
    if (global == nullptr)
        return;
    qel_stats_online_parameters_destroy(global->online, config->online_count, logger);
    qel_stats_offline_parameters_destroy(global->offline, config->offline_count, logger);
    config->online_count = 0;
    config->offline_count = 0;
    delete global;
}

void qel_stats_offline_parameters_reset_flag(qel_stats_offline_parameter *table, int32_t count,
                                             logger_object *logger)
{
    for (int32_t i = 0; i < count; ++i)
        table[i].done = 0;
    QEL_TOOL_LOG(logger, LOG_LEVEL_ACTIVITY, "Offline Flags resetted to TRUE");
}

void qel_stats_offline_stamp(int64_t now, int32_t time_of_day, char *stamp, size_t size)
{
    struct tm local;
    if (!local_time(now, &local))
        memset(&local, 0, sizeof local);
    snprintf(stamp, size, "%04d%02d%02d.%06ld", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             static_cast<long>(time_of_day) * 100);
}

void qel_stats_begin(qel_stats_state *state, int64_t now)
{
    state->day = day_of(now);
    file_stamp(now, state->stamp, sizeof state->stamp);
}

void qel_stats_pass(qel_stats_state *state, int64_t now)
{
    int32_t day = day_of(now);
    if (day != state->day)
        change_day(state, day, now);
    for (int32_t i = 0; i < state->config->online_count; ++i)
        call_online(state, &state->global->online[i], now);
    struct tm local;
    if (!local_time(now, &local))
        return;
    int32_t time_of_day = local.tm_hour * 100 + local.tm_min;
    for (int32_t i = 0; i < state->config->offline_count; ++i)
    {
        qel_stats_offline_parameter *record = &state->global->offline[i];
        if (record->done == 0 && time_of_day >= record->time_of_day)
            call_offline(state, record, i + 1, now);
    }
}

void qel_stats_run(qel_stats_state *state, const std::atomic<uint16_t> *stop)
{
    while (stop->load() == 0)
    {
        qel_stats_pass(state, static_cast<int64_t>(time(nullptr)));
        for (int slept = 0; slept < k_pass_ms && stop->load() == 0; slept += k_stop_poll_ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(k_stop_poll_ms));
    }
}
