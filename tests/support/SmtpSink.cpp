#include "SmtpSink.h"

#include "EndToEnd.h"
#include "toolkit/Cp1250.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace vantor::test {

namespace {

using namespace std::chrono_literals;

std::string SinkScript() { return std::string(VANTOR_SOURCE_DIR) + "/tools/smtp-sink.py"; }

// Reads the JSON string that starts at `at` (its opening quote); moves `at`
// past the closing quote.
std::string ReadString(std::string_view json, std::size_t& at) {
    std::string out;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] != '\\' || at + 1 >= json.size()) {
            out += json[at];
            continue;
        }
        const char e = json[++at];
        switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u':
            if (at + 4 < json.size()) {
                AppendUtf8(out, static_cast<std::uint32_t>(std::strtoul(
                                    std::string(json.substr(at + 1, 4)).c_str(), nullptr, 16)));
                at += 4;
            }
            break;
        default: out += e; break;
        }
    }
    ++at;
    return out;
}

std::size_t ValueStart(std::string_view json, std::string_view field) {
    const std::string key = "\"" + std::string(field) + "\": ";
    const std::size_t at = json.find(key);
    return at == std::string_view::npos ? at : at + key.size();
}

} // namespace

std::string JsonString(std::string_view json, std::string_view field) {
    std::size_t at = ValueStart(json, field);
    if (at == std::string_view::npos || at >= json.size() || json[at] != '"') return {};
    return ReadString(json, at);
}

std::vector<std::string> JsonStrings(std::string_view json, std::string_view field) {
    std::vector<std::string> out;
    std::size_t at = ValueStart(json, field);
    if (at == std::string_view::npos || at >= json.size() || json[at] != '[') return out;
    for (++at; at < json.size() && json[at] != ']';) {
        if (json[at] == '"')
            out.push_back(ReadString(json, at));
        else
            ++at;
    }
    return out;
}

std::string SmtpSink::Python() {
    if (const char* env = std::getenv("VANTOR_PYTHON"); env && *env) return env;
    return "/usr/bin/python3";
}

SmtpSink::SmtpSink(std::vector<std::string> args) {
    // The port is free when chosen but could be taken before the sink binds
    // it; then the sink ends at once and another port is tried.
    std::string failure;
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = FreePort();
        ProcessOptions options;
        options.args = {"-u", SinkScript(), "--port", std::to_string(port_)};
        options.args.insert(options.args.end(), args.begin(), args.end());
        options.echoPrefix = "smtp-sink";
        process_ = std::make_unique<Process>(Python(), options);
        if (process_->WaitForLine("READY ", 15s)) return;
        failure = process_->Output(Process::Stream::Stderr);
    }
    throw ProcessError("smtp-sink did not start (is python3-aiosmtpd installed?): " + failure);
}

std::optional<ReceivedMail> SmtpSink::WaitForMail(Millis timeout) {
    const auto line = process_->WaitForLineAfter(cursor_, "MESSAGE ", timeout);
    if (!line) return std::nullopt;
    ReceivedMail mail;
    mail.from = JsonString(*line, "from");
    mail.to = JsonStrings(*line, "to");
    mail.subject = JsonString(*line, "subject");
    mail.text = JsonString(*line, "text");
    for (const char* h : {"From", "To", "Date", "Message-ID", "Content-Type",
                          "Content-Transfer-Encoding", "Auto-Submitted"})
        mail.headers[h] = JsonString(*line, h);
    mail.rawAscii = line->find("\"raw_ascii\": true") != std::string::npos;
    return mail;
}

std::size_t SmtpSink::Accepted() const {
    std::size_t n = 0;
    for (const std::string& l : process_->Lines())
        if (l.rfind("MESSAGE ", 0) == 0) ++n;
    return n;
}

SilentServer::SilentServer() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
}

SilentServer::~SilentServer() { ::close(fd_); }

} // namespace vantor::test
