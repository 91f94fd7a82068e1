#pragma once

// The byte orders a PipeWire screen stream may carry, named as PipeWire names them: the order
// of the four bytes of a pixel in memory.
enum class PixelOrder { BGRx, BGRA, RGBx, RGBA };

// One picture as a stream hands it over: height rows of width pixels, stride bytes apart.
struct PictureView
{
    const unsigned char *data = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
    PixelOrder order = PixelOrder::BGRx;
};

// Writes every byte of dst, a packed BGRX frame of dstWidth x dstHeight: the picture's pixels
// where they overlap (red and blue swapped for the RGB orders; the fourth byte passed on, a
// receiver of BGRX ignores it), black elsewhere.
void copyToBgrx(const PictureView &src, unsigned char *dst, int dstWidth, int dstHeight);
