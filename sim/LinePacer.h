#pragma once
// The time bytes take on a serial line: one direction of an 8N1 line at a
// given baud rate carries a byte in ten bit times (start bit, eight data
// bits, stop bit), one after the other.  The pacer keeps when the line is
// next free and says when a byte that may start at a given moment has gone
// over it.  At baud 0 the line takes no time (the simulator's default).
// Times are microseconds of the caller's clock.
#include <cstddef>
#include <cstdint>

namespace vantor::sim {

inline constexpr std::uint32_t BitsPerByte = 10; // 8N1

class LinePacer {
public:
    explicit LinePacer(std::uint32_t baud = 0) { SetBaud(baud); }

    // Takes effect for the bytes that start after the call.
    void SetBaud(std::uint32_t baud);
    std::uint32_t Baud() const { return baud_; }
    bool Paced() const { return baud_ != 0; }

    // A byte that may start at `earliestUs` starts then or when the line has
    // carried the bytes before it, whichever is later; returns the moment its
    // stop bit has ended (rounded up to the microsecond).
    std::uint64_t Pass(std::uint64_t earliestUs);
    // The same for `count` bytes in a row: when the last has gone over.
    std::uint64_t Pass(std::uint64_t earliestUs, std::size_t count);
    // The line carries nothing any more (what was on it was dropped).
    void Reset() { freeAtNs_ = 0; }

    // How long `count` bytes take on the line, in microseconds.
    double DurationUs(std::size_t count) const;

private:
    std::uint32_t baud_ = 0;
    std::uint64_t byteNs_ = 0;   // nanoseconds per byte
    std::uint64_t freeAtNs_ = 0; // when the line can start the next byte
};

} // namespace vantor::sim
