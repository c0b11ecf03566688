// Files opened "denying other writers", as Windows share modes do: the
// statistics tool writes its statistics files while the console reads them. Here the
// denial is an exclusive advisory lock (flock) taken at once or not at all, which every
// writer of these files takes; readers take none and are never kept out.
#pragma once

#include <cstddef>

enum pf_share_mode
{
    PF_SHARE_REPLACE, // the file is cut to nothing before each write: it holds the last one
    PF_SHARE_APPEND,  // each write goes to the end
};

// Opens (creating it rw-r--r-- when missing) and locks the file. The descriptor, or -1
// with *error set to the errno of the failure (EWOULDBLOCK: another writer holds it).
int pf_share_open(const char *path, pf_share_mode mode, int *error);
// Writes all of data (after cutting the file, in replace mode). 0, or -1 with *error.
int pf_share_write(int fd, pf_share_mode mode, const void *data, size_t length, int *error);
// Unlocks and closes.
void pf_share_close(int fd);
