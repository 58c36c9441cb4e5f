#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Fuzz {

void fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

std::optional<std::int64_t> referenceDecimal(std::string_view text)
{
    const size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (start == text.size())
        return std::nullopt;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    if (text[0] == '+') // from_chars takes a minus sign only
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

QString workFolder()
{
    static const QString folder = [] {
        QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/velunta-fuzz-XXXXXX"));
        if (!::mkdtemp(pattern.data()))
            fail("mkdtemp", __FILE__, __LINE__);
        return QFile::decodeName(pattern);
    }();
    return folder;
}

QString freshPath(const QString &name)
{
    static quint64 counter = 0;
    return workFolder() + QLatin1Char('/') + QString::number(++counter) + QLatin1Char('-') + name;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()
        && file.flush();
}

namespace {

void removeNative(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlink(path.constData());
        return;
    }
    ::chmod(path.constData(), 0700);
    if (DIR *dir = ::opendir(path.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                removeNative(path + '/' + name);
        }
        ::closedir(dir);
    }
    ::rmdir(path.constData());
}

} // namespace

void removeTree(const QString &path)
{
    removeNative(QFile::encodeName(path));
}

} // namespace Fuzz
