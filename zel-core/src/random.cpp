#include "zel/core/random.hpp"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <sys/random.h>

namespace zel::random {
namespace {

// splitmix64: spreads one seed word over the four words of the xoshiro state.
std::uint64_t splitmix64(std::uint64_t& x) noexcept {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr std::uint64_t rotl(std::uint64_t x, int k) noexcept {
    return (x << k) | (x >> (64 - k));
}

// Seed words from getrandom(2); falls back to the clock only if the kernel refuses, which a
// supported Linux never does.
std::uint64_t os_seed() noexcept {
    std::uint64_t value = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    std::size_t done = 0;
    while (done < sizeof value) {
        const ssize_t n = getrandom(bytes + done, sizeof value - done, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return static_cast<std::uint64_t>(
                std::chrono::steady_clock::now().time_since_epoch().count());
        }
        done += static_cast<std::size_t>(n);
    }
    return value;
}

Generator& thread_generator() noexcept {
    thread_local Generator instance(os_seed());
    return instance;
}

}  // namespace

void Generator::seed(std::uint64_t seed) noexcept {
    for (auto& word : s_) {
        word = splitmix64(seed);
    }
}

std::uint64_t Generator::operator()() noexcept {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

std::uint64_t next_u64() noexcept {
    return thread_generator()();
}

void reseed(std::uint64_t seed) noexcept {
    thread_generator().seed(seed);
}

}  // namespace zel::random
