// What a read program offers its callers beyond its instructions: the unitary circuit, refused
// for a program that is not one, and the program for other values of its inputs.
//
// A program's inputs reach its operations through everything the reader evaluates: angle
// expressions with functions and powers, gate definitions whose parameters are expressions,
// modifiers (inv, pow, ctrl) and the split of OpenQASM's U phases. Reading the text again with
// the new values is the one way that gives exactly the operations a first reading with those
// values gives, and it costs one linear pass over the text, small next to running the circuit.

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

namespace zel {

const ZarnikGraph& QasmProgram::unitary_circuit() const {
    if (!terminal) {
        throw InvalidArgument("the program is not one unitary (" + non_unitary +
                              "): energies, gradients and states need a program without "
                              "mid-circuit measurement, reset or 'if'; run it with run_shots");
    }
    return circuit;
}

QasmProgram QasmProgram::bind(std::span<const double> values) const {
    if (values.size() != inputs.size()) {
        std::string names;
        for (const std::string& name : inputs) {
            names += (names.empty() ? "" : ", ") + name;
        }
        throw InvalidArgument("bind: the program has " + std::to_string(inputs.size()) + " inputs" +
                              (names.empty() ? "" : " (" + names + ")") + ", given " +
                              std::to_string(values.size()) + " values");
    }
    if (inputs.empty()) {
        return *this;
    }
    if (source == nullptr) {
        throw InvalidArgument("bind: the program keeps no text to read again");
    }
    std::map<std::string, double, std::less<>> named;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        named.emplace(inputs[i], values[i]);
    }
    QasmProgram bound = read_open_qasm(*source, named);
    // Share the text instead of holding a copy per binding.
    bound.source = source;
    return bound;
}

ZarnikGraph QasmProgram::bound_circuit(std::span<const double> values) const {
    if (!terminal) {
        unitary_circuit();
    }
    return bind(values).unitary_circuit();
}

QasmEnergyFn::QasmEnergyFn(QasmProgram program, PauliSum hamiltonian, Evaluation mode)
    : program_(std::move(program)), hamiltonian_(std::move(hamiltonian)), mode_(mode) {
    static_cast<void>(program_.unitary_circuit());
    if (!program_.inputs.empty() && program_.source == nullptr) {
        throw InvalidArgument("bind: the program keeps no text to read again");
    }
}

double QasmEnergyFn::operator()(std::span<const double> values) const {
    const ZarnikGraph circuit = program_.bound_circuit(values);
    const ZarnikState state = run_circuit(circuit, circuit.num_qubits, mode_);
    return hamiltonian_.expectation_value(state);
}

}  // namespace zel
