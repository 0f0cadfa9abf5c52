#include "zel/core/spectrum.hpp"

#include <bit>
#include <cmath>
#include <complex>
#include <string>
#include <type_traits>

#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"

#include "pauli_mask.hpp"
#include <Eigen/Dense>

namespace zel {
namespace {

using Amplitude = ZarnikState::Amplitude;

// Rejects what no matrix can be built for, before anything is allocated.
void check_sum(const PauliSum& sum, std::uint64_t num_qubits) {
    if (num_qubits > MAX_GROUND_STATE_QUBITS) {
        throw InvalidArgument("ground_state: " + std::to_string(num_qubits) +
                              " qubits exceed the dense solver's limit of " +
                              std::to_string(MAX_GROUND_STATE_QUBITS));
    }
    const std::uint64_t dimension = std::uint64_t{1} << num_qubits;
    for (std::size_t t = 0; t < sum.terms.size(); ++t) {
        if (!std::isfinite(sum.terms[t].coefficient)) {
            throw InvalidArgument("ground_state: the coefficient of term " + std::to_string(t) +
                                  " is " + format_float_debug(sum.terms[t].coefficient));
        }
        detail::MaskedTerm masked;
        detail::mask_term(sum.terms[t], masked);
        detail::check_partner(masked, dimension);
    }
}

// Adds w P to the matrix for every term: P|k> = f(k)|k ^ flip>, so column k gets f(k) w in row
// k ^ flip, with f(k) = i^y * (-1)^popcount(k & sign). A real Scalar is used only when every y
// is even, where i^y is +-1.
template <class Matrix, class Scalar>
void add_terms(const PauliSum& sum, std::uint64_t dimension, Matrix& h) {
    constexpr std::complex<double> POWERS_OF_I[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (const PauliTerm& term : sum.terms) {
        detail::MaskedTerm masked;
        detail::mask_term(term, masked);
        const std::complex<double> phase = term.coefficient * POWERS_OF_I[masked.y_count % 4];
        Scalar base;
        if constexpr (std::is_same_v<Scalar, double>) {
            base = phase.real();
        } else {
            base = phase;
        }
        for (std::uint64_t k = 0; k < dimension; ++k) {
            const bool odd = (std::popcount(k & masked.sign) & 1) != 0;
            const auto row = static_cast<Eigen::Index>(k ^ masked.flip);
            h(row, static_cast<Eigen::Index>(k)) += odd ? -base : base;
        }
    }
}

bool is_real(const PauliSum& sum) {
    for (const PauliTerm& term : sum.terms) {
        detail::MaskedTerm masked;
        detail::mask_term(term, masked);
        if ((masked.y_count & 1U) != 0) {
            return false;
        }
    }
    return true;
}

template <class Scalar>
Eigen::Matrix<Scalar, Eigen::Dynamic, Eigen::Dynamic> matrix_of(const PauliSum& sum,
                                                                std::uint64_t dimension) {
    using Matrix = Eigen::Matrix<Scalar, Eigen::Dynamic, Eigen::Dynamic>;
    const auto size = static_cast<Eigen::Index>(dimension);
    Matrix h = Matrix::Zero(size, size);
    add_terms<Matrix, Scalar>(sum, dimension, h);
    return h;
}

template <class Scalar>
GroundState solve(const PauliSum& sum, std::uint64_t num_qubits, bool with_vector) {
    const std::uint64_t dimension = std::uint64_t{1} << num_qubits;
    const auto h = matrix_of<Scalar>(sum, dimension);
    Eigen::SelfAdjointEigenSolver<decltype(h)> solver(
        h, with_vector ? Eigen::ComputeEigenvectors : Eigen::EigenvaluesOnly);
    if (solver.info() != Eigen::Success) {
        throw InvalidArgument("ground_state: the eigensolver did not converge");
    }
    GroundState result{solver.eigenvalues()(0), ZarnikState(num_qubits)};
    if (with_vector) {
        auto amplitudes = result.state.amplitudes_mut();
        const auto v = solver.eigenvectors().col(0);
        for (std::uint64_t k = 0; k < dimension; ++k) {
            amplitudes[k] = Amplitude(v(static_cast<Eigen::Index>(k)));
        }
    }
    return result;
}

}  // namespace

std::vector<Amplitude> dense_matrix(const PauliSum& sum, std::uint64_t num_qubits) {
    check_sum(sum, num_qubits);
    const std::uint64_t dimension = std::uint64_t{1} << num_qubits;
    const auto h = matrix_of<std::complex<double>>(sum, dimension);
    std::vector<Amplitude> out(dimension * dimension);
    for (std::uint64_t m = 0; m < dimension; ++m) {
        for (std::uint64_t k = 0; k < dimension; ++k) {
            out[m * dimension + k] = h(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(k));
        }
    }
    return out;
}

GroundState ground_state(const PauliSum& sum, std::uint64_t num_qubits) {
    check_sum(sum, num_qubits);
    return is_real(sum) ? solve<double>(sum, num_qubits, true)
                        : solve<std::complex<double>>(sum, num_qubits, true);
}

double ground_energy(const PauliSum& sum, std::uint64_t num_qubits) {
    check_sum(sum, num_qubits);
    return is_real(sum) ? solve<double>(sum, num_qubits, false).energy
                        : solve<std::complex<double>>(sum, num_qubits, false).energy;
}

}  // namespace zel
