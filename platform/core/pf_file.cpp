// Files by descriptor with open/write/close, stat, rename and glob.
#include "platform/core/pf_file.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int pf_file_create(const char *path)
{
    return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
}

static int pf_file_create_for_update(const char *path)
{
    return open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
}

FILE *pf_file_create_stream(const char *path)
{
    int descriptor = pf_file_create_for_update(path);
    if (descriptor < 0)
        return nullptr;
    FILE *stream = fdopen(descriptor, "w+b");
    if (stream == nullptr)
    {
        int error = errno;
        close(descriptor);
        errno = error;
    }
    return stream;
}

bool pf_file_write_all(int descriptor, const void *data, size_t length)
{
    const char *text = static_cast<const char *>(data);
    while (length > 0)
    {
        ssize_t written = write(descriptor, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

void pf_file_close(int descriptor)
{
    if (descriptor >= 0)
        close(descriptor);
}

bool pf_file_exists(const char *path)
{
    struct stat status;
    return stat(path, &status) == 0;
}

int pf_file_rename(const char *from, const char *to)
{
    return rename(from, to);
}

bool pf_file_rename_no_replace(const char *from, const char *to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link refuses an existing name just the same.
    if (link(from, to) != 0)
        return false;
    return unlink(from) == 0;
}

bool pf_file_still_named(int descriptor, const char *path)
{
    struct stat opened, named;
    return fstat(descriptor, &opened) == 0 && stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

int pf_file_find(const char *pattern, std::vector<std::string> *paths)
{
    paths->clear();
    glob_t found;
    std::memset(&found, 0, sizeof found);
    const int rc = glob(pattern, GLOB_NOSORT, nullptr, &found);
    if (rc == 0)
        paths->assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    globfree(&found);
    return rc == 0 || rc == GLOB_NOMATCH ? 0 : -1;
}
