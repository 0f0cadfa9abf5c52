// A state spread over the ranks of MPI_COMM_WORLD: gates that cross the ranks, an expectation
// value and the entropy, checked bit for bit against one whole state on every rank; then the
// search loop with the adaptive strategy on a distributed register. Run it with
//
//     mpirun -np 2 distributed_search
//
// (any power of two up to 2^16 ranks). Rank 0 prints; the exit status is 0 when every rank found
// its block equal to the whole state's and the search reached its target.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/prepared.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/mpi/observable.hpp"
#include "zel/mpi/simulator.hpp"
#include "zel/mpi/state.hpp"
#include "zel/neural/brain.hpp"

#include <mpi.h>

namespace {

constexpr std::uint64_t QUBITS = 20;

/// Qubits of the register the search runs on.
constexpr std::uint64_t SEARCH_QUBITS = 16;

/// The search stops at this energy (hartree), 25 mHa above the lowest eigenvalue of the built-in
/// H2 operator, -1.915371.
constexpr double TARGET_ENERGY = -1.89;

/// Whether this rank's block is bit for bit the matching slice of `whole`.
bool block_equals(const zel::mpi::DistributedState& state, const zel::ZarnikState& whole) {
    const auto block = state.local_amplitudes();
    return std::memcmp(block.data(), whole.amplitudes().data() + state.first_index(),
                       block.size_bytes()) == 0;
}

/// Whether `ok` holds on every rank.
bool on_every_rank(bool ok) {
    int mine = ok ? 1 : 0;
    int all = 0;
    MPI_Allreduce(&mine, &all, 1, MPI_INT, MPI_LAND, MPI_COMM_WORLD);
    return all != 0;
}

int run() {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);

    // A GHZ state: H on qubit 0, then CX down the register. The top qubits are rank bits, so the
    // last CXs move amplitudes between ranks.
    zel::ZarnikGraph ghz(QUBITS);
    ghz.add_gate(zel::GateType::of(zel::GateKind::H), {0});
    for (std::uint64_t q = 0; q + 1 < QUBITS; ++q) {
        ghz.add_gate(zel::GateType::of(zel::GateKind::CX), {q, q + 1});
    }
    // 2^20 amplitudes, 16 MiB, over the ranks: each holds 2^20 / ranks of them.
    zel::mpi::DistributedState state(QUBITS);
    zel::mpi::apply_circuit(state, ghz);
    // An operation prepared for the register size applies to a distributed state too.
    const zel::PreparedOperation flip(zel::make_operation(zel::GateKind::CCX, {0, 1, 19}), QUBITS);
    state.apply(flip);
    state.apply(flip);  // twice: the state as it was, bit for bit
    const zel::PauliSum parity = zel::parse_pauli_sum("Z0 Z19 + 0.5 * XXXXXXXXXXXXXXXXXXXX");
    const double energy = zel::mpi::expectation_value(parity, state);
    const double entropy = state.calculate_entropy();

    // The same on one whole state, on every rank: the same bits.
    const zel::ZarnikState whole = zel::run_circuit(ghz, QUBITS);
    const bool same = block_equals(state, whole) && energy == parity.expectation_value(whole) &&
                      entropy == whole.calculate_entropy();
    const bool all_same = on_every_rank(same);
    if (rank == 0) {
        std::printf(
            "%d ranks, %llu amplitudes each: <Z0 Z19 + 0.5 X...X> = %.6f, entropy %.6f "
            "bits, bitwise equal to one process: %s\n",
            state.rank_count(), static_cast<unsigned long long>(state.local_amplitudes().size()),
            energy, entropy, all_same ? "yes" : "no");
    }

    // The search loop on a distributed register of 16 qubits, H2 on qubits 0 and 1. Every rank
    // runs it; rank_zero_output() prints the lines once.
    zel::ZarnikGraph circuit(SEARCH_QUBITS);
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::X), {0}, {});
    circuit.add_gate_with_params(zel::GateType::ry(0.0), {1}, {0.0});
    circuit.add_gate_with_params(zel::GateType::of(zel::GateKind::CX), {1, 0}, {});
    zel::OutputSink& out = zel::mpi::rank_zero_output();
    zel::NeuralZarnikBrain brain(0.1, 1e-4, TARGET_ENERGY, out);
    zel::LoopOptions options;
    options.max_iterations = 300;
    options.progress_interval = 20;
    options.output = &out;
    zel::random::reseed(1);  // rank 0's stream; the loop shares it with every rank
    const zel::LoopResult result =
        zel::mpi::run_zarnik_loop(zel::mpi::DistributedState(SEARCH_QUBITS), circuit,
                                  zel::PauliSum::h2_hamiltonian(), brain, options);

    if (rank == 0) {
        std::printf("search: energy %.6f Ha, %s\n", result.energy,
                    result.converged ? "target reached" : "target missed");
    }
    return all_same && result.converged ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    int status = 0;
    try {
        status = run();
    } catch (const std::exception& error) {
        // The libraries raise the same exception on every rank; the program ends the job.
        std::fprintf(stderr, "distributed_search: %s\n", error.what());
        MPI_Abort(MPI_COMM_WORLD, 1);
    }
    MPI_Finalize();
    return status;
}
