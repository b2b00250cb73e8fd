#pragma once
// A window system's view of the toolkit's forms: the event loop the gateway
// runs on while it has a window, the Desktop that shows its forms, and the
// two ways the screen reaches back into the program (the tray icon's mouse
// messages, the help's files and texts).  The program entry opens a view
// only when it will show a window; on Linux that is the Qt view, a module
// loaded at run time, elsewhere a view built into the program.  Nothing of a
// window system's own types crosses here.
#include <functional>
#include <string>
#include <vector>

namespace vantor {

class Desktop;
class EventLoop;

struct DesktopViewOptions {
    // The command line; the view may take its own options out (argc must
    // outlive the view).
    int* argc = nullptr;
    char** argv = nullptr;
    // The platform's look at one descriptor: the loop of a window system may
    // tell only readable or writable, this adds hang-up and error
    // (EventLoop::IoEvents).  Unset: only what the window system tells.
    std::function<unsigned(int fd)> readiness;
    // The connection to the display broke: the window system is about to
    // end the process.  The program may carry on without the display here
    // (and must then not return).
    std::function<void()> displayLost;
};

// The texts of the help's two boxes in the user's language (8-bit): the
// file was not found ("%1" the help file, "%2" the file names looked for;
// the folders follow), no browser could open it (its path follows).
struct DesktopHelpTexts {
    std::string notFound, notOpened;
};

class DesktopView {
public:
    virtual ~DesktopView() = default;
    virtual EventLoop& Loop() = 0;
    virtual Desktop& Screen() = 0;
    // Where the tray icon's mouse messages go (WM_LBUTTONDBLCLK, WM_RBUTTONUP).
    virtual void SetTrayCallback(std::function<void(unsigned mouseMessage)> callback) = 0;
    // The folders searched for the help, the current language code (the
    // help is "<name>.<language>.html", English when missing) and the texts
    // of the help's boxes.
    virtual void SetHelpSources(std::vector<std::string> folders,
                                std::function<std::string()> language,
                                std::function<DesktopHelpTexts()> texts) = 0;
};

} // namespace vantor
