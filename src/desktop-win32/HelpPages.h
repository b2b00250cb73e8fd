#pragma once
// The help pages as the browser opens them on Windows: a file: URL of the
// page toolkit/HelpPages finds, with its anchor, and the browser to open it.
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

// The page and anchor a help command opens (toolkit/HelpPages), as a URL.
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
