#include "reduced_sector.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <string>
#include <utility>

#include "zel/core/error.hpp"

#include <Eigen/Dense>
#include <Eigen/Sparse>
#include <Spectra/MatOp/SparseSymMatProd.h>
#include <Spectra/SymEigsSolver.h>

namespace zel::cli {
namespace {

// Spans up to this many states are diagonalised densely; the dense solver's cubic cost passes
// the sparse one's around here.
constexpr std::size_t DENSE_LIMIT = 400;
constexpr int LANCZOS_VECTORS = 40;
constexpr int MAX_RESTARTS = 2000;
constexpr double LANCZOS_TOLERANCE = 1e-12;
// The sparse matrix is built from (row, column, value) triplets of 16 bytes: at most 1 GiB.
constexpr std::size_t MAX_ELEMENTS = std::size_t{1} << 26;

struct Masks {
    std::uint64_t flip = 0;   // X or Y
    std::uint64_t phase = 0;  // Y or Z
    unsigned num_y = 0;
};

Masks masks_of(const PauliTerm& term) {
    Masks masks;
    for (const PauliFactor& factor : term.paulis) {
        if (factor.qubit >= 64) {
            throw InvalidArgument("Pauli factor on qubit " + std::to_string(factor.qubit) +
                                  " beyond a 64-qubit register");
        }
        const std::uint64_t bit = std::uint64_t{1} << factor.qubit;
        switch (factor.kind) {
            case Pauli::I:
                break;
            case Pauli::X:
                masks.flip |= bit;
                break;
            case Pauli::Y:
                masks.flip |= bit;
                masks.phase |= bit;
                ++masks.num_y;
                break;
            case Pauli::Z:
                masks.phase |= bit;
                break;
        }
    }
    return masks;
}

using Triplets = std::vector<Eigen::Triplet<double>>;

double lowest_dense(const Eigen::SparseMatrix<double>& matrix) {
    const Eigen::MatrixXd dense(matrix);
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(dense, Eigen::EigenvaluesOnly);
    if (solver.info() != Eigen::Success) {
        throw InvalidArgument("the dense eigensolver did not converge");
    }
    return solver.eigenvalues()(0);
}

double lowest_sparse(const Eigen::SparseMatrix<double>& matrix) {
    Spectra::SparseSymMatProd<double> product(matrix);
    const int ncv = std::min<int>(LANCZOS_VECTORS, static_cast<int>(matrix.rows()));
    Spectra::SymEigsSolver<Spectra::SparseSymMatProd<double>> solver(product, 1, ncv);
    solver.init();
    solver.compute(Spectra::SortRule::SmallestAlge, MAX_RESTARTS, LANCZOS_TOLERANCE,
                   Spectra::SortRule::SmallestAlge);
    if (solver.info() != Spectra::CompInfo::Successful) {
        throw InvalidArgument("the Lanczos eigensolver did not converge in " +
                              std::to_string(MAX_RESTARTS) + " restarts");
    }
    return solver.eigenvalues()(0);
}

}  // namespace

std::vector<std::uint64_t> reduced_sector_basis(std::span<const std::uint64_t> sector_basis,
                                                std::span<const std::uint64_t> symmetries,
                                                std::span<const int> eigenvalues,
                                                std::span<const std::size_t> removed_qubits) {
    std::vector<std::uint64_t> reduced;
    for (const std::uint64_t index : sector_basis) {
        bool matches = true;
        for (std::size_t k = 0; k < symmetries.size() && matches; ++k) {
            const int eigenvalue = std::popcount(index & symmetries[k]) % 2 == 0 ? 1 : -1;
            matches = eigenvalue == eigenvalues[k];
        }
        if (matches) {
            reduced.push_back(chem::remove_qubits(index, removed_qubits));
        }
    }
    std::sort(reduced.begin(), reduced.end());
    return reduced;
}

double restricted_ground_energy(const PauliSum& hamiltonian, std::span<const std::uint64_t> basis) {
    if (basis.empty()) {
        throw InvalidArgument("the sector has no basis states");
    }
    const auto dimension = static_cast<Eigen::Index>(basis.size());
    // Elements <j|c P|i> = c i^num_y (-1)^popcount(b_i & phase) for b_j = b_i ^ flip. A complex
    // Hermitian A + iB has the spectrum of the real symmetric [[A, -B], [B, A]], each eigenvalue
    // twice; that embedding is used only when some element is imaginary.
    std::vector<std::pair<Masks, double>> terms;
    for (const PauliTerm& term : hamiltonian.terms) {
        if (!std::isfinite(term.coefficient)) {
            throw InvalidArgument("a coefficient of the Hamiltonian is not finite");
        }
        terms.emplace_back(masks_of(term), term.coefficient);
    }
    // Terms that share a flip mask share one search for each state's partner.
    std::stable_sort(terms.begin(), terms.end(), [](const auto& a, const auto& b) {
        return a.first.flip < b.first.flip;
    });
    Triplets real_part;
    Triplets imaginary_part;
    for (std::size_t first = 0; first < terms.size();) {
        std::size_t last = first;
        while (last < terms.size() && terms[last].first.flip == terms[first].first.flip) {
            ++last;
        }
        const std::uint64_t flip = terms[first].first.flip;
        for (Eigen::Index i = 0; i < dimension; ++i) {
            const std::uint64_t state = basis[static_cast<std::size_t>(i)];
            const auto found = std::lower_bound(basis.begin(), basis.end(), state ^ flip);
            if (found == basis.end() || *found != (state ^ flip)) {
                continue;
            }
            const auto j = static_cast<Eigen::Index>(found - basis.begin());
            double real = 0.0;
            double imaginary = 0.0;
            for (std::size_t t = first; t < last; ++t) {
                const Masks& masks = terms[t].first;
                const bool negative = std::popcount(state & masks.phase) % 2 == 1;
                // i^num_y: 1, i, -1, -i.
                const unsigned power = masks.num_y % 4;
                const double value =
                    ((power >= 2) != negative) ? -terms[t].second : terms[t].second;
                (power % 2 == 0 ? real : imaginary) += value;
            }
            if (real != 0.0) {
                real_part.emplace_back(j, i, real);
            }
            if (imaginary != 0.0) {
                imaginary_part.emplace_back(j, i, imaginary);
            }
        }
        if (real_part.size() + imaginary_part.size() > MAX_ELEMENTS) {
            throw InvalidArgument("the reduced sector's matrix has more than " +
                                  std::to_string(MAX_ELEMENTS) +
                                  " non-zero elements; solve without the reduction");
        }
        first = last;
    }
    Eigen::SparseMatrix<double> matrix;
    if (imaginary_part.empty()) {
        matrix.resize(dimension, dimension);
        matrix.setFromTriplets(real_part.begin(), real_part.end());
    } else {
        Triplets embedded;
        for (const auto& t : real_part) {
            embedded.emplace_back(t.row(), t.col(), t.value());
            embedded.emplace_back(t.row() + dimension, t.col() + dimension, t.value());
        }
        for (const auto& t : imaginary_part) {
            embedded.emplace_back(t.row(), t.col() + dimension, -t.value());
            embedded.emplace_back(t.row() + dimension, t.col(), t.value());
        }
        matrix.resize(2 * dimension, 2 * dimension);
        matrix.setFromTriplets(embedded.begin(), embedded.end());
    }
    return static_cast<std::size_t>(matrix.rows()) <= DENSE_LIMIT ? lowest_dense(matrix)
                                                                  : lowest_sparse(matrix);
}

}  // namespace zel::cli
