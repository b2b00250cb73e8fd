#pragma once
// The library's settings, read from its own INI file (the path the gateway
// passes as the mail system's configuration path).  Loading checks every
// value, so a wrong setting is refused at start with the file, line and
// reason rather than failing later on a message.  mailbridge/README.md
// documents the keys; vantorq9.sample.ini is a commented example.
#include "Charset.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorq9 {

struct SmtpConfig {
    std::string url;      // smtp://host[:port] or smtps://host[:port]; empty: no sending
    std::string from;     // envelope sender and From address
    std::string fromName; // display name (UTF-8)
    std::string user;     // login used when the gateway passes no user name
    std::string password;
    bool startTls = false; // require STARTTLS on an smtp:// URL
    bool verifyPeer = true;
    std::string caFile;
    int connectTimeoutSeconds = 5;
    int timeoutSeconds = 10; // a whole transfer, connection included
    bool checkAtStart = true;
};

enum class KindRule { Header, Folder };

struct KindConfig {
    KindRule rule = KindRule::Header;
    std::string header = "X-Message-Kind";
    std::vector<std::string> faxValues{"fax"};
    std::vector<std::string> voiceValues{"voice"};
    std::string faxFolder = ".Fax";
    std::string voiceFolder = ".Voice";
    bool countSeen = false; // count messages the user has already read
};

struct MailboxConfig {
    std::string extension; // as the exchange numbers it, 1..39 bytes
    std::string owner;     // UTF-8 as written in the file
    std::filesystem::path path;
};

struct BridgeConfig {
    TextCharset charset = TextCharset::Windows1250;
    SmtpConfig smtp;
    // Address template per address-type letter 'A'..'Z'; empty: none.
    std::array<std::string, 26> templates;
    KindConfig kinds;
    std::vector<MailboxConfig> mailboxes;
    std::vector<std::string> warnings; // unknown keys and the like

    const std::string* Template(char letter) const;
};

struct ConfigResult {
    std::optional<BridgeConfig> config;
    std::int32_t status = 0; // StatusConfigMissing or StatusConfigInvalid on failure
    std::string error;
};

// Reads the file.  Relative mailbox paths are taken from the file's folder.
ConfigResult LoadConfig(const std::string& path);
ConfigResult ParseConfig(std::string_view text, const std::filesystem::path& folder);

// "{address}" and "{digits}" are the placeholders of an address template.
bool TemplateIsValid(std::string_view text);

} // namespace vantorq9
