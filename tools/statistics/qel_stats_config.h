// qelstat's configuration: its five keys (the parameter files and the current, history
// and offline folders), the emptying of the current folder at start-up and the roll of
// the history files to "repository" names at start-up and at each day change.
#pragma once

#include <cstdint>

#include "tools/logging/tool_logger.h"

enum
{
    QEL_STATS_PARAM_FILE_SIZE = 256,
    QEL_STATS_FOLDER_SIZE = 512,
};

struct qel_stats_config_parameters
{
    int32_t online_count; // set by the online table's reader
    int32_t offline_count;
    char online_file[QEL_STATS_PARAM_FILE_SIZE];
    char offline_file[QEL_STATS_PARAM_FILE_SIZE];
    char current_folder[QEL_STATS_FOLDER_SIZE];
    char history_folder[QEL_STATS_FOLDER_SIZE];
    char offline_folder[QEL_STATS_FOLDER_SIZE];
};

// Reads the keys, refuses a current folder that emptying would harm (the history, offline,
// log or working folder), empties it and rolls the history files. NULL (after the reason's log line) when
// start-up cannot go on.
qel_stats_config_parameters *create_qel_stats_config_parameters(const char *config_file,
                                                                qel_tools::logger_object *logger);
void qel_stats_config_parameters_destroy(qel_stats_config_parameters *config);
// Every "*.current.txt" of the history folder becomes "*.repository.txt", numbered
// ("repository.1", ...) where that name is taken: no file is ever replaced.
void qel_stats_config_parameters_rename_history_files(const qel_stats_config_parameters *config,
                                                      qel_tools::logger_object *logger);
