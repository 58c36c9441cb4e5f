#pragma once

#include <QString>
#include <optional>

// What the running bundle says it is. Kept apart from the rest of the update
// logic so that a view showing the installed version needs nothing else.
namespace UpdateEngine {

// The running bundle's CFBundleVersion as a decimal integer, 0 when missing
// or not an integer; its CFBundleShortVersionString, "?" when missing.
qint64 currentBuild();
QString currentVersion();

// Decimal integer with an optional leading sign, nothing otherwise.
std::optional<qint64> parseInteger(const QString &text);

} // namespace UpdateEngine
