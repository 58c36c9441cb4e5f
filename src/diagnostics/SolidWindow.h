#pragma once

#include "core/CaptureTarget.h"
#include "platform/ScreenSource.h"

#include <QColor>
#include <QRasterWindow>
#include <memory>

namespace SelfTest {

// A window of the application filled with one colour.
class SolidWindow : public QRasterWindow {
public:
    explicit SolidWindow(QColor colour)
        : m_colour(colour)
    {
        setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        setTitle(QStringLiteral("Velunta autoteste"));
    }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_colour;
};

// An ordinary window of the application, but at a raised level: captures and
// recordings leave it out while it is really on screen.
std::unique_ptr<SolidWindow> magentaWindow(const DisplayInfo &screen, const CaptureTarget &target);

// An ordinary mid-grey window over the whole area, which recordings keep: a
// desktop that is black there (a bare X server, a black wallpaper) would
// otherwise make every frame count as black.
std::unique_ptr<SolidWindow> backdropWindow(const DisplayInfo &screen, const CaptureTarget &target);

// Shows the backdrop over its area; on Wayland, where a client cannot place
// its windows, over its whole screen instead.
void showBackdrop(QWindow &window, const DisplayInfo &screen, bool onWayland);

} // namespace SelfTest
