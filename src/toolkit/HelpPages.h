#pragma once
// The help as HTML pages, one per language ("VANTOR.HLP" is VANTOR.Cz.html,
// VANTOR.Eng.html, ...), which every view opens in the user's browser: the
// help system the help commands were made for is gone from current
// systems.  Which page and which anchor a command opens is decided here
// once; each view makes its own URL of them.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// The page of `helpFile` in `language`: "VANTOR.HLP" in "Cz" is
// "VANTOR.Cz.html" in the first folder that has it (English, then any
// language's page, when that language has none there).  Absolute; none when
// no folder has a page.  Folders and names are the gateway's texts.
std::optional<std::filesystem::path> FindHelpPage(const std::string& helpFile,
                                                  const std::vector<std::string>& folders,
                                                  const std::string& language);

// The anchor a help command opens on its page: HELP_CONTEXT n "context-n",
// HELP_HELPONHELP "help-on-help", HELP_PARTIALKEY "index", else none (the
// top of the page).
std::string HelpAnchor(unsigned command, unsigned long data);

} // namespace vantor
