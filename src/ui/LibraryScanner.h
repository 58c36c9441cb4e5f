#pragma once

#include "ui/CaptureItem.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Finds the captures in a folder: Velunta's own file names ("Print….png",
// "Gravação….mp4"), dated and newest first. Scans run off the GUI thread, and
// when scans overlap only the newest one's result is handed back.
class LibraryScanner {
public:
    // Where a capture's date comes from; unset: the file system's creation
    // date. Tests date files by their modification time, which they can set.
    using DateSource = std::function<QDateTime(const QString &path)>;

    explicit LibraryScanner(DateSource captureDate = {});

    // The captures in FOLDER, scanned on the thread pool; nullopt when a scan
    // started later has superseded this one (or the scanner is gone).
    QCoro::Task<std::optional<QList<CaptureItem>>> scan(QString folder);

    // The captures in FOLDER, newest first; empty when it cannot be listed.
    static QList<CaptureItem> scanFolder(const QString &folder, const DateSource &captureDate = {});
    // A capture's date: its birth time, else its modification time.
    static QDateTime creationDate(const QString &path);
    // Newest first; equal dates keep their order.
    static void sortNewestFirst(QList<CaptureItem> &items);

private:
    DateSource m_captureDate;
    // Shared with running scans, which may outlive the scanner.
    std::shared_ptr<quint64> m_generation = std::make_shared<quint64>(0);
};
