#include "accounting/AccountingFile.h"

#include <filesystem>

namespace vantor {

AccountingFile::AccountingFile(std::string programDir, std::unique_ptr<FileAppender> appender)
    : programDir_(std::move(programDir)), appender_(std::move(appender)) {}

std::string AccountingFile::PathFor(std::string_view programDir, std::string_view fileName) {
    // '/' on Linux, '\' on Windows: the system's own separator joins, and a
    // name that starts with it is taken from the root (as "C:..." is).
    constexpr char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    if (fileName.find(':') != std::string_view::npos || fileName.starts_with('/') ||
        fileName.starts_with(separator))
        return std::string(fileName);
    std::string path(programDir);
    if (!path.empty() && path.back() != '/' && path.back() != separator) path.push_back(separator);
    path.append(fileName);
    return path;
}

bool AccountingFile::Append(std::string_view fileName, std::string_view record) {
    const std::string path = Path(fileName);
    std::string bytes(record);
    bytes.append("\r\n");
    if (appender_ && appender_->Append(path, bytes)) {
        writeFailed_ = false;
        error_.clear();
        lastPath_ = path;
        lastRecord_ = std::string(record);
        return true;
    }
    writeFailed_ = true;
    error_ = appender_ ? appender_->errorText() : "no file appender";
    return false;
}

const std::optional<std::string>& AccountingFile::LastRecord(const std::string& path) {
    if (path != lastPath_) {
        lastPath_ = path;
        lastRecord_ = appender_ ? appender_->LastLine(path) : std::nullopt;
    }
    return lastRecord_;
}

AccountingFile::Outcome AccountingFile::Store(std::string_view fileName, std::string_view record,
                                              bool askedAgain) {
    awaitingAnswer_ = false;
    if (askedAgain && LastRecord(Path(fileName)) == record) {
        repeat_ = false;
        return Outcome::AlreadyStored;
    }
    if (!Append(fileName, record)) return Outcome::Failed;
    repeat_ = false;
    return Outcome::Appended;
}

void AccountingFile::Resume(std::string_view fileName) {
    lastPath_.clear();
    LastRecord(Path(fileName));
    ExpectRepeat();
}

void AccountingFile::NothingToStore() {
    awaitingAnswer_ = false;
    repeat_ = false;
}

} // namespace vantor
