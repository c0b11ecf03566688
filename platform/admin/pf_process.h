// A snapshot of the running processes, read from /proc, standing in for the tool-help
// process list: the console watches its gateways by executable name, the service finds a
// gateway it should adopt by executable path, the statistics tool counts processes.
//
// Each entry holds the process id, the executable's path as /proc/<pid>/exe shows it (a
// started symlink shows its target, a hard link its own name; " (deleted)" of a replaced
// file is dropped) and its base name. A process whose executable the caller may not read
// keeps its short kernel name and an empty path. Zombies and kernel threads are not
// running programs and are left out.
//
// Names compare ignoring case and a trailing ".exe" on either side, so "qel_ip_tx.exe"
// names the gateway that runs as qel_ip_tx.
#pragma once

#include <cstdint>

#include "platform/admin/pf_win32_codes.h"

enum
{
    PF_PROCESS_PATH_SIZE = 1024,
    PF_PROCESS_NAME_SIZE = 256,
};

struct pf_process_entry
{
    uint32_t pid;
    char path[PF_PROCESS_PATH_SIZE]; // empty when it could not be read
    char name[PF_PROCESS_NAME_SIZE]; // base name of path (or the kernel's name)
};

struct pf_process_snapshot;

// 0 with a new snapshot, else a Windows error number (5 when /proc cannot be read).
uint32_t pf_process_snapshot_create(pf_process_snapshot **snapshot_out);
void pf_process_snapshot_destroy(pf_process_snapshot *snapshot);
uint32_t pf_process_snapshot_count(const pf_process_snapshot *snapshot);
// Entries in ascending process id; null past the end.
const pf_process_entry *pf_process_snapshot_entry(const pf_process_snapshot *snapshot, uint32_t index);

// The first entry whose base name equals name (ignoring case and ".exe"), or null.
const pf_process_entry *pf_process_find_by_name(const pf_process_snapshot *snapshot, const char *name);
// The first entry whose executable is the file at path: the path is made absolute and
// its symlinks resolved before it is compared (ignoring case and ".exe"). Null when none.
const pf_process_entry *pf_process_find_by_path(const pf_process_snapshot *snapshot, const char *path);

bool pf_process_name_equal(const char *a, const char *b);
