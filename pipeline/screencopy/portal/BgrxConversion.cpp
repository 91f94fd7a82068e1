#include "BgrxConversion.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace {

bool readAt(int fd, unsigned char *out, std::size_t size, std::int64_t offset)
{
    while (size > 0) {
        const ssize_t got = pread(fd, out, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

// Reads the picture's rows into dst, each at the start of its row of dst, without mapping the
// file: pages mapped here would stay resident in this process, and letting them go after each
// picture costs more than the copy. Returns how many rows were read whole.
int readRows(const PictureView &src, unsigned char *dst, std::size_t dstStride, int rows,
             std::size_t copied)
{
    if (src.stride >= 0 && static_cast<std::size_t>(src.stride) == dstStride &&
        copied == dstStride)
        return readAt(src.fd, dst, rows * dstStride, src.offset) ? rows : 0;
    for (int y = 0; y < rows; ++y) {
        if (!readAt(src.fd, dst + y * dstStride, copied,
                    src.offset + static_cast<std::int64_t>(y) * src.stride))
            return y;
    }
    return rows;
}

} // namespace

void copyToBgrx(const PictureView &src, unsigned char *dst, int dstWidth, int dstHeight)
{
    const std::size_t dstStride = static_cast<std::size_t>(dstWidth) * 4;
    int rows = src.data || src.fd >= 0 ? std::max(0, std::min(src.height, dstHeight)) : 0;
    const int columns = std::max(0, std::min(src.width, dstWidth));
    const std::size_t copied = static_cast<std::size_t>(columns) * 4;
    const bool swap = src.order == PixelOrder::RGBx || src.order == PixelOrder::RGBA;
    if (!src.data)
        rows = readRows(src, dst, dstStride, rows, copied);
    for (int y = 0; y < rows; ++y) {
        unsigned char *out = dst + y * dstStride;
        if (!src.data) {
            for (int x = 0; swap && x < columns; ++x)
                std::swap(out[x * 4], out[x * 4 + 2]);
            out += copied;
        } else if (swap) {
            const unsigned char *in = src.data + static_cast<std::ptrdiff_t>(y) * src.stride;
            for (int x = 0; x < columns; ++x, in += 4, out += 4) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = in[3];
            }
        } else {
            std::memcpy(out, src.data + static_cast<std::ptrdiff_t>(y) * src.stride, copied);
            out += copied;
        }
        std::memset(out, 0, dstStride - copied);
    }
    std::memset(dst + rows * dstStride, 0, std::max(0, dstHeight - rows) * dstStride);
}
