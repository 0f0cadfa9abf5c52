// The distributed state against a whole ZarnikState on every rank: construction and its
// refusals, basis states, copies, every gate kind on every qubit (local, rank bits, beyond the
// register), random circuits, and failures raised alike on every rank with nothing changed.

#include "zel/mpi/state.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"

#include "support.hpp"
#include "support/placement.hpp"
#include <mpi.h>

namespace zel::mpi::test {
namespace {

template <class E>
std::string expected_error(const std::string& message) {
    return std::string(typeid(E).name()) + ": " + message;
}

TEST(DistributedConstruction, RefusesARankCountThatIsNotAPowerOfTwo) {
    if (world_size() < 4) {
        GTEST_SKIP() << "a group of 3 ranks needs 4 ranks in the world";
    }
    // Ranks 0-2 form a group of three; rank 3 is a group of its own (one rank is fine).
    const int rank = world_rank();
    MPI_Comm group = MPI_COMM_NULL;
    MPI_Comm_split(MPI_COMM_WORLD, rank < 3 ? 0 : 1, rank, &group);
    const std::string error = thrown_by([&] {
        DistributedState state(4, group);
    });
    if (rank < 3) {
        EXPECT_EQ(error,
                  expected_error<InvalidArgument>("DistributedState: the communicator has 3 ranks; "
                                                  "the rank count must be a power of two"));
    } else {
        EXPECT_EQ(error, "");
    }
    MPI_Comm_free(&group);
}

TEST(DistributedConstruction, RefusesBadQubitCountsAndOptions) {
    const std::uint64_t k = world_rank_bits();
    const int size = world_size();
    struct Row {
        std::string name;
        std::uint64_t qubits;
        std::uint64_t exchange;
        std::string expected;  // "" when construction succeeds
    };
    std::vector<Row> rows = {
        {"one amplitude per rank", k, DEFAULT_EXCHANGE_AMPLITUDES, ""},
        {"exchange of one amplitude", k + 1, 1, ""},
        {"exchange 0", k + 1, 0,
         expected_error<InvalidArgument>("DistributedState: the exchange size 0 is not a power "
                                         "of two in [1, 2^26] amplitudes")},
        {"exchange 3", k + 1, 3,
         expected_error<InvalidArgument>("DistributedState: the exchange size 3 is not a power "
                                         "of two in [1, 2^26] amplitudes")},
        {"exchange 2^27", k + 1, std::uint64_t{1} << 27,
         expected_error<InvalidArgument>("DistributedState: the exchange size 134217728 is not a "
                                         "power of two in [1, 2^26] amplitudes")},
        {"59 qubits", 59, DEFAULT_EXCHANGE_AMPLITUDES,
         expected_error<InvalidLayout>("Invalid layout: LayoutError")},
    };
    if (k > 0) {
        rows.push_back({"more ranks than amplitudes", k - 1, DEFAULT_EXCHANGE_AMPLITUDES,
                        expected_error<InvalidArgument>(
                            "DistributedState: " + std::to_string(size) + " ranks for " +
                            std::to_string(k - 1) + " qubits; at most 2^" + std::to_string(k - 1) +
                            " ranks, one amplitude each, can share the state")});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string error = thrown_by([&] {
            DistributedState state(row.qubits, MPI_COMM_WORLD, {row.exchange});
        });
        EXPECT_EQ(error, row.expected);
        EXPECT_TRUE(same_on_every_rank(error));
    }
}

TEST(DistributedState, StartsAsTheZeroStateInRankOrder) {
    for (const std::uint64_t n : qubit_counts()) {
        SCOPED_TRACE(std::to_string(n) + " qubits");
        const DistributedState state(n);
        EXPECT_EQ(state.rank_count(), world_size());
        EXPECT_EQ(state.rank_qubits(), world_rank_bits());
        EXPECT_EQ(state.local_amplitudes().size(), state.dimension() >> world_rank_bits());
        EXPECT_EQ(state.first_index(),
                  static_cast<std::uint64_t>(world_rank()) * state.local_amplitudes().size());
        EXPECT_TRUE(block_matches(state, ZarnikState(n)));
        const ZarnikState whole = state.gather();
        const ZarnikState zero(n);
        EXPECT_TRUE(std::equal(whole.amplitudes().begin(), whole.amplitudes().end(),
                               zero.amplitudes().begin()));
    }
}

TEST(DistributedState, BasisStatesMatchTheWholeState) {
    for (const std::uint64_t n : qubit_counts()) {
        SCOPED_TRACE(std::to_string(n) + " qubits");
        const std::uint64_t dimension = std::uint64_t{1} << n;
        DistributedState state(n);
        ZarnikState whole(n);
        for (const std::uint64_t index : {std::uint64_t{0}, std::uint64_t{1}, dimension / 2,
                                          dimension - 1, (dimension * 5) / 7}) {
            if (index >= dimension) {
                continue;  // one amplitude: only index 0
            }
            state.set_computational_basis(index);
            whole.set_computational_basis(index);
            EXPECT_TRUE(block_matches(state, whole)) << "index " << index;
        }
        // Out of range: the same report on every rank, the amplitudes untouched.
        for (const std::uint64_t index :
             {dimension, dimension + 5, std::numeric_limits<std::uint64_t>::max()}) {
            const std::string error = thrown_by([&] {
                state.set_computational_basis(index);
            });
            const std::string expected = thrown_by([&] {
                whole.set_computational_basis(index);
            });
            EXPECT_EQ(error, expected);
            EXPECT_NE(error, "");
            EXPECT_TRUE(same_on_every_rank(error));
            EXPECT_TRUE(block_matches(state, whole));
        }
    }
}

TEST(DistributedState, CopiesAreDeepAndBitwiseEqual) {
    const std::uint64_t k = world_rank_bits();
    for (const std::uint64_t n : {k + 2, k + 15}) {
        SCOPED_TRACE(std::to_string(n) + " qubits");
        const ZarnikState whole = seeded_state(n, 7 + n);
        const DistributedState original = distribute(whole);
        DistributedState copy = original;
        EXPECT_TRUE(block_matches(copy, whole));
        // A gate on the top qubit changes the copy only.
        const std::uint64_t top[1] = {n - 1};
        copy.apply_gate(GateType::of(GateKind::H), top, {});
        ZarnikState changed = whole;
        changed.apply_gate(GateType::of(GateKind::H), top, {});
        EXPECT_TRUE(block_matches(copy, changed));
        EXPECT_TRUE(block_matches(original, whole));
        // Assignment over the same layout, over another layout, and moves.
        copy = original;
        EXPECT_TRUE(block_matches(copy, whole));
        DistributedState other(k + 1);
        other = original;
        EXPECT_EQ(other.num_qubits(), n);
        EXPECT_TRUE(block_matches(other, whole));
        DistributedState moved = std::move(other);
        EXPECT_TRUE(block_matches(moved, whole));
        other = std::move(moved);
        EXPECT_TRUE(block_matches(other, whole));
        const DistributedState fresh = fresh_state_like(original);
        EXPECT_TRUE(block_matches(fresh, ZarnikState(n)));
    }
}

// Applies `op` to both states and checks that they end bitwise equal and that both threw the
// same (or nothing), on every rank.
void expect_same_gate(DistributedState& state, ZarnikState& whole, const Operation& op,
                      const std::string& what) {
    const std::string expected = thrown_by([&] {
        whole.apply_gate(op.gate, op.qubits, op.params);
    });
    const std::string error = thrown_by([&] {
        state.apply_gate(op.gate, op.qubits, op.params);
    });
    EXPECT_EQ(error, expected) << what;
    EXPECT_TRUE(same_on_every_rank(error)) << what;
    EXPECT_TRUE(block_matches(state, whole)) << what;
}

std::string describe(const Operation& op) {
    std::string text = debug_text(op.gate) + " on [";
    for (const std::uint64_t q : op.qubits) {
        text += std::to_string(q) + " ";
    }
    return text + "]" + (op.params.empty() ? "" : " with params");
}

TEST(DistributedGates, EveryKindOnEveryQubitMatchesTheWholeState) {
    const std::uint64_t k = world_rank_bits();
    // Pieces of one amplitude make every exchange a loop of many messages.
    for (const std::uint64_t exchange : {std::uint64_t{1}, DEFAULT_EXCHANGE_AMPLITUDES}) {
        for (std::uint64_t n = k; n <= k + 3; ++n) {
            SCOPED_TRACE(std::to_string(n) + " qubits, exchange " + std::to_string(exchange));
            std::uint64_t seed = 1000 * n + exchange;
            // Qubits up to n + 1: inside, at the register's end and beyond it.
            for (const GateInfo& info : ORIGINAL_GATES) {
                std::vector<std::vector<std::uint64_t>> placements = {{}};
                for (std::uint64_t a = 0; a <= n + 1; ++a) {
                    if (info.arity == 1) {
                        placements.push_back({a});
                        continue;
                    }
                    placements.push_back({a});
                    for (std::uint64_t b = 0; b <= n + 1; ++b) {
                        placements.push_back({a, b});
                    }
                }
                for (const auto& qubits : placements) {
                    Operation op{GateType{info.kind, 0.375 + 0.25 * static_cast<double>(seed % 7)},
                                 qubits,
                                 {}};
                    ZarnikState whole = seeded_state(n, ++seed);
                    DistributedState state = distribute(whole, {exchange});
                    expect_same_gate(state, whole, op, describe(op));
                    if (info.has_angle) {
                        op.params = {-1.25};
                        expect_same_gate(state, whole, op, describe(op));
                    }
                }
            }
        }
    }
}

// The kinds from U on with sample parameters and payloads, on qubits 0, 1, 2 (placed below).
std::vector<Operation> checked_samples() {
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
        std::vector<std::uint64_t> qubits;
        for (std::uint64_t j = 0; j < info.arity; ++j) {
            qubits.push_back(j);
        }
        ops.push_back(make_operation(info.kind, qubits, params));
    }
    ops.push_back(pauli_rotation("XYZ", {0, 1, 2}, 0.9));
    ops.push_back(pauli_rotation("ZIZ", {0, 1, 2}, -0.4));
    const double c = std::cos(0.6);
    const double s = std::sin(0.6);
    ops.push_back(unitary({0, 1}, {c, 0, 0, -s, 0, c, s, 0, 0, -s, c, 0, s, 0, 0, c}));
    return ops;
}

// Every kind from U on, at every placement on n = k + 3 qubits, runs on the distributed state
// bit for bit as on the whole one; bad operations throw the same message on every rank.
TEST(DistributedGates, CheckedKindsMatchTheWholeState) {
    const std::uint64_t n = world_rank_bits() + 3;
    std::uint64_t seed = 77;
    for (const Operation& sample : checked_samples()) {
        for (const zel::test::Qubits& qubits :
             zel::test::every_placement(sample.qubits.size(), n)) {
            Operation op = sample;
            op.qubits = qubits;
            ZarnikState whole = seeded_state(n, ++seed);
            DistributedState state = distribute(whole);
            const std::string expected = thrown_by([&] {
                whole.apply(op);
            });
            const std::string error = thrown_by([&] {
                state.apply(op);
            });
            EXPECT_EQ(error, expected) << describe(op);
            EXPECT_TRUE(block_matches(state, whole)) << describe(op);
        }
    }
    for (const Operation& bad :
         {make_operation(GateKind::CCX, {0, 1, n}), make_operation(GateKind::CRX, {0, 0}, {1.0}),
          make_operation(GateKind::U, {0}, {1.0})}) {
        ZarnikState whole = seeded_state(n, ++seed);
        DistributedState state = distribute(whole);
        const std::string expected = thrown_by([&] {
            whole.apply(bad);
        });
        const std::string error = thrown_by([&] {
            state.apply(bad);
        });
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(error, expected);
        EXPECT_TRUE(same_on_every_rank(error));
        EXPECT_TRUE(block_matches(state, whole));
    }
}

// Prepared operations run on the distributed state as on the whole one, rank bits included, and
// one prepared for another register size is refused alike on every rank, changing nothing.
TEST(DistributedGates, PreparedOperationsMatchTheWholeState) {
    const std::uint64_t n = world_rank_bits() + 3;
    std::uint64_t seed = 91;
    std::vector<Operation> ops = checked_samples();
    ops.push_back(Operation{GateType::of(GateKind::H), {0}, {}, {}});
    ops.push_back(Operation{GateType::rz(0.7), {n - 1}, {}, {}});
    for (Operation op : ops) {
        // The samples' qubits mirrored to the top of the register, onto the rank bits.
        for (std::uint64_t& q : op.qubits) {
            q = n - 1 - q;
        }
        const PreparedOperation prepared(op, n);
        ZarnikState whole = seeded_state(n, ++seed);
        DistributedState state = distribute(whole);
        whole.apply(prepared);
        state.apply(prepared);
        EXPECT_TRUE(block_matches(state, whole)) << describe(op);
    }
    const PreparedOperation other(Operation{GateType::of(GateKind::H), {0}, {}, {}}, n + 1);
    ZarnikState whole = seeded_state(n, ++seed);
    DistributedState state = distribute(whole);
    const std::string error = thrown_by([&] {
        state.apply(other);
    });
    EXPECT_EQ(error, expected_error<InvalidArgument>(
                         "H: prepared for a register of " + std::to_string(n + 1) +
                         " qubits, applied to one of " + std::to_string(n)));
    EXPECT_TRUE(same_on_every_rank(error));
    EXPECT_TRUE(block_matches(state, whole));
}

// Excitations at every placement of their orbitals on n = k + 4 qubits, rank bits included, run
// on the distributed state as on the whole one: a fermionic one with a rank-bit qubit through its
// qubit excitation between sign flips, which give the same values.
TEST(DistributedGates, ExcitationsMatchTheWholeState) {
    const std::uint64_t n = world_rank_bits() + 4;
    std::uint64_t seed = 91;
    for (const std::size_t orbitals : {2U, 4U}) {
        for (const zel::test::Qubits& q : zel::test::every_placement(orbitals, n)) {
            const std::span<const std::uint64_t> from(q.data(), orbitals / 2);
            const std::span<const std::uint64_t> to(q.data() + orbitals / 2, orbitals / 2);
            for (const Operation& op :
                 {fermionic_excitation(from, to, 0.7), qubit_excitation(from, to, -0.4)}) {
                ZarnikState whole = seeded_state(n, ++seed);
                DistributedState state = distribute(whole);
                const std::string error = thrown_by([&] {
                    state.apply(op);
                });
                EXPECT_EQ(error, "") << describe(op);
                whole.apply(op);
                EXPECT_TRUE(block_matches(state, whole)) << describe(op);
            }
        }
    }
}

TEST(DistributedGates, RandomCircuitsMatchTheWholeState) {
    const std::uint64_t k = world_rank_bits();
    struct Run {
        std::uint64_t qubits;
        std::size_t gates;
        std::uint64_t exchange;
    };
    const std::vector<Run> runs = {
        {k + 2, 120, DEFAULT_EXCHANGE_AMPLITUDES},
        {k + 5, 120, 4},
        {k + 15, 60, DEFAULT_EXCHANGE_AMPLITUDES},
        {k + 15, 30, 1024},
    };
    for (const std::size_t threads : {1, 2}) {
        const ThreadScope scope(threads);
        for (const Run& run : runs) {
            SCOPED_TRACE(std::to_string(run.qubits) + " qubits, " + std::to_string(threads) +
                         " threads, exchange " + std::to_string(run.exchange));
            random::Generator rng(run.qubits * 31 + threads);
            ZarnikState whole = seeded_state(run.qubits, rng());
            DistributedState state = distribute(whole, {run.exchange});
            for (std::size_t g = 0; g < run.gates; ++g) {
                // Mostly inside the register, now and then one qubit beyond it.
                const Operation op = random_operation(rng, run.qubits + (g % 9 == 0 ? 2 : 0));
                expect_same_gate(state, whole, op,
                                 "gate " + std::to_string(g) + ": " + describe(op));
            }
        }
    }
}

TEST(DistributedGates, BlocksAboveThePoolsGrainMatchWithTwoThreads) {
    // 2^17 amplitudes per rank: the local kernels and the reductions' chunks go to the pool.
    const std::uint64_t n = world_rank_bits() + 17;
    const ThreadScope scope(2);
    random::Generator rng(17);
    ZarnikState whole = seeded_state(n, 5);
    DistributedState state = distribute(whole);
    for (std::size_t g = 0; g < 24; ++g) {
        const Operation op = random_operation(rng, n);
        expect_same_gate(state, whole, op, describe(op));
    }
}

TEST(DistributedGates, FailuresChangeNothingAndLeaveNoRankWaiting) {
    const std::uint64_t n = world_rank_bits() + 2;
    const std::vector<Operation> failing = {
        {GateType::of(GateKind::H), {n}, {}},
        {GateType::of(GateKind::X), {}, {}},
        {GateType::of(GateKind::CX), {0}, {}},
        {GateType::of(GateKind::CX), {n - 1, n + 4}, {}},
        {GateType::of(GateKind::SWAP), {0, 70}, {}},
        {GateType::rx(0.5), {64}, {0.5}},
    };
    ZarnikState whole = seeded_state(n, 99);
    DistributedState state = distribute(whole);
    for (const Operation& op : failing) {
        const std::string error = thrown_by([&] {
            state.apply_gate(op.gate, op.qubits, op.params);
        });
        EXPECT_NE(error, "") << describe(op);
        expect_same_gate(state, whole, op, describe(op));
        // A collective right after the failure completes on every rank.
        const ZarnikState gathered = state.gather();
        EXPECT_TRUE(std::equal(gathered.amplitudes().begin(), gathered.amplitudes().end(),
                               whole.amplitudes().begin()));
    }
}

// Bytes a rank sends for one gate, against the model: a pair kind on a rank bit sends the whole
// block (16 * 2^(n-k) bytes), CX with a local control and a rank target and SWAP of a local and
// a rank qubit half of it, CX and SWAP on two rank bits the whole block on the ranks that take
// part. A kind from U on sends nothing when its rank bits only select (controls, the qubits of a
// phase), and half a block twice for each rank-bit qubit that moves amplitudes (traded with a
// local qubit and back). Everything else sends nothing.
TEST(DistributedTraffic, GatesSendWhatTheModelSays) {
    const std::uint64_t k = world_rank_bits();
    if (k == 0) {
        GTEST_SKIP() << "one rank sends nothing";
    }
    const std::uint64_t n = k + 4;
    const std::uint64_t l = n - k;
    const std::uint64_t block = std::uint64_t{16} << l;
    const auto rank = static_cast<std::uint64_t>(world_rank());
    const auto bit = [&](std::uint64_t q) {
        return ((rank >> (q - l)) & 1U) != 0;
    };
    const std::uint64_t top = n - 1;
    const std::uint64_t low_rank = l;
    struct Row {
        Operation op;
        std::uint64_t bytes;
    };
    std::vector<Row> rows = {
        {{GateType::of(GateKind::H), {0}, {}}, 0},
        {{GateType::of(GateKind::H), {top}, {}}, block},
        {{GateType::ry(0.3), {low_rank}, {}}, block},
        {{GateType::of(GateKind::X), {top}, {}}, block},
        {{GateType::of(GateKind::SX), {top}, {}}, block},
        {{GateType::of(GateKind::Z), {top}, {}}, 0},
        {{GateType::of(GateKind::T), {top}, {}}, 0},
        {{GateType::rz(0.3), {top}, {}}, 0},
        {{GateType::of(GateKind::CZ), {0, top}, {}}, 0},
        {{GateType::of(GateKind::CX), {top, 0}, {}}, 0},
        {{GateType::of(GateKind::CX), {0, top}, {}}, block / 2},
        {{GateType::of(GateKind::SWAP), {1, top}, {}}, block / 2},
        {{GateType::of(GateKind::SWAP), {top, 1}, {}}, block / 2},
        {make_operation(GateKind::P, {top}, {0.3}), 0},
        {make_operation(GateKind::CP, {0, top}, {0.3}), 0},
        {make_operation(GateKind::CY, {top, 0}), 0},
        {make_operation(GateKind::CRX, {top, 1}, {0.3}), 0},
        {make_operation(GateKind::CCX, {top, 0, 1}), 0},
        {make_operation(GateKind::GPHASE, {}, {0.3}), 0},
        {make_operation(GateKind::CY, {0, top}), block},
        {make_operation(GateKind::U, {top}, {0.1, 0.2, 0.3}), block},
        {pauli_rotation("XZ", {0, top}, 0.3), block},
    };
    if (k >= 2) {
        rows.push_back(
            {{GateType::of(GateKind::CX), {low_rank, top}, {}}, bit(low_rank) ? block : 0});
        rows.push_back({{GateType::of(GateKind::SWAP), {low_rank, top}, {}},
                        bit(low_rank) != bit(top) ? block : 0});
        rows.push_back({{GateType::of(GateKind::CZ), {low_rank, top}, {}}, 0});
        rows.push_back({make_operation(GateKind::CCX, {top, 0, low_rank}), block});
    }
    for (const std::uint64_t exchange : {std::uint64_t{2}, DEFAULT_EXCHANGE_AMPLITUDES}) {
        DistributedState state = distribute(seeded_state(n, 3), {exchange});
        for (const Row& row : rows) {
            const Traffic before = state.traffic();
            state.apply(row.op);
            EXPECT_EQ(state.traffic().bytes_sent - before.bytes_sent, row.bytes)
                << describe(row.op) << ", exchange " << exchange;
        }
    }
}

}  // namespace
}  // namespace zel::mpi::test
