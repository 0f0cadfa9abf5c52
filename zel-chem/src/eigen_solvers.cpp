// The lowest eigenpair of a real symmetric operator: dense, Lanczos (Spectra) and Davidson.

#include "eigen_solvers.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "zel/core/error.hpp"

#include <Eigen/Dense>
#include <Eigen/Sparse>
#include <Spectra/MatOp/SparseSymMatProd.h>
#include <Spectra/SymEigsSolver.h>

namespace zel::chem::detail {
namespace {

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

}  // namespace

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

}  // namespace zel::chem::detail
