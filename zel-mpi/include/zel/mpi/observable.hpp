#pragma once

/// \file
/// Expectation values of Pauli sums on a distributed state.

#include "zel/core/observable.hpp"
#include "zel/mpi/state.hpp"

namespace zel::mpi {

/// Exact <psi|H|psi> of `sum` on the distributed state (collective), bitwise
/// `sum.expectation_value` of the whole state and the same value on every rank. Each rank
/// computes the partials of the fixed chunks it holds (terms that flip a rank bit read the
/// partner rank's block in pieces of the state's exchange size), and the partials are added in
/// the whole state's chunk order by a relay through the ranks in rank order.
///
/// Throws `IndexOutOfBounds` exactly as `PauliSum::expectation_value` does, on every rank and
/// before any communication.
double expectation_value(const PauliSum& sum, const DistributedState& state);

}  // namespace zel::mpi
