// Log files shared between processes: flock for who holds a file, a rename that never
// replaces for the roll, ftruncate to take back a part-written line.
#include "platform/core/pf_log_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
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

std::atomic<pf_log_step_hook> g_step_hook{nullptr};
std::atomic<void *> g_step_context{nullptr};

void step(pf_log_step at, const char *path, int descriptor)
{
    pf_log_step_hook hook = g_step_hook.load(std::memory_order_acquire);
    if (hook != nullptr)
        hook(at, path, descriptor, g_step_context.load(std::memory_order_acquire));
}

int lock_retrying(int descriptor, int operation)
{
    int locked;
    do
        locked = flock(descriptor, operation);
    while (locked != 0 && errno == EINTR);
    return locked;
}

// Empties the file when no other live process holds it: while this process has the
// exclusive lock no other can be writing into it, nor roll it, so the file it empties is
// the one under the name (a roll between the open and the lock moved the file opened, and
// that is a repository file now). Then the shared lock, as every writer holds. The change
// of lock is not atomic, which the caller's name check covers.
int lock_for_writing(int descriptor, const char *path, pf_log_open_mode how)
{
    if (how == PF_LOG_START_EMPTY && flock(descriptor, LOCK_EX | LOCK_NB) == 0 &&
        pf_file_still_named(descriptor, path))
    {
        int emptied = ftruncate(descriptor, 0);
        (void)emptied; // a file that cannot be emptied is written on after its old lines
    }
    return lock_retrying(descriptor, LOCK_SH);
}

// Opens the file for appending; one it makes is its owner's alone, whatever the umask.
int open_for_append(const char *path)
{
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY;
    for (int attempt = 0; attempt < k_open_attempts; ++attempt)
    {
        int descriptor = open(path, flags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
        if (descriptor >= 0)
        {
            int moded = fchmod(descriptor, S_IRUSR | S_IWUSR); // the umask may have taken bits away
            (void)moded;
            return descriptor;
        }
        if (errno != EEXIST)
            return -1;
        descriptor = open(path, flags);
        if (descriptor >= 0 || errno != ENOENT)
            return descriptor;
        // Rolled away between the two opens: make it anew.
    }
    return -1;
}

// Takes back the parts of a line that went out before a write failed, from `first` to
// `end`, but only this writer's own bytes: only while they stand together at the end of
// the file and no other process holds it, for another writer of a shared file may append
// after them between the look and the cut. Else they stay. The exclusive lock is the
// shared one given up for the look and the cut and taken again at once.
void take_back(int descriptor, off_t first, off_t end, bool together)
{
    step(PF_LOG_STEP_WRITE_CUT_SHORT, nullptr, descriptor);
    if (!together || first < 0)
        return;
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0)
    {
        struct stat status;
        if (fstat(descriptor, &status) == 0 && status.st_size == end)
        {
            int cut = ftruncate(descriptor, first);
            (void)cut; // nothing more to do when even that fails
        }
    }
    lock_retrying(descriptor, LOCK_SH);
}

} // namespace

int pf_log_file_open(const char *path, pf_log_open_mode how)
{
    for (int attempt = 0; attempt < k_open_attempts; ++attempt)
    {
        int descriptor = open_for_append(path);
        if (descriptor < 0)
            return -1;
        step(PF_LOG_STEP_WRITER_OPENED, path, descriptor);
        // A file system without locks still logs.
        if (lock_for_writing(descriptor, path, how) != 0 || pf_file_still_named(descriptor, path))
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
    // Where the parts of a line cut short went (appended, each ends where the offset
    // stands after it); a line written whole, as nearly all are, asks nothing more.
    off_t first = -1, end = -1;
    bool together = true;
    while (done < length)
    {
        ssize_t written = write(descriptor, bytes + done, length - done);
        if (written > 0)
        {
            done += static_cast<size_t>(written);
            if (done == length)
                break;
            off_t at = lseek(descriptor, 0, SEEK_CUR);
            if (at < 0)
                together = false;
            else if (first < 0)
                first = at - written;
            else if (at - written != end)
                together = false;
            end = at;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        int error = written == 0 ? ENOSPC : errno;
        if (done > 0)
            take_back(descriptor, first, end, together);
        errno = error;
        return false;
    }
    return true;
}

pf_log_roll_result pf_log_file_roll(const char *path, const char *head, const char *tail, uint32_t *counter)
{
    int lock = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    int error = errno;
    step(PF_LOG_STEP_ROLL_OPENED, path, lock);
    if (lock < 0)
    {
        // Gone: another process rolled it, and a file made under the name since is that
        // process's own, not this roll's to move. One that cannot be opened cannot be
        // known to be dead: it stays.
        errno = error;
        return error == ENOENT ? PF_LOG_ROLLED : PF_LOG_ROLL_HELD;
    }
    // A file system without locks: the roll goes on as it would without them.
    if (flock(lock, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
    {
        close(lock);
        return PF_LOG_ROLL_HELD;
    }
    // Moved while this roll waited for it (another roll took it first): what stands under
    // the name now is another writer's file.
    if (!pf_file_still_named(lock, path))
    {
        close(lock);
        return PF_LOG_ROLLED;
    }
    std::string target = std::string(head) + "repository" + tail;
    pf_log_roll_result result = PF_LOG_ROLLED;
    while (!pf_file_rename_no_replace(path, target.c_str()))
    {
        if (errno != EEXIST)
        {
            // Gone from under us: another roll on a file system without locks.
            result = errno == ENOENT ? PF_LOG_ROLLED : PF_LOG_ROLL_FAILED;
            break;
        }
        target = std::string(head) + "repository." + std::to_string(*counter) + tail;
        ++*counter;
    }
    error = errno;
    close(lock);
    errno = error;
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

namespace
{
// What standard error could not take yet, in the order said.
struct said_lines
{
    std::mutex mutex;
    std::deque<std::string> kept;
    uint64_t lost = 0;
};

said_lines &said()
{
    static said_lines lines;
    return lines;
}

bool say_now(const std::string &line)
{
    const std::string whole = line + "\n";
    return pf_log_file_append(PF_FILE_STANDARD_ERROR, whole.data(), whole.size());
}
} // namespace

void pf_log_say(const char *line)
{
    said_lines &s = said();
    std::lock_guard<std::mutex> guard(s.mutex);
    while (!s.kept.empty() && say_now(s.kept.front()))
        s.kept.pop_front();
    if (s.kept.empty() && s.lost > 0)
    {
        char text[128];
        snprintf(text, sizeof text, "[%llu] more lines were lost while standard error could not be written",
                 static_cast<unsigned long long>(s.lost));
        if (say_now(text))
            s.lost = 0;
    }
    if (s.kept.empty() && s.lost == 0 && say_now(line != nullptr ? line : ""))
        return;
    if (s.kept.size() < PF_LOG_SAID_KEPT)
        s.kept.push_back(line != nullptr ? line : "");
    else
        ++s.lost;
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
        watch->error = error;
        char text[PF_LOG_TEXT_SIZE];
        snprintf(text, sizeof text,
                 "Log writes to [%s] are failing ([%s]): lines are lost until they succeed again",
                 path != nullptr ? path : "", strerror(error));
        pf_log_say(text);
        return PF_LOG_WRITES_FAILING;
    }
    if (!watch->failing || now_tick - watch->last_failure_tick < PF_LOG_SPELL_QUIET_MS)
        return PF_LOG_WRITES_AS_BEFORE;
    watch->failing = false;
    char text[PF_LOG_TEXT_SIZE];
    pf_log_writes_resumed_text(text, sizeof text, path, watch->lost);
    pf_log_say(text);
    return PF_LOG_WRITES_RESUMED;
}

int pf_log_writes_resumed_text(char *buffer, size_t size, const char *path, uint64_t lost)
{
    return snprintf(buffer, size, "Log writes to [%s] succeed again: [%llu] lines were lost",
                    path != nullptr ? path : "", static_cast<unsigned long long>(lost));
}

void pf_log_file_set_step_hook(pf_log_step_hook hook, void *context)
{
    g_step_context.store(context, std::memory_order_release);
    g_step_hook.store(hook, std::memory_order_release);
}

bool pf_log_write_watch_close(pf_log_write_watch *watch, const char *path)
{
    if (!watch->failing)
        return false;
    char text[PF_LOG_TEXT_SIZE];
    pf_log_writes_closed_text(text, sizeof text, path, watch->lost);
    pf_log_say(text);
    *watch = pf_log_write_watch();
    return true;
}

int pf_log_writes_closed_text(char *buffer, size_t size, const char *path, uint64_t lost)
{
    return snprintf(buffer, size,
                    "Log writes to [%s] were still failing when it was closed: [%llu] lines were lost",
                    path != nullptr ? path : "", static_cast<unsigned long long>(lost));
}

int pf_log_name_lost_text(char *buffer, size_t size, const char *path, uint64_t lines, bool written_again)
{
    const char *name = path != nullptr ? path : "";
    const unsigned long long count = static_cast<unsigned long long>(lines);
    if (written_again)
        return snprintf(
            buffer, size,
            "Log file [%s] no longer stood under its name (removed or moved by another program): the [%llu] lines written since it was last seen there went with it; written under its name again",
            name, count);
    return snprintf(
        buffer, size,
        "Log file [%s] no longer stood under its name (removed or moved by another program): the [%llu] lines written since it was last seen there went with it",
        name, count);
}

namespace
{
// Moves on each time a writer of the process finds a file without its name or makes a log
// folder, so that every other watch looks at its next write.
std::atomic<uint32_t> g_names_lost{0};

// The count after this one.
uint32_t names_lost_now()
{
    return g_names_lost.fetch_add(1, std::memory_order_relaxed) + 1;
}
} // namespace

uint32_t pf_log_names_lost()
{
    return g_names_lost.load(std::memory_order_relaxed);
}

void pf_log_name_watch_opened(pf_log_name_watch *watch, uint32_t now_tick)
{
    watch->seen_tick = now_tick;
    watch->lines_since_seen = 0;
    watch->names_lost = pf_log_names_lost();
}

bool pf_log_name_watch_lost(pf_log_name_watch *watch, int descriptor, const char *path, uint32_t now_tick)
{
    const uint32_t names_lost = pf_log_names_lost();
    if (now_tick - watch->seen_tick < PF_LOG_NAME_CHECK_MS && watch->names_lost == names_lost)
        return false;
    watch->seen_tick = now_tick;
    watch->names_lost = names_lost;
    if (!pf_file_still_named(descriptor, path))
    {
        watch->names_lost = names_lost_now(); // the others look; this one has
        return true;
    }
    watch->lines_since_seen = 0;
    return false;
}

bool pf_log_name_watch_close(pf_log_name_watch *watch, int descriptor, const char *path)
{
    if (pf_file_still_named(descriptor, path))
        return false;
    names_lost_now();
    char text[PF_LOG_TEXT_SIZE];
    pf_log_name_lost_say(text, sizeof text, path, watch->lines_since_seen, false);
    return true;
}

int pf_log_name_lost_say(char *buffer, size_t size, const char *path, uint64_t lines, bool written_again)
{
    const int length = pf_log_name_lost_text(buffer, size, path, lines, written_again);
    pf_log_say(buffer);
    return length;
}

int pf_log_folder_made_text(char *buffer, size_t size, const char *folder, const char *path)
{
    return snprintf(
        buffer, size,
        "Log folder [%s] was missing (never made, or removed by a clean-up): made it to write [%s]",
        folder != nullptr ? folder : "", path != nullptr ? path : "");
}

bool pf_log_folder_make_for(const char *path, char *said, size_t size)
{
    if (said != nullptr && size > 0)
        *said = '\0';
    const std::string file(path != nullptr ? path : "");
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return true; // the working folder, or the root: nothing to make
    const std::string folder = file.substr(0, slash);
    // Each missing folder from the top down. The writer that makes the folder itself says
    // so; of writers that find it missing at once, that is one.
    bool made = false;
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1))
    {
        const std::string part = folder.substr(0, at);
        made = mkdir(part.c_str(), S_IRWXU) == 0;
        if (!made && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    struct stat status;
    if (stat(folder.c_str(), &status) != 0)
        return false;
    if (!S_ISDIR(status.st_mode))
    {
        errno = ENOTDIR;
        return false;
    }
    if (!made)
        return true;
    names_lost_now();
    char text[PF_LOG_TEXT_SIZE];
    pf_log_folder_made_text(text, sizeof text, folder.c_str(), file.c_str());
    pf_log_say(text);
    if (said != nullptr && size > 0)
        snprintf(said, size, "%s", text);
    return true;
}

int pf_log_file_open_making_folder(const char *path, pf_log_open_mode how, char *said, size_t size)
{
    if (said != nullptr && size > 0)
        *said = '\0';
    int descriptor = pf_log_file_open(path, how);
    if (descriptor >= 0 || errno != ENOENT)
        return descriptor;
    if (!pf_log_folder_make_for(path, said, size))
        return -1;
    return pf_log_file_open(path, how);
}
