#include "XRoot.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <cstring>

XRoot::XRoot(const char *display) : connection(display)
{
    if (!connection)
        return;
    const xcb_screen_t *screen = connection.screen();
    root = screen->root;
    rootWidth = screen->width_in_pixels;
    rootHeight = screen->height_in_pixels;
    rootDepth = screen->root_depth;
}

XRoot::~XRoot()
{
    if (connection && fillGc)
        xcb_free_gc(connection.get(), fillGc);
}

void XRoot::fill(int left, int top, int width, int height, std::uint32_t rgb)
{
    if (!connection)
        return;
    xcb_connection_t *c = connection.get();
    if (!fillGc) {
        fillGc = xcb_generate_id(c);
        const std::uint32_t values[] = {0, 0};
        xcb_create_gc(c, fillGc, root, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
    }
    xcb_change_gc(c, fillGc, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t r{std::int16_t(left), std::int16_t(top), std::uint16_t(width),
                            std::uint16_t(height)};
    xcb_poly_fill_rectangle(c, root, fillGc, 1, &r);
}

void XRoot::sync()
{
    if (!connection)
        return;
    // A round trip: every request before it has been carried out when the reply comes.
    std::free(xcb_get_input_focus_reply(connection.get(), xcb_get_input_focus(connection.get()),
                                        nullptr));
}

bool XRoot::keepAsBackground()
{
    if (!connection)
        return false;
    xcb_connection_t *c = connection.get();
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, std::uint8_t(rootDepth), pixmap, root, std::uint16_t(rootWidth),
                      std::uint16_t(rootHeight));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(c, gc, pixmap, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    xcb_copy_area(c, root, pixmap, gc, 0, 0, 0, 0, std::uint16_t(rootWidth),
                  std::uint16_t(rootHeight));
    xcb_change_window_attributes(c, root, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, root, 0, 0, 0, 0);
    xcb_free_gc(c, gc);
    // The root holds on to it; the server frees it once the root lets go.
    xcb_free_pixmap(c, pixmap);
    sync();
    return !xcb_connection_has_error(c);
}

bool XRoot::paintFlat(std::uint32_t rgb)
{
    fill(0, 0, rootWidth, rootHeight, rgb);
    return keepAsBackground();
}

void XRoot::dropBackground()
{
    if (!connection)
        return;
    const std::uint32_t none = XCB_BACK_PIXMAP_NONE;
    xcb_change_window_attributes(connection.get(), root, XCB_CW_BACK_PIXMAP, &none);
    xcb_clear_area(connection.get(), 0, root, 0, 0, 0, 0);
    sync();
}

void XRoot::paintBits(int left, int top, int cell, std::uint64_t value)
{
    for (int i = 0; i < 64; ++i)
        fill(left + i * cell, top, cell, cell, (value >> i & 1) ? 0xffffff : 0x000000);
}

std::uint64_t XRoot::readBits(const std::uint8_t *bgrx, int stride, int left, int top, int cell)
{
    std::uint64_t value = 0;
    const int y = top + cell / 2;
    for (int i = 0; i < 64; ++i) {
        const int x = left + i * cell + cell / 2;
        const std::uint8_t *p = bgrx + std::size_t(y) * stride + std::size_t(x) * 4;
        const int level = (p[0] + p[1] + p[2]) / 3;
        if (level > 127)
            value |= std::uint64_t(1) << i;
    }
    return value;
}

std::uint32_t XRoot::pattern(int x, int y)
{
    // Every pixel of a 4K root differs from its neighbours in each of the three colours;
    // the unused byte stays 0, which is what the server keeps for a depth-24 screen.
    const std::uint32_t blue = std::uint32_t(x) & 0xff;
    const std::uint32_t green = std::uint32_t(y) & 0xff;
    const std::uint32_t red = ((std::uint32_t(x) >> 8) & 0xf) | ((std::uint32_t(y) >> 8) << 4);
    return blue | green << 8 | (red & 0xff) << 16;
}

std::vector<unsigned char> XRoot::expectedFrame(int width, int height, int left, int top, int rootW,
                                                int rootH, unsigned char outside)
{
    std::vector<unsigned char> frame(std::size_t(width) * height * 4, outside);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const long rx = long(left) + x;
            const long ry = long(top) + y;
            if (rx < 0 || ry < 0 || rx >= rootW || ry >= rootH)
                continue;
            const std::uint32_t p = pattern(int(rx), int(ry));
            std::memcpy(&frame[(std::size_t(y) * width + x) * 4], &p, 4);
        }
    }
    return frame;
}

bool XRoot::paintPattern()
{
    if (!connection || rootDepth != 24)
        return false;
    xcb_connection_t *c = connection.get();
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, root, 0, nullptr);
    // Strips small enough for a request without BIG-REQUESTS.
    const int rowsPerStrip = std::max(1, 200000 / (rootWidth * 4));
    std::vector<std::uint32_t> strip(std::size_t(rootWidth) * rowsPerStrip);
    for (int y0 = 0; y0 < rootHeight; y0 += rowsPerStrip) {
        const int rows = std::min(rowsPerStrip, rootHeight - y0);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < rootWidth; ++x)
                strip[std::size_t(y) * rootWidth + x] = pattern(x, y0 + y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, gc, std::uint16_t(rootWidth),
                      std::uint16_t(rows), 0, std::int16_t(y0), 0, 24,
                      std::uint32_t(rows) * rootWidth * 4,
                      reinterpret_cast<const std::uint8_t *>(strip.data()));
    }
    xcb_free_gc(c, gc);
    sync();
    return !xcb_connection_has_error(c);
}

std::vector<ShmSegmentInfo> shmSegmentsCreatedBy(long pid)
{
    std::vector<ShmSegmentInfo> found;
    QFile file("/proc/sysvipc/shm");
    if (!file.open(QIODevice::ReadOnly))
        return found;
    file.readLine(); // header: key shmid perms size cpid lpid nattch ...
    while (!file.atEnd()) {
        const QStringList f =
            QString::fromLatin1(file.readLine()).split(QChar(' '), Qt::SkipEmptyParts);
        if (f.size() < 5 || f[4].toLong() != pid)
            continue;
        found.push_back({f[1].toInt(), f[2].toUInt(nullptr, 8), f[3].toLongLong()});
    }
    return found;
}

struct XvfbServer::Process
{
    QProcess xvfb;
};

XvfbServer::XvfbServer(const QString &screen, const QStringList &extraArgs) : process(new Process)
{
    // -displayfd 1: the server picks a free display and writes its number on stdout.
    QStringList args{"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"};
    args += extraArgs;
    process->xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    process->xvfb.start("Xvfb", args);
    if (!process->xvfb.waitForStarted(5000))
        return;
    QByteArray out;
    while (!out.contains('\n') && process->xvfb.waitForReadyRead(10000))
        out += process->xvfb.readAllStandardOutput();
    const QString number = QString::fromLatin1(out).trimmed();
    if (!number.isEmpty())
        name = ":" + number;
}

XvfbServer::~XvfbServer()
{
    if (process->xvfb.state() != QProcess::NotRunning) {
        process->xvfb.terminate();
        if (!process->xvfb.waitForFinished(5000))
            process->xvfb.kill();
        process->xvfb.waitForFinished(5000);
    }
}
