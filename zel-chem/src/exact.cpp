#include "zel/chem/exact.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <numeric>
#include <string>
#include <unordered_map>

#include "zel/core/error.hpp"

#include "pauli_algebra.hpp"
#include <Eigen/Dense>
#include <Eigen/Sparse>
#include <Spectra/MatOp/SparseSymMatProd.h>
#include <Spectra/SymEigsSolver.h>

namespace zel::chem {
namespace {

using Complex = std::complex<double>;

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

void check_sector(std::size_t num_orbitals, Sector sector) {
    if (2 * num_orbitals > MAX_MODES) {
        throw InvalidArgument("too many modes: " + std::to_string(2 * num_orbitals) + " (at most " +
                              std::to_string(MAX_MODES) + " qubits)");
    }
    if (sector.num_alpha > num_orbitals || sector.num_beta > num_orbitals) {
        throw InvalidArgument(std::to_string(sector.num_alpha) + " alpha and " +
                              std::to_string(sector.num_beta) + " beta electrons do not fit in " +
                              std::to_string(num_orbitals) + " orbitals");
    }
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

/// All `k`-bit strings of `n` bits in ascending order (which is also their colex rank order).
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

/// The occupation vector over 2n modes of alpha string `a` and beta string `b`.
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

using Apply = std::function<void(const double*, double*)>;

/// A real symmetric operator y = A x for Spectra.
struct MatrixFreeOperator {
    using Scalar = double;
    std::size_t dim;
    const Apply* apply;
    Eigen::Index rows() const {
        return static_cast<Eigen::Index>(dim);
    }
    Eigen::Index cols() const {
        return static_cast<Eigen::Index>(dim);
    }
    void perform_op(const double* x, double* y) const {
        (*apply)(x, y);
    }
};

/// The lowest eigenpair of a real symmetric operator of dimension `dim`, given as y = A x.
/// Dense when dim <= dense_limit (or tiny), else Spectra's Lanczos solver.
std::pair<double, std::vector<double>> lowest(std::size_t dim, const ExactOptions& options,
                                              const Eigen::SparseMatrix<double>* sparse,
                                              const Apply& apply) {
    if (dim == 0) {
        throw InvalidArgument("empty sector");
    }
    if (dim <= options.dense_limit || dim <= options.lanczos_vectors || dim < 4) {
        Eigen::MatrixXd matrix(static_cast<Eigen::Index>(dim), static_cast<Eigen::Index>(dim));
        if (sparse != nullptr) {
            matrix = Eigen::MatrixXd(*sparse);
        } else {
            std::vector<double> unit(dim, 0.0);
            std::vector<double> column(dim);
            for (std::size_t k = 0; k < dim; ++k) {
                unit[k] = 1.0;
                apply(unit.data(), column.data());
                unit[k] = 0.0;
                for (std::size_t j = 0; j < dim; ++j) {
                    matrix(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(k)) = column[j];
                }
            }
        }
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(matrix);
        const Eigen::VectorXd v = solver.eigenvectors().col(0);
        return {solver.eigenvalues()(0), std::vector<double>(v.data(), v.data() + v.size())};
    }
    MatrixFreeOperator op{dim, &apply};
    const auto ncv = static_cast<Eigen::Index>(std::min(options.lanczos_vectors, dim));
    Spectra::SymEigsSolver<MatrixFreeOperator> solver(op, 1, ncv);
    solver.init();
    solver.compute(Spectra::SortRule::SmallestAlge,
                   static_cast<Eigen::Index>(options.max_iterations), options.tolerance,
                   Spectra::SortRule::SmallestAlge);
    if (solver.info() != Spectra::CompInfo::Successful) {
        throw InvalidArgument("the iterative eigensolver did not converge in " +
                              std::to_string(options.max_iterations) +
                              " iterations; raise max_iterations or lanczos_vectors");
    }
    const Eigen::VectorXd v = solver.eigenvectors().col(0);
    return {solver.eigenvalues()(0), std::vector<double>(v.data(), v.data() + v.size())};
}

/// The lowest eigenpair by Davidson's method with the diagonal as preconditioner, which for
/// configuration-interaction matrices converges in a few tens of products. Converged when the
/// residual norm |H x - E x| falls below tolerance * max(1, |lowest diagonal element|); the
/// energy error is then of the order of the residual squared over the gap.
std::pair<double, std::vector<double>> lowest_davidson(std::size_t dim, const ExactOptions& options,
                                                       const std::vector<double>& diagonal,
                                                       const Apply& apply) {
    using Eigen::Index;
    const auto n = static_cast<Index>(dim);
    const Index max_vectors = static_cast<Index>(std::min(options.lanczos_vectors, dim));
    const auto start = std::min_element(diagonal.begin(), diagonal.end());
    const double threshold = options.tolerance * std::max(1.0, std::abs(*start));
    Eigen::MatrixXd basis(n, max_vectors);
    Eigen::MatrixXd products(n, max_vectors);
    Index size = 0;
    Eigen::VectorXd next = Eigen::VectorXd::Zero(n);
    next(start - diagonal.begin()) = 1.0;
    Eigen::VectorXd x;
    double theta = 0.0;
    for (std::size_t iteration = 0; iteration < options.max_iterations; ++iteration) {
        if (size == max_vectors) {
            // Restart from the current Ritz vector alone.
            basis.col(0) = x;
            apply(x.data(), products.col(0).data());
            size = 1;
        }
        // Orthogonalise twice against the basis (classical Gram-Schmidt, repeated).
        for (int pass = 0; pass < 2; ++pass) {
            next -= basis.leftCols(size) * (basis.leftCols(size).transpose() * next);
        }
        const double norm = next.norm();
        if (norm > 1e-14 || size == 0) {
            basis.col(size) = next / norm;
            apply(basis.col(size).data(), products.col(size).data());
            ++size;
        }
        const Eigen::MatrixXd projected =
            basis.leftCols(size).transpose() * products.leftCols(size);
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> small(0.5 *
                                                             (projected + projected.transpose()));
        theta = small.eigenvalues()(0);
        const Eigen::VectorXd s = small.eigenvectors().col(0);
        x = basis.leftCols(size) * s;
        const Eigen::VectorXd residual = products.leftCols(size) * s - theta * x;
        if (residual.norm() < threshold) {
            return {theta, std::vector<double>(x.data(), x.data() + x.size())};
        }
        if (norm <= 1e-14 && size > 1) {
            // The correction lies in the basis already: restart from the Ritz vector.
            size = max_vectors;
            next = residual;
            continue;
        }
        for (Index k = 0; k < n; ++k) {
            double denominator = theta - diagonal[static_cast<std::size_t>(k)];
            if (std::abs(denominator) < 1e-8) {
                denominator = denominator < 0 ? -1e-8 : 1e-8;
            }
            next(k) = residual(k) / denominator;
        }
    }
    throw InvalidArgument("the iterative eigensolver did not converge in " +
                          std::to_string(options.max_iterations) +
                          " iterations; raise max_iterations or lanczos_vectors");
}

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

    StringSpace(std::size_t n, std::size_t k) : strings(chem::strings(n, k)) {
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

std::uint64_t sector_dimension(std::size_t num_orbitals, Sector sector) {
    if (sector.num_alpha > num_orbitals || sector.num_beta > num_orbitals) {
        throw InvalidArgument(std::to_string(sector.num_alpha) + " alpha and " +
                              std::to_string(sector.num_beta) + " beta electrons do not fit in " +
                              std::to_string(num_orbitals) + " orbitals");
    }
    return binomial(num_orbitals, sector.num_alpha) * binomial(num_orbitals, sector.num_beta);
}

std::vector<std::uint64_t> sector_basis(std::size_t num_orbitals, Sector sector,
                                        SpinOrdering ordering, Mapping mapping) {
    check_sector(num_orbitals, sector);
    const std::size_t modes = 2 * num_orbitals;
    // The encoding is linear: the index of an occupation is the XOR of its modes' columns.
    std::vector<std::uint64_t> column(modes);
    for (std::size_t j = 0; j < modes; ++j) {
        column[j] = encode_occupation(std::uint64_t{1} << j, mapping, modes);
    }
    const std::vector<std::uint64_t> alpha = strings(num_orbitals, sector.num_alpha);
    const std::vector<std::uint64_t> beta = strings(num_orbitals, sector.num_beta);
    std::vector<std::uint64_t> out;
    out.reserve(alpha.size() * beta.size());
    for (std::uint64_t a : alpha) {
        for (std::uint64_t b : beta) {
            std::uint64_t occupation = spread(a, b, num_orbitals, ordering);
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
