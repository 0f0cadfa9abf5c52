// The kernels' traversals for pairs far apart, reached on small states by lowering their
// threshold, against the plain ascending loops at one and two workers; and the entropy's
// instruction-set clone against the same arithmetic compiled for the baseline target; and the
// fused block kernel's variants against the exact path.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/detail/kernels.hpp"
#include "zel/core/detail/reductions.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "entropy_math.hpp"
#include "fused_kernel.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

// Lowers the far-pair threshold for one test and restores the defaults afterwards.
class FarPairs : public ::testing::Test {
  protected:
    void TearDown() override {
        detail::set_far_pair_traversal(detail::default_far_pair_traversal());
        parallel::set_thread_count(0);
    }
};

constexpr double ANGLE = 0.9;

Vector applied(const Vector& start, GateKind kind, const std::vector<std::uint64_t>& qubits) {
    ZarnikState state = make_state(start);
    const std::vector<double> params =
        gate_info(kind).has_angle ? std::vector<double>{ANGLE} : std::vector<double>{};
    state.apply_gate(GateType{kind, 0.0}, qubits, params);
    return amplitudes_of(state);
}

struct FarRow {
    std::uint64_t n;
    unsigned from_qubit;
    std::uint64_t block;
    std::size_t threads;
};

// Every one-qubit pair kind on every qubit at and above the lowered threshold, and the swap
// kinds on pairs whose partners lie far apart, from `start`, with the traversal of `row`
// against the default one and, for the bit-fixed kinds, the plain loops.
void expect_far_pairs_match(const Vector& start, const FarRow& row) {
    SCOPED_TRACE(::testing::Message() << "n=" << row.n << " from=" << row.from_qubit
                                      << " block=" << row.block << " threads=" << row.threads);
    parallel::set_thread_count(row.threads);
    for (const GateInfo& info : ORIGINAL_GATES) {
        std::vector<std::vector<std::uint64_t>> placements;
        if (info.shape == GateShape::Pair) {
            for (std::uint64_t t = row.from_qubit; t < row.n; ++t) {
                placements.push_back({t});
            }
        } else if (info.shape == GateShape::Swap) {
            const std::uint64_t top = row.n - 1;
            for (const std::uint64_t low : {std::uint64_t{0}, std::uint64_t{row.from_qubit - 1}}) {
                placements.push_back({low, top});
                placements.push_back({top, low});
            }
            placements.push_back({row.from_qubit, top});
        } else {
            continue;
        }
        for (const auto& qubits : placements) {
            SCOPED_TRACE(std::string(info.name) + " on " + std::to_string(qubits[0]) +
                         (qubits.size() > 1 ? "," + std::to_string(qubits[1]) : ""));
            detail::set_far_pair_traversal({64, detail::FarPairTraversal{}.block});
            const Vector direct = applied(start, info.kind, qubits);
            detail::set_far_pair_traversal({row.from_qubit, row.block});
            const Vector blocked = applied(start, info.kind, qubits);
            EXPECT_TRUE(bitwise_equal(blocked, direct));
            if (info.bitwise) {
                EXPECT_TRUE(
                    bitwise_equal(blocked, plain_loop_reference(info.kind, ANGLE, qubits, start)));
            }
        }
    }
}

// Blocks shorter than the runs (so the block loop turns over), odd and not dividing them
// evenly (so a step ends with a single amplitude).
TEST_F(FarPairs, BlockedTraversalsAreBitwiseThePlainLoops) {
    // n = 19 crosses the pool's grain, so two workers really split the blocked loops.
    for (const FarRow& row : {FarRow{8, 3, 4, 1}, FarRow{8, 2, 3, 1}, FarRow{19, 14, 64, 1},
                              FarRow{19, 14, 64, 2}, FarRow{19, 12, 1000, 2}}) {
        std::mt19937_64 rng(SEED + row.n);
        expect_far_pairs_match(random_state(row.n, rng), row);
    }
}

// The blocked loops compute whole amplitudes in vectors where the plain loops go part by part;
// the bits must agree also for signed zeros, subnormals, infinities and values near overflow.
// The second set, on a larger state, meets every combination of the four parts of a pair drawn
// from it many times over: the sign of a zero sum depends on which operands are -0 and on the
// order in which they are added.
TEST_F(FarPairs, BlockedTraversalsKeepTheBitsOfSpecialValues) {
    struct SpecialRow {
        std::vector<double> values;
        std::uint64_t n;
    };
    const std::vector<SpecialRow> rows{
        {{0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 0.1, -0.7, 1e308, -1e308, HUGE_VAL,
          -HUGE_VAL, 1.0 / 3.0},
         8},
        {{0.0, -0.0, 0.5, -0.5}, 12},
    };
    for (const SpecialRow& special : rows) {
        std::mt19937_64 rng(SEED);
        std::uniform_int_distribution<std::size_t> pick(0, special.values.size() - 1);
        Vector start(std::size_t{1} << special.n);
        for (Complex& amplitude : start) {
            amplitude = Complex(special.values[pick(rng)], special.values[pick(rng)]);
        }
        // Steps of 3 end with a single amplitude; steps of 32 take them in pairs.
        for (const FarRow& row : {FarRow{special.n, 2, 3, 1}, FarRow{special.n, 3, 32, 1}}) {
            expect_far_pairs_match(start, row);
        }
    }
}

// Swaps whose two members lie on lines the first-level cache cannot hold together go through
// the buffer at the settings of CPUs that fold way tags, whatever the state's size; they must
// still give the plain loop's bits, whichever order the pair comes in, with the short runs of
// qubit 8 and across both workers.
TEST_F(FarPairs, SwapsOnSharedTagPairsAreBitwiseThePlainLoop) {
    detail::set_far_pair_traversal(detail::FarPairTraversal{});
    std::mt19937_64 rng(SEED);
    const Vector start = random_state(19, rng);
    for (const std::size_t threads : {1, 2}) {
        parallel::set_thread_count(threads);
        for (const std::vector<std::uint64_t>& qubits :
             std::vector<std::vector<std::uint64_t>>{{11, 16}, {16, 11}, {12, 17}, {13, 18}}) {
            SCOPED_TRACE(::testing::Message()
                         << "SWAP on " << qubits[0] << "," << qubits[1] << " threads=" << threads);
            EXPECT_TRUE(bitwise_equal(applied(start, GateKind::SWAP, qubits),
                                      plain_loop_reference(GateKind::SWAP, ANGLE, qubits, start)));
        }
    }
}

TEST_F(FarPairs, BlockLengthIsClampedToTheBuffer) {
    detail::set_far_pair_traversal({5, 0});
    EXPECT_EQ(detail::far_pair_traversal().block, 1u);
    detail::set_far_pair_traversal({5, 1u << 20});
    EXPECT_EQ(detail::far_pair_traversal().block, detail::FarPairTraversal::MAX_BLOCK);
}

// The entropy runs in a clone chosen for this CPU (AVX-512 or AVX2 where present); this copy of its
// lane loop is compiled for the baseline instruction set. Both must give the same bits.
double baseline_entropy_partial(const Complex* psi, std::size_t count) {
    const double* parts = reinterpret_cast<const double*>(psi);
    double lanes[4] = {};
    std::size_t k = 0;
    for (; k + 4 <= count; k += 4) {
        for (std::size_t l = 0; l < 4; ++l) {
            lanes[l] += detail::entropy_term(parts[2 * (k + l)], parts[2 * (k + l) + 1]);
        }
    }
    for (std::size_t l = 0; k < count; ++k, ++l) {
        lanes[l] += detail::entropy_term(parts[2 * k], parts[2 * k + 1]);
    }
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

TEST(EntropyClones, EveryInstructionSetGivesTheSameBits) {
    std::mt19937_64 rng(SEED + 91);
    for (std::uint64_t n : {6, 10, 13}) {
        Vector v = random_state(n, rng);
        // Tiny, zero and just-above-the-floor probabilities as well.
        v[1] = 0.0;
        v[2] = 1e-7;
        v[3] = Complex(0.0, 1.0000001e-6);
        for (std::size_t count : {v.size(), v.size() - 1, std::size_t{5}}) {
            EXPECT_EQ(bits_of(detail::entropy_partial(v.data(), count)),
                      bits_of(baseline_entropy_partial(v.data(), count)))
                << "n=" << n << " count=" << count;
        }
    }
}

// The block kernel runs in the variant for this CPU's best instruction set; every variant the
// CPU runs must agree with the exact path on random circuits whose blocks take every shape
// (qubit 0 mixed or selecting, selectors, near and far qubits), at one and two workers.
TEST(FusedKernelVariants, EveryInstructionSetAgreesWithTheExactPath) {
    std::mt19937_64 rng(SEED + 93);
    const std::uint64_t n = 18;
    ZarnikGraph circuit(n);
    const GateKind kinds[] = {GateKind::H,  GateKind::RX, GateKind::RZ,   GateKind::CX,
                              GateKind::CZ, GateKind::T,  GateKind::SWAP, GateKind::RY};
    for (int g = 0; g < 120; ++g) {
        const GateKind kind = kinds[rng() % std::size(kinds)];
        const std::uint64_t a = rng() % n;
        std::uint64_t b = rng() % n;
        while (b == a) {
            b = rng() % n;
        }
        circuit.add_gate(GateType{kind, 0.1 * static_cast<double>(g % 17) - 0.8},
                         gate_info(kind).arity == 2 ? std::vector<std::uint64_t>{a, b}
                                                    : std::vector<std::uint64_t>{a});
    }
    const Vector start = random_state(n, rng);
    ZarnikState exact = make_state(start);
    apply_circuit(exact, circuit);
    for (const detail::BlockIsa isa : {detail::BlockIsa::Baseline, detail::BlockIsa::Avx2}) {
        if (!detail::block_isa_supported(isa)) {
            continue;
        }
        detail::use_block_isa(isa);
        for (const std::size_t threads : {std::size_t{1}, std::size_t{2}}) {
            parallel::set_thread_count(threads);
            for (const unsigned k : {2U, 3U, 4U}) {
                ZarnikState fused = make_state(start);
                apply_fused(fused, fuse(circuit, n, k));
                double largest = 0.0;
                for (std::size_t i = 0; i < start.size(); ++i) {
                    largest =
                        std::max(largest, std::abs(fused.amplitudes()[i] - exact.amplitudes()[i]));
                }
                EXPECT_LT(largest, 1e-13)
                    << "isa " << static_cast<int>(isa) << " threads " << threads << " k " << k;
            }
        }
    }
    detail::use_block_isa(detail::BlockIsa::Avx2);
    parallel::set_thread_count(0);
}

}  // namespace
}  // namespace zel::test
