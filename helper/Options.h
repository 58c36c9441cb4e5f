#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace VeluntaUpdateHelper {

// The helper's command line, as the application builds it:
//   --pid P --new NEW --target TARGET --work WORK --build B --timeout T -- ARGS…
struct Options {
    std::int32_t pid = 0;
    std::string newBundle; // "--new"
    std::string target;
    std::string work;
    std::string build;
    std::int64_t timeout = 30; // seconds to wait for the new version's marker
    std::vector<std::string> relaunchArguments;

    bool operator==(const Options &) const = default;
};

// The arguments after the program's own name. Nothing when the line is
// invalid: unknown option, option without a value, negative timeout, or a
// missing pid, new bundle, target or work folder.
std::optional<Options> parseOptions(const std::vector<std::string> &arguments);

// Decimal integer with an optional leading sign and nothing else around it.
std::optional<std::int64_t> readDecimal(const std::string &text);

} // namespace VeluntaUpdateHelper
