#include "LinePacer.h"

#include <algorithm>

namespace vantor::sim {

void LinePacer::SetBaud(std::uint32_t baud) {
    baud_ = baud;
    // Nanoseconds, cut down: the times handed out are rounded up to the
    // microsecond, so a thousand bytes in a row still end on the exact one.
    byteNs_ = baud == 0 ? 0 : std::uint64_t{BitsPerByte} * 1000000000u / baud;
}

std::uint64_t LinePacer::Pass(std::uint64_t earliestUs) {
    if (!Paced()) return earliestUs;
    const std::uint64_t start = std::max(earliestUs * 1000, freeAtNs_);
    freeAtNs_ = start + byteNs_;
    return (freeAtNs_ + 999) / 1000;
}

std::uint64_t LinePacer::Pass(std::uint64_t earliestUs, std::size_t count) {
    std::uint64_t done = earliestUs;
    for (std::size_t i = 0; i < count; ++i) done = Pass(earliestUs);
    return done;
}

double LinePacer::DurationUs(std::size_t count) const {
    return static_cast<double>(byteNs_) * static_cast<double>(count) / 1000.0;
}

} // namespace vantor::sim
