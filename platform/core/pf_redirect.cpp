// Output redirection with open/dup2.
#include "platform/core/pf_redirect.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int pf_redirect_output(const char *file_name, int which, const char **failed_call)
{
    int fd = open(file_name, O_WRONLY | O_APPEND | O_CREAT, S_IRUSR | S_IWUSR);
    if (fd < 0)
    {
        *failed_call = "open";
        return -1;
    }
    fflush(stdout);
    fflush(stderr);
    if (((which & PF_REDIRECT_STDOUT) && dup2(fd, STDOUT_FILENO) < 0) ||
        ((which & PF_REDIRECT_STDERR) && dup2(fd, STDERR_FILENO) < 0))
    {
        int error = errno;
        *failed_call = "dup2";
        close(fd);
        errno = error;
        return -1;
    }
    close(fd);
    return 0;
}
