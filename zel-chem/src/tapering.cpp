#include "zel/chem/tapering.hpp"

#include <bit>
#include <string>

#include "zel/core/error.hpp"

#include "pauli_algebra.hpp"

namespace zel::chem {
namespace {

using detail::MaskString;

std::uint64_t low_bits(std::size_t count) {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

std::uint64_t remove_bits(std::uint64_t mask, std::span<const std::size_t> removed) {
    // Highest first, so the positions of the lower removed bits stay valid.
    for (std::size_t k = removed.size(); k-- > 0;) {
        const std::size_t q = removed[k];
        const std::uint64_t below = mask & low_bits(q);
        const std::uint64_t above = q >= 63 ? 0 : (mask >> (q + 1)) << q;
        mask = below | above;
    }
    return mask;
}

}  // namespace

std::uint64_t remove_qubits(std::uint64_t index, std::span<const std::size_t> removed_qubits) {
    return remove_bits(index, removed_qubits);
}

ReducedHamiltonian two_qubit_reduction(const PauliSum& parity_hamiltonian, std::size_t num_qubits,
                                       Sector sector, double tolerance) {
    detail::check_tolerance(tolerance);
    if (num_qubits % 2 != 0 || num_qubits < 4 || num_qubits > MAX_MODES) {
        throw InvalidArgument("two-qubit reduction needs an even register of 4 to " +
                              std::to_string(MAX_MODES) + " qubits, not " +
                              std::to_string(num_qubits));
    }
    detail::check_sum(parity_hamiltonian, num_qubits);
    const std::size_t n = num_qubits / 2;
    ReducedHamiltonian out;
    out.removed_qubits = {n - 1, num_qubits - 1};
    out.eigenvalues = {sector.num_alpha % 2 == 0 ? 1 : -1,
                       (sector.num_alpha + sector.num_beta) % 2 == 0 ? 1 : -1};
    out.num_qubits = num_qubits - 2;
    detail::PauliAccumulator sum;
    for (const PauliTerm& term : parity_hamiltonian.terms) {
        const MaskString string = detail::mask_string(term);
        double coefficient = term.coefficient;
        for (std::size_t k = 0; k < 2; ++k) {
            const std::uint64_t bit = std::uint64_t{1} << out.removed_qubits[k];
            if (string.x & bit) {
                throw InvalidArgument(
                    "two-qubit reduction: a term acts on qubit " +
                    std::to_string(out.removed_qubits[k]) +
                    " with X or Y; the operator does not conserve the electron numbers or was "
                    "not mapped by parity in blocked spin order");
            }
            if (string.z & bit) {
                coefficient *= out.eigenvalues[k];
            }
        }
        const std::uint64_t x = remove_bits(string.x, out.removed_qubits);
        const std::uint64_t z = remove_bits(string.z, out.removed_qubits);
        // The removed qubits carry no Y, so the string keeps its phase.
        sum.add(MaskString{x, z, string.phase}, coefficient);
    }
    out.hamiltonian = sum.to_pauli_sum(tolerance);
    return out;
}

std::vector<Z2Symmetry> find_z2_symmetries(const PauliSum& sum, std::size_t num_qubits) {
    if (num_qubits > MAX_MODES) {
        throw InvalidArgument("too many qubits: " + std::to_string(num_qubits) + " (at most " +
                              std::to_string(MAX_MODES) + ")");
    }
    detail::check_sum(sum, num_qubits);
    // Z^z commutes with a term iff popcount(z & x_term) is even: z lies in the null space over
    // GF(2) of the matrix whose rows are the terms' X masks. Reduce the rows to echelon form,
    // then read off a null-space basis with one free qubit per vector.
    std::vector<std::uint64_t> rows;
    std::vector<std::size_t> pivot_of_row;
    for (const PauliTerm& term : sum.terms) {
        std::uint64_t x = detail::mask_string(term).x;
        for (std::size_t k = 0; k < rows.size(); ++k) {
            if ((x >> pivot_of_row[k]) & 1) {
                x ^= rows[k];
            }
        }
        if (x == 0) {
            continue;
        }
        const auto pivot = static_cast<std::size_t>(std::countr_zero(x));
        for (auto& row : rows) {
            if ((row >> pivot) & 1) {
                row ^= x;
            }
        }
        rows.push_back(x);
        pivot_of_row.push_back(pivot);
    }
    std::uint64_t pivots = 0;
    for (std::size_t p : pivot_of_row) {
        pivots |= std::uint64_t{1} << p;
    }
    // Fully reduced rows: row k = e_pivot + (free bits). For a free qubit f, the null vector is
    // e_f plus every pivot whose row has bit f.
    std::vector<Z2Symmetry> out;
    for (std::size_t f = 0; f < num_qubits; ++f) {
        if ((pivots >> f) & 1) {
            continue;
        }
        std::uint64_t z = std::uint64_t{1} << f;
        for (std::size_t k = 0; k < rows.size(); ++k) {
            if ((rows[k] >> f) & 1) {
                z |= std::uint64_t{1} << pivot_of_row[k];
            }
        }
        out.push_back({z, f});
    }
    return out;
}

namespace {

/// The rotated, substituted and reduced form of `sum` (see `taper`).
PauliSum apply_taper(const PauliSum& sum, const std::vector<Z2Symmetry>& symmetries,
                     const std::vector<int>& eigenvalues, const std::vector<std::size_t>& removed,
                     double tolerance) {
    detail::PauliAccumulator out;
    for (const PauliTerm& term : sum.terms) {
        MaskString string = detail::mask_string(term);
        double coefficient = term.coefficient;
        for (std::size_t k = 0; k < symmetries.size(); ++k) {
            const Z2Symmetry& tau = symmetries[k];
            if (std::popcount(string.x & tau.z_mask) % 2 != 0) {
                throw InvalidArgument("operator does not commute with the symmetry generator " +
                                      std::to_string(k));
            }
            const std::uint64_t bit = std::uint64_t{1} << tau.pivot;
            // U P U = P tau X_q when P anticommutes with X_q, for U = (X_q + tau) / sqrt(2).
            if (string.z & bit) {
                string = detail::multiply(string, MaskString{0, tau.z_mask, 0});
                string = detail::multiply(string, MaskString{bit, 0, 0});
            }
        }
        for (std::size_t k = 0; k < symmetries.size(); ++k) {
            const std::uint64_t bit = std::uint64_t{1} << symmetries[k].pivot;
            if (string.x & bit) {
                coefficient *= eigenvalues[k];
                string.x &= ~bit;
            }
        }
        string.x = remove_bits(string.x, removed);
        string.z = remove_bits(string.z, removed);
        out.add(string, coefficient);
    }
    return out.to_pauli_sum(tolerance);
}

}  // namespace

ReducedHamiltonian taper(const PauliSum& sum, std::size_t num_qubits, std::uint64_t reference_index,
                         double tolerance) {
    detail::check_tolerance(tolerance);
    std::vector<Z2Symmetry> symmetries = find_z2_symmetries(sum, num_qubits);
    if ((reference_index & ~low_bits(num_qubits)) != 0) {
        throw InvalidArgument("reference basis index " + std::to_string(reference_index) +
                              " does not fit in " + std::to_string(num_qubits) + " qubits");
    }
    ReducedHamiltonian out;
    for (const Z2Symmetry& tau : symmetries) {
        out.removed_qubits.push_back(tau.pivot);
        out.eigenvalues.push_back(std::popcount(reference_index & tau.z_mask) % 2 == 0 ? 1 : -1);
    }
    out.num_qubits = num_qubits - symmetries.size();
    out.hamiltonian = apply_taper(sum, symmetries, out.eigenvalues, out.removed_qubits, tolerance);
    return out;
}

PauliSum taper_operator(const PauliSum& op, std::size_t num_qubits,
                        const std::vector<Z2Symmetry>& symmetries,
                        const ReducedHamiltonian& reduced, double tolerance) {
    detail::check_tolerance(tolerance);
    detail::check_sum(op, num_qubits);
    if (symmetries.size() != reduced.removed_qubits.size() ||
        reduced.eigenvalues.size() != symmetries.size()) {
        throw InvalidArgument("symmetries do not match the tapered Hamiltonian");
    }
    return apply_taper(op, symmetries, reduced.eigenvalues, reduced.removed_qubits, tolerance);
}

}  // namespace zel::chem
