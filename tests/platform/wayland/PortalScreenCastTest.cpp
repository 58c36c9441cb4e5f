// The portal conversation on its own: what it asks for and what it hands
// back, against the test portal on headless mutter, and without any portal.
#include "platform/wayland/PortalScreenCast.h"
#include "CastDesktop.h"
#include "platform/wayland/WaylandFrameSource.h"

#include <QDBusInterface>
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
    QString saved;
    PortalScreenCast portal({[] { return QString(); }, [&saved](const QString &token) { saved = token; }});
    int answers = 0;
    CastResult result = startCast(portal, true, &answers);
    ASSERT_TRUE(result) << result.error().description.toStdString();
    EXPECT_EQ(answers, 1);
    ASSERT_EQ(result->streams.size(), 1u);
    EXPECT_NE(result->streams[0].node, 0u);
    EXPECT_EQ(result->streams[0].geometry, QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(result->cursorEmbedded);
    EXPECT_GE(result->pipeWireFd, 0);
    EXPECT_FALSE(saved.isEmpty()) << "the restore token was not kept";
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

} // namespace
