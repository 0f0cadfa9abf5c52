#pragma once

/// \file
/// Exact reference energies: the lowest eigenpair within one particle-number and spin sector,
/// by dense diagonalisation (Eigen) for small sectors and iteratively otherwise: for a qubit
/// Hamiltonian, Spectra's Lanczos solver on the sector's sparse matrix; for integrals, a
/// Davidson solver whose product is applied from the integrals through alpha and beta strings
/// (no matrix is stored), which reaches 24 spin orbitals with a few electrons.
///
/// The sector basis is every occupation vector with `num_alpha` alpha and `num_beta` beta
/// electrons (spin orbitals numbered by a `SpinOrdering`), encoded by a `Mapping` into qubit
/// basis indexes; these are exactly the basis states on which the mapped N_alpha and N_beta
/// operators take those values. A Hamiltonian that conserves both numbers is block diagonal in
/// that basis, so the sector's lowest eigenvalue is the exact (full-CI) energy.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/core/observable.hpp"

namespace zel::chem {

/// Largest sector (number of determinants) the exact solvers and `sector_basis` accept; larger
/// ones are refused with `InvalidArgument` before anything is allocated (a vector of this many
/// doubles is already 32 GiB).
inline constexpr std::uint64_t MAX_SECTOR_DIMENSION = std::uint64_t{1} << 32;

/// How `sector_ground_state` solves.
struct ExactOptions {
    /// Sectors of at most this many basis states are diagonalised densely (Eigen); larger ones
    /// iteratively.
    std::size_t dense_limit = 200;
    /// Relative convergence tolerance of the iterative solvers: Spectra's Ritz-value test for
    /// Lanczos; for Davidson, the residual norm |H x - E x| relative to max(1, |E|). The default
    /// keeps energies within 1e-10 of the exact value for the molecules tested.
    double tolerance = 1e-12;
    /// Iteration limit of the iterative solvers (Lanczos restarts, Davidson products).
    std::size_t max_iterations = 2000;
    /// Vectors kept by the iterative solvers (at least 3; Lanczos vectors, Davidson subspace).
    std::size_t lanczos_vectors = 40;
};

/// The lowest eigenpair within a sector.
struct SectorGroundState {
    /// The lowest eigenvalue (hartree for a Hamiltonian; includes the constant when the
    /// Hamiltonian's identity term does).
    double energy = 0.0;
    /// Sector basis states as qubit basis indexes, ascending.
    std::vector<std::uint64_t> basis;
    /// Normalised eigenvector over `basis` (global phase the solver's).
    std::vector<std::complex<double>> amplitudes;
};

/// The number of basis states of `sector` over `num_orbitals` spatial orbitals:
/// C(n, num_alpha) * C(n, num_beta). Throws `InvalidArgument` when a count exceeds n.
std::uint64_t sector_dimension(std::size_t num_orbitals, Sector sector);

/// The sector basis (ascending qubit basis indexes) of `sector` over the 2n modes of
/// `num_orbitals` spatial orbitals, under `ordering` and `mapping`. Throws `InvalidArgument`
/// when a count exceeds n, 2n exceeds MAX_MODES or the sector exceeds MAX_SECTOR_DIMENSION.
std::vector<std::uint64_t> sector_basis(std::size_t num_orbitals, Sector sector,
                                        SpinOrdering ordering, Mapping mapping);

/// The lowest eigenpair of `hamiltonian` (a qubit operator on 2n qubits, n = `num_orbitals`,
/// mapped by `mapping` with `ordering`) restricted to `sector`. Matrix elements that leave the
/// sector are ignored, so for a Hamiltonian that conserves N_alpha and N_beta the result is its
/// exact lowest eigenvalue there.
///
/// Throws `InvalidArgument` when the sector does not fit, a term names a qubit at or beyond 2n,
/// a coefficient is not finite, the options are out of range, or the iterative solver does not
/// converge (the message says so; raise `max_iterations` or `lanczos_vectors`).
SectorGroundState sector_ground_state(const PauliSum& hamiltonian, std::size_t num_orbitals,
                                      Sector sector, SpinOrdering ordering, Mapping mapping,
                                      const ExactOptions& options = {});

/// The exact (full-CI) ground state of `integrals` in `sector`: `sector_ground_state` of the
/// Jordan–Wigner Hamiltonian in interleaved order. The energy includes the constant.
SectorGroundState exact_ground_state(const Integrals& integrals, Sector sector,
                                     const ExactOptions& options = {});

}  // namespace zel::chem
