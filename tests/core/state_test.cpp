// The state vector and its entropy: construction, ownership, basis
// preparation and the entropy's threshold.

#include "zel/core/state.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/errors.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

// The entropy's probability threshold: only p strictly above it contributes.
constexpr double ENTROPY_FLOOR = 1e-12;

Vector basis(std::uint64_t n, std::uint64_t index) {
    Vector v(std::size_t{1} << n);
    v[index] = 1.0;
    return v;
}

bool aligned(const ZarnikState& state) {
    return reinterpret_cast<std::uintptr_t>(state.amplitudes().data()) % ZarnikState::ALIGNMENT ==
           0;
}

// Covers heap buffers (small) and directly mapped ones (2 MiB and up, from 17 qubits).
TEST(CoreState, NewIsAllZeroBasisStateInAlignedBuffer) {
    for (std::uint64_t n : {0, 1, 2, 3, 5, 8, 12, 16, 17, 18}) {
        SCOPED_TRACE(n);
        const ZarnikState state(n);
        EXPECT_EQ(state.num_qubits(), n);
        EXPECT_EQ(state.dimension(), std::uint64_t{1} << n);
        EXPECT_TRUE(aligned(state));
        EXPECT_TRUE(bitwise_equal(state, basis(n, 0)));
    }
    EXPECT_EQ(sizeof(ZarnikState::Amplitude), 16u);
    EXPECT_EQ(ZarnikState::ALIGNMENT, 64u);
}

TEST(CoreState, CopyIsBitwiseEqualAndIndependent) {
    std::mt19937_64 rng(SEED + 10);
    for (std::uint64_t n : {0, 2, 17}) {
        SCOPED_TRACE(n);
        ZarnikState source = make_state(random_state(n, rng));
        if (n > 0) {
            source.apply_gate(GateType::ry(0.4), std::vector<std::uint64_t>{n - 1}, {});
        }
        const Vector before = amplitudes_of(source);
        {
            ZarnikState copy(source);
            EXPECT_EQ(copy.num_qubits(), n);
            EXPECT_NE(copy.amplitudes().data(), source.amplitudes().data());
            EXPECT_TRUE(aligned(copy));
            EXPECT_TRUE(bitwise_equal(copy, before));
            if (n > 0) {
                copy.apply_gate(GateType::of(GateKind::X), std::vector<std::uint64_t>{0}, {});
            }
            copy.amplitudes_mut()[0] = 7.0;
            EXPECT_TRUE(bitwise_equal(source, before));
            copy.set_computational_basis(0);
            EXPECT_TRUE(bitwise_equal(source, before));
        }  // releasing the copy leaves the source intact
        EXPECT_TRUE(bitwise_equal(source, before));

        std::optional<ZarnikState> outer;
        {
            const ZarnikState inner = source;
            outer.emplace(inner);
        }  // releasing the source of a copy leaves the copy intact
        EXPECT_TRUE(bitwise_equal(*outer, before));
    }
}

TEST(CoreState, CopyAssignmentReplacesContentAndSize) {
    std::mt19937_64 rng(SEED + 11);
    const Vector three = random_state(3, rng);
    const ZarnikState source = make_state(three);
    ZarnikState same(3);
    same = source;
    EXPECT_TRUE(bitwise_equal(same, three));
    ZarnikState other(1);
    other = source;
    EXPECT_EQ(other.num_qubits(), 3u);
    EXPECT_TRUE(bitwise_equal(other, three));
    EXPECT_TRUE(aligned(other));
    same.amplitudes_mut()[1] = 0.0;
    other.amplitudes_mut()[2] = 0.0;
    EXPECT_TRUE(bitwise_equal(source, three));
    const ZarnikState& alias = same;
    ZarnikState before = same;
    same = alias;
    EXPECT_TRUE(bitwise_equal(same, amplitudes_of(before)));
}

TEST(CoreState, MoveTransfersTheBuffer) {
    std::mt19937_64 rng(SEED + 12);
    const Vector v = random_state(4, rng);
    ZarnikState source = make_state(v);
    const auto* buffer = source.amplitudes().data();
    ZarnikState moved(std::move(source));
    EXPECT_EQ(moved.amplitudes().data(), buffer);
    EXPECT_TRUE(bitwise_equal(moved, v));
    EXPECT_TRUE(source.amplitudes().empty());  // NOLINT(bugprone-use-after-move)

    ZarnikState target(2);
    target = std::move(moved);
    EXPECT_EQ(target.num_qubits(), 4u);
    EXPECT_EQ(target.amplitudes().data(), buffer);
    EXPECT_TRUE(bitwise_equal(target, v));
    EXPECT_TRUE(moved.amplitudes().empty());  // NOLINT(bugprone-use-after-move)
    source = ZarnikState(1);                  // a moved-from state can be assigned again
    EXPECT_TRUE(bitwise_equal(source, basis(1, 0)));
}

TEST(CoreState, SetComputationalBasisGivesExactlyThatBasisState) {
    ZarnikState two(2);
    two.set_computational_basis(1);
    EXPECT_TRUE(bitwise_equal(two, {0, 1, 0, 0}));
    two.set_computational_basis(3);
    EXPECT_TRUE(bitwise_equal(two, {0, 0, 0, 1}));

    std::mt19937_64 rng(SEED + 13);
    for (std::uint64_t n : {0, 1, 4}) {
        for (std::uint64_t k = 0; k < (std::uint64_t{1} << n); ++k) {
            ZarnikState state = make_state(random_state(n, rng));
            state.set_computational_basis(k);
            EXPECT_TRUE(bitwise_equal(state, basis(n, k))) << "n=" << n << " k=" << k;
        }
    }
}

TEST(CoreState, SetComputationalBasisBeyondDimensionThrowsAndChangesNothing) {
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> cases = {
        {2, 4}, {2, 5}, {0, 1}, {3, std::numeric_limits<std::uint64_t>::max()}};
    std::mt19937_64 rng(SEED + 14);
    for (const auto& [n, index] : cases) {
        const Vector before = random_state(n, rng);
        ZarnikState state = make_state(before);
        try {
            state.set_computational_basis(index);
            ADD_FAILURE() << "nothing thrown for n=" << n << " index=" << index;
        } catch (const StateIndexOutOfBounds& error) {
            EXPECT_STREQ(error.what(), "Index out of bounds for state vector");
            EXPECT_EQ(error.index(), index);
            EXPECT_EQ(error.dimension(), state.dimension());
        }
        EXPECT_TRUE(bitwise_equal(state, before)) << "n=" << n << " index=" << index;
    }
}

// A basis state's one term is -1 * log2(1) = -0.0; the entropy must still be +0.0.
TEST(CoreEntropy, BasisStatesGivePositiveZero) {
    for (std::uint64_t n : {0, 1, 2, 3}) {
        for (std::uint64_t k = 0; k < (std::uint64_t{1} << n); ++k) {
            ZarnikState state(n);
            state.set_computational_basis(k);
            EXPECT_EQ(bits_of(state.calculate_entropy()), bits_of(0.0)) << n << " " << k;
        }
    }
    const ZarnikState phase = make_state({0, Complex(0.0, -1.0)});
    EXPECT_EQ(bits_of(phase.calculate_entropy()), bits_of(0.0));
}

// Uniform states with power-of-two probabilities are exact: 2^n terms of n 2^-n.
TEST(CoreEntropy, UniformStatesGiveQubitCount) {
    EXPECT_EQ(make_state({0.5, 0.5, 0.5, -0.5}).calculate_entropy(), 2.0);
    EXPECT_EQ(make_state(Vector(16, Complex(0.0, 0.25))).calculate_entropy(), 4.0);
    const double h = HADAMARD_FACTOR;
    EXPECT_NEAR(make_state({h, h}).calculate_entropy(), 1.0, TOLERANCE);
}

TEST(CoreEntropy, MatchesShannonFormulaOnRandomStates) {
    std::mt19937_64 rng(SEED + 14);
    for (std::uint64_t n = 1; n <= 5; ++n) {
        const Vector v = random_state(n, rng);
        double expected = 0.0;
        for (const Complex& a : v) {
            expected -= std::norm(a) * std::log2(std::norm(a));
        }
        const ZarnikState state = make_state(v);
        EXPECT_NEAR(state.calculate_entropy(), expected, TOLERANCE) << n;
        EXPECT_TRUE(bitwise_equal(state, v));  // read-only
    }
}

// A part r with r * r exactly 1e-12 puts a probability exactly on the threshold: it contributes
// nothing. The next double above puts it just over: it contributes -p log2(p).
TEST(CoreEntropy, ThresholdIsStrictlyAboveOneInATrillion) {
    double r = 1e-6;
    for (int step = 0; step < 64 && r * r != ENTROPY_FLOOR; ++step) {
        r = r * r < ENTROPY_FLOOR ? std::nextafter(r, 1.0) : std::nextafter(r, 0.0);
    }
    ASSERT_EQ(r * r, ENTROPY_FLOOR);
    EXPECT_EQ(bits_of(make_state({r, 0}).calculate_entropy()), bits_of(0.0));
    EXPECT_EQ(bits_of(make_state({Complex(0.0, r), 1.0}).calculate_entropy()), bits_of(0.0));

    const double above = std::nextafter(r, 1.0);
    const double p = above * above;
    ASSERT_GT(p, ENTROPY_FLOOR);
    const double expected = -p * std::log2(p);
    EXPECT_GT(expected, 0.0);
    EXPECT_DOUBLE_EQ(make_state({above, 0}).calculate_entropy(), expected);
    EXPECT_DOUBLE_EQ(make_state({1.0, Complex(0.0, above)}).calculate_entropy(), expected);
}

// Probabilities are used as they are, without dividing by their total.
TEST(CoreEntropy, IsNotRenormalised) {
    EXPECT_EQ(make_state({2.0, 0.0}).calculate_entropy(), -8.0);  // p = 4: -4 log2(4)
    EXPECT_EQ(bits_of(make_state({1.0, -1.0}).calculate_entropy()), bits_of(0.0));
    EXPECT_EQ(make_state({0.5, 0.5}).calculate_entropy(), 1.0);  // 2 * (-0.25 * -2)
}

}  // namespace
}  // namespace zel::test
