// Decision rule and SPSA step of NeuralZarnikBrain.

#include "zel/neural/brain.hpp"

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/output.hpp"
#include "zel/core/random.hpp"
#include "zel/core/strategy.hpp"

#include "support/capture_stdout.hpp"

namespace zel {
namespace {

constexpr double PRUNE = 0.0001;
constexpr double TARGET = -1.136;
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double MAX_FINITE = std::numeric_limits<double>::max();

// A strategy built with the runner's arguments unless told otherwise; its notice is swallowed.
NeuralZarnikBrain quiet_brain(double prune = PRUNE, double target = TARGET) {
    return NeuralZarnikBrain(0.001, prune, target, null_output());
}

std::string describe(const StrategyAction& action) {
    if (const auto* add = std::get_if<AddGate>(&action)) {
        std::string text = "AddGate " + debug_text(add->gate) + " [";
        for (std::uint64_t q : add->qubits) {
            text += std::to_string(q) + ",";
        }
        return text + "]";
    }
    if (const auto* remove = std::get_if<RemoveGate>(&action)) {
        return "RemoveGate " + std::to_string(remove->index);
    }
    return std::holds_alternative<NoChange>(action) ? "NoChange" : "Converged";
}

const StrategyAction ADD_CX = AddGate{GateType::of(GateKind::CX), {0, 1}};

Operation op(GateType gate, std::vector<std::uint64_t> qubits, std::vector<double> params = {}) {
    return Operation{gate, std::move(qubits), std::move(params)};
}

ZarnikGraph graph_of(std::uint64_t qubits, std::vector<Operation> ops) {
    ZarnikGraph graph(qubits);
    graph.operations = std::move(ops);
    return graph;
}

TEST(BrainNotice, ConstructionPrintsTheCommunityNoticeEveryTime) {
    const std::string expected =
        "\n[INFO] \u26A0\uFE0F  Running KVT Community Edition (Basic Strategy).\n"
        "[INFO] For advanced molecular convergence (e.g., H2O, LiH), upgrade to KVT Pro.\n\n";
    EXPECT_EQ(test::capture_stdout([] {
                  NeuralZarnikBrain(1.0, 2.0, 3.0);
              }),
              expected);
    EXPECT_EQ(test::capture_stdout([] {
                  NeuralZarnikBrain(0.001, PRUNE, TARGET);
                  NeuralZarnikBrain(0.001, PRUNE, TARGET);
              }),
              expected + expected);
    // Another sink gets the same two messages, and standard output nothing.
    std::vector<std::string> messages;
    CallbackOutput collect([&](std::string_view m) { messages.emplace_back(m); });
    EXPECT_EQ(test::capture_stdout([&] {
                  NeuralZarnikBrain(0.001, PRUNE, TARGET, collect);
                  NeuralZarnikBrain(0.001, PRUNE, TARGET, null_output());
              }),
              "");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0] + messages[1], expected);
}

// Constant energy above the target on an empty two-qubit circuit: the first call never counts
// as stagnation, then a CX is proposed on call 7 and on every 6th call after it.
TEST(BrainDecision, ConstantEnergyAddsCxOnCallSevenThenEverySixth) {
    NeuralZarnikBrain brain = quiet_brain();
    const ZarnikGraph graph(2);
    for (std::uint64_t call = 1; call <= 200; ++call) {
        const StrategyAction action = brain.evaluate_and_evolve(graph, -1.0, 0.0);
        const bool adds = call >= 7 && (call - 7) % 6 == 0;
        EXPECT_EQ(describe(action), describe(adds ? ADD_CX : NoChange{})) << "call " << call;
        EXPECT_EQ(brain.iteration, call);
        EXPECT_EQ(brain.stagnation_count, call == 1 ? 0 : (call - 1) % 6) << "call " << call;
        EXPECT_EQ(brain.last_energy, -1.0);
    }
}

// When every added gate moves the energy by at least the tolerance, the call after an addition
// resets the count and the next CX comes 7 calls later.
TEST(BrainDecision, EnergyMovingAfterEachAdditionSpacesAdditionsBySeven) {
    NeuralZarnikBrain brain = quiet_brain();
    const ZarnikGraph graph(2);
    double energy = -1.0;
    std::vector<std::uint64_t> additions;
    for (std::uint64_t call = 1; call <= 30; ++call) {
        if (std::holds_alternative<AddGate>(brain.evaluate_and_evolve(graph, energy, 0.0))) {
            additions.push_back(call);
            energy += 0.01;
        }
    }
    EXPECT_EQ(additions, (std::vector<std::uint64_t>{7, 14, 21, 28}));
}

struct DecisionCase {
    const char* name;
    ZarnikGraph graph;
    double energy;
    StrategyAction expected;
};

// One call on a brain that has already seen energy 0.5 once (stagnation_count 0): the decision
// must not depend on anything else.
TEST(BrainDecision, SingleCallTable) {
    const Operation cx = op(GateType::of(GateKind::CX), {0, 1});
    const Operation h = op(GateType::of(GateKind::H), {0});
    const std::vector<DecisionCase> cases = {
        {"energy equal to target converges", graph_of(2, {}), TARGET, Converged{}},
        {"energy below target converges", graph_of(2, {}), -2.0, Converged{}},
        {"-inf converges", graph_of(2, {}), -INF, Converged{}},
        {"target beats pruning", graph_of(2, {op(GateType::rx(5e-5), {0}, {5e-5})}), TARGET,
         Converged{}},
        {"NaN never converges", graph_of(2, {}), NAN_VALUE, NoChange{}},
        {"param 0 kept", graph_of(2, {op(GateType::rx(0.0), {0}, {0.0})}), 0.5, NoChange{}},
        {"param 1e-10 kept", graph_of(2, {op(GateType::rx(1e-10), {0}, {1e-10})}), 0.5, NoChange{}},
        {"param -1e-10 kept", graph_of(2, {op(GateType::ry(0), {0}, {-1e-10})}), 0.5, NoChange{}},
        {"param at threshold kept", graph_of(2, {op(GateType::rz(1e-4), {0}, {1e-4})}), 0.5,
         NoChange{}},
        {"param NaN kept", graph_of(2, {op(GateType::rx(0), {0}, {NAN_VALUE})}), 0.5, NoChange{}},
        {"param just above 1e-10 pruned", graph_of(2, {op(GateType::rx(0), {0}, {1.0000001e-10})}),
         0.5, RemoveGate{0}},
        {"negative small param pruned", graph_of(2, {op(GateType::rz(0), {0}, {-5e-5})}), 0.5,
         RemoveGate{0}},
        {"lowest position wins",
         graph_of(2, {cx, h, op(GateType::rx(5e-5), {0}, {5e-5}), cx,
                      op(GateType::ry(-3e-5), {1}, {-3e-5})}),
         0.5, RemoveGate{2}},
        {"rotation without params pruned by its angle",
         graph_of(2, {cx, op(GateType::rx(2e-5), {0})}), 0.5, RemoveGate{1}},
        {"params[0] decides over the angle", graph_of(2, {op(GateType::rx(2e-5), {0}, {0.5})}), 0.5,
         NoChange{}},
        {"only params[0] is looked at", graph_of(2, {op(GateType::rx(0.5), {0}, {0.5, 5e-5})}), 0.5,
         NoChange{}},
        {"non-rotation with params pruned", graph_of(2, {op(h.gate, {0}, {5e-5})}), 0.5,
         RemoveGate{0}},
        {"non-rotation angle never read", graph_of(2, {op(GateType{GateKind::CX, 5e-5}, {0, 1})}),
         0.5, NoChange{}},
        {"negative angle pruned", graph_of(2, {op(GateType::rz(-2e-5), {1})}), 0.5, RemoveGate{0}},
    };
    for (const DecisionCase& c : cases) {
        SCOPED_TRACE(c.name);
        NeuralZarnikBrain brain = quiet_brain();
        brain.evaluate_and_evolve(ZarnikGraph(2), 0.5, 0.0);
        const StrategyAction action = brain.evaluate_and_evolve(c.graph, c.energy, 0.0);
        EXPECT_EQ(describe(action), describe(c.expected));
        EXPECT_EQ(brain.iteration, 2u);
        if (std::holds_alternative<Converged>(action) ||
            std::holds_alternative<RemoveGate>(action)) {
            // Only the stagnation test touches the stagnation memory.
            EXPECT_EQ(brain.last_energy, 0.5);
            EXPECT_EQ(brain.stagnation_count, 0u);
        }
    }
}

TEST(BrainDecision, ConvergedAndRemoveGateLeaveTheStagnationMemoryAlone) {
    NeuralZarnikBrain brain = quiet_brain();
    const ZarnikGraph empty(2);
    const ZarnikGraph prunable = graph_of(2, {op(GateType::rx(5e-5), {0}, {5e-5})});
    for (int call = 0; call < 4; ++call) {
        brain.evaluate_and_evolve(empty, -1.0, 0.0);
    }
    ASSERT_EQ(brain.stagnation_count, 3u);
    EXPECT_EQ(describe(brain.evaluate_and_evolve(prunable, 7.0, 0.0)), describe(RemoveGate{0}));
    EXPECT_EQ(describe(brain.evaluate_and_evolve(empty, -5.0, 0.0)), describe(Converged{}));
    EXPECT_EQ(brain.stagnation_count, 3u);
    EXPECT_EQ(brain.last_energy, -1.0);
    EXPECT_EQ(brain.iteration, 6u);
    // Calls 5 and 6 did not count, so the CX comes after three more stagnant tests.
    EXPECT_EQ(describe(brain.evaluate_and_evolve(empty, -1.0, 0.0)), "NoChange");
    EXPECT_EQ(describe(brain.evaluate_and_evolve(empty, -1.0, 0.0)), "NoChange");
    EXPECT_EQ(describe(brain.evaluate_and_evolve(empty, -1.0, 0.0)), describe(ADD_CX));
}

// Energies as a sequence, with stagnation_count after each call; the tolerance is strict and
// is a constant of its own, independent of the prune threshold.
TEST(BrainDecision, StagnationSequences) {
    struct Sequence {
        const char* name;
        double prune;
        std::vector<double> energies;
        std::vector<std::uint64_t> counts;
    };
    const std::vector<Sequence> sequences = {
        {"change of exactly 1e-4 resets", PRUNE, {0.0, 1e-4, 1e-4}, {0, 0, 1}},
        {"change just below 1e-4 counts", PRUNE, {0.0, 0.99e-4, 0.0}, {0, 1, 2}},
        {"tolerance ignores the prune threshold", 10.0, {0.0, 0.5, 0.5}, {0, 0, 1}},
        {"largest finite energy counts as stagnant on call 1",
         PRUNE,
         {MAX_FINITE, MAX_FINITE},
         {1, 2}},
        {"NaN resets twice, then works",
         PRUNE,
         {1.0, 1.0, NAN_VALUE, 1.0, 1.0, 1.0},
         {0, 1, 0, 0, 1, 2}},
        {"NaN after NaN", PRUNE, {NAN_VALUE, NAN_VALUE, 2.0, 2.0}, {0, 0, 0, 1}},
        {"inf energies", PRUNE, {INF, INF, 1.0}, {0, 0, 0}},
    };
    for (const Sequence& s : sequences) {
        SCOPED_TRACE(s.name);
        NeuralZarnikBrain brain = quiet_brain(s.prune, -10.0);
        for (std::size_t call = 0; call < s.energies.size(); ++call) {
            brain.evaluate_and_evolve(ZarnikGraph(2), s.energies[call], 0.0);
            EXPECT_EQ(brain.stagnation_count, s.counts[call]) << "call " << call + 1;
            // Every stagnation test stores its energy, NaN included.
            if (std::isnan(s.energies[call])) {
                EXPECT_TRUE(std::isnan(brain.last_energy)) << "call " << call + 1;
            } else {
                EXPECT_EQ(brain.last_energy, s.energies[call]) << "call " << call + 1;
            }
        }
    }
}

TEST(BrainDecision, OneQubitCircuitNeverGetsCx) {
    NeuralZarnikBrain brain = quiet_brain();
    const ZarnikGraph graph(1);
    for (std::uint64_t call = 1; call <= 40; ++call) {
        EXPECT_EQ(describe(brain.evaluate_and_evolve(graph, -1.0, 0.0)), "NoChange");
        EXPECT_EQ(brain.stagnation_count, call - 1);
    }
    // The count keeps its value; a two-qubit circuit now gets the CX at once.
    EXPECT_EQ(describe(brain.evaluate_and_evolve(ZarnikGraph(2), -1.0, 0.0)), describe(ADD_CX));
    EXPECT_EQ(brain.stagnation_count, 0u);
}

TEST(BrainDecision, EntropyHasNoEffect) {
    const std::vector<double> entropies = {0.0, 1.0, 2.0, -3.0, NAN_VALUE, INF, -INF};
    const std::vector<double> energies = {-1.0, -1.0, -0.5, -0.5, -0.5,      -0.5, -0.5,
                                          -0.5, -0.5, -0.5, -2.0, NAN_VALUE, -0.7};
    const ZarnikGraph graph = graph_of(2, {op(GateType::rx(0.3), {0}, {0.3})});
    NeuralZarnikBrain reference = quiet_brain();
    std::vector<std::string> expected;
    for (double e : energies) {
        expected.push_back(describe(reference.evaluate_and_evolve(graph, e, 0.0)));
    }
    for (double entropy : entropies) {
        SCOPED_TRACE(entropy);
        NeuralZarnikBrain brain = quiet_brain();
        for (std::size_t call = 0; call < energies.size(); ++call) {
            EXPECT_EQ(describe(brain.evaluate_and_evolve(graph, energies[call], entropy)),
                      expected[call]);
        }
        EXPECT_EQ(brain.iteration, reference.iteration);
        EXPECT_EQ(brain.stagnation_count, reference.stagnation_count);
        EXPECT_EQ(brain.last_energy, reference.last_energy);
    }
}

// ---------------------------------------------------------------------------------------------
// SPSA step

// An energy callable that records every probe and answers from a rule.
struct RecordingEnergy {
    std::vector<std::vector<double>>* probes;
    std::function<double(std::size_t call, std::span<const double> values)> rule;

    double operator()(std::span<const double> values) const {
        probes->emplace_back(values.begin(), values.end());
        return rule(probes->size() - 1, values);
    }
};

struct Gains {
    double a;
    double c;
};

// a_k and c_k of the brain's initial constants at step index k.
Gains gains_at(std::uint64_t k) {
    const double big_k = static_cast<double>(k + 1);
    return {0.1 / std::pow(10.0 + big_k, 0.602), 0.1 / std::pow(big_k, 0.101)};
}

// Parameters in flat order.
std::vector<double> flat_params(const ZarnikGraph& graph) {
    std::vector<double> values;
    for (const Operation& o : graph.operations) {
        values.insert(values.end(), o.params.begin(), o.params.end());
    }
    return values;
}

// Rotations, a non-rotation carrying parameters, a gate without parameters and a rotation
// with two parameters; every angle differs from its params[0] so write-back is visible.
ZarnikGraph mixed_circuit() {
    return graph_of(2, {
                           op(GateType::rx(9.0), {0}, {0.5}),
                           op(GateType{GateKind::H, 0.125}, {1}, {0.2, 0.7}),
                           op(GateType::of(GateKind::CX), {0, 1}),
                           op(GateType::ry(-9.0), {1}, {-0.3}),
                           op(GateType::rz(9.0), {0}, {1.5, -2.5}),
                       });
}

double plus_above_minus(std::size_t call, std::span<const double>) {
    return call == 0 ? -1.0 : -1.1;
}

// Properties that hold whatever signs are drawn: two probes, E+ first, mirrored around theta by
// exactly c_k, and every slot moved by -delta * G, with G = a_k (E+ - E-) / (2 c_k).
TEST(BrainSpsa, StepPropertiesHoldForEverySignDraw) {
    const ZarnikGraph original = mixed_circuit();
    const std::vector<double> theta = flat_params(original);
    std::vector<std::vector<double>> deltas;
    for (std::uint64_t k : {0u, 3u, 250u}) {
        for (std::uint64_t seed = 1; seed <= 8; ++seed) {
            SCOPED_TRACE("k " + std::to_string(k) + " seed " + std::to_string(seed));
            NeuralZarnikBrain brain = quiet_brain();
            brain.iteration = k;
            const NeuralZarnikBrain brain_before = brain;
            ZarnikGraph graph = original;
            // One draw per slot in flat order: +1 below 2^63, -1 otherwise.
            random::reseed(seed);
            std::vector<double> drawn(theta.size());
            for (double& sign : drawn) {
                sign = random::next_u64() < (std::uint64_t{1} << 63) ? 1.0 : -1.0;
            }
            std::vector<std::vector<double>> probes;
            random::reseed(seed);
            brain.optimize_parameters(graph, RecordingEnergy{&probes, plus_above_minus});

            ASSERT_EQ(probes.size(), 2u);
            ASSERT_EQ(probes[0].size(), theta.size());
            ASSERT_EQ(probes[1].size(), theta.size());
            const Gains g = gains_at(k);
            const double step = (-1.0 - -1.1) / (g.c + g.c) * g.a;
            const std::vector<double> after = flat_params(graph);
            std::vector<double> delta(theta.size());
            for (std::size_t s = 0; s < theta.size(); ++s) {
                delta[s] = probes[0][s] > theta[s] ? 1.0 : -1.0;
                EXPECT_DOUBLE_EQ(probes[0][s], delta[s] * g.c + theta[s]) << "slot " << s;
                EXPECT_DOUBLE_EQ(probes[1][s], theta[s] - delta[s] * g.c) << "slot " << s;
                EXPECT_DOUBLE_EQ(after[s], theta[s] - delta[s] * step) << "slot " << s;
            }
            // The first probe is theta + c_k delta: E plus comes before E minus.
            EXPECT_EQ(delta, drawn);
            deltas.push_back(delta);

            // Structure kept; rotation angles follow params[0]; other angles untouched.
            ASSERT_EQ(graph.operations.size(), original.operations.size());
            for (std::size_t i = 0; i < graph.operations.size(); ++i) {
                const Operation& now = graph.operations[i];
                const Operation& was = original.operations[i];
                EXPECT_EQ(now.gate.kind, was.gate.kind);
                EXPECT_EQ(now.qubits, was.qubits);
                EXPECT_EQ(now.params.size(), was.params.size());
                if (is_rotation(now.gate.kind)) {
                    // The angle follows params[0], the value the kernels rotate by, however
                    // many parameters the rotation carries.
                    EXPECT_EQ(now.gate.angle, now.params.front()) << "operation " << i;
                } else {
                    EXPECT_EQ(now.gate.angle, was.gate.angle) << "operation " << i;
                }
            }
            // The step reads the brain and writes nothing into it.
            EXPECT_EQ(brain.iteration, brain_before.iteration);
            EXPECT_EQ(brain.last_energy, brain_before.last_energy);
        }
    }
    // Signs really are drawn: not every draw points the same way.
    bool varied = false;
    for (const std::vector<double>& d : deltas) {
        varied = varied || d != deltas.front();
    }
    EXPECT_TRUE(varied);
}

double by_probe_value(std::size_t, std::span<const double> values) {
    return values[0] > 0.5 ? -1.0 : -1.1;
}

// One parameter 0.5 at k = 0: c_0 = 0.1, so the probes are 0.6 and 0.4 (in the order the sign
// dictates); with E(0.6) = -1.0 and E(0.4) = -1.1, g * delta = 0.5 and the value becomes
// 0.5 - 0.5 a_0 for either sign.
TEST(BrainSpsa, WorkedStepAtIterationZero) {
    for (const GateType gate : {GateType::rx(0.5), GateType::ry(0.5), GateType::rz(0.5)}) {
        for (std::uint64_t seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(debug_text(gate) + " seed " + std::to_string(seed));
            const NeuralZarnikBrain brain = quiet_brain();
            ZarnikGraph graph = graph_of(2, {op(gate, {0}, {0.5})});
            std::vector<std::vector<double>> probes;
            random::reseed(seed);
            brain.optimize_parameters(graph, RecordingEnergy{&probes, by_probe_value});
            ASSERT_EQ(probes.size(), 2u);
            EXPECT_DOUBLE_EQ(std::fabs(probes[0][0] - 0.5), 0.1);
            EXPECT_DOUBLE_EQ(probes[0][0] + probes[1][0], 1.0);
            const double a0 = 0.1 / std::pow(11.0, 0.602);
            EXPECT_DOUBLE_EQ(graph.operations[0].params[0], 0.5 - 0.5 * a0);
            EXPECT_EQ(graph.operations[0].gate.angle, graph.operations[0].params[0]);
        }
    }
}

double constant_energy(std::size_t, std::span<const double>) {
    return -0.75;
}

TEST(BrainSpsa, EqualProbeEnergiesKeepEveryValue) {
    // Angles equal to params[0], so the write-back of unchanged values changes nothing.
    const ZarnikGraph original = graph_of(
        2, {op(GateType::rx(0.5), {0}, {0.5}), op(GateType::of(GateKind::H), {1}, {0.2}),
            op(GateType::rz(-1.5), {1}, {-1.5}), op(GateType::of(GateKind::SX), {0}, {3.0, -4.0})});
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        ZarnikGraph graph = original;
        std::vector<std::vector<double>> probes;
        random::reseed(seed);
        quiet_brain().optimize_parameters(graph, RecordingEnergy{&probes, constant_energy});
        EXPECT_EQ(probes.size(), 2u);
        EXPECT_EQ(graph, original) << "seed " << seed;
    }
}

TEST(BrainSpsa, CircuitWithoutParametersIsLeftAloneWithoutDrawsOrEvaluations) {
    const std::vector<ZarnikGraph> circuits = {
        ZarnikGraph(2),
        graph_of(2, {op(GateType::of(GateKind::CX), {0, 1}), op(GateType::rx(0.3), {0})}),
    };
    for (const ZarnikGraph& original : circuits) {
        random::reseed(42);
        const std::uint64_t first_draw = random::next_u64();
        random::reseed(42);
        ZarnikGraph graph = original;
        std::vector<std::vector<double>> probes;
        quiet_brain().optimize_parameters(graph, RecordingEnergy{&probes, constant_energy});
        EXPECT_TRUE(probes.empty());
        EXPECT_EQ(graph, original);
        EXPECT_EQ(random::next_u64(), first_draw);
    }
}

// A step gain that is not finite leaves every parameter and angle as it was.
TEST(BrainSpsa, NonFiniteStepLeavesEverythingUnchanged) {
    struct EnergyPair {
        const char* name;
        double plus;
        double minus;
    };
    const std::vector<EnergyPair> pairs = {
        {"NaN first", NAN_VALUE, -1.0}, {"NaN second", -1.0, NAN_VALUE},
        {"inf first", INF, -1.0},       {"-inf second", -1.0, -INF},
        {"inf both", INF, INF},         {"difference overflows", MAX_FINITE, -MAX_FINITE},
    };
    const ZarnikGraph original = mixed_circuit();
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        SCOPED_TRACE(pairs[p].name);
        ZarnikGraph graph = original;
        std::vector<std::vector<double>> probes;
        random::reseed(p + 1);
        const EnergyPair pair = pairs[p];
        quiet_brain().optimize_parameters(
            graph, RecordingEnergy{&probes, [pair](std::size_t call, std::span<const double>) {
                                       return call == 0 ? pair.plus : pair.minus;
                                   }});
        EXPECT_EQ(probes.size(), 2u);
        EXPECT_EQ(graph, original);
    }
}

}  // namespace
}  // namespace zel
