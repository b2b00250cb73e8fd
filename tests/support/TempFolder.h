#pragma once
// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <random>
#include <string>
#include <string_view>

namespace vantor::test {

class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate =
                base / ("vantor-test-" + std::to_string(rd()) + std::to_string(attempt));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary directory");
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path() const { return path_.string(); }
    std::string Sub(std::string_view name) const {
        auto p = path_ / name;
        std::filesystem::create_directories(p);
        return p.string();
    }
    // Writes the bytes as they are (no line-end translation).
    void Write(std::string_view relative, std::string_view bytes) const {
        std::ofstream out(path_ / relative, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

private:
    std::filesystem::path path_;
};

} // namespace vantor::test
