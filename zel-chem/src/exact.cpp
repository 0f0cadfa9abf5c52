// Ground states in a sector: of a qubit Hamiltonian on the sector's basis, and of molecular
// integrals by configuration interaction over alpha and beta strings.

#include "zel/chem/exact.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <numeric>
#include <string>
#include <unordered_map>

#include "zel/core/error.hpp"

#include "eigen_solvers.hpp"
#include "pauli_algebra.hpp"
#include "sector_space.hpp"
#include <Eigen/Sparse>
#include <Spectra/MatOp/SparseSymMatProd.h>

namespace zel::chem {
namespace {

using Complex = std::complex<double>;
using detail::Apply;
using detail::check_options;
using detail::check_sector;
using detail::lowest;
using detail::lowest_davidson;
using detail::spread;

/// One spin's strings and, per string J, its single excitations E_pq |J> = sign |I>
/// (p = q included, giving J itself).
struct StringSpace {
    struct Excitation {
        std::uint32_t target;
        std::uint32_t pq;  // p * n + q
        double sign;
    };
    std::vector<std::uint64_t> strings;
    std::vector<std::size_t> first;  // excitations of string J: [first[J], first[J + 1])
    std::vector<Excitation> excitations;

    StringSpace(std::size_t n, std::size_t k) : strings(detail::strings(n, k)) {
        std::unordered_map<std::uint64_t, std::uint32_t> rank;
        rank.reserve(strings.size());
        for (std::size_t j = 0; j < strings.size(); ++j) {
            rank.emplace(strings[j], static_cast<std::uint32_t>(j));
        }
        first.reserve(strings.size() + 1);
        for (std::uint64_t j_string : strings) {
            first.push_back(excitations.size());
            for (std::size_t q = 0; q < n; ++q) {
                if (!((j_string >> q) & 1)) {
                    continue;
                }
                const std::uint64_t without = j_string & ~(std::uint64_t{1} << q);
                const int sign_q = std::popcount(j_string & ((std::uint64_t{1} << q) - 1));
                for (std::size_t p = 0; p < n; ++p) {
                    if ((without >> p) & 1) {
                        continue;
                    }
                    const int sign_p = std::popcount(without & ((std::uint64_t{1} << p) - 1));
                    const std::uint64_t target = without | (std::uint64_t{1} << p);
                    excitations.push_back({rank.at(target), static_cast<std::uint32_t>(p * n + q),
                                           (sign_p + sign_q) % 2 == 0 ? 1.0 : -1.0});
                }
            }
        }
        first.push_back(excitations.size());
    }
};

}  // namespace

SectorGroundState sector_ground_state(const PauliSum& hamiltonian, std::size_t num_orbitals,
                                      Sector sector, SpinOrdering ordering, Mapping mapping,
                                      const ExactOptions& options) {
    check_sector(num_orbitals, sector);
    check_options(options);
    const std::size_t modes = 2 * num_orbitals;
    detail::check_sum(hamiltonian, modes);
    const std::vector<std::uint64_t> basis = sector_basis(num_orbitals, sector, ordering, mapping);
    const std::size_t dim = basis.size();

    // Terms grouped by flip mask: <k ^ x| H |k> = sum over the group of c i^phase (-1)^|k & z|.
    struct Diagonal {
        std::uint64_t z;
        Complex factor;
    };
    std::unordered_map<std::uint64_t, std::vector<Diagonal>> groups;
    bool complex_elements = false;
    for (const PauliTerm& term : hamiltonian.terms) {
        const detail::MaskString s = detail::mask_string(term);
        groups[s.x].push_back({s.z, term.coefficient * detail::i_power(s.phase)});
        complex_elements |= (s.phase & 1) != 0;
    }
    std::vector<Eigen::Triplet<double>> triplets;
    for (const auto& [x, terms] : groups) {
        for (std::size_t k = 0; k < dim; ++k) {
            const std::uint64_t target = basis[k] ^ x;
            const auto it = std::lower_bound(basis.begin(), basis.end(), target);
            if (it == basis.end() || *it != target) {
                continue;  // outside the sector: these elements cancel for a conserving H
            }
            const auto j = static_cast<int>(it - basis.begin());
            Complex value = 0.0;
            for (const Diagonal& d : terms) {
                value += std::popcount(basis[k] & d.z) % 2 == 0 ? d.factor : -d.factor;
            }
            const auto kk = static_cast<int>(k);
            const auto n = static_cast<int>(dim);
            triplets.emplace_back(j, kk, value.real());
            if (complex_elements) {
                // The Hermitian H = A + iB as the real symmetric [[A, -B], [B, A]]; its spectrum
                // is H's, each value twice, and (a, b) gives the eigenvector a + ib.
                triplets.emplace_back(j + n, kk + n, value.real());
                triplets.emplace_back(j, kk + n, -value.imag());
                triplets.emplace_back(j + n, kk, value.imag());
            }
        }
    }
    const std::size_t real_dim = complex_elements ? 2 * dim : dim;
    Eigen::SparseMatrix<double> matrix(static_cast<Eigen::Index>(real_dim),
                                       static_cast<Eigen::Index>(real_dim));
    matrix.setFromTriplets(triplets.begin(), triplets.end());
    triplets = {};
    Spectra::SparseSymMatProd<double> product(matrix);
    const Apply apply = [&](const double* x, double* y) {
        product.perform_op(x, y);
    };
    auto [energy, vector] = lowest(real_dim, options, &matrix, apply);

    SectorGroundState out;
    out.energy = energy;
    out.basis = basis;
    out.amplitudes.resize(dim);
    double norm = 0.0;
    for (std::size_t k = 0; k < dim; ++k) {
        out.amplitudes[k] = complex_elements ? Complex(vector[k], vector[k + dim]) : vector[k];
        norm += std::norm(out.amplitudes[k]);
    }
    const double scale = 1.0 / std::sqrt(norm);
    for (Complex& a : out.amplitudes) {
        a *= scale;
    }
    return out;
}

SectorGroundState exact_ground_state(const Integrals& integrals, Sector sector,
                                     const ExactOptions& options) {
    const std::size_t n = integrals.num_orbitals();
    check_sector(n, sector);
    check_options(options);
    const StringSpace alpha(n, sector.num_alpha);
    const StringSpace beta(n, sector.num_beta);
    const std::size_t na = alpha.strings.size();
    const std::size_t nb = beta.strings.size();
    const std::size_t dim = na * nb;

    // H = sum_pq k_pq E_pq + 1/2 sum_pqrs (pq|rs) E_pq E_rs, k_pq = h_pq - 1/2 sum_r (pr|rq),
    // with E = E^alpha + E^beta; the mixed part is sum_pqrs (pq|rs) E^alpha_pq E^beta_rs.
    std::vector<double> k1(n * n);
    std::vector<double> g(n * n * n * n);
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q < n; ++q) {
            double value = integrals.h(p, q);
            for (std::size_t r = 0; r < n; ++r) {
                value -= 0.5 * integrals.eri(p, r, r, q);
            }
            k1[p * n + q] = value;
            for (std::size_t r = 0; r < n; ++r) {
                for (std::size_t s = 0; s < n; ++s) {
                    g[(p * n + q) * n * n + r * n + s] = integrals.eri(p, q, r, s);
                }
            }
        }
    }
    const std::size_t nn = n * n;
    // Same-spin part for one string space: F(I) = sum over J -> K -> I of the operator
    // elements, then out(I) += F(I) * in(J) through `scatter(J, I, factor)`.
    const auto same_spin = [&](const StringSpace& space, auto&& scatter) {
        std::vector<double> f(space.strings.size(), 0.0);
        std::vector<std::uint32_t> touched;
        for (std::size_t j = 0; j < space.strings.size(); ++j) {
            for (std::size_t a = space.first[j]; a < space.first[j + 1]; ++a) {
                const auto& e1 = space.excitations[a];
                if (f[e1.target] == 0.0) {
                    touched.push_back(e1.target);
                }
                f[e1.target] += e1.sign * k1[e1.pq];
                for (std::size_t b = space.first[e1.target]; b < space.first[e1.target + 1]; ++b) {
                    const auto& e2 = space.excitations[b];
                    if (f[e2.target] == 0.0) {
                        touched.push_back(e2.target);
                    }
                    f[e2.target] += 0.5 * e1.sign * e2.sign * g[e2.pq * nn + e1.pq];
                }
            }
            for (std::uint32_t i : touched) {
                if (f[i] != 0.0) {
                    scatter(j, i, f[i]);
                }
                f[i] = 0.0;
            }
            touched.clear();
        }
    };
    // The same-spin parts do not depend on the vector: precompute their (J, I, value) lists.
    struct Entry {
        std::uint32_t from;
        std::uint32_t to;
        double value;
    };
    std::vector<Entry> alpha_entries;
    std::vector<Entry> beta_entries;
    same_spin(alpha, [&](std::size_t j, std::size_t i, double v) {
        alpha_entries.push_back({static_cast<std::uint32_t>(j), static_cast<std::uint32_t>(i), v});
    });
    same_spin(beta, [&](std::size_t j, std::size_t i, double v) {
        beta_entries.push_back({static_cast<std::uint32_t>(j), static_cast<std::uint32_t>(i), v});
    });
    const double constant = integrals.constant();
    const Apply apply = [&](const double* x, double* y) {
        // x and y are na x nb, row-major: element (Ia, Ib) at Ia * nb + Ib.
        for (std::size_t k = 0; k < dim; ++k) {
            y[k] = constant * x[k];
        }
        for (const Entry& e : alpha_entries) {
            const double* in = x + std::size_t{e.from} * nb;
            double* out = y + std::size_t{e.to} * nb;
            for (std::size_t b = 0; b < nb; ++b) {
                out[b] += e.value * in[b];
            }
        }
        for (std::size_t a = 0; a < na; ++a) {
            const double* in = x + a * nb;
            double* out = y + a * nb;
            for (const Entry& e : beta_entries) {
                out[e.to] += e.value * in[e.from];
            }
        }
        for (std::size_t ja = 0; ja < na; ++ja) {
            for (std::size_t ea = alpha.first[ja]; ea < alpha.first[ja + 1]; ++ea) {
                const auto& ex = alpha.excitations[ea];
                const double* row = g.data() + std::size_t{ex.pq} * nn;
                const double* in = x + ja * nb;
                double* out = y + std::size_t{ex.target} * nb;
                for (std::size_t jb = 0; jb < nb; ++jb) {
                    const double c = ex.sign * in[jb];
                    if (c == 0.0) {
                        continue;
                    }
                    for (std::size_t eb = beta.first[jb]; eb < beta.first[jb + 1]; ++eb) {
                        const auto& fx = beta.excitations[eb];
                        out[fx.target] += row[fx.pq] * fx.sign * c;
                    }
                }
            }
        }
    };
    std::pair<double, std::vector<double>> solution;
    if (dim <= options.dense_limit || dim <= options.lanczos_vectors || dim < 4) {
        solution = lowest(dim, options, nullptr, apply);
    } else {
        // Diagonal: constant, the same-spin entries that map a string to itself, and the
        // opposite-spin Coulomb sum over occupied pairs (pp|rr).
        std::vector<double> diagonal(dim, constant);
        for (const Entry& e : alpha_entries) {
            if (e.from == e.to) {
                for (std::size_t b = 0; b < nb; ++b) {
                    diagonal[std::size_t{e.from} * nb + b] += e.value;
                }
            }
        }
        for (const Entry& e : beta_entries) {
            if (e.from == e.to) {
                for (std::size_t a = 0; a < na; ++a) {
                    diagonal[a * nb + e.from] += e.value;
                }
            }
        }
        for (std::size_t a = 0; a < na; ++a) {
            for (std::size_t b = 0; b < nb; ++b) {
                double coulomb = 0.0;
                for (std::uint64_t sa = alpha.strings[a]; sa != 0; sa &= sa - 1) {
                    const auto p = static_cast<std::size_t>(std::countr_zero(sa));
                    for (std::uint64_t sb = beta.strings[b]; sb != 0; sb &= sb - 1) {
                        const auto r = static_cast<std::size_t>(std::countr_zero(sb));
                        coulomb += g[(p * n + p) * nn + r * n + r];
                    }
                }
                diagonal[a * nb + b] += coulomb;
            }
        }
        solution = lowest_davidson(dim, options, diagonal, apply);
    }
    auto& [energy, vector] = solution;

    // Report in Jordan–Wigner interleaved indexes, ascending.
    std::vector<std::pair<std::uint64_t, double>> states(dim);
    for (std::size_t a = 0; a < na; ++a) {
        for (std::size_t b = 0; b < nb; ++b) {
            states[a * nb + b] = {
                spread(alpha.strings[a], beta.strings[b], n, SpinOrdering::Interleaved),
                vector[a * nb + b]};
        }
    }
    std::sort(states.begin(), states.end());
    SectorGroundState out;
    out.energy = energy;
    out.basis.reserve(dim);
    out.amplitudes.reserve(dim);
    double norm = 0.0;
    for (const auto& [index, value] : states) {
        norm += value * value;
    }
    const double scale = 1.0 / std::sqrt(norm);
    for (const auto& [index, value] : states) {
        out.basis.push_back(index);
        out.amplitudes.emplace_back(value * scale);
    }
    return out;
}

}  // namespace zel::chem
