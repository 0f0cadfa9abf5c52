// The search loop driven by scripted strategies: what it prints, when it tunes, how it applies
// each action and what it returns.

#include <concepts>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"

#include "support/capture_stdout.hpp"

namespace zel {
namespace {

const PauliSum& hamiltonian() {
    static const PauliSum h2 = PauliSum::h2_hamiltonian();
    return h2;
}

// Energy and entropy of a two-qubit circuit, as the loop evaluates it.
Telemetry telemetry_of(const ZarnikGraph& circuit) {
    return evaluate_circuit_telemetry(ZarnikState(2), circuit, hamiltonian());
}

std::string start_line(double energy) {
    return "Starting Zarnik Loop. Initial Energy: " + format_fixed(energy, 6) + "\n";
}

std::string progress_line(std::uint64_t i, const Telemetry& t) {
    return "Iter " + std::to_string(i) + ": Energy = " + format_fixed(t.energy, 6) +
           " | Entropy = " + format_fixed(t.entropy, 4) + "\n";
}

const std::string HALTING = "Strategy: Converged. Halting.\n";

// A strategy that answers from a script (NoChange once the script runs out) and records what
// the loop showed it. Its tuning step checks the energy function and then writes `tuned_value`
// into every parameter slot (and every rotation's angle).
struct ScriptedStrategy {
    struct Decision {
        ZarnikGraph graph;
        double energy;
        double entropy;
    };
    struct Tuning {
        ZarnikGraph entry;
        double energy_at_zeros;
        bool graph_untouched_by_energy_fn;
    };

    std::vector<StrategyAction> script;
    double tuned_value = std::numbers::pi;
    std::vector<Decision> decisions{};
    mutable std::vector<Tuning> tunings{};

    template <class F>
    requires std::invocable<const F&, std::span<const double>>
    void optimize_parameters(ZarnikGraph& graph, const F& energy_fn) const {
        std::size_t slots = 0;
        for (const Operation& o : graph.operations) {
            slots += o.params.size();
        }
        const ZarnikGraph entry = graph;
        const std::vector<double> zeros(slots, 0.0);
        const double energy = energy_fn(std::span<const double>(zeros));
        tunings.push_back({entry, energy, graph == entry});
        for (Operation& o : graph.operations) {
            for (double& p : o.params) {
                p = tuned_value;
            }
            if (is_rotation(o.gate.kind) && !o.params.empty()) {
                o.gate.angle = tuned_value;
            }
        }
    }

    StrategyAction evaluate_and_evolve(const ZarnikGraph& graph, double energy, double entropy) {
        decisions.push_back({graph, energy, entropy});
        const std::size_t call = decisions.size() - 1;
        return call < script.size() ? script[call] : StrategyAction{NoChange{}};
    }
};

static_assert(ZarnikStrategy<ScriptedStrategy>);

struct LoopRun {
    LoopResult result;
    std::string out;
};

// Runs the loop the way the runner does: the reference state is put into basis state 1, which
// evaluations ignore because they replay from basis state 0.
LoopRun run_loop(ZarnikGraph circuit, ScriptedStrategy& strategy) {
    ZarnikState reference(2);
    reference.set_computational_basis(1);
    std::optional<LoopResult> result;
    std::string out = test::capture_stdout([&] {
        result.emplace(
            run_zarnik_loop(std::move(reference), std::move(circuit), hamiltonian(), strategy));
    });
    return {std::move(*result), std::move(out)};
}

ZarnikGraph graph_of(std::vector<Operation> ops) {
    ZarnikGraph graph(2);
    graph.operations = std::move(ops);
    return graph;
}

const Operation X0{GateType::of(GateKind::X), {0}, {}};
const Operation H1{GateType::of(GateKind::H), {1}, {}};
const StrategyAction ADD_X1 = AddGate{GateType::of(GateKind::X), {1}};

// Weights of the identity and Z0Z1 terms of the H2 Hamiltonian: on |00> the Z0 and Z1 terms
// cancel and the XX and YY terms vanish, so the empty circuit's energy is w1 + w4.
double empty_circuit_energy() {
    return hamiltonian().terms[0].coefficient + hamiltonian().terms[3].coefficient;
}

TEST(SearchLoop, ConvergedAtFirstDecisionPrintsOnlyStartAndHalting) {
    ScriptedStrategy strategy{.script = {Converged{}}};
    const LoopRun run = run_loop(ZarnikGraph(2), strategy);
    EXPECT_EQ(run.out, "Starting Zarnik Loop. Initial Energy: -1.063653\n" + HALTING);
    EXPECT_TRUE(run.result.converged);
    EXPECT_EQ(run.result.circuit, ZarnikGraph(2));
    EXPECT_DOUBLE_EQ(run.result.energy, empty_circuit_energy());
    ASSERT_EQ(strategy.decisions.size(), 1u);
    EXPECT_EQ(run.result.energy, strategy.decisions[0].energy);
    EXPECT_TRUE(strategy.tunings.empty());
}

TEST(SearchLoop, RemoveGateOnlyActsOnExistingPositions) {
    ScriptedStrategy strategy{.script = {RemoveGate{2}, RemoveGate{99},
                                         RemoveGate{std::numeric_limits<std::uint64_t>::max()},
                                         RemoveGate{0}, Converged{}}};
    const ZarnikGraph initial = graph_of({X0, H1});
    const LoopRun run = run_loop(initial, strategy);
    EXPECT_EQ(run.out, start_line(telemetry_of(initial).energy) +
                           progress_line(0, telemetry_of(initial)) +
                           "Strategy: Removing gate at index 0\n" + HALTING);
    ASSERT_EQ(strategy.decisions.size(), 5u);
    for (std::size_t call = 0; call < 4; ++call) {
        EXPECT_EQ(strategy.decisions[call].graph, initial) << "decision " << call;
    }
    EXPECT_EQ(strategy.decisions[4].graph, graph_of({H1}));
    EXPECT_EQ(run.result.circuit, graph_of({H1}));
    EXPECT_EQ(run.result.energy, telemetry_of(graph_of({H1})).energy);
}

// The optimiser step runs exactly when some operation has a non-empty `params`, whatever the
// kind.
TEST(SearchLoop, TuningRunsOnlyWhenSomeOperationHasParameters) {
    struct Case {
        const char* name;
        ZarnikGraph circuit;
        std::size_t tunings;
    };
    const std::vector<Case> cases = {
        {"empty", graph_of({}), 0},
        {"CX only", graph_of({{GateType::of(GateKind::CX), {0, 1}, {}}}), 0},
        {"rotation without params", graph_of({{GateType::rx(0.3), {0}, {}}}), 0},
        {"non-rotation with params", graph_of({{GateType::of(GateKind::H), {0}, {0.1}}}), 3},
        {"rotation with params", graph_of({X0, {GateType::rz(0.2), {1}, {0.2}}}), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStrategy strategy{.script = {NoChange{}, NoChange{}, Converged{}}};
        run_loop(c.circuit, strategy);
        EXPECT_EQ(strategy.tunings.size(), c.tunings);
    }
}

// An added rotation carries its angle as its only parameter and is tuned from the next
// iteration on; the decision always sees the energy of the circuit as it then stands.
TEST(SearchLoop, AddedRotationsGetTheirAngleAsParameterAndAreTuned) {
    for (const GateType gate : {GateType::rx(0.25), GateType::ry(0.25), GateType::rz(0.25)}) {
        SCOPED_TRACE(debug_text(gate));
        ScriptedStrategy strategy{.script = {AddGate{gate, {0}}, NoChange{}, Converged{}}};
        const LoopRun run = run_loop(ZarnikGraph(2), strategy);

        const ZarnikGraph added = graph_of({{gate, {0}, {0.25}}});
        const GateType tuned_gate{gate.kind, std::numbers::pi};
        const ZarnikGraph tuned = graph_of({{tuned_gate, {0}, {std::numbers::pi}}});
        EXPECT_EQ(run.out, start_line(telemetry_of(ZarnikGraph(2)).energy) + "Strategy: Adding " +
                               debug_text(gate) + " on qubits [0]\n" +
                               progress_line(0, telemetry_of(added)) + HALTING);

        ASSERT_EQ(strategy.tunings.size(), 2u);
        EXPECT_EQ(strategy.tunings[0].entry, added);
        EXPECT_EQ(strategy.tunings[1].entry, tuned);
        for (const ScriptedStrategy::Tuning& t : strategy.tunings) {
            EXPECT_TRUE(t.graph_untouched_by_energy_fn);
            // With its parameter at 0 the rotation is the identity.
            EXPECT_DOUBLE_EQ(t.energy_at_zeros, empty_circuit_energy());
        }
        ASSERT_EQ(strategy.decisions.size(), 3u);
        EXPECT_EQ(strategy.decisions[1].graph, tuned);
        for (const ScriptedStrategy::Decision& d : strategy.decisions) {
            const Telemetry t = telemetry_of(d.graph);
            EXPECT_DOUBLE_EQ(d.energy, t.energy);
            EXPECT_DOUBLE_EQ(d.entropy, t.entropy);
        }
        EXPECT_TRUE(run.result.converged);
        EXPECT_EQ(run.result.circuit, tuned);
        EXPECT_EQ(run.result.energy, strategy.decisions[2].energy);
    }
}

TEST(SearchLoop, AddedNonRotationsGetNoParameters) {
    ScriptedStrategy strategy{.script = {AddGate{GateType{GateKind::CX, 0.7}, {0, 1, 5}},
                                         AddGate{GateType::of(GateKind::SWAP), {1, 0}},
                                         Converged{}}};
    const LoopRun run = run_loop(ZarnikGraph(2), strategy);
    EXPECT_EQ(run.result.circuit, graph_of({{GateType{GateKind::CX, 0.7}, {0, 1, 5}, {}},
                                            {GateType::of(GateKind::SWAP), {1, 0}, {}}}));
    EXPECT_TRUE(strategy.tunings.empty());
    EXPECT_NE(run.out.find("Strategy: Adding CX on qubits [0, 1, 5]\n"), std::string::npos);
    EXPECT_NE(run.out.find("Strategy: Adding SWAP on qubits [1, 0]\n"), std::string::npos);
}

// Progress lines come at multiples of 50 only, after that iteration's strategy line and with
// the re-evaluated energy; Converged on a multiple of 50 prints no progress line.
TEST(SearchLoop, ProgressLinesFollowTheIterationsAction) {
    ScriptedStrategy strategy;
    strategy.script.assign(101, NoChange{});
    strategy.script[0] = ADD_X1;
    strategy.script[50] = ADD_X1;
    strategy.script[100] = Converged{};
    const LoopRun run = run_loop(ZarnikGraph(2), strategy);

    const Telemetry empty = telemetry_of(ZarnikGraph(2));
    const Operation x1{GateType::of(GateKind::X), {1}, {}};
    const Telemetry one_x = telemetry_of(graph_of({x1}));
    const Telemetry two_x = telemetry_of(graph_of({x1, x1}));
    EXPECT_EQ(run.out, start_line(empty.energy) + "Strategy: Adding X on qubits [1]\n" +
                           progress_line(0, one_x) + "Strategy: Adding X on qubits [1]\n" +
                           progress_line(50, two_x) + HALTING);
    EXPECT_EQ(strategy.decisions.size(), 101u);
    EXPECT_EQ(run.result.circuit.gate_count(), 2u);
}

// Without Converged the loop makes exactly 1000 decisions, prints 20 progress lines and no
// halting line, and returns the latest energy (here higher than the initial one).
TEST(SearchLoop, RunsTheIterationBoundAndReturnsTheLatestEnergy) {
    ScriptedStrategy strategy{.script = {ADD_X1}};
    const LoopRun run = run_loop(ZarnikGraph(2), strategy);

    const Telemetry empty = telemetry_of(ZarnikGraph(2));
    const Telemetry one_x = telemetry_of(graph_of({{GateType::of(GateKind::X), {1}, {}}}));
    ASSERT_GT(one_x.energy, empty.energy);
    std::string expected = start_line(empty.energy) + "Strategy: Adding X on qubits [1]\n";
    for (std::uint64_t i = 0; i < 1000; i += 50) {
        expected += progress_line(i, one_x);
    }
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(strategy.decisions.size(), 1000u);
    EXPECT_FALSE(run.result.converged);
    EXPECT_EQ(run.result.energy, one_x.energy);
    EXPECT_EQ(run.result.circuit, graph_of({{GateType::of(GateKind::X), {1}, {}}}));
}

// Options: the iteration bound, the progress interval (0 for none) and the sink. Lines go to
// the sink alone, each as one message.
TEST(SearchLoopOptions, BoundIntervalAndSink) {
    struct Row {
        std::uint64_t max_iterations;
        std::uint64_t interval;
        std::vector<std::uint64_t> progress_at;
    };
    for (const Row& row : {Row{10, 3, {0, 3, 6, 9}}, Row{10, 0, {}}, Row{0, 1, {}},
                           Row{5, 1, {0, 1, 2, 3, 4}}, Row{7, 100, {0}}}) {
        ScriptedStrategy strategy;
        std::vector<std::string> messages;
        CallbackOutput collect([&](std::string_view m) { messages.emplace_back(m); });
        std::optional<LoopResult> result;
        const std::string out = test::capture_stdout([&] {
            result.emplace(run_zarnik_loop(ZarnikState(2), ZarnikGraph(2), hamiltonian(), strategy,
                                           LoopOptions{row.max_iterations, row.interval, &collect}));
        });
        EXPECT_EQ(out, "");
        EXPECT_EQ(strategy.decisions.size(), row.max_iterations);
        EXPECT_FALSE(result->converged);
        std::vector<std::string> expected = {start_line(empty_circuit_energy())};
        for (const std::uint64_t i : row.progress_at) {
            expected.push_back(progress_line(i, telemetry_of(ZarnikGraph(2))));
        }
        EXPECT_EQ(messages, expected) << row.max_iterations << " / " << row.interval;
    }
}

TEST(SearchLoopOptions, NullSinkIsSilentAndSinkErrorsReachTheCaller) {
    ScriptedStrategy silent{.script = {ADD_X1, Converged{}}};
    EXPECT_EQ(test::capture_stdout([&] {
                  run_zarnik_loop(ZarnikState(2), ZarnikGraph(2), hamiltonian(), silent,
                                  LoopOptions{.output = &null_output()});
                  run_zarnik_loop(ZarnikState(2), ZarnikGraph(2), hamiltonian(), silent,
                                  LoopOptions{.output = nullptr});
              }),
              "");
    ScriptedStrategy strategy{.script = {ADD_X1}};
    int written = 0;
    CallbackOutput failing([&](std::string_view) {
        if (++written == 2) {
            throw std::runtime_error("sink full");
        }
    });
    EXPECT_THROW(run_zarnik_loop(ZarnikState(2), ZarnikGraph(2), hamiltonian(), strategy,
                                 LoopOptions{.output = &failing}),
                 std::runtime_error);
    // The second message was the strategy line of the first iteration: the loop stopped there.
    EXPECT_EQ(strategy.decisions.size(), 1u);
}

// A strategy whose tuning keeps state between steps: optimize_parameters is a non-const member.
struct CountingTuner {
    std::uint64_t steps = 0;

    template <class F>
    void optimize_parameters(ZarnikGraph& graph, const F& energy_fn) {
        ++steps;
        std::vector<double> values = parameters(graph);
        for (double& v : values) {
            v += 0.125;
        }
        static_cast<void>(energy_fn(std::span<const double>(values)));
        set_parameters(graph, values);
    }

    StrategyAction evaluate_and_evolve(const ZarnikGraph& graph, double, double) {
        return graph.gate_count() == 0 ? StrategyAction{AddGate{GateType::ry(0.0), {0}}}
                                       : StrategyAction{NoChange{}};
    }
};

static_assert(ZarnikStrategy<CountingTuner>);

TEST(SearchLoopOptions, StatefulTuningRunsOnAMutableStrategy) {
    CountingTuner tuner;
    const LoopResult result = run_zarnik_loop(ZarnikState(2), ZarnikGraph(2), hamiltonian(),
                                              tuner, LoopOptions{8, 0, &null_output()});
    // The rotation is added at iteration 0 and tuned in each of the 7 iterations after it.
    EXPECT_EQ(tuner.steps, 7u);
    ASSERT_EQ(result.circuit.gate_count(), 1u);
    EXPECT_EQ(result.circuit.operations[0].params, (std::vector<double>{7 * 0.125}));
    EXPECT_EQ(result.circuit.operations[0].gate.angle, 7 * 0.125);
}

}  // namespace
}  // namespace zel
