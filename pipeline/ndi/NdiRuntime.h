#pragma once

#include "DynamicLibrary.h"

#include <Processing.NDI.Lib.h>

#include <string>
#include <vector>

// The NDI functions this program calls, with the SDK's signatures. Tests and benchmarks take
// the others they need from the same library themselves.
struct NdiApi
{
    bool (*initialize)() = nullptr;
    NDIlib_send_instance_t (*send_create)(const NDIlib_send_create_t *) = nullptr;
    void (*send_send_video_v2)(NDIlib_send_instance_t, const NDIlib_video_frame_v2_t *) = nullptr;
};

// The one loader of the NDI runtime. The runtime is never linked: it is found at run time and
// resolved symbol by symbol, so that runtimes of versions 3 to 6 all serve.
namespace NdiRuntime {

// A library that was there but could not serve, and why.
struct Rejection
{
    enum class Kind { Unloadable, Damaged, OtherProcessor, NotALibrary, LacksFunctions };
    std::string file;
    Kind kind = Kind::Unloadable;
    std::string reason; // what the loader or the file said, in English
    // "file (reason)", as the line on standard error names it.
    std::string line() const { return file + " (" + reason + ")"; }
};

// The table in use: one a test installed, else the real runtime. Searched for on first use
// and, while none is found, at every later call (a runtime installed while the program runs);
// once found, kept to the end (thread-safe). Null when no runtime was found; then one line on
// standard error says so, once for each different outcome.
const NdiApi *api();
// What the last search found but could not use; empty once a runtime serves.
std::vector<Rejection> rejections();

// Whether this processor has SSE4.2, without which the runtime will not start.
bool processorHasSse42();

// Puts a table in place of the real runtime's (tests); null goes back to the real one.
void install(const NdiApi *table);

// Where the real runtime was loaded from (searching first if need be); empty if not found.
std::string loadedFrom();

// One place to look: a full path, or a bare file name that the system loader looks up.
struct Candidate
{
    std::string name;
    bool bySystemLoader = false;
};

// The places to look, in order: the folder in $NDI_RUNTIME_DIR_V6, the one in
// $NDI_RUNTIME_DIR_V5, the executable's folder, then the standard names through the system
// loader. Unset or empty variables and relative folders are left out: never the working
// directory.
std::vector<Candidate> searchOrder(const char *dirV6, const char *dirV5, const std::string &exeDir);

// The folder variables that are set but were left out because they are not full paths, as
// "NAME=value", so that the user learns why the folder they named was not searched.
std::vector<std::string> ignoredFolders(const char *dirV6, const char *dirV5);
// One line saying so; empty when nothing was ignored.
std::string ignoredFoldersLine(const std::vector<std::string> &ignored);

// The result of one search: the open library and its table, or a closed library.
struct Loaded
{
    DynamicLibrary library;
    NdiApi table;
    std::string from; // the candidate that served
    // Libraries that were there but did not serve, each with the reason.
    std::vector<Rejection> rejected;
    bool ok() const { return library.isOpen(); }
};

// Tries the candidates in order. A candidate that does not open, or that lacks one of the
// functions the program calls, is closed and the search goes on.
Loaded load(const std::vector<Candidate> &candidates);

// Fills the table from an open library; false when a required function is missing.
bool resolve(const DynamicLibrary &library, NdiApi &table);

// The one line printed when no candidate served: where it looked, what was there but could not
// be used and why (a missing dependency, a missing function), what was ignored, and where to
// get a runtime.
std::string notFoundLine(const std::vector<Candidate> &candidates,
                         const std::vector<Rejection> &rejected = {},
                         const std::vector<std::string> &ignored = {});

} // namespace NdiRuntime
