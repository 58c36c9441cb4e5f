#pragma once

#include <QUrl>
#include <memory>

class Preferences;
class QQmlEngine;
class QmlTheme;

// The QML side of Velunta's windows: the types the views use (module
// "Velunta": Theme, UpdatePreferences, CropMarks, LibraryModel,
// RecentCapturesModel, DateTexts, Shortcuts), the run's settings as the
// context property "Preferences", the image providers ("icon", "thumbnail")
// and the view files compiled into the program under qrc:/velunta/qml/.
namespace QmlUi {

// An engine ready to build any of the windows, its views bound to
// PREFERENCES, which must outlive it.
std::unique_ptr<QQmlEngine> createEngine(Preferences &preferences);
// A view file by name, e.g. "MainWindow.qml".
QUrl view(const QString &fileName);
// The engine's singletons.
QmlTheme *theme(QQmlEngine &engine);

} // namespace QmlUi
