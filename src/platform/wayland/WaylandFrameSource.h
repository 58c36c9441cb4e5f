#pragma once

#include "platform/FrameSource.h"
#include "platform/wayland/PortalScreenCast.h"

#include <functional>
#include <memory>
#include <vector>

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
// The portal is asked with the restore token kept for the area's monitor,
// if any. When the monitor it brings back does not hold the area, the
// session is closed and the portal asked once more without a token, so that
// the user picks the monitor in its chooser. An area that is not wholly on
// the monitor picked there is refused: the rest would be recorded black.
//
// Units: an area comes in desktop pixels; the portal places its streams in
// logical units; a stream's pictures have the monitor's real pixels. The
// area goes to logical units through the screen it is on (the screens as
// the GUI thread sees them when the cast starts), picks the stream there,
// and is cut from the pictures at their own density (DesktopUnits).
class WaylandFrameSource : public FrameSource {
public:
    // The screens whose desktop pixels areas are given in; called on the
    // portal's thread.
    using Screens = std::function<std::vector<DisplayInfo>()>;

    // Create on the GUI thread: the portal's conversation runs there. The
    // screens are Qt's at their real density (WaylandOutputs).
    explicit WaylandFrameSource(PortalScreenCast::TokenStore tokens);
    // With a portal of the caller's (tests), which must outlive this, and
    // screens of the caller's (none: Qt's).
    explicit WaylandFrameSource(PortalScreenCast *portal, Screens screens = {});
    ~WaylandFrameSource() override;

    // The portal's restore tokens kept in PREFERENCES (used on its thread),
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
    Screens m_screens;
};
