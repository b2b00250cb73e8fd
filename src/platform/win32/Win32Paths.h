#pragma once
// Where the gateway lives on Windows.  The functions of platform/Paths.h
// (executable, temporary folder, writable check, error texts) have their Win32
// implementation in win32/Paths.cpp; this header adds what only Windows has.
//
// The home: the folder of the executable, where the program's own rules put
// the INI file, the language files, the relative accounting file and the two
// libraries, unless this process cannot write there (installed under
// Program Files).  Then it is %ProgramData%\TarvoVantor, made on first use
// and shared by the service and the desktop program.
#include <string>

namespace vantor {

// %ProgramData%\<name> (C:\ProgramData\<name>); empty when the system names
// no such folder.
std::string ProgramDataFolder(const std::string& name);

struct WindowsHome {
    std::string folder; // empty when there is none
    bool besideProgram = false;
    std::string error; // why no folder could be used
};

// The home for a program in exeFolder: that folder when it is writable,
// else %ProgramData%\TarvoVantor, created when it does not exist yet.
WindowsHome ChooseWindowsHome(const std::string& exeFolder);

} // namespace vantor
