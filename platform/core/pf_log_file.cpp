// Log files shared between processes: flock for who holds a file, a rename that never
// replaces for the roll, ftruncate to take back a part-written line.
#include "platform/core/pf_log_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/pf_file.h"
#include "platform/core/pf_tick.h"

namespace
{

enum
{
    PF_LOG_TEXT_SIZE = 4096 + 128, // a path and the words around it
};

// A file rolled between its opening and its lock is opened anew; a roll that keeps
// winning the race three times in a row leaves the writer without a file (it falls back
// as for any file it cannot open).
const int k_open_attempts = 3;

int lock_retrying(int descriptor, int operation)
{
    int locked;
    do
        locked = flock(descriptor, operation);
    while (locked != 0 && errno == EINTR);
    return locked;
}

// Empties the file when no other live process holds it: while this process has the
// exclusive lock no other can be writing into it. Then the shared lock, as every writer
// holds. The change of lock is not atomic, which the caller's name check covers.
int lock_for_writing(int descriptor, pf_log_open_mode how)
{
    if (how == PF_LOG_START_EMPTY && flock(descriptor, LOCK_EX | LOCK_NB) == 0)
    {
        int emptied = ftruncate(descriptor, 0);
        (void)emptied; // a file that cannot be emptied is written on after its old lines
    }
    return lock_retrying(descriptor, LOCK_SH);
}

// The exclusive lock of a "current" file for its roll: -1 with *held set when a live
// process has it open; -1 alone when it cannot be opened or locked (a file system without
// locks: the roll goes on as it would without them); else the descriptor to close after
// the rename.
int lock_for_roll(const char *path, bool *held)
{
    *held = false;
    int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return -1;
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0)
    {
        *held = errno == EWOULDBLOCK;
        close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace

int pf_log_file_open(const char *path, int mode, pf_log_open_mode how)
{
    for (int attempt = 0; attempt < k_open_attempts; ++attempt)
    {
        int descriptor = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, mode);
        if (descriptor < 0)
            return -1;
        // A file system without locks still logs.
        if (lock_for_writing(descriptor, how) != 0 || pf_file_still_named(descriptor, path))
            return descriptor;
        close(descriptor);
    }
    errno = ENOENT;
    return -1;
}

bool pf_log_file_append(int descriptor, const void *data, size_t length)
{
    const char *bytes = static_cast<const char *>(data);
    size_t done = 0;
    while (done < length)
    {
        ssize_t written = write(descriptor, bytes + done, length - done);
        if (written > 0)
        {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        int error = written == 0 ? ENOSPC : errno;
        // The part that went out is the end of the file: take it back.
        struct stat status;
        if (done > 0 && fstat(descriptor, &status) == 0 && status.st_size >= static_cast<off_t>(done))
        {
            int cut = ftruncate(descriptor, status.st_size - static_cast<off_t>(done));
            (void)cut; // nothing more to do when even that fails
        }
        errno = error;
        return false;
    }
    return true;
}

pf_log_roll_result pf_log_file_roll(const char *path, const char *head, const char *tail, uint32_t *counter)
{
    bool held = false;
    int lock = lock_for_roll(path, &held);
    if (held)
        return PF_LOG_ROLL_HELD;
    std::string target = std::string(head) + "repository" + tail;
    pf_log_roll_result result = PF_LOG_ROLLED;
    while (!pf_file_rename_no_replace(path, target.c_str()))
    {
        if (errno != EEXIST)
        {
            // Gone from under us: another process rolled it, and whatever stands under
            // the name now is that process's own new file, not this roll's to move.
            result = errno == ENOENT ? PF_LOG_ROLLED : PF_LOG_ROLL_FAILED;
            break;
        }
        target = std::string(head) + "repository." + std::to_string(*counter) + tail;
        ++*counter;
    }
    if (lock >= 0)
    {
        int error = errno;
        close(lock);
        errno = error;
    }
    return result;
}

int pf_log_files_roll(const char *pattern, uint32_t *counter)
{
    std::vector<std::string> paths;
    if (pf_file_find(pattern, &paths) != 0)
        return -1;
    std::sort(paths.begin(), paths.end());
    for (const std::string &path : paths)
    {
        size_t base = path.rfind('/');
        base = base == std::string::npos ? 0 : base + 1;
        size_t current = path.rfind(".current.");
        if (current == std::string::npos || current < base)
            continue;
        std::string head = path.substr(0, current + 1); // up to the "."
        std::string tail = path.substr(current + strlen(".current"));
        if (pf_log_file_roll(path.c_str(), head.c_str(), tail.c_str(), counter) == PF_LOG_ROLL_FAILED)
            return -1;
    }
    return 0;
}

pf_log_write_turn pf_log_write_turn_of(pf_log_write_watch *watch, const char *path, bool written, int error)
{
    return pf_log_write_turn_at(watch, path, written, error, pf_tick_count());
}

pf_log_write_turn pf_log_write_turn_at(pf_log_write_watch *watch, const char *path, bool written, int error,
                                       uint32_t now_tick)
{
    if (!written)
    {
        watch->last_failure_tick = now_tick;
        if (watch->failing)
        {
            ++watch->lost;
            return PF_LOG_WRITES_AS_BEFORE;
        }
        watch->failing = true;
        watch->lost = 1;
        fprintf(stderr, "Log writes to [%s] are failing ([%s]): lines are lost until they succeed again\n",
                path != nullptr ? path : "", strerror(error));
        fflush(stderr);
        return PF_LOG_WRITES_FAILING;
    }
    if (!watch->failing || now_tick - watch->last_failure_tick < PF_LOG_SPELL_QUIET_MS)
        return PF_LOG_WRITES_AS_BEFORE;
    watch->failing = false;
    char text[PF_LOG_TEXT_SIZE];
    pf_log_writes_resumed_text(text, sizeof text, path, watch->lost);
    fprintf(stderr, "%s\n", text);
    fflush(stderr);
    return PF_LOG_WRITES_RESUMED;
}

int pf_log_writes_resumed_text(char *buffer, size_t size, const char *path, uint64_t lost)
{
    return snprintf(buffer, size, "Log writes to [%s] succeed again: [%llu] lines were lost",
                    path != nullptr ? path : "", static_cast<unsigned long long>(lost));
}
