#pragma once
// Sends mail over SMTP with libcurl: plain, STARTTLS (required when
// configured) or SMTPS, with a login when one is given.  Every call is
// synchronous and bounded by the configured time-outs, because the gateway
// calls the library on its loop thread; a stop (StopSignal) ends a transfer
// within about a second.  Success means the server accepted the message
// after DATA, nothing less.
#include "Config.h"
#include "Logger.h"
#include "StopSignal.h"

#include <cstdint>
#include <string>

namespace vantorq9 {

// curl_global_init / curl_global_cleanup for the life of a session.
class CurlGlobal {
public:
    CurlGlobal();
    ~CurlGlobal();
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};

struct SmtpOutcome {
    std::int32_t status = 0; // a Status
    std::string error;       // why, for the log
};

class SmtpClient {
public:
    // user/password: the login; an empty user name means no login.
    SmtpClient(const SmtpConfig& config, std::string user, std::string password, Logger& log,
               const StopSignal& stop);

    // The URL as it will be used (the EHLO name added), or an error text.
    const std::string& Url() const { return url_; }
    const std::string& UrlError() const { return urlError_; }
    bool HasLogin() const { return !user_.empty(); }

    // Connects, greets, starts TLS and logs in as configured, then NOOP.
    SmtpOutcome Check();
    // One message from `from` to `to`; `message` is the complete mail text.
    SmtpOutcome Send(const std::string& from, const std::string& to, const std::string& message);

private:
    struct Transfer;
    SmtpOutcome Run(Transfer& transfer);

    const SmtpConfig& config_;
    std::string user_;
    std::string password_;
    Logger& log_;
    const StopSignal& stop_;
    std::string url_;
    std::string urlError_;
};

} // namespace vantorq9
