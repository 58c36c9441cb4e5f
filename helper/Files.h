#pragma once

#include <optional>
#include <string>

namespace VeluntaUpdateHelper {

// A fresh random UUID in canonical upper-case form (8-4-4-4-12).
std::string randomUuid();

// "<folder of target>/.Velunta-update-<UUID>.app": hidden, and on the same
// file system as the target so that the two can be exchanged.
std::string stagedPathBeside(const std::string &target);

// Copies a folder tree, keeping modes, symbolic links (as links) and
// modification times, and flushes it to disk. On failure, the text that says
// which file and why; whatever was copied stays.
std::optional<std::string> copyTree(const std::string &from, const std::string &to);

// Deletes a tree without following links; errors are ignored.
void removeTree(const std::string &path);

// Swaps two directory entries in one step, so that both paths stay occupied
// throughout, then makes the swap durable. The errno value on failure.
std::optional<int> exchangePaths(const std::string &a, const std::string &b);

bool pathExists(const std::string &path);

// The path without trailing slashes, made absolute against the working folder.
std::string absolutePath(const std::string &path);

} // namespace VeluntaUpdateHelper
