// The library's rows reach views as insertions, removals and changes of the
// rows they touch, never as a reset, and a view that follows those signals
// alone ends up showing what a freshly built model shows.
#include "ui/AppModel.h"
#include "ui/CaptureFolder.h"
#include "ui/LibraryModel.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <random>

// Readable failures.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QDateTime at(int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, minute));
}

// What a delegate of ROW would show.
QString describe(const QAbstractItemModel &model, int row)
{
    const QModelIndex index = model.index(row, 0);
    QString text;
    if (model.data(index, LibraryModel::KindRole).toInt() == LibraryModel::Heading)
        text = "# " + model.data(index, LibraryModel::TitleRole).toString();
    for (const QVariant &tile : model.data(index, LibraryModel::ItemsRole).toList())
        text += " [" + tile.toMap().value("key").toString().section('/', -1) + "]";
    if (model.data(index, LibraryModel::IsFirstRole).toBool())
        text += " first";
    if (model.data(index, LibraryModel::IsLastInGroupRole).toBool())
        text += " last";
    return text;
}

QStringList describeAll(const QAbstractItemModel &model)
{
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows << describe(model, row);
    return rows;
}

// A view's copy of the rows, kept current only through the model's signals.
class Mirror {
public:
    using Describe = std::function<QString(const QAbstractItemModel &, int row)>;
    explicit Mirror(QAbstractItemModel &model, Describe describeRow = describe)
        : m_model(model)
        , m_describe(std::move(describeRow))
    {
        for (int row = 0; row < model.rowCount(); ++row)
            m_rows << m_describe(model, row);
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [this](const QModelIndex &, int first, int last) {
            for (int row = first; row <= last; ++row)
                m_rows.insert(row, m_describe(m_model, row));
            ++inserts;
        });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [this](const QModelIndex &, int first, int last) {
            m_rows.remove(first, last - first + 1);
            ++removes;
        });
        QObject::connect(&model, &QAbstractItemModel::rowsMoved,
            [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
                const QStringList moved = m_rows.mid(first, last - first + 1);
                m_rows.remove(first, moved.size());
                const int at = to > first ? to - int(moved.size()) : to;
                for (int i = 0; i < moved.size(); ++i)
                    m_rows.insert(at + i, moved[i]);
                ++moves;
            });
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                    m_rows[row] = m_describe(m_model, row);
                    changedRows << row;
                }
            });
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] {
            m_rows.clear();
            for (int row = 0; row < m_model.rowCount(); ++row)
                m_rows << m_describe(m_model, row);
            ++resets;
        });
    }

    const QStringList &rows() const { return m_rows; }
    void clearCounts()
    {
        inserts = removes = moves = resets = 0;
        changedRows.clear();
    }

    int inserts = 0;
    int removes = 0;
    int moves = 0;
    int resets = 0;
    QList<int> changedRows;

private:
    QAbstractItemModel &m_model;
    Describe m_describe;
    QStringList m_rows;
};

// Rows of a key and a text, for the cases the library never makes: rows that
// change places, repeated keys.
class Words : public KeyedListModel {
public:
    struct Row {
        int key;
        QString text;
    };
    std::vector<Row> rows;

    void set(std::vector<Row> next)
    {
        replaceRows(
            rows, std::move(next), [](const Row &row) { return row.key; },
            [](const Row &a, const Row &b) { return a.text == b.text; });
    }
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(rows.size()); }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const Row &row = rows.at(index.row());
        return role == Qt::DisplayRole ? QVariant(QString::number(row.key) + ":" + row.text) : QVariant();
    }
    QStringList all() const
    {
        QStringList texts;
        for (const Row &row : rows)
            texts << QString::number(row.key) + ":" + row.text;
        return texts;
    }
    static QString describe(const QAbstractItemModel &model, int row)
    {
        return model.data(model.index(row, 0), Qt::DisplayRole).toString();
    }
};

struct Library {
    CaptureFolder folder;
    std::unique_ptr<AppModel> model;
    LibraryModel library;
    QDateTime now = at(12, 7, 20);

    Library()
    {
        model = std::make_unique<AppModel>(CaptureFolder::services(), folder.path(), true, 3);
        library.setClock([this] { return now; });
        library.setColumns(4);
        library.setSource(model.get());
    }

    // Empty recordings: the rows only need names and dates.
    void add(const QString &name, const QDateTime &date) { folder.add("Gravação " + name + ".mp4", date); }
    void remove(const QString &name) { QFile::remove(folder.path() + "/Gravação " + name + ".mp4"); }
    void reload() { QCoro::waitFor(model->reloadCaptures()); }

    // The rows a model built from scratch over the same captures shows.
    QStringList fresh() const
    {
        LibraryModel built;
        const QDateTime moment = now;
        built.setClock([moment] { return moment; });
        built.setColumns(library.columns());
        built.setFilter(library.filter());
        built.setSource(model.get());
        return describeAll(built);
    }
};

} // namespace

TEST(LibraryRows, TrashingACaptureChangesOnlyTheRowsAfterItInItsDay)
{
    Library lib;
    for (int i = 0; i < 9; ++i)
        lib.add(QStringLiteral("hoje %1").arg(i), at(12, 7, 18 - i));
    for (int i = 0; i < 5; ++i)
        lib.add(QStringLiteral("ontem %1").arg(i), at(12, 6, 18 - i));
    lib.reload();
    // Hoje: 4 + 4 + 1 tiles; Ontem: 4 + 1.
    ASSERT_EQ(lib.library.rowCount(), 7);
    Mirror mirror(lib.library);

    lib.remove("hoje 2");
    lib.reload();
    // The third line of "Hoje" goes; its first two lines change; "Ontem" is untouched.
    EXPECT_EQ(mirror.resets, 0);
    EXPECT_EQ(mirror.removes, 1);
    EXPECT_EQ(mirror.inserts, 0);
    EXPECT_EQ(mirror.changedRows, QList<int>({1, 2}));
    EXPECT_EQ(mirror.rows(), describeAll(lib.library));
    EXPECT_EQ(describeAll(lib.library), lib.fresh());
    EXPECT_EQ(lib.library.rowCount(), 6);

    // A capture of an older day, far down: rows above it are not touched.
    mirror.clearCounts();
    lib.remove("ontem 4");
    lib.reload();
    EXPECT_EQ(mirror.resets, 0);
    EXPECT_EQ(mirror.removes, 1);
    EXPECT_EQ(mirror.changedRows, QList<int>({4}));
    EXPECT_EQ(describeAll(lib.library), lib.fresh());
}

TEST(LibraryRows, ANewDayArrivesAsInsertedRowsAtTheTop)
{
    Library lib;
    lib.add("ontem", at(12, 6, 12));
    lib.add("anteontem", at(12, 5, 12));
    lib.now = at(12, 6, 20);
    lib.reload();
    ASSERT_EQ(lib.library.dayTitles(), QStringList({"Hoje", "Ontem"}));
    Mirror mirror(lib.library);
    QSignalSpy inserted(&lib.library, &QAbstractItemModel::rowsInserted);

    // The next morning's first capture: the page is rebuilt with the new day.
    lib.now = at(12, 7, 9);
    lib.add("hoje", at(12, 7, 8));
    lib.reload();
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Hoje", "Ontem", "5 de dezembro"}));
    EXPECT_EQ(mirror.resets, 0);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 1);
    // Only the old headings change: their titles and which one comes first.
    EXPECT_EQ(mirror.changedRows, QList<int>({2, 4}));
    EXPECT_EQ(mirror.rows(), describeAll(lib.library));
    EXPECT_EQ(describeAll(lib.library), lib.fresh());
}

TEST(LibraryRows, WidthAndFilterChangesKeepRowsThatStay)
{
    Library lib;
    for (int i = 0; i < 9; ++i)
        lib.add(QStringLiteral("hoje %1").arg(i), at(12, 7, 18 - i));
    lib.folder.add("Print ontem.png", at(12, 6, 10));
    lib.reload();
    Mirror mirror(lib.library);

    lib.library.setColumns(3); // 9 tiles in 3 lines instead of 4 + 4 + 1
    EXPECT_EQ(mirror.resets + mirror.inserts + mirror.removes, 0);
    EXPECT_EQ(mirror.changedRows, QList<int>({1, 2, 3}));
    EXPECT_EQ(mirror.rows(), lib.fresh());

    mirror.clearCounts();
    lib.library.setColumns(2); // five lines: two more rows
    EXPECT_EQ(mirror.resets, 0);
    EXPECT_EQ(mirror.inserts, 1);
    EXPECT_EQ(mirror.rows(), lib.fresh());

    mirror.clearCounts();
    lib.library.setFilter(LibraryModel::Screenshots);
    EXPECT_EQ(mirror.resets, 0);
    EXPECT_EQ(mirror.rows(), lib.fresh());
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Ontem"}));
    lib.library.setFilter(LibraryModel::All);
    EXPECT_EQ(mirror.resets, 0);
    EXPECT_EQ(mirror.rows(), lib.fresh());
}

// Captures come and go, the width and the filter change: after every step
// the signals alone must have told a view everything.
TEST(LibraryRows, AnySequenceOfChangesIsSignalledCompletely)
{
    Library lib;
    QRandomGenerator random(20261207);
    QStringList present;
    int next = 0;
    const auto add = [&] {
        const QString name = QString::number(next++);
        lib.add(name, at(12, 1 + random.bounded(7), random.bounded(24), random.bounded(60)));
        present << name;
    };
    for (int i = 0; i < 40; ++i)
        add();
    lib.reload();
    Mirror mirror(lib.library);

    for (int step = 0; step < 120; ++step) {
        switch (random.bounded(6)) {
        case 0:
        case 1:
            for (int n = random.bounded(1, 4); n > 0 && !present.isEmpty(); --n)
                lib.remove(present.takeAt(random.bounded(int(present.size()))));
            lib.reload();
            break;
        case 2:
            for (int n = random.bounded(1, 4); n > 0; --n)
                add();
            lib.reload();
            break;
        case 3:
            lib.library.setColumns(random.bounded(1, 7));
            break;
        case 4:
            lib.library.setFilter(random.bounded(3));
            break;
        case 5:
            lib.now = lib.now.addSecs(random.bounded(6 * 3600));
            lib.library.refreshDay();
            break;
        }
        ASSERT_EQ(mirror.rows(), describeAll(lib.library)) << "step " << step;
        ASSERT_EQ(describeAll(lib.library), lib.fresh()) << "step " << step;
    }
    EXPECT_EQ(mirror.resets, 0);
}

// A page left open over midnight: the headings move on by themselves at
// local midnight, without a rescan of the folder.
TEST(LibraryRows, HeadingsMoveOnAtMidnight)
{
    Library lib;
    lib.add("hoje", at(12, 7, 15));
    lib.add("ontem", at(12, 6, 15));
    QElapsedTimer running;
    running.start();
    const QDateTime almostMidnight = at(12, 7, 23, 59).addMSecs(59'400);
    lib.library.setClock([=] { return almostMidnight.addMSecs(running.elapsed()); });
    lib.reload();
    ASSERT_EQ(lib.library.dayTitles(), QStringList({"Hoje", "Ontem"}));
    Mirror mirror(lib.library);
    QSignalSpy rescans(lib.model.get(), &AppModel::capturesChanged);

    EXPECT_TRUE(QTest::qWaitFor([&] { return lib.library.dayTitles().first() == "Ontem"; }, 10000));
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Ontem", "6 de dezembro"}));
    EXPECT_EQ(rescans.count(), 0);
    EXPECT_EQ(mirror.resets + mirror.inserts + mirror.removes, 0);
    // The two headings, not the tiles.
    EXPECT_EQ(mirror.changedRows, QList<int>({0, 2}));
    EXPECT_EQ(mirror.rows(), describeAll(lib.library));
}

TEST(LibraryRows, ATimerThatFiresEarlyWaitsForMidnight)
{
    Library lib;
    lib.add("hoje", at(12, 7, 15));
    lib.now = at(12, 7, 23, 59);
    lib.reload();
    // Woken before midnight (a coarse timer, a clock set back): nothing moves.
    lib.library.refreshDay();
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Hoje"}));
    // The clock jumped past midnight (a machine woken from sleep).
    lib.now = at(12, 8, 7);
    lib.library.refreshDay();
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Ontem"}));
}

TEST(RecentCapturesRows, ANewCapturePushesTheOldestOutWithoutAReset)
{
    Library lib;
    for (int i = 0; i < 12; ++i)
        lib.add(QString::number(i), at(12, 7, 8 + i));
    lib.reload();
    RecentCapturesModel recent;
    recent.setSource(lib.model.get());
    ASSERT_EQ(recent.count(), 10);
    QSignalSpy resets(&recent, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&recent, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&recent, &QAbstractItemModel::rowsRemoved);

    lib.add("nova", at(12, 7, 21));
    lib.reload();
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(1).toInt(), 9);
    EXPECT_TRUE(recent.data(recent.index(0), RecentCapturesModel::PathRole).toString().endsWith("nova.mp4"));
    EXPECT_EQ(recent.count(), 10);

    // A file replaced under its name is a new tile (with its own thumbnail).
    inserted.clear();
    removed.clear();
    CaptureFolder::setDate(lib.folder.path() + "/Gravação 5.mp4", at(12, 7, 13, 30));
    lib.reload();
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_TRUE(recent.data(recent.index(7), RecentCapturesModel::PathRole).toString().endsWith("Gravação 5.mp4"));
}

TEST(KeyedListModel, RowsThatChangePlacesMoveAndRepeatedKeysReset)
{
    Words words;
    words.set({{1, "um"}, {2, "dois"}, {3, "três"}, {4, "quatro"}});
    Mirror mirror(words, Words::describe);

    // The last row to the top, one text changed, one row gone, one new.
    words.set({{4, "quatro"}, {1, "um"}, {2, "DOIS"}, {5, "cinco"}});
    EXPECT_EQ(mirror.resets, 0);
    EXPECT_EQ(mirror.moves, 1);
    EXPECT_EQ(mirror.removes, 1);
    EXPECT_EQ(mirror.inserts, 1);
    EXPECT_EQ(mirror.changedRows, QList<int>({2}));
    EXPECT_EQ(mirror.rows(), words.all());

    // Keys that repeat cannot be followed row by row: a reset, still right.
    words.set({{7, "a"}, {7, "b"}});
    EXPECT_EQ(mirror.resets, 1);
    EXPECT_EQ(mirror.rows(), words.all());

    QRandomGenerator random(14);
    std::vector<Words::Row> next;
    for (int key = 0; key < 30; ++key)
        next.push_back({key, QString::number(key)});
    for (int step = 0; step < 200; ++step) {
        std::shuffle(next.begin(), next.end(), std::mt19937(random.generate()));
        next.resize(std::min<size_t>(next.size(), random.bounded(10, 30)));
        for (Words::Row &row : next)
            if (random.bounded(5) == 0)
                row.text += "'";
        for (int key = 0; key < 30; ++key)
            if (random.bounded(3) == 0
                && std::none_of(next.begin(), next.end(), [&](const Words::Row &row) { return row.key == key; }))
                next.insert(next.begin() + random.bounded(int(next.size()) + 1), {key, "novo"});
        words.set(next);
        ASSERT_EQ(mirror.rows(), words.all()) << "step " << step;
    }
    // The first step left the repeated keys: one more reset, and no other.
    EXPECT_EQ(mirror.resets, 2);
    EXPECT_GT(mirror.moves, 100);
}
