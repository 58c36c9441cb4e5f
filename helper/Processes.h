#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace VeluntaUpdateHelper {

// True once the process is gone. One that has exited but not yet been reaped
// by its parent still answers a signal-0 probe, so a zombie counts as gone.
bool processHasEnded(pid_t pid);

// What a child program could not do: the program's path and why.
struct LaunchFailure {
    std::string program;
    std::string reason;
};

// Starts the bundle's own program (Contents/MacOS/<CFBundleExecutable>) as a
// new process of its own session, detached from this one, with its standard
// streams on /dev/null. Returns once the program is running.
std::optional<LaunchFailure> openBundle(const std::string &bundle, const std::vector<std::string> &arguments);

// Processes of this user, other than this one, whose command line (its
// arguments joined by spaces, as pkill -f sees it) contains TEXT. Read from
// /proc, so that no outside program has to be there.
std::vector<pid_t> processesRunning(const std::string &text);

// Sends SIGNAL to every process that processesRunning(TEXT) finds.
void signalProcessesRunning(const std::string &text, int signal);

// Test-only: when VELUNTA_HELPER_TEST_PAUSE names STEP, the helper stops
// itself there (SIGSTOP) so that a test can kill it at that point, as a
// logout or a power cut would. Nothing happens once per step otherwise.
void testPausePoint(const char *step);

// The executable named by the bundle's Info.plist, or why there is none.
struct BundleExecutable {
    std::string path;
    std::string error;
};
BundleExecutable bundleExecutable(const std::string &bundle);

} // namespace VeluntaUpdateHelper
