#pragma once
// A walk through the gateway's windows that saves a picture of each: the
// main window with its log, then every dialog the tour names, opened the way
// a user opens it (a menu item, a double click on the log, a button of the
// dialog before).  The tour is data: one line per picture, so a new dialog
// is one more line.
//
//   # picture   actions
//   main
//   fsetpis     menu:204            (the main menu item with Tag 204)
//   finfo       dblclick:ListBox1   (a control of the main window by Name)
//   fsetdir     menu:201 click:ButtonDir   (then a control of that dialog)
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vantor {
class TForm;
}

namespace vantor::desktop {

class QtDesktop;

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

// Starts the tour on the running Qt loop; `done` gets whether every picture
// was saved and a line per problem.
void StartScreenshotTour(QtDesktop& desktop, TForm& mainForm, std::vector<TourStep> steps,
                         TourOptions options,
                         std::function<void(bool ok, const std::string& problems)> done);

} // namespace vantor::desktop
