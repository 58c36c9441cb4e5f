#pragma once

#include <QCoroTask>
#include <QString>
#include <optional>

class Preferences;
class QQuickWindow;

// The --ui-snapshots run: every window state worth reviewing (the
// introduction's steps, the main window's pages in light and dark, the
// recording and update states, the recording bar) rendered into PNG files
// over preview models, with no capture, permission or network activity and
// nothing written to the user's settings. "result.txt" with "FIM" marks a
// finished run; a missing image is the only sign of a failed step.
namespace UiSnapshots {

// Renders everything into FOLDER, the windows reading a copy of USER.
// SAMPLES is a folder of real captures for the library; without one, seven
// sample images are made in FOLDER/amostras.
QCoro::Task<void> run(QString folder, const Preferences &user, std::optional<QString> samples = std::nullopt);

// Creates FOLDER (with missing parents) and writes the seven sample
// screenshots "Print exemplo 0.png" to "Print exemplo 6.png" into it; returns
// how many were written. Disk and encoding work: keep it off the GUI thread.
int makeSamples(const QString &folder);

// Renders WINDOW, laid out for a moment, into FOLDER/NAME.png; false when
// nothing could be written. The window is left shown (transparent).
QCoro::Task<bool> save(QQuickWindow *window, QString name, QString folder);

} // namespace UiSnapshots
