#pragma once

#include <QUrl>
#include <memory>

class QQmlEngine;
class QmlTheme;
class SettingsBridge;

// The QML side of Velunta's windows: the types the views use (module
// "Velunta": Theme, CaptureSettings, UpdatePreferences, CropMarks,
// LibraryModel, RecentCapturesModel, DateTexts, Shortcuts), the image providers ("icon", "thumbnail")
// and the view files compiled into the program under qrc:/velunta/qml/.
namespace QmlUi {

// An engine ready to build any of the windows.
std::unique_ptr<QQmlEngine> createEngine();
// A view file by name, e.g. "MainWindow.qml".
QUrl view(const QString &fileName);
// The engine's singletons.
QmlTheme *theme(QQmlEngine &engine);
SettingsBridge *settings(QQmlEngine &engine);

} // namespace QmlUi
