#pragma once

// Applies an operation of a kind from U on to a whole amplitude buffer, by its row's primitive.

#include <complex>
#include <cstdint>

#include "zel/core/circuit.hpp"

namespace zel::detail {

/// Applies `op` (a kind from U on whose row is `info`, already checked against the register) to
/// the `dimension` = 2^n amplitudes at `psi`.
void apply_checked(std::complex<double>* psi, std::uint64_t dimension, const GateInfo& info,
                   const Operation& op);

}  // namespace zel::detail
