// The Pauli-string rotation exp(-i theta/2 P) in one pass: diagonal strings by runs of one
// factor, the others by runs of one sign.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "zel/core/parallel.hpp"

#include "cpu_dispatch.hpp"
#include "gate_math.hpp"
#include "primitive_kernels.hpp"
#include "primitive_loops.hpp"

namespace zel::detail {
namespace {

using A = PrimitiveAmplitude;

inline bool odd_parity(std::uint64_t bits) noexcept {
    return (std::popcount(bits) & 1) != 0;
}

}  // namespace

void apply_pauli_rotation(A* psi, std::uint64_t dimension, std::uint64_t x, std::uint64_t z,
                          unsigned y_count, std::uint64_t controls, double theta) {
    const double c = std::cos(theta / 2);
    const double s = std::sin(theta / 2);
    if (x == 0) {
        // Diagonal: the factor is c - i s or c + i s by the parity of the bits under z.
        const Coefficient plus(A(c, -s));
        const Coefficient minus(A(c, s));
        auto* parts = reinterpret_cast<double*>(psi);
        const auto turn = [=](std::uint64_t i, const Coefficient& factor) {
            AmplitudeLanes a;
            std::memcpy(&a, parts + 2 * i, sizeof a);
            a = factor.times(a, swap_parts(a));
            std::memcpy(parts + 2 * i, &a, sizeof a);
        };
        if (controls != 0 || z == 0) {
            for_each_index(dimension, IndexPattern::of(controls, controls), [=](std::uint64_t i) {
                turn(i, odd_parity(i & z) ? minus : plus);
            });
            return;
        }
        // Along an aligned half of 2^(l + 1) indexes, l the lowest qubit under z, the parity
        // holds; it flips from the lower half to the upper one. The factors go into vectors of
        // two amplitudes: (lower, upper) when l is 0, else the same factor twice.
        const unsigned low = static_cast<unsigned>(std::countr_zero(z));
        const std::uint64_t half = std::uint64_t{1} << low;
        const AmplitudePairLanes real = {c, c, c, c};
        const AmplitudePairLanes even =
            low == 0 ? AmplitudePairLanes{s, -s, -s, s} : AmplitudePairLanes{s, -s, s, -s};
        const AmplitudePairLanes other = low == 0 ? even : -even;
        parallel::for_each(dimension >> (low + 1), [=](std::uint64_t begin, std::uint64_t end) {
            const auto scale = [parts, real](std::uint64_t i, AmplitudePairLanes imag) {
                AmplitudePairLanes a;
                std::memcpy(&a, parts + 2 * i, sizeof a);
                a = real * a + imag * swap_parts(a);
                std::memcpy(parts + 2 * i, &a, sizeof a);
            };
            // The parity changes only where a qubit of z above l changes, so the factors
            // hold along runs of `steady` blocks.
            const std::uint64_t above = z & ~half;
            const std::uint64_t steady =
                above == 0 ? end : std::uint64_t{1} << (std::countr_zero(above) - low - 1);
            std::uint64_t b = begin;
            while (b < end) {
                const std::uint64_t last = std::min(end, (b | (steady - 1)) + 1);
                const bool odd = odd_parity((b << (low + 1)) & z);
                const AmplitudePairLanes lower = odd ? -even : even;
                const AmplitudePairLanes upper = odd ? -other : other;
                if (low == 0) {
                    for (; b < last; ++b) {
                        scale(2 * b, lower);
                    }
                    continue;
                }
                for (; b < last; ++b) {
                    const std::uint64_t base = b << (low + 1);
                    for (std::uint64_t k = 0; k < half; k += 2) {
                        scale(base + k, lower);
                    }
                    for (std::uint64_t k = 0; k < half; k += 2) {
                        scale(base + half + k, upper);
                    }
                }
            }
        });
        return;
    }
    // new a_k = c a_k + f sign(k') a_k' with k' = k ^ x, f = -i s i^(y_count), sign(j) the
    // parity of j & z; the same with k and k' exchanged. f is real (s, -s) for an odd number of
    // Y and imaginary (-is, is) for an even one: in vector lanes (re, im) it multiplies the
    // partner as it is, or with its parts exchanged.
    using V = AmplitudeLanes;
    const bool imaginary = y_count % 2 == 0;
    const double size = (y_count % 4 == 0 || y_count % 4 == 3) ? -s : s;
    const V coefficient = imaginary ? V{-size, size} : V{size, size};
    const V kept = {c, c};
    const auto turned = [imaginary](V v) {
        return imaginary ? swap_parts(v) : v;
    };
    // Any qubit of x splits the pairs into a visited and a partner half; the highest leaves the
    // lower ones to vary along the runs, so an amplitude and its partner's neighbours share
    // their lines (with the lowest, RXX on qubits 0 and n - 1 read every line twice).
    const std::uint64_t pivot = std::uint64_t{1} << (63 - std::countl_zero(x));
    // The partner's sign differs from k's by the parity of x & z.
    const bool flipped = odd_parity(x & z);
    auto* parts = reinterpret_cast<double*>(psi);
    const auto rotate = [=](std::uint64_t k, bool odd) {
        const std::uint64_t partner = k ^ x;
        V a;
        V b;
        std::memcpy(&a, parts + 2 * k, sizeof a);
        std::memcpy(&b, parts + 2 * partner, sizeof b);
        const V fa = odd ? -coefficient : coefficient;
        const V fb = odd != flipped ? -coefficient : coefficient;
        const V new_a = kept * a + fb * turned(b);
        const V new_b = kept * b + fa * turned(a);
        std::memcpy(parts + 2 * k, &new_a, sizeof new_a);
        std::memcpy(parts + 2 * partner, &new_b, sizeof new_b);
    };
    const IndexPattern pattern = IndexPattern::of(controls | pivot, controls);
    if (by_block(dimension, pattern)) {
        for_each_index_by_block(dimension, pattern, [=](std::uint64_t k) {
            rotate(k, odd_parity(k & z));
        });
        return;
    }
    for_each_run(dimension, pattern, [=](std::uint64_t base, std::uint64_t length) {
        // The bits that change along the run lie below the highest bit in which its first and
        // last index differ; when z reads none of them the sign holds for the whole run, and
        // the loop is plain vector arithmetic.
        const std::uint64_t spread = base ^ (base + length - 1);
        const std::uint64_t moving = spread == 0 ? 0 : (std::bit_floor(spread) << 1) - 1;
        if ((z & moving) == 0) {
            const bool odd = odd_parity(base & z);
            for (std::uint64_t k = 0; k < length; ++k) {
                rotate(base + k, odd);
            }
            return;
        }
        for (std::uint64_t k = 0; k < length; ++k) {
            rotate(base + k, odd_parity((base + k) & z));
        }
    });
}

}  // namespace zel::detail
