#include "GdiScreenCopy.h"

GdiScreenCopy::GdiScreenCopy()
    : desktopWindow_(GetDesktopWindow()), screenDc_(desktopWindow_), memoryDc_(screenDc_.get())
{
}

GdiScreenCopy::~GdiScreenCopy()
{
    end();
}

bool GdiScreenCopy::begin(int width, int height, int left, int top)
{
    end();
    if (width < 0 || height < 0 || !memoryDc_.get())
        return false;
    width_ = width;
    height_ = height;
    left_ = left;
    top_ = top;
    begun_ = true;
    // An empty rectangle is a valid run with nothing to copy; GDI would make a 1x1
    // monochrome bitmap of it, so none is made.
    if (width == 0 || height == 0)
        return true;

    bitmap_.reset(CreateCompatibleBitmap(screenDc_.get(), width, height));
    BITMAP info{};
    // GetBitmapBits hands out the screen's own layout; only 32 bits per pixel is the
    // frame layout, and nothing here converts another one.
    if (!bitmap_.get() || !GetObject(bitmap_.get(), sizeof info, &info) || info.bmBitsPixel != 32 ||
        !selection_.select(memoryDc_.get(), bitmap_.get())) {
        end();
        return false;
    }
    frameBytes_ = static_cast<long>(width) * height * 4;
    return true;
}

bool GdiScreenCopy::copy(unsigned char *buffer)
{
    if (!begun_)
        return false;
    if (frameBytes_ == 0)
        return true;
    const BOOL blitted =
        BitBlt(memoryDc_.get(), 0, 0, width_, height_, screenDc_.get(), left_, top_, SRCCOPY);
    const LONG copied = GetBitmapBits(bitmap_.get(), frameBytes_, buffer);
    return blitted && copied == frameBytes_;
}

void GdiScreenCopy::end()
{
    selection_.restore();
    bitmap_.reset();
    width_ = height_ = left_ = top_ = 0;
    frameBytes_ = 0;
    begun_ = false;
}

std::unique_ptr<ScreenCopy> createPlatformScreenCopy()
{
    return std::make_unique<GdiScreenCopy>();
}
