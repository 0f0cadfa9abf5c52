// The core's dispatch on one block of a register whose high qubits are fixed, as a distributed
// state runs the kinds from U on: every block of a register takes the same decision, a block
// that runs the operation ends bitwise as the same slice of the whole state, and a block that
// declines is left untouched.

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/detail/kernels.hpp"
#include "zel/core/gate_table.hpp"
#include "zel/core/state.hpp"

#include "support/placement.hpp"

namespace zel {
namespace {

using Amplitude = std::complex<double>;

constexpr std::uint64_t QUBITS = 5;

// Every kind from U on at every placement on QUBITS qubits, with sample parameters; the
// variable kinds as two-qubit Pauli rotations and unitaries and as excitations.
std::vector<Operation> every_operation() {
    std::vector<Operation> ops;
    for (std::size_t k = ORIGINAL_KIND_COUNT; k < GATE_KIND_COUNT; ++k) {
        const GateInfo& info = GATE_TABLE[k];
        if (info.variable_qubits) {
            continue;
        }
        std::vector<double> params;
        for (std::size_t j = 0; j < info.param_count; ++j) {
            params.push_back(0.3 + 0.7 * static_cast<double>(j));
        }
        for (const test::Qubits& qubits : test::every_placement(info.arity, QUBITS)) {
            ops.push_back(make_operation(info.kind, qubits, params));
        }
    }
    const double c = std::cos(0.6);
    const double s = std::sin(0.6);
    for (const test::Qubits& q : test::every_placement(2, QUBITS)) {
        ops.push_back(pauli_rotation("XZ", q, 0.9));
        ops.push_back(pauli_rotation("ZY", q, -0.4));
        ops.push_back(unitary(q, {c, 0, 0, -s, 0, c, s, 0, 0, -s, c, 0, s, 0, 0, c}));
    }
    for (const std::size_t orbitals : {2U, 4U}) {
        for (const test::Qubits& q : test::every_placement(orbitals, QUBITS)) {
            const std::span<const std::uint64_t> from(q.data(), orbitals / 2);
            const std::span<const std::uint64_t> to(q.data() + orbitals / 2, orbitals / 2);
            ops.push_back(fermionic_excitation(from, to, 0.7));
            ops.push_back(qubit_excitation(from, to, -0.4));
        }
    }
    return ops;
}

std::string describe(const Operation& op) {
    std::string text = debug_text(op.gate) + " on";
    for (const std::uint64_t q : op.qubits) {
        text += " " + std::to_string(q);
    }
    return text;
}

ZarnikState sample_state() {
    ZarnikState state(QUBITS);
    std::span<Amplitude> a = state.amplitudes_mut();
    for (std::size_t j = 0; j < a.size(); ++j) {
        const auto x = static_cast<double>(j);
        a[j] = Amplitude(std::sin(0.7 * x + 1.0), std::cos(1.3 * x));
    }
    return state;
}

bool same_bits(const Amplitude* a, const Amplitude* b, std::uint64_t count) {
    return std::memcmp(a, b, static_cast<std::size_t>(count) * sizeof(Amplitude)) == 0;
}

TEST(BlockDispatch, BlocksAgreeAndMatchTheWholeState) {
    const ZarnikState start = sample_state();
    for (const Operation& op : every_operation()) {
        ZarnikState whole = start;
        whole.apply(op);
        for (std::uint64_t local = 1; local <= QUBITS; ++local) {
            const std::uint64_t size = std::uint64_t{1} << local;
            bool first_decision = false;
            for (std::uint64_t b = 0; b < (std::uint64_t{1} << (QUBITS - local)); ++b) {
                const Amplitude* before = start.amplitudes().data() + b * size;
                std::vector<Amplitude> block(before, before + size);
                const bool ran = detail::apply_checked_on_block(block.data(), local, b, op);
                if (b == 0) {
                    first_decision = ran;
                }
                const Amplitude* expected = ran ? whole.amplitudes().data() + b * size : before;
                EXPECT_EQ(ran, first_decision) << describe(op) << ", block " << b;
                EXPECT_TRUE(same_bits(block.data(), expected, size))
                    << describe(op) << ", " << local << " local qubits, block " << b;
            }
            // With every qubit local there is one block, the whole state, and it always runs.
            if (local == QUBITS) {
                EXPECT_TRUE(first_decision) << describe(op);
            }
        }
    }
}

}  // namespace
}  // namespace zel
