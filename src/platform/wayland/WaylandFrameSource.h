#pragma once

#include "platform/FrameSource.h"
#include "platform/wayland/PortalScreenCast.h"

#include <memory>

class Preferences;

// Recorded pictures on a Wayland desktop: a ScreenCast portal session shows
// a monitor, whose PipeWire node is read and cut to the recorded area. The
// compositor decides what is drawn, so the application's own overlays cannot
// be left out here.
//
// A recording holds one session from its start to its stop
// (forOneRecording): the desktop shows that the screen is shared for as long
// as a session lives, and a new one could ask the user again. While the
// recording is paused the stream keeps running and its pictures are dropped;
// a stream that ended meanwhile is reported as lost to the next segment.
//
// An area that is not wholly on the monitor the portal gives is refused: the
// rest would be recorded black.
class WaylandFrameSource : public FrameSource {
public:
    // Create on the GUI thread: the portal's conversation runs there.
    explicit WaylandFrameSource(PortalScreenCast::TokenStore tokens);
    // With a portal of the caller's (tests), which must outlive this.
    explicit WaylandFrameSource(PortalScreenCast *portal);
    ~WaylandFrameSource() override;

    // The portal's restore token kept in PREFERENCES (used on its thread),
    // or for this run only when there are none.
    static PortalScreenCast::TokenStore tokensIn(Preferences *preferences);

    // Blocks until the portal answers (which may take a consent dialog):
    // call it off the portal's thread.
    Result<std::unique_ptr<FrameStream>, PlatformError> open(const FrameArea &area) override;
    std::unique_ptr<FrameSource> forOneRecording() override;

    // The text of the refusal for an area the portal's monitor does not hold.
    static QString areaOutsideText();

    struct Cast;

private:
    class Recording;
    Result<std::shared_ptr<Cast>, PlatformError> openCast(const FrameArea &area);

    std::unique_ptr<PortalScreenCast> m_ownPortal;
    PortalScreenCast *m_portal = nullptr;
};
