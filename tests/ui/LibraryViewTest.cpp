// The library page over 1,000 captures, scrolled far down: trashing a
// capture, a new capture arriving or a narrower window leaves the view where
// it was, with the tiles (and thumbnails) it had already made.
#include "platform/desktop/LinuxDesktop.h"
#include "ui/LibraryModel.h"
#include "ui/MainWindowFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTemporaryDir>

namespace {

constexpr int captureCount = 1000;

// Screenshots three hours apart (eight a day), all the same small picture.
QStringList fillFolder(const QString &folder)
{
    QImage picture(320, 200, QImage::Format_RGB32);
    picture.fill(QColor(70, 130, 180));
    const QString model = folder + "/.model.png";
    picture.save(model, "PNG");
    QStringList paths;
    const QDateTime newest = QDateTime::currentDateTime().addSecs(-3600);
    for (int i = 0; i < captureCount; ++i) {
        const QString path = QStringLiteral("%1/Print %2.png").arg(folder).arg(i, 4, 10, QChar('0'));
        QFile::copy(model, path);
        CaptureFolder::setDate(path, newest.addSecs(-qint64(i) * 3 * 3600));
        paths << path;
    }
    QFile::remove(model);
    return paths;
}

struct LibraryView {
    std::unique_ptr<QTemporaryDir> folder;
    QStringList paths;
    LinuxDesktop desktop;
    std::unique_ptr<MainWindowFixture> f;
    QQuickItem *list = nullptr;
    LibraryModel *library = nullptr;

    LibraryView()
    {
        // Inside the test's home, so that the trash is the home's trash.
        useTestHome();
        folder = std::make_unique<QTemporaryDir>(QDir::homePath() + "/Capturas-XXXXXX");
        paths = fillFolder(folder->path());
        AppModel::Services services = CaptureFolder::services();
        services.desktop = &desktop;
        f = std::make_unique<MainWindowFixture>(std::make_unique<AppModel>(services, folder->path(), true, 0));
        f->model->setPage(AppModel::Page::library);
        f->showAndSettle();
        list = f->find("libraryList");
        if (QQuickItem *page = f->find("libraryPage"))
            library = qobject_cast<LibraryModel *>(page->property("libraryModel").value<QObject *>());
    }

    // The row showing PATH.
    int rowOf(const QString &path) const
    {
        for (int row = 0; row < library->rowCount(); ++row)
            for (const QVariant &tile : library->data(library->index(row), LibraryModel::ItemsRole).toList())
                if (tile.toMap().value("path").toString() == path)
                    return row;
        return -1;
    }

    void scrollTo(int row)
    {
        QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, 0 /* Beginning */));
        f->settle();
    }

    // The row at the top of the viewport: its index, the captures it shows
    // and how far below the top it begins.
    struct TopRow {
        int index = -1;
        QStringList paths;
        qreal offset = 0;
    };
    TopRow topRow() const
    {
        TopRow top;
        const qreal contentY = list->property("contentY").toReal();
        QMetaObject::invokeMethod(
            list, "indexAt", Q_RETURN_ARG(int, top.index), Q_ARG(qreal, 30), Q_ARG(qreal, contentY + 1));
        QQuickItem *item = nullptr;
        QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, item), Q_ARG(int, top.index));
        if (item)
            top.offset = item->mapToItem(list, QPointF(0, 0)).y();
        for (const QVariant &tile : library->data(library->index(top.index), LibraryModel::ItemsRole).toList())
            top.paths << tile.toMap().value("path").toString();
        return top;
    }

    // The thumbnails in view, by the picture they show.
    QHash<QString, QPointer<QQuickItem>> thumbnails() const
    {
        QHash<QString, QPointer<QQuickItem>> shown;
        for (QQuickItem *image : MainWindowFixture::itemsNamed(list, "thumbnail")) {
            const qreal y = image->mapToItem(list, QPointF(0, image->height() / 2)).y();
            if (image->isVisible() && y > 0 && y < list->height())
                shown.insert(image->property("source").toString(), image);
        }
        return shown;
    }

    bool thumbnailsReady() const
    {
        const auto shown = thumbnails();
        return !shown.isEmpty() && std::all_of(shown.begin(), shown.end(), [](const QPointer<QQuickItem> &image) {
            return image && image->property("status").toInt() == 1; // Image.Ready
        });
    }

    void reloadTo(int count)
    {
        EXPECT_TRUE(MainWindowFixture::waitUntil([&] { return f->model->captures().size() == count; }, 20000));
        f->settle(200);
    }
};

// How many lines of tiles THUMBNAILS are on.
int linesOf(const QHash<QString, QPointer<QQuickItem>> &thumbnails)
{
    QSet<int> lines;
    for (const QPointer<QQuickItem> &image : thumbnails)
        if (image)
            lines.insert(int(image->mapToScene(QPointF(0, 0)).y()));
    return int(lines.size());
}

// How many of the thumbnails in BEFORE are still the same items in AFTER.
int keptThumbnails(
    const QHash<QString, QPointer<QQuickItem>> &before, const QHash<QString, QPointer<QQuickItem>> &after)
{
    int kept = 0;
    for (auto it = after.begin(); it != after.end(); ++it)
        if (before.value(it.key()) && before.value(it.key()) == it.value()
            && it.value()->property("status").toInt() == 1)
            ++kept;
    return kept;
}

} // namespace

TEST(LibraryView, TrashingKeepsTheFirstVisibleRowAndTheThumbnails)
{
    LibraryView v;
    ASSERT_NE(v.list, nullptr);
    ASSERT_NE(v.library, nullptr);
    ASSERT_EQ(v.f->model->captures().size(), captureCount);

    // Scrolled down to the 200th capture, its row at the top.
    const int row = v.rowOf(v.paths[199]);
    ASSERT_GT(row, 10);
    v.scrollTo(row);
    ASSERT_TRUE(MainWindowFixture::waitUntil([&] { return v.thumbnailsReady(); }, 20000));
    const LibraryView::TopRow top = v.topRow();
    ASSERT_EQ(top.index, row);
    ASSERT_TRUE(top.paths.contains(v.paths[199]));
    const qreal contentY = v.list->property("contentY").toReal();
    const auto before = v.thumbnails();
    ASSERT_GE(before.size(), 8);

    // A capture far below the view: nothing in view changes at all.
    v.f->model->moveToTrash(v.paths[900]);
    v.reloadTo(captureCount - 1);
    EXPECT_FALSE(QFile::exists(v.paths[900]));
    EXPECT_EQ(v.topRow().index, top.index);
    EXPECT_EQ(v.topRow().paths, top.paths);
    EXPECT_NEAR(v.topRow().offset, top.offset, 0.5);
    EXPECT_NEAR(v.list->property("contentY").toReal(), contentY, 0.5);
    EXPECT_EQ(keptThumbnails(before, v.thumbnails()), before.size());

    // The 200th itself: its row stays the first visible one, where it was,
    // and closes up; tiles keep their thumbnails except where one wraps in
    // from the next line.
    v.f->model->moveToTrash(v.paths[199]);
    v.reloadTo(captureCount - 2);
    EXPECT_FALSE(QFile::exists(v.paths[199]));
    const LibraryView::TopRow after = v.topRow();
    EXPECT_EQ(after.index, top.index);
    EXPECT_NEAR(after.offset, top.offset, 0.5);
    QStringList stayed = top.paths;
    stayed.removeAll(v.paths[199]);
    EXPECT_EQ(after.paths.mid(0, stayed.size()), stayed);
    const auto afterTrash = v.thumbnails();
    EXPECT_FALSE(afterTrash.contains(LibraryModel::thumbnailSource(v.paths[199])));
    int common = 0;
    for (auto it = afterTrash.begin(); it != afterTrash.end(); ++it)
        common += before.contains(it.key());
    EXPECT_GE(keptThumbnails(before, afterTrash), common - linesOf(before));
    EXPECT_TRUE(MainWindowFixture::waitUntil([&] { return v.thumbnailsReady(); }, 20000));
}

TEST(LibraryView, ANewCaptureOrANarrowerWindowLeavesTheViewInPlace)
{
    LibraryView v;
    ASSERT_NE(v.library, nullptr);
    v.scrollTo(v.rowOf(v.paths[199]));
    ASSERT_TRUE(MainWindowFixture::waitUntil([&] { return v.thumbnailsReady(); }, 20000));
    const LibraryView::TopRow top = v.topRow();
    const auto before = v.thumbnails();

    // A new capture at the head of the list, far above the view: the rows
    // in view stay on screen where they were.
    const QString newest = v.folder->path() + "/Print nova.png";
    QFile::copy(v.paths[0], newest);
    CaptureFolder::setDate(newest, QDateTime::currentDateTime());
    QCoro::waitFor(v.f->model->reloadCaptures());
    v.f->settle(200);
    ASSERT_EQ(v.f->model->captures().size(), captureCount + 1);
    EXPECT_EQ(v.topRow().paths, top.paths);
    EXPECT_NEAR(v.topRow().offset, top.offset, 0.5);
    EXPECT_EQ(keptThumbnails(before, v.thumbnails()), before.size());

    // Four columns to three: every day gets another line and the rows are
    // laid out again, but the view stays on the same day's captures.
    const auto dayOf = [](const QStringList &paths) {
        return paths.isEmpty() ? QDate() : QFileInfo(paths.first()).lastModified().date();
    };
    const int columns = v.library->columns();
    v.f->window()->resize(820, v.f->window()->height());
    ASSERT_TRUE(MainWindowFixture::waitUntil([&] { return v.library->columns() != columns; }, 10000));
    v.f->settle(200);
    ASSERT_TRUE(dayOf(top.paths).isValid());
    EXPECT_EQ(dayOf(v.topRow().paths), dayOf(top.paths));
    EXPECT_GT(v.list->property("contentY").toReal(), 1000);
    EXPECT_GT(keptThumbnails(before, v.thumbnails()), 0);
}

// The strip on the capture page: a new capture shows at its start, and the
// tiles already there keep their thumbnails.
TEST(RecentCapturesView, ANewCaptureShowsFirstAndTheOthersKeepTheirThumbnails)
{
    CaptureFolder folder;
    for (int i = 0; i < 12; ++i)
        folder.add(QStringLiteral("Print %1.png").arg(i), QDateTime::currentDateTime().addSecs(-600 + i));
    MainWindowFixture f(folder.path());
    f.showAndSettle();
    QQuickItem *strip = f.find("recentList");
    ASSERT_NE(strip, nullptr);
    const auto thumbnails = [&] {
        QHash<QString, QPointer<QQuickItem>> shown;
        for (QQuickItem *image : MainWindowFixture::itemsNamed(strip, "thumbnail")) {
            const qreal x = image->mapToItem(strip, QPointF(image->width() / 2, 0)).x();
            if (image->isVisible() && x > 0 && x < strip->width())
                shown.insert(image->property("source").toString(), image);
        }
        return shown;
    };
    const auto ready = [&] {
        const auto shown = thumbnails();
        return !shown.isEmpty() && std::all_of(shown.begin(), shown.end(), [](const QPointer<QQuickItem> &image) {
            return image && image->property("status").toInt() == 1;
        });
    };
    ASSERT_TRUE(MainWindowFixture::waitUntil(ready, 20000));
    const auto before = thumbnails();

    const QString newest = folder.add("Print nova.png", QDateTime::currentDateTime());
    QCoro::waitFor(f.model->reloadCaptures());
    EXPECT_TRUE(MainWindowFixture::waitUntil(
        [&] { return thumbnails().contains(LibraryModel::thumbnailSource(newest)) && ready(); }, 20000));
    const auto after = thumbnails();
    QQuickItem *first = nullptr;
    QMetaObject::invokeMethod(strip, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, first), Q_ARG(int, 0));
    ASSERT_NE(first, nullptr);
    EXPECT_NEAR(first->mapToItem(strip, QPointF(0, 0)).x(), 0, 0.5);
    // One tile came in front, so one fewer of the old ones fits.
    EXPECT_GE(keptThumbnails(before, after), int(before.size()) - 1);
}

namespace {

// Rows in view and what each shows: a row of tiles must show its own
// captures, in order, and nothing else.
struct RowCheck {
    int index = -1;
    QStringList shown;
    QStringList expected;
};

QList<RowCheck> rowsInView(const LibraryView &v)
{
    QList<RowCheck> rows;
    const qreal contentY = v.list->property("contentY").toReal();
    for (int index = 0; index < v.library->rowCount(); ++index) {
        QQuickItem *row = nullptr;
        QMetaObject::invokeMethod(v.list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, index));
        if (!row || !row->isVisible() || row->y() + row->height() <= contentY
            || row->y() >= contentY + v.list->height())
            continue;
        RowCheck check {index, {}, {}};
        QList<QQuickItem *> shown;
        for (QQuickItem *image : MainWindowFixture::itemsNamed(row, "thumbnail"))
            if (image->isVisible())
                shown << image;
        std::sort(shown.begin(), shown.end(), [&](QQuickItem *a, QQuickItem *b) {
            return a->mapToItem(row, QPointF(0, 0)).x() < b->mapToItem(row, QPointF(0, 0)).x();
        });
        for (QQuickItem *image : shown)
            check.shown << image->property("source").toString();
        for (const QVariant &tile : v.library->data(v.library->index(index), LibraryModel::ItemsRole).toList())
            check.expected << tile.toMap().value("thumbnail").toString();
        rows << check;
    }
    return rows;
}

} // namespace

// Jumps far down, back and to the same rows again: rows taken from the pool
// (a heading before, or the very row they showed last time) bind the tiles
// they already have to their row's captures, never stay empty, and build
// few tiles of their own.
TEST(LibraryView, JumpsThroughTheListShowEveryRowsCapturesWithReusedTiles)
{
    LibraryView v;
    ASSERT_NE(v.library, nullptr);
    const auto allThumbnails = [&] {
        QSet<QQuickItem *> items;
        for (QQuickItem *image : MainWindowFixture::itemsNamed(v.list, "thumbnail"))
            items.insert(image);
        return items;
    };

    v.scrollTo(v.rowOf(v.paths[40]));
    v.scrollTo(v.rowOf(v.paths[80]));
    const QSet<QQuickItem *> made = allThumbnails();
    ASSERT_FALSE(made.isEmpty());
    QSet<QQuickItem *> created;
    int checked = 0;
    for (int round = 0; round < 3; ++round) {
        for (const int capture : {120, 400, 401, 650, 999, 80, 3, 400, 120, 650, 651, 80, 998, 120}) {
            v.scrollTo(v.rowOf(v.paths[capture]));
            const QList<RowCheck> rows = rowsInView(v);
            EXPECT_GE(rows.size(), 3) << "at capture " << capture;
            for (const RowCheck &row : rows) {
                EXPECT_TRUE(row.shown == row.expected)
                    << "row " << row.index << " at capture " << capture << " shows " << row.shown.size() << " of its "
                    << row.expected.size() << ", or not in order";
                checked += row.expected.isEmpty() ? 0 : 1;
            }
            for (QQuickItem *image : allThumbnails())
                if (!made.contains(image))
                    created.insert(image);
        }
    }
    EXPECT_GT(checked, 100);
    // A few more rows fit where days are short (headings are lower than
    // tiles), and need tiles of their own; how many depends on where each jump
    // lands and on what the view builds ahead. Rows that built their tiles
    // anew at every jump would make several hundred.
    EXPECT_LE(created.size(), made.size()) << made.size() << " made at first";
    EXPECT_TRUE(MainWindowFixture::waitUntil([&] { return v.thumbnailsReady(); }, 20000));
}

// Once its thumbnails are in, a library that nobody touches draws nothing:
// a frame every 16 ms would keep a core busy for as long as the page is open.
TEST(LibraryView, AStillLibraryDrawsNoFrames)
{
    LibraryView v;
    ASSERT_NE(v.library, nullptr);
    // Scrolled down by wheel-sized steps, as a user would, then half way back.
    const qreal end = v.list->property("contentHeight").toReal() - v.list->height();
    for (qreal y = 0; y < end; y += 360) {
        v.list->setProperty("contentY", y);
        QTest::qWait(5);
    }
    v.list->setProperty("contentY", end / 2);
    ASSERT_TRUE(MainWindowFixture::waitUntil([&] { return v.thumbnailsReady(); }, 20000));
    v.f->settle(300);
    int frames = 0;
    const auto counting = QObject::connect(v.f->window(), &QQuickWindow::afterRendering, [&] { ++frames; });
    v.f->settle(1000);
    QObject::disconnect(counting);
    EXPECT_EQ(frames, 0);
}

// A narrower window draws every tile smaller: each thumbnail is made again
// at its new size, and the picture already there stays on screen at every
// frame until then.
TEST(LibraryView, ANarrowerWindowRemakesThumbnailsAtTheirNewSizeWithoutGoingBlank)
{
    LibraryView v;
    ASSERT_NE(v.library, nullptr);
    // Four columns with 40 pixels to spare before they become three.
    QQuickItem *page = v.f->find("libraryPage");
    ASSERT_NE(page, nullptr);
    const int sidebar = v.f->window()->width() - qRound(page->width());
    v.f->window()->resize(sidebar + 48 + 4 * 170 + 3 * 14 + 40, v.f->window()->height());
    ASSERT_TRUE(MainWindowFixture::waitUntil([&] { return v.library->columns() == 4; }, 10000));
    v.scrollTo(v.rowOf(v.paths[199]));
    ASSERT_TRUE(MainWindowFixture::waitUntil([&] { return v.thumbnailsReady(); }, 20000));
    const auto before = v.thumbnails();
    ASSERT_GE(before.size(), 8);

    // Blank: a thumbnail of a tile that stays with its capture showing
    // nothing in a frame.
    QStringList blank;
    const auto watch = QObject::connect(v.f->window(), &QQuickWindow::afterAnimating, [&] {
        for (auto it = before.begin(); it != before.end(); ++it) {
            QQuickItem *image = it.value();
            if (image && image->isVisible() && image->property("source").toString() == it.key()
                && image->property("status").toInt() != 1)
                blank << it.key();
        }
    });
    // The picture on screen was made at the size it is drawn.
    const qreal scale = v.f->window()->devicePixelRatio();
    const auto drawnAtItsSize = [&] {
        const auto shown = v.thumbnails();
        return !shown.isEmpty() && std::all_of(shown.begin(), shown.end(), [&](const QPointer<QQuickItem> &image) {
            const QSizeF size = image->property("shownSize").toSizeF();
            return image->property("status").toInt() == 1 && qRound(image->width() * scale) == qRound(size.width())
                && qRound(image->height() * scale) == qRound(size.height());
        });
    };

    // Narrower by steps, each its own frame, as a dragged window edge does;
    // the columns stay, the tiles shrink.
    const int columns = v.library->columns();
    const qreal tileWidth = before.begin().value()->width();
    for (int step = 0; step < 4; ++step) {
        v.f->window()->resize(v.f->window()->width() - 8, v.f->window()->height());
        v.f->settle(30);
    }
    ASSERT_EQ(v.library->columns(), columns);
    ASSERT_LT(before.begin().value()->width(), tileWidth);
    EXPECT_TRUE(MainWindowFixture::waitUntil([&] { return v.thumbnailsReady(); }, 20000));
    EXPECT_TRUE(blank.isEmpty()) << blank.size() << " blank, first " << blank.value(0).toStdString();
    EXPECT_TRUE(MainWindowFixture::waitUntil(drawnAtItsSize, 20000));
    int kept = 0;
    for (auto it = before.begin(); it != before.end(); ++it)
        kept += it.value() && it.value()->property("source").toString() == it.key();
    EXPECT_EQ(kept, before.size());
    QObject::disconnect(watch);
}
