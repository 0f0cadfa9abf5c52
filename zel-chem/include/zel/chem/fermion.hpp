#pragma once

/// \file
/// Fermion operators: sums of products of creation and annihilation operators with complex
/// coefficients, over numbered spin orbitals (modes), and the molecular Hamiltonian and spin
/// operators in that form.
///
/// Spin-orbital order is the caller's choice (`SpinOrdering`): interleaved puts alpha p at
/// mode 2p and beta p at 2p + 1; blocked puts all alpha orbitals first (alpha p at mode p, beta
/// p at n + p for n spatial orbitals). After mapping, mode j is qubit j (bit j of a basis index).

#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zel/chem/integrals.hpp"

namespace zel::chem {

/// How spin orbitals are numbered from spatial orbitals p = 0 .. n-1.
enum class SpinOrdering : std::uint8_t {
    /// alpha p -> 2p, beta p -> 2p + 1.
    Interleaved,
    /// alpha p -> p, beta p -> n + p.
    Blocked,
};

/// Electron spin.
enum class Spin : std::uint8_t { Alpha, Beta };

/// The mode (spin-orbital index) of spatial orbital `orbital` with spin `spin` among
/// `num_orbitals` spatial orbitals, under `ordering` (see `SpinOrdering`).
std::size_t spin_orbital(std::size_t orbital, Spin spin, std::size_t num_orbitals,
                         SpinOrdering ordering) noexcept;

/// One creation (a†_mode) or annihilation (a_mode) operator.
struct LadderOp {
    std::uint32_t mode = 0;
    bool creation = false;

    friend bool operator==(const LadderOp&, const LadderOp&) = default;
};

/// `coefficient` times the product of `ops`, leftmost first (ops[0] is applied last); an empty
/// product is the identity.
struct FermionTerm {
    std::complex<double> coefficient = 0.0;
    std::vector<LadderOp> ops;

    friend bool operator==(const FermionTerm&, const FermionTerm&) = default;
};

/// A sum of fermion terms, in insertion order. Products need not be normal ordered.
struct FermionOperator {
    std::vector<FermionTerm> terms;

    /// Appends `coefficient` times the product of `ops`.
    void add(std::complex<double> coefficient, std::vector<LadderOp> ops);

    /// The sum of both operators' terms (this one's first).
    FermionOperator& operator+=(const FermionOperator& other);
    /// Every coefficient times `factor`.
    FermionOperator& operator*=(std::complex<double> factor);

    /// One more than the largest mode any term names (0 without ladder operators).
    std::size_t num_modes() const noexcept;

    friend bool operator==(const FermionOperator&, const FermionOperator&) = default;
};

/// The product `left * right`: every pair of terms, products concatenated (left's ops first).
FermionOperator operator*(const FermionOperator& left, const FermionOperator& right);
/// The sum of both operators' terms.
FermionOperator operator+(FermionOperator left, const FermionOperator& right);

/// a†_mode as an operator with coefficient 1.
FermionOperator creation(std::uint32_t mode);
/// a_mode as an operator with coefficient 1.
FermionOperator annihilation(std::uint32_t mode);

/// The same operator in normal order: in every product the creation operators stand left of
/// the annihilation operators, each group sorted by descending mode, with the signs and
/// contractions of the anticommutation relations {a_i, a†_j} = delta_ij. Products that vanish
/// (a mode created or annihilated twice) are dropped; equal products are merged, and terms
/// whose coefficient has magnitude at most `tolerance` dropped. Terms are sorted by length,
/// then by their operators.
FermionOperator normal_ordered(const FermionOperator& op, double tolerance = 0.0);

/// The hermitian conjugate: every product reversed with creation and annihilation swapped, and
/// every coefficient conjugated.
FermionOperator hermitian_conjugate(const FermionOperator& op);

/// The molecular Hamiltonian in spin orbitals (2n modes for n spatial orbitals, numbered by
/// `ordering`):
/// H = constant + sum_pq sum_s h_pq a†_ps a_qs
///     + 1/2 sum_pqrs sum_st (pq|rs) a†_ps a†_rt a_st a_qs  (s, t over alpha and beta),
/// with zero products (a†_ps a†_rt for p = r and s = t) left out. Energies in hartree; the
/// constant term is the identity product.
FermionOperator molecular_hamiltonian(const Integrals& integrals, SpinOrdering ordering);

/// The electron-number operator N = sum over the `num_modes` modes of a†_j a_j.
FermionOperator number_operator(std::size_t num_modes);

/// S_z = 1/2 sum_p (a†_pa a_pa - a†_pb a_pb) over `num_orbitals` spatial orbitals under
/// `ordering` (a = alpha, b = beta), in units of hbar.
FermionOperator spin_z_operator(std::size_t num_orbitals, SpinOrdering ordering);

/// Total spin S^2 = S_- S_+ + S_z (S_z + 1) with S_+ = sum_p a†_pa a_pb and
/// S_- = sum_p a†_pb a_pa, over `num_orbitals` spatial orbitals under `ordering`, normal
/// ordered, in units of hbar^2. Its eigenvalues are S (S + 1).
FermionOperator total_spin_operator(std::size_t num_orbitals, SpinOrdering ordering);

/// Text of an operator for messages and debugging: "(0.5+0i) [1^ 0] + ...", a caret marking a
/// creation operator.
std::string fermion_text(const FermionOperator& op);

}  // namespace zel::chem
