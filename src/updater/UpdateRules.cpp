#include "UpdateEngine.h"

#include <gnu/libc-version.h>

// Whether a manifest is an offer for this copy, and what it is checked against.
namespace UpdateEngine {

QString decisionName(Decision decision)
{
    switch (decision) {
    case Decision::offer:
        return QStringLiteral("offer");
    case Decision::upToDate:
        return QStringLiteral("upToDate");
    case Decision::paused:
        return QStringLiteral("paused");
    case Decision::outsideRollout:
        return QStringLiteral("outsideRollout");
    case Decision::skipped:
        return QStringLiteral("skipped");
    case Decision::systemTooOld:
        return QStringLiteral("systemTooOld");
    }
    return {};
}

SystemVersion systemVersion()
{
    const QStringList parts = QString::fromLatin1(gnu_get_libc_version()).split(QLatin1Char('.'));
    return {parts.size() > 0 ? parseInteger(parts[0]).value_or(0) : 0,
        parts.size() > 1 ? parseInteger(parts[1]).value_or(0) : 0, 0};
}

bool systemSatisfies(const QString &minimum, SystemVersion system)
{
    qint64 numbers[3] = {0, 0, 0};
    int count = 0;
    for (const QString &piece : minimum.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        if (count == 3)
            break;
        numbers[count++] = parseInteger(piece).value_or(0);
    }
    return system >= SystemVersion {numbers[0], numbers[1], numbers[2]};
}

Decision decide(const UpdateManifest &manifest, qint64 currentBuild, int bucket, qint64 skippedBuild,
    SystemVersion system, bool isManual)
{
    if (manifest.build <= currentBuild)
        return Decision::upToDate;
    if (manifest.paused.value_or(false))
        return Decision::paused;
    if (!systemSatisfies(manifest.minimumSystem, system))
        return Decision::systemTooOld;
    if (!isManual) {
        if (manifest.build == skippedBuild)
            return Decision::skipped;
        if (bucket >= manifest.rollout.value_or(100))
            return Decision::outsideRollout;
    }
    return Decision::offer;
}

} // namespace UpdateEngine
