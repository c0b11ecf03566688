// Configuration reader: one integer or string value by key from the gateway's
// configuration file of "name=value" lines. Every call scans the file from the start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ea_status.h"

// A line or word split in place at "=": leading "=" characters are skipped, the name runs
// to the next "=", the value from the run of "=" after it up to the next "=". The readers
// below and the tools that read a value the way the gateway does share it.
struct config_split
{
    const char *name;  // null when the text has no name
    const char *value; // null when there is no value part
};
config_split config_split_at_equals(char *text);

// 0 and the value, -1 (EA_NOT_FOUND) when the key is missing or has no value,
// 10000 when the file cannot be opened. The string reader cuts the value at its first
// blank or tab; a value that the cut leaves empty counts as none, and so does one that
// is not shorter than buffer_size.
ea_status config_file_read_int(const char *file_name, const char *key, int32_t *value);
ea_status config_file_read_string(const char *file_name, const char *key, char *buffer, size_t buffer_size);
