#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// What the windows and the model ask of the desktop: opening things, the file
// manager, the trash and the folder chooser.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    virtual void openUrl(const QUrl &url) = 0;
    // Shows the file selected in the file manager, or opens its folder.
    virtual void reveal(const QString &path) = 0;
    virtual bool moveToTrash(const QString &path) = 0;
    // A modal folder chooser starting at START; nullopt when cancelled.
    virtual std::optional<QString> chooseFolder(const QString &start) = 0;
    // The desktop's settings for ANCHOR ("Privacy_ScreenCapture",
    // "Privacy_Microphone"); nothing where none is known.
    virtual void openPrivacyPane(const QString &anchor) = 0;

    // The clipboard: a screenshot's PNG bytes, or a file for file managers.
    virtual void copyImage(const QByteArray &png) = 0;
    virtual void copyFile(const QString &path) = 0;
};
