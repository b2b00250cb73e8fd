#pragma once
// What the data store hands to the call-centre plug-in while it is active:
// one call per kind of news from the exchange.  The plug-in binding
// implements it; the store only calls it when Active() is true.
#include <cstdint>
#include <span>
#include <string_view>

namespace vantor {

class PluginFeed {
public:
    virtual ~PluginFeed() = default;

    virtual bool Active() const = 0;

    // The 7 bytes of exchange info.
    virtual void PutInfo(std::span<const std::uint8_t, 7> info) = 0;
    // portCount ports, 4 bytes each (the number's characters padded with 0),
    // in a 224-byte array.
    virtual void PutLines(int portCount, std::span<const std::uint8_t, 224> portNumbers) = 0;
    // The 144 bytes of the port structure.
    virtual void PutPorts(std::span<const std::uint8_t, 144> portStructure) = 0;
    // lineCount entries of 4 bytes (state, two bytes as received, flags).
    virtual void PutStates(int lineCount, std::span<const std::uint8_t> states) = 0;
    // Caller data of one line (the reply from its byte 11 on).
    virtual void PutCLIP(int line, std::span<const std::uint8_t> callerData) = 0;
    // The queue reply from its byte 1 on; lineOffset is exchange info byte 2.
    virtual void PutFront(int lineOffset, std::span<const std::uint8_t> front) = 0;
    // One accounting record as the exchange sent it.
    virtual void PutAccLine(std::string_view record) = 0;
    // The short-number memory (66 blocks of 236 bytes) and the personal data
    // (48 entries of 20 words, as received).
    virtual void PutShorts(std::span<const std::uint8_t, 15576> shortNumbers,
                           std::span<const std::uint16_t, 960> personal) = 0;
};

} // namespace vantor
