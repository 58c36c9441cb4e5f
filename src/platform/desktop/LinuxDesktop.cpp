#include "LinuxDesktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

void LinuxDesktop::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

void LinuxDesktop::reveal(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(path).toString()} << QString();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        return;
    }
    // Asynchronous: a missing file manager service must not stall the GUI.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, folder] {
        if (watcher->isError())
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        watcher->deleteLater();
    });
}

bool LinuxDesktop::moveToTrash(const QString &path)
{
    // Without the data folder Qt 6.4 builds the trash relative to the current
    // folder and "trashes" the file there.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data))
        return false;
    return QFile::moveToTrash(path);
}

std::optional<QString> LinuxDesktop::chooseFolder(const QString &start)
{
    QFileDialog dialog(nullptr, QString(), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Escolher"));
    dialog.setWindowModality(Qt::ApplicationModal);
    QApplication::setActiveWindow(&dialog);
    dialog.raise();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QStringList> LinuxDesktop::soundSettingsCommand()
{
    static const QList<QStringList> candidates = {
        {"gnome-control-center", "sound"},
        {"systemsettings", "kcm_pulseaudio"},
        {"xfce4-pulseaudio-plugin-settings"},
        {"mate-volume-control", "--page=input"},
        {"cinnamon-settings", "sound"},
        {"pavucontrol", "--tab=4"},
    };
    for (const QStringList &candidate : candidates)
        if (!QStandardPaths::findExecutable(candidate.first()).isEmpty())
            return candidate;
    return std::nullopt;
}

void LinuxDesktop::openPrivacyPane(const QString &anchor)
{
    // X11 has no screen-capture permission to grant, so only the microphone
    // has somewhere to go.
    if (anchor != QLatin1String("Privacy_Microphone"))
        return;
    if (auto command = soundSettingsCommand()) {
        const QString program = command->takeFirst();
        QProcess::startDetached(program, *command);
    }
}

void LinuxDesktop::copyImage(const QByteArray &png)
{
    auto *data = new QMimeData;
    data->setData(QStringLiteral("image/png"), png);
    QGuiApplication::clipboard()->setMimeData(data);
}

void LinuxDesktop::copyFile(const QString &path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    auto *data = new QMimeData;
    data->setUrls({url});
    // What GNOME's and KDE's file managers paste as a file.
    data->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url.toEncoded());
    QGuiApplication::clipboard()->setMimeData(data);
}
