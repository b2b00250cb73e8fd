// Win32Loop keeps the rules every event loop shares.
#include "platform/win32/Win32Loop.h"
#include "support/LoopContract.h"

namespace vantor::test {
namespace {

struct Win32LoopTraits : RealLoopTraits<Win32Loop> {
    static std::unique_ptr<Win32Loop> Make() { return std::make_unique<Win32Loop>(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32Loop, LoopContract, Win32LoopTraits);

} // namespace
} // namespace vantor::test
