// The statistics files of the online parameters, which the console's statistics pages
// read: one per parameter in the current folder, holding only the newest line, and one in
// the history folder, holding every line of the day. Each is named
// <folder>/<parameter>.<stamp>.current.txt, the stamp being qelstat's start time (renewed
// at each day change) as %Y%m%d.%H%M%S in local time.
//
// A line holds, for each value record of the parameter, "id,name,value,unit,next|", the
// last "|" replaced by a newline; "next" is the time of the parameter's next call, after
// which the console would see the value as stale. A line never passes 1023 characters,
// which is all the console reads: a record that would pass it is left out (and logged).
#pragma once

#include <cstdint>
#include <string>

#include "tools/logging/tool_logger.h"
#include "tools/statistics/qel_stats_interface.h"

enum
{
    QEL_STATS_LINE_SIZE = 1024, // the line and its terminating NUL
};

std::string qel_stats_file_path(const char *folder, const char *parameter_name, const char *stamp);
// The line of the parameter's value records, ending in a newline.
std::string qel_stats_file_line(const qel_stats_online_parameter *parameter, int64_t next_call_time,
                                qel_tools::logger_object *logger);
// Writes the line over the current file and at the end of the history file; each file
// that cannot be opened or written is logged, and the other is still written.
void qel_stats_file_write(const char *current_folder, const char *history_folder,
                          const qel_stats_online_parameter *parameter, const char *stamp,
                          const std::string &line, qel_tools::logger_object *logger);
