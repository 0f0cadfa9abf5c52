#pragma once

/// \file
/// The exception of zel-mpi: an MPI call that returned an error code. zel-mpi's communicators
/// return errors instead of aborting (MPI_ERRORS_RETURN), so an MPI failure inside the library
/// reaches the caller as this exception, with the MPI library's own description of the error.

#include <string>
#include <string_view>

#include "zel/core/error.hpp"

namespace zel::mpi {

/// An MPI call returned `code` instead of MPI_SUCCESS. `what()` is
/// "{function} failed: {MPI_Error_string(code)}", e.g.
/// "MPI_Sendrecv failed: MPI_ERR_RANK: invalid rank".
class MpiError : public Error {
  public:
    MpiError(std::string_view function, int code);

    /// The MPI error code the call returned.
    int code() const noexcept {
        return code_;
    }
    /// The name of the MPI function that failed ("MPI_Sendrecv").
    const std::string& function() const noexcept {
        return function_;
    }

  private:
    std::string function_;
    int code_;
};

/// Returns when `code` is MPI_SUCCESS; otherwise throws `MpiError(function, code)`.
void check_mpi(int code, std::string_view function);

}  // namespace zel::mpi
