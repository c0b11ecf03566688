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

bool read_text(const char *file, const char *key, char *buffer, size_t size)
{
    return qel_service::config_file_read_string(file, key, buffer, size) == QEL_SUCCESS;
}

bool read_number(const char *file, const char *key, int32_t *value)
{
    return qel_service::config_file_read_int(file, key, value) == QEL_SUCCESS;
}
} // namespace

// Its one logger is written by the service's entry and by the monitoring thread; its keys
// are read by the service's own readers below.
const qel_tools::logging_variant k_service_logging = {
    false, SERVICE_BINARY_HEADER_SIZE, true, true, read_text, read_number};

void logging_info_log(logger_object *logger, const char *message, int16_t level, const char *function_name,
                      const char *source_file, uint32_t line)
{
    qel_tools::logging_info_log_variant(&k_service_logging, logger, message, level, function_name,
                                        source_file, line);
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
    return qel_tools::logger_object_container_create_variant(config_file, names, count, &k_service_logging);
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
