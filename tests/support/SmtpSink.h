#pragma once
// tools/smtp-sink.py (aiosmtpd) as a test fixture: a local SMTP server on a
// free port of 127.0.0.1 that reports every message it accepts.  Arguments
// select its faults (--refuse rcpt|data, --drop, --auth U:P, --tls-cert/--tls-key).
//
//   SmtpSink sink;
//   ... point the library at sink.Url() ...
//   auto mail = sink.WaitForMail(10s);
//   EXPECT_EQ(mail->subject, "Spojení ztraceno");
#include "Process.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor::test {

struct ReceivedMail {
    std::string from;
    std::vector<std::string> to;
    std::string subject; // decoded
    std::string text;    // decoded, LF line ends
    std::map<std::string, std::string> headers;
    bool rawAscii = false; // the message as sent was 7-bit
};

class SmtpSink {
public:
    using Millis = Process::Millis;

    // Throws ProcessError when the server does not come up.
    explicit SmtpSink(std::vector<std::string> args = {});

    int Port() const { return port_; }
    std::string Url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }
    Process& process() { return *process_; }

    // The next accepted message after the previous one waited for.
    std::optional<ReceivedMail> WaitForMail(Millis timeout);
    // Messages accepted so far.
    std::size_t Accepted() const;

    // Debian's python3, which has python3-aiosmtpd ($VANTOR_PYTHON overrides).
    static std::string Python();

private:
    std::unique_ptr<Process> process_;
    int port_ = 0;
    std::size_t cursor_ = 0;
};

// A server that takes connections into its backlog and never says a word:
// a mail server that hangs.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    std::string Url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_;
    int port_ = 0;
};

// The value of a JSON string field in a one-line object ("" when missing);
// enough for the sink's lines.
std::string JsonString(std::string_view json, std::string_view field);
std::vector<std::string> JsonStrings(std::string_view json, std::string_view field);

} // namespace vantor::test
