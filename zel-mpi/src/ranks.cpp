// What the ranks of a communicator share beyond the state: one random seed, one copy of the
// output.

#include "zel/core/random.hpp"
#include "zel/mpi/error.hpp"
#include "zel/mpi/simulator.hpp"

namespace zel::mpi {

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
