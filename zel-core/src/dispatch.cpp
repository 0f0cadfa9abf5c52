// The one place that decides which primitive runs a kind from U on, from its table row.

#include "dispatch.hpp"

#include <array>

#include "gate_rows.hpp"
#include "primitive_kernels.hpp"

namespace zel::detail {
namespace {

// The mask of qubits[begin, end).
std::uint64_t mask_of(const Operation& op, std::size_t begin, std::size_t end) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t j = begin; j < end; ++j) {
        mask |= std::uint64_t{1} << op.qubits[j];
    }
    return mask;
}

}  // namespace

void apply_checked(std::complex<double>* psi, std::uint64_t dimension, const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t controls = info.controls;
    const std::size_t k = operation_qubit_count(op);
    const std::uint64_t control_mask = mask_of(op, 0, controls);
    switch (info.primitive) {
        case Primitive::None:
            return;
        case Primitive::Pair: {
            std::array<std::complex<double>, 4> m;
            info.target_matrix(op.params, m.data());
            apply_controlled_pair(psi, dimension, control_mask,
                                  static_cast<unsigned>(op.qubits[controls]), m.data());
            return;
        }
        case Primitive::Diagonal: {
            std::array<std::complex<double>, 4> m;
            info.target_matrix(op.params, m.data());
            // The rows of this primitive leave a clear target bit alone (m[0] is exactly 1).
            apply_controlled_phase(psi, dimension, mask_of(op, 0, k), m[3]);
            return;
        }
        case Primitive::Permutation: {
            const bool exchange = k - controls == 2;
            const auto t = static_cast<unsigned>(op.qubits[controls]);
            const auto b = static_cast<unsigned>(exchange ? op.qubits[controls + 1] : t);
            apply_controlled_permutation(psi, dimension, control_mask, t, b, exchange);
            return;
        }
        case Primitive::PauliRotation: {
            const std::string_view letters = info.payload == PayloadKind::PauliString
                                                 ? std::string_view(op.payload.pauli)
                                                 : info.pauli;
            const PauliMasks local = pauli_masks(letters);
            std::uint64_t x = 0;
            std::uint64_t z = 0;
            for (std::size_t j = 0; j < letters.size(); ++j) {
                const std::uint64_t bit = std::uint64_t{1} << op.qubits[controls + j];
                x |= ((local.x >> j) & 1U) != 0 ? bit : 0;
                z |= ((local.z >> j) & 1U) != 0 ? bit : 0;
            }
            apply_pauli_rotation(psi, dimension, x, z, local.y_count, control_mask, op.params[0]);
            return;
        }
        case Primitive::Excitation: {
            const ExcitationMasks masks = excitation_masks(op, false);
            apply_excitation(psi, dimension, masks.from, masks.to, masks.parity, masks.negative,
                             op.params[0]);
            return;
        }
        case Primitive::Dense:
            apply_dense(psi, dimension, op.qubits, op.payload.matrix);
            return;
        case Primitive::GlobalPhase: {
            std::complex<double> phase;
            info.target_matrix(op.params, &phase);
            apply_controlled_phase(psi, dimension, 0, phase);
            return;
        }
    }
}

}  // namespace zel::detail
