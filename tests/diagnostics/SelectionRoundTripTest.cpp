// The clipboard check's round trip through a real X server: what one
// connection serves in a private selection, another reads back; the user's
// own selections are never touched.
#include "platform/x11/X11SelectionRoundTrip.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

using namespace std::chrono_literals;

namespace {

const QByteArray selectionName = "app.velunta.selftest.teste";

QByteArray readSelection(const QString &selection)
{
    QProcess xclip;
    xclip.start("xclip", {"-selection", selection, "-o"});
    xclip.waitForFinished(10000);
    return xclip.readAllStandardOutput();
}

// Whether any client owns the selection NAME now.
bool isOwned(const QByteArray &name)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const auto atomCookie = xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData());
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    const auto ownerCookie = xcb_get_selection_owner(connection, atom->atom);
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(connection, ownerCookie, nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    free(atom);
    xcb_disconnect(connection);
    return owned;
}

class SelectionRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
    }
};

TEST_F(SelectionRoundTrip, FileUrlsComeBackThroughTheServerAndTheSelectionIsReleased)
{
    const QList<QUrl> urls {QUrl::fromLocalFile("/tmp/gravação de teste.mp4"), QUrl::fromLocalFile("/tmp/outra 2.png")};
    const auto read = X11SelectionRoundTrip::run(selectionName, urls, 3s);
    ASSERT_TRUE(read) << read.error().toStdString();
    EXPECT_EQ(*read, urls);
    EXPECT_FALSE(isOwned(selectionName));

    const auto again = X11SelectionRoundTrip::run(selectionName, {}, 3s);
    ASSERT_TRUE(again) << again.error().toStdString();
    EXPECT_TRUE(again->isEmpty());
}

TEST_F(SelectionRoundTrip, TheUsersClipboardAndPrimarySelectionStayAsTheyWere)
{
    if (QStandardPaths::findExecutable("xclip").isEmpty())
        GTEST_SKIP() << "needs xclip";
    for (const QString selection : {"clipboard", "primary"}) {
        QProcess xclip;
        xclip.start("xclip", {"-selection", selection, "-i"});
        xclip.waitForStarted();
        xclip.write("do usuário " + selection.toUtf8());
        xclip.closeWriteChannel();
        xclip.waitForFinished(10000);
    }
    const auto read = X11SelectionRoundTrip::run(selectionName, {QUrl::fromLocalFile("/tmp/a.mp4")}, 3s);
    ASSERT_TRUE(read) << read.error().toStdString();
    EXPECT_EQ(readSelection("clipboard"), "do usuário clipboard");
    EXPECT_EQ(readSelection("primary"), "do usuário primary");
}

} // namespace
