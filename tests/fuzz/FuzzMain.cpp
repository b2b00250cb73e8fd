// The main() of a fuzz target built without libFuzzer: it replays inputs,
// so that a target builds with any compiler, a crash found by a fuzzing run
// can be replayed under a debugger, and the seed corpus runs as a test.
//   <target> FILE|FOLDER...   every file given, and every file in each folder
// Exit status 0 when every input ran (a failing check aborts the program).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::string name = fs::path(argv[0]).filename().string();
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...  (replays the inputs)\n", name.c_str());
        return 2;
    }
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(arg, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end()); // the same order on every run
            for (const fs::path& f : files) replayed += Replay(f) ? 1 : 0;
        } else if (Replay(arg)) {
            ++replayed;
        } else {
            return 1;
        }
    }
    std::printf("%s: %d inputs replayed\n", name.c_str(), replayed);
    return 0;
}
