// Excitation operations: their masks, sign and parity qubits, their matrix and generator on
// their own qubits, and the functions that build them from orbitals.

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

#include "gate_rows.hpp"

namespace zel {

namespace detail {

namespace {

using Entry = std::complex<double>;

}  // namespace

// Whether T = a^dagger_to[0] (a^dagger_to[1] a_from[1]) a_from[0] of `orbitals` (from, then to;
// `half` of each) takes the state with only its emptied orbitals occupied to the state with only
// its filled ones occupied with the sign -1. Each ladder operator on mode m, applied right to
// left, contributes the parity of the occupied orbitals below m; parity qubits are not orbitals
// and contribute through `ExcitationMasks::parity`.
// The occupied orbitals are a bit set (orbitals are distinct and below 64), so that applying an
// operation allocates nothing.
bool excitation_sign_negative(std::span<const std::uint64_t> orbitals, std::size_t half) {
    std::uint64_t occupied = 0;
    for (std::size_t j = 0; j < half; ++j) {
        occupied |= std::uint64_t{1} << orbitals[j];
    }
    bool negative = false;
    const auto pass = [&](std::uint64_t m) {
        const std::uint64_t below = (std::uint64_t{1} << m) - 1;
        negative = (std::popcount(occupied & below) & 1) != 0 ? !negative : negative;
    };
    for (std::size_t j = 0; j < half; ++j) {
        occupied &= ~(std::uint64_t{1} << orbitals[j]);
        pass(orbitals[j]);
    }
    for (std::size_t j = half; j-- > 0;) {
        pass(orbitals[half + j]);
        occupied |= std::uint64_t{1} << orbitals[half + j];
    }
    return negative;
}

// The Jordan–Wigner parity qubits of distinct orbitals below 64: those with an odd number of
// orbitals above them, ascending (between the first and second lowest, and between the third
// and fourth).
std::vector<std::uint64_t> parity_qubits_of(std::span<const std::uint64_t> orbitals) {
    std::vector<std::uint64_t> sorted(orbitals.begin(), orbitals.end());
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::uint64_t> out;
    for (std::size_t j = 0; j + 1 < sorted.size(); j += 2) {
        for (std::uint64_t q = sorted[j] + 1; q < sorted[j + 1]; ++q) {
            out.push_back(q);
        }
    }
    return out;
}

// cos(theta) on the diagonal of the amplitudes the excitation changes, +-sin(theta) between each
// pair (`rotation`), or the generator i (T - T^dagger) (`!rotation`); on the operation's qubits.
std::vector<Entry> excitation_matrix(const Operation& op, bool rotation) {
    const detail::ExcitationMasks masks = detail::excitation_masks(op, true);
    const std::size_t d = std::size_t{1} << op.qubits.size();
    std::vector<Entry> m(d * d, Entry(0.0, 0.0));
    if (rotation) {
        for (std::size_t j = 0; j < d; ++j) {
            m[j * d + j] = 1.0;
        }
    }
    const double c = std::cos(op.params[0]);
    const double s = std::sin(op.params[0]);
    const std::uint64_t both = masks.from | masks.to;
    for (std::uint64_t a = 0; a < d; ++a) {
        if ((a & both) != masks.from) {
            continue;
        }
        const std::uint64_t b = a ^ both;
        const double sign =
            masks.negative != ((std::popcount(a & masks.parity) & 1) != 0) ? -1.0 : 1.0;
        if (rotation) {
            m[a * d + a] = c;
            m[b * d + b] = c;
            m[b * d + a] = sign * s;
            m[a * d + b] = -sign * s;
        } else {
            m[b * d + a] = Entry(0.0, sign);
            m[a * d + b] = Entry(0.0, -sign);
        }
    }
    return m;
}

ExcitationMasks excitation_masks(const Operation& op, bool local) noexcept {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t half = info.orbitals / 2;
    ExcitationMasks masks;
    for (std::size_t j = 0; j < op.qubits.size(); ++j) {
        const std::uint64_t bit = std::uint64_t{1} << (local ? j : op.qubits[j]);
        if (j < half) {
            masks.from |= bit;
        } else if (j < info.orbitals) {
            masks.to |= bit;
        } else {
            masks.parity |= bit;
        }
    }
    masks.negative =
        info.parity_qubits && excitation_sign_negative({op.qubits.data(), info.orbitals}, half);
    return masks;
}

}  // namespace detail

std::vector<std::uint64_t> excitation_parity_qubits(std::span<const std::uint64_t> orbitals) {
    for (std::size_t j = 0; j < orbitals.size(); ++j) {
        if (orbitals[j] >= 64) {
            throw InvalidArgument("excitation: orbital " + std::to_string(orbitals[j]) +
                                  " is not below 64");
        }
        if (std::find(orbitals.begin(), orbitals.begin() + static_cast<std::ptrdiff_t>(j),
                      orbitals[j]) != orbitals.begin() + static_cast<std::ptrdiff_t>(j)) {
            throw InvalidArgument("excitation: orbital " + std::to_string(orbitals[j]) +
                                  " appears twice");
        }
    }
    return detail::parity_qubits_of(orbitals);
}

namespace {

void check_orbital_counts(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to) {
    if (from.empty() || from.size() > 2 || to.size() != from.size()) {
        throw InvalidArgument("excitation: expected 1 or 2 orbitals in both 'from' and 'to', got " +
                              std::to_string(from.size()) + " and " + std::to_string(to.size()));
    }
}

Operation excitation(bool fermionic, std::span<const std::uint64_t> from,
                     std::span<const std::uint64_t> to, double theta) {
    check_orbital_counts(from, to);
    const bool single = from.size() == 1;
    std::vector<std::uint64_t> qubits(from.begin(), from.end());
    qubits.insert(qubits.end(), to.begin(), to.end());
    const std::vector<std::uint64_t> parity = excitation_parity_qubits(qubits);
    if (fermionic) {
        qubits.insert(qubits.end(), parity.begin(), parity.end());
    }
    const GateKind kind = fermionic
                              ? (single ? GateKind::FERMIONIC_SINGLE : GateKind::FERMIONIC_DOUBLE)
                              : (single ? GateKind::QUBIT_SINGLE : GateKind::QUBIT_DOUBLE);
    return make_operation(kind, std::move(qubits), {theta});
}

}  // namespace

int excitation_sign(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to) {
    check_orbital_counts(from, to);
    std::vector<std::uint64_t> orbitals(from.begin(), from.end());
    orbitals.insert(orbitals.end(), to.begin(), to.end());
    (void)excitation_parity_qubits(orbitals);
    return detail::excitation_sign_negative(orbitals, from.size()) ? -1 : 1;
}

Operation fermionic_excitation(std::span<const std::uint64_t> from,
                               std::span<const std::uint64_t> to, double theta) {
    return excitation(true, from, to, theta);
}

Operation qubit_excitation(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to,
                           double theta) {
    return excitation(false, from, to, theta);
}

}  // namespace zel
