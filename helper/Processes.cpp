#include "Processes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <plist/plist.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace VeluntaUpdateHelper {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};

std::vector<char *> argv(const std::string &program, const std::vector<std::string> &arguments)
{
    std::vector<char *> list;
    list.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        list.push_back(const_cast<char *>(argument.c_str()));
    list.push_back(nullptr);
    return list;
}

// Only async-signal-safe calls from here on: this runs in a forked child.
[[noreturn]] void execChild(const char *program, char *const *args, int reportFd)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGHUP, SIGPIPE, SIGINT, SIGTERM, SIGCHLD})
        signal(sig, SIG_DFL);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2)
            close(null);
    }
    execv(program, args);
    const int error = errno;
    (void)!write(reportFd, &error, sizeof error);
    _exit(127);
}

// Reads the errno that a child sends when exec fails; end of file means the
// exec happened (the pipe is close-on-exec).
int readExecError(int fd)
{
    int error = 0;
    ssize_t n;
    do
        n = read(fd, &error, sizeof error);
    while (n < 0 && errno == EINTR);
    return n == ssize_t(sizeof error) ? error : 0;
}

void waitFor(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}

} // namespace

bool processHasEnded(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return false;
    // "pid (comm) S …": the name may hold spaces and parentheses itself.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return false;
    const char state = line[close + 2];
    return state == 'Z' || state == 'X';
}

BundleExecutable bundleExecutable(const std::string &bundle)
{
    const std::string plistPath = bundle + "/Contents/Info.plist";
    std::ifstream file(plistPath, std::ios::binary);
    if (!file)
        return {{}, plistPath + ": " + std::strerror(errno)};
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > (64u << 20))
        return {{}, plistPath + ": not a property list"};
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), uint32_t(bytes.size()), &root);
    const std::unique_ptr<void, PlistFree> owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return {{}, plistPath + ": not a property list"};
    const plist_t node = plist_dict_get_item(root, "CFBundleExecutable");
    uint64_t length = 0;
    const char *name
        = node && plist_get_node_type(node) == PLIST_STRING ? plist_get_string_ptr(node, &length) : nullptr;
    const std::string executable = name ? std::string(name, length) : std::string();
    // A name that climbs out of Contents/MacOS is not the bundle's program.
    if (executable.empty() || executable == "." || executable == ".." || executable.find('/') != std::string::npos)
        return {{}, plistPath + ": no valid CFBundleExecutable"};
    return {bundle + "/Contents/MacOS/" + executable, {}};
}

std::optional<LaunchFailure> openBundle(const std::string &bundle, const std::vector<std::string> &arguments)
{
    const BundleExecutable executable = bundleExecutable(bundle);
    if (executable.path.empty())
        return LaunchFailure {bundle, executable.error};
    const std::string &program = executable.path;
    const std::vector<char *> args = argv(program, arguments);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return LaunchFailure {program, std::strerror(errno)};
    // Fork twice with a new session in between: the program gets no
    // controlling terminal, is not our child and outlives this helper, which
    // deletes itself and exits soon after.
    const pid_t middle = fork();
    if (middle < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        return LaunchFailure {program, std::strerror(error)};
    }
    if (middle == 0) {
        close(report[0]);
        setsid();
        const pid_t child = fork();
        if (child == 0) {
            if (chdir("/") != 0) { }
            execChild(program.c_str(), args.data(), report[1]);
        }
        if (child < 0) {
            const int error = errno;
            (void)!write(report[1], &error, sizeof error);
        }
        _exit(0);
    }
    close(report[1]);
    waitFor(middle);
    const int error = readExecError(report[0]);
    close(report[0]);
    if (error != 0)
        return LaunchFailure {program, std::strerror(error)};
    return std::nullopt;
}

std::vector<pid_t> processesRunning(const std::string &text)
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (!proc)
        return found;
    const pid_t self = getpid();
    const uid_t user = getuid();
    while (const dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid_t(pid) == self)
            continue;
        const std::string folder = std::string("/proc/") + entry->d_name;
        struct stat info { };
        if (stat(folder.c_str(), &info) != 0 || info.st_uid != user)
            continue;
        std::ifstream file(folder + "/cmdline", std::ios::binary);
        std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        while (!line.empty() && line.back() == '\0')
            line.pop_back();
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (!line.empty() && line.find(text) != std::string::npos)
            found.push_back(pid_t(pid));
    }
    closedir(proc);
    return found;
}

void signalProcessesRunning(const std::string &text, int signal)
{
    for (const pid_t pid : processesRunning(text))
        kill(pid, signal);
}

void testPausePoint(const char *step)
{
    static std::string reached;
    const char *wanted = std::getenv("VELUNTA_HELPER_TEST_PAUSE");
    if (!wanted || reached == step || std::strcmp(wanted, step) != 0)
        return;
    reached = step;
    raise(SIGSTOP);
}

} // namespace VeluntaUpdateHelper
