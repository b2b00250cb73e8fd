#pragma once
// What the exchange side and the mail bridge offer each other.  The mail
// bridge is the link's and the reply dispatch's MailPort; the data store's
// port table is the mailbox poll's MessageCounterTable.
#include <cstdint>
#include <string_view>

namespace vantor {

class MailPort {
public:
    static constexpr int TrapLinkLost = 1;
    static constexpr int TrapLinkRestored = 2;

    virtual ~MailPort() = default;
    // The mail library is loaded and bound.
    virtual bool Bound() const = 0;
    // Reads the mailboxes into the port table; true when something was read.
    virtual bool PollMailboxes() = 0;
    // TrapLinkLost or TrapLinkRestored; true when the library took the trap.
    virtual bool SendTrap(int kind) = 0;
    // A message the exchange hands out, sent by mail.
    virtual void SendStatusMessage(std::string_view address, char addressType,
                                   std::string_view subject, std::string_view text, char flag) = 0;
};

// The per-port message counters of the exchange data store, as the mailbox
// poll writes them (SMS, voice, fax, fourth in table order; see TDataStore).
class MessageCounterTable {
public:
    static constexpr std::uint8_t NoPort = 255;

    virtual ~MessageCounterTable() = default;
    virtual void ClearCounters() = 0;
    // The port's counters become a, c, b, d in table order; returns d, or
    // NoPort when no port has that number.
    virtual std::uint8_t SetCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                                     std::uint8_t c, std::uint8_t d) = 0;
    // The same arrangement, adding modulo 256.
    virtual std::uint8_t AddCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                                     std::uint8_t c, std::uint8_t d) = 0;
};

} // namespace vantor
