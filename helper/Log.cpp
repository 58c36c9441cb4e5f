#include "Log.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace VeluntaUpdateHelper {

namespace {

std::string homeFolder()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

} // namespace

std::string logFilePath()
{
    std::string state;
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/')
        state = xdg;
    else
        state = homeFolder() + "/.local/state";
    return state + "/Velunta/update.log";
}

std::string logLine(std::time_t when, const std::string &message)
{
    std::tm utc {};
    gmtime_r(&when, &utc);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return std::string(stamp) + " " + message + "\n";
}

void log(const std::string &message)
{
    static const std::string path = logFilePath();
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const std::string line = logLine(std::time(nullptr), message);
    // O_APPEND puts the whole line at the end even if another helper writes too.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
        if (n <= 0)
            break;
        written += std::size_t(n);
    }
    ::close(fd);
}

} // namespace VeluntaUpdateHelper
