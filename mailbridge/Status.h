#pragma once
// The statuses the library's entry points return.  0 is success; every
// failure has its own number, so a technician who finds one in the gateway's
// log can look it up in the README's table.  2005 is fixed by the interface:
// the gateway re-reads such a mailbox whole.
#include <cstdint>

namespace vantorq9 {

enum Status : std::int32_t {
    StatusOk = 0,
    // Initialisation
    StatusConfigMissing = 1001, // configuration file missing or unreadable
    StatusConfigInvalid = 1002, // configuration file holds something it must not
    StatusNotInitialised = 1003,
    // Talking to the mail server
    StatusServerUnreachable = 1101, // name not resolved, connection refused
    StatusLoginRefused = 1102,
    StatusTlsFailed = 1103,
    StatusTimedOut = 1104,
    StatusCancelled = 1105,      // ZastavAkci
    StatusMessageRefused = 1106, // the server answered with an error code
    StatusConnectionLost = 1107, // the server dropped the line or spoke nonsense
    StatusSendingOff = 1108,     // no SMTP server configured
    StatusMailFailed = 1109,     // any other transfer failure
    // What the gateway handed over
    StatusNoTemplate = 1201, // an address type without an address template
    StatusBadAddress = 1202, // the recipient is no usable e-mail address
    // Mailboxes
    StatusReadFailed = 1301, // the read as a whole failed (cancelled, out of memory)
    StatusUnknownRecord = 1302,
    StatusMailboxUnreadable = 2005,
};

} // namespace vantorq9
