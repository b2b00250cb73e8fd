#include "desktop/DesktopSession.h"

#include <QApplication>
#include <QFont>

#include "desktop/Pictures.h"

namespace vantor::desktop {

void SetUpApplicationLook() {
    QApplication::setApplicationName("Tarvo Vantor");
    QApplication::setWindowIcon(ProgramIcon());
    // The dialogs place their controls in pixels for an 11-pixel sans-serif;
    // a metric-compatible face keeps every caption inside its control.
    QFont font("Liberation Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    QApplication::setFont(font);
    // Hidden in the tray is still running: closing the last window is not
    // the end of the program, only the main form's close is.
    QApplication::setQuitOnLastWindowClosed(false);
}

namespace {

std::function<void()> displayLost;
QtMessageHandler previousHandler = nullptr;

void WatchForDisplayLoss(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // "The X11 connection broke ..." and "The Wayland connection broke ...".
    if (displayLost && text.contains(QLatin1String("connection broke"))) {
        auto handler = std::move(displayLost);
        displayLost = nullptr;
        handler();
    }
    if (previousHandler) previousHandler(type, context, text);
}

// Qt's own Unix event dispatcher, not the GLib one: the serial event thread
// hands every line event to the loop and waits for it, hundreds of times a
// second, and each hand-off through GLib's main context costs enough
// latency that the gateway fell a fifth behind the line (bench/README.md).
// Set before the application object exists, which reads it.
struct DispatcherChoice {
    DispatcherChoice() {
        if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    }
};

} // namespace

struct DesktopSession::Parts {
    explicit Parts(const DesktopViewOptions& options)
        : application(*options.argc, options.argv), loop(options.readiness), desktop(loop) {}
    DispatcherChoice dispatcher;
    QApplication application;
    QtLoop loop;
    QtDesktop desktop;
    bool watchesDisplay = false;
};

DesktopSession::DesktopSession(const DesktopViewOptions& options)
    : parts_(std::make_unique<Parts>(options)) {
    SetUpApplicationLook();
    if (options.displayLost) {
        displayLost = options.displayLost;
        QtMessageHandler before = qInstallMessageHandler(WatchForDisplayLoss);
        if (before != WatchForDisplayLoss) previousHandler = before;
        parts_->watchesDisplay = true;
    }
}

DesktopSession::~DesktopSession() {
    // Qt goes with the application object: nothing may call into it later.
    if (parts_->watchesDisplay) {
        displayLost = nullptr;
        qInstallMessageHandler(previousHandler);
        previousHandler = nullptr;
    }
}

QtLoop& DesktopSession::Loop() { return parts_->loop; }
QtDesktop& DesktopSession::Screen() { return parts_->desktop; }

void DesktopSession::SetTrayCallback(std::function<void(unsigned)> callback) {
    parts_->desktop.SetTrayCallback(std::move(callback));
}

void DesktopSession::SetHelpSources(std::vector<std::string> folders,
                                    std::function<std::string()> language,
                                    std::function<DesktopHelpTexts()> texts) {
    parts_->desktop.SetHelpSources(std::move(folders), std::move(language), std::move(texts));
}

} // namespace vantor::desktop
