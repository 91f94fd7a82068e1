#pragma once

#include <string>

// Owns one handle of a shared library opened at run time (dlopen on POSIX, LoadLibraryExW on
// Windows). Move-only; closing happens in the destructor. Qt-free: cross-built with mingw.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary &&other) noexcept;
    DynamicLibrary &operator=(DynamicLibrary &&other) noexcept;
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // Opens the library at a full path. Never searches anything else.
    static DynamicLibrary openPath(const std::string &fullPath);
    // Opens a library by its bare file name through the system loader's own search, which on
    // Windows leaves out the current working directory.
    static DynamicLibrary openSystem(const std::string &bareName);

    // Why an open failed, as far as the file tells before the loader is asked: a file cut short
    // (an interrupted copy) would make the loader fault rather than fail.
    enum class Failure { None, Unloadable, Damaged, OtherProcessor, NotALibrary };

    bool isOpen() const { return handle_ != nullptr; }
    explicit operator bool() const { return isOpen(); }

    // The address of an exported symbol, or null when absent or when not open.
    void *symbol(const char *name) const;

    // Why the last open failed (the loader's message, or what is wrong with the file), empty
    // after a success.
    const std::string &error() const { return error_; }
    Failure failure() const { return failure_; }
    // The file that was looked at: the path given, or for a bare name the file the system
    // loader takes, where that is known; empty otherwise.
    const std::string &file() const { return file_; }

    // Closes the handle now; a closed library can be closed again.
    void close();

private:
    DynamicLibrary(void *handle, std::string error, std::string file,
                   Failure failure = Failure::Unloadable);

    void *handle_ = nullptr;
    std::string error_;
    std::string file_;
    Failure failure_ = Failure::None;
};

// The folder holding the running executable, with no trailing separator; empty if unknown.
std::string executableDirectory();
// Whether path is absolute on this platform (loading it makes the loader search nothing).
bool isFullPath(const std::string &path);
// The separator between a folder and a file name on this platform ("/" or "\\").
const char *pathSeparator();
