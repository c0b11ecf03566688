// File, string and byte-order helpers of the gateway's library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ea_status.h"

enum
{
    EA_MAX_FILE_NAME = 1024,
};

// Finds the files matching a shell pattern (folder and name pattern, for instance
// "/var/log/qel/main*.current.*"), sorted by name, and copies their full paths into the
// caller's buffers (EA_MAX_FILE_NAME bytes each). 203 when the array filled up, 0 when the
// search ended (count = number found), 10000 on any other failure.
ea_status ea_find_files(const char *pattern, char names[][EA_MAX_FILE_NAME], uint32_t *count);
char *ea_strupr(char *text);
// The part after the last path separator ('/' or '\\'), or the whole string.
const char *ea_get_file_name(const char *path);

void ea_reverse_bytes(void *buffer, size_t n);
double ea_swap_double(uint32_t low_word, uint32_t high_word);
