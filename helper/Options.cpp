#include "Options.h"

#include <limits>

namespace VeluntaUpdateHelper {

std::optional<std::int64_t> readDecimal(const std::string &text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the most negative value fits.
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

std::optional<Options> parseOptions(const std::vector<std::string> &arguments)
{
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &name = arguments[i];
        if (name == "--") {
            options.relaunchArguments.assign(arguments.begin() + std::ptrdiff_t(i) + 1, arguments.end());
            break;
        }
        // The next argument is the value whatever it looks like, even "--x".
        if (i + 1 >= arguments.size())
            return std::nullopt;
        const std::string &value = arguments[++i];
        if (name == "--pid") {
            const auto pid = readDecimal(value);
            const bool fits = pid && *pid >= std::numeric_limits<std::int32_t>::min()
                && *pid <= std::numeric_limits<std::int32_t>::max();
            options.pid = fits ? std::int32_t(*pid) : 0;
        } else if (name == "--new") {
            options.newBundle = value;
        } else if (name == "--target") {
            options.target = value;
        } else if (name == "--work") {
            options.work = value;
        } else if (name == "--build") {
            options.build = value;
        } else if (name == "--timeout") {
            options.timeout = readDecimal(value).value_or(30);
        } else {
            return std::nullopt;
        }
    }
    // A negative wait has no sensible meaning, so such a line is refused.
    if (options.pid < 1 || options.newBundle.empty() || options.target.empty() || options.work.empty()
        || options.timeout < 0)
        return std::nullopt;
    return options;
}

} // namespace VeluntaUpdateHelper
