// The console logger: names and stamps of the day's file, the start-up sweep of old
// current files, the guarded line writer and the roll-over at a change of date.
#include "console/kova_logger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <strings.h>

#include "common/ea_file.h"
#include "common/ea_time.h"
#include "platform/admin/pf_registry.h"
#include "platform/core/pf_clock.h"
#include "platform/core/pf_file.h"
#include "platform/core/pf_log_file.h"

namespace
{
std::atomic<CLogger::Clock> g_clock{nullptr};

void now(int64_t *seconds, uint16_t *milliseconds)
{
    CLogger::Clock clock = g_clock.load();
    if (clock != nullptr)
    {
        clock(seconds, milliseconds);
    }
    else
    {
        pf_wall_clock(seconds, milliseconds);
    }
}

struct tm local_now(uint16_t *milliseconds)
{
    int64_t seconds = 0;
    now(&seconds, milliseconds);
    time_t t = static_cast<time_t>(seconds);
    struct tm local;
    ea_localtime(&t, &local);
    return local;
}

const char *const k_weekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
const char *const k_months[] = {"January", "February", "March",     "April",   "May",      "June",
                                "July",    "August",   "September", "October", "November", "December"};

// The first three dot-separated parts of a file name ("kova", date, time); false when
// the name has fewer (such a file is left where it is).
bool first_three_parts(const char *name, std::string parts[3])
{
    const char *p = name;
    for (int i = 0; i < 3; ++i)
    {
        const char *dot = strchr(p, '.');
        size_t length = dot != nullptr ? static_cast<size_t>(dot - p) : strlen(p);
        if (length == 0)
        {
            return false;
        }
        parts[i].assign(p, length);
        if (dot == nullptr)
        {
            return i == 2;
        }
        p = dot + 1;
    }
    return true;
}

// Renames folder/name to folder/a.b.c.repository.txt (numbered a.b.c.repository.1.txt
// and on while that name is taken), keeping the system's rule for log files: a file that
// another live process has open is left alone. A failure is ignored (the file is swept at
// the next start). True when the file was moved.
bool rename_to_repository(const char *folder, const char *name)
{
    std::string parts[3];
    if (!first_three_parts(name, parts))
    {
        return false;
    }
    std::string from = std::string(folder) + "/" + name;
    std::string head = std::string(folder) + "/" + parts[0] + "." + parts[1] + "." + parts[2] + ".";
    uint32_t counter = 1;
    return pf_log_file_roll(from.c_str(), head.c_str(), ".txt", &counter) == PF_LOG_ROLLED;
}

enum
{
    SWEEP_BATCH = 64,
};

// KOVA_LOG_FILES_PATH under SOFTWARE\QEL_IP; false when the key or the value is missing.
bool read_log_folder(char *folder, size_t size)
{
    pf_reg_key *key = nullptr;
    if (pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key) != 0)
    {
        return false;
    }
    uint32_t result = pf_reg_query_string(key, "KOVA_LOG_FILES_PATH", folder, static_cast<uint32_t>(size));
    pf_reg_close_key(key);
    return result == 0;
}
} // namespace

void CLogger::SetClockForTests(Clock clock)
{
    g_clock.store(clock);
}

CLogger::CLogger() : m_file(nullptr), m_indent(0)
{
    m_timeText[0] = m_line[0] = m_currentFilePath[0] = m_dateStamp[0] = m_timeStamp[0] = '\0';
    snprintf(m_prefix, sizeof m_prefix, "%s", "kova");
    TakeFileStamps();
    if (!read_log_folder(m_folder, sizeof m_folder) || m_folder[0] == '\0')
    {
        snprintf(m_folder, sizeof m_folder, "%s", ".");
    }
    char todays_file[EA_MAX_FILE_NAME] = "";
    FindTodaysFile(todays_file, sizeof todays_file);
    SweepOldCurrentFiles(todays_file);
    snprintf(m_line, sizeof m_line, "%s", "\nLogger object initialized.\n");
    WriteLine();
}

CLogger::~CLogger()
{
    std::lock_guard<std::mutex> guard(m_guard);
    if (m_file != nullptr)
    {
        fclose(m_file);
        m_file = nullptr;
    }
}

void CLogger::TakeFileStamps()
{
    uint16_t milliseconds = 0;
    struct tm local = local_now(&milliseconds);
    strftime(m_dateStamp, sizeof m_dateStamp, "%Y%m%d", &local);
    strftime(m_timeStamp, sizeof m_timeStamp, "%H%M%S", &local);
}

void CLogger::FormatTimeText()
{
    uint16_t milliseconds = 0;
    struct tm local = local_now(&milliseconds);
    snprintf(m_timeText, sizeof m_timeText, "%s, %s %d, %d, %d:%d:%d.%d", k_weekdays[local.tm_wday % 7],
             k_months[local.tm_mon % 12], local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min,
             local.tm_sec, milliseconds);
}

// The name (not the path) of the first kova.<date>.*.current.txt of the folder, or "".
void CLogger::FindTodaysFile(char *name, size_t size)
{
    name[0] = '\0';
    std::string pattern = std::string(m_folder) + "/" + m_prefix + "." + m_dateStamp + ".*.current.txt";
    char found[1][EA_MAX_FILE_NAME];
    uint32_t count = 1;
    ea_status status = ea_find_files(pattern.c_str(), found, &count);
    if (status != EA_ERROR && count > 0)
    {
        snprintf(name, size, "%s", ea_get_file_name(found[0]));
    }
}

void CLogger::SweepOldCurrentFiles(const char *todays_file)
{
    std::string pattern = std::string(m_folder) + "/*.current.txt";
    std::unique_ptr<char[][EA_MAX_FILE_NAME]> found(new char[SWEEP_BATCH][EA_MAX_FILE_NAME]);
    // A full batch may hide more files: search again until a pass finds no more or can
    // rename none of those it found.
    for (;;)
    {
        uint32_t count = SWEEP_BATCH;
        ea_status status = ea_find_files(pattern.c_str(), found.get(), &count);
        if (status == EA_ERROR)
        {
            return;
        }
        uint32_t renamed = 0;
        for (uint32_t i = 0; i < count; ++i)
        {
            const char *name = ea_get_file_name(found[i]);
            if (strcasecmp(name, todays_file) == 0)
            {
                continue;
            }
            if (rename_to_repository(m_folder, name))
            {
                ++renamed;
            }
        }
        if (count < SWEEP_BATCH || renamed == 0)
        {
            return;
        }
    }
}

void CLogger::WriteLineLocked()
{
    if (m_file == nullptr)
    {
        char todays_file[EA_MAX_FILE_NAME];
        FindTodaysFile(todays_file, sizeof todays_file);
        std::string path = todays_file[0] != '\0' ? std::string(m_folder) + "/" + todays_file
                                                  : std::string(m_folder) + "/" + m_prefix + "." +
                                                        m_dateStamp + "." + m_timeStamp + ".current.txt";
        if (path.size() >= sizeof m_currentFilePath)
        {
            return; // a path this long is not supported
        }
        memcpy(m_currentFilePath, path.c_str(), path.size() + 1);
        int descriptor = pf_log_file_open(m_currentFilePath, PF_LOG_APPEND);
        m_file = descriptor >= 0 ? fdopen(descriptor, "a") : nullptr;
        if (m_file == nullptr)
        {
            if (descriptor >= 0)
            {
                pf_file_close(descriptor);
            }
            return; // the line is lost; the next one tries again
        }
    }
    fputs(m_line, m_file);
    fflush(m_file);
}

void CLogger::WriteLine()
{
    std::lock_guard<std::mutex> guard(m_guard);
    WriteLineLocked();
}

void CLogger::LogLevelLine(const char *level, const char *message, const char *function, const char *source,
                           int32_t line)
{
    std::lock_guard<std::mutex> guard(m_guard);
    FormatTimeText();
    char blanks[32] = "";
    if (level == nullptr)
    {
        int32_t width = m_indent < 0 ? 0 : m_indent < 31 ? m_indent : 31;
        memset(blanks, ' ', static_cast<size_t>(width));
        blanks[width] = '\0';
    }
    int length =
        snprintf(m_line, sizeof m_line, "%s|%s|%s|%s|%d|%s\n", level != nullptr ? level : blanks,
                 message != nullptr ? message : "", ea_get_file_name(source != nullptr ? source : ""),
                 function != nullptr ? function : "", line, m_timeText);
    if (length >= static_cast<int>(sizeof m_line))
    {
        m_line[sizeof m_line - 2] = '\n'; // a cut line still ends its line
    }
    if (level != nullptr)
    {
        m_indent = static_cast<int32_t>(strlen(level));
    }
    WriteLineLocked();
}

void CLogger::LogActivity(const char *message, const char *function, const char *source, int32_t line)
{
    LogLevelLine("ACTIVITY", message, function, source, line);
}

void CLogger::LogEvent(const char *message, const char *function, const char *source, int32_t line)
{
    LogLevelLine("EVENT", message, function, source, line);
}

void CLogger::LogBusinessError(const char *message, const char *function, const char *source, int32_t line)
{
    LogLevelLine("BUSINESS_ERROR", message, function, source, line);
}

void CLogger::LogSystemError(const char *message, const char *function, const char *source, int32_t line)
{
    LogLevelLine("SYSTEM_ERROR", message, function, source, line);
}

void CLogger::LogDetail(const char *message, const char *function, const char *source, int32_t line)
{
    LogLevelLine(nullptr, message, function, source, line);
}

void CLogger::RollOverIfNewDay()
{
    std::lock_guard<std::mutex> guard(m_guard);
    uint16_t milliseconds = 0;
    struct tm local = local_now(&milliseconds);
    char today[16];
    strftime(today, sizeof today, "%Y%m%d", &local);
    if (strcasecmp(today, m_dateStamp) == 0)
    {
        return;
    }
    TakeFileStamps();
    if (m_file != nullptr)
    {
        fclose(m_file);
        m_file = nullptr;
    }
    if (m_currentFilePath[0] != '\0')
    {
        rename_to_repository(m_folder, ea_get_file_name(m_currentFilePath));
        m_currentFilePath[0] = '\0';
    }
}

void KovaLog(CLogger *logger, KovaLogLevel level, const char *function, const char *source, int32_t line,
             const char *format, ...)
{
    if (logger == nullptr)
    {
        return;
    }
    char message[5000];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    switch (level)
    {
    case KOVA_ACTIVITY:
        logger->LogActivity(message, function, source, line);
        break;
    case KOVA_EVENT:
        logger->LogEvent(message, function, source, line);
        break;
    case KOVA_BUSINESS_ERROR:
        logger->LogBusinessError(message, function, source, line);
        break;
    case KOVA_SYSTEM_ERROR:
        logger->LogSystemError(message, function, source, line);
        break;
    case KOVA_DETAIL:
        logger->LogDetail(message, function, source, line);
        break;
    }
}
