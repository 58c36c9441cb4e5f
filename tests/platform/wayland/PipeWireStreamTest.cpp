// PipeWireStream against a real PipeWire daemon, fed by a GStreamer producer
// (videotestsrc into pipewiresink) of a known colour.
#include "platform/wayland/PipeWireStream.h"
#include "CastDesktop.h"
#include "StreamReading.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace std::chrono_literals;
using StreamReading::frames;
using StreamReading::open;

// A producer node named NAME; its node id is looked up in pw-dump.
class TestPattern {
public:
    TestPattern(const QString &name, const QString &format, QSize size, const QString &pattern = "solid-color")
    {
        m_process.start(QStringLiteral("gst-launch-1.0"),
            {"-q", "videotestsrc", "is-live=true", "pattern=" + pattern, "foreground-color=0xff2040c0", "!",
                QStringLiteral("video/x-raw,format=%1,width=%2,height=%3,framerate=30/1")
                    .arg(format)
                    .arg(size.width())
                    .arg(size.height()),
                "!", "pipewiresink", "mode=provide", QStringLiteral("stream-properties=p,node.name=%1").arg(name)});
        m_process.waitForStarted();
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && !node) {
            node = lookUp(name);
            if (!node)
                QThread::msleep(100);
        }
    }
    ~TestPattern() { stop(); }
    void stop()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    uint32_t node = 0;

private:
    static uint32_t lookUp(const QString &name)
    {
        QProcess dump;
        dump.start(QStringLiteral("pw-dump"), {});
        dump.waitForFinished(10000);
        for (const QJsonValue &value : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
            const QJsonObject object = value.toObject();
            if (object["type"].toString() == "PipeWire:Interface:Node"
                && object["info"]["props"]["node.name"].toString() == name)
                return uint32_t(object["id"].toInt());
        }
        return 0;
    }

    QProcess m_process;
};

class PipeWireStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("gst-launch-1.0").isEmpty()
            || QStandardPaths::findExecutable("pw-dump").isEmpty())
            GTEST_SKIP() << "needs gst-launch-1.0 (with the pipewire plugin) and pw-dump";
        QString why;
        if (!CastDesktop::get(&why))
            GTEST_SKIP() << why.toStdString();
    }
};

TEST_F(PipeWireStreamTest, FramesArriveWholeWithTheirColoursAndRisingTimes)
{
    TestPattern pattern("velunta-bgrx", "BGRx", QSize(320, 240));
    ASSERT_NE(pattern.node, 0u) << "the producer node never appeared";
    auto stream = open(pattern.node);
    ASSERT_TRUE(stream);
    const auto got = frames(*stream, 10);
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(stream->sourceSize(), QSize(320, 240));
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].image.size(), QSize(320, 240));
        EXPECT_EQ(got[i].image.format(), QImage::Format_RGB32);
        EXPECT_EQ(got[i].image.pixel(17, 203), qRgb(0x20, 0x40, 0xc0));
        if (i > 0) {
            EXPECT_GT(got[i].sequence, got[i - 1].sequence);
            EXPECT_GT(got[i].nanoseconds, got[i - 1].nanoseconds);
        }
    }
    // On the steady clock, as the recorder's other times are.
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch() / 1ns;
    EXPECT_LT(std::abs(now - got.back().nanoseconds), int64_t(2e9));
}

TEST_F(PipeWireStreamTest, RgbxIsTurnedAroundAndAnAreaIsCutOut)
{
    TestPattern pattern("velunta-rgbx", "RGBx", QSize(640, 480));
    ASSERT_NE(pattern.node, 0u);
    // The node shows a 640x480 monitor placed at (1000, 0); the area is
    // partly off it, so its left part stays black.
    auto stream = open(pattern.node, QRect(1000, 0, 640, 480), QRect(900, 100, 301, 200));
    ASSERT_TRUE(stream);
    const auto got = frames(*stream, 3);
    ASSERT_EQ(got.size(), 3u);
    const QImage &image = got.back().image;
    EXPECT_EQ(image.size(), QSize(301, 200));
    EXPECT_EQ(image.pixel(150, 100), qRgb(0x20, 0x40, 0xc0));
    EXPECT_EQ(image.pixel(300, 199), qRgb(0x20, 0x40, 0xc0));
    EXPECT_EQ(image.pixel(50, 100), qRgb(0, 0, 0));

    // Without the monitor's place the picture counts as at the origin: the
    // area is cut out, not the whole picture shrunk into it. Colour bars
    // seven to the width: 64 pixels of the left lie in the first bar.
    TestPattern bars("velunta-unplaced", "BGRx", QSize(640, 480), "smpte");
    ASSERT_NE(bars.node, 0u);
    auto part = open(bars.node, QRect(), QRect(0, 0, 64, 48));
    ASSERT_TRUE(part);
    const auto partFrames = frames(*part, 1);
    ASSERT_EQ(partFrames.size(), 1u);
    EXPECT_EQ(partFrames[0].image.size(), QSize(64, 48));
    EXPECT_EQ(partFrames[0].image.pixel(60, 10), partFrames[0].image.pixel(0, 10));
}

TEST_F(PipeWireStreamTest, AFrameHeldByAReaderIsNeverOverwritten)
{
    // A moving ball: every frame differs from the one before.
    TestPattern pattern("velunta-held", "BGRx", QSize(160, 120), "ball");
    ASSERT_NE(pattern.node, 0u);
    auto stream = open(pattern.node);
    ASSERT_TRUE(stream);
    auto first = frames(*stream, 1);
    ASSERT_EQ(first.size(), 1u);
    const QImage kept = first[0].image;
    const QImage copied = kept.copy();
    const auto later = frames(*stream, 8);
    ASSERT_EQ(later.size(), 8u);
    EXPECT_NE(later.back().image, copied) << "the pattern did not move";
    EXPECT_EQ(kept, copied);
}

TEST_F(PipeWireStreamTest, TheProducerGoingAwayEndsTheStreamWithAReason)
{
    TestPattern pattern("velunta-ending", "BGRx", QSize(64, 48));
    ASSERT_NE(pattern.node, 0u);
    auto stream = open(pattern.node);
    ASSERT_TRUE(stream);
    ASSERT_EQ(frames(*stream, 2).size(), 2u);
    pattern.stop();
    PipeWireStream::Wait wait = PipeWireStream::Wait::frame;
    const QDeadlineTimer deadline(10000);
    while (wait != PipeWireStream::Wait::ended && !deadline.hasExpired())
        wait = stream->waitForFrame(UINT64_MAX, 500ms);
    EXPECT_EQ(wait, PipeWireStream::Wait::ended);
    EXPECT_FALSE(stream->endReason().description.isEmpty());
}

TEST_F(PipeWireStreamTest, InterruptWakesAWaiterAndANodeThatIsNotThereFailsToOpen)
{
    TestPattern pattern("velunta-interrupt", "BGRx", QSize(64, 48));
    ASSERT_NE(pattern.node, 0u);
    auto stream = open(pattern.node);
    ASSERT_TRUE(stream);
    std::thread waker([&] {
        std::this_thread::sleep_for(100ms);
        stream->interrupt();
    });
    EXPECT_EQ(stream->waitForFrame(UINT64_MAX, 10s), PipeWireStream::Wait::interrupted);
    waker.join();

    PipeWireStream::Options missing;
    missing.node = 99999;
    missing.startTimeout = 2s;
    auto none = PipeWireStream::open(missing);
    ASSERT_FALSE(none);
    EXPECT_FALSE(none.error().description.isEmpty());
}

} // namespace
