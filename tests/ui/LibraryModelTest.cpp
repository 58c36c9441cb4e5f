#include "ui/LibraryModel.h"
#include "CaptureFolder.h"
#include "ui/AppModel.h"

#include <QCoroTask>
#include <gtest/gtest.h>

namespace {

const QDateTime now(QDate(2026, 12, 7), QTime(9, 30));

struct Library {
    CaptureFolder folder;
    std::unique_ptr<AppModel> model;
    LibraryModel library;

    void load()
    {
        model = std::make_unique<AppModel>(CaptureFolder::services(), folder.path(), true, 3);
        QCoro::waitFor(model->reloadCaptures());
        library.setClock([] { return now; });
        library.setSource(model.get());
    }

    QList<int> kinds() const
    {
        QList<int> kinds;
        for (int row = 0; row < library.rowCount(); ++row)
            kinds << library.data(library.index(row), LibraryModel::KindRole).toInt();
        return kinds;
    }
};

QDateTime day(int year, int month, int dayOfMonth, int hour = 12)
{
    return QDateTime(QDate(year, month, dayOfMonth), QTime(hour, 0));
}

} // namespace

TEST(LibraryModel, GroupsByDayNewestFirstAndFilters)
{
    Library lib;
    lib.folder.add("Print a.png", day(2026, 12, 7, 10));
    lib.folder.add("Gravação b.mp4", day(2026, 12, 7, 8));
    lib.folder.add("Print c.png", day(2026, 12, 6));
    lib.folder.add("Print d.png", day(2026, 3, 2));
    lib.folder.add("Gravação e.mp4", day(2025, 3, 15));
    lib.load();

    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Hoje", "Ontem", "2 de março", "15 de março de 2025"}));
    EXPECT_EQ(lib.library.itemCount(), 5);

    lib.library.setFilter(LibraryModel::Recordings);
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Hoje", "15 de março de 2025"}));
    EXPECT_EQ(lib.library.itemCount(), 2);

    lib.library.setFilter(LibraryModel::Screenshots);
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Hoje", "Ontem", "2 de março"}));

    // An unknown filter is refused rather than showing nothing.
    lib.library.setFilter(7);
    EXPECT_EQ(lib.library.filter(), int(LibraryModel::Screenshots));
}

TEST(LibraryModel, LocalMidnightSeparatesTheDays)
{
    Library lib;
    lib.folder.add("Print meia-noite.png", day(2026, 12, 7, 0));
    lib.folder.add("Print quase.png", day(2026, 12, 7, 0).addSecs(-1));
    lib.folder.add("Print noite.png", day(2026, 12, 6, 0));
    lib.folder.add("Print antes.png", day(2026, 12, 6, 0).addSecs(-1));
    lib.load();
    EXPECT_EQ(lib.library.dayTitles(), QStringList({"Hoje", "Ontem", "5 de dezembro"}));
    lib.library.setColumns(4);
    EXPECT_EQ(lib.kinds(),
        QList<int>({LibraryModel::Heading, LibraryModel::Tiles, LibraryModel::Heading, LibraryModel::Tiles,
            LibraryModel::Heading, LibraryModel::Tiles}));
    EXPECT_EQ(lib.library.data(lib.library.index(3), LibraryModel::ItemsRole).toList().size(), 2);
}

TEST(LibraryModel, RowsHoldAtMostOneLineOfTilesAndFollowTheWidth)
{
    Library lib;
    for (int i = 0; i < 7; ++i)
        lib.folder.add(QStringLiteral("Print %1.png").arg(i), day(2026, 12, 7, 1 + i));
    lib.folder.add("Print old.png", day(2026, 11, 1));
    lib.load();

    lib.library.setColumns(3);
    // Heading, 3 + 3 + 1 tiles, heading, 1 tile.
    EXPECT_EQ(lib.kinds(),
        QList<int>({LibraryModel::Heading, LibraryModel::Tiles, LibraryModel::Tiles, LibraryModel::Tiles,
            LibraryModel::Heading, LibraryModel::Tiles}));
    const QVariantList firstRow = lib.library.data(lib.library.index(1), LibraryModel::ItemsRole).toList();
    ASSERT_EQ(firstRow.size(), 3);
    EXPECT_TRUE(firstRow.at(0).toMap().value("path").toString().endsWith("Print 6.png"));
    EXPECT_EQ(firstRow.at(0).toMap().value("caption").toString(), "07:00");
    EXPECT_EQ(lib.library.data(lib.library.index(3), LibraryModel::ItemsRole).toList().size(), 1);
    EXPECT_TRUE(lib.library.data(lib.library.index(3), LibraryModel::IsLastInGroupRole).toBool());
    EXPECT_FALSE(lib.library.data(lib.library.index(2), LibraryModel::IsLastInGroupRole).toBool());

    lib.library.setColumns(10);
    EXPECT_EQ(lib.kinds(),
        QList<int>({LibraryModel::Heading, LibraryModel::Tiles, LibraryModel::Heading, LibraryModel::Tiles}));

    // Tiles at least 170 wide, 14 apart.
    EXPECT_EQ(LibraryModel::columnsFor(100), 1);
    EXPECT_EQ(LibraryModel::columnsFor(353), 1);
    EXPECT_EQ(LibraryModel::columnsFor(354), 2);
    EXPECT_EQ(LibraryModel::columnsFor(742), 4);
}

TEST(LibraryModel, TileDataNamesTheFileForOpeningAndSpeech)
{
    const CaptureItem item {"/tmp/x/Gravação 1 #2.mp4", day(2026, 12, 7, 14), true};
    const QVariantMap tile = LibraryModel::tileData(item, "14:00");
    EXPECT_EQ(tile.value("spokenLabel").toString(), "Gravação, 7 de dez. 14:00");
    EXPECT_EQ(tile.value("url").toUrl(), QUrl::fromLocalFile(item.path));
    EXPECT_TRUE(tile.value("isVideo").toBool());
    const QString source = tile.value("thumbnail").toString();
    EXPECT_TRUE(source.startsWith("image://thumbnail/"));
    EXPECT_FALSE(source.contains('#'));
    EXPECT_FALSE(source.contains(' '));
}

TEST(RecentCapturesModel, ShowsTheNewestTen)
{
    Library lib;
    for (int i = 0; i < 25; ++i)
        lib.folder.add(QStringLiteral("Print %1.png").arg(i, 2, 10, QChar('0')), day(2026, 12, 1).addSecs(i * 60));
    lib.load();
    RecentCapturesModel recent;
    recent.setSource(lib.model.get());
    ASSERT_EQ(recent.count(), 10);
    EXPECT_TRUE(recent.data(recent.index(0), RecentCapturesModel::PathRole).toString().endsWith("Print 24.png"));
    EXPECT_TRUE(recent.data(recent.index(9), RecentCapturesModel::PathRole).toString().endsWith("Print 15.png"));
    EXPECT_EQ(recent.data(recent.index(0), RecentCapturesModel::TileRole).toMap().value("caption").toString(),
        "1 de dez. 12:24");
}
