#pragma once

// The search loop's console lines, each handed to the sink as one message. Internal to the loop
// template; not part of the API.

#include <cstdint>
#include <span>

#include "zel/core/circuit.hpp"
#include "zel/core/output.hpp"

namespace zel::detail {

void print_loop_start(OutputSink& out, double energy);
void print_adding(OutputSink& out, const GateType& gate, std::span<const std::uint64_t> qubits);
void print_removing(OutputSink& out, std::uint64_t index);
void print_converged(OutputSink& out);
void print_progress(OutputSink& out, std::uint64_t iteration, double energy, double entropy);

}  // namespace zel::detail
