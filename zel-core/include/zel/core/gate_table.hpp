#pragma once

/// \file
/// The gate table: one row per kind (the kinds and a row's fields are in gate_kind.hpp) holding
/// everything that varies by kind (name and OpenQASM spelling, qubits, parameters, the matrix as a
/// function of the parameters, the inverse, the generator, the primitive it runs on and its
/// out-of-range rules). A row's matrices act on the operation's own qubits: local bit j of an index
/// is the operation's j-th qubit, so `qubits[0]` is the least significant. Controls come first,
/// then targets.

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <span>

#include "zel/core/detail/gate_entries.hpp"
#include "zel/core/gate_kind.hpp"

namespace zel {

/// The gate table, indexed by the kind's number.
// One row per kind, a few fields to a line.
// clang-format off
inline constexpr std::array<GateInfo, GATE_KIND_COUNT> GATE_TABLE = {{
    {.kind = GateKind::I, .name = "I", .qasm = "id", .arity = 1, .has_angle = false,
     .shape = GateShape::None, .changes = ChangedAmplitudes::Nothing, .bitwise = true,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, 1.0);
     }, .inverse_kind = GateKind::I},
    {.kind = GateKind::X, .name = "X", .qasm = "x", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, 1.0, 1.0, 0.0);
     }, .inverse_kind = GateKind::X},
    {.kind = GateKind::Y, .name = "Y", .qasm = "y", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, GateEntry(0.0, -1.0), GateEntry(0.0, 1.0), 0.0);
     }, .inverse_kind = GateKind::Y},
    {.kind = GateKind::Z, .name = "Z", .qasm = "z", .arity = 1, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::TargetSet, .bitwise = true,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, -1.0);
     }, .inverse_kind = GateKind::Z},
    {.kind = GateKind::H, .name = "H", .qasm = "h", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, r, r, r, -r);
     }, .inverse_kind = GateKind::H},
    {.kind = GateKind::S, .name = "S", .qasm = "s", .arity = 1, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::TargetSet, .bitwise = true,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(0.0, 1.0));
     }, .inverse_kind = GateKind::SDG},
    {.kind = GateKind::SX, .name = "SX", .qasm = "sx", .arity = 1, .has_angle = false,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = false,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, GateEntry(0.5, 0.5), GateEntry(0.5, -0.5), GateEntry(0.5, -0.5),
                        GateEntry(0.5, 0.5));
     }, .inverse_kind = GateKind::SXDG},
    {.kind = GateKind::T, .name = "T", .qasm = "t", .arity = 1, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(r, r));
     }, .inverse_kind = GateKind::TDG},
    {.kind = GateKind::RX, .name = "RX", .qasm = "rx", .arity = 1, .has_angle = true,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .param_count = 1, .primitive = Primitive::Pair, .pauli = "X", .inverse_kind = GateKind::RX,
     .inverse_rule = InverseRule::Negated, .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RY, .name = "RY", .qasm = "ry", .arity = 1, .has_angle = true,
     .shape = GateShape::Pair, .changes = ChangedAmplitudes::All, .bitwise = true,
     .param_count = 1, .primitive = Primitive::Pair, .pauli = "Y", .inverse_kind = GateKind::RY,
     .inverse_rule = InverseRule::Negated, .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RZ, .name = "RZ", .qasm = "rz", .arity = 1, .has_angle = true,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::All, .bitwise = true,
     .param_count = 1, .primitive = Primitive::Diagonal, .pauli = "Z",
     .inverse_kind = GateKind::RZ, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CX, .name = "CX", .qasm = "cx", .arity = 2, .has_angle = false,
     .shape = GateShape::Swap, .changes = ChangedAmplitudes::ControlSet, .bitwise = true,
     .controls = 1, .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, 1.0, 1.0, 0.0);
     }, .inverse_kind = GateKind::CX},
    {.kind = GateKind::CZ, .name = "CZ", .qasm = "cz", .arity = 2, .has_angle = false,
     .shape = GateShape::Diagonal, .changes = ChangedAmplitudes::BothSet, .bitwise = true,
     .controls = 1, .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, -1.0);
     }, .inverse_kind = GateKind::CZ},
    {.kind = GateKind::SWAP, .name = "SWAP", .qasm = "swap", .arity = 2, .has_angle = false,
     .shape = GateShape::Swap, .changes = ChangedAmplitudes::QubitsDiffer, .bitwise = true,
     .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) { detail::write_swap(m); },
     .inverse_kind = GateKind::SWAP},
    {.kind = GateKind::U, .name = "U", .qasm = "U", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 3, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write_u(m, p[0], p[1], p[2], 0.0);
     },
     .inverse_kind = GateKind::U, .inverse_rule = InverseRule::Reversed},
    {.kind = GateKind::U2, .name = "U2", .qasm = "u2", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 2, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write_u(m, std::numbers::pi / 2, p[0], p[1], 0.0);
     },
     .inverse_kind = GateKind::U, .inverse_rule = InverseRule::FromU2},
    {.kind = GateKind::P, .name = "P", .qasm = "p", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .param_count = 1, .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, detail::unit_phase(p[0]));
     },
     .inverse_kind = GateKind::P, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::MinusSetBits},
    {.kind = GateKind::SDG, .name = "SDG", .qasm = "sdg", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(0.0, -1.0));
     }, .inverse_kind = GateKind::S},
    {.kind = GateKind::TDG, .name = "TDG", .qasm = "tdg", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::TargetSet, .bitwise = false,
     .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, 1.0, 0.0, 0.0, GateEntry(r, -r));
     }, .inverse_kind = GateKind::T},
    {.kind = GateKind::SXDG, .name = "SXDG", .qasm = "sxdg", .arity = 1, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, GateEntry(0.5, -0.5), GateEntry(0.5, 0.5), GateEntry(0.5, 0.5),
                        GateEntry(0.5, -0.5));
     }, .inverse_kind = GateKind::SX},
    {.kind = GateKind::CY, .name = "CY", .qasm = "cy", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .controls = 1, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, GateEntry(0.0, -1.0), GateEntry(0.0, 1.0), 0.0);
     }, .inverse_kind = GateKind::CY},
    {.kind = GateKind::CH, .name = "CH", .qasm = "ch", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .controls = 1, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         const double r = detail::INV_SQRT2;
         detail::write2(m, r, r, r, -r);
     }, .inverse_kind = GateKind::CH},
    {.kind = GateKind::CP, .name = "CP", .qasm = "cp", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::BothSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::Diagonal,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write2(m, 1.0, 0.0, 0.0, detail::unit_phase(p[0]));
     },
     .inverse_kind = GateKind::CP, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::MinusSetBits},
    {.kind = GateKind::CRX, .name = "CRX", .qasm = "crx", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::PauliRotation, .pauli = "X",
     .inverse_kind = GateKind::CRX, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CRY, .name = "CRY", .qasm = "cry", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::PauliRotation, .pauli = "Y",
     .inverse_kind = GateKind::CRY, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CRZ, .name = "CRZ", .qasm = "crz", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 1, .controls = 1, .primitive = Primitive::PauliRotation, .pauli = "Z",
     .inverse_kind = GateKind::CRZ, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::CU, .name = "CU", .qasm = "cu", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = false,
     .param_count = 4, .controls = 1, .primitive = Primitive::Pair,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         detail::write_u(m, p[0], p[1], p[2], p[3]);
     },
     .inverse_kind = GateKind::CU, .inverse_rule = InverseRule::Reversed},
    {.kind = GateKind::CCX, .name = "CCX", .qasm = "ccx", .arity = 3, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = true,
     .controls = 2, .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) {
         detail::write2(m, 0.0, 1.0, 1.0, 0.0);
     }, .inverse_kind = GateKind::CCX},
    {.kind = GateKind::CSWAP, .name = "CSWAP", .qasm = "cswap", .arity = 3, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::ControlSet, .bitwise = true,
     .controls = 1, .primitive = Primitive::Permutation,
     .target_matrix = [](std::span<const double>, GateEntry* m) { detail::write_swap(m); },
     .inverse_kind = GateKind::CSWAP},
    {.kind = GateKind::RXX, .name = "RXX", .qasm = "rxx", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 1, .primitive = Primitive::PauliRotation, .pauli = "XX",
     .inverse_kind = GateKind::RXX, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RYY, .name = "RYY", .qasm = "ryy", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 1, .primitive = Primitive::PauliRotation, .pauli = "YY",
     .inverse_kind = GateKind::RYY, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::RZZ, .name = "RZZ", .qasm = "rzz", .arity = 2, .has_angle = false,
     .shape = GateShape::Checked, .changes = ChangedAmplitudes::All, .bitwise = false,
     .param_count = 1, .primitive = Primitive::PauliRotation, .pauli = "ZZ",
     .inverse_kind = GateKind::RZZ, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli},
    {.kind = GateKind::GPHASE, .name = "GPHASE", .qasm = "gphase", .arity = 0,
     .has_angle = false, .shape = GateShape::Checked, .changes = ChangedAmplitudes::All,
     .bitwise = false, .param_count = 1, .primitive = Primitive::GlobalPhase,
     .target_matrix = [](std::span<const double> p, GateEntry* m) {
         m[0] = detail::unit_phase(p[0]);
     },
     .inverse_kind = GateKind::GPHASE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::MinusSetBits},
    {.kind = GateKind::PAULI_ROTATION, .name = "PAULI_ROTATION", .qasm = "pauli_rotation",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::All, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::PauliRotation,
     .inverse_kind = GateKind::PAULI_ROTATION, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::HalfPauli, .payload = PayloadKind::PauliString},
    {.kind = GateKind::UNITARY, .name = "UNITARY", .qasm = "unitary", .arity = 0,
     .has_angle = false, .shape = GateShape::Checked, .changes = ChangedAmplitudes::All,
     .bitwise = false, .variable_qubits = true, .primitive = Primitive::Dense,
     .inverse_kind = GateKind::UNITARY, .inverse_rule = InverseRule::Adjoint,
     .payload = PayloadKind::Matrix},
    {.kind = GateKind::FERMIONIC_SINGLE, .name = "FERMIONIC_SINGLE", .qasm = "fermionic_single",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::FERMIONIC_SINGLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 2, .parity_qubits = true},
    {.kind = GateKind::FERMIONIC_DOUBLE, .name = "FERMIONIC_DOUBLE", .qasm = "fermionic_double",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::FERMIONIC_DOUBLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 4, .parity_qubits = true},
    {.kind = GateKind::QUBIT_SINGLE, .name = "QUBIT_SINGLE", .qasm = "qubit_single",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::QUBIT_SINGLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 2},
    {.kind = GateKind::QUBIT_DOUBLE, .name = "QUBIT_DOUBLE", .qasm = "qubit_double",
     .arity = 0, .has_angle = false, .shape = GateShape::Checked,
     .changes = ChangedAmplitudes::Excited, .bitwise = false, .variable_qubits = true,
     .param_count = 1, .primitive = Primitive::Excitation,
     .inverse_kind = GateKind::QUBIT_DOUBLE, .inverse_rule = InverseRule::Negated,
     .generator = GeneratorForm::Excitation, .orbitals = 4},
}};
// clang-format on

// Row k of the table holds kind k, so that indexing by the kind's number finds its row.
static_assert(
    [] {
        for (std::size_t k = 0; k < GATE_KIND_COUNT; ++k) {
            if (static_cast<std::size_t>(GATE_TABLE[k].kind) != k) {
                return false;
            }
        }
        return true;
    }(),
    "GATE_TABLE row k must hold kind k");

/// The rows of the fourteen kinds numbered 0 to 13.
inline constexpr std::span<const GateInfo> ORIGINAL_GATES{GATE_TABLE.data(), ORIGINAL_KIND_COUNT};

/// The table row of `kind`.
constexpr const GateInfo& gate_info(GateKind kind) noexcept {
    return GATE_TABLE[static_cast<std::size_t>(kind)];
}

}  // namespace zel
