#pragma once

/// \file
/// One- and two-electron integrals over spatial orbitals (restricted, real), the constant that
/// goes with them, and the folding of frozen core orbitals into an active space.
///
/// Conventions: energies in hartree; orbitals 0-based in memory; two-electron integrals in
/// chemists' notation (pq|rs) = integral of phi_p(1) phi_q(1) phi_r(2) phi_s(2) / r12, with the
/// eight-fold permutational symmetry of real orbitals:
/// (pq|rs) = (qp|rs) = (pq|sr) = (qp|sr) = (rs|pq) = (sr|pq) = (rs|qp) = (sr|qp).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zel::chem {

/// Largest number of spatial orbitals a set of integrals may have. The two-electron integrals
/// are stored once per symmetry class (about n^4 / 8 doubles: 17 MiB at 64 orbitals), and 64
/// orbitals already give twice the 64 spin orbitals a qubit Hamiltonian can have.
inline constexpr std::size_t MAX_ORBITALS = 64;

/// Two values that should be equal by symmetry (or two lines of a file that give one integral)
/// are accepted when they differ by at most this much, absolutely or relative to the larger.
inline constexpr double SYMMETRY_TOLERANCE = 1e-10;

/// The number of alpha and beta electrons of a calculation (a particle-number and spin-z
/// sector: N = num_alpha + num_beta, S_z = (num_alpha - num_beta) / 2).
struct Sector {
    std::size_t num_alpha = 0;
    std::size_t num_beta = 0;

    friend bool operator==(const Sector&, const Sector&) = default;
};

/// The electronic Hamiltonian's integrals over `num_orbitals()` spatial orbitals:
/// H = constant + sum_pq h_pq E_pq + 1/2 sum_pqrs (pq|rs) (E_pq E_rs - delta_qr E_ps),
/// with E_pq the spin-summed excitation operator. `constant()` is the nuclear repulsion plus,
/// after `freeze_orbitals`, the frozen-core energy. Setters keep the permutational symmetry:
/// setting one element sets all its symmetric partners.
class Integrals {
  public:
    /// No orbitals, constant 0.
    Integrals() = default;

    /// `num_orbitals` orbitals with every integral and the constant 0. Throws `InvalidArgument`
    /// when `num_orbitals` exceeds MAX_ORBITALS.
    explicit Integrals(std::size_t num_orbitals);

    /// Number of spatial orbitals n.
    std::size_t num_orbitals() const noexcept {
        return num_orbitals_;
    }

    /// The constant energy (hartree): nuclear repulsion, plus the frozen core once folded in.
    double constant() const noexcept {
        return constant_;
    }
    /// Sets the constant energy (hartree).
    void set_constant(double value) noexcept {
        constant_ = value;
    }

    /// h_pq (= h_qp). Throws `IndexOutOfBounds` (len n) for an index at or beyond n.
    double one_body(std::size_t p, std::size_t q) const;
    /// Sets h_pq and h_qp. Throws as `one_body`.
    void set_one_body(std::size_t p, std::size_t q, double value);

    /// (pq|rs) in chemists' notation. Throws `IndexOutOfBounds` (len n) for an index at or
    /// beyond n.
    double two_body(std::size_t p, std::size_t q, std::size_t r, std::size_t s) const;
    /// Sets (pq|rs) and its seven symmetric partners. Throws as `two_body`.
    void set_two_body(std::size_t p, std::size_t q, std::size_t r, std::size_t s, double value);

    /// The n x n one-electron matrix, row-major: h_pq at p * n + q.
    std::vector<double> one_body_matrix() const;
    /// The n^4 two-electron tensor in chemists' order, row-major: (pq|rs) at
    /// ((p * n + q) * n + r) * n + s.
    std::vector<double> two_body_tensor() const;

    /// Exact comparison of the orbital count, the constant and every stored integral.
    friend bool operator==(const Integrals&, const Integrals&) = default;

    /// Unchecked access for hot loops (indexes below n): h_pq.
    double h(std::size_t p, std::size_t q) const noexcept {
        return one_body_[pair_index(p, q)];
    }
    /// Unchecked access for hot loops (indexes below n): (pq|rs).
    double eri(std::size_t p, std::size_t q, std::size_t r, std::size_t s) const noexcept {
        return two_body_[pair_index(pair_index(p, q), pair_index(r, s))];
    }

  private:
    static std::size_t pair_index(std::size_t a, std::size_t b) noexcept {
        return a >= b ? a * (a + 1) / 2 + b : b * (b + 1) / 2 + a;
    }

    std::size_t num_orbitals_ = 0;
    double constant_ = 0.0;
    std::vector<double> one_body_;  // h_pq, p >= q, packed
    std::vector<double> two_body_;  // (pq|rs), pair(p,q) >= pair(r,s), packed
};

/// Integrals from arrays, e.g. NumPy arrays from psi4 or PySCF: the constant (hartree), the
/// n x n one-electron matrix (row-major, h_pq at p * n + q) and the n^4 two-electron tensor in
/// chemists' order ((pq|rs) at ((p * n + q) * n + r) * n + s).
///
/// Throws `InvalidArgument` when n exceeds MAX_ORBITALS, an array has the wrong length, a value
/// is NaN or infinite, or the arrays break the symmetry h_pq = h_qp or the eight-fold
/// symmetry of (pq|rs) by more than `tolerance` (absolute or relative); the message names the
/// first offending element ("two-electron integrals not symmetric: (0 1|2 3) = 0.5 but
/// (1 0|2 3) = 0.25"). Where symmetric elements differ within the tolerance, the one whose
/// indexes come first in row-major order is kept.
Integrals integrals_from_arrays(double constant, std::span<const double> one_body,
                                std::span<const double> two_body, std::size_t num_orbitals,
                                double tolerance = SYMMETRY_TOLERANCE);

/// Freezes the `num_frozen` lowest orbitals (doubly occupied) and keeps the next `num_active`
/// as the active space; orbitals above are dropped (virtual). The frozen core folds in exactly:
/// constant' = constant + sum_c 2 h_cc + sum_cd (2 (cc|dd) - (cd|dc)),
/// h'_pq = h_pq + sum_c (2 (pq|cc) - (pc|cq)) for active p, q (the inactive Fock operator),
/// (pq|rs)' = (pq|rs) over active orbitals, renumbered from 0.
///
/// Throws `InvalidArgument` when num_frozen + num_active exceeds the orbital count.
Integrals freeze_orbitals(const Integrals& integrals, std::size_t num_frozen,
                          std::size_t num_active);

}  // namespace zel::chem
