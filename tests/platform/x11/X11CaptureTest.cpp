// The capture connection on an X server of its own, which the test can take
// away.
#include "platform/x11/X11Capture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// A private Xvfb on a free display number.
class PrivateServer {
public:
    PrivateServer()
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty())
            return;
        for (int n = 150; n < 200; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))
                || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            m_name = QStringLiteral(":%1").arg(n).toUtf8();
            m_socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            break;
        }
        if (m_name.isEmpty())
            return;
        m_process.start("Xvfb", {QString::fromUtf8(m_name), "-screen", "0", "320x200x24", "-nolisten", "tcp"});
        if (!m_process.waitForStarted(5000))
            return;
        for (int i = 0; i < 100 && !QFile::exists(m_socket); ++i)
            QThread::msleep(50);
    }
    ~PrivateServer() { stop(); }
    bool running() const { return m_process.state() == QProcess::Running && QFile::exists(m_socket); }
    QByteArray name() const { return m_name; }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    QByteArray m_name;
    QString m_socket;
};

} // namespace

TEST(X11Capture, LostServerGivesAnErrorNotACrash)
{
    PrivateServer server;
    if (!server.running())
        GTEST_SKIP() << "needs Xvfb";
    auto capture = X11Capture::open(server.name());
    ASSERT_TRUE(capture) << capture.error().description.toStdString();

    auto before = (*capture)->grab(GrabRequest {QRect(0, 0, 320, 200), {}, true});
    ASSERT_TRUE(before);
    EXPECT_EQ(before->size(), QSize(320, 200));
    EXPECT_EQ(before->format(), QImage::Format_RGB32);

    server.stop();
    auto after = (*capture)->grab(GrabRequest {QRect(0, 0, 320, 200), {}, false});
    ASSERT_FALSE(after);
    EXPECT_EQ(after.error().description, QStringLiteral("A conexão com a tela X11 foi perdida."));
    // And it stays an error.
    EXPECT_FALSE((*capture)->grab(GrabRequest {QRect(0, 0, 10, 10), {}, false}));
}

TEST(X11Capture, BadRequestsAndMissingServersAreErrors)
{
    EXPECT_FALSE(X11Capture::open(":199.7"));

    PrivateServer server;
    if (!server.running())
        GTEST_SKIP() << "needs Xvfb";
    auto capture = X11Capture::open(server.name());
    ASSERT_TRUE(capture);
    EXPECT_FALSE((*capture)->grab(GrabRequest {QRect(0, 0, 0, 10), {}, false}));
    // Partly off the desktop: the missing part is background, the size exact.
    auto beyond = (*capture)->grab(GrabRequest {QRect(300, 190, 50, 40), {}, false});
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->size(), QSize(50, 40));
    EXPECT_EQ(beyond->pixel(49, 39), qRgb(0, 0, 0));
    // A window id that does not exist is nothing to leave out.
    EXPECT_TRUE((*capture)->grab(GrabRequest {QRect(0, 0, 320, 200), {0x7fffff}, false}));
    EXPECT_TRUE((*capture)->usedSharedMemory());
}
