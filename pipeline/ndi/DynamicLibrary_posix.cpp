#include "DynamicLibrary.h"

#include "LibraryFile.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

// RTLD_LOCAL: the runtime's symbols stay out of the global namespace, so two runtimes tried in
// turn cannot bind to each other.
static void *openHandle(const std::string &name, std::string &error)
{
    void *handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *message = dlerror();
        error = message ? message : "dlopen failed: " + name;
    }
    return handle;
}

DynamicLibrary DynamicLibrary::openPath(const std::string &fullPath)
{
    // A name without a leading slash would make dlopen search, the working directory included.
    if (!isFullPath(fullPath))
        return DynamicLibrary(nullptr, "not a full path: " + fullPath, std::string());
    std::string error;
    // The file is looked at first: the loader faults on one cut short.
    const Failure failure = inspectLibraryFile(fullPath, error);
    if (failure != Failure::None && failure != Failure::Unloadable)
        return DynamicLibrary(nullptr, error, fullPath, failure);
    error.clear();
    void *handle = openHandle(fullPath, error);
    return DynamicLibrary(handle, error, fullPath);
}

DynamicLibrary DynamicLibrary::openSystem(const std::string &bareName)
{
    if (bareName.empty() || bareName.find('/') != std::string::npos)
        return DynamicLibrary(nullptr, "not a bare name: " + bareName, std::string());
    std::string error;
    const std::string file = systemLibraryFile(bareName);
    const Failure failure = file.empty() ? Failure::None : inspectLibraryFile(file, error);
    if (failure != Failure::None && failure != Failure::Unloadable)
        return DynamicLibrary(nullptr, error, file, failure);
    error.clear();
    void *handle = openHandle(bareName, error);
    return DynamicLibrary(handle, error, file);
}

void *DynamicLibrary::symbol(const char *name) const
{
    if (!handle_)
        return nullptr;
    return dlsym(handle_, name);
}

void DynamicLibrary::close()
{
    if (handle_) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

std::string executableDirectory()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    std::string exe(path, static_cast<size_t>(n));
    const auto slash = exe.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

const char *pathSeparator()
{
    return "/";
}

bool isFullPath(const std::string &path)
{
    return !path.empty() && path[0] == '/';
}
