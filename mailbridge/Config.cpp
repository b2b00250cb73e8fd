#include "Config.h"

#include "Address.h"
#include "IniText.h"
#include "Status.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <set>
#include <system_error>

namespace vantorq9 {

namespace {

constexpr std::uintmax_t MaxFileBytes = 1u << 20;
constexpr std::size_t MaxExtension = 39; // the record's 40-byte field with its NUL

struct ConfigError {
    std::string text;
};

[[noreturn]] void Fail(const IniEntry& e, const std::string& what) {
    throw ConfigError{"line " + std::to_string(e.line) + ": " + e.key + ": " + what};
}

bool ParseBool(const IniEntry& e) {
    for (const char* yes : {"yes", "true", "on", "1"})
        if (SameName(e.value, yes)) return true;
    for (const char* no : {"no", "false", "off", "0"})
        if (SameName(e.value, no)) return false;
    Fail(e, "'" + e.value + "' is neither yes nor no");
}

int ParseInt(const IniEntry& e, int min, int max) {
    int value = 0;
    const char* end = e.value.data() + e.value.size();
    auto [ptr, ec] = std::from_chars(e.value.data(), end, value);
    if (e.value.empty() || ec != std::errc{} || ptr != end || value < min || value > max)
        Fail(e, "'" + e.value + "' is not a number from " + std::to_string(min) + " to " +
                    std::to_string(max));
    return value;
}

std::vector<std::string> ParseList(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        if (!item.empty()) out.emplace_back(item);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    return out;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

void ReadGeneral(const IniSection& s, BridgeConfig& c) {
    for (const IniEntry& e : s.entries) {
        if (SameName(e.key, "Charset")) {
            if (!ParseCharset(e.value, c.charset))
                Fail(e, "'" + e.value + "' is not windows-1250 or utf-8");
        } else {
            c.warnings.push_back("line " + std::to_string(e.line) + ": unknown key " + e.key +
                                 " in [" + s.name + "]");
        }
    }
}

void ReadSmtp(const IniSection& s, BridgeConfig& c) {
    SmtpConfig& m = c.smtp;
    for (const IniEntry& e : s.entries) {
        if (SameName(e.key, "Url")) {
            if (!e.value.empty() && !StartsWithIgnoringCase(e.value, "smtp://") &&
                !StartsWithIgnoringCase(e.value, "smtps://"))
                Fail(e, "must begin with smtp:// or smtps://");
            m.url = e.value;
        } else if (SameName(e.key, "From")) {
            if (!IsMailAddress(e.value)) Fail(e, "'" + e.value + "' is not an e-mail address");
            m.from = e.value;
        } else if (SameName(e.key, "FromName")) {
            m.fromName = e.value;
        } else if (SameName(e.key, "User")) {
            m.user = e.value;
        } else if (SameName(e.key, "Password")) {
            m.password = e.value;
        } else if (SameName(e.key, "StartTls")) {
            m.startTls = ParseBool(e);
        } else if (SameName(e.key, "VerifyPeer")) {
            m.verifyPeer = ParseBool(e);
        } else if (SameName(e.key, "CaFile")) {
            m.caFile = e.value;
        } else if (SameName(e.key, "ConnectTimeout")) {
            m.connectTimeoutSeconds = ParseInt(e, 1, 60);
        } else if (SameName(e.key, "Timeout")) {
            m.timeoutSeconds = ParseInt(e, 1, 300);
        } else if (SameName(e.key, "CheckAtStart")) {
            m.checkAtStart = ParseBool(e);
        } else {
            c.warnings.push_back("line " + std::to_string(e.line) + ": unknown key " + e.key +
                                 " in [" + s.name + "]");
        }
    }
}

void ReadAddresses(const IniSection& s, BridgeConfig& c) {
    for (const IniEntry& e : s.entries) {
        const char letter =
            e.key.size() == 1
                ? static_cast<char>(std::toupper(static_cast<unsigned char>(e.key[0])))
                : '\0';
        if (letter < 'A' || letter > 'Z') Fail(e, "an address type is one letter A to Z");
        if (e.value.empty()) Fail(e, "empty template");
        if (!TemplateIsValid(e.value))
            Fail(e, "a template knows only {address} and {digits}: '" + e.value + "'");
        c.templates[static_cast<std::size_t>(letter - 'A')] = e.value;
    }
}

void ReadKinds(const IniSection& s, BridgeConfig& c) {
    KindConfig& k = c.kinds;
    for (const IniEntry& e : s.entries) {
        if (SameName(e.key, "Rule")) {
            if (SameName(e.value, "header"))
                k.rule = KindRule::Header;
            else if (SameName(e.value, "folder"))
                k.rule = KindRule::Folder;
            else
                Fail(e, "'" + e.value + "' is neither header nor folder");
        } else if (SameName(e.key, "Header")) {
            if (e.value.empty() || e.value.find_first_of(": ") != std::string::npos)
                Fail(e, "'" + e.value + "' is no header name");
            k.header = e.value;
        } else if (SameName(e.key, "Fax")) {
            k.faxValues = ParseList(e.value);
        } else if (SameName(e.key, "Voice")) {
            k.voiceValues = ParseList(e.value);
        } else if (SameName(e.key, "FaxFolder") || SameName(e.key, "VoiceFolder")) {
            if (e.value.empty() || e.value.find('/') != std::string::npos || e.value == "." ||
                e.value == "..")
                Fail(e, "'" + e.value + "' is no sub-folder name of a Maildir");
            (SameName(e.key, "FaxFolder") ? k.faxFolder : k.voiceFolder) = e.value;
        } else if (SameName(e.key, "CountSeen")) {
            k.countSeen = ParseBool(e);
        } else {
            c.warnings.push_back("line " + std::to_string(e.line) + ": unknown key " + e.key +
                                 " in [" + s.name + "]");
        }
    }
}

void ReadMailbox(const IniSection& s, std::string_view extension,
                 const std::filesystem::path& folder, BridgeConfig& c) {
    const std::string where = "line " + std::to_string(s.line) + ": [" + s.name + "]: ";
    if (extension.empty() || extension.size() > MaxExtension)
        throw ConfigError{where + "the extension must have 1 to 39 characters"};
    for (const char ch : extension)
        if (static_cast<unsigned char>(ch) < 0x21 || static_cast<unsigned char>(ch) > 0x7E)
            throw ConfigError{where + "the extension holds a blank or a character beyond ASCII"};
    for (const MailboxConfig& m : c.mailboxes)
        if (m.extension == extension)
            throw ConfigError{where + "extension " + std::string(extension) +
                              " has a mailbox already"};
    MailboxConfig m{std::string(extension), std::string(extension), {}};
    for (const IniEntry& e : s.entries) {
        if (SameName(e.key, "Owner")) {
            m.owner = e.value;
        } else if (SameName(e.key, "Path")) {
            if (e.value.empty()) Fail(e, "empty path");
            m.path = folder / e.value; // an absolute value replaces the folder
        } else {
            c.warnings.push_back("line " + std::to_string(e.line) + ": unknown key " + e.key +
                                 " in [" + s.name + "]");
        }
    }
    if (m.path.empty()) throw ConfigError{where + "Path is missing"};
    c.mailboxes.push_back(std::move(m));
}

} // namespace

const std::string* BridgeConfig::Template(char letter) const {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (upper < 'A' || upper > 'Z') return nullptr;
    const std::string& t = templates[static_cast<std::size_t>(upper - 'A')];
    return t.empty() ? nullptr : &t;
}

bool TemplateIsValid(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '}') return false;
        if (text[i] != '{') continue;
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("{address}"))
            i += 8;
        else if (rest.starts_with("{digits}"))
            i += 7;
        else
            return false;
    }
    return true;
}

ConfigResult ParseConfig(std::string_view text, const std::filesystem::path& folder) {
    ConfigResult result;
    std::string error;
    const auto sections = ParseIni(text, error);
    if (!sections) {
        result.status = StatusConfigInvalid;
        result.error = error;
        return result;
    }
    BridgeConfig c;
    c.templates['I' - 'A'] = "{address}";
    try {
        std::set<std::string> seen;
        for (const IniSection& s : *sections) {
            std::string lower;
            for (const char ch : s.name)
                lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (lower.starts_with("mailbox ") || lower.starts_with("mailbox\t")) {
                ReadMailbox(s, Trim(std::string_view(s.name).substr(8)), folder, c);
                continue;
            }
            if (!seen.insert(lower).second)
                throw ConfigError{"line " + std::to_string(s.line) + ": [" + s.name +
                                  "] appears twice"};
            if (lower == "general")
                ReadGeneral(s, c);
            else if (lower == "smtp")
                ReadSmtp(s, c);
            else if (lower == "addresses")
                ReadAddresses(s, c);
            else if (lower == "kinds")
                ReadKinds(s, c);
            else
                c.warnings.push_back("line " + std::to_string(s.line) + ": unknown section [" +
                                     s.name + "]");
        }
        if (!c.smtp.url.empty() && c.smtp.from.empty())
            throw ConfigError{"[SMTP] From is needed to send mail"};
        if (c.smtp.url.empty() && c.mailboxes.empty())
            throw ConfigError{"neither an SMTP server ([SMTP] Url) nor a [Mailbox ...] is set"};
    } catch (const ConfigError& e) {
        result.status = StatusConfigInvalid;
        result.error = e.text;
        return result;
    }
    result.config = std::move(c);
    return result;
}

ConfigResult LoadConfig(const std::string& path) {
    ConfigResult result;
    result.status = StatusConfigMissing;
    if (path.empty()) {
        result.error = "no configuration file named (key CestaKeKonfiguraciMail602 of the "
                       "gateway's section M602)";
        return result;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        result.error = path + ": " + ec.message();
        return result;
    }
    if (size > MaxFileBytes) {
        result.status = StatusConfigInvalid;
        result.error = path + ": larger than 1 MiB, not a configuration file";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!in || !in.read(text.data(), static_cast<std::streamsize>(size))) {
        result.error = path + ": cannot be read";
        return result;
    }
    result = ParseConfig(text, std::filesystem::absolute(path, ec).parent_path());
    if (!result.config) result.error = path + ": " + result.error;
    return result;
}

} // namespace vantorq9
