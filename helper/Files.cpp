#include "Files.h"

#include "Processes.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace VeluntaUpdateHelper {

namespace {

struct Fd {
    int value = -1;
    explicit Fd(int fd)
        : value(fd)
    {
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (value >= 0)
            ::close(value);
    }
};

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

std::string failure(const std::string &path, int error)
{
    return path + ": " + std::strerror(error);
}

std::string folderOf(const std::string &path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

std::optional<std::string> copyFileContents(int from, int to, const std::string &path)
{
    // copy_file_range lets the file system share or copy extents itself;
    // fall back to plain reads where it is refused.
    for (;;) {
        const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n == 0)
            return std::nullopt;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            break;
        return failure(path, errno);
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n == 0)
            return std::nullopt;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure(path, errno);
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buffer.data() + done, std::size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return failure(path, errno);
            }
            done += w;
        }
    }
}

std::optional<std::string> copyEntry(int fromDir, int toDir, const char *name, const std::string &toPath);

std::optional<std::string> copyFolder(int from, int to, const std::string &toPath)
{
    // fdopendir takes the descriptor; keep our own copy for the *at calls.
    const int listFd = ::dup(from);
    if (listFd < 0)
        return failure(toPath, errno);
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listFd));
    if (!dir) {
        const int error = errno;
        ::close(listFd);
        return failure(toPath, error);
    }
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return failure(toPath, errno);
            return std::nullopt;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (auto error = copyEntry(from, to, entry->d_name, toPath + "/" + entry->d_name))
            return error;
        testPausePoint("copying");
    }
}

std::optional<std::string> copyEntry(int fromDir, int toDir, const char *name, const std::string &toPath)
{
    struct stat info { };
    if (::fstatat(fromDir, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return failure(toPath, errno);
    const mode_t mode = info.st_mode & 07777;
    const timespec times[2] = {info.st_atim, info.st_mtim};

    if (S_ISLNK(info.st_mode)) {
        std::vector<char> link(std::size_t(info.st_size) + 1);
        const ssize_t n = ::readlinkat(fromDir, name, link.data(), link.size());
        if (n < 0)
            return failure(toPath, errno);
        if (std::size_t(n) >= link.size())
            return failure(toPath, ENAMETOOLONG); // the link changed under us
        link[std::size_t(n)] = '\0';
        if (::symlinkat(link.data(), toDir, name) != 0)
            return failure(toPath, errno);
        ::utimensat(toDir, name, times, AT_SYMLINK_NOFOLLOW);
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        // Owner-writable while filling it; the real mode comes at the end.
        if (::mkdirat(toDir, name, 0700) != 0)
            return failure(toPath, errno);
        Fd from(::openat(fromDir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (from.value < 0)
            return failure(toPath, errno);
        Fd to(::openat(toDir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (to.value < 0)
            return failure(toPath, errno);
        if (auto error = copyFolder(from.value, to.value, toPath))
            return error;
        if (::fchmod(to.value, mode) != 0)
            return failure(toPath, errno);
        // Times last: creating the entries inside changed them.
        ::futimens(to.value, times);
        return std::nullopt;
    }
    if (S_ISREG(info.st_mode)) {
        Fd from(::openat(fromDir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (from.value < 0)
            return failure(toPath, errno);
        Fd to(::openat(toDir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (to.value < 0)
            return failure(toPath, errno);
        if (auto error = copyFileContents(from.value, to.value, toPath))
            return error;
        if (::fchmod(to.value, mode) != 0)
            return failure(toPath, errno);
        ::futimens(to.value, times);
        return std::nullopt;
    }
    // Devices, sockets and pipes have no place in an application bundle.
    return failure(toPath, EOPNOTSUPP);
}

} // namespace

std::string randomUuid()
{
    std::uint8_t bytes[16] = {};
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n > 0)
            filled += std::size_t(n);
        else if (errno != EINTR)
            break;
    }
    if (filled < sizeof bytes) {
        // No kernel randomness: time and pid still make a name no one else holds.
        timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::uint64_t mix[2]
            = {std::uint64_t(now.tv_sec) ^ (std::uint64_t(::getpid()) << 32), std::uint64_t(now.tv_nsec)};
        std::memcpy(bytes, mix, sizeof bytes);
    }
    bytes[6] = std::uint8_t((bytes[6] & 0x0f) | 0x40); // version 4
    bytes[8] = std::uint8_t((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    char text[37] = {};
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
        bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10], bytes[11],
        bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string absolutePath(const std::string &path)
{
    std::string result = path;
    while (result.size() > 1 && result.back() == '/')
        result.pop_back();
    if (!result.empty() && result.front() != '/') {
        std::error_code ignored;
        const auto here = std::filesystem::current_path(ignored);
        if (!here.empty())
            result = (here / result).string();
    }
    return result;
}

std::string stagedPathBeside(const std::string &target)
{
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return (folder / (".Velunta-update-" + randomUuid() + ".app")).string();
}

std::optional<std::string> copyTree(const std::string &from, const std::string &to)
{
    const std::filesystem::path destination(to);
    Fd fromParent(::open(folderOf(from).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fromParent.value < 0)
        return failure(from, errno);
    Fd toParent(::open(folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (toParent.value < 0)
        return failure(to, errno);
    // The top of the tree must be a folder itself, never a link to one.
    struct stat info { };
    const std::string fromName = std::filesystem::path(from).filename().string();
    if (::fstatat(fromParent.value, fromName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return failure(from, errno);
    if (!S_ISDIR(info.st_mode))
        return failure(from, ENOTDIR);
    Fd top(::openat(fromParent.value, fromName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (top.value < 0)
        return failure(from, errno);
    const std::string toName = destination.filename().string();
    if (::mkdirat(toParent.value, toName.c_str(), 0700) != 0)
        return failure(to, errno);
    Fd copy(::openat(toParent.value, toName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (copy.value < 0)
        return failure(to, errno);
    if (auto error = copyFolder(top.value, copy.value, to))
        return error;
    if (::fchmod(copy.value, info.st_mode & 07777) != 0)
        return failure(to, errno);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(copy.value, times);
    // The copy is about to become the installed version: get it onto the disk
    // before the exchange makes it the only copy that counts.
    if (::syncfs(copy.value) != 0)
        return failure(to, errno);
    return std::nullopt;
}

void removeTree(const std::string &path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::remove_all(path, error);
    if (!error)
        return;
    // A bundle may hold read-only folders, whose entries cannot be removed
    // until the owner may write to them again.
    std::error_code ignored;
    if (fs::is_directory(fs::symlink_status(path, ignored)))
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (fs::recursive_directory_iterator it(path, ignored), end; !ignored && it != end; it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path, ignored);
}

std::optional<int> exchangePaths(const std::string &a, const std::string &b)
{
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0)
        return errno;
    // Both names live in one folder; flushing it makes the swap survive a crash.
    Fd folder(::open(folderOf(b).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.value >= 0)
        ::fsync(folder.value);
    return std::nullopt;
}

bool pathExists(const std::string &path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace VeluntaUpdateHelper
