#pragma once
// Who a message goes to.  The gateway hands over an address and a one-letter
// address type: 'I' (and no type at all) is an e-mail address, the other
// letters ('Q' SMS, 'F' fax, 'V', 'L', 'Z') become an e-mail address through
// the configured template of their letter, for example an e-mail-to-SMS
// gateway "{digits}@sms.example".  A letter without a template, or a result
// that is no plain e-mail address, is refused: the address ends up on the
// SMTP command line, so nothing that could add a command or a header passes.
#include "Config.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorq9 {

// local@domain in printable ASCII, without blanks, quotes, brackets or other
// characters that have a meaning in an address header.
bool IsMailAddress(std::string_view text);

// "{digits}": the digits of the address, with its leading '+' if any.
std::string Digits(std::string_view address);

struct Recipient {
    std::int32_t status = 0; // StatusNoTemplate / StatusBadAddress on failure
    std::string address;     // the e-mail address when status is 0
    std::string error;
};

// `address` is already UTF-8.
Recipient ResolveRecipient(const BridgeConfig& config, char type, std::string_view address);

} // namespace vantorq9
