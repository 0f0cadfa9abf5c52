#pragma once

// Helpers over the gate table's rows shared by the checks, the matrices and the dispatch.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zel/core/circuit.hpp"

namespace zel::detail {

/// A Pauli string as masks over its letters' positions: X or Y flip a bit, Y or Z give a sign.
struct PauliMasks {
    std::uint64_t x = 0;
    std::uint64_t z = 0;
    unsigned y_count = 0;
};

/// The masks of `letters` ("IXYZ"), letter j at bit j.
PauliMasks pauli_masks(std::string_view letters) noexcept;

/// The factor P|k> carries: P|k> = pauli_phase(k) |k ^ x>, i^(Y count) (-1)^(bits of k & z).
std::complex<double> pauli_phase(const PauliMasks& masks, std::uint64_t index) noexcept;

/// An excitation as masks: the amplitudes it changes are those with every `from` bit set and
/// every `to` bit clear (and their partners with both flipped); T moves such an amplitude to its
/// partner with the sign -1 to the power of `negative` plus the parity of its `parity` bits.
struct ExcitationMasks {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    std::uint64_t parity = 0;
    bool negative = false;
};

/// The masks of an excitation operation whose form has been checked: with `local`, the
/// operation's j-th qubit is bit j (for its own matrix), else bit qubits[j] (qubits below 64).
ExcitationMasks excitation_masks(const Operation& op, bool local) noexcept;

/// Qubits the operation's kind uses: its arity, or for variable kinds all of `qubits`.
std::size_t operation_qubit_count(const Operation& op) noexcept;

/// The checks of a kind from U on that need no register: qubit count, parameter count and
/// finiteness, payload. Throws `InvalidArgument` naming the kind; the original kinds pass.
void check_operation_form(const Operation& op);

/// check_operation_form for a kind from U on whose row is `info`.
void check_checked_form(const GateInfo& info, const Operation& op);

/// check_qubit_list for the row `info`.
void check_checked_qubits(std::uint64_t num_qubits, const GateInfo& info,
                          std::span<const std::uint64_t> qubits);

/// check_operation for a kind from U on whose row is `info`: its qubits against the register,
/// then its form. Nothing is allocated and no text is built unless it throws.
void check_checked_operation(std::uint64_t num_qubits, const GateInfo& info, const Operation& op);

/// For a kind from U on: exactly the row's number of qubits (at least one for variable kinds),
/// every one below `num_qubits`, none twice; else `InvalidArgument` naming the kind.
void check_qubit_list(std::uint64_t num_qubits, GateKind kind,
                      std::span<const std::uint64_t> qubits);

/// Throws the `InvalidArgument` of check_kind for a kind outside the table.
[[noreturn]] void refuse_kind(GateKind kind);

/// check_kind with the test inline: the call that builds the message happens only on failure.
inline void check_kind_fast(GateKind kind) {
    if (static_cast<std::size_t>(kind) >= GATE_KIND_COUNT) {
        refuse_kind(kind);
    }
}

/// Throws `InvalidArgument` with the kind's name, a colon and `reason`.
[[noreturn]] void refuse(const GateInfo& info, const std::string& reason);

/// A count and its noun, plural unless the count is one ("1 qubit", "3 parameters").
std::string plural(std::size_t count, const char* word);

/// The Jordan–Wigner parity qubits of distinct orbitals below 64: those with an odd number of
/// orbitals above them, ascending (between the first and second lowest, and between the third
/// and fourth).
std::vector<std::uint64_t> parity_qubits_of(std::span<const std::uint64_t> orbitals);

/// Whether the excitation of distinct `orbitals` below 64 (the `half` emptied ones, then the
/// filled ones) carries the sign -1 before the parity of its parity qubits.
bool excitation_sign_negative(std::span<const std::uint64_t> orbitals, std::size_t half);

/// An excitation's rotation by its angle (`rotation`) or its generator i (T - T^dagger)
/// (`!rotation`), on the operation's own qubits, row-major; its form has been checked.
std::vector<std::complex<double>> excitation_matrix(const Operation& op, bool rotation);

}  // namespace zel::detail
