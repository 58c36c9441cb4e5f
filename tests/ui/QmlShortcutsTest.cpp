// The views show the global shortcuts from the one list the hot keys are
// registered from.
#include "core/Preferences.h"
#include "core/Shortcut.h"
#include "ui/AppModel.h"
#include "ui/QmlUi.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

std::unique_ptr<QObject> create(QQmlComponent &component, const QVariantMap &properties = {})
{
    std::unique_ptr<QObject> object(component.createWithInitialProperties(properties));
    EXPECT_TRUE(object) << component.errorString().toStdString();
    return object;
}

} // namespace

TEST(QmlShortcuts, TheViewsSeeTheFourShortcutsInOrder)
{
    QTemporaryDir dir;
    Preferences preferences(dir.filePath("Velunta.conf"));
    auto engine = QmlUi::createEngine(preferences);
    QQmlComponent component(engine.get());
    component.setData(R"(
        import QtQml
        import Velunta
        QtObject {
            property var all: Shortcuts.all
            property var named: [Shortcuts.screenshotFull, Shortcuts.screenshotArea,
                                 Shortcuts.recordFull, Shortcuts.recordArea]
        }
    )",
        QUrl(QStringLiteral("qrc:/test/Shortcuts.qml")));
    const auto object = create(component);
    ASSERT_TRUE(object);

    for (const char *property : {"all", "named"}) {
        const QVariantList list = object->property(property).toList();
        ASSERT_EQ(list.size(), 4) << property;
        for (int i = 0; i < 4; ++i) {
            const QVariantMap entry = list.at(i).toMap();
            EXPECT_EQ(entry.value("keys").toString(), Shortcut::all().at(i).keys) << property << i;
            EXPECT_EQ(entry.value("title").toString(), Shortcut::all().at(i).title) << property << i;
        }
    }
}

TEST(QmlShortcuts, EachCaptureCardShowsItsTwoShortcuts)
{
    QTemporaryDir dir;
    Preferences preferences(dir.filePath("Velunta.conf"));
    auto engine = QmlUi::createEngine(preferences);
    QQmlComponent component(engine.get(), QmlUi::view(QStringLiteral("CaptureCard.qml")));
    struct Expected {
        bool isArea;
        const char *printKeys, *printTitle, *recordKeys, *recordTitle;
    };
    for (const Expected &card : {
             Expected {false, "Alt+Shift+1", "Print da tela inteira", "Alt+Shift+3", "Gravar a tela inteira"},
             Expected {true, "Alt+Shift+2", "Print de uma área", "Alt+Shift+4", "Gravar uma área"},
         }) {
        const auto object
            = create(component, {{"model", QVariant::fromValue<AppModel *>(nullptr)}, {"isArea", card.isArea}});
        ASSERT_TRUE(object);
        auto *buttons = object->property("buttons").value<QObject *>();
        ASSERT_TRUE(buttons);
        EXPECT_EQ(buttons->property("printKeys").toString(), QString::fromUtf8(card.printKeys));
        EXPECT_EQ(buttons->property("printTitle").toString(), QString::fromUtf8(card.printTitle));
        EXPECT_EQ(buttons->property("recordKeys").toString(), QString::fromUtf8(card.recordKeys));
        EXPECT_EQ(buttons->property("recordTitle").toString(), QString::fromUtf8(card.recordTitle));
        auto *print = buttons->property("printButton").value<QObject *>();
        ASSERT_TRUE(print);
        EXPECT_EQ(print->property("keysText").toString(), QString::fromUtf8(card.printKeys));
    }
}
