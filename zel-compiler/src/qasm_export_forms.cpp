#include "qasm_export_forms.hpp"

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <initializer_list>
#include <numbers>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zel::qasm {
namespace {

constexpr double HALF_PI = std::numbers::pi / 2;

// Below this magnitude an entry of a one-qubit unitary counts as zero when its angles are read.
constexpr double NEGLIGIBLE = 1e-300;

std::string qubit(std::uint64_t q) {
    return "q[" + std::to_string(q) + "]";
}

// `gate(angles) qubits;` and a line feed.
void call_line(std::string& text, std::string_view gate, std::span<const double> angles,
               std::span<const std::uint64_t> qubits) {
    text += gate_call(gate, angles);
    for (std::size_t j = 0; j < qubits.size(); ++j) {
        text += j == 0 ? " " : ", ";
        text += qubit(qubits[j]);
    }
    text += ";\n";
}

void line(std::string& text, std::string_view gate, std::initializer_list<double> angles,
          std::initializer_list<std::uint64_t> qubits) {
    call_line(text, gate, {angles.begin(), angles.size()}, {qubits.begin(), qubits.size()});
}

// exp(-i theta/2 P) for the letters on `qubits`: each X or Y turned into Z (H; RX(pi/2)), the
// parity gathered on the last of them by CX, RZ(theta) there, and everything undone.
void pauli_lines(std::string& text, std::string_view letters,
                 const std::vector<std::uint64_t>& qubits, double theta) {
    std::vector<std::uint64_t> active;
    for (std::size_t j = 0; j < letters.size(); ++j) {
        if (letters[j] != 'I') {
            active.push_back(qubits[j]);
        }
    }
    if (active.empty()) {
        line(text, "gphase", {-theta / 2}, {});
        return;
    }
    const auto basis = [&](bool forward) {
        for (std::size_t j = 0; j < letters.size(); ++j) {
            if (letters[j] == 'X') {
                line(text, "h", {}, {qubits[j]});
            } else if (letters[j] == 'Y') {
                line(text, "rx", {forward ? HALF_PI : -HALF_PI}, {qubits[j]});
            }
        }
    };
    basis(true);
    for (std::size_t j = 0; j + 1 < active.size(); ++j) {
        line(text, "cx", {}, {active[j], active.back()});
    }
    line(text, "rz", {theta}, {active.back()});
    for (std::size_t j = active.size() - 1; j-- > 0;) {
        line(text, "cx", {}, {active[j], active.back()});
    }
    basis(false);
}

// exp(theta (T - T^dagger)) = exp(-i theta G) for the excitation of `op`, G = i (T - T^dagger),
// as the product of the commuting Pauli rotations of G's terms. G moves |a> (emptied orbitals
// set, filled ones clear) to |b> = |a ^ all orbitals> with i s and back with -i s, s the sign of
// T times Z on every parity qubit; so only strings with X or Y on every orbital and Z on every
// parity qubit appear, with coefficient c = i s (<a|P|b> - <b|P|a>) / 2^k on the k orbitals.
// Each term is exp(-i (2 c theta)/2 P'), c a multiple of 1/2^(k-1).
void excitation_lines(std::string& text, const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t k = info.orbitals;
    const std::size_t half = k / 2;
    // The sign of T between the orbitals alone: each ladder operator, right to left, passes the
    // occupied orbitals below its own.
    std::vector<std::uint64_t> occupied(op.qubits.begin(),
                                        op.qubits.begin() + static_cast<std::ptrdiff_t>(half));
    int sign = 1;
    const auto pass = [&](std::uint64_t m) {
        for (const std::uint64_t q : occupied) {
            sign = info.parity_qubits && q < m ? -sign : sign;
        }
    };
    for (std::size_t j = 0; j < half; ++j) {
        occupied.erase(occupied.begin());
        pass(op.qubits[j]);
    }
    for (std::size_t j = half; j-- > 0;) {
        pass(op.qubits[half + j]);
        occupied.push_back(op.qubits[half + j]);
    }
    const std::uint64_t a = (std::uint64_t{1} << half) - 1;  // local: emptied orbitals set
    const std::uint64_t b = a ^ ((std::uint64_t{1} << k) - 1);
    for (std::uint64_t y_mask = 0; y_mask < (std::uint64_t{1} << k); ++y_mask) {
        // <x ^ all|P|x> = i^(Y count) (-1)^(Y bits set in x) for X or Y on every orbital.
        const int y_count = std::popcount(y_mask);
        const auto real_phase = [&](std::uint64_t x) {
            return (std::popcount(x & y_mask) % 2 == 0) ? 1 : -1;
        };
        // i s (i^y (r_b - r_a)) / 2^k, with r the real part of the phase: real only for odd y.
        if (y_count % 2 == 0) {
            continue;
        }
        const int difference = real_phase(b) - real_phase(a);
        if (difference == 0) {
            continue;
        }
        // i * i^y = i^(y+1), real for odd y: +1 when y = 3 mod 4, -1 when y = 1 mod 4.
        const int i_power = y_count % 4 == 3 ? 1 : -1;
        const double c = static_cast<double>(i_power * sign * difference) /
                         static_cast<double>(std::uint64_t{1} << k);
        std::string letters;
        for (std::size_t j = 0; j < op.qubits.size(); ++j) {
            letters += j >= k ? 'Z' : (((y_mask >> j) & 1U) != 0 ? 'Y' : 'X');
        }
        pauli_lines(text, letters, op.qubits, 2 * c * op.params[0]);
    }
}

// A one-qubit unitary M as e^(i alpha) U(theta, phi, lambda).
void one_qubit_unitary(std::string& text, const std::vector<std::complex<double>>& m,
                       std::uint64_t q) {
    const double theta = 2 * std::atan2(std::abs(m[2]), std::abs(m[0]));
    double alpha = 0.0;
    double phi = 0.0;
    double lambda = 0.0;
    if (std::abs(m[0]) <= NEGLIGIBLE) {
        alpha = std::arg(m[2]);
        lambda = std::arg(-m[1]) - alpha;
    } else if (std::abs(m[2]) <= NEGLIGIBLE) {
        alpha = std::arg(m[0]);
        lambda = std::arg(m[3]) - alpha;
    } else {
        alpha = std::arg(m[0]);
        phi = std::arg(m[2]) - alpha;
        lambda = std::arg(-m[1]) - alpha;
    }
    line(text, "U", {theta, phi, lambda}, {q});
    line(text, "gphase", {alpha}, {});
}

}  // namespace

std::string gate_call(std::string_view name, std::span<const double> angles) {
    std::string text(name);
    if (!angles.empty()) {
        text += '(';
        for (std::size_t j = 0; j < angles.size(); ++j) {
            text += j == 0 ? "" : ", ";
            text += angle_literal(angles[j]);
        }
        text += ')';
    }
    return text;
}

void append_checked(std::string& text, const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::vector<std::uint64_t>& q = op.qubits;
    const std::vector<double>& p = op.params;
    switch (op.gate.kind) {
        case GateKind::U:
            line(text, "U", {p[0], p[1], p[2]}, {q[0]});
            return;
        case GateKind::U2:
            // stdgates.inc's u2 differs from U(pi/2, phi, lambda) by a global phase.
            line(text, "U", {HALF_PI, p[0], p[1]}, {q[0]});
            return;
        case GateKind::SXDG:
            // SX^dagger = e^(-i pi/4) RX(-pi/2), and RX(t) = U(t, -pi/2, pi/2).
            line(text, "U", {-HALF_PI, -HALF_PI, HALF_PI}, {q[0]});
            line(text, "gphase", {-std::numbers::pi / 4}, {});
            return;
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
            pauli_lines(text, info.pauli, q, p[0]);
            return;
        case GateKind::PAULI_ROTATION:
            pauli_lines(text, op.payload.pauli, q, p[0]);
            return;
        case GateKind::UNITARY:
            if (q.size() == 1) {
                one_qubit_unitary(text, op.payload.matrix, q[0]);
            } else {
                unitary_lines(text, op.payload.matrix, q);
            }
            return;
        case GateKind::GPHASE:
            line(text, "gphase", {p[0]}, {});
            return;
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
            excitation_lines(text, op);
            return;
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP: {
            // The stdgates.inc gate of the row's name is exactly the kind.
            call_line(text, info.qasm, p, q);
            return;
        }
        case GateKind::I:
        case GateKind::X:
        case GateKind::Y:
        case GateKind::Z:
        case GateKind::H:
        case GateKind::S:
        case GateKind::SX:
        case GateKind::T:
        case GateKind::RX:
        case GateKind::RY:
        case GateKind::RZ:
        case GateKind::CX:
        case GateKind::CZ:
        case GateKind::SWAP:
            return;
    }
}

}  // namespace zel::qasm
