// Expectation values and the entropy: each evaluation path (one pass for terms on qubits 0 and
// 1, one pass per flip mask otherwise, batches of many terms) agrees with the definition walked
// factor by factor, and every sum is bitwise the same with one worker and with two on states
// large enough to cross the pool's grain.

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "support/reference.hpp"

namespace zel::test {
namespace {

constexpr std::uint64_t LARGE_QUBITS = 19;

class ParallelSums : public ::testing::Test {
  protected:
    void TearDown() override {
        parallel::set_thread_count(0);
    }
};

// `count` seeded terms of 1 to 4 factors (every kind, I included) on distinct qubits below
// `span`.
PauliSum random_sum(std::mt19937_64& rng, std::uint64_t span, std::size_t count) {
    PauliSum sum;
    for (std::size_t t = 0; t < count; ++t) {
        PauliTerm term;
        term.coefficient = std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
        const auto factors =
            std::min<std::uint64_t>(span, std::uniform_int_distribution<std::uint64_t>(1, 4)(rng));
        std::set<std::uint64_t> qubits;
        while (qubits.size() < factors) {
            qubits.insert(std::uniform_int_distribution<std::uint64_t>(0, span - 1)(rng));
        }
        for (const std::uint64_t q : qubits) {
            term.paulis.push_back(
                {q, static_cast<Pauli>(std::uniform_int_distribution<int>(0, 3)(rng))});
        }
        sum.terms.push_back(std::move(term));
    }
    return sum;
}

struct SumCase {
    std::string name;
    std::uint64_t qubits;  // of the state
    std::uint64_t span;    // factors act on qubits below this
    std::size_t terms;
};

// Paths: terms on qubits 0 and 1 only (one pass, also on a one-qubit span); terms anywhere (one
// pass per flip mask); more terms than one batch holds; a one-qubit state.
const std::vector<SumCase> SUM_CASES = {
    {"quad terms, 2 qubits", 2, 2, 12},    {"quad terms, 7 qubits", 7, 2, 12},
    {"qubit-0 terms, 5 qubits", 5, 1, 6},  {"general terms, 3 qubits", 3, 3, 20},
    {"general terms, 8 qubits", 8, 8, 40}, {"many terms, 6 qubits", 6, 6, 150},
    {"one-qubit state", 1, 1, 5},
};

TEST_F(ParallelSums, ExpectationMatchesTheDefinitionOnEveryPath) {
    std::mt19937_64 rng(SEED);
    for (const SumCase& c : SUM_CASES) {
        SCOPED_TRACE(c.name);
        const PauliSum sum = random_sum(rng, c.span, c.terms);
        const Vector psi = random_state(c.qubits, rng);
        const double expected = walked_expectation(sum, psi);
        EXPECT_NEAR(sum.expectation_value(make_state(psi)), expected, TOLERANCE);
    }
}

TEST_F(ParallelSums, H2MatchesTheDefinitionOnLargerStates) {
    std::mt19937_64 rng(SEED);
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    for (const std::uint64_t n : {2, 3, 10}) {
        const Vector psi = random_state(n, rng);
        EXPECT_NEAR(h2.expectation_value(make_state(psi)), walked_expectation(h2, psi), TOLERANCE)
            << n << " qubits";
    }
}

TEST_F(ParallelSums, SumsAreBitwiseTheSameWithOneAndTwoWorkers) {
    std::mt19937_64 rng(SEED);
    const Vector psi = random_state(LARGE_QUBITS, rng);
    const ZarnikState state = make_state(psi);
    const std::vector<std::pair<std::string, PauliSum>> sums = {
        {"H2", PauliSum::h2_hamiltonian()},
        {"general", random_sum(rng, LARGE_QUBITS, 24)},
    };
    for (const auto& [name, sum] : sums) {
        parallel::set_thread_count(1);
        const double serial = sum.expectation_value(state);
        parallel::set_thread_count(2);
        const double pooled = sum.expectation_value(state);
        EXPECT_EQ(bits_of(pooled), bits_of(serial)) << name;
        EXPECT_NEAR(serial, walked_expectation(sum, psi), TOLERANCE) << name;
    }
    parallel::set_thread_count(1);
    const double serial = state.calculate_entropy();
    parallel::set_thread_count(2);
    EXPECT_EQ(bits_of(state.calculate_entropy()), bits_of(serial)) << "entropy";
}

TEST_F(ParallelSums, EntropyMatchesTheDefinition) {
    std::mt19937_64 rng(SEED);
    for (const std::uint64_t n : {1, 2, 5, 12}) {
        const Vector psi = random_state(n, rng);
        double expected = 0.0;
        for (const Complex& a : psi) {
            const double p = std::norm(a);
            expected += p > 1e-12 ? -p * std::log2(p) : 0.0;
        }
        EXPECT_NEAR(make_state(psi).calculate_entropy(), expected, TOLERANCE) << n << " qubits";
    }
}

// One amplitude sqrt(p) per state over p from just above the floor to 1: the entropy's log2 stays
// within a few units in the last place of the library's, and is exact on powers of two.
TEST_F(ParallelSums, EntropyTermMatchesTheLibraryLog2) {
    constexpr int STEPS = 4000;
    for (int step = 0; step <= STEPS; ++step) {
        const double p = std::pow(10.0, -11.9 * step / STEPS);
        ZarnikState state(1);
        state.amplitudes_mut()[0] = Complex(std::sqrt(p), 0.0);
        const double probability = std::norm(state.amplitudes()[0]);
        const double expected = -probability * std::log2(probability);
        EXPECT_NEAR(state.calculate_entropy(), expected, 1e-15 * std::abs(expected) + 1e-300)
            << std::hexfloat << "p = " << probability;
    }
    for (int e = 0; e <= 19; ++e) {  // p = 2^-38 is the last above the floor
        ZarnikState state(1);
        state.amplitudes_mut()[0] = Complex(std::ldexp(1.0, -e), 0.0);
        // p = 2^(-2e): -p log2 p = 2e * 2^(-2e), exactly.
        EXPECT_EQ(state.calculate_entropy(), 2.0 * e * std::ldexp(1.0, -2 * e)) << "2^-" << 2 * e;
    }
}

}  // namespace
}  // namespace zel::test
