// Guide, "Errors, output and checking a circuit": catching the library's exceptions, sending the
// search's lines where you want them, and validate.

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/neural/brain.hpp"

int main() {
    int caught = 0;

    // A broken precondition is an exception, thrown before the state changes.
    zel::ZarnikState state(2);
    const std::vector<std::uint64_t> qubit2{2};
    try {
        state.apply_gate(zel::GateType::of(zel::GateKind::X), qubit2, {});
    } catch (const zel::IndexOutOfBounds& error) {
        // "index out of bounds: the len is 4 but the index is 4"
        std::cout << error.what() << " (len " << error.len() << ", index " << error.index()
                  << ")\n";
        ++caught;
    }

    // Every other failure of the libraries is a zel::Error; memory is std::bad_alloc.
    try {
        zel::ZarnikState too_large(64);
    } catch (const zel::Error& error) {
        std::cout << error.what() << '\n';  // "Invalid layout: LayoutError"
        ++caught;
    }
    try {
        static_cast<void>(zel::parse_pauli_sum("0.5 X0 Q1"));
    } catch (const zel::ParseError& error) {
        std::cout << error.what() << '\n';  // "position 7: expected '+' or '-' ..."
        ++caught;
    }

    // The strategy's notice and the loop's lines go to a sink: null_output() for silence, a
    // StreamOutput to keep them in order with your own std::cout lines, or a callback.
    zel::NeuralZarnikBrain brain(0.001, 0.0001, -1.136, zel::null_output());
    std::ostringstream transcript;
    zel::StreamOutput to_transcript(transcript);
    zel::LoopOptions options;
    options.max_iterations = 20;
    options.progress_interval = 10;
    options.output = &to_transcript;
    const zel::LoopResult result = zel::run_zarnik_loop(
        zel::ZarnikState(2), zel::ZarnikGraph(2), zel::PauliSum::h2_hamiltonian(), brain, options);
    std::cout << transcript.str() << result.circuit.gate_count() << " gates\n";

    // validate lists what the fixed rules would accept without a word.
    zel::ZarnikGraph circuit(3);
    circuit.add_gate_with_params(zel::GateType::rz(1.0), {0}, {0.5});
    circuit.add_gate(zel::GateType::of(zel::GateKind::CX), {1, 1});
    circuit.add_gate(zel::GateType::of(zel::GateKind::H), {4});
    for (const zel::ValidationIssue& issue : zel::validate(circuit, 2)) {
        std::cout << issue.message << '\n';
    }
    return caught == 3 && zel::validate(circuit, 2).size() == 4 ? 0 : 1;
}
