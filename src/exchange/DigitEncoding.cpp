#include "exchange/DigitEncoding.h"

#include <algorithm>

namespace vantor {

std::string DecodePortNumber(std::span<const std::uint8_t> codes, std::size_t maxCodes) {
    std::string text;
    const std::size_t n = std::min(maxCodes, codes.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t code = codes[i];
        if (code == 0 || code == PortNumberAlphabet.size()) break;
        text.push_back(code < PortNumberAlphabet.size() ? PortNumberAlphabet[code]
                                                        : UnknownPortDigit);
    }
    return text;
}

std::uint8_t DialCode(char c) {
    const auto pos = DialAlphabet.find(c);
    return pos == std::string_view::npos ? 0 : static_cast<std::uint8_t>(pos + 1);
}

void EncodeDialText(std::string_view text, std::span<std::uint8_t> codes) {
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = i < text.size() ? DialCode(text[i]) : 0;
}

} // namespace vantor
