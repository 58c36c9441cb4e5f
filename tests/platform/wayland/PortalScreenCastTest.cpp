// The portal conversation on its own: what it asks for and what it hands
// back, against the test portal on headless mutter, and without any portal.
#include "platform/wayland/PortalScreenCast.h"
#include "CastDesktop.h"
#include "platform/wayland/PipeWireStream.h"
#include "platform/wayland/WaylandFrameSource.h"

#include <QDBusInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

using CastResult = Result<PortalScreenCast::Cast, PlatformError>;

// Runs one start() to its answer, counting the answers.
CastResult startCast(PortalScreenCast &portal, bool showsCursor, int *answers = nullptr)
{
    std::optional<CastResult> result;
    int count = 0;
    portal.start(showsCursor, [&](CastResult answer) {
        ++count;
        result.emplace(std::move(answer));
    });
    for (int i = 0; i < 400 && !result; ++i)
        QTest::qWait(25);
    QTest::qWait(100); // a second answer would come now
    if (answers)
        *answers = count;
    return result ? std::move(*result) : CastResult::failure({QStringLiteral("no answer")});
}

TEST(PortalScreenCast, WithoutASessionBusTheAnswerIsAClearFailure)
{
    PortalScreenCast portal({}, QDBusConnection(QStringLiteral("not-connected")));
    int answers = 0;
    const CastResult result = startCast(portal, true, &answers);
    EXPECT_EQ(answers, 1);
    ASSERT_FALSE(result);
    EXPECT_EQ(
        result.error().description, QStringLiteral("O portal de captura de tela do sistema não está disponível."));
}

TEST(PortalScreenCast, OpeningAStreamOnThePortalsOwnThreadFailsInsteadOfWaitingOnItself)
{
    PortalScreenCast portal({}, QDBusConnection(QStringLiteral("not-connected")));
    WaylandFrameSource frames(&portal);
    auto opened = frames.open({1, QRect(0, 0, 64, 48), true});
    ASSERT_FALSE(opened);
    EXPECT_FALSE(opened.error().description.isEmpty());
}

class PortalOnMutter : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("mutter").isEmpty())
            GTEST_SKIP() << "needs mutter";
        QString why;
        if (!CastDesktop::get(&why))
            GTEST_SKIP() << why.toStdString();
    }

    static void setCursorModes(uint modes)
    {
        QDBusInterface control(QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("app.velunta.TestPortal.ScreenCast"));
        control.call(QStringLiteral("SetCursorModes"), modes);
    }

    static uint openSessions()
    {
        QDBusInterface control(QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("app.velunta.TestPortal.ScreenCast"));
        return control.call(QStringLiteral("SessionCount")).arguments().value(0).toUInt();
    }
};

TEST_F(PortalOnMutter, AStartedCastNamesTheMonitorAndHandsOverPipeWire)
{
    using Tokens = std::vector<Preferences::ScreenCastToken>;
    Tokens saved;
    PortalScreenCast portal({[] { return Tokens(); }, [&saved](const Tokens &tokens) { saved = tokens; }});
    int answers = 0;
    CastResult result = startCast(portal, true, &answers);
    ASSERT_TRUE(result) << result.error().description.toStdString();
    EXPECT_EQ(answers, 1);
    ASSERT_EQ(result->streams.size(), 1u);
    EXPECT_NE(result->streams[0].node, 0u);
    EXPECT_EQ(result->streams[0].geometry, QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(result->cursorEmbedded);
    EXPECT_GE(result->pipeWireFd, 0);
    ASSERT_EQ(saved.size(), 1u) << "the restore token was not kept";
    EXPECT_EQ(saved[0].monitor, QRect(0, 0, 1920, 1080)) << "kept for the monitor shown";
    EXPECT_FALSE(saved[0].token.isEmpty());
    EXPECT_TRUE(result->restoredFrom.isEmpty()) << "started without a token";
    EXPECT_EQ(openSessions(), 1u);

    ::close(result->pipeWireFd);
    portal.close(result->session);
    for (int i = 0; i < 100 && openSessions() != 0; ++i)
        QTest::qWait(20);
    EXPECT_EQ(openSessions(), 0u) << "closing did not end the session";
}

TEST_F(PortalOnMutter, ThePointerGoesBesideThePictureWhereEmbeddingIsNotOffered)
{
    setCursorModes(1 | 4); // hidden and metadata
    PortalScreenCast portal({});
    CastResult withPointer = startCast(portal, true);
    CastResult without = startCast(portal, false);
    setCursorModes(1 | 2 | 4);
    ASSERT_TRUE(withPointer) << withPointer.error().description.toStdString();
    ASSERT_TRUE(without) << without.error().description.toStdString();
    EXPECT_FALSE(withPointer->cursorEmbedded);
    EXPECT_FALSE(without->cursorEmbedded);
    for (CastResult *cast : {&withPointer, &without}) {
        ::close((*cast)->pipeWireFd);
        portal.close((*cast)->session);
    }
}

// Moves the pointer to (X, Y) of the first monitor through mutter's remote desktop.
void movePointer(int x, int y)
{
    QProcess::execute(QStringLiteral("/usr/bin/python3"),
        {qEnvironmentVariable("VELUNTA_SOURCE_DIR") + QStringLiteral("/tests/support/portal/pointer.py"),
            QStringLiteral("click"), QString::number(x), QString::number(y)});
}

// Pixels that differ between two pictures inside BOX.
int differences(const QImage &a, const QImage &b, const QRect &box)
{
    int count = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

PipeWireStream::Frame nextFrame(PipeWireStream &stream, uint64_t seen)
{
    for (int i = 0; i < 40; ++i)
        if (stream.waitForFrame(seen, std::chrono::milliseconds(250)) == PipeWireStream::Wait::frame)
            return stream.latest();
    return {};
}

TEST_F(PortalOnMutter, APointerSentBesideThePictureIsDrawnWhereItIsAndFollowsItsMoves)
{
    movePointer(400, 300);
    setCursorModes(1 | 4);
    PortalScreenCast portal({});
    CastResult cast = startCast(portal, true);
    setCursorModes(1 | 2 | 4);
    ASSERT_TRUE(cast) << cast.error().description.toStdString();
    ASSERT_FALSE(cast->cursorEmbedded);

    PipeWireStream::Options options;
    options.node = cast->streams[0].node;
    options.shown = cast->streams[0].geometry;
    options.remoteFd = cast->pipeWireFd;
    options.drawsCursor = true;
    auto stream = PipeWireStream::open(options);
    ASSERT_TRUE(stream) << stream.error().description.toStdString();
    const PipeWireStream::Frame first = nextFrame(**stream, 0);
    ASSERT_FALSE(first.image.isNull());

    // A move alone sends no new picture, only the pointer's new place: the
    // picture is drawn again with the pointer there and nowhere else.
    movePointer(800, 600);
    const QRect before(396, 296, 32, 40);
    const QRect after(796, 596, 32, 40);
    PipeWireStream::Frame moved = first;
    for (int i = 0; i < 20 && differences(moved.image, first.image, after) == 0; ++i) {
        const PipeWireStream::Frame next = nextFrame(**stream, moved.sequence);
        if (next.image.isNull())
            break;
        moved = next;
    }
    EXPECT_GT(differences(moved.image, first.image, after), 20) << "the pointer did not follow";
    EXPECT_GT(differences(moved.image, first.image, before), 20) << "no pointer at (400, 300), or it stayed there";
    EXPECT_EQ(differences(moved.image, first.image, QRect(100, 100, 200, 100)), 0);
    portal.close(cast->session);
}

} // namespace
