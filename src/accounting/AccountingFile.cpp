#include "accounting/AccountingFile.h"

#include <filesystem>
#include <utility>

namespace vantor {

namespace {

constexpr std::string_view PendingMark = "pending";
constexpr std::string_view StoredMark = "stored";
// A record is one frame's text: a state file longer than this is not ours.
constexpr std::size_t StateLimit = 4096;

struct State {
    std::string_view mark;
    std::string_view record;
};

// "<mark> CR LF <record> CR LF"; none for anything else.
std::optional<State> ParseState(std::string_view text) {
    const std::size_t end = text.find("\r\n");
    if (end == std::string_view::npos || !text.ends_with("\r\n") || text.size() < end + 5)
        return std::nullopt;
    const State state{text.substr(0, end), text.substr(end + 2, text.size() - end - 4)};
    if (state.mark != PendingMark && state.mark != StoredMark) return std::nullopt;
    return state;
}

} // namespace

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

std::string AccountingFile::StatePathFor(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
    std::string state(path.substr(0, name));
    state.push_back('.');
    state.append(path.substr(name));
    state.append(".last");
    return state;
}

bool AccountingFile::Append(std::string_view fileName, std::string_view record) {
    const std::string path = Path(fileName);
    const std::string statePath = StatePathFor(path);
    // Marked before the append, so that a start after a crash in between
    // knows the record may be missing from the file.
    WriteState(statePath, PendingMark, record);
    std::string bytes(record);
    bytes.append("\r\n");
    if (appender_ && appender_->Append(path, bytes)) {
        writeFailed_ = false;
        error_.clear();
        lastStored_ = std::string(record);
        WriteState(statePath, StoredMark, record);
        return true;
    }
    writeFailed_ = true;
    error_ = appender_ ? appender_->errorText() : "no file appender";
    return false;
}

void AccountingFile::WriteState(const std::string& path, std::string_view mark,
                                std::string_view record) {
    if (!appender_) return;
    std::string content(mark);
    content.append("\r\n").append(record).append("\r\n");
    // A retry of a failing append does not write the same mark again.
    std::string written = path + '\n' + content;
    if (written == stateWritten_) return;
    if (appender_->Replace(path, content)) {
        stateWritten_ = std::move(written);
        stateFailing_ = false;
        return;
    }
    stateWritten_.clear();
    // Said once per run of failures.  The record itself is stored all the
    // same: without the state only a collected file can bring it back.
    if (!stateFailing_) stateWarning_ = "Accounting state: " + appender_->errorText();
    stateFailing_ = true;
}

std::optional<std::string> AccountingFile::TakeStateWarning() {
    return std::exchange(stateWarning_, std::nullopt);
}

AccountingFile::Outcome AccountingFile::Store(std::string_view fileName, std::string_view record,
                                              bool askedAgain) {
    awaitingAnswer_ = false;
    // After a failed append the repeat is the record the file is missing,
    // even when it reads like the last one stored.
    if (askedAgain && !writeFailed_ && lastStored_ == record) {
        repeat_ = false;
        return Outcome::AlreadyStored;
    }
    if (!Append(fileName, record)) return Outcome::Failed;
    repeat_ = false;
    return Outcome::Appended;
}

void AccountingFile::Resume(std::string_view fileName) {
    const std::string path = Path(fileName);
    lastStored_ = appender_ ? appender_->LastLine(path) : std::nullopt;
    stateWritten_.clear();
    if (!lastStored_ && appender_) {
        // The file was collected (or never written): the state says what
        // went into it last.
        const std::string statePath = StatePathFor(path);
        if (const auto text = appender_->ReadSmall(statePath, StateLimit)) {
            const auto state = ParseState(*text);
            if (!state)
                stateWarning_ =
                    "Accounting state " + statePath + " is not one this gateway wrote; ignored";
            else if (state->mark == StoredMark)
                lastStored_ = std::string(state->record);
        }
    }
    ExpectRepeat();
}

void AccountingFile::NothingToStore() {
    awaitingAnswer_ = false;
    repeat_ = false;
    // Not even a record to repeat: asking 05 again would stop the download.
    writeFailed_ = false;
}

} // namespace vantor
