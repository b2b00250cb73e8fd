#include "desktop/ScreenshotTour.h"

#include <QDir>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <istream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "desktop/FormView.h"
#include "desktop/QtDesktop.h"
#include "toolkit/Controls.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"

namespace vantor::desktop {

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

class Tour : public std::enable_shared_from_this<Tour> {
public:
    Tour(QtDesktop& desktop, TForm& main, std::vector<TourStep> steps, TourOptions options,
         std::function<void(bool, const std::string&)> done)
        : desktop_(desktop), main_(main), steps_(std::move(steps)), options_(std::move(options)),
          done_(std::move(done)) {}

    void Start() {
        auto self = shared_from_this();
        QTimer::singleShot(options_.settleMs, [self] { self->Step(0); });
    }

private:
    void Later(int ms, std::function<void()> f) {
        auto self = shared_from_this();
        QTimer::singleShot(ms, [self, f = std::move(f)] { f(); });
    }

    void Problem(const std::string& text) { problems_ += text + "\n"; }

    void Save(QWidget* window, const std::string& picture) {
        if (!window) {
            Problem(picture + ": no window");
            return;
        }
        const QString path =
            QDir(QString::fromStdString(options_.outputDir))
                .filePath(QString::fromStdString(options_.prefix + picture + ".png"));
        // With a window manager the picture shows the title bar too (the
        // caption is part of what is checked); without one, the window alone.
        QPixmap shot;
        const QRect frame = window->frameGeometry();
        if (frame != window->geometry() && window->screen())
            shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                frame.height());
        if (shot.isNull()) shot = window->grab();
        if (!shot.save(path)) Problem(picture + ": cannot write " + path.toStdString());
    }

    void Step(std::size_t index) {
        if (index >= steps_.size()) {
            desktop_.BeforeBlockingWindow = nullptr;
            done_(problems_.empty(), problems_);
            return;
        }
        step_ = index;
        windows_.clear();
        opened_.clear();
        const TourStep& step = steps_[index];
        if (step.actions.empty()) {
            Save(desktop_.ViewOf(main_), step.picture);
            Later(0, [this] { Step(step_ + 1); });
            return;
        }
        Act(0);
    }

    // The form actions of the k-th action refer to: the dialog opened by the
    // action before, or the main window.
    TForm& FormFor(std::size_t k) {
        if (k > 0 && k - 1 < windows_.size() && windows_[k - 1])
            return static_cast<FormView*>(windows_[k - 1].data())->Form();
        return main_;
    }

    void Act(std::size_t k) {
        const TourStep& step = steps_[step_];
        desktop_.BeforeBlockingWindow = [this, k](QWidget& window) {
            windows_.resize(k + 1);
            opened_.resize(k + 1, false);
            windows_[k] = &window;
            opened_[k] = true;
            Later(options_.windowSettleMs, [this, k] { Opened(k); });
        };
        const std::string action = step.actions[k];
        Later(0, [this, k, action] {
            // Blocks in the dialog's modal run until the tour closes it.
            Perform(FormFor(k), action);
            Closed(k);
        });
    }

    void Perform(TForm& form, const std::string& action) {
        const std::string what = action.substr(action.find(':') + 1);
        if (action.rfind("menu:", 0) == 0) {
            TMenuItem* item = nullptr;
            for (std::size_t i = 0; i < form.ComponentCount() && !item; ++i)
                if (auto* menu = dynamic_cast<TMainMenu*>(form.Components(i)))
                    item = FindMenuItem(menu->Items(), std::atoi(what.c_str()));
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
        Save(windows_[k], step.picture);
        if (windows_[k]) windows_[k]->close(); // Cancel: nothing changes
    }

    void Closed(std::size_t k) {
        const TourStep& step = steps_[step_];
        // (A dialog made for one run is gone by now: its window with it.)
        if (k >= opened_.size() || !opened_[k])
            Problem(step.picture + ": \"" + step.actions[k] + "\" opened no window");
        if (k == 0) {
            Later(300, [this] { Step(step_ + 1); });
        } else if (windows_[k - 1]) {
            windows_[k - 1]->close();
        }
    }

    QtDesktop& desktop_;
    TForm& main_;
    std::vector<TourStep> steps_;
    TourOptions options_;
    std::function<void(bool, const std::string&)> done_;
    std::size_t step_ = 0;
    std::vector<QPointer<QWidget>> windows_;
    std::vector<bool> opened_;
    std::string problems_;
};

} // namespace

void StartScreenshotTour(QtDesktop& desktop, TForm& mainForm, std::vector<TourStep> steps,
                         TourOptions options,
                         std::function<void(bool ok, const std::string& problems)> done) {
    QDir().mkpath(QString::fromStdString(options.outputDir));
    std::make_shared<Tour>(desktop, mainForm, std::move(steps), std::move(options), std::move(done))
        ->Start();
}

} // namespace vantor::desktop
