#include "zel/core/gradient.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"

#include "support/reference.hpp"

namespace zel {
namespace {

using test::Complex;

// Central differences of step 1e-5 carry an error near 1e-10 on these energies of order 1.
constexpr double DIFFERENCE_STEP = 1e-5;
constexpr double DIFFERENCE_TOLERANCE = 1e-7;
// Exact rules (adjoint against parameter shift) agree to rounding.
constexpr double EXACT_TOLERANCE = 1e-11;

double energy_of(const ZarnikGraph& circuit, const PauliSum& h, const ZarnikState& reference) {
    ZarnikState psi = reference;
    for (const Operation& op : circuit.operations) {
        psi.apply(op);
    }
    return h.expectation_value(psi);
}

double energy_at(const ZarnikGraph& circuit, const PauliSum& h, const ZarnikState& reference,
                 std::size_t slot, double shift) {
    ZarnikGraph moved = circuit;
    std::vector<double> values = parameters(moved);
    values[slot] += shift;
    set_parameters(moved, values);
    return energy_of(moved, h, reference);
}

PauliSum random_sum(std::uint64_t n, std::size_t terms, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
    std::uniform_int_distribution<int> letter(0, 3);
    PauliSum sum;
    for (std::size_t t = 0; t < terms; ++t) {
        PauliTerm term{coefficient(rng), {}};
        for (std::uint64_t q = 0; q < n; ++q) {
            const auto kind = static_cast<Pauli>(letter(rng));
            if (kind != Pauli::I) {
                term.paulis.push_back({q, kind});
            }
        }
        sum.terms.push_back(term);
    }
    return sum;
}

// `count` distinct qubits below n, in random order.
std::vector<std::uint64_t> random_qubits(std::uint64_t n, std::size_t count, std::mt19937_64& rng) {
    std::vector<std::uint64_t> all(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        all[q] = q;
    }
    std::shuffle(all.begin(), all.end(), rng);
    all.resize(count);
    return all;
}

// An operation of `kind` on random qubits with random parameters.
Operation random_operation(GateKind kind, std::uint64_t n, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> angle(-std::numbers::pi, std::numbers::pi);
    const GateInfo& info = gate_info(kind);
    std::vector<double> params(info.param_count);
    for (double& p : params) {
        p = angle(rng);
    }
    if (kind == GateKind::PAULI_ROTATION) {
        const std::size_t k = 1 + rng() % n;
        std::string letters;
        for (std::size_t j = 0; j < k; ++j) {
            letters.push_back("IXYZ"[rng() % 4]);
        }
        return pauli_rotation(letters, random_qubits(n, k, rng), params[0]);
    }
    if (info.orbitals != 0) {
        const std::vector<std::uint64_t> orbitals = random_qubits(n, info.orbitals, rng);
        const std::size_t half = info.orbitals / 2;
        const std::span<const std::uint64_t> from(orbitals.data(), half);
        const std::span<const std::uint64_t> to(orbitals.data() + half, half);
        return info.parity_qubits ? fermionic_excitation(from, to, params[0])
                                  : qubit_excitation(from, to, params[0]);
    }
    return make_operation(kind, random_qubits(n, info.arity, rng), params);
}

// Random circuits of 2 to 5 qubits: a layer of fixed rotations and CX for a generic state,
// then three operations of the kind under test between CX gates.
ZarnikGraph random_circuit(GateKind kind, std::uint64_t n, std::mt19937_64& rng) {
    ZarnikGraph circuit(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        circuit.add_gate(GateType::of(GateKind::H), {q});
        circuit.add(make_operation(GateKind::U, {q}, {0.3 + 0.2 * q, 0.7, -0.4}));
    }
    for (int r = 0; r < 3; ++r) {
        circuit.add(random_operation(kind, n, rng));
        circuit.add_gate(GateType::of(GateKind::CX), random_qubits(n, 2, rng));
    }
    // A payload kind without parameters, which the backward sweep undoes by its adjoint.
    const Operation u = make_operation(GateKind::CU, {0, 1}, {0.9, -0.3, 1.7, 0.2});
    circuit.operations.insert(circuit.operations.begin() + 2 * n + 1,
                              unitary({0, 1}, operation_matrix(u)));
    return circuit;
}

std::vector<GateKind> parametric_kinds() {
    std::vector<GateKind> kinds;
    for (const GateInfo& info : GATE_TABLE) {
        if (info.param_count > 0) {
            kinds.push_back(info.kind);
        }
    }
    return kinds;
}

bool admits_parameter_shift(GateKind kind) {
    const GateInfo& info = gate_info(kind);
    return info.generator == GeneratorForm::HalfPauli && info.controls == 0;
}

class EveryParametricKind : public ::testing::TestWithParam<GateKind> {};

TEST_P(EveryParametricKind, AdjointGradientMatchesCentralDifferencesAndParameterShift) {
    const GateKind kind = GetParam();
    std::mt19937_64 rng(test::SEED + static_cast<std::uint64_t>(kind));
    const GateInfo& info = gate_info(kind);
    for (std::uint64_t n = std::max<std::uint64_t>({2, info.arity, info.orbitals}); n <= 5; ++n) {
        const ZarnikGraph circuit = random_circuit(kind, n, rng);
        const PauliSum h = random_sum(n, 6, rng);
        const ZarnikState reference(n);
        const EnergyGradient result = energy_and_gradient(circuit, h, reference);
        ASSERT_EQ(result.gradient.size(), parameter_count(circuit));
        EXPECT_NEAR(result.energy, energy_of(circuit, h, reference), EXACT_TOLERANCE);
        for (std::size_t slot = 0; slot < result.gradient.size(); ++slot) {
            const double central = (energy_at(circuit, h, reference, slot, DIFFERENCE_STEP) -
                                    energy_at(circuit, h, reference, slot, -DIFFERENCE_STEP)) /
                                   (2 * DIFFERENCE_STEP);
            EXPECT_NEAR(result.gradient[slot], central, DIFFERENCE_TOLERANCE)
                << gate_info(kind).name << " on " << n << " qubits, slot " << slot;
        }
        if (!admits_parameter_shift(kind)) {
            continue;
        }
        // Only the slots of the kind under test: the U layer does not admit the rule.
        std::size_t slot = 0;
        for (const Operation& op : circuit.operations) {
            if (op.gate.kind == kind) {
                const double shift =
                    (energy_at(circuit, h, reference, slot, std::numbers::pi / 2) -
                     energy_at(circuit, h, reference, slot, -std::numbers::pi / 2)) /
                    2;
                EXPECT_NEAR(result.gradient[slot], shift, EXACT_TOLERANCE)
                    << gate_info(kind).name << " slot " << slot;
            }
            slot += op.params.size();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(GateTable, EveryParametricKind, ::testing::ValuesIn(parametric_kinds()),
                         [](const auto& info) {
                             return std::string(gate_info(info.param).name);
                         });

// The slots of the original kinds follow what the kernels read: params[0] of a rotation (not
// its angle field), nothing of other slots.
TEST(Gradient, OriginalKindsFollowTheParametersTheKernelsRead) {
    ZarnikGraph circuit(2);
    circuit.add_gate(GateType::of(GateKind::H), {0});
    circuit.add_gate_with_params(GateType::rx(0.3), {0}, {1.1, 5.0});  // angle is stale
    circuit.add_gate(GateType::ry(0.7), {1});
    circuit.add_gate_with_params(GateType::of(GateKind::CX), {0, 1}, {2.0});
    circuit.add_gate_with_params(GateType::rz(0.0), {1}, {0.9});
    circuit.add_gate_with_params(GateType::rz(0.0), {7}, {0.5});  // beyond the register
    const PauliSum h = PauliSum::h2_hamiltonian();
    const ZarnikState reference(2);
    const EnergyGradient result = energy_and_gradient(circuit, h, reference);
    ASSERT_EQ(result.gradient.size(), 6U);
    for (std::size_t slot = 0; slot < 6; ++slot) {
        const double central = (energy_at(circuit, h, reference, slot, DIFFERENCE_STEP) -
                                energy_at(circuit, h, reference, slot, -DIFFERENCE_STEP)) /
                               (2 * DIFFERENCE_STEP);
        EXPECT_NEAR(result.gradient[slot], central, DIFFERENCE_TOLERANCE) << "slot " << slot;
    }
    EXPECT_EQ(result.gradient[1], 0.0);
    EXPECT_EQ(result.gradient[3], 0.0);
    EXPECT_NEAR(result.gradient[5], 0.0, EXACT_TOLERANCE);
}

TEST(Gradient, ApplyPauliSumMatchesTheDenseMatrix) {
    std::mt19937_64 rng(test::SEED);
    for (std::uint64_t n = 1; n <= 4; ++n) {
        const PauliSum h = random_sum(n, 7, rng);
        const test::Vector v = test::random_state(n, rng);
        const ZarnikState out = apply_pauli_sum(h, test::make_state(v));
        test::Vector expected(v.size());
        for (const PauliTerm& term : h.terms) {
            const test::Vector part = test::multiply(test::pauli_matrix(term, n), v);
            for (std::size_t k = 0; k < v.size(); ++k) {
                expected[k] += term.coefficient * part[k];
            }
        }
        for (std::size_t k = 0; k < v.size(); ++k) {
            EXPECT_NEAR(out.amplitudes()[k].real(), expected[k].real(), test::TOLERANCE) << k;
            EXPECT_NEAR(out.amplitudes()[k].imag(), expected[k].imag(), test::TOLERANCE) << k;
        }
    }
}

TEST(Gradient, PoolGradientsMatchAppendingTheOperator) {
    std::mt19937_64 rng(test::SEED + 1);
    const std::uint64_t n = 4;
    const PauliSum h = random_sum(n, 8, rng);
    ZarnikState psi = test::make_state(test::random_state(n, rng));
    // Generators whose terms commute, so that exp(i theta B) is a product of Pauli rotations
    // exp(-i (-2 c theta)/2 P): a single term, and the Jordan-Wigner form of a single
    // excitation between qubits 0 and 2 (X Z Y - Y Z X, halved).
    const std::vector<PauliSum> pool = {parse_pauli_sum("0.7 * X0 Y3"),
                                        parse_pauli_sum("0.5 * X0 Z1 Y2 - 0.5 * Y0 Z1 X2")};
    const std::vector<double> gradients = pool_gradients(h, psi, pool);
    ASSERT_EQ(gradients.size(), pool.size());
    for (std::size_t k = 0; k < pool.size(); ++k) {
        const auto appended = [&](double theta) {
            ZarnikState moved = psi;
            for (const PauliTerm& term : pool[k].terms) {
                std::string letters;
                std::vector<std::uint64_t> qubits;
                for (const PauliFactor& f : term.paulis) {
                    letters.push_back("IXYZ"[static_cast<int>(f.kind)]);
                    qubits.push_back(f.qubit);
                }
                moved.apply(pauli_rotation(letters, qubits, -2 * term.coefficient * theta));
            }
            return h.expectation_value(moved);
        };
        const double central =
            (appended(DIFFERENCE_STEP) - appended(-DIFFERENCE_STEP)) / (2 * DIFFERENCE_STEP);
        EXPECT_NEAR(gradients[k], central, DIFFERENCE_TOLERANCE) << "operator " << k;
    }
}

TEST(Gradient, RefusesWhatDoesNotFitTheRegister) {
    const ZarnikState two(2);
    ZarnikState three(3);
    EXPECT_THROW(apply_pauli_sum(parse_pauli_sum("X0"), two, three), InvalidArgument);
    EXPECT_THROW(apply_pauli_sum(parse_pauli_sum("X0"), three, three), InvalidArgument);
    EXPECT_THROW((void)apply_pauli_sum(parse_pauli_sum("X5"), two), IndexOutOfBounds);
    ZarnikGraph circuit(2);
    circuit.add(make_operation(GateKind::CRX, {0, 4}, {0.1}));
    EXPECT_THROW((void)energy_gradient(circuit, parse_pauli_sum("Z0"), two), InvalidArgument);
    const std::vector<PauliSum> pool = {parse_pauli_sum("Y2")};
    EXPECT_THROW((void)pool_gradients(parse_pauli_sum("Z0"), two, pool), IndexOutOfBounds);
}

}  // namespace
}  // namespace zel
