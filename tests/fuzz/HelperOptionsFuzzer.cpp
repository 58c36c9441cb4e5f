// The update helper's command line: arguments are the input split at NUL
// bytes, as the kernel hands them over.
#include "FuzzSupport.h"

#include "Options.h"

#include <string>
#include <vector>

using namespace VeluntaUpdateHelper;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> arguments;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(char(data[i]));
        }
    }
    if (size > 0)
        arguments.push_back(current);

    for (const std::string &argument : arguments)
        FUZZ_CHECK(readDecimal(argument) == Fuzz::referenceDecimal(argument));

    const auto options = parseOptions(arguments);
    if (options) {
        FUZZ_CHECK(options->pid >= 1);
        FUZZ_CHECK(options->timeout >= 0);
        FUZZ_CHECK(!options->newBundle.empty() && !options->target.empty() && !options->work.empty());
        // Everything after the first free-standing "--" is handed on as is.
        for (size_t i = 0; i < arguments.size(); i += 2) {
            if (arguments[i] == "--") {
                FUZZ_CHECK(options->relaunchArguments
                    == std::vector<std::string>(arguments.begin() + std::ptrdiff_t(i) + 1, arguments.end()));
                break;
            }
        }
    }
    return 0;
}
