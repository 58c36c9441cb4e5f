// An application that never quits: the helper gives up after about a minute
// and leaves everything as it was.
#include "HelperFixture.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(UpdateHelper, AppThatNeverQuitsCancelsTheUpdate)
{
    HelperFixture fixture;
    fixture.makeNewVersion(HelperFixture::NewVersion::Confirms);
    const pid_t app = fixture.startOldApp(600);
    const auto run = fixture.runHelper(fixture.arguments(app, 5, {"--update-report", "/tmp/r.txt"}), 0, 150);

    const bool appStillRuns = !HelperFixture::processHasEnded(app);
    HelperFixture::stopOldApp(app);

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_GE(run.took, std::chrono::seconds(59));
    EXPECT_LT(run.took, std::chrono::seconds(90));
    EXPECT_TRUE(appStillRuns) << "the running application must be left alone";
    const QStringList lines = fixture.logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(" o app não encerrou; atualização cancelada"));
    EXPECT_FALSE(QFileInfo::exists(fixture.work()));
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 1);
    EXPECT_TRUE(fixture.stagedCopies().isEmpty());
    EXPECT_FALSE(fixture.launchedArguments("old", 1000));
    EXPECT_FALSE(fixture.launchedArguments("new", 0));
}
