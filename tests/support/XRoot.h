#pragma once

#include "XcbConnection.h"

#include <xcb/xcb.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

// A client of the X server under test that paints on the root window: a known picture, so a
// capture can be compared byte for byte, or flat blocks of colour, which survive the NDI codec
// nearly unchanged, so a receiver can check colours and read back numbers encoded as blocks.
// Xvfb runs with -noreset: what is painted stays.
class XRoot
{
public:
    // Connects to $DISPLAY, or to the display given.
    explicit XRoot(const char *display = nullptr);
    ~XRoot();
    XRoot(const XRoot &) = delete;
    XRoot &operator=(const XRoot &) = delete;

    bool connected() const { return static_cast<bool>(connection); }
    int width() const { return rootWidth; }
    int height() const { return rootHeight; }
    int depth() const { return rootDepth; }

    // Paints pattern() over the whole root window; true once the server has drawn it.
    bool paintPattern();

    // Fills a rectangle with a pixel value: 0xRRGGBB on a 24-bit screen, the server's own value on
    // others. Nothing is certain to be drawn until sync().
    void fill(int left, int top, int width, int height, std::uint32_t rgb);
    // Waits until the server has carried out everything asked so far.
    void sync();
    // Makes what the root shows now its background too, so the server paints it again after
    // any expose (another client's windows coming and going); true once done.
    bool keepAsBackground();
    // Fills the whole root with one pixel value, kept as its background; true once done.
    bool paintFlat(std::uint32_t rgb);
    // Gives the root no background again; what it shows stays until painted over.
    void dropBackground();
    // Encodes a 64-bit value as a row of 64 black or white squares of side `cell` pixels,
    // least significant bit first, starting at (left, top).
    void paintBits(int left, int top, int cell, std::uint64_t value);
    // Reads such a row back from a BGRX picture (rows of stride bytes). Each square is judged
    // at its centre, so the codec's softened edges do not matter.
    static std::uint64_t readBits(const std::uint8_t *bgrx, int stride, int left, int top,
                                  int cell);

    // The painted pixel at root (x, y), as the four frame bytes blue, green, red, unused.
    static std::uint32_t pattern(int x, int y);
    // The frame a capture of the rectangle must give, for the part on a root of rootW x
    // rootH; pixels outside it hold `outside`.
    static std::vector<unsigned char> expectedFrame(int width, int height, int left, int top,
                                                    int rootW, int rootH, unsigned char outside);

private:
    XcbConnection connection;
    xcb_window_t root = 0;
    int rootWidth = 0;
    int rootHeight = 0;
    int rootDepth = 0;
    xcb_gcontext_t fillGc = 0;
};

// A System V shared memory segment as /proc/sysvipc/shm lists it.
struct ShmSegmentInfo
{
    int id;
    unsigned perms;
    long long size;
};
// The segments that process pid created and that still exist (attached or not yet removed).
std::vector<ShmSegmentInfo> shmSegmentsCreatedBy(long pid);

// An Xvfb of its own for a test that needs a different screen (e.g. another depth); stopped
// on destruction.
class XvfbServer
{
public:
    // screen as Xvfb takes it, e.g. "640x480x16"; extraArgs e.g. "-extension MIT-SHM".
    explicit XvfbServer(const QString &screen, const QStringList &extraArgs = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;
    // ":N", or empty when the server did not start.
    QString display() const { return name; }

private:
    struct Process;
    std::unique_ptr<Process> process;
    QString name;
};
