#pragma once
// An outside library (mail bridge, call-centre plug-in) as the gateway's
// bindings see it: named symbols.  The platform's loader opens real shared
// objects; tests hand the bindings fakes.
#include <functional>
#include <memory>
#include <string>

namespace vantor {

// A loaded outside library as its users see it: named symbols.  The mail
// bridge and the plug-in binding take this, so tests hand them fakes.
class SymbolSource {
public:
    virtual ~SymbolSource() = default;
    // Address of an exported symbol, nullptr when it is missing.
    virtual void* Symbol(const char* name) = 0;
};
// Opens a library by its Windows-style name ("Zelkor.dll"); nullptr when it
// cannot be loaded.
using SymbolSourceOpener = std::function<std::unique_ptr<SymbolSource>(const std::string& dllName)>;
} // namespace vantor
