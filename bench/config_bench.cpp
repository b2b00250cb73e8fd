// config-bench: what reading the configuration costs as it grows.
//
// The start-up reads vantor.INI once into an indexed document and looks every
// key up in it (ConfigReader, the [Prefix] section, the mail settings).  The
// cases below time that path on a file of N [Prefix] lines:
//   ReadConfigurationFile/N   the real path: TIniFile::Snapshot, then every key
//                             (files up to the 1 MiB limit: N up to ~60,000)
//   ParseAndReadDocument/N    the same reads on a document parsed from memory,
//                             past the limit, to show the cost stays linear
//   RefusedFile/N             a file above the limit: how long the refusal takes
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Configuration.h"
#include "toolkit/IniFile.h"
#include "toolkit/TextSource.h"

namespace {

using namespace vantor;

// A configuration as a technician would write it, with `prefixes` lines in
// [Prefix] between the usual sections.
std::string ConfigText(int prefixes) {
    std::string text = "[Set]\r\nLang=Eng\r\nPort=COM2:19200,N,8,1\r\nIPPort=1234\r\n"
                       "[Timer]\r\nInterval=100\r\nMaxTick=9\r\n[Prefix]\r\n";
    for (int i = 0; i < prefixes; ++i)
        text += "0" + std::to_string(i) + "=9" + std::to_string(i) + "\r\n";
    text += "[M602]\r\nUzivatel=operator\r\n[Trapy]\r\nSubject=Link\r\n";
    return text;
}

std::string WriteConfig(int prefixes) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("vantor-config-bench-" + std::to_string(prefixes) + ".INI");
    std::ofstream(path, std::ios::binary) << ConfigText(prefixes);
    return path.string();
}

// Every read of the start-up, from one parsed document.
void ReadEverything(const IniReader& doc, benchmark::State& state) {
    struct : TextSource {
        std::string Msg(int) const override { return {}; }
        std::string Text(int) override { return {}; }
    } texts;
    ConfigReader reader(doc, texts);
    Settings settings;
    PrefixTable prefixes;
    std::vector<std::string> warnings;
    benchmark::DoNotOptimize(reader.ReadLanguage());
    reader.ReadSettings(settings, prefixes, warnings);
    for (const char* key :
         {"CestaKeKonfiguraciMail602", "Uzivatel", "Heslo", "CestaKPracovnimuAdresari", "Debug"})
        benchmark::DoNotOptimize(doc.ReadString("M602", key, ""));
    benchmark::DoNotOptimize(settings);
    if (prefixes.entries().size() != static_cast<std::size_t>(state.range(0)))
        state.SkipWithError("the [Prefix] section did not read whole");
}

void ReadConfigurationFile(benchmark::State& state) {
    const std::string path = WriteConfig(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const IniSnapshot snapshot = TIniFile(path).Snapshot();
        if (!snapshot.refusal.empty()) state.SkipWithError(snapshot.refusal.c_str());
        ReadEverything(snapshot.document, state);
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}

void ParseAndReadDocument(benchmark::State& state) {
    const std::string text = ConfigText(static_cast<int>(state.range(0)));
    for (auto _ : state) ReadEverything(IniDocument::Parse(text), state);
    state.counters["bytes"] = static_cast<double>(text.size());
}

void RefusedFile(benchmark::State& state) {
    const std::string path = WriteConfig(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const IniSnapshot snapshot = TIniFile(path).Snapshot();
        if (snapshot.refusal.empty()) state.SkipWithError("a file above the limit was read");
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}

BENCHMARK(ReadConfigurationFile)->Arg(1000)->Arg(60000)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseAndReadDocument)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(RefusedFile)->Arg(200000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
