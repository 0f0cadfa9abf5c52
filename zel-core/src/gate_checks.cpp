// The checks of the kinds from U on: qubit list, parameters and payload, the form of the
// excitations and the unitarity of a matrix, each refused with a message naming the kind.

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/state.hpp"

#include "gate_rows.hpp"

namespace zel {

namespace detail {

[[noreturn]] void refuse(const GateInfo& info, const std::string& reason) {
    throw InvalidArgument(std::string(info.name) + ": " + reason);
}

std::string plural(std::size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace detail

namespace {

using detail::plural;
using detail::refuse;
using Entry = std::complex<double>;

// How far M^dagger M may stray from the identity, entry by entry, for a UNITARY's matrix.
constexpr double UNITARITY_TOLERANCE = 1e-12;

void check_unitary(const GateInfo& info, const std::vector<Entry>& m, std::size_t d) {
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            Entry sum = 0.0;
            for (std::size_t j = 0; j < d; ++j) {
                sum += std::conj(m[j * d + r]) * m[j * d + c];
            }
            const double off = std::abs(sum - Entry(r == c ? 1.0 : 0.0, 0.0));
            if (!(off <= UNITARITY_TOLERANCE)) {
                refuse(info, "the matrix is not unitary: entry (" + std::to_string(r) + ", " +
                                 std::to_string(c) + ") of M^dagger M is off by " +
                                 format_float_debug(off) + ", more than 1e-12");
            }
        }
    }
}

// The matrices of UNITARY operations that passed check_unitary on this thread, compared by their
// bits: equal bits give equal products, so an operation applied again skips the O(d^3) check for
// an O(d^2) comparison. A matrix is only ever added after it passed; each thread holds its own,
// so nothing is shared and nothing needs a lock. Enough are kept for a circuit's unitaries to
// be checked once when the circuit is checked and then not again when it runs, or runs again.
class VerifiedMatrices {
  public:
    bool contains(std::span<const Entry> m) const noexcept {
        const std::uint64_t print = fingerprint(m);
        for (std::size_t j = 0; j < SLOTS; ++j) {
            const std::vector<Entry>& entry = entries_[j];
            if (prints_[j] == print && entry.size() == m.size() &&
                std::memcmp(entry.data(), m.data(), m.size_bytes()) == 0) {
                return true;
            }
        }
        return false;
    }

    // Keeps a copy of `m` in place of the oldest entries, as many as the byte budget needs.
    // Without memory for the copy, the matrix is simply not kept.
    void add(std::span<const Entry> m) noexcept {
        const std::size_t bytes = m.size_bytes();
        if (bytes > MAX_BYTES) {
            return;
        }
        release(next_);
        for (std::size_t j = (next_ + 1) % SLOTS; bytes_ + bytes > MAX_BYTES; j = (j + 1) % SLOTS) {
            release(j);
        }
        try {
            entries_[next_].assign(m.begin(), m.end());
        } catch (const std::bad_alloc&) {
            return;
        }
        bytes_ += bytes;
        prints_[next_] = fingerprint(m);
        next_ = (next_ + 1) % SLOTS;
    }

  private:
    static constexpr std::size_t SLOTS = 64;
    // 16 matrices on 6 qubits, or every slot for matrices on up to 5.
    static constexpr std::size_t MAX_BYTES = std::size_t{1} << 20;

    // The size and up to 16 entries spread over the matrix, mixed: cheap next to the
    // comparison, and different for matrices that differ in one of those entries.
    static std::uint64_t fingerprint(std::span<const Entry> m) noexcept {
        constexpr std::uint64_t PRIME = 0x100000001b3;  // the 64-bit FNV prime
        std::uint64_t h = m.size();
        const std::size_t step = std::max<std::size_t>(1, m.size() / 16);
        for (std::size_t k = 0; k < m.size(); k += step) {
            std::uint64_t parts[2];
            std::memcpy(parts, &m[k], sizeof parts);
            h = (h ^ parts[0]) * PRIME;
            h = (h ^ parts[1]) * PRIME;
        }
        return h;
    }

    void release(std::size_t j) noexcept {
        bytes_ -= entries_[j].size() * sizeof(Entry);
        entries_[j] = std::vector<Entry>();
    }

    std::array<std::vector<Entry>, SLOTS> entries_;
    std::array<std::uint64_t, SLOTS> prints_{};
    std::size_t next_ = 0;
    std::size_t bytes_ = 0;
};

// check_unitary, skipped for a matrix this thread has already verified.
void check_unitary_once(const GateInfo& info, const std::vector<Entry>& m, std::size_t d) {
    thread_local VerifiedMatrices verified;
    if (verified.contains(m)) {
        return;
    }
    check_unitary(info, m, d);
    verified.add(m);
}

std::string list_text(std::span<const std::uint64_t> values) {
    std::string text;
    for (std::size_t j = 0; j < values.size(); ++j) {
        text += j == 0 ? "" : ", ";
        text += std::to_string(values[j]);
    }
    return text.empty() ? "none" : text;
}

// Whether `given` is exactly parity_qubits_of(orbitals) (two or four distinct orbitals below 64),
// compared without building that list: the qubits strictly between the lowest two orbitals,
// then those between the third and fourth, ascending.
bool are_parity_qubits(std::span<const std::uint64_t> orbitals,
                       std::span<const std::uint64_t> given) noexcept {
    std::array<std::uint64_t, 4> sorted{};
    const std::size_t count = std::min(orbitals.size(), sorted.size());
    for (std::size_t j = 0; j < count; ++j) {
        // Insertion into the sorted prefix.
        std::size_t at = j;
        for (; at > 0 && sorted[at - 1] > orbitals[j]; --at) {
            sorted[at] = sorted[at - 1];
        }
        sorted[at] = orbitals[j];
    }
    std::size_t g = 0;
    for (std::size_t j = 0; j + 1 < count; j += 2) {
        for (std::uint64_t q = sorted[j] + 1; q < sorted[j + 1]; ++q, ++g) {
            if (g == given.size() || given[g] != q) {
                return false;
            }
        }
    }
    return g == given.size();
}

// The form of an excitation kind: its orbitals distinct and below 64, then (fermionic kinds)
// exactly their parity qubits in ascending order, nothing more.
void check_excitation_form(const GateInfo& info, const Operation& op) {
    const std::size_t orbitals = info.orbitals;
    if (!info.parity_qubits && op.qubits.size() != orbitals) {
        refuse(info,
               "takes " + plural(orbitals, "qubit") + ", got " + std::to_string(op.qubits.size()));
    }
    if (op.qubits.size() < orbitals) {
        refuse(info, "takes " + plural(orbitals, "orbital") + " and their parity qubits, got " +
                         plural(op.qubits.size(), "qubit"));
    }
    const std::span<const std::uint64_t> orbital_list(op.qubits.data(), orbitals);
    for (std::size_t j = 0; j < orbitals; ++j) {
        if (orbital_list[j] >= 64) {
            refuse(info, "orbital " + std::to_string(orbital_list[j]) + " is not below 64");
        }
        for (std::size_t e = 0; e < j; ++e) {
            if (orbital_list[e] == orbital_list[j]) {
                refuse(info, "orbital " + std::to_string(orbital_list[j]) + " appears twice");
            }
        }
    }
    if (!info.parity_qubits) {
        return;
    }
    const std::span<const std::uint64_t> given(op.qubits.data() + orbitals,
                                               op.qubits.size() - orbitals);
    if (!are_parity_qubits(orbital_list, given)) {
        refuse(info, "the qubits after orbitals " + list_text(orbital_list) +
                         " must be their parity qubits " +
                         list_text(detail::parity_qubits_of(orbital_list)) + ", got " +
                         list_text(given));
    }
}

}  // namespace

namespace detail {

void check_operation_form(const Operation& op) {
    check_kind_fast(op.gate.kind);
    const GateInfo& info = gate_info(op.gate.kind);
    if (info.shape != GateShape::Checked) {
        return;
    }
    check_checked_form(info, op);
}

void check_checked_form(const GateInfo& info, const Operation& op) {
    const std::size_t k = info.variable_qubits ? op.qubits.size() : info.arity;
    if (info.orbitals != 0) {
        check_excitation_form(info, op);
    } else if (info.variable_qubits) {
        const std::size_t most = info.payload == PayloadKind::Matrix ? MAX_UNITARY_QUBITS : 64;
        if (k == 0 || k > most) {
            refuse(info,
                   "acts on 1 to " + std::to_string(most) + " qubits, got " + std::to_string(k));
        }
    } else if (op.qubits.size() != k) {
        refuse(info, "takes " + plural(k, "qubit") + ", got " + std::to_string(op.qubits.size()));
    }
    if (op.params.size() != info.param_count) {
        refuse(info, "takes " + plural(info.param_count, "parameter") + ", got " +
                         std::to_string(op.params.size()));
    }
    for (std::size_t j = 0; j < op.params.size(); ++j) {
        if (!std::isfinite(op.params[j])) {
            refuse(info,
                   "parameter " + std::to_string(j) + " is " + format_float_debug(op.params[j]));
        }
    }
    if (info.payload == PayloadKind::PauliString) {
        if (op.payload.pauli.size() != k) {
            refuse(info, "the Pauli string has " + plural(op.payload.pauli.size(), "letter") +
                             " for " + plural(k, "qubit"));
        }
        for (std::size_t j = 0; j < k; ++j) {
            const char p = op.payload.pauli[j];
            if (p != 'I' && p != 'X' && p != 'Y' && p != 'Z') {
                refuse(info, "letter " + std::to_string(j) +
                                 " of the Pauli string is not one of I, X, Y, Z");
            }
        }
    }
    if (info.payload == PayloadKind::Matrix) {
        const std::size_t d = std::size_t{1} << k;
        if (op.payload.matrix.size() != d * d) {
            refuse(info, "a matrix on " + plural(k, "qubit") + " has " + std::to_string(d * d) +
                             " entries, got " + std::to_string(op.payload.matrix.size()));
        }
        check_unitary_once(info, op.payload.matrix, d);
    }
}

void check_qubit_list(std::uint64_t num_qubits, GateKind kind,
                      std::span<const std::uint64_t> qubits) {
    check_checked_qubits(num_qubits, gate_info(kind), qubits);
}

void check_checked_qubits(std::uint64_t num_qubits, const GateInfo& info,
                          std::span<const std::uint64_t> qubits) {
    if (info.variable_qubits) {
        if (qubits.empty()) {
            refuse(info, "acts on at least one qubit, got 0");
        }
    } else if (qubits.size() != info.arity) {
        refuse(info,
               "takes " + plural(info.arity, "qubit") + ", got " + std::to_string(qubits.size()));
    }
    // Qubits below 64 are remembered as bits; a register wider than that (only ever checked,
    // never allocated) compares the earlier entries one by one.
    std::uint64_t seen = 0;
    for (std::size_t j = 0; j < qubits.size(); ++j) {
        const std::uint64_t q = qubits[j];
        if (q >= num_qubits) {
            refuse(info, "qubit " + std::to_string(q) + " is not below the register's " +
                             plural(num_qubits, "qubit"));
        }
        const std::span<const std::uint64_t> earlier = qubits.first(j);
        const bool twice = q < 64 ? ((seen >> q) & 1U) != 0
                                  : std::find(earlier.begin(), earlier.end(), q) != earlier.end();
        if (twice) {
            refuse(info, "qubit " + std::to_string(q) + " appears twice");
        }
        seen |= q < 64 ? std::uint64_t{1} << q : 0;
    }
}

void check_checked_operation(std::uint64_t num_qubits, const GateInfo& info, const Operation& op) {
    // The common operation is accepted in one short pass: its own number of qubits, each below
    // the register (of at most 64 qubits) and none twice, its own number of finite parameters
    // and no payload. Whatever this pass does not accept goes through the full checks, which
    // refuse with the exact message (or accept what the pass left to them).
    const std::vector<std::uint64_t>& qubits = op.qubits;
    bool plain = num_qubits <= 64 && !info.variable_qubits && info.orbitals == 0 &&
                 info.payload == PayloadKind::None && qubits.size() == info.arity &&
                 op.params.size() == info.param_count;
    std::uint64_t seen = 0;
    for (std::size_t j = 0; plain && j < qubits.size(); ++j) {
        const std::uint64_t q = qubits[j];
        plain = q < num_qubits && ((seen >> q) & 1U) == 0;
        seen |= plain ? std::uint64_t{1} << q : 0;
    }
    for (std::size_t j = 0; plain && j < op.params.size(); ++j) {
        plain = std::isfinite(op.params[j]);
    }
    if (plain) {
        return;
    }
    check_checked_qubits(num_qubits, info, qubits);
    check_checked_form(info, op);
}

}  // namespace detail

void check_operation(std::uint64_t num_qubits, const Operation& op) {
    detail::check_kind_fast(op.gate.kind);
    const GateInfo& info = gate_info(op.gate.kind);
    if (info.shape != GateShape::Checked) {
        check_gate(num_qubits, op.gate, op.qubits);
        return;
    }
    detail::check_checked_operation(num_qubits, info, op);
}

}  // namespace zel
