#pragma once

#include <Processing.NDI.Lib.h>

#include <cstdint>

// What this program hands the runtime, in one place for the send engine and the programs that
// stand in for it (benchmark peers, the Windows check).
namespace NdiSettings {

// The sender: named "NDI", no groups, clocked video and audio (the runtime paces the sends).
inline NDIlib_send_create_t sender()
{
    NDIlib_send_create_t create;
    create.p_ndi_name = "NDI";
    create.p_groups = nullptr;
    create.clock_video = true;
    create.clock_audio = true;
    return create;
}

// One progressive BGRX frame of width x height at 30000/1001: packed rows, no aspect ratio
// given, synthesized timecode, no metadata.
inline NDIlib_video_frame_v2_t video(int width, int height, std::uint8_t *data)
{
    NDIlib_video_frame_v2_t frame;
    frame.xres = width;
    frame.yres = height;
    frame.FourCC = NDIlib_FourCC_type_BGRX;
    frame.frame_rate_N = 30000;
    frame.frame_rate_D = 1001;
    frame.picture_aspect_ratio = 0.0f;
    frame.frame_format_type = NDIlib_frame_format_type_progressive;
    frame.timecode = NDIlib_send_timecode_synthesize;
    frame.p_data = data;
    frame.line_stride_in_bytes = 0;
    frame.p_metadata = nullptr;
    frame.timestamp = 0;
    return frame;
}

} // namespace NdiSettings
