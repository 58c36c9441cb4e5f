#pragma once

#include <QList>
#include <QString>

// The tray menu as plain data: a function of the controller's state, the
// settings, the save folder and whether updates are configured. The tray
// rebuilds the real menu from it whenever any of these changes.
namespace StatusMenu {

enum class Action {
    none,
    showMainWindow,
    screenshotFull,
    screenshotArea,
    toggleRecordFull,
    toggleRecordArea,
    toggleSystemAudio,
    toggleMicrophone,
    toggleCopy,
    openFolder,
    checkForUpdates,
    quit,
    togglePause,
    stopRecording,
};

struct Item {
    QString title; // empty for a separator
    Action action = Action::none;
    QString shortcut; // as QKeySequence text, e.g. "Alt+Shift+1"
    QString icon; // the application's own symbol name
    bool checkable = false;
    bool checked = false;

    bool isSeparator() const { return title.isEmpty(); }
    bool operator==(const Item &) const = default;
};

struct Inputs {
    bool isRecording = false;
    bool isPaused = false;
    bool capturesSystemAudio = true;
    bool capturesMicrophone = false;
    bool copiesToClipboard = true;
    QString saveFolder;
    bool hasUpdateConfiguration = false;

    bool operator==(const Inputs &) const = default;
};

QList<Item> items(const Inputs &inputs);

} // namespace StatusMenu
