#include "NdiExtras.h"

#include "DynamicLibrary.h"
#include "NdiRuntime.h"

#include <string>

namespace {

template <typename F> void resolve(const DynamicLibrary &library, const char *name, F &slot)
{
    slot = reinterpret_cast<F>(library.symbol(name));
}

} // namespace

const NdiExtras *ndiExtras()
{
    // Never closed, as the loader never closes its own handle: the runtime's threads outlive
    // every test object.
    struct Opened
    {
        DynamicLibrary library;
        NdiExtras table;
    };
    static const Opened *const opened = []() -> const Opened * {
        const std::string from = NdiRuntime::loadedFrom();
        if (from.empty())
            return nullptr;
        auto *o = new Opened{isFullPath(from) ? DynamicLibrary::openPath(from)
                                              : DynamicLibrary::openSystem(from),
                             {}};
        const DynamicLibrary &library = o->library;
        NdiExtras &e = o->table;
        resolve(library, "NDIlib_version", e.version);
        resolve(library, "NDIlib_send_destroy", e.send_destroy);
        resolve(library, "NDIlib_send_get_no_connections", e.send_get_no_connections);
        resolve(library, "NDIlib_find_create_v2", e.find_create_v2);
        resolve(library, "NDIlib_find_wait_for_sources", e.find_wait_for_sources);
        resolve(library, "NDIlib_find_get_current_sources", e.find_get_current_sources);
        resolve(library, "NDIlib_find_destroy", e.find_destroy);
        resolve(library, "NDIlib_recv_create_v3", e.recv_create_v3);
        resolve(library, "NDIlib_recv_capture_v2", e.recv_capture_v2);
        resolve(library, "NDIlib_recv_free_video_v2", e.recv_free_video_v2);
        resolve(library, "NDIlib_recv_destroy", e.recv_destroy);
        return o;
    }();
    return opened ? &opened->table : nullptr;
}
