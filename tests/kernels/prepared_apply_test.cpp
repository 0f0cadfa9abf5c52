// A prepared operation gives the bits of applying the operation itself, for every kind and
// placement, refuses what applying refuses with the same exception, and is refused by a register
// of another size. Every kind's plain loop on registers of up to five qubits gives the kernels'
// bits.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/prepared.hpp"
#include "zel/core/state.hpp"

#include "support/operations.hpp"

namespace zel {
namespace {

using Amplitude = std::complex<double>;

// A state whose amplitudes all differ, so that any change shows; `salt` varies them.
ZarnikState distinct_state(std::uint64_t n, double salt = 0.0) {
    ZarnikState state(n);
    std::span<Amplitude> a = state.amplitudes_mut();
    for (std::size_t j = 0; j < a.size(); ++j) {
        const auto x = static_cast<double>(j) + salt;
        a[j] = Amplitude(std::sin(0.7 * x + 1.0), std::cos(1.3 * x));
    }
    return state;
}

bool same_bits(std::span<const Amplitude> a, std::span<const Amplitude> b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size_bytes()) == 0;
}

std::vector<Operation> every_operation_on(std::uint64_t n) {
    std::vector<Operation> ops = test::original_operations_on(n);
    const std::vector<Operation> checked = test::checked_operations_on(n);
    ops.insert(ops.end(), checked.begin(), checked.end());
    // A Pauli string over the whole register, its qubits in descending order.
    std::string letters;
    std::vector<std::uint64_t> qubits;
    for (std::uint64_t j = 0; j < n; ++j) {
        letters += "XYZ"[j % 3];
        qubits.push_back(n - 1 - j);
    }
    ops.push_back(pauli_rotation(letters, qubits, -0.6));
    ops.push_back(make_operation(GateKind::GPHASE, {}, {0.25}));
    return ops;
}

TEST(PreparedApply, GivesTheBitsOfApplyingTheOperation) {
    // Registers on both sides of the plain loops' limits (4 and 32 amplitudes) and past the
    // pool's lowest grain; each prepared operation applied twice.
    for (const std::uint64_t n : {1, 2, 3, 5, 6, 9}) {
        const ZarnikState start = distinct_state(n);
        for (const Operation& op : every_operation_on(n)) {
            ZarnikState direct = start;
            direct.apply(op);
            direct.apply(op);
            const PreparedOperation prepared(op, n);
            ZarnikState once = start;
            once.apply(prepared);
            once.apply(prepared);
            EXPECT_TRUE(same_bits(direct.amplitudes(), once.amplitudes()))
                << debug_text(op.gate) << " on " << n << " qubits";
            EXPECT_EQ(prepared.operation(), op);
        }
    }
}

TEST(PreparedApply, AMovedFromOneStillApplies) {
    // A move copies: the source keeps its matrix (a UNITARY reads it from its own operation).
    const std::vector<Amplitude> matrix = {Amplitude(0.6, 0.0), Amplitude(0.0, 0.8),
                                           Amplitude(0.0, 0.8), Amplitude(0.6, 0.0)};
    PreparedOperation source(unitary({1}, matrix), 3);
    const PreparedOperation target(std::move(source));
    ZarnikState a = distinct_state(3);
    ZarnikState b = a;
    a.apply(source);  // NOLINT(bugprone-use-after-move): what this test is about
    b.apply(target);
    EXPECT_TRUE(same_bits(a.amplitudes(), b.amplitudes()));
    EXPECT_EQ(source.operation().payload.matrix, matrix);
}

// What applying `op` to a register of `n` qubits throws: its type and message.
struct Refusal {
    std::string type;
    std::string message;
};

Refusal refusal_of(const auto& attempt) {
    try {
        attempt();
    } catch (const std::exception& e) {
        return {typeid(e).name(), e.what()};
    }
    return {};
}

TEST(PreparedApply, RefusesWhatApplyingRefuses) {
    const std::vector<Amplitude> not_unitary = {Amplitude(1.0, 0.0), Amplitude(1e-9, 0.0),
                                                Amplitude(0.0, 0.0), Amplitude(1.0, 0.0)};
    const std::vector<Operation> refused = {
        Operation{GateType::of(GateKind::H), {2}, {}, {}},
        Operation{GateType::of(GateKind::CX), {0}, {}, {}},
        Operation{GateType::of(GateKind::CX), {0, 7}, {}, {}},
        Operation{GateType::of(GateKind::SWAP), {1, 70}, {}, {}},
        Operation{GateType::of(static_cast<GateKind>(200)), {0}, {}, {}},
        make_operation(GateKind::CCX, {0, 1, 0}),
        make_operation(GateKind::U, {0}, {0.1, 0.2}),
        make_operation(GateKind::CRX, {0, 1}, {std::nan("")}),
        make_operation(GateKind::P, {2}, {0.3}),
        pauli_rotation("XQ", {0, 1}, 0.5),
        unitary({0}, not_unitary),
        // An excitation whose second orbital repeats the first.
        [] {
            Operation op = fermionic_excitation(std::vector<std::uint64_t>{0},
                                                std::vector<std::uint64_t>{1}, 0.5);
            op.qubits[1] = 0;
            return op;
        }(),
    };
    for (const Operation& op : refused) {
        ZarnikState state = distinct_state(2);
        const Refusal by_apply = refusal_of([&] {
            state.apply(op);
        });
        ASSERT_FALSE(by_apply.message.empty()) << debug_text(op.gate);
        const Refusal by_prepare = refusal_of([&] {
            static_cast<void>(PreparedOperation(op, 2));
        });
        EXPECT_EQ(by_prepare.type, by_apply.type) << by_apply.message;
        EXPECT_EQ(by_prepare.message, by_apply.message);
    }
}

TEST(PreparedApply, OnlyARegisterOfItsSizeAppliesIt) {
    const PreparedOperation h(Operation{GateType::of(GateKind::H), {0}, {}, {}}, 3);
    const PreparedOperation ccx(make_operation(GateKind::CCX, {0, 1, 2}), 3);
    struct Case {
        const PreparedOperation* prepared;
        std::uint64_t n;
        std::string message;
    };
    const std::vector<Case> cases = {
        {&h, 2, "H: prepared for a register of 3 qubits, applied to one of 2"},
        {&h, 4, "H: prepared for a register of 3 qubits, applied to one of 4"},
        {&ccx, 5, "CCX: prepared for a register of 3 qubits, applied to one of 5"},
    };
    for (const Case& c : cases) {
        ZarnikState state = distinct_state(c.n);
        const ZarnikState before = state;
        try {
            state.apply(*c.prepared);
            ADD_FAILURE() << "applied: " << c.message;
        } catch (const InvalidArgument& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_TRUE(same_bits(state.amplitudes(), before.amplitudes()));
    }
}

TEST(SmallRegisters, GiveTheKernelsBits) {
    // Up to 32 amplitudes every kind runs a plain loop (uncontrolled pairs up to 4); the same
    // operation on a register five qubits larger runs the kernels, and its amplitudes whose top
    // five bits are clear evolve on their own, from the same values.
    constexpr std::uint64_t EXTRA = 5;
    for (const std::uint64_t n : {1, 2, 3, 5}) {
        const ZarnikState start = distinct_state(n);
        ZarnikState large_start = distinct_state(n + EXTRA, 0.5);
        std::copy(start.amplitudes().begin(), start.amplitudes().end(),
                  large_start.amplitudes_mut().begin());
        for (const Operation& op : every_operation_on(n)) {
            // A qubit outside the small register but inside the large one is another operation.
            if (std::any_of(op.qubits.begin(), op.qubits.end(), [n](std::uint64_t q) {
                    return q >= n && q < n + EXTRA;
                })) {
                continue;
            }
            ZarnikState small = start;
            small.apply(op);
            ZarnikState large = large_start;
            large.apply(op);
            EXPECT_TRUE(same_bits(small.amplitudes(), large.amplitudes().first(small.dimension())))
                << debug_text(op.gate) << " on " << n << " qubits";
        }
    }
}

}  // namespace
}  // namespace zel
