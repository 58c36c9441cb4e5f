#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Ends the run with a message when a promise of the code under test breaks,
// so that libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition) ((condition) ? void(0) : Fuzz::fail(#condition, __FILE__, __LINE__))

namespace Fuzz {

[[noreturn]] void fail(const char *condition, const char *file, int line);

QByteArray bytes(const uint8_t *data, size_t size);

// "[+-]digits" that fits in 64 bits, read with the standard library: the
// reference the decimal readers under test must agree with.
std::optional<std::int64_t> referenceDecimal(std::string_view text);

// A folder of this process's own in the temporary folder, made on first use.
QString workFolder();
// A path in it that no earlier call gave, named after NAME.
QString freshPath(const QString &name);

// Writes CONTENT to PATH with the folders above it; false when it cannot.
bool writeFile(const QString &path, const QByteArray &content);

// Removes PATH and everything in it, even folders an input left without
// permissions; links are removed, never followed.
void removeTree(const QString &path);

} // namespace Fuzz
