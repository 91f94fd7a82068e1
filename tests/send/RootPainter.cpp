#include "RootPainter.h"

#include <cstdlib>

RootPainter::RootPainter()
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return;
    }
    connection.reset(c);
    root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    gc = xcb_generate_id(c);
    const uint32_t values[] = {0, 0};
    xcb_create_gc(c, gc, root, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, values);
}

RootPainter::~RootPainter()
{
    if (connection)
        xcb_free_gc(connection.get(), gc);
}

void RootPainter::fill(int left, int top, int width, int height, std::uint32_t rgb)
{
    if (!connection)
        return;
    const uint32_t colour = rgb; // depth 24 TrueColor: the pixel value is 0xRRGGBB
    xcb_change_gc(connection.get(), gc, XCB_GC_FOREGROUND, &colour);
    const xcb_rectangle_t r{static_cast<int16_t>(left), static_cast<int16_t>(top),
                            static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
    xcb_poly_fill_rectangle(connection.get(), root, gc, 1, &r);
}

void RootPainter::sync()
{
    if (!connection)
        return;
    // A round trip: every request before it has been processed when the reply comes.
    std::free(xcb_get_input_focus_reply(connection.get(), xcb_get_input_focus(connection.get()),
                                        nullptr));
}

void RootPainter::paintBits(int left, int top, int cell, std::uint64_t value)
{
    for (int i = 0; i < 64; ++i)
        fill(left + i * cell, top, cell, cell, (value >> i & 1) ? 0xffffff : 0x000000);
}

std::uint64_t RootPainter::readBits(const std::uint8_t *bgrx, int stride, int left, int top,
                                    int cell)
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
