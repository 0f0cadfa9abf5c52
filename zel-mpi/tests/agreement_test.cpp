// A failure on one rank reaches every rank: a step that throws on the last rank only, and the
// search loop with a strategy that refuses on the last rank only, end with an exception on
// every rank (the failing rank's own, DistributedError naming it elsewhere) instead of leaving
// the others in a collective. Without the agreement these cases hang until CTest's timeout.

#include "zel/mpi/agreement.hpp"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"
#include "zel/mpi/simulator.hpp"
#include "zel/mpi/state.hpp"

#include "support.hpp"
#include <mpi.h>

namespace zel::mpi::test {
namespace {

// Runs `call` and checks what this rank gets: the failing rank its own exception, the others
// DistributedError with that rank and its message.
template <class Call>
void expect_failure_everywhere(int failing, const std::string& message, const Call& call) {
    try {
        call();
        ADD_FAILURE() << "nothing was thrown";
    } catch (const DistributedError& error) {
        EXPECT_NE(world_rank(), failing);
        EXPECT_EQ(error.rank(), failing);
        EXPECT_EQ(std::string(error.what()),
                  "process " + std::to_string(failing) + " failed: " + message);
    } catch (const std::exception& error) {
        EXPECT_EQ(world_rank(), failing);
        EXPECT_EQ(std::string(error.what()), message);
    }
}

TEST(MpiAgreement, AStepThatThrowsOnOneRankThrowsOnEvery) {
    const int last = world_size() - 1;
    expect_failure_everywhere(last, "argument refused on the last rank", [&] {
        agreed(MPI_COMM_WORLD, [&] {
            if (world_rank() == last) {
                throw InvalidArgument("argument refused on the last rank");
            }
            return 1;
        });
    });
    // Ranks from 1 on fail: each rethrows its own exception, rank 0 hears of rank 1.
    try {
        agreed(MPI_COMM_WORLD, [] {
            if (world_rank() >= 1) {
                throw std::runtime_error("rank " + std::to_string(world_rank()));
            }
        });
        EXPECT_EQ(world_size(), 1);
    } catch (const DistributedError& error) {
        EXPECT_EQ(world_rank(), 0);
        EXPECT_EQ(error.rank(), 1);
        EXPECT_EQ(std::string(error.what()), "process 1 failed: rank 1");
    } catch (const std::exception& error) {
        EXPECT_GE(world_rank(), 1);
        EXPECT_EQ(std::string(error.what()), "rank " + std::to_string(world_rank()));
    }
    EXPECT_EQ(agreed(MPI_COMM_WORLD,
                     [] {
                         return 7;
                     }),
              7);
}

// Refuses to decide on the last rank, from the iteration `refuse_at` on.
struct RefusingStrategy {
    int refuse_at;
    int calls = 0;

    template <class EnergyFunction>
    void optimize_parameters(ZarnikGraph& /*graph*/, const EnergyFunction& /*energy_fn*/) {
    }

    StrategyAction evaluate_and_evolve(const ZarnikGraph& /*graph*/, double /*energy*/,
                                       double /*entropy*/) {
        if (++calls >= refuse_at && world_rank() == world_size() - 1) {
            throw std::runtime_error("strategy failed on the last rank");
        }
        return AddGate{GateType::of(GateKind::H), {calls % 3 == 0 ? 0U : 2U}};
    }
};

TEST(MpiAgreement, AStrategyThatThrowsOnOneRankEndsTheLoopOnEvery) {
    RefusingStrategy strategy{3};
    LoopOptions options;
    options.output = &null_output();
    expect_failure_everywhere(world_size() - 1, "strategy failed on the last rank", [&] {
        run_zarnik_loop(DistributedState(4, MPI_COMM_WORLD), ZarnikGraph(4),
                        parse_pauli_sum("Z0 + X2"), strategy, options);
    });
}

}  // namespace
}  // namespace zel::mpi::test
