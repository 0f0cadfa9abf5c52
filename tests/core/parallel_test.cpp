// The worker pool and thread-count independence: for_each covers every index once, sums are
// the same bits at any thread count, and so are the kernels, the basis reset, the entropy and
// the expectation value on states large enough to cross the grain.

#include "zel/core/parallel.hpp"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>  // setenv, unsetenv
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "support/reference.hpp"

namespace zel::test {
namespace {

// Qubit counts derived from the grain so that the pool really runs: sums, fills and the
// evaluation's reductions over 2^LARGE amplitudes (twice the grain), and kernels whose 2^(n-1)
// pairs and 2^(n-2) quads reach the grain at KERNEL_QUBITS.
constexpr std::uint64_t GRAIN_QUBITS = std::bit_width(parallel::GRAIN - 1);
constexpr std::uint64_t LARGE = GRAIN_QUBITS + 1;
constexpr std::uint64_t KERNEL_QUBITS = GRAIN_QUBITS + 2;

const std::vector<std::size_t> THREAD_COUNTS = {1, 2, 3};

// Sets the pool size for one scope and restores the default afterwards.
class ThreadCount {
  public:
    explicit ThreadCount(std::size_t count) {
        parallel::set_thread_count(count);
    }
    ~ThreadCount() {
        parallel::set_thread_count(0);
    }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;
};

// RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS, when it holds a positive number; else the CPUs
// available to the process. set_thread_count(0) re-reads the default.
TEST(CoreParallel, ThreadCountComesFromTheEnvironmentOrTheCpus) {
    const char* const NUM_THREADS = "RAYON_NUM_THREADS";
    const char* const NUM_CPUS = "RAYON_RS_NUM_CPUS";
    ::unsetenv(NUM_THREADS);
    ::unsetenv(NUM_CPUS);
    parallel::set_thread_count(0);
    const std::size_t cpus = parallel::thread_count();
    EXPECT_GE(cpus, 1u);
    struct Case {
        const char* threads;  // nullptr: unset
        const char* rs_cpus;
        std::size_t expected;
    };
    const std::vector<Case> cases = {
        {"3", nullptr, 3}, {"3", "5", 3},         {nullptr, "5", 5}, {"abc", "5", 5},
        {"0", "5", 5},     {"4x", nullptr, cpus}, {"-2", "0", cpus}, {"", "", cpus},
    };
    for (const Case& c : cases) {
        c.threads ? ::setenv(NUM_THREADS, c.threads, 1) : ::unsetenv(NUM_THREADS);
        c.rs_cpus ? ::setenv(NUM_CPUS, c.rs_cpus, 1) : ::unsetenv(NUM_CPUS);
        parallel::set_thread_count(0);
        EXPECT_EQ(parallel::thread_count(), c.expected)
            << (c.threads ? c.threads : "unset") << " / " << (c.rs_cpus ? c.rs_cpus : "unset");
    }
    ::unsetenv(NUM_THREADS);
    ::unsetenv(NUM_CPUS);
    {
        const ThreadCount two(2);
        EXPECT_EQ(parallel::thread_count(), 2u);
    }
    EXPECT_EQ(parallel::thread_count(), cpus);
}

TEST(CoreParallel, ForEachCoversEveryIndexExactlyOnce) {
    const std::size_t g = parallel::GRAIN;
    for (std::size_t threads : THREAD_COUNTS) {
        const ThreadCount pool(threads);
        for (std::size_t n : {std::size_t{0}, std::size_t{1}, g - 1, g, g + 1, 2 * g + 3, 5 * g}) {
            SCOPED_TRACE("threads=" + std::to_string(threads) + " n=" + std::to_string(n));
            std::vector<std::atomic<int>> hits(n);
            std::atomic<int> calls = 0;
            std::atomic<bool> inverted = false;
            const auto caller = std::this_thread::get_id();
            std::atomic<bool> off_caller = false;
            parallel::for_each(n, [&](std::size_t begin, std::size_t end) {
                ++calls;
                inverted = inverted || begin > end || end > n;
                off_caller = off_caller || std::this_thread::get_id() != caller;
                for (std::size_t k = begin; k < end && k < n; ++k) {
                    ++hits[k];
                }
            });
            EXPECT_FALSE(inverted);
            std::size_t first_bad = n;
            for (std::size_t k = 0; k < n && first_bad == n; ++k) {
                if (hits[k] != 1) {
                    first_bad = k;
                }
            }
            EXPECT_EQ(first_bad, n)
                << "index visited " << (first_bad < n ? hits[first_bad].load() : 0) << " times";
            if (n < g) {  // below the grain: one call with [0, n) on the calling thread
                EXPECT_EQ(calls, 1);
                EXPECT_FALSE(off_caller);
            }
        }
    }
}

// A partial sum that is sensitive to grouping, so any change of order shows in the bits.
const auto wobbly = [](std::size_t begin, std::size_t end) {
    double s = 0.0;
    for (std::size_t k = begin; k < end; ++k) {
        s += 1.0 / (static_cast<double>(k) + 0.37);
    }
    return s;
};

TEST(CoreParallel, SumAddsFixedChunksInOrderAtAnyThreadCount) {
    const std::size_t c = parallel::SUM_CHUNK;
    for (std::size_t n :
         {std::size_t{1}, c - 1, c, c + 1, parallel::GRAIN, 3 * parallel::GRAIN + 17}) {
        double expected = -0.0;
        for (std::size_t begin = 0; begin < n; begin += c) {
            expected += wobbly(begin, std::min(n, begin + c));
        }
        for (std::size_t threads : THREAD_COUNTS) {
            const ThreadCount pool(threads);
            EXPECT_EQ(bits_of(parallel::sum(n, wobbly)), bits_of(expected))
                << "n=" << n << " threads=" << threads;
        }
    }
    for (std::size_t threads : THREAD_COUNTS) {
        const ThreadCount pool(threads);
        const double empty = parallel::sum(0, wobbly);
        EXPECT_TRUE(empty == 0.0 && std::signbit(empty));
    }
}

// Several sums at once give each sum's bits as `sum` forms them.
TEST(CoreParallel, SumManyIsEachSumAlone) {
    const auto scaled = [](double factor) {
        return [factor](std::size_t begin, std::size_t end) {
            return factor * wobbly(begin, end);
        };
    };
    const std::vector<double> factors = {1.0, -0.3, 7.25};
    for (std::size_t n : {std::size_t{0}, parallel::SUM_CHUNK + 5, 2 * parallel::GRAIN + 9}) {
        for (std::size_t threads : THREAD_COUNTS) {
            const ThreadCount pool(threads);
            std::vector<double> totals(factors.size(), 1.0);
            parallel::sum_many(n, totals, [&](std::size_t begin, std::size_t end, double* out) {
                for (std::size_t j = 0; j < factors.size(); ++j) {
                    out[j] = scaled(factors[j])(begin, end);
                }
            });
            for (std::size_t j = 0; j < factors.size(); ++j) {
                EXPECT_EQ(bits_of(totals[j]), bits_of(parallel::sum(n, scaled(factors[j]))))
                    << "n=" << n << " threads=" << threads << " sum " << j;
            }
        }
    }
}

// Every kind at 1 and 2 threads on a state past the grain: the same bits, and for the kinds with
// fixed arithmetic the plain loop's bits.
TEST(CoreParallel, KernelsOnLargeStatesAreThreadCountIndependent) {
    const std::uint64_t top = KERNEL_QUBITS - 1;
    std::mt19937_64 rng(SEED + 40);
    const Vector v = random_state(KERNEL_QUBITS, rng);
    const std::vector<std::pair<GateKind, std::vector<std::uint64_t>>> cases = {
        {GateKind::H, {0}},
        {GateKind::H, {9}},
        {GateKind::H, {top}},
        {GateKind::X, {top - 1}},
        {GateKind::Y, {12}},
        {GateKind::Z, {top}},
        {GateKind::S, {4}},
        {GateKind::SX, {top}},
        {GateKind::T, {2}},
        {GateKind::RX, {top}},
        {GateKind::RY, {1}},
        {GateKind::RZ, {top}},
        {GateKind::CX, {top, 0}},
        {GateKind::CX, {0, top}},
        {GateKind::CZ, {top, 16}},
        {GateKind::SWAP, {3, top}},
        {GateKind::SWAP, {top - 1, top}},
    };
    for (const auto& [kind, q] : cases) {
        SCOPED_TRACE(std::string(gate_info(kind).name) + " on " + std::to_string(q[0]));
        Vector results[2];
        for (std::size_t threads : {1, 2}) {
            const ThreadCount pool(threads);
            ZarnikState state = make_state(v);
            state.apply_gate(GateType{kind, 0.61}, q, {});
            results[threads - 1] = amplitudes_of(state);
        }
        EXPECT_TRUE(bitwise_equal(results[1], results[0]));
        if (kind != GateKind::SX && kind != GateKind::T) {
            EXPECT_TRUE(bitwise_equal(results[0], plain_loop_reference(kind, 0.61, q, v)));
        }
    }
}

TEST(CoreParallel, SetComputationalBasisAtAnyThreadCount) {
    std::mt19937_64 rng(SEED + 41);
    for (std::uint64_t n : {GRAIN_QUBITS, LARGE}) {
        const ZarnikState noisy = make_state(random_state(n, rng));
        for (std::uint64_t index :
             {std::uint64_t{0}, std::uint64_t{12345}, (std::uint64_t{1} << n) - 1}) {
            Vector expected(std::size_t{1} << n);
            expected[index] = 1.0;
            for (std::size_t threads : {1, 2}) {
                const ThreadCount pool(threads);
                ZarnikState state = noisy;
                state.set_computational_basis(index);
                EXPECT_TRUE(bitwise_equal(state, expected))
                    << "n=" << n << " index=" << index << " threads=" << threads;
            }
        }
    }
}

// Terms over the whole register of n qubits (n >= 13), the top qubit included.
PauliSum spread_observable(std::uint64_t n) {
    const std::uint64_t top = n - 1;
    return PauliSum{{{-0.5, {}},
                     {0.25, {{0, Pauli::X}, {top, Pauli::X}}},
                     {-0.75, {{3, Pauli::Y}, {9, Pauli::Z}, {top - 1, Pauli::Y}}},
                     {0.125, {{top, Pauli::Z}}},
                     {1.5, {{5, Pauli::Y}}},
                     {0.3, {{2, Pauli::Z}, {11, Pauli::X}, {12, Pauli::Z}}}}};
}

TEST(CoreParallel, EntropyAndExpectationOnLargeStatesAreThreadCountIndependent) {
    std::mt19937_64 rng(SEED + 42);
    const Vector v = random_state(LARGE, rng);
    const ZarnikState state = make_state(v);
    const PauliSum observable = spread_observable(LARGE);
    long double entropy = 0.0L;
    for (const Complex& a : v) {
        entropy -= std::norm(a) * std::log2(static_cast<long double>(std::norm(a)));
    }
    std::vector<double> entropies, energies;
    for (std::size_t threads : THREAD_COUNTS) {
        const ThreadCount pool(threads);
        entropies.push_back(state.calculate_entropy());
        energies.push_back(observable.expectation_value(state));
    }
    for (std::size_t k = 1; k < THREAD_COUNTS.size(); ++k) {
        EXPECT_EQ(bits_of(entropies[k]), bits_of(entropies[0])) << THREAD_COUNTS[k];
        EXPECT_EQ(bits_of(energies[k]), bits_of(energies[0])) << THREAD_COUNTS[k];
    }
    EXPECT_NEAR(entropies[0], static_cast<double>(entropy), TOLERANCE);
    EXPECT_NEAR(energies[0], walked_expectation(observable, v), TOLERANCE);
    EXPECT_TRUE(bitwise_equal(state, v));
}

// The built-in Hamiltonian keeps to qubits 0 and 1; on a state past the grain its sums run on
// the pool too.
TEST(CoreParallel, H2OnLargeStatesIsThreadCountIndependent) {
    std::mt19937_64 rng(SEED + 43);
    const Vector v = random_state(KERNEL_QUBITS, rng);
    const ZarnikState state = make_state(v);
    const PauliSum h2 = PauliSum::h2_hamiltonian();
    double energies[2];
    for (std::size_t threads : {1, 2}) {
        const ThreadCount pool(threads);
        energies[threads - 1] = h2.expectation_value(state);
    }
    EXPECT_EQ(bits_of(energies[1]), bits_of(energies[0]));
    EXPECT_NEAR(energies[0], walked_expectation(h2, v), TOLERANCE);
}

TEST(CoreParallel, EvaluationIsTheSameBitsAtOneAndTwoThreads) {
    const std::uint64_t n = KERNEL_QUBITS;
    ZarnikGraph circuit(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        const double angle = 0.1 + 0.17 * static_cast<double>(q);
        circuit.add_gate_with_params(GateType::ry(angle), {q}, {angle});
        circuit.add_gate_with_params(GateType::of(GateKind::CX), {q, (q + 5) % n}, {});
        circuit.add_gate_with_params(GateType::rz(-angle), {(q + 3) % n}, {});
    }
    circuit.add_gate_with_params(GateType::of(GateKind::H), {n - 1}, {});
    const PauliSum observable = spread_observable(n);
    const ZarnikState reference(n);
    Telemetry results[2];
    double energies[2];
    for (std::size_t threads : {1, 2}) {
        const ThreadCount pool(threads);
        results[threads - 1] = evaluate_circuit_telemetry(reference, circuit, observable);
        energies[threads - 1] = EnergyFn(circuit, reference, observable)(std::vector<double>{0.2});
    }
    EXPECT_EQ(bits_of(results[1].energy), bits_of(results[0].energy));
    EXPECT_EQ(bits_of(results[1].entropy), bits_of(results[0].entropy));
    EXPECT_EQ(bits_of(energies[1]), bits_of(energies[0]));
    EXPECT_GT(results[0].entropy, 1.0);  // the circuit really spreads the state
}

}  // namespace
}  // namespace zel::test
