#pragma once
// Raises a flag for the length of a scope and lowers it on every way out,
// exceptions included (the tick guard, the modem dialogue's busy flag).
namespace vantor {

class ScopedFlag {
public:
    explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~ScopedFlag() { flag_ = false; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    bool& flag_;
};

} // namespace vantor
