#pragma once

#include "DynamicLibrary.h"

#include <Processing.NDI.Lib.h>

#include <string>
#include <vector>

// The NDI functions this program uses, with the SDK's signatures. The program itself calls the
// first three; the others serve tests and benchmarks, and any of them may be null.
struct NdiApi
{
    bool (*initialize)() = nullptr;
    NDIlib_send_instance_t (*send_create)(const NDIlib_send_create_t *) = nullptr;
    void (*send_send_video_v2)(NDIlib_send_instance_t, const NDIlib_video_frame_v2_t *) = nullptr;

    // Optional.
    const char *(*version)() = nullptr;
    void (*send_destroy)(NDIlib_send_instance_t) = nullptr;
    int (*send_get_no_connections)(NDIlib_send_instance_t, uint32_t) = nullptr;
    NDIlib_find_instance_t (*find_create_v2)(const NDIlib_find_create_t *) = nullptr;
    bool (*find_wait_for_sources)(NDIlib_find_instance_t, uint32_t) = nullptr;
    const NDIlib_source_t *(*find_get_current_sources)(NDIlib_find_instance_t,
                                                       uint32_t *) = nullptr;
    void (*find_destroy)(NDIlib_find_instance_t) = nullptr;
    NDIlib_recv_instance_t (*recv_create_v3)(const NDIlib_recv_create_v3_t *) = nullptr;
    NDIlib_frame_type_e (*recv_capture_v2)(NDIlib_recv_instance_t, NDIlib_video_frame_v2_t *,
                                           NDIlib_audio_frame_v2_t *, NDIlib_metadata_frame_t *,
                                           uint32_t) = nullptr;
    void (*recv_free_video_v2)(NDIlib_recv_instance_t, const NDIlib_video_frame_v2_t *) = nullptr;
    void (*recv_destroy)(NDIlib_recv_instance_t) = nullptr;
};

// The one loader of the NDI runtime. The runtime is never linked: it is found at run time and
// resolved symbol by symbol, so that runtimes of versions 3 to 6 all serve.
namespace NdiRuntime {

// The table in use: one a test installed, else the real runtime, loaded on first use (once,
// thread-safe). Null when no runtime was found; then one line on standard error says so.
const NdiApi *api();

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
    // Libraries that were there but did not serve, each with the reason: "path (reason)".
    std::vector<std::string> rejected;
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
                         const std::vector<std::string> &rejected = {},
                         const std::vector<std::string> &ignored = {});

} // namespace NdiRuntime
