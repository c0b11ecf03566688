// The console's access to name=value configuration files (the gateway's configuration
// file, the common configuration file): read one value by name, rewrite the file with a
// table of new values, and the file-name part of a path. Names are compared
// case-sensitively; a line without "=" is no entry. The gateway's own reader reads the
// files this writer writes.
#pragma once

#include <cstddef>
#include <cstdint>

enum : uint32_t
{
    KOVA_PARAM_FOUND = 0,
    KOVA_PARAM_NOT_FOUND = 0xFFFFFFFFu, // no such name, no value, or it does not fit
    KOVA_PARAM_OPEN_FAILED = 300,       // the file cannot be opened for reading
    KOVA_PARAM_WRITE_FAILED = 200,      // the rewrite failed; the old file is untouched
    KOVA_PARAM_UNCHANGED = 1,           // rewritten, no name matched, nothing appended
    KOVA_PARAM_REPLACED = 9000,         // the last change replaced a line
    KOVA_PARAM_REMOVED = 9001,          // the last change removed a line
    KOVA_PARAM_APPENDED = 9002,         // the last change appended a line
    KOVA_PARAM_SLOT_SIZE = 40,          // a name or value slot of the writer's tables
    KOVA_PARAM_MESSAGE_SIZE = 1024,     // the writer's message buffer
};

// The value of name as a decimal number, from the file seen as blank-separated words
// ("name=value" without blanks); the value ends at the next "=". 0, -1 or 300.
uint32_t GetIntParameterValue(const char *path, const char *name, int32_t *value);
// The rest of name's line after the first "=" (blanks and "=" included), copied when it
// is shorter than size; the buffer is untouched on every failure. 0, -1 or 300.
uint32_t GetStringParameterValue(const char *path, const char *name, char *buffer, size_t size);
// Rewrites the file: every line whose name is in names[] gets values[] in its place (an
// empty value removes the line), names not found are appended in table order, other
// lines are copied whole. The new file is written beside the old one and renamed over
// it, so a failure leaves the old file as it was. 1, 9000, 9001, 9002, or 200 and 300
// with the reason in message (KOVA_PARAM_MESSAGE_SIZE bytes).
uint32_t ReplaceParameterValues(const char *path, const char (*names)[KOVA_PARAM_SLOT_SIZE],
                                const char (*values)[KOVA_PARAM_SLOT_SIZE], int32_t count, char *message);
// The file-name part of path (after its last "/") into title; 0 on success, the size
// needed when title is too small, -1 when path names no file.
int32_t GetFileTitleWrapper(const char *path, char *title, uint16_t size);
