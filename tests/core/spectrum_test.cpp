// Exact ground states by dense diagonalisation: the matrix against the dense reference, the
// known H2 values, eigenpairs on random sums in both the real and the complex path, and the
// refusals.

#include "zel/core/spectrum.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"
#include "zel/core/measurement.hpp"

#include "support/errors.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

// A random sum of `terms` terms on n qubits; Y factors only when `with_y`.
PauliSum random_sum(std::uint64_t n, std::size_t terms, bool with_y, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> weight(-1.0, 1.0);
    PauliSum sum;
    for (std::size_t t = 0; t < terms; ++t) {
        PauliTerm term{weight(rng), {}};
        for (std::uint64_t q = 0; q < n; ++q) {
            auto kind = static_cast<Pauli>(rng() % 4);
            if (kind == Pauli::Y && !with_y) {
                kind = Pauli::Z;
            }
            if (kind != Pauli::I) {
                term.paulis.push_back({q, kind});
            }
        }
        sum.terms.push_back(term);
    }
    return sum;
}

DenseMatrix reference_matrix(const PauliSum& sum, std::uint64_t n) {
    DenseMatrix total(std::size_t{1} << n);
    for (const PauliTerm& term : sum.terms) {
        const DenseMatrix m = pauli_matrix(term, n);
        for (std::size_t k = 0; k < m.entries.size(); ++k) {
            total.entries[k] += term.coefficient * m.entries[k];
        }
    }
    return total;
}

TEST(CoreSpectrum, DenseMatrixIsTheSumOfTheTermMatrices) {
    std::mt19937_64 rng(SEED + 41);
    for (std::uint64_t n : {0, 1, 3}) {
        const PauliSum sum = random_sum(n, 6, true, rng);
        const DenseMatrix expected = reference_matrix(sum, n);
        const std::vector<Complex> actual = dense_matrix(sum, n);
        ASSERT_EQ(actual.size(), expected.entries.size());
        for (std::size_t k = 0; k < actual.size(); ++k) {
            EXPECT_NEAR(actual[k].real(), expected.entries[k].real(), TOLERANCE) << k;
            EXPECT_NEAR(actual[k].imag(), expected.entries[k].imag(), TOLERANCE) << k;
        }
    }
}

// The two H2 operators of the guide: the built-in one and the standard one without Y0 Y1.
TEST(CoreSpectrum, H2GroundEnergies) {
    const PauliSum builtin = PauliSum::h2_hamiltonian();
    PauliSum standard = builtin;
    standard.terms.pop_back();
    EXPECT_NEAR(ground_energy(builtin, 2), -1.915371, 5e-7);
    EXPECT_NEAR(ground_energy(standard, 2), -1.857275, 5e-7);
    // Plus the nuclear repulsion of 0.735 angstrom: the total energy below kvt_run's target.
    EXPECT_NEAR(ground_energy(standard, 2) + 0.7199689944, -1.137306, 5e-7);
}

// On random sums: H v = E v with |v| = 1, <v|H|v> = E, E equals the energy alone, and no state
// goes below it.
TEST(CoreSpectrum, GroundStateIsAnEigenpairBelowEveryState) {
    std::mt19937_64 rng(SEED + 42);
    for (const bool with_y : {false, true}) {
        for (std::uint64_t n : {1, 2, 4, 6}) {
            SCOPED_TRACE(::testing::Message() << "n=" << n << " with_y=" << with_y);
            const PauliSum sum = random_sum(n, 8, with_y, rng);
            const GroundState ground = ground_state(sum, n);
            EXPECT_NEAR(norm(ground.state), 1.0, TOLERANCE);
            EXPECT_NEAR(sum.expectation_value(ground.state), ground.energy, 1e-10);
            EXPECT_NEAR(ground_energy(sum, n), ground.energy, 1e-10);
            const Vector v = amplitudes_of(ground.state);
            const Vector hv = multiply(reference_matrix(sum, n), v);
            for (std::size_t k = 0; k < v.size(); ++k) {
                EXPECT_NEAR(std::abs(hv[k] - ground.energy * v[k]), 0.0, 1e-10) << k;
            }
            for (int trial = 0; trial < 5; ++trial) {
                EXPECT_GE(sum.expectation_value(make_state(random_state(n, rng))),
                          ground.energy - 1e-12);
            }
        }
    }
}

TEST(CoreSpectrum, EdgeRegisters) {
    // No qubits: the identity terms alone, summed.
    const PauliSum constant{{{0.5, {}}, {-2.0, {}}}};
    EXPECT_EQ(ground_energy(constant, 0), -1.5);
    // No terms: the zero matrix.
    EXPECT_EQ(ground_energy(PauliSum{}, 3), 0.0);
    // Z factors beyond the register read a 0 bit, as in expectation_value.
    EXPECT_EQ(ground_energy(PauliSum{{{1.0, {{7, Pauli::Z}}}}}, 2), 1.0);
}

TEST(CoreSpectrum, Refusals) {
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    EXPECT_THROW(static_cast<void>(ground_energy(h2, MAX_GROUND_STATE_QUBITS + 1)),
                 InvalidArgument);
    EXPECT_THROW(static_cast<void>(ground_state(h2, 1000)), InvalidArgument);
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(static_cast<void>(ground_state(PauliSum{{{bad, {{0, Pauli::Z}}}}}, 1)),
                     InvalidArgument);
    }
    EXPECT_TRUE(throws_bounds(
        [&] { static_cast<void>(ground_energy(PauliSum{{{1.0, {{5, Pauli::X}}}}}, 2)); }, 4,
        32));
}

}  // namespace
}  // namespace zel::test
