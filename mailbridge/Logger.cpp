#include "Logger.h"

#include "Charset.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace vantorq9 {

std::string Printable(std::string_view text, std::size_t limit) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        if (out.size() >= limit) {
            out += "...";
            break;
        }
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += Hex[b >> 4];
            out += Hex[b & 15];
        } else {
            out += c;
        }
    }
    // Letters beyond ASCII stay readable; broken UTF-8 shows as U+FFFD.
    return ToUtf8(out, TextCharset::Utf8);
}

std::string Logger::OpenIn(const std::string& folder) {
    std::lock_guard lock(mutex_);
    file_.reset();
    path_.clear();
    if (folder.empty()) return "no work directory given";
    const std::string path = (std::filesystem::path(folder) / FileName).string();
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) return path + ": " + std::generic_category().message(errno);
    file_.reset(f);
    path_ = path;
    return {};
}

void Logger::Close() {
    std::lock_guard lock(mutex_);
    file_.reset();
    path_.clear();
}

std::string Logger::Path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

void Logger::RotateIfLarge() {
    if (!file_ || std::ftell(file_.get()) < RotateBytes) return;
    file_.reset();
    std::error_code ec;
    std::filesystem::rename(path_, path_ + ".1", ec);
    file_.reset(std::fopen(path_.c_str(), "a"));
    if (!file_) path_.clear();
}

void Logger::Write(LogLevel level, std::string_view tag, std::string_view text) {
    if (!Enabled(level)) return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char full[40];
    std::snprintf(full, sizeof full, "%s.%03d", stamp, static_cast<int>(millis));

    std::lock_guard lock(mutex_);
    if (file_) {
        std::fprintf(file_.get(), "%s %.*s %.*s\n", full, static_cast<int>(tag.size()), tag.data(),
                     static_cast<int>(text.size()), text.data());
        std::fflush(file_.get());
        RotateIfLarge();
    }
    if (echo_) std::fprintf(stderr, "vantorq9: %.*s\n", static_cast<int>(text.size()), text.data());
}

} // namespace vantorq9
