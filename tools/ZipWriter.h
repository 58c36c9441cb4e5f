#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QString>
#include <memory>

struct archive;

// Writes a ZIP archive entry by entry, keeping Unix modes and symbolic links
// so that an extracted bundle runs as it was packed.
class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    Result<Done, QString> open(const QString &path);
    // NAME is taken as it is: the publisher decides what goes in, tests also
    // write names that an installer must refuse.
    Result<Done, QString> addDirectory(const QString &name, int mode = 0755);
    Result<Done, QString> addFile(const QString &name, const QByteArray &content, int mode = 0644);
    Result<Done, QString> addFileFromDisk(const QString &name, const QString &path, int mode);
    Result<Done, QString> addSymlink(const QString &name, const QString &target);
    Result<Done, QString> close();

    // The modification time given to the entries added from now on
    // (seconds since 1970); the current time unless set.
    void setModificationTime(qint64 seconds) { m_mtime = seconds; }

private:
    Result<Done, QString> failure() const;
    QString m_path;
    qint64 m_mtime;
    struct Free {
        void operator()(archive *a) const;
    };
    std::unique_ptr<archive, Free> m_archive;
};
