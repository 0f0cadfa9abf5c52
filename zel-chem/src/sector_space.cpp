// Sectors: their determinant strings, dimension and basis in qubit indexes, and the checks of
// a sector and of the solver options.

#include "sector_space.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "zel/core/error.hpp"

namespace zel::chem {

namespace detail {

std::uint64_t binomial(std::size_t n, std::size_t k) {
    if (k > n) {
        return 0;
    }
    std::uint64_t out = 1;
    for (std::size_t j = 1; j <= k; ++j) {
        out = out * (n - k + j) / j;
    }
    return out;
}

void check_sector_fits(std::size_t num_orbitals, Sector sector) {
    if (2 * num_orbitals > MAX_MODES) {
        throw InvalidArgument("too many modes: " + std::to_string(2 * num_orbitals) + " (at most " +
                              std::to_string(MAX_MODES) + " qubits)");
    }
    if (sector.num_alpha > num_orbitals || sector.num_beta > num_orbitals) {
        throw InvalidArgument(std::to_string(sector.num_alpha) + " alpha and " +
                              std::to_string(sector.num_beta) + " beta electrons do not fit in " +
                              std::to_string(num_orbitals) + " orbitals");
    }
}

void check_sector(std::size_t num_orbitals, Sector sector) {
    check_sector_fits(num_orbitals, sector);
    // With at most 32 orbitals each factor is at most C(32, 16) < 2^30, so the product fits.
    const std::uint64_t dim =
        binomial(num_orbitals, sector.num_alpha) * binomial(num_orbitals, sector.num_beta);
    if (dim > MAX_SECTOR_DIMENSION) {
        throw InvalidArgument("sector too large: " + std::to_string(dim) +
                              " determinants (at most " + std::to_string(MAX_SECTOR_DIMENSION) +
                              ")");
    }
}

void check_options(const ExactOptions& options) {
    if (!(options.tolerance > 0.0) || !std::isfinite(options.tolerance)) {
        throw InvalidArgument("solver tolerance must be finite and positive");
    }
    if (options.lanczos_vectors < 3) {
        throw InvalidArgument("the iterative solver needs at least 3 Lanczos vectors");
    }
    if (options.max_iterations == 0) {
        throw InvalidArgument("the iterative solver needs at least one iteration");
    }
}

std::vector<std::uint64_t> strings(std::size_t n, std::size_t k) {
    std::vector<std::uint64_t> out;
    out.reserve(binomial(n, k));
    if (k == 0) {
        out.push_back(0);
        return out;
    }
    std::uint64_t s = (std::uint64_t{1} << k) - 1;
    const std::uint64_t end = n >= 64 ? 0 : std::uint64_t{1} << n;
    while (true) {
        out.push_back(s);
        // Gosper's hack: the next larger integer with the same number of set bits.
        const std::uint64_t c = s & (~s + 1);
        const std::uint64_t r = s + c;
        if (r == 0 || (end != 0 && r >= end)) {
            break;
        }
        s = (((r ^ s) >> 2) / c) | r;
        if (end != 0 && s >= end) {
            break;
        }
    }
    return out;
}

std::uint64_t spread(std::uint64_t a, std::uint64_t b, std::size_t n, SpinOrdering ordering) {
    switch (ordering) {
        case SpinOrdering::Blocked:
            return a | (n == 0 ? 0 : b << n);
        case SpinOrdering::Interleaved: {
            std::uint64_t out = 0;
            for (std::size_t p = 0; p < n; ++p) {
                out |= ((a >> p) & 1) << (2 * p);
                out |= ((b >> p) & 1) << (2 * p + 1);
            }
            return out;
        }
    }
    return 0;
}

}  // namespace detail

std::uint64_t sector_dimension(std::size_t num_orbitals, Sector sector) {
    if (sector.num_alpha > num_orbitals || sector.num_beta > num_orbitals) {
        throw InvalidArgument(std::to_string(sector.num_alpha) + " alpha and " +
                              std::to_string(sector.num_beta) + " beta electrons do not fit in " +
                              std::to_string(num_orbitals) + " orbitals");
    }
    return detail::binomial(num_orbitals, sector.num_alpha) *
           detail::binomial(num_orbitals, sector.num_beta);
}

std::vector<std::uint64_t> sector_basis(std::size_t num_orbitals, Sector sector,
                                        SpinOrdering ordering, Mapping mapping) {
    detail::check_sector(num_orbitals, sector);
    const std::size_t modes = 2 * num_orbitals;
    // The encoding is linear: the index of an occupation is the XOR of its modes' columns.
    std::vector<std::uint64_t> column(modes);
    for (std::size_t j = 0; j < modes; ++j) {
        column[j] = encode_occupation(std::uint64_t{1} << j, mapping, modes);
    }
    const std::vector<std::uint64_t> alpha = detail::strings(num_orbitals, sector.num_alpha);
    const std::vector<std::uint64_t> beta = detail::strings(num_orbitals, sector.num_beta);
    std::vector<std::uint64_t> out;
    out.reserve(alpha.size() * beta.size());
    for (std::uint64_t a : alpha) {
        for (std::uint64_t b : beta) {
            std::uint64_t occupation = detail::spread(a, b, num_orbitals, ordering);
            std::uint64_t index = 0;
            while (occupation != 0) {
                index ^= column[static_cast<std::size_t>(std::countr_zero(occupation))];
                occupation &= occupation - 1;
            }
            out.push_back(index);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace zel::chem
