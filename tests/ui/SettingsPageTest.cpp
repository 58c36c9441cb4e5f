#include "OnboardingFixture.h"
#include "ui/QmlTheme.h"

#include "core/Settings.h"
#include "core/Shortcut.h"
#include "ui/AppModel.h"
#include "ui/MainMenu.h"
#include "ui/MainWindow.h"
#include "ui/SettingsBridge.h"

namespace {

// The main window of a preview model, opened on its settings page.
struct SettingsPage : WindowProbe {
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    MainMenu menu;
    AppModel model;
    std::unique_ptr<MainWindow> main;
    int replays = 0;

    explicit SettingsPage(bool screen = true, int microphone = 3)
        : model(AppModel::Services {}, QStringLiteral("/tmp/Capturas do Velunta"), screen, microphone)
    {
        AppModel::Actions actions;
        actions.replayOnboarding = [this] { ++replays; };
        model.setActions(actions);
        model.setPage(AppModel::Page::settings);
        main = std::make_unique<MainWindow>(*engine, model, &menu, MainWindow::Options {false});
        window = main->window();
        window->resize(980, 1600); // the whole page on screen at once
        main->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        settle();
    }

    // The text of the shown item NAME inside the row ROW.
    QString textIn(const QString &rowName, const QString &name) const
    {
        QQuickItem *row = find(rowName);
        for (QQuickItem *item : named(name))
            if (isShown(item) && row->isAncestorOf(item))
                return item->property("text").toString();
        return {};
    }
};

QList<Shortcut> shortcuts(std::initializer_list<int> indexes)
{
    QList<Shortcut> list;
    for (int i : indexes)
        list << Shortcut::all()[i];
    return list;
}

} // namespace

TEST(SettingsPage, SectionsAndTheirTextsInOrder)
{
    SettingsPage page;
    const QStringList texts = page.allTexts();
    for (const char *text :
        {"Ajustes", "Gravação", "Gravar o áudio do sistema", "Gravar o microfone", "Arquivos", "Salvar em", "Escolher",
            "Abrir", "Copiar para a área de transferência ao terminar", "Permissões", "Gravação de Tela",
            "Microfone (opcional)", "Atalhos", "Atualizações", "Versão instalada", "Ver a introdução de novo"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
    EXPECT_EQ(page.text("saveFolderName"), "Capturas do Velunta");
    // Titles with their keys, in registration order.
    QStringList titles;
    for (QQuickItem *row : page.shownItems("shortcutRow"))
        titles << row->property("label").toString();
    QStringList expectedTitles;
    for (const Shortcut &s : Shortcut::all())
        expectedTitles << s.title;
    EXPECT_EQ(titles, expectedTitles);
    EXPECT_EQ(
        page.shownTexts("shortcutKeys"), QStringList({"Alt+Shift+1", "Alt+Shift+2", "Alt+Shift+3", "Alt+Shift+4"}));
    // Headings come in the page's order.
    const auto y = [&](const char *text) {
        for (QQuickItem *item : page.items())
            if (WindowProbe::isShown(item) && item->property("text").toString() == QString::fromUtf8(text))
                return item->mapToScene({0, 0}).y();
        return -1.0;
    };
    const QList<double> order = {
        y("Gravação"), y("Arquivos"), y("Permissões"), y("Atalhos"), y("Atualizações"), y("Ver a introdução de novo")};
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << order.first();
    EXPECT_GT(order.first(), 0);
}

TEST(SettingsPage, UnavailableShortcutsLineOnlyWhenSomeAreTaken)
{
    SettingsPage page;
    EXPECT_FALSE(page.shown("unavailableShortcuts"));
    EXPECT_FALSE(page.allTexts().join('\n').contains("Em uso por outro app"));

    page.model.setUnavailableShortcuts(shortcuts({1, 3}));
    settle();
    EXPECT_TRUE(page.shown("unavailableShortcuts"));
    EXPECT_EQ(page.text("unavailableShortcutsText"), "Em uso por outro app: Alt+Shift+2, Alt+Shift+4");
    EXPECT_EQ(page.find<QQuickItem>("unavailableShortcutsText")->property("color").value<QColor>(),
        QmlUi::theme(*page.engine)->warning());

    page.model.setUnavailableShortcuts(shortcuts({0}));
    settle();
    EXPECT_EQ(page.text("unavailableShortcutsText"), "Em uso por outro app: Alt+Shift+1");
    page.model.setUnavailableShortcuts({});
    settle();
    EXPECT_FALSE(page.shown("unavailableShortcuts"));
}

TEST(SettingsPage, PermissionRowsByState)
{
    {
        SettingsPage page(true, 3);
        EXPECT_EQ(page.textIn("screenPermissionRow", "permissionGranted"), "Permitido");
        EXPECT_EQ(page.textIn("microphonePermissionRow", "permissionGranted"), "Permitido");
    }
    {
        SettingsPage page(false, 0);
        EXPECT_EQ(page.textIn("screenPermissionRow", "permissionButton"), "Permitir");
        EXPECT_EQ(page.textIn("microphonePermissionRow", "permissionButton"), "Permitir");
    }
    for (int denied : {1, 2}) {
        SettingsPage page(true, denied);
        EXPECT_EQ(page.textIn("microphonePermissionRow", "permissionButton"), "Abrir configurações") << denied;
        EXPECT_EQ(page.textIn("microphonePermissionRow", "permissionGranted"), "") << denied;
    }
}

TEST(SettingsPage, SwitchesWriteTheirKeysAtOnce)
{
    SettingsPage page;
    Settings::setValue(Settings::Key::capturesMicrophone, false);
    QmlUi::settings(*page.engine)->refresh();
    settle();
    page.click("microphoneSwitch");
    EXPECT_EQ(Settings::storedBool(Settings::Key::capturesMicrophone), true);
    page.click("microphoneSwitch");
    EXPECT_EQ(Settings::storedBool(Settings::Key::capturesMicrophone), false);

    const bool copies = Settings::copiesToClipboard();
    page.click("copySwitch");
    EXPECT_EQ(Settings::storedBool(Settings::Key::copiesScreenshots), !copies);
    page.click("copySwitch");
    EXPECT_EQ(Settings::storedBool(Settings::Key::copiesScreenshots), copies);
}

TEST(SettingsPage, ReplayButtonCallsTheAction)
{
    SettingsPage page;
    page.click("replayOnboardingButton");
    EXPECT_EQ(page.replays, 1);
}

TEST(SettingsPage, WithoutUpdateConfigurationOnlyTheVersionAndTheSentence)
{
    SettingsPage page; // a test binary runs outside any bundle: no configuration
    ASSERT_FALSE(page.model.updater()->isConfigured());
    EXPECT_EQ(page.text("installedVersion"),
        UpdatePreferences::versionText(UpdateEngine::currentVersion(), UpdateEngine::currentBuild()));
    EXPECT_EQ(page.text("notConfigured"), "Esta cópia não recebe atualizações automáticas.");
    EXPECT_FALSE(page.shown("configuredRows"));
    EXPECT_FALSE(page.shown("updateStatus"));
}
