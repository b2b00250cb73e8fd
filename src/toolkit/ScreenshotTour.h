#pragma once
// A walk through the gateway's windows that saves a picture of each: the
// main window with its log, then every dialog the tour names, opened the way
// a user opens it (a menu item, a double click on the log, a button of the
// dialog before).  The tour is data (docs/screenshots/tour.txt), one line
// per picture, so a new dialog is one more line; every window system's view
// walks the same tour and only says how to wait, to find a window and to
// take its picture.
//
//   # picture   actions
//   main
//   fsetpis     menu:204            (the main menu item with Tag 204)
//   finfo       dblclick:ListBox1   (a control of the main window by Name)
//   fsetdir     menu:201 click:ButtonDir   (then a control of that dialog)
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace vantor {

class TForm;

struct TourStep {
    std::string picture;              // file name without ".png"
    std::vector<std::string> actions; // empty: the main window itself
};

// Reads a tour; blank lines and lines starting with '#' are skipped.
// Throws std::runtime_error naming the line of an unknown action.
std::vector<TourStep> ParseTour(std::istream& in);

struct TourOptions {
    std::string outputDir;
    std::string prefix;       // put before every file name ("cz-")
    int settleMs = 4000;      // before the first picture: the log fills
    int windowSettleMs = 400; // after a window opens, before its picture
};

// The screenshot tool's command line (--home DIR --tour FILE --out DIR
// [--prefix P] [--settle-ms N]) with its tour read.  Throws
// std::runtime_error with the text to show for a wrong line or tour.
struct TourCommand {
    std::string home;
    std::vector<TourStep> steps;
    TourOptions options;
};
TourCommand ReadTourCommand(const std::vector<std::string>& arguments);

// One window the tour met, as long as the view keeps it.
class TourWindow {
public:
    virtual ~TourWindow() = default;
    // The form the window shows; null once the window is gone.
    virtual TForm* Form() const = 0;
    // Saves the picture of the window as `file` (PNG); the problem, if any.
    virtual std::string Save(const std::string& file) = 0;
    // Closes it from its title bar (a dialog ends as Cancel).
    virtual void Close() = 0;
};

// What a window system's view does for the tour.
class TourScreen {
public:
    virtual ~TourScreen() = default;
    // Runs f once on the loop, ms from now.
    virtual void Later(int ms, std::function<void()> f) = 0;
    // `opened` gets every window about to block in a modal run (unset: none).
    virtual void WatchBlockingWindows(std::function<void(std::unique_ptr<TourWindow>)> opened) = 0;
    // The window of a form shown at the moment, null when none.
    virtual std::unique_ptr<TourWindow> WindowOf(TForm& form) = 0;
};

// Starts the tour on the running loop, the pictures going to
// options.outputDir (made when missing); `done` gets whether every picture
// was saved and a line per problem.
void StartScreenshotTour(std::shared_ptr<TourScreen> screen, TForm& mainForm,
                         std::vector<TourStep> steps, TourOptions options,
                         std::function<void(bool ok, const std::string& problems)> done);

} // namespace vantor
