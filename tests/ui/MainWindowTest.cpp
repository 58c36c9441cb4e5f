#include "MainWindowFixture.h"

#include "core/Preferences.h"
#include "ui/QmlTheme.h"
#include "ui/WindowRendering.h"
#include <QSettings>

#include <QDir>

namespace {

QDateTime noon(const QDate &day)
{
    return QDateTime(day, QTime(12, 0));
}

// Screenshots and recordings of today, yesterday, earlier this year and last year.
void fillYear(CaptureFolder &folder)
{
    const QDate today = QDate::currentDate();
    folder.add("Print hoje.png", noon(today), QColor(64, 120, 216));
    folder.add("Gravação hoje.mp4", noon(today).addSecs(-60));
    folder.add("Print ontem.png", noon(today.addDays(-1)), QColor(216, 97, 89));
    folder.add("Print janeiro.png", noon(QDate(today.year(), 1, 1)), QColor(76, 173, 128));
    folder.add("Gravação ano passado.mp4", noon(QDate(today.year() - 1, 3, 15)));
}

} // namespace

TEST(MainWindow, OpensAt980By660WithItsTitleAndClosingOnlyHides)
{
    CaptureFolder folder;
    MainWindowFixture f(folder.path());
    ASSERT_NE(f.window(), nullptr);
    EXPECT_EQ(f.window()->title(), "Velunta");
    EXPECT_EQ(f.window()->size(), QSize(980, 660));
    EXPECT_EQ(f.window()->minimumSize(), QSize(820, 560));
    f.showAndSettle();
    EXPECT_TRUE(f.main->isVisible());
    f.window()->close();
    f.settle();
    EXPECT_FALSE(f.main->isVisible());
    // Still the same window, shown again on request.
    f.main->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(f.window()));
}

TEST(MainWindow, LibraryHeadingsFiltersAndEmptyStates)
{
    if (QDate::currentDate().dayOfYear() <= 2)
        GTEST_SKIP() << "no day earlier this year that is neither today nor yesterday";
    CaptureFolder folder;
    fillYear(folder);
    MainWindowFixture f(folder.path());
    f.window()->resize(980, 1400); // every row on screen at once
    f.model->setPage(AppModel::Page::library);
    f.showAndSettle();

    const QString lastYear = QStringLiteral("15 de março de %1").arg(QDate::currentDate().year() - 1);
    EXPECT_EQ(f.visibleTexts("dayHeading"), QStringList({"Hoje", "Ontem", "1 de janeiro", lastYear}));
    EXPECT_EQ(f.visibleItems("tileCaption").size(), 5);

    f.click(f.find("filter_Gravações"));
    EXPECT_EQ(f.visibleTexts("dayHeading"), QStringList({"Hoje", lastYear}));
    f.click(f.find("filter_Prints"));
    EXPECT_EQ(f.visibleTexts("dayHeading"), QStringList({"Hoje", "Ontem", "1 de janeiro"}));
    EXPECT_TRUE(f.visibleItems("libraryEmpty").isEmpty());

    // Only screenshots left: the recordings filter is empty, without the button.
    QFile::remove(folder.path() + "/Gravação hoje.mp4");
    QFile::remove(folder.path() + "/Gravação ano passado.mp4");
    QCoro::waitFor(f.model->reloadCaptures());
    f.click(f.find("filter_Gravações"));
    EXPECT_EQ(f.visibleTexts("emptyTitle"), QStringList({"Nada neste filtro"}));
    EXPECT_TRUE(f.visibleItems("makeCaptureButton").isEmpty());
    EXPECT_TRUE(f.visibleItems("dayHeading").isEmpty());

    // Going to another page and back resets the filter.
    f.model->setPage(AppModel::Page::capture);
    f.settle();
    f.model->setPage(AppModel::Page::library);
    f.settle();
    EXPECT_EQ(f.visibleTexts("dayHeading"), QStringList({"Hoje", "Ontem", "1 de janeiro"}));
}

TEST(MainWindow, EmptyLibraryNamesTheFolderAndLeadsToACapture)
{
    QTemporaryDir parent;
    const QString folder = parent.path() + "/Capturas";
    QDir().mkpath(folder);
    MainWindowFixture f(folder);
    f.model->setPage(AppModel::Page::library);
    f.showAndSettle();
    EXPECT_EQ(f.visibleTexts("emptyTitle"), QStringList({"Nenhuma captura ainda"}));
    EXPECT_EQ(
        f.visibleTexts("emptyDescription"), QStringList({"Os prints e gravações salvos em Capturas aparecem aqui."}));
    f.click(f.find("makeCaptureButton"));
    EXPECT_EQ(f.model->page(), AppModel::Page::capture);
}

TEST(MainWindow, CardButtonsCallTheModelActions)
{
    CaptureFolder folder;
    MainWindowFixture f(folder.path());
    QStringList calls;
    AppModel::Actions actions;
    actions.screenshotFull = [&] { calls << "screenshotFull"; };
    actions.screenshotArea = [&] { calls << "screenshotArea"; };
    actions.recordFull = [&] { calls << "recordFull"; };
    actions.recordArea = [&] { calls << "recordArea"; };
    actions.stopRecording = [&] { calls << "stopRecording"; };
    f.model->setActions(actions);
    f.showAndSettle();

    QQuickItem *full = f.find("fullScreenCard");
    QQuickItem *area = f.find("areaCard");
    ASSERT_TRUE(full && area);
    f.click(MainWindowFixture::findIn(full, "printButton"));
    EXPECT_EQ(calls, QStringList({"screenshotFull"}));
    f.click(MainWindowFixture::findIn(full, "recordButton"));
    f.click(MainWindowFixture::findIn(area, "printButton"));
    f.click(MainWindowFixture::findIn(area, "recordButton"));
    EXPECT_EQ(calls, QStringList({"screenshotFull", "recordFull", "screenshotArea", "recordArea"}));

    // Busy: the cards do nothing, the recording banner's stop button still works.
    calls.clear();
    f.model->setBusy(true);
    f.model->setRecording(true);
    f.settle();
    f.click(MainWindowFixture::findIn(full, "printButton"));
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_DOUBLE_EQ(MainWindowFixture::findIn(full, "printButton")->opacity(), 0.4);
    EXPECT_FALSE(f.find("captureOptions")->isEnabled());
    f.click(f.find("stopRecordingButton"));
    EXPECT_EQ(calls, QStringList({"stopRecording"}));
}

TEST(MainWindow, BannersFollowTheModel)
{
    CaptureFolder folder;
    MainWindowFixture f(folder.path(), false);
    f.showAndSettle();
    EXPECT_TRUE(f.find("permissionBanner")->isVisible());
    EXPECT_FALSE(f.find("recordingBanner")->isVisible());
    EXPECT_TRUE(f.find("recentEmpty")->isVisible());
    f.model->setRecording(true);
    f.settle();
    EXPECT_TRUE(f.find("recordingBanner")->isVisible());
    // A preview model's permission never changes by itself, poll or not.
    QTest::qWait(1200);
    EXPECT_FALSE(f.model->hasScreenPermission());
}

TEST(MainWindow, PermissionPollRunsOnlyWhileTheWindowIsShown)
{
    useTestHome();
    bool allowed = false;
    int queries = 0;
    AppModel::Services services = CaptureFolder::services();
    services.screenPreflight = [&] {
        ++queries;
        return allowed;
    };
    MainWindowFixture f(std::make_unique<AppModel>(services)); // a live model: no folder given
    ASSERT_FALSE(f.model->isPreview());
    f.showAndSettle();
    EXPECT_TRUE(f.find("permissionBanner")->isVisible());

    // Granted elsewhere: the banner goes within about a second.
    allowed = true;
    EXPECT_TRUE(MainWindowFixture::waitUntil([&] { return !f.find("permissionBanner")->isVisible(); }, 1500));

    // Hidden: no more queries until it is shown again.
    f.main->hide();
    f.settle();
    const int before = queries;
    QTest::qWait(2200);
    EXPECT_EQ(queries, before);
    f.main->show();
    EXPECT_TRUE(MainWindowFixture::waitUntil([&] { return queries > before; }, 1500));
}

TEST(MainWindow, UpdateBannerWatchesTheModelsUpdaterAndSettingsPageLoads)
{
    CaptureFolder folder;
    MainWindowFixture f(folder.path());
    f.showAndSettle();
    QQuickItem *banner = f.find("updateBanner");
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->property("updater").value<QObject *>(), f.model->updater());
    EXPECT_FALSE(banner->property("isBusy").toBool());
    f.model->setBusy(true);
    EXPECT_TRUE(banner->property("isBusy").toBool());
    // Nothing to say while the updater is idle: the banner takes no room.
    EXPECT_TRUE(f.visibleItems("updateBannerLoader").isEmpty());

    f.model->setPage(AppModel::Page::settings);
    f.settle();
    QQuickItem *page = f.find("pageLoader");
    ASSERT_NE(page, nullptr);
    EXPECT_NE(page->property("item").value<QObject *>(), nullptr) << "the settings page failed to load";
}

TEST(MainWindow, RecentStripShowsTheNewestTenAndLeadsToTheLibrary)
{
    CaptureFolder folder;
    for (int i = 0; i < 12; ++i)
        folder.add(QStringLiteral("Print %1.png").arg(i), QDateTime::currentDateTime().addSecs(-600 + i));
    MainWindowFixture f(folder.path());
    f.showAndSettle();
    auto *list = f.find("recentList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->property("count").toInt(), 10);
    f.click(f.find("seeAllButton"));
    EXPECT_EQ(f.model->page(), AppModel::Page::library);
}

TEST(MainWindow, OptionsWriteTheSettingsAtOnce)
{
    CaptureFolder folder;
    MainWindowFixture f(folder.path());
    f.preferences.setCopiesScreenshots(true);
    f.showAndSettle();
    f.click(f.find("copyOption"));
    EXPECT_FALSE(f.preferences.copiesScreenshots());
    EXPECT_EQ(Preferences(testSettingsFile()).copiesScreenshots(), false) << "written to the file at once";
    // A change made elsewhere (the tray menu) reaches the box at once, without a poll.
    f.preferences.setCopiesScreenshots(true);
    EXPECT_TRUE(f.find("copyOption")->property("checked").toBool());
    f.preferences.setCapturesSystemAudio(false);
    EXPECT_FALSE(f.find("systemAudioOption")->property("checked").toBool());
    f.preferences.setCapturesSystemAudio(true);
}

TEST(MainWindow, FrameIsRestoredUnderItsName)
{
    CaptureFolder folder;
    {
        MainWindowFixture probe(folder.path());
        probe.preferences.setMainWindowFrame(QRect(40, 50, 900, 600));
        EXPECT_EQ(probe.main->storedFrame(), QRect(40, 50, 900, 600));
        probe.preferences.setMainWindowFrame(QRect(40, 50, 100, 600)); // smaller than allowed
        EXPECT_EQ(probe.main->storedFrame(), std::nullopt);
        QSettings(testSettingsFile(), QSettings::IniFormat).remove("MainWindow/frame");
        EXPECT_EQ(probe.main->storedFrame(), std::nullopt);
    }
    EXPECT_EQ(MainWindow::centredFrame(QRect(0, 0, 1920, 1080), {980, 660}), QRect(470, 210, 980, 660));

    {
        MainWindowFixture f(folder.path());
        f.main->setPersistsFrame(true);
        f.showAndSettle();
        f.window()->resize(1000, 700);
        f.main->hide();
        ASSERT_TRUE(f.main->storedFrame().has_value());
        EXPECT_EQ(f.main->storedFrame()->size(), QSize(1000, 700));
    }
    MainWindowFixture again(folder.path());
    again.main->setPersistsFrame(true);
    again.showAndSettle();
    EXPECT_EQ(again.window()->size(), QSize(1000, 700));
    QSettings(testSettingsFile(), QSettings::IniFormat).remove("MainWindow/frame");
}

// Light and dark renderings of the main window for review.
TEST(MainWindow, RendersLightAndDark)
{
    CaptureFolder folder;
    fillYear(folder);
    const QString out = TestSupport::buildDir() + "/mainwindow-snapshots";
    QDir().mkpath(out);
    for (const auto &[appearance, name] :
        {std::pair {int(QmlTheme::Light), QString("light")}, std::pair {int(QmlTheme::Dark), QString("dark")}}) {
        for (int page = 0; page < 3; ++page) {
            MainWindowFixture f(folder.path(), page != 0 || appearance == QmlTheme::Light);
            QmlUi::theme(*f.engine)->setAppearance(appearance);
            f.model->setPage(AppModel::Page(page));
            const QImage image = QCoro::waitFor(WindowRendering::render(f.window(), std::chrono::milliseconds(600)));
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(image.size(), QSize(980, 660) * f.window()->devicePixelRatio());
            // The page's background, in the margin left of the content, is the
            // canvas colour of the appearance.
            const qreal ratio = f.window()->devicePixelRatio();
            const QColor canvas = image.pixelColor(int(200 * ratio), image.height() - int(10 * ratio));
            EXPECT_EQ(canvas, QColor(appearance == QmlTheme::Dark ? "#17191D" : "#F1F2F4")) << name.toStdString();
            EXPECT_TRUE(
                WindowRendering::savePng(image, QStringLiteral("%1/main-%2-%3.png").arg(out).arg(page).arg(name)));
        }
    }
}
