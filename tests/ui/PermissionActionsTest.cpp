// What the permission buttons of the introduction and of the settings page do,
// through a model over fake desktop and microphone services.
#include "OnboardingFixture.h"

#include "platform/MicrophoneAccess.h"
#include "platform/desktop/DesktopServices.h"
#include "ui/AppModel.h"
#include "ui/MainMenu.h"
#include "ui/MainWindow.h"
#include "ui/OnboardingWindow.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

namespace {

struct FakeDesktop : DesktopServices {
    QStringList anchors;
    QList<QUrl> opened;
    std::optional<QString> chosen;

    void openUrl(const QUrl &url) override { opened << url; }
    void reveal(const QString &) override { }
    bool moveToTrash(const QString &) override { return false; }
    std::optional<QString> chooseFolder(const QString &) override { return chosen; }
    void openPrivacyPane(const QString &anchor) override { anchors << anchor; }
    void copyImage(const QByteArray &) override { }
    void copyFile(const QString &) override { }
};

struct FakeMicrophone : MicrophoneAccess {
    int current = notDetermined;
    bool answer = true;
    int requests = 0;

    int status() const override { return current; }
    QCoro::Task<bool> requestAccess() override
    {
        ++requests;
        current = answer ? authorized : denied;
        co_return answer;
    }
};

// The platform behind one model: screen permission, desktop, microphone.
struct Platform {
    bool screenAllowed = false;
    // A Wayland desktop: the system asks; each request is counted.
    bool asks = false;
    int screenRequests = 0;
    FakeDesktop desktop;
    FakeMicrophone microphone;

    AppModel::Services services()
    {
        AppModel::Services services;
        services.desktop = &desktop;
        services.microphone = &microphone;
        services.screenPreflight = [this] { return screenAllowed; };
        services.asksToShareScreen = asks;
        services.screenRequest = [this] {
            ++screenRequests;
            return screenAllowed;
        };
        services.preferences = &testPreferences();
        return services;
    }
};

QQuickItem *shownIn(const WindowProbe &probe, const QString &rowName, const QString &name)
{
    QQuickItem *row = probe.find(rowName);
    for (QQuickItem *item : probe.named(name))
        if (WindowProbe::isShown(item) && row && row->isAncestorOf(item))
            return item;
    return nullptr;
}

struct Page : WindowProbe {
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    MainMenu menu;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<MainWindow> main;

    explicit Page(Platform &platform)
    {
        model = std::make_unique<AppModel>(platform.services());
        model->setPage(AppModel::Page::settings);
        main = std::make_unique<MainWindow>(*engine, testPreferences(), *model, &menu, MainWindow::Options {false});
        window = main->window();
        window->resize(980, 1600);
        main->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        settle();
    }
};

struct Intro : WindowProbe {
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickWindow> owned;

    Intro(Platform &platform, int step, std::function<bool()> request = {})
    {
        model = std::make_unique<AppModel>(platform.services());
        OnboardingWindowOptions options;
        options.persistsProgress = false;
        options.requestScreenCapture = std::move(request);
        owned = makeOnboardingWindow(*engine, *model, step, options);
        window = owned.get();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        settle();
    }
};

} // namespace

TEST(PermissionActions, SettingsMicrophoneRowAsksFirstThenOpensTheSoundSettings)
{
    Platform platform;
    testPreferences().setCapturesMicrophone(false);
    Page page(platform);
    QQuickItem *button = shownIn(page, "microphonePermissionRow", "permissionButton");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->property("text").toString(), "Permitir");
    page.click(button);
    EXPECT_TRUE(QTest::qWaitFor([&] { return page.model->microphoneStatus() == 3; }, 2000));
    EXPECT_EQ(platform.microphone.requests, 1);
    EXPECT_TRUE(platform.desktop.anchors.isEmpty());
    // Granted: the model turns the microphone on for new recordings.
    EXPECT_EQ(Preferences::boolFromStored(storedValue("capturesMicrophone")), true);
    settle();
    EXPECT_NE(shownIn(page, "microphonePermissionRow", "permissionGranted"), nullptr);

    platform.microphone.current = MicrophoneAccess::denied;
    page.model->refreshPermissions();
    settle();
    button = shownIn(page, "microphonePermissionRow", "permissionButton");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->property("text").toString(), "Abrir configurações");
    page.click(button);
    EXPECT_EQ(platform.desktop.anchors, QStringList({"Privacy_Microphone"}));
    EXPECT_EQ(platform.microphone.requests, 1);
}

TEST(PermissionActions, SettingsScreenRowOpensThePrivacySettingsAndRefreshes)
{
    Platform platform;
    Page page(platform);
    QQuickItem *button = shownIn(page, "screenPermissionRow", "permissionButton");
    ASSERT_NE(button, nullptr);
    platform.screenAllowed = true; // granted in the system's settings
    page.click(button);
    EXPECT_EQ(platform.desktop.anchors, QStringList({"Privacy_ScreenCapture"}));
    EXPECT_TRUE(page.model->hasScreenPermission());
    settle();
    EXPECT_NE(shownIn(page, "screenPermissionRow", "permissionGranted"), nullptr);
}

TEST(PermissionActions, SettingsFolderChoiceShowsTheNewFolderAndOpenOpensIt)
{
    Platform platform;
    platform.screenAllowed = true;
    QTemporaryDir root;
    platform.desktop.chosen = root.filePath("Capturas novas");
    QDir().mkpath(*platform.desktop.chosen);
    Page page(platform);
    page.click("chooseFolderButton");
    EXPECT_EQ(page.text("saveFolderName"), "Capturas novas");
    EXPECT_EQ(testPreferences().saveFolder(), *platform.desktop.chosen);
    page.click("openFolderButton");
    ASSERT_EQ(platform.desktop.opened.size(), 1);
    EXPECT_EQ(platform.desktop.opened.first().toLocalFile(), *platform.desktop.chosen);
    removeStored("saveFolder");
}

TEST(PermissionActions, IntroductionMicrophoneButtons)
{
    Platform platform;
    platform.screenAllowed = true;
    platform.microphone.answer = false;
    Intro intro(platform, 2);
    intro.click("allowMicrophone");
    EXPECT_EQ(platform.microphone.requests, 1);
    // Refused: the step offers the sound settings, and stays.
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.shown("openSoundSettings"); }, 2000));
    EXPECT_EQ(intro.text("laterButton"), "Agora não");
    intro.click("openSoundSettings");
    EXPECT_EQ(platform.desktop.anchors, QStringList({"Privacy_Microphone"}));
}

TEST(PermissionActions, IntroductionScreenButtonRequestsRefreshesAndOpensTheSettings)
{
    Platform platform;
    int requests = 0;
    Intro intro(platform, 1, [&] {
        ++requests;
        return false;
    });
    intro.click("openScreenSettings");
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(platform.desktop.anchors, QStringList({"Privacy_ScreenCapture"}));
    EXPECT_TRUE(intro.shown("screenInstructions"));
}

// Where the system asks before it shares the screen, the settings row's and
// the banner's Permitir put that question; elsewhere they only open the
// system's settings.
TEST(PermissionActions, WhereTheSystemAsksPermitirPutsTheQuestion)
{
    Platform platform;
    platform.asks = true;
    Page page(platform);
    page.click(shownIn(page, "screenPermissionRow", "permissionButton"));
    EXPECT_EQ(platform.screenRequests, 1);

    page.model->setPage(AppModel::Page::capture);
    settle();
    QQuickItem *banner = page.find("permissionBanner");
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(page.allTexts().contains(
        "O sistema pede sua confirmação para compartilhar a tela. Clique em Permitir e confirme."));
    page.click(shownIn(page, "permissionBanner", "permissionButton"));
    EXPECT_EQ(platform.screenRequests, 2);

    Platform x11;
    Page other(x11);
    other.click(shownIn(other, "screenPermissionRow", "permissionButton"));
    EXPECT_EQ(x11.screenRequests, 0);
    other.model->setPage(AppModel::Page::capture);
    settle();
    EXPECT_TRUE(other.allTexts().contains(
        "Permita a gravação de tela nas configurações do sistema. Pode ser preciso reabrir o app."));
}
