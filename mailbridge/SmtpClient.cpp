#include "SmtpClient.h"

#include "Status.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace vantorq9 {

namespace {

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlText {
    void operator()(char* t) const { curl_free(t); }
};

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

// libcurl takes the URL's path as the name to greet with (EHLO); without one
// it would say "localhost", which some servers refuse.
std::string PrepareUrl(const std::string& configured, std::string& error) {
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url) {
        error = "out of memory";
        return {};
    }
    if (CURLUcode rc = curl_url_set(url.get(), CURLUPART_URL, configured.c_str(), 0); rc) {
        error = "[SMTP] Url '" + configured + "': " + curl_url_strerror(rc);
        return {};
    }
    char* path = nullptr;
    curl_url_get(url.get(), CURLUPART_PATH, &path, 0);
    std::unique_ptr<char, CurlText> pathText(path);
    if (!path || std::string_view(path).empty() || std::string_view(path) == "/")
        curl_url_set(url.get(), CURLUPART_PATH, ("/" + HostName()).c_str(), 0);
    char* full = nullptr;
    curl_url_get(url.get(), CURLUPART_URL, &full, 0);
    std::unique_ptr<char, CurlText> fullText(full);
    return full ? std::string(full) : configured;
}

struct Upload {
    const std::string* data;
    std::size_t offset = 0;
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* up = static_cast<Upload*>(user);
    const std::size_t n = std::min(size * count, up->data->size() - up->offset);
    std::copy_n(up->data->data() + up->offset, n, buffer);
    up->offset += n;
    return n;
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const CancelToken*>(user)->Requested() ? 1 : 0;
}

// The SMTP dialogue at debug level 3, without the login: only the commands
// that carry no secret are shown as they are.
int Debug(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
    auto* log = static_cast<Logger*>(user);
    std::string_view text(data, size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    switch (type) {
    case CURLINFO_TEXT: log->Trace("* " + Printable(text)); break;
    case CURLINFO_HEADER_IN: log->Trace("< " + Printable(text)); break;
    case CURLINFO_HEADER_OUT: {
        static constexpr const char* Open[] = {"EHLO", "HELO",     "MAIL", "RCPT", "DATA",
                                               "QUIT", "STARTTLS", "NOOP", "RSET"};
        bool shown = false;
        for (const char* command : Open)
            if (text.starts_with(command)) shown = true;
        log->Trace("> " + (shown ? Printable(text) : std::string("(login data not shown)")));
        break;
    }
    default: break;
    }
    return 0;
}

std::int32_t StatusOf(CURLcode rc, long response) {
    switch (rc) {
    case CURLE_OK: return StatusOk;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT: return StatusServerUnreachable;
    case CURLE_LOGIN_DENIED: return StatusLoginRefused;
    case CURLE_OPERATION_TIMEDOUT: return StatusTimedOut;
    case CURLE_ABORTED_BY_CALLBACK: return StatusCancelled;
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_PEER_FAILED_VERIFICATION: return StatusTlsFailed;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
        return response >= 400 ? StatusMessageRefused : StatusConnectionLost;
    default: return response >= 400 ? StatusMessageRefused : StatusMailFailed;
    }
}

} // namespace

CurlGlobal::CurlGlobal() : ok_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
CurlGlobal::~CurlGlobal() {
    if (ok_) curl_global_cleanup();
}

struct SmtpClient::Transfer {
    std::unique_ptr<CURL, EasyDeleter> handle{curl_easy_init()};
    std::unique_ptr<curl_slist, ListDeleter> recipients;
    std::string from;
    const std::string* message = nullptr;
    Upload upload{nullptr};
};

SmtpClient::SmtpClient(const SmtpConfig& config, std::string user, std::string password,
                       Logger& log, const StopSignal& stop)
    : config_(config), user_(std::move(user)), password_(std::move(password)), log_(log),
      stop_(stop) {
    if (!config_.url.empty()) url_ = PrepareUrl(config_.url, urlError_);
}

SmtpOutcome SmtpClient::Check() {
    Transfer t;
    return Run(t);
}

SmtpOutcome SmtpClient::Send(const std::string& from, const std::string& to,
                             const std::string& message) {
    Transfer t;
    t.from = "<" + from + ">";
    t.recipients.reset(curl_slist_append(nullptr, ("<" + to + ">").c_str()));
    t.message = &message;
    t.upload.data = &message;
    return Run(t);
}

SmtpOutcome SmtpClient::Run(Transfer& t) {
    if (url_.empty()) return {StatusSendingOff, "no SMTP server configured ([SMTP] Url)"};
    if (!urlError_.empty()) return {StatusMailFailed, urlError_};
    CURL* h = t.handle.get();
    if (!h) return {StatusMailFailed, "libcurl could not start a transfer"};
    CancelToken cancel(stop_);
    char error[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(config_.connectTimeoutSeconds));
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(config_.timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_USE_SSL, config_.startTls ? CURLUSESSL_ALL : CURLUSESSL_NONE);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, config_.verifyPeer ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, config_.verifyPeer ? 2L : 0L);
    if (!config_.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, config_.caFile.c_str());
    if (!user_.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user_.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password_.c_str());
    }
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &cancel);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
    if (log_.Enabled(LogLevel::Trace)) {
        curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &Debug);
        curl_easy_setopt(h, CURLOPT_DEBUGDATA, &log_);
    }
    if (t.message) {
        curl_easy_setopt(h, CURLOPT_MAIL_FROM, t.from.c_str());
        curl_easy_setopt(h, CURLOPT_MAIL_RCPT, t.recipients.get());
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadUpload);
        curl_easy_setopt(h, CURLOPT_READDATA, &t.upload);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(t.message->size()));
    } else {
        // Without recipients and data libcurl sends this one command after
        // the greeting, TLS and login: enough to prove the way is open.
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "NOOP");
    }

    const CURLcode rc = curl_easy_perform(h);
    long response = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response);
    SmtpOutcome outcome;
    outcome.status = StatusOf(rc, response);
    if (outcome.status != StatusOk) {
        outcome.error = error[0] ? std::string(error) : curl_easy_strerror(rc);
        if (response >= 400) outcome.error += " (server answered " + std::to_string(response) + ")";
    }
    return outcome;
}

} // namespace vantorq9
