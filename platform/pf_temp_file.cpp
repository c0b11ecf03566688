// The temporary file beside a target: mkstemp in the target's folder, fchmod to the
// target's mode, fsync before close, rename over the target.
#include "platform/pf_temp_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

FILE *pf_temp_file_create_beside(const char *target_path, char *temp_path, size_t size)
{
    std::string pattern = std::string(target_path) + ".XXXXXX";
    if (size > 0)
    {
        snprintf(temp_path, size, "%s", pattern.c_str());
    }
    if (pattern.size() + 1 > size)
    {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    mode_t mode = 0644;
    struct stat target;
    if (stat(target_path, &target) == 0)
    {
        mode = target.st_mode & 07777;
    }
    int fd = mkstemp(temp_path);
    if (fd < 0)
    {
        return nullptr;
    }
    FILE *file = nullptr;
    if (fchmod(fd, mode) == 0)
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
    return rename(temp_path, target_path) == 0 ? 0 : -1;
}
