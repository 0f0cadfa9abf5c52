#include "context.hpp"

#include <limits>
#include <string>

#include "zel/core/parallel.hpp"
#include "zel/mpi/error.hpp"

namespace zel::mpi::detail {
namespace {

// MPI counts are ints: the callers keep every message within that (an exchange piece is at most
// MAX_EXCHANGE_AMPLITUDES, a relay at most MAX_SUMS values).
int count_of(std::uint64_t count) {
    if (count > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        throw InvalidArgument("zel::mpi: a message of " + std::to_string(count) +
                              " elements exceeds what one MPI call can carry");
    }
    return static_cast<int>(count);
}

}  // namespace

Context::Context(MPI_Comm comm, DistributionOptions options) : options_(options) {
    check_mpi(MPI_Comm_dup(comm, &comm_), "MPI_Comm_dup");
    const int set = MPI_Comm_set_errhandler(comm_, MPI_ERRORS_RETURN);
    if (set != MPI_SUCCESS) {
        MPI_Comm_free(&comm_);
        check_mpi(set, "MPI_Comm_set_errhandler");
    }
    MPI_Comm_rank(comm_, &rank_);
    MPI_Comm_size(comm_, &size_);
}

Context::~Context() {
    int finalized = 0;
    MPI_Finalized(&finalized);
    if (finalized == 0 && comm_ != MPI_COMM_NULL) {
        MPI_Comm_free(&comm_);
    }
}

void Context::reserve(std::uint64_t local_dimension) {
    if (size_ > 1) {
        const std::uint64_t amplitudes = piece(local_dimension);
        send_.resize(static_cast<std::size_t>(amplitudes));
        receive_.resize(static_cast<std::size_t>(amplitudes));
    }
    if (local_dimension >= IN_PLACE_REDUCTION_FROM) {
        partials_.resize(static_cast<std::size_t>(local_dimension / parallel::SUM_CHUNK) *
                         parallel::MAX_SUMS);
    }
}

void Context::sendrecv(const Amplitude* send, Amplitude* receive, std::uint64_t count,
                       int partner) {
    const int n = count_of(count);
    check_mpi(MPI_Sendrecv(send, n, MPI_C_DOUBLE_COMPLEX, partner, EXCHANGE_TAG, receive, n,
                           MPI_C_DOUBLE_COMPLEX, partner, EXCHANGE_TAG, comm_, MPI_STATUS_IGNORE),
              "MPI_Sendrecv");
    ++traffic_.messages;
    traffic_.bytes_sent += count * sizeof(Amplitude);
}

void Context::send(const double* values, std::size_t count, int to, int tag) {
    check_mpi(MPI_Send(values, count_of(count), MPI_DOUBLE, to, tag, comm_), "MPI_Send");
    ++traffic_.messages;
    traffic_.bytes_sent += count * sizeof(double);
}

void Context::receive(double* values, std::size_t count, int from, int tag) {
    check_mpi(MPI_Recv(values, count_of(count), MPI_DOUBLE, from, tag, comm_, MPI_STATUS_IGNORE),
              "MPI_Recv");
}

void Context::broadcast(double* values, std::size_t count, int root) {
    check_mpi(MPI_Bcast(values, count_of(count), MPI_DOUBLE, root, comm_), "MPI_Bcast");
    if (rank_ == root) {
        ++traffic_.messages;
        traffic_.bytes_sent += count * sizeof(double);
    }
}

void Context::broadcast(std::uint64_t& value, int root) {
    check_mpi(MPI_Bcast(&value, 1, MPI_UINT64_T, root, comm_), "MPI_Bcast");
    if (rank_ == root) {
        ++traffic_.messages;
        traffic_.bytes_sent += sizeof(value);
    }
}

void Context::allgather(const Amplitude* block, std::uint64_t count, Amplitude* whole) {
    const int n = count_of(count);
    check_mpi(MPI_Allgather(block, n, MPI_C_DOUBLE_COMPLEX, whole, n, MPI_C_DOUBLE_COMPLEX, comm_),
              "MPI_Allgather");
    ++traffic_.messages;
    traffic_.bytes_sent += count * sizeof(Amplitude);
}

bool Context::any(bool flag) {
    int mine = flag ? 1 : 0;
    int result = 0;
    check_mpi(MPI_Allreduce(&mine, &result, 1, MPI_INT, MPI_LOR, comm_), "MPI_Allreduce");
    ++traffic_.messages;
    traffic_.bytes_sent += sizeof(mine);
    return result != 0;
}

}  // namespace zel::mpi::detail
