// The gate table against textbook matrices and against itself: every kind's row matrix, its
// kernel on random states at every placement (sampled on larger registers), inverse pairs,
// generators against finite differences, one and two threads, fusion, and the strict checks
// of the kinds from U on.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "support/excitation_reference.hpp"
#include "support/placement.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

using Matrix = std::vector<Complex>;

const Complex I1(0.0, 1.0);
const double PI = std::numbers::pi;

Matrix kron(const Matrix& a, const Matrix& b) {
    const auto da = static_cast<std::size_t>(std::lround(std::sqrt(a.size())));
    const auto db = static_cast<std::size_t>(std::lround(std::sqrt(b.size())));
    Matrix m(da * db * da * db);
    for (std::size_t r = 0; r < da * db; ++r) {
        for (std::size_t c = 0; c < da * db; ++c) {
            m[r * da * db + c] = a[(r / db) * da + c / db] * b[(r % db) * db + c % db];
        }
    }
    return m;
}

Matrix identity(std::size_t d) {
    Matrix m(d * d);
    for (std::size_t j = 0; j < d; ++j) {
        m[j * d + j] = 1.0;
    }
    return m;
}

Matrix added(Matrix a, const Matrix& b) {
    for (std::size_t j = 0; j < a.size(); ++j) {
        a[j] += b[j];
    }
    return a;
}

// |0><0| (x) 1 + |1><1| (x) u with the control as local bit 0: the textbook controlled gate.
Matrix controlled(const Matrix& u) {
    return added(kron(u, Matrix{0.0, 0.0, 0.0, 1.0}),
                 kron(identity(static_cast<std::size_t>(std::lround(std::sqrt(u.size())))),
                      Matrix{1.0, 0.0, 0.0, 0.0}));
}

Matrix scaled(Complex f, Matrix a) {
    for (Complex& x : a) {
        x *= f;
    }
    return a;
}

const Matrix MX{0.0, 1.0, 1.0, 0.0};
const Matrix MY{0.0, -I1, I1, 0.0};
const Matrix MZ{1.0, 0.0, 0.0, -1.0};
const Matrix MH{1 / std::numbers::sqrt2, 1 / std::numbers::sqrt2, 1 / std::numbers::sqrt2,
                -1 / std::numbers::sqrt2};
const Matrix MSWAP{1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1};

Matrix rotation(const Matrix& pauli, double theta) {
    const auto d = static_cast<std::size_t>(std::lround(std::sqrt(pauli.size())));
    return added(scaled(std::cos(theta / 2), identity(d)),
                 scaled(-I1 * std::sin(theta / 2), pauli));
}

Matrix u3(double t, double p, double l) {
    return {std::cos(t / 2), -std::exp(I1 * l) * std::sin(t / 2),
            std::exp(I1 * p) * std::sin(t / 2), std::exp(I1 * (p + l)) * std::cos(t / 2)};
}

// A unitary on two qubits that mixes both and has complex entries.
Matrix sample_unitary() {
    return kron(u3(0.3, 1.1, -0.4), u3(1.9, -0.2, 0.8));
}

// An operation of every kind, with the parameters and payload of the samples below.
struct Sample {
    Operation op;
    Matrix textbook;  // on the operation's own qubits, qubits[0] the least significant bit
};

std::vector<Sample> samples() {
    const double a = 0.731;
    const double b = -1.29;
    const double c = 2.47;
    const double g = 0.38;
    const auto op = [](GateKind kind, std::size_t k, std::vector<double> params = {}) {
        Qubits q(k);
        for (std::size_t j = 0; j < k; ++j) {
            q[j] = j;
        }
        return make_operation(kind, q, std::move(params));
    };
    std::vector<Sample> out = {
        {op(GateKind::I, 1), identity(2)},
        {op(GateKind::X, 1), MX},
        {op(GateKind::Y, 1), MY},
        {op(GateKind::Z, 1), MZ},
        {op(GateKind::H, 1), MH},
        {op(GateKind::S, 1), {1.0, 0.0, 0.0, I1}},
        {op(GateKind::SX, 1), scaled(0.5, {1.0 + I1, 1.0 - I1, 1.0 - I1, 1.0 + I1})},
        {op(GateKind::T, 1), {1.0, 0.0, 0.0, std::exp(I1 * PI / 4.0)}},
        {op(GateKind::RX, 1, {a}), rotation(MX, a)},
        {op(GateKind::RY, 1, {a}), rotation(MY, a)},
        {op(GateKind::RZ, 1, {a}), rotation(MZ, a)},
        {op(GateKind::CX, 2), controlled(MX)},
        {op(GateKind::CZ, 2), controlled(MZ)},
        {op(GateKind::SWAP, 2), MSWAP},
        {op(GateKind::U, 1, {a, b, c}), u3(a, b, c)},
        {op(GateKind::U2, 1, {b, c}), u3(PI / 2, b, c)},
        {op(GateKind::P, 1, {a}), {1.0, 0.0, 0.0, std::exp(I1 * a)}},
        {op(GateKind::SDG, 1), {1.0, 0.0, 0.0, -I1}},
        {op(GateKind::TDG, 1), {1.0, 0.0, 0.0, std::exp(-I1 * PI / 4.0)}},
        {op(GateKind::SXDG, 1), scaled(0.5, {1.0 - I1, 1.0 + I1, 1.0 + I1, 1.0 - I1})},
        {op(GateKind::CY, 2), controlled(MY)},
        {op(GateKind::CH, 2), controlled(MH)},
        {op(GateKind::CP, 2, {a}), controlled({1.0, 0.0, 0.0, std::exp(I1 * a)})},
        {op(GateKind::CRX, 2, {a}), controlled(rotation(MX, a))},
        {op(GateKind::CRY, 2, {a}), controlled(rotation(MY, a))},
        {op(GateKind::CRZ, 2, {a}), controlled(rotation(MZ, a))},
        {op(GateKind::CU, 2, {a, b, c, g}), controlled(scaled(std::exp(I1 * g), u3(a, b, c)))},
        {op(GateKind::CCX, 3), controlled(controlled(MX))},
        {op(GateKind::CSWAP, 3), controlled(MSWAP)},
        {op(GateKind::RXX, 2, {a}), rotation(kron(MX, MX), a)},
        {op(GateKind::RYY, 2, {a}), rotation(kron(MY, MY), a)},
        {op(GateKind::RZZ, 2, {a}), rotation(kron(MZ, MZ), a)},
        {op(GateKind::GPHASE, 0, {g}), {std::exp(I1 * g)}},
        // Letter j acts on qubits[j], the least significant first: X on 0, Y on 1, Z on 2.
        {pauli_rotation("XYZ", {0, 1, 2}, a), rotation(kron(MZ, kron(MY, MX)), a)},
        {unitary({0, 1}, sample_unitary()), sample_unitary()},
    };
    // Orbitals out of order, so that the parity qubits and T's own sign both matter.
    const Qubits single_from = {2};
    const Qubits single_to = {0};
    const Qubits double_from = {3, 0};
    const Qubits double_to = {1, 5};
    for (const bool fermionic : {true, false}) {
        for (const bool single : {true, false}) {
            const Operation e = fermionic ? fermionic_excitation(single ? single_from : double_from,
                                                                 single ? single_to : double_to, a)
                                          : qubit_excitation(single ? single_from : double_from,
                                                             single ? single_to : double_to, a);
            out.push_back({e, excitation_textbook(e.qubits, single ? 2 : 4, fermionic, a)});
        }
    }
    return out;
}

// The kinds' samples cover the table in order.
TEST(GateTable, SamplesCoverEveryKindInOrder) {
    const std::vector<Sample> all = samples();
    ASSERT_EQ(all.size(), GATE_KIND_COUNT);
    for (std::size_t k = 0; k < GATE_KIND_COUNT; ++k) {
        EXPECT_EQ(all[k].op.gate.kind, GATE_TABLE[k].kind);
    }
}

TEST(GateTable, RowMatrixIsTheTextbookMatrix) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(std::string(gate_info(s.op.gate.kind).name));
        EXPECT_TRUE(near_spans(operation_matrix(s.op), s.textbook, TOLERANCE));
    }
}

// Qubits a placement chooses: all of an operation's, or an excitation's orbitals (its parity
// qubits follow from them).
std::size_t placement_size(const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    return info.orbitals != 0 ? info.orbitals : op.qubits.size();
}

Operation placed(Operation op, const Qubits& qubits) {
    const GateInfo& info = gate_info(op.gate.kind);
    op.qubits = qubits;
    if (info.parity_qubits) {
        const Qubits parity = excitation_parity_qubits(qubits);
        op.qubits.insert(op.qubits.end(), parity.begin(), parity.end());
    }
    return op;
}

// Kernels against the row's matrix on 1 to 8 qubits: every placement up to 4 qubits, a
// sample of them above.
TEST(GateTable, KernelMatchesRowMatrixOnRandomStates) {
    std::mt19937_64 rng(SEED);
    for (std::uint64_t n = 1; n <= 8; ++n) {
        for (const Sample& s : samples()) {
            const std::size_t k = placement_size(s.op);
            if (k > n) {
                continue;
            }
            for (const Qubits& q : sampled_placements(k, n, rng, n <= 4 ? 1000 : 6)) {
                const Operation op = placed(s.op, q);
                SCOPED_TRACE(std::string(gate_info(op.gate.kind).name) + " n=" + std::to_string(n));
                const Vector v = random_state(n, rng);
                ZarnikState state = make_state(v);
                state.apply(op);
                EXPECT_TRUE(
                    near_amplitudes(state, apply_on_qubits(operation_matrix(op), op.qubits, v)));
            }
        }
    }
}

TEST(GateTable, KindTimesInverseIsIdentity) {
    std::mt19937_64 rng(SEED + 1);
    const std::uint64_t n = 4;
    for (const Sample& s : samples()) {
        SCOPED_TRACE(std::string(gate_info(s.op.gate.kind).name));
        const Operation op =
            placed(s.op, sampled_placements(placement_size(s.op), n, rng, 1).front());
        const Operation inv = inverse(op);
        EXPECT_EQ(inv.gate.kind, gate_info(op.gate.kind).inverse_kind);
        const Vector v = random_state(n, rng);
        ZarnikState state = make_state(v);
        state.apply(op);
        state.apply(inv);
        EXPECT_TRUE(near_amplitudes(state, v));
    }
}

// Angles far apart in size: a phase e^(i(phi + lambda)) formed from the sum would lose lambda
// in one entry and keep it in the others, and the matrix would stop being unitary.
TEST(GateTable, RowMatricesStayUnitaryForAnglesFarApart) {
    const double huge = 1e20;
    const std::vector<Operation> cases = {
        make_operation(GateKind::U, {0}, {0.7, huge, -3.3}),
        make_operation(GateKind::U, {0}, {huge, -3.3, huge}),
        make_operation(GateKind::U2, {0}, {-3.3, huge}),
        make_operation(GateKind::CU, {0, 1}, {0.7, -3.3, huge, 1e-300}),
        make_operation(GateKind::CU, {0, 1}, {0.7, 2.0, -3.3, huge}),
    };
    for (const Operation& op : cases) {
        SCOPED_TRACE(std::string(gate_info(op.gate.kind).name));
        const Matrix m = operation_matrix(op);
        const std::size_t d = static_cast<std::size_t>(std::lround(std::sqrt(m.size())));
        Matrix product(m.size());
        for (std::size_t r = 0; r < d; ++r) {
            for (std::size_t c = 0; c < d; ++c) {
                for (std::size_t k = 0; k < d; ++k) {
                    product[r * d + c] += m[r * d + k] * std::conj(m[c * d + k]);
                }
            }
        }
        EXPECT_TRUE(near_spans(product, identity(d), TOLERANCE));
    }
}

// Matrices hold 4^k entries: a Pauli string or an excitation across a wide register is refused
// by name (a string on 32 qubits once asked for 2^64 entries, which wrapped to none).
TEST(GateTable, MatricesOfWideOperationsAreRefused) {
    struct Case {
        Operation op;
        std::string message;
    };
    const std::vector<std::uint64_t> eleven = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<std::uint64_t> wide(32);
    for (std::size_t j = 0; j < wide.size(); ++j) {
        wide[j] = j;
    }
    const std::string beyond = " entries; matrices are formed for at most 10 qubits";
    const std::vector<Case> cases = {
        {pauli_rotation(std::string(11, 'X'), eleven, 0.5),
         "PAULI_ROTATION: a matrix on 11 qubits has 4^11" + beyond},
        {pauli_rotation(std::string(32, 'Z'), wide, 0.5),
         "PAULI_ROTATION: a matrix on 32 qubits has 4^32" + beyond},
        {fermionic_excitation(std::vector<std::uint64_t>{0}, std::vector<std::uint64_t>{40}, 0.5),
         "FERMIONIC_SINGLE: a matrix on 41 qubits has 4^41" + beyond},
    };
    for (const Case& c : cases) {
        for (const bool generator : {false, true}) {
            try {
                static_cast<void>(generator ? generator_matrix(c.op) : operation_matrix(c.op));
                ADD_FAILURE() << c.message;
            } catch (const InvalidArgument& error) {
                EXPECT_EQ(std::string(error.what()), c.message);
            }
        }
    }
    EXPECT_EQ(
        operation_matrix(pauli_rotation(std::string(10, 'Y'), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 0.5))
            .size(),
        std::size_t{1} << 20);
}

// d/dtheta M = -i G M, by a central difference of the row's matrix.
TEST(GateTable, GeneratorMatchesFiniteDifference) {
    constexpr double STEP = 1e-5;
    constexpr double DIFFERENCE_TOLERANCE = 1e-8;
    for (const Sample& s : samples()) {
        const GateInfo& info = gate_info(s.op.gate.kind);
        SCOPED_TRACE(std::string(info.name));
        if (info.generator == GeneratorForm::None) {
            EXPECT_THROW(generator_matrix(s.op), InvalidArgument);
            continue;
        }
        ASSERT_EQ(info.param_count, 1);
        Operation plus = s.op;
        Operation minus = s.op;
        plus.params[0] += STEP;
        minus.params[0] -= STEP;
        sync_rotation_angle(plus);
        sync_rotation_angle(minus);
        const Matrix mp = operation_matrix(plus);
        const Matrix mm = operation_matrix(minus);
        const Matrix m = operation_matrix(s.op);
        const Matrix g = generator_matrix(s.op);
        const auto d = static_cast<std::size_t>(std::lround(std::sqrt(m.size())));
        for (std::size_t r = 0; r < d; ++r) {
            for (std::size_t c = 0; c < d; ++c) {
                Complex gm = 0.0;
                for (std::size_t j = 0; j < d; ++j) {
                    gm += g[r * d + j] * m[j * d + c];
                }
                const Complex numeric = (mp[r * d + c] - mm[r * d + c]) / (2 * STEP);
                EXPECT_NEAR(std::abs(numeric - (-I1 * gm)), 0.0, DIFFERENCE_TOLERANCE)
                    << "entry " << r << ", " << c;
            }
        }
    }
}

// Above the grain the kernels run on the pool; two threads give the same bits as one.
TEST(GateTable, TwoThreadsGiveTheBitsOfOne) {
    constexpr std::uint64_t N = 18;
    std::mt19937_64 rng(SEED + 2);
    const Vector v = random_state(N, rng);
    for (const Sample& s : samples()) {
        SCOPED_TRACE(std::string(gate_info(s.op.gate.kind).name));
        const Operation op =
            placed(s.op, sampled_placements(placement_size(s.op), N, rng, 1).front());
        EXPECT_TRUE(same_bits_on_one_and_two_threads(v, op));
    }
}

// Random circuits of every kind: the fused path agrees with the exact kernels.
TEST(GateTable, FusionHandlesEveryKind) {
    std::mt19937_64 rng(SEED + 3);
    const std::vector<Sample> all = samples();
    for (const std::uint64_t n : {3, 5, 7}) {
        for (unsigned limit : {2U, 4U}) {
            ZarnikGraph circuit(n);
            for (int g = 0; g < 60; ++g) {
                const Sample& s = all[rng() % all.size()];
                if (placement_size(s.op) > n) {
                    continue;
                }
                circuit.add(
                    placed(s.op, sampled_placements(placement_size(s.op), n, rng, 1).front()));
            }
            ZarnikState exact(n);
            apply_circuit(exact, circuit);
            ZarnikState fused(n);
            apply_fused(fused, fuse(circuit, n, limit));
            EXPECT_TRUE(near_amplitudes(fused, amplitudes_of(exact)));
        }
    }
}

struct Refusal {
    Operation op;
    std::string message;
};

// A broken precondition of a kind from U on is `InvalidArgument` with an exact message,
// thrown before any amplitude changes.
TEST(GateTable, StrictKindsRefuseBadOperations) {
    Matrix not_unitary = identity(2);
    not_unitary[1] = 1e-9;
    const std::vector<Refusal> cases = {
        {make_operation(GateKind::CCX, {0, 1, 3}),
         "CCX: qubit 3 is not below the register's 3 qubits"},
        {make_operation(GateKind::CSWAP, {0, 1, 1}), "CSWAP: qubit 1 appears twice"},
        {make_operation(GateKind::CX, {}), "index out of bounds: the len is 0 but the index is 0"},
        {make_operation(GateKind::CY, {0}), "CY: takes 2 qubits, got 1"},
        {make_operation(GateKind::U, {0}, {1.0}), "U: takes 3 parameters, got 1"},
        {make_operation(GateKind::CRX, {0, 1}), "CRX: takes 1 parameter, got 0"},
        {make_operation(GateKind::P, {0}, {std::nan("")}), "P: parameter 0 is NaN"},
        {make_operation(GateKind::SDG, {0, 1}), "SDG: takes 1 qubit, got 2"},
        {pauli_rotation("XQ", {0, 1}, 0.5),
         "PAULI_ROTATION: letter 1 of the Pauli string is not one of I, X, Y, Z"},
        {pauli_rotation("XY", {0, 1, 2}, 0.5),
         "PAULI_ROTATION: the Pauli string has 2 letters for 3 qubits"},
        {pauli_rotation("", {}, 0.5), "PAULI_ROTATION: acts on at least one qubit, got 0"},
        {unitary({0}, {1.0, 0.0, 0.0}), "UNITARY: a matrix on 1 qubit has 4 entries, got 3"},
        {make_operation(GateKind::FERMIONIC_SINGLE, {0, 2}, {0.5}),
         "FERMIONIC_SINGLE: the qubits after orbitals 0, 2 must be their parity qubits 1, got "
         "none"},
        {make_operation(GateKind::FERMIONIC_SINGLE, {2, 0, 1, 1}, {0.5}),
         "FERMIONIC_SINGLE: qubit 1 appears twice"},
        {make_operation(GateKind::FERMIONIC_SINGLE, {0, 3, 1, 2}, {0.5}),
         "FERMIONIC_SINGLE: qubit 3 is not below the register's 3 qubits"},
        {make_operation(GateKind::FERMIONIC_DOUBLE, {0, 1, 2}, {0.5}),
         "FERMIONIC_DOUBLE: takes 4 orbitals and their parity qubits, got 3 qubits"},
        {make_operation(GateKind::QUBIT_DOUBLE, {0, 1, 2}, {0.5}),
         "QUBIT_DOUBLE: takes 4 qubits, got 3"},
        {make_operation(GateKind::QUBIT_SINGLE, {0, 1}), "QUBIT_SINGLE: takes 1 parameter, got 0"},
        {make_operation(GateKind::QUBIT_SINGLE, {0, 1}, {std::nan("")}),
         "QUBIT_SINGLE: parameter 0 is NaN"},
        {unitary({0}, not_unitary),
         "UNITARY: the matrix is not unitary: entry (0, 1) of M^dagger M is off by 1e-9, more "
         "than 1e-12"},
    };
    std::mt19937_64 rng(SEED + 4);
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.message);
        const Vector v = random_state(3, rng);
        ZarnikState state = make_state(v);
        try {
            state.apply(c.op);
            ADD_FAILURE() << "no exception";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        EXPECT_TRUE(bitwise_equal(state, v));
    }
}

TEST(GateTable, PayloadIsCopiedWithTheCircuit) {
    ZarnikGraph circuit(2);
    circuit.add(pauli_rotation("XY", {0, 1}, 0.5));
    circuit.add(unitary({1}, identity(2)));
    const ZarnikGraph copy = circuit;
    circuit.operations[0].payload.pauli[0] = 'Z';
    circuit.operations[1].payload.matrix[0] = -1.0;
    EXPECT_EQ(copy.operations[0].payload.pauli, "XY");
    EXPECT_EQ(copy.operations[1].payload.matrix[0], Complex(1.0, 0.0));
    EXPECT_NE(copy, circuit);
}

}  // namespace
}  // namespace zel::test
