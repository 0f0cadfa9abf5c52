// The Shannon entropy of the measurement distribution, vectorised: a log2 written so that a loop
// of calls vectorises, and a masked term per amplitude instead of a branch.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/parallel.hpp"

#include "cpu_dispatch.hpp"
#include "entropy_math.hpp"
#include "gate_kernels.hpp"

namespace zel::detail {

// Built for the best instruction set the CPU offers, chosen at load time. The lanes keep their
// fixed pattern whatever the vector width, no operation is reassociated and products are never
// contracted into FMA (the build uses -ffp-contract=off), so every clone gives the same bits.
ZEL_TARGET_CLONES
double entropy_partial(const std::complex<double>* psi, std::size_t count) noexcept {
    const double* parts = reinterpret_cast<const double*>(psi);
    // Independent lanes in a fixed pattern (lane = k mod 4 within the chunk), so that the loop
    // vectorises and the result depends only on the chunk. Each lane starts at +0.0 so that a
    // state without contributions (a basis state, whose one term is -1 * log2(1) = -0.0) sums
    // to +0.0.
    double lanes[ENTROPY_LANES] = {};
    std::size_t k = 0;
    // The terms of a block first, each on its own (the costly part, in vectors as wide as the
    // CPU has, with independent chains in flight), then added to the lanes in the same order
    // as one amplitude at a time.
    constexpr std::size_t BLOCK = 8 * ENTROPY_LANES;
    for (; k + BLOCK <= count; k += BLOCK) {
        double terms[BLOCK];
        for (std::size_t j = 0; j < BLOCK; ++j) {
            terms[j] = entropy_term(parts[2 * (k + j)], parts[2 * (k + j) + 1]);
        }
        for (std::size_t j = 0; j < BLOCK; j += ENTROPY_LANES) {
            for (std::size_t l = 0; l < ENTROPY_LANES; ++l) {
                lanes[l] += terms[j + l];
            }
        }
    }
    for (; k + ENTROPY_LANES <= count; k += ENTROPY_LANES) {
        for (std::size_t l = 0; l < ENTROPY_LANES; ++l) {
            lanes[l] += entropy_term(parts[2 * (k + l)], parts[2 * (k + l) + 1]);
        }
    }
    for (std::size_t l = 0; k < count; ++k, ++l) {
        lanes[l] += entropy_term(parts[2 * k], parts[2 * k + 1]);
    }
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

double entropy(const Amplitude* psi, std::uint64_t dimension) {
    const double* parts = reinterpret_cast<const double*>(psi);
    if (dimension < ENTROPY_VECTOR_FROM) {
        // Small states, such as the two-qubit ones of a run, are mostly zero amplitudes: a
        // branch skips them cheaply, and the lanes receive exactly the same terms as the
        // vectorised loop gives them.
        double lanes[ENTROPY_LANES] = {};
        for (std::uint64_t k = 0; k < dimension; ++k) {
            const double p = parts[2 * k] * parts[2 * k] + parts[2 * k + 1] * parts[2 * k + 1];
            if (p > ENTROPY_PROBABILITY_FLOOR) {
                lanes[k % ENTROPY_LANES] += -p * log2_positive(p);
            } else if (std::isnan(p)) {
                lanes[k % ENTROPY_LANES] += p;
            }
        }
        // One chunk, added to the empty sum as parallel::sum does.
        double total = -0.0;
        total += (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
        return total;
    }
    return parallel::sum(static_cast<std::size_t>(dimension),
                         [psi](std::size_t begin, std::size_t end) {
                             return entropy_partial(psi + begin, end - begin);
                         });
}

}  // namespace zel::detail
