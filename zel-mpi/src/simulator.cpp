#include "zel/mpi/simulator.hpp"

#include "zel/core/random.hpp"
#include "zel/mpi/error.hpp"

namespace zel::mpi {
namespace {

// The state `circuit` prepares: |0...0> on the reference's layout, then every operation in
// circuit order (each checked as it comes, as the whole state's evaluation does).
DistributedState prepare(const DistributedState& reference, const ZarnikGraph& circuit) {
    DistributedState working = fresh_state_like(reference);
    for (const Operation& op : circuit.operations) {
        working.apply(op);
    }
    return working;
}

}  // namespace

DistributedState run_circuit(const ZarnikGraph& circuit, std::uint64_t num_qubits, MPI_Comm comm,
                             DistributionOptions options) {
    DistributedState state(num_qubits, comm, options);
    for (const Operation& op : circuit.operations) {
        state.apply(op);
    }
    return state;
}

void apply_circuit(DistributedState& state, const ZarnikGraph& circuit) {
    for (const Operation& op : circuit.operations) {
        check_operation(state.num_qubits(), op);
    }
    for (const Operation& op : circuit.operations) {
        state.apply(op);
    }
}

double evaluate_circuit_energy(const DistributedState& reference, const ZarnikGraph& circuit,
                               const PauliSum& hamiltonian) {
    const DistributedState working = prepare(reference, circuit);
    return expectation_value(hamiltonian, working);
}

Telemetry evaluate_circuit_telemetry(const DistributedState& reference, const ZarnikGraph& circuit,
                                     const PauliSum& hamiltonian) {
    const DistributedState working = prepare(reference, circuit);
    const double energy = expectation_value(hamiltonian, working);
    return Telemetry{energy, working.calculate_entropy()};
}

double DistributedEnergyFn::operator()(std::span<const double> values) const {
    return evaluate_circuit_energy(state_, with_parameters(circuit_, values), hamiltonian_);
}

void seed_identically(MPI_Comm comm) {
    int rank = 0;
    check_mpi(MPI_Comm_rank(comm, &rank), "MPI_Comm_rank");
    std::uint64_t seed = rank == 0 ? random::next_u64() : 0;
    check_mpi(MPI_Bcast(&seed, 1, MPI_UINT64_T, 0, comm), "MPI_Bcast");
    random::reseed(seed);
}

OutputSink& rank_zero_output(MPI_Comm comm) {
    int rank = 0;
    check_mpi(MPI_Comm_rank(comm, &rank), "MPI_Comm_rank");
    return rank == 0 ? standard_output() : null_output();
}

}  // namespace zel::mpi
