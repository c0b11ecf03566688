// qelstat's parameter tables: the online and offline parameter files read line by line,
// each line's plug-in loaded and bound (init called, value records made), and the
// release of every plug-in (destroy called, library unloaded, records freed).
//
// A line is: plug-in file, name, interval (online, seconds) or time of day (offline,
// HHMM), argument count, then that many arguments, each field followed by a comma (the
// last argument may end the line instead). A blank line gives no parameter; a line that
// does not fit its fields, or falls short of its arguments, is refused with its file and
// line number and the others go on. A plug-in that cannot be loaded or bound leaves its
// parameter in the table without an entry point.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/logging/tool_logger.h"
#include "tools/statistics/qel_stats_config.h"
#include "tools/statistics/qel_stats_interface.h"

enum
{
    QEL_STATS_LINE_MAX = 4096, // characters of a parameter line, its newline left out
};

struct qel_stats_parameter_fields
{
    std::string plugin_file;
    std::string name;
    int32_t number; // interval or time of day
    std::vector<std::string> arguments;
};

// true with the fields, or false with the reason the line is refused.
bool qel_stats_parse_parameter_line(const std::string &line, qel_stats_parameter_fields *fields,
                                    std::string *reason);

// The tables; NULL when the file cannot be read or memory runs out. The count of records
// goes to the configuration (online_count, offline_count).
qel_stats_online_parameter *qel_stats_online_parameters_create(qel_stats_config_parameters *config,
                                                               qel_tools::logger_object *logger);
qel_stats_offline_parameter *qel_stats_offline_parameters_create(qel_stats_config_parameters *config,
                                                                 qel_tools::logger_object *logger);
void qel_stats_online_parameters_destroy(qel_stats_online_parameter *table, int32_t count,
                                         qel_tools::logger_object *logger);
void qel_stats_offline_parameters_destroy(qel_stats_offline_parameter *table, int32_t count,
                                          qel_tools::logger_object *logger);
