#pragma once

#include "ScreenCopy.h"

#include <windows.h>

// Small owners for the GDI handles, so that every exit path gives them back.
namespace gdi {

// A device context obtained with GetDC(), given back with ReleaseDC() on the same window.
class WindowDc
{
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc()
    {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc &) = delete;
    WindowDc &operator=(const WindowDc &) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// A memory device context from CreateCompatibleDC(), deleted with DeleteDC().
class MemoryDc
{
public:
    explicit MemoryDc(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDc()
    {
        if (dc_)
            DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc &) = delete;
    MemoryDc &operator=(const MemoryDc &) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// A bitmap, deleted with DeleteObject(). Must not be selected into a DC by then.
class Bitmap
{
public:
    Bitmap() = default;
    explicit Bitmap(HBITMAP bitmap) : bitmap_(bitmap) {}
    ~Bitmap() { reset(); }
    Bitmap(const Bitmap &) = delete;
    Bitmap &operator=(const Bitmap &) = delete;
    HBITMAP get() const { return bitmap_; }
    void reset(HBITMAP bitmap = nullptr)
    {
        if (bitmap_)
            DeleteObject(bitmap_);
        bitmap_ = bitmap;
    }

private:
    HBITMAP bitmap_ = nullptr;
};

// Keeps an object selected into a DC and selects the previous one back when it ends.
class Selection
{
public:
    Selection() = default;
    ~Selection() { restore(); }
    Selection(const Selection &) = delete;
    Selection &operator=(const Selection &) = delete;
    bool select(HDC dc, HGDIOBJ object)
    {
        restore();
        HGDIOBJ previous = SelectObject(dc, object);
        if (!previous || previous == HGDI_ERROR)
            return false;
        dc_ = dc;
        previous_ = previous;
        return true;
    }
    void restore()
    {
        if (dc_)
            SelectObject(dc_, previous_);
        dc_ = nullptr;
        previous_ = nullptr;
    }

private:
    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

} // namespace gdi

// The Windows screen copy: BitBlt from the desktop's DC into a memory bitmap of the
// rectangle's size, then GetBitmapBits into the caller's buffer. The DCs are taken once and
// serve every run; the bitmap lives from begin() to end(). Only the part of the rectangle on
// the virtual screen is blitted, and the rest of the bitmap is black, so a frame never holds
// what the bitmap happened to contain; the virtual screen is looked at again for every copy,
// as monitors come and go.
class GdiScreenCopy final : public ScreenCopy
{
public:
    GdiScreenCopy();
    ~GdiScreenCopy() override;

    bool begin(int width, int height, int left, int top) override;
    bool copy(unsigned char *buffer) override;
    CopyFailure failure() const override;
    void end() override;

private:
    // Takes the virtual screen's bounds now; when they differ from the last look, blacks the
    // bitmap and works out again which part of the rectangle a blit can fill.
    void followVirtualScreen();

    HWND desktopWindow_;
    gdi::WindowDc screenDc_;
    gdi::MemoryDc memoryDc_;
    // Declared before the selection, so that the bitmap is deselected before it is deleted.
    gdi::Bitmap bitmap_;
    gdi::Selection selection_;
    int width_ = 0;
    int height_ = 0;
    int left_ = 0;
    int top_ = 0;
    long frameBytes_ = 0;
    bool begun_ = false;
    // What the last begin() or copy() met.
    CopyFailure failure_ = CopyFailure::None;
    // The virtual screen as last seen, and the part of the rectangle on it: blitted from
    // (srcX_, srcY_) to (dstX_, dstY_) in the bitmap, blitW_ x blitH_ pixels.
    RECT screen_{0, 0, 0, 0};
    int srcX_ = 0, srcY_ = 0, dstX_ = 0, dstY_ = 0, blitW_ = 0, blitH_ = 0;
};
