#pragma once
// Maildirs for the mail-bridge tests, filled the way a delivery agent and a
// mail reader fill them: a message is written in tmp/ and renamed into new/;
// reading it moves it to cur/ with flags.
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace vantor::test {

class TestMaildir {
public:
    explicit TestMaildir(std::filesystem::path root) : root_(std::move(root)) {
        for (const char* sub : {"tmp", "new", "cur"})
            std::filesystem::create_directories(root_ / sub);
    }
    const std::filesystem::path& Root() const { return root_; }

    // kind: the X-Message-Kind value, or empty for a message without one.
    std::filesystem::path Deliver(std::string_view kind, std::string_view subject = "message") {
        static std::atomic<unsigned> counter{0};
        const std::string name = std::to_string(std::time(nullptr)) + ".M" +
                                 std::to_string(++counter) + "P" + std::to_string(::getpid()) +
                                 ".test";
        std::string text = "From: exchange@test\r\nSubject: " + std::string(subject) + "\r\n";
        if (!kind.empty()) text += "X-Message-Kind: " + std::string(kind) + "\r\n";
        text += "\r\nbody\r\n";
        std::ofstream(root_ / "tmp" / name, std::ios::binary) << text;
        std::filesystem::rename(root_ / "tmp" / name, root_ / "new" / name);
        return root_ / "new" / name;
    }
    // What a mail reader does when it has shown the message (flags "" or "S").
    std::filesystem::path MoveToCur(const std::filesystem::path& file, std::string_view flags) {
        std::string name = file.filename().string();
        name = name.substr(0, name.find(':')) + ":2," + std::string(flags);
        const auto target = root_ / "cur" / name;
        std::filesystem::rename(file, target);
        return target;
    }

private:
    std::filesystem::path root_;
};

} // namespace vantor::test
