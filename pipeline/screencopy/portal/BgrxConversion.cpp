#include "BgrxConversion.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

void copyToBgrx(const PictureView &src, unsigned char *dst, int dstWidth, int dstHeight)
{
    const std::size_t dstStride = static_cast<std::size_t>(dstWidth) * 4;
    const int rows = src.data ? std::min(src.height, dstHeight) : 0;
    const int columns = std::max(0, std::min(src.width, dstWidth));
    const std::size_t copied = static_cast<std::size_t>(columns) * 4;
    const bool swap = src.order == PixelOrder::RGBx || src.order == PixelOrder::RGBA;
    for (int y = 0; y < rows; ++y) {
        const unsigned char *in = src.data + static_cast<std::ptrdiff_t>(y) * src.stride;
        unsigned char *out = dst + y * dstStride;
        if (swap) {
            for (int x = 0; x < columns; ++x, in += 4, out += 4) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = in[3];
            }
        } else {
            std::memcpy(out, in, copied);
            out += copied;
        }
        std::memset(out, 0, dstStride - copied);
    }
    const int blackRows = std::max(0, dstHeight - std::max(rows, 0));
    std::memset(dst + std::max(rows, 0) * dstStride, 0, blackRows * dstStride);
}
