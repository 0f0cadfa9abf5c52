// Pauli observables: the H2 Hamiltonian's terms, its listed expectation values, and
// general Pauli sums against the dense reference.

#include "zel/core/observable.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/state.hpp"

#include "support/errors.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

using Factors = std::vector<PauliFactor>;

// Coefficients w1..w6 of the built-in Hamiltonian, read from it (exactness is checked below).
struct Weights {
    double w1, w2, w3, w4, w5, w6;
};

Weights weights() {
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    const auto& t = h2.terms;
    return {t[0].coefficient, t[1].coefficient, t[2].coefficient,
            t[3].coefficient, t[4].coefficient, t[5].coefficient};
}

double value(const std::vector<PauliTerm>& terms, const ZarnikState& state) {
    return PauliSum{terms}.expectation_value(state);
}

TEST(CoreObservable, H2TermsAreExactlyTheTable) {
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    const std::vector<PauliTerm> table = {
        {-0x1.0d685541c7a0fp+0, {}},
        {0x1.977ce88639429p-2, {{0, Pauli::Z}}},
        {-0x1.977ce88639429p-2, {{1, Pauli::Z}}},
        {-0x1.71a05f7020d00p-7, {{0, Pauli::Z}, {1, Pauli::Z}}},
        {0x1.728c0e8f31cd0p-3, {{0, Pauli::X}, {1, Pauli::X}}},
        {0x1.728c0e8f31cd0p-3, {{0, Pauli::Y}, {1, Pauli::Y}}},
    };
    const double decimal[] = {-1.052373245772859,   0.39793742484318045, -0.39793742484318045,
                              -0.01128010425623538, 0.18093119978423156, 0.18093119978423156};
    ASSERT_EQ(h2.terms.size(), table.size());
    for (std::size_t k = 0; k < table.size(); ++k) {
        SCOPED_TRACE(k + 1);
        EXPECT_EQ(bits_of(h2.terms[k].coefficient), bits_of(table[k].coefficient));
        EXPECT_EQ(bits_of(h2.terms[k].coefficient), bits_of(decimal[k]));
        EXPECT_EQ(h2.terms[k].paulis, table[k].paulis);
    }
    EXPECT_EQ(sizeof(Pauli), 1u);
}

TEST(CoreObservable, H2ExpectationOnTheListedStates) {
    const auto [w1, w2, w3, w4, w5, w6] = weights();
    const double r = std::numbers::sqrt2 / 2;
    struct Case {
        const char* name;
        Vector state;
        double expected;
    };
    const std::vector<Case> cases = {
        {"|0>", {1, 0, 0, 0}, w1 + w2 + w3 + w4},
        {"|0> again", {1, 0, 0, 0}, w1 + w4},
        {"|1>", {0, 1, 0, 0}, w1 - w2 + w3 - w4},
        {"|2>", {0, 0, 1, 0}, w1 + w2 - w3 - w4},
        {"|3>", {0, 0, 0, 1}, w1 - w2 - w3 + w4},
        {"|3> again", {0, 0, 0, 1}, w1 + w4},
        {"(|0> + |3>)/sqrt2", {r, 0, 0, r}, w1 + w4 + w5 - w6},
        {"(|1> + |2>)/sqrt2", {0, r, r, 0}, w1 - w4 + w5 + w6},
        {"(|1> - |2>)/sqrt2", {0, r, -r, 0}, w1 - w4 - w5 - w6},
        {"uniform", {0.5, 0.5, 0.5, 0.5}, w1 + w5},
        {"i on |1>", {0, Complex(0, 1), 0, 0}, w1 - w2 + w3 - w4},
    };
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    for (const Case& c : cases) {
        const ZarnikState state = make_state(c.state);
        EXPECT_NEAR(h2.expectation_value(state), c.expected, TOLERANCE) << c.name;
        EXPECT_NEAR(h2.expectation_value(state), expectation(h2, c.state, 2), TOLERANCE) << c.name;
        EXPECT_TRUE(bitwise_equal(state, c.state));  // read-only
    }
    // The same through set_computational_basis.
    for (std::uint64_t k = 0; k < 4; ++k) {
        ZarnikState state(2);
        state.set_computational_basis(k);
        const double z0 = k & 1U ? -1.0 : 1.0;
        const double z1 = k & 2U ? -1.0 : 1.0;
        EXPECT_NEAR(h2.expectation_value(state), w1 + w2 * z0 + w3 * z1 + w4 * z0 * z1, TOLERANCE)
            << k;
    }
}

// Every term, the identity included, scales by s^2 with the amplitudes.
TEST(CoreObservable, ScalingTheStateByRealSScalesBySSquared) {
    std::mt19937_64 rng(SEED + 20);
    const Vector v = random_state(2, rng);
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    for (double s : {3.0, 0.5, -2.0, 1e-3}) {
        Vector scaled = v;
        for (Complex& a : scaled) {
            a *= s;
        }
        const ZarnikState base = make_state(v);
        const ZarnikState state = make_state(scaled);
        EXPECT_NEAR(h2.expectation_value(state), s * s * h2.expectation_value(base),
                    TOLERANCE * s * s)
            << s;
        for (const PauliTerm& term : h2.terms) {
            EXPECT_NEAR(value({term}, state), s * s * value({term}, base), TOLERANCE * s * s);
        }
    }
    const ZarnikState doubled = make_state({2.0, 0.0, 0.0, 0.0});
    EXPECT_EQ(value({{0.25, {}}}, doubled), 1.0);  // identity: weight times squared norm
}

TEST(CoreObservable, EmptySumIsNegativeZero) {
    std::mt19937_64 rng(SEED + 21);
    for (const ZarnikState& state :
         {ZarnikState(0), ZarnikState(2), make_state(random_state(3, rng))}) {
        const double e = PauliSum{}.expectation_value(state);
        EXPECT_EQ(e, 0.0);
        EXPECT_TRUE(std::signbit(e));
    }
}

// An I factor, and the order of the factors, change nothing: the arithmetic is the same.
TEST(CoreObservable, IdentityFactorsAndFactorOrderHaveNoEffect) {
    std::mt19937_64 rng(SEED + 22);
    const ZarnikState state = make_state(random_state(3, rng));
    const std::vector<std::pair<Factors, Factors>> same = {
        {{{0, Pauli::X}, {1, Pauli::I}}, {{0, Pauli::X}}},
        {{{0, Pauli::I}}, {}},
        {{{1, Pauli::Z}, {0, Pauli::I}, {2, Pauli::Y}}, {{1, Pauli::Z}, {2, Pauli::Y}}},
        {{{0, Pauli::X}, {1, Pauli::Y}, {2, Pauli::Z}},
         {{2, Pauli::Z}, {0, Pauli::X}, {1, Pauli::Y}}},
        {{{0, Pauli::Y}, {2, Pauli::Y}}, {{2, Pauli::Y}, {0, Pauli::Y}}},
    };
    for (const auto& [a, b] : same) {
        EXPECT_EQ(bits_of(value({{0.7, a}}, state)), bits_of(value({{0.7, b}}, state)));
    }
}

TEST(CoreObservable, RandomPauliSumsMatchDenseReference) {
    std::mt19937_64 rng(SEED + 23);
    std::uniform_real_distribution<double> weight(-2.0, 2.0);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> term_count(1, 6);
    for (std::uint64_t n = 1; n <= 5; ++n) {
        for (int trial = 0; trial < 16; ++trial) {
            // Every fourth sum keeps to qubits 0 and 1; every fifth has 65, 105 or 145 terms.
            const std::uint64_t span = trial % 4 == 1 ? std::min<std::uint64_t>(n, 2) : n;
            PauliSum sum;
            for (int t = trial % 5 == 4 ? 65 + trial / 5 * 40 : term_count(rng); t > 0; --t) {
                PauliTerm term{weight(rng), {}};
                for (std::uint64_t q = 0; q < span; ++q) {
                    const int k = kind(rng);
                    if (k != 0 || trial % 3 == 0) {  // sometimes keep explicit I factors
                        term.paulis.push_back({q, static_cast<Pauli>(k)});
                    }
                }
                std::shuffle(term.paulis.begin(), term.paulis.end(), rng);
                sum.terms.push_back(term);
            }
            const Vector v = random_state(n, rng);
            EXPECT_NEAR(sum.expectation_value(make_state(v)), expectation(sum, v, n), TOLERANCE)
                << "n=" << n << " trial=" << trial;
        }
    }
}

// Z and I on qubits beyond the state read a 0 bit: the term is the identity term.
TEST(CoreObservable, ZBeyondTheStateChangesNothing) {
    std::mt19937_64 rng(SEED + 24);
    const ZarnikState state = make_state(random_state(2, rng));
    const double identity = value({{0.3, {}}}, state);
    for (std::uint64_t q : {2, 5, 63, 64, 1000}) {
        EXPECT_EQ(bits_of(value({{0.3, {{q, Pauli::Z}}}}, state)), bits_of(identity)) << q;
        EXPECT_EQ(bits_of(value({{0.3, {{q, Pauli::I}}}}, state)), bits_of(identity)) << q;
    }
    EXPECT_EQ(bits_of(value({{0.3, {{0, Pauli::X}, {4, Pauli::Z}}}}, state)),
              bits_of(value({{0.3, {{0, Pauli::X}}}}, state)));
}

// The report names the array length and the partner of index 0 in the first bad term.
TEST(CoreObservable, XOrYBeyondTheStateThrowsTheReport) {
    struct Case {
        std::uint64_t n;
        std::vector<PauliTerm> terms;
        std::uint64_t len;
        std::uint64_t index;
    };
    std::vector<Case> cases = {
        {2, {{1.0, {{2, Pauli::X}}}}, 4, 4},
        {2, {{1.0, {{3, Pauli::Y}}}}, 4, 8},
        {2, {{1.0, {{0, Pauli::X}, {2, Pauli::X}}}}, 4, 5},
        {2, {{1.0, {{0, Pauli::Z}}}, {1.0, {{1, Pauli::Y}, {5, Pauli::Y}}}}, 4, 34},
        {2, {{1.0, {{3, Pauli::X}}}, {1.0, {{2, Pauli::X}}}}, 4, 8},
        {0, {{1.0, {{0, Pauli::X}}}}, 1, 1},
        {2, {{1.0, {{64, Pauli::X}}}}, 4, std::numeric_limits<std::uint64_t>::max()},
    };
    // A bad term after many good ones (more than one batch of 64 terms, if the sum is batched).
    std::vector<PauliTerm> long_sum(100, PauliTerm{0.5, {{1, Pauli::X}, {0, Pauli::Y}}});
    long_sum[80] = PauliTerm{0.5, {{0, Pauli::Y}, {6, Pauli::X}}};
    long_sum[90] = PauliTerm{0.5, {{2, Pauli::X}}};
    cases.push_back({2, long_sum, 4, 65});
    for (const Case& c : cases) {
        EXPECT_TRUE(throws_bounds(
            [&] {
                static_cast<void>(PauliSum{c.terms}.expectation_value(ZarnikState(c.n)));
            },
            c.len, c.index));
    }
}

}  // namespace
}  // namespace zel::test
