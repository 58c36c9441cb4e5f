#pragma once

#include "CaptureFolder.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"
#include "ui/AppModel.h"
#include "ui/MainMenu.h"
#include "ui/MainWindow.h"
#include "ui/QmlUi.h"
#include "updater/Updater.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

// Settings go to a home of the test's own, before anything reads them.
inline void useTestHome()
{
    static TestSupport::TempHome home;
    static bool applied = (home.applyToThisProcess(), true);
    Q_UNUSED(applied);
}

// The settings file the windows of this test process share, as a run's
// windows share the user's.
inline QString testSettingsFile()
{
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("Velunta.conf"));
}

// A preview model over a folder, and the main window over it.
struct MainWindowFixture {
    Preferences preferences {testSettingsFile()};
    // Not configured: no checks, as on a build without an update source.
    Updater updater {preferences, std::nullopt};
    std::unique_ptr<QQmlEngine> engine;
    MainMenu menu;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<MainWindow> main;

    explicit MainWindowFixture(const QString &folder, bool hasScreenPermission = true)
    {
        open(std::make_unique<AppModel>(services(), folder, hasScreenPermission, 0));
    }

    // The window over a model of the test's making (a live model, for one).
    explicit MainWindowFixture(std::unique_ptr<AppModel> appModel) { open(std::move(appModel)); }

    // The capture folder's services with the fixture's preferences and updater.
    AppModel::Services services()
    {
        AppModel::Services services = CaptureFolder::services();
        services.preferences = &preferences;
        services.updater = &updater;
        return services;
    }

    void open(std::unique_ptr<AppModel> appModel)
    {
        useTestHome();
        engine = QmlUi::createEngine(preferences);
        model = std::move(appModel);
        QCoro::waitFor(model->reloadCaptures());
        main = std::make_unique<MainWindow>(*engine, preferences, *model, &menu, MainWindow::Options {false});
    }

    QQuickWindow *window() const { return main->window(); }

    void showAndSettle()
    {
        main->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window()));
        settle();
    }

    static void settle(int ms = 100) { QTest::qWait(ms); }

    // Runs the event loop until CONDITION holds or MS milliseconds pass.
    static bool waitUntil(const std::function<bool()> &condition, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!condition() && !deadline.hasExpired())
            QTest::qWait(20);
        return condition();
    }

    // Items called NAME under ROOT in the visual tree: list and repeater
    // delegates are visual children only, not QObject children.
    static QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &name)
    {
        QList<QQuickItem *> found;
        if (!root)
            return found;
        if (root->objectName() == name)
            found << root;
        for (QQuickItem *child : root->childItems())
            found << itemsNamed(child, name);
        return found;
    }

    static QQuickItem *findIn(QQuickItem *root, const QString &name)
    {
        const QList<QQuickItem *> found = itemsNamed(root, name);
        return found.isEmpty() ? nullptr : found.first();
    }

    QQuickItem *find(const QString &name) const { return findIn(window()->contentItem(), name); }

    // Visible items called NAME, top to bottom.
    QList<QQuickItem *> visibleItems(const QString &name) const
    {
        QList<QQuickItem *> items;
        for (QQuickItem *item : itemsNamed(window()->contentItem(), name))
            if (item->isVisible() && item->opacity() > 0)
                items << item;
        std::sort(items.begin(), items.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
        });
        return items;
    }

    QStringList visibleTexts(const QString &name) const
    {
        QStringList texts;
        for (QQuickItem *item : visibleItems(name))
            texts << item->property("text").toString();
        return texts;
    }

    void click(QQuickItem *item) const
    {
        ASSERT_NE(item, nullptr);
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window(), Qt::LeftButton, {}, centre.toPoint());
        settle(50);
    }
};
