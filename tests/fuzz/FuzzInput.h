#pragma once
// Takes a fuzz input apart: numbers in a range, byte runs and texts, read
// from the front; an exhausted input gives zeros and empty runs, so a target
// never has to check the length itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vantor::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    std::size_t Left() const { return size_ - at_; }

    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool Flag() { return Byte() & 1; }
    // A number from two bytes, within [min, max].
    int Number(int min, int max) {
        const int raw = Byte() | Byte() << 8;
        return max <= min ? min : min + raw % (max - min + 1);
    }
    // Up to n bytes (fewer at the end of the input).
    std::span<const std::uint8_t> Bytes(std::size_t n) {
        n = std::min(n, Left());
        std::span<const std::uint8_t> out(data_ + at_, n);
        at_ += n;
        return out;
    }
    std::string Text(std::size_t n) {
        const auto b = Bytes(n);
        return std::string(b.begin(), b.end());
    }
    std::span<const std::uint8_t> Rest() { return Bytes(Left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Stops the program when a property the target checks does not hold; the
// fuzzer (or the replay) reports it as a crash with this text.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

} // namespace vantor::fuzz
