// The portal conversation on its own: what it asks for and what it hands
// back, against the test portal on headless mutter, and without any portal.
#include "platform/wayland/PortalScreenCast.h"
#include "CastDesktop.h"
#include "WaylandDesktop.h"
#include "platform/wayland/PipeWireStream.h"
#include "platform/wayland/Portal.h"
#include "platform/wayland/WaylandFrameSource.h"

#include <QDBusObjectPath>
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
        if (!WaylandDesktop::missingTool({"mutter"}).empty())
            GTEST_SKIP() << "needs mutter";
        QString why;
        if (!CastDesktop::get(&why))
            GTEST_SKIP() << why.toStdString();
    }

    static void setCursorModes(uint modes) { WaylandDesktop::castControl(QStringLiteral("SetCursorModes"), {modes}); }
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
    EXPECT_EQ(WaylandDesktop::castSessions(), 1u);

    ::close(result->pipeWireFd);
    portal.close(result->session);
    EXPECT_EQ(WaylandDesktop::castSessionsAfterClosing(), 0u) << "closing did not end the session";
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

TEST_F(PortalOnMutter, TheUsersNoIsARefusalAndLeavesNoSessionOpen)
{
    WaylandDesktop::castControl(QStringLiteral("SetRefusal"), {true});
    PortalScreenCast portal({});
    int answers = 0;
    const CastResult refused = startCast(portal, true, &answers);
    WaylandDesktop::castControl(QStringLiteral("SetRefusal"), {false});
    EXPECT_EQ(answers, 1);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description, QStringLiteral("A gravação da tela não foi permitida."));
    EXPECT_EQ(WaylandDesktop::castSessionsAfterClosing(), 0u) << "the refused session was left open";
}

// Runs one request to its Response (or its failure).
Portal::Answer ask(const QString &method, QVariantList arguments)
{
    std::optional<Portal::Answer> answer;
    int count = 0;
    auto *request = new PortalRequest(QDBusConnection::sessionBus(), QStringLiteral("Pedido"));
    QObject::connect(request, &PortalRequest::finished, [&](const Portal::Answer &given) {
        ++count;
        answer.emplace(given);
    });
    request->startWaitingOnUser(Portal::screenCastInterface, method, std::move(arguments));
    for (int i = 0; i < 400 && !answer; ++i)
        QTest::qWait(25);
    EXPECT_LE(count, 1) << "a request answered twice";
    return answer ? *answer : Portal::Answer::failure({{QStringLiteral("no answer")}, false});
}

TEST_F(PortalOnMutter, ARequestTellsTheUsersNoApartFromARefusalAndAFailedCall)
{
    const QVariantMap named {{QStringLiteral("session_handle_token"), QStringLiteral("pedido")}};
    const Portal::Answer created = ask(QStringLiteral("CreateSession"), {named});
    ASSERT_TRUE(created) << created.error().description.toStdString();
    const QString session = created->value(QStringLiteral("session_handle")).toString();
    ASSERT_FALSE(session.isEmpty());
    const QVariant handle = QVariant::fromValue(QDBusObjectPath(session));

    // The user says no in the chooser.
    WaylandDesktop::castControl(QStringLiteral("SetRefusal"), {true});
    const Portal::Answer cancelled = ask(QStringLiteral("SelectSources"), {handle, QVariantMap()});
    WaylandDesktop::castControl(QStringLiteral("SetRefusal"), {false});
    ASSERT_FALSE(cancelled);
    EXPECT_TRUE(cancelled.error().cancelled);
    EXPECT_EQ(cancelled.error().description, Portal::responseError(1, QStringLiteral("Pedido")).description);

    // The portal refuses what it was asked (no source type it offers).
    const Portal::Answer refused
        = ask(QStringLiteral("SelectSources"), {handle, QVariantMap {{QStringLiteral("types"), 8u}}});
    ASSERT_FALSE(refused);
    EXPECT_FALSE(refused.error().cancelled);
    EXPECT_EQ(refused.error().description, Portal::responseError(2, QStringLiteral("Pedido")).description);

    // The call itself fails: no such session. The bus's reason is kept.
    const Portal::Answer failed = ask(QStringLiteral("SelectSources"),
        {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/portal/desktop/session/x/y"))),
            QVariantMap()});
    ASSERT_FALSE(failed);
    EXPECT_FALSE(failed.error().cancelled);
    EXPECT_TRUE(failed.error().description.startsWith(QStringLiteral("Pedido: ")))
        << failed.error().description.toStdString();
    EXPECT_TRUE(failed.error().description.contains(QStringLiteral("no session")))
        << failed.error().description.toStdString();

    // Without its options map the request is not sent at all.
    const Portal::Answer malformed = ask(QStringLiteral("SelectSources"), {handle});
    ASSERT_FALSE(malformed);
    EXPECT_EQ(malformed.error().description, QStringLiteral("Pedido"));

    Portal::closeSession(QDBusConnection::sessionBus(), session);
    EXPECT_EQ(WaylandDesktop::castSessionsAfterClosing(), 0u);
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
    ASSERT_TRUE(WaylandDesktop::movePointer({"click", "400", "300"}));
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
    ASSERT_TRUE(WaylandDesktop::movePointer({"click", "800", "600"}));
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
