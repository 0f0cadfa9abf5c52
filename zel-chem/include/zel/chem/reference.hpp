#pragma once

/// \file
/// The Hartree–Fock reference determinant as a qubit basis state: the lowest num_alpha alpha
/// orbitals and the lowest num_beta beta orbitals occupied, under a spin ordering and a mapping,
/// and the X-gate circuit that prepares it from |0...0>.

#include <cstddef>
#include <cstdint>

#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/core/circuit.hpp"

namespace zel::chem {

/// The Hartree–Fock occupation vector over the 2n modes of `num_orbitals` spatial orbitals
/// under `ordering` (bit j set when mode j is occupied): alpha orbitals 0 .. num_alpha - 1 and
/// beta orbitals 0 .. num_beta - 1. Throws `InvalidArgument` when either count exceeds
/// `num_orbitals` or 2n exceeds MAX_MODES.
std::uint64_t hartree_fock_occupation(std::size_t num_orbitals, Sector sector,
                                      SpinOrdering ordering);

/// The basis index of the Hartree–Fock state on 2n qubits under `mapping`:
/// `encode_occupation(hartree_fock_occupation(...), mapping, 2n)`. Throws as
/// `hartree_fock_occupation`.
std::uint64_t hartree_fock_index(std::size_t num_orbitals, Sector sector, SpinOrdering ordering,
                                 Mapping mapping);

/// A circuit on `num_qubits` qubits of one X gate per set bit of `index`, in ascending qubit
/// order: run on |0...0> it prepares basis state `index`. Throws `InvalidArgument` when `index`
/// has a bit at or beyond `num_qubits` (or `num_qubits` exceeds 64).
ZarnikGraph basis_state_circuit(std::uint64_t index, std::size_t num_qubits);

}  // namespace zel::chem
