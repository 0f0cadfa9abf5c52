#include "zel/mpi/state.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/detail/kernels.hpp"
#include "zel/core/detail/reductions.hpp"
#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"
#include "zel/mpi/error.hpp"

#include "context.hpp"
#include "relay.hpp"

namespace zel::mpi {
namespace {

using detail::Amplitude;

constexpr std::size_t BYTES_PER_AMPLITUDE = sizeof(Amplitude);

void copy_amplitudes(Amplitude* to, const Amplitude* from, std::uint64_t count) noexcept {
    std::memcpy(static_cast<void*>(to), from,
                static_cast<std::size_t>(count) * BYTES_PER_AMPLITUDE);
}

// Bytes of a state's block, the size an agreed allocation failure reports.
std::size_t block_bytes(const DistributedState& state) noexcept {
    return state.local_amplitudes().size() * BYTES_PER_AMPLITUDE;
}

// Calls body(position, length) for the runs of consecutive block positions whose bit `qubit`
// reads `value`, among the compressed positions [begin, end): position c with the bit inserted.
template <class Body>
void for_each_selected_run(std::uint64_t begin, std::uint64_t end, unsigned qubit, bool value,
                           Body&& body) {
    const std::uint64_t m = std::uint64_t{1} << qubit;
    std::uint64_t c = begin;
    while (c < end) {
        const std::uint64_t run = std::min(m - (c & (m - 1)), end - c);
        const std::uint64_t position = ((c & ~(m - 1)) << 1) | (value ? m : 0) | (c & (m - 1));
        body(position, run);
        c += run;
    }
}

// The checks of construction, identical on every rank and made before any communication.
// Returns the number of rank bits.
std::uint64_t checked_rank_bits(std::uint64_t num_qubits, MPI_Comm comm,
                                const DistributionOptions& options) {
    int initialized = 0;
    int finalized = 0;
    MPI_Initialized(&initialized);
    MPI_Finalized(&finalized);
    if (initialized == 0 || finalized != 0) {
        throw InvalidArgument(
            "DistributedState: MPI is not initialised (call MPI_Init_thread first) or already "
            "finalised");
    }
    if (num_qubits > ZarnikState::MAX_QUBITS) {
        throw InvalidLayout(num_qubits);
    }
    int size = 0;
    check_mpi(MPI_Comm_size(comm, &size), "MPI_Comm_size");
    const auto ranks = static_cast<std::uint64_t>(size);
    if (!std::has_single_bit(ranks)) {
        throw InvalidArgument("DistributedState: the communicator has " + std::to_string(size) +
                              " ranks; the rank count must be a power of two");
    }
    const auto rank_bits = static_cast<std::uint64_t>(std::countr_zero(ranks));
    if (rank_bits > num_qubits) {
        throw InvalidArgument("DistributedState: " + std::to_string(size) + " ranks for " +
                              std::to_string(num_qubits) + " qubits; at most 2^" +
                              std::to_string(num_qubits) +
                              " ranks, one amplitude each, can share the state");
    }
    const std::uint64_t piece = options.exchange_amplitudes;
    if (!std::has_single_bit(piece) || piece > MAX_EXCHANGE_AMPLITUDES) {
        throw InvalidArgument("DistributedState: the exchange size " + std::to_string(piece) +
                              " is not a power of two in [1, 2^26] amplitudes");
    }
    return rank_bits;
}

}  // namespace

namespace detail {

Context& context_of(const DistributedState& state) noexcept {
    return *state.context_;
}

}  // namespace detail

DistributedState::DistributedState(std::uint64_t num_qubits, MPI_Comm comm,
                                   DistributionOptions options)
    : num_qubits_(num_qubits), local_(0) {
    const std::uint64_t rank_bits = checked_rank_bits(num_qubits, comm, options);
    context_ = std::make_shared<detail::Context>(comm, options);
    rank_ = context_->rank();
    const std::uint64_t local_qubits = num_qubits - rank_bits;
    const std::uint64_t block = std::uint64_t{1} << local_qubits;
    detail::agreed_allocation(*context_, static_cast<std::size_t>(block) * BYTES_PER_AMPLITUDE,
                              [&] {
                                  context_->reserve(block);
                                  local_ = ZarnikState(local_qubits);
                              });
    if (rank_ != 0) {
        local_.amplitudes_mut()[0] = Amplitude(0.0, 0.0);
    }
}

DistributedState::DistributedState(const DistributedState& layout, Fresh)
    : context_(layout.context_), num_qubits_(layout.num_qubits_), rank_(layout.rank_), local_(0) {
    detail::agreed_allocation(*context_, block_bytes(layout), [&] {
        local_ = ZarnikState(layout.local_qubits());
    });
    if (rank_ != 0) {
        local_.amplitudes_mut()[0] = Amplitude(0.0, 0.0);
    }
}

DistributedState::DistributedState(const DistributedState& other)
    : context_(other.context_), num_qubits_(other.num_qubits_), rank_(other.rank_), local_(0) {
    detail::agreed_allocation(*context_, block_bytes(other), [&] {
        local_ = other.local_;
    });
}

DistributedState& DistributedState::operator=(const DistributedState& other) {
    if (this == &other) {
        return *this;
    }
    if (context_ == other.context_ && num_qubits_ == other.num_qubits_) {
        // Same layout: the block is overwritten in place, nothing allocated, no communication.
        local_ = other.local_;
        return *this;
    }
    DistributedState copy(other);
    *this = std::move(copy);
    return *this;
}

DistributedState::DistributedState(DistributedState&& other) noexcept
    : context_(std::move(other.context_)),
      num_qubits_(std::exchange(other.num_qubits_, 0)),
      rank_(std::exchange(other.rank_, 0)),
      local_(std::move(other.local_)) {
}

DistributedState& DistributedState::operator=(DistributedState&& other) noexcept {
    if (this != &other) {
        context_ = std::move(other.context_);
        num_qubits_ = std::exchange(other.num_qubits_, 0);
        rank_ = std::exchange(other.rank_, 0);
        local_ = std::move(other.local_);
    }
    return *this;
}

DistributedState::~DistributedState() = default;

DistributedState fresh_state_like(const DistributedState& layout) {
    return DistributedState(layout, DistributedState::Fresh{});
}

MPI_Comm DistributedState::communicator() const noexcept {
    return context_ ? context_->comm() : MPI_COMM_NULL;
}

DistributionOptions DistributedState::options() const noexcept {
    return context_ ? context_->options() : DistributionOptions{};
}

Traffic DistributedState::traffic() const noexcept {
    return context_ ? context_->traffic() : Traffic{};
}

bool DistributedState::rank_bit(std::uint64_t qubit) const noexcept {
    return ((static_cast<std::uint64_t>(rank_) >> (qubit - local_qubits())) & 1U) != 0;
}

void DistributedState::set_computational_basis(std::uint64_t index) {
    if (index >= dimension()) {
        throw StateIndexOutOfBounds(index, dimension());
    }
    const std::uint64_t owner = index >> local_qubits();
    if (owner == static_cast<std::uint64_t>(rank_)) {
        local_.set_computational_basis(index - first_index());
    } else {
        std::fill(local_.amplitudes_mut().begin(), local_.amplitudes_mut().end(),
                  Amplitude(0.0, 0.0));
    }
}

void DistributedState::apply_gate(const GateType& gate, std::span<const std::uint64_t> qubits,
                                  std::span<const double> params) {
    const GateKind kind = gate.kind;
    if (kind == GateKind::I) {
        return;
    }
    check_kind(kind);
    if (gate_info(kind).shape == GateShape::Checked) {
        apply(Operation{gate, {qubits.begin(), qubits.end()}, {params.begin(), params.end()}, {}});
        return;
    }
    // Every rank finds what the whole state's apply_gate would throw, before anything changes.
    check_gate(num_qubits_, gate, qubits);
    const std::uint64_t n = num_qubits_;
    const std::uint64_t l = local_qubits();
    const std::uint64_t q0 = qubits[0];
    switch (gate_info(kind).shape) {
        case GateShape::None:
        case GateShape::Checked:
            return;
        case GateShape::Pair:
            if (q0 < l) {
                local_.apply_gate(gate, qubits, params);
            } else {
                apply_pair_on_rank_bit(gate, params, q0 - l);
            }
            return;
        case GateShape::Diagonal: {
            Amplitude* block = local_.amplitudes_mut().data();
            const std::uint64_t count = local_.dimension();
            if (kind == GateKind::CZ) {
                const std::uint64_t q1 = qubits[1];
                if (q0 >= n || q1 >= n || q0 == q1) {
                    return;
                }
                if (q0 < l && q1 < l) {
                    local_.apply_gate(gate, qubits, params);
                } else if (q0 >= l && q1 >= l) {
                    // Both bits are constant on the block: negated when both are set.
                    zel::detail::apply_diagonal_gate(GateType::of(GateKind::Z), {},
                                                     rank_bit(q0) && rank_bit(q1), block,
                                                     static_cast<std::size_t>(count));
                } else if (rank_bit(q0 >= l ? q0 : q1)) {
                    // CZ with a set rank bit is Z on the local qubit; both negate exactly.
                    const std::uint64_t target[1] = {q0 >= l ? q1 : q0};
                    local_.apply_gate(GateType::of(GateKind::Z), target, {});
                }
                return;
            }
            // Z, S, T and RZ. A qubit beyond the register reads as a clear bit, on the block as
            // on the whole state, so the block's own apply_gate covers it too.
            if (q0 < l || q0 >= n) {
                local_.apply_gate(gate, qubits, params);
            } else {
                zel::detail::apply_diagonal_gate(gate, params, rank_bit(q0), block,
                                                 static_cast<std::size_t>(count));
            }
            return;
        }
        case GateShape::Swap: {
            const std::uint64_t q1 = qubits[1];
            // check_gate has refused a second qubit outside when the first is inside.
            if (q0 >= n || q0 == q1) {
                return;
            }
            if (q0 < l && q1 < l) {
                local_.apply_gate(gate, qubits, params);
                return;
            }
            const int r = rank_;
            if (kind == GateKind::CX) {
                if (q0 >= l && q1 < l) {
                    // Control on a rank bit: the ranks with it set apply X to the local target.
                    if (rank_bit(q0)) {
                        const std::uint64_t target[1] = {q1};
                        local_.apply_gate(GateType::of(GateKind::X), target, {});
                    }
                } else if (q0 < l) {
                    // Local control, target on a rank bit: the amplitudes with the control set
                    // trade places with the partner's.
                    exchange_half(r ^ (1 << (q1 - l)), static_cast<unsigned>(q0), true);
                } else if (rank_bit(q0)) {
                    exchange_block(r ^ (1 << (q1 - l)));
                }
                return;
            }
            if (q0 >= l && q1 >= l) {
                // Two rank bits: blocks whose bits differ trade places.
                if (rank_bit(q0) != rank_bit(q1)) {
                    exchange_block(r ^ (1 << (q0 - l)) ^ (1 << (q1 - l)));
                }
                return;
            }
            // A rank qubit and a local one: with v the rank bit, the amplitudes whose local bit
            // is !v move to the partner (rank bit !v), into its positions with local bit v.
            const std::uint64_t rank_qubit = q0 >= l ? q0 : q1;
            const std::uint64_t local_qubit = q0 >= l ? q1 : q0;
            exchange_half(r ^ (1 << (rank_qubit - l)), static_cast<unsigned>(local_qubit),
                          !rank_bit(rank_qubit));
            return;
        }
    }
}

void DistributedState::apply(const Operation& op) {
    check_kind(op.gate.kind);
    if (gate_info(op.gate.kind).shape != GateShape::Checked) {
        apply_gate(op.gate, op.qubits, op.params);
        return;
    }
    check_operation(num_qubits_, op);
    const std::uint64_t l = local_qubits();
    // A fermionic excitation's sign follows the order of its qubit numbers, which the exchanges
    // below would change. With a rank-bit qubit it runs as its qubit excitation between two
    // layers of sign flips: CZ between each parity qubit and the first orbital, and Z there when
    // T's own sign is -1. Each flips exactly the off-diagonal entries the parity would, and sign
    // flips are exact, so the amplitudes are bitwise those of the fermionic kernel.
    const GateInfo& info = gate_info(op.gate.kind);
    const bool rank_bits = std::any_of(op.qubits.begin(), op.qubits.end(), [l](std::uint64_t q) {
        return q >= l;
    });
    if (info.parity_qubits && rank_bits) {
        const std::size_t half = info.orbitals / 2;
        const std::span<const std::uint64_t> from(op.qubits.data(), half);
        const std::span<const std::uint64_t> to(op.qubits.data() + half, half);
        const Operation plain = qubit_excitation(from, to, op.params[0]);
        if (plain.qubits.size() > l) {
            throw InvalidArgument(std::string(info.name) + ": acts on " +
                                  std::to_string(plain.qubits.size()) +
                                  " orbitals but each rank holds " + std::to_string(l));
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
        return;
    }
    if (op.qubits.size() > l) {
        throw InvalidArgument(std::string(gate_info(op.gate.kind).name) + ": acts on " +
                              std::to_string(op.qubits.size()) + " qubits but each rank holds " +
                              std::to_string(l));
    }
    // Rank-bit qubits trade places with local qubits the operation leaves alone, lowest first.
    Operation local = op;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> swaps;
    std::uint64_t spare = 0;
    for (std::uint64_t& q : local.qubits) {
        if (q < l) {
            continue;
        }
        while (std::find(op.qubits.begin(), op.qubits.end(), spare) != op.qubits.end()) {
            ++spare;
        }
        swaps.emplace_back(spare, q);
        q = spare++;
    }
    const auto exchange = [this](const std::pair<std::uint64_t, std::uint64_t>& pair) {
        const std::uint64_t qubits[2] = {pair.first, pair.second};
        apply_gate(GateType::of(GateKind::SWAP), qubits, {});
    };
    std::for_each(swaps.begin(), swaps.end(), exchange);
    local_.apply(local);
    std::for_each(swaps.rbegin(), swaps.rend(), exchange);
}

void DistributedState::apply_pair_on_rank_bit(const GateType& gate, std::span<const double> params,
                                              std::uint64_t rank_bit_index) {
    detail::Context& context = *context_;
    const std::uint64_t count = local_.dimension();
    const std::uint64_t piece = context.piece(count);
    const int partner = rank_ ^ (1 << rank_bit_index);
    const bool upper = ((static_cast<std::uint64_t>(rank_) >> rank_bit_index) & 1U) != 0;
    Amplitude* block = local_.amplitudes_mut().data();
    Amplitude* received = context.receive_buffer();
    // Each rank receives its partner's block piece by piece and computes both members of every
    // pair with the core's kernel, keeping its own: the same arithmetic on the same operands as
    // the whole state's kernel, so the same bits on both ranks.
    // Pieces from the pool's grain up (larger exchange sizes) are computed on the pool.
    for (std::uint64_t offset = 0; offset < count; offset += piece) {
        Amplitude* own = block + offset;
        context.sendrecv(own, received, piece, partner);
        Amplitude* lower = upper ? received : own;
        Amplitude* higher = upper ? own : received;
        parallel::for_each(static_cast<std::size_t>(piece), [&](std::size_t begin,
                                                                std::size_t end) {
            zel::detail::apply_pair_gate(gate, params, lower + begin, higher + begin, end - begin);
        });
    }
}

void DistributedState::exchange_half(int partner, unsigned qubit, bool bit_value) {
    detail::Context& context = *context_;
    const std::uint64_t half = local_.dimension() / 2;
    const std::uint64_t piece = context.piece(half);
    Amplitude* block = local_.amplitudes_mut().data();
    Amplitude* outgoing = context.send_buffer();
    Amplitude* incoming = context.receive_buffer();
    for (std::uint64_t first = 0; first < half; first += piece) {
        std::uint64_t packed = 0;
        for_each_selected_run(first, first + piece, qubit, bit_value,
                              [&](std::uint64_t position, std::uint64_t run) {
                                  copy_amplitudes(outgoing + packed, block + position, run);
                                  packed += run;
                              });
        context.sendrecv(outgoing, incoming, piece, partner);
        packed = 0;
        for_each_selected_run(first, first + piece, qubit, bit_value,
                              [&](std::uint64_t position, std::uint64_t run) {
                                  copy_amplitudes(block + position, incoming + packed, run);
                                  packed += run;
                              });
    }
}

void DistributedState::exchange_block(int partner) {
    detail::Context& context = *context_;
    const std::uint64_t count = local_.dimension();
    const std::uint64_t piece = context.piece(count);
    Amplitude* block = local_.amplitudes_mut().data();
    Amplitude* incoming = context.receive_buffer();
    for (std::uint64_t offset = 0; offset < count; offset += piece) {
        context.sendrecv(block + offset, incoming, piece, partner);
        copy_amplitudes(block + offset, incoming, piece);
    }
}

double DistributedState::calculate_entropy() const {
    const std::uint64_t count = local_.dimension();
    if (count < IN_PLACE_REDUCTION_FROM) {
        return gather().calculate_entropy();
    }
    // A state of at least 64 amplitudes: -0.0 plus the partials of its chunks in order.
    detail::Context& context = *context_;
    const std::uint64_t chunks = count / parallel::SUM_CHUNK;
    double* partials = context.partials();
    const Amplitude* block = local_.amplitudes().data();
    detail::for_each_chunk(count, chunks, [&](std::uint64_t c) {
        partials[c] =
            zel::detail::entropy_partial(block + c * parallel::SUM_CHUNK, parallel::SUM_CHUNK);
    });
    double total = -0.0;
    detail::relay(context, std::span<double>(&total, 1), [&](std::span<double> running) {
        for (std::uint64_t c = 0; c < chunks; ++c) {
            running[0] += partials[c];
        }
    });
    return total;
}

ZarnikState DistributedState::gather() const {
    detail::Context& context = *context_;
    ZarnikState whole(0);
    detail::agreed_allocation(context, static_cast<std::size_t>(dimension()) * BYTES_PER_AMPLITUDE,
                              [&] {
                                  whole = ZarnikState(num_qubits_);
                              });
    context.allgather(local_.amplitudes().data(), local_.dimension(),
                      whole.amplitudes_mut().data());
    return whole;
}

}  // namespace zel::mpi
