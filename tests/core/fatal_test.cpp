// One death test per fatal message of the core: the fixed text and a line feed on standard
// error, exit status 101 (allocation failure: the abort signal), also from a pool worker.

#include "zel/core/fatal.hpp"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/console.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "support/reference.hpp"

namespace zel::test {
namespace {

// Exit status a death test's statement uses when it wrongly survives.
constexpr int SURVIVED = 3;

// 16 * 2^n bytes is not a valid request from n = 59 on; every such count stops the same way.
TEST(CoreFatalDeathTest, InvalidLayoutForQubitCountsFrom59) {
    threadsafe_death_tests();
    for (std::uint64_t n : {59, 60, 63, 64, 1000}) {
        EXPECT_EXIT(ZarnikState{n}, ::testing::ExitedWithCode(101),
                    exact_line("Invalid layout: LayoutError"))
            << n;
    }
}

TEST(CoreFatalDeathTest, StateIndexOutOfBounds) {
    threadsafe_death_tests();
    EXPECT_EXIT(ZarnikState(2).set_computational_basis(4), ::testing::ExitedWithCode(101),
                exact_line("Index out of bounds for state vector"));
}

TEST(CoreFatalDeathTest, BoundsReport) {
    threadsafe_death_tests();
    EXPECT_EXIT(
        ZarnikState(2).apply_gate(GateType::of(GateKind::X), std::vector<std::uint64_t>{2}, {}),
        ::testing::ExitedWithCode(101), bounds_report(4, 4));
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EXIT(fatal_index_out_of_bounds(max, 0), ::testing::ExitedWithCode(101),
                bounds_report(max, 0));
}

// The largest count with a valid layout asks for 2^62 bytes, which no system grants.
TEST(CoreFatalDeathTest, AllocationFailureAborts) {
    threadsafe_death_tests();
    EXPECT_EXIT(ZarnikState{ZarnikState::MAX_QUBITS}, ::testing::KilledBySignal(SIGABRT),
                exact_line("memory allocation of 4611686018427387904 bytes failed"));
    EXPECT_EQ(ZarnikState::MAX_QUBITS, 58u);
}

TEST(CoreFatalDeathTest, FailedPrintingToStdout) {
    threadsafe_death_tests();
    EXPECT_EXIT(
        {
            ::close(STDOUT_FILENO);
            console::print("lost\n");
            std::_Exit(SURVIVED);
        },
        ::testing::ExitedWithCode(101),
        exact_line("failed printing to stdout: Bad file descriptor"));
}

TEST(CoreFatalDeathTest, FatalFromAPoolWorkerEndsTheProcess) {
    threadsafe_death_tests();
    EXPECT_EXIT(
        {
            parallel::set_thread_count(2);
            const auto caller = std::this_thread::get_id();
            parallel::for_each(4 * parallel::GRAIN, [caller](std::size_t, std::size_t) {
                if (std::this_thread::get_id() != caller) {
                    fatal_index_out_of_bounds(7, 9);
                }
            });
            std::_Exit(SURVIVED);
        },
        ::testing::ExitedWithCode(101), bounds_report(7, 9));
}

}  // namespace
}  // namespace zel::test
