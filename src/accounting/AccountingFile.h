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
// append that failed.
//
// After a failed append the answer to the 05 is the record that is not in the
// file, and it is appended whatever it holds (two identical calls in a row are
// two records).  After the other causes the answer may be stored already: it
// is compared with the last record this gateway stored, and appended only when
// it differs.  That last record is kept in memory while the gateway runs and
// in a state file beside the accounting file across a restart, because a
// billing program collects the accounting file (moves or empties it) and the
// file's own last line is then gone.
//
// The state file is the accounting file's name with a dot in front and
// ".last" behind (DATA.NEW: .DATA.NEW.last), so a program that collects
// DATA.NEW, DATA.* or *.NEW leaves it alone.  It holds two CR LF lines: the
// mark "pending" (written before the append) or "stored" (after it), and the
// record text.  At start the accounting file's last line, when the file has
// one, is what was stored last (only this gateway writes the file, so it is
// right even when a state write failed); a missing or empty file falls back to
// a "stored" mark; a "pending" mark without the file means the append may not
// have happened, and the repeated record is taken (stored twice rather than
// lost, should the gateway have died between the append and the "stored" mark
// and the file have been collected before the next start).
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
    // The state file kept beside the accounting file `path`.
    static std::string StatePathFor(std::string_view path);

    // Appends the record and CR LF to the file `fileName` names, with the
    // state file marked around it.  Returns success; a failure sets
    // WriteFailed() and Error() until the next success.
    bool Append(std::string_view fileName, std::string_view record);
    bool WriteFailed() const { return writeFailed_; }
    const std::string& Error() const { return error_; }

    // The exchange's answer to an accounting request: `askedAgain` when it
    // answered 05.  A repeated record equal to the last one stored is not
    // appended again, unless the repeat was asked for because its append
    // failed.
    Outcome Store(std::string_view fileName, std::string_view record, bool askedAgain);
    // The exchange answered that it has no record (not even one to repeat).
    void NothingToStore();

    // The next request asks for the last record again (start-up, link-down
    // pause, reopened port).
    void ExpectRepeat() { repeat_ = true; }
    // Start-up: what was stored last is read now from the file and the state
    // file, and the first request asks for the last record again.
    void Resume(std::string_view fileName);
    // An accounting request goes out now; a previous one whose answer never
    // came makes this one a 05.
    void RequestSent() { awaitingAnswer_ = true; }
    // Whether the next accounting request is 05.
    bool AskAgain() const { return writeFailed_ || repeat_ || awaitingAnswer_; }

    // A problem with the state file worth a log line, once per run of
    // failures: none when there is nothing new to say.
    std::optional<std::string> TakeStateWarning();

private:
    void WriteState(const std::string& path, std::string_view mark, std::string_view record);

    std::string programDir_;
    std::unique_ptr<FileAppender> appender_;
    bool writeFailed_ = false;
    bool repeat_ = false;
    bool awaitingAnswer_ = false;
    std::string error_;
    // The last record this gateway stored; none when a repeat is to be taken
    // whatever it holds.
    std::optional<std::string> lastStored_;
    std::string stateWritten_; // path and content of the last state written
    bool stateFailing_ = false;
    std::optional<std::string> stateWarning_;
};

} // namespace vantor
