// Pauli-string rotations of every length against their matrix: random strings of up to eight
// letters on placements that include qubit 0 and the top qubit, and wide strings on a register
// above the pool's grain with one and two threads.

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <string>
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

constexpr double THETA = 0.913;

std::string random_letters(std::size_t w, std::mt19937_64& rng) {
    std::uniform_int_distribution<int> letter(0, 3);
    std::string letters;
    for (std::size_t j = 0; j < w; ++j) {
        letters += "IXYZ"[letter(rng)];
    }
    return letters;
}

// Letters on `qubits` applied to basis state m: i^(number of Y) (-1)^(Y and Z on set bits) times
// the basis state with the X and Y qubits flipped.
Vector rotated(const std::string& letters, const Qubits& qubits, double theta, const Vector& v) {
    std::uint64_t flip = 0;
    std::uint64_t sign = 0;
    unsigned y = 0;
    for (std::size_t j = 0; j < letters.size(); ++j) {
        const std::uint64_t bit = std::uint64_t{1} << qubits[j];
        flip |= letters[j] == 'X' || letters[j] == 'Y' ? bit : 0;
        sign |= letters[j] == 'Y' || letters[j] == 'Z' ? bit : 0;
        y += letters[j] == 'Y' ? 1 : 0;
    }
    const Complex power[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    const Complex minus_i_sin(0.0, -std::sin(theta / 2));
    Vector out(v.size());
    for (std::uint64_t m = 0; m < v.size(); ++m) {
        const double parity = (std::popcount(m & sign) & 1) != 0 ? -1.0 : 1.0;
        out[m ^ flip] += minus_i_sin * power[y % 4] * parity * v[m];
        out[m] += std::cos(theta / 2) * v[m];
    }
    return out;
}

// Strings of 1-8 letters (I among them) on 2-9 qubits: sampled placements, and the string
// stretched from qubit 0 to the top qubit.
TEST(PauliRotation, RandomStringsMatchTheirMatrix) {
    std::mt19937_64 rng(SEED + 40);
    for (std::uint64_t n = 2; n <= 9; ++n) {
        for (std::size_t w = 1; w <= std::min<std::uint64_t>(n, 8); ++w) {
            std::vector<Qubits> placements = sampled_placements(w, n, rng, 4);
            Qubits spread(w);
            for (std::size_t j = 0; j < w; ++j) {
                spread[j] = w == 1 ? n - 1 : j * (n - 1) / (w - 1);
            }
            placements.push_back(spread);
            for (const Qubits& q : placements) {
                const std::string letters = random_letters(w, rng);
                SCOPED_TRACE(letters + " n=" + std::to_string(n) +
                             " first=" + std::to_string(q.front()));
                const Operation op = pauli_rotation(letters, q, THETA);
                const Vector v = random_state(n, rng);
                ZarnikState state = make_state(v);
                state.apply(op);
                EXPECT_TRUE(
                    near_amplitudes(state, apply_on_qubits(operation_matrix(op), op.qubits, v)));
            }
        }
    }
}

// Above the grain the pass is split into chunks; two threads give the bits of one, and both the
// action of the string on basis states. Strings of 4-16 letters on the top qubits (X, Y, Z in
// turn) and spread from qubit 0 to the top, short strings on the lowest qubits, and controlled
// rotations with the control above the target and on the lowest qubits.
TEST(PauliRotation, WideStringsAboveTheGrain) {
    constexpr std::uint64_t N = 18;
    std::mt19937_64 rng(SEED + 41);
    const Vector v = random_state(N, rng);
    struct Case {
        std::string name;
        Operation op;
        Vector expected;
    };
    std::vector<Case> cases;
    const auto string = [&](const std::string& letters, const Qubits& qubits) {
        cases.push_back({letters + " from qubit " + std::to_string(qubits.front()),
                         pauli_rotation(letters, qubits, THETA),
                         rotated(letters, qubits, THETA, v)});
    };
    string("ZZ", {0, N - 1});
    string("YY", {0, N - 1});
    string("XX", {1, 0});
    string("YZ", {0, 1});
    string("XY", {2, 9});
    string("ZIZX", {3, 0, 1, N - 1});
    for (const std::size_t w : {4, 8, 16}) {
        std::string top;
        std::string spread;
        Qubits top_qubits;
        Qubits spread_qubits;
        for (std::size_t j = 0; j < w; ++j) {
            top += "XYZ"[j % 3];
            top_qubits.push_back(N - w + j);
            spread += "YXZ"[j % 3];
            spread_qubits.push_back(j * (N - 1) / (w - 1));
        }
        string(top, top_qubits);
        string(spread, spread_qubits);
    }
    for (const GateKind kind : {GateKind::CRX, GateKind::CRY, GateKind::CRZ}) {
        for (const Qubits& q : {Qubits{5, 0}, Qubits{0, N - 1}, Qubits{1, 2}}) {
            const Operation op = make_operation(kind, q, {THETA});
            cases.push_back(
                {std::string(gate_info(kind).name) + " controlled by qubit " + std::to_string(q[0]),
                 op, apply_on_qubits(operation_matrix(op), op.qubits, v)});
        }
    }
    const std::size_t before = parallel::thread_count();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        parallel::set_thread_count(1);
        ZarnikState one = make_state(v);
        one.apply(c.op);
        parallel::set_thread_count(2);
        ZarnikState two = make_state(v);
        two.apply(c.op);
        EXPECT_TRUE(bitwise_equal(two, amplitudes_of(one)));
        EXPECT_TRUE(near_amplitudes(one, c.expected));
    }
    parallel::set_thread_count(before);
}

}  // namespace
}  // namespace zel::test
