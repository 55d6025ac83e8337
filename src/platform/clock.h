// Clocks: UTC wall time in the 100 ns units used for data time-stamps, and a monotonic clock for
// deadlines of bounded waits.
#pragma once

#include <cstdint>

namespace norvane::platform {

// 100 ns units in a millisecond.
constexpr std::uint64_t k100nsPerMs = 10000;

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kEpoch1601To1970 = 116444736000000000ULL;

// UtcNow100ns returns the current UTC time in 100 ns units since 1601, or 0 when the clock cannot
// be read.
std::uint64_t UtcNow100ns();

// MonotonicMs returns milliseconds of a clock that never jumps (its zero is arbitrary).
std::uint64_t MonotonicMs();

// MonotonicUs returns microseconds of the same kind of clock, for arrival times of packets.
std::uint64_t MonotonicUs();

} // namespace norvane::platform
