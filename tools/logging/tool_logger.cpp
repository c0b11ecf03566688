// The tools' logging library. A logger is written by one thread at a time, so nothing
// here locks. Files open lazily: a logger that never logs leaves no file behind.
//
// How a log file is opened, locked and rolled is the system's one rule for log files
// (platform/core/pf_log_file.h): a logger holds a shared lock on each file it has open,
// a roll moves only files no live process holds and never replaces a file. The roll
// searches by the logger's own name and kind ("<name>_<kind>.", so the logger main never
// takes main2's files) and stops at the first file it cannot move instead of finding it
// again and again.
//
// A line or record is written with one write of the whole on the file's descriptor, so
// that a write that fails (a full log folder) leaves no part behind; the beginning and
// the end of a spell of failing writes (pf_log_write_note) are said on standard error,
// and the end with the lines lost in the log itself.
//
// Every few seconds, at a write, and once more as it closes, each file's writer looks
// whether the file still stands under its name (pf_log_name_watch): a file found without
// it (its folder removed by a clean-up) is said once, on standard error and in the text
// log, and written under its name again. A missing folder is made as a file opens, at the
// start as later, and said once by the logger that made it; a file that cannot be opened
// is a write that fails, said and counted as one.
#include "tools/logging/tool_logger.h"

#include <stdio.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>

#include "common/config_file.h"
#include "common/ea_file.h"
#include "platform/core/pf_file.h"
#include "platform/core/pf_log_file.h"
#include "platform/core/pf_tick.h"

namespace qel_tools
{

namespace
{
bool read_text(const char *file, const char *key, char *buffer, size_t size)
{
    return config_file_read_string(file, key, buffer, size) == EA_SUCCESS;
}

bool read_number(const char *file, const char *key, int32_t *value)
{
    return config_file_read_int(file, key, value) == EA_SUCCESS;
}
} // namespace

const logging_variant k_tools_logging = {true, LOG_BINARY_HEADER_SIZE, false, false, read_text, read_number};

namespace
{

const char *const k_level_names[LOG_LEVEL_COUNT] = {"System Error", "Business Error", "Event", "Activity",
                                                    "Debug"};
const char *const k_kind_words[LOG_FILE_KINDS] = {"text", "binary", "incoming_binary", "outgoing_binary"};
const char *const k_extensions[LOG_FILE_KINDS] = {"txt", "dat", "dat", "dat"};
const char k_container_function[] = "logger_object_container_create";
const char k_container_source[] = "logger_object_container";

enum
{
    LOG_MESSAGE_SIZE = 4096,
    LOG_LINE_SIZE = LOG_MESSAGE_SIZE + 1024, // the message and the fields around it
};

// Binary header offsets of the two variants.
enum : uint32_t
{
    TOOL_HDR_TOTAL = 0,
    TOOL_HDR_CODE = 2,
    TOOL_HDR_VALUE = 6,
    TOOL_HDR_NAME = 10,
    TOOL_HDR_TIME = 50,
    SERVICE_HDR_TOTAL = 0,
    SERVICE_HDR_CODE = 2,
    SERVICE_HDR_TIME = 4,
    SERVICE_HDR_VALUE = 8,
    SERVICE_HDR_NAME = 12,
};

// The lock of the variants whose logger several threads share (the service's entry and
// its monitoring thread). Recursive: a refused binary record logs its refusal.
std::recursive_mutex g_serialised_lock;

std::unique_lock<std::recursive_mutex> serialise(const logger_object *logger)
{
    if (logger != nullptr && logger->info->variant->serialised)
        return std::unique_lock<std::recursive_mutex>(g_serialised_lock);
    return std::unique_lock<std::recursive_mutex>();
}

void put_u16_le(uint8_t *out, uint32_t offset, uint16_t value)
{
    out[offset] = static_cast<uint8_t>(value);
    out[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void put_u32_le(uint8_t *out, uint32_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[offset + static_cast<uint32_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

void container_failure(const logging_variant *variant, const char *message)
{
    logging_info_log_variant(variant, nullptr, message, LOG_LEVEL_SYSTEM_ERROR, k_container_function,
                             k_container_source, __LINE__);
}

bool build_path(const logger_object *logger, int kind, char *path, size_t size)
{
    time_t stamp = static_cast<time_t>(logger->time_stamp);
    struct tm local;
    char text[32];
    if (localtime_r(&stamp, &local) == nullptr || strftime(text, sizeof text, "%Y%m%d.%H%M%S", &local) == 0)
        return false;
    int length = snprintf(path, size, "%s/%s_%s.%s.current.%s", logger->info->log_folder, logger->name,
                          k_kind_words[kind], text, k_extensions[kind]);
    return length > 0 && static_cast<size_t>(length) < size;
}

// Appends text with the search pattern's special characters escaped.
void append_escaped(std::string *pattern, const char *text)
{
    for (const char *p = text; *p != '\0'; ++p)
    {
        if (*p == '*' || *p == '?' || *p == '[' || *p == ']' || *p == '\\')
            pattern->push_back('\\');
        pattern->push_back(*p);
    }
}

int16_t read_level(const char *config_file, const char *name, const logging_info *info)
{
    char key[LOGGER_NAME_SIZE + 32];
    snprintf(key, sizeof key, "%s_LOGGING_LEVEL", name);
    ea_strupr(key);
    char value[LOG_LEVEL_TEXT_SIZE];
    int16_t level = LOG_LEVEL_SYSTEM_ERROR;
    const logging_variant *variant = info->variant;
    if (variant->read_text(config_file, key, value, sizeof value) ||
        variant->read_text(config_file, "SYSTEM_LOGGING_LEVEL", value, sizeof value))
    {
        for (int16_t i = 0; i < LOG_LEVEL_COUNT; ++i)
        {
            if (strcmp(value, info->level_keys[i]) == 0)
                level = i;
        }
    }
    int32_t number = 0;
    if (level == LOG_LEVEL_SYSTEM_ERROR && variant->integer_level_fallback &&
        variant->read_number(config_file, "LOGGING_LEVEL", &number))
    {
        // LOGGING_LEVEL 1 to 5 selects System Error to Debug; values outside stay inside.
        number -= 1;
        level = static_cast<int16_t>(number < 0 ? 0 : (number > LOG_LEVEL_DEBUG ? LOG_LEVEL_DEBUG : number));
    }
    return level;
}

void write_binary_header(const logging_variant *variant, uint8_t *header, uint32_t total, uint16_t code,
                         int32_t value, const char *name_buffer)
{
    memset(header, 0, variant->binary_header_size);
    bool service = variant->binary_header_size != LOG_BINARY_HEADER_SIZE;
    put_u16_le(header, service ? SERVICE_HDR_TOTAL : TOOL_HDR_TOTAL, static_cast<uint16_t>(total));
    put_u16_le(header, service ? SERVICE_HDR_CODE : TOOL_HDR_CODE, code);
    put_u32_le(header, service ? SERVICE_HDR_VALUE : TOOL_HDR_VALUE, static_cast<uint32_t>(value));
    put_u32_le(header, service ? SERVICE_HDR_TIME : TOOL_HDR_TIME, static_cast<uint32_t>(time(nullptr)));
    if (name_buffer != nullptr)
        memcpy(header + (service ? SERVICE_HDR_NAME : TOOL_HDR_NAME), name_buffer, LOG_NAME_BUFFER_SIZE);
}

void note_write(logger_object *logger, int file_kind, bool written, int error);
void watch_name(logger_object *logger, int file_kind);

// One text line, to the logger's text file (standard error without one): level name,
// message, function, source base name, line number and the local time.
void write_text_line(const logging_variant *variant, logger_object *logger, const char *level_name,
                     const char *text, const char *function_name, const char *source_file, uint32_t line)
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    struct tm local;
    char when[64] = "";
    if (localtime_r(&seconds, &local) != nullptr)
        strftime(when, sizeof when, "%a %b %d %Y %H:%M:%S", &local);
    const char *function = function_name != nullptr ? function_name : "";
    const char *source = logger_source_base_name(source_file);
    char formatted[LOG_LINE_SIZE];
    int length;
    if (variant->milliseconds)
        length = snprintf(formatted, sizeof formatted, "%s%c%s%c%s%c%s%c%u%c%s:%03u%c", level_name, '|', text,
                          '|', function, '|', source, '|', line, '|', when,
                          static_cast<unsigned>(now.tv_usec / 1000), '\n');
    else
        length = snprintf(formatted, sizeof formatted, "%s%c%s%c%s%c%s%c%u%c%s%c", level_name, '|', text, '|',
                          function, '|', source, '|', line, '|', when, '\n');
    if (length < 0)
        return;
    if (static_cast<size_t>(length) >= sizeof formatted)
    {
        length = static_cast<int>(sizeof formatted) - 1;
        formatted[length - 1] = '\n'; // a cut line still ends its line
    }
    if (logger != nullptr && logger->descriptors[LOG_FILE_TEXT] != -1)
        watch_name(logger, LOG_FILE_TEXT);
    if (logger == nullptr || !logger_object_open_file(logger, LOG_FILE_TEXT))
    {
        // A text log that cannot be opened is a write that fails; its lines go to standard
        // error meanwhile.
        if (logger != nullptr)
            note_write(logger, LOG_FILE_TEXT, false, errno);
        fputs(formatted, stderr);
        fflush(stderr);
        return;
    }
    bool written =
        pf_log_file_append(logger->descriptors[LOG_FILE_TEXT], formatted, static_cast<size_t>(length));
    if (written)
        pf_log_name_watch_wrote(&logger->name_watches[LOG_FILE_TEXT]);
    note_write(logger, LOG_FILE_TEXT, written, errno);
}

// The result of one write to a logger's file: a spell of failures is said on standard
// error as it begins and ends, and its end also in the logger's text log.
void note_write(logger_object *logger, int file_kind, bool written, int error)
{
    if (pf_log_write_note(&logger->watches[file_kind], logger->paths[file_kind], written, error) !=
        PF_LOG_WRITES_RESUMED)
        return;
    char text[LOG_MESSAGE_SIZE];
    pf_log_writes_resumed_text(text, sizeof text, logger->paths[file_kind], logger->watches[file_kind].lost);
    write_text_line(logger->info->variant, logger, logger->info->level_names[LOG_LEVEL_SYSTEM_ERROR], text,
                    __func__, __FILE__, __LINE__);
}

// Before a write to an open file: whether it still stands under its name, as the system's
// rule for log files has it. A file found without it is said once and written under its
// name again; the line goes into the text log (a binary file's too).
void watch_name(logger_object *logger, int file_kind)
{
    pf_log_name_watch *watch = &logger->name_watches[file_kind];
    if (!pf_log_name_watch_lost(watch, logger->descriptors[file_kind], logger->paths[file_kind],
                                pf_tick_count()))
        return;
    const uint64_t gone = watch->lines_since_seen;
    pf_file_close(logger->descriptors[file_kind]);
    logger->descriptors[file_kind] = -1;
    const bool again = logger_object_open_file(logger, file_kind);
    char text[LOG_MESSAGE_SIZE];
    pf_log_name_lost_say(text, sizeof text, logger->paths[file_kind], gone, again);
    if (again && (file_kind == LOG_FILE_TEXT || logger_object_open_file(logger, LOG_FILE_TEXT)))
        write_text_line(logger->info->variant, logger, logger->info->level_names[LOG_LEVEL_SYSTEM_ERROR],
                        text, __func__, __FILE__, __LINE__);
}

} // namespace

const char *logger_source_base_name(const char *path)
{
    if (path == nullptr)
        return "";
    const char *base = path;
    for (const char *p = path; *p != '\0'; ++p)
    {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

logger_object_container *logger_object_container_create(const char *config_file, const char *const names[],
                                                        uint32_t count)
{
    return logger_object_container_create_variant(config_file, names, count, &k_tools_logging);
}

logger_object_container *logger_object_container_create_variant(const char *config_file,
                                                                const char *const names[], uint32_t count,
                                                                const logging_variant *variant)
{
    if (variant == nullptr)
        variant = &k_tools_logging;
    logger_object_container *container = new (std::nothrow) logger_object_container();
    logging_info *info = container != nullptr ? new (std::nothrow) logging_info() : nullptr;
    if (info == nullptr)
    {
        container_failure(variant, "Creation of logging_info object failed");
        delete container;
        return nullptr;
    }
    container->info = info;
    info->variant = variant;
    if (!variant->read_text(config_file, "LOG_FILE_PATH", info->log_folder, sizeof info->log_folder))
    {
        container_failure(variant, "Parameter LOG_FILE_PATH_PARAM not found in config file.");
        delete info;
        delete container;
        return nullptr;
    }
    for (int i = 0; i < LOG_LEVEL_COUNT; ++i)
    {
        snprintf(info->level_names[i], LOG_LEVEL_TEXT_SIZE, "%s", k_level_names[i]);
        snprintf(info->level_keys[i], LOG_LEVEL_TEXT_SIZE, "%s", k_level_names[i]);
        ea_strupr(info->level_keys[i]);
        for (char *p = info->level_keys[i]; *p != '\0'; ++p)
        {
            if (*p == ' ')
                *p = '_';
        }
    }
    info->time_stamp = static_cast<int64_t>(time(nullptr));
    container->loggers = new (std::nothrow) logger_object *[count > 0 ? count : 1]();
    if (container->loggers == nullptr)
    {
        container_failure(variant, "Creation of array of logger_objects failed");
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
            container_failure(variant, "Creation of a logger_object failed");
            logger_object_container_destroy(container);
            return nullptr;
        }
        container->count = i + 1;
    }
    return container;
}

logger_object *logger_object_create(const char *config_file, const char *name, logging_info *info)
{
    // A name that does not fit, or that holds a "/", would name other files.
    if (name == nullptr || *name == '\0' || strlen(name) >= LOGGER_NAME_SIZE ||
        strchr(name, '/') != nullptr || info == nullptr)
        return nullptr;
    logger_object *logger = new (std::nothrow) logger_object();
    if (logger == nullptr)
        return nullptr;
    snprintf(logger->name, sizeof logger->name, "%s", name);
    logger->time_stamp = info->time_stamp;
    logger->last_level = -1;
    logger->info = info;
    for (int &descriptor : logger->descriptors)
        descriptor = -1;
    logger->level = read_level(config_file, name, info);
    // Files an earlier run left "current" are closed for good: a restart never appends.
    logger_object_roll_files(logger);
    return logger;
}

bool logger_object_open_file(logger_object *logger, int file_kind)
{
    if (logger == nullptr || file_kind < 0 || file_kind >= LOG_FILE_KINDS)
        return false;
    if (logger->descriptors[file_kind] != -1)
        return true;
    char *path = logger->paths[file_kind];
    if (!build_path(logger, file_kind, path, sizeof logger->paths[file_kind]))
        return false;
    char made[LOG_MESSAGE_SIZE];
    int descriptor = pf_log_file_open_making_folder(path, PF_LOG_APPEND, made, sizeof made);
    if (descriptor < 0)
        return false;
    logger->descriptors[file_kind] = descriptor;
    pf_log_name_watch_opened(&logger->name_watches[file_kind], pf_tick_count());
    // The logger that made a missing folder says so in its text log as well.
    if (made[0] != '\0' && (file_kind == LOG_FILE_TEXT || logger_object_open_file(logger, LOG_FILE_TEXT)))
        write_text_line(logger->info->variant, logger, logger->info->level_names[LOG_LEVEL_SYSTEM_ERROR],
                        made, __func__, __FILE__, __LINE__);
    return true;
}

// A file found without its name as it closes is said on standard error.
void logger_object_close_files(logger_object *logger)
{
    if (logger == nullptr)
        return;
    for (int kind = 0; kind < LOG_FILE_KINDS; ++kind)
    {
        int &descriptor = logger->descriptors[kind];
        if (descriptor == -1)
            continue;
        pf_log_name_watch_close(&logger->name_watches[kind], descriptor, logger->paths[kind]);
        pf_file_close(descriptor);
        descriptor = -1;
    }
}

int logger_object_roll_files(logger_object *logger)
{
    if (logger == nullptr)
        return -1;
    uint32_t counter = 1;
    for (int kind = 0; kind < LOG_FILE_KINDS; ++kind)
    {
        std::string pattern;
        append_escaped(&pattern, logger->info->log_folder);
        pattern += "/";
        append_escaped(&pattern, logger->name);
        pattern += std::string("_") + k_kind_words[kind] + ".*.current.*";
        if (pf_log_files_roll(pattern.c_str(), &counter) != 0)
            return -1;
    }
    return 0;
}

void logging_info_log(logger_object *logger, const char *message, int16_t level, const char *function_name,
                      const char *source_file, uint32_t line)
{
    logging_info_log_variant(&k_tools_logging, logger, message, level, function_name, source_file, line);
}

void logging_info_log_variant(const logging_variant *variant, logger_object *logger, const char *message,
                              int16_t level, const char *function_name, const char *source_file,
                              uint32_t line)
{
    if (level < LOG_LEVEL_SYSTEM_ERROR || level > LOG_LEVEL_CONTINUATION)
        return;
    std::unique_lock<std::recursive_mutex> guard = serialise(logger);
    const char *level_name = k_level_names[LOG_LEVEL_SYSTEM_ERROR];
    char blanks[LOG_LEVEL_TEXT_SIZE];
    if (logger != nullptr)
    {
        variant = logger->info->variant;
        if (level == LOG_LEVEL_CONTINUATION)
        {
            if (logger->last_level < 0)
                return;
            level = static_cast<int16_t>(logger->last_level);
            size_t length = strlen(logger->info->level_names[level]);
            memset(blanks, ' ', length);
            blanks[length] = '\0';
            level_name = blanks;
        }
        else
        {
            logger->last_level = level;
            level_name = logger->info->level_names[level];
        }
        if (level > logger->level)
            return;
    }
    char text[LOG_MESSAGE_SIZE];
    snprintf(text, sizeof text, "%s", message != nullptr ? message : "");
    for (char *p = text; *p != '\0'; ++p)
    {
        if (*p == '|' || *p == '\n')
            *p = ',';
    }
    write_text_line(variant, logger, level_name, text, function_name, source_file, line);
}

void logging_info_logf(logger_object *logger, int16_t level, const char *function_name,
                       const char *source_file, uint32_t line, const char *format, ...)
{
    char message[LOG_MESSAGE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    logging_info_log(logger, message, level, function_name, source_file, line);
}

int logger_object_binary_log(logger_object *logger, const void *data, uint32_t data_length, int32_t value,
                             const char *name_buffer, int file_kind, uint16_t record_code)
{
    if (logger == nullptr || file_kind < LOG_FILE_BINARY || file_kind > LOG_FILE_OUTGOING_BINARY ||
        (data == nullptr && data_length > 0))
        return -1;
    std::unique_lock<std::recursive_mutex> guard = serialise(logger);
    const logging_variant *variant = logger->info->variant;
    uint64_t total = static_cast<uint64_t>(data_length) + variant->binary_header_size;
    if (total > LOG_RECORD_MAX_TOTAL)
    {
        // Its length would wrap in the 16-bit field and the file could no longer be read.
        QEL_TOOL_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                     "Binary record of [%u] data bytes refused: a record holds at most [%u] bytes in all",
                     data_length, static_cast<unsigned>(LOG_RECORD_MAX_TOTAL));
        return -1;
    }
    if (logger->descriptors[file_kind] != -1)
        watch_name(logger, file_kind);
    if (!logger_object_open_file(logger, file_kind))
    {
        note_write(logger, file_kind, false, errno); // the record is lost, and counted
        return -1;
    }
    uint8_t header[LOG_BINARY_HEADER_SIZE];
    write_binary_header(variant, header, static_cast<uint32_t>(total), record_code, value, name_buffer);

    std::string record(reinterpret_cast<const char *>(header), variant->binary_header_size);
    if (data_length > 0)
        record.append(static_cast<const char *>(data), data_length);

    // One write of the whole record: a record cut short would make every later record
    // unreadable, so a write that fails part way takes its part back.
    bool written = pf_log_file_append(logger->descriptors[file_kind], record.data(), record.size());
    if (written)
        pf_log_name_watch_wrote(&logger->name_watches[file_kind]);
    note_write(logger, file_kind, written, errno);
    return written ? 0 : -1;
}

void logger_object_container_update_time(logger_object_container *container)
{
    if (container != nullptr)
        container->info->time_stamp = static_cast<int64_t>(time(nullptr));
}

int logger_object_reopen(logger_object *logger)
{
    if (logger == nullptr)
        return -1;
    std::unique_lock<std::recursive_mutex> guard = serialise(logger);
    logger_object_close_files(logger);
    int result = logger_object_roll_files(logger);
    logger->time_stamp = logger->info->time_stamp;
    return result;
}

void logger_object_free(logger_object *logger)
{
    if (logger == nullptr)
        return;
    logger_object_close_files(logger);
    logger_object_roll_files(logger);
    delete logger;
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

} // namespace qel_tools
