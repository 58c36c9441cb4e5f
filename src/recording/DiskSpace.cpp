#include "recording/DiskSpace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <sys/statvfs.h>

namespace DiskSpace {

std::optional<uint64_t> available(const QString &path)
{
    struct statvfs info { };
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return uint64_t(info.f_bavail) * uint64_t(info.f_frsize);
}

uint64_t folderSize(const QString &folder)
{
    uint64_t total = 0;
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
        total += uint64_t(std::max<qint64>(file.size(), 0));
    return total;
}

bool hasRoom(uint64_t available, double bytesPerSecond)
{
    const double needed = double(reserveSeconds) * std::max(bytesPerSecond, leastBytesPerSecond);
    return double(available) >= needed;
}

double rate(uint64_t bytesBefore, uint64_t bytesNow, double seconds)
{
    if (!(seconds > 0) || bytesNow <= bytesBefore)
        return leastBytesPerSecond;
    return std::max(double(bytesNow - bytesBefore) / seconds, leastBytesPerSecond);
}

} // namespace DiskSpace
