#include "zel/core/gradient.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <thread>
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

// H|psi> by the plain pass over every target j: for each flip group in order, the factor of the
// source j ^ flip (its terms' weights added in term order) times the source amplitude, with the
// products written out as the library writes them. This is the order whose bits every product
// must reproduce, sparse or not.
std::vector<Complex> plain_product(const PreparedPauliSum& sum, const ZarnikState& psi) {
    const std::span<const Complex> in = psi.amplitudes();
    std::vector<Complex> out(in.size(), Complex(0.0, 0.0));
    for (std::uint64_t j = 0; j < in.size(); ++j) {
        for (const PauliFlipGroup& group : sum.groups()) {
            const std::uint64_t source = j ^ group.flip;
            Complex f(0.0, 0.0);
            for (std::size_t t = 0; t < group.weights.size(); ++t) {
                if (std::popcount(source & group.signs[t]) % 2 == 0) {
                    f += group.weights[t];
                } else {
                    f -= group.weights[t];
                }
            }
            const Complex x = in[source];
            out[j] += Complex(f.real() * x.real() - f.imag() * x.imag(),
                              f.real() * x.imag() + f.imag() * x.real());
        }
    }
    return out;
}

// Equal bit patterns, or both NaN: which operand's NaN an instruction passes on (and so its
// sign bit) is the compiler's choice of operand order, not part of the result.
bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// A state on n qubits whose amplitudes are random on the basis states with `electrons` set
// bits and zero elsewhere, like a molecular state in its sector.
ZarnikState sector_state(std::uint64_t n, int electrons, std::mt19937_64& rng) {
    test::Vector v = test::random_state(n, rng);
    for (std::uint64_t k = 0; k < v.size(); ++k) {
        if (std::popcount(k) != electrons) {
            v[k] = 0.0;
        }
    }
    return test::make_state(v);
}

TEST(Gradient, ProductsGiveTheBitsOfThePlainPass) {
    std::mt19937_64 rng(test::SEED + 2);
    constexpr std::uint64_t N = 8;
    constexpr double INF = std::numeric_limits<double>::infinity();
    // Hopping terms whose flip groups cancel exactly on most sources, random strings, and
    // weights so large that a factor could overflow (those products take the plain pass).
    const PauliSum hopping = parse_pauli_sum(
        "0.3 * X0 X1 + 0.3 * Y0 Y1 - 0.2 * X2 Z3 X4 - 0.2 * Y2 Z3 Y4 + 0.5 * Z0 Z5 - 0.25 * Z7");
    PauliSum mixed = random_sum(N, 40, rng);
    mixed.terms.insert(mixed.terms.end(), hopping.terms.begin(), hopping.terms.end());
    const PauliSum huge = parse_pauli_sum("1e308 * Z0 + 1e308 * Z1 + 0.5 * X0 X1");
    ZarnikState special = sector_state(N, 2, rng);
    special.amplitudes_mut()[3] = Complex(-0.0, 0.0);
    special.amplitudes_mut()[5] = Complex(std::numeric_limits<double>::quiet_NaN(), 0.0);
    special.amplitudes_mut()[6] = Complex(0.0, INF);
    struct Case {
        const char* name;
        PauliSum sum;
        ZarnikState psi;
    };
    const std::vector<Case> cases = {
        {"sector state, hopping terms", hopping, sector_state(N, 2, rng)},
        {"sector state, random strings", mixed, sector_state(N, 3, rng)},
        {"signed zero, NaN and infinite amplitudes", mixed, special},
        {"factors that could overflow", huge, sector_state(N, 2, rng)},
        {"dense state", mixed, test::make_state(test::random_state(N, rng))},
    };
    const auto expect_plain_bits = [](const PreparedPauliSum& prepared, const ZarnikState& psi,
                                      const ZarnikState& got, const std::string& name) {
        const std::vector<Complex> expected = plain_product(prepared, psi);
        for (std::size_t k = 0; k < expected.size(); ++k) {
            EXPECT_TRUE(same_bits(got.amplitudes()[k].real(), expected[k].real()))
                << name << ", amplitude " << k;
            EXPECT_TRUE(same_bits(got.amplitudes()[k].imag(), expected[k].imag()))
                << name << ", amplitude " << k;
        }
    };
    for (const Case& c : cases) {
        const PreparedPauliSum prepared(c.sum, N);
        // The second product reuses the factors the first one kept for the same amplitudes.
        for (const char* pass : {"first product", "second product"}) {
            ZarnikState out(N);
            apply_pauli_sum(prepared, c.psi, out);
            expect_plain_bits(prepared, c.psi, out, std::string(c.name) + ", " + pass);
        }
        expect_plain_bits(prepared, c.psi, apply_pauli_sum(c.sum, c.psi),
                          std::string(c.name) + ", unprepared");
    }
    // One prepared sum, and its copies, over states whose non-zero amplitudes lie elsewhere,
    // then again where they lay before; two threads at once on the same kept factors.
    const PreparedPauliSum shared(mixed, N);
    const std::vector<ZarnikState> states = {sector_state(N, 2, rng), sector_state(N, 2, rng),
                                             sector_state(N, 3, rng), sector_state(N, 2, rng)};
    for (std::size_t s = 0; s < states.size(); ++s) {
        const PreparedPauliSum copy = shared;
        ZarnikState out(N);
        apply_pauli_sum(s % 2 == 0 ? shared : copy, states[s], out);
        expect_plain_bits(shared, states[s], out, "state " + std::to_string(s) + " in turn");
    }
    std::vector<ZarnikState> outs(2, ZarnikState(N));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int repeat = 0; repeat < 20; ++repeat) {
                apply_pauli_sum(shared, states[t + 1], outs[t]);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t t = 0; t < 2; ++t) {
        expect_plain_bits(shared, states[t + 1], outs[t], "thread " + std::to_string(t));
    }
    EXPECT_TRUE(PreparedPauliSum(mixed, N).finite_factors());
    EXPECT_FALSE(PreparedPauliSum(huge, N).finite_factors());
}

TEST(Gradient, PreparedHamiltonianGivesTheSameEnergyAndGradient) {
    std::mt19937_64 rng(test::SEED + 3);
    constexpr std::uint64_t N = 6;
    const PauliSum h = random_sum(N, 30, rng);
    ZarnikGraph circuit(N);
    for (const GateKind kind : {GateKind::RY, GateKind::CRX, GateKind::RZZ, GateKind::RX}) {
        circuit.add(random_operation(kind, N, rng));
    }
    ZarnikState reference(N);
    reference.set_computational_basis(0b000111);
    const PreparedPauliSum prepared(h, N);
    const EnergyGradient direct = energy_and_gradient(circuit, h, reference);
    const EnergyGradient reused = energy_and_gradient(circuit, prepared, reference);
    EXPECT_EQ(reused.energy, direct.energy);
    EXPECT_EQ(reused.gradient, direct.gradient);

    const ZarnikState five(5);
    ZarnikState six(N);
    const auto message = [](const auto& call) {
        try {
            call();
        } catch (const InvalidArgument& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message([&] {
                  apply_pauli_sum(prepared, five, six);
              }),
              "apply_pauli_sum: the input has 5 qubits, the prepared sum 6");
    EXPECT_EQ(message([&] {
                  apply_pauli_sum(prepared, six, six);
              }),
              "apply_pauli_sum: the output must be another state than the input");
    EXPECT_EQ(message([&] {
                  (void)energy_and_gradient(ZarnikGraph(5), prepared, five);
              }),
              "energy_and_gradient: the reference has 5 qubits, the prepared Hamiltonian 6");
    EXPECT_THROW(PreparedPauliSum(parse_pauli_sum("X6"), N), IndexOutOfBounds);
}

}  // namespace
}  // namespace zel
