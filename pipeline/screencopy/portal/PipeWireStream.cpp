#include "PipeWireStream.h"

#include <spa/param/video/format-utils.h>

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

bool orderOf(uint32_t format, PixelOrder &order)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
        order = PixelOrder::BGRx;
        return true;
    case SPA_VIDEO_FORMAT_BGRA:
        order = PixelOrder::BGRA;
        return true;
    case SPA_VIDEO_FORMAT_RGBx:
        order = PixelOrder::RGBx;
        return true;
    case SPA_VIDEO_FORMAT_RGBA:
        order = PixelOrder::RGBA;
        return true;
    default:
        return false;
    }
}

} // namespace

PipeWireStream::PipeWireStream(Sink sink) : sink(std::move(sink))
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
}

PipeWireStream::~PipeWireStream()
{
    // The thread first: no callback runs while the objects below go, in reverse order.
    if (loop)
        pw_thread_loop_stop(loop.get());
    stream.reset();
    core.reset();
    context.reset();
    loop.reset();
}

bool PipeWireStream::connect(int fd, unsigned node, std::string &error)
{
    loop.reset(pw_thread_loop_new("norvane-screen", nullptr));
    if (loop)
        context.reset(pw_context_new(pw_thread_loop_get_loop(loop.get()), nullptr, 0));
    if (!context) {
        ::close(fd);
        error = "cannot create a PipeWire context";
        return false;
    }
    if (pw_thread_loop_start(loop.get()) < 0) {
        ::close(fd);
        error = "cannot start PipeWire's thread";
        return false;
    }

    pw_thread_loop_lock(loop.get());
    // Takes the socket over, and closes it on failure.
    core.reset(pw_context_connect_fd(context.get(), fd, nullptr, 0));
    if (core) {
        stream.reset(
            pw_stream_new(core.get(), "Norvane",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr)));
    }
    int rc = -1;
    if (stream) {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = &PipeWireStream::onStateChanged;
            e.param_changed = &PipeWireStream::onParamChanged;
            e.process = &PipeWireStream::onProcess;
            return e;
        }();
        pw_stream_add_listener(stream.get(), &listener, &events, this);

        // Any of the four 32-bit RGB layouts, BGRx (the frame layout itself) first; any size;
        // at most 30 pictures a second, as many as are sent.
        spa_rectangle size{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
        spa_fraction rate{0, 1}, maxRate{30, 1}, minMaxRate{1, 1}, maxMaxRate{30, 1};
        uint8_t bytes[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, bytes, sizeof bytes);
        const spa_pod *params[1];
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                   SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx,
                                   SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), SPA_FORMAT_VIDEO_maxFramerate,
            SPA_POD_CHOICE_RANGE_Fraction(&maxRate, &minMaxRate, &maxMaxRate)));
        rc = pw_stream_connect(
            stream.get(), PW_DIRECTION_INPUT, node,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 1);
    }
    pw_thread_loop_unlock(loop.get());
    if (!core)
        error = "cannot connect to the portal's PipeWire remote";
    else if (rc < 0)
        error = "cannot connect to the screen's PipeWire node";
    return rc >= 0;
}

void PipeWireStream::onStateChanged(void *self, pw_stream_state, pw_stream_state state,
                                    const char *error)
{
    auto *s = static_cast<PipeWireStream *>(self);
    if (state == PW_STREAM_STATE_ERROR && !s->errorReported) {
        s->errorReported = true;
        std::fprintf(stderr, "Screen capture: the PipeWire stream failed (%s)\n",
                     error ? error : "no reason given");
    }
    // The desktop ended the share, or the stream broke: the last picture is no longer the
    // screen, so nothing more is handed out.
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
        s->sink(PictureView());
}

void PipeWireStream::onParamChanged(void *self, uint32_t id, const spa_pod *param)
{
    auto *s = static_cast<PipeWireStream *>(self);
    if (id != SPA_PARAM_Format || !param)
        return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    spa_video_info_raw info{};
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
        spa_format_video_raw_parse(param, &info) < 0 || !orderOf(info.format, s->order))
        return;
    s->width = static_cast<int>(info.size.width);
    s->height = static_cast<int>(info.size.height);

    // Memory the CPU reads: shared memory or plain pointers, never DMA-BUF.
    uint8_t bytes[256];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, bytes, sizeof bytes);
    const spa_pod *params[1];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    pw_stream_update_params(s->stream.get(), params, 1);
}

void PipeWireStream::onProcess(void *self)
{
    auto *s = static_cast<PipeWireStream *>(self);
    // Only the newest picture matters; older ones go straight back.
    pw_buffer *newest = nullptr;
    while (pw_buffer *b = pw_stream_dequeue_buffer(s->stream.get())) {
        if (newest)
            pw_stream_queue_buffer(s->stream.get(), newest);
        newest = b;
    }
    if (!newest)
        return;
    const spa_buffer *buffer = newest->buffer;
    if (buffer->n_datas > 0 && s->width > 0 && s->height > 0) {
        const spa_data &d = buffer->datas[0];
        const spa_chunk *chunk = d.chunk;
        const int stride = chunk->stride > 0 ? chunk->stride : s->width * 4;
        const uint64_t needed =
            uint64_t(chunk->offset) + uint64_t(stride) * (s->height - 1) + uint64_t(s->width) * 4;
        if (d.data && chunk->size > 0 && !(chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) &&
            stride >= s->width * 4 && needed <= d.maxsize) {
            PictureView view;
            view.data = static_cast<const unsigned char *>(d.data) + chunk->offset;
            view.stride = stride;
            view.width = s->width;
            view.height = s->height;
            view.order = s->order;
            s->sink(view);
        }
    }
    pw_stream_queue_buffer(s->stream.get(), newest);
}
