// Recovering recordings whose program died: real fragmented segments cut off
// mid-write, in folders whose lock names a dead or a living process.
#include "recording/RecordingRecovery.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/SegmentEncoder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using SegmentFolder::Owner;
using SegmentFolder::Process;

namespace {

class Recovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.filePath("cache/Velunta");
        saveFolder = dir.filePath("Capturas");
        ASSERT_TRUE(QDir().mkpath(saveFolder));
    }

    // SECONDS of a changing picture at 30 a second with sound, written the
    // way the recorder writes: flushed every second. The writer then dies
    // (the encoder is never finished) with half a fragment on disk.
    static void writeCutOffSegment(const QString &path, int seconds)
    {
        SegmentEncoder::Settings settings;
        settings.path = path;
        settings.size = QSize(160, 120);
        settings.maximumFrameRate = 30;
        settings.audioTracks = {{48000, 2, {}, false}};
        auto encoder = SegmentEncoder::open(settings);
        ASSERT_TRUE(encoder);
        for (int frame = 0; frame <= seconds * 30; ++frame) {
            QImage image(160, 120, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(frame * 7 % 360, 200, 200));
            auto picture = SegmentEncoder::Picture::fromImage(image);
            ASSERT_TRUE(picture);
            ASSERT_TRUE((*encoder)->addPicture(std::move(*picture), frame));
            if (frame % 30 == 0 && frame > 0) {
                ASSERT_TRUE((*encoder)->addSilence(0, 48000));
                ASSERT_TRUE((*encoder)->flush(int64_t(frame) * 1'000'000'000 / 30));
            }
        }
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(QByteArray::fromHex("0000ffff6d6f6f66") + QByteArray(300, '\x11'));
        file.close();
        encoder->reset(); // never finished: what it held since the last flush is lost
    }

    QString folderOf(const Owner &owner)
    {
        auto made = SegmentFolder::create(root, owner);
        EXPECT_TRUE(made);
        return made ? *made : QString();
    }

    QStringList recover()
    {
        return RecordingRecovery::recoverAll({root}, saveFolder, processes(), QStringLiteral("Velunta"));
    }

    SegmentFolder::ProcessLookup processes() const
    {
        return [](qint64 pid) -> std::optional<Process> {
            if (pid == 100)
                return Process {QStringLiteral("Velunta"), 1, false};
            return std::nullopt;
        };
    }

    QTemporaryDir dir;
    QString root;
    QString saveFolder;
};

} // namespace

TEST_F(Recovery, CutOffSegmentsAreJoinedIntoARecoveredFileAndTheFolderGoes)
{
    const QString finalPath = saveFolder + "/Gravação 2026-12-07 às 10.00.00.mp4";
    const QString folder = folderOf({4000, 1, finalPath});
    writeCutOffSegment(folder + "/trecho-0.mp4", 3);
    writeCutOffSegment(folder + "/trecho-1.mp4", 2);

    const QStringList recovered = recover();
    ASSERT_EQ(recovered, QStringList({saveFolder + "/Gravação 2026-12-07 às 10.00.00 (recuperada).mp4"}));
    EXPECT_FALSE(QFileInfo::exists(folder));
    // ffprobe, not our own reader, says what the file holds.
    const TestSupport::RecordingProbe probe = TestSupport::probeRecording(recovered.front());
    EXPECT_EQ(probe.videoSize, QSize(160, 120));
    EXPECT_EQ(probe.audioStreams, 1);
    // Both segments up to their last flush: 3 s and 2 s, the cut-off tails lost.
    EXPECT_NEAR(probe.videoDuration, 5.0, 0.2);
    const QByteArray head = TestSupport::readFile(recovered.front()).left(200);
    EXPECT_TRUE(head.contains("moov")) << "a regular file with its index in front";
}

TEST_F(Recovery, AFolderWithNothingReadableIsRemovedWithoutAFile)
{
    const QString folder = folderOf({4000, 1, saveFolder + "/Gravação X.mp4"});
    TestSupport::writeFile(folder + "/trecho-0.mp4", QByteArray(1000, 'x'));
    const QString empty = folderOf({4001, 1, {}});
    EXPECT_TRUE(recover().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(QFileInfo::exists(empty));
    EXPECT_TRUE(QDir(saveFolder).isEmpty());
}

TEST_F(Recovery, AFolderARunningVeluntaOwnsIsNeverTouched)
{
    const QString folder = folderOf({100, 1, saveFolder + "/Gravação Y.mp4"});
    writeCutOffSegment(folder + "/trecho-0.mp4", 2);
    const QByteArray before = TestSupport::readFile(folder + "/trecho-0.mp4");
    EXPECT_TRUE(recover().isEmpty());
    EXPECT_EQ(TestSupport::readFile(folder + "/trecho-0.mp4"), before) << "not even trimmed";
    EXPECT_TRUE(QDir(saveFolder).isEmpty());
}

TEST_F(Recovery, RecoveredNamesNeverReplaceAFile)
{
    const QString finalPath = saveFolder + "/Gravação A.mp4";
    EXPECT_EQ(RecordingRecovery::recoveredPath(finalPath, saveFolder, {}), saveFolder + "/Gravação A (recuperada).mp4");
    TestSupport::writeFile(saveFolder + "/Gravação A (recuperada).mp4", "x");
    EXPECT_EQ(
        RecordingRecovery::recoveredPath(finalPath, saveFolder, {}), saveFolder + "/Gravação A (recuperada 2).mp4");
    // The folder it was to go to is gone: the save folder, named after its start.
    const QDateTime started(QDate(2026, 12, 7), QTime(9, 8, 7));
    EXPECT_EQ(RecordingRecovery::recoveredPath("/gone/Gravação B.mp4", saveFolder, started),
        saveFolder + "/Gravação 2026-12-07 às 09.08.07 (recuperada).mp4");
    EXPECT_EQ(RecordingRecovery::recoveredPath({}, saveFolder, started),
        saveFolder + "/Gravação 2026-12-07 às 09.08.07 (recuperada).mp4");
}

TEST_F(Recovery, ASaveFolderThatCannotTakeTheFileKeepsTheSegmentsForNextTime)
{
    TestSupport::writeFile(dir.filePath("arquivo"), "x");
    const QString folder = folderOf({4000, 1, {}});
    writeCutOffSegment(folder + "/trecho-0.mp4", 2);
    EXPECT_TRUE(
        RecordingRecovery::recoverAll({root}, dir.filePath("arquivo/Capturas"), processes(), "Velunta").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(folder + "/trecho-0.mp4"));
    // Room again: the next start gets it.
    EXPECT_EQ(recover().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(folder));
}
