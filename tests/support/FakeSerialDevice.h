#pragma once
// An in-memory serial line for the port tests: the test plays the far end
// (receive() puts bytes into the input queue and wakes the event thread),
// inspects what was written, and switches failures on per call.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/SerialDevice.h"

namespace vantor::test {

struct FakeLine {
    std::mutex mutex;
    std::condition_variable wake;

    // Far end.
    std::deque<std::uint8_t> input;
    std::vector<std::uint8_t> output;
    std::uint32_t events = 0; // raised, not yet taken by waitEvents
    int lostError = 0;        // the device goes away with this error
    bool interrupted = false;
    std::uint32_t lineErrors = 0; // reported by the next clearErrors

    // Driver state.
    SerialLineSettings state;
    std::uint32_t eventMask = 0;
    std::uint32_t modemLines = 0;
    bool dtr = true;
    int purges = 0;
    int drains = 0; // output drained before a close
    unsigned lastPurge = 0;
    bool closed = false;
    int waitCalls = 0;
    int setStateCalls = 0;

    // Failures (errno values; 0 = succeed).
    int getStateError = 0, setStateError = 0, timeoutsError = 0, queueError = 0;
    int readError = 0, writeError = 0, dtrError = 0, modemError = 0;
    bool writeTimesOut = false;

    // Called after each write, with the lock NOT held (it may call receive()).
    std::function<void(const std::vector<std::uint8_t>& written)> onWrite;

    void receive(const std::vector<std::uint8_t>& bytes) {
        {
            std::lock_guard lock(mutex);
            input.insert(input.end(), bytes.begin(), bytes.end());
            events |= 0x0001;
        }
        wake.notify_all();
    }
    void receive(const std::string& text) {
        receive(std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    void raise(std::uint32_t eventBits) {
        {
            std::lock_guard lock(mutex);
            events |= eventBits;
        }
        wake.notify_all();
    }
    void vanish(int error) {
        {
            std::lock_guard lock(mutex);
            lostError = error;
        }
        wake.notify_all();
    }
    std::vector<std::uint8_t> takeOutput() {
        std::lock_guard lock(mutex);
        return std::exchange(output, {});
    }
    std::size_t waiting() {
        std::lock_guard lock(mutex);
        return input.size();
    }
};

class FakeSerialDevice final : public SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeLine> line, bool charDevice = true)
        : line_(std::move(line)), charDevice_(charDevice) {}

    bool isCharacterDevice() const override { return charDevice_; }
    int getState(SerialLineSettings& s) override {
        std::lock_guard lock(line_->mutex);
        if (line_->getStateError) return line_->getStateError;
        s = line_->state;
        return 0;
    }
    int setState(const SerialLineSettings& s) override {
        std::lock_guard lock(line_->mutex);
        if (line_->setStateError) return line_->setStateError;
        line_->state = s;
        ++line_->setStateCalls;
        return 0;
    }
    int setImmediateReads() override { return line_->timeoutsError; }
    int setQueueSizes(int, int) override { return line_->queueError; }
    SerialIoResult read(std::span<std::uint8_t> into) override {
        std::lock_guard lock(line_->mutex);
        if (line_->readError) return {0, line_->readError};
        std::size_t n = 0;
        while (n < into.size() && !line_->input.empty()) {
            into[n++] = line_->input.front();
            line_->input.pop_front();
        }
        return {static_cast<long>(n), 0};
    }
    SerialIoResult write(std::span<const std::uint8_t> bytes, int) override {
        std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
        std::function<void(const std::vector<std::uint8_t>&)> hook;
        {
            std::lock_guard lock(line_->mutex);
            if (line_->writeError) return {0, line_->writeError};
            if (line_->writeTimesOut) return {-1, 0};
            line_->output.insert(line_->output.end(), bytes.begin(), bytes.end());
            hook = line_->onWrite;
        }
        if (hook) hook(copy);
        return {static_cast<long>(bytes.size()), 0};
    }
    int clearErrors(std::uint32_t& errors, int& inputQueue) override {
        std::lock_guard lock(line_->mutex);
        errors = std::exchange(line_->lineErrors, 0);
        inputQueue = static_cast<int>(line_->input.size());
        return 0;
    }
    int purge(unsigned flags) override {
        std::lock_guard lock(line_->mutex);
        ++line_->purges;
        line_->lastPurge = flags;
        return 0;
    }
    int drainOutput(int) override {
        std::lock_guard lock(line_->mutex);
        ++line_->drains;
        return 0;
    }
    int setDTR(bool on) override {
        std::lock_guard lock(line_->mutex);
        if (line_->dtrError) return line_->dtrError;
        line_->dtr = on;
        return 0;
    }
    int modemStatus(std::uint32_t& status) override {
        std::lock_guard lock(line_->mutex);
        if (line_->modemError) return line_->modemError;
        status = line_->modemLines;
        return 0;
    }
    int setEventMask(std::uint32_t mask) override {
        std::lock_guard lock(line_->mutex);
        line_->eventMask = mask;
        return 0;
    }
    SerialWaitResult waitEvents() override {
        std::unique_lock lock(line_->mutex);
        ++line_->waitCalls;
        line_->wake.wait(lock, [&] {
            return line_->interrupted || line_->lostError || (line_->events & line_->eventMask);
        });
        if (std::exchange(line_->interrupted, false)) return {};
        const std::uint32_t events = line_->events & line_->eventMask;
        line_->events &= ~events;
        return {events, line_->lostError};
    }
    void interruptWait() override {
        {
            std::lock_guard lock(line_->mutex);
            line_->interrupted = true;
        }
        line_->wake.notify_all();
    }
    void close() override {
        std::lock_guard lock(line_->mutex);
        line_->closed = true;
    }

private:
    std::shared_ptr<FakeLine> line_;
    bool charDevice_;
};

// A factory that hands out devices on `line`, or fails with openError.
inline SerialDeviceFactory FakeFactory(std::shared_ptr<FakeLine> line, int openError = 0,
                                       bool charDevice = true, std::string* openedName = nullptr) {
    return [=](const std::string& name) -> SerialOpenResult {
        if (openedName) *openedName = name;
        if (openError) return {nullptr, openError};
        return {std::make_unique<FakeSerialDevice>(line, charDevice), 0};
    };
}

} // namespace vantor::test
