// Starts the two-screen desktop (Xorg with the dummy driver) and runs the
// recording case that switches the second screen off on it.
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <iostream>

TEST(RecordingDual, ASecondScreenSwitchedOffWhileRecording)
{
    const QString source = TestSupport::sourceDir();
    const QString cases = qEnvironmentVariable("RECORDING_X11_CASES");
    if (source.isEmpty() || cases.isEmpty())
        GTEST_SKIP() << "run through ctest";
    if (QStandardPaths::findExecutable("Xorg").isEmpty())
        GTEST_SKIP() << "needs Xorg with the dummy driver";

    const QString script = source + "/scripts/test-desktop";
    const auto started
        = TestSupport::run(script, {"start", "--dual", "--no-tray"}, QProcessEnvironment::systemEnvironment(), 60000);
    ASSERT_EQ(started.exitCode, 0) << started.err.toStdString();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QRegularExpression line(R"(^export (\w+)=(.*)$)", QRegularExpression::MultilineOption);
    for (auto match = line.globalMatch(QString::fromUtf8(started.out)); match.hasNext();) {
        const auto found = match.next();
        environment.insert(found.captured(1), found.captured(2));
    }
    const QString state = environment.value("VELUNTA_DESKTOP_STATE");
    ASSERT_FALSE(state.isEmpty());
    const auto stop = qScopeGuard([&] {
        TestSupport::run(script, {"stop", state}, QProcessEnvironment::systemEnvironment(), 30000);
    });

    const auto result = TestSupport::run(cases, {"--gtest_filter=*SwitchedOff*"}, environment, 120000);
    std::cout << result.out.toStdString() << result.err.toStdString();
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.crashed);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains("[  PASSED  ] 1 test")) << "the case did not run";
}
