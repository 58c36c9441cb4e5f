#pragma once

#include <ctime>
#include <string>

namespace VeluntaUpdateHelper {

// $XDG_STATE_HOME/Velunta/update.log, with the XDG default of
// ~/.local/state when the variable is unset, empty or relative.
std::string logFilePath();

// "YYYY-MM-DD hh:mm:ss +0000 message\n", the time in UTC.
std::string logLine(std::time_t when, const std::string &message);

// Appends one line to the log file, creating its folders. Logging never
// fails the update, so every error here is dropped.
void log(const std::string &message);

} // namespace VeluntaUpdateHelper
