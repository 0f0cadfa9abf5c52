#include "zel/mpi/agreement.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "zel/mpi/error.hpp"

namespace zel::mpi {
namespace {

// How often a failing rank looks whether the others have reached the agreement.
constexpr std::chrono::milliseconds AGREEMENT_POLL{1};

std::string message_of(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

// Ends the job from a failing rank whose peers never came to the agreement.
[[noreturn]] void abort_job(MPI_Comm comm, int rank, const std::string& message,
                            std::chrono::milliseconds timeout) {
    const std::string text = "zel: process " + std::to_string(rank) + " failed: " + message +
                             "; the other processes did not reach the agreement within " +
                             std::to_string(static_cast<double>(timeout.count()) / 1000.0) +
                             " s, aborting the job\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    MPI_Abort(comm, 1);
    std::abort();
}

}  // namespace

DistributedError::DistributedError(int rank, std::string_view message)
    : Error("process " + std::to_string(rank) + " failed: " + std::string(message)), rank_(rank) {
}

AgreementComm::AgreementComm(MPI_Comm comm) {
    check_mpi(MPI_Comm_dup(comm, &comm_), "MPI_Comm_dup");
    check_mpi(MPI_Comm_set_errhandler(comm_, MPI_ERRORS_RETURN), "MPI_Comm_set_errhandler");
}

AgreementComm::~AgreementComm() {
    if (comm_ != MPI_COMM_NULL) {
        MPI_Comm_free(&comm_);
    }
}

void agree(MPI_Comm comm, const std::exception_ptr& failure, std::chrono::milliseconds timeout) {
    int rank = 0;
    int size = 1;
    check_mpi(MPI_Comm_rank(comm, &rank), "MPI_Comm_rank");
    check_mpi(MPI_Comm_size(comm, &size), "MPI_Comm_size");
    int mine = failure ? rank : size;
    int first = size;
    MPI_Request request = MPI_REQUEST_NULL;
    check_mpi(MPI_Iallreduce(&mine, &first, 1, MPI_INT, MPI_MIN, comm, &request), "MPI_Iallreduce");
    if (!failure) {
        // A rank without failure waits as long as it takes: a failing peer either arrives or
        // ends the job.
        check_mpi(MPI_Wait(&request, MPI_STATUS_IGNORE), "MPI_Wait");
    } else {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int done = 0;
        while (true) {
            check_mpi(MPI_Test(&request, &done, MPI_STATUS_IGNORE), "MPI_Test");
            if (done != 0) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                abort_job(comm, rank, message_of(failure), timeout);
            }
            std::this_thread::sleep_for(AGREEMENT_POLL);
        }
    }
    if (first == size) {
        return;
    }
    // Everyone learns the first failing rank's message.
    std::string message = rank == first ? message_of(failure) : std::string();
    std::uint64_t length = message.size();
    check_mpi(MPI_Bcast(&length, 1, MPI_UINT64_T, first, comm), "MPI_Bcast");
    message.resize(static_cast<std::size_t>(length));
    check_mpi(MPI_Bcast(message.data(), static_cast<int>(length), MPI_CHAR, first, comm),
              "MPI_Bcast");
    if (failure) {
        std::rethrow_exception(failure);
    }
    throw DistributedError(first, message);
}

}  // namespace zel::mpi
