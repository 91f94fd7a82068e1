#include "X11ScreenCopy.h"

#include "Report.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename T> struct FreeDeleter
{
    void operator()(T *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

// One colour channel of a TrueColor pixel, widened or narrowed to 8 bits.
struct Channel
{
    int shift = 0;
    int bits = 0;
    explicit Channel(std::uint32_t mask)
    {
        if (!mask)
            return;
        while (!(mask & 1u)) {
            mask >>= 1;
            ++shift;
        }
        while (mask & 1u) {
            mask >>= 1;
            ++bits;
        }
    }
    std::uint32_t to8(std::uint32_t pixel) const
    {
        if (bits == 0)
            return 0;
        std::uint32_t v = (pixel >> shift) & ((1u << bits) - 1u);
        if (bits >= 8)
            return v >> (bits - 8);
        // Repeat the bits downwards, so that the largest value becomes 255, not 248.
        std::uint32_t out = 0;
        for (int filled = 0; filled < 8; filled += bits)
            out |= (v << (8 - bits)) >> filled;
        return out & 0xffu;
    }
};

std::uint32_t toFramePixel(std::uint32_t pixel, const Channel &r, const Channel &g,
                           const Channel &b)
{
    // Frame bytes blue, green, red, unused: little-endian 0x00RRGGBB.
    return r.to8(pixel) << 16 | g.to8(pixel) << 8 | b.to8(pixel);
}

} // namespace

class X11ScreenCopy::ShmSegment
{
public:
    // Null when the segment cannot be created or the server refuses it.
    static std::unique_ptr<ShmSegment> create(xcb_connection_t *c, std::size_t size)
    {
        // 0600: a screen's pixels are nobody else's to read.
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0)
            return nullptr;
        void *addr = shmat(id, nullptr, 0);
        if (addr == reinterpret_cast<void *>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return nullptr;
        }
        std::unique_ptr<ShmSegment> seg(new ShmSegment(c, addr, size));
        seg->seg = xcb_generate_id(c);
        Reply<xcb_generic_error_t> error(
            xcb_request_check(c, xcb_shm_attach_checked(c, seg->seg, id, 0)));
        // Both sides hold it now (or the server never will): mark it for removal, so that
        // it disappears with the last detach, a crash included.
        shmctl(id, IPC_RMID, nullptr);
        if (error)
            return nullptr;
        seg->serverAttached = true;
        return seg;
    }
    ~ShmSegment()
    {
        if (serverAttached)
            xcb_request_check(connection, xcb_shm_detach_checked(connection, seg));
        shmdt(address);
    }
    ShmSegment(const ShmSegment &) = delete;
    ShmSegment &operator=(const ShmSegment &) = delete;

    xcb_shm_seg_t id() const { return seg; }
    std::size_t size() const { return bytes; }
    const unsigned char *data() const { return static_cast<const unsigned char *>(address); }

private:
    ShmSegment(xcb_connection_t *c, void *addr, std::size_t size)
        : connection(c), address(addr), bytes(size)
    {
    }

    xcb_connection_t *connection;
    void *address;
    std::size_t bytes;
    xcb_shm_seg_t seg = 0;
    bool serverAttached = false;
};

X11ScreenCopy::X11ScreenCopy(Transport transport, const char *display) : connection(display)
{
    if (!connection)
        return;
    xcb_connection_t *c = connection.get();
    const xcb_screen_t *screen = connection.screen();
    root = screen->root;
    rootWidth = screen->width_in_pixels;
    rootHeight = screen->height_in_pixels;
    // The root's ConfigureNotify tells of every change of the screen's size.
    const std::uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &events);
    xcb_flush(c);
    readPixelFormat();

    if (transport == Transport::Automatic) {
        const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_shm_id);
        if (ext && ext->present) {
            Reply<xcb_shm_query_version_reply_t> version(
                xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
            shmAvailable = version != nullptr;
        }
    }
}

X11ScreenCopy::~X11ScreenCopy()
{
    end();
}

void X11ScreenCopy::readPixelFormat()
{
    const xcb_setup_t *setup = xcb_get_setup(connection.get());
    const xcb_screen_t *screen = connection.screen();
    for (auto fmt = xcb_setup_pixmap_formats_iterator(setup); fmt.rem; xcb_format_next(&fmt)) {
        if (fmt.data->depth == screen->root_depth) {
            bitsPerPixel = fmt.data->bits_per_pixel;
            scanlinePad = fmt.data->scanline_pad;
        }
    }
    bool trueColor = false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id != screen->root_visual)
                continue;
            trueColor = v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR;
            masks[0] = v.data->red_mask;
            masks[1] = v.data->green_mask;
            masks[2] = v.data->blue_mask;
        }
    }
    const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    if (!trueColor || !lsbFirst)
        format = Format::Unsupported;
    else if (bitsPerPixel == 32 && masks[0] == 0xff0000 && masks[1] == 0xff00 && masks[2] == 0xff)
        format = Format::Native;
    else if (bitsPerPixel == 32)
        format = Format::Convert32;
    else if (bitsPerPixel == 16)
        format = Format::Convert16;
    else
        format = Format::Unsupported;

    if (format == Format::Convert16) {
        const Channel r(masks[0]), g(masks[1]), b(masks[2]);
        table16.resize(65536);
        for (std::uint32_t p = 0; p < 65536; ++p)
            table16[p] = toFramePixel(p, r, g, b);
    }
}

bool X11ScreenCopy::begin(int width, int height, int left, int top)
{
    end();
    running = true;
    if (!connection || bitsPerPixel <= 0) {
        unreadable = true;
        return false;
    }
    if (format == Format::Unsupported) {
        Report::once("x11-pixel-format",
                     "The screen's pixel format (depth " +
                         std::to_string(connection.screen()->root_depth) + ", " +
                         std::to_string(bitsPerPixel) +
                         " bits per pixel) is not supported; black frames are sent instead.");
    }
    this->width = std::max(width, 0);
    this->height = std::max(height, 0);
    this->left = left;
    this->top = top;
    takeRootChanges();
    clip();
    return true;
}

void X11ScreenCopy::clip()
{
    // Only the part on the root window can be read; the server refuses anything beyond it.
    // 64-bit sums: left + width must not overflow.
    const long x0 = std::max<long>(left, 0);
    const long y0 = std::max<long>(top, 0);
    const long x1 = std::min<long>(long(left) + width, rootWidth);
    const long y1 = std::min<long>(long(top) + height, rootHeight);
    clipX = int(x0);
    clipY = int(y0);
    clipWidth = int(std::max<long>(x1 - x0, 0));
    clipHeight = int(std::max<long>(y1 - y0, 0));
    if (clipWidth == 0 || clipHeight == 0) {
        segment.reset();
        return;
    }
    srcStride = (clipWidth * bitsPerPixel + scanlinePad - 1) / scanlinePad * scanlinePad / 8;
    const std::size_t needed = std::size_t(srcStride) * clipHeight;
    if (shmAvailable && (!segment || segment->size() != needed)) {
        segment.reset();
        segment = ShmSegment::create(connection.get(), needed);
    }
    // Without a segment (none available, or the server refused it) GetImage still works.
}

void X11ScreenCopy::takeRootChanges()
{
    bool changed = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection.get())) {
        if ((event->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
            const auto *configure = reinterpret_cast<xcb_configure_notify_event_t *>(event);
            if (configure->window == root) {
                rootWidth = configure->width;
                rootHeight = configure->height;
                changed = true;
            }
        }
        std::free(event);
    }
    if (changed && running)
        clip();
}

void X11ScreenCopy::reReadRootSize()
{
    xcb_connection_t *c = connection.get();
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
    if (!geometry)
        return;
    rootWidth = geometry->width;
    rootHeight = geometry->height;
    clip();
}

void X11ScreenCopy::convertRows(unsigned char *buffer, const unsigned char *src) const
{
    const std::size_t dstStride = std::size_t(width) * 4;
    const std::size_t rowBytes = std::size_t(clipWidth) * 4;
    unsigned char *dst =
        buffer + std::size_t(clipY - top) * dstStride + std::size_t(clipX - left) * 4;
    if (format == Format::Native) {
        if (rowBytes == dstStride && std::size_t(srcStride) == dstStride) {
            std::memcpy(dst, src, dstStride * clipHeight);
            return;
        }
        for (int row = 0; row < clipHeight; ++row)
            std::memcpy(dst + row * dstStride, src + std::size_t(row) * srcStride, rowBytes);
        return;
    }
    const Channel r(masks[0]), g(masks[1]), b(masks[2]);
    for (int row = 0; row < clipHeight; ++row) {
        const unsigned char *in = src + std::size_t(row) * srcStride;
        unsigned char *out = dst + row * dstStride;
        for (int x = 0; x < clipWidth; ++x) {
            std::uint32_t pixel;
            if (format == Format::Convert16) {
                std::uint16_t p16;
                std::memcpy(&p16, in + x * 2, 2);
                pixel = table16[p16];
            } else {
                std::uint32_t p32;
                std::memcpy(&p32, in + x * 4, 4);
                pixel = toFramePixel(p32, r, g, b);
            }
            std::memcpy(out + x * 4, &pixel, 4);
        }
    }
}

void X11ScreenCopy::blackOutsideClip(unsigned char *buffer) const
{
    const std::size_t stride = std::size_t(width) * 4;
    if (clipWidth == 0 || clipHeight == 0) {
        std::memset(buffer, 0, stride * height);
        return;
    }
    const int firstRow = clipY - top;
    const int endRow = firstRow + clipHeight;
    std::memset(buffer, 0, stride * firstRow);
    std::memset(buffer + stride * endRow, 0, stride * (height - endRow));
    const std::size_t leftBytes = std::size_t(clipX - left) * 4;
    const std::size_t rightStart = leftBytes + std::size_t(clipWidth) * 4;
    if (leftBytes == 0 && rightStart == stride)
        return;
    for (int row = firstRow; row < endRow; ++row) {
        unsigned char *line = buffer + stride * row;
        std::memset(line, 0, leftBytes);
        std::memset(line + rightStart, 0, stride - rightStart);
    }
}

bool X11ScreenCopy::fetch(unsigned char *buffer)
{
    xcb_connection_t *c = connection.get();
    // Errors are taken here and dropped, so they never pile up in the event queue.
    xcb_generic_error_t *rawError = nullptr;
    if (segment) {
        Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, root, std::int16_t(clipX), std::int16_t(clipY),
                              std::uint16_t(clipWidth), std::uint16_t(clipHeight), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, segment->id(), 0),
            &rawError));
        Reply<xcb_generic_error_t> error(rawError);
        if (!reply)
            return false;
        convertRows(buffer, segment->data());
        return true;
    }
    Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, std::int16_t(clipX), std::int16_t(clipY),
                      std::uint16_t(clipWidth), std::uint16_t(clipHeight), ~0u),
        &rawError));
    Reply<xcb_generic_error_t> error(rawError);
    if (!reply)
        return false;
    const int length = xcb_get_image_data_length(reply.get());
    if (length < srcStride * clipHeight)
        return false;
    convertRows(buffer, xcb_get_image_data(reply.get()));
    return true;
}

bool X11ScreenCopy::copy(unsigned char *buffer)
{
    if (!running || unreadable)
        return false;
    if (width == 0 || height == 0)
        return true;
    if (format == Format::Unsupported) {
        std::memset(buffer, 0, std::size_t(width) * 4 * height);
        return true;
    }
    takeRootChanges();
    // A copy fails when the root shrank after the last look at its size: look again, then try
    // once more with what is left of the rectangle. A connection the server has closed fails
    // for good.
    if (clipWidth > 0 && clipHeight > 0 && !fetch(buffer)) {
        reReadRootSize();
        if (clipWidth > 0 && clipHeight > 0 && !fetch(buffer)) {
            unreadable = xcb_connection_has_error(connection.get()) != 0;
            if (unreadable)
                Report::once("x11-connection", "The connection to the X server broke; black "
                                               "frames are sent instead of the screen.");
            return false;
        }
    }
    blackOutsideClip(buffer);
    return true;
}

CopyFailure X11ScreenCopy::failure() const
{
    if (!running)
        return CopyFailure::None;
    if (unreadable)
        return CopyFailure::ScreenUnreadable;
    return format == Format::Unsupported ? CopyFailure::UnsupportedFormat : CopyFailure::None;
}

void X11ScreenCopy::end()
{
    segment.reset();
    running = false;
    unreadable = false;
}
