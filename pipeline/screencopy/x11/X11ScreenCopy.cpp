#include "X11ScreenCopy.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

template <typename T> struct FreeDeleter
{
    void operator()(T *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

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
        std::unique_ptr<ShmSegment> seg(new ShmSegment(c, addr));
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
    const unsigned char *data() const { return static_cast<const unsigned char *>(address); }

private:
    ShmSegment(xcb_connection_t *c, void *addr) : connection(c), address(addr) {}

    xcb_connection_t *connection;
    void *address;
    xcb_shm_seg_t seg = 0;
    bool serverAttached = false;
};

X11ScreenCopy::X11ScreenCopy(Transport transport)
{
    if (!connection)
        return;
    const xcb_setup_t *setup = xcb_get_setup(connection.get());
    const xcb_screen_t *screen = connection.screen();
    root = screen->root;
    rootWidth = screen->width_in_pixels;
    rootHeight = screen->height_in_pixels;

    xcb_format_iterator_t fmt = xcb_setup_pixmap_formats_iterator(setup);
    for (; fmt.rem; xcb_format_next(&fmt)) {
        if (fmt.data->depth == screen->root_depth) {
            bitsPerPixel = fmt.data->bits_per_pixel;
            scanlinePad = fmt.data->scanline_pad;
        }
    }
    bool bgr = false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == screen->root_visual)
                bgr = v.data->red_mask == 0xff0000 && v.data->green_mask == 0xff00 &&
                      v.data->blue_mask == 0xff;
        }
    }
    native = bitsPerPixel == 32 && setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST && bgr;

    if (transport == Transport::Automatic) {
        const xcb_query_extension_reply_t *ext =
            xcb_get_extension_data(connection.get(), &xcb_shm_id);
        if (ext && ext->present) {
            Reply<xcb_shm_query_version_reply_t> version(xcb_shm_query_version_reply(
                connection.get(), xcb_shm_query_version(connection.get()), nullptr));
            shmAvailable = version != nullptr;
        }
    }
}

X11ScreenCopy::~X11ScreenCopy()
{
    end();
}

bool X11ScreenCopy::begin(int width, int height, int left, int top)
{
    end();
    if (!connection || bitsPerPixel <= 0)
        return false;
    running = true;
    this->width = std::max(width, 0);
    this->height = std::max(height, 0);
    this->left = left;
    this->top = top;
    // Only the part on the root window can be read; the server refuses anything beyond it.
    // 64-bit sums: left + width must not overflow.
    const long x0 = std::max<long>(left, 0);
    const long y0 = std::max<long>(top, 0);
    const long x1 = std::min<long>(long(left) + this->width, rootWidth);
    const long y1 = std::min<long>(long(top) + this->height, rootHeight);
    clipX = int(x0);
    clipY = int(y0);
    clipWidth = int(std::max<long>(x1 - x0, 0));
    clipHeight = int(std::max<long>(y1 - y0, 0));
    if (clipWidth == 0 || clipHeight == 0)
        return true;
    srcStride = (clipWidth * bitsPerPixel + scanlinePad - 1) / scanlinePad * scanlinePad / 8;
    if (shmAvailable)
        segment = ShmSegment::create(connection.get(), std::size_t(srcStride) * clipHeight);
    // Without a segment (none available, or the server refused it) GetImage still works.
    return true;
}

void X11ScreenCopy::copyRows(unsigned char *buffer, const unsigned char *src, int stride) const
{
    const std::size_t dstStride = std::size_t(width) * 4;
    const std::size_t offsetX = std::size_t(clipX - left) * 4;
    // For a foreign pixel format the source rows may be longer than the room left in the
    // destination row: cut them, never write past the row.
    const std::size_t rowBytes = std::min<std::size_t>(std::size_t(stride), dstStride - offsetX);
    unsigned char *dst = buffer + std::size_t(clipY - top) * dstStride + offsetX;
    if (rowBytes == dstStride && std::size_t(stride) == dstStride) {
        std::memcpy(dst, src, dstStride * clipHeight);
        return;
    }
    for (int row = 0; row < clipHeight; ++row)
        std::memcpy(dst + row * dstStride, src + std::size_t(row) * stride, rowBytes);
}

bool X11ScreenCopy::copy(unsigned char *buffer)
{
    if (!running)
        return false;
    if (clipWidth == 0 || clipHeight == 0)
        return true;
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
        copyRows(buffer, segment->data(), srcStride);
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
    copyRows(buffer, xcb_get_image_data(reply.get()), srcStride);
    return true;
}

void X11ScreenCopy::end()
{
    segment.reset();
    running = false;
}
