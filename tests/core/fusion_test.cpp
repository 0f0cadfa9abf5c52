// Gate fusion against the exact per-gate path: random circuits of every kind on 1 to 20 qubits
// and every block size, the operations the blocks cannot hold, the block structure, the
// failures, and fused evaluation.

#include "zel/core/fusion.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"

#include "support/errors.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

/// Fused and exact amplitudes of normalised states agree to this, per part.
constexpr double FUSED_TOLERANCE = 1e-13;

// A random circuit of `gates` operations of all fourteen kinds on qubits below n (distinct for
// two-qubit kinds), rotations with their angle as parameter.
ZarnikGraph random_circuit(std::uint64_t n, std::size_t gates, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> angle(-4.0, 4.0);
    ZarnikGraph circuit(n);
    for (std::size_t g = 0; g < gates; ++g) {
        const GateInfo& info = GATE_TABLE[rng() % ORIGINAL_KIND_COUNT];
        if (info.arity == 2 && n < 2) {
            continue;
        }
        const std::uint64_t a = rng() % n;
        std::uint64_t b = rng() % n;
        while (info.arity == 2 && b == a) {
            b = rng() % n;
        }
        std::vector<std::uint64_t> qubits = {a};
        if (info.arity == 2) {
            qubits.push_back(b);
        }
        circuit.add_gate(GateType{info.kind, angle(rng)}, qubits);
    }
    return circuit;
}

::testing::AssertionResult close_amplitudes(const ZarnikState& fused, const ZarnikState& exact) {
    const auto a = fused.amplitudes();
    const auto b = exact.amplitudes();
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (!(std::abs(a[k].real() - b[k].real()) <= FUSED_TOLERANCE) ||
            !(std::abs(a[k].imag() - b[k].imag()) <= FUSED_TOLERANCE)) {
            return ::testing::AssertionFailure()
                   << "amplitude " << k << ": fused " << a[k] << ", exact " << b[k];
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(CoreFusion, RandomCircuitsMatchTheExactPath) {
    std::mt19937_64 rng(SEED + 71);
    for (std::uint64_t n : {1, 2, 3, 5, 8, 12, 16, 20}) {
        for (unsigned k = 2; k <= MAX_FUSED_QUBITS; ++k) {
            if (n > 16 && k % 2 == 1) {
                continue;  // keep the largest registers to a few block sizes
            }
            SCOPED_TRACE(::testing::Message() << "n=" << n << " k=" << k);
            const ZarnikGraph circuit = random_circuit(n, n > 16 ? 60 : 150, rng);
            const Vector start = random_state(n, rng);
            ZarnikState exact = make_state(start);
            apply_circuit(exact, circuit);
            ZarnikState fused = make_state(start);
            const FusedCircuit blocks = fuse(circuit, n, k);
            apply_fused(fused, blocks);
            EXPECT_TRUE(close_amplitudes(fused, exact));
        }
    }
}

// The qubits (as local bit positions) whose value some entry of the block's matrix changes.
std::size_t mixed_count(const FusedStep& step) {
    const std::size_t d = std::size_t{1} << step.qubits.size();
    std::size_t mask = 0;
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            if (step.matrix[r * d + c] != Complex{}) {
                mask |= r ^ c;
            }
        }
    }
    return static_cast<std::size_t>(std::popcount(mask));
}

// Every gate lands in exactly one step, every block mixes no more qubits than the limit and acts
// on no more than MAX_FUSED_QUBITS, and a block's qubits are ascending and distinct.
TEST(CoreFusion, BlocksHoldEveryGateWithinTheLimit) {
    std::mt19937_64 rng(SEED + 72);
    for (unsigned k : {2U, 3U, 4U, 6U}) {
        ZarnikGraph circuit = random_circuit(10, 200, rng);
        circuit.add_gate(GateType::of(GateKind::I), {3});
        std::size_t identities = 0;
        for (const Operation& op : circuit.operations) {
            identities += op.gate.kind == GateKind::I ? 1 : 0;
        }
        const FusedCircuit fused = fuse(circuit, 10, k);
        std::size_t gates = 0;
        for (const FusedStep& step : fused.steps) {
            gates += step.gates;
            EXPECT_LE(step.qubits.size(), MAX_FUSED_QUBITS);
            EXPECT_TRUE(std::is_sorted(step.qubits.begin(), step.qubits.end()));
            EXPECT_EQ(std::adjacent_find(step.qubits.begin(), step.qubits.end()),
                      step.qubits.end());
            EXPECT_EQ(step.matrix.size(), std::size_t{1} << (2 * step.qubits.size()));
            if (!step.qubits.empty()) {
                EXPECT_LE(mixed_count(step), k);
            }
        }
        EXPECT_EQ(gates + identities, circuit.gate_count()) << k;
        EXPECT_EQ(fused.source_gates, circuit.gate_count());
        EXPECT_LT(fused.steps.size(), circuit.gate_count() / 2) << k;
    }
    // Out-of-range limits are clamped.
    const ZarnikGraph small = random_circuit(8, 40, rng);
    for (const FusedStep& step : fuse(small, 8, 0).steps) {
        EXPECT_LE(mixed_count(step), 2u);
    }
    for (const FusedStep& step : fuse(small, 8, 99).steps) {
        EXPECT_LE(step.qubits.size(), MAX_FUSED_QUBITS);
    }
}

// Blocks whose shape takes each of the kernel's paths: qubits that are only phased or
// controlled on, among them qubit 0 or the bit next to the mixed ones; qubit 0 mixed; a block
// that mixes nothing; mixed qubits 512 bytes to 32 KiB apart, which the kernel prefetches for.
// Each circuit becomes one block, which agrees with the exact path.
TEST(CoreFusion, BlockShapesAgreeWithTheExactPath) {
    struct Shape {
        const char* name;
        std::vector<std::pair<GateKind, std::vector<std::uint64_t>>> gates;
    };
    const std::vector<Shape> shapes = {
        {"phases and controls on qubit 0",
         {{GateKind::RZ, {0}},
          {GateKind::H, {3}},
          {GateKind::CX, {0, 3}},
          {GateKind::T, {0}},
          {GateKind::RX, {9}},
          {GateKind::CX, {3, 9}}}},
        {"a control next to the mixed qubits",
         {{GateKind::H, {0}},
          {GateKind::CX, {1, 0}},
          {GateKind::RZ, {1}},
          {GateKind::CZ, {1, 2}},
          {GateKind::RY, {2}}}},
        {"qubit 0 mixed", {{GateKind::H, {0}}, {GateKind::RX, {7}}, {GateKind::CX, {0, 7}}}},
        {"diagonal only",
         {{GateKind::RZ, {2}}, {GateKind::S, {5}}, {GateKind::CZ, {2, 11}}, {GateKind::Z, {0}}}},
        {"near qubits",
         {{GateKind::H, {5}},
          {GateKind::SX, {9}},
          {GateKind::CX, {5, 9}},
          {GateKind::RZ, {11}},
          {GateKind::CX, {11, 9}},
          {GateKind::Y, {5}}}},
        {"swap and far qubits",
         {{GateKind::SWAP, {6, 15}},
          {GateKind::RX, {15}},
          {GateKind::CZ, {0, 15}},
          {GateKind::RZ, {14}}}},
    };
    std::mt19937_64 rng(SEED + 75);
    const std::uint64_t n = 16;
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        ZarnikGraph circuit(n);
        for (const auto& [kind, qubits] : shape.gates) {
            circuit.add_gate(GateType{kind, 0.3 + 0.1 * static_cast<double>(qubits[0])}, qubits);
        }
        const FusedCircuit fused = fuse(circuit, n, 2);
        ASSERT_EQ(fused.steps.size(), 1u);
        const Vector start = random_state(n, rng);
        ZarnikState exact = make_state(start);
        apply_circuit(exact, circuit);
        ZarnikState result = make_state(start);
        apply_fused(result, fused);
        EXPECT_TRUE(close_amplitudes(result, exact));
    }
}

// Fused circuits are open to callers, so apply_fused checks every step before it changes
// anything.
TEST(CoreFusion, MalformedStepsAreRefusedBeforeAnyChange) {
    const std::uint64_t n = 4;
    ZarnikGraph circuit(n);
    circuit.add_gate(GateType::of(GateKind::H), {0});
    circuit.add_gate(GateType::of(GateKind::CX), {0, 2});
    const FusedCircuit good = fuse(circuit, n);
    ASSERT_EQ(good.steps.size(), 1u);
    const auto block = [](std::vector<std::uint64_t> qubits, std::size_t entries) {
        FusedStep step;
        step.qubits = std::move(qubits);
        step.matrix.assign(entries, Complex{1.0, 0.0});
        step.gates = 1;
        return step;
    };
    FusedStep bad_gate;
    bad_gate.kept = Operation{GateType::of(GateKind::X), {5}, {}};
    const std::vector<std::pair<const char*, FusedStep>> cases = {
        {"qubit outside", block({1, 4}, 16)},
        {"descending", block({2, 1}, 16)},
        {"repeated", block({1, 1}, 16)},
        {"matrix too small", block({0, 1}, 15)},
        {"too many qubits", block({0, 1, 2, 3, 4, 5, 6}, std::size_t{1} << 14)},
        {"kept gate outside", bad_gate},
    };
    for (const auto& [name, step] : cases) {
        SCOPED_TRACE(name);
        FusedCircuit fused = good;
        fused.steps.push_back(step);
        fused.num_qubits = name == std::string("too many qubits") ? 7 : n;
        ZarnikState state(fused.num_qubits);
        const Vector before = amplitudes_of(state);
        EXPECT_THROW(apply_fused(state, fused), Error);
        EXPECT_TRUE(bitwise_equal(state, before));
    }
}

// What the exact kernels do with qubits outside the register or repeated qubits (nothing, or
// RZ's global phase) the fused path does too, by keeping those operations as they are.
TEST(CoreFusion, OperationsNoBlockHoldsKeepTheirExactEffect) {
    std::mt19937_64 rng(SEED + 73);
    const std::uint64_t n = 6;
    ZarnikGraph circuit = random_circuit(n, 30, rng);
    circuit.add_gate(GateType::rz(0.7), {9});
    circuit.add_gate(GateType::of(GateKind::Z), {64});
    circuit.add_gate(GateType::of(GateKind::CX), {2, 2});
    circuit.add_gate(GateType::of(GateKind::CZ), {1, 40});
    circuit.add_gate(GateType::of(GateKind::SWAP), {7, 1});
    circuit.add_gate(GateType::of(GateKind::S), {100});
    const ZarnikGraph tail = random_circuit(n, 30, rng);
    circuit.operations.insert(circuit.operations.end(), tail.operations.begin(),
                              tail.operations.end());
    const Vector start = random_state(n, rng);
    ZarnikState exact = make_state(start);
    apply_circuit(exact, circuit);
    ZarnikState fused = make_state(start);
    apply_fused(fused, fuse(circuit, n));
    EXPECT_TRUE(close_amplitudes(fused, exact));
}

TEST(CoreFusion, FailuresComeBeforeAnyWork) {
    ZarnikGraph circuit(2);
    circuit.add_gate(GateType::of(GateKind::H), {0});
    circuit.add_gate(GateType::of(GateKind::X), {2});
    EXPECT_TRUE(throws_bounds(
        [&] {
            static_cast<void>(fuse(circuit, 2));
        },
        4, 4));
    EXPECT_THROW(static_cast<void>(fuse(ZarnikGraph(70), 70)), InvalidLayout);
    ZarnikState state(3);
    const ZarnikGraph fine = [] {
        ZarnikGraph c(2);
        c.add_gate(GateType::of(GateKind::H), {0});
        return c;
    }();
    const FusedCircuit for_two = fuse(fine, 2);
    EXPECT_THROW(apply_fused(state, for_two), InvalidArgument);
    EXPECT_TRUE(bitwise_equal(state, amplitudes_of(ZarnikState(3))));
}

// Evaluation::Fused fuses from FUSION_FROM_QUBITS qubits on, and is the exact path below.
TEST(CoreFusion, FusedEvaluationAgreesWithTheExactOne) {
    std::mt19937_64 rng(SEED + 74);
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    for (const std::uint64_t n : {std::uint64_t{4}, FUSION_FROM_QUBITS, std::uint64_t{14}}) {
        const ZarnikGraph circuit = random_circuit(n, 80, rng);
        const ZarnikState reference(n);
        const Telemetry exact = evaluate_circuit_telemetry(reference, circuit, h2);
        const Telemetry fused =
            evaluate_circuit_telemetry(reference, circuit, h2, Evaluation::Fused);
        if (n < FUSION_FROM_QUBITS) {
            EXPECT_EQ(bits_of(fused.energy), bits_of(exact.energy));
            EXPECT_EQ(bits_of(fused.entropy), bits_of(exact.entropy));
        } else {
            EXPECT_NEAR(fused.energy, exact.energy, 1e-12) << n;
            EXPECT_NEAR(fused.entropy, exact.entropy, 1e-10) << n;
        }
        EXPECT_TRUE(
            close_amplitudes(run_circuit(circuit, n, Evaluation::Fused), run_circuit(circuit, n)));
        const std::vector<double> values = parameters(circuit);
        EXPECT_NEAR(EnergyFn(circuit, reference, h2, Evaluation::Fused)(values),
                    EnergyFn(circuit, reference, h2)(values), 1e-12);
    }
}

}  // namespace
}  // namespace zel::test
