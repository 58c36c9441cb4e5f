#pragma once

#include "platform/FrameSource.h"

// Recorded pictures from the X server: an X11Capture reads them (Composite,
// without the application's overlays) and an X11DamageWatcher says when they
// may have changed. Each stream has both connections to itself, so that its
// capture thread never shares one with Qt or another recording.
class X11FrameSource : public FrameSource {
public:
    Result<std::unique_ptr<FrameStream>, PlatformError> open(const FrameArea &area) override;
};
