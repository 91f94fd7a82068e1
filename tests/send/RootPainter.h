#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <vector>

// Paints flat blocks of colour on the root window of $DISPLAY (Xvfb runs with -noreset, so
// what is painted stays). Flat blocks survive the NDI codec nearly unchanged, unlike fine
// detail, so a receiver can check colours and read back numbers encoded as blocks.
class RootPainter
{
public:
    RootPainter();
    ~RootPainter();
    RootPainter(const RootPainter &) = delete;
    RootPainter &operator=(const RootPainter &) = delete;

    bool connected() const { return connection != nullptr; }

    // Fills a rectangle with 0xRRGGBB; nothing is sent until sync().
    void fill(int left, int top, int width, int height, std::uint32_t rgb);
    // Waits until the server has drawn everything asked so far.
    void sync();

    // Encodes a 64-bit value as a row of 64 black or white squares of side `cell` pixels,
    // least significant bit first, starting at (left, top).
    void paintBits(int left, int top, int cell, std::uint64_t value);
    // Reads such a row back from a BGRX picture (rows of stride bytes). Each square is judged
    // at its centre, so the codec's softened edges do not matter.
    static std::uint64_t readBits(const std::uint8_t *bgrx, int stride, int left, int top,
                                  int cell);

private:
    struct Closer
    {
        void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
    };
    std::unique_ptr<xcb_connection_t, Closer> connection;
    xcb_window_t root = 0;
    xcb_gcontext_t gc = 0;
};
