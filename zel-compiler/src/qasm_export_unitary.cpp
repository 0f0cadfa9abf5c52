// A unitary on 2 to MAX_UNITARY_QUBITS qubits as OpenQASM lines: a two-level (Givens)
// decomposition. The basis states are visited in Gray-code order g(j) = j ^ (j >> 1), so that
// the two rows each step mixes differ in one bit t; the step is then one `U` on qubit t under
// `ctrl`/`negctrl` on every other qubit, which the reader takes back as one UNITARY. What
// remains after d(d-1)/2 steps is diagonal: a `gphase` and one controlled `p` per other basis
// state. Steps and phases that are the identity (the entry to clear is already 0, the phase
// already equal) are left out, so permutations, diagonals and controlled matrices stay short.

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "qasm_export_forms.hpp"

namespace zel::qasm {
namespace {

using Complex = std::complex<double>;

// An entry at most this large counts as already cleared, a phase at most this large as none.
constexpr double IDENTITY_TOLERANCE = 1e-15;

// `gate` on local qubit `target` under every other of the `k` local qubits, each a `ctrl` when
// its bit is set in `pattern` and a `negctrl` when clear.
void controlled_line(std::string& text, const std::vector<std::uint64_t>& qubits,
                     std::uint64_t pattern, std::size_t target, const std::string& gate) {
    std::vector<std::uint64_t> set;
    std::vector<std::uint64_t> clear;
    for (std::size_t j = 0; j < qubits.size(); ++j) {
        if (j != target) {
            (((pattern >> j) & 1U) != 0 ? set : clear).push_back(qubits[j]);
        }
    }
    const auto modifier = [&](const char* word, std::size_t count) {
        if (count != 0) {
            text += word;
            text += count == 1 ? "" : "(" + std::to_string(count) + ")";
            text += " @ ";
        }
    };
    // The reader applies the modifier nearest the gate first: `ctrl` there makes the controlled
    // kinds and then one UNITARY, into which each `negctrl` goes directly.
    modifier("negctrl", clear.size());
    modifier("ctrl", set.size());
    text += gate;
    for (const std::vector<std::uint64_t>* group : {&clear, &set}) {
        for (const std::uint64_t q : *group) {
            text += " q[" + std::to_string(q) + "],";
        }
    }
    text += " q[" + std::to_string(qubits[target]) + "];\n";
}

}  // namespace

void unitary_lines(std::string& text, const std::vector<Complex>& matrix,
                   const std::vector<std::uint64_t>& qubits) {
    const std::size_t d = std::size_t{1} << qubits.size();
    std::vector<Complex> v = matrix;
    const auto at = [&](std::size_t r, std::size_t c) -> Complex& {
        return v[r * d + c];
    };
    const auto gray = [](std::size_t j) {
        return j ^ (j >> 1);
    };
    // Each step multiplies v from the left by U(theta, phi, lambda)^dagger on the rows lo and hi
    // (bit t clear and set) and clears the entry of the row `gray(i)` in column `gray(j)`; then
    // matrix = steps[0] ... steps[last] diag(v), so the steps are written last one first.
    std::vector<std::string> steps;
    std::vector<std::size_t> position(d);  // the inverse of gray
    for (std::size_t j = 0; j < d; ++j) {
        position[gray(j)] = j;
    }
    const auto nonzero = [&](std::size_t r, std::size_t c) {
        return std::abs(at(r, c)) > IDENTITY_TOLERANCE;
    };
    for (std::size_t j = 0; j + 1 < d; ++j) {
        const std::size_t column = gray(j);
        // Rows before position j are done. Clear the entry of the open row latest in the order,
        // against the neighbour (one bit apart, earlier in the order, not done) that already
        // holds an entry, else the earliest: its Gray predecessor always qualifies, and each
        // step replaces the latest entry by an earlier one, so the column ends on gray(j).
        for (std::size_t i = d - 1; i > j;) {
            const std::size_t gone = gray(i);
            if (!nonzero(gone, column)) {
                --i;
                continue;
            }
            std::size_t keep = gray(i - 1);
            for (std::size_t b = 1; b < d; b <<= 1) {
                const std::size_t r = gone ^ b;
                if (position[r] < j || position[r] >= i) {
                    continue;
                }
                const bool better = nonzero(r, column) == nonzero(keep, column)
                                        ? position[r] < position[keep]
                                        : nonzero(r, column);
                keep = better ? r : keep;
            }
            const std::size_t bit = keep ^ gone;
            const std::size_t lo = keep & ~bit;
            const std::size_t hi = keep | bit;
            std::size_t target = 0;
            while ((std::size_t{1} << target) != bit) {
                ++target;
            }
            // (v[lo], v[hi]) of the column is a multiple of U's column 0 when lo is kept
            // (U = [[c, -e^(i lambda) s], [e^(i phi) s, e^(i (phi + lambda)) c]]), of its
            // column 1 when hi is kept; U^dagger then clears the other row.
            const Complex x = at(lo, column);
            const Complex y = at(hi, column);
            double theta = 0.0;
            double phi = 0.0;
            double lambda = 0.0;
            if (keep == lo) {
                theta = 2 * std::atan2(std::abs(y), std::abs(x));
                phi = std::arg(y) - std::arg(x);
            } else {
                theta = 2 * std::atan2(std::abs(x), std::abs(y));
                lambda = std::arg(-x);
                phi = std::arg(y) - lambda;
            }
            const double c = std::cos(theta / 2);
            const double s = std::sin(theta / 2);
            const Complex u00 = c;
            const Complex u01 = -std::polar(s, lambda);
            const Complex u10 = std::polar(s, phi);
            const Complex u11 = std::polar(c, phi + lambda);
            for (std::size_t col = 0; col < d; ++col) {
                const Complex a = at(lo, col);
                const Complex b = at(hi, col);
                at(lo, col) = std::conj(u00) * a + std::conj(u10) * b;
                at(hi, col) = std::conj(u01) * a + std::conj(u11) * b;
            }
            at(gone, column) = 0.0;
            std::string step;
            controlled_line(step, qubits, lo, target,
                            gate_call("U", std::array{theta, phi, lambda}));
            steps.push_back(std::move(step));
        }
    }
    // The diagonal: e^(i delta_0) on everything, then e^(i (delta_s - delta_0)) on basis state s
    // as p on its lowest set bit under the others.
    const double base = std::arg(at(0, 0));
    if (base != 0.0) {
        text += "gphase(" + angle_literal(base) + ");\n";
    }
    for (std::size_t s = 1; s < d; ++s) {
        const double delta = std::arg(at(s, s)) - base;
        if (std::abs(delta) <= IDENTITY_TOLERANCE) {
            continue;
        }
        std::size_t target = 0;
        while (((s >> target) & 1U) == 0) {
            ++target;
        }
        controlled_line(text, qubits, s, target, gate_call("p", std::array{delta}));
    }
    for (std::size_t k = steps.size(); k-- > 0;) {
        text += steps[k];
    }
}

}  // namespace zel::qasm
