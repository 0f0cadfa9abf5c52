// The one place that decides which primitive runs a kind from U on, from its table row, on a
// whole state and on one block of a distributed state.

#include "dispatch.hpp"

#include <array>
#include <cstddef>
#include <string_view>

#include "zel/core/detail/kernels.hpp"

#include "gate_rows.hpp"
#include "primitive_kernels.hpp"

namespace zel::detail {
namespace {

// The qubits of a block: those below `local_qubits` index the block's amplitudes; each one from
// `local_qubits` up is fixed, reading bit (q - local_qubits) of `block_index` everywhere in it.
struct BlockLayout {
    std::uint64_t local_qubits;
    std::uint64_t block_index;

    bool fixed(std::uint64_t q) const noexcept {
        return q >= local_qubits;
    }
    bool fixed_bit(std::uint64_t q) const noexcept {
        return ((block_index >> (q - local_qubits)) & 1U) != 0;
    }
};

}  // namespace

namespace {

// Runs the row's primitive for `op` on `dimension` amplitudes, where `selected` holds the
// selectors (controls, or every qubit of a diagonal phase) that are not fixed and every qubit that
// moves amplitudes lies in the buffer.
void apply_selected(std::complex<double>* psi, std::uint64_t dimension, const GateInfo& info,
                    const Operation& op, std::uint64_t selected) {
    const std::size_t controls = info.controls;
    switch (info.primitive) {
        case Primitive::None:
            return;
        case Primitive::Pair: {
            std::array<std::complex<double>, 4> m;
            info.target_matrix(op.params, m.data());
            apply_controlled_pair(psi, dimension, selected,
                                  static_cast<unsigned>(op.qubits[controls]), m.data());
            return;
        }
        case Primitive::Diagonal: {
            std::array<std::complex<double>, 4> m;
            info.target_matrix(op.params, m.data());
            // The rows of this primitive leave a clear target bit alone (m[0] is exactly 1).
            apply_controlled_phase(psi, dimension, selected, m[3]);
            return;
        }
        case Primitive::Permutation: {
            const bool exchange = info.arity - controls == 2;
            const auto t = static_cast<unsigned>(op.qubits[controls]);
            const auto b = static_cast<unsigned>(exchange ? op.qubits[controls + 1] : t);
            apply_controlled_permutation(psi, dimension, selected, t, b, exchange);
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
            apply_pauli_rotation(psi, dimension, x, z, local.y_count, selected, op.params[0]);
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

// Selectors pick the amplitudes that change without moving any: the controls, and every qubit
// of a diagonal phase.
std::size_t selector_count(const GateInfo& info, const Operation& op) noexcept {
    if (info.primitive != Primitive::Diagonal) {
        return info.controls;
    }
    return info.variable_qubits ? op.qubits.size() : info.arity;
}

}  // namespace

bool apply_checked_on_block(std::complex<double>* block, std::uint64_t local_qubits,
                            std::uint64_t block_index, const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    const BlockLayout layout{local_qubits, block_index};
    const std::uint64_t dimension = std::uint64_t{1} << local_qubits;
    const std::size_t selectors = selector_count(info, op);
    // The qubits other than the selectors move amplitudes and must lie in the block. This
    // decision reads no fixed bit, so every block of a state takes the same one.
    for (std::size_t j = selectors; j < op.qubits.size(); ++j) {
        if (layout.fixed(op.qubits[j])) {
            return false;
        }
    }
    // A fixed selector reading 0 leaves the whole block alone; one reading 1 holds for the
    // whole block and drops out.
    std::uint64_t selected = 0;
    for (std::size_t j = 0; j < selectors; ++j) {
        const std::uint64_t q = op.qubits[j];
        if (!layout.fixed(q)) {
            selected |= std::uint64_t{1} << q;
        } else if (!layout.fixed_bit(q)) {
            return true;
        }
    }
    apply_selected(block, dimension, info, op, selected);
    return true;
}

void apply_checked(std::complex<double>* psi, std::uint64_t dimension, const GateInfo& info,
                   const Operation& op) {
    // A whole state is the one block with no fixed qubit: every selector stays.
    const std::size_t selectors = selector_count(info, op);
    std::uint64_t selected = 0;
    for (std::size_t j = 0; j < selectors; ++j) {
        selected |= std::uint64_t{1} << op.qubits[j];
    }
    apply_selected(psi, dimension, info, op, selected);
}

}  // namespace zel::detail
