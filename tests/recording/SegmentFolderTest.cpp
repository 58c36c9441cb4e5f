// Who owns a segment folder (lock files checked against a fake process
// table), where folders are made, the space rule, and how far a segment file
// cut off mid-write is whole.
#include "recording/SegmentFolder.h"
#include "recording/DiskSpace.h"
#include "recording/SegmentChecks.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

using SegmentFolder::Owner;
using SegmentFolder::Process;

namespace {

// A process table of our own: PID → what runs there.
struct FakeProcesses {
    QMap<qint64, Process> running;
    SegmentFolder::ProcessLookup lookup() const
    {
        return [this](qint64 pid) -> std::optional<Process> {
            if (!running.contains(pid))
                return std::nullopt;
            return running.value(pid);
        };
    }
};

QByteArray box(const char *type, qsizetype payload)
{
    QByteArray bytes;
    const quint32 size = quint32(8 + payload);
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((size >> shift) & 0xff));
    return bytes + QByteArray(type, 4) + QByteArray(payload, '\0');
}

int64_t completeLength(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return SegmentChecks::completeLength(buffer);
}

} // namespace

TEST(SegmentFolderLock, ReadsBackWhatItWritesAndRejectsLocksWithoutAProcess)
{
    const Owner owner {4242, 987654, QStringLiteral("/home/ana/Vídeos/Gravação 2026-12-07 às 10.00.00.mp4")};
    EXPECT_EQ(SegmentFolder::parseLock(SegmentFolder::lockText(owner)), owner);
    // A PID alone is enough (no start time known).
    EXPECT_EQ(SegmentFolder::parseLock("pid=17\n"), (Owner {17, 0, {}}));
    EXPECT_FALSE(SegmentFolder::parseLock(""));
    EXPECT_FALSE(SegmentFolder::parseLock("pid=abc\nfile=/x.mp4\n"));
    EXPECT_FALSE(SegmentFolder::parseLock("pid=0\n"));
    EXPECT_FALSE(SegmentFolder::parseLock("pid=-5\n"));
}

TEST(SegmentFolderLock, OnlyALiveVeluntaWithTheSameStartOwnsAFolder)
{
    FakeProcesses processes;
    processes.running[100] = {QStringLiteral("Velunta"), 5000, false};
    processes.running[200] = {QStringLiteral("bash"), 5000, false}; // the PID went to another program
    processes.running[300] = {QStringLiteral("Velunta"), 5000, true}; // died, not yet reaped
    processes.running[400] = {QStringLiteral("Velunta"), 7777, false}; // a later Velunta with a reused PID
    const auto owns = [&](std::optional<Owner> owner) {
        return SegmentFolder::isOwnedByRunningProcess(owner, processes.lookup(), QStringLiteral("Velunta"));
    };
    EXPECT_TRUE(owns(Owner {100, 5000, {}}));
    EXPECT_TRUE(owns(Owner {100, 0, {}})) << "start time unknown: the name decides";
    EXPECT_FALSE(owns(Owner {200, 5000, {}}));
    EXPECT_FALSE(owns(Owner {300, 5000, {}}));
    EXPECT_FALSE(owns(Owner {400, 5000, {}}));
    EXPECT_FALSE(owns(Owner {999, 5000, {}})) << "no such process";
    EXPECT_FALSE(owns(std::nullopt)) << "no readable lock";
    EXPECT_FALSE(SegmentFolder::isOwnedByRunningProcess(Owner {100, 5000, {}}, processes.lookup(), QString()));
}

TEST(SegmentFolderLock, ThisProcessIsFoundInProcAsItsOwnLockNamesIt)
{
    const Owner self = SegmentFolder::currentOwner(QStringLiteral("/tmp/x.mp4"));
    EXPECT_EQ(self.pid, qint64(::getpid()));
    EXPECT_GT(self.startTime, 0u);
    EXPECT_FALSE(SegmentFolder::currentProgramName().isEmpty());
    EXPECT_TRUE(SegmentFolder::isOwnedByRunningProcess(
        self, SegmentFolder::lookUpProcess, SegmentFolder::currentProgramName()));
    EXPECT_FALSE(SegmentFolder::lookUpProcess(0));
}

TEST(SegmentFolderPlaces, AFolderIsPrivateLockedAndNamedOnlyOnceLocked)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.filePath("cache/Velunta");
    auto made = SegmentFolder::create(root, SegmentFolder::currentOwner("/v/Gravação.mp4"));
    ASSERT_TRUE(made) << made.error().description.toStdString();
    EXPECT_TRUE(SegmentFolder::isSegmentFolderName(QFileInfo(*made).fileName()));
    EXPECT_EQ(QFileInfo(*made).permissions() & 0x0077, QFileDevice::Permissions());
    EXPECT_EQ(SegmentFolder::readLock(*made)->finalPath, QStringLiteral("/v/Gravação.mp4"));
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1)
        << "nothing left of the staging";

    // The save folder's hidden place goes with its last folder; the cache stays.
    const QString beside = SegmentFolder::saveFolderRoot(dir.filePath("Capturas"));
    auto there = SegmentFolder::create(beside, SegmentFolder::currentOwner({}));
    ASSERT_TRUE(there);
    SegmentFolder::remove(*there);
    EXPECT_FALSE(QFileInfo::exists(beside));
    SegmentFolder::remove(*made);
    EXPECT_FALSE(QFileInfo::exists(*made));
    EXPECT_TRUE(QFileInfo::exists(root));
}

TEST(SegmentFolderPlaces, OrphansAreTheFoldersNoRunningVeluntaOwns)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FakeProcesses processes;
    processes.running[100] = {QStringLiteral("Velunta"), 1, false};
    const QString root = dir.filePath("Velunta");
    const QString live = *SegmentFolder::create(root, Owner {100, 1, {}});
    const QString dead = *SegmentFolder::create(root, Owner {101, 1, {}});
    const QString unlocked = root + "/Velunta-00000000-0000-0000-0000-000000000000";
    ASSERT_TRUE(QDir().mkpath(unlocked));
    ASSERT_TRUE(QDir().mkpath(root + "/outra-coisa"));
    const QString elsewhere = *SegmentFolder::create(dir.filePath("other"), Owner {102, 1, {}});

    const QStringList found
        = SegmentFolder::orphans({root, dir.filePath("other")}, processes.lookup(), QStringLiteral("Velunta"));
    EXPECT_EQ(found.size(), 3);
    EXPECT_TRUE(found.contains(dead));
    EXPECT_TRUE(found.contains(unlocked));
    EXPECT_TRUE(found.contains(elsewhere));
    EXPECT_FALSE(found.contains(live));
}

TEST(SegmentFolderPlaces, FoldersACrashLeftHalfMadeGoButNeverAUsersFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.filePath(".Velunta");
    const auto folder = [&](const QString &name, const QStringList &files) {
        const QString path = root + "/" + name;
        EXPECT_TRUE(QDir().mkpath(path));
        for (const QString &file : files) {
            QFile made(path + "/" + file);
            EXPECT_TRUE(made.open(QIODevice::WriteOnly));
            made.write("pid=1\n");
        }
        return path;
    };
    const QString locked = folder(".Velunta-11111111-1111-1111-1111-111111111111", {"dono.lock"});
    const QString lockBeingWritten = folder(".Velunta-22222222-2222-2222-2222-222222222222", {"dono.lock.aB3dE9"});
    const QString empty = folder(".Velunta-33333333-3333-3333-3333-333333333333", {});
    const QString usersFile = folder(".Velunta-44444444-4444-4444-4444-444444444444", {"dono.lock", "foto.png"});
    const QString otherName = folder(".Velunta-fotos", {"dono.lock"});
    const QString finished = *SegmentFolder::create(root, Owner {101, 1, {}});

    // Made a moment ago: another Velunta may be making it right now.
    EXPECT_TRUE(SegmentFolder::removeUnfinished({root}).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(locked));

    const QStringList removed = SegmentFolder::removeUnfinished({root, dir.filePath("missing")}, 0);
    EXPECT_EQ(removed, QStringList({locked, lockBeingWritten, empty}));
    for (const QString &gone : removed)
        EXPECT_FALSE(QFileInfo::exists(gone)) << gone.toStdString();
    EXPECT_TRUE(QFileInfo::exists(usersFile + "/foto.png"));
    EXPECT_TRUE(QFileInfo::exists(otherName + "/dono.lock"));
    EXPECT_TRUE(QFileInfo::exists(finished + "/dono.lock"));
}

TEST(SegmentFolderPlaces, TheCacheFollowsXdgCacheHome)
{
    const QByteArray before = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", "/srv/cache");
    EXPECT_EQ(SegmentFolder::cacheRoot(), QStringLiteral("/srv/cache/Velunta"));
    qputenv("XDG_CACHE_HOME", "relative/is/ignored");
    EXPECT_EQ(SegmentFolder::cacheRoot(), QDir::homePath() + "/.cache/Velunta");
    qputenv("XDG_CACHE_HOME", before);
    EXPECT_EQ(SegmentFolder::roots("/s"), QStringList({SegmentFolder::cacheRoot(), "/s/.Velunta"}));
}

TEST(DiskSpaceRule, TwoMinutesAtTheMeasuredRateButNeverLessThanTheLeastRate)
{
    const double least = DiskSpace::leastBytesPerSecond;
    EXPECT_TRUE(DiskSpace::hasRoom(uint64_t(120 * least), 0));
    EXPECT_FALSE(DiskSpace::hasRoom(uint64_t(120 * least) - 1, 0));
    EXPECT_TRUE(DiskSpace::hasRoom(240'000'000, 2'000'000));
    EXPECT_FALSE(DiskSpace::hasRoom(239'999'999, 2'000'000));

    EXPECT_DOUBLE_EQ(DiskSpace::rate(1'000'000, 21'000'000, 10), 2'000'000);
    EXPECT_DOUBLE_EQ(DiskSpace::rate(0, 1000, 10), least) << "a still screen";
    EXPECT_DOUBLE_EQ(DiskSpace::rate(5000, 1000, 10), least) << "a new segment, smaller";
    EXPECT_DOUBLE_EQ(DiskSpace::rate(0, 1000, 0), least);
}

TEST(DiskSpaceRule, FreeSpaceAndFolderSizeOfRealFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("trecho-0.mp4"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(12345, 'x'));
    file.close();
    EXPECT_EQ(DiskSpace::folderSize(dir.path()), 12345u);
    EXPECT_GT(DiskSpace::available(dir.path()).value_or(0), 0u);
    EXPECT_FALSE(DiskSpace::available(dir.filePath("nowhere/at/all")));
}

TEST(SegmentTrim, AFileEndsWithItsLastWholeBoxAndAFragmentNeedsItsData)
{
    const QByteArray header = box("ftyp", 16) + box("moov", 100);
    const QByteArray fragment = box("moof", 40) + box("mdat", 500);
    const int64_t headerSize = header.size();
    const int64_t one = headerSize + fragment.size();
    EXPECT_EQ(completeLength(header + fragment + fragment), 2 * one - headerSize);
    // Cut inside the second fragment's data, then right after its header.
    EXPECT_EQ(completeLength(header + fragment + fragment.left(300)), one);
    EXPECT_EQ(completeLength(header + fragment + box("moof", 40)), one);
    EXPECT_EQ(completeLength(header + fragment + fragment.left(5)), one);
    // No movie header: nothing is readable.
    EXPECT_EQ(completeLength(box("ftyp", 16) + box("free", 10)), 0);
    EXPECT_EQ(completeLength(QByteArray()), 0);
    // A size of 0 ("to the end") or one smaller than its header ends the walk.
    QByteArray toTheEnd = box("mdat", 50);
    toTheEnd[3] = 0;
    EXPECT_EQ(completeLength(header + toTheEnd), headerSize);
    QByteArray tiny = box("free", 0);
    tiny[3] = 4;
    EXPECT_EQ(completeLength(header + tiny + fragment), headerSize);
}

TEST(SegmentTrim, AFileIsCutBackOnDiskOnlyWhenItEndsMidBox)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("trecho-0.mp4");
    const QByteArray whole = box("ftyp", 16) + box("moov", 100) + box("moof", 40) + box("mdat", 500);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(whole + box("moof", 40) + box("mdat", 500).left(77));
    file.close();
    EXPECT_TRUE(SegmentChecks::trimToCompleteFragments(path));
    EXPECT_EQ(QFileInfo(path).size(), whole.size());
    EXPECT_TRUE(SegmentChecks::trimToCompleteFragments(path));
    EXPECT_EQ(QFileInfo(path).size(), whole.size());
    EXPECT_FALSE(SegmentChecks::trimToCompleteFragments(dir.filePath("nada.mp4")));
}
