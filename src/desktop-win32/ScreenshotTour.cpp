#include "desktop-win32/Win32Ui.h" // first: see there

#include "desktop-win32/ScreenshotTour.h"

#include <wincodec.h>

#include <istream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "desktop-win32/FormWindow.h"
#include "desktop-win32/Win32Desktop.h"
#include "platform/win32/Win32Loop.h"
#include "toolkit/FilePath.h"

namespace vantor::win32view {

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

// A COM interface pointer released when it goes.
template <class T>
struct Com {
    T* p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

std::string Failed(const char* what, HRESULT hr) {
    return std::string(what) + " failed (" + win32::ErrorText(static_cast<DWORD>(hr)) + ")";
}

std::string SavePng(HBITMAP bitmap, const std::wstring& path) {
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct Uninit {
        bool on;
        ~Uninit() {
            if (on) ::CoUninitialize();
        }
    } uninit{SUCCEEDED(init)};
    Com<IWICImagingFactory> factory;
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return Failed("the imaging component", hr);
    Com<IWICBitmap> source;
    if (FAILED(
            hr = factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source)))
        return Failed("reading the picture", hr);
    Com<IWICStream> stream;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(hr = factory->CreateStream(&stream)) ||
        FAILED(hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
        FAILED(hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) ||
        FAILED(hr = encoder->CreateNewFrame(&frame, nullptr)) ||
        FAILED(hr = frame->Initialize(nullptr)) || FAILED(hr = source->GetSize(&width, &height)) ||
        FAILED(hr = frame->SetSize(width, height)) || FAILED(hr = frame->SetPixelFormat(&format)) ||
        FAILED(hr = frame->WriteSource(source.p, nullptr)) || FAILED(hr = frame->Commit()) ||
        FAILED(hr = encoder->Commit()))
        return Failed("writing the PNG file", hr);
    return {};
}

} // namespace

std::string SaveWindowPicture(void* handle, const std::string& file) {
    const auto window = static_cast<HWND>(handle);
    if (!::IsWindow(window)) return "no window";
    ::UpdateWindow(window);
    RECT r;
    ::GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    // What the screen shows there: the window on top, as the user sees it.
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    std::string problem = SavePng(bitmap, FilePath(file).wstring());
    ::DeleteObject(bitmap);
    return problem;
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
    Tour(Win32Desktop& desktop, Win32Loop& loop, TForm& main, std::vector<TourStep> steps,
         TourOptions options, std::function<void(bool, const std::string&)> done)
        : desktop_(desktop), loop_(loop), main_(main), steps_(std::move(steps)),
          options_(std::move(options)), done_(std::move(done)) {}

    void Start() {
        auto self = shared_from_this();
        Later(options_.settleMs, [self] { self->Step(0); });
    }

private:
    // Runs f once, ms from now.
    void Later(int ms, std::function<void()> f) {
        auto self = shared_from_this();
        auto timer = std::make_shared<EventLoop::Handle>(0);
        *timer = loop_.startTimer(static_cast<std::uint32_t>(std::max(ms, 1)),
                                  [self, timer, f = std::move(f)] {
                                      self->loop_.stopTimer(*timer);
                                      f();
                                  });
    }

    void Problem(const std::string& text) { problems_ += text + "\n"; }

    void Save(HWND window, const std::string& picture) {
        const std::string file = options_.outputDir + "\\" + options_.prefix + picture + ".png";
        const std::string problem =
            window ? SaveWindowPicture(window, file) : std::string("no window");
        if (!problem.empty()) Problem(picture + ": " + problem);
    }

    void Step(std::size_t index) {
        if (index >= steps_.size()) {
            desktop_.BeforeBlockingWindow = nullptr;
            done_(problems_.empty(), problems_);
            return;
        }
        step_ = index;
        windows_.clear();
        const TourStep& step = steps_[index];
        if (step.actions.empty()) {
            desktop_.FlushViews();
            FormWindow* main = desktop_.WindowOf(main_);
            Save(main ? main->Handle() : nullptr, step.picture);
            Later(0, [this] { Step(step_ + 1); });
            return;
        }
        Act(0);
    }

    // The form the k-th action refers to: the dialog the action before
    // opened, or the main window.
    TForm& FormFor(std::size_t k) {
        if (k > 0 && k - 1 < windows_.size() && windows_[k - 1])
            if (FormWindow* window = FormWindow::FromHandle(windows_[k - 1])) return window->Form();
        return main_;
    }

    void Act(std::size_t k) {
        desktop_.BeforeBlockingWindow = [this, k](HWND window) {
            windows_.resize(k + 1, nullptr);
            windows_[k] = window;
            Later(options_.windowSettleMs, [this, k] { Opened(k); });
        };
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
        desktop_.FlushViews();
        Save(windows_[k], step.picture);
        // Closed from its title bar: Cancel, nothing changes.
        if (windows_[k]) ::PostMessageW(windows_[k], WM_CLOSE, 0, 0);
    }

    void Closed(std::size_t k) {
        const TourStep& step = steps_[step_];
        if (k >= windows_.size() || !windows_[k])
            Problem(step.picture + ": \"" + step.actions[k] + "\" opened no window");
        if (k == 0)
            Later(300, [this] { Step(step_ + 1); });
        else if (windows_[k - 1])
            ::PostMessageW(windows_[k - 1], WM_CLOSE, 0, 0);
    }

    Win32Desktop& desktop_;
    Win32Loop& loop_;
    TForm& main_;
    std::vector<TourStep> steps_;
    TourOptions options_;
    std::function<void(bool, const std::string&)> done_;
    std::size_t step_ = 0;
    std::vector<HWND> windows_;
    std::string problems_;
};

} // namespace

void StartScreenshotTour(Win32Desktop& desktop, TForm& mainForm, std::vector<TourStep> steps,
                         TourOptions options,
                         std::function<void(bool ok, const std::string& problems)> done) {
    std::error_code ec;
    std::filesystem::create_directories(FilePath(options.outputDir), ec);
    std::make_shared<Tour>(desktop, desktop.Loop(), mainForm, std::move(steps), std::move(options),
                           std::move(done))
        ->Start();
}

} // namespace vantor::win32view
