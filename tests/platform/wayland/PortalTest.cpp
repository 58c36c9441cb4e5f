// The pieces of the Wayland backend that need no compositor: request paths,
// what an introspection lists, which files a portal leaves to be cleaned up,
// shortcut triggers, what holds until the portal answers, and cutting a
// screen out of a desktop picture.
#include "platform/wayland/Portal.h"
#include "platform/wayland/WaylandHotKeys.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "support/AwaitTask.h"
#include "support/EventLoopWait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Portal, RequestPathsFollowTheCallersUniqueNameAndToken)
{
    EXPECT_EQ(Portal::requestPath(":1.42", "velunta7"), "/org/freedesktop/portal/desktop/request/1_42/velunta7");
    EXPECT_EQ(Portal::requestPath(":1.2.3", "t"), "/org/freedesktop/portal/desktop/request/1_2_3/t");
}

TEST(Portal, IntrospectionListsOnlyTheObjectsOwnInterfaces)
{
    const QString xml = R"(<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
        "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
        <node>
          <interface name="org.freedesktop.DBus.Properties"><method name="Get"/></interface>
          <interface name="org.freedesktop.portal.Screenshot">
            <property name="version" type="u" access="read"/>
          </interface>
          <node name="request"><interface name="org.freedesktop.portal.Request"/></node>
        </node>)";
    EXPECT_EQ(Portal::interfacesIn(xml),
        QStringList({"org.freedesktop.DBus.Properties", "org.freedesktop.portal.Screenshot"}));
    EXPECT_TRUE(Portal::interfacesIn("<node><interface name=").isEmpty());
    EXPECT_TRUE(Portal::interfacesIn("").isEmpty());
}

TEST(Portal, TheRefusalNamesTheMissingInterface)
{
    EXPECT_TRUE(Portal::missingText(Portal::screenshotInterface).contains("org.freedesktop.portal.Screenshot"));
    EXPECT_NE(Portal::responseError(1, "x").description, Portal::responseError(2, "x").description);
}

TEST(Portal, OnlyFilesInTemporaryPlacesAreTheCallersToRemove)
{
    QTemporaryDir temp;
    const QStringList roots {temp.path(), "/run/user/0"};
    EXPECT_TRUE(Portal::isTemporaryFile(temp.path() + "/shot.png", roots));
    EXPECT_TRUE(Portal::isTemporaryFile("/run/user/0/doc/shot.png", roots));
    EXPECT_FALSE(Portal::isTemporaryFile(QDir::homePath() + "/Imagens/Captura de tela.png", roots));
    // A neighbour whose name only starts like a root is not inside it.
    EXPECT_FALSE(Portal::isTemporaryFile(temp.path() + "x/shot.png", roots));
    // Nor is a path that climbs out of it.
    EXPECT_FALSE(Portal::isTemporaryFile(temp.path() + "/../../home/user/shot.png", roots));
    // The root folder itself is never counted as temporary.
    EXPECT_FALSE(Portal::isTemporaryFile("/home/user/shot.png", {"/"}));
}

TEST(WaylandHotKeys, TriggersAndIdsInThePortalsWords)
{
    EXPECT_EQ(
        WaylandHotKeys::triggerText(QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_1)), "ALT+SHIFT+1");
    EXPECT_EQ(
        WaylandHotKeys::triggerText(QKeyCombination(Qt::ControlModifier | Qt::MetaModifier, Qt::Key_A)), "CTRL+LOGO+A");
    for (int index : {0, 3, 11})
        EXPECT_EQ(WaylandHotKeys::indexOf(WaylandHotKeys::shortcutId(index)), index);
    EXPECT_EQ(WaylandHotKeys::indexOf("velunta-0"), -1);
    EXPECT_EQ(WaylandHotKeys::indexOf("other-1"), -1);
    EXPECT_EQ(WaylandHotKeys::indexOf("velunta-x"), -1);
}

TEST(WaylandHotKeys, WithoutThePortalEveryShortcutIsUnavailableAndTheReasonSaysSo)
{
    WaylandHotKeys keys(
        QDBusConnection(QStringLiteral("none")), std::make_shared<PortalInterfaces>(Portal::Versions {}));
    EXPECT_EQ(
        keys.registerShortcuts({QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_1)}), QList<int>({0}));
    EXPECT_EQ(keys.registerShortcuts({QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_2),
                  QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_3)}),
        QList<int>({1, 2}));
    EXPECT_TRUE(keys.unavailableReason().contains("velunta --screenshot"));
}

namespace {

using TestSupport::spin;
using TestSupport::waitUntil;

// A bus that is not connected: the portal's answer (nothing offered) comes
// from the event loop, as a real one would some time after the start.
std::shared_ptr<PortalInterfaces> portalStillBeingAsked()
{
    return std::make_shared<PortalInterfaces>(QDBusConnection(QStringLiteral("none")), std::chrono::seconds(5));
}

} // namespace

TEST(WaylandHotKeys, ShortcutsRegisteredBeforeThePortalAnswersAreReportedLostWhenItHasNone)
{
    const auto portal = portalStillBeingAsked();
    ASSERT_FALSE(portal->isKnown());
    WaylandHotKeys keys(QDBusConnection(QStringLiteral("none")), portal);
    QList<QList<int>> lost;
    QObject::connect(&keys, &HotKeySource::becameUnavailable, [&](const QList<int> &indices) { lost << indices; });
    const QKeyCombination one(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_1);
    const QKeyCombination two(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_2);
    EXPECT_EQ(keys.registerShortcuts({one, two}), QList<int>());
    EXPECT_TRUE(keys.unavailableReason().isEmpty()) << "nothing is known to be missing yet";

    ASSERT_TRUE(waitUntil([&] { return portal->isKnown(); }, 2000));
    EXPECT_EQ(lost, QList<QList<int>>({{0, 1}}));
    EXPECT_TRUE(keys.unavailableReason().contains("velunta --screenshot"));
    // Registered after the answer: refused at once, and not reported again.
    EXPECT_EQ(
        keys.registerShortcuts({QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_3)}), QList<int>({2}));
    spin(50);
    EXPECT_EQ(lost.size(), 1);
}

TEST(WaylandScreenSource, UntilThePortalAnswersCapturesCountAsAllowedAndAGrabWaitsForTheAnswer)
{
    const auto portal = portalStillBeingAsked();
    WaylandScreenSource screens(QDBusConnection(QStringLiteral("none")), portal);
    int told = 0;
    screens.whenAccessKnown([&] { ++told; });
    EXPECT_TRUE(screens.screenCaptureAllowed());
    EXPECT_TRUE(screens.accessProblem().isEmpty());
    EXPECT_EQ(told, 0);

    const DisplayInfo display = screens.displays().at(0);
    auto grab = awaitTask(screens.grab(GrabRequest {display.pixelGeometry, {}, false}));
    ASSERT_FALSE(grab) << "a picture without a Screenshot portal";
    EXPECT_TRUE(grab.error().description.contains("org.freedesktop.portal.Screenshot"))
        << grab.error().description.toStdString();
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(screens.screenCaptureAllowed());
    EXPECT_TRUE(screens.accessProblem().contains("org.freedesktop.portal.Screenshot"));
    // Asked afterwards: answered at once.
    screens.whenAccessKnown([&] { ++told; });
    EXPECT_EQ(told, 2);
}

TEST(WaylandScreenSource, AnAreaMustLieOnOneScreenSaveForItsRoundedFarEdges)
{
    const QRect screen(1920, 0, 1280, 1024);
    EXPECT_TRUE(WaylandScreenSource::holdsArea(screen, screen));
    EXPECT_TRUE(WaylandScreenSource::holdsArea(screen, QRect(2020, 100, 401, 301)));
    // A scaled area's edges are rounded apart: one pixel past the far edges.
    EXPECT_TRUE(WaylandScreenSource::holdsArea(screen, QRect(1921, 1, 1280, 1024)));
    EXPECT_FALSE(WaylandScreenSource::holdsArea(screen, QRect(1919, 0, 100, 100))) << "begins on the screen beside";
    EXPECT_FALSE(WaylandScreenSource::holdsArea(screen, QRect(3000, 900, 401, 301))) << "reaches past both edges";
    EXPECT_FALSE(WaylandScreenSource::holdsArea(screen, QRect(1920, 0, 0, 0)));
}

TEST(WaylandScreenSource, ScreenIdsAreStableAndNeverZero)
{
    EXPECT_EQ(WaylandScreenSource::idForName("Meta-0"), WaylandScreenSource::idForName("Meta-0"));
    EXPECT_NE(WaylandScreenSource::idForName("Meta-0"), WaylandScreenSource::idForName("Meta-1"));
    EXPECT_NE(WaylandScreenSource::idForName(""), 0u);
}

namespace {

// A desktop picture whose every pixel tells its own position.
QImage positions(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 16 + y / 256));
    return image;
}

} // namespace

TEST(WaylandScreenSource, ACropIsExactlyTheAskedPixelsAndBlackOutsideThePicture)
{
    const QImage picture = positions({300, 200});
    // A desktop whose left edge is at -100 (a screen left of the primary).
    const QRect desktop(-100, 0, 300, 200);
    QImage crop = cropDesktopPicture(picture, desktop, QRect(-50, 10, 40, 30));
    ASSERT_EQ(crop.size(), QSize(40, 30));
    EXPECT_EQ(crop.format(), QImage::Format_RGB32);
    EXPECT_EQ(crop, picture.copy(50, 10, 40, 30).convertToFormat(QImage::Format_RGB32));

    crop = cropDesktopPicture(picture, desktop, QRect(180, 190, 40, 20));
    ASSERT_EQ(crop.size(), QSize(40, 20));
    EXPECT_EQ(crop.pixel(0, 0), picture.pixel(280, 190));
    EXPECT_EQ(crop.pixel(19, 9), picture.pixel(299, 199));
    EXPECT_EQ(crop.pixel(20, 0), qRgb(0, 0, 0));
    EXPECT_EQ(crop.pixel(0, 10), qRgb(0, 0, 0));
}

TEST(WaylandScreenSource, APictureOfAnotherDensityIsScaledToTheScreensPixels)
{
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    for (int y = 0; y < 200; ++y)
        for (int x = 200; x < 400; ++x)
            picture.setPixel(x, y, qRgb(0, 0, 255));
    // Qt thinks the desktop is 200×100 pixels; the portal gave twice that.
    const QImage crop = cropDesktopPicture(picture, QRect(0, 0, 200, 100), QRect(50, 0, 100, 100));
    ASSERT_EQ(crop.size(), QSize(100, 100));
    EXPECT_EQ(crop.pixel(10, 50), qRgb(255, 0, 0));
    EXPECT_EQ(crop.pixel(90, 50), qRgb(0, 0, 255));
}
