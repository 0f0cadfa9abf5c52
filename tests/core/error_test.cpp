// The exceptions of the core: exact messages and fields, thrown before anything changes,
// allocation failure as std::bad_alloc, failed writes of the standard-output sink, exceptions
// from pool workers reaching the caller, and thread counts that cannot exhaust the system.

#include "zel/core/error.hpp"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/output.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

#include "support/errors.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();

TEST(CoreError, MessagesAndFields) {
    const IndexOutOfBounds bounds(U64_MAX, 0);
    EXPECT_STREQ(bounds.what(),
                 "index out of bounds: the len is 18446744073709551615 but the index is 0");
    EXPECT_EQ(bounds.len(), U64_MAX);
    EXPECT_EQ(bounds.index(), 0u);

    const StateIndexOutOfBounds state_index(9, 8);
    EXPECT_STREQ(state_index.what(), "Index out of bounds for state vector");
    EXPECT_EQ(state_index.index(), 9u);
    EXPECT_EQ(state_index.dimension(), 8u);

    const InvalidLayout layout(59);
    EXPECT_STREQ(layout.what(), "Invalid layout: LayoutError");
    EXPECT_EQ(layout.num_qubits(), 59u);

    const OutputError output("stdout", EPIPE);
    EXPECT_STREQ(output.what(), "failed printing to stdout: Broken pipe");
    EXPECT_EQ(output.error_number(), EPIPE);

    const AllocationError allocation(std::numeric_limits<std::size_t>::max());
    EXPECT_STREQ(allocation.what(), "memory allocation of 18446744073709551615 bytes failed");
    EXPECT_EQ(allocation.bytes(), std::numeric_limits<std::size_t>::max());

    const ParseError one_line(6, "expected a term");
    EXPECT_STREQ(one_line.what(), "position 6: expected a term");
    EXPECT_EQ(one_line.offset(), 6u);
    EXPECT_EQ(one_line.column(), 7u);
    const ParseError program(7, 3, 120, "unknown gate 'u2'");
    EXPECT_STREQ(program.what(), "line 7, column 3: unknown gate 'u2'");
    EXPECT_EQ(program.line(), 7u);
    EXPECT_EQ(program.reason(), "unknown gate 'u2'");
}

// Every failure of the libraries can be caught as one of two bases.
TEST(CoreError, HierarchyCatchesAsItsBases) {
    EXPECT_THROW(throw IndexOutOfBounds(1, 2), Error);
    EXPECT_THROW(throw StateIndexOutOfBounds(1, 1), std::runtime_error);
    EXPECT_THROW(throw ParseError(0, "x"), InvalidArgument);
    EXPECT_THROW(throw OutputError("stdout", EIO), Error);
    EXPECT_THROW(throw AllocationError(16), std::bad_alloc);
}

// 16 * 2^n bytes is not a valid request from n = 59 on; every such count throws the same.
TEST(CoreError, InvalidLayoutForQubitCountsFrom59) {
    for (std::uint64_t n : {59, 60, 63, 64, 1000}) {
        EXPECT_TRUE(throws_exactly<InvalidLayout>(
            [n] {
                ZarnikState state(n);
            },
            "Invalid layout: LayoutError"))
            << n;
    }
}

// The largest count with a valid layout asks for 2^62 bytes, which no system grants.
TEST(CoreError, AllocationFailureIsBadAllocWithTheSize) {
    EXPECT_EQ(ZarnikState::MAX_QUBITS, 58u);
    try {
        ZarnikState state(ZarnikState::MAX_QUBITS);
        ADD_FAILURE() << "2^62 bytes were granted";
    } catch (const AllocationError& error) {
        EXPECT_EQ(error.bytes(), std::size_t{1} << 62);
        EXPECT_STREQ(error.what(), "memory allocation of 4611686018427387904 bytes failed");
    }
}

// Runs `body` with file descriptor 1 replaced by `fd` (closed afterwards), SIGPIPE ignored.
template <class Body>
void with_stdout(int fd, Body&& body) {
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    const int saved = ::dup(STDOUT_FILENO);
    if (fd >= 0) {
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    } else {
        ::close(STDOUT_FILENO);
    }
    body();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::signal(SIGPIPE, previous);
}

TEST(CoreError, FailedWritesOfTheStandardOutputSinkThrow) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    with_stdout(ends[1], [] {
        EXPECT_TRUE(throws_exactly<OutputError>(
            [] {
                standard_output().write("lost\n");
            },
            "failed printing to stdout: Broken pipe"));
    });
    with_stdout(::open("/dev/full", O_WRONLY), [] {
        EXPECT_TRUE(throws_exactly<OutputError>(
            [] {
                standard_output().write("lost\n");
            },
            "failed printing to stdout: No space left on device"));
    });
    with_stdout(-1, [] {
        EXPECT_TRUE(throws_exactly<OutputError>(
            [] {
                standard_output().write("lost\n");
            },
            "failed printing to stdout: Bad file descriptor"));
    });
}

// An exception raised on a worker reaches the caller after every chunk has finished. The
// caller would take every chunk itself if the worker were slow to wake, so its chunks wait
// (for at most a few seconds) until the worker has run one.
TEST(CoreError, ExceptionFromAPoolWorkerReachesTheCaller) {
    parallel::set_thread_count(2);
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> worker_ran{false};
    EXPECT_TRUE(throws_bounds(
        [&] {
            parallel::for_each(4 * parallel::GRAIN, [&](std::size_t, std::size_t) {
                if (std::this_thread::get_id() != caller) {
                    worker_ran = true;
                    throw IndexOutOfBounds(7, 9);
                }
                const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (!worker_ran && std::chrono::steady_clock::now() < give_up) {
                    std::this_thread::yield();
                }
            });
        },
        7, 9));
    EXPECT_TRUE(worker_ran.load());
    // Sums propagate the same way, and the pool keeps working afterwards.
    EXPECT_THROW(parallel::sum(4 * parallel::GRAIN,
                               [](std::size_t begin, std::size_t) -> double {
                                   if (begin > 0) {
                                       throw std::runtime_error("chunk");
                                   }
                                   return 1.0;
                               }),
                 std::runtime_error);
    EXPECT_EQ(parallel::sum(4 * parallel::GRAIN,
                            [](std::size_t begin, std::size_t end) {
                                return static_cast<double>(end - begin);
                            }),
              4.0 * static_cast<double>(parallel::GRAIN));
    parallel::set_thread_count(0);
}

TEST(CoreError, SumManyRefusesMoreSumsThanItForms) {
    std::vector<double> totals(parallel::MAX_SUMS + 1);
    EXPECT_THROW(parallel::sum_many(8, totals, [](std::size_t, std::size_t, double*) {}),
                 InvalidArgument);
}

// Thread counts from the environment and from set_thread_count: positive numbers are taken up
// to the maximum, anything else falls back; nothing can ask for an absurd pool.
TEST(CoreParallelThreads, CountsAreClampedToTheMaximum) {
    struct Row {
        const char* value;
        std::size_t expected;  // 0: the CPU-derived default
    };
    const Row rows[] = {
        {"1", 1},
        {"2", 2},
        {"256", 256},
        {"257", parallel::MAX_THREADS},
        {"30000", parallel::MAX_THREADS},
        {"100000", parallel::MAX_THREADS},
        {"4294967297", parallel::MAX_THREADS},
        {"18446744073709551615", parallel::MAX_THREADS},
        {"99999999999999999999999999", parallel::MAX_THREADS},
        {"0", 0},
        {"-3", 0},
        {"", 0},
        {"2x", 0},
        {" 2", 0},
    };
    ::unsetenv("RAYON_NUM_THREADS");
    ::unsetenv("RAYON_RS_NUM_CPUS");
    parallel::set_thread_count(0);
    const std::size_t cpu_default = parallel::thread_count();
    ASSERT_GE(cpu_default, 1u);
    for (const Row& row : rows) {
        ::setenv("RAYON_NUM_THREADS", row.value, 1);
        parallel::set_thread_count(0);
        EXPECT_EQ(parallel::thread_count(), row.expected == 0 ? cpu_default : row.expected)
            << "RAYON_NUM_THREADS=\"" << row.value << "\"";
    }
    ::unsetenv("RAYON_NUM_THREADS");
    for (const std::size_t count : {std::size_t{1}, std::size_t{300}, std::size_t{1} << 40,
                                    std::numeric_limits<std::size_t>::max()}) {
        parallel::set_thread_count(count);
        EXPECT_EQ(parallel::thread_count(), std::min(count, parallel::MAX_THREADS));
    }
    // The largest pool really runs (and gives the same sum as one worker).
    parallel::set_thread_count(parallel::MAX_THREADS);
    const auto count = [](std::size_t begin, std::size_t end) {
        return static_cast<double>(end - begin);
    };
    EXPECT_EQ(parallel::sum(2 * parallel::GRAIN, count), 2.0 * parallel::GRAIN);
    parallel::set_thread_count(0);
}

}  // namespace
}  // namespace zel::test

namespace zel::test {
namespace {

// A kind made by a cast names no row of the gate table: every function that would look it up
// refuses it, before anything changes.
TEST(CoreError, KindsOutsideTheTableAreRefused) {
    const GateType bogus{static_cast<GateKind>(99), 0.5};
    const std::vector<std::uint64_t> qubit0{0};
    ZarnikState state(2);
    EXPECT_THROW(state.apply_gate(bogus, qubit0, {}), InvalidArgument);
    EXPECT_EQ(state.amplitudes()[0], ZarnikState::Amplitude(1.0, 0.0));
    EXPECT_THROW(check_gate(2, bogus, qubit0), InvalidArgument);
    EXPECT_THROW(static_cast<void>(debug_text(bogus)), InvalidArgument);
    ZarnikGraph circuit(2);
    circuit.add_gate_with_params(bogus, {0}, {});
    const auto issues = validate(circuit, 2);
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].finding, Finding::UnknownKind);
    EXPECT_THROW(apply_circuit(state, circuit), InvalidArgument);
}

TEST(CoreError, FixedTextRefusesAbsurdDecimalCounts) {
    EXPECT_EQ(format_fixed(0.5, MAX_FIXED_DECIMALS).size(), 2u + MAX_FIXED_DECIMALS);
    for (const int decimals : {-1, MAX_FIXED_DECIMALS + 1, std::numeric_limits<int>::max()}) {
        EXPECT_THROW(static_cast<void>(format_fixed(1.0, decimals)), InvalidArgument) << decimals;
    }
}

}  // namespace
}  // namespace zel::test
