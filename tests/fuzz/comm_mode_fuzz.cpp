// Fuzz target for the port settings text ("COM2:19200,N,8,1"): the mode
// parser on its own and the component's Set() on the whole text.  Checked:
// a parsed mode holds only values the port can take; Set() accepts exactly
// the texts whose mode part parses, and takes the device name from them.
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "serial/CommMode.h"
#include "serial/CommPax.h"
#include "toolkit/VirtualLoop.h"

using namespace vantor;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (const auto mode = ParseCommMode(text)) {
        if (mode->parity)
            Check(std::string_view("NOEMS").find(*mode->parity) != std::string_view::npos,
                  "parity letter outside N, O, E, M, S");
        if (mode->dataBits) Check(*mode->dataBits >= 4 && *mode->dataBits <= 8, "data bits");
        if (mode->stopBits) Check(*mode->stopBits <= 2, "stop bits");
    }

    VirtualLoop loop;
    TCommPax pax(nullptr, loop, [](const std::string&) {
        return SerialOpenResult{nullptr, ENOENT};
    });
    const bool taken = pax.Set(text);
    const auto colon = text.find(':');
    const bool expected = text.size() <= 39 && colon != std::string::npos &&
                          ParseCommMode(std::string_view(text).substr(colon + 1)).has_value();
    Check(taken == expected, "Set() and the parser disagree");
    if (taken) Check(pax.DeviceName() == text.substr(0, colon), "device name not taken");
    return 0;
}
