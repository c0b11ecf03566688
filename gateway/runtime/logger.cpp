// The gateway's per-thread logger. A logger object belongs to one thread and writes
// without locks: one text line per event with one write call, and binary records of the
// messages its thread sends and receives. The container's logging_info is shared: all of
// it is fixed at creation except the day and the start of the tick-derived clock, which
// main re-bases at each change of day while the other threads read it (sequence lock).
//
// A file is opened on the first write after creation or re-open and is renamed from its
// "current" name to a "repository" name when it is closed. Opening, locking and rolling
// follow the system's rule for log files (platform/core/pf_log_file.h): the gateway and
// qelstat both log as "main", and neither rolls a file the other has open. Every file
// is its owner's alone: the binary logs hold sign-on records.
//
// A line or record goes out with one write; one that fails (a full log folder) leaves
// nothing behind and counts as lost. The beginning and the end of a spell of failing
// writes (pf_log_write_note) are said on standard error and to the container's write
// notice (the console), and the end also in the thread's text log; a write that succeeds
// costs one test more. A spell still open when its file closes (a gateway stopped with its
// folder full) says its count then, and one that began before the write notice was set
// (the start-up lines) is told to it at its file's next write. Until start-up is over, a
// System Error line that its file cannot take goes to standard error too: the reason a
// start failed is never lost with its log.
//
// A file that cannot be opened is a write that fails, said and counted as one (a text
// log's lines go to standard error meanwhile). A missing folder is made as a file opens,
// at a start as later, and said once by the logger that made it. Every few seconds, at a
// write, each file's writer looks whether the file still stands under its name, at once
// when another file was found without its name or a folder was made, and looks once more
// as it closes it: a file found without it (its folder removed, or moved by another
// program) is said once and written under its name again. No call is made for this on the
// way of a line in between.
#include "gateway/runtime/logger.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>

#include "common/config_file.h"
#include "common/ea_file.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"
#include "platform/core/pf_file.h"
#include "platform/core/pf_log_file.h"

namespace
{

enum
{
    EA_LOG_KEY_SIZE = EA_LOGGER_NAME_SIZE + 32,
    EA_LOG_TIME_TEXT_SIZE = 64,
    EA_TEXT_LOG = 0,
    EA_LOG_FILE_COUNT = 3,
};

// Exchange time: the tick-derived clock starts at the wall clock plus 5 h 30 min and is
// formatted as universal time, so it shows +05:30 whatever the host's zone.
const int64_t EA_EXCHANGE_ZONE_SECONDS = 19800;

const char *const level_name_table[EA_LOG_LEVEL_COUNT] = {"System Error", "Business Error", "Event",
                                                          "Activity", "Debug"};
const char *const file_kinds[EA_LOG_FILE_COUNT] = {"text", "request", "response"};
const char *const file_extensions[EA_LOG_FILE_COUNT] = {"txt", "dat", "dat"};

// Binary log record header offsets.
enum : uint32_t
{
    BL_RECORD_LENGTH = 0,
    BL_RECORD_KIND = 2,
    BL_FLAGS = 4,
    BL_SEQUENCE_NUMBER = 6,
    BL_ROUTING_AREA_A = 10,
    BL_ROUTING_AREA_B = 30,
    BL_NOW_SECONDS = 50,
    BL_NOW_MILLISECONDS = 54,
    BL_NOW_COUNTER = 56,
    BL_STAMP_SECONDS = 64,
    BL_STAMP_MILLISECONDS = 68,
    BL_STAMP_COUNTER = 70,
    BL_WORKSTATION_INDEX = 78,
    BL_WORKSTATION_HANDLE = 80,
    BL_LINK_INDEX = 84,
    BL_HOST_HANDLE = 86,
    BL_CALLER_TICK_SECONDS = 90,
    BL_VALUE16 = 94,
    BL_USER_TYPE = 96,
    BL_VALUE32 = 98,
};
static_assert(BL_VALUE32 + 4 == EA_BINARY_LOG_HEADER_SIZE, "binary log header layout");

// Starts a writer's section of the clock: the sequence becomes odd. Writers exclude one
// another by the compare-exchange, so a stray second writer cannot corrupt the clock.
uint32_t logging_clock_begin_write(logging_info *info)
{
    for (;;)
    {
        uint32_t sequence = info->clock_sequence.load(std::memory_order_relaxed);
        if ((sequence & 1u) == 0 &&
            info->clock_sequence.compare_exchange_weak(sequence, sequence + 1, std::memory_order_acquire,
                                                       std::memory_order_relaxed))
        {
            std::atomic_thread_fence(std::memory_order_release);
            return sequence + 1;
        }
    }
}

void logging_clock_end_write(logging_info *info, uint32_t sequence, const logging_clock &clock)
{
    info->start_seconds.store(clock.start_seconds, std::memory_order_relaxed);
    info->start_milliseconds.store(clock.start_milliseconds, std::memory_order_relaxed);
    info->start_tick.store(clock.start_tick, std::memory_order_relaxed);
    info->clock_sequence.store(sequence + 1, std::memory_order_release);
}

// A time on the tick-derived clock. A tick taken shortly before the last re-base (a record
// stamped just before the change of day) lies before the start tick: it is placed before
// the start time instead of wrapping 49 days ahead.
void logging_clock_time_of(const logging_clock &clock, uint32_t tick, int64_t *seconds,
                           uint16_t *milliseconds)
{
    int32_t elapsed = static_cast<int32_t>(ea_get_tick_difference(tick, clock.start_tick));
    if (elapsed >= 0)
    {
        ea_add_milliseconds(seconds, milliseconds, clock.start_seconds, clock.start_milliseconds,
                            static_cast<uint32_t>(elapsed));
        return;
    }
    int64_t total = clock.start_seconds * 1000 + clock.start_milliseconds + elapsed;
    int64_t whole = total / 1000;
    int64_t rest = total % 1000;
    if (rest < 0)
    {
        rest += 1000;
        --whole;
    }
    *seconds = whole;
    *milliseconds = static_cast<uint16_t>(rest);
}

void logger_format_time(int64_t seconds, bool universal, char *text, size_t size)
{
    time_t when = static_cast<time_t>(seconds);
    struct tm broken;
    struct tm *result = universal ? ea_gmtime(&when, &broken) : ea_localtime(&when, &broken);
    if (result == nullptr || strftime(text, size, "%a %b %d %Y %H:%M:%S", result) == 0)
        text[0] = '\0';
}

bool logger_build_path(const logger_object *logger, int file, char *path, size_t size)
{
    time_t day = static_cast<time_t>(logger->day);
    struct tm broken;
    char stamp[EA_LOG_TIME_TEXT_SIZE];
    if (ea_localtime(&day, &broken) == nullptr ||
        strftime(stamp, sizeof stamp, "%Y%m%d.%H%M%S", &broken) == 0)
        return false;
    int length = snprintf(path, size, "%s/%s_%s.%s.current.%s", logger->info->log_folder, logger->name,
                          file_kinds[file], stamp, file_extensions[file]);
    return length > 0 && static_cast<size_t>(length) < size;
}

// Appends text to a search pattern with the pattern characters escaped, so that a folder
// or logger name holding "[", "*" or "?" still matches only itself.
size_t logger_escape_pattern(const char *text, char *pattern, size_t length, size_t size)
{
    for (const char *p = text; *p != '\0' && length + 2 < size; ++p)
    {
        if (*p == '*' || *p == '?' || *p == '[' || *p == ']' || *p == '\\')
            pattern[length++] = '\\';
        pattern[length++] = *p;
    }
    pattern[length] = '\0';
    return length;
}

// Renames every "current" file of this logger in its folder that no live process holds,
// one counter for the whole call. Each kind is searched by its own pattern, so a logger
// whose name begins another logger's name never takes the other's files.
ea_status logger_rename_current_files(const logger_object *logger)
{
    uint32_t counter = 1;
    for (int file = 0; file < EA_LOG_FILE_COUNT; ++file)
    {
        char pattern[2 * EA_LOG_PATH_SIZE];
        size_t length = logger_escape_pattern(logger->info->log_folder, pattern, 0, sizeof pattern);
        length = logger_escape_pattern("/", pattern, length, sizeof pattern);
        length = logger_escape_pattern(logger->name, pattern, length, sizeof pattern);
        int tail = snprintf(pattern + length, sizeof pattern - length, "_%s.*.current.*", file_kinds[file]);
        if (tail < 0 || static_cast<size_t>(tail) >= sizeof pattern - length)
            return EA_ERROR;
        if (pf_log_files_roll(pattern, &counter) != 0)
            return EA_ERROR;
    }
    return EA_SUCCESS;
}

void logger_write_notice_line(logger_object *logger, const char *text, const char *function, uint32_t line);
void logger_try_own_line(logger_object *logger, const char *text, const char *function, uint32_t line);
void logger_tell(logger_object *logger, bool failing, uint64_t value);

// Closes the logger's files. What a file's writer alone can say goes out first: a spell of
// failing writes still open (a gateway stopped with its folder full) and a file found
// without its name, on standard error and, where the text log can take it, in the text
// log; the binary logs before the text log, which carries their lines.
void logger_close_files(logger_object *logger)
{
    for (int file = EA_LOG_FILE_COUNT - 1; file >= 0; --file)
    {
        int descriptor = logger->descriptors[file];
        if (descriptor == -1)
            continue;
        char text[EA_LOG_LINE_SIZE];
        pf_log_write_watch *watch = &logger->watches[file];
        const uint64_t lost = watch->lost;
        if (pf_log_write_watch_close(watch, logger->paths[file]))
        {
            pf_log_writes_closed_text(text, sizeof text, logger->paths[file], lost);
            if (file != EA_TEXT_LOG)
                logger_write_notice_line(logger, text, __func__, __LINE__);
            else
                logger_try_own_line(logger, text, __func__, __LINE__);
        }
        logger->spells_untold[file] = false;
        if (pf_log_name_watch_close(&logger->name_watches[file], descriptor, logger->paths[file]))
            logger_tell(logger, true, ENOENT);
        pf_file_close(descriptor);
        logger->descriptors[file] = -1;
    }
}

ea_status logger_close_and_rename(logger_object *logger)
{
    logger_close_files(logger);
    return logger_rename_current_files(logger);
}

// Reads the level key of a logger: its own key, else SYSTEM_LOGGING_LEVEL, else EVENT.
// A value that is none of the key-form level names gives level 0.
int16_t logger_read_level(const char *config_file, const char *upper_name, const logging_info *info)
{
    char key[EA_LOG_KEY_SIZE];
    char value[EA_LEVEL_NAME_SIZE];
    snprintf(key, sizeof key, "%s_LOGGING_LEVEL", upper_name);
    if (config_file_read_string(config_file, key, value, sizeof value) != EA_SUCCESS &&
        config_file_read_string(config_file, "SYSTEM_LOGGING_LEVEL", value, sizeof value) != EA_SUCCESS)
        snprintf(value, sizeof value, "%s", "EVENT");
    for (int16_t level = 0; level < EA_LOG_LEVEL_COUNT; ++level)
    {
        if (strcmp(value, info->key_level_names[level]) == 0)
            return level;
    }
    return EA_LEVEL_SYSTEM_ERROR;
}

uint16_t logger_read_binary_logging(const char *config_file, const char *upper_name)
{
    char key[EA_LOG_KEY_SIZE];
    char value[EA_LEVEL_NAME_SIZE];
    snprintf(key, sizeof key, "%s_BINARY_LOGGING_ENABLED", upper_name);
    if (config_file_read_string(config_file, key, value, sizeof value) != EA_SUCCESS &&
        config_file_read_string(config_file, "SYSTEM_BINARY_LOGGING_ENABLED", value, sizeof value) !=
            EA_SUCCESS)
        snprintf(value, sizeof value, "%s", "TRUE");
    return strcmp(value, "TRUE") == 0 ? 1 : 0;
}

logger_object *logger_object_create(const char *config_file, const char *name, logging_info *info)
{
    // A name that does not fit would be cut and then name other keys and files.
    if (name == nullptr || strlen(name) >= EA_LOGGER_NAME_SIZE)
        return nullptr;
    logger_object *logger = new (std::nothrow) logger_object();
    if (logger == nullptr)
        return nullptr;
    snprintf(logger->name, sizeof logger->name, "%s", name);
    logger->info = info;
    logger->day = info->day.load(std::memory_order_relaxed);
    logger->last_level = -1;
    for (int file = 0; file < EA_LOG_FILE_COUNT; ++file)
        logger->descriptors[file] = -1;

    char upper_name[EA_LOGGER_NAME_SIZE];
    snprintf(upper_name, sizeof upper_name, "%s", name);
    ea_strupr(upper_name);
    logger->level = logger_read_level(config_file, upper_name, info);
    logger->binary_logging = logger_read_binary_logging(config_file, upper_name);

    // Files an earlier run left "current" are closed for good: move them aside first.
    logger_rename_current_files(logger);
    return logger;
}

// One text line, at most 1023 characters, always ending in a line break: level column |
// text | function | source file | line | wall time | tick time | elapsed microseconds. The
// length, or -1.
int logger_format_line(const logger_object *logger, const char *level_column, const char *text,
                       const char *function_name, const char *source_file, uint32_t source_line, char *line,
                       size_t size)
{
    const logging_info *info = logger->info;
    int64_t wall_seconds;
    uint16_t wall_milliseconds;
    ea_ftime(&wall_seconds, &wall_milliseconds);
    char wall_text[EA_LOG_TIME_TEXT_SIZE];
    logger_format_time(wall_seconds, false, wall_text, sizeof wall_text);

    logging_clock clock = logging_info_read_clock(info);
    int64_t tick_seconds;
    uint16_t tick_milliseconds;
    logging_clock_time_of(clock, ea_get_tick_count(), &tick_seconds, &tick_milliseconds);
    char tick_text[EA_LOG_TIME_TEXT_SIZE];
    logger_format_time(tick_seconds, true, tick_text, sizeof tick_text);

    double elapsed = 0.0;
    int64_t counter_now;
    if (info->high_resolution == 1 && ea_query_performance_counter(&counter_now) == EA_SUCCESS)
        elapsed = ea_get_elapsed_microseconds(info->timer.counter, info->timer.frequency, counter_now);

    const char *function = function_name != nullptr ? function_name : "";
    const char *source = source_file != nullptr ? ea_get_file_name(source_file) : "";
    int length = snprintf(line, size, "%s%c%s%c%s%c%s%c%u%c%s:%03u%c%s:%03u%c%0.3f%c", level_column, '|',
                          text, '|', function, '|', source, '|', source_line, '|', wall_text,
                          static_cast<unsigned>(wall_milliseconds), '|', tick_text,
                          static_cast<unsigned>(tick_milliseconds), '|', elapsed, '\n');
    if (length < 0)
        return -1;
    if (static_cast<size_t>(length) >= size)
    {
        // A cut line still ends the line, or the next one would run on from it.
        length = static_cast<int>(size) - 1;
        line[length - 1] = '\n';
    }
    return length;
}

void logger_note_write(logger_object *logger, int file, bool written, int error);
void logger_own_line(logger_object *logger, const char *text, const char *function, uint32_t line);

// Opens one of the logger's files under its path and starts watching its name. A missing
// folder is made, at a start as later, and the logger that made it says so in its text log
// too. -1 with errno set.
int logger_open_file(logger_object *logger, int file, pf_log_open_mode how)
{
    char made[EA_LOG_LINE_SIZE];
    int descriptor = pf_log_file_open_making_folder(logger->paths[file], how, made, sizeof made);
    if (descriptor < 0)
        return -1;
    logger->descriptors[file] = descriptor;
    pf_log_name_watch_opened(&logger->name_watches[file], ea_get_tick_count());
    if (made[0] != '\0')
        logger_own_line(logger, made, __func__, __LINE__);
    return descriptor;
}

// Opens a binary log for appending; a new file starts with the 16-byte file header (in
// the middle of a file the header would be read as a record). False with errno set.
bool logger_open_binary_file(logger_object *logger, int file)
{
    char *path = logger->paths[file];
    if (!logger_build_path(logger, file, path, sizeof logger->paths[file]))
    {
        errno = ENAMETOOLONG;
        return false;
    }
    int descriptor = logger_open_file(logger, file, PF_LOG_APPEND);
    if (descriptor < 0)
        return false;
    struct stat status;
    if (fstat(descriptor, &status) == 0 && status.st_size == 0)
    {
        uint8_t header[EA_BINARY_FILE_HEADER_SIZE];
        put_u64_le(header, 0, static_cast<uint64_t>(logger->info->timer.counter));
        put_u64_le(header, 8, static_cast<uint64_t>(logger->info->timer.frequency));
        if (!pf_log_file_append(descriptor, header, sizeof header))
        {
            // No record may go in before the header: the file opens again at the next one.
            const int error = errno;
            pf_file_close(descriptor);
            logger->descriptors[file] = -1;
            errno = error;
            return false;
        }
    }
    return true;
}

void logger_watch_name(logger_object *logger, int file, uint32_t now);

// The descriptor a line or record of `file` goes into: the file opened at the first write
// after creation or a re-open, or opened again under its name when a look found it without
// it. -1 with errno set when it cannot be opened, which is a write that fails: the caller
// notes it (logger_note_write), so that a log that cannot be opened is never silent.
int logger_file_for_write(logger_object *logger, int file)
{
    if (logger->descriptors[file] != -1)
    {
        logger_watch_name(logger, file, ea_get_tick_count());
        return logger->descriptors[file];
    }
    if (file != EA_TEXT_LOG)
        return logger_open_binary_file(logger, file) ? logger->descriptors[file] : -1;
    if (!logger_build_path(logger, EA_TEXT_LOG, logger->paths[EA_TEXT_LOG],
                           sizeof logger->paths[EA_TEXT_LOG]))
    {
        errno = ENAMETOOLONG;
        return -1;
    }
    return logger_open_file(logger, EA_TEXT_LOG, PF_LOG_START_EMPTY);
}

void logger_write_text(logger_object *logger, int descriptor, const char *line, size_t length);

// The result of one write to one of the logger's files: a spell of failures is said as
// it begins and as it ends, on standard error and to the write notice, and its end also
// in the logger's text log.
void logger_note_write(logger_object *logger, int file, bool written, int error)
{
    pf_log_write_watch *watch = &logger->watches[file];
    pf_log_write_turn turn = pf_log_write_note(watch, logger->paths[file], written, error);
    const logging_write_notice *notice = logger->info->write_notice.load(std::memory_order_acquire);
    const bool heard = notice != nullptr && notice->tell != nullptr;
    bool &untold = logger->spells_untold[file];
    if (turn == PF_LOG_WRITES_FAILING)
    {
        untold = !heard;
        logger_tell(logger, true, static_cast<uint64_t>(error));
        return;
    }
    // A spell that began before anyone listened is told as soon as someone does.
    if (untold && heard)
    {
        untold = false;
        notice->tell(notice->context, true, static_cast<uint64_t>(watch->error));
    }
    if (turn == PF_LOG_WRITES_AS_BEFORE)
        return;
    logger_tell(logger, false, watch->lost);
    char text[EA_LOG_LINE_SIZE];
    pf_log_writes_resumed_text(text, sizeof text, logger->paths[file], watch->lost);
    logger_write_notice_line(logger, text, __func__, __LINE__);
}

void logger_tell(logger_object *logger, bool failing, uint64_t value)
{
    const logging_write_notice *notice = logger->info->write_notice.load(std::memory_order_acquire);
    if (notice != nullptr && notice->tell != nullptr)
        notice->tell(notice->context, failing, value);
}

// A line of the logger's own about its files, at level System Error, into its text log
// when that is open.
void logger_write_notice_line(logger_object *logger, const char *text, const char *function, uint32_t line)
{
    if (logger->descriptors[EA_TEXT_LOG] == -1)
        return;
    char formatted[EA_LOG_LINE_SIZE];
    int length = logger_format_line(logger, logger->info->level_names[EA_LEVEL_SYSTEM_ERROR], text, function,
                                    __FILE__, line, formatted, sizeof formatted);
    if (length > 0)
        logger_write_text(logger, logger->descriptors[EA_TEXT_LOG], formatted, static_cast<size_t>(length));
}

// A line of the logger's own about its files that its text log must hold (a folder it
// made): the text log is opened for it when it is not open yet.
void logger_own_line(logger_object *logger, const char *text, const char *function, uint32_t line)
{
    const int descriptor = logger_file_for_write(logger, EA_TEXT_LOG);
    if (descriptor == -1)
        return; // said on standard error already
    char formatted[EA_LOG_LINE_SIZE];
    int length = logger_format_line(logger, logger->info->level_names[EA_LEVEL_SYSTEM_ERROR], text, function,
                                    __FILE__, line, formatted, sizeof formatted);
    if (length > 0)
        logger_write_text(logger, descriptor, formatted, static_cast<size_t>(length));
}

// The same into a text log whose writes were failing as it closes: a line that fails too
// is not counted, for the count has just been said.
void logger_try_own_line(logger_object *logger, const char *text, const char *function, uint32_t line)
{
    char formatted[EA_LOG_LINE_SIZE];
    int length = logger_format_line(logger, logger->info->level_names[EA_LEVEL_SYSTEM_ERROR], text, function,
                                    __FILE__, line, formatted, sizeof formatted);
    if (length > 0)
        pf_log_file_append(logger->descriptors[EA_TEXT_LOG], formatted, static_cast<size_t>(length));
}

// Every few seconds, before a write, a file's writer looks whether its file still stands
// under its name: a log folder removed under a running gateway (an operator's clean-up, a
// full-disk panic) would otherwise swallow every later line without a word. A file found
// without it is said once (standard error, the write notice, the text log) and written
// under its name again, its folder made again if need be; one that cannot be opened again
// is left closed, errno set, for the caller to note as a write that fails. The tick is the
// caller's; a write between two looks costs a subtraction and a load.
void logger_watch_name(logger_object *logger, int file, uint32_t now)
{
    pf_log_name_watch *watch = &logger->name_watches[file];
    if (!pf_log_name_watch_lost(watch, logger->descriptors[file], logger->paths[file], now))
        return;
    const uint64_t gone = watch->lines_since_seen;
    pf_file_close(logger->descriptors[file]);
    logger->descriptors[file] = -1;
    logger_tell(logger, true, ENOENT);
    bool again = file == EA_TEXT_LOG ? logger_open_file(logger, file, PF_LOG_APPEND) >= 0
                                     : logger_open_binary_file(logger, file);
    const int error = errno;
    char text[EA_LOG_LINE_SIZE];
    pf_log_name_lost_say(text, sizeof text, logger->paths[file], gone, again);
    if (!again)
    {
        errno = error;
        return;
    }
    logger_tell(logger, false, gone);
    logger_write_notice_line(logger, text, __func__, __LINE__);
}

void logger_write_text(logger_object *logger, int descriptor, const char *line, size_t length)
{
    bool written = pf_log_file_append(descriptor, line, length);
    if (written)
        pf_log_name_watch_wrote(&logger->name_watches[EA_TEXT_LOG]);
    if (!written || logger->watches[EA_TEXT_LOG].failing)
        logger_note_write(logger, EA_TEXT_LOG, written, errno);
    // Until start-up is over, the reason a start fails is never lost with its log.
    if (!written && logger->last_level == EA_LEVEL_SYSTEM_ERROR &&
        logger->info->starting.load(std::memory_order_relaxed))
        pf_file_write_all(PF_FILE_STANDARD_ERROR, line, length);
}

} // namespace

logging_clock logging_info_read_clock(const logging_info *info)
{
    logging_clock clock;
    for (;;)
    {
        uint32_t before = info->clock_sequence.load(std::memory_order_acquire);
        clock.start_seconds = info->start_seconds.load(std::memory_order_relaxed);
        clock.start_milliseconds = info->start_milliseconds.load(std::memory_order_relaxed);
        clock.start_tick = info->start_tick.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        uint32_t after = info->clock_sequence.load(std::memory_order_relaxed);
        if (before == after && (before & 1u) == 0)
            return clock;
    }
}

logger_object_container *logger_object_container_create(const char *config_file, const char *const names[],
                                                        uint32_t count)
{
    logger_object_container *container = new (std::nothrow) logger_object_container();
    logging_info *info = new (std::nothrow) logging_info();
    if (container == nullptr || info == nullptr)
    {
        logger_object_log_message(nullptr, "Creation of logging_info object failed");
        delete info;
        delete container;
        return nullptr;
    }
    container->info = info;
    if (config_file_read_string(config_file, "LOG_FILE_PATH", info->log_folder, sizeof info->log_folder) !=
        EA_SUCCESS)
    {
        logger_object_log_message(nullptr, "Parameter LOG_FILE_PATH_PARAM not found in config file.");
        delete info;
        delete container;
        return nullptr;
    }

    for (int level = 0; level < EA_LOG_LEVEL_COUNT; ++level)
    {
        snprintf(info->level_names[level], EA_LEVEL_NAME_SIZE, "%s", level_name_table[level]);
        snprintf(info->key_level_names[level], EA_LEVEL_NAME_SIZE, "%s", level_name_table[level]);
        ea_strupr(info->key_level_names[level]);
        for (char *p = info->key_level_names[level]; *p != '\0'; ++p)
        {
            if (*p == ' ')
                *p = '_';
        }
    }

    int64_t now_seconds;
    uint16_t now_milliseconds;
    ea_ftime(&now_seconds, &now_milliseconds);
    info->day.store(now_seconds, std::memory_order_relaxed);
    info->high_resolution = 0;
    info->timer.counter = 0;
    info->timer.frequency = 0;
    if (ea_check_processor() == EA_SUCCESS && ea_start_high_resolution_timer(&info->timer) == EA_SUCCESS)
    {
        info->high_resolution = 1;
    }
    else
    {
        info->timer.counter = 0;
        info->timer.frequency = 0;
    }

    ea_ftime(&now_seconds, &now_milliseconds);
    info->start_seconds.store(now_seconds + EA_EXCHANGE_ZONE_SECONDS, std::memory_order_relaxed);
    info->start_milliseconds.store(now_milliseconds, std::memory_order_relaxed);
    info->start_tick.store(ea_get_tick_count(), std::memory_order_relaxed);
    info->clock_sequence.store(0, std::memory_order_relaxed);
    info->time_synchronised.store(0, std::memory_order_relaxed);
    info->write_notice.store(nullptr, std::memory_order_relaxed);
    info->starting.store(true, std::memory_order_relaxed);

    container->loggers = new (std::nothrow) logger_object *[count > 0 ? count : 1]();
    if (container->loggers == nullptr)
    {
        logger_object_log_message(nullptr, "Creation of array of logger_objects failed");
        delete info;
        delete container;
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i)
    {
        container->loggers[i] =
            logger_object_create(config_file, names != nullptr ? names[i] : nullptr, info);
        if (container->loggers[i] == nullptr)
        {
            logger_object_log_message(nullptr, "Creation of a logger_object failed");
            logger_object_container_destroy(container);
            return nullptr;
        }
        container->count = i + 1;
    }
    return container;
}

void logger_object_container_destroy(logger_object_container *container)
{
    if (container == nullptr)
        return;
    for (uint32_t i = 0; i < container->count; ++i)
        logger_object_free(container->loggers[i]);
    delete[] container->loggers;
    delete container->info;
    delete container;
}

void logger_object_container_day_change(logger_object_container *container)
{
    if (container == nullptr)
        return;
    logging_info *info = container->info;
    int64_t now_seconds;
    uint16_t now_milliseconds;
    ea_ftime(&now_seconds, &now_milliseconds);
    info->day.store(now_seconds, std::memory_order_relaxed);

    uint32_t sequence = logging_clock_begin_write(info);
    logging_clock clock;
    clock.start_seconds = info->start_seconds.load(std::memory_order_relaxed);
    clock.start_milliseconds = info->start_milliseconds.load(std::memory_order_relaxed);
    clock.start_tick = info->start_tick.load(std::memory_order_relaxed);
    uint32_t now_tick = ea_get_tick_count();
    logging_clock rebased;
    ea_add_milliseconds(&rebased.start_seconds, &rebased.start_milliseconds, clock.start_seconds,
                        clock.start_milliseconds, ea_get_tick_difference(now_tick, clock.start_tick));
    rebased.start_tick = now_tick;
    logging_clock_end_write(info, sequence, rebased);
}

void logger_object_container_set_start_time(logger_object_container *container, int64_t seconds,
                                            uint16_t milliseconds)
{
    if (container == nullptr)
        return;
    logging_info *info = container->info;
    uint32_t sequence = logging_clock_begin_write(info);
    logging_clock clock;
    clock.start_seconds = seconds;
    clock.start_milliseconds = milliseconds;
    clock.start_tick = ea_get_tick_count();
    logging_clock_end_write(info, sequence, clock);
    info->time_synchronised.store(1, std::memory_order_relaxed);
}

logger_object *logger_object_set_context(logger_object *logger, int16_t level, const char *function_name,
                                         const char *source_file, uint32_t line)
{
    if (logger == nullptr)
        return nullptr;
    logger->context.level = level;
    logger->context.function_name = function_name;
    logger->context.source_file = source_file;
    logger->context.line = line;
    logger->context.logger = logger;
    return logger;
}

// The text line of the context's call, formatted now: its length, or 0 when the logger
// writes no line of that level (a continuation follows its previous line's level).
static size_t logger_vformat_message(logger_object *logger, char *line, size_t size, const char *format,
                                     va_list arguments) __attribute__((format(printf, 4, 0)));

static size_t logger_vformat_message(logger_object *logger, char *line, size_t size, const char *format,
                                     va_list arguments)
{
    const logger_context &context = logger->context;
    int32_t level = context.level;
    bool continuation = level == EA_LEVEL_CONTINUATION;
    if (continuation)
    {
        if (logger->last_level == -1)
            return 0;
        level = logger->last_level;
    }
    else
    {
        logger->last_level = level;
    }
    // Only the five named levels can be written; anything else has no level column.
    if (level < 0 || level >= EA_LOG_LEVEL_COUNT || level > logger->level)
        return 0;

    char text[EA_LOG_LINE_SIZE];
    int text_length = vsnprintf(text, sizeof text, format, arguments);
    if (text_length < 0)
        text[0] = '\0';
    for (char *p = text; *p != '\0'; ++p)
    {
        if (*p == '|' || *p == '\n')
            *p = ',';
    }

    char blanks[EA_LEVEL_NAME_SIZE];
    const char *level_column = logger->info->level_names[level];
    if (continuation)
    {
        size_t width = strlen(level_column);
        memset(blanks, ' ', width);
        blanks[width] = '\0';
        level_column = blanks;
    }
    int length = logger_format_line(logger, level_column, text, context.function_name, context.source_file,
                                    context.line, line, size);
    return length > 0 ? static_cast<size_t>(length) : 0;
}

void logger_object_log_message(logger_object *logger, const char *format, ...)
{
    va_list arguments;
    if (format == nullptr)
        format = "";
    if (logger == nullptr)
    {
        va_start(arguments, format);
        vfprintf(stderr, format, arguments);
        va_end(arguments);
        size_t format_length = strlen(format);
        if (format_length == 0 || format[format_length - 1] != '\n')
            fputc('\n', stderr);
        fflush(stderr);
        return;
    }
    char line[EA_LOG_LINE_SIZE];
    va_start(arguments, format);
    size_t length = logger_vformat_message(logger, line, sizeof line, format, arguments);
    va_end(arguments);
    if (length > 0)
        logger_object_write_line(logger, line, length);
}

size_t logger_object_format_message(logger_object *logger, char *line, size_t size, const char *format, ...)
{
    if (logger == nullptr || size == 0)
        return 0;
    if (format == nullptr)
        return 0;
    va_list arguments;
    va_start(arguments, format);
    size_t length = logger_vformat_message(logger, line, size, format, arguments);
    va_end(arguments);
    return length;
}

void logger_object_write_line(logger_object *logger, const char *line, size_t length)
{
    if (logger == nullptr || length == 0)
        return;
    const int descriptor = logger_file_for_write(logger, EA_TEXT_LOG);
    if (descriptor != -1)
    {
        logger_write_text(logger, descriptor, line, length);
        return;
    }
    // A text log that cannot be opened: its lines go to standard error meanwhile, and it
    // is tried again at the next one.
    logger_note_write(logger, EA_TEXT_LOG, false, errno);
    pf_file_write_all(PF_FILE_STANDARD_ERROR, line, length);
}

size_t logger_object_format_binary(logger_object *logger, message *msg, uint16_t record_kind, int file,
                                   uint32_t tick, uint32_t value32, uint16_t value16, uint8_t *record,
                                   size_t size)
{
    if (logger == nullptr || msg == nullptr || logger->binary_logging != 1)
        return 0;
    if (file != EA_REQUEST_LOG && file != EA_RESPONSE_LOG)
        return 0;
    // The record length is 16 bits and the record buffer is sized for one message.
    if (msg->data_length > MESSAGE_CAPACITY || (msg->data_length > 0 && msg->data == nullptr) ||
        size < EA_BINARY_LOG_HEADER_SIZE + static_cast<size_t>(msg->data_length))
        return 0;

    const logging_info *info = logger->info;
    if (info->time_synchronised.load(std::memory_order_relaxed) == 0)
        msg->flags = static_cast<uint16_t>(msg->flags | MESSAGE_FLAG_NOT_SYNCHRONISED);

    memset(record, 0, EA_BINARY_LOG_HEADER_SIZE);
    put_u16_le(record, BL_RECORD_LENGTH, static_cast<uint16_t>(msg->data_length + EA_BINARY_LOG_HEADER_SIZE));
    put_u16_le(record, BL_RECORD_KIND, record_kind);
    put_u16_le(record, BL_FLAGS, msg->flags);
    put_u32_le(record, BL_SEQUENCE_NUMBER, msg->sequence_number);
    for (uint32_t word = 0; word < MESSAGE_ROUTING_WORDS; ++word)
    {
        put_u32_le(record, BL_ROUTING_AREA_A + 4 * word, msg->routing_area_a[word]);
        put_u32_le(record, BL_ROUTING_AREA_B + 4 * word, msg->routing_area_b[word]);
    }

    logging_clock clock = logging_info_read_clock(info);
    int64_t seconds;
    uint16_t milliseconds;
    logging_clock_time_of(clock, ea_get_tick_count(), &seconds, &milliseconds);
    put_u32_le(record, BL_NOW_SECONDS, static_cast<uint32_t>(seconds));
    put_u16_le(record, BL_NOW_MILLISECONDS, milliseconds);
    int64_t counter_now = 0;
    if (info->high_resolution == 1 && ea_query_performance_counter(&counter_now) != EA_SUCCESS)
        counter_now = 0;
    put_u64_le(record, BL_NOW_COUNTER, static_cast<uint64_t>(counter_now));
    if (msg->stamp_tick != 0)
    {
        logging_clock_time_of(clock, msg->stamp_tick, &seconds, &milliseconds);
        put_u32_le(record, BL_STAMP_SECONDS, static_cast<uint32_t>(seconds));
        put_u16_le(record, BL_STAMP_MILLISECONDS, milliseconds);
        put_u64_le(record, BL_STAMP_COUNTER, static_cast<uint64_t>(msg->high_resolution_stamp));
    }
    put_u16_le(record, BL_WORKSTATION_INDEX, msg->workstation_index);
    put_i32_le(record, BL_WORKSTATION_HANDLE, msg->workstation_network_handle);
    put_u16_le(record, BL_LINK_INDEX, msg->link_index);
    put_i32_le(record, BL_HOST_HANDLE, msg->host_network_handle);
    if (tick != 0)
    {
        logging_clock_time_of(clock, tick, &seconds, &milliseconds);
        put_u32_le(record, BL_CALLER_TICK_SECONDS, static_cast<uint32_t>(seconds));
    }
    put_u16_le(record, BL_VALUE16, value16);
    put_u16_le(record, BL_USER_TYPE, msg->user_type);
    put_u32_le(record, BL_VALUE32, value32);
    if (msg->data_length > 0)
        memcpy(record + EA_BINARY_LOG_HEADER_SIZE, msg->data, msg->data_length);
    return EA_BINARY_LOG_HEADER_SIZE + static_cast<size_t>(msg->data_length);
}

void logger_object_write_binary(logger_object *logger, int file, const uint8_t *record, size_t length)
{
    if (logger == nullptr || length == 0 || (file != EA_REQUEST_LOG && file != EA_RESPONSE_LOG))
        return;
    const int descriptor = logger_file_for_write(logger, file);
    if (descriptor == -1)
    {
        logger_note_write(logger, file, false, errno); // the record is lost, and counted
        return;
    }
    // Written at once, like the text log, so that a crash loses no record already logged.
    bool written = pf_log_file_append(descriptor, record, length);
    if (written)
        pf_log_name_watch_wrote(&logger->name_watches[file]);
    if (!written || logger->watches[file].failing)
        logger_note_write(logger, file, written, errno);
}

void logger_object_binary_log(logger_object *logger, message *msg, uint16_t record_kind, int file,
                              uint32_t tick, uint32_t value32, uint16_t value16)
{
    uint8_t record[EA_BINARY_LOG_HEADER_SIZE + MESSAGE_CAPACITY];
    size_t length = logger_object_format_binary(logger, msg, record_kind, file, tick, value32, value16,
                                                record, sizeof record);
    if (length > 0)
        logger_object_write_binary(logger, file, record, length);
}

void logger_object_stamp_message(logger_object *logger, message *msg, uint32_t value)
{
    if (msg == nullptr)
        return;
    msg->stamp_tick = ea_get_tick_count();
    int64_t counter;
    if (logger != nullptr && logger->info->high_resolution == 1 &&
        ea_query_performance_counter(&counter) == EA_SUCCESS)
        msg->high_resolution_stamp = counter;
    msg->stamp_value = value;
}

int64_t logger_object_get_current_time(logger_object *logger)
{
    if (logger == nullptr)
        return 0;
    logging_clock clock = logging_info_read_clock(logger->info);
    int64_t seconds;
    uint16_t milliseconds;
    logging_clock_time_of(clock, ea_get_tick_count(), &seconds, &milliseconds);
    return seconds;
}

void logger_object_reopen(logger_object *logger)
{
    if (logger == nullptr)
        return;
    logger_close_and_rename(logger);
    logger->day = logger->info->day.load(std::memory_order_relaxed);
}

void logger_object_container_set_write_notice(logger_object_container *container,
                                              const logging_write_notice *notice)
{
    if (container != nullptr)
        container->info->write_notice.store(notice, std::memory_order_release);
}

void logger_object_container_started(logger_object_container *container)
{
    if (container != nullptr)
        container->info->starting.store(false, std::memory_order_relaxed);
}

void logger_object_free(logger_object *logger)
{
    if (logger == nullptr)
        return;
    logger_close_and_rename(logger);
    delete logger;
}
