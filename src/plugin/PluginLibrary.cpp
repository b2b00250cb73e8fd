#include "platform/DynamicLibrary.h"
#include "plugin/XAPI.h"

namespace vantor {

namespace {

class SystemPluginLibrary final : public PluginLibrary {
public:
    explicit SystemPluginLibrary(DynamicLibrary library) : library_(std::move(library)) {}
    void* Symbol(const char* name) override { return library_.Symbol(name); }

private:
    DynamicLibrary library_;
};

} // namespace

PluginLibraryOpener SystemPluginLibraryOpener(std::string gatewayFolder)
{
    return [folder = std::move(gatewayFolder)](const std::string& dllName) -> std::unique_ptr<PluginLibrary> {
        DynamicLibrary library;
        if (!library.Open(dllName, folder))
            return nullptr;
        return std::make_unique<SystemPluginLibrary>(std::move(library));
    };
}

} // namespace vantor
