#pragma once
// The accounting file: every record the exchange hands out is appended to it,
// one line each ending in CR LF, and must be on the device before the next
// record is asked for.  The appender (the platform's) locks the file for the
// append, writes every byte, flushes it, and cuts a half write back, so the
// file never holds half a record.
//
// No record may be lost or doubled across a failure.  The exchange hands a
// record out when it answers request 04; if that answer is lost (on the line,
// in a link-down pause, in a gateway killed before the append) the record is
// gone unless the next request is 05, "the last record again".  So the next
// request is 05 at start-up, after a link-down pause, after the serial port
// was opened again, after a request whose answer never came, and after an
// append that failed.  The answer to a 05 is compared with the last record in
// the file (read from the file at start, kept in memory after that): equal
// means it is stored already, different means it was in flight and is
// appended.  Two truly identical records in a row around a failure cannot be
// told apart: the second is taken for the first.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/FileAppender.h"

namespace vantor {

class AccountingFile {
public:
    // What became of a record the exchange handed out.
    enum class Outcome { Appended, AlreadyStored, Failed };

    // programDir: where file names without a directory lie.
    AccountingFile(std::string programDir, std::unique_ptr<FileAppender> appender);

    // The file an accounting file name refers to: a name holding ':' or
    // starting with '/' as it stands, any other in the program's folder.
    static std::string PathFor(std::string_view programDir, std::string_view fileName);
    std::string Path(std::string_view fileName) const { return PathFor(programDir_, fileName); }

    // Appends the record and CR LF to the file `fileName` names.  Returns
    // success; a failure sets WriteFailed() and Error() until the next success.
    bool Append(std::string_view fileName, std::string_view record);
    bool WriteFailed() const { return writeFailed_; }
    const std::string& Error() const { return error_; }

    // The exchange's answer to an accounting request: `askedAgain` when it
    // answered 05.  A repeated record equal to the file's last one is not
    // appended again.
    Outcome Store(std::string_view fileName, std::string_view record, bool askedAgain);
    // The exchange answered that it has no record.
    void NothingToStore();

    // The next request asks for the last record again (start-up, link-down
    // pause, reopened port).
    void ExpectRepeat() { repeat_ = true; }
    // Start-up: the last record of the file is read now, and the first
    // request asks for the last record again.
    void Resume(std::string_view fileName);
    // An accounting request goes out now; a previous one whose answer never
    // came makes this one a 05.
    void RequestSent() { awaitingAnswer_ = true; }
    // Whether the next accounting request is 05.
    bool AskAgain() const { return writeFailed_ || repeat_ || awaitingAnswer_; }

private:
    // The last record of the file `path`, read once from the file.
    const std::optional<std::string>& LastRecord(const std::string& path);

    std::string programDir_;
    std::unique_ptr<FileAppender> appender_;
    bool writeFailed_ = false;
    bool repeat_ = false;
    bool awaitingAnswer_ = false;
    std::string error_;
    std::string lastPath_; // the file lastRecord_ belongs to
    std::optional<std::string> lastRecord_;
};

} // namespace vantor
