#include "SolidWindow.h"

#include "diagnostics/SelfTest.h"
#include "platform/WindowLevel.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace SelfTest {

void SolidWindow::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(QRect(QPoint(), size()), m_colour);
}

std::unique_ptr<SolidWindow> magentaWindow(const DisplayInfo &screen, const CaptureTarget &target)
{
    auto window = std::make_unique<SolidWindow>(QColor::fromRgbF(1, 0, 1, 1));
    window->setFlag(Qt::WindowStaysOnTopHint);
    WindowLevel::set(window.get(), WindowLevel::Level::floating);
    const QRectF onScreen = magentaWindowRect(target).translated(screen.frame.topLeft());
    window->setGeometry(onScreen.toRect());
    return window;
}

std::unique_ptr<SolidWindow> backdropWindow(const DisplayInfo &screen, const CaptureTarget &target)
{
    auto window = std::make_unique<SolidWindow>(QColor(0x80, 0x80, 0x80));
    const QRectF area = target.rect.value_or(QRectF(QPointF(), screen.frame.size()));
    window->setGeometry(area.translated(screen.frame.topLeft()).toAlignedRect());
    return window;
}

void showBackdrop(QWindow &window, const DisplayInfo &screen, bool onWayland)
{
    if (!onWayland) {
        window.show();
        return;
    }
    for (QScreen *candidate : QGuiApplication::screens()) {
        if (candidate->name() == screen.name)
            window.setScreen(candidate);
    }
    window.showFullScreen();
}

} // namespace SelfTest
