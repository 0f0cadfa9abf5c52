// Unitaries on several qubits through OpenQASM: the exporter's decomposition reads back to the
// same state, stays short for sparse matrices, and the reader's `ctrl @` / `negctrl @` on gates
// without a controlled kind give the controlled matrix.

#include <algorithm>
#include <complex>
#include <cstdint>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "support/placement.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

using Matrix = std::vector<Complex>;

const Complex I_UNIT(0.0, 1.0);

// Haar-distributed: Gram-Schmidt on the columns of a complex Gaussian matrix.
Matrix haar_unitary(std::size_t k, std::mt19937_64& rng) {
    const std::size_t d = std::size_t{1} << k;
    std::normal_distribution<double> normal;
    Matrix m(d * d);
    for (Complex& entry : m) {
        entry = {normal(rng), normal(rng)};
    }
    for (std::size_t c = 0; c < d; ++c) {
        for (std::size_t p = 0; p < c; ++p) {
            Complex dot = 0.0;
            for (std::size_t r = 0; r < d; ++r) {
                dot += std::conj(m[r * d + p]) * m[r * d + c];
            }
            for (std::size_t r = 0; r < d; ++r) {
                m[r * d + c] -= dot * m[r * d + p];
            }
        }
        double norm = 0.0;
        for (std::size_t r = 0; r < d; ++r) {
            norm += std::norm(m[r * d + c]);
        }
        for (std::size_t r = 0; r < d; ++r) {
            m[r * d + c] /= std::sqrt(norm);
        }
    }
    return m;
}

// The permutation sending basis state c to perm[c], each entry with a phase.
Matrix phased_permutation(const std::vector<std::size_t>& perm, double phase_step) {
    const std::size_t d = perm.size();
    Matrix m(d * d);
    for (std::size_t c = 0; c < d; ++c) {
        m[perm[c] * d + c] = std::polar(1.0, phase_step * static_cast<double>(c));
    }
    return m;
}

// `target` (2^t x 2^t) on the last t local qubits, applied when the first `controls` local bits
// are all set.
Matrix controlled_block(const Matrix& target, std::size_t controls) {
    std::size_t t = 0;
    while ((std::size_t{1} << (2 * t)) < target.size()) {
        ++t;
    }
    const std::size_t low = std::size_t{1} << controls;
    const std::size_t d = low << t;
    Matrix m(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            const bool active = r % low == low - 1 && c % low == low - 1;
            if (active) {
                m[r * d + c] = target[(r / low) * (d / low) + c / low];
            } else if (r == c) {
                m[r * d + c] = 1.0;
            }
        }
    }
    return m;
}

ZarnikGraph one_unitary(std::uint64_t n, const Qubits& qubits, const Matrix& m) {
    ZarnikGraph circuit(n);
    circuit.add(unitary(qubits, m));
    return circuit;
}

// The read-back export of `m` on `qubits` against the matrix itself, on a random state of n.
void expect_round_trip(std::uint64_t n, const Qubits& qubits, const Matrix& m,
                       std::mt19937_64& rng) {
    const std::string text = to_open_qasm(one_unitary(n, qubits, m));
    SCOPED_TRACE(text);
    const Vector psi = random_state(n, rng);
    ZarnikState state = make_state(psi);
    apply_circuit(state, from_open_qasm(text));
    EXPECT_TRUE(near_amplitudes(state, apply_on_qubits(m, qubits, psi)));
}

std::size_t line_count(const std::string& text) {
    std::size_t lines = 0;
    for (const char ch : text) {
        lines += ch == '\n' ? 1 : 0;
    }
    return lines;
}

TEST(QasmUnitaryExport, HaarUnitariesReadBackOnRandomPlacements) {
    std::mt19937_64 rng(SEED);
    for (std::size_t k = 2; k <= 4; ++k) {
        const std::uint64_t n = k + 1;
        for (const Qubits& qubits : sampled_placements(k, n, rng, 3)) {
            SCOPED_TRACE("k = " + std::to_string(k));
            expect_round_trip(n, qubits, haar_unitary(k, rng), rng);
        }
    }
}

TEST(QasmUnitaryExport, StructuredMatricesReadBackAndStayShort) {
    std::mt19937_64 rng(SEED + 1);
    const Matrix cx = phased_permutation({0, 3, 2, 1}, 0.0);
    Matrix su2 = haar_unitary(1, rng);
    std::vector<std::size_t> shuffled(16);
    std::iota(shuffled.begin(), shuffled.end(), 0);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    struct Case {
        const char* name;
        Matrix matrix;
        std::size_t max_lines;  // of the whole program, 5 of them the header
    };
    const std::vector<Case> cases = {
        {"identity", phased_permutation({0, 1, 2, 3}, 0.0), 5},
        {"cx", cx, 5 + 2},
        {"swap", phased_permutation({0, 2, 1, 3}, 0.0), 5 + 4},
        {"diagonal", phased_permutation({0, 1, 2, 3, 4, 5, 6, 7}, 0.7), 5 + 7},
        {"phased cycle", phased_permutation({1, 2, 3, 4, 5, 6, 7, 0}, -1.3), 5 + 12},
        {"controlled-controlled", controlled_block(su2, 2), 5 + 3},
        {"controlled two-qubit", controlled_block(haar_unitary(2, rng), 1), 5 + 9},
        {"shuffled", phased_permutation(shuffled, 0.9), 5 + 120 + 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t k = 0;
        while ((std::size_t{1} << (2 * k)) < c.matrix.size()) {
            ++k;
        }
        for (const Qubits& qubits : sampled_placements(k, k + 1, rng, 2)) {
            expect_round_trip(k + 1, qubits, c.matrix, rng);
            EXPECT_LE(line_count(to_open_qasm(one_unitary(k + 1, qubits, c.matrix))), c.max_lines);
        }
    }
}

TEST(QasmUnitaryExport, WideUnitariesStayWithinTheTwoLevelCount) {
    std::mt19937_64 rng(SEED + 2);
    // d(d-1)/2 two-level steps, d-1 phases and a gphase for d = 2^k, after the 5 header lines.
    const Matrix six = haar_unitary(6, rng);
    EXPECT_LE(line_count(to_open_qasm(one_unitary(6, {4, 0, 5, 2, 1, 3}, six))), 5U + 2016 + 64);
    // Reading back checks each 2^k x 2^k matrix for unitarity: five qubits keep the test quick.
    const Qubits qubits = {4, 0, 2, 1, 3};
    const Matrix five = haar_unitary(5, rng);
    EXPECT_LE(line_count(to_open_qasm(one_unitary(5, qubits, five))), 5U + 496 + 32);
    expect_round_trip(5, qubits, five, rng);
}

TEST(QasmUnitaryImport, ControlsOnGatesWithoutAControlledKind) {
    const double h = std::numbers::sqrt2 / 2;
    const double c = std::cos(0.35);
    const double s = std::sin(0.35);
    const Matrix sx = {(1.0 + I_UNIT) / 2.0, (1.0 - I_UNIT) / 2.0, (1.0 - I_UNIT) / 2.0,
                       (1.0 + I_UNIT) / 2.0};
    const Matrix hadamard = {h, h, h, -h};
    const Matrix x = {0, 1, 1, 0};
    const Matrix ry = {c, -s, s, c};
    const Matrix phase = {1, 0, 0, std::polar(1.0, 0.4)};
    const Matrix u = {std::cos(0.15), -std::polar(std::sin(0.15), 0.5),
                      std::polar(std::sin(0.15), 0.4), std::polar(std::cos(0.15), 0.9)};
    const Matrix rx = {std::cos(0.25), -I_UNIT * std::sin(0.25), -I_UNIT * std::sin(0.25),
                       std::cos(0.25)};
    const Matrix swap = {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    struct Case {
        std::string call;
        Matrix target;
        std::size_t controls;
        Qubits qubits;  // the controls, then the target's qubits
        std::vector<std::uint64_t> negated;
    };
    const std::vector<Case> cases = {
        {"ctrl @ sx q[2], q[0];", sx, 1, {2, 0}, {}},
        {"negctrl @ sx q[1], q[3];", sx, 1, {1, 3}, {1}},
        {"ctrl(2) @ h q[0], q[3], q[1];", hadamard, 2, {0, 3, 1}, {}},
        {"ctrl @ negctrl @ ry(0.7) q[3], q[0], q[2];", ry, 2, {3, 0, 2}, {0}},
        {"ctrl(3) @ x q[1], q[2], q[0], q[3];", x, 3, {1, 2, 0, 3}, {}},
        {"negctrl(2) @ ctrl @ U(0.3, 0.4, 0.5) q[0], q[1], q[2], q[3];",
         u,
         3,
         {0, 1, 2, 3},
         {0, 1}},
        {"ctrl(3) @ gphase(0.4) q[2], q[3], q[0];", phase, 2, {2, 3, 0}, {}},
        {"ctrl @ crx(0.5) q[1], q[3], q[0];", rx, 2, {1, 3, 0}, {}},
        {"negctrl @ cswap q[1], q[3], q[0], q[2];", swap, 2, {1, 3, 0, 2}, {1}},
        {"gate g a { sx a; }\nctrl @ g q[3], q[2];", sx, 1, {3, 2}, {}},
    };
    std::mt19937_64 rng(SEED + 3);
    for (const Case& t : cases) {
        SCOPED_TRACE(t.call);
        const ZarnikGraph read =
            from_open_qasm("OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[4] q;\n" + t.call);
        const Vector psi = random_state(4, rng);
        ZarnikState state = make_state(psi);
        apply_circuit(state, read);
        // A negated control is the control conjugated by X.
        Vector expected = psi;
        for (const std::uint64_t q : t.negated) {
            expected = apply_on_qubits(x, {q}, expected);
        }
        expected = apply_on_qubits(controlled_block(t.target, t.controls), t.qubits, expected);
        for (const std::uint64_t q : t.negated) {
            expected = apply_on_qubits(x, {q}, expected);
        }
        EXPECT_TRUE(near_amplitudes(state, expected));
    }
}

TEST(QasmUnitaryImport, ControlledUnitariesAreRefusedWithTheirPlace) {
    const std::string head = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[7] q;\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ctrl @ sx q[0], q[0];", "line 4, column 17: 'sx' uses qubit q[0] twice"},
        {"negctrl @ crz(0.5) q[1], q[2], q[1];", "line 4, column 32: 'crz' uses qubit q[1] twice"},
        {"ctrl(2) @ cu(NaN, 0, 0, 0) q[0], q[1], q[2], q[3];",
         "line 4, column 1: 'ctrl @' cannot be applied to 'cu': CU: parameter 0 is NaN"},
        {"ctrl(2) @ cu(inf, 0, 0, 0) q[0], q[1], q[2], q[3];",
         "line 4, column 1: 'ctrl @' cannot be applied to 'cu': CU: parameter 0 is inf"},
        {"negctrl @ ctrl(5) @ x q[0], q[1], q[2], q[3], q[4], q[5], q[6];",
         "line 4, column 1: 'negctrl @' cannot be applied to 'x': the controlled gate acts on 7 "
         "qubits, more than the 6 a unitary may have"},
        {"ctrl(6) @ x q[0], q[1], q[2], q[3], q[4], q[5], q[6];",
         "line 4, column 1: 'ctrl @' cannot be applied to 'x': the controlled gate acts on 7 "
         "qubits, more than the 6 a unitary may have"},
    };
    for (const auto& [line, message] : cases) {
        SCOPED_TRACE(line);
        try {
            static_cast<void>(from_open_qasm(head + line + "\n"));
            ADD_FAILURE() << "accepted";
        } catch (const ParseError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

}  // namespace
}  // namespace zel::test
