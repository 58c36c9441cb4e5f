// Starts the two-screen desktop (Xorg with the dummy driver) and runs the
// overlay's two-screen cases on it, so that they run whatever desktop the
// rest of the tests have.
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <iostream>

TEST(SelectionOverlayDual, TwoScreenCasesPass)
{
    const QString source = TestSupport::sourceDir();
    const QString cases = qEnvironmentVariable("SELECTION_DUAL_CASES");
    if (source.isEmpty() || cases.isEmpty())
        GTEST_SKIP() << "run through ctest";
    if (QStandardPaths::findExecutable("Xorg").isEmpty())
        GTEST_SKIP() << "needs Xorg with the dummy driver";

    const QString script = source + "/scripts/test-desktop";
    const auto started
        = TestSupport::run(script, {"start", "--dual", "--no-tray"}, QProcessEnvironment::systemEnvironment(), 60000);
    ASSERT_EQ(started.exitCode, 0) << started.err.toStdString();
    // "export NAME=value" lines.
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

    const auto result = TestSupport::run(cases, {}, environment, 240000);
    std::cout << result.out.toStdString() << result.err.toStdString();
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.crashed);
    EXPECT_EQ(result.exitCode, 0);
}
