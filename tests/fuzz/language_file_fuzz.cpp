// Fuzz target for the language-file reader: any bytes as TVantor.Eng, read by
// TLanguageTable as a language change reads it (texts, the on-demand texts,
// a form and a menu translated by Tag).  Checked: no text is longer than the
// reader's limit, and a translation touches only the captions it may.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "FuzzInput.h"
#include "nls/LanguageTable.h"
#include "toolkit/Controls.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "toolkit/VirtualLoop.h"

using namespace vantor;
using fuzz::Check;

namespace {

// One folder for the whole run; the file in it is rewritten for each input.
const std::string& Folder() {
    static const std::string folder = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("vantor-language-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(Folder() + "/TVantor.Eng", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    VirtualLoop loop;
    std::ostringstream sink;
    HeadlessDesktop desktop{sink};
    TApplication app{loop, desktop};
    TForm form{app, nullptr};
    form.SetTag(0);
    auto& label = form.Create<TLabel>(&form);
    label.SetTag(1);
    auto& edit = form.Create<TEdit>(&form);
    edit.SetTag(2);
    edit.SetCaption("edit");
    auto& panel = form.Create<TPanel>(&form);
    panel.SetTag(3);
    auto& inner = form.Create<TButton>(&panel);
    inner.SetTag(4);
    TMainMenu menu(&form);
    TMenuItem& top = menu.Items().Add("top", 200);
    top.Add("sub", 201);

    TLanguageTable table({Folder()});
    table.SetLanguage("Eng");
    table.TranslateForm(form, false);
    table.TranslateMenu(menu.Items());
    table.LoadTexts();
    table.Close();
    for (int n = 100; n <= 147; ++n)
        Check(table.Msg(n).size() <= TLanguageTable::MaxValueLength, "a text past the limit");
    for (int n : {100, 101, 199, 200, 299, 300, 399})
        Check(table.Text(n).size() <= TLanguageTable::MaxValueLength, "a text past the limit");
    Check(edit.Caption() == "edit", "an edit box was translated");
    Check(label.Caption().size() <= TLanguageTable::MaxValueLength, "a caption past the limit");
    return 0;
}
