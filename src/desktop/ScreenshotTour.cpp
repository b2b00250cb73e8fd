#include "desktop/ScreenshotTour.h"

#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "desktop/FormView.h"
#include "desktop/QtDesktop.h"

namespace vantor::desktop {

namespace {

class QtTourWindow final : public TourWindow {
public:
    explicit QtTourWindow(QWidget* window) : window_(window) {}

    TForm* Form() const override {
        auto* view = dynamic_cast<FormView*>(window_.data());
        return view ? &view->Form() : nullptr;
    }

    std::string Save(const std::string& file) override {
        if (!window_) return "no window";
        // With a window manager the picture shows the title bar too (the
        // caption is part of what is checked); without one, the window alone.
        QPixmap shot;
        const QRect frame = window_->frameGeometry();
        if (frame != window_->geometry() && window_->screen())
            shot = window_->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                 frame.height());
        if (shot.isNull()) shot = window_->grab();
        return shot.save(QString::fromStdString(file)) ? std::string() : "cannot write " + file;
    }

    void Close() override {
        if (window_) window_->close();
    }

private:
    QPointer<QWidget> window_;
};

class QtTourScreen final : public TourScreen {
public:
    explicit QtTourScreen(QtDesktop& desktop) : desktop_(desktop) {}

    void Later(int ms, std::function<void()> f) override { QTimer::singleShot(ms, std::move(f)); }

    void WatchBlockingWindows(std::function<void(std::unique_ptr<TourWindow>)> opened) override {
        desktop_.BeforeBlockingWindow = nullptr;
        if (opened)
            desktop_.BeforeBlockingWindow = [opened](QWidget& window) {
                opened(std::make_unique<QtTourWindow>(&window));
            };
    }

    std::unique_ptr<TourWindow> WindowOf(TForm& form) override {
        FormView* view = desktop_.ViewOf(form);
        return view ? std::make_unique<QtTourWindow>(view) : nullptr;
    }

private:
    QtDesktop& desktop_;
};

} // namespace

std::shared_ptr<TourScreen> MakeTourScreen(QtDesktop& desktop) {
    return std::make_shared<QtTourScreen>(desktop);
}

} // namespace vantor::desktop
