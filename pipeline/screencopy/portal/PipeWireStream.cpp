#include "PipeWireStream.h"

#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace {

// How long the screen stands still before the buffers not held are let go (onStill()).
constexpr long stillNs = 500 * 1000 * 1000;

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

// The formats the stream accepts: any of the four 32-bit RGB layouts, BGRx (the frame layout
// itself) first; any size; at most 30 pictures a second, as many as are sent.
const spa_pod *buildFormat(spa_pod_builder &builder)
{
    spa_rectangle size{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
    spa_fraction rate{0, 1}, maxRate{30, 1}, minMaxRate{1, 1}, maxMaxRate{30, 1};
    return static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&maxRate, &minMaxRate, &maxMaxRate)));
}

// Memory the CPU reads: shared memory or plain pointers, never DMA-BUF. Two or three buffers,
// as the compositor prefers: one whose picture is held, one it fills, and one on its way back
// to it, which spares it a wait for the next turn of the graph (wlroots' backend offers two,
// and waits; GNOME's would otherwise make sixteen of the screen's size).
const spa_pod *buildBuffers(spa_pod_builder &builder)
{
    return static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(2, 2, 3), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
}

} // namespace

const pw_stream_events PipeWireStream::streamEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = &PipeWireStream::onStateChanged;
    e.param_changed = &PipeWireStream::onParamChanged;
    e.process = &PipeWireStream::onProcess;
    e.remove_buffer = &PipeWireStream::onRemoveBuffer;
    return e;
}();

const pw_core_events PipeWireStream::coreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = &PipeWireStream::onCoreError;
    return e;
}();

PipeWireStream::PipeWireStream(Sink sink, Ended ended)
    : sink(std::move(sink)), ended(std::move(ended))
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
}

PipeWireStream::~PipeWireStream()
{
    if (loop) {
        // Under the loop's lock no callback runs. Once disconnected, the stream is off
        // PipeWire's data thread, which may already have queued a process call for the loop's
        // thread: stopping the loop runs it (no listener is left) before the stream is freed.
        // A loop stopped before the disconnect would have no thread of its own, and the data
        // thread would call onProcess() itself, on a stream being destroyed; a stream freed
        // before the stop would leave that queued call to run on freed memory.
        pw_thread_loop_lock(loop.get());
        if (stillTimer)
            pw_loop_destroy_source(pw_thread_loop_get_loop(loop.get()), stillTimer);
        if (stream) {
            // Given back while the stream can still take it.
            withdraw(true);
            spa_hook_remove(&streamListener);
            pw_stream_disconnect(stream.get());
        }
        if (core)
            spa_hook_remove(&coreListener);
        pw_thread_loop_unlock(loop.get());
        pw_thread_loop_stop(loop.get());
    }
    stream.reset();
    core.reset();
    context.reset();
    loop.reset();
}

bool PipeWireStream::connect(int fd, unsigned node, std::string &error)
{
    loop.reset(pw_thread_loop_new("norvane-screen", nullptr));
    if (loop)
        // Unlocked memory: a locked buffer is resident whether it is read or not, and its
        // pages cannot be let go while the screen stands still (onStill()).
        context.reset(pw_context_new(pw_thread_loop_get_loop(loop.get()),
                                     pw_properties_new("mem.allow-mlock", "false", nullptr), 0));
    if (!context) {
        ::close(fd);
        error = std::string("cannot create a PipeWire context (") + spa_strerror(-errno) + ")";
        return false;
    }
    const int started = pw_thread_loop_start(loop.get());
    if (started < 0) {
        ::close(fd);
        error = std::string("cannot start PipeWire's thread (") + spa_strerror(started) + ")";
        return false;
    }

    pw_thread_loop_lock(loop.get());
    stillTimer = pw_loop_add_timer(pw_thread_loop_get_loop(loop.get()), &onStill, this);
    // Takes the socket over, and closes it on failure.
    core.reset(pw_context_connect_fd(context.get(), fd, nullptr, 0));
    int rc = -errno;
    if (core) {
        pw_core_add_listener(core.get(), &coreListener, &coreEvents, this);
        stream.reset(
            pw_stream_new(core.get(), "Norvane",
                          pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                            "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr)));
        rc = -errno;
    }
    if (stream) {
        pw_stream_add_listener(stream.get(), &streamListener, &streamEvents, this);
        uint8_t bytes[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, bytes, sizeof bytes);
        const spa_pod *params[] = {buildFormat(builder)};
        // Not linked to another node should this one go: the screen it showed is gone.
        rc = pw_stream_connect(stream.get(), PW_DIRECTION_INPUT, node,
                               static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                            PW_STREAM_FLAG_MAP_BUFFERS |
                                                            PW_STREAM_FLAG_DONT_RECONNECT),
                               params, 1);
    }
    pw_thread_loop_unlock(loop.get());
    if (!core)
        error = "cannot connect to the portal's PipeWire remote (";
    else if (!stream)
        error = "cannot make a PipeWire stream (";
    else if (rc < 0)
        error = "cannot connect to the screen's PipeWire node (";
    if (rc < 0)
        error += std::string(spa_strerror(rc)) + ")";
    return rc >= 0;
}

void PipeWireStream::end(const char *key, const std::string &reason)
{
    if (hasEnded)
        return;
    hasEnded = true;
    if (ended)
        ended(key, reason);
}

void PipeWireStream::withdraw(bool queueBack)
{
    if (!held)
        return;
    if (sink.withdraw)
        sink.withdraw();
    if (queueBack)
        pw_stream_queue_buffer(stream.get(), held);
    held = nullptr;
}

void PipeWireStream::onStateChanged(void *self, pw_stream_state, pw_stream_state state,
                                    const char *error)
{
    auto *s = static_cast<PipeWireStream *>(self);
    // The desktop ended the share, or the stream broke: the last picture is no longer the
    // screen.
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
        s->withdraw(true);
    if (state == PW_STREAM_STATE_ERROR) {
        s->end("stream-failed", std::string("the PipeWire stream failed (") +
                                    (error ? error : "no reason given") + ")");
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
        s->end("stream-ended", "the PipeWire stream ended");
    }
}

void PipeWireStream::onCoreError(void *self, uint32_t id, int, int res, const char *message)
{
    // Errors of the stream's own objects come to the stream as its error state.
    if (id != PW_ID_CORE)
        return;
    static_cast<PipeWireStream *>(self)->end(
        "stream-remote-gone", std::string("the PipeWire remote went away (") + spa_strerror(res) +
                                  (message && *message ? std::string(": ") + message : "") + ")");
}

void PipeWireStream::onParamChanged(void *self, uint32_t id, const spa_pod *param)
{
    auto *s = static_cast<PipeWireStream *>(self);
    if (id != SPA_PARAM_Format || !param)
        return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    spa_video_info_raw info{};
    int rc = spa_format_parse(param, &mediaType, &mediaSubtype);
    if (rc >= 0 && (mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw))
        rc = -ENOTSUP;
    if (rc >= 0)
        rc = spa_format_video_raw_parse(param, &info);
    if (rc >= 0 && !orderOf(info.format, s->order))
        rc = -ENOTSUP;
    if (rc < 0) {
        // Said first: the error state that follows is this end, not another.
        s->end("stream-format",
               std::string("the screen's stream offers no picture layout this program reads (") +
                   spa_strerror(rc) + ")");
        pw_stream_set_error(s->stream.get(), rc, "no picture layout Norvane reads");
        return;
    }
    s->width = static_cast<int>(info.size.width);
    s->height = static_cast<int>(info.size.height);

    uint8_t bytes[256];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, bytes, sizeof bytes);
    const spa_pod *params[] = {buildBuffers(builder)};
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
    // A damaged picture goes back at once, and the one held before stays the newest.
    PictureView picture;
    if (s->hasEnded || !s->intactPicture(*newest->buffer, picture) || !s->sink.show(picture)) {
        pw_stream_queue_buffer(s->stream.get(), newest);
        return;
    }
    std::swap(newest, s->held);
    if (newest)
        pw_stream_queue_buffer(s->stream.get(), newest);
    if (std::find(s->read.begin(), s->read.end(), s->held) == s->read.end())
        s->read.push_back(s->held);
    if (s->stillTimer) {
        timespec still{0, stillNs};
        pw_loop_update_timer(pw_thread_loop_get_loop(s->loop.get()), s->stillTimer, &still, nullptr,
                             false);
    }
}

void PipeWireStream::onStill(void *self, uint64_t)
{
    auto *s = static_cast<PipeWireStream *>(self);
    // The pictures read are in the compositor's shared memory, mapped here: each buffer read
    // once stays resident in this process as long as it is mapped. While the screen changes
    // they are read in turn; once it stands still, only the held one is, and the others' pages
    // are let go (the memory stays the compositor's, mapped again should they be read). Not
    // after every picture: mapping the pages anew costs more than copying them.
    for (pw_buffer *b : s->read) {
        const spa_data &d = b->buffer->datas[0];
        if (b == s->held || d.type != SPA_DATA_MemFd || !d.data)
            continue;
        const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        const auto start = reinterpret_cast<std::uintptr_t>(d.data);
        const std::uintptr_t first = (start + page - 1) & ~(page - 1);
        const std::uintptr_t end = (start + d.maxsize) & ~(page - 1);
        if (end > first)
            madvise(reinterpret_cast<void *>(first), end - first, MADV_DONTNEED);
    }
    s->read.assign(s->held ? 1 : 0, s->held);
}

bool PipeWireStream::intactPicture(const spa_buffer &buffer, PictureView &picture) const
{
    if (buffer.n_datas == 0 || width <= 0 || height <= 0)
        return false;
    const spa_data &d = buffer.datas[0];
    const spa_chunk *chunk = d.chunk;
    const int stride = chunk->stride > 0 ? chunk->stride : width * 4;
    const uint64_t needed =
        uint64_t(chunk->offset) + uint64_t(stride) * (height - 1) + uint64_t(width) * 4;
    if (!d.data || chunk->size == 0 || (chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) ||
        stride < width * 4 || needed > d.maxsize)
        return false;
    picture.data = static_cast<const unsigned char *>(d.data) + chunk->offset;
    picture.stride = stride;
    picture.width = width;
    picture.height = height;
    picture.order = order;
    return true;
}

void PipeWireStream::onRemoveBuffer(void *self, pw_buffer *buffer)
{
    auto *s = static_cast<PipeWireStream *>(self);
    // Its memory is unmapped once this returns: new buffers for a new size, or the end.
    if (buffer == s->held)
        s->withdraw(false);
    s->read.erase(std::remove(s->read.begin(), s->read.end(), buffer), s->read.end());
}
