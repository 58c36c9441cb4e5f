#include "LibraryModel.h"

#include "AppModel.h"
#include "DateTexts.h"

#include <algorithm>
#include <cmath>
#include <limits>

LibraryModel::LibraryModel(QObject *parent)
    : KeyedListModel(parent)
    , m_now([] { return QDateTime::currentDateTime(); })
{
    m_dayTimer.setSingleShot(true);
    m_dayTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_dayTimer, &QTimer::timeout, this, &LibraryModel::refreshDay);
    scheduleDayChange();
}

void LibraryModel::setSource(AppModel *source)
{
    if (m_source == source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &AppModel::capturesChanged, this, &LibraryModel::takeCaptures);
    takeCaptures();
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
    layoutRows();
    emit columnsChanged();
}

void LibraryModel::setClock(std::function<QDateTime()> now)
{
    m_now = std::move(now);
    takeCaptures();
}

void LibraryModel::refreshDay()
{
    if (m_now().toLocalTime().date() != m_today)
        rebuild();
    else
        scheduleDayChange();
}

void LibraryModel::scheduleDayChange()
{
    const QDateTime now = m_now().toLocalTime();
    const qint64 untilMidnight = now.msecsTo(now.date().addDays(1).startOfDay());
    // At most an hour: a timer does not see the clock jump (a suspended
    // machine, a time set by hand), so look again at least that often.
    m_dayTimer.start(int(std::clamp<qint64>(untilMidnight, 1, 60 * 60 * 1000)));
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
        {QStringLiteral("key"), item.path + QLatin1Char('\n') + QString::number(item.date.toMSecsSinceEpoch())},
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

void LibraryModel::takeCaptures()
{
    m_captures = m_source ? m_source->captures() : QList<CaptureItem>();
    // Tiles are known by capture, so they stay good across rescans; freeing
    // thousands of them at once takes a visible moment, so they go only
    // once those of captures gone could outnumber the others.
    if (m_tiles.size() > 2 * m_captures.size() + 64)
        m_tiles.clear();
    m_days.clear();
    m_days.reserve(size_t(m_captures.size()));
    // The list is sorted newest first, so one day's captures are adjacent.
    // A capture inside the last day seen, as an instant range, is on that day
    // without a time-zone conversion: those cost more than the rest together.
    QDate day;
    qint64 dayBegin = 0;
    qint64 dayEnd = 0;
    for (const CaptureItem &item : std::as_const(m_captures)) {
        const qint64 instant = item.date.toMSecsSinceEpoch();
        if (!m_days.empty() && day.isValid() && instant >= dayBegin && instant < dayEnd) {
            m_days.push_back(day);
            continue;
        }
        day = item.date.toLocalTime().date();
        if (day.isValid()) {
            dayBegin = day.startOfDay().toMSecsSinceEpoch();
            dayEnd = day.addDays(1).startOfDay().toMSecsSinceEpoch();
        }
        m_days.push_back(day);
    }
    rebuild();
}

const QString &LibraryModel::titleOf(QDate day)
{
    auto found = m_titles.find(day.toJulianDay());
    if (found == m_titles.end())
        found = m_titles.insert(day.toJulianDay(), DateTexts::dayTitle(day, m_today));
    return *found;
}

void LibraryModel::rebuild()
{
    const QDate today = m_now().toLocalTime().date();
    if (today != m_today)
        m_titles.clear();
    m_today = today;
    m_items.clear();
    m_groups.clear();
    const bool all = m_filter == All;
    if (all)
        m_items = m_captures;
    for (int i = 0; i < m_captures.size(); ++i) {
        const CaptureItem &item = m_captures.at(i);
        if (!all) {
            if (item.isVideo != (m_filter == Recordings))
                continue;
            m_items.append(item);
        }
        const int at = all ? i : int(m_items.size()) - 1;
        const QDate day = m_days[size_t(i)];
        if (!m_groups.empty() && m_groups.back().day == day) {
            m_groups.back().end = at + 1;
            continue;
        }
        const QString &title = titleOf(day);
        if (!m_groups.empty() && m_groups.back().title == title) {
            // Out-of-order dates can still share a title; never repeat it.
            m_groups.back().end = at + 1;
            continue;
        }
        m_groups.push_back({title, day, at, at + 1});
    }
    layoutRows();
    scheduleDayChange();
    emit layoutRebuilt();
}

bool LibraryModel::Row::sameAs(const Row &other) const
{
    return title == other.title && isFirst == other.isFirst && isLastInGroup == other.isLastInGroup
        && std::equal(items.begin() + begin, items.begin() + end, other.items.begin() + other.begin,
            other.items.begin() + other.end);
}

void LibraryModel::layoutRows()
{
    std::vector<Row> rows;
    rows.reserve(m_groups.size() + m_items.size() / m_columns + 1);
    for (const Group &group : m_groups) {
        const qint64 day = group.day.isValid() ? group.day.toJulianDay() : std::numeric_limits<qint64>::min();
        rows.push_back({{day, -1}, group.title, m_items, 0, 0, rows.empty(), false, {}});
        for (int start = group.begin, line = 0; start < group.end; start += m_columns, ++line) {
            const int end = std::min(start + m_columns, group.end);
            rows.push_back({{day, line}, {}, m_items, start, end, false, end == group.end, {}});
        }
    }
    replaceRows(
        m_rows, std::move(rows), [](const Row &row) { return row.key; },
        [](const Row &a, const Row &b) { return a.sameAs(b); });
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
    switch (role) {
    case KindRole:
        return row.key.line < 0 ? Heading : Tiles;
    case TitleRole:
        return row.title;
    case IsFirstRole:
        return row.isFirst;
    case IsLastInGroupRole:
        return row.isLastInGroup;
    case ItemsRole:
        if (row.tiles.isEmpty()) {
            for (int i = row.begin; i < row.end; ++i)
                row.tiles.append(tileOf(row.items.at(i)));
        }
        return row.tiles;
    default:
        return {};
    }
}

QVariant LibraryModel::tileOf(const CaptureItem &item) const
{
    auto found = m_tiles.constFind(item);
    if (found == m_tiles.constEnd())
        found = m_tiles.insert(item, tileData(item, DateTexts::captureTime(item.date)));
    return *found;
}

QHash<int, QByteArray> LibraryModel::roleNames() const
{
    return {{KindRole, "kind"}, {TitleRole, "title"}, {ItemsRole, "items"}, {IsLastInGroupRole, "isLastInGroup"},
        {IsFirstRole, "isFirst"}};
}

RecentCapturesModel::RecentCapturesModel(QObject *parent)
    : KeyedListModel(parent)
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
    std::vector<CaptureItem> next;
    if (m_source) {
        const QList<CaptureItem> &captures = m_source->captures();
        next.assign(captures.begin(), captures.begin() + std::min<qsizetype>(limit, captures.size()));
    }
    replaceRows(
        m_items, std::move(next), [](const CaptureItem &item) { return item; },
        [](const CaptureItem &, const CaptureItem &) { return true; });
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
    const CaptureItem &item = m_items[index.row()];
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
