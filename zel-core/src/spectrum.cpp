#include "zel/core/spectrum.hpp"

#include <bit>
#include <chrono>
#include <cmath>
#include <complex>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>

#include "zel/core/cancel.hpp"
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

// Registers from this size run the solver on a thread of its own, so that the caller can
// answer a cancellation request while it works (a 2^8 matrix takes some milliseconds).
constexpr std::uint64_t SOLVE_ASIDE_FROM_QUBITS = 8;

// How often the caller looks for a cancellation request while the solver works.
constexpr std::chrono::milliseconds SOLVER_POLL{5};

// solve() on a thread of its own while the calling thread polls for cancellation; on a request
// the caller throws Cancelled at once and the thread, which owns copies of its inputs, finishes
// the diagonalisation it cannot interrupt and releases its memory when done.
template <class Scalar>
GroundState solve_cancellable(const PauliSum& sum, std::uint64_t num_qubits, bool with_vector) {
    throw_if_cancelled();
    if (num_qubits < SOLVE_ASIDE_FROM_QUBITS) {
        return solve<Scalar>(sum, num_qubits, with_vector);
    }
    auto task = std::make_shared<std::packaged_task<GroundState()>>([sum, num_qubits, with_vector] {
        return solve<Scalar>(sum, num_qubits, with_vector);
    });
    std::future<GroundState> result = task->get_future();
    std::thread([task] {
        (*task)();
    }).detach();
    while (result.wait_for(SOLVER_POLL) != std::future_status::ready) {
        throw_if_cancelled();
    }
    return result.get();
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
    return is_real(sum) ? solve_cancellable<double>(sum, num_qubits, true)
                        : solve_cancellable<std::complex<double>>(sum, num_qubits, true);
}

double ground_energy(const PauliSum& sum, std::uint64_t num_qubits) {
    check_sum(sum, num_qubits);
    return is_real(sum) ? solve_cancellable<double>(sum, num_qubits, false).energy
                        : solve_cancellable<std::complex<double>>(sum, num_qubits, false).energy;
}

}  // namespace zel
