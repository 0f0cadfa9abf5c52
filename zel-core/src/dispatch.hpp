#pragma once

// Applies an operation of a kind from U on to a whole amplitude buffer, by its row's primitive:
// prepared once (the matrix formed, the masks computed), then run.

#include <complex>
#include <cstdint>

#include "zel/core/circuit.hpp"
#include "zel/core/prepared.hpp"

namespace zel::detail {

/// Fills `call` for `op`, a kind from U on whose row is `info`, already checked: everything its
/// primitive reads except `selected`.
void prepare_checked(const GateInfo& info, const Operation& op, PreparedCall& call);

/// The controls of `op`, or every qubit of a diagonal phase, as a mask over the whole register.
std::uint64_t whole_state_selected(const GateInfo& info, const Operation& op) noexcept;

/// Runs the prepared `call` of `op` on the `dimension` = 2^n amplitudes at `psi`.
void run_checked(std::complex<double>* psi, std::uint64_t dimension, const Operation& op,
                 const PreparedCall& call);

/// Applies `op` (a kind from U on whose row is `info`, already checked against the register) to
/// the `dimension` = 2^n amplitudes at `psi`.
void apply_checked(std::complex<double>* psi, std::uint64_t dimension, const GateInfo& info,
                   const Operation& op);

}  // namespace zel::detail
