// Files by descriptor: create, write whole, close, ask whether a path exists, rename (also
// without replacing), and search by shell pattern; and the owner-only stream of the
// console event log. The log files themselves are opened, appended to and rolled through
// pf_log_file.h; nothing above platform/ touches a descriptor call itself.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

enum
{
    PF_FILE_STANDARD_ERROR = 2, // the process's standard error, where a log falls back to
};

// Creates (or empties) a file for writing, readable and writable by its owner only, not
// inherited by child processes. The descriptor, or -1 with errno set.
int pf_file_create(const char *path);
// The same as a binary stream open for reading and writing ("w+b"), positioned at its
// start. Null with errno set.
FILE *pf_file_create_stream(const char *path);
// Writes all `length` bytes, going on after interrupted and partial writes. False, with
// errno set, when the file refuses more.
bool pf_file_write_all(int descriptor, const void *data, size_t length);
void pf_file_close(int descriptor);
bool pf_file_exists(const char *path);
// 0, or -1 with errno set.
int pf_file_rename(const char *from, const char *to);
// Renames without replacing: false with errno EEXIST when `to` exists.
bool pf_file_rename_no_replace(const char *from, const char *to);
// Whether the descriptor is still the file that `path` names (not replaced by a rename
// since it was opened).
bool pf_file_still_named(int descriptor, const char *path);

// The paths that match a shell pattern ("*", "?", "[...]", "\\" escapes), in no order.
// 0 with the matches (none is not a failure), -1 when the search itself failed.
int pf_file_find(const char *pattern, std::vector<std::string> *paths);
