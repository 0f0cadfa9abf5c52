#pragma once

/// \file
/// Circuit evaluation and the search loop on distributed states: the functions of
/// `zel/core/simulator.hpp` for a `DistributedState`, with the same rules and bitwise the same
/// results as on a `ZarnikState` of the same qubit count. All of them are collective.
///
/// The search loop's decisions depend only on the energies, which are the same on every rank,
/// and on the strategy's random draws: the SPSA step draws its signs from the calling thread's
/// generator, so the ranks must draw the same values. `run_zarnik_loop` here arranges that by
/// `seed_identically` before its first iteration.

#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

#include "zel/core/circuit.hpp"
#include "zel/core/evaluation.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/strategy.hpp"
#include "zel/mpi/agreement.hpp"
#include "zel/mpi/observable.hpp"
#include "zel/mpi/state.hpp"

#include <mpi.h>

namespace zel::detail {

/// On a `DistributedState`: the working state is |0...0> on the reference's layout
/// (`fresh_state_like`), a run goes gate by gate on every rank (there is no fused mode, and no
/// cancellation point, which one rank alone could take), and the energy is the collective
/// `zel::mpi::expectation_value`.
template <>
struct StateEvaluation<mpi::DistributedState> {
    static mpi::DistributedState fresh_like(const mpi::DistributedState& reference) {
        return mpi::fresh_state_like(reference);
    }
    static void run(mpi::DistributedState& state, const ZarnikGraph& circuit, Evaluation) {
        for (const Operation& op : circuit.operations) {
            state.apply(op);
        }
    }
    static double energy(const PauliSum& hamiltonian, const mpi::DistributedState& state) {
        return mpi::expectation_value(hamiltonian, state);
    }
};

}  // namespace zel::detail

namespace zel::mpi {

/// The state that `circuit` prepares from |0...0> on `num_qubits` qubits over the ranks of
/// `comm`. Throws what the constructor and `apply_gate` throw. (`comm` has no default, so that
/// a call with two arguments stays `zel::run_circuit`.)
inline DistributedState run_circuit(const ZarnikGraph& circuit, std::uint64_t num_qubits,
                                    MPI_Comm comm, DistributionOptions options = {}) {
    DistributedState state(num_qubits, comm, options);
    zel::detail::StateEvaluation<DistributedState>::run(state, circuit, Evaluation::Exact);
    return state;
}

/// Applies every operation of `circuit` to `state`, in order, after checking all of them
/// (`check_gate`), so that a circuit that would fail throws the exception of its first failing
/// operation on every rank before any amplitude changes.
inline void apply_circuit(DistributedState& state, const ZarnikGraph& circuit) {
    zel::detail::apply_checked_circuit(state, circuit);
}

/// Energy of the state that `circuit` prepares from |0...0> on the reference's qubits,
/// communicator and options: bitwise `zel::evaluate_circuit_energy` on a `ZarnikState`.
inline double evaluate_circuit_energy(const DistributedState& reference, const ZarnikGraph& circuit,
                                      const PauliSum& hamiltonian) {
    return zel::detail::circuit_energy(reference, circuit, hamiltonian, Evaluation::Exact);
}

/// Energy and entropy (after the energy, on the same state) of the state that `circuit`
/// prepares: bitwise `zel::evaluate_circuit_telemetry`.
inline Telemetry evaluate_circuit_telemetry(const DistributedState& reference,
                                            const ZarnikGraph& circuit,
                                            const PauliSum& hamiltonian) {
    return zel::detail::circuit_telemetry(reference, circuit, hamiltonian, Evaluation::Exact);
}

/// The optimiser's energy function on distributed states: calling it with parameter values
/// returns `evaluate_circuit_energy(state, with_parameters(circuit, values), hamiltonian)`,
/// bitwise `zel::EnergyFn` on a `ZarnikState`. Borrows all three; every rank calls it with the
/// same values.
class DistributedEnergyFn {
  public:
    DistributedEnergyFn(const ZarnikGraph& circuit, const DistributedState& state,
                        const PauliSum& hamiltonian)
        : circuit_(circuit), state_(state), hamiltonian_(hamiltonian) {
    }

    // It only borrows: temporaries would be gone before the first call.
    DistributedEnergyFn(ZarnikGraph&&, const DistributedState&, const PauliSum&) = delete;
    DistributedEnergyFn(const ZarnikGraph&, DistributedState&&, const PauliSum&) = delete;
    DistributedEnergyFn(const ZarnikGraph&, const DistributedState&, PauliSum&&) = delete;

    double operator()(std::span<const double> values) const {
        return zel::detail::energy_at(state_, circuit_, hamiltonian_, values, Evaluation::Exact);
    }

  private:
    const ZarnikGraph& circuit_;
    const DistributedState& state_;
    const PauliSum& hamiltonian_;
};

/// Makes the calling thread of every rank of `comm` draw the same random values from here on
/// (collective): rank 0 draws one value v from its generator (`zel::random::next_u64`) and every
/// rank, rank 0 included, reseeds with v (`zel::random::reseed`). A run is therefore as
/// reproducible as rank 0's generator: reseed it (or every rank) first for a fixed run.
void seed_identically(MPI_Comm comm = MPI_COMM_WORLD);

/// `standard_output()` on rank 0 of `comm`, `null_output()` on the others: one copy of the
/// search loop's and the strategy's lines.
OutputSink& rank_zero_output(MPI_Comm comm = MPI_COMM_WORLD);

/// The search loop of `zel::run_zarnik_loop` on a distributed reference state (collective):
/// the same steps, decisions and lines, with every evaluation distributed. Before the first
/// evaluation it calls `seed_identically(reference.communicator())`, so the strategy's random
/// draws agree on every rank; given the same generator state on rank 0, the result equals that
/// of `zel::run_zarnik_loop` on a `ZarnikState` after `zel::random::reseed(v)` with the v that
/// rank 0 draws. Lines go to `options.output` on every rank; pass `&rank_zero_output()` for one
/// copy. The energy function borrows the reference itself (evaluations never change it).
/// Every evaluation and every call of the strategy is `agreed`: what throws on one rank
/// throws on every rank (see agreement.hpp).
template <ZarnikStrategy Strategy>
LoopResult run_zarnik_loop(DistributedState reference, ZarnikGraph circuit,
                           const PauliSum& hamiltonian, Strategy& strategy,
                           const LoopOptions& options = {}) {
    seed_identically(reference.communicator());
    AgreedStrategy<Strategy> agreed_strategy(strategy, reference.communicator());
    const AgreementComm agreement(reference.communicator());
    return zel::detail::search_loop(
        std::move(circuit), agreed_strategy, options,
        [&](const ZarnikGraph& current) {
            return agreed(agreement.get(), [&] {
                return evaluate_circuit_telemetry(reference, current, hamiltonian);
            });
        },
        [&](ZarnikGraph& live) {
            const ZarnikGraph snapshot = live;
            const DistributedEnergyFn energy_fn(snapshot, reference, hamiltonian);
            agreed_strategy.optimize_parameters(live, energy_fn);
        });
}

}  // namespace zel::mpi
