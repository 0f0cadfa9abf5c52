#pragma once

// The communicator that a distributed state shares with its copies: its own duplicate of the
// caller's communicator (errors returned, never fatal), the fixed exchange buffers, the scratch
// for reduction partials, and the traffic counters. Every call into MPI goes through here, is
// checked (MpiError with the MPI error string) and counted.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "zel/core/error.hpp"
#include "zel/mpi/state.hpp"

#include <mpi.h>

namespace zel::mpi::detail {

using Amplitude = std::complex<double>;

// Message tags. Every operation is blocking and all ranks make them in the same order, so a tag
// only needs to tell the kinds of message apart.
inline constexpr int EXCHANGE_TAG = 1;
inline constexpr int RELAY_TAG = 2;
inline constexpr int PARTIALS_TAG = 3;

class Context {
  public:
    // Duplicates `comm` (collective; the caller has checked its size) and makes the duplicate's
    // errors return.
    Context(MPI_Comm comm, DistributionOptions options);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    MPI_Comm comm() const noexcept {
        return comm_;
    }
    int rank() const noexcept {
        return rank_;
    }
    int size() const noexcept {
        return size_;
    }
    const DistributionOptions& options() const noexcept {
        return options_;
    }
    const Traffic& traffic() const noexcept {
        return traffic_;
    }

    // Allocates the buffers for blocks of `local_dimension` amplitudes: exchange buffers of
    // min(exchange_amplitudes, local_dimension) amplitudes when there are several ranks, and
    // the reduction scratch when blocks are reduced in place. Throws std::bad_alloc.
    void reserve(std::uint64_t local_dimension);

    // Amplitudes per exchange message for blocks of `local_dimension` amplitudes.
    std::uint64_t piece(std::uint64_t local_dimension) const noexcept {
        return local_dimension < options_.exchange_amplitudes ? local_dimension
                                                              : options_.exchange_amplitudes;
    }
    Amplitude* send_buffer() noexcept {
        return send_.data();
    }
    Amplitude* receive_buffer() noexcept {
        return receive_.data();
    }
    // Room for (local_dimension / SUM_CHUNK) * MAX_SUMS partials.
    double* partials() noexcept {
        return partials_.data();
    }

    // Sends `count` amplitudes to `partner` and receives as many from it.
    void sendrecv(const Amplitude* send, Amplitude* receive, std::uint64_t count, int partner);
    void send(const double* values, std::size_t count, int to, int tag);
    void receive(double* values, std::size_t count, int from, int tag);
    void broadcast(double* values, std::size_t count, int root);
    void broadcast(std::uint64_t& value, int root);
    // Every rank's `count` amplitudes, in rank order, into `whole` on every rank.
    void allgather(const Amplitude* block, std::uint64_t count, Amplitude* whole);
    // Whether `flag` is true on any rank.
    bool any(bool flag);

  private:
    MPI_Comm comm_ = MPI_COMM_NULL;
    int rank_ = 0;
    int size_ = 1;
    DistributionOptions options_;
    std::vector<Amplitude> send_;
    std::vector<Amplitude> receive_;
    std::vector<double> partials_;
    Traffic traffic_;
};

// Runs `allocate` on every rank and agrees on the outcome: when any rank ran out of memory,
// every rank throws AllocationError(bytes), so that none goes on to a collective alone.
template <class Allocate>
void agreed_allocation(Context& context, std::size_t bytes, Allocate&& allocate) {
    bool failed = false;
    try {
        allocate();
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    if (context.any(failed)) {
        throw AllocationError(bytes);
    }
}

}  // namespace zel::mpi::detail
