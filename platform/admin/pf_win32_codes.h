// Windows error numbers that the registry, process, service and library layers return. The tools
// log and compare these numbers as the Windows design does ("return code [2]", "Error Code
// [1060]"), so the layers keep them instead of errno; each is named once here.
#pragma once

#include <cstdint>

enum : uint32_t
{
    PF_ERROR_FILE_NOT_FOUND = 2,
    PF_ERROR_PATH_NOT_FOUND = 3,
    PF_ERROR_DISK_FULL = 112,
    PF_ERROR_INSUFFICIENT_BUFFER = 122,
    PF_ERROR_INVALID_NAME = 123,
    PF_ERROR_MOD_NOT_FOUND = 126,
    PF_ERROR_PROC_NOT_FOUND = 127,
    PF_ERROR_BAD_PATHNAME = 161,
    PF_ERROR_BAD_EXE_FORMAT = 193,
    PF_ERROR_MORE_DATA = 234,
    PF_ERROR_NO_MORE_ITEMS = 259,
    PF_ERROR_BADDB = 1009,
    PF_ERROR_REGISTRY_IO_FAILED = 1016,
    PF_ERROR_KEY_DELETED = 1018,
    PF_ERROR_INVALID_SERVICE_CONTROL = 1052,
    PF_ERROR_SERVICE_REQUEST_TIMEOUT = 1053,
    PF_ERROR_SERVICE_ALREADY_RUNNING = 1056,
    PF_ERROR_SERVICE_DOES_NOT_EXIST = 1060,
    PF_ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061,
    PF_ERROR_SERVICE_NOT_ACTIVE = 1062,
    PF_ERROR_SERVICE_SPECIFIC_ERROR = 1066,
    PF_ERROR_SERVICE_EXISTS = 1073,
    PF_ERROR_UNSUPPORTED_TYPE = 1630,
};
