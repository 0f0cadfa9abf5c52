// Every gate kind on a state large enough to run on the pool: the result with two workers is
// bitwise that with one, and for the kinds whose arithmetic is fixed, bitwise that of the plain
// ascending loop compiled here for the baseline instruction set. One-qubit kinds run on every
// qubit, since the kernels choose their loop (and its prefetching) by the target's position
// and run in the clone for this CPU's instruction set.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "support/reference.hpp"

namespace zel::test {
namespace {

// 2^19 amplitudes: the compressed ranges of one- and two-qubit kernels (2^18 and 2^17) both
// reach the pool's grain.
constexpr std::uint64_t QUBITS = 19;
static_assert((std::uint64_t{1} << (QUBITS - 2)) >= parallel::GRAIN);

constexpr double ANGLE = 0.7853981633974483;

// Restores the default pool size when a test ends, whatever it set.
class ParallelGates : public ::testing::Test {
  protected:
    void TearDown() override {
        parallel::set_thread_count(0);
    }
};

// Qubit lists of a kind: one-qubit kinds on every qubit; two-qubit kinds on low, middle, top
// and widest pairs, with each lower qubit whose loops prefetch (2-11), and with lower qubits 0
// and 1 under upper qubits of each prefetch mode, in both orders.
std::vector<std::vector<std::uint64_t>> placements(const GateInfo& info) {
    if (info.arity == 1) {
        std::vector<std::vector<std::uint64_t>> every;
        for (std::uint64_t q = 0; q < QUBITS; ++q) {
            every.push_back({q});
        }
        return every;
    }
    std::vector<std::vector<std::uint64_t>> result;
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs = {
        {0, 1}, {QUBITS / 2, QUBITS / 2 + 1}, {QUBITS - 2, QUBITS - 1}, {0, QUBITS - 1}};
    for (const auto& [a, b] : pairs) {
        result.push_back({a, b});
        result.push_back({b, a});
    }
    for (std::uint64_t low = 2; low < 12; ++low) {
        result.push_back({low, QUBITS - 3});
        result.push_back({QUBITS - 3, low});
    }
    // Lower qubit 0 or 1: the loops prefetch by the upper qubit.
    for (const std::uint64_t low : {0, 1}) {
        for (const std::uint64_t high : {2, 3, 4, 7, 12}) {
            result.push_back({low, high});
            result.push_back({high, low});
        }
    }
    return result;
}

Vector applied(const Vector& start, const GateInfo& info, std::span<const std::uint64_t> qubits,
               std::size_t threads) {
    parallel::set_thread_count(threads);
    ZarnikState state = make_state(start);
    const std::vector<double> params =
        info.has_angle ? std::vector<double>{ANGLE} : std::vector<double>{};
    state.apply_gate(GateType{info.kind, 0.0}, qubits, params);
    return amplitudes_of(state);
}

TEST_F(ParallelGates, EveryKindIsBitwiseTheSameWithOneAndTwoWorkers) {
    std::mt19937_64 rng(SEED);
    const Vector start = random_state(QUBITS, rng);
    for (const GateInfo& info : ORIGINAL_GATES) {
        for (const std::vector<std::uint64_t>& qubits : placements(info)) {
            SCOPED_TRACE(std::string(info.name) + " on qubit " + std::to_string(qubits[0]) +
                         (qubits.size() > 1 ? ", " + std::to_string(qubits[1]) : ""));
            const Vector serial = applied(start, info, qubits, 1);
            const Vector pooled = applied(start, info, qubits, 2);
            EXPECT_TRUE(bitwise_equal(pooled, serial));
            if (info.bitwise) {
                EXPECT_TRUE(
                    bitwise_equal(serial, plain_loop_reference(info.kind, ANGLE, qubits, start)));
            }
        }
    }
}

TEST_F(ParallelGates, ResetIsTheSameWithOneAndTwoWorkers) {
    std::mt19937_64 rng(SEED);
    const Vector start = random_state(QUBITS, rng);
    for (const std::size_t threads : {1, 2}) {
        parallel::set_thread_count(threads);
        ZarnikState state = make_state(start);
        state.set_computational_basis(5);
        Vector expected(start.size());
        expected[5] = 1.0;
        EXPECT_TRUE(bitwise_equal(state, expected)) << threads << " workers";
    }
}

TEST_F(ParallelGates, CopiesAreBitwiseEqualWithOneAndTwoWorkers) {
    std::mt19937_64 rng(SEED);
    const ZarnikState source = make_state(random_state(QUBITS, rng));
    for (const std::size_t threads : {1, 2}) {
        parallel::set_thread_count(threads);
        const ZarnikState copy = source;
        EXPECT_TRUE(bitwise_equal(copy, amplitudes_of(source))) << threads << " workers";
    }
}

}  // namespace
}  // namespace zel::test
