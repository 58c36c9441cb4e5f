#pragma once

// What the overlay tests on a real X server share: the X11 services, xdotool
// and xprop, and windows filled with one colour.

#include "feedback/PickRun.h"
#include "feedback/SelectionOverlay.h"
#include "platform/PlatformServices.h"
#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"
#include "support/ColouredWindow.h"
#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace OverlayX11 {

using TestSupport::ColouredWindow;
using TestSupport::countColour;
using TestSupport::nearColour;

inline PlatformServices &services()
{
    static PlatformServices instance = PlatformServices::create();
    return instance;
}

inline WindowManager &windowManager()
{
    static std::unique_ptr<WindowManager> instance = WindowManager::create();
    return *instance;
}

// Runs xdotool with ARGUMENTS; its exit code.
inline int xdotool(const QStringList &arguments)
{
    const auto result = TestSupport::run("xdotool", arguments, QProcessEnvironment::systemEnvironment(), 10000);
    return result.exitCode;
}

// The root's _NET_ACTIVE_WINDOW as xprop reads it; 0 for none.
inline quint32 activeWindowByXprop()
{
    const auto result
        = TestSupport::run("xprop", {"-root", "_NET_ACTIVE_WINDOW"}, QProcessEnvironment::systemEnvironment(), 10000);
    const auto match = QRegularExpression(R"(window id # (0x[0-9a-fA-F]+))").match(QString::fromUtf8(result.out));
    return match.hasMatch() ? match.captured(1).toUInt(nullptr, 16) : 0;
}

inline std::optional<DisplayInfo> displayNamed(const QString &name)
{
    for (const DisplayInfo &display : services().screens->displays()) {
        if (display.name == name)
            return display;
    }
    return std::nullopt;
}

class Fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_EQ(services().backend, QStringLiteral("x11"));
        overlay = std::make_unique<SelectionOverlay>(*services().screens, windowManager());
    }

    void TearDown() override
    {
        // Nothing held down into the next test.
        if (overlay && overlay->isShowing())
            xdotool({"mouseup", "1"});
        overlay.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Starts a pick and waits until every overlay window has been drawn.
    std::unique_ptr<PickRun> startPick()
    {
        bool drawn = false;
        auto connection = QObject::connect(overlay.get(), &SelectionOverlay::shown, [&drawn] { drawn = true; });
        auto run = std::make_unique<PickRun>(*overlay);
        const bool ok = waitUntil([&] { return drawn; });
        QObject::disconnect(connection);
        EXPECT_TRUE(ok) << "the overlay was never drawn";
        // Let the X server map and the keyboard grab land.
        waitUntil([&] {
            for (const auto &window : overlay->windows()) {
                if (window && window->hasKeyboardGrab())
                    return true;
            }
            return false;
        });
        spin(100);
        return run;
    }

    SelectionWindow *keyWindow() const
    {
        for (const auto &window : overlay->windows()) {
            if (window && window->hasKeyboardGrab())
                return window;
        }
        return nullptr;
    }

    // A real drag through the X server with the left button, in global points.
    void dragWithXdotool(QPoint from, QPoint to)
    {
        const QPoint middle = (from + to) / 2;
        ASSERT_EQ(xdotool({"mousemove", QString::number(from.x()), QString::number(from.y())}), 0);
        ASSERT_EQ(xdotool({"mousedown", "1"}), 0);
        ASSERT_EQ(xdotool({"mousemove", QString::number(middle.x()), QString::number(middle.y())}), 0);
        ASSERT_EQ(xdotool({"mousemove", QString::number(to.x()), QString::number(to.y())}), 0);
        ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
    }

    std::unique_ptr<SelectionOverlay> overlay;
};

} // namespace OverlayX11
