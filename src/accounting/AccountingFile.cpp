#include "accounting/AccountingFile.h"

namespace vantor {

AccountingFile::AccountingFile(std::string programDir, std::unique_ptr<FileAppender> appender)
    : programDir_(std::move(programDir)), appender_(std::move(appender)) {}

std::string AccountingFile::PathFor(std::string_view programDir, std::string_view fileName) {
    if (fileName.find(':') != std::string_view::npos || fileName.starts_with('/'))
        return std::string(fileName);
    std::string path(programDir);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(fileName);
    return path;
}

bool AccountingFile::Append(std::string_view fileName, std::string_view record) {
    std::string bytes(record);
    bytes.append("\r\n");
    if (appender_ && appender_->Append(Path(fileName), bytes)) {
        writeFailed_ = false;
        error_.clear();
        return true;
    }
    writeFailed_ = true;
    error_ = appender_ ? appender_->errorText() : "no file appender";
    return false;
}

} // namespace vantor
