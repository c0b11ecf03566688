// qelstat's work: the global context with its two parameter tables, and the main loop,
// one pass a second. A pass notices the day change (logs reopened, history rolled, the
// offline parameters due again, new statistics files begun), calls every online
// parameter whose interval has passed and writes its line, and runs every offline
// parameter whose time of day has come and has not run today.
//
// The pass takes the time from its caller, so that a test can drive the days.
#pragma once

#include <atomic>
#include <cstdint>

#include "tools/logging/tool_logger.h"
#include "tools/statistics/qel_stats_config.h"
#include "tools/statistics/qel_stats_interface.h"

struct qel_stat_global
{
    qel_stats_online_parameter *online;
    qel_stats_offline_parameter *offline;
};

enum
{
    QEL_STATS_STAMP_SIZE = 32,
};

struct qel_stats_state
{
    qel_tools::logger_object_container *container;
    qel_tools::logger_object *logger;
    qel_stats_config_parameters *config;
    qel_stat_global *global;
    int32_t day;                      // local year * 1000 + day of the year
    char stamp[QEL_STATS_STAMP_SIZE]; // of the statistics files, %Y%m%d.%H%M%S
};

// NULL (after logging why, the tables made so far released) when a table cannot be made.
qel_stat_global *qel_stats_global_create(qel_stats_config_parameters *config,
                                         qel_tools::logger_object *logger);
// Every plug-in destroyed and unloaded, the records freed.
void qel_stats_global_destroy(qel_stat_global *global, qel_stats_config_parameters *config,
                              qel_tools::logger_object *logger);

// The day and the files' stamp from the start time.
void qel_stats_begin(qel_stats_state *state, int64_t now);
void qel_stats_pass(qel_stats_state *state, int64_t now);
// Passes a second apart until *stop is raised; the pass under way is finished first.
void qel_stats_run(qel_stats_state *state, const std::atomic<uint16_t> *stop);

// Clears every offline parameter's done flag.
void qel_stats_offline_parameters_reset_flag(qel_stats_offline_parameter *table, int32_t count,
                                             qel_tools::logger_object *logger);
// The offline output stamp of a day and a time of day: 20120305.093000 for 09:30 on 5 March 2012.
void qel_stats_offline_stamp(int64_t now, int32_t time_of_day, char *stamp, size_t size);
