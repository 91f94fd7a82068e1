#pragma once

#include "FakeNdi.h"
#include "FakeScreenCopy.h"
#include "NdiRuntime.h"
#include "XCaptureThread.h"

#include "Norvane.h"

#include <QSize>

#include <memory>

// Puts the fake NDI table and a fresh fake screen copy in place for one test function, so that
// a window can send without a runtime or a real screen.
class WindowFixture
{
public:
    FakeNdi &ndi = FakeNdi::instance();
    FakeScreenCopy *screen = nullptr; // owned by the capture engine

    void install()
    {
        ndi.reset();
        NdiRuntime::install(ndi.api());
        auto copy = std::make_unique<FakeScreenCopy>();
        screen = copy.get();
        XCaptureThread::instance().setScreenCopy(std::move(copy));
        isSending = false;
    }

    void uninstall()
    {
        // A failed test may have left its window sending; the next one starts idle.
        isSending = false;
        NdiRuntime::install(nullptr);
        screen = nullptr;
    }

    int videoFrames() const { return ndi.videoCount(); }
    QSize lastVideoSize() const
    {
        const auto videos = ndi.videos();
        return videos.empty() ? QSize() : QSize(videos.back().xres, videos.back().yres);
    }
};
