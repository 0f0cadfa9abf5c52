#include "zel/mpi/error.hpp"

#include <string>

#include <mpi.h>

namespace zel::mpi {
namespace {

std::string message_of(std::string_view function, int code) {
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    std::string message(function);
    message += " failed: ";
    if (MPI_Error_string(code, text, &length) == MPI_SUCCESS) {
        message.append(text, static_cast<std::size_t>(length));
    } else {
        message += "MPI error code " + std::to_string(code);
    }
    return message;
}

}  // namespace

MpiError::MpiError(std::string_view function, int code)
    : Error(message_of(function, code)), function_(function), code_(code) {
}

void check_mpi(int code, std::string_view function) {
    if (code != MPI_SUCCESS) {
        throw MpiError(function, code);
    }
}

}  // namespace zel::mpi
