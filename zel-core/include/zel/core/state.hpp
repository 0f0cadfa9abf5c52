#pragma once

/// \file
/// `ZarnikState`: the dense state vector of an n-qubit register and the gate kernels.
///
/// Amplitude k belongs to computational basis state k; qubit q is bit q of k (mask 2^q), bit 0
/// the least significant. Amplitudes are `std::complex<double>` (real part first, 16 bytes) in
/// one 64-byte-aligned buffer. Nothing here normalises the state or checks its norm.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zel/core/circuit.hpp"
#include "zel/core/prepared.hpp"

namespace zel {

/// Checks `gate` on `qubits` against a register of `num_qubits` qubits exactly as
/// `ZarnikState::apply_gate` does, without a state: throws the `IndexOutOfBounds` that
/// `apply_gate` would throw, and returns when it would apply the gate (or change nothing).
void check_gate(std::uint64_t num_qubits, const GateType& gate,
                std::span<const std::uint64_t> qubits);

/// Checks `op` against a register of `num_qubits` qubits as `ZarnikState::apply` does, without a
/// state. The fourteen original kinds follow `check_gate`; the kinds from U on must name exactly
/// their qubits (controls first), each below `num_qubits` and none twice, carry exactly the
/// row's number of parameters, all finite, and a valid payload (a Pauli string of "IXYZ", one
/// letter per qubit; a unitary matrix of 4^k entries, k at most MAX_UNITARY_QUBITS, unitary to
/// 1e-12). Otherwise throws `InvalidArgument` whose message starts with the kind's name
/// ("CCX: qubit 4 is not below the register's 3 qubits").
void check_operation(std::uint64_t num_qubits, const Operation& op);

/// Dense state vector of `num_qubits` qubits: 2^n complex amplitudes in an owned, 64-byte
/// aligned buffer. Copies are deep; moves transfer the buffer and leave the source empty
/// (zero amplitudes), fit only for assignment or destruction.
class ZarnikState {
  public:
    using Amplitude = std::complex<double>;

    /// Alignment of the amplitude buffer in bytes.
    static constexpr std::size_t ALIGNMENT = 64;

    /// Largest qubit count whose buffer (16 * 2^n bytes) can be requested at all.
    static constexpr std::uint64_t MAX_QUBITS = 58;

    /// The basis state |0...0>: amplitude 0 is 1, all others 0.
    /// Throws `InvalidLayout` when `num_qubits` > MAX_QUBITS (before any allocation), and
    /// `AllocationError` (a `std::bad_alloc`) when the 16 * 2^n bytes cannot be obtained.
    explicit ZarnikState(std::uint64_t num_qubits);

    /// A deep copy with a buffer of its own, bitwise equal to `other`. Throws `AllocationError`
    /// when the buffer cannot be obtained.
    ZarnikState(const ZarnikState& other);
    ZarnikState& operator=(const ZarnikState& other);
    ZarnikState(ZarnikState&& other) noexcept;
    ZarnikState& operator=(ZarnikState&& other) noexcept;
    ~ZarnikState();

    /// Number of qubits n.
    std::uint64_t num_qubits() const noexcept {
        return num_qubits_;
    }

    /// Number of amplitudes, 2^n.
    std::uint64_t dimension() const noexcept {
        return dimension_;
    }

    /// The amplitudes in basis-index order.
    std::span<const Amplitude> amplitudes() const noexcept {
        return {amplitudes_, static_cast<std::size_t>(dimension_)};
    }

    /// Mutable view of the amplitudes in basis-index order.
    std::span<Amplitude> amplitudes_mut() noexcept {
        return {amplitudes_, static_cast<std::size_t>(dimension_)};
    }

    /// Turns the state into basis state |index>. Throws `StateIndexOutOfBounds`, leaving the
    /// amplitudes untouched, when `index` >= dimension().
    void set_computational_basis(std::uint64_t index);

    /// Applies one gate in place.
    ///
    /// One-qubit kinds act on `qubits[0]`; CX uses `qubits[0]` as control and `qubits[1]` as
    /// target; CZ and SWAP use `qubits[0]` and `qubits[1]`. Rotations use `params[0]` when
    /// `params` is not empty and `gate.angle` otherwise; other kinds ignore `params`. I returns
    /// at once without reading either array.
    ///
    /// Throws `IndexOutOfBounds` ("index out of bounds: the len is {} but the index is {}")
    /// before changing any amplitude when: `qubits` is empty (len 0, index 0); a two-qubit kind has
    /// one entry (len 1, index 1); X, Y, H, SX, RX or RY target a qubit t >= n (len 2^n, index
    /// 2^t); CX or SWAP have `qubits[0]` in range and `qubits[1]` out of range (len 2^n, index 2^q0
    /// + 2^q1 for CX, 2^q1 for SWAP). An index that 2^t cannot express (t >= 64) is reported as
    /// 2^64 - 1.
    ///
    /// Out-of-range qubits that do not throw: Z, S, T and CZ change nothing; RZ multiplies every
    /// amplitude by e^(-i theta/2); CX and SWAP with `qubits[0]` out of range change nothing.
    /// CX, CZ and SWAP whose two qubits are equal change nothing.
    ///
    /// The kinds from U on are checked strictly (see `check_operation`); PAULI_ROTATION and
    /// UNITARY need their payload and go through `apply`.
    void apply_gate(const GateType& gate, std::span<const std::uint64_t> qubits,
                    std::span<const double> params);

    /// Applies one operation of any kind in place, its payload included: the original kinds as
    /// `apply_gate` does, the kinds from U on after `check_operation`, which throws before any
    /// amplitude changes.
    void apply(const Operation& op);

    /// Applies an operation prepared for a register of this many qubits: bitwise what
    /// `apply(prepared.operation())` does, without its checks and without forming its matrix
    /// again. Throws `InvalidArgument` ("H: prepared for a register of 3 qubits, applied to one
    /// of 2"), changing nothing, when the register sizes differ.
    void apply(const PreparedOperation& prepared);

    /// Shannon entropy in bits of |a_k|^2: the sum of -p log2(p) over every p = |a_k|^2 above
    /// 1e-12 (others contribute 0). Probabilities are not renormalised. Never negative zero.
    double calculate_entropy() const;

  private:
    std::uint64_t num_qubits_ = 0;
    std::uint64_t dimension_ = 0;
    Amplitude* amplitudes_ = nullptr;
};

}  // namespace zel
