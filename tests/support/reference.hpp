#pragma once

/// \file
/// A small dense reference simulator for the tests: full 2^n x 2^n matrices of every gate kind
/// and of Pauli strings, built from their textbook definitions (not from the kernels' formulas);
/// the plain ascending loops with the kernels' fixed arithmetic, for bitwise checks; seeded random
/// states; and the comparison helpers of the suite (one named tolerance that reports the first
/// bad index, a bitwise comparison, death-test regexes).

#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "support/plain_loops.hpp"

namespace zel::test {

using Complex = std::complex<double>;
using Vector = std::vector<Complex>;

/// The suite's one tolerance for results whose arithmetic is not fixed, applied per real and
/// imaginary part (or to a scalar). States are normalised and gates are a handful of roundings
/// deep, so honest results sit near 1e-16 while every real fault is far above this.
inline constexpr double TOLERANCE = 1e-12;

/// Seed of the suite's random states; every test draws from its own generator.
inline constexpr std::uint64_t SEED = 0x5eed2e1c0de;

/// Dense square matrix, row-major.
struct DenseMatrix {
    std::size_t dim = 0;
    std::vector<Complex> entries;

    explicit DenseMatrix(std::size_t d) : dim(d), entries(d * d) {
    }

    Complex& at(std::size_t row, std::size_t column) {
        return entries[row * dim + column];
    }
    Complex at(std::size_t row, std::size_t column) const {
        return entries[row * dim + column];
    }
};

/// Bit q of `index`.
inline std::uint64_t bit(std::uint64_t index, std::uint64_t q) {
    return (index >> q) & 1U;
}

/// The textbook 2x2 matrix of a one-qubit kind, row-major, acting on (bit clear, bit set).
inline std::array<Complex, 4> one_qubit_matrix(GateKind kind, double theta) {
    const Complex i(0.0, 1.0);
    const double c = std::cos(theta / 2);
    const double s = std::sin(theta / 2);
    const double r = std::numbers::sqrt2 / 2;
    switch (kind) {
        case GateKind::I:
            return {1.0, 0.0, 0.0, 1.0};
        case GateKind::X:
            return {0.0, 1.0, 1.0, 0.0};
        case GateKind::Y:
            return {0.0, -i, i, 0.0};
        case GateKind::Z:
            return {1.0, 0.0, 0.0, -1.0};
        case GateKind::H:
            return {r, r, r, -r};
        case GateKind::S:
            return {1.0, 0.0, 0.0, i};
        case GateKind::SX:
            return {0.5 * (1.0 + i), 0.5 * (1.0 - i), 0.5 * (1.0 - i), 0.5 * (1.0 + i)};
        case GateKind::T:
            return {1.0, 0.0, 0.0, std::polar(1.0, std::numbers::pi / 4)};
        case GateKind::RX:
            return {c, -i * s, -i * s, c};
        case GateKind::RY:
            return {c, -s, s, c};
        case GateKind::RZ:
            return {std::polar(1.0, -theta / 2), 0.0, 0.0, std::polar(1.0, theta / 2)};
        case GateKind::CX:
        case GateKind::CZ:
        case GateKind::SWAP:
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
            break;
    }
    ADD_FAILURE() << "no 2x2 matrix of an original kind for " << gate_info(kind).name;
    return {};
}

/// The full matrix of `kind` on n qubits with the given qubit indexes (in range, distinct).
/// Column c holds the image of basis state |c>.
inline DenseMatrix gate_matrix(GateKind kind, double theta, std::span<const std::uint64_t> qubits,
                               std::uint64_t n) {
    const std::size_t dim = std::size_t{1} << n;
    DenseMatrix m(dim);
    for (std::size_t c = 0; c < dim; ++c) {
        switch (kind) {
            case GateKind::CX: {
                const std::size_t row = bit(c, qubits[0]) ? c ^ (std::size_t{1} << qubits[1]) : c;
                m.at(row, c) = 1.0;
                break;
            }
            case GateKind::CZ:
                m.at(c, c) = bit(c, qubits[0]) && bit(c, qubits[1]) ? -1.0 : 1.0;
                break;
            case GateKind::SWAP: {
                std::size_t row =
                    c & ~((std::size_t{1} << qubits[0]) | (std::size_t{1} << qubits[1]));
                row |= bit(c, qubits[0]) << qubits[1];
                row |= bit(c, qubits[1]) << qubits[0];
                m.at(row, c) = 1.0;
                break;
            }
            case GateKind::U:
            case GateKind::U2:
            case GateKind::P:
            case GateKind::SDG:
            case GateKind::TDG:
            case GateKind::SXDG:
            case GateKind::CY:
            case GateKind::CH:
            case GateKind::CP:
            case GateKind::CRX:
            case GateKind::CRY:
            case GateKind::CRZ:
            case GateKind::CU:
            case GateKind::CCX:
            case GateKind::CSWAP:
            case GateKind::RXX:
            case GateKind::RYY:
            case GateKind::RZZ:
            case GateKind::GPHASE:
            case GateKind::PAULI_ROTATION:
            case GateKind::UNITARY:
            case GateKind::FERMIONIC_SINGLE:
            case GateKind::FERMIONIC_DOUBLE:
            case GateKind::QUBIT_SINGLE:
            case GateKind::QUBIT_DOUBLE:
                ADD_FAILURE() << "the kinds from U on have their matrices in the table tests";
                return m;
            case GateKind::I:
            case GateKind::X:
            case GateKind::Y:
            case GateKind::Z:
            case GateKind::H:
            case GateKind::S:
            case GateKind::SX:
            case GateKind::T:
            case GateKind::RX:
            case GateKind::RY:
            case GateKind::RZ: {
                const auto u = one_qubit_matrix(kind, theta);
                const std::uint64_t t = qubits[0];
                const std::size_t b = bit(c, t);
                const std::size_t clear = c & ~(std::size_t{1} << t);
                m.at(clear, c) = u[0 * 2 + b];
                m.at(clear | (std::size_t{1} << t), c) = u[1 * 2 + b];
                break;
            }
        }
    }
    return m;
}

/// Matrix-vector product.
inline Vector multiply(const DenseMatrix& m, const Vector& v) {
    Vector out(m.dim);
    for (std::size_t r = 0; r < m.dim; ++r) {
        Complex acc = 0.0;
        for (std::size_t c = 0; c < m.dim; ++c) {
            acc += m.at(r, c) * v[c];
        }
        out[r] = acc;
    }
    return out;
}

/// The gate kind with the same 2x2 matrix as a Pauli kind.
inline GateKind pauli_gate(Pauli kind) {
    switch (kind) {
        case Pauli::I:
            return GateKind::I;
        case Pauli::X:
            return GateKind::X;
        case Pauli::Y:
            return GateKind::Y;
        case Pauli::Z:
            return GateKind::Z;
    }
    return GateKind::I;
}

/// The dense matrix of a Pauli string on n qubits (qubits of its factors below n).
inline DenseMatrix pauli_matrix(const PauliTerm& term, std::uint64_t n) {
    const std::size_t dim = std::size_t{1} << n;
    DenseMatrix m(dim);
    for (std::size_t c = 0; c < dim; ++c) {
        // Apply the factors one by one to |c>; single-qubit Paulis keep a basis state a basis
        // state up to a phase.
        std::size_t row = c;
        Complex phase = 1.0;
        for (const PauliFactor& f : term.paulis) {
            const auto u = one_qubit_matrix(pauli_gate(f.kind), 0.0);
            const std::size_t b = bit(row, f.qubit);
            const std::size_t out_bit = f.kind == Pauli::X || f.kind == Pauli::Y ? 1 - b : b;
            phase *= u[out_bit * 2 + b];
            row ^= (out_bit ^ b) << f.qubit;
        }
        m.at(row, c) = phase;
    }
    return m;
}

/// <v|M|v>, real part.
inline double expectation(const DenseMatrix& m, const Vector& v) {
    const Vector mv = multiply(m, v);
    Complex acc = 0.0;
    for (std::size_t k = 0; k < v.size(); ++k) {
        acc += std::conj(v[k]) * mv[k];
    }
    return acc.real();
}

/// The dense expectation value of a whole Pauli sum.
inline double expectation(const PauliSum& sum, const Vector& v, std::uint64_t n) {
    double total = 0.0;
    for (const PauliTerm& term : sum.terms) {
        total += term.coefficient * expectation(pauli_matrix(term, n), v);
    }
    return total;
}

/// A random normalised state of n qubits, every part drawn uniformly from [-1, 1).
inline Vector random_state(std::uint64_t n, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> part(-1.0, 1.0);
    Vector v(std::size_t{1} << n);
    double norm = 0.0;
    for (Complex& a : v) {
        a = Complex(part(rng), part(rng));
        norm += std::norm(a);
    }
    const double scale = 1.0 / std::sqrt(norm);
    for (Complex& a : v) {
        a *= scale;
    }
    return v;
}

/// A state holding exactly the amplitudes `v` (length a power of two).
inline ZarnikState make_state(const Vector& v) {
    ZarnikState state(static_cast<std::uint64_t>(std::countr_zero(v.size())));
    std::copy(v.begin(), v.end(), state.amplitudes_mut().begin());
    return state;
}

/// The amplitudes of `state`, copied.
inline Vector amplitudes_of(const ZarnikState& state) {
    return Vector(state.amplitudes().begin(), state.amplitudes().end());
}

/// Hadamard factor of the kernels: one ulp below the double nearest 1/sqrt(2).
inline constexpr double HADAMARD_FACTOR = PLAIN_HADAMARD_FACTOR;

/// The plain ascending loop (plain_loops.hpp) of `kind` on `v`, qubits in range and distinct,
/// rotations by `theta`. The kernels must match it bit for bit where GateInfo::bitwise holds.
inline Vector plain_loop_reference(GateKind kind, double theta,
                                   std::span<const std::uint64_t> qubits, Vector v) {
    const Operation op{GateType{kind, theta}, {qubits.begin(), qubits.end()}, {}};
    reference_apply(v, static_cast<std::uint64_t>(std::countr_zero(v.size())), op);
    return v;
}

/// <psi|H|psi> from the definition, without matrices: for every term and index k, walk the
/// factors to the partner m and the phase f, and add Re(conj(psi[m]) f psi[k]), accumulating in
/// long double. For states too large for pauli_matrix.
inline double walked_expectation(const PauliSum& sum, const Vector& psi) {
    long double total = 0.0L;
    for (const PauliTerm& term : sum.terms) {
        long double inner = 0.0L;
        for (std::size_t k = 0; k < psi.size(); ++k) {
            std::size_t m = k;
            Complex f = 1.0;
            for (const PauliFactor& factor : term.paulis) {
                const bool set = bit(k, factor.qubit) != 0;
                switch (factor.kind) {
                    case Pauli::I:
                        break;
                    case Pauli::X:
                        m ^= std::size_t{1} << factor.qubit;
                        break;
                    case Pauli::Y:
                        m ^= std::size_t{1} << factor.qubit;
                        f *= set ? Complex(0.0, -1.0) : Complex(0.0, 1.0);
                        break;
                    case Pauli::Z:
                        f *= set ? -1.0 : 1.0;
                        break;
                }
            }
            inner += (std::conj(psi[m]) * f * psi[k]).real();
        }
        total += term.coefficient * inner;
    }
    return static_cast<double>(total);
}

/// Every part of `actual` within TOLERANCE of `expected`; names the first bad index.
inline ::testing::AssertionResult near_spans(std::span<const Complex> actual,
                                             std::span<const Complex> expected, double tolerance) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "length " << actual.size() << ", expected " << expected.size();
    }
    for (std::size_t k = 0; k < actual.size(); ++k) {
        if (!(std::abs(actual[k].real() - expected[k].real()) <= tolerance &&
              std::abs(actual[k].imag() - expected[k].imag()) <= tolerance)) {
            return ::testing::AssertionFailure()
                   << "first bad index " << k << ": got " << actual[k] << ", expected "
                   << expected[k] << " (tolerance " << tolerance << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult near_amplitudes(const ZarnikState& actual, const Vector& expected,
                                                  double tolerance = TOLERANCE) {
    return near_spans(actual.amplitudes(), expected, tolerance);
}

inline ::testing::AssertionResult near_amplitudes(const Vector& actual, const Vector& expected,
                                                  double tolerance = TOLERANCE) {
    return near_spans(actual, expected, tolerance);
}

/// The 64-bit pattern of a double.
inline std::uint64_t bits_of(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

/// Every part of `actual` bitwise equal to `expected` (so -0.0 differs from +0.0); names the
/// first bad index.
inline ::testing::AssertionResult bitwise_equal_spans(std::span<const Complex> actual,
                                                      std::span<const Complex> expected) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "length " << actual.size() << ", expected " << expected.size();
    }
    for (std::size_t k = 0; k < actual.size(); ++k) {
        if (bits_of(actual[k].real()) != bits_of(expected[k].real()) ||
            bits_of(actual[k].imag()) != bits_of(expected[k].imag())) {
            return ::testing::AssertionFailure()
                   << std::hexfloat << "first differing index " << k << ": got " << actual[k]
                   << ", expected " << expected[k];
        }
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult bitwise_equal(const ZarnikState& actual, const Vector& expected) {
    return bitwise_equal_spans(actual.amplitudes(), expected);
}

inline ::testing::AssertionResult bitwise_equal(const Vector& actual, const Vector& expected) {
    return bitwise_equal_spans(actual, expected);
}

/// `op` applied to the state `v` with one thread and with two gives the same bits; restores the
/// thread count it found.
inline ::testing::AssertionResult same_bits_on_one_and_two_threads(const Vector& v,
                                                                   const Operation& op) {
    const std::size_t before = parallel::thread_count();
    parallel::set_thread_count(1);
    ZarnikState one = make_state(v);
    one.apply(op);
    parallel::set_thread_count(2);
    ZarnikState two = make_state(v);
    two.apply(op);
    parallel::set_thread_count(before);
    return bitwise_equal(two, amplitudes_of(one));
}

/// Every amplitude of `actual` equal in value to `expected` (+0.0 == -0.0), for hand-written
/// expectations whose sign of zero is not the point; names the first bad index.
inline ::testing::AssertionResult equal_values(const ZarnikState& actual, const Vector& expected) {
    if (actual.dimension() != expected.size()) {
        return ::testing::AssertionFailure()
               << "length " << actual.dimension() << ", expected " << expected.size();
    }
    for (std::size_t k = 0; k < expected.size(); ++k) {
        if (actual.amplitudes()[k] != expected[k]) {
            return ::testing::AssertionFailure()
                   << std::hexfloat << "first bad index " << k << ": got " << actual.amplitudes()[k]
                   << ", expected " << expected[k];
        }
    }
    return ::testing::AssertionSuccess();
}

/// Regex for a death test: stderr is exactly `message` and one line feed. Regex
/// metacharacters in the message are escaped.
inline std::string exact_line(const std::string& message) {
    std::string regex = "^";
    for (const char ch : message) {
        if (std::string_view("\\^$.|?*+()[]{}").find(ch) != std::string_view::npos) {
            regex += '\\';
        }
        regex += ch;
    }
    return regex + "\n$";
}

/// Regex for the bounds report with the given length and index.
inline std::string bounds_report(std::uint64_t len, std::uint64_t index) {
    return exact_line("index out of bounds: the len is " + std::to_string(len) +
                      " but the index is " + std::to_string(index));
}

/// Death tests fork while the pool may have threads: run them in the re-executing style.
inline void threadsafe_death_tests() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
}

}  // namespace zel::test
