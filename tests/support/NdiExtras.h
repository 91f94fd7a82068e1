#pragma once

#include <Processing.NDI.Lib.h>

#include <cstdint>

// The runtime's functions that only tests and benchmarks call (finding and receiving sources, a
// sender's connections and destruction, the version), taken from the same library the
// program's loader loaded. Qt-free: the Windows check program uses it too. Any may be null.
struct NdiExtras
{
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

    // Everything a receiver needs is there.
    bool canReceive() const
    {
        return find_create_v2 && find_wait_for_sources && find_get_current_sources &&
               find_destroy && recv_create_v3 && recv_capture_v2 && recv_free_video_v2 &&
               recv_destroy;
    }
};

// The functions of the runtime the loader found (loading it if need be), resolved once; null
// when there is no runtime.
const NdiExtras *ndiExtras();
