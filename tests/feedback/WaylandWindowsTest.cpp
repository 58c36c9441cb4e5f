// Velunta's own windows where a client cannot place them (headless mutter and
// the test portal, through tests/support/on-wayland): the toast as a desktop
// notification (read back from the test notification server) or, without a
// server, as its panel; the recording ring over the recorded screen, letting
// clicks through; the bar as an ordinary window; and the portal's consent
// asked once, so that the first recording brings no dialog.
#include "app/ControllerFakes.h"
#include "feedback/RecordingOverlays.h"
#include "feedback/Toast.h"
#include "platform/WindowLevel.h"
#include "platform/wayland/Portal.h"
#include "platform/wayland/PortalScreenCast.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "support/EventLoopWait.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>
#include <QWindow>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;
using TestSupport::spin;
using TestSupport::waitUntil;

namespace {

const QString notificationsName = QStringLiteral("org.freedesktop.Notifications");

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool nameOwned(const QString &name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

// tests/support/notifications/test_notifications.py on the test desktop's bus.
class NotificationServer {
public:
    explicit NotificationServer(QStringList arguments = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
            QStringList {TestSupport::sourceDir() + "/tests/support/notifications/test_notifications.py"} + arguments);
        m_ready = waitUntil([] { return nameOwned(notificationsName); }, 10000);
    }
    ~NotificationServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
        waitUntil([] { return !nameOwned(notificationsName); }, 5000);
    }
    bool ready() const { return m_ready; }

    QJsonArray sent()
    {
        const QDBusReply<QString> reply = control().call(QStringLiteral("Sent"));
        return QJsonDocument::fromJson(reply.value().toUtf8()).array();
    }
    QList<uint> shown()
    {
        const QDBusReply<QList<uint>> reply = control().call(QStringLiteral("Shown"));
        return reply.value();
    }
    bool click(uint id)
    {
        const QDBusReply<bool> reply = control().call(QStringLiteral("Click"), id);
        return reply.isValid() && reply.value();
    }

private:
    static QDBusInterface control()
    {
        return QDBusInterface(notificationsName, QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("app.velunta.TestNotifications"));
    }

    QProcess m_process;
    bool m_ready = false;
};

class WaylandToast : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!onWayland())
            GTEST_SKIP() << "needs the Wayland test desktop (tests/support/on-wayland)";
    }
    void TearDown() override { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    FakeDesktopServices desktop;
};

QImage screenshotLike()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(20, 120, 220));
    return image;
}

QDBusInterface portalControl()
{
    return QDBusInterface(QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("app.velunta.TestPortal.ScreenCast"));
}

uint dialogCount()
{
    const QDBusReply<uint> reply = portalControl().call(QStringLiteral("DialogCount"));
    return reply.isValid() ? reply.value() : 9999;
}

using Tokens = std::vector<Preferences::ScreenCastToken>;

PortalScreenCast::TokenStore tokensIn(std::shared_ptr<Tokens> tokens)
{
    return {[tokens] { return *tokens; }, [tokens](const Tokens &value) { *tokens = value; }};
}

} // namespace

TEST_F(WaylandToast, ASavedCaptureIsADesktopNotificationWhoseClickOpensTheFile)
{
    NotificationServer server;
    ASSERT_TRUE(server.ready());
    Toast toast(&desktop);
    const QString path = QStringLiteral("/tmp/Velunta/Print 2026-12-08 às 10.00.00.png");
    toast.show(QStringLiteral("Print salvo"), path, screenshotLike());
    ASSERT_TRUE(waitUntil([&] { return toast.notificationId() != 0; }, 5000));
    EXPECT_FALSE(toast.view()) << "no panel where the notice went to the desktop";

    const QJsonArray sent = server.sent();
    ASSERT_EQ(sent.size(), 1);
    const QJsonObject notice = sent[0].toObject();
    EXPECT_EQ(notice["app_name"].toString(), "Velunta");
    EXPECT_EQ(notice["summary"].toString(), "Print salvo");
    EXPECT_EQ(notice["body"].toString(), "Print 2026-12-08 às 10.00.00.png");
    EXPECT_EQ(notice["actions"].toArray(), QJsonArray({"default", "Abrir"}));
    EXPECT_EQ(notice["expire_timeout"].toInt(), Toast::displayTimeMs);
    const QJsonObject hints = notice["hints"].toObject();
    EXPECT_EQ(hints["desktop-entry"].toString(), "app.velunta.Velunta");
    const QJsonObject image = hints["image-data"].toObject();
    EXPECT_EQ(image["width"].toInt(), 256);
    EXPECT_EQ(image["height"].toInt(), 144);
    EXPECT_EQ(image["channels"].toInt(), 4);
    EXPECT_EQ(image["bytes"].toInt(), image["rowstride"].toInt() * 144);

    ASSERT_TRUE(server.click(toast.notificationId()));
    ASSERT_TRUE(waitUntil([&] { return !desktop.opened.isEmpty(); }, 5000));
    EXPECT_EQ(desktop.opened, QList<QUrl>({QUrl::fromLocalFile(path)}));
    EXPECT_EQ(toast.notificationId(), 0u);
}

TEST_F(WaylandToast, TheNextCaptureReplacesTheNoticeInPlaceAndHideWithdrawsIt)
{
    NotificationServer server;
    ASSERT_TRUE(server.ready());
    Toast toast(&desktop);
    toast.show(QStringLiteral("Print salvo"), QStringLiteral("/tmp/a.png"), QImage());
    ASSERT_TRUE(waitUntil([&] { return toast.notificationId() != 0; }, 5000));
    const uint first = toast.notificationId();
    toast.show(QStringLiteral("Gravação salva"), QStringLiteral("/tmp/b.mp4"), QImage());
    ASSERT_TRUE(waitUntil([&] { return server.sent().size() == 2; }, 5000));
    spin(200);
    const QJsonObject second = server.sent()[1].toObject();
    EXPECT_EQ(second["replaces_id"].toInt(), int(first));
    EXPECT_FALSE(second["hints"].toObject().contains("image-data"));
    EXPECT_EQ(server.shown(), QList<uint>({first}));
    EXPECT_EQ(toast.notificationId(), first);

    // Two in a row before the server answered the first: one stays.
    toast.show(QStringLiteral("Print salvo"), QStringLiteral("/tmp/c.png"), QImage());
    toast.show(QStringLiteral("Print salvo"), QStringLiteral("/tmp/d.png"), QImage());
    ASSERT_TRUE(waitUntil([&] { return server.sent().size() == 4; }, 5000));
    spin(300);
    EXPECT_EQ(server.shown().size(), 1);

    toast.hide();
    EXPECT_EQ(toast.notificationId(), 0u);
    ASSERT_TRUE(waitUntil([&] { return server.shown().isEmpty(); }, 5000));
    // A click that comes after the notice is gone opens nothing.
    EXPECT_TRUE(desktop.opened.isEmpty());
}

TEST_F(WaylandToast, AServerWithoutActionsGetsNoClickToOffer)
{
    NotificationServer server({QStringLiteral("--without-actions")});
    ASSERT_TRUE(server.ready());
    Toast toast(&desktop);
    toast.show(QStringLiteral("Gravação salva"), QStringLiteral("/tmp/x.mp4"), QImage());
    ASSERT_TRUE(waitUntil([&] { return toast.notificationId() != 0; }, 5000));
    EXPECT_TRUE(server.sent()[0].toObject()["actions"].toArray().isEmpty());
    toast.showNotice(QStringLiteral("O microfone escolhido não está conectado."));
    ASSERT_TRUE(waitUntil([&] { return server.sent().size() == 2; }, 5000));
    EXPECT_EQ(server.sent()[1].toObject()["summary"].toString(), "O microfone escolhido não está conectado.");
}

TEST_F(WaylandToast, WithoutANotificationServerThePanelShows)
{
    ASSERT_FALSE(nameOwned(notificationsName)) << "the test desktop has no notification server of its own";
    Toast toast(&desktop);
    toast.show(QStringLiteral("Print salvo"), QStringLiteral("/tmp/a.png"), QImage());
    ASSERT_TRUE(waitUntil([&] { return toast.view() != nullptr; }, 5000));
    EXPECT_EQ(toast.notificationId(), 0u);
    EXPECT_EQ(toast.view()->title(), "Print salvo");
    EXPECT_TRUE(waitUntil([&] { return toast.view() && toast.view()->windowHandle()->isExposed(); }, 5000));
    toast.hide();
    EXPECT_FALSE(toast.view());
}

class WaylandRecordingWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!onWayland())
            GTEST_SKIP() << "needs the Wayland test desktop (tests/support/on-wayland)";
        QDBusConnection bus = QDBusConnection::sessionBus();
        auto portal = std::make_shared<PortalInterfaces>(bus, 5s);
        ASSERT_TRUE(waitUntil([&] { return portal->isKnown(); }, 6000));
        screens = std::make_unique<WaylandScreenSource>(bus, portal, tokensIn(token));
        overlays = std::make_unique<RecordingOverlays>(*screens, nullptr);
    }
    void TearDown() override
    {
        overlays.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::shared_ptr<Tokens> token = std::make_shared<Tokens>();
    std::unique_ptr<WaylandScreenSource> screens;
    std::unique_ptr<RecordingOverlays> overlays;
};

TEST_F(WaylandRecordingWindows, AnAreaRecordingHasTheBarAsAnOrdinaryWindowAndNoRing)
{
    const DisplayInfo display = screens->displays().front();
    ASSERT_TRUE(display.id);
    overlays->show(
        CaptureTarget {*display.id, QRectF(600, 300, 400, 300)}, [] {}, [] {});
    EXPECT_FALSE(overlays->frame().window()) << "a ring here would take the clicks meant for the area";
    ControlsBackground *bar = overlays->controls().panel();
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->isPlaceable());
    EXPECT_TRUE(waitUntil([&] { return bar->windowHandle() && bar->windowHandle()->isExposed(); }, 10000))
        << "the compositor shows the bar";
    // The clock runs in it as on X11.
    spin(1300);
    EXPECT_EQ(overlays->controls().timeLabel()->text(), "00:01");
    overlays->hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(overlays->controls().panel());
}

TEST_F(WaylandRecordingWindows, ConsentAskedOnceLetsTheFirstRecordingStartWithoutADialog)
{
    ASSERT_TRUE(screens->screenCaptureAllowed());
    EXPECT_FALSE(screens->screenCaptureConsented()) << "no token yet";
    const uint before = dialogCount();
    EXPECT_FALSE(screens->requestScreenCapture()) << "the answer comes later";
    EXPECT_FALSE(screens->requestScreenCapture()) << "one question at a time";
    ASSERT_TRUE(waitUntil([&] { return screens->screenCaptureConsented(); }, 20000));
    EXPECT_EQ(dialogCount(), before + 1);
    EXPECT_TRUE(screens->requestScreenCapture()) << "on record: nothing more to ask";

    // The recording's own conversation brings the token kept for its
    // monitor.
    PortalScreenCast recording(tokensIn(token));
    const QRect monitor = screens->displays().front().frame;
    const QString kept = recording.restoreTokenFor(QRectF(monitor.topLeft(), QSizeF(100, 100)), 1);
    EXPECT_FALSE(kept.isEmpty()) << "the consent's token is the first monitor's";
    std::optional<Result<PortalScreenCast::Cast, PlatformError>> cast;
    recording.start(
        false, kept, [&](Result<PortalScreenCast::Cast, PlatformError> result) { cast = std::move(result); });
    ASSERT_TRUE(waitUntil([&] { return cast.has_value(); }, 20000));
    ASSERT_TRUE(*cast) << cast->error().description.toStdString();
    EXPECT_EQ(dialogCount(), before + 1) << "the first recording asked again";
    if ((*cast)->pipeWireFd >= 0)
        ::close((*cast)->pipeWireFd);
    recording.close((*cast)->session);
    EXPECT_TRUE(screens->screenCaptureConsented()) << "the recording's new token is kept in turn";
}
