// The general pair kernel and the dense kernel where their loops differ by placement: a 2x2
// matrix on qubit 0 (a pair per vector) against the same pair on any other qubit, and a dense
// matrix on 2-6 qubits in any order, on registers it fills or exceeds, on one and two threads.

#include <algorithm>
#include <complex>
#include <cstdint>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/gate_table.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "support/placement.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

using Matrix = std::vector<Complex>;

// Restores the pool's thread count when a test ends.
class ThreadCountScope {
  public:
    ThreadCountScope() : before_(parallel::thread_count()) {
    }
    ~ThreadCountScope() {
        parallel::set_thread_count(before_);
    }
    ThreadCountScope(const ThreadCountScope&) = delete;
    ThreadCountScope& operator=(const ThreadCountScope&) = delete;

  private:
    std::size_t before_;
};

// v with qubit b moved to place to[b] (to a permutation of the qubits).
Vector move_qubits(const Vector& v, const Qubits& to) {
    Vector out(v.size());
    for (std::uint64_t i = 0; i < v.size(); ++i) {
        std::uint64_t j = 0;
        for (std::uint64_t b = 0; b < to.size(); ++b) {
            j |= ((i >> b) & 1U) << to[b];
        }
        out[j] = v[i];
    }
    return out;
}

// v with qubits a and b exchanged (an involution).
Vector exchange_qubits(const Vector& v, std::uint64_t n, std::uint64_t a, std::uint64_t b) {
    Qubits to(n);
    std::iota(to.begin(), to.end(), std::uint64_t{0});
    std::swap(to[a], to[b]);
    return move_qubits(v, to);
}

// F diag(e^(i phi_j)) F^dagger with F the discrete Fourier transform on d points: unitary, and
// for random phases every entry is nonzero and complex.
Matrix dense_unitary(std::size_t d, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> angle(0.0, 2.0 * std::numbers::pi);
    Matrix fourier(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            const double turn =
                2.0 * std::numbers::pi * static_cast<double>(r * c % d) / static_cast<double>(d);
            fourier[r * d + c] = std::polar(1.0 / std::sqrt(static_cast<double>(d)), turn);
        }
    }
    Matrix phases(d);
    for (Complex& p : phases) {
        p = std::polar(1.0, angle(rng));
    }
    Matrix m(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            for (std::size_t j = 0; j < d; ++j) {
                m[r * d + c] += fourier[r * d + j] * phases[j] * std::conj(fourier[c * d + j]);
            }
        }
    }
    return m;
}

// A 2x2 matrix on qubit 0 takes a pair per vector; on every other qubit the pair loops of the
// other placements (and from 2^17 amplitudes the pool). Each pair must come out with the same
// bits wherever it lies: U on qubit t equals, bit for bit, U on qubit 0 of the state with qubits
// 0 and t exchanged.
TEST(PairKernel, QubitZeroGivesTheBitsOfEveryOtherQubit) {
    const ThreadCountScope restore;
    std::mt19937_64 rng(SEED);
    const std::vector<Operation> samples = {
        make_operation(GateKind::U, {0}, {0.7, -1.9, 2.6}),
        make_operation(GateKind::U2, {0}, {0.4, -2.2}),
        unitary({0}, dense_unitary(2, rng)),
    };
    // Above the grain, the qubits where the pair loops change shape (runs of 1, 2 and 4 pairs,
    // prefetch windows, the top qubit).
    struct Case {
        std::uint64_t n;
        std::size_t threads;
        std::vector<std::uint64_t> targets;
    };
    const std::vector<Case> cases = {{3, 1, {1, 2}},
                                     {6, 1, {1, 2, 3, 4, 5}},
                                     {18, 1, {1, 2, 3, 4, 11, 17}},
                                     {18, 2, {1, 2, 3, 4, 11, 17}}};
    for (const Case& c : cases) {
        parallel::set_thread_count(c.threads);
        const Vector v = random_state(c.n, rng);
        for (const Operation& sample : samples) {
            ZarnikState on_zero = make_state(v);
            on_zero.apply(sample);
            const Vector expected = amplitudes_of(on_zero);
            for (const std::uint64_t t : c.targets) {
                SCOPED_TRACE(std::string(gate_info(sample.gate.kind).name) +
                             " n=" + std::to_string(c.n) + " t=" + std::to_string(t) +
                             " threads=" + std::to_string(c.threads));
                Operation op = sample;
                op.qubits = {t};
                ZarnikState moved = make_state(exchange_qubits(v, c.n, 0, t));
                moved.apply(op);
                EXPECT_TRUE(
                    bitwise_equal(exchange_qubits(amplitudes_of(moved), c.n, 0, t), expected));
            }
        }
    }
}

// Dense matrices of every width on qubits in any order: on registers with free qubits, and on
// one the matrix fills (its lane qubit lies outside the state).
TEST(DenseKernel, MatchesTheMatrixForEveryWidthAndOrder) {
    std::mt19937_64 rng(SEED + 1);
    for (std::size_t k = 2; k <= 6; ++k) {
        for (const std::uint64_t n : {k, k + 1, k + 3}) {
            for (const Qubits& q : sampled_placements(k, n, rng, 3)) {
                SCOPED_TRACE("k=" + std::to_string(k) + " n=" + std::to_string(n));
                const Matrix m = dense_unitary(std::size_t{1} << k, rng);
                const Vector v = random_state(n, rng);
                ZarnikState state = make_state(v);
                state.apply(unitary(q, m));
                EXPECT_TRUE(near_amplitudes(state, apply_on_qubits(m, q, v)));
            }
        }
    }
}

// A distributed state runs a matrix after moving a rank's qubits to free local places, so the
// kernel must give each amplitude the same bits wherever the matrix's qubits lie: the matrix on
// q of v equals, bit for bit, the matrix on the moved q of the moved v, moved back.
TEST(DenseKernel, SameBitsWhereverTheQubitsLie) {
    std::mt19937_64 rng(SEED + 3);
    for (std::size_t k = 2; k <= 4; ++k) {
        const std::uint64_t n = k + 2;
        for (const Qubits& q : sampled_placements(k, n, rng, 4)) {
            Qubits to(n);
            std::iota(to.begin(), to.end(), std::uint64_t{0});
            std::shuffle(to.begin(), to.end(), rng);
            Qubits back(n);
            Qubits moved_q(k);
            for (std::uint64_t b = 0; b < n; ++b) {
                back[to[b]] = b;
            }
            for (std::size_t j = 0; j < k; ++j) {
                moved_q[j] = to[q[j]];
            }
            SCOPED_TRACE("k=" + std::to_string(k));
            const Matrix m = dense_unitary(std::size_t{1} << k, rng);
            const Vector v = random_state(n, rng);
            ZarnikState state = make_state(v);
            state.apply(unitary(q, m));
            ZarnikState moved = make_state(move_qubits(v, to));
            moved.apply(unitary(moved_q, m));
            EXPECT_TRUE(bitwise_equal(state, move_qubits(amplitudes_of(moved), back)));
        }
    }
}

// A matrix on every qubit of a register runs through a buffer twice its size: each amplitude must
// come out as in a register with one more qubit, clear, and on one thread as on two.
TEST(DenseKernel, SameBitsWhateverTheRegisterAndThreads) {
    const ThreadCountScope restore;
    std::mt19937_64 rng(SEED + 2);
    for (std::size_t k = 2; k <= 6; ++k) {
        SCOPED_TRACE("k=" + std::to_string(k));
        Qubits q(k);
        for (std::size_t j = 0; j < k; ++j) {
            q[j] = k - 1 - j;
        }
        const Operation op = unitary(q, dense_unitary(std::size_t{1} << k, rng));
        const Vector v = random_state(k, rng);
        ZarnikState filled = make_state(v);
        filled.apply(op);
        Vector padded = v;
        padded.resize(2 * v.size());
        ZarnikState larger = make_state(padded);
        larger.apply(op);
        const Vector wide = amplitudes_of(larger);
        EXPECT_TRUE(bitwise_equal(filled, Vector(wide.begin(), wide.begin() + v.size())));
    }
    constexpr std::uint64_t N = 18;
    const Vector v = random_state(N, rng);
    EXPECT_TRUE(
        same_bits_on_one_and_two_threads(v, unitary({9, 0, 17, 4}, dense_unitary(16, rng))));
}

}  // namespace
}  // namespace zel::test
