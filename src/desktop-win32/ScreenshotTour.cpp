#include "desktop-win32/Win32Ui.h" // first: see there

#include "desktop-win32/ScreenshotTour.h"

#include <wincodec.h>

#include <algorithm>

#include "desktop-win32/FormWindow.h"
#include "desktop-win32/Win32Desktop.h"
#include "platform/win32/Win32Loop.h"
#include "toolkit/FilePath.h"

namespace vantor::win32view {

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

// What the screen shows of a window, frame and title bar included, as a PNG
// file; the reason when it cannot.
std::string SaveWindowPicture(HWND window, const std::string& file) {
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

class Win32TourWindow final : public TourWindow {
public:
    Win32TourWindow(Win32Desktop& desktop, HWND window) : desktop_(desktop), window_(window) {}

    TForm* Form() const override {
        FormWindow* window = FormWindow::FromHandle(window_);
        return window ? &window->Form() : nullptr;
    }

    std::string Save(const std::string& file) override {
        desktop_.FlushViews();
        return SaveWindowPicture(window_, file);
    }

    void Close() override {
        if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
    }

private:
    Win32Desktop& desktop_;
    HWND window_;
};

class Win32TourScreen final : public TourScreen {
public:
    explicit Win32TourScreen(Win32Desktop& desktop) : desktop_(desktop) {}

    void Later(int ms, std::function<void()> f) override {
        Win32Loop& loop = desktop_.Loop();
        auto timer = std::make_shared<EventLoop::Handle>(0);
        *timer = loop.startTimer(static_cast<std::uint32_t>(std::max(ms, 1)),
                                 [&loop, timer, f = std::move(f)] {
                                     loop.stopTimer(*timer);
                                     f();
                                 });
    }

    void WatchBlockingWindows(std::function<void(std::unique_ptr<TourWindow>)> opened) override {
        desktop_.BeforeBlockingWindow = nullptr;
        if (opened)
            desktop_.BeforeBlockingWindow = [this, opened](HWND window) {
                opened(std::make_unique<Win32TourWindow>(desktop_, window));
            };
    }

    std::unique_ptr<TourWindow> WindowOf(TForm& form) override {
        FormWindow* window = desktop_.WindowOf(form);
        return window ? std::make_unique<Win32TourWindow>(desktop_, window->Handle()) : nullptr;
    }

private:
    Win32Desktop& desktop_;
};

} // namespace

std::shared_ptr<TourScreen> MakeTourScreen(Win32Desktop& desktop) {
    return std::make_shared<Win32TourScreen>(desktop);
}

} // namespace vantor::win32view
