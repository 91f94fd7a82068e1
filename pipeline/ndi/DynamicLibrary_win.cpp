#include "DynamicLibrary.h"

#include <windows.h>

namespace {

std::wstring toWide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string toUtf8(const wchar_t *wide, int length)
{
    if (length <= 0)
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, length, &utf8[0], n, nullptr, nullptr);
    return utf8;
}

std::string describe(DWORD code, const std::string &name)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = toUtf8(text, static_cast<int>(n));
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty())
        message = "error " + std::to_string(code);
    return name + ": " + message;
}

void *openHandle(const std::string &name, DWORD flags, std::string &error)
{
    // A failed load must come back as an error code, never as a message box.
    DWORD previousMode = 0;
    const bool modeSet =
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE module = LoadLibraryExW(toWide(name).c_str(), nullptr, flags);
    const DWORD code = GetLastError();
    if (modeSet)
        SetThreadErrorMode(previousMode, nullptr);
    if (!module)
        error = describe(code, name);
    return reinterpret_cast<void *>(module);
}

} // namespace

DynamicLibrary DynamicLibrary::openPath(const std::string &fullPath)
{
    if (!isFullPath(fullPath))
        return DynamicLibrary(nullptr, "not a full path: " + fullPath, std::string());
    // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR wants backslashes; "C:/..." from a variable would
    // otherwise lose the search beside the library for its own dependencies.
    std::string path = fullPath;
    for (char &ch : path) {
        if (ch == '/')
            ch = '\\';
    }
    std::string error;
    // The runtime's own dependencies are looked for beside it and in System32 only.
    void *handle =
        openHandle(path, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32, error);
    return DynamicLibrary(handle, error, fullPath);
}

DynamicLibrary DynamicLibrary::openSystem(const std::string &bareName)
{
    if (bareName.empty() || bareName.find_first_of("\\/:") != std::string::npos)
        return DynamicLibrary(nullptr, "not a bare name: " + bareName, std::string());
    std::string error;
    // The safe search: the application's folder, System32 and folders added with
    // AddDllDirectory; never the current directory or PATH.
    void *handle = openHandle(bareName, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, error);
    return DynamicLibrary(handle, error, std::string());
}

void *DynamicLibrary::symbol(const char *name) const
{
    if (!handle_)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::close()
{
    if (handle_) {
        FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

std::string executableDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::string();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        // Truncated: try again with room for a long path.
        if (path.size() >= 32768)
            return std::string();
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return std::string();
    return toUtf8(path.data(), static_cast<int>(slash));
}

const char *pathSeparator()
{
    return "\\";
}

// "C:\..." or "\\server\share\...": anything else would make the loader search.
bool isFullPath(const std::string &path)
{
    if (path.size() >= 3 &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && (path[2] == '\\' || path[2] == '/'))
        return true;
    return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}
