#pragma once

#include "BgrxConversion.h"

#include <pipewire/pipewire.h>

#include <functional>
#include <memory>
#include <string>

// One screen stream of the PipeWire remote that the desktop portal opened: connects to the
// portal's node, negotiates a 32-bit RGB layout (BGRx preferred) in memory buffers, and hands
// each picture to the sink on PipeWire's own thread. The compositor sends a picture only when
// the screen changes. When the stream stops giving the screen (it ends or fails, the node or
// the remote goes away, or no layout can be agreed), ended is called once, on PipeWire's
// thread, with a key for what happened and the reason. Destruction waits for every callback.
class PipeWireStream
{
public:
    using Sink = std::function<void(const PictureView &)>;
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
    static void onCoreError(void *self, uint32_t id, int seq, int res, const char *message);
    // On PipeWire's thread: the stream gives the screen no more.
    void end(const char *key, const std::string &reason);

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
};
