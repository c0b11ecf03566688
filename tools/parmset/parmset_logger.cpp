// parmset's logger. The roll touches parmset's own "current" files only: the folder may be
// shared with other tools' logs and the statistics tool's current files, which are not
// parmset's to rename. Opening and rolling keep the system's rule for log files
// (platform/core/pf_log_file.h): a run holds a shared lock on the day's file while it
// has it open, and a roll leaves a file another live run holds and never replaces one.
#include "tools/parmset/parmset_logger.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/ea_file.h"
#include "common/ea_time.h"
#include "platform/admin/pf_registry.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_file.h"
#include "platform/core/pf_log_file.h"

struct parmset_logger
{
    std::mutex guard; // one line at a time through the line buffer and the file
    std::string time_text;
    std::string line;
    std::string path; // the day's file, chosen at the first line
    char date_stamp[16] = {};
    char time_stamp[16] = {};
    std::string program = "parmset";
    std::string folder;
    FILE *file = nullptr;
    size_t last_level_length = 0;
    bool failed = false; // the file could not be opened or written; said once
};

namespace
{

enum
{
    ROLL_BATCH = 256,
    LOG_FOLDER_SIZE = EA_MAX_FILE_NAME,
};

const char k_day_names[7][10] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char k_month_names[12][10] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};

// The folder as a literal part of a search pattern.
std::string pattern_escape(const std::string &text)
{
    std::string out;
    for (char c : text)
    {
        if (c == '*' || c == '?' || c == '[' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// "<folder>/parmset.<date>.<time>.current.txt" -> its three parts; false for any other shape.
bool split_current_name(const std::string &path, std::string parts[3])
{
    const std::string suffix = ".current.txt";
    std::string name = ea_get_file_name(path.c_str());
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    name.resize(name.size() - suffix.size());
    size_t first = name.find('.');
    size_t second = first == std::string::npos ? first : name.find('.', first + 1);
    if (second == std::string::npos || name.find('.', second + 1) != std::string::npos)
        return false;
    parts[0] = name.substr(0, first);
    parts[1] = name.substr(first + 1, second - first - 1);
    parts[2] = name.substr(second + 1);
    return !parts[1].empty() && !parts[2].empty();
}

// Every parmset current file but the first of today goes to its repository name. Files
// are found in name order, so the day's first file is the one the day's runs share.
void roll_current_files(parmset_logger *logger)
{
    const std::string pattern = pattern_escape(logger->folder) + "/" + logger->program + ".*.*.current.txt";
    std::unique_ptr<char[][EA_MAX_FILE_NAME]> names(new char[ROLL_BATCH][EA_MAX_FILE_NAME]);
    for (;;)
    {
        uint32_t count = ROLL_BATCH;
        ea_status status = ea_find_files(pattern.c_str(), names.get(), &count);
        if (status == EA_ERROR)
            return;
        bool today_kept = false;
        uint32_t renamed = 0;
        for (uint32_t i = 0; i < count; ++i)
        {
            std::string parts[3];
            if (!split_current_name(names[i], parts) || parts[0] != logger->program)
                continue;
            if (parts[1] == logger->date_stamp && !today_kept)
            {
                today_kept = true;
                continue;
            }
            std::string head = logger->folder + "/" + parts[0] + "." + parts[1] + "." + parts[2] + ".";
            uint32_t counter = 1;
            if (pf_log_file_roll(names[i], head.c_str(), ".txt", &counter) == PF_LOG_ROLLED)
                ++renamed;
        }
        if (status != EA_VALID || renamed == 0)
            return;
    }
}

// The day's file: the one an earlier run of today made, else a new one.
std::string choose_file(const parmset_logger *logger)
{
    const std::string pattern =
        pattern_escape(logger->folder) + "/" + logger->program + "." + logger->date_stamp + ".*.current.txt";
    char names[1][EA_MAX_FILE_NAME];
    uint32_t count = 1;
    ea_status status = ea_find_files(pattern.c_str(), names, &count);
    if (status != EA_ERROR && count == 1)
        return names[0];
    return logger->folder + "/" + logger->program + "." + logger->date_stamp + "." + logger->time_stamp +
           ".current.txt";
}

void report_failure(parmset_logger *logger, const char *what)
{
    if (!logger->failed)
        fprintf(stderr, "parmset: cannot %s the log file [%s]: %s\n", what, logger->path.c_str(),
                strerror(errno));
    logger->failed = true;
}

const char *level_name(parmset_log_level level)
{
    switch (level)
    {
    case PARMSET_ACTIVITY:
        return "ACTIVITY";
    case PARMSET_EVENT:
        return "EVENT";
    case PARMSET_ERROR:
        return "ERROR";
    case PARMSET_CONTINUATION:
        break;
    }
    return "";
}

} // namespace

std::string parmset_log_folder()
{
    std::string folder = ".";
    pf_reg_key *key = nullptr;
    if (pf_reg_open_key(nullptr, "SOFTWARE\\QEL_IP", &key) != PF_ERROR_SUCCESS)
        return folder;
    char value[LOG_FOLDER_SIZE];
    if (pf_reg_query_string(key, "PARMSET_LOG_FILES_PATH", value, sizeof value) == PF_ERROR_SUCCESS &&
        value[0] != '\0')
        folder = value;
    pf_reg_close_key(key);
    return folder;
}

std::string parmset_log_time_text(const struct tm &local, int milliseconds)
{
    char text[128];
    snprintf(text, sizeof text, "%s, %s %d, %d, %d:%d:%d.%d", k_day_names[local.tm_wday % 7],
             k_month_names[local.tm_mon % 12], local.tm_mday, local.tm_year + 1900, local.tm_hour,
             local.tm_min, local.tm_sec, milliseconds);
    return text;
}

parmset_logger *parmset_logger_create(const std::string &folder, time_t now, std::string *error)
{
    struct stat info;
    if (stat(folder.c_str(), &info) != 0)
    {
        *error = "the log folder [" + folder + "] cannot be read: " + strerror(errno);
        return nullptr;
    }
    if (!S_ISDIR(info.st_mode))
    {
        *error = "the log folder [" + folder + "] is not a folder";
        return nullptr;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0)
    {
        *error = "the log folder [" + folder + "] is not writable: " + strerror(errno);
        return nullptr;
    }
    struct tm local;
    if (ea_localtime(&now, &local) == nullptr)
    {
        *error = "the local time cannot be read";
        return nullptr;
    }
    parmset_logger *logger = new parmset_logger;
    logger->folder = folder;
    strftime(logger->date_stamp, sizeof logger->date_stamp, "%Y%m%d", &local);
    strftime(logger->time_stamp, sizeof logger->time_stamp, "%H%M%S", &local);
    roll_current_files(logger);
    return logger;
}

void parmset_logger_destroy(parmset_logger *logger)
{
    if (logger == nullptr)
        return;
    if (logger->file != nullptr)
        fclose(logger->file);
    delete logger;
}

void parmset_logger_log(parmset_logger *logger, parmset_log_level level, const char *function,
                        const char *source_file, int line, const char *format, ...)
{
    if (logger == nullptr)
        return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    time_t seconds = now.tv_sec;
    ea_localtime(&seconds, &local);

    std::lock_guard<std::mutex> hold(logger->guard);
    logger->time_text = parmset_log_time_text(local, static_cast<int>(now.tv_nsec / 1000000));

    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string message(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        vsnprintf(&message[0], message.size() + 1, format, again);
    va_end(again);
    // A line break inside a message (a refused name, say) would forge a line of its own.
    for (char &c : message)
    {
        if (c == '\n' || c == '\r')
            c = ' ';
    }

    std::string level_text = level == PARMSET_CONTINUATION ? std::string(logger->last_level_length, ' ')
                                                           : std::string(level_name(level));
    logger->last_level_length = level_text.size();
    logger->line = level_text + "|" + message + "|" + ea_get_file_name(source_file) + "|" + function + "()|" +
                   std::to_string(line) + "|" + logger->time_text + "\n";

    if (logger->failed)
        return;
    if (logger->file == nullptr)
    {
        logger->path = choose_file(logger);
        int descriptor = pf_log_file_open(logger->path.c_str(), PF_LOG_APPEND);
        logger->file = descriptor >= 0 ? fdopen(descriptor, "a") : nullptr;
        if (logger->file == nullptr)
        {
            report_failure(logger, "open");
            if (descriptor >= 0)
                pf_file_close(descriptor);
            return;
        }
    }
    if (fwrite(logger->line.data(), 1, logger->line.size(), logger->file) != logger->line.size() ||
        fflush(logger->file) != 0)
        report_failure(logger, "write");
}
