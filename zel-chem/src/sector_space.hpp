#pragma once

// The determinant strings of a sector (electron numbers per spin) and the checks of a sector
// and of the solver options, shared by the exact solvers.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zel/chem/exact.hpp"

namespace zel::chem::detail {

/// n choose k (0 when k > n).
std::uint64_t binomial(std::size_t n, std::size_t k);

/// Refuses more modes (2 `num_orbitals`) than MAX_MODES, or more electrons of a spin than
/// orbitals (`InvalidArgument`).
void check_sector_fits(std::size_t num_orbitals, Sector sector);

/// check_sector_fits, and refuses a sector of more determinants than MAX_SECTOR_DIMENSION
/// (`InvalidArgument`).
void check_sector(std::size_t num_orbitals, Sector sector);

/// Refuses a tolerance that is not finite and positive, fewer than 3 Lanczos vectors or no
/// iterations (`InvalidArgument`).
void check_options(const ExactOptions& options);

/// All `k`-bit strings of `n` bits in ascending order (which is also their colex rank order).
std::vector<std::uint64_t> strings(std::size_t n, std::size_t k);

/// The occupation vector over 2n modes of alpha string `a` and beta string `b`.
std::uint64_t spread(std::uint64_t a, std::uint64_t b, std::size_t n, SpinOrdering ordering);

}  // namespace zel::chem::detail
