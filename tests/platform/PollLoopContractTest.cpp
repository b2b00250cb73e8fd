// PollLoop keeps the rules every event loop shares.
#include "platform/PollLoop.h"
#include "support/LoopContract.h"

namespace vantor::test {
namespace {

struct PollLoopTraits : RealLoopTraits<PollLoop> {
    static std::unique_ptr<PollLoop> Make() { return std::make_unique<PollLoop>(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(PollLoop, LoopContract, PollLoopTraits);

} // namespace
} // namespace vantor::test
