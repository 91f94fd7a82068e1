#include "GdiScreenCopy.h"

#include <algorithm>

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
    if (width < 0 || height < 0 || !memoryDc_.get()) {
        failure_ = CopyFailure::ScreenUnreadable;
        return false;
    }
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
    const bool described = bitmap_.get() && GetObject(bitmap_.get(), sizeof info, &info);
    if (!described || info.bmBitsPixel != 32 ||
        !selection_.select(memoryDc_.get(), bitmap_.get())) {
        const bool otherFormat = described && info.bmBitsPixel != 32;
        end();
        failure_ = otherFormat ? CopyFailure::UnsupportedFormat : CopyFailure::ScreenUnreadable;
        return false;
    }
    frameBytes_ = static_cast<long>(width) * height * 4;
    screen_ = RECT{0, 0, 0, 0};
    followVirtualScreen();
    return true;
}

void GdiScreenCopy::followVirtualScreen()
{
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const RECT now{x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                   y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    if (EqualRect(&now, &screen_))
        return;
    screen_ = now;
    PatBlt(memoryDc_.get(), 0, 0, width_, height_, BLACKNESS);
    // 64-bit sums: left + width must not overflow.
    const long long x0 = std::max<long long>(left_, now.left);
    const long long y0 = std::max<long long>(top_, now.top);
    const long long x1 = std::min<long long>(static_cast<long long>(left_) + width_, now.right);
    const long long y1 = std::min<long long>(static_cast<long long>(top_) + height_, now.bottom);
    srcX_ = static_cast<int>(x0);
    srcY_ = static_cast<int>(y0);
    dstX_ = static_cast<int>(x0 - left_);
    dstY_ = static_cast<int>(y0 - top_);
    blitW_ = static_cast<int>(std::max<long long>(x1 - x0, 0));
    blitH_ = static_cast<int>(std::max<long long>(y1 - y0, 0));
}

bool GdiScreenCopy::copy(unsigned char *buffer)
{
    if (!begun_)
        return false;
    if (frameBytes_ == 0)
        return true;
    followVirtualScreen();
    const BOOL blitted = blitW_ == 0 || blitH_ == 0 ||
                         BitBlt(memoryDc_.get(), dstX_, dstY_, blitW_, blitH_, screenDc_.get(),
                                srcX_, srcY_, SRCCOPY);
    const LONG copied = GetBitmapBits(bitmap_.get(), frameBytes_, buffer);
    // The desktop refuses blits at times (a secure desktop: the sign-in or an elevation
    // prompt); black frames go out meanwhile, and the failure says why.
    const bool done = blitted && copied == frameBytes_;
    failure_ = done ? CopyFailure::None : CopyFailure::ScreenUnreadable;
    return done;
}

CopyFailure GdiScreenCopy::failure() const
{
    return failure_;
}

void GdiScreenCopy::end()
{
    selection_.restore();
    bitmap_.reset();
    width_ = height_ = left_ = top_ = 0;
    frameBytes_ = 0;
    begun_ = false;
    failure_ = CopyFailure::None;
}
