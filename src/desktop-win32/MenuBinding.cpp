#include "desktop-win32/MenuBinding.h"

#include <cctype>

namespace vantor::win32view {

namespace {

// Command identifiers of menu items: above the controls' and the dialog
// keys' (IDOK, IDCANCEL), below the system menu's.
constexpr WORD FirstMenuId = 40000;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool MenuBinding::ParseShortCut(const std::string& text, WORD& key, BYTE& modifiers) {
    modifiers = 0;
    std::string rest = text;
    for (;;) {
        const std::size_t plus = rest.find('+');
        if (plus == std::string::npos || plus + 1 == rest.size()) break;
        const std::string modifier = Lower(rest.substr(0, plus));
        if (modifier == "shift")
            modifiers |= FSHIFT;
        else if (modifier == "ctrl")
            modifiers |= FCONTROL;
        else if (modifier == "alt")
            modifiers |= FALT;
        else
            return false;
        rest = rest.substr(plus + 1);
    }
    const std::string name = Lower(rest);
    if (name.size() >= 2 && name[0] == 'f' && std::isdigit(static_cast<unsigned char>(name[1]))) {
        const int n = std::atoi(name.c_str() + 1);
        if (n < 1 || n > 24) return false;
        key = static_cast<WORD>(VK_F1 + n - 1);
        return true;
    }
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0]))) {
        key = static_cast<WORD>(std::toupper(static_cast<unsigned char>(name[0])));
        return true;
    }
    static const std::map<std::string, WORD> named = {
        {"del", VK_DELETE}, {"delete", VK_DELETE}, {"ins", VK_INSERT}, {"insert", VK_INSERT},
        {"esc", VK_ESCAPE}, {"enter", VK_RETURN},  {"tab", VK_TAB},    {"space", VK_SPACE}};
    auto it = named.find(name);
    if (it == named.end()) return false;
    key = it->second;
    return true;
}

MenuBinding::MenuBinding(TMenuItem& root, HWND window, UserAction user,
                         std::function<void()> changed)
    : root_(&root), window_(window), user_(std::move(user)), changed_(std::move(changed)) {
    Bind();
    Build();
}

MenuBinding::MenuBinding(TMenuItem& root, UserAction user) : root_(&root), user_(std::move(user)) {
    Bind();
    Build();
}

MenuBinding::~MenuBinding() {
    if (root_) {
        root_->OnModelChanged = nullptr;
        root_->OnDestroying = nullptr;
    }
    Clear();
}

void MenuBinding::Bind() {
    // Both hooks hold the token: a menu that outlives this binding calls nothing.
    std::weak_ptr<char> weak = token_;
    root_->OnModelChanged = [this, weak](TMenuItem&) {
        if (!weak.lock()) return;
        dirty_ = true;
        if (changed_) changed_();
    };
    root_->OnDestroying = [this, weak](TMenuItem&) {
        if (!weak.lock()) return;
        // The items go now: nothing shown may point at them any more.
        Clear();
        root_ = nullptr;
    };
}

void MenuBinding::Clear() {
    items_.clear();
    accels_.clear();
    if (window_ && ::IsWindow(window_) && ::GetMenu(window_) == menu_) ::SetMenu(window_, nullptr);
    if (menu_) ::DestroyMenu(menu_);
    if (accelerators_) ::DestroyAcceleratorTable(accelerators_);
    menu_ = nullptr;
    accelerators_ = nullptr;
}

void MenuBinding::Build() {
    HMENU old = menu_;
    menu_ = nullptr; // kept on the window until the new one is there
    items_.clear();
    accels_.clear();
    nextId_ = FirstMenuId;
    if (accelerators_) ::DestroyAcceleratorTable(accelerators_);
    accelerators_ = nullptr;
    dirty_ = false;
    if (!root_) return;
    menu_ = window_ ? ::CreateMenu() : ::CreatePopupMenu();
    Fill(menu_, *root_);
    if (!accels_.empty())
        accelerators_ = ::CreateAcceleratorTableW(accels_.data(), static_cast<int>(accels_.size()));
    if (window_) {
        ::SetMenu(window_, menu_);
        ::DrawMenuBar(window_);
    }
    if (old) ::DestroyMenu(old);
}

void MenuBinding::Fill(HMENU menu, TMenuItem& parent) {
    for (int i = 0; i < parent.Count(); ++i) {
        TMenuItem& item = *parent.Items(i);
        if (!item.Visible()) continue;
        if (item.IsLine()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        std::wstring text = Wide(item.Caption());
        if (!item.ShortCut().empty()) text += L"\t" + Wide(item.ShortCut());
        UINT flags =
            MF_STRING | (item.Checked() ? MF_CHECKED : 0u) | (item.Enabled() ? 0u : MF_GRAYED);
        // A top-level entry without a handler of its own is a (perhaps
        // empty) sub-menu, as on the framework's menu bar.
        if (item.Count() > 0 || (window_ && &parent == root_ && !item.OnClick)) {
            HMENU sub = ::CreatePopupMenu();
            Fill(sub, item);
            ::AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), text.c_str());
            continue;
        }
        const WORD id = nextId_++;
        items_[id] = &item;
        ::AppendMenuW(menu, flags, id, text.c_str());
        if (item.Default()) ::SetMenuDefaultItem(menu, id, FALSE);
        WORD key = 0;
        BYTE modifiers = 0;
        if (!item.ShortCut().empty() && ParseShortCut(item.ShortCut(), key, modifiers))
            accels_.push_back(ACCEL{static_cast<BYTE>(FVIRTKEY | modifiers), key, id});
    }
}

void MenuBinding::Refresh() {
    if (dirty_) Build();
}

TMenuItem* MenuBinding::ItemOf(WORD id) const {
    auto it = items_.find(id);
    return it == items_.end() ? nullptr : it->second;
}

WORD MenuBinding::IdOf(const TMenuItem& item) const {
    for (const auto& [id, shown] : items_)
        if (shown == &item) return id;
    return 0;
}

bool MenuBinding::Command(WORD id) {
    TMenuItem* item = ItemOf(id);
    if (!item) return false;
    // The handler may end the window and this binding with it: nothing of
    // this object is used after it.
    user_([item] { item->Click(); });
    return true;
}

} // namespace vantor::win32view
