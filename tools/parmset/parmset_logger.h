// parmset's own small logger: one text file per day in the folder that the registry value
// PARMSET_LOG_FILES_PATH names (else the current folder), "parmset.<date>.<time>.current.txt".
// Creating the logger rolls the earlier days' parmset files to "repository" names; the file
// of the day is opened at the first line and reused by every run of that day.
//
// A line is "level|message|source file|function()|line|time", the time written as
// "Tuesday, November 10, 2009, 0:0:7.25" (no zero padding). The logger never stops the
// program: when its file cannot be written it says so once on standard error.
#pragma once

#include <ctime>
#include <string>

enum parmset_log_level
{
    PARMSET_ACTIVITY,
    PARMSET_EVENT,
    PARMSET_ERROR,
    PARMSET_CONTINUATION, // under the previous line's level, its level field left blank
};

struct parmset_logger;

// The log folder from the registry: PARMSET_LOG_FILES_PATH under SOFTWARE\QEL_IP, or "."
// when the registry, the key or the value is missing, empty or unreadable.
std::string parmset_log_folder();

// A logger writing into folder, stamped with the local time `now`. Null (with the reason
// in *error) when the folder is not a folder this process may write into.
parmset_logger *parmset_logger_create(const std::string &folder, time_t now, std::string *error);
void parmset_logger_destroy(parmset_logger *logger);

void parmset_logger_log(parmset_logger *logger, parmset_log_level level, const char *function,
                        const char *source_file, int line, const char *format, ...)
    __attribute__((format(printf, 6, 7)));

#define PARMSET_LOG(logger, level, ...)                                                                      \
    parmset_logger_log(logger, level, __func__, __FILE__, __LINE__, __VA_ARGS__)
// From inside a lambda, whose own name says nothing: the enclosing function's name.
#define PARMSET_LOG_IN(function, logger, level, ...)                                                         \
    parmset_logger_log(logger, level, function, __FILE__, __LINE__, __VA_ARGS__)

// The line's time text for a broken-down local time and its milliseconds.
std::string parmset_log_time_text(const struct tm &local, int milliseconds);
