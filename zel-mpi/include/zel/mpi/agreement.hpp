#pragma once

/// \file
/// Failures that reach every rank. A step that throws on some ranks only (a strategy that fails
/// on one rank, an argument that one rank refuses) would leave the other ranks waiting in the
/// next collective for ever. `agreed` runs such a step and then agrees on its outcome: when it
/// threw anywhere, it throws on every rank, the failing ranks their own exception and the others
/// a `DistributedError` that names the first failing rank and carries its message.
///
/// A failing rank waits at most `AGREEMENT_TIMEOUT` for the others to reach the agreement. Ranks
/// that are stuck in a collective the failing rank never joins (a strategy that throws on one
/// rank before an energy evaluation the others have started) cannot arrive; the failing rank
/// then writes "zel: process {rank} failed: {message}; the other processes did not reach the
/// agreement within {seconds} s, aborting the job" on standard error and ends the job with
/// MPI_Abort. Either way no rank hangs and the program need not call MPI_Abort itself.
///
/// The distributed search loop (`zel::mpi::run_zarnik_loop`) runs every strategy call this way.

#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/strategy.hpp"

#include <mpi.h>

namespace zel::mpi {

/// Longest time a failing rank waits for the others to reach the agreement before it ends the
/// job.
inline constexpr std::chrono::seconds AGREEMENT_TIMEOUT{30};

/// A failure that arose on another rank ("process {rank} failed: {message}").
class DistributedError : public Error {
  public:
    DistributedError(int rank, std::string_view message);

    /// The lowest rank whose step threw.
    int rank() const noexcept {
        return rank_;
    }

  private:
    int rank_;
};

/// Agrees on the outcome of a step (collective over `comm`): returns when `failure` is empty on
/// every rank; otherwise rethrows `failure` where it is set and throws DistributedError on the
/// other ranks, after the message of the lowest failing rank has been shared. A failing rank
/// that the others do not join within `timeout` ends the job as the file's comment says.
void agree(MPI_Comm comm, const std::exception_ptr& failure,
           std::chrono::milliseconds timeout = AGREEMENT_TIMEOUT);

/// Runs `step()` on the calling rank, then `agree`s on its outcome; returns its result.
template <class Step>
auto agreed(MPI_Comm comm, Step&& step) -> std::invoke_result_t<Step&> {
    using Result = std::invoke_result_t<Step&>;
    std::exception_ptr failure;
    if constexpr (std::is_void_v<Result>) {
        try {
            step();
        } catch (...) {
            failure = std::current_exception();
        }
        agree(comm, failure);
    } else {
        std::optional<Result> result;
        try {
            result.emplace(step());
        } catch (...) {
            failure = std::current_exception();
        }
        agree(comm, failure);
        return std::move(*result);
    }
}

/// A duplicate of a communicator for agreements alone (collective), released by the
/// destructor: its messages never meet those of the steps it agrees on.
class AgreementComm {
  public:
    explicit AgreementComm(MPI_Comm comm);
    ~AgreementComm();
    AgreementComm(const AgreementComm&) = delete;
    AgreementComm& operator=(const AgreementComm&) = delete;

    MPI_Comm get() const noexcept {
        return comm_;
    }

  private:
    MPI_Comm comm_ = MPI_COMM_NULL;
};

/// A strategy whose two calls are `agreed` over a duplicate of `comm` (made by the constructor,
/// which is collective): what one rank's strategy throws reaches every rank.
template <ZarnikStrategy Strategy>
class AgreedStrategy {
  public:
    AgreedStrategy(Strategy& strategy, MPI_Comm comm) : strategy_(strategy), comm_(comm) {
    }

    template <class EnergyFunction>
    void optimize_parameters(ZarnikGraph& graph, const EnergyFunction& energy_fn) {
        agreed(comm_.get(), [&] {
            strategy_.optimize_parameters(graph, energy_fn);
        });
    }

    StrategyAction evaluate_and_evolve(const ZarnikGraph& graph, double energy, double entropy) {
        return agreed(comm_.get(), [&] {
            return strategy_.evaluate_and_evolve(graph, energy, entropy);
        });
    }

  private:
    Strategy& strategy_;
    AgreementComm comm_;
};

}  // namespace zel::mpi
