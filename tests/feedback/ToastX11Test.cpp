// The capture toast on a real X server: where it goes, how long it stays,
// what a second toast and a click do, how a long name is shortened, and that
// screenshots never show it. The two-screen case runs through
// test_toast_dual, on a desktop of its own.
#include "app/ControllerFakes.h"
#include "capture/CaptureEngine.h"
#include "feedback/OverlayX11.h"
#include "feedback/Toast.h"
#include "support/AwaitTask.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace OverlayX11;

// Rectangles in failure messages as x,y wxh rather than bytes.
void PrintTo(const QRect &rect, std::ostream *out)
{
    *out << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height();
}

namespace {

// Where the X server has mapped WINDOW, in root coordinates.
QRect serverGeometry(WId window)
{
    const auto result = TestSupport::run("xdotool", {"getwindowgeometry", "--shell", QString::number(window)},
        QProcessEnvironment::systemEnvironment(), 10000);
    QMap<QString, int> values;
    for (const QString &line : QString::fromUtf8(result.out).split('\n', Qt::SkipEmptyParts)) {
        const auto parts = line.split('=');
        if (parts.size() == 2)
            values.insert(parts[0], parts[1].toInt());
    }
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
}

// Velunta's toast windows the X server shows now.
QStringList visibleToasts()
{
    const auto result = TestSupport::run("xdotool", {"search", "--onlyvisible", "--name", "^Velunta: "},
        QProcessEnvironment::systemEnvironment(), 10000);
    return QString::fromUtf8(result.out).split('\n', Qt::SkipEmptyParts);
}

class ToastX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_TRUE(folder.isValid());
        screenshotPath = folder.filePath("Print 2026-12-07 às 16.20.31.png");
        recordingPath = folder.filePath("Gravação 2026-12-07 às 16.21.05.mp4");
        thumbnail = QImage(160, 100, QImage::Format_RGB32);
        thumbnail.fill(QColor(20, 230, 40));
        ASSERT_TRUE(thumbnail.save(screenshotPath));
        TestSupport::writeFile(recordingPath, "not really a video");
        toast = std::make_unique<Toast>(&desktop);
    }

    void TearDown() override
    {
        toast.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        spin(100);
    }

    void pointAt(QPoint global)
    {
        ASSERT_EQ(xdotool({"mousemove", QString::number(global.x()), QString::number(global.y())}), 0);
        ASSERT_TRUE(waitUntil([&] { return QCursor::pos() == global; })) << "the pointer never got there";
    }

    // Shows a toast and waits until the X server has it on screen.
    ToastView *showAndWait(const QString &title, const QString &path, const QImage &image)
    {
        toast->show(title, path, image);
        ToastView *view = toast->view();
        EXPECT_TRUE(view);
        if (!view)
            return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view, 10000));
        const QString id = QString::number(view->winId());
        EXPECT_TRUE(waitUntil([&] { return visibleToasts().contains(id); }, 10000)) << "never mapped";
        return view;
    }

    QTemporaryDir folder;
    QString screenshotPath;
    QString recordingPath;
    QImage thumbnail;
    FakeDesktopServices desktop;
    std::unique_ptr<Toast> toast;
};

} // namespace

TEST_F(ToastX11, SitsSixteenPointsFromTheLowerRightCornerWithoutTakingTheFocus)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    pointAt(screen->geometry().center());
    const quint32 activeBefore = activeWindowByXprop();
    ToastView *view = showAndWait("Print salvo", screenshotPath, thumbnail);
    ASSERT_TRUE(view);

    const QRect area = screen->availableGeometry();
    const QRect expected(area.right() + 1 - 16 - 320, area.bottom() + 1 - 16 - 84, 320, 84);
    EXPECT_EQ(view->geometry(), expected);
    EXPECT_EQ(serverGeometry(view->winId()), expected);
    EXPECT_EQ(view->title(), "Print salvo");
    EXPECT_EQ(view->fileName(), "Print 2026-12-07 às 16.20.31.png");
    spin(300);
    EXPECT_EQ(activeWindowByXprop(), activeBefore);
    EXPECT_NE(activeWindowByXprop(), quint32(view->winId()));
}

TEST_F(ToastX11, ASecondToastReplacesTheFirstAndStaysAFullFiveSeconds)
{
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QPointer<ToastView> first = showAndWait("Print salvo", screenshotPath, thumbnail);
    ASSERT_TRUE(first);
    const QString firstId = QString::number(first->winId());
    spin(2000);

    QElapsedTimer sinceSecond;
    sinceSecond.start();
    toast->show("Gravação salva", recordingPath, QImage());
    QPointer<ToastView> second = toast->view();
    ASSERT_TRUE(second);
    ASSERT_NE(second, first);
    EXPECT_TRUE(!first || !first->isVisible()) << "the first toast is still up";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(second, 10000));
    const QString secondId = QString::number(second->winId());
    ASSERT_TRUE(waitUntil([&] { return visibleToasts() == QStringList {secondId}; }, 10000))
        << "not exactly the second toast on screen: " << visibleToasts().join(' ').toStdString();
    EXPECT_FALSE(visibleToasts().contains(firstId));

    // Past the first toast's five seconds the second one is still there.
    ASSERT_TRUE(waitUntil([&] { return sinceFirst.elapsed() > 6000; }, 10000));
    EXPECT_EQ(toast->view(), second.data()) << "hidden by the first toast's timer";
    EXPECT_TRUE(visibleToasts().contains(secondId));

    // It goes away by itself five seconds after it came.
    ASSERT_TRUE(waitUntil([&] { return !toast->view(); }, 15000)) << "never hidden";
    const qint64 shownFor = sinceSecond.elapsed();
    EXPECT_GE(shownFor, 5000) << "hidden early, after " << shownFor << " ms";
    EXPECT_LT(shownFor, 12000);
    EXPECT_TRUE(waitUntil([&] { return visibleToasts().isEmpty(); }, 10000));
    EXPECT_TRUE(desktop.opened.isEmpty());
}

TEST_F(ToastX11, AClickOpensTheFileAndHidesTheToastAtOnce)
{
    ToastView *view = showAndWait("Gravação salva", recordingPath, QImage());
    ASSERT_TRUE(view);
    const QPoint centre = view->geometry().center();
    ASSERT_EQ(xdotool({"mousemove", QString::number(centre.x()), QString::number(centre.y())}), 0);
    spin(50);
    ASSERT_EQ(xdotool({"click", "1"}), 0);

    ASSERT_TRUE(waitUntil([&] { return !desktop.opened.isEmpty(); }, 10000)) << "the click did not open anything";
    EXPECT_EQ(desktop.opened, QList<QUrl> {QUrl::fromLocalFile(recordingPath)});
    EXPECT_FALSE(toast->view());
    EXPECT_TRUE(waitUntil([&] { return visibleToasts().isEmpty(); }, 10000));
    spin(300);
    EXPECT_EQ(desktop.opened.size(), 1);
}

TEST_F(ToastX11, ALongFileNameIsShortenedInTheMiddle)
{
    const QString longName
        = "Print 2026-12-07 às 16.20.31 da janela do navegador com uma página de nome bem comprido mesmo.png";
    const QString longPath = folder.filePath(longName);
    ASSERT_TRUE(thumbnail.save(longPath, "PNG"));
    ToastView *view = showAndWait("Print salvo", longPath, thumbnail);
    ASSERT_TRUE(view);

    EXPECT_EQ(view->fileName(), longName);
    const QString shown = view->shownFileName();
    EXPECT_TRUE(shown.startsWith("Print 2026")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("mesmo.png")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    QFont fileNameFont = QGuiApplication::font();
    fileNameFont.setPixelSize(11);
    EXPECT_LE(QFontMetricsF(fileNameFont).horizontalAdvance(shown), ToastView::fileNameFrame.width());

    // Nothing of the name is drawn past its frame.
    const QImage drawn = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor secondary(174, 180, 190);
    int inFrame = 0;
    for (int y = ToastView::fileNameFrame.top(); y <= ToastView::fileNameFrame.bottom(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            if (!nearColour(drawn.pixel(x, y), secondary, 30))
                continue;
            EXPECT_LE(x, ToastView::fileNameFrame.right() + 1) << "name drawn at x " << x;
            ++inFrame;
        }
    }
    EXPECT_GT(inFrame, 20) << "no file name drawn";

    // A short name is shown whole.
    toast->show("Print salvo", screenshotPath, thumbnail);
    ASSERT_TRUE(toast->view());
    EXPECT_EQ(toast->view()->shownFileName(), "Print 2026-12-07 às 16.20.31.png");
}

TEST_F(ToastX11, ScreenshotsNeverShowTheToast)
{
    PlatformServices &platform = services();
    ASSERT_EQ(platform.backend, QStringLiteral("x11"));
    std::optional<DisplayInfo> display;
    for (const DisplayInfo &candidate : platform.screens->displays()) {
        if (candidate.id && (candidate.primary || !display))
            display = candidate;
    }
    ASSERT_TRUE(display);
    pointAt(display->frame.center());
    const CaptureTarget whole {*display->id, std::nullopt};
    auto before = awaitTask(CaptureEngine::screenshot(*platform.screens, whole));
    ASSERT_TRUE(before);

    ToastView *view = showAndWait("Print salvo", screenshotPath, thumbnail);
    ASSERT_TRUE(view);
    spin(300);
    // On screen: the green thumbnail inside the toast.
    const QPoint thumbnailCentre = view->geometry().topLeft() + ToastView::thumbnailFrame.center();
    const QImage shown = QGuiApplication::primaryScreen()
                             ->grabWindow(0, thumbnailCentre.x(), thumbnailCentre.y(), 1, 1)
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(nearColour(shown.pixel(0, 0), QColor(20, 230, 40)));

    auto during = awaitTask(CaptureEngine::screenshot(*platform.screens, whole));
    ASSERT_TRUE(during);
    EXPECT_EQ(during->image, before->image) << "the toast is in the screenshot";
}

TEST_F(ToastX11, ShownOnTheScreenUnderThePointer)
{
    const auto left = displayNamed("DUMMY0");
    const auto right = displayNamed("DUMMY1");
    if (!left || !right)
        GTEST_SKIP() << "needs the two-screen desktop (test_toast_dual)";
    QScreen *leftScreen = nullptr;
    QScreen *rightScreen = nullptr;
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == "DUMMY0")
            leftScreen = screen;
        if (screen->name() == "DUMMY1")
            rightScreen = screen;
    }
    ASSERT_TRUE(leftScreen && rightScreen);
    ASSERT_EQ(rightScreen->geometry(), QRect(1920, 0, 1280, 1024));

    // The second screen first: not the primary one.
    for (QScreen *screen : {rightScreen, leftScreen, rightScreen}) {
        pointAt(screen->geometry().topLeft() + QPoint(300, 200));
        ToastView *view = showAndWait("Print salvo", screenshotPath, thumbnail);
        ASSERT_TRUE(view);
        const QRect area = screen->availableGeometry();
        const QRect expected(area.right() + 1 - 16 - 320, area.bottom() + 1 - 16 - 84, 320, 84);
        EXPECT_EQ(view->geometry(), expected) << screen->name().toStdString();
        EXPECT_EQ(serverGeometry(view->winId()), expected) << screen->name().toStdString();
        EXPECT_TRUE(screen->geometry().contains(serverGeometry(view->winId())));
    }
}

TEST_F(ToastX11, ANoticeSaysItsTextInPlaceAndAClickOnlyHidesIt)
{
    const QString text = "Microfone escolhido não encontrado; usando o padrão do sistema";
    toast->showNotice(text);
    ToastView *view = toast->view();
    ASSERT_TRUE(view);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view, 10000));
    EXPECT_EQ(view->title(), text);
    EXPECT_EQ(view->geometry().size(), ToastView::panelSize);
    const QPoint centre = view->geometry().center();
    ASSERT_EQ(xdotool({"mousemove", QString::number(centre.x()), QString::number(centre.y())}), 0);
    spin(50);
    ASSERT_EQ(xdotool({"click", "1"}), 0);
    ASSERT_TRUE(waitUntil([&] { return !toast->view(); }, 10000)) << "the click did not hide it";
    spin(200);
    EXPECT_TRUE(desktop.opened.isEmpty()) << "a notice has no file to open";
}
