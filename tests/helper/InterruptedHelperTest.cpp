// The helper killed at each of its steps, as a logout or a power cut would:
// the installed application is always a whole bundle, and the sweep at the
// next start takes away what the helper left beside it.
#include "HelperFixture.h"
#include "support/TestSupport.h"
#include "updater/UpdateLeftovers.h"

#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

// The helper's state letter in /proc (T: stopped), or 0 once it has gone.
char stateOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const auto close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() ? line.at(close + 2) : 0;
}

struct Step {
    const char *name;
    HelperFixture::NewVersion newVersion;
};

} // namespace

TEST(InterruptedUpdate, TheAppSurvivesAKillAtEveryStepAndTheNextStartClearsUp)
{
    const QList<Step> steps {
        {"copying", HelperFixture::NewVersion::Confirms},
        {"staged", HelperFixture::NewVersion::Confirms},
        {"exchanged", HelperFixture::NewVersion::Confirms},
        {"started", HelperFixture::NewVersion::Confirms},
        {"confirmed", HelperFixture::NewVersion::Confirms},
        {"stopped", HelperFixture::NewVersion::Hangs},
        {"restored", HelperFixture::NewVersion::Hangs},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        HelperFixture fixture;
        fixture.makeNewVersion(step.newVersion);
        // Extra content, so that a copy cut short is really partial.
        for (int i = 0; i < 20; ++i) {
            QFile file(fixture.newBundle() + QStringLiteral("/Contents/extra-%1.txt").arg(i));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        const pid_t helper = fixture.startHelper(
            fixture.arguments(999999999, 2, {}), 0, {QStringLiteral("VELUNTA_HELPER_TEST_PAUSE=") + step.name});
        ASSERT_GT(helper, 0);
        const bool paused = TestSupport::waitFor([&] { return stateOf(helper) == 'T'; }, 30000);
        ::kill(helper, SIGKILL);
        ::waitpid(helper, nullptr, 0);
        ASSERT_TRUE(paused) << "the helper never reached the step";

        // Always a whole bundle under the installed name, one of the two versions.
        const int build = HelperFixture::buildOf(fixture.target());
        EXPECT_TRUE(build == 1 || build == 2) << build;
        EXPECT_TRUE(QFileInfo(fixture.target() + "/Contents/MacOS/Velunta").isExecutable());
        ASSERT_EQ(fixture.stagedCopies().size(), 1) << "the helper's copy is left beside the app";

        const QStringList removed = UpdateLeftovers::sweep(fixture.target(), fixture.logFile());
        EXPECT_EQ(removed.size(), 1);
        EXPECT_TRUE(fixture.stagedCopies().isEmpty()) << fixture.stagedCopies().join(' ').toStdString();
        EXPECT_EQ(HelperFixture::buildOf(fixture.target()), build) << "the installed app is left as it was";
        EXPECT_TRUE(fixture.logLines().last().endsWith(" sobra de uma atualização interrompida removida: "
            + fixture.applications() + "/" + QFileInfo(removed.value(0)).fileName()))
            << fixture.logLines().join('\n').toStdString();
        EXPECT_TRUE(UpdateLeftovers::sweep(fixture.target(), fixture.logFile()).isEmpty()) << "nothing more to do";
    }
}
