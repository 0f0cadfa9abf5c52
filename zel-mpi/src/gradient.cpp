#include "zel/mpi/gradient.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gate_table.hpp"
#include "zel/core/state.hpp"

#include "block_passes.hpp"
#include "context.hpp"
#include "ordered_sum.hpp"

namespace zel::mpi {
namespace {

using detail::Amplitude;
using detail::BlockReader;
using detail::dense_overlaps;
using detail::excitation_overlap;
using detail::inner;
using detail::Layout;
using detail::local_excitation_overlap_and_undo;
using detail::PartnerBlocks;
using detail::product;
using detail::PSI_SLOT;
using detail::signed_overlap;
using detail::source_block;
using detail::sum_over_block;
using zel::detail::OperationDerivative;
using Form = OperationDerivative::Form;

// A slot's derivative, 2 times a part of a sum of the batch: Im(weight * sum), Im(sum) or
// Re(sum), as the core reads it.
struct SlotSum {
    enum class Part : std::uint8_t { WeightedImaginary, Imaginary, Real };
    std::size_t slot;
    std::size_t sum;
    Part part;
    Amplitude weight;

    double value(const detail::SumBatch& batch) const noexcept {
        const Amplitude v = batch.value(sum);
        switch (part) {
            case Part::WeightedImaginary:
                return 2.0 * zel::detail::times(weight, v).imag();
            case Part::Imaginary:
                return 2.0 * v.imag();
            case Part::Real:
                return 2.0 * v.real();
        }
        return 0.0;
    }
};

// Takes the sums of the derivatives of `op`'s slots from `first_slot` on into `batch`, `psi`
// being the state just after `op` and `phi` the Hamiltonian's product carried back to the same
// point. Slots without a sum keep their 0.
void operation_gradient(detail::SumBatch& batch, const Operation& op, const DistributedState& phi,
                        const DistributedState& psi, PartnerBlocks& partners,
                        std::size_t first_slot, std::vector<SlotSum>& slots) {
    if (op.params.empty()) {
        return;
    }
    using Part = SlotSum::Part;
    const OperationDerivative d = zel::detail::operation_derivative(op);
    switch (d.form) {
        case Form::Zero:
            return;
        case Form::HalfPauli:
            // D = -i G with G = P/2 under the controls: 2 Re(-i z) = 2 Im z.
            slots.push_back({first_slot, signed_overlap(batch, phi, psi, d, partners),
                             Part::WeightedImaginary, d.weight});
            return;
        case Form::Dense: {
            const std::vector<std::size_t> sums = dense_overlaps(batch, phi, psi, d, partners);
            for (std::size_t s = 0; s < sums.size(); ++s) {
                slots.push_back({first_slot + s, sums[s],
                                 d.imaginary ? Part::Imaginary : Part::Real, Amplitude()});
            }
            return;
        }
        case Form::Excitation:
            slots.push_back({first_slot, excitation_overlap(batch, phi, psi, d, partners),
                             Part::Real, Amplitude()});
            return;
    }
}

// Whether the distributed state runs every operation of the circuit and its inverse on blocks
// of `local_qubits` qubits: an operation of a kind from U on may need all its qubits (a
// fermionic excitation its orbitals) in one block. Depends on the circuit and the layout only,
// so every rank answers alike.
bool runs_on_blocks(const ZarnikGraph& circuit, std::uint64_t local_qubits) {
    return std::all_of(
        circuit.operations.begin(), circuit.operations.end(), [&](const Operation& op) {
            const GateInfo& info = gate_info(op.gate.kind);
            if (info.shape != GateShape::Checked) {
                return true;
            }
            const std::size_t needed = info.parity_qubits ? info.orbitals : op.qubits.size();
            return needed <= local_qubits;
        });
}

void check_outputs(const DistributedState& psi, const DistributedState& out) {
    if (psi.num_qubits() != out.num_qubits()) {
        throw InvalidArgument("apply_pauli_sum: the output has " +
                              std::to_string(out.num_qubits()) + " qubits, the input " +
                              std::to_string(psi.num_qubits()));
    }
    if (psi.rank_count() != out.rank_count()) {
        throw InvalidArgument("apply_pauli_sum: the output is spread over " +
                              std::to_string(out.rank_count()) + " ranks, the input over " +
                              std::to_string(psi.rank_count()));
    }
    if (&psi == &out) {
        throw InvalidArgument("apply_pauli_sum: the output must be another state than the input");
    }
}

}  // namespace

void apply_pauli_sum(const PauliSum& sum, const DistributedState& psi, DistributedState& out) {
    check_outputs(psi, out);
    const PreparedPauliSum h(sum, psi.num_qubits());
    PartnerBlocks partners(detail::context_of(psi), psi.local_amplitudes().size());
    product(h, psi, out, partners);
}

DistributedState apply_pauli_sum(const PauliSum& sum, const DistributedState& psi) {
    const PreparedPauliSum h(sum, psi.num_qubits());
    DistributedState out = fresh_state_like(psi);
    PartnerBlocks partners(detail::context_of(psi), psi.local_amplitudes().size());
    product(h, psi, out, partners);
    return out;
}

EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                   const DistributedState& reference) {
    const std::uint64_t n = reference.num_qubits();
    const std::vector<Operation>& ops = circuit.operations;
    std::vector<std::size_t> first_slot(ops.size() + 1, 0);
    for (std::size_t k = 0; k < ops.size(); ++k) {
        check_operation(n, ops[k]);
        first_slot[k + 1] = first_slot[k] + ops[k].params.size();
    }
    const PreparedPauliSum h(hamiltonian, n);
    if (!runs_on_blocks(circuit, reference.local_qubits())) {
        return zel::energy_and_gradient(circuit, h, reference.gather());
    }

    DistributedState psi = reference;
    for (const Operation& op : ops) {
        psi.apply(op);
    }
    detail::Context& context = detail::context_of(psi);
    DistributedState phi = fresh_state_like(psi);
    PartnerBlocks partners(context, psi.local_amplitudes().size());
    product(h, psi, phi, partners);

    // The sums are taken during the sweep and added up once at its end.
    detail::SumBatch batch(context);
    const std::size_t energy = inner(batch, psi, phi);
    std::vector<SlotSum> slots;

    const std::size_t first_parametric = zel::detail::first_parametric(ops);
    for (std::size_t k = ops.size(); k-- > first_parametric;) {
        partners.forget();
        if (k > first_parametric &&
            gate_info(ops[k].gate.kind).generator == GeneratorForm::Excitation) {
            if (const std::optional<std::size_t> sum =
                    local_excitation_overlap_and_undo(batch, ops[k], phi, psi)) {
                slots.push_back({first_slot[k], *sum, SlotSum::Part::Real, Amplitude()});
                continue;
            }
        }
        operation_gradient(batch, ops[k], phi, psi, partners, first_slot[k], slots);
        if (k > first_parametric) {
            const Operation undo = inverse(ops[k]);
            psi.apply(undo);
            phi.apply(undo);
        }
    }
    batch.finish();

    EnergyGradient result;
    result.energy = batch.value(energy).real();
    result.gradient.assign(first_slot.back(), 0.0);
    for (const SlotSum& slot : slots) {
        result.gradient[slot.slot] = slot.value(batch);
    }
    return result;
}

std::vector<double> pool_gradients(const PauliSum& hamiltonian, const DistributedState& psi,
                                   std::span<const PauliSum> generators) {
    const PreparedPauliSum h(hamiltonian, psi.num_qubits());
    std::vector<PreparedPauliSum> pool;
    pool.reserve(generators.size());
    for (const PauliSum& generator : generators) {
        pool.emplace_back(generator, psi.num_qubits());
    }
    const Layout at(psi);
    DistributedState h_psi = fresh_state_like(psi);
    PartnerBlocks partners(detail::context_of(psi), at.count);
    product(h, psi, h_psi, partners);
    const BlockReader a{h_psi.local_amplitudes().data(), at.low};
    detail::SumBatch batch(detail::context_of(psi));
    std::vector<std::vector<std::size_t>> sums(pool.size());
    for (std::size_t k = 0; k < pool.size(); ++k) {
        for (const PauliFlipGroup& group : pool[k].groups()) {
            const BlockReader b{source_block(psi, group.flip, partners, PSI_SLOT, true), at.low};
            sums[k].push_back(
                sum_over_block(batch, psi, [&](std::uint64_t x, std::uint64_t y, double* acc) {
                    zel::detail::add_group_overlap(x, y, group, a, b, acc);
                }));
        }
    }
    batch.finish();
    std::vector<double> gradients;
    gradients.reserve(pool.size());
    for (const std::vector<std::size_t>& generator : sums) {
        // 2 Re <H psi| i B psi> = -2 Im <H psi| B psi>, the groups' sums added in order.
        Amplitude total(0.0, 0.0);
        for (const std::size_t sum : generator) {
            total += batch.value(sum);
        }
        gradients.push_back(-2.0 * total.imag());
    }
    return gradients;
}

}  // namespace zel::mpi
