// qelmon's logging: the tools' logging library in its older variant (no milliseconds in
// a line, the NULL logger's included, a 32-bit binary header, the integer LOGGING_LEVEL as
// the last word on the level), with the service's status codes, its configuration readers
// (which the container reads its keys with) and the redirection of its standard streams.
// Writing, rolling and reopening are the library of tools/logging itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/logging/tool_logger.h"

namespace qel_service
{

using qel_tools::logger_object;
using qel_tools::logger_object_container;
using qel_tools::logging_info;

enum : int32_t
{
    QEL_SUCCESS = 0,
    QEL_FAILURE = 1000,
    QEL_MORE = 1001,
    QEL_NOT_FOUND = 1004,
};

enum
{
    SERVICE_BINARY_HEADER_SIZE = 32,
};

extern const qel_tools::logging_variant k_service_logging;

// The container with its keys read by the service's readers below (LOG_FILE_PATH and the
// level keys), NULL after a line on standard error.
logger_object_container *logger_object_container_create(const char *config_file, const char *const names[],
                                                        uint32_t count);
using qel_tools::logger_object_binary_log;
using qel_tools::logger_object_container_destroy;
using qel_tools::logger_object_container_update_time;
using qel_tools::logger_object_free;
using qel_tools::logger_object_reopen;

// One text line as in the tools' library; the NULL logger's line on standard error has
// no milliseconds either.
void logging_info_log(logger_object *logger, const char *message, int16_t level, const char *function_name,
                      const char *source_file, uint32_t line);
void logging_info_logf(logger_object *logger, int16_t level, const char *function_name,
                       const char *source_file, uint32_t line, const char *format, ...)
    __attribute__((format(printf, 6, 7)));

// 0 with the value, 1004 when the key is missing (or, for a string, its value does not
// fit the buffer), 1000 when the file cannot be opened.
int32_t config_file_read_int(const char *file, const char *key, int32_t *value);
int32_t config_file_read_string(const char *file, const char *key, char *buffer, size_t size);

enum
{
    REDIRECT_STDOUT = 1,
    REDIRECT_STDERR = 2,
    REDIRECT_BOTH = 3,
};
// Standard output and/or error appended to the file; 0, or 1000 after a line on the NULL
// logger.
int32_t redirect_output(const char *file, int which);

// "Error Code [%d]: " and the text of a Windows error number of the service table, or the
// C runtime's text for any other number.
const char *qel_service_get_error_text(uint32_t code, char *buffer, size_t size);

} // namespace qel_service
