#pragma once

/// \file
/// `PreparedOperation`: an operation checked once against a register and reduced to what its
/// kernel reads, for applying again and again without the checks and the trigonometry of each
/// `ZarnikState::apply` call.

#include <array>
#include <complex>
#include <cstdint>

#include "zel/core/circuit.hpp"
#include "zel/core/gate_table.hpp"

namespace zel {

namespace detail {

/// What the kernel of a prepared operation reads. Internal: the fields and their meaning may
/// change in any version; only `PreparedOperation` and the core read them. The fields have no
/// default values, so that the core's per-call copy is not cleared first; `PreparedCall{}` is
/// all zeros.
struct PreparedCall {
    /// The kernel that runs: an original kind's own (Pair: X, Y, H, SX, RX, RY; Phase: Z, S, T;
    /// RZ; CZ; Exchange: CX, SWAP), a kind from U on by its row's primitive (Checked), or none
    /// (I, and the original kinds whose qubits make them change nothing).
    enum class Route : std::uint8_t { Nothing, Pair, Phase, RZ, CZ, Exchange, Checked };

    Route route;
    GateKind kind;
    /// The row of a kind from U on.
    const GateInfo* info;
    /// The original kinds' qubits; a pair or permutation primitive's target (and second qubit).
    std::uint64_t q0;
    std::uint64_t q1;
    /// Controls, or every qubit of a diagonal phase, as a mask over the whole register.
    std::uint64_t selected;
    /// cos and sin of an original rotation's half angle (1 and 0 for the other original kinds),
    /// of a Pauli rotation's half angle, or of an excitation's angle.
    double cos;
    double sin;
    /// A pair primitive's 2x2 matrix, a diagonal phase's entries (the phase is the last), a
    /// global phase (the first).
    std::array<std::complex<double>, 4> matrix;
    /// A Pauli rotation's flip and sign masks and number of Y; an excitation's masks (`x` the
    /// orbitals emptied, `z` those filled, `parity` its parity qubits).
    std::uint64_t x;
    std::uint64_t z;
    std::uint64_t parity;
    unsigned y_count;
    /// Whether a permutation exchanges two qubits (else X on one); whether an excitation's sign
    /// is negative.
    bool flag;
};

}  // namespace detail

/// An operation checked once against a register of `num_qubits` qubits and reduced to what its
/// kernel reads: the matrix formed from its parameters, its qubits turned into masks, a UNITARY's
/// matrix verified. `ZarnikState::apply` of a prepared operation skips the per-call checks and
/// trigonometry and gives bitwise the state that applying the operation itself gives. For
/// operations applied again and again with the same parameters: a Trotter step, the fixed part of
/// an ansatz, a gate benchmark. A prepared operation is plain data: copies are independent and
/// may be applied from several threads at once. It has no move operations: a move copies, so
/// that the source keeps its payload and stays fit to apply.
class PreparedOperation {
  public:
    /// Checks `op` against a register of `num_qubits` qubits exactly as `ZarnikState::apply`
    /// would (the same exceptions with the same messages: `IndexOutOfBounds` for the original
    /// kinds, `InvalidArgument` for the kinds from U on and for a kind outside the table) and
    /// prepares it. The operation is copied.
    PreparedOperation(Operation op, std::uint64_t num_qubits);

    PreparedOperation(const PreparedOperation&) = default;
    PreparedOperation& operator=(const PreparedOperation&) = default;
    ~PreparedOperation() = default;

    /// The operation as given.
    const Operation& operation() const noexcept {
        return op_;
    }

    /// The register size it was checked against; only states of this many qubits apply it.
    std::uint64_t num_qubits() const noexcept {
        return num_qubits_;
    }

    /// Throws `InvalidArgument` ("H: prepared for a register of 3 qubits, applied to one of 2")
    /// unless `num_qubits` is the size it was prepared for.
    void check_register(std::uint64_t num_qubits) const;

    /// What its kernel reads (internal).
    const detail::PreparedCall& call() const noexcept {
        return call_;
    }

  private:
    Operation op_;
    std::uint64_t num_qubits_;
    detail::PreparedCall call_{};
};

}  // namespace zel
