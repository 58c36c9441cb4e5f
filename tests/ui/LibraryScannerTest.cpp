#include "ui/LibraryScanner.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>

namespace {

void touch(const QString &path)
{
    TestSupport::writeFile(path, "x");
}

QStringList names(const QList<CaptureItem> &items)
{
    QStringList list;
    for (const CaptureItem &item : items)
        list << QFileInfo(item.path).fileName();
    return list;
}

} // namespace

TEST(LibraryScanner, KeepsOnlyCapturesByPrefixAndExtension)
{
    QTemporaryDir dir;
    touch(dir.filePath("Print 2026-12-05 às 18.38.06.png"));
    touch(dir.filePath("Gravação 2026-12-05 às 18.40.00.MP4"));
    touch(dir.filePath("Print 2026-12-05 às 18.38.07.jpg"));
    touch(dir.filePath("notas.txt"));
    touch(dir.filePath(".Print escondido.png"));
    touch(dir.filePath("print minúsculo.png"));
    touch(dir.filePath("Gravacao sem cedilha.mp4"));
    touch(dir.filePath("Print sem extensão"));
    QDir(dir.path()).mkdir("Print pasta.png");

    const auto items = LibraryScanner::scanFolder(dir.path());
    ASSERT_EQ(items.size(), 2);
    int videos = 0;
    for (const CaptureItem &item : items) {
        videos += item.isVideo;
        EXPECT_TRUE(item.url().isLocalFile());
        EXPECT_TRUE(QFileInfo(item.path).isAbsolute());
        EXPECT_GT(item.date.date().year(), 2000) << "a real date, never the distant past";
        EXPECT_EQ(item.isVideo, item.path.endsWith(".MP4"));
    }
    EXPECT_EQ(videos, 1);
    EXPECT_TRUE(LibraryScanner::scanFolder(dir.filePath("missing")).isEmpty());
}

TEST(LibraryScanner, NewestFirstWithEqualDatesInListingOrder)
{
    const QDateTime t(QDate(2026, 12, 5), QTime(10, 0));
    QList<CaptureItem> items {
        {"/a", t, false}, {"/b", t.addSecs(60), true}, {"/c", t, false}, {"/d", t.addSecs(-60), false}};
    LibraryScanner::sortNewestFirst(items);
    QStringList order;
    for (const auto &item : items)
        order << item.path;
    EXPECT_EQ(order, (QStringList {"/b", "/a", "/c", "/d"}));
}

TEST(LibraryScanner, TheDateSourceOrdersTheScanAndEqualDatesKeepNameOrder)
{
    QTemporaryDir dir;
    for (const char *name : {"Print b.png", "Print a.png", "Print c.png", "Gravação d.mp4"})
        touch(dir.filePath(name));
    const QDateTime t(QDate(2026, 12, 5), QTime(10, 0));
    const auto dated = [t](const QString &path) { return path.endsWith("Print c.png") ? t.addSecs(60) : t; };
    const auto items = LibraryScanner::scanFolder(dir.path(), dated);
    EXPECT_EQ(names(items), (QStringList {"Print c.png", "Gravação d.mp4", "Print a.png", "Print b.png"}));
}

TEST(LibraryScanner, ScansOffTheGuiThreadAndOnlyTheNewestScanAnswers)
{
    QTemporaryDir first, second;
    touch(first.filePath("Print um.png"));
    touch(second.filePath("Print dois.png"));
    touch(second.filePath("Print três.png"));

    const QThread *gui = QThread::currentThread();
    std::atomic<bool> datedOnGui = false;
    // Holds scans of FIRST until released, so that a later scan overtakes them.
    std::atomic<bool> holdFirst = false;
    LibraryScanner scanner([&](const QString &path) {
        if (QThread::currentThread() == gui)
            datedOnGui = true;
        for (int i = 0; i < 500 && holdFirst && path.startsWith(first.path()); ++i)
            QThread::msleep(10);
        return LibraryScanner::creationDate(path);
    });

    const auto alone = QCoro::waitFor(scanner.scan(first.path()));
    ASSERT_TRUE(alone.has_value());
    EXPECT_EQ(alone->size(), 1);
    EXPECT_FALSE(datedOnGui);

    // An older scan finishing late never overwrites a newer one.
    holdFirst = true;
    auto older = scanner.scan(first.path());
    auto newer = scanner.scan(second.path());
    const auto newest = QCoro::waitFor(std::move(newer));
    holdFirst = false;
    const auto superseded = QCoro::waitFor(std::move(older));
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->size(), 2);
    EXPECT_FALSE(superseded.has_value());
}

TEST(LibraryScanner, AScanOutlivesItsScanner)
{
    QTemporaryDir dir;
    touch(dir.filePath("Print um.png"));
    std::optional<QCoro::Task<std::optional<QList<CaptureItem>>>> running;
    {
        LibraryScanner scanner;
        running = scanner.scan(dir.path());
    }
    const auto items = QCoro::waitFor(std::move(*running));
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ(items->size(), 1);
}

TEST(LibraryScanner, CreationDateOfAMissingFileIsTheDistantPast)
{
    QTemporaryDir dir;
    EXPECT_LT(LibraryScanner::creationDate(dir.filePath("nada.png")).date().year(), 1000);
    touch(dir.filePath("Print.png"));
    EXPECT_GT(LibraryScanner::creationDate(dir.filePath("Print.png")).date().year(), 2000);
}

TEST(LibraryScanner, TenThousandCapturesScanWhileTheGuiThreadKeepsTurning)
{
    QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/velunta-scan-XXXXXX")
                                                                : QDir::tempPath() + "/velunta-scan-XXXXXX");
    for (int i = 0; i < 10000; ++i) {
        const QString name = i % 10 == 0 ? QStringLiteral("Gravação %1.mp4").arg(i, 5, 10, QChar('0'))
                                         : QStringLiteral("Print %1.png").arg(i, 5, 10, QChar('0'));
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    }
    const QThread *gui = QThread::currentThread();
    std::atomic<int> datedOnGui = 0;
    // Dated by number, so that the order shows the whole list was sorted.
    LibraryScanner scanner([&](const QString &path) {
        if (QThread::currentThread() == gui)
            ++datedOnGui;
        const int number = QFileInfo(path).completeBaseName().section(' ', -1).toInt();
        return QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(number * 60);
    });
    // Turns of the GUI thread's event loop while the scan runs.
    int turns = 0;
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] { ++turns; });
    turn.start();
    const auto items = QCoro::waitFor(scanner.scan(dir.path()));
    turn.stop();

    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 10000);
    EXPECT_EQ(datedOnGui, 0);
    EXPECT_GT(turns, 0);
    EXPECT_EQ(QFileInfo(items->first().path).fileName(), "Print 09999.png");
    EXPECT_EQ(QFileInfo(items->last().path).fileName(), "Gravação 00000.mp4");
    EXPECT_EQ(std::count_if(items->begin(), items->end(), [](const CaptureItem &item) { return item.isVideo; }), 1000);
}
