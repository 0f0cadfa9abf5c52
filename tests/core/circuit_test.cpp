// The circuit model: the gate table, append, removal, deep copies and debug texts.

#include "zel/core/circuit.hpp"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/errors.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

TEST(CoreCircuit, EmptyCircuitHasNoGatesAndCopiesEmpty) {
    const ZarnikGraph circuit(2);
    EXPECT_EQ(circuit.num_qubits, 2u);
    EXPECT_EQ(circuit.gate_count(), 0u);
    EXPECT_FALSE(circuit.has_parameters());
    const ZarnikGraph copy = circuit;
    EXPECT_EQ(copy.num_qubits, 2u);
    EXPECT_EQ(copy.gate_count(), 0u);
}

// The arrays are taken over, not copied, and nothing is validated.
TEST(CoreCircuit, AppendStoresExactlyWhatIsGivenAtTheEnd) {
    ZarnikGraph circuit(2);
    std::vector<std::uint64_t> qubits = {0, 1};
    std::vector<double> params = {0.5, 0.25};
    const std::uint64_t* qubit_storage = qubits.data();
    const double* param_storage = params.data();
    circuit.add_gate_with_params(GateType::of(GateKind::CX), {}, {});
    circuit.add_gate_with_params(GateType::rx(0.5), std::move(qubits), std::move(params));
    ASSERT_EQ(circuit.gate_count(), 2u);
    const Operation& op = circuit.operations[1];
    EXPECT_EQ(op.gate, GateType::rx(0.5));
    EXPECT_EQ(op.qubits.data(), qubit_storage);
    EXPECT_EQ(op.params.data(), param_storage);
    EXPECT_EQ(op.params, (std::vector<double>{0.5, 0.25}));
    EXPECT_TRUE(circuit.operations[0].qubits.empty());  // malformed, still stored

    circuit.add_gate_with_params(GateType::ry(1.0), {7}, {});
    EXPECT_EQ(circuit.gate_count(), 3u);
    EXPECT_EQ(circuit.operations[2], (Operation{GateType::ry(1.0), {7}, {}}));
}

// Parameters are a non-empty params array, whatever the kind.
TEST(CoreCircuit, HasParametersFollowsParamsNotKind) {
    ZarnikGraph rotations(1);
    rotations.add_gate_with_params(GateType::rx(0.3), {0}, {});
    EXPECT_FALSE(rotations.has_parameters());
    ZarnikGraph other(1);
    other.add_gate_with_params(GateType::of(GateKind::X), {0}, {1.0});
    EXPECT_TRUE(other.has_parameters());
}

TEST(CoreCircuit, RemovalKeepsTheOrderOfTheRest) {
    ZarnikGraph one(2);
    one.add_gate_with_params(GateType::of(GateKind::H), {0}, {});
    one.remove_operation(0);
    EXPECT_EQ(one.gate_count(), 0u);

    ZarnikGraph three(2);
    three.add_gate_with_params(GateType::of(GateKind::H), {0}, {});
    three.add_gate_with_params(GateType::rx(0.5), {1}, {0.5});
    three.add_gate_with_params(GateType::of(GateKind::CX), {0, 1}, {});
    ZarnikGraph expected(2);
    expected.operations = {three.operations[0], three.operations[2]};
    three.remove_operation(1);
    EXPECT_EQ(three, expected);
    three.remove_operation(1);
    three.remove_operation(0);
    EXPECT_EQ(three.gate_count(), 0u);
}

TEST(CoreCircuit, RemovalAtOrBeyondTheGateCountThrowsAndKeepsTheCircuit) {
    ZarnikGraph circuit(2);
    for (int k = 0; k < 3; ++k) {
        circuit.add_gate_with_params(GateType::of(GateKind::X), {0}, {});
    }
    const ZarnikGraph before = circuit;
    EXPECT_TRUE(throws_bounds(
        [&] {
            circuit.remove_operation(3);
        },
        3, 3));
    EXPECT_EQ(circuit, before);
    ZarnikGraph empty(1);
    EXPECT_TRUE(throws_bounds(
        [&] {
            empty.remove_operation(0);
        },
        0, 0));
}

TEST(CoreCircuit, DeepCopyIsIndependentAndExactlySized) {
    ZarnikGraph source(3);
    std::vector<double> roomy;
    roomy.reserve(16);
    roomy.push_back(0.5);
    source.add_gate_with_params(GateType::rx(0.5), {2}, std::move(roomy));
    source.add_gate_with_params(GateType::of(GateKind::CX), {0, 1}, {});
    const ZarnikGraph before = source;

    ZarnikGraph copy = source;
    EXPECT_EQ(copy, source);
    EXPECT_EQ(copy.operations[0].params.capacity(), 1u);
    EXPECT_NE(copy.operations[0].params.data(), source.operations[0].params.data());
    EXPECT_NE(copy.operations[1].qubits.data(), source.operations[1].qubits.data());
    copy.operations[0].params[0] = 2.0;
    copy.operations[0].gate.angle = 2.0;
    copy.operations[1].qubits[1] = 2;
    copy.add_gate_with_params(GateType::of(GateKind::Z), {0}, {});
    EXPECT_EQ(source, before);
    EXPECT_EQ(source.operations[0].params[0], 0.5);
    EXPECT_EQ(source.operations[0].gate.angle, 0.5);
}

TEST(CoreCircuit, DebugTextOfEveryKindAndAngleForm) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<GateType, std::string>> cases = {
        {GateType::of(GateKind::I), "I"},
        {GateType::of(GateKind::X), "X"},
        {GateType::of(GateKind::Y), "Y"},
        {GateType::of(GateKind::Z), "Z"},
        {GateType::of(GateKind::H), "H"},
        {GateType::of(GateKind::S), "S"},
        {GateType::of(GateKind::SX), "SX"},
        {GateType::of(GateKind::T), "T"},
        {GateType::of(GateKind::CX), "CX"},
        {GateType::of(GateKind::CZ), "CZ"},
        {GateType::of(GateKind::SWAP), "SWAP"},
        {GateType{GateKind::CX, 0.5}, "CX"},  // the angle of other kinds is never read
        {GateType::rx(0.5), "RX(0.5)"},
        {GateType::rz(1.0), "RZ(1.0)"},
        {GateType::ry(-0.25), "RY(-0.25)"},
        {GateType::rx(1e-5), "RX(1e-5)"},
        {GateType::rx(0.0), "RX(0.0)"},
        {GateType::ry(-0.0), "RY(-0.0)"},
        {GateType::rz(2.5e-7), "RZ(2.5e-7)"},
        {GateType::rz(1e16), "RZ(1e16)"},
        {GateType::rx(0.0001), "RX(0.0001)"},
        {GateType::rx(3.141592653589793), "RX(3.141592653589793)"},
        {GateType::ry(std::numeric_limits<double>::quiet_NaN()), "RY(NaN)"},
        {GateType::rz(inf), "RZ(inf)"},
        {GateType::rz(-inf), "RZ(-inf)"},
    };
    for (const auto& [gate, text] : cases) {
        EXPECT_EQ(debug_text(gate), text);
    }
}

}  // namespace
}  // namespace zel::test
