// The circuit model: the gate table, append, removal, deep copies, debug texts, the flat
// parameter order and validation.

#include "zel/core/circuit.hpp"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
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

// The flat parameter order is the one with_parameters and the optimisers use: operations in
// order, each one's params in order; writing back syncs every rotation's angle to params[0].
TEST(CoreCircuitParameters, ReadAndWriteInFlatOrder) {
    ZarnikGraph circuit(2);
    circuit.add_gate(GateType::rx(0.5), {0});
    circuit.add_gate(GateType::of(GateKind::CX), {0, 1});
    circuit.add_gate_with_params(GateType::ry(9.0), {1}, {0.25, 0.75});
    circuit.add_gate_with_params(GateType::of(GateKind::H), {1}, {-2.0});
    EXPECT_EQ(circuit.operations[0].params, (std::vector<double>{0.5}));
    EXPECT_TRUE(circuit.operations[1].params.empty());
    EXPECT_EQ(parameters(circuit), (std::vector<double>{0.5, 0.25, 0.75, -2.0}));
    EXPECT_EQ(parameter_count(circuit), 4u);

    struct Row {
        std::vector<double> values;
        std::vector<double> expected;
    };
    for (const Row& row : {Row{{}, {0.5, 0.25, 0.75, -2.0}}, Row{{1.0, 2.0}, {1.0, 2.0, 0.75, -2.0}},
                           Row{{1, 2, 3, 4, 5, 6}, {1, 2, 3, 4}}}) {
        ZarnikGraph copy = circuit;
        set_parameters(copy, row.values);
        EXPECT_EQ(parameters(copy), row.expected);
        // Rotations take params[0] as their angle, the RY whose angle was 9 included.
        EXPECT_EQ(copy.operations[0].gate.angle, row.expected[0]);
        EXPECT_EQ(copy.operations[2].gate.angle, row.expected[1]);
        EXPECT_EQ(copy.operations[3].gate.angle, 0.0);
    }
}

TEST(CoreCircuitValidate, ListsWhatTheFixedRulesAcceptSilently) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        std::string name;
        std::uint64_t circuit_qubits;
        std::vector<Operation> operations;
        std::uint64_t register_qubits;
        std::vector<std::pair<Finding, std::size_t>> expected;
    };
    const std::size_t whole = ValidationIssue::WHOLE_CIRCUIT;
    const std::vector<Row> rows = {
        {"clean", 2, {{GateType::rx(0.5), {0}, {0.5}}, {GateType::of(GateKind::CX), {0, 1}, {}}},
         2, {}},
        {"qubit_at_n", 2, {{GateType::of(GateKind::Z), {2}, {}}}, 2,
         {{Finding::QubitOutOfRange, 0}}},
        {"both_qubits_out", 2, {{GateType::of(GateKind::CZ), {5, 7}, {}}}, 2,
         {{Finding::QubitOutOfRange, 0}, {Finding::QubitOutOfRange, 0}}},
        {"extra_entries_ignored", 2, {{GateType::of(GateKind::X), {0, 9}, {}}}, 2, {}},
        {"missing", 2, {{GateType::of(GateKind::H), {}, {}}, {GateType::of(GateKind::SWAP), {1}, {}}},
         2, {{Finding::MissingQubits, 0}, {Finding::MissingQubits, 1}}},
        {"identity_without_qubits", 2, {{GateType::of(GateKind::I), {}, {}}}, 2,
         {{Finding::MissingQubits, 0}}},
        {"repeated", 2, {{GateType::of(GateKind::CX), {1, 1}, {}}}, 2,
         {{Finding::RepeatedQubits, 0}}},
        {"param_differs", 2, {{GateType::rz(1.0), {0}, {0.5}}}, 2,
         {{Finding::ParameterDiffersFromAngle, 0}}},
        {"negative_zero_differs", 2, {{GateType::rz(0.0), {0}, {-0.0}}}, 2,
         {{Finding::ParameterDiffersFromAngle, 0}}},
        {"rotation_without_params", 2, {{GateType::ry(1.0), {0}, {}}}, 2, {}},
        {"non_finite", 2, {{GateType::rx(nan), {0}, {}}, {GateType::ry(0.0), {1}, {0.0, nan}}}, 2,
         {{Finding::NonFiniteAngle, 0}, {Finding::NonFiniteAngle, 1}}},
        {"count_mismatch", 3, {{GateType::of(GateKind::X), {2}, {}}}, 2,
         {{Finding::QubitCountMismatch, whole}, {Finding::QubitOutOfRange, 0}}},
    };
    for (const Row& row : rows) {
        ZarnikGraph circuit(row.circuit_qubits);
        circuit.operations = row.operations;
        const ZarnikGraph before = circuit;
        const std::vector<ValidationIssue> issues = validate(circuit, row.register_qubits);
        std::vector<std::pair<Finding, std::size_t>> found;
        for (const ValidationIssue& issue : issues) {
            found.emplace_back(issue.finding, issue.operation);
            EXPECT_FALSE(issue.message.empty());
        }
        EXPECT_EQ(found, row.expected) << row.name;
        // Nothing changes (compared bit for bit, since NaN angles are not equal to themselves).
        ASSERT_EQ(circuit.operations.size(), before.operations.size());
        for (std::size_t i = 0; i < circuit.operations.size(); ++i) {
            const Operation& now = circuit.operations[i];
            const Operation& was = before.operations[i];
            EXPECT_EQ(bits_of(now.gate.angle), bits_of(was.gate.angle)) << row.name;
            EXPECT_EQ(now.qubits, was.qubits) << row.name;
            ASSERT_EQ(now.params.size(), was.params.size()) << row.name;
            for (std::size_t j = 0; j < now.params.size(); ++j) {
                EXPECT_EQ(bits_of(now.params[j]), bits_of(was.params[j])) << row.name;
            }
        }
    }
    const auto issues = validate(
        [] {
            ZarnikGraph c(2);
            c.add_gate_with_params(GateType::rz(1.0), {0}, {0.5});
            return c;
        }(),
        2);
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].message, "operation 0 (RZ(1.0)): rotates by params[0] = 0.5 but exports "
                                 "its angle 1.0");
}

}  // namespace
}  // namespace zel::test
