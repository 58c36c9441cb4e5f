// The tray as the normal run builds it: the controller's menu in a real
// StatusItem. The menu follows every setting it shows, wherever the setting
// is written, without waiting to be opened (trays that show it over D-Bus
// never say when it opens); the idle icon shows on dark and light panels.
#include "app/StatusItem.h"
#include "app/AppController.h"
#include "app/ControllerFixture.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"
#include "ui/AppModel.h"
#include "ui/MainMenu.h"
#include "ui/MainWindow.h"
#include "ui/QmlUi.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class Tray : public ControllerFixture {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        statusItem = std::make_unique<StatusItem>(
            [this] { return controller ? controller->statusMenuItems() : QList<StatusMenu::Item>(); },
            [this](StatusMenu::Action action) {
                if (controller)
                    controller->perform(action);
            },
            preferences);
        controller = std::make_unique<AppController>(services(statusItem.get()), preferences, model.get());
        statusItem->invalidate(); // as the normal run does once the controller exists
    }

    QAction *item(const QString &title) const
    {
        for (QAction *action : statusItem->menu()->actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }

    // Whether the menu, never opened, comes to show TITLE checked or not.
    bool shows(const QString &title, bool checked) const
    {
        return QTest::qWaitFor(
            [&] {
                QAction *action = item(title);
                return action && action->isChecked() == checked;
            },
            3000);
    }

    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<AppController> controller;
};

const QString systemAudio = QStringLiteral("Gravar áudio do sistema");
const QString microphoneItem = QStringLiteral("Gravar microfone");
const QString copy = QStringLiteral("Copiar para a área de transferência");

// Relative luminance and contrast ratio as the accessibility guidelines
// define them.
double luminance(QColor color)
{
    auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The icon as a panel of PANEL colour shows it.
QImage onPanel(const QPixmap &icon, QColor panel)
{
    QImage image(icon.size() + QSize(8, 8), QImage::Format_RGB32);
    image.fill(panel);
    QPainter painter(&image);
    painter.drawPixmap(4, 4, icon);
    return image;
}

// Pixels that stand out from the panel at least as much as large text must.
int standingOut(const QImage &image, QColor panel)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += contrast(image.pixelColor(x, y), panel) >= 3.0 ? 1 : 0;
    }
    return count;
}

QPalette applicationTheme(bool dark)
{
    QPalette palette;
    const QColor window = dark ? QColor(0x24, 0x24, 0x26) : QColor(0xf6, 0xf6, 0xf6);
    const QColor text = dark ? QColor(0xf0, 0xf0, 0xf0) : QColor(0x10, 0x10, 0x10);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    return palette;
}

} // namespace

TEST_F(Tray, ASettingToggledInTheWindowsShowsInTheMenuWithoutOpeningIt)
{
    // The settings page writes through the same setters.
    Preferences &page = preferences;
    ASSERT_TRUE(shows(microphoneItem, false));
    page.setCapturesMicrophone(true);
    EXPECT_TRUE(shows(microphoneItem, true));
    page.setCopiesScreenshots(false);
    EXPECT_TRUE(shows(copy, false));
    page.setCapturesSystemAudio(false);
    EXPECT_TRUE(shows(systemAudio, false));
    page.setCapturesSystemAudio(true);
    EXPECT_TRUE(shows(systemAudio, true));

    // And the other way round: the menu's own toggle reaches the page at once.
    QAction *toggle = item(microphoneItem);
    ASSERT_NE(toggle, nullptr);
    toggle->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !page.capturesMicrophone(); }, 3000));
    EXPECT_TRUE(shows(microphoneItem, false));
    EXPECT_FALSE(preferences.capturesMicrophone());
}

QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    if (!root || root->objectName() == name)
        return root;
    for (QQuickItem *child : root->childItems())
        if (QQuickItem *found = findItem(child, name))
            return found;
    return nullptr;
}

TEST_F(Tray, AToggleInTheMenuReachesTheWindowAndTheWindowsToggleTheMenuWithoutAPoll)
{
    // The main window over the same preferences, as the tray run builds it.
    const std::unique_ptr<QQmlEngine> engine = QmlUi::createEngine(preferences);
    MainMenu menu;
    MainWindow window(*engine, preferences, *model, &menu, MainWindow::Options {false});
    ASSERT_NE(window.window(), nullptr);
    QQuickItem *copyOption = findItem(window.window()->contentItem(), "copyOption");
    QQuickItem *microphoneOption = findItem(window.window()->contentItem(), "microphoneOption");
    ASSERT_NE(copyOption, nullptr);
    ASSERT_NE(microphoneOption, nullptr);
    ASSERT_TRUE(copyOption->property("checked").toBool());
    ASSERT_TRUE(shows(copy, true));

    // The tray's toggle: the view's box follows before any event is processed.
    item(copy)->trigger();
    EXPECT_FALSE(copyOption->property("checked").toBool());
    ASSERT_TRUE(shows(copy, false));
    item(microphoneItem)->trigger();
    EXPECT_TRUE(microphoneOption->property("checked").toBool());

    // The view's box, toggled as a click does: the stored value and the menu follow.
    QMetaObject::invokeMethod(copyOption, "toggle");
    QMetaObject::invokeMethod(copyOption, "toggled");
    EXPECT_TRUE(preferences.copiesScreenshots());
    EXPECT_TRUE(shows(copy, true));
}

TEST_F(Tray, TheMicrophoneGrantChecksTheMenu)
{
    FakeMicrophone granting;
    granting.granted = true;
    AppModel::Services services;
    services.microphone = &granting;
    services.preferences = &preferences;
    AppModel introduction(services);
    ASSERT_TRUE(shows(microphoneItem, false));
    introduction.askForMicrophone();
    EXPECT_TRUE(shows(microphoneItem, true));
    EXPECT_EQ(granting.requests, 1);
}

TEST_F(Tray, AToggleInTheMenuIsNotDeletedWhileItRuns)
{
    ASSERT_TRUE(shows(copy, true));
    QPointer<QAction> toggle = item(copy);
    toggle->trigger();
    EXPECT_TRUE(toggle) << "the menu is rebuilt only after the action has returned";
    EXPECT_FALSE(preferences.copiesScreenshots());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !toggle; }, 3000)) << "then the menu is rebuilt";
    EXPECT_TRUE(shows(copy, false));
}

TEST_F(Tray, TheIdleIconStandsOutOnDarkAndLightPanelsWhateverTheApplicationTheme)
{
    const QPalette original = QApplication::palette();
    const QString samples = qEnvironmentVariable("VELUNTA_TRAY_ICON_SAMPLES");
    const QColor darkPanel(0x2b, 0x2b, 0x2e), lightPanel(0xee, 0xee, 0xee);
    for (bool darkTheme : {false, true}) {
        QApplication::setPalette(applicationTheme(darkTheme));
        StatusItem tray([] { return QList<StatusMenu::Item>(); }, [](StatusMenu::Action) {}, preferences);
        for (int size : {16, 22, 32}) {
            const QPixmap icon = tray.trayIcon()->icon().pixmap(QSize(size, size));
            ASSERT_FALSE(icon.isNull());
            for (QColor panel : {darkPanel, lightPanel}) {
                const QImage shown = onPanel(icon, panel);
                // The glyph's strokes cover roughly a quarter of the square.
                EXPECT_GE(standingOut(shown, panel), size * size / 6)
                    << "theme " << (darkTheme ? "dark" : "light") << ", panel " << panel.name().toStdString() << ", "
                    << size << " px";
                if (!samples.isEmpty() && size == 22) {
                    QDir().mkpath(samples);
                    shown.scaled(shown.size() * 8, Qt::KeepAspectRatio, Qt::FastTransformation)
                        .save(QStringLiteral("%1/idle-%2-theme-on-%3-panel.png")
                                  .arg(samples, darkTheme ? "dark" : "light", panel == darkPanel ? "dark" : "light"));
                }
            }
        }
    }
    QApplication::setPalette(original);
}
