// qelstat's configuration and its two folder chores. Emptying the current folder removes
// every ".txt" file in it, so start-up first refuses a current folder that is also the
// history, offline, log or working folder, or that holds a parameter file: emptying it
// would delete them. The history roll never replaces a file: a taken "repository" name is
// numbered on, as the logger's own roll does.
#include "tools/statistics/qel_stats_config.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/config_file.h"
#include "platform/core/pf_file.h"
#include "tools/statistics/qel_stats_search.h"

using qel_tools::LOG_LEVEL_ACTIVITY;
using qel_tools::LOG_LEVEL_SYSTEM_ERROR;
using qel_tools::logger_object;

namespace
{

const char k_create[] = "create_qel_stats_config_parameters";
const char k_rename[] = "qel_stats_config_parameters_rename_history_files";

#define QEL_STATS_LOG_AS(function, logger, level, ...)                                                       \
    qel_tools::logging_info_logf((logger), (level), (function), __FILE__, __LINE__, __VA_ARGS__)

struct config_key
{
    const char *key;
    char *value;
    size_t size;
    const char *missing;
};

bool is_folder(const char *path)
{
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool same_folder(const char *a, const char *b)
{
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

std::string folder_of(const char *path)
{
    const char *slash = strrchr(path, '/');
    if (slash == nullptr)
        return ".";
    if (slash == path)
        return "/";
    return std::string(path, static_cast<size_t>(slash - path));
}

bool ends_with(const char *text, const char *end)
{
    size_t length = strlen(text), end_length = strlen(end);
    return length >= end_length && strcmp(text + length - end_length, end) == 0;
}

// The current folder must hold nothing that emptying it would lose.
bool current_folder_is_safe(const qel_stats_config_parameters *config, logger_object *logger)
{
    struct
    {
        const char *folder;
        const char *what;
    } others[] = {
        {config->history_folder, "history"},
        {config->offline_folder, "offline"},
        {logger != nullptr ? logger->info->log_folder : "", "log"},
    };
    bool safe = true;
    for (const auto &other : others)
    {
        if (same_folder(config->current_folder, other.folder))
        {
            QEL_STATS_LOG_AS(
                k_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                "Current files folder [%s] is also the %s folder [%s]: emptying it at start-up would delete those files",
                config->current_folder, other.what, other.folder);
            safe = false;
        }
    }
    for (const char *file : {config->online_file, config->offline_file})
    {
        if (ends_with(file, ".txt") && same_folder(config->current_folder, folder_of(file).c_str()))
        {
            QEL_STATS_LOG_AS(
                k_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                "Parameter file [%s] lies in the current files folder [%s]: emptying it at start-up would delete it",
                file, config->current_folder);
            safe = false;
        }
    }
    // The working folder holds qelstat's own qel_text_log_default.txt, open for its output.
    if (same_folder(config->current_folder, "."))
    {
        QEL_STATS_LOG_AS(
            k_create, logger, LOG_LEVEL_SYSTEM_ERROR,
            "Current files folder [%s] is the working folder: emptying it at start-up would delete "
            "qel_text_log_default.txt",
            config->current_folder);
        safe = false;
    }
    return safe;
}

// Removes every "*.txt" file of the current folder.
bool empty_current_folder(const qel_stats_config_parameters *config, logger_object *logger)
{
    if (!is_folder(config->current_folder))
    {
        QEL_STATS_LOG_AS(k_create, logger, LOG_LEVEL_SYSTEM_ERROR, "Invalid file path [%s]",
                         config->current_folder);
        return false;
    }
    std::vector<std::string> names;
    if (qel_stats_find_files(qel_stats_pattern_literal(config->current_folder) + "/*.txt", &names) !=
        EA_SUCCESS)
    {
        QEL_STATS_LOG_AS(k_create, logger, LOG_LEVEL_SYSTEM_ERROR, "Invalid file path [%s]",
                         config->current_folder);
        return false;
    }
    int removed = 0;
    for (const std::string &name : names)
    {
        struct stat status;
        if (lstat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            continue;
        if (unlink(name.c_str()) != 0)
        {
            QEL_STATS_LOG_AS(k_create, logger, LOG_LEVEL_SYSTEM_ERROR,
                             "Can not remove the file [%s]. Error Code [%d]", name.c_str(), errno);
            return false;
        }
        ++removed;
    }
    if (removed == 0)
        QEL_STATS_LOG_AS(k_create, logger, LOG_LEVEL_ACTIVITY, "No files in the Current folder");
    return true;
}

} // namespace

qel_stats_config_parameters *create_qel_stats_config_parameters(const char *config_file,
                                                                logger_object *logger)
{
    qel_stats_config_parameters *config = new (std::nothrow) qel_stats_config_parameters();
    if (config == nullptr)
    {
        QEL_STATS_LOG_AS(k_create, logger, LOG_LEVEL_SYSTEM_ERROR, "Config parameters creation failed");
        return nullptr;
    }
    const config_key keys[] = {
        {"ONLINE_PARAM_FILE_NAME", config->online_file, sizeof config->online_file,
         "Parameter ONLINE_PARAM_FILE_PARAM not found in config file"},
        {"OFFLINE_PARAM_FILE_NAME", config->offline_file, sizeof config->offline_file,
         "Parameter OFFLINE_PARAM_FILE_PARAMnot found in config file"},
        {"CURRENT_FILES_PATH", config->current_folder, sizeof config->current_folder,
         "Parameter CURRENT_FILES_PATH_PARAMnot found in config file"},
        {"OFFLINE_FILES_PATH", config->offline_folder, sizeof config->offline_folder,
         "Parameter OFFLINE_FILES_PATH_PARAMnot found in config file"},
        {"HISTORY_FILES_PATH", config->history_folder, sizeof config->history_folder,
         "Parameter HISTORY_FILES_PARAMnot found in config file"},
    };
    for (const config_key &key : keys)
    {
        if (config_file_read_string(config_file, key.key, key.value, key.size) != EA_SUCCESS)
        {
            QEL_STATS_LOG_AS(k_create, logger, LOG_LEVEL_SYSTEM_ERROR, "%s", key.missing);
            delete config;
            return nullptr;
        }
    }
    if (!current_folder_is_safe(config, logger) || !empty_current_folder(config, logger))
    {
        delete config;
        return nullptr;
    }
    qel_stats_config_parameters_rename_history_files(config, logger);
    return config;
}

void qel_stats_config_parameters_destroy(qel_stats_config_parameters *config)
{
    delete config;
}

void qel_stats_config_parameters_rename_history_files(const qel_stats_config_parameters *config,
                                                      logger_object *logger)
{
    std::vector<std::string> names;
    if (!is_folder(config->history_folder) ||
        qel_stats_find_files(qel_stats_pattern_literal(config->history_folder) + "/*.current.txt", &names) !=
            EA_SUCCESS)
    {
        QEL_STATS_LOG_AS(k_rename, logger, LOG_LEVEL_SYSTEM_ERROR, "Invalid history file path [%s]",
                         config->history_folder);
        return;
    }
    if (names.empty())
    {
        QEL_STATS_LOG_AS(k_rename, logger, LOG_LEVEL_ACTIVITY, "No files in the History folder to rename");
        return;
    }
    uint32_t counter = 1;
    for (const std::string &name : names)
    {
        // name.stamp.current.txt: the word between the last two dots becomes "repository".
        size_t last_dot = name.rfind('.');
        size_t previous_dot = name.rfind('.', last_dot - 1);
        std::string head = name.substr(0, previous_dot + 1);
        std::string extension = name.substr(last_dot);
        std::string target = head + "repository" + extension;
        while (!pf_file_rename_no_replace(name.c_str(), target.c_str()))
        {
            if (errno != EEXIST)
            {
                QEL_STATS_LOG_AS(k_rename, logger, LOG_LEVEL_SYSTEM_ERROR,
                                 "History file [%s] could not be renamed to [%s]. Error Code [%d]",
                                 name.c_str(), target.c_str(), errno);
                break;
            }
            target = head + "repository." + std::to_string(counter++) + extension;
        }
    }
}
