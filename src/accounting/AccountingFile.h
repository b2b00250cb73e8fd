#pragma once
// The accounting file: every record the exchange hands out is appended to it,
// one line each ending in CR LF, and must be on the device before the next
// record is asked for.  The appender (the platform's) locks the file for the
// append, writes every byte, flushes it, and cuts a half write back, so the
// file never holds half a record.
//
// A failed append leaves the file as it was and marks the failure; the next
// accounting request then asks for the same record again (request 05).
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/FileAppender.h"

namespace vantor {

class AccountingFile {
public:
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
    // Whether the next accounting request asks for the last record again.
    bool AskAgain() const { return writeFailed_; }
    const std::string& Error() const { return error_; }

private:
    std::string programDir_;
    std::unique_ptr<FileAppender> appender_;
    bool writeFailed_ = false;
    std::string error_;
};

} // namespace vantor
