#include "platform/x11/X11FrameSource.h"

#include "platform/x11/X11Capture.h"
#include "platform/x11/X11DamageWatcher.h"

namespace {

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class X11FrameStream : public FrameStream {
public:
    X11FrameStream(FrameArea area, std::unique_ptr<X11Capture> capture, std::unique_ptr<X11DamageWatcher> watcher)
        : m_area(std::move(area))
        , m_capture(std::move(capture))
        , m_watcher(std::move(watcher))
    {
    }

    Change waitForChange(std::chrono::milliseconds timeout) override
    {
        switch (m_watcher->wait(timeout)) {
        case X11DamageWatcher::Event::changed:
            return Change::changed;
        case X11DamageWatcher::Event::timedOut:
            return Change::timedOut;
        case X11DamageWatcher::Event::interrupted:
            return Change::interrupted;
        case X11DamageWatcher::Event::displayLost:
            return Change::displayLost;
        }
        return Change::timedOut;
    }

    void interrupt() override { m_watcher->interrupt(); }

    PlatformError lossReason() const override { return m_watcher->lossReason(); }

    Result<CapturedFrame, PlatformError> readFrame(const std::vector<NativeWindowId> &excludedWindows) override
    {
        // Rearmed before reading, so that drawing during the read is reported again.
        m_watcher->rearm();
        const int64_t time = steadyNanoseconds();
        GrabRequest request;
        request.pixels = m_area.pixels;
        request.showsCursor = m_area.showsCursor;
        request.excludedWindows = excludedWindows;
        auto image = m_capture->grabBorrowed(request);
        if (!image)
            return Result<CapturedFrame, PlatformError>::failure(image.error());
        return CapturedFrame {std::move(*image), time, m_watcher->changedSinceRearm()};
    }

private:
    FrameArea m_area;
    std::unique_ptr<X11Capture> m_capture;
    std::unique_ptr<X11DamageWatcher> m_watcher;
};

} // namespace

Result<std::unique_ptr<FrameStream>, PlatformError> X11FrameSource::open(const FrameArea &area)
{
    using R = Result<std::unique_ptr<FrameStream>, PlatformError>;
    auto capture = X11Capture::open();
    if (!capture)
        return R::failure(capture.error());
    auto watcher = X11DamageWatcher::open(area.display, area.pixels);
    if (!watcher)
        return R::failure(watcher.error());
    return R(std::make_unique<X11FrameStream>(area, std::move(*capture), std::move(*watcher)));
}
