// How an operation runs on the distributed state, decided by its row's primitive, never by its
// kind: on the block alone when its rank-bit qubits only select amplitudes (controls, the qubits
// of a phase), else through the exchanges with partner ranks that its primitive needs.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/detail/kernels.hpp"
#include "zel/core/error.hpp"
#include "zel/mpi/state.hpp"

namespace zel::mpi {
namespace {

// The uncontrolled one-qubit row without parameters that runs the target part of an original
// controlled row alone: the row whose target matrix is the same entry for entry. The kernels of
// the two give the same bits on the amplitudes both change.
GateType target_gate_of(const GateInfo& info) {
    std::array<GateEntry, 4> wanted;
    info.target_matrix({}, wanted.data());
    for (const GateInfo& row : ORIGINAL_GATES) {
        if (row.arity != 1 || row.param_count != 0 || row.target_matrix == nullptr) {
            continue;
        }
        std::array<GateEntry, 4> m;
        row.target_matrix({}, m.data());
        if (m == wanted) {
            return GateType::of(row.kind);
        }
    }
    return GateType::of(info.kind);
}

}  // namespace

void DistributedState::apply_gate(const GateType& gate, std::span<const std::uint64_t> qubits,
                                  std::span<const double> params) {
    check_kind(gate.kind);
    const GateInfo& info = gate_info(gate.kind);
    if (info.shape == GateShape::Checked) {
        apply(Operation{gate, {qubits.begin(), qubits.end()}, {params.begin(), params.end()}, {}});
        return;
    }
    if (info.shape == GateShape::None) {
        return;
    }
    // Every rank finds what the whole state's apply_gate would throw, before anything changes.
    check_gate(num_qubits_, gate, qubits);
    switch (info.primitive) {
        case Primitive::Pair:
            run_pair(gate, qubits, params);
            return;
        case Primitive::Diagonal:
            run_phase(gate, qubits, params);
            return;
        case Primitive::Permutation:
            run_permutation(gate, qubits);
            return;
        // The original rows run on the three primitives above.
        case Primitive::None:
        case Primitive::PauliRotation:
        case Primitive::Dense:
        case Primitive::GlobalPhase:
        case Primitive::Excitation:
            return;
    }
}

void DistributedState::run_pair(const GateType& gate, std::span<const std::uint64_t> qubits,
                                std::span<const double> params) {
    // check_gate has refused a target beyond the register.
    const std::uint64_t q0 = qubits[0];
    if (q0 < local_qubits()) {
        local_.apply_gate(gate, qubits, params);
    } else {
        apply_pair_on_rank_bit(gate, params, q0 - local_qubits());
    }
}

void DistributedState::run_phase(const GateType& gate, std::span<const std::uint64_t> qubits,
                                 std::span<const double> params) {
    const GateInfo& info = gate_info(gate.kind);
    const std::uint64_t n = num_qubits_;
    const std::uint64_t l = local_qubits();
    Amplitude* block = local_.amplitudes_mut().data();
    const auto count = static_cast<std::size_t>(local_.dimension());
    const std::uint64_t q0 = qubits[0];
    if (info.arity == 1) {
        // A qubit beyond the register reads as a clear bit, on the block as on the whole state,
        // so the block's own apply_gate covers it too.
        if (q0 < l || q0 >= n) {
            local_.apply_gate(gate, qubits, params);
        } else {
            zel::detail::apply_diagonal_gate(gate, params, rank_bit(q0), block, count);
        }
        return;
    }
    // The phase of two qubits falls where both bits are set; beyond the register, or on one
    // qubit named twice, it changes nothing, as on the whole state.
    const std::uint64_t q1 = qubits[1];
    if (q0 >= n || q1 >= n || q0 == q1) {
        return;
    }
    if (q0 < l && q1 < l) {
        local_.apply_gate(gate, qubits, params);
        return;
    }
    // A rank bit is constant on the block: clear, nothing changes; set, it drops out and the
    // target's phase alone remains, on the local qubit or, with both on rank bits, everywhere.
    if ((q0 >= l && !rank_bit(q0)) || (q1 >= l && !rank_bit(q1))) {
        return;
    }
    const GateType target = target_gate_of(info);
    if (q0 >= l && q1 >= l) {
        zel::detail::apply_diagonal_gate(target, {}, true, block, count);
    } else {
        const std::uint64_t local_qubit[1] = {q0 < l ? q0 : q1};
        local_.apply_gate(target, local_qubit, {});
    }
}

void DistributedState::run_permutation(const GateType& gate,
                                       std::span<const std::uint64_t> qubits) {
    const GateInfo& info = gate_info(gate.kind);
    const std::uint64_t l = local_qubits();
    const std::uint64_t q0 = qubits[0];
    const std::uint64_t q1 = qubits[1];
    // check_gate has refused a second qubit outside when the first is inside.
    if (q0 >= num_qubits_ || q0 == q1) {
        return;
    }
    if (q0 < l && q1 < l) {
        local_.apply_gate(gate, qubits, {});
        return;
    }
    const int r = rank_;
    if (info.controls == 1) {
        // X on the target where the control is set.
        if (q0 >= l && q1 < l) {
            // Control on a rank bit: the ranks with it set flip the local target.
            if (rank_bit(q0)) {
                const std::uint64_t target[1] = {q1};
                local_.apply_gate(target_gate_of(info), target, {});
            }
        } else if (q0 < l) {
            // Local control, target on a rank bit: the amplitudes with the control set trade
            // places with the partner's.
            exchange_half(r ^ (1 << (q1 - l)), static_cast<unsigned>(q0), true);
        } else if (rank_bit(q0)) {
            exchange_block(r ^ (1 << (q1 - l)));
        }
        return;
    }
    // The exchange of two qubits.
    if (q0 >= l && q1 >= l) {
        // Two rank bits: blocks whose bits differ trade places.
        if (rank_bit(q0) != rank_bit(q1)) {
            exchange_block(r ^ (1 << (q0 - l)) ^ (1 << (q1 - l)));
        }
        return;
    }
    // A rank qubit and a local one: with v the rank bit, the amplitudes whose local bit is !v
    // move to the partner (rank bit !v), into its positions with local bit v.
    const std::uint64_t rank_qubit = q0 >= l ? q0 : q1;
    const std::uint64_t local_qubit = q0 >= l ? q1 : q0;
    exchange_half(r ^ (1 << (rank_qubit - l)), static_cast<unsigned>(local_qubit),
                  !rank_bit(rank_qubit));
}

void DistributedState::apply(const Operation& op) {
    check_kind(op.gate.kind);
    const GateInfo& info = gate_info(op.gate.kind);
    if (info.shape != GateShape::Checked) {
        apply_gate(op.gate, op.qubits, op.params);
        return;
    }
    check_operation(num_qubits_, op);
    // The core's own decision by primitive, with the rank bits as the block's constants.
    if (zel::detail::apply_checked_on_block(local_.amplitudes_mut().data(), local_qubits(),
                                            static_cast<std::uint64_t>(rank_), op)) {
        return;
    }
    // A qubit that moves amplitudes is a rank bit.
    if (info.parity_qubits) {
        run_signed_excitation(op);
    } else {
        run_on_local_qubits(op);
    }
}

void DistributedState::apply(const PreparedOperation& prepared) {
    prepared.check_register(num_qubits_);
    apply(prepared.operation());
}

void DistributedState::run_signed_excitation(const Operation& op) {
    // A fermionic excitation's sign follows the order of its qubit numbers, which the exchanges
    // of run_on_local_qubits would change. It runs as its qubit excitation between two layers
    // of sign flips: CZ between each parity qubit and the first orbital, and Z there when T's
    // own sign is -1. Each flips exactly the off-diagonal entries the parity would, and sign
    // flips are exact, so the amplitudes are bitwise those of the fermionic kernel.
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t half = info.orbitals / 2;
    const std::span<const std::uint64_t> from(op.qubits.data(), half);
    const std::span<const std::uint64_t> to(op.qubits.data() + half, half);
    const Operation plain = qubit_excitation(from, to, op.params[0]);
    if (plain.qubits.size() > local_qubits()) {
        throw InvalidArgument(std::string(info.name) + ": acts on " +
                              std::to_string(plain.qubits.size()) +
                              " orbitals but each rank holds " + std::to_string(local_qubits()));
    }
    const bool negative = excitation_sign(from, to) < 0;
    const auto flip_signs = [&] {
        if (negative) {
            const std::uint64_t pivot[1] = {op.qubits[0]};
            apply_gate(GateType::of(GateKind::Z), pivot, {});
        }
        for (std::size_t j = info.orbitals; j < op.qubits.size(); ++j) {
            const std::uint64_t pair[2] = {op.qubits[j], op.qubits[0]};
            apply_gate(GateType::of(GateKind::CZ), pair, {});
        }
    };
    flip_signs();
    apply(plain);
    flip_signs();
}

void DistributedState::run_on_local_qubits(const Operation& op) {
    const std::uint64_t l = local_qubits();
    if (op.qubits.size() > l) {
        throw InvalidArgument(std::string(gate_info(op.gate.kind).name) + ": acts on " +
                              std::to_string(op.qubits.size()) + " qubits but each rank holds " +
                              std::to_string(l));
    }
    // Rank-bit qubits trade places with local qubits the operation leaves alone, the last one
    // first (targets follow controls), until the block can run it: rank-bit controls stay where
    // they are and select as constants. The trades are undone afterwards. Exchanges only move
    // amplitudes, so the values are the whole state's kernel's.
    Operation local = op;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> swaps;
    std::uint64_t spare = 0;
    // The exchange of a local qubit and a rank qubit, as for SWAP: with v the rank bit, the
    // amplitudes whose local bit is !v trade places with the partner's whose local bit is v.
    const auto exchange = [this, l](const std::pair<std::uint64_t, std::uint64_t>& pair) {
        const auto [local_qubit, rank_qubit] = pair;
        exchange_half(rank_ ^ (1 << (rank_qubit - l)), static_cast<unsigned>(local_qubit),
                      !rank_bit(rank_qubit));
    };
    Amplitude* block = local_.amplitudes_mut().data();
    const auto rank = static_cast<std::uint64_t>(rank_);
    for (auto q = local.qubits.rbegin(); q != local.qubits.rend(); ++q) {
        if (*q < l) {
            continue;
        }
        while (std::find(op.qubits.begin(), op.qubits.end(), spare) != op.qubits.end()) {
            ++spare;
        }
        swaps.emplace_back(spare, *q);
        exchange(swaps.back());
        *q = spare++;
        if (zel::detail::apply_checked_on_block(block, l, rank, local)) {
            break;
        }
    }
    std::for_each(swaps.rbegin(), swaps.rend(), exchange);
}

}  // namespace zel::mpi
