// The C++ side of test_parity.py: fixed computations through the libraries directly, printed
// one result per line so that the Python tests can repeat each computation through the module
// and compare bit for bit.
//
// Line format: "<key> <kind> <values...>", kind f (doubles as the 16 hex digits of their bit
// patterns), u (unsigned decimal integers) or t (one text as hex bytes of its UTF-8). The inputs
// are written out here and in test_parity.py alike; random inputs come from zel's Generator,
// whose sequence is a fixed function of its seed.

#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numbers>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/spectrum.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"
#include "zel/neural/brain.hpp"

namespace {

using Amplitude = zel::ZarnikState::Amplitude;

// Shared with test_parity.py.
constexpr std::uint64_t STATE_SEED = 11;
constexpr double GATE_ANGLE = 0.7;
constexpr double GATE_PARAM = -1.3;
constexpr std::string_view SUM_TEXT = "0.5 * X0 Z1 - 1.2 YY + 0.3 + 0.7 XIZ - 0.25 Y2 X0";
constexpr std::string_view PROGRAM =
    "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nqubit r;\n"
    "h q[0];\ncx q[0], r;\nrz(pi / 3) q[1];\nry(-0.25 * tau) r;\nsdg q[1];\nswap q[1], r;\n";

void print_doubles(std::string_view key, std::span<const double> values) {
    std::printf("%.*s f", static_cast<int>(key.size()), key.data());
    for (const double value : values) {
        std::printf(" %016" PRIx64, std::bit_cast<std::uint64_t>(value));
    }
    std::printf("\n");
}

void print_double(std::string_view key, double value) {
    print_doubles(key, std::span<const double>(&value, 1));
}

void print_amplitudes(std::string_view key, const zel::ZarnikState& state) {
    std::vector<double> parts;
    for (const Amplitude& a : state.amplitudes()) {
        parts.push_back(a.real());
        parts.push_back(a.imag());
    }
    print_doubles(key, parts);
}

void print_integers(std::string_view key, std::span<const std::uint64_t> values) {
    std::printf("%.*s u", static_cast<int>(key.size()), key.data());
    for (const std::uint64_t value : values) {
        std::printf(" %" PRIu64, value);
    }
    std::printf("\n");
}

void print_text(std::string_view key, std::string_view text) {
    std::printf("%.*s t ", static_cast<int>(key.size()), key.data());
    for (const char c : text) {
        std::printf("%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    }
    std::printf("\n");
}

// Kind, qubits, angle and params of every operation.
void print_circuit(std::string_view key, const zel::ZarnikGraph& circuit) {
    std::vector<std::uint64_t> shape{circuit.num_qubits};
    std::vector<double> numbers;
    for (const zel::Operation& op : circuit.operations) {
        shape.push_back(static_cast<std::uint64_t>(op.gate.kind));
        shape.push_back(op.qubits.size());
        shape.insert(shape.end(), op.qubits.begin(), op.qubits.end());
        shape.push_back(op.params.size());
        numbers.push_back(op.gate.angle);
        numbers.insert(numbers.end(), op.params.begin(), op.params.end());
    }
    print_integers(std::string(key) + ".shape", shape);
    print_doubles(std::string(key) + ".numbers", numbers);
}

// Real and imaginary parts from uniform draws shifted to [-0.5, 0.5).
zel::ZarnikState random_state(std::uint64_t num_qubits, std::uint64_t seed) {
    zel::random::Generator generator(seed);
    zel::ZarnikState state(num_qubits);
    for (Amplitude& a : state.amplitudes_mut()) {
        const double re = generator.uniform() - 0.5;
        const double im = generator.uniform() - 0.5;
        a = Amplitude(re, im);
    }
    return state;
}

// X on qubit 0, RY(theta) on qubit 1 with theta as its parameter, CX with control 1.
zel::ZarnikGraph ansatz(double theta) {
    zel::ZarnikGraph circuit(2);
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::X), {0}, {});
    circuit.add_gate_with_params(zel::GateType::ry(theta), {1}, {theta});
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::CX), {1, 0}, {});
    return circuit;
}

void gates() {
    const zel::ZarnikState start = random_state(3, STATE_SEED);
    print_amplitudes("state.random", start);
    for (const zel::GateInfo& info : zel::ORIGINAL_GATES) {
        const zel::GateType gate{info.kind, GATE_ANGLE};
        std::vector<std::vector<std::uint64_t>> targets;
        for (std::uint64_t a = 0; a < 3; ++a) {
            if (info.arity == 1) {
                targets.push_back({a});
                continue;
            }
            for (std::uint64_t b = 0; b < 3; ++b) {
                if (a != b) {
                    targets.push_back({a, b});
                }
            }
        }
        for (const auto& qubits : targets) {
            std::string key = "gate." + std::string(info.name);
            for (const std::uint64_t q : qubits) {
                key += "." + std::to_string(q);
            }
            zel::ZarnikState state = start;
            state.apply_gate(gate, qubits, {});
            print_amplitudes(key, state);
            if (info.has_angle) {
                zel::ZarnikState with_param = start;
                const std::vector<double> params{GATE_PARAM};
                with_param.apply_gate(gate, qubits, params);
                print_amplitudes(key + ".param", with_param);
            }
        }
    }
}

void observables() {
    const zel::ZarnikState state3 = random_state(3, STATE_SEED);
    const zel::ZarnikState state2 = random_state(2, STATE_SEED + 1);
    const zel::PauliSum h2 = zel::PauliSum::h2_hamiltonian();
    const zel::PauliSum parsed = zel::parse_pauli_sum(SUM_TEXT);
    print_text("sum.text", zel::pauli_text(parsed));
    print_double("expectation.h2", h2.expectation_value(state2));
    print_double("expectation.parsed", parsed.expectation_value(state3));
    print_double("entropy", state3.calculate_entropy());
    print_double("norm", zel::norm(state3));
    print_doubles("probabilities", zel::probabilities(state3));
    zel::ZarnikState hadamard = state3;
    const std::vector<std::uint64_t> qubit1{1};
    hadamard.apply_gate(zel::GateType::of(zel::GateKind::H), qubit1, {});
    const Amplitude inner = zel::inner_product(state3, hadamard);
    const std::vector<double> inner_parts{inner.real(), inner.imag()};
    print_doubles("inner_product", inner_parts);

    print_double("ground_energy.h2", zel::ground_energy(h2, 2));
    const zel::GroundState ground = zel::ground_state(parsed, 3);
    print_double("ground_state.parsed.energy", ground.energy);
    print_amplitudes("ground_state.parsed.state", ground.state);
    std::vector<double> matrix;
    for (const Amplitude& a : zel::dense_matrix(parsed, 3)) {
        matrix.push_back(a.real());
        matrix.push_back(a.imag());
    }
    print_doubles("dense_matrix.parsed", matrix);
}

void sampling() {
    const zel::ZarnikState state3 = random_state(3, STATE_SEED);
    zel::random::Generator shots_generator(5);
    print_integers("sample", zel::sample(state3, 200, shots_generator));
    zel::random::Generator counts_generator(6);
    std::vector<std::uint64_t> pairs;
    for (const auto& [outcome, count] : zel::sample_counts(state3, 1000, counts_generator)) {
        pairs.push_back(outcome);
        pairs.push_back(count);
    }
    print_integers("sample_counts", pairs);
}

void circuits() {
    zel::ZarnikGraph ghz(3);
    ghz.add_gate(zel::GateType::of(zel::GateKind::H), {0});
    ghz.add_gate(zel::GateType::of(zel::GateKind::CX), {0, 1});
    ghz.add_gate(zel::GateType::of(zel::GateKind::CX), {1, 2});
    ghz.add_gate(zel::GateType::rz(0.3), {2});
    print_amplitudes("run_circuit.ghz", zel::run_circuit(ghz, 3));
    zel::ZarnikState applied = random_state(3, STATE_SEED);
    zel::apply_circuit(applied, ghz);
    print_amplitudes("apply_circuit.ghz", applied);

    const zel::PauliSum h2 = zel::PauliSum::h2_hamiltonian();
    const zel::ZarnikState reference(2);
    const zel::ZarnikGraph circuit = ansatz(-0.4);
    print_double("energy.ansatz", zel::evaluate_circuit_energy(reference, circuit, h2));
    const zel::Telemetry telemetry = zel::evaluate_circuit_telemetry(reference, circuit, h2);
    const std::vector<double> telemetry_values{telemetry.energy, telemetry.entropy};
    print_doubles("telemetry.ansatz", telemetry_values);
    const zel::EnergyFn energy_fn(circuit, reference, h2);
    const std::vector<double> values{-0.42};
    print_double("energy_fn.ansatz", energy_fn(values));

    zel::ZarnikGraph exported(3);
    exported.add_gate(zel::GateType::rx(0.1 + 0.2), {0});
    exported.add_gate(zel::GateType::of(zel::GateKind::SWAP), {2, 0});
    exported.add_gate(zel::GateType::rz(-1e-7), {1});
    exported.add_gate(zel::GateType::ry(1e22), {2});
    print_text("qasm.export", zel::to_open_qasm(exported));
    print_circuit("qasm.import", zel::from_open_qasm(PROGRAM));
}

void spsa() {
    const zel::PauliSum h2 = zel::PauliSum::h2_hamiltonian();
    const zel::ZarnikState reference(2);
    zel::random::reseed(3);
    zel::NeuralZarnikBrain brain(0.001, 0.0001, -2.0, zel::null_output());
    zel::ZarnikGraph circuit = ansatz(0.0);
    std::vector<double> trace;
    for (int step = 0; step < 50; ++step) {
        const zel::ZarnikGraph snapshot = circuit;
        const zel::EnergyFn energy_fn(snapshot, reference, h2);
        brain.optimize_parameters(circuit, energy_fn);
        ++brain.iteration;
        trace.push_back(circuit.operations[1].params[0]);
    }
    print_doubles("spsa.trace", trace);
    print_circuit("spsa.circuit", circuit);
}

// Collects the loop's messages.
std::string run_loop_text(const zel::ZarnikGraph& start, std::uint64_t basis,
                          zel::NeuralZarnikBrain& brain, std::uint64_t iterations,
                          zel::LoopResult& result) {
    std::string transcript;
    zel::CallbackOutput sink([&transcript](std::string_view message) {
        transcript += message;
    });
    zel::ZarnikState reference(2);
    reference.set_computational_basis(basis);
    zel::LoopOptions options;
    options.max_iterations = iterations;
    options.progress_interval = 50;
    options.output = &sink;
    result = zel::run_zarnik_loop(std::move(reference), start, zel::PauliSum::h2_hamiltonian(),
                                  brain, options);
    return transcript;
}

void print_loop(std::string_view key, const std::string& transcript,
                const zel::LoopResult& result) {
    print_text(std::string(key) + ".transcript", transcript);
    print_double(std::string(key) + ".energy", result.energy);
    const std::vector<std::uint64_t> converged{result.converged ? 1U : 0U};
    print_integers(std::string(key) + ".converged", converged);
    print_circuit(std::string(key) + ".circuit", result.circuit);
}

// The strategy of the guide's custom-strategy example: a fixed three-gate circuit whose rotation
// is tuned by gradient descent with the parameter-shift rule. test_parity.py has it in Python.
struct ShiftRuleStrategy {
    double target_energy;
    double step_size = 0.5;
    std::uint64_t calls = 0;

    template <class EnergyFunction>
    void optimize_parameters(zel::ZarnikGraph& graph, const EnergyFunction& energy_fn) const {
        std::vector<double> theta = zel::parameters(graph);
        const double shift = std::numbers::pi / 2;
        std::vector<double> gradient(theta.size());
        std::vector<double> probe = theta;
        for (std::size_t s = 0; s < theta.size(); ++s) {
            probe[s] = theta[s] + shift;
            const double plus = energy_fn(std::span<const double>(probe));
            probe[s] = theta[s] - shift;
            const double minus = energy_fn(std::span<const double>(probe));
            probe[s] = theta[s];
            gradient[s] = 0.5 * (plus - minus);
        }
        for (std::size_t s = 0; s < theta.size(); ++s) {
            theta[s] -= step_size * gradient[s];
        }
        zel::set_parameters(graph, theta);
    }

    zel::StrategyAction evaluate_and_evolve(const zel::ZarnikGraph& graph, double energy,
                                            double /*entropy*/) {
        ++calls;
        if (energy <= target_energy) {
            return zel::Converged{};
        }
        switch (graph.gate_count()) {
            case 0:
                return zel::AddGate{zel::GateType::of(zel::GateKind::X), {0}};
            case 1:
                return zel::AddGate{zel::GateType::ry(0.0), {1}};
            case 2:
                return zel::AddGate{zel::GateType::of(zel::GateKind::CX), {1, 0}};
            default:
                return zel::NoChange{};
        }
    }
};

void loops() {
    zel::LoopResult result;
    {
        // kvt_run's settings: basis state 1 on the reference, an empty circuit.
        zel::NeuralZarnikBrain brain(0.001, 0.0001, -1.136, zel::null_output());
        const std::string text = run_loop_text(zel::ZarnikGraph(2), 1, brain, 300, result);
        print_loop("loop.brain", text, result);
    }
    {
        zel::random::reseed(9);
        zel::NeuralZarnikBrain brain(0.001, 0.0001, -1.9, zel::null_output());
        const std::string text = run_loop_text(ansatz(0.1), 0, brain, 200, result);
        print_loop("loop.brain_spsa", text, result);
    }
    {
        ShiftRuleStrategy strategy{-1.91536};
        std::string transcript;
        zel::CallbackOutput sink([&transcript](std::string_view message) {
            transcript += message;
        });
        zel::LoopOptions options;
        options.output = &sink;
        result = zel::run_zarnik_loop(zel::ZarnikState(2), zel::ZarnikGraph(2),
                                      zel::PauliSum::h2_hamiltonian(), strategy, options);
        print_loop("loop.shift_rule", transcript, result);
        const std::vector<std::uint64_t> calls{strategy.calls};
        print_integers("loop.shift_rule.calls", calls);
    }
}

}  // namespace

int main() {
    gates();
    observables();
    sampling();
    circuits();
    spsa();
    loops();
    return 0;
}
