#include "toolkit/Desktop.h"

#include "toolkit/Controls.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Forms.h"

namespace vantor {

int DefaultMessageBoxAnswer(unsigned flags) {
    static const std::vector<int> buttons[] = {
        {IDOK},                       // MB_OK
        {IDOK, IDCANCEL},             // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE}, // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},      // MB_YESNOCANCEL
        {IDYES, IDNO},                // MB_YESNO
        {IDRETRY, IDCANCEL},          // MB_RETRYCANCEL
    };
    const unsigned type = flags & MB_TYPEMASK;
    const std::vector<int>& set = type < std::size(buttons) ? buttons[type] : buttons[0];
    const unsigned def = (flags & MB_DEFMASK) >> 8;
    // A default button the box does not have falls back to the first one.
    return def < set.size() ? set[def] : set[0];
}

std::string HeadlessMessageLine(std::string_view text, std::string_view caption) {
    auto flatten = [](std::string_view s) {
        std::string out;
        out.reserve(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '\r' || s[i] == '\n') {
                if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
                out += ' ';
            } else {
                out += s[i];
            }
        }
        return Utf8FromCp1250(out);
    };
    return "MessageBox [" + flatten(caption) + "] " + flatten(text);
}

int HeadlessDesktop::RunModal(TForm&) { return mrCancel; }

int HeadlessDesktop::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
    out_ << HeadlessMessageLine(text, caption) << '\n' << std::flush;
    return DefaultMessageBoxAnswer(flags);
}

// ---------------------------------------------------------- ScriptedDesktop

void ScriptedDesktop::ShowForm(TForm& form) { shownForms.push_back(&form); }

void ScriptedDesktop::HideForm(TForm& form) { hiddenForms.push_back(&form); }

int ScriptedDesktop::RunModal(TForm& form) {
    modalForms.push_back(form.ClassName());
    auto it = scripts_.find(form.ClassName());
    if (it == scripts_.end()) return mrCancel;
    ModalScript script = it->second; // the script may replace itself
    return script(form);
}

int ScriptedDesktop::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
    int answer = DefaultMessageBoxAnswer(flags);
    if (!messageBoxAnswers_.empty()) {
        answer = messageBoxAnswers_.front();
        messageBoxAnswers_.pop_front();
    }
    messageBoxes.push_back({std::string(text), std::string(caption), flags, answer});
    return answer;
}

bool ScriptedDesktop::TrayIcon(TrayOperation operation, const TrayIconData& data) {
    trayCalls.push_back({operation, data, trayAvailable_});
    return trayAvailable_;
}

bool ScriptedDesktop::GetCursorPos(int& x, int& y) {
    if (!cursor_) return false;
    x = cursor_->first;
    y = cursor_->second;
    return true;
}

void ScriptedDesktop::PopupMenu(TPopupMenu& menu, int x, int y) { popups.push_back({&menu, x, y}); }

void ScriptedDesktop::Help(unsigned command, unsigned long data, const std::string& helpFile) {
    helpCalls.push_back({command, data, helpFile});
}

std::optional<std::string> ScriptedDesktop::SaveFileDialog(const FileDialogOptions& options) {
    saveDialogs.push_back(options);
    if (saveAnswers_.empty()) return std::nullopt;
    auto answer = std::move(saveAnswers_.front());
    saveAnswers_.pop_front();
    return answer;
}

void ScriptedDesktop::OnModal(std::string className, ModalScript script) {
    scripts_[std::move(className)] = std::move(script);
}

} // namespace vantor
