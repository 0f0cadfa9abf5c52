#pragma once

/// \file
/// `DistributedState`: the dense state vector of an n-qubit register spread over the 2^k ranks
/// of an MPI communicator, with the operations of `ZarnikState` and bitwise its results.
///
/// Layout: rank r holds the 2^(n-k) consecutive amplitudes of the basis indexes
/// [r * 2^(n-k), (r + 1) * 2^(n-k)). Qubits 0 to n-k-1 are local (bits of the index within a
/// rank's block); qubits n-k to n-1 are the rank bits (qubit n-k+j is bit j of the rank).
///
/// Every member function that is not a plain getter is collective: all ranks of the
/// communicator call it, in the same order, with the same arguments. A broken precondition is
/// found by every rank before any communication and thrown as the same exception on every rank,
/// so no rank is left waiting in a collective. The state, its copies and the functions of
/// zel-mpi on them are used from one thread per rank (the one that initialised MPI with at least
/// MPI_THREAD_FUNNELED); the core's worker pool runs the local kernels and never calls MPI.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "zel/core/circuit.hpp"
#include "zel/core/state.hpp"

#include <mpi.h>

namespace zel::mpi {

class DistributedState;

namespace detail {
class Context;
// The shared communicator and buffers of a state, for the library's own reductions.
Context& context_of(const DistributedState& state) noexcept;
}  // namespace detail

/// Amplitudes per message of a gate's exchange with a partner rank by default: 2^15 amplitudes,
/// 512 KiB. Each rank holds one send and one receive buffer of this size (1 MiB together) on
/// top of its block, whatever the state's size.
inline constexpr std::uint64_t DEFAULT_EXCHANGE_AMPLITUDES = std::uint64_t{1} << 15;

/// Largest accepted exchange piece: 2^26 amplitudes (1 GiB per message).
inline constexpr std::uint64_t MAX_EXCHANGE_AMPLITUDES = std::uint64_t{1} << 26;

/// Reductions (expectation values, entropy) run on the blocks in place when a rank holds at
/// least this many amplitudes (4 * SUM_CHUNK = 2^15, 512 KiB): then every fixed chunk of the
/// core's sums lies within one rank. Smaller blocks are gathered into one whole state on every
/// rank (at most 2^15 amplitudes times the rank count) and reduced by the core.
inline constexpr std::uint64_t IN_PLACE_REDUCTION_FROM = std::uint64_t{1} << 15;

/// Settings of a distributed state, fixed at construction and shared by its copies.
struct DistributionOptions {
    /// Amplitudes per exchange message: a power of two from 1 to MAX_EXCHANGE_AMPLITUDES. The
    /// results do not depend on it; small values serve tests of the exchange on small states.
    std::uint64_t exchange_amplitudes = DEFAULT_EXCHANGE_AMPLITUDES;
};

/// What a rank has sent through zel-mpi for a state and its copies.
struct Traffic {
    std::uint64_t messages = 0;    ///< Point-to-point messages and collective contributions.
    std::uint64_t bytes_sent = 0;  ///< Payload bytes this rank handed to MPI to send.

    friend bool operator==(const Traffic&, const Traffic&) = default;
};

/// A dense state vector of `num_qubits` qubits over the ranks of a communicator; see the file
/// comment for the layout and the calling rules. Its values equal, bit for bit, those of a
/// `ZarnikState` that received the same operations, for any rank count and thread count.
class DistributedState {
  public:
    using Amplitude = std::complex<double>;

    /// The basis state |0...0> over the ranks of `comm` (collective). The state works on its
    /// own duplicate of `comm` (MPI_Comm_dup), whose MPI errors are returned to it and thrown as
    /// `MpiError`.
    ///
    /// Throws, on every rank and before any communication: `InvalidArgument` when MPI is not
    /// initialised (or already finalised), when the rank count is not a power of two, when
    /// there are more ranks than amplitudes (2^n), or when `options.exchange_amplitudes` is not
    /// a power of two in [1, MAX_EXCHANGE_AMPLITUDES]; `InvalidLayout` when `num_qubits` >
    /// `ZarnikState::MAX_QUBITS`. When any rank cannot allocate its block and buffers, every rank
    /// throws `AllocationError` for the block's size.
    explicit DistributedState(std::uint64_t num_qubits, MPI_Comm comm = MPI_COMM_WORLD,
                              DistributionOptions options = {});

    /// A deep copy, bitwise equal to `other`, sharing its communicator, buffers and traffic
    /// counters (collective: the ranks agree on the allocation; all throw `AllocationError` when
    /// one fails).
    DistributedState(const DistributedState& other);
    DistributedState& operator=(const DistributedState& other);
    /// Moves leave the source empty, fit only for assignment or destruction.
    DistributedState(DistributedState&& other) noexcept;
    DistributedState& operator=(DistributedState&& other) noexcept;
    /// Frees the communicator with the last state that shares it; destroy states before
    /// MPI_Finalize (afterwards only the memory is released).
    ~DistributedState();

    /// Number of qubits n.
    std::uint64_t num_qubits() const noexcept {
        return num_qubits_;
    }
    /// Number of amplitudes of the whole state, 2^n.
    std::uint64_t dimension() const noexcept {
        return std::uint64_t{1} << num_qubits_;
    }
    /// Number of rank bits k (the communicator has 2^k ranks).
    std::uint64_t rank_qubits() const noexcept {
        return num_qubits_ - local_.num_qubits();
    }
    /// Number of local qubits n - k.
    std::uint64_t local_qubits() const noexcept {
        return local_.num_qubits();
    }
    /// This rank's number in the state's communicator.
    int rank() const noexcept {
        return rank_;
    }
    /// Number of ranks, 2^k.
    int rank_count() const noexcept {
        return 1 << rank_qubits();
    }
    /// Basis index of this rank's first amplitude, rank() * 2^(n-k).
    std::uint64_t first_index() const noexcept {
        return static_cast<std::uint64_t>(rank_) << local_.num_qubits();
    }

    /// This rank's block: the amplitudes of the basis indexes [first_index(), + 2^(n-k)).
    std::span<const Amplitude> local_amplitudes() const noexcept {
        return local_.amplitudes();
    }
    /// Mutable view of this rank's block.
    std::span<Amplitude> local_amplitudes_mut() noexcept {
        return local_.amplitudes_mut();
    }

    /// The state's communicator (its duplicate of the one it was built on).
    MPI_Comm communicator() const noexcept;

    /// Settings of the state.
    DistributionOptions options() const noexcept;

    /// What this rank has sent for this state and its copies since the first of them was built.
    Traffic traffic() const noexcept;

    /// Turns the state into basis state |index> (collective, no communication). Throws
    /// `StateIndexOutOfBounds` on every rank, leaving the amplitudes untouched, when `index` >=
    /// dimension().
    void set_computational_basis(std::uint64_t index);

    /// Applies one gate in place with the rules of `ZarnikState::apply_gate` (the same qubit
    /// and parameter conventions, the same exceptions before any amplitude changes, the same
    /// out-of-range behaviour, bitwise the same amplitudes). Every kind runs distributed; how is
    /// decided by its table row's primitive, never by the kind. Gates on local qubits run the
    /// core's kernels on the block. A rank-bit qubit that only selects amplitudes (a control, a
    /// qubit of a diagonal phase) is a constant on the block and needs no exchange. A 2x2
    /// update of an original kind on a rank bit exchanges the whole block with the partner rank
    /// (rank ^ 2^(q - (n-k))) in pieces of `exchange_amplitudes`; a permutation moving
    /// amplitudes across a rank bit exchanges half the block (with a local qubit) or whole
    /// blocks (between rank bits).
    ///
    /// The kinds from U on are checked as `check_operation` does, on every rank before any
    /// change, and run as `apply` runs them; PAULI_ROTATION and UNITARY need their payload and
    /// go through `apply`.
    void apply_gate(const GateType& gate, std::span<const std::uint64_t> qubits,
                    std::span<const double> params);

    /// Applies one operation of any kind, its payload included, with the rules of
    /// `ZarnikState::apply`. The original kinds run as `apply_gate` does. A kind from U on runs
    /// on the block, with no communication, when each of its rank-bit qubits is a control, a
    /// qubit of a diagonal phase or a parity qubit of a fermionic excitation (a constant sign);
    /// otherwise each rank-bit qubit that moves amplitudes is first exchanged (SWAP) with a
    /// local qubit the operation does not use, the operation runs on the block, and the
    /// exchanges are undone. Throws `InvalidArgument` before any change when the block has
    /// fewer qubits than the operation. A FERMIONIC_SINGLE or FERMIONIC_DOUBLE with an orbital
    /// on a rank bit runs as its qubit excitation between two layers of CZ (each parity qubit
    /// with the first orbital) and Z (for T's own sign), which need no exchange, so only its
    /// orbitals must fit in a block; the values are those of the whole state's kernel.
    void apply(const Operation& op);

    /// Applies an operation prepared for a register of this many qubits: bitwise what
    /// `apply(prepared.operation())` does, which it runs. A block's kernel depends on the rank,
    /// so a distributed state prepares nothing ahead; the overload lets one code apply prepared
    /// operations to either state. Throws `InvalidArgument` as
    /// `PreparedOperation::check_register` when the register sizes differ.
    void apply(const PreparedOperation& prepared);

    /// Shannon entropy in bits, bitwise `ZarnikState::calculate_entropy` of the whole state; the
    /// same value on every rank.
    double calculate_entropy() const;

    /// The whole state on every rank (collective: MPI_Allgather of the blocks). Meant for small
    /// states and tests: every rank allocates 16 * 2^n bytes (all throw `AllocationError` when
    /// one cannot).
    ZarnikState gather() const;

  private:
    struct Fresh {};
    // The basis state |0...0> with the layout, communicator and buffers of `layout`.
    DistributedState(const DistributedState& layout, Fresh);
    friend DistributedState fresh_state_like(const DistributedState& layout);
    friend detail::Context& detail::context_of(const DistributedState& state) noexcept;

    // The original kinds by primitive: a 2x2 update, a phase, a permutation.
    void run_pair(const GateType& gate, std::span<const std::uint64_t> qubits,
                  std::span<const double> params);
    void run_phase(const GateType& gate, std::span<const std::uint64_t> qubits,
                   std::span<const double> params);
    void run_permutation(const GateType& gate, std::span<const std::uint64_t> qubits);
    // A kind from U on that moves amplitudes across a rank bit.
    void run_signed_excitation(const Operation& op);
    void run_on_local_qubits(const Operation& op);

    void apply_pair_on_rank_bit(const GateType& gate, std::span<const double> params,
                                std::uint64_t rank_bit);
    void exchange_half(int partner, unsigned qubit, bool bit_value);
    void exchange_block(int partner);
    bool rank_bit(std::uint64_t qubit) const noexcept;

    std::shared_ptr<detail::Context> context_;
    std::uint64_t num_qubits_ = 0;
    int rank_ = 0;
    ZarnikState local_;
};

/// The basis state |0...0> with the qubit count, communicator, options and buffers of `layout`
/// (collective; the allocation is agreed as in the copy constructor). What each evaluation
/// starts from.
DistributedState fresh_state_like(const DistributedState& layout);

}  // namespace zel::mpi
