// The excitation kinds against their textbook definition: the native kernel at every placement
// of its orbitals, what it leaves untouched, the parity qubits, and the refusals of the
// constructors.

#include <algorithm>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/state.hpp"

#include "support/excitation_reference.hpp"
#include "support/placement.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

Operation excitation_on(const Qubits& orbitals, bool fermionic, double theta) {
    const std::size_t half = orbitals.size() / 2;
    const std::span<const std::uint64_t> from(orbitals.data(), half);
    const std::span<const std::uint64_t> to(orbitals.data() + half, half);
    return fermionic ? fermionic_excitation(from, to, theta) : qubit_excitation(from, to, theta);
}

struct Shape {
    std::size_t orbitals;
    bool fermionic;
    std::uint64_t n;
};

// Singles and doubles, fermionic and qubit, at every placement of their orbitals on 4 and 5
// qubits: the native pass equals the ladder-operator product on random states.
TEST(Excitation, NativeMatchesLadderProductAtEveryPlacement) {
    const std::vector<Shape> shapes = {
        {2, true, 4}, {2, false, 4}, {4, true, 4}, {4, false, 4},
        {2, true, 5}, {2, false, 5}, {4, true, 5}, {4, false, 5},
    };
    std::mt19937_64 rng(SEED);
    std::uniform_real_distribution<double> angle(-3.0, 3.0);
    for (const Shape& shape : shapes) {
        for (const Qubits& orbitals : every_placement(shape.orbitals, shape.n)) {
            const Operation op = excitation_on(orbitals, shape.fermionic, angle(rng));
            SCOPED_TRACE(std::string(gate_info(op.gate.kind).name) + " n=" +
                         std::to_string(shape.n) + " first orbital " + std::to_string(orbitals[0]));
            const Vector v = random_state(shape.n, rng);
            ZarnikState state = make_state(v);
            state.apply(op);
            const LocalMatrix textbook =
                excitation_textbook(op.qubits, shape.orbitals, shape.fermionic, op.params[0]);
            EXPECT_TRUE(near_amplitudes(state, apply_on_qubits(textbook, op.qubits, v)));
        }
    }
}

// A double changes only the amplitudes whose four orbitals read 1100 or 0011 (an eighth of
// them); every other amplitude keeps its bits.
TEST(Excitation, DoubleLeavesEveryOtherAmplitudeBitwise) {
    constexpr std::uint64_t N = 7;
    std::mt19937_64 rng(SEED + 1);
    const Vector v = random_state(N, rng);
    const Qubits orbitals = {5, 1, 2, 6};
    for (const bool fermionic : {true, false}) {
        ZarnikState state = make_state(v);
        state.apply(excitation_on(orbitals, fermionic, 0.9));
        const Vector after = amplitudes_of(state);
        const std::uint64_t from = (1U << 5) | (1U << 1);
        const std::uint64_t both = from | (1U << 2) | (1U << 6);
        std::size_t changed = 0;
        for (std::uint64_t i = 0; i < v.size(); ++i) {
            const bool moved = (i & both) == from || (i & both) == (both ^ from);
            if (!moved) {
                EXPECT_EQ(bits_of(after[i].real()), bits_of(v[i].real())) << "index " << i;
                EXPECT_EQ(bits_of(after[i].imag()), bits_of(v[i].imag())) << "index " << i;
            } else {
                changed += after[i] != v[i] ? 1 : 0;
            }
        }
        EXPECT_EQ(changed, v.size() / 8);
    }
}

// Registers where the moved amplitudes reach the pool's grain (2^17 pairs): a single on 19
// qubits, a double on 21. Two threads give the bits of one.
TEST(Excitation, TwoThreadsGiveTheBitsOfOneAboveTheGrain) {
    const std::vector<std::pair<Qubits, std::uint64_t>> cases = {{{18, 0}, 19},
                                                                 {{20, 3, 0, 11}, 21}};
    std::mt19937_64 rng(SEED + 3);
    for (const auto& [orbitals, n] : cases) {
        const Vector v = random_state(n, rng);
        const Operation op = excitation_on(orbitals, true, 0.8);
        ASSERT_GE((std::uint64_t{1} << n) >> orbitals.size(), parallel::GRAIN);
        EXPECT_TRUE(same_bits_on_one_and_two_threads(v, op)) << gate_info(op.gate.kind).name;
    }
}

struct ParityCase {
    Qubits orbitals;
    Qubits parity;
};

TEST(Excitation, ParityQubitsLieBetweenOddPairsOfSortedOrbitals) {
    const std::vector<ParityCase> cases = {
        {{2, 0}, {1}},
        {{1, 2}, {}},
        {{0, 3, 1, 5}, {4}},
        {{0, 5, 2, 3}, {1, 4}},
        {{7, 0, 3, 4}, {1, 2, 5, 6}},
        {{0, 1, 2, 3}, {}},
    };
    for (const ParityCase& c : cases) {
        EXPECT_EQ(excitation_parity_qubits(c.orbitals), c.parity);
        const Operation op = excitation_on(c.orbitals, true, 0.1);
        EXPECT_TRUE(std::equal(op.qubits.begin() + static_cast<std::ptrdiff_t>(c.orbitals.size()),
                               op.qubits.end(), c.parity.begin(), c.parity.end()));
    }
}

struct SignCase {
    Qubits from;
    Qubits to;
    int sign;
};

// T's sign on the state with only its emptied orbitals occupied: -1 for each occupied orbital
// below the one a ladder operator acts on, right to left (a_from[0] first, a^dagger_to[0] last).
TEST(Excitation, SignCountsTheOrbitalsEachLadderOperatorPasses) {
    const std::vector<SignCase> cases = {
        {{2}, {0}, 1},         // a single passes no other orbital
        {{0, 1}, {2, 3}, 1},   // a_0 first: a_1 then finds 0 empty
        {{1, 0}, {2, 3}, -1},  // a_1 first passes the occupied 0
        {{0, 1}, {3, 2}, -1},  // a^dagger_3 last passes the filled 2
        {{0, 2}, {1, 3}, 1},   //
        {{3, 0}, {1, 2}, -1},  // a_3 passes 0; a^dagger_1 passes nothing
    };
    for (const SignCase& c : cases) {
        EXPECT_EQ(excitation_sign(c.from, c.to), c.sign)
            << c.from[0] << " " << c.to[0] << " " << c.from.size();
        // The matrix element <to|U(pi/2)|from> of the operation on its own qubits.
        Qubits orbitals = c.from;
        orbitals.insert(orbitals.end(), c.to.begin(), c.to.end());
        const Operation op = excitation_on(orbitals, true, std::numbers::pi / 2);
        const std::vector<Complex> m = operation_matrix(op);
        const std::size_t d = std::size_t{1} << op.qubits.size();
        const std::size_t half = c.from.size();
        const std::size_t a = (std::size_t{1} << half) - 1;
        const std::size_t b = a << half;
        EXPECT_NEAR(m[b * d + a].real(), c.sign, TOLERANCE);
    }
}

struct ConstructorRefusal {
    Qubits from;
    Qubits to;
    std::string message;
};

TEST(Excitation, ConstructorsRefuseMalformedExcitations) {
    const std::vector<ConstructorRefusal> cases = {
        {{}, {}, "excitation: expected 1 or 2 orbitals in both 'from' and 'to', got 0 and 0"},
        {{0, 1}, {2}, "excitation: expected 1 or 2 orbitals in both 'from' and 'to', got 2 and 1"},
        {{0, 1, 2},
         {3, 4, 5},
         "excitation: expected 1 or 2 orbitals in both 'from' and 'to', got 3 and 3"},
        {{0, 1}, {2, 0}, "excitation: orbital 0 appears twice"},
        {{3}, {3}, "excitation: orbital 3 appears twice"},
        {{64}, {0}, "excitation: orbital 64 is not below 64"},
    };
    for (const ConstructorRefusal& c : cases) {
        for (const bool fermionic : {true, false}) {
            SCOPED_TRACE(c.message);
            try {
                (void)(fermionic ? fermionic_excitation(c.from, c.to, 0.1)
                                 : qubit_excitation(c.from, c.to, 0.1));
                ADD_FAILURE() << "no exception";
            } catch (const InvalidArgument& error) {
                EXPECT_EQ(std::string(error.what()), c.message);
            }
        }
    }
}

// Parity qubits out of order, or a qubit that is no parity qubit, are refused before any
// amplitude changes.
TEST(Excitation, WrongParityQubitsAreRefused) {
    struct Case {
        Operation op;
        std::string message;
    };
    const std::vector<Case> cases = {
        {make_operation(GateKind::FERMIONIC_SINGLE, {0, 3, 2, 1}, {0.5}),
         "FERMIONIC_SINGLE: the qubits after orbitals 0, 3 must be their parity qubits 1, 2, got "
         "2, 1"},
        {make_operation(GateKind::FERMIONIC_DOUBLE, {0, 1, 2, 4, 3, 2}, {0.5}),
         "FERMIONIC_DOUBLE: qubit 2 appears twice"},
        {make_operation(GateKind::FERMIONIC_DOUBLE, {0, 2, 3, 4}, {0.5}),
         "FERMIONIC_DOUBLE: the qubits after orbitals 0, 2, 3, 4 must be their parity qubits 1, "
         "got none"},
    };
    std::mt19937_64 rng(SEED + 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Vector v = random_state(5, rng);
        ZarnikState state = make_state(v);
        try {
            state.apply(c.op);
            ADD_FAILURE() << "no exception";
        } catch (const InvalidArgument& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        EXPECT_TRUE(bitwise_equal(state, v));
    }
}

}  // namespace
}  // namespace zel::test
