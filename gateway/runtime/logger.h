// The gateway's logger. Each thread owns one logger_object, named after the thread, and
// writes through it without locks: one text line per event and, where enabled, binary
// logs of the records it sends and receives. One logger_object_container holds every
// logger of the process and the shared logging_info (log folder, level names, start time
// and the high-resolution timer). Files carry "current" in their names while written and
// are renamed to "repository" names when closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "common/ea_status.h"
#include "common/ea_time.h"
#include "platform/core/pf_log_file.h"

struct message;

enum : int16_t
{
    EA_LEVEL_SYSTEM_ERROR = 0,
    EA_LEVEL_BUSINESS_ERROR = 1,
    EA_LEVEL_EVENT = 2,
    EA_LEVEL_ACTIVITY = 3,
    EA_LEVEL_DEBUG = 4,
    EA_LEVEL_CONTINUATION = 5, // a line under the previous line's level
};

enum
{
    EA_LOG_LEVEL_COUNT = 5,
    EA_LOG_LINE_SIZE = 1024,
    EA_LOG_FOLDER_SIZE = 1024,
    EA_LOGGER_NAME_SIZE = 500,
    EA_LEVEL_NAME_SIZE = 256,
    EA_BINARY_LOG_HEADER_SIZE = 102,
    EA_BINARY_FILE_HEADER_SIZE = 16,
    // Folder, "/", logger name, "_", kind, stamp, "current" and the extension.
    EA_LOG_PATH_SIZE = EA_LOG_FOLDER_SIZE + EA_LOGGER_NAME_SIZE + 64,
};

// Binary log record kinds used by the gateway's writers.
enum : uint16_t
{
    EA_BINARY_KIND_WORKSTATION = 0,
    EA_BINARY_KIND_FIX = 1,
    EA_BINARY_KIND_HOST = 3,
};

// Binary log files.
enum
{
    EA_REQUEST_LOG = 1,
    EA_RESPONSE_LOG = 2,
};

// The start of the tick-derived clock, as one consistent snapshot.
struct logging_clock
{
    int64_t start_seconds; // wall-clock seconds + 19800 (UTC+05:30)
    uint16_t start_milliseconds;
    uint32_t start_tick;
};

// Who is told when writes to a log file begin to fail (failing true, value the error
// number) and when they succeed again (failing false, value the lines lost meanwhile):
// once per spell and file, from the thread whose write it was. It must not log.
struct logging_write_notice
{
    void (*tell)(void *context, bool failing, uint64_t value);
    void *context;
};

// The day change re-bases the clock while other threads read it, so the three fields are
// published with a sequence lock: clock_sequence is odd while a writer rewrites them, and
// a reader retries until it sees the same even sequence before and after its reads.
struct logging_info
{
    std::atomic<int64_t> day; // wall-clock time at creation or at the last day change
    std::atomic<uint32_t> clock_sequence;
    std::atomic<int64_t> start_seconds;
    std::atomic<uint16_t> start_milliseconds;
    std::atomic<uint32_t> start_tick;
    std::atomic<uint32_t> time_synchronised;
    char log_folder[EA_LOG_FOLDER_SIZE];
    char key_level_names[EA_LOG_LEVEL_COUNT][EA_LEVEL_NAME_SIZE];
    char level_names[EA_LOG_LEVEL_COUNT][EA_LEVEL_NAME_SIZE];
    ea_high_resolution_timer timer;
    uint32_t high_resolution;
    std::atomic<const logging_write_notice *> write_notice; // null: standard error alone
    // Until main has started every thread: a System Error line that its log cannot take
    // goes to standard error as well, so that a start that fails on a full disk says why.
    std::atomic<bool> starting;
};

// Reads the tick-derived clock's start as one snapshot (never half of a re-base).
logging_clock logging_info_read_clock(const logging_info *info);

struct logger_context
{
    int16_t level;
    const char *function_name;
    const char *source_file;
    uint32_t line;
    struct logger_object *logger;
};

struct logger_object
{
    int64_t day;
    char name[EA_LOGGER_NAME_SIZE];
    int16_t level;
    uint16_t binary_logging;
    int32_t last_level;
    int32_t descriptors[3]; // text, request, response; -1 when closed
    logging_info *info;
    logger_context context;
    char paths[3][EA_LOG_PATH_SIZE]; // of the open files
    pf_log_write_watch watches[3];
    bool spells_untold[3]; // a spell began while no one listened (the write notice)
    pf_log_name_watch name_watches[3];
};

struct logger_object_container
{
    logging_info *info;
    uint32_t count;
    logger_object **loggers;
};

logger_object_container *logger_object_container_create(const char *config_file, const char *const names[],
                                                        uint32_t count);
void logger_object_container_destroy(logger_object_container *container);
void logger_object_container_day_change(logger_object_container *container);
void logger_object_container_set_start_time(logger_object_container *container, int64_t seconds,
                                            uint16_t milliseconds);

logger_object *logger_object_set_context(logger_object *logger, int16_t level, const char *function_name,
                                         const char *source_file, uint32_t line);
void logger_object_log_message(logger_object *logger, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void logger_object_binary_log(logger_object *logger, message *msg, uint16_t record_kind, int file,
                              uint32_t tick, uint32_t value32, uint16_t value16);
// The same two in two steps, for a line or record that is held before it is written (what
// the gateway writes about a connection that has not signed on): the format functions make
// the line or record now, with the time and context of the call, and give its length (0 when
// the logger would write none); the write functions write it later, unchanged.
size_t logger_object_format_message(logger_object *logger, char *line, size_t size, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
void logger_object_write_line(logger_object *logger, const char *line, size_t length);
size_t logger_object_format_binary(logger_object *logger, message *msg, uint16_t record_kind, int file,
                                   uint32_t tick, uint32_t value32, uint16_t value16, uint8_t *record,
                                   size_t size);
void logger_object_write_binary(logger_object *logger, int file, const uint8_t *record, size_t length);
void logger_object_stamp_message(logger_object *logger, message *msg, uint32_t value);
int64_t logger_object_get_current_time(logger_object *logger);
void logger_object_reopen(logger_object *logger);
void logger_object_free(logger_object *logger);

// Points the container's loggers at who is told of failing log writes (null: no one but
// standard error). The notice must outlive every write after it is set. A spell that
// began before (the start-up lines come before the console link) is told at the next write
// to its file.
void logger_object_container_set_write_notice(logger_object_container *container,
                                              const logging_write_notice *notice);

// Start-up is over (see logging_info::starting).
void logger_object_container_started(logger_object_container *container);

// Every log call of the gateway: level, then a printf format and its arguments.
#define EA_LOG(logger, level, ...)                                                                           \
    logger_object_log_message(logger_object_set_context((logger), (level), __func__, __FILE__, __LINE__),    \
                              __VA_ARGS__)
// The same under the name of the function whose line it is, handed down by that function to
// the helper or step that writes the line for it.
#define EA_LOG_IN(function, logger, level, ...)                                                              \
    logger_object_log_message(logger_object_set_context((logger), (level), (function), __FILE__, __LINE__),  \
                              __VA_ARGS__)

// Frees through a null test; a pointer already null prints the given name to standard
// error ("message is already NULL. File [...], line [...]") and frees nothing.
#define EA_FREE_CHECKED(pointer, free_function, name)                                                        \
    do                                                                                                       \
    {                                                                                                        \
        if ((pointer) != nullptr)                                                                            \
        {                                                                                                    \
            free_function(pointer);                                                                          \
            (pointer) = nullptr;                                                                             \
        }                                                                                                    \
        else                                                                                                 \
        {                                                                                                    \
            fprintf(stderr, "%s is already NULL. File [%s], line [%d]", name, __FILE__, __LINE__);           \
        }                                                                                                    \
    } while (0)
