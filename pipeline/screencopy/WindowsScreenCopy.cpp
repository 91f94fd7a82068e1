#include "GdiScreenCopy.h"
#include "ScreenCopy.h"

// Windows has one way to copy the desktop that works from a plain program: GDI.
std::unique_ptr<ScreenCopy> createPlatformScreenCopy()
{
    return std::make_unique<GdiScreenCopy>();
}
