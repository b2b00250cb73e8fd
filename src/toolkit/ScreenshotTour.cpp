#include "toolkit/ScreenshotTour.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "toolkit/Controls.h"
#include "toolkit/FilePath.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"

namespace vantor {

std::vector<TourStep> ParseTour(std::istream& in) {
    std::vector<TourStep> steps;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        TourStep step;
        if (!(words >> step.picture) || step.picture[0] == '#') continue;
        for (std::string action; words >> action;) {
            if (action[0] == '#') break;
            if (action.rfind("menu:", 0) != 0 && action.rfind("click:", 0) != 0 &&
                action.rfind("dblclick:", 0) != 0)
                throw std::runtime_error("tour line " + std::to_string(number) +
                                         ": unknown action \"" + action + "\"");
            step.actions.push_back(action);
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

TourCommand ReadTourCommand(const std::vector<std::string>& arguments) {
    TourCommand command;
    std::string tourFile;
    for (std::size_t i = 0; i + 1 < arguments.size(); i += 2) {
        const std::string& key = arguments[i];
        const std::string& value = arguments[i + 1];
        if (key == "--home")
            command.home = value;
        else if (key == "--tour")
            tourFile = value;
        else if (key == "--out")
            command.options.outputDir = value;
        else if (key == "--prefix")
            command.options.prefix = value;
        else if (key == "--settle-ms")
            command.options.settleMs = std::stoi(value);
        else
            throw std::runtime_error("vantor-screenshots: unknown option " + key);
    }
    if (command.home.empty() || tourFile.empty() || command.options.outputDir.empty())
        throw std::runtime_error("usage: vantor-screenshots --home DIR --tour FILE --out DIR "
                                 "[--prefix P] [--settle-ms N]");
    std::ifstream in(FilePath(tourFile));
    if (!in) throw std::runtime_error("vantor-screenshots: cannot read " + tourFile);
    try {
        command.steps = ParseTour(in);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("vantor-screenshots: ") + e.what());
    }
    return command;
}

namespace {

TMenuItem* FindMenuItem(TMenuItem& parent, int tag) {
    for (int i = 0; i < parent.Count(); ++i) {
        TMenuItem* item = parent.Items(i);
        if (item->Tag() == tag) return item;
        if (TMenuItem* below = FindMenuItem(*item, tag)) return below;
    }
    return nullptr;
}

TControl* FindControl(TControl& root, const std::string& name) {
    for (TControl* child : root.Controls()) {
        if (child->Name() == name || (!name.empty() && std::to_string(child->Tag()) == name))
            return child;
        if (TControl* below = FindControl(*child, name)) return below;
    }
    return nullptr;
}

// The tour runs on the loop: each step is a task, the actions of a step
// block in the modal runs they open until the tour closes their windows.
class Tour : public std::enable_shared_from_this<Tour> {
public:
    Tour(std::shared_ptr<TourScreen> screen, TForm& main, std::vector<TourStep> steps,
         TourOptions options, std::function<void(bool, const std::string&)> done)
        : screen_(std::move(screen)), main_(main), steps_(std::move(steps)),
          options_(std::move(options)), done_(std::move(done)) {}

    void Start() {
        auto self = shared_from_this();
        Later(options_.settleMs, [self] { self->Step(0); });
    }

private:
    void Later(int ms, std::function<void()> f) {
        auto self = shared_from_this();
        screen_->Later(ms, [self, f = std::move(f)] { f(); });
    }

    void Problem(const std::string& text) { problems_ += text + "\n"; }

    void Save(TourWindow* window, const std::string& picture) {
        const std::string problem =
            window ? window->Save(FilePathText(FilePath(options_.outputDir) /
                                               FilePath(options_.prefix + picture + ".png")))
                   : std::string("no window");
        if (!problem.empty()) Problem(picture + ": " + problem);
    }

    void Step(std::size_t index) {
        if (index >= steps_.size()) {
            screen_->WatchBlockingWindows(nullptr);
            done_(problems_.empty(), problems_);
            return;
        }
        step_ = index;
        windows_.clear();
        const TourStep& step = steps_[index];
        if (step.actions.empty()) {
            Save(screen_->WindowOf(main_).get(), step.picture);
            Later(0, [this] { Step(step_ + 1); });
            return;
        }
        Act(0);
    }

    // The form the k-th action refers to: the dialog the action before
    // opened, or the main window.
    TForm& FormFor(std::size_t k) {
        if (k > 0 && k - 1 < windows_.size() && windows_[k - 1])
            if (TForm* form = windows_[k - 1]->Form()) return *form;
        return main_;
    }

    void Act(std::size_t k) {
        screen_->WatchBlockingWindows([this, k](std::unique_ptr<TourWindow> window) {
            windows_.resize(k + 1);
            windows_[k] = std::move(window);
            Later(options_.windowSettleMs, [this, k] { Opened(k); });
        });
        const std::string action = steps_[step_].actions[k];
        Later(0, [this, k, action] {
            // Blocks in the dialog's modal run until the tour closes it.
            Perform(FormFor(k), action);
            Closed(k);
        });
    }

    void Perform(TForm& form, const std::string& action) {
        const std::string what = action.substr(action.find(':') + 1);
        if (action.rfind("menu:", 0) == 0) {
            TMainMenu* menu = MainMenuOf(form);
            TMenuItem* item = menu ? FindMenuItem(menu->Items(), std::atoi(what.c_str())) : nullptr;
            if (!item) return Problem(steps_[step_].picture + ": no menu item " + what);
            item->Click();
        } else if (TControl* control = FindControl(form, what)) {
            if (action.rfind("dblclick:", 0) == 0) {
                if (auto* list = dynamic_cast<TItemsControl*>(control))
                    list->SetItemIndex(std::max(0, list->Count() - 3));
                control->DblClick();
            } else {
                control->Click();
            }
        } else {
            Problem(steps_[step_].picture + ": no control " + what);
        }
    }

    void Opened(std::size_t k) {
        const TourStep& step = steps_[step_];
        if (k + 1 < step.actions.size()) {
            Act(k + 1);
            return;
        }
        Save(windows_[k].get(), step.picture);
        if (windows_[k]) windows_[k]->Close(); // from its title bar: Cancel, nothing changes
    }

    void Closed(std::size_t k) {
        const TourStep& step = steps_[step_];
        // (A dialog made for one run is gone by now: its window with it.)
        if (k >= windows_.size() || !windows_[k])
            Problem(step.picture + ": \"" + step.actions[k] + "\" opened no window");
        if (k == 0)
            Later(300, [this] { Step(step_ + 1); });
        else if (windows_[k - 1])
            windows_[k - 1]->Close();
    }

    std::shared_ptr<TourScreen> screen_;
    TForm& main_;
    std::vector<TourStep> steps_;
    TourOptions options_;
    std::function<void(bool, const std::string&)> done_;
    std::size_t step_ = 0;
    std::vector<std::unique_ptr<TourWindow>> windows_; // null: the action opened none
    std::string problems_;
};

} // namespace

void StartScreenshotTour(std::shared_ptr<TourScreen> screen, TForm& mainForm,
                         std::vector<TourStep> steps, TourOptions options,
                         std::function<void(bool ok, const std::string& problems)> done) {
    std::error_code ec;
    std::filesystem::create_directories(FilePath(options.outputDir), ec);
    std::make_shared<Tour>(std::move(screen), mainForm, std::move(steps), std::move(options),
                           std::move(done))
        ->Start();
}

} // namespace vantor
