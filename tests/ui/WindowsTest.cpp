#include "MainWindowFixture.h"
#include "ui/FakeUpdater.h"

#include "ui/OnboardingView.h"
#include "ui/Windows.h"

TEST(Windows, MainWindowIsBuiltOnceAndOnlyHiddenAndShown)
{
    useTestHome();
    CaptureFolder folder;
    Preferences preferences(testSettingsFile());
    Updater updater(preferences, std::nullopt);
    AppModel model({.preferences = &preferences, .updater = &updater}, folder.path(), true, 0);
    Windows windows(preferences, model);
    EXPECT_FALSE(windows.hasMainWindow());
    EXPECT_FALSE(windows.isMainWindowVisible());
    windows.hideMainWindow(); // nothing to hide, nothing built
    EXPECT_FALSE(windows.hasMainWindow());

    windows.showMainWindow();
    QQuickWindow *first = windows.mainWindow().window();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(first));
    EXPECT_TRUE(windows.isMainWindowVisible());
    windows.hideMainWindow();
    EXPECT_FALSE(windows.isMainWindowVisible());
    windows.showMainWindow();
    EXPECT_EQ(windows.mainWindow().window(), first);
    EXPECT_TRUE(windows.isMainWindowVisible());
}

TEST(Windows, IntroductionOpensAtItsStepWithTheMainWindowAsFallback)
{
    useTestHome();
    CaptureFolder folder;
    Preferences preferences(testSettingsFile());
    Updater updater(preferences, std::nullopt);
    AppModel model({.preferences = &preferences, .updater = &updater}, folder.path(), true, 0);
    Windows windows(preferences, model);

    // By default the real introduction, at the step asked for, and no main window.
    windows.setScreenCaptureRequest([] { return true; });
    windows.showOnboarding(2);
    ASSERT_NE(windows.onboardingWindow(), nullptr);
    EXPECT_TRUE(windows.onboardingWindow()->isVisible());
    EXPECT_EQ(windows.onboardingWindow()->size(), QSize(680, 480));
    EXPECT_FALSE(windows.isMainWindowVisible());
    auto *view = windows.onboardingWindow()->findChild<OnboardingView *>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->property("step").toInt(), 2);
    EXPECT_TRUE(view->property("persistsProgress").toBool());
    windows.closeOnboarding();
    EXPECT_EQ(windows.onboardingWindow(), nullptr);

    // An introduction that cannot be built: the main window stands in.
    windows.setOnboardingFactory([](int) { return std::unique_ptr<QWindow>(); });
    windows.showOnboarding(2);
    EXPECT_TRUE(windows.isMainWindowVisible());
    windows.hideMainWindow();

    QList<int> steps;
    windows.setOnboardingFactory([&](int step) {
        steps << step;
        auto window = std::make_unique<QWindow>();
        window->setTitle("Introdução");
        window->resize(680, 480);
        return window;
    });
    windows.showOnboarding(1);
    QPointer<QWindow> first = windows.onboardingWindow();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    windows.showOnboarding(0);
    EXPECT_EQ(steps, QList<int>({1, 0}));
    EXPECT_TRUE(windows.onboardingWindow()->isVisible());
    QTest::qWait(10);
    EXPECT_TRUE(first.isNull()); // replaced, not kept
    windows.closeOnboarding();
    EXPECT_EQ(windows.onboardingWindow(), nullptr);
}

TEST(Windows, MenuShowsSettingsAndListsOpenWindows)
{
    useTestHome();
    CaptureFolder folder;
    Preferences preferences(testSettingsFile());
    Updater updater(preferences, std::nullopt);
    AppModel model({.preferences = &preferences, .updater = &updater}, folder.path(), true, 0);
    Windows windows(preferences, model);
    EXPECT_FALSE(windows.mainMenu().canCheckForUpdates());
    windows.mainMenu().showSettings();
    EXPECT_EQ(model.page(), AppModel::Page::settings);
    EXPECT_TRUE(windows.isMainWindowVisible());
    windows.mainMenu().refreshWindows();
    EXPECT_EQ(windows.mainMenu().windowTitles(), QStringList({"Velunta"}));
    windows.mainMenu().hideApplication();
    EXPECT_FALSE(windows.isMainWindowVisible());

    // A build without update configuration has no update item, whatever the
    // controller hands in; with one, the item runs the controller's check.
    ASSERT_FALSE(model.updater()->isConfigured());
    int checks = 0;
    windows.setMenuActions({{}, {}, [&] { ++checks; }});
    EXPECT_FALSE(windows.mainMenu().canCheckForUpdates());
    windows.mainMenu().checkForUpdates();
    EXPECT_EQ(checks, 0);
    windows.mainMenu().setUpdatesConfigured(true);
    EXPECT_TRUE(windows.mainMenu().canCheckForUpdates());
    windows.mainMenu().checkForUpdates();
    EXPECT_EQ(checks, 1);
    EXPECT_TRUE(MainMenu::aboutText().startsWith("Versão "));
}

TEST(Windows, TheRunsUpdaterDrivesTheMenusUpdateItem)
{
    // The updater is the run's, handed to the model: here a configured fake.
    useTestHome();
    CaptureFolder folder;
    Preferences preferences(testSettingsFile());
    FakeUpdater fake(preferences);
    fake.fetchResult = FakeUpdater::sample();
    AppModel model({.preferences = &preferences, .updater = fake.updater.get()}, folder.path(), true, 0);
    Windows windows(preferences, model);
    ASSERT_TRUE(windows.mainMenu().canCheckForUpdates());
    windows.mainMenu().checkForUpdates();
    EXPECT_EQ(model.page(), AppModel::Page::settings);
    EXPECT_TRUE(windows.isMainWindowVisible());
    EXPECT_TRUE(fake.waitFor(Updater::Kind::available));
    EXPECT_EQ(fake.fetches, 1);
    windows.hideMainWindow();
}
