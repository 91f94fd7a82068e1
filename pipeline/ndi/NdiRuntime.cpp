#include "NdiRuntime.h"

#include "Report.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <utility>

namespace NdiRuntime {

namespace {

#ifdef _WIN32
const char *const standardNames[] = {"Processing.NDI.Lib.x64.dll"};
#else
const char *const standardNames[] = {"libndi.so.6", "libndi.so.5"};
#endif

std::atomic<const NdiApi *> installed{nullptr};

// The runtime found on this machine, searched for until found and then kept open until the
// process ends: the sender lives that long and the runtime is never shut down.
struct MachineRuntime
{
    std::mutex mutex;
    Loaded loaded;
};

MachineRuntime &machineRuntime()
{
    // Never destroyed: closing the library at exit would pull the code from under the
    // runtime's own threads, which live as long as the sender, that is to the very end.
    static MachineRuntime *const instance = new MachineRuntime;
    return *instance;
}

void addFolder(std::vector<Candidate> &out, const std::string &dir)
{
    if (!isFullPath(dir))
        return;
    std::string base = dir;
    while (base.size() > 1 && (base.back() == '/' || base.back() == '\\'))
        base.pop_back();
    for (const char *name : standardNames)
        out.push_back({base + pathSeparator() + name, false});
}

Rejection::Kind kindOf(DynamicLibrary::Failure failure)
{
    switch (failure) {
    case DynamicLibrary::Failure::Damaged:
        return Rejection::Kind::Damaged;
    case DynamicLibrary::Failure::OtherProcessor:
        return Rejection::Kind::OtherProcessor;
    case DynamicLibrary::Failure::NotALibrary:
        return Rejection::Kind::NotALibrary;
    default:
        return Rejection::Kind::Unloadable;
    }
}

template <typename F> bool resolveSymbol(const DynamicLibrary &library, const char *name, F &slot)
{
    slot = reinterpret_cast<F>(library.symbol(name));
    return slot != nullptr;
}

} // namespace

std::vector<Candidate> searchOrder(const char *dirV6, const char *dirV5, const std::string &exeDir)
{
    std::vector<Candidate> out;
    if (dirV6)
        addFolder(out, dirV6);
    if (dirV5)
        addFolder(out, dirV5);
    addFolder(out, exeDir);
    for (const char *name : standardNames)
        out.push_back({name, true});
    return out;
}

bool resolve(const DynamicLibrary &library, NdiApi &table)
{
    table = NdiApi();
    bool ok = resolveSymbol(library, "NDIlib_initialize", table.initialize);
    ok = resolveSymbol(library, "NDIlib_send_create", table.send_create) && ok;
    ok = resolveSymbol(library, "NDIlib_send_send_video_v2", table.send_send_video_v2) && ok;
    if (!ok) {
        table = NdiApi();
        return false;
    }
    return true;
}

Loaded load(const std::vector<Candidate> &candidates)
{
    Loaded result;
    for (const Candidate &c : candidates) {
        DynamicLibrary library = c.bySystemLoader ? DynamicLibrary::openSystem(c.name)
                                                  : DynamicLibrary::openPath(c.name);
        // A file that is there but does not load (damaged, for another processor, a dependency
        // missing) is worth telling apart from one that is absent. A system loader's name counts
        // as there when the file it stands for is known.
        const std::string file = library.file().empty() ? c.name : library.file();
        std::error_code absent;
        const bool present = !library.file().empty() &&
                             std::filesystem::exists(std::filesystem::u8path(file), absent);
        if (!library) {
            if (present)
                result.rejected.push_back({file, kindOf(library.failure()), library.error()});
            continue;
        }
        NdiApi table;
        if (!resolve(library, table)) {
            result.rejected.push_back(
                {file, Rejection::Kind::LacksFunctions, "lacks the NDI send functions"});
            continue; // closed as it goes out of scope
        }
        result.library = std::move(library);
        result.table = table;
        result.from = c.name;
        break;
    }
    return result;
}

std::vector<std::string> ignoredFolders(const char *dirV6, const char *dirV5)
{
    std::vector<std::string> out;
    const std::pair<const char *, const char *> vars[] = {{"NDI_RUNTIME_DIR_V6", dirV6},
                                                          {"NDI_RUNTIME_DIR_V5", dirV5}};
    for (const auto &var : vars) {
        if (var.second && *var.second && !isFullPath(var.second))
            out.push_back(std::string(var.first) + "=" + var.second);
    }
    return out;
}

std::string ignoredFoldersLine(const std::vector<std::string> &ignored)
{
    if (ignored.empty())
        return {};
    std::string line = "Ignored ";
    for (std::size_t i = 0; i < ignored.size(); ++i)
        line += (i ? ", " : "") + ignored[i];
    return line + ": not a full path, and a relative folder would be searched wherever the "
                  "program happens to be started.";
}

std::string notFoundLine(const std::vector<Candidate> &candidates,
                         const std::vector<Rejection> &rejected,
                         const std::vector<std::string> &ignored)
{
    std::string line = "NDI runtime not found; looked for ";
    bool first = true;
    for (const Candidate &c : candidates) {
        if (!first)
            line += ", ";
        first = false;
        line += c.bySystemLoader ? c.name + " (system loader)" : c.name;
    }
    if (!rejected.empty()) {
        line += ". Found but not usable: ";
        for (std::size_t i = 0; i < rejected.size(); ++i)
            line += (i ? "; " : "") + rejected[i].line();
    }
    line += ". ";
    if (!ignored.empty())
        line += ignoredFoldersLine(ignored) + " ";
    line += "Install the NDI runtime (https://ndi.video/) or point NDI_RUNTIME_DIR_V6 at its "
            "folder, as a full path.";
    return line;
}

namespace {

const NdiApi *machineApi()
{
    MachineRuntime &r = machineRuntime();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.loaded.ok()) {
        const char *dirV6 = std::getenv("NDI_RUNTIME_DIR_V6");
        const char *dirV5 = std::getenv("NDI_RUNTIME_DIR_V5");
        const auto candidates = searchOrder(dirV6, dirV5, executableDirectory());
        const auto ignored = ignoredFolders(dirV6, dirV5);
        r.loaded = load(candidates);
        // Said again only when the outcome differs (a runtime installed, but damaged).
        const std::string line = notFoundLine(candidates, r.loaded.rejected, ignored);
        if (!r.loaded.ok())
            Report::once("ndi-runtime: " + line, line);
        else if (!ignored.empty())
            Report::once("ndi-runtime-ignored", ignoredFoldersLine(ignored));
    }
    return r.loaded.ok() ? &r.loaded.table : nullptr;
}

} // namespace

const NdiApi *api()
{
    if (const NdiApi *table = installed.load(std::memory_order_acquire))
        return table;
    return machineApi();
}

void install(const NdiApi *table)
{
    installed.store(table, std::memory_order_release);
}

std::string loadedFrom()
{
    // Once found, what was loaded never changes.
    return machineApi() ? machineRuntime().loaded.from : std::string();
}

std::vector<Rejection> rejections()
{
    MachineRuntime &r = machineRuntime();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.loaded.ok() ? std::vector<Rejection>() : r.loaded.rejected;
}

} // namespace NdiRuntime
