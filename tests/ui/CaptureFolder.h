#pragma once

#include "ui/AppModel.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>

// A save folder whose captures are dated by their modification time, which
// tests can set (a birth time cannot be set, and tmpfs keeps one too on
// current kernels).
class CaptureFolder {
public:
    CaptureFolder()
        : m_dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/velunta-test-XXXXXX")
                                                          : QDir::tempPath() + QStringLiteral("/velunta-test-XXXXXX"))
    {
    }
    QString path() const { return m_dir.path(); }

    // A small real PNG (or an empty stand-in for a recording) dated DATE.
    QString add(const QString &name, const QDateTime &date, QColor color = QColor(64, 120, 216))
    {
        const QString file = m_dir.filePath(name);
        if (name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
            QImage image(800, 500, QImage::Format_RGB32);
            image.fill(color);
            image.save(file, "PNG");
        } else {
            QFile f(file);
            f.open(QIODevice::WriteOnly);
        }
        setDate(file, date);
        return file;
    }

    // Model services that date captures as `add` does.
    static AppModel::Services services()
    {
        AppModel::Services services;
        services.captureDate = [](const QString &path) { return QFileInfo(path).lastModified().toUTC(); };
        return services;
    }

    static void setDate(const QString &file, const QDateTime &date)
    {
        const qint64 ms = date.toMSecsSinceEpoch();
        struct timespec times[2]
            = {{time_t(ms / 1000), long(ms % 1000) * 1000000}, {time_t(ms / 1000), long(ms % 1000) * 1000000}};
        utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0);
    }

private:
    QTemporaryDir m_dir;
};
