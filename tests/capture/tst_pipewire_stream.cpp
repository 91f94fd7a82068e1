// The Wayland backend's stream against a real PipeWire daemon, started here, and a producer of
// the test's own linked to it: the picture shown is read where it lies, in a buffer that stays
// the reader's until a newer picture is shown, damaged pictures never are, a new size takes the
// held picture back before its buffer goes, and so does the stream's end.
#include "PipeWireStream.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <spa/param/video/format-utils.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

enum class Damage { None, Corrupted, ShortStride, BeyondBuffer };

// A driving video source in BGRx that sends a picture, every byte one value, when told.
class Producer
{
public:
    explicit Producer(QSize size) : size(size)
    {
        loop = pw_thread_loop_new("test-producer", nullptr);
        context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
        pw_thread_loop_start(loop);
        pw_thread_loop_lock(loop);
        core = pw_context_connect(context, nullptr, 0);
        stream = pw_stream_new(core, "norvane-test-screen",
                               pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source",
                                                 PW_KEY_NODE_NAME, "norvane-test-screen", nullptr));
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.add_buffer = &Producer::onAddBuffer;
            e.remove_buffer = &Producer::onRemoveBuffer;
            return e;
        }();
        pw_stream_add_listener(stream, &listener, &events, this);
        const spa_pod *params[] = {format(size), buffers(size)};
        pw_stream_connect(stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_ALLOC_BUFFERS),
                          params, 2);
        pw_thread_loop_unlock(loop);
    }
    ~Producer()
    {
        pw_thread_loop_stop(loop);
        pw_stream_destroy(stream);
        pw_core_disconnect(core);
        pw_context_destroy(context);
        pw_thread_loop_destroy(loop);
    }
    void resize(QSize to)
    {
        pw_thread_loop_lock(loop);
        size = to;
        const spa_pod *params[] = {format(size), buffers(size)};
        pw_stream_update_params(stream, params, 2);
        pw_thread_loop_unlock(loop);
    }
    // Sends one picture once a buffer is free (as a compositor does: fill, queue); false if
    // none came free.
    bool send(unsigned char value, Damage damage = Damage::None)
    {
        return QTest::qWaitFor([&] { return fill(value, damage); }, 5000);
    }

private:
    // Shared memory of its own, as a compositor's.
    static const spa_pod *buffers(QSize size)
    {
        static uint8_t bytes[256];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, bytes, sizeof bytes);
        return static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(2, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(size.width() * size.height() * 4),
            SPA_PARAM_BUFFERS_stride, SPA_POD_Int(size.width() * 4), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
    }
    static void onAddBuffer(void *self, pw_buffer *b)
    {
        const QSize size = static_cast<Producer *>(self)->size;
        spa_data &d = b->buffer->datas[0];
        d.type = SPA_DATA_MemFd;
        d.flags = SPA_DATA_FLAG_READWRITE;
        d.fd = memfd_create("norvane-test-picture", MFD_CLOEXEC);
        d.mapoffset = 0;
        d.maxsize = uint32_t(size.width() * size.height() * 4);
        d.data = ftruncate(int(d.fd), d.maxsize) == 0
                     ? mmap(nullptr, d.maxsize, PROT_READ | PROT_WRITE, MAP_SHARED, int(d.fd), 0)
                     : MAP_FAILED;
        if (d.data == MAP_FAILED)
            d.data = nullptr;
    }
    static void onRemoveBuffer(void *, pw_buffer *b)
    {
        spa_data &d = b->buffer->datas[0];
        if (d.data)
            munmap(d.data, d.maxsize);
        ::close(int(d.fd));
    }
    static const spa_pod *format(QSize size)
    {
        static uint8_t bytes[512];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, bytes, sizeof bytes);
        spa_rectangle r{uint32_t(size.width()), uint32_t(size.height())};
        spa_fraction rate{0, 1};
        return static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&r),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    }
    bool fill(unsigned char value, Damage damage)
    {
        pw_thread_loop_lock(loop);
        pw_buffer *b = pw_stream_dequeue_buffer(stream);
        spa_data *d = b ? &b->buffer->datas[0] : nullptr;
        if (d && d->data) {
            const uint32_t stride = uint32_t(size.width()) * 4;
            std::memset(d->data, value, d->maxsize);
            d->chunk->offset = damage == Damage::BeyondBuffer ? d->maxsize / 2 : 0;
            d->chunk->stride = int32_t(stride) - (damage == Damage::ShortStride ? 4 : 0);
            d->chunk->size = stride * uint32_t(size.height());
            d->chunk->flags = damage == Damage::Corrupted ? SPA_CHUNK_FLAG_CORRUPTED : 0;
        }
        if (b)
            pw_stream_queue_buffer(stream, b);
        pw_thread_loop_unlock(loop);
        return d && d->data;
    }

    QSize size;
    pw_thread_loop *loop;
    pw_context *context;
    pw_core *core;
    pw_stream *stream;
    spa_hook listener{};
};

// What the stream shows, read as the capture reads it: under the lock show() and withdraw()
// take, from the picture's own memory.
struct Reader
{
    std::mutex mutex;
    PictureView picture;
    bool holding = false;
    QList<int> shown; // the value of each picture shown
    int withdrawn = 0;

    PipeWireStream::Sink sink()
    {
        return {[this](const PictureView &p) {
                    std::lock_guard<std::mutex> lock(mutex);
                    picture = p;
                    holding = true;
                    shown << p.data[0];
                    return true;
                },
                [this] {
                    std::lock_guard<std::mutex> lock(mutex);
                    holding = false;
                    ++withdrawn;
                }};
    }
    // The held picture's one value and size, or -1 when none is held or its bytes differ.
    int value(QSize *size = nullptr)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!holding)
            return -1;
        if (size)
            *size = QSize(picture.width, picture.height);
        const unsigned char first = picture.data[0];
        for (int y = 0; y < picture.height; ++y) {
            const unsigned char *row = picture.data + std::ptrdiff_t(y) * picture.stride;
            if (row[0] != first || row[picture.width * 4 - 1] != first)
                return -1;
        }
        return first;
    }
    template <typename T> T get(const T &field)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return field;
    }
};

// Sends the picture until it is held: a compositor sends again and again, and a picture queued
// while the graph is still starting, or busy, waits there for the next.
bool sendUntilHeld(Producer &producer, Reader &reader, unsigned char value, QSize *size = nullptr)
{
    return QTest::qWaitFor(
        [&] {
            return producer.send(value) &&
                   QTest::qWaitFor([&] { return reader.value(size) == value; }, 300);
        },
        10000);
}

int connectToDaemon(const QString &socket)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(socket).constData(), sizeof address.sun_path);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

class TestPipeWireStream : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        daemon.setProcessChannelMode(QProcess::ForwardedChannels);
        daemon.start("pipewire", QStringList());
        QVERIFY2(
            QTest::qWaitFor([&] { return QFile::exists(runtime.filePath("pipewire-0")); }, 10000),
            "PipeWire did not start");
        pw_init(nullptr, nullptr);
    }
    void cleanupTestCase()
    {
        daemon.terminate();
        daemon.waitForFinished(5000);
    }

    // Pictures damaged in any of the ways a stream can damage them are passed over: the held
    // one stays, as it was, while the producer goes on filling the buffers it was given back.
    void heldPictureStaysUntilANewerOne_data()
    {
        QTest::addColumn<int>("damage");
        QTest::newRow("marked corrupted") << int(Damage::Corrupted);
        QTest::newRow("rows shorter than the picture") << int(Damage::ShortStride);
        QTest::newRow("picture beyond its buffer") << int(Damage::BeyondBuffer);
    }
    void heldPictureStaysUntilANewerOne()
    {
        QFETCH(int, damage);
        Producer producer(QSize(64, 32));
        Reader reader;
        PipeWireStream stream(reader.sink(), [](const char *, const std::string &) {});
        QVERIFY(link(stream, producer));
        QVERIFY(sendUntilHeld(producer, reader, 0x11));
        for (int i = 0; i < 4; ++i)
            QVERIFY(producer.send(0x22, Damage(damage)));
        QCOMPARE(reader.value(), 0x11);
        QVERIFY(sendUntilHeld(producer, reader, 0x33));
        QVERIFY(!reader.get(reader.shown).contains(0x22));
    }

    // A new size: the held picture is taken back before its buffer goes, and the next picture
    // comes in buffers of the new size; at the end the last one is taken back too.
    void newSizeAndEndTakeThePictureBack()
    {
        Producer producer(QSize(64, 32));
        Reader reader;
        {
            PipeWireStream stream(reader.sink(), [](const char *, const std::string &) {});
            QVERIFY(link(stream, producer));
            QVERIFY(sendUntilHeld(producer, reader, 0x11));
            producer.resize(QSize(48, 16));
            QVERIFY(QTest::qWaitFor([&] { return reader.get(reader.withdrawn) == 1; }, 5000));
            QSize size;
            QVERIFY(sendUntilHeld(producer, reader, 0x44, &size));
            QCOMPARE(size, QSize(48, 16));
        }
        QCOMPARE(reader.get(reader.withdrawn), 2);
    }

private:
    // Connects the stream through a socket of the daemon, as the portal hands one over, and
    // links the producer to it (no session manager here does).
    bool link(PipeWireStream &stream, Producer &)
    {
        std::string error;
        const int fd = connectToDaemon(runtime.filePath("pipewire-0"));
        if (fd < 0 || !stream.connect(fd, PW_ID_ANY, error))
            return false;
        // The stream's node is named after the program.
        const QString input = QCoreApplication::applicationName() + ":in_0";
        return QTest::qWaitFor(
            [&] {
                QProcess link;
                link.start("pw-link", {"norvane-test-screen:out_0", input});
                return link.waitForFinished(5000) && link.exitCode() == 0;
            },
            10000);
    }

    QTemporaryDir runtime;
    QProcess daemon;
};

QTEST_GUILESS_MAIN(TestPipeWireStream)
#include "tst_pipewire_stream.moc"
