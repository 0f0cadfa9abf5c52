#pragma once

/// \file
/// Random numbers. `Generator` is a seedable 64-bit generator (xoshiro256**) for reproducible
/// work such as sampling; the per-thread source behind `next_u64` is one of them per thread,
/// seeded from the operating system's entropy source on its first draw.

#include <cstdint>
#include <limits>

namespace zel::random {

/// xoshiro256** with its four state words filled from one 64-bit seed by splitmix64. Satisfies
/// `std::uniform_random_bit_generator`, so it also drives the standard distributions. The
/// sequence is a fixed function of the seed, the same on every platform.
class Generator {
  public:
    using result_type = std::uint64_t;

    /// A generator whose draws are a fixed function of `seed`.
    explicit Generator(std::uint64_t seed) noexcept {
        this->seed(seed);
    }

    /// Restarts the sequence from `seed`.
    void seed(std::uint64_t seed) noexcept;

    /// Next uniformly distributed 64-bit value.
    std::uint64_t operator()() noexcept;

    /// A uniformly distributed double in [0, 1): the top 53 bits of the next draw times 2^-53.
    double uniform() noexcept {
        return static_cast<double>((*this)() >> 11) * 0x1.0p-53;
    }

    static constexpr result_type min() noexcept {
        return 0;
    }
    static constexpr result_type max() noexcept {
        return std::numeric_limits<result_type>::max();
    }

  private:
    std::uint64_t s_[4] = {};
};

/// Next uniformly distributed 64-bit value of the calling thread's generator.
std::uint64_t next_u64() noexcept;

/// Reseeds the calling thread's generator so that its following draws are a fixed function of
/// `seed`. For tests and reproducible experiments; other threads are unaffected.
void reseed(std::uint64_t seed) noexcept;

}  // namespace zel::random
