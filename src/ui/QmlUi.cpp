#include "QmlUi.h"

#include "AppModel.h"
#include "CropMarksItem.h"
#include "DateTexts.h"
#include "IconProvider.h"
#include "LibraryModel.h"
#include "MainMenu.h"
#include "QmlTheme.h"
#include "Thumbnails.h"
#include "UpdatePreferences.h"
#include "core/Preferences.h"
#include "core/Shortcut.h"
#include "platform/ScreenSource.h"
#include "platform/desktop/Autostart.h"

#include <QQmlContext>
#include <QQmlEngine>

static void loadViewResources()
{
    Q_INIT_RESOURCE(velunta_qml);
}

namespace {

// Date texts for the views, with "now" read at the time of the call.
class DateTextsObject : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE QString captureTime(const QDateTime &date) const { return DateTexts::captureTime(date); }
    Q_INVOKABLE QString captureDayAndTime(const QDateTime &date) const { return DateTexts::captureDayAndTime(date); }
    Q_INVOKABLE QString captureDayTitle(const QDateTime &date) const { return DateTexts::captureDayTitle(date); }
};

// What the views need to know of the session they run in.
class PlatformObject : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isWaylandSession READ isWaylandSession CONSTANT)
public:
    using QObject::QObject;
    bool isWaylandSession() const { return ::isWaylandSession(); }
};

// The global shortcuts as the views show them, from the one list the hot
// keys are registered from: each entry has `keys` and `title`.
class ShortcutsObject : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList all READ all CONSTANT)
    Q_PROPERTY(QVariantMap screenshotFull READ screenshotFull CONSTANT)
    Q_PROPERTY(QVariantMap screenshotArea READ screenshotArea CONSTANT)
    Q_PROPERTY(QVariantMap recordFull READ recordFull CONSTANT)
    Q_PROPERTY(QVariantMap recordArea READ recordArea CONSTANT)
public:
    using QObject::QObject;

    QVariantList all() const
    {
        QVariantList list;
        for (std::size_t i = 0; i < Shortcut::all().size(); ++i)
            list.append(entry(i));
        return list;
    }
    QVariantMap screenshotFull() const { return entry(0); }
    QVariantMap screenshotArea() const { return entry(1); }
    QVariantMap recordFull() const { return entry(2); }
    QVariantMap recordArea() const { return entry(3); }

private:
    static QVariantMap entry(std::size_t index)
    {
        const Shortcut &shortcut = Shortcut::all().at(index);
        return {{QStringLiteral("keys"), shortcut.keys}, {QStringLiteral("title"), shortcut.title}};
    }
};

int themeTypeId = -1;

void registerTypes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    loadViewResources();
    const char *uri = "Velunta";
    themeTypeId = qmlRegisterSingletonType<QmlTheme>(
        uri, 1, 0, "Theme", [](QQmlEngine *, QJSEngine *) { return new QmlTheme; });
    qmlRegisterSingletonType<DateTextsObject>(
        uri, 1, 0, "DateTexts", [](QQmlEngine *, QJSEngine *) { return new DateTextsObject; });
    qmlRegisterSingletonType<PlatformObject>(
        uri, 1, 0, "Platform", [](QQmlEngine *, QJSEngine *) { return new PlatformObject; });
    qmlRegisterSingletonType<ShortcutsObject>(
        uri, 1, 0, "Shortcuts", [](QQmlEngine *, QJSEngine *) { return new ShortcutsObject; });
    qmlRegisterSingletonType<Autostart>(
        uri, 1, 0, "Autostart", [](QQmlEngine *, QJSEngine *) { return new Autostart; });
    qmlRegisterType<CropMarksItem>(uri, 1, 0, "CropMarks");
    qmlRegisterType<LibraryModel>(uri, 1, 0, "LibraryModel");
    qmlRegisterType<RecentCapturesModel>(uri, 1, 0, "RecentCapturesModel");
    qmlRegisterUncreatableType<AppModel>(uri, 1, 0, "AppModel", QStringLiteral("the application owns the model"));
    qmlRegisterUncreatableType<MainMenu>(uri, 1, 0, "MainMenu", QStringLiteral("the windows own the menu"));
    // The settings page's installed version.
    UpdatePreferences::registerQmlType();
}

} // namespace

namespace QmlUi {

std::unique_ptr<QQmlEngine> createEngine(Preferences &preferences)
{
    registerTypes();
    auto engine = std::make_unique<QQmlEngine>();
    // One settings object per engine, not a process-wide singleton: each run
    // (and each test) brings its own store.
    engine->rootContext()->setContextProperty(QStringLiteral("Preferences"), &preferences);
    engine->addImageProvider(QStringLiteral("icon"), new IconProvider);
    engine->addImageProvider(QStringLiteral("thumbnail"), new Thumbnails::Provider);
    return engine;
}

QUrl view(const QString &fileName)
{
    return QUrl(QStringLiteral("qrc:/velunta/qml/") + fileName);
}

QmlTheme *theme(QQmlEngine &engine)
{
    return engine.singletonInstance<QmlTheme *>(themeTypeId);
}

} // namespace QmlUi

#include "QmlUi.moc"
