// The guide's example of a failure on one rank: a step that throws on the last rank only ends
// with an exception on every rank, so no rank waits in a collective for ever.

#include <cstdio>
#include <stdexcept>

#include "zel/mpi/agreement.hpp"

#include <mpi.h>

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    int rank = 0;
    int size = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    int status = 1;

    try {
        zel::mpi::agreed(MPI_COMM_WORLD, [&] {
            if (rank == size - 1) {
                throw std::runtime_error("bad input on this rank");
            }
        });
    } catch (const zel::mpi::DistributedError& other) {
        // On every other rank: "process 1 failed: bad input on this rank" (two ranks).
        std::printf("rank %d: %s\n", rank, other.what());
        status = 0;
    } catch (const std::runtime_error& own) {
        std::printf("rank %d: %s\n", rank, own.what());
        status = 0;
    }

    MPI_Finalize();
    return status;
}
