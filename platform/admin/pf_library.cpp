// Library loading over dlopen. dlerror() keeps one text per thread and clears it when
// read, so the text of a failure is copied here for the caller's log line.
#include "platform/admin/pf_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/admin/pf_win32_codes.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_self.h"

struct pf_library
{
    void *handle;
};

namespace
{
thread_local char t_error_text[512];

void keep_error_text(const char *text)
{
    // A longer text is cut: the loader's texts name the file first, then the reason.
    size_t length = text != nullptr ? strnlen(text, sizeof t_error_text - 1) : 0;
    if (length > 0)
        memcpy(t_error_text, text, length);
    t_error_text[length] = '\0';
}
} // namespace

bool pf_library_path(const char *file_name, char *path, size_t size)
{
    if (file_name == nullptr || *file_name == '\0')
        return false;
    int length;
    if (strchr(file_name, '/') != nullptr)
    {
        length = snprintf(path, size, "%s", file_name);
    }
    else
    {
        std::string beside;
        if (!pf_self_beside(file_name, &beside))
            return false;
        length = snprintf(path, size, "%s", beside.c_str());
    }
    return length > 0 && static_cast<size_t>(length) < size;
}

uint32_t pf_library_load(const char *file_name, pf_library **library_out)
{
    *library_out = nullptr;
    char path[PATH_MAX];
    if (!pf_library_path(file_name, path, sizeof path))
    {
        keep_error_text("the file name is empty or too long");
        return PF_ERROR_MOD_NOT_FOUND;
    }
    struct stat status;
    if (stat(path, &status) != 0)
    {
        char text[PATH_MAX + 64];
        snprintf(text, sizeof text, "%s: %s", path, strerror(errno));
        keep_error_text(text);
        return PF_ERROR_MOD_NOT_FOUND;
    }
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
    {
        keep_error_text(dlerror());
        return PF_ERROR_BAD_EXE_FORMAT;
    }
    pf_library *library = new (std::nothrow) pf_library{handle};
    if (library == nullptr)
    {
        dlclose(handle);
        keep_error_text("out of memory");
        return PF_ERROR_NOT_ENOUGH_MEMORY;
    }
    *library_out = library;
    return 0;
}

uint32_t pf_library_symbol(pf_library *library, const char *name, void **address_out)
{
    *address_out = nullptr;
    if (library == nullptr || name == nullptr)
        return PF_ERROR_INVALID_HANDLE;
    dlerror();
    void *address = dlsym(library->handle, name);
    if (address == nullptr)
    {
        const char *text = dlerror();
        keep_error_text(text != nullptr ? text : "the symbol's address is null");
        return PF_ERROR_PROC_NOT_FOUND;
    }
    *address_out = address;
    return 0;
}

uint32_t pf_library_unload(pf_library *library)
{
    if (library == nullptr)
        return PF_ERROR_INVALID_HANDLE;
    int result = dlclose(library->handle);
    if (result != 0)
        keep_error_text(dlerror());
    delete library;
    return result == 0 ? 0u : static_cast<uint32_t>(PF_ERROR_INVALID_HANDLE);
}

const char *pf_library_error_text()
{
    return t_error_text;
}
