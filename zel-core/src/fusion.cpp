#include "zel/core/fusion.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"

#include "fused_kernel.hpp"
#include "gate_rows.hpp"

namespace zel {
namespace {

using Amplitude = std::complex<double>;

// The same for the kinds from U on, from their row: controls and phases never mix, a Pauli
// rotation mixes the qubits whose letter is X or Y, any other primitive its targets.
bool mixes_checked(const Operation& op, std::size_t j) {
    const GateInfo& info = gate_info(op.gate.kind);
    if (j < info.controls) {
        return false;
    }
    switch (info.primitive) {
        case Primitive::None:
        case Primitive::Diagonal:
        case Primitive::GlobalPhase:
            return false;
        case Primitive::PauliRotation: {
            const std::string_view letters = info.payload == PayloadKind::PauliString
                                                 ? std::string_view(op.payload.pauli)
                                                 : info.pauli;
            const char p = letters[j - info.controls];
            return p == 'X' || p == 'Y';
        }
        case Primitive::Excitation:
            return j < info.orbitals;  // parity qubits only choose a sign
        case Primitive::Pair:
        case Primitive::Permutation:
        case Primitive::Dense:
            return true;
    }
    return true;
}

// Whether `op` may change the value of its j-th qubit in a basis state, read from the gate
// table: the pair kinds mix their target, the diagonal ones nothing, SWAP both of its qubits and
// CX its target only (it changes the amplitudes with the control set, keeping the control).
// Qubits that no gate of a block mixes cost the block nothing: they only select among its
// matrices.
bool mixes(const Operation& op, std::size_t j) {
    const GateInfo& info = gate_info(op.gate.kind);
    switch (info.shape) {
        case GateShape::Checked:
            return mixes_checked(op, j);
        case GateShape::None:
        case GateShape::Diagonal:
            return false;
        case GateShape::Pair:
            return true;
        case GateShape::Swap:
            return info.changes != ChangedAmplitudes::ControlSet || j == 1;
    }
    return true;
}

// Whether the exact kernels must apply `op` (on a register of n qubits): a qubit outside the
// register, or two equal qubits of a two-qubit kind. All of these change nothing or (RZ) multiply
// every amplitude by one phase, which no block can express on its own qubits.
bool kept_exact(const Operation& op, std::uint64_t n, std::size_t limit) {
    const GateInfo& info = gate_info(op.gate.kind);
    if (info.shape == GateShape::Checked) {
        // Checked kinds lie inside the register. A global phase acts on every qubit; a Pauli
        // rotation or a unitary may be wider than a block.
        std::size_t mixed = 0;
        for (std::size_t j = 0; j < op.qubits.size(); ++j) {
            mixed += mixes(op, j) ? 1 : 0;
        }
        return op.qubits.empty() || op.qubits.size() > MAX_FUSED_QUBITS || mixed > limit;
    }
    for (std::size_t j = 0; j < info.arity; ++j) {
        if (op.qubits[j] >= n) {
            return true;
        }
    }
    return info.arity == 2 && op.qubits[0] == op.qubits[1];
}

// Blocks back from the newest that a gate may join: bounds the cost of fusing long circuits.
constexpr std::size_t SEARCH_WINDOW = 16;

// A block under construction: its qubits and those of them it mixes (both ascending), and its
// gates, in order.
struct OpenBlock {
    std::vector<std::uint64_t> qubits;
    std::vector<std::uint64_t> mixed;
    std::vector<const Operation*> gates;
    bool kept = false;
};

// `a` with the qubits of `op` (all of them, or only those it mixes) added, ascending.
std::vector<std::uint64_t> united(const std::vector<std::uint64_t>& a, const Operation& op,
                                  bool only_mixed = false) {
    std::vector<std::uint64_t> qubits = a;
    for (std::size_t j = 0; j < detail::operation_qubit_count(op); ++j) {
        if ((!only_mixed || mixes(op, j)) &&
            std::find(qubits.begin(), qubits.end(), op.qubits[j]) == qubits.end()) {
            qubits.push_back(op.qubits[j]);
        }
    }
    std::sort(qubits.begin(), qubits.end());
    return qubits;
}

// The matrix of a block: column c is the image of local basis state |c>, computed by the exact
// kernels on a state of k qubits with every gate's qubits renamed to their local positions.
std::vector<Amplitude> block_matrix(const OpenBlock& block) {
    const auto k = static_cast<std::uint64_t>(block.qubits.size());
    const std::size_t d = std::size_t{1} << k;
    std::vector<Amplitude> matrix(d * d);
    std::vector<Operation> local;
    local.reserve(block.gates.size());
    for (const Operation* op : block.gates) {
        Operation renamed = *op;
        for (std::size_t j = 0; j < detail::operation_qubit_count(*op); ++j) {
            const auto position =
                std::lower_bound(block.qubits.begin(), block.qubits.end(), op->qubits[j]);
            renamed.qubits[j] = static_cast<std::uint64_t>(position - block.qubits.begin());
        }
        local.push_back(std::move(renamed));
    }
    for (std::size_t c = 0; c < d; ++c) {
        ZarnikState column(k);
        column.set_computational_basis(c);
        for (const Operation& op : local) {
            column.apply(op);
        }
        for (std::size_t r = 0; r < d; ++r) {
            matrix[r * d + c] = column.amplitudes()[r];
        }
    }
    return matrix;
}

// A block on every qubit of the state: one product with the whole vector, which is at most
// 2^MAX_FUSED_QUBITS amplitudes.
void apply_whole(Amplitude* psi, const FusedStep& step) {
    const std::size_t d = std::size_t{1} << step.qubits.size();
    const std::vector<Amplitude> before(psi, psi + d);
    for (std::size_t r = 0; r < d; ++r) {
        Amplitude sum = 0.0;
        for (std::size_t c = 0; c < d; ++c) {
            sum += step.matrix[r * d + c] * before[c];
        }
        psi[r] = sum;
    }
}

// Refuses, before any change, a fused circuit whose steps the kernels cannot apply safely: the
// steps are open to callers, who may have built or edited them.
void check_steps(const FusedCircuit& fused) {
    const auto refuse = [](std::size_t index, const std::string& reason) {
        throw InvalidArgument("apply_fused: step " + std::to_string(index) + ": " + reason);
    };
    for (std::size_t index = 0; index < fused.steps.size(); ++index) {
        const FusedStep& step = fused.steps[index];
        if (step.qubits.empty()) {
            check_operation(fused.num_qubits, step.kept);
            continue;
        }
        const std::size_t k = step.qubits.size();
        if (k > MAX_FUSED_QUBITS) {
            refuse(index, "a block acts on at most " + std::to_string(MAX_FUSED_QUBITS) +
                              " qubits, this one on " + std::to_string(k));
        }
        for (std::size_t j = 0; j < k; ++j) {
            if (step.qubits[j] >= fused.num_qubits) {
                refuse(index, "qubit " + std::to_string(step.qubits[j]) +
                                  " is outside the register of " +
                                  std::to_string(fused.num_qubits));
            }
            if (j > 0 && step.qubits[j] <= step.qubits[j - 1]) {
                refuse(index, "the qubits must be distinct and ascending");
            }
        }
        if (step.matrix.size() != std::size_t{1} << (2 * k)) {
            refuse(index, "the matrix has " + std::to_string(step.matrix.size()) +
                              " entries instead of " + std::to_string(std::size_t{1} << (2 * k)));
        }
    }
}

}  // namespace

FusedCircuit fuse(const ZarnikGraph& circuit, std::uint64_t num_qubits, unsigned max_qubits) {
    if (num_qubits > ZarnikState::MAX_QUBITS) {
        throw InvalidLayout(num_qubits);
    }
    for (const Operation& op : circuit.operations) {
        check_operation(num_qubits, op);
    }
    const std::size_t limit = std::clamp<unsigned>(max_qubits, 2, MAX_FUSED_QUBITS);

    // Greedy, in circuit order. A gate depends on the latest block that touches one of its
    // qubits; every later block acts on other qubits and commutes with it, so the gate may join
    // that block or any later one whenever the union of qubits stays within the limit.
    // Otherwise it opens a new block. Kept operations are barriers for the qubits they touch (for
    // RZ outside the register, a phase on everything, for all qubits).
    std::vector<OpenBlock> blocks;
    // Index + 1 of the latest block touching each qubit; 0 for none.
    std::vector<std::size_t> latest(static_cast<std::size_t>(num_qubits), 0);
    std::size_t barrier = 0;  // blocks before this index can take no gate
    for (const Operation& op : circuit.operations) {
        const GateInfo& info = gate_info(op.gate.kind);
        if (info.shape == GateShape::None) {
            continue;
        }
        if (kept_exact(op, num_qubits, limit)) {
            blocks.push_back(OpenBlock{{}, {}, {&op}, true});
            barrier = blocks.size();
            continue;
        }
        std::size_t depends = barrier;
        const std::size_t used = detail::operation_qubit_count(op);
        for (std::size_t j = 0; j < used; ++j) {
            depends = std::max(depends, latest[op.qubits[j]]);
        }
        // Any block from the dependency on may take the gate: the later ones do not touch its
        // qubits. Take the one it widens least (the latest of those), among the last few.
        const std::size_t first = std::max(
            {depends == 0 ? barrier : depends - 1, barrier,
             blocks.size() > SEARCH_WINDOW ? blocks.size() - SEARCH_WINDOW : std::size_t{0}});
        std::size_t best = blocks.size();
        std::size_t best_growth = 2 * MAX_FUSED_QUBITS + 1;
        for (std::size_t b = first; b < blocks.size(); ++b) {
            if (blocks[b].kept || b + 1 < depends) {
                continue;
            }
            const std::size_t size = united(blocks[b].qubits, op).size();
            const std::size_t mixed = united(blocks[b].mixed, op, true).size();
            // A mixed qubit doubles the block's work, a selecting one does not.
            const std::size_t growth =
                2 * (mixed - blocks[b].mixed.size()) + (size - blocks[b].qubits.size());
            if (mixed <= limit && size <= MAX_FUSED_QUBITS && growth <= best_growth) {
                best = b;
                best_growth = growth;
            }
        }
        if (best < blocks.size()) {
            OpenBlock& chosen = blocks[best];
            chosen.qubits = united(chosen.qubits, op);
            chosen.mixed = united(chosen.mixed, op, true);
            chosen.gates.push_back(&op);
            for (std::size_t j = 0; j < used; ++j) {
                latest[op.qubits[j]] = best + 1;
            }
            continue;
        }
        blocks.push_back(OpenBlock{united({}, op), united({}, op, true), {&op}, false});
        for (const std::uint64_t q : blocks.back().qubits) {
            latest[q] = blocks.size();
        }
    }

    FusedCircuit fused;
    fused.num_qubits = num_qubits;
    fused.source_gates = circuit.operations.size();
    fused.steps.reserve(blocks.size());
    for (const OpenBlock& block : blocks) {
        FusedStep step;
        step.gates = block.gates.size();
        if (block.kept) {
            step.kept = *block.gates.front();
        } else {
            step.qubits = block.qubits;
            step.matrix = block_matrix(block);
        }
        fused.steps.push_back(std::move(step));
    }
    return fused;
}

void apply_fused(ZarnikState& state, const FusedCircuit& fused) {
    if (fused.num_qubits != state.num_qubits()) {
        throw InvalidArgument("apply_fused: the circuit was fused for " +
                              std::to_string(fused.num_qubits) + " qubits, the state has " +
                              std::to_string(state.num_qubits()));
    }
    check_steps(fused);
    Amplitude* psi = state.amplitudes_mut().data();
    for (const FusedStep& step : fused.steps) {
        if (step.qubits.empty()) {
            state.apply(step.kept);
            continue;
        }
        const auto k = static_cast<unsigned>(step.qubits.size());
        if (k == state.num_qubits()) {
            apply_whole(psi, step);
            continue;
        }
        const detail::PreparedBlock prepared = detail::prepare_block(step.matrix, step.qubits);
        const auto mixed = static_cast<unsigned>(prepared.mixed.size());
        const detail::BlockKernelArgs block{mixed,
                                            prepared.mixed.data(),
                                            prepared.selectors.data(),
                                            static_cast<unsigned>(prepared.selectors.size()),
                                            prepared.lane_bit,
                                            prepared.coefficients.data()};
        parallel::for_each(state.dimension() >> (mixed + 1),
                           [&](std::uint64_t begin, std::uint64_t end) {
                               detail::apply_block_range(psi, block, begin, end);
                           });
    }
}

}  // namespace zel
