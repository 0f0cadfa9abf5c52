#pragma once

/// \file
/// Per-thread random source: each thread owns a 64-bit generator (xoshiro256**) seeded from the
/// operating system's entropy source on its first draw. Draws are therefore not reproducible
/// between runs unless a thread reseeds its own generator.

#include <cstdint>

namespace zel::random {

/// Next uniformly distributed 64-bit value of the calling thread's generator.
std::uint64_t next_u64() noexcept;

/// Reseeds the calling thread's generator so that its following draws are a fixed function of
/// `seed`. For tests and reproducible experiments; other threads are unaffected.
void reseed(std::uint64_t seed) noexcept;

}  // namespace zel::random
