#include "Address.h"

#include "IniText.h"
#include "Status.h"

namespace vantorq9 {

bool IsMailAddress(std::string_view text) {
    const std::size_t at = text.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == text.size() || text.size() > 254)
        return false;
    static constexpr std::string_view Specials = "()<>[]\\,;:\"@ ";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c >= 0x7F) return false;
        if (i != at && Specials.find(static_cast<char>(c)) != std::string_view::npos) return false;
    }
    const std::string_view domain = text.substr(at + 1);
    if (domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string::npos)
        return false;
    for (const char c : domain)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.')) return false;
    return true;
}

std::string Digits(std::string_view address) {
    std::string out;
    const std::string_view trimmed = Trim(address);
    if (trimmed.starts_with('+')) out += '+';
    for (const char c : trimmed)
        if (c >= '0' && c <= '9') out += c;
    return out == "+" ? std::string() : out;
}

Recipient ResolveRecipient(const BridgeConfig& config, char type, std::string_view address) {
    Recipient r;
    const char letter = type == '\0' ? 'I' : type;
    const std::string* pattern = config.Template(letter);
    if (!pattern) {
        r.status = StatusNoTemplate;
        r.error = "address type '" + std::string(1, letter) +
                  "' has no template in [Addresses]; message not sent";
        return r;
    }
    const std::string_view given = Trim(address);
    std::string result;
    for (std::size_t i = 0; i < pattern->size(); ++i) {
        const std::string_view rest = std::string_view(*pattern).substr(i);
        if (rest.starts_with("{address}")) {
            result += given;
            i += 8;
        } else if (rest.starts_with("{digits}")) {
            result += Digits(given);
            i += 7;
        } else {
            result += (*pattern)[i];
        }
    }
    if (!IsMailAddress(result)) {
        r.status = StatusBadAddress;
        r.error = "'" + std::string(given) + "' (type '" + std::string(1, letter) + "') gives '" +
                  result + "', which is no e-mail address; message not sent";
        return r;
    }
    r.address = std::move(result);
    return r;
}

} // namespace vantorq9
