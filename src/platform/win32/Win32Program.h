#pragma once
// What the Windows program entry asks of the system for the process itself:
// its arguments in the gateway's Windows-1250, a search for DLLs without the
// current folder, and standard output and error that carry UTF-8 texts.
#include <string>
#include <vector>

namespace vantor {

// The command line's arguments (CommandLineToArgvW on GetCommandLineW), the
// program first, each converted from UTF-16 to Windows-1250: the C
// runtime's argv is in the system's ANSI code page, which may not be 1250.
std::vector<std::string> ProgramArguments();

// SetDllDirectoryW(L""): a DLL the program or a library loads by name is no
// longer looked for in the current folder, where anybody may have put one.
void LeaveCurrentFolderOutOfDllSearch();

// Makes std::cout and std::cerr write UTF-8 texts so that they read right
// wherever they go: on a console through WriteConsoleW in UTF-16 (a console
// shows 8-bit bytes in its own code page, which is not UTF-8 on most
// systems); redirected to a file or pipe as UTF-8 bytes with CR LF line
// ends; without a standard handle (a service) nowhere.  Lines go out as they
// end and on every flush.  For the rest of the process.
void UseConsoleTextOutput();

// Lets go of a console window that this process alone has: the one Windows
// opens for a console program started from Explorer or a shortcut, which
// would stand beside the gateway's own window doing nothing.  A console
// shared with the shell the program was typed into stays (its output and
// Ctrl+C keep working), and so do standard handles redirected to a file or
// a pipe.  Returns whether the console was let go.
bool LeaveOwnConsoleWindow();

} // namespace vantor
