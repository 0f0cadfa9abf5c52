#pragma once

// Sample operations of every kind on a register of n qubits, for tests that run each through
// two paths and compare the bits.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/gate_table.hpp"

#include "support/placement.hpp"

namespace zel::test {

// Every kind from U on at every placement on n qubits (three-qubit placements sampled above four),
// with sample parameters; one-qubit unitaries, Pauli rotations and excitations.
inline std::vector<Operation> checked_operations_on(std::uint64_t n) {
    std::vector<Operation> ops;
    for (std::size_t k = ORIGINAL_KIND_COUNT; k < GATE_KIND_COUNT; ++k) {
        const GateInfo& info = GATE_TABLE[k];
        if (info.variable_qubits || info.arity > n) {
            continue;
        }
        std::vector<double> params;
        for (std::size_t j = 0; j < info.param_count; ++j) {
            params.push_back(0.3 + 0.7 * static_cast<double>(j));
        }
        const std::vector<Qubits> placements = every_placement(info.arity, n);
        for (std::size_t j = 0; j < placements.size(); j += info.arity == 3 && n > 4 ? 7 : 1) {
            ops.push_back(make_operation(info.kind, placements[j], params));
        }
    }
    for (std::uint64_t q = 0; q < n; ++q) {
        ops.push_back(
            unitary({q}, {std::complex<double>(0.6, 0.0), std::complex<double>(0.0, 0.8),
                          std::complex<double>(0.0, 0.8), std::complex<double>(0.6, 0.0)}));
        ops.push_back(pauli_rotation("Y", {q}, 0.9));
    }
    for (const std::size_t orbitals : {std::size_t{2}, std::size_t{4}}) {
        if (orbitals > n) {
            continue;
        }
        for (const Qubits& q : every_placement(orbitals, n)) {
            const std::span<const std::uint64_t> from(q.data(), orbitals / 2);
            const std::span<const std::uint64_t> to(q.data() + orbitals / 2, orbitals / 2);
            ops.push_back(fermionic_excitation(from, to, 0.7));
            ops.push_back(qubit_excitation(from, to, -0.4));
        }
    }
    return ops;
}

// The fourteen original kinds but I on every placement of their qubits on n qubits (rotations
// by 0.8 through params, RZ also through its gate angle), and the qubits outside the register
// that change nothing or, for RZ, rotate every amplitude.
inline std::vector<Operation> original_operations_on(std::uint64_t n) {
    std::vector<Operation> ops;
    for (const GateInfo& info : ORIGINAL_GATES) {
        if (info.kind == GateKind::I || info.arity > n) {
            continue;
        }
        const std::vector<double> params =
            info.has_angle ? std::vector<double>{0.8} : std::vector<double>{};
        for (const Qubits& q : every_placement(info.arity, n)) {
            ops.push_back(Operation{GateType::of(info.kind), q, params, {}});
        }
    }
    ops.push_back(Operation{GateType::rz(-1.3), {0}, {}, {}});
    ops.push_back(Operation{GateType::rz(0.4), {n + 40}, {}, {}});
    for (const GateKind kind : {GateKind::Z, GateKind::S, GateKind::T}) {
        ops.push_back(Operation{GateType::of(kind), {n}, {}, {}});
    }
    ops.push_back(Operation{GateType::of(GateKind::CZ), {0, n}, {}, {}});
    ops.push_back(Operation{GateType::of(GateKind::CZ), {0, 0}, {}, {}});
    ops.push_back(Operation{GateType::of(GateKind::CX), {n, 0}, {}, {}});
    ops.push_back(Operation{GateType::of(GateKind::SWAP), {0, 0}, {}, {}});
    return ops;
}

}  // namespace zel::test
