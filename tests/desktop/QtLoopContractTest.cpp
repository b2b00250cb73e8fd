// QtLoop keeps the rules every event loop shares, and serves the serial
// event thread's blocking invoke while a modal dialog runs Qt's nested loop.
#include "desktop/QtDesktop.h"
#include "desktop/QtLoop.h"
#include "platform/PollLoop.h"
#include "support/LoopContract.h"
#include "toolkit/Forms.h"

#include <chrono>
#include <thread>

namespace vantor::test {
namespace {

using desktop::QtLoop;

struct QtLoopTraits : RealLoopTraits<QtLoop> {
    static std::unique_ptr<QtLoop> Make() {
        return std::make_unique<QtLoop>(&PollLoop::Readiness);
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(QtLoop, LoopContract, QtLoopTraits);

TEST(QtLoopModal, BlockingInvokeFromAnotherThreadRunsWhileADialogIsOpen) {
    QtLoop loop(&PollLoop::Readiness);
    desktop::QtDesktop desktop(loop);
    TApplication app(loop, desktop);
    TForm dialog(app, nullptr);
    dialog.DoCreate();
    bool ranInsideTheDialog = false;
    std::atomic<bool> invoked{false};
    std::thread eventThread;
    desktop.BeforeBlockingWindow = [&](QWidget&) {
        // The serial event thread hands an event over while the dialog is
        // open; the task ends the dialog as a handler setting a result would.
        eventThread = std::thread([&] {
            invoked = loop.invoke([&] {
                ranInsideTheDialog = dialog.Modal();
                dialog.SetModalResult(mrOk);
            });
        });
    };
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    eventThread.join();
    EXPECT_TRUE(invoked.load());
    EXPECT_TRUE(ranInsideTheDialog);
}

TEST(QtLoopModal, AQuitEndsAnOpenDialogWithCancel) {
    QtLoop loop(&PollLoop::Readiness);
    desktop::QtDesktop desktop(loop);
    TApplication app(loop, desktop);
    TForm dialog(app, nullptr);
    dialog.DoCreate();
    int result = -1;
    // A stop request (SIGTERM) while a settings dialog is open: the dialog
    // ends, the loop ends, nothing hangs.
    loop.post([&] { result = dialog.ShowModal(); });
    desktop.BeforeBlockingWindow = [&](QWidget&) { loop.post([&] { loop.quit(4); }); };
    EXPECT_EQ(loop.run(), 4);
    EXPECT_EQ(result, mrCancel);
}

} // namespace
} // namespace vantor::test
