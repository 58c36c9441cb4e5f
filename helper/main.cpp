// VeluntaUpdateHelper: replaces an installed Velunta.app with a verified new
// one once the running application has quit, and puts the old one back when
// the new version does not confirm that it started.
//
// It runs from a copy inside the update's work folder, never from the bundle
// it replaces, and it is single-threaded: every wait is a plain sleep.
#include "Files.h"
#include "Log.h"
#include "Options.h"
#include "Processes.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace VeluntaUpdateHelper;

namespace {

constexpr int maximumWaits = 600; // 100 ms each: about a minute for the app to quit

void sleepFor(long milliseconds)
{
    timespec delay {milliseconds / 1000, (milliseconds % 1000) * 1000000};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) { }
}

void logLaunchFailure(const LaunchFailure &failure)
{
    log("falha ao executar " + failure.program + ": " + failure.reason);
}

void open(const std::string &bundle, const std::vector<std::string> &arguments)
{
    if (const auto failure = openBundle(bundle, arguments))
        logLaunchFailure(*failure);
}

// The work folder goes, with this program's own copy in it. A line that
// named the root or the home folder as work folder was never built by the
// application, and deleting those would be a disaster, not a clean-up.
void cleanWorkFolder(const std::string &work)
{
    const auto normal = [](const std::string &path) {
        // Normalising "/a/b/.." leaves "/a/": strip that slash too.
        return absolutePath(std::filesystem::path(absolutePath(path)).lexically_normal().string());
    };
    const std::string folder = normal(work);
    const char *home = std::getenv("HOME");
    if (folder == "/" || (home && *home && normal(home) == folder))
        return;
    removeTree(folder);
}

std::vector<std::string> concat(std::vector<std::string> head, const std::vector<std::string> &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

} // namespace

int main(int argc, char **argv)
{
    // The application that started us quits right away; its terminal or
    // session going away must not end the swap halfway.
    setsid();
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    const auto parsed = parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!parsed) {
        log("argumentos inválidos");
        return 2;
    }
    const Options &options = *parsed;
    const std::string work = options.work;

    int waited = 0;
    while (!processHasEnded(options.pid)) {
        if (waited >= maximumWaits) {
            log("o app não encerrou; atualização cancelada");
            cleanWorkFolder(work);
            return 1;
        }
        sleepFor(100);
        ++waited;
    }

    const std::string target = absolutePath(options.target);
    const std::string staged = stagedPathBeside(target);
    if (const auto error = copyTree(absolutePath(options.newBundle), staged)) {
        log("falha ao copiar a versão nova: " + *error);
        cleanWorkFolder(work);
        open(target, options.relaunchArguments);
        return 1;
    }
    testPausePoint("staged");

    if (const auto error = exchangePaths(staged, target)) {
        log(std::string("falha ao trocar as versões: ") + std::strerror(*error));
        removeTree(staged);
        cleanWorkFolder(work);
        open(target, options.relaunchArguments);
        return 1;
    }

    testPausePoint("exchanged");

    // A marker left from before would confirm a version that never started.
    const std::string confirmation = absolutePath(work) + "/confirmado";
    ::unlink(confirmation.c_str());
    open(target, concat({"--update-confirm", confirmation}, options.relaunchArguments));
    testPausePoint("started");

    bool confirmed = false;
    // Checked before every pause: a timeout of 0 checks nothing.
    const std::int64_t checks = options.timeout > INT64_MAX / 10 ? INT64_MAX : options.timeout * 10;
    for (std::int64_t i = 0; i < checks; ++i) {
        if (pathExists(confirmation)) {
            confirmed = true;
            break;
        }
        sleepFor(100);
    }

    if (confirmed) {
        testPausePoint("confirmed");
        removeTree(staged);
        cleanWorkFolder(work);
        log("versão " + options.build + " instalada");
        return 0;
    }

    log("a versão " + options.build + " não iniciou; voltando para a anterior");
    // What pkill -f would match, found and signalled by ourselves: a system
    // without procps must not go on with the new version still running.
    const std::string running = target + "/Contents/MacOS/";
    signalProcessesRunning(running, SIGTERM);
    sleepFor(500);
    signalProcessesRunning(running, SIGKILL); // whatever did not take the hint
    testPausePoint("stopped");
    if (const auto error = exchangePaths(staged, target)) {
        // The old version survives under the staged name for manual recovery.
        log(std::string("falha ao restaurar a versão anterior: ") + std::strerror(*error) + "; ela está em " + staged);
        return 1;
    }
    testPausePoint("restored");
    removeTree(staged);
    cleanWorkFolder(work);
    open(target, concat({"--update-rolled-back", options.build}, options.relaunchArguments));
    return 1;
}
