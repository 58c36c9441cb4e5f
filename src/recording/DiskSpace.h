#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

// Room left for a recording. A recording stops by itself, and saves what it
// has, while its disk still has two minutes' worth at its current rate: a
// disk that fills up completely could not take the joined file either, and
// other programs on it would fail too.
namespace DiskSpace {

constexpr int64_t reserveSeconds = 120;
// The rate assumed before any is measured, and the least ever assumed: a
// still screen with sound writes less, a busy one far more.
constexpr double leastBytesPerSecond = 256 * 1024;
// How often a running recording checks.
constexpr std::chrono::seconds checkInterval {10};

// Bytes an unprivileged process may still write on PATH's file system.
std::optional<uint64_t> available(const QString &path);
// Bytes in the regular files of FOLDER.
uint64_t folderSize(const QString &folder);

// Whether AVAILABLE bytes hold reserveSeconds at BYTESPERSECOND (never taken
// lower than leastBytesPerSecond).
bool hasRoom(uint64_t available, double bytesPerSecond);

// The rate of a recording that grew from BYTESBEFORE to BYTESNOW in SECONDS
// of recording; nothing measurable gives the least rate.
double rate(uint64_t bytesBefore, uint64_t bytesNow, double seconds);

} // namespace DiskSpace
