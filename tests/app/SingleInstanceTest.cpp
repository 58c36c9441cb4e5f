// The single-instance channel carries one request line from a later launch
// to the running Velunta.
#include "app/SingleInstance.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using Action = LaunchOptions::Action;

TEST(SingleInstance, EveryRequestLineReadsBackAsWhatWasSent)
{
    for (Action action :
        {Action::none, Action::screenshot, Action::screenshotArea, Action::record, Action::recordArea}) {
        const QByteArray line = SingleInstance::requestLine(action);
        EXPECT_TRUE(line.endsWith('\n'));
        EXPECT_EQ(SingleInstance::parseRequest(line), action) << line.constData();
    }
    EXPECT_EQ(SingleInstance::requestLine(Action::none), "reopen\n");
    // What older launches sent keeps working; anything else is no request.
    EXPECT_EQ(SingleInstance::parseRequest("reopen"), Action::none);
    EXPECT_EQ(SingleInstance::parseRequest("--screenshots\n"), std::nullopt);
    EXPECT_EQ(SingleInstance::parseRequest("screenshot\n"), std::nullopt);
    EXPECT_EQ(SingleInstance::parseRequest(""), std::nullopt);
}

TEST(SingleInstance, TheRunningInstanceActsOnEachLineOfALaterLaunch)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    chmod(runtime.path().toUtf8().constData(), 0700);

    SingleInstance first;
    ASSERT_TRUE(first.claim());
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    QSignalSpy actions(&first, &SingleInstance::actionRequested);

    // Two requests in one write, split across reads, and a line of noise.
    QLocalSocket client;
    client.connectToServer(SingleInstance::socketPath());
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write("--record\nnonsense\n--scre");
    client.flush();
    ASSERT_TRUE(actions.wait(2000));
    client.write("enshot-area\nreopen\n");
    client.flush();
    ASSERT_TRUE(reopened.wait(2000));
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions.at(0).at(0).value<Action>(), Action::record);
    EXPECT_EQ(actions.at(1).at(0).value<Action>(), Action::screenshotArea);

    // A later launch hands over its action and is told not to run.
    SingleInstance second;
    EXPECT_FALSE(second.claim(Action::screenshot));
    ASSERT_TRUE(actions.wait(2000));
    EXPECT_EQ(actions.last().at(0).value<Action>(), Action::screenshot);
    EXPECT_EQ(reopened.size(), 1);

    // A quiet launch is told not to run either, and asks for nothing.
    SingleInstance quiet;
    EXPECT_FALSE(quiet.claim(Action::none, true));
    EXPECT_FALSE(reopened.wait(500));
    EXPECT_EQ(actions.size(), 3);
}
