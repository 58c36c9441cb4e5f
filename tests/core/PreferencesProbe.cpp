// Reads or writes Velunta's settings through the real Preferences, one
// process per call, so tests see what a restarted Velunta sees.
#include "core/Preferences.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Preferences preferences;
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "set-bool") {
        const bool value = args[3] == "true";
        if (args[2] == "copiesScreenshots")
            preferences.setCopiesScreenshots(value);
        else if (args[2] == "capturesSystemAudio")
            preferences.setCapturesSystemAudio(value);
        else if (args[2] == "capturesMicrophone")
            preferences.setCapturesMicrophone(value);
        else if (args[2] == "hasCompletedOnboarding")
            preferences.setHasCompletedOnboarding(value);
        else if (args[2] == "checksForUpdates")
            preferences.setChecksForUpdates(value);
        else if (args[2] == "usesBetaUpdates")
            preferences.setUsesBetaUpdates(value);
        else
            return 2;
    } else if (args.size() == 4 && args[1] == "set-int") {
        if (args[2] == "skippedUpdateBuild")
            preferences.setSkippedUpdateBuild(args[3].toLongLong());
        else if (args[2] == "onboardingStep")
            preferences.setOnboardingStep(args[3].toInt());
        else
            return 2;
    } else if (args.size() == 4 && args[1] == "set-string" && args[2] == "saveFolder") {
        preferences.setSaveFolder(args[3]);
    } else if (args.size() == 4 && args[1] == "set-string" && args[2] == "microphoneDevice") {
        preferences.setMicrophoneDevice(args[3]);
    }

    std::printf("hasCompletedOnboarding=%d\n", preferences.hasCompletedOnboarding());
    std::printf("onboardingStep=%d\n", preferences.onboardingStep());
    std::printf("capturesSystemAudio=%d\n", preferences.capturesSystemAudio());
    std::printf("capturesMicrophone=%d\n", preferences.capturesMicrophone());
    std::printf("microphoneDevice=%s\n", preferences.microphoneDevice().toUtf8().constData());
    std::printf("copiesToClipboard=%d\n", preferences.copiesScreenshots());
    std::printf("checksForUpdates=%d\n", preferences.checksForUpdates());
    std::printf("usesBetaUpdates=%d\n", preferences.usesBetaUpdates());
    std::printf("skippedUpdateBuild=%d\n", preferences.skippedUpdateBuild());
    std::printf("saveFolder=%s\n", preferences.saveFolder().toUtf8().constData());
    std::printf("updateBucket=%d\n", preferences.updateBucket());
    return 0;
}
