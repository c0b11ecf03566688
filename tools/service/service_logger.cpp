// The service's variant of the tools' logging library and its small readers.
#include "tools/service/service_logger.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "common/config_file.h"
#include "platform/core/pf_redirect.h"

namespace qel_service
{

// Its one logger is written by the service's entry and by the monitoring thread.
const qel_tools::logging_variant k_service_logging = {false, SERVICE_BINARY_HEADER_SIZE, true, true};

namespace
{
int32_t service_status(ea_status status)
{
    if (status == EA_SUCCESS)
        return QEL_SUCCESS;
    return status == EA_NOT_FOUND ? QEL_NOT_FOUND : QEL_FAILURE;
}

struct error_text
{
    uint32_t code;
    const char *text;
};

const error_text k_error_texts[] = {
    {3, "The service binary path not found."},
    {5, "Requested access denied."},
    {6, "The specified handle is invalid."},
    {52,
     "The display name already exists in the service control manager database either as a service name or as another display name."},
    {87, "A specified parameter is invalid."},
    {123, "The specified service name is invalid."},
    {1051, "The service cannot be stopped because other running services are dependent on it."},
    {1052, "The requested control code is not valid, or it is unacceptable to the service."},
    {1053, "The service did not respond to the start request in a timely fashion"},
    {1054, "A thread could not be created for the service"},
    {1055, "The service database is locked."},
    {1056, "The specified service is already running."},
    {1057, "The user account name specified does not exist."},
    {1058, "The service has been disabled."},
    {1059, "A circular service dependency was specified."},
    {1060, "The specified service does not exist."},
    {1061,
     "The requested control code cannot be sent to the service because the state of the service is SERVICE_STOPPED, SERVICE_START_PENDING, or SERVICE_STOP_PENDING"},
    {1062, "The service has not been started"},
    {1065, "The specified database does not exist."},
    {1068, "The service depends on another service that has failed to start."},
    {1069, "The service could not be logged on."},
    {1072, "The service has been marked for deletion"},
    {1073, "The specified service already exists in this database."},
    {1075, "The service depends on a service that does not exist or has been marked for deletion."},
};

const char k_container_function[] = "logger_object_container_create";
const char k_container_source[] = "logger_object_container";

void container_failure(const char *message)
{
    qel_service::logging_info_log(nullptr, message, qel_tools::LOG_LEVEL_SYSTEM_ERROR, k_container_function,
                                  k_container_source, __LINE__);
}

void fill_level_texts(logging_info *info)
{
    static const char *const k_level_names[qel_tools::LOG_LEVEL_COUNT] = {"System Error", "Business Error",
                                                                          "Event", "Activity", "Debug"};
    for (int i = 0; i < qel_tools::LOG_LEVEL_COUNT; ++i)
    {
        snprintf(info->level_names[i], qel_tools::LOG_LEVEL_TEXT_SIZE, "%s", k_level_names[i]);
        char *key = info->level_keys[i];
        snprintf(key, qel_tools::LOG_LEVEL_TEXT_SIZE, "%s", k_level_names[i]);
        for (char *p = key; *p != '\0'; ++p)
            *p = *p == ' ' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    }
}

// The level of a logger: its own key, else SYSTEM_LOGGING_LEVEL; when that leaves it at
// System Error, the integer LOGGING_LEVEL minus 1 (1 to 5 select System Error to Debug).
int16_t read_level(const char *config_file, const char *name, const logging_info *info)
{
    std::string key = std::string(name) + "_LOGGING_LEVEL";
    for (char &c : key)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    char value[qel_tools::LOG_LEVEL_TEXT_SIZE];
    int16_t level = qel_tools::LOG_LEVEL_SYSTEM_ERROR;
    if (config_file_read_string(config_file, key.c_str(), value, sizeof value) == QEL_SUCCESS ||
        config_file_read_string(config_file, "SYSTEM_LOGGING_LEVEL", value, sizeof value) == QEL_SUCCESS)
    {
        for (int16_t i = 0; i < qel_tools::LOG_LEVEL_COUNT; ++i)
        {
            if (strcmp(value, info->level_keys[i]) == 0)
                level = i;
        }
    }
    int32_t number = 0;
    if (level == qel_tools::LOG_LEVEL_SYSTEM_ERROR &&
        config_file_read_int(config_file, "LOGGING_LEVEL", &number) == QEL_SUCCESS)
    {
        number -= 1; // values outside 1 to 5 stay inside
        level = static_cast<int16_t>(number < 0 ? 0 : (number > qel_tools::LOG_LEVEL_DEBUG ? 4 : number));
    }
    return level;
}

logger_object *create_logger(const char *config_file, const char *name, logging_info *info)
{
    // A name that does not fit, or that holds a "/", would name other files.
    if (name == nullptr || *name == '\0' || strlen(name) >= qel_tools::LOGGER_NAME_SIZE ||
        strchr(name, '/') != nullptr)
        return nullptr;
    logger_object *logger = new (std::nothrow) logger_object();
    if (logger == nullptr)
        return nullptr;
    snprintf(logger->name, sizeof logger->name, "%s", name);
    logger->time_stamp = info->time_stamp;
    logger->last_level = -1;
    logger->info = info;
    logger->level = read_level(config_file, name, info);
    // Files an earlier run left "current" are closed for good: a restart never appends.
    qel_tools::logger_object_roll_files(logger);
    return logger;
}
} // namespace

void logging_info_log(logger_object *logger, const char *message, int16_t level, const char *function_name,
                      const char *source_file, uint32_t line)
{
    if (logger != nullptr)
    {
        qel_tools::logging_info_log(logger, message, level, function_name, source_file, line);
        return;
    }
    // The NULL logger: the library's line on standard error, in whole seconds.
    if (level < qel_tools::LOG_LEVEL_SYSTEM_ERROR || level > qel_tools::LOG_LEVEL_CONTINUATION)
        return;
    std::string text = message != nullptr ? message : "";
    for (char &c : text)
    {
        if (c == '|' || c == '\n')
            c = ',';
    }
    time_t now = time(nullptr);
    struct tm local;
    char when[64] = "";
    if (localtime_r(&now, &local) != nullptr)
        strftime(when, sizeof when, "%a %b %d %Y %H:%M:%S", &local);
    fprintf(stderr, "%s%c%s%c%s%c%s%c%u%c%s%c", "System Error", '|', text.c_str(), '|',
            function_name != nullptr ? function_name : "", '|',
            qel_tools::logger_source_base_name(source_file), '|', line, '|', when, '\n');
    fflush(stderr);
}

void logging_info_logf(logger_object *logger, int16_t level, const char *function_name,
                       const char *source_file, uint32_t line, const char *format, ...)
{
    char message[4096];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    qel_service::logging_info_log(logger, message, level, function_name, source_file, line);
}

logger_object_container *logger_object_container_create(const char *config_file, const char *const names[],
                                                        uint32_t count)
{
    logger_object_container *container = new (std::nothrow) logger_object_container();
    logging_info *info = container != nullptr ? new (std::nothrow) logging_info() : nullptr;
    if (info == nullptr)
    {
        container_failure("Creation of logging_info object failed");
        delete container;
        return nullptr;
    }
    container->info = info;
    info->variant = &k_service_logging;
    if (config_file_read_string(config_file, "LOG_FILE_PATH", info->log_folder, sizeof info->log_folder) !=
        QEL_SUCCESS)
    {
        container_failure("Parameter LOG_FILE_PATH_PARAM not found in config file.");
        delete info;
        delete container;
        return nullptr;
    }
    fill_level_texts(info);
    info->time_stamp = static_cast<int64_t>(time(nullptr));
    container->loggers = new (std::nothrow) logger_object *[count > 0 ? count : 1]();
    if (container->loggers == nullptr)
    {
        container_failure("Creation of array of logger_objects failed");
        delete info;
        delete container;
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i)
    {
        container->loggers[i] = create_logger(config_file, names != nullptr ? names[i] : nullptr, info);
        if (container->loggers[i] == nullptr)
        {
            container_failure("Creation of a logger_object failed");
            logger_object_container_destroy(container);
            return nullptr;
        }
        container->count = i + 1;
    }
    return container;
}

int32_t config_file_read_int(const char *file, const char *key, int32_t *value)
{
    return service_status(::config_file_read_int(file, key, value));
}

// The service reads whole lines however long, so that a value too long for the buffer
// is reported missing instead of being taken cut at a line-length limit.
int32_t config_file_read_string(const char *file, const char *key, char *buffer, size_t size)
{
    FILE *stream = file != nullptr ? fopen(file, "re") : nullptr;
    if (stream == nullptr)
        return QEL_FAILURE;
    char *line = nullptr;
    size_t capacity = 0;
    int32_t result = QEL_NOT_FOUND;
    ssize_t length;
    while (key != nullptr && buffer != nullptr && (length = getline(&line, &capacity, stream)) >= 0)
    {
        std::string text(line, static_cast<size_t>(length));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        size_t equals = text.find('=');
        if (equals == std::string::npos || text.compare(0, equals, key) != 0 || strlen(key) != equals)
            continue;
        std::string value = text.substr(equals + 1);
        value = value.substr(0, value.find('='));
        if (value.size() < size)
        {
            value = value.substr(0, value.find_first_of(" \t"));
            if (!value.empty()) // "KEY=" or "KEY= text": no value, as in the gateway's reader
            {
                memcpy(buffer, value.c_str(), value.size() + 1);
                result = QEL_SUCCESS;
            }
        }
        break;
    }
    free(line);
    fclose(stream);
    return result;
}

int32_t redirect_output(const char *file, int which)
{
    if (which != REDIRECT_STDOUT && which != REDIRECT_STDERR && which != REDIRECT_BOTH)
    {
        qel_service::logging_info_log(nullptr, "Invalid stream number option",
                                      qel_tools::LOG_LEVEL_SYSTEM_ERROR, __func__, __FILE__, __LINE__);
        return QEL_FAILURE;
    }
    const char *failed_call = "open";
    if (pf_redirect_output(file, which, &failed_call) == 0)
        return QEL_SUCCESS;
    int error = errno;
    if (strcmp(failed_call, "open") == 0)
        qel_service::logging_info_logf(nullptr, qel_tools::LOG_LEVEL_SYSTEM_ERROR, __func__, __FILE__,
                                       __LINE__, "open for file [%s] failed with error [%d] - [%s]", file,
                                       error, strerror(error));
    else if (strcmp(failed_call, "dup") == 0)
        qel_service::logging_info_logf(nullptr, qel_tools::LOG_LEVEL_SYSTEM_ERROR, __func__, __FILE__,
                                       __LINE__, "dup failed with error [%d] - [%s]", error, strerror(error));
    else
        qel_service::logging_info_logf(nullptr, qel_tools::LOG_LEVEL_SYSTEM_ERROR, __func__, __FILE__,
                                       __LINE__, "dup2 failed with error [%d] - [%s]", error,
                                       strerror(error));
    return QEL_FAILURE;
}

const char *qel_service_get_error_text(uint32_t code, char *buffer, size_t size)
{
    const char *text = nullptr;
    for (const error_text &entry : k_error_texts)
    {
        if (entry.code == code)
            text = entry.text;
    }
    if (text == nullptr)
        text = strerror(static_cast<int>(code));
    snprintf(buffer, size, "Error Code [%u]: %s", code, text);
    return buffer;
}

} // namespace qel_service
