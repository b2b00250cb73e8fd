#pragma once
// Where the gateway finds its files on this system.
#include <string>

namespace vantor {

// Full path of the running executable (empty when it cannot be found).
std::string ExecutablePath();
// The system's temporary directory with a trailing '/': $TMPDIR or /tmp/.
std::string TempPath();
// The system's text for an error number, followed by "\r\n" like the
// message texts the gateway compares.
std::string SystemErrorMessage(int errorNumber);

} // namespace vantor
