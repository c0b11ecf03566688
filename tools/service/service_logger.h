// qelmon's logging: the tools' logging library in its older variant (no milliseconds in
// a line, a 32-bit binary header, the integer LOGGING_LEVEL as the last word on the
// level), with the service's status codes, its configuration readers and the redirection
// of its standard streams. Everything else is the library of tools/statistics itself.
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

logger_object_container *logger_object_container_create(const char *config_file, const char *const names[],
                                                        uint32_t count);
using qel_tools::logger_object_binary_log;
using qel_tools::logger_object_container_destroy;
using qel_tools::logger_object_container_update_time;
using qel_tools::logger_object_free;
using qel_tools::logger_object_reopen;
using qel_tools::logging_info_log;
using qel_tools::logging_info_logf;

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
