// The executable's folder from /proc/self/exe.
#include "platform/core/pf_self.h"

#include <limits.h>
#include <unistd.h>

bool pf_self_folder(std::string *folder)
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return false;
    std::string path(self, static_cast<size_t>(length));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    return true;
}

bool pf_self_beside(const char *file_name, std::string *path)
{
    std::string folder;
    if (!pf_self_folder(&folder))
        return false;
    *path = folder == "/" ? folder + file_name : folder + "/" + file_name;
    return true;
}
