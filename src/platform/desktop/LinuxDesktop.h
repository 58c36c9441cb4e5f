#pragma once

#include "platform/desktop/DesktopServices.h"

// The freedesktop.org way: xdg-open through Qt, the FileManager1 D-Bus
// interface for reveal, the XDG trash.
class LinuxDesktop : public DesktopServices {
public:
    void openUrl(const QUrl &url) override;
    void reveal(const QString &path) override;
    bool moveToTrash(const QString &path) override;
    std::optional<QString> chooseFolder(const QString &start) override;
    void openPrivacyPane(const QString &anchor) override;
    void copyImage(const QByteArray &png) override;
    void copyFile(const QString &path) override;

    // The first sound-settings program found on PATH, with its arguments.
    static std::optional<QStringList> soundSettingsCommand();
};
