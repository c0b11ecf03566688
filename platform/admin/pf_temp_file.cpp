// The temporary file beside a target: mkstemp in the target's folder, fchmod to the
// target's mode, fsync before close, rename over the target, fsync of the folder; and the
// flock on the target that rewriters take from their read to their rename.
#include "platform/admin/pf_temp_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/core/pf_clock.h"
#include "platform/core/pf_file.h"

namespace
{

// The file a path names once symbolic links are followed; the path itself when it does
// not exist yet (a new file is created under the name given).
std::string followed(const char *path)
{
    char resolved[PATH_MAX];
    int error = errno;
    std::string result = realpath(path, resolved) != nullptr ? resolved : path;
    errno = error;
    return result;
}

void sync_folder_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
    {
        fsync(fd);
        close(fd);
    }
}

// The lock on fd, retried until the deadline (performance-counter nanoseconds) passes;
// a rewrite holds it for milliseconds, so a short poll costs nothing.
int lock_until(int fd, int64_t deadline)
{
    for (;;)
    {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return -1;
        if (pf_performance_counter() >= deadline)
        {
            errno = EWOULDBLOCK;
            return -1;
        }
        pf_sleep_ms(2);
    }
}

} // namespace

namespace
{

// Gives the new file the target's owner (where allowed) and mode, and opens it as a stream;
// on failure the file is closed and removed.
FILE *open_like_target(int fd, const char *temp_path, const std::string &target)
{
    struct stat held;
    bool exists = stat(target.c_str(), &held) == 0;
    // Root may rewrite another user's file: the copy keeps the owner where it can.
    if (exists && fchown(fd, held.st_uid, held.st_gid) != 0)
    {
        errno = 0;
    }
    FILE *file = nullptr;
    if (fchmod(fd, exists ? held.st_mode & 07777 : 0644) == 0)
    {
        file = fdopen(fd, "w");
    }
    if (file == nullptr)
    {
        int error = errno;
        close(fd);
        unlink(temp_path);
        errno = error;
    }
    return file;
}

} // namespace

FILE *pf_temp_file_create_beside(const char *target_path, char *temp_path, size_t size)
{
    const std::string target = followed(target_path);
    std::string pattern = target + ".XXXXXX";
    if (size > 0)
    {
        snprintf(temp_path, size, "%s", pattern.c_str());
    }
    if (pattern.size() + 1 > size)
    {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    int fd = mkostemp(temp_path, O_CLOEXEC);
    return fd < 0 ? nullptr : open_like_target(fd, temp_path, target);
}

FILE *pf_temp_file_create_named(const char *target_path, const char *temp_path)
{
    int fd = open(temp_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return fd < 0 ? nullptr : open_like_target(fd, temp_path, followed(target_path));
}

int pf_temp_file_close_synced(FILE *file)
{
    bool ok = fflush(file) == 0 && fsync(fileno(file)) == 0;
    int error = errno;
    if (fclose(file) != 0)
    {
        return -1;
    }
    errno = error;
    return ok ? 0 : -1;
}

int pf_temp_file_replace(const char *temp_path, const char *target_path)
{
    const std::string target = followed(target_path);
    if (rename(temp_path, target.c_str()) != 0)
    {
        return -1;
    }
    sync_folder_of(target);
    return 0;
}

FILE *pf_temp_file_open_locked(const char *target_path, uint32_t wait_ms)
{
    const int64_t deadline = pf_performance_counter() + static_cast<int64_t>(wait_ms) * 1000000;
    for (;;)
    {
        int fd = open(target_path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        if (lock_until(fd, deadline) != 0)
        {
            int error = errno;
            close(fd);
            errno = error;
            return nullptr;
        }
        if (pf_file_still_named(fd, target_path))
        {
            FILE *file = fdopen(fd, "r");
            if (file == nullptr)
            {
                int error = errno;
                close(fd);
                errno = error;
            }
            return file;
        }
        close(fd); // replaced while we waited: lock the file that holds the name now
    }
}
