#include "zel/mpi/state.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <span>
#include <string>
#include <utility>

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

// Bytes of a state's block, the size an agreed allocation failure reports.
std::size_t block_bytes(const DistributedState& state) noexcept {
    return state.local_amplitudes().size() * BYTES_PER_AMPLITUDE;
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
