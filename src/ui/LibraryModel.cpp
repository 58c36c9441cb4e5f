#include "LibraryModel.h"

#include "AppModel.h"
#include "DateTexts.h"

#include <cmath>

LibraryModel::LibraryModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_now([] { return QDateTime::currentDateTime(); })
{
}

void LibraryModel::setSource(AppModel *source)
{
    if (m_source == source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &AppModel::capturesChanged, this, &LibraryModel::rebuild);
    rebuild();
    emit sourceChanged();
}

void LibraryModel::setFilter(int filter)
{
    if (filter < All || filter > Recordings || filter == m_filter)
        return;
    m_filter = filter;
    rebuild();
    emit filterChanged();
}

void LibraryModel::setColumns(int columns)
{
    columns = std::max(1, columns);
    if (columns == m_columns)
        return;
    m_columns = columns;
    beginResetModel();
    layoutRows();
    endResetModel();
    emit columnsChanged();
}

void LibraryModel::setClock(std::function<QDateTime()> now)
{
    m_now = std::move(now);
    rebuild();
}

void LibraryModel::refreshDay()
{
    if (m_now().toLocalTime().date() != m_today)
        rebuild();
}

int LibraryModel::columnsFor(qreal width)
{
    return std::max(1, int(std::floor((width + 14) / (170 + 14))));
}

QStringList LibraryModel::dayTitles() const
{
    QStringList titles;
    for (const Group &group : m_groups)
        titles << group.title;
    return titles;
}

QList<CaptureItem> LibraryModel::filtered(const QList<CaptureItem> &captures, Filter filter)
{
    if (filter == All)
        return captures;
    QList<CaptureItem> kept;
    for (const CaptureItem &item : captures)
        if (item.isVideo == (filter == Recordings))
            kept.append(item);
    return kept;
}

QString LibraryModel::thumbnailSource(const QString &path)
{
    // Base64 keeps spaces, "#" and "%" in file names out of the URL's way.
    return QStringLiteral("image://thumbnail/")
        + QString::fromLatin1(path.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QVariantMap LibraryModel::tileData(const CaptureItem &item, const QString &caption)
{
    return {
        {QStringLiteral("path"), item.path},
        {QStringLiteral("url"), item.url()},
        {QStringLiteral("isVideo"), item.isVideo},
        {QStringLiteral("caption"), caption},
        {QStringLiteral("thumbnail"), thumbnailSource(item.path)},
        {QStringLiteral("spokenLabel"),
            QStringLiteral("%1, %2").arg(item.isVideo ? QStringLiteral("Gravação") : QStringLiteral("Print"),
                DateTexts::captureDayAndTime(item.date))},
    };
}

void LibraryModel::rebuild()
{
    beginResetModel();
    m_items = m_source ? filtered(m_source->captures(), Filter(m_filter)) : QList<CaptureItem>();
    m_today = m_now().toLocalTime().date();
    m_groups.clear();
    // The list is sorted newest first, so one day's captures are adjacent.
    // A capture inside the current group's day, as an instant range, joins it
    // without a time-zone conversion: those cost more than the rest together.
    qint64 dayBegin = 0;
    qint64 dayEnd = 0;
    for (int i = 0; i < m_items.size(); ++i) {
        const QDateTime &date = m_items.at(i).date;
        const qint64 instant = date.toMSecsSinceEpoch();
        if (!m_groups.empty() && instant >= dayBegin && instant < dayEnd) {
            m_groups.back().end = i + 1;
            continue;
        }
        const QDate day = date.toLocalTime().date();
        dayBegin = day.startOfDay().toMSecsSinceEpoch();
        dayEnd = day.addDays(1).startOfDay().toMSecsSinceEpoch();
        const QString title = DateTexts::dayTitle(day, m_today);
        if (!m_groups.empty() && m_groups.back().title == title) {
            // Out-of-order dates can still share a title; never repeat it.
            m_groups.back().end = i + 1;
            continue;
        }
        m_groups.push_back({title, i, i + 1});
    }
    layoutRows();
    endResetModel();
    emit layoutRebuilt();
}

void LibraryModel::layoutRows()
{
    m_rows.clear();
    for (int g = 0; g < int(m_groups.size()); ++g) {
        m_rows.push_back({g, -1});
        for (int start = m_groups[g].begin; start < m_groups[g].end; start += m_columns)
            m_rows.push_back({g, start});
    }
}

int LibraryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant LibraryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const Row &row = m_rows[index.row()];
    const Group &group = m_groups[row.group];
    switch (role) {
    case KindRole:
        return row.start < 0 ? Heading : Tiles;
    case TitleRole:
        return group.title;
    case IsFirstRole:
        return index.row() == 0;
    case IsLastInGroupRole:
        return row.start >= 0 ? row.start + m_columns >= group.end : group.begin == group.end;
    case ItemsRole: {
        QVariantList tiles;
        if (row.start < 0)
            return tiles;
        for (int i = row.start; i < std::min(row.start + m_columns, group.end); ++i)
            tiles.append(tileData(m_items.at(i), DateTexts::captureTime(m_items.at(i).date)));
        return tiles;
    }
    default:
        return {};
    }
}

QHash<int, QByteArray> LibraryModel::roleNames() const
{
    return {{KindRole, "kind"}, {TitleRole, "title"}, {ItemsRole, "items"}, {IsLastInGroupRole, "isLastInGroup"},
        {IsFirstRole, "isFirst"}};
}

RecentCapturesModel::RecentCapturesModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void RecentCapturesModel::setSource(AppModel *source)
{
    if (m_source == source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &AppModel::capturesChanged, this, &RecentCapturesModel::rebuild);
    rebuild();
    emit sourceChanged();
}

void RecentCapturesModel::rebuild()
{
    const int before = count();
    beginResetModel();
    m_items = m_source ? m_source->captures().mid(0, limit) : QList<CaptureItem>();
    endResetModel();
    if (count() != before)
        emit countChanged();
}

int RecentCapturesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant RecentCapturesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const CaptureItem &item = m_items.at(index.row());
    if (role == PathRole)
        return item.path;
    if (role == TileRole)
        return LibraryModel::tileData(item, DateTexts::captureDayAndTime(item.date));
    return {};
}

QHash<int, QByteArray> RecentCapturesModel::roleNames() const
{
    return {{PathRole, "path"}, {TileRole, "tile"}};
}
