#pragma once

// The ScreenCast's cursor modes, as bits of its AvailableCursorModes.
constexpr unsigned hiddenCursor = 1;
constexpr unsigned embeddedCursor = 2;
constexpr unsigned metadataCursor = 4;

// The cursor mode to ask for among those available: the frames hold no pointer, as the X11
// and GDI copies hold none, so Hidden, else Metadata (the pointer beside the picture), else
// Embedded; 0 when none is offered: then none is asked for, since asking for a mode the
// desktop does not offer fails the request.
constexpr unsigned cursorModeFor(unsigned available)
{
    return (available & hiddenCursor)     ? hiddenCursor
           : (available & metadataCursor) ? metadataCursor
           : (available & embeddedCursor) ? embeddedCursor
                                          : 0;
}
