#pragma once

#include "core/Preferences.h"
#include "support/TestSupport.h"
#include "ui/QmlUi.h"
#include "ui/UpdatePreferences.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

// Settings go to a home of the test's own, before anything reads them.
inline void useTestHome()
{
    static TestSupport::TempHome home;
    static bool applied = (home.applyToThisProcess(), true);
    Q_UNUSED(applied);
}

// The settings the windows of this test process share, as a run's windows
// share the user's.
inline Preferences &testPreferences()
{
    static QTemporaryDir dir;
    static Preferences preferences(dir.filePath(QStringLiteral("Velunta.conf")));
    return preferences;
}

// What the settings file holds under KEY, read past the preferences' rules.
inline QVariant storedValue(const QString &key)
{
    return QSettings(testPreferences().fileName(), QSettings::IniFormat).value(key);
}

inline void removeStored(const QString &key)
{
    QSettings(testPreferences().fileName(), QSettings::IniFormat).remove(key);
}

// An engine with every type the windows use, the settings page's included.
inline std::unique_ptr<QQmlEngine> makeEngine()
{
    useTestHome();
    UpdatePreferences::registerQmlType();
    return QmlUi::createEngine(testPreferences());
}

inline void settle(int ms = 100)
{
    QTest::qWait(ms);
}

// Reading and clicking the items of one window by their object names.
struct WindowProbe {
    QQuickWindow *window = nullptr;

    // Every item of the scene, walked through the visual tree (Loader,
    // Repeater and Window do not all make their items QObject children).
    QList<QQuickItem *> items() const
    {
        QList<QQuickItem *> all;
        QList<QQuickItem *> pending {window->contentItem()};
        while (!pending.isEmpty()) {
            QQuickItem *item = pending.takeFirst();
            all << item;
            pending << item->childItems();
        }
        return all;
    }
    QList<QQuickItem *> named(const QString &name) const
    {
        QList<QQuickItem *> found;
        for (QQuickItem *item : items())
            if (item->objectName() == name)
                found << item;
        return found;
    }

    template <typename T = QQuickItem> T *find(const QString &name) const
    {
        const QList<QQuickItem *> found = named(name);
        return found.isEmpty() ? nullptr : qobject_cast<T *>(found.first());
    }

    static bool isShown(const QQuickItem *item)
    {
        for (const QQuickItem *i = item; i; i = i->parentItem())
            if (!i->isVisible() || i->opacity() <= 0)
                return false;
        return true;
    }

    // Shown items called NAME, top to bottom.
    QList<QQuickItem *> shownItems(const QString &name) const
    {
        QList<QQuickItem *> items;
        for (QQuickItem *item : named(name))
            if (isShown(item))
                items << item;
        std::stable_sort(items.begin(), items.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
        });
        return items;
    }

    QStringList shownTexts(const QString &name) const
    {
        QStringList texts;
        for (QQuickItem *item : shownItems(name))
            texts << item->property("text").toString();
        return texts;
    }

    // The text of the one shown item called NAME; empty when none is shown.
    QString text(const QString &name) const
    {
        const QStringList texts = shownTexts(name);
        return texts.isEmpty() ? QString() : texts.first();
    }

    bool shown(const QString &name) const { return !shownItems(name).isEmpty(); }

    // Every shown text of the window, for "is this sentence on screen".
    QStringList allTexts() const
    {
        QStringList texts;
        for (QQuickItem *item : items())
            if (isShown(item) && item->metaObject()->indexOfProperty("text") >= 0)
                if (const QString text = item->property("text").toString(); !text.isEmpty())
                    texts << text;
        return texts;
    }

    void click(QQuickItem *item) const
    {
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(isShown(item));
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window, Qt::LeftButton, {}, centre.toPoint());
        settle(50);
    }
    void click(const QString &name) const
    {
        const auto items = shownItems(name);
        ASSERT_FALSE(items.isEmpty()) << qPrintable(name);
        click(items.first());
    }
};
