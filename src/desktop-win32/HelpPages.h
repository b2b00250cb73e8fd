#pragma once
// The help as HTML pages, one per language ("VANTOR.HLP" is VANTOR.Cz.html,
// VANTOR.Eng.html, ...), opened in the browser: WinHelp, which the help
// commands were made for, is no longer part of Windows.
#include "desktop-win32/Win32Ui.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantor::win32view {

struct HelpPage {
    std::filesystem::path file;
    std::string url; // file:///C:/...#anchor
};

// The page and anchor a help command opens: "VANTOR.HLP" in language "Cz"
// is "VANTOR.Cz.html" in the first folder that has it (English, then any
// language, when that language has none); HELP_CONTEXT n is "#context-n",
// HELP_HELPONHELP "#help-on-help", HELP_PARTIALKEY "#index".  None when no
// folder has a help page.  Folders and names are the gateway's texts
// (Windows-1250).
std::optional<HelpPage> FindHelpPage(unsigned command, unsigned long data,
                                     const std::string& helpFile,
                                     const std::vector<std::string>& folders,
                                     const std::string& language);

// Opens a URL in the user's browser (ShellExecuteW).  A file: URL given to
// the shell as it is would lose its #anchor (the shell opens the file it
// names), so it goes to the program registered for web pages when there
// is one.
bool OpenInBrowser(const std::string& url);

} // namespace vantor::win32view
