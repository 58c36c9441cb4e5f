// Reads or writes Velunta's settings through the real Settings code, one
// process per call, so tests see what a restarted Velunta sees.
#include "core/Settings.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "set-bool")
        Settings::setValue(args[2].toUtf8().constData(), args[3] == "true");
    else if (args.size() == 4 && args[1] == "set-int")
        Settings::setValue(args[2].toUtf8().constData(), args[3].toLongLong());
    else if (args.size() == 4 && args[1] == "set-string")
        Settings::setValue(args[2].toUtf8().constData(), args[3]);

    std::printf("hasCompletedOnboarding=%d\n", Settings::hasCompletedOnboarding());
    std::printf("onboardingStep=%d\n", Settings::onboardingStep());
    std::printf("capturesSystemAudio=%d\n", Settings::capturesSystemAudio());
    std::printf("capturesMicrophone=%d\n", Settings::capturesMicrophone());
    std::printf("copiesToClipboard=%d\n", Settings::copiesToClipboard());
    std::printf("checksForUpdates=%d\n", Settings::checksForUpdates());
    std::printf("usesBetaUpdates=%d\n", Settings::usesBetaUpdates());
    std::printf("skippedUpdateBuild=%d\n", Settings::skippedUpdateBuild());
    std::printf("saveFolder=%s\n", Settings::saveFolder().toUtf8().constData());
    std::printf("updateBucket=%d\n", Settings::updateBucket());
    return 0;
}
