#include "toolkit/LoopCore.h"

#include <chrono>
#include <thread>
#include <utility>

namespace vantor {

LoopCore::LoopCore(TaskQueue::WakeHook wake) : tasks_(std::move(wake)) {}

void LoopCore::post(Task task) { tasks_.post(std::move(task)); }

bool LoopCore::invoke(Task task) { return tasks_.invoke(std::move(task)); }

void LoopCore::quit(int code) {
    exitCode_ = code;
    quitRequested_ = true;
    tasks_.wake();
}

void LoopCore::setExceptionHandler(ExceptionHandler handler) {
    tasks_.setExceptionHandler(std::move(handler));
}

std::int64_t LoopCore::monotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int LoopCore::runOnThisThread(const std::function<void()>& body) {
    if (tasks_.ended()) return exitCode();
    tasks_.setLoopThread(std::this_thread::get_id());
    running_ = true;
    struct End {
        LoopCore& loop;
        ~End() {
            loop.running_ = false;
            loop.tasks_.end();
        }
    } end{*this};
    body();
    return exitCode();
}

} // namespace vantor
