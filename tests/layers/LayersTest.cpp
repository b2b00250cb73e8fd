// The layers stay clean: every module includes only the modules it declares
// (the list src/CMakeLists.txt writes), Qt only in the desktop view, OS calls
// only in the platform layer (and in the programs around the gateway: sim,
// tools, tests), and the mail-bridge library sees nothing of the gateway but
// its public header.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Hit {
    std::string file;
    int line;
    std::string text;
};

std::vector<Hit> Find(const fs::path& root, const std::regex& pattern,
                      const std::vector<std::string>& skipFolders) {
    std::vector<Hit> hits;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp" && ext != ".hpp") continue;
        const std::string relative = fs::relative(entry.path(), root).string();
        bool skipped = false;
        for (const std::string& folder : skipFolders)
            if (relative.rfind(folder + "/", 0) == 0) skipped = true;
        if (skipped) continue;
        std::ifstream in(entry.path());
        std::string text;
        int number = 0;
        while (std::getline(in, text)) {
            ++number;
            if (std::regex_search(text, pattern)) hits.push_back({relative, number, text});
        }
    }
    return hits;
}

std::string Describe(const std::vector<Hit>& hits) {
    std::string out;
    for (const Hit& h : hits) out += h.file + ":" + std::to_string(h.line) + ": " + h.text + "\n";
    return out;
}

const fs::path Src = fs::path(VANTOR_SOURCE_DIR) / "src";

TEST(Layers, QtIsIncludedOnlyByTheDesktopView) {
    const std::regex qt(R"(^\s*#\s*include\s*[<"](Q[A-Za-z]+|Qt[A-Za-z]*/))");
    const auto hits = Find(Src, qt, {"desktop"});
    EXPECT_TRUE(hits.empty()) << Describe(hits);
}

TEST(Layers, FeatureModulesAndToolkitMakeNoOsCalls) {
    const std::regex osHeader(
        R"(^\s*#\s*include\s*<(unistd\.h|fcntl\.h|termios\.h|dlfcn\.h|poll\.h|signal\.h|pthread\.h|netinet/[a-z_]+\.h|arpa/[a-z_]+\.h|sys/[a-z_]+\.h|asm/[a-z_]+\.h|linux/[a-z_]+\.h|windows\.h|winsock2\.h|ws2tcpip\.h|shlobj\.h|io\.h)>)");
    // The two views are window systems' code: Qt's, and Win32's own.
    const auto hits = Find(Src, osHeader, {"platform", "app", "desktop", "desktop-win32"});
    EXPECT_TRUE(hits.empty()) << Describe(hits);
}

TEST(Layers, TheToolkitDependsOnNoFeatureModule) {
    const std::regex feature(
        R"(^\s*#\s*include\s*"(core|serial|exchange|relay|accounting|plugin|mail|service|nls|ui|platform|desktop)/)");
    std::vector<Hit> hits;
    for (const Hit& h : Find(Src / "toolkit", feature, {})) hits.push_back(h);
    EXPECT_TRUE(hits.empty()) << Describe(hits);
}

// module -> the modules it declares it uses, as the build wrote them.
std::map<std::string, std::set<std::string>> DeclaredModules() {
    std::map<std::string, std::set<std::string>> modules;
    std::ifstream in(VANTOR_MODULE_LIST);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::set<std::string>& uses = modules[line.substr(0, colon)];
        std::istringstream words(line.substr(colon + 1));
        for (std::string word; words >> word;) uses.insert(word);
    }
    return modules;
}

TEST(Layers, EveryModuleIncludesOnlyTheModulesItDeclares) {
    const auto modules = DeclaredModules();
    ASSERT_FALSE(modules.empty()) << "no module list at " << VANTOR_MODULE_LIST;
    const std::regex include(R"(^\s*#\s*include\s*"([a-z]+)/)");
    std::vector<Hit> hits;
    for (const auto& [name, uses] : modules) {
        if (!fs::exists(Src / name)) continue;
        for (const Hit& h : Find(Src / name, include, {})) {
            std::smatch m;
            std::regex_search(h.text, m, include);
            const std::string used = m[1];
            if (used != name && !uses.count(used) && fs::is_directory(Src / used))
                hits.push_back({name + "/" + h.file, h.line,
                                h.text + "   (" + name + " does not declare " + used + ")"});
        }
    }
    EXPECT_TRUE(hits.empty()) << Describe(hits);
}

TEST(Layers, TheDeclaredModulesFormLayers) {
    const auto modules = DeclaredModules();
    ASSERT_TRUE(modules.count("toolkit"));
    EXPECT_TRUE(modules.at("toolkit").empty()) << "the toolkit stands on nothing";
    for (const auto& [name, uses] : modules) {
        EXPECT_FALSE(uses.count("core")) << name << " reaches up into core";
        EXPECT_FALSE(uses.count("desktop")) << name << " uses the Qt view";
        if (name != "platform") {
            EXPECT_FALSE(uses.count("platform")) << name << " uses the OS";
        }
    }
}


TEST(Layers, TheMailBridgeLibraryKnowsOnlyThePublicMailHeaderOfTheGateway) {
    // Its include path holds src/mail for MailAbi.h; nothing else of the
    // gateway may come in that way.
    const std::regex gateway(R"(^\s*#\s*include\s*"(MailBridge\.h|[a-z]+/))");
    const auto hits = Find(fs::path(VANTOR_SOURCE_DIR) / "mailbridge", gateway, {});
    EXPECT_TRUE(hits.empty()) << Describe(hits);
}

TEST(Layers, TheDesktopViewSeesOnlyTheToolkit) {
    // The view renders the toolkit's forms; it knows no gateway part.
    const std::regex gateway(
        R"(^\s*#\s*include\s*"(core|serial|exchange|relay|accounting|plugin|mail|service|nls|ui|platform|app)/)");
    const auto hits = Find(Src / "desktop", gateway, {});
    EXPECT_TRUE(hits.empty()) << Describe(hits);
}

} // namespace
