#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QUrl>

// One saved capture in the save folder. The file's path is its identity; the
// URL is made on demand because building 10,000 QUrls costs more than the scan.
struct CaptureItem {
    Q_GADGET
    Q_PROPERTY(QUrl url READ url)
    Q_PROPERTY(QString path MEMBER path)
    Q_PROPERTY(QDateTime date MEMBER date)
    Q_PROPERTY(bool isVideo MEMBER isVideo)
public:
    QString path;
    QDateTime date;
    bool isVideo = false;

    QUrl url() const { return QUrl::fromLocalFile(path); }
    bool operator==(const CaptureItem &) const = default;
};

inline size_t qHash(const CaptureItem &item, size_t seed = 0)
{
    return qHashMulti(seed, item.path, item.date, item.isVideo);
}

Q_DECLARE_METATYPE(CaptureItem)
