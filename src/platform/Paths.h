#pragma once
// Where the gateway finds its files on this system.
#include <string>

namespace vantor {

// Full path of the running executable (empty when it cannot be found).
std::string ExecutablePath();
// The system's temporary directory with a trailing '/': $TMPDIR or /tmp/.
std::string TempPath();
// The user's own data folder for a program: $XDG_DATA_HOME/<name>, else
// ~/.local/share/<name>; empty when neither variable names a folder.
std::string UserDataFolder(const std::string& name);
// Whether this process may create files in the folder.
bool FolderWritable(const std::string& folder);
// The system's text for an error number, followed by "\r\n" like the
// message texts the gateway compares.
std::string SystemErrorMessage(int errorNumber);

} // namespace vantor
