// Fuzz target for the configuration reader: any bytes as vantor.INI, parsed
// into a profile document and read key by key as the start-up reads it, then
// changed as a settings command changes it.  Checked: parsing and writing back
// give the very bytes read; every value read lies in its range; a value set
// reads back, and setting it again changes nothing but that value, so a write
// keeps every other byte of the file.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "core/Configuration.h"
#include "toolkit/IniFile.h"
#include "toolkit/TextSource.h"

using namespace vantor;
using fuzz::Check;

namespace {

// A section or key name that the writer accepts, made of the input's letters.
std::string Name(fuzz::FuzzInput& in, const char* fallback) {
    std::string name;
    for (std::uint8_t b : in.Bytes(in.Byte() % 8))
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_')
            name += static_cast<char>(b);
    return name.empty() ? fallback : name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    // The first bytes name what a command will write; the rest is the file.
    const std::string section = Name(in, "Set"), key = Name(in, "Port");
    const std::string value = "v" + std::to_string(in.Number(0, 99999));
    const auto fileBytes = in.Rest();
    const std::string text(fileBytes.begin(), fileBytes.end());

    IniDocument doc = IniDocument::Parse(text);
    Check(doc.Serialize() == text, "parsing changed the file's bytes");

    struct : TextSource {
        std::string Msg(int) const override { return "%1 (%2..%3, %4)"; }
        std::string Text(int) override { return {}; }
    } texts;
    ConfigReader reader(doc, texts);
    Settings settings;
    PrefixTable prefixes;
    std::vector<std::string> warnings;
    reader.ReadLanguage();
    reader.ReadSettings(settings, prefixes, warnings);
    Check(settings.Interval >= 1 && settings.MaxTick >= 1 && settings.MaxError >= 1,
          "a timer setting below its range");
    Check(settings.IPPort >= 0 && settings.IPPort <= 65535, "IPPort outside 0..65535");
    Check(settings.MaxCache >= 0 && settings.MaxCache <= 1000000, "MaxCache outside its range");
    Check(settings.Port.size() <= SettingsTextCapacity, "a text longer than its field");
    for (auto& [name, replacement] : doc.Values("Prefix"))
        Check(doc.Value("Prefix", name).value_or("?") == replacement,
              "section list and lookup differ");

    doc.Set(section, key, value);
    const std::string once = doc.Serialize();
    const IniDocument reread = IniDocument::Parse(once);
    Check(reread.Value(section, key).value_or("") == value, "a written value does not read back");
    Check(reread.Serialize() == once, "a written file does not read back byte for byte");

    doc.Set(section, key, value + "x");
    doc.Set(section, key, value);
    Check(doc.Serialize() == once, "writing the same value twice changed other bytes");
    return 0;
}
