// parmset's results. Each run's result is its exit code (Linux keeps the low eight bits,
// so 300 is seen as 44 and -1 as 255) and is printed whole as "RESULT=<n>".
#pragma once

enum : int
{
    PARMSET_SUCCESS = 0,
    PARMSET_UNCHANGED = 1, // a rewrite that changed no line
    PARMSET_REWRITE_FAILED = 200,
    PARMSET_OPEN_FAILED = 300,
    PARMSET_LOGGER_FAILED = 401,
    PARMSET_TOO_FEW_ARGUMENTS = 5000,
    PARMSET_ODD_ARGUMENTS = 5002,
    PARMSET_BLANK_NAME = 5003,
    PARMSET_BLANK_VALUE = 5004,
    PARMSET_SINGLE_OCCURRENCE = 7000,
    PARMSET_LINE_WRITTEN = 9000,
    PARMSET_LINE_DELETED = 9001,
    PARMSET_LINE_APPENDED = 9002,
    PARMSET_NAME_NOT_FOUND = -1,
    PARMSET_NAME_WITHOUT_VALUE = -2,
    PARMSET_VALUE_TOO_LONG = -3,
};

enum
{
    PARMSET_MAX_VALUE_LENGTH = 1023, // a value read for the registry is shorter than 1024
    PARMSET_LOCK_WAIT_MS = 10000,    // how long a rewrite waits for another run's to end
};
