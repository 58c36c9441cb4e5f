#include "RunningVersion.h"

#include "core/Bundle.h"

namespace UpdateEngine {

std::optional<qint64> parseInteger(const QString &text)
{
    qsizetype i = 0;
    if (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')))
        i = 1;
    if (i == text.size())
        return std::nullopt;
    for (qsizetype j = i; j < text.size(); ++j) {
        if (text[j] < QLatin1Char('0') || text[j] > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

qint64 currentBuild()
{
    const QVariant value = Bundle::main().info(QStringLiteral("CFBundleVersion"));
    if (value.typeId() == QMetaType::QString)
        return parseInteger(value.toString()).value_or(0);
    return 0;
}

QString currentVersion()
{
    const QVariant value = Bundle::main().info(QStringLiteral("CFBundleShortVersionString"));
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return QStringLiteral("?");
}

} // namespace UpdateEngine
