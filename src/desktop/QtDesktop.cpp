#include "desktop/QtDesktop.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QUrl>

#include "desktop/FormView.h"
#include "desktop/MenuView.h"
#include "desktop/Pictures.h"
#include "desktop/QtLoop.h"
#include "desktop/QtText.h"
#include "toolkit/Forms.h"
#include "toolkit/HelpPages.h"
#include "toolkit/Menus.h"
#include "toolkit/Strings.h"

namespace vantor::desktop {

namespace {

struct BoxButton {
    QMessageBox::StandardButton button;
    int id;
};

std::vector<BoxButton> ButtonsFor(unsigned flags) {
    using B = QMessageBox;
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{B::Ok, IDOK}, {B::Cancel, IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
        return {{B::Abort, IDABORT}, {B::Retry, IDRETRY}, {B::Ignore, IDIGNORE}};
    case MB_YESNOCANCEL: return {{B::Yes, IDYES}, {B::No, IDNO}, {B::Cancel, IDCANCEL}};
    case MB_YESNO: return {{B::Yes, IDYES}, {B::No, IDNO}};
    case MB_RETRYCANCEL: return {{B::Retry, IDRETRY}, {B::Cancel, IDCANCEL}};
    default: return {{B::Ok, IDOK}};
    }
}

QMessageBox::Icon IconFor(unsigned flags) {
    switch (flags & MB_ICONMASK) {
    case MB_ICONSTOP: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

// "Text files|*.txt|All|*" as Qt writes it: "Text files (*.txt);;All (*)".
QString QtFilter(const std::string& filter) {
    const QStringList parts = ToQt(filter).split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + " (" + QString(parts[i + 1]).replace(u';', u' ') + ")";
    return out.join(";;");
}

QString PlainText(std::string_view text) { return ToQt(text).replace("\r\n", "\n"); }

} // namespace

std::string HelpUrl(unsigned command, unsigned long data, const std::string& helpFile,
                    const std::vector<std::string>& folders, const std::string& language) {
    const std::optional<std::filesystem::path> found = FindHelpPage(helpFile, folders, language);
    if (!found) return {};
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(found->string()));
    if (const std::string anchor = HelpAnchor(command, data); !anchor.empty())
        url.setFragment(QString::fromStdString(anchor));
    return url.toString().toStdString();
}

QtDesktop::QtDesktop(QtLoop& loop)
    : loop_(loop), openUrl_([](const std::string& url) {
          return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
      }) {}

QtDesktop::~QtDesktop() {
    if (tray_) tray_->hide();
    views_.clear();
}

FormView& QtDesktop::ViewFor(TForm& form) {
    auto& view = views_[&form];
    if (!view) view = std::make_unique<FormView>(form, loop_);
    return *view;
}

FormView* QtDesktop::ViewOf(const TForm& form) const {
    auto it = views_.find(&form);
    return it == views_.end() ? nullptr : it->second.get();
}

void QtDesktop::FlushViews() {
    for (auto& [form, view] : views_) view->Flush();
}

void QtDesktop::ShowForm(TForm& form) { ViewFor(form).ShowWindow(); }

void QtDesktop::HideForm(TForm& form) {
    if (FormView* view = ViewOf(form)) view->HideWindow();
}

int QtDesktop::RunModal(TForm& form) {
    FormView& view = ViewFor(form);
    if (BeforeBlockingWindow) BeforeBlockingWindow(view);
    view.RunModal();
    return mrNone; // the form's ModalResult says how it ended
}

QWidget* QtDesktop::ActiveWindow() const { return QApplication::activeWindow(); }

int QtDesktop::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
    QMessageBox box(IconFor(flags), PlainText(caption), PlainText(text), QMessageBox::NoButton,
                    ActiveWindow());
    box.setWindowIcon(ProgramIcon());
    const std::vector<BoxButton> buttons = ButtonsFor(flags);
    std::map<QAbstractButton*, int> ids;
    for (const BoxButton& b : buttons) ids[box.addButton(b.button)] = b.id;
    const std::size_t def = (flags & MB_DEFMASK) >> 8;
    box.setDefaultButton(buttons[def < buttons.size() ? def : 0].button);
    // Escape answers Cancel where the box has it, OK on a box with OK alone.
    for (const BoxButton& b : buttons)
        if (b.id == IDCANCEL || buttons.size() == 1) box.setEscapeButton(box.button(b.button));
    FlushViews(); // the windows behind the box show what it is about
    if (BeforeBlockingWindow) BeforeBlockingWindow(box);
    box.exec();
    auto it = ids.find(box.clickedButton());
    // Ended without a button (the loop quit): the default button's answer.
    return it != ids.end() ? it->second : DefaultMessageBoxAnswer(flags);
}

bool QtDesktop::TrayIcon(TrayOperation operation, const TrayIconData& data) {
    switch (operation) {
    case TrayOperation::Add:
        ++trayAddAttempts_;
        if (!(trayAvailable_ ? trayAvailable_() : QSystemTrayIcon::isSystemTrayAvailable()))
            return false;
        if (!tray_) {
            tray_ = std::make_unique<QSystemTrayIcon>();
            QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                             [this](QSystemTrayIcon::ActivationReason reason) {
                                 unsigned message = 0;
                                 if (reason == QSystemTrayIcon::DoubleClick)
                                     message = WM_LBUTTONDBLCLK;
                                 else if (reason == QSystemTrayIcon::Context)
                                     message = WM_RBUTTONUP;
                                 if (message && trayCallback_)
                                     loop_.guarded([this, message] { trayCallback_(message); });
                             });
        }
        tray_->setIcon(ProgramIcon());
        return true;
    case TrayOperation::Modify:
        if (!tray_) return false;
        if (!data.icon.empty()) {
            const QPixmap picture = Picture(data.icon, 32);
            tray_->setIcon(picture.isNull() ? ProgramIcon() : QIcon(picture));
        }
        tray_->setToolTip(ToQt(data.tip));
        tray_->show();
        return true;
    case TrayOperation::Remove:
        if (!tray_) return false;
        tray_->hide();
        tray_.reset();
        return true;
    }
    return false;
}

bool QtDesktop::TrayShown() const { return tray_ && tray_->isVisible(); }

bool QtDesktop::GetCursorPos(int& x, int& y) {
    if (!QGuiApplication::primaryScreen()) return false;
    const QPoint at = QCursor::pos();
    x = at.x();
    y = at.y();
    return true;
}

void QtDesktop::SetForeground(TForm& form) {
    if (FormView* view = ViewOf(form)) {
        view->raise();
        view->activateWindow();
    }
}

void QtDesktop::PopupMenu(TPopupMenu& menu, int x, int y) {
    // As the system's pop-up menu tracking, this returns when the menu has
    // closed; the chosen item's Click has run by then.
    QMenu popup;
    MenuView binding(menu.Items(), &popup,
                     [this](const std::function<void()>& action) { loop_.guarded(action); });
    popup.exec(QPoint(x, y));
}

void QtDesktop::Help(unsigned command, unsigned long data, const std::string& helpFile) {
    if (command == HELP_QUIT) return;
    const std::string language = language_ ? language_() : std::string();
    const std::string url = HelpUrl(command, data, helpFile, helpFolders_, language);
    const HelpTexts texts = helpTexts_ ? helpTexts_() : HelpTexts{};
    std::string problem;
    if (url.empty()) {
        const QString pattern =
            QFileInfo(QString::fromStdString(helpFile)).completeBaseName() + ".*.html";
        problem = FormatText(texts.notFound, {helpFile, FromQt(pattern)});
        for (const std::string& f : helpFolders_) problem += "\n" + FromQt(QString::fromStdString(f));
    } else if (!openUrl_ || !openUrl_(url)) {
        problem = texts.notOpened + "\n" + FromQt(QUrl(QString::fromStdString(url)).toLocalFile());
    }
    if (!problem.empty()) MessageBox(problem, "Tarvo Vantor", MB_OK | MB_ICONWARNING);
}

std::optional<std::string> QtDesktop::SaveFileDialog(const FileDialogOptions& options) {
    QString start = ToQt(options.initialDir);
    if (!options.fileName.empty()) start = QDir(start).filePath(ToQt(options.fileName));
    QString chosen = QFileDialog::getSaveFileName(ActiveWindow(), ToQt(options.title), start,
                                                  QtFilter(options.filter), nullptr,
                                                  QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty()) return std::nullopt;
    if (!options.defaultExt.empty() && QFileInfo(chosen).suffix().isEmpty())
        chosen += "." + ToQt(options.defaultExt);
    return FromQt(chosen);
}

std::optional<std::string> QtDesktop::SelectDirectory(const std::string& title,
                                                      const std::string& initialDir) {
    const QString chosen =
        QFileDialog::getExistingDirectory(ActiveWindow(), ToQt(title), ToQt(initialDir));
    if (chosen.isEmpty()) return std::nullopt;
    return FromQt(chosen);
}

int QtDesktop::ScreenWidth() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 1024;
}

int QtDesktop::ScreenHeight() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 768;
}

void QtDesktop::FormDestroyed(TForm& form) { views_.erase(&form); }

void QtDesktop::SetTrayCallback(std::function<void(unsigned)> callback) {
    trayCallback_ = std::move(callback);
}

void QtDesktop::SetHelpSources(std::vector<std::string> folders,
                               std::function<std::string()> language,
                               std::function<HelpTexts()> texts) {
    helpFolders_ = std::move(folders);
    language_ = std::move(language);
    helpTexts_ = std::move(texts);
}

void QtDesktop::SetUrlOpener(std::function<bool(const std::string&)> open) {
    openUrl_ = std::move(open);
}

void QtDesktop::SetTrayAvailability(std::function<bool()> available) {
    trayAvailable_ = std::move(available);
}

} // namespace vantor::desktop
