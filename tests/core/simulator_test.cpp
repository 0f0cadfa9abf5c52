// Circuit evaluation: energy and entropy of a replayed circuit, parameter assignment, the
// optimiser's energy function, and running a circuit to a state.

#include "zel/core/simulator.hpp"

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"

#include "support/errors.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

struct Weights {
    double w1, w2, w3, w4, w5, w6;
};

Weights weights() {
    const auto& t = PauliSum::h2_hamiltonian().terms;
    return {t[0].coefficient, t[1].coefficient, t[2].coefficient,
            t[3].coefficient, t[4].coefficient, t[5].coefficient};
}

ZarnikGraph circuit_of(std::uint64_t n, const std::vector<Operation>& ops) {
    ZarnikGraph circuit(n);
    circuit.operations = ops;
    return circuit;
}

Operation op(GateKind kind, std::vector<std::uint64_t> qubits) {
    return {GateType::of(kind), std::move(qubits), {}};
}

Operation rotation(GateKind kind, std::uint64_t qubit, double angle) {
    return {GateType{kind, angle}, {qubit}, {angle}};
}

void expect_same_bits(const Telemetry& a, const Telemetry& b) {
    EXPECT_EQ(bits_of(a.energy), bits_of(b.energy));
    EXPECT_EQ(bits_of(a.entropy), bits_of(b.entropy));
}

TEST(CoreEvaluation, ListedCircuitsGiveListedEnergyAndEntropy) {
    const auto [w1, w2, w3, w4, w5, w6] = weights();
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    struct Case {
        const char* name;
        std::vector<Operation> ops;
        double energy;
        double entropy;
    };
    const std::vector<Case> cases = {
        {"empty", {}, w1 + w2 + w3 + w4, 0.0},
        {"X q0", {op(GateKind::X, {0})}, w1 - w2 + w3 - w4, 0.0},
        {"H q0, CX 01", {op(GateKind::H, {0}), op(GateKind::CX, {0, 1})}, w1 + w4, 1.0},
        {"H q0, H q1", {op(GateKind::H, {0}), op(GateKind::H, {1})}, w1 + w5, 2.0},
        {"X q0, H q1, CX 10, Z q1",  // (|1> - |2>)/sqrt2
         {op(GateKind::X, {0}), op(GateKind::H, {1}), op(GateKind::CX, {1, 0}),
          op(GateKind::Z, {1})},
         w1 - w4 - w5 - w6,
         1.0},
    };
    ZarnikState reference(2);
    reference.set_computational_basis(1);  // as the runner prepares it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ZarnikGraph circuit = circuit_of(2, c.ops);
        const Telemetry t = evaluate_circuit_telemetry(reference, circuit, h2);
        EXPECT_NEAR(t.energy, c.energy, TOLERANCE);
        EXPECT_NEAR(t.entropy, c.entropy, TOLERANCE);
        EXPECT_EQ(bits_of(evaluate_circuit_energy(reference, circuit, h2)), bits_of(t.energy));
        if (c.entropy == 0.0) {
            EXPECT_EQ(bits_of(t.entropy), bits_of(0.0));  // prints 0.0000, never -0.0000
        }
    }
    EXPECT_TRUE(bitwise_equal(reference, {0, 1, 0, 0}));  // never changed
}

// Only the reference's qubit count matters: its amplitudes are overwritten in the copy.
TEST(CoreEvaluation, ReferenceContentDoesNotMatter) {
    std::mt19937_64 rng(SEED + 30);
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    const ZarnikGraph circuit =
        circuit_of(2, {rotation(GateKind::RY, 0, 0.8), op(GateKind::CX, {0, 1}),
                       rotation(GateKind::RX, 1, -0.3)});
    ZarnikState zero(2);
    const Telemetry expected = evaluate_circuit_telemetry(zero, circuit, h2);
    for (std::uint64_t k = 1; k < 4; ++k) {
        ZarnikState basis(2);
        basis.set_computational_basis(k);
        expect_same_bits(evaluate_circuit_telemetry(basis, circuit, h2), expected);
    }
    const Vector noise = random_state(2, rng);
    const ZarnikState random = make_state(noise);
    expect_same_bits(evaluate_circuit_telemetry(random, circuit, h2), expected);
    EXPECT_TRUE(bitwise_equal(random, noise));
}

// Each operation goes to the kernels with its params: a rotation whose params[0] differs from
// its angle rotates by params[0].
TEST(CoreEvaluation, OperationsAreReplayedWithTheirParams) {
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    const ZarnikState reference(2);
    const auto energy = [&](Operation rotation) {
        return evaluate_circuit_energy(
            reference, circuit_of(2, {std::move(rotation), op(GateKind::CX, {0, 1})}), h2);
    };
    for (GateKind kind : {GateKind::RX, GateKind::RY}) {
        const double by_param = energy(Operation{GateType{kind, 1.0}, {0}, {0.5}});
        EXPECT_EQ(bits_of(by_param), bits_of(energy(Operation{GateType{kind, 0.5}, {0}, {}})));
        EXPECT_NE(by_param, energy(Operation{GateType{kind, 1.0}, {0}, {}}));
    }
}

// The evaluation is the kernels in circuit order on |0...0>, then the observable and entropy.
TEST(CoreEvaluation, MatchesDenseReplayOnRandomCircuits) {
    std::mt19937_64 rng(SEED + 31);
    std::uniform_int_distribution<std::size_t> pick(0, ORIGINAL_KIND_COUNT - 1);
    std::uniform_real_distribution<double> angle(-3.0, 3.0);
    const std::uint64_t n = 3;
    const PauliSum observable{{{0.5, {}},
                               {-0.25, {{0, Pauli::Z}, {2, Pauli::X}}},
                               {0.75, {{1, Pauli::Y}, {0, Pauli::Y}}},
                               {1.5, {{2, Pauli::Z}}}}};
    for (int trial = 0; trial < 20; ++trial) {
        ZarnikGraph circuit(n);
        Vector v(8);
        v[0] = 1.0;
        for (int g = 0; g < 8; ++g) {
            const GateKind kind = GATE_TABLE[pick(rng)].kind;
            std::vector<std::uint64_t> q = {rng() % n, rng() % n};
            if (q[0] == q[1]) {
                q[1] = (q[0] + 1) % n;
            }
            const double theta = angle(rng);
            v = multiply(gate_matrix(kind, theta, q, n), v);
            circuit.add_gate_with_params(GateType{kind, theta}, q, {});
        }
        double entropy = 0.0;
        for (const Complex& a : v) {
            entropy -= std::norm(a) > 1e-12 ? std::norm(a) * std::log2(std::norm(a)) : 0.0;
        }
        const Telemetry t = evaluate_circuit_telemetry(ZarnikState(n), circuit, observable);
        EXPECT_NEAR(t.energy, expectation(observable, v, n), TOLERANCE) << trial;
        EXPECT_NEAR(t.entropy, entropy, TOLERANCE) << trial;
    }
}

TEST(CoreWithParameters, ValuesFillSlotsInFlatOrderThenAnglesFollow) {
    // Slots in flat order: RX(0) [0.1], X [5.0, 6.0] (parameters without angle), RZ(2) [0.3],
    // RY with no params (angle 0.9 kept, never synchronised).
    const ZarnikGraph circuit = circuit_of(
        3, {rotation(GateKind::RX, 0, 0.1), Operation{GateType::of(GateKind::X), {1}, {5.0, 6.0}},
            rotation(GateKind::RZ, 2, 0.3), Operation{GateType::ry(0.9), {1}, {}}});
    const ZarnikGraph before = circuit;
    struct Case {
        std::vector<double> values;
        std::vector<double> rx, x, rz;
    };
    const std::vector<Case> cases = {
        {{}, {0.1}, {5.0, 6.0}, {0.3}},
        {{1.0}, {1.0}, {5.0, 6.0}, {0.3}},
        {{1.0, 2.0}, {1.0}, {2.0, 6.0}, {0.3}},
        {{1.0, 2.0, 3.0, 4.0}, {1.0}, {2.0, 3.0}, {4.0}},
        {{1.0, 2.0, 3.0, 4.0, 9.0, 9.0}, {1.0}, {2.0, 3.0}, {4.0}},
    };
    for (const Case& c : cases) {
        const ZarnikGraph out = with_parameters(circuit, c.values);
        SCOPED_TRACE(c.values.size());
        EXPECT_EQ(out.num_qubits, 3u);
        EXPECT_EQ(out.operations[0].params, c.rx);
        EXPECT_EQ(out.operations[1].params, c.x);
        EXPECT_EQ(out.operations[2].params, c.rz);
        EXPECT_EQ(out.operations[0].gate, GateType::rx(c.rx[0]));
        EXPECT_EQ(out.operations[1].gate, GateType::of(GateKind::X));
        EXPECT_EQ(out.operations[2].gate, GateType::rz(c.rz[0]));
        EXPECT_EQ(out.operations[3], circuit.operations[3]);
    }
    EXPECT_EQ(circuit, before);

    // With no values, the angle still follows params[0].
    const ZarnikGraph stale = circuit_of(1, {Operation{GateType::ry(1.0), {0}, {0.5}}});
    EXPECT_EQ(with_parameters(stale, {}).operations[0].gate, GateType::ry(0.5));
}

TEST(CoreEnergyFn, IsTheEnergyOfTheCircuitWithTheValues) {
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    const ZarnikState state(2);
    const ZarnikGraph circuit =
        circuit_of(2, {rotation(GateKind::RY, 0, 0.4), op(GateKind::CX, {0, 1}),
                       rotation(GateKind::RX, 1, -0.7), rotation(GateKind::RZ, 0, 1.1)});
    const ZarnikGraph before = circuit;
    const EnergyFn energy(circuit, state, h2);
    const auto direct = [&](std::vector<double> values) {
        ZarnikGraph manual = circuit;
        for (std::size_t k = 0; k < values.size() && k < 3; ++k) {
            const std::size_t index = k == 0 ? 0 : k + 1;
            manual.operations[index].params[0] = values[k];
            manual.operations[index].gate.angle = values[k];
        }
        return evaluate_circuit_energy(state, manual, h2);
    };
    for (const std::vector<double>& values : std::vector<std::vector<double>>{
             {}, {1.3}, {1.3, 0.2}, {1.3, 0.2, -2.0}, {1.3, 0.2, -2.0, 7.0, 8.0}}) {
        SCOPED_TRACE(values.size());
        const double first = energy(values);
        EXPECT_EQ(bits_of(first), bits_of(direct(values)));
        EXPECT_EQ(bits_of(energy(values)), bits_of(first));  // repeated calls agree
    }
    EXPECT_NE(energy(std::vector<double>{1.3}), energy(std::vector<double>{}));
    EXPECT_EQ(circuit, before);  // the live circuit is untouched
    EXPECT_TRUE(bitwise_equal(state, {1, 0, 0, 0}));
}

TEST(CoreEnergyFn, CircuitWithoutParametersIgnoresValues) {
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    const ZarnikState state(2);
    const ZarnikGraph circuit = circuit_of(
        2, {op(GateKind::H, {0}), op(GateKind::CX, {0, 1}), Operation{GateType::rx(0.6), {1}, {}}});
    const EnergyFn energy(circuit, state, h2);
    const double expected = evaluate_circuit_energy(state, circuit, h2);
    for (const std::vector<double>& values :
         std::vector<std::vector<double>>{{}, {2.0}, {2.0, -1.0, 4.0}}) {
        EXPECT_EQ(bits_of(energy(values)), bits_of(expected));
    }
}

// run_circuit prepares exactly the state every evaluation prepares.
TEST(CoreRunCircuit, PreparesTheEvaluatedState) {
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    const ZarnikGraph circuit = circuit_of(
        2, {op(GateKind::H, {0}), rotation(GateKind::RY, 1, 0.3), op(GateKind::CX, {0, 1})});
    const ZarnikState state = run_circuit(circuit, 2);
    EXPECT_EQ(bits_of(h2.expectation_value(state)),
              bits_of(evaluate_circuit_energy(ZarnikState(2), circuit, h2)));
    EXPECT_EQ(bits_of(state.calculate_entropy()),
              bits_of(evaluate_circuit_telemetry(ZarnikState(2), circuit, h2).entropy));
    // The register size is the argument's, not the circuit's.
    EXPECT_EQ(run_circuit(circuit, 3).num_qubits(), 3u);
}

// apply_circuit equals the gates one by one, and a circuit that would fail throws its first
// failing operation's report before any amplitude changes.
TEST(CoreApplyCircuit, AppliesInOrderOrChangesNothing) {
    std::mt19937_64 rng(SEED + 61);
    const Vector start = random_state(3, rng);
    const ZarnikGraph good = circuit_of(
        3, {op(GateKind::H, {2}), rotation(GateKind::RX, 0, 1.1), op(GateKind::SWAP, {0, 2})});
    ZarnikState expected = make_state(start);
    for (const Operation& o : good.operations) {
        expected.apply_gate(o.gate, o.qubits, o.params);
    }
    ZarnikState state = make_state(start);
    apply_circuit(state, good);
    EXPECT_TRUE(bitwise_equal(state, amplitudes_of(expected)));

    ZarnikGraph bad = good;
    bad.operations.push_back(op(GateKind::X, {3}));
    bad.operations.push_back(op(GateKind::CX, {0}));
    ZarnikState untouched = make_state(start);
    EXPECT_TRUE(throws_bounds(
        [&] {
            apply_circuit(untouched, bad);
        },
        8, 8));
    EXPECT_TRUE(bitwise_equal(untouched, start));
}

}  // namespace
}  // namespace zel::test
