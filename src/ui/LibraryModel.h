#pragma once

#include "ui/CaptureItem.h"
#include "ui/KeyedListModel.h"

#include <QDate>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

class AppModel;

// The library page as one flat list of rows: a day heading, then rows of up
// to `columns` tiles, then the next heading. One ListView over these rows
// creates tiles only for the rows in or near view, so a folder of thousands
// of captures scrolls as smoothly as a folder of ten. A heading row is known
// by its day, a row of tiles by its day and line, so that a trashed or new
// capture, another filter or another width changes only the rows it touches
// and the view keeps its place.
class LibraryModel : public KeyedListModel {
    Q_OBJECT
    Q_PROPERTY(AppModel *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(int filter READ filter WRITE setFilter NOTIFY filterChanged)
    Q_PROPERTY(int columns READ columns WRITE setColumns NOTIFY columnsChanged)
    Q_PROPERTY(int itemCount READ itemCount NOTIFY layoutRebuilt)
    Q_PROPERTY(QStringList dayTitles READ dayTitles NOTIFY layoutRebuilt)

public:
    enum Filter { All, Screenshots, Recordings };
    Q_ENUM(Filter)
    enum Role { KindRole = Qt::UserRole + 1, TitleRole, ItemsRole, IsLastInGroupRole, IsFirstRole };
    enum RowKind { Heading, Tiles };
    Q_ENUM(RowKind)

    explicit LibraryModel(QObject *parent = nullptr);

    AppModel *source() const { return m_source; }
    void setSource(AppModel *source);
    int filter() const { return m_filter; }
    void setFilter(int filter);
    int columns() const { return m_columns; }
    void setColumns(int columns);
    int itemCount() const { return int(m_items.size()); }
    QStringList dayTitles() const;

    // The present moment, replaceable in tests.
    void setClock(std::function<QDateTime()> now);
    // Renames the headings when the day has changed since they were made
    // ("Hoje" becomes "Ontem"). Runs by itself at local midnight.
    Q_INVOKABLE void refreshDay();
    // Columns that fit WIDTH: tiles at least 170 wide, 14 apart.
    Q_INVOKABLE static int columnsFor(qreal width);

    // The items a filter keeps, in list order.
    static QList<CaptureItem> filtered(const QList<CaptureItem> &captures, Filter filter);
    // What a tile needs to show ITEM.
    static QVariantMap tileData(const CaptureItem &item, const QString &caption);
    static QString thumbnailSource(const QString &path);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void sourceChanged();
    void filterChanged();
    void columnsChanged();
    void layoutRebuilt();

private:
    struct Group {
        QString title;
        QDate day; // of its first capture: the group's identity
        int begin;
        int end;
    };
    struct RowKey {
        qint64 day;
        int line; // -1 for the heading
        bool operator==(const RowKey &) const = default;
        friend size_t qHash(const RowKey &key, size_t seed = 0) { return qHashMulti(seed, key.day, key.line); }
    };
    // A row holds what it shows (ITEMS is shared, not copied), so that views
    // read a whole row at every step of an update.
    struct Row {
        RowKey key;
        QString title;
        QList<CaptureItem> items;
        int begin = 0; // its tiles: items [begin, end); none for a heading
        int end = 0;
        bool isFirst = false;
        bool isLastInGroup = false;
        // Its tiles' data, made on the first read: a view reads a row again
        // each time it scrolls back into view.
        mutable QVariantList tiles;
        bool sameAs(const Row &other) const;
    };

    // The source's captures changed: their days are worked out once here,
    // so that a filter switch or a new day converts no dates.
    void takeCaptures();
    // The groups of the filtered captures, from the days already known.
    void rebuild();
    void layoutRows();
    void scheduleDayChange();
    const QString &titleOf(QDate day);
    QVariant tileOf(const CaptureItem &item) const;

    QPointer<AppModel> m_source;
    int m_filter = All;
    int m_columns = 1;
    std::function<QDateTime()> m_now;
    QDate m_today;
    QTimer m_dayTimer;
    QList<CaptureItem> m_captures;
    std::vector<QDate> m_days; // the local day of each of m_captures
    QHash<qint64, QString> m_titles; // by Julian day, for m_today
    // Tiles already made, by capture: a filter switched back and forth
    // formats no date twice.
    mutable QHash<CaptureItem, QVariant> m_tiles;
    QList<CaptureItem> m_items;
    std::vector<Group> m_groups;
    std::vector<Row> m_rows;
};

// The newest ten captures for the strip on the capture page. A capture is
// known by its file and date (a file replaced under its name is a new tile
// with a new thumbnail).
class RecentCapturesModel : public KeyedListModel {
    Q_OBJECT
    Q_PROPERTY(AppModel *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    static constexpr int limit = 10;
    enum Role { PathRole = Qt::UserRole + 1, TileRole };

    explicit RecentCapturesModel(QObject *parent = nullptr);
    AppModel *source() const { return m_source; }
    void setSource(AppModel *source);
    int count() const { return int(m_items.size()); }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void sourceChanged();
    void countChanged();

private:
    void rebuild();

    QPointer<AppModel> m_source;
    std::vector<CaptureItem> m_items;
};
