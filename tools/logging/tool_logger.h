// The tools' logging library. Every named activity of a tool process (qelstat's "main",
// the service's "qel_monitoring_thread") has a logger_object with its own leveled text
// log and up to three binary logs in one log folder, one set of files per day. Files are
// named <folder>/<logger>_<kind>.<YYYYmmdd.HHMMSS>.current.<ext> while written and get
// "repository" in place of "current" when rolled, at creation (files a crashed run left),
// at the day change and at the end.
//
// qelstat lends its logger object to the plug-ins pkeff and onstat, which link this same
// library: the layout of logger_object and logging_info is therefore shared by all three.
// The service qelmon uses the older variant (tools/service/service_logger.h), which is
// this library with another line format, binary header and level fallback.
//
// The names are those of the gateway's own logger, which the tools' executables may link
// as well (the configuration reader, file finder and option parser live beside it), so
// they live in the namespace qel_tools.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/core/pf_log_file.h"

namespace qel_tools
{

enum : int16_t
{
    LOG_LEVEL_SYSTEM_ERROR = 0,
    LOG_LEVEL_BUSINESS_ERROR = 1,
    LOG_LEVEL_EVENT = 2,
    LOG_LEVEL_ACTIVITY = 3,
    LOG_LEVEL_DEBUG = 4,
    LOG_LEVEL_CONTINUATION = 5, // no name of its own: continues the previous line
};

// File kinds: index into a logger's descriptors.
enum
{
    LOG_FILE_TEXT = 0,
    LOG_FILE_BINARY = 1,
    LOG_FILE_INCOMING_BINARY = 2,
    LOG_FILE_OUTGOING_BINARY = 3,
    LOG_FILE_KINDS = 4,
};

enum
{
    LOG_LEVEL_COUNT = 5,
    LOG_FOLDER_SIZE = 1024,
    LOG_LEVEL_TEXT_SIZE = 256,
    LOGGER_NAME_SIZE = 500,
    LOG_NAME_BUFFER_SIZE = 20,    // bytes of the caller's name buffer in a binary header
    LOG_BINARY_HEADER_SIZE = 102, // the size of the gateway's binary record header
    LOG_RECORD_MAX_TOTAL = 65535, // the 16-bit total length, header included
    LOG_PATH_SIZE = LOG_FOLDER_SIZE + LOGGER_NAME_SIZE + 64,
};

// What tells the service's older variant from the tools' library.
struct logging_variant
{
    bool milliseconds;           // ":%03u" after the time in a text line
    uint32_t binary_header_size; // 102, or 32 for the service
    bool integer_level_fallback; // level 0 found: the integer LOGGING_LEVEL minus 1 decides
    bool serialised;             // writes take a process-wide lock (a logger shared by threads)
    // The configuration readers the container reads its keys with: true with a value.
    bool (*read_text)(const char *file, const char *key, char *buffer, size_t size);
    bool (*read_number)(const char *file, const char *key, int32_t *value);
};

struct logging_info
{
    int64_t time_stamp; // creation time, renewed at each day change; names the files
    char log_folder[LOG_FOLDER_SIZE];
    char level_keys[LOG_LEVEL_COUNT][LOG_LEVEL_TEXT_SIZE];  // "SYSTEM_ERROR" ... "DEBUG"
    char level_names[LOG_LEVEL_COUNT][LOG_LEVEL_TEXT_SIZE]; // "System Error" ... "Debug"
    const logging_variant *variant;
};

struct logger_object
{
    int64_t time_stamp; // copied from logging_info at creation and at each reopen
    char name[LOGGER_NAME_SIZE];
    int16_t level;                   // 0 to 4
    int32_t last_level;              // of the last line asked for at a level other than 5; -1 before
    int descriptors[LOG_FILE_KINDS]; // -1 when closed
    logging_info *info;
    char paths[LOG_FILE_KINDS][LOG_PATH_SIZE]; // of the open files
    pf_log_write_watch watches[LOG_FILE_KINDS];
    pf_log_name_watch name_watches[LOG_FILE_KINDS];
};

struct logger_object_container
{
    logging_info *info;
    uint32_t count;
    logger_object **loggers; // one per name, in the order given
};

// The tools' variant: milliseconds, 102-byte binary headers.
extern const logging_variant k_tools_logging;

// NULL on failure, after a line on standard error.
logger_object_container *logger_object_container_create(const char *config_file, const char *const names[],
                                                        uint32_t count);
logger_object_container *logger_object_container_create_variant(const char *config_file,
                                                                const char *const names[], uint32_t count,
                                                                const logging_variant *variant);
logger_object *logger_object_create(const char *config_file, const char *name, logging_info *info);

// One text line (logger NULL: standard error, as "System Error", never filtered).
void logging_info_log(logger_object *logger, const char *message, int16_t level, const char *function_name,
                      const char *source_file, uint32_t line);
// The same in a variant's manner: the NULL logger's line takes the variant's time format.
void logging_info_log_variant(const logging_variant *variant, logger_object *logger, const char *message,
                              int16_t level, const char *function_name, const char *source_file,
                              uint32_t line);
// Appends one binary record (kinds 1 to 3) and flushes. 0, or -1 when nothing was written:
// the file could not be opened, the record would exceed 65535 bytes in all (logged), or
// the write failed (the file is cut back to the record's start).
int logger_object_binary_log(logger_object *logger, const void *data, uint32_t data_length, int32_t value,
                             const char *name_buffer, int file_kind, uint16_t record_code);

// The day change: the container's time, then a reopen of each logger (its files closed
// and rolled; the next line opens new files under the new stamp).
void logger_object_container_update_time(logger_object_container *container);
// 0, or -1 when a file could not be rolled (the roll stops there).
int logger_object_reopen(logger_object *logger);
void logger_object_free(logger_object *logger);
void logger_object_container_destroy(logger_object_container *container);

// Internal steps, open for the tests.
bool logger_object_open_file(logger_object *logger, int file_kind);
void logger_object_close_files(logger_object *logger);
int logger_object_roll_files(logger_object *logger);
// The base name of a source path: after its last "/" or "\" (the whole text without one).
const char *logger_source_base_name(const char *path);

} // namespace qel_tools

// One formatted line through logging_info_log with the caller's function, file and line.
#define QEL_TOOL_LOG(logger, level, ...)                                                                     \
    qel_tools::logging_info_logf((logger), (level), __func__, __FILE__, __LINE__, __VA_ARGS__)

namespace qel_tools
{
void logging_info_logf(logger_object *logger, int16_t level, const char *function_name,
                       const char *source_file, uint32_t line, const char *format, ...)
    __attribute__((format(printf, 6, 7)));
}
