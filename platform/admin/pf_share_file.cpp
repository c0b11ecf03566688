// Shared statistics files over open/flock/ftruncate. A replacing write cuts the file and
// then writes the new text in one call, so a reader sees either an empty file or one
// whole line, never a new line over the tail of an older, longer one.
#include "platform/admin/pf_share_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int pf_share_open(const char *path, pf_share_mode mode, int *error)
{
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == PF_SHARE_APPEND ? O_APPEND : 0);
    int fd = open(path, flags, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    if (fd < 0)
    {
        *error = errno;
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        *error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

int pf_share_write(int fd, pf_share_mode mode, const void *data, size_t length, int *error)
{
    if (mode == PF_SHARE_REPLACE && ftruncate(fd, 0) != 0)
    {
        *error = errno;
        return -1;
    }
    const char *bytes = static_cast<const char *>(data);
    size_t done = 0;
    while (done < length)
    {
        // The replaced file is written from its start whatever the offset was.
        ssize_t written = mode == PF_SHARE_REPLACE
                              ? pwrite(fd, bytes + done, length - done, static_cast<off_t>(done))
                              : write(fd, bytes + done, length - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
        {
            *error = written < 0 ? errno : EIO;
            return -1;
        }
        done += static_cast<size_t>(written);
    }
    return 0;
}

void pf_share_close(int fd)
{
    if (fd < 0)
        return;
    flock(fd, LOCK_UN);
    close(fd);
}
