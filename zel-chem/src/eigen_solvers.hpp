#pragma once

// The lowest eigenpair of a real symmetric operator given as a product y = A x: dense for small
// dimensions, Lanczos (Spectra) or Davidson above.

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "zel/chem/exact.hpp"

#include <Eigen/Sparse>

namespace zel::chem::detail {

/// The product y = A x of a real symmetric operator on vectors of its dimension.
using Apply = std::function<void(const double*, double*)>;

/// The lowest eigenpair of a real symmetric operator of dimension `dim`, given as y = A x.
/// Dense when dim <= dense_limit (or tiny), else Spectra's Lanczos solver; `sparse`, when not
/// null, is the same operator as a matrix.
std::pair<double, std::vector<double>> lowest(std::size_t dim, const ExactOptions& options,
                                              const Eigen::SparseMatrix<double>* sparse,
                                              const Apply& apply);

/// The lowest eigenpair by Davidson's method with `diagonal` as preconditioner.
std::pair<double, std::vector<double>> lowest_davidson(std::size_t dim, const ExactOptions& options,
                                                       const std::vector<double>& diagonal,
                                                       const Apply& apply);

}  // namespace zel::chem::detail
