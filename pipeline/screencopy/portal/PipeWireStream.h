#pragma once

#include "BgrxConversion.h"

#include <pipewire/pipewire.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// One screen stream of the PipeWire remote that the desktop portal opened: connects to the
// portal's node, negotiates a 32-bit RGB layout (BGRx preferred) in memory buffers, and shows
// each intact picture to the sink on PipeWire's own thread, where it lies: in the stream's
// buffer, which it keeps dequeued while the sink holds it. The compositor sends a picture only
// when the screen changes. When the stream stops giving the screen (it ends or fails, the node
// or the remote goes away, or no layout can be agreed), ended is called once, on PipeWire's
// thread, with a key for what happened and the reason. Destruction waits for every callback.
class PipeWireStream
{
public:
    // Both called on PipeWire's thread, or with its loop locked. show() is given a newer
    // picture and says whether the sink holds it: its bytes then stay as they are until the
    // next picture is held or withdraw() is called, and the buffer shown before is queued
    // back once show() has returned. After withdraw() the sink no longer reads the held
    // picture, whose buffer is then queued back or goes away. Each waits for a read in
    // progress, so neither may wait for PipeWire's thread.
    struct Sink
    {
        std::function<bool(const PictureView &)> show;
        std::function<void()> withdraw;
    };
    using Ended = std::function<void(const char *key, const std::string &reason)>;

    PipeWireStream(Sink sink, Ended ended);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream &) = delete;
    PipeWireStream &operator=(const PipeWireStream &) = delete;

    // Takes the remote's socket (fd is closed in every case) and connects to node. On false,
    // error says why.
    bool connect(int fd, unsigned node, std::string &error);

private:
    template <typename T, void (*Release)(T *)> struct Deleter
    {
        void operator()(T *p) const { Release(p); }
    };
    static void disconnectCore(pw_core *core) { pw_core_disconnect(core); }
    static const pw_stream_events streamEvents;
    static const pw_core_events coreEvents;

    static void onStateChanged(void *self, pw_stream_state old, pw_stream_state state,
                               const char *error);
    static void onParamChanged(void *self, uint32_t id, const spa_pod *param);
    static void onProcess(void *self);
    static void onRemoveBuffer(void *self, pw_buffer *buffer);
    static void onStill(void *self, uint64_t expirations);
    static void onCoreError(void *self, uint32_t id, int seq, int res, const char *message);
    // On PipeWire's thread: the stream gives the screen no more.
    void end(const char *key, const std::string &reason);
    // The held buffer is no longer read; queued back unless it is going away.
    void withdraw(bool queueBack);
    // The buffer's picture, when its layout fits the negotiated size and it is not damaged.
    bool intactPicture(const spa_buffer &buffer, PictureView &picture) const;

    Sink sink;
    Ended ended;
    std::unique_ptr<pw_thread_loop, Deleter<pw_thread_loop, pw_thread_loop_destroy>> loop;
    std::unique_ptr<pw_context, Deleter<pw_context, pw_context_destroy>> context;
    std::unique_ptr<pw_core, Deleter<pw_core, disconnectCore>> core;
    std::unique_ptr<pw_stream, Deleter<pw_stream, pw_stream_destroy>> stream;
    spa_hook coreListener{};
    spa_hook streamListener{};
    // Touched only on PipeWire's thread, or under its loop's lock.
    PixelOrder order = PixelOrder::BGRx; // of the negotiated picture
    int width = 0;
    int height = 0;
    bool hasEnded = false;
    // The buffer whose picture the sink holds, dequeued until a newer one is held.
    pw_buffer *held = nullptr;
    // The buffers whose pictures were held since the screen last stood still, and the timer
    // that tells it stands still.
    std::vector<pw_buffer *> read;
    spa_source *stillTimer = nullptr;
};
