#pragma once

#include "platform/ScreenSource.h"
#include "platform/wayland/DesktopUnits.h"

#include <vector>

// The compositor's own word on its outputs, asked on a Wayland connection of
// Velunta's own (Qt's is Qt's business): where each lies in logical units
// and its current mode in pixels. That is the one place a client learns a
// fractional scale under Qt 6.4 (see DesktopUnits).
namespace WaylandOutputs {

// The outputs of the compositor at WAYLAND_DISPLAY; none when there is no
// Wayland display to ask. Blocks for two round trips to the compositor.
std::vector<DesktopUnits::Output> query();

// Qt's screens in Qt's order, each with its real density and its desktop
// pixels (DesktopUnits::pixelLayout). The outputs are asked again when Qt's
// screens change and at most once a second otherwise. GUI thread only.
std::vector<DisplayInfo> displays();

// The id Velunta gives the screen named NAME.
DisplayId idForName(const QString &name);

} // namespace WaylandOutputs
