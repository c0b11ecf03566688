// The process snapshot over /proc. A process may end while it is read: every read that
// fails for a vanished process simply leaves that process out.
#include "platform/admin/pf_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/core/pf_error.h"

struct pf_process_snapshot
{
    std::vector<pf_process_entry> entries;
};

namespace
{

const char k_deleted_suffix[] = " (deleted)";

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length of the name without a trailing ".exe" (any case).
size_t length_without_exe(const char *name)
{
    size_t length = strlen(name);
    if (length > 4 && name[length - 4] == '.' && lower(name[length - 3]) == 'e' &&
        lower(name[length - 2]) == 'x' && lower(name[length - 1]) == 'e')
        return length - 4;
    return length;
}

const char *base_name(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// The one-letter state and the kernel's name from /proc/<pid>/stat: "pid (name) S ...".
// The name may itself hold ")" and blanks, so the state follows the last ")".
bool read_stat(const char *pid_text, char *state, char *name, size_t name_size)
{
    char path[300];
    snprintf(path, sizeof path, "/proc/%.255s/stat", pid_text);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[512];
    ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0)
        return false;
    buffer[got] = '\0';
    char *open_paren = strchr(buffer, '(');
    char *close_paren = strrchr(buffer, ')');
    if (open_paren == nullptr || close_paren == nullptr || close_paren < open_paren || close_paren[1] != ' ')
        return false;
    *state = close_paren[2];
    size_t length = std::min(static_cast<size_t>(close_paren - open_paren - 1), name_size - 1);
    memcpy(name, open_paren + 1, length);
    name[length] = '\0';
    return true;
}

// The executable path of a process, or false (and the errno of the failed read).
bool read_exe(const char *pid_text, char *path, size_t size, int *error)
{
    char link[300];
    snprintf(link, sizeof link, "/proc/%.255s/exe", pid_text);
    ssize_t got = readlink(link, path, size - 1);
    if (got < 0)
    {
        *error = errno;
        return false;
    }
    if (static_cast<size_t>(got) >= size - 1)
    {
        *error = ENAMETOOLONG;
        return false;
    }
    path[got] = '\0';
    size_t suffix = sizeof k_deleted_suffix - 1;
    if (static_cast<size_t>(got) > suffix && strcmp(path + got - suffix, k_deleted_suffix) == 0)
        path[got - suffix] = '\0';
    return true;
}

bool is_pid(const char *name)
{
    if (*name == '\0')
        return false;
    for (const char *p = name; *p != '\0'; ++p)
    {
        if (*p < '0' || *p > '9')
            return false;
    }
    return true;
}

bool equal_ignoring_case_and_exe(const char *a, const char *b)
{
    size_t length = length_without_exe(a);
    if (length != length_without_exe(b))
        return false;
    for (size_t i = 0; i < length; ++i)
    {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

uint32_t pf_process_snapshot_create(pf_process_snapshot **snapshot_out)
{
    if (snapshot_out == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    *snapshot_out = nullptr;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return errno == ENOMEM ? PF_ERROR_NOT_ENOUGH_MEMORY : PF_ERROR_ACCESS_DENIED;
    pf_process_snapshot *snapshot = new (std::nothrow) pf_process_snapshot;
    if (snapshot == nullptr)
    {
        closedir(proc);
        return PF_ERROR_NOT_ENOUGH_MEMORY;
    }
    while (dirent *entry = readdir(proc))
    {
        if (!is_pid(entry->d_name))
            continue;
        pf_process_entry process;
        char state = '?';
        if (!read_stat(entry->d_name, &state, process.name, sizeof process.name) || state == 'Z' ||
            state == 'X')
            continue;
        int error = 0;
        if (read_exe(entry->d_name, process.path, sizeof process.path, &error))
        {
            const char *name = base_name(process.path);
            size_t length = std::min(strlen(name), sizeof process.name - 1);
            memcpy(process.name, name, length);
            process.name[length] = '\0';
        }
        else if (error == EACCES || error == EPERM)
        {
            process.path[0] = '\0'; // someone else's process: its kernel name stands
        }
        else
        {
            continue; // a kernel thread, or gone meanwhile
        }
        process.pid = static_cast<uint32_t>(strtoul(entry->d_name, nullptr, 10));
        snapshot->entries.push_back(process);
    }
    closedir(proc);
    std::sort(snapshot->entries.begin(), snapshot->entries.end(),
              [](const pf_process_entry &a, const pf_process_entry &b) { return a.pid < b.pid; });
    *snapshot_out = snapshot;
    return PF_ERROR_SUCCESS;
}

void pf_process_snapshot_destroy(pf_process_snapshot *snapshot)
{
    delete snapshot;
}

uint32_t pf_process_snapshot_count(const pf_process_snapshot *snapshot)
{
    return snapshot != nullptr ? static_cast<uint32_t>(snapshot->entries.size()) : 0;
}

const pf_process_entry *pf_process_snapshot_entry(const pf_process_snapshot *snapshot, uint32_t index)
{
    if (snapshot == nullptr || index >= snapshot->entries.size())
        return nullptr;
    return &snapshot->entries[index];
}

const pf_process_entry *pf_process_find_by_name(const pf_process_snapshot *snapshot, const char *name)
{
    if (snapshot == nullptr || name == nullptr)
        return nullptr;
    for (const pf_process_entry &entry : snapshot->entries)
    {
        if (equal_ignoring_case_and_exe(entry.name, name))
            return &entry;
    }
    return nullptr;
}

const pf_process_entry *pf_process_find_by_path(const pf_process_snapshot *snapshot, const char *path)
{
    if (snapshot == nullptr || path == nullptr || *path == '\0')
        return nullptr;
    char resolved[PATH_MAX];
    const char *wanted = realpath(path, resolved) != nullptr ? resolved : path;
    for (const pf_process_entry &entry : snapshot->entries)
    {
        if (entry.path[0] != '\0' && equal_ignoring_case_and_exe(entry.path, wanted))
            return &entry;
    }
    return nullptr;
}

bool pf_process_name_equal(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && equal_ignoring_case_and_exe(a, b);
}
