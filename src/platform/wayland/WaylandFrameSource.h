#pragma once

#include "platform/FrameSource.h"
#include "platform/wayland/PortalScreenCast.h"

#include <memory>

class Preferences;

// Recorded pictures on a Wayland desktop: each stream asks the ScreenCast
// portal for a monitor and reads its PipeWire node, cut to the recorded
// area. The compositor decides what is drawn, so the application's own
// overlays cannot be left out here.
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

private:
    std::unique_ptr<PortalScreenCast> m_ownPortal;
    PortalScreenCast *m_portal = nullptr;
};
