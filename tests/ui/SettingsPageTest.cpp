#include "OnboardingFixture.h"
#include "ui/QmlTheme.h"

#include "core/Shortcut.h"
#include "platform/MicrophoneAccess.h"
#include "platform/desktop/Autostart.h"
#include "ui/AppModel.h"
#include "ui/MainMenu.h"
#include "ui/MainWindow.h"
#include "updater/Updater.h"

#include <QFile>
#include <QFileInfo>
#include <QQmlEngine>

namespace {

// The main window of a preview model, opened on its settings page.
struct SettingsPage : WindowProbe {
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    MainMenu menu;
    // Not configured, as in a test binary outside any bundle.
    Updater updater {testPreferences(), std::nullopt};
    AppModel model;
    std::unique_ptr<MainWindow> main;
    int replays = 0;

    explicit SettingsPage(bool screen = true, int microphone = 3, MicrophoneAccess *inputs = nullptr)
        : model(AppModel::Services {.microphone = inputs, .preferences = &testPreferences(), .updater = &updater},
            QStringLiteral("/tmp/Capturas do Velunta"), screen, microphone)
    {
        AppModel::Actions actions;
        actions.replayOnboarding = [this] { ++replays; };
        model.setActions(actions);
        model.setPage(AppModel::Page::settings);
        main = std::make_unique<MainWindow>(*engine, testPreferences(), model, &menu, MainWindow::Options {false});
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

// The sound server's inputs, as the test sets them.
class ListedInputs : public MicrophoneAccess {
public:
    int status() const override { return authorized; }
    QCoro::Task<bool> requestAccess() override { co_return true; }
    QList<Input> inputs() const override { return list; }
    void set(QList<Input> inputs)
    {
        list = std::move(inputs);
        emit inputsChanged();
    }
    QList<Input> list;
};

QStringList labels(QQuickItem *box)
{
    QStringList texts;
    for (int i = 0; i < box->property("count").toInt(); ++i) {
        QString text;
        QMetaObject::invokeMethod(box, "textAt", Q_RETURN_ARG(QString, text), Q_ARG(int, i));
        texts << text;
    }
    return texts;
}

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
    for (const char *text : {"Ajustes", "Gravação", "Gravar o áudio do sistema", "Gravar o microfone", "Arquivos",
             "Salvar em", "Escolher", "Abrir", "Copiar para a área de transferência ao terminar", "Sistema",
             "Abrir o Velunta ao entrar no sistema", "Permissões", "Gravação de Tela", "Microfone (opcional)",
             "Atalhos", "Atualizações", "Versão instalada", "Ver a introdução de novo"})
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
    const QList<double> order = {y("Gravação"), y("Arquivos"), y("Sistema"), y("Permissões"), y("Atalhos"),
        y("Atualizações"), y("Ver a introdução de novo")};
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

    // A session without global shortcuts says so, instead of blaming another app.
    const QString note = "Esta sessão Wayland não oferece atalhos globais.";
    page.model.setUnavailableShortcuts(shortcuts({0, 1, 2, 3}), note);
    settle();
    EXPECT_TRUE(page.shown("unavailableShortcuts"));
    EXPECT_EQ(page.text("unavailableShortcutsText"), note);
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
    testPreferences().setCapturesMicrophone(false);
    page.click("microphoneSwitch");
    EXPECT_EQ(Preferences::boolFromStored(storedValue("capturesMicrophone")), true);
    page.click("microphoneSwitch");
    EXPECT_EQ(Preferences::boolFromStored(storedValue("capturesMicrophone")), false);

    const bool copies = testPreferences().copiesScreenshots();
    page.click("copySwitch");
    EXPECT_EQ(Preferences::boolFromStored(storedValue("copiesScreenshots")), !copies);
    page.click("copySwitch");
    EXPECT_EQ(Preferences::boolFromStored(storedValue("copiesScreenshots")), copies);

    // Written anywhere else (the tray menu), the switch follows at once.
    testPreferences().setCopiesScreenshots(!copies);
    EXPECT_EQ(page.find("copySwitch")->property("checked").toBool(), !copies);
    testPreferences().setCopiesScreenshots(copies);
}

TEST(SettingsPage, AutostartSwitchFollowsTheEntryFile)
{
    SettingsPage page;
    const QString entry = Autostart::entryPath();
    QFile::remove(entry);
    auto *autostart = page.engine->singletonInstance<Autostart *>(qmlTypeId("Velunta", 1, 0, "Autostart"));
    ASSERT_NE(autostart, nullptr);
    autostart->refresh();
    settle();
    EXPECT_FALSE(page.find<QQuickItem>("autostartSwitch")->property("checked").toBool()) << "off by default";

    page.click("autostartSwitch");
    EXPECT_TRUE(QFileInfo::exists(entry));
    EXPECT_TRUE(TestSupport::readFile(entry).contains("\nExec="));
    EXPECT_TRUE(page.find<QQuickItem>("autostartSwitch")->property("checked").toBool());

    // Removed by hand: the page shows it once it reads the file again.
    QFile::remove(entry);
    autostart->refresh();
    settle();
    EXPECT_FALSE(page.find<QQuickItem>("autostartSwitch")->property("checked").toBool());
    // And on again after a click that follows a hand edit.
    page.click("autostartSwitch");
    EXPECT_TRUE(QFileInfo::exists(entry));
    page.click("autostartSwitch");
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_FALSE(page.shown("autostartError"));
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

TEST(SettingsPage, TheMicrophonesDeviceRowListsInputsAfterTheDefaultAndKeepsTheChoiceByName)
{
    testPreferences().setMicrophoneDevice(QString());
    ListedInputs inputs;
    inputs.list = {{"alsa_input.pci-analog", "Microfone interno"}, {"alsa_input.usb-headset", "Headset USB"}};
    SettingsPage page(true, 3, &inputs);
    EXPECT_TRUE(page.allTexts().contains("Dispositivo"));
    QQuickItem *box = page.find("microphoneDeviceBox");
    ASSERT_TRUE(box);
    EXPECT_EQ(labels(box), (QStringList {"Padrão do sistema", "Microfone interno", "Headset USB"}));
    EXPECT_EQ(box->property("currentIndex").toInt(), 0);

    QMetaObject::invokeMethod(box, "activated", Q_ARG(int, 2));
    EXPECT_EQ(testPreferences().microphoneDevice(), "alsa_input.usb-headset");
    settle();
    EXPECT_EQ(box->property("currentIndex").toInt(), 2);

    // Unplugged: the choice stays, shown by its name; plugged back, by its description.
    inputs.set({{"alsa_input.pci-analog", "Microfone interno"}});
    settle();
    EXPECT_EQ(labels(box), (QStringList {"Padrão do sistema", "Microfone interno", "alsa_input.usb-headset"}));
    EXPECT_EQ(box->property("currentIndex").toInt(), 2);
    inputs.set({{"alsa_input.usb-headset", "Headset USB"}, {"alsa_input.pci-analog", "Microfone interno"}});
    settle();
    EXPECT_EQ(box->property("currentIndex").toInt(), 1);

    // Changed elsewhere (another window, a restart): the row follows the store.
    testPreferences().setMicrophoneDevice(QString());
    settle();
    EXPECT_EQ(box->property("currentIndex").toInt(), 0);
}
