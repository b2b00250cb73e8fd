#include "platform/DynamicLibrary.h"
#include "mail/MailBridge.h"

namespace vantor {

namespace {

class SystemMailLibrary final : public MailLibrary {
public:
    explicit SystemMailLibrary(DynamicLibrary library) : library_(std::move(library)) {}
    void* Symbol(const char* name) override { return library_.Symbol(name); }

private:
    DynamicLibrary library_;
};

} // namespace

MailLibraryOpener SystemMailLibraryOpener(std::string gatewayFolder)
{
    return [folder = std::move(gatewayFolder)](const std::string& dllName) -> std::unique_ptr<MailLibrary> {
        DynamicLibrary library;
        if (!library.Open(dllName, folder))
            return nullptr;
        return std::make_unique<SystemMailLibrary>(std::move(library));
    };
}

} // namespace vantor
