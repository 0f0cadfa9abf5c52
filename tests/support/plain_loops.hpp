#pragma once

/// \file
/// The plain form of every gate kernel, the one reference the suite and the fuzzer compare the
/// kernels with: one ascending pass over all 2^n indexes with the kind's per-part formulas,
/// without any of the kernels' index arithmetic, traversal or threading. Free of GoogleTest, so
/// that the fuzzer builds it too.

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/state.hpp"

namespace zel::test {

/// Hadamard factor of the kernels: one ulp below the double nearest 1/sqrt(2).
inline constexpr double PLAIN_HADAMARD_FACTOR = 0.7071067811865475;

/// The angle a rotation turns by: params[0] when present, else the gate's own.
inline double used_angle(const Operation& op) {
    return op.params.empty() ? op.gate.angle : op.params[0];
}

using Amplitudes = std::vector<ZarnikState::Amplitude>;

/// Applies `op` to the n-qubit amplitudes `psi` by the plain loop. Qubits outside the register
/// follow the kernels' rules (diagonal kinds read a 0 bit, two-qubit kinds with a qubit outside
/// or both equal change nothing); `op` must not be one that apply_gate refuses.
inline void reference_apply(Amplitudes& psi, std::uint64_t n, const Operation& op) {
    using A = ZarnikState::Amplitude;
    const GateKind kind = op.gate.kind;
    if (kind == GateKind::I) {
        return;
    }
    const std::uint64_t dimension = psi.size();
    const std::uint64_t q0 = op.qubits[0];
    const std::uint64_t m0 = q0 < 64 ? std::uint64_t{1} << q0 : 0;
    const double theta = used_angle(op);
    const double alpha = std::cos(theta * 0.5);
    const double beta = std::sin(theta * 0.5);
    const auto pairs = [&](auto update) {
        for (std::uint64_t i = 0; i < dimension; ++i) {
            if ((i & m0) == 0) {
                const A a0 = psi[i];
                const A a1 = psi[i | m0];
                update(a0.real(), a0.imag(), a1.real(), a1.imag(), psi[i], psi[i | m0]);
            }
        }
    };
    // Diagonal kinds: amplitude k times `clear` or `set` by bit q0 of k (0 beyond the state).
    const auto diagonal = [&](auto clear, auto set) {
        for (std::uint64_t k = 0; k < dimension; ++k) {
            psi[k] = q0 < n && (k & m0) != 0 ? set(psi[k]) : clear(psi[k]);
        }
    };
    const auto same = [](A a) {
        return a;
    };
    constexpr double C = 0.7071067811865476;  // both parts of e^(i pi/4)
    switch (kind) {
        case GateKind::I:
            return;
        case GateKind::X:
            pairs([](double r0, double i0, double r1, double i1, A& x, A& y) {
                x = A(r1, i1);
                y = A(r0, i0);
            });
            return;
        case GateKind::Y:
            pairs([](double r0, double i0, double r1, double i1, A& x, A& y) {
                x = A(i1, -r1);
                y = A(-i0, r0);
            });
            return;
        case GateKind::H:
            pairs([](double r0, double i0, double r1, double i1, A& x, A& y) {
                x = A((r0 + r1) * PLAIN_HADAMARD_FACTOR, (i0 + i1) * PLAIN_HADAMARD_FACTOR);
                y = A((r0 - r1) * PLAIN_HADAMARD_FACTOR, (i0 - i1) * PLAIN_HADAMARD_FACTOR);
            });
            return;
        case GateKind::SX:
            // (1/2) [[1+i, 1-i], [1-i, 1+i]]
            pairs([](double r0, double i0, double r1, double i1, A& x, A& y) {
                x = A(0.5 * (r0 - i0 + r1 + i1), 0.5 * (r0 + i0 - r1 + i1));
                y = A(0.5 * (r0 + i0 + r1 - i1), 0.5 * (-r0 + i0 + r1 + i1));
            });
            return;
        case GateKind::RX:
            pairs([=](double r0, double i0, double r1, double i1, A& x, A& y) {
                x = A(alpha * r0 + beta * i1, alpha * i0 - beta * r1);
                y = A(alpha * r1 + beta * i0, alpha * i1 - beta * r0);
            });
            return;
        case GateKind::RY:
            pairs([=](double r0, double i0, double r1, double i1, A& x, A& y) {
                x = A(alpha * r0 - beta * r1, alpha * i0 - beta * i1);
                y = A(beta * r0 + alpha * r1, beta * i0 + alpha * i1);
            });
            return;
        case GateKind::Z:
            diagonal(same, [](A a) {
                return A(-a.real(), -a.imag());
            });
            return;
        case GateKind::S:
            diagonal(same, [](A a) {
                return A(-a.imag(), a.real());
            });
            return;
        case GateKind::T:
            diagonal(same, [](A a) {
                return A(C * a.real() - C * a.imag(), C * a.real() + C * a.imag());
            });
            return;
        case GateKind::RZ: {
            const auto rotate = [=](double p) {
                return [=](A a) {
                    return A(alpha * a.real() - p * a.imag(), p * a.real() + alpha * a.imag());
                };
            };
            diagonal(rotate(-beta), rotate(beta));
            return;
        }
        // The kinds from U on have no loop of fixed arithmetic.
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
            return;
        case GateKind::CX:
        case GateKind::CZ:
        case GateKind::SWAP: {
            const std::uint64_t q1 = op.qubits[1];
            if (q0 >= n || q1 >= n || q0 == q1) {
                return;
            }
            const std::uint64_t m1 = std::uint64_t{1} << q1;
            for (std::uint64_t i = 0; i < dimension; ++i) {
                if (kind == GateKind::CZ && (i & m0) != 0 && (i & m1) != 0) {
                    psi[i] = A(-psi[i].real(), -psi[i].imag());
                } else if (kind != GateKind::CZ && (i & m0) != 0 && (i & m1) == 0) {
                    // CX: control q0 set, target q1 clear, partner with q1 set; SWAP: partner
                    // with q0 clear and q1 set.
                    std::swap(psi[i], psi[kind == GateKind::CX ? i | m1 : (i ^ m0) | m1]);
                }
            }
            return;
        }
    }
}

}  // namespace zel::test
