#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QUrl>

// One saved capture in the save folder.
struct CaptureItem {
    Q_GADGET
    Q_PROPERTY(QUrl url MEMBER url)
    Q_PROPERTY(QDateTime date MEMBER date)
    Q_PROPERTY(bool isVideo MEMBER isVideo)
    Q_PROPERTY(QString path READ path)
public:
    QUrl url;
    QDateTime date;
    bool isVideo = false;

    QString path() const { return url.toLocalFile(); }
    bool operator==(const CaptureItem &) const = default;
};

inline size_t qHash(const CaptureItem &item, size_t seed = 0)
{
    return qHashMulti(seed, item.url, item.date, item.isVideo);
}

Q_DECLARE_METATYPE(CaptureItem)
