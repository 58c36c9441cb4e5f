#include "OutputFile.h"

#include <QFileInfo>
#include <QLocale>
#include <filesystem>
#include <sys/stat.h>

namespace OutputFile {

QString timestamp(const QDateTime &when)
{
    static const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    return brazil.toString(when, QStringLiteral("yyyy-MM-dd 'às' HH.mm.ss"));
}

Result<QString, QString> newURL(
    const QString &prefix, const QString &fileExtension, const QString &folder, const QDateTime &now)
{
    std::error_code error;
    const std::filesystem::path dir(folder.toStdString());
    std::filesystem::create_directories(dir, error);
    if (!error && !std::filesystem::is_directory(dir, error))
        error = std::make_error_code(std::errc::not_a_directory);
    if (error)
        return Result<QString, QString>::failure(QString::fromLocal8Bit(error.message().c_str()));

    const QString base = prefix + QLatin1Char(' ') + timestamp(now);
    const QString root = QFileInfo(folder).absoluteFilePath() + QLatin1Char('/');
    auto taken = [](const QString &path) {
        struct stat st;
        return lstat(QFile::encodeName(path).constData(), &st) == 0;
    };
    QString candidate = root + base + QLatin1Char('.') + fileExtension;
    for (int n = 2; taken(candidate); ++n)
        candidate = root + base + QStringLiteral(" (%1).").arg(n) + fileExtension;
    return candidate;
}

} // namespace OutputFile
