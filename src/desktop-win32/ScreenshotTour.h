#pragma once
// A walk through the gateway's windows that saves a picture of each, on
// the Win32 view: the main window with its log, then every dialog the tour
// names, opened the way a user opens it (a menu item, a double click on the
// log, a button of the dialog before).  The tour file is the one the Qt
// view's tour reads (docs/screenshots/tour.txt): one line per picture.
//
//   # picture   actions
//   main
//   fsetpis     menu:204            (the main menu item with Tag 204)
//   finfo       dblclick:ListBox1   (a control of the main window by Name)
//   fsetdir     menu:201 click:ButtonDir   (then a control of that dialog)
//
// Each picture is the window as the screen shows it, title bar and frame
// included, saved as PNG (the system's imaging component, WIC).
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vantor {
class TForm;
}

namespace vantor::win32view {

class Win32Desktop;

struct TourStep {
    std::string picture;              // file name without ".png"
    std::vector<std::string> actions; // empty: the main window itself
};

// Reads a tour; blank lines and lines starting with '#' are skipped.
// Throws std::runtime_error naming the line of an unknown action.
std::vector<TourStep> ParseTour(std::istream& in);

struct TourOptions {
    std::string outputDir;    // the gateway's text (Windows-1250)
    std::string prefix;       // put before every file name ("win-cz-")
    int settleMs = 4000;      // before the first picture: the log fills
    int windowSettleMs = 400; // after a window opens, before its picture
};

// Starts the tour on the running loop; `done` gets whether every picture
// was saved and a line per problem.
void StartScreenshotTour(Win32Desktop& desktop, TForm& mainForm, std::vector<TourStep> steps,
                         TourOptions options,
                         std::function<void(bool ok, const std::string& problems)> done);

// Saves what the screen shows of a window (frame and title bar included)
// as a PNG file; the reason when it cannot.
std::string SaveWindowPicture(void* window, const std::string& file);

} // namespace vantor::win32view
