#include "LaunchOptions.h"

#include <QDir>

namespace {

QString absolute(const QString &path, const QString &workingDirectory)
{
    return QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(path));
}

} // namespace

std::optional<QString> LaunchOptions::argumentValue(const QStringList &arguments, const QString &name,
                                                    const QString &workingDirectory)
{
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return absolute(arguments.at(at + 1), workingDirectory);
}

LaunchOptions LaunchOptions::parse(const QStringList &arguments, const QString &workingDirectory)
{
    LaunchOptions options;
    const qsizetype test = arguments.indexOf(QStringLiteral("--update-test"));
    if (test >= 0 && test + 2 < arguments.size()) {
        options.mode = Mode::updateTest;
        options.manifest = arguments.at(test + 1);
        options.path = absolute(arguments.at(test + 2), workingDirectory);
        options.install = arguments.contains(QStringLiteral("--install"));
        options.isManual = !arguments.contains(QStringLiteral("--auto"));
        return options;
    }

    static const std::pair<const char *, Mode> singleValueModes[] = {
        {"--update-report", Mode::updateReport},
        {"--self-test", Mode::selfTest},
        {"--merge-test", Mode::mergeTest},
        {"--ui-snapshots", Mode::uiSnapshots},
    };
    for (const auto &[flag, mode] : singleValueModes) {
        if (auto value = argumentValue(arguments, QLatin1String(flag), workingDirectory)) {
            options.mode = mode;
            options.path = *value;
            return options;
        }
    }
    return options;
}
