#pragma once

// The pieces of the library's deterministic reductions, for components that hold a state in
// pieces (the distributed state of zel-mpi) and must reproduce a whole state's result bit for
// bit: each reduction is a sum, in ascending order from -0.0, of partials over fixed chunks of
// parallel::SUM_CHUNK basis indices, and these functions compute one chunk's partial exactly as
// ZarnikState does.

#include <complex>
#include <cstddef>

namespace zel::detail {

/// The entropy partial of the `count` amplitudes starting at `psi`: for a state of at least 64
/// amplitudes, calculate_entropy() is -0.0 plus the partials of the chunks
/// [k * SUM_CHUNK, (k + 1) * SUM_CHUNK), added in ascending k.
double entropy_partial(const std::complex<double>* psi, std::size_t count) noexcept;

}  // namespace zel::detail
