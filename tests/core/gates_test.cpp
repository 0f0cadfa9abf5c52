// Gate kernels: every kind against the dense reference, the fixed arithmetic bit for
// bit, the documented edge cases, the angle rule, every bounds stop and the out-of-range cases
// that do not stop.

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/state.hpp"

#include "support/errors.hpp"
#include "support/placement.hpp"
#include "support/reference.hpp"

namespace zel::test {
namespace {

constexpr std::uint64_t MAX_DENSE_QUBITS = 5;
constexpr std::uint64_t NO_INDEX = std::numeric_limits<std::uint64_t>::max();
const std::vector<double> ANGLES = {0.0, 0.7, -1.3, std::numbers::pi, 5.9, -11.25};

// Every placement of `kind` on n qubits: each target, or each ordered pair of distinct qubits.
std::vector<Qubits> placements(GateKind kind, std::uint64_t n) {
    return every_placement(gate_info(kind).arity, n);
}

std::vector<double> angles_of(GateKind kind) {
    return is_rotation(kind) ? ANGLES : std::vector<double>{0.0};
}

std::string describe(GateKind kind, double theta, const Qubits& q, std::uint64_t n) {
    std::string text = std::string(gate_info(kind).name) + " theta=" + std::to_string(theta) +
                       " n=" + std::to_string(n) + " qubits=";
    for (std::uint64_t x : q) {
        text += std::to_string(x) + ",";
    }
    return text;
}

Vector run(const Vector& v, GateType gate, const Qubits& qubits,
           const std::vector<double>& params = {}) {
    ZarnikState state = make_state(v);
    state.apply_gate(gate, qubits, params);
    return amplitudes_of(state);
}

TEST(CoreGates, EveryKindMatchesDenseReferenceOnRandomStates) {
    std::mt19937_64 rng(SEED);
    for (std::uint64_t n = 1; n <= MAX_DENSE_QUBITS; ++n) {
        for (const GateInfo& info : ORIGINAL_GATES) {
            for (const Qubits& q : placements(info.kind, n)) {
                for (double theta : angles_of(info.kind)) {
                    SCOPED_TRACE(describe(info.kind, theta, q, n));
                    const Vector v = random_state(n, rng);
                    const Vector expected = multiply(gate_matrix(info.kind, theta, q, n), v);
                    EXPECT_TRUE(near_amplitudes(run(v, GateType{info.kind, theta}, q), expected));
                }
            }
        }
    }
}

// The kernels' index arithmetic must reproduce the plain ascending loops with the documented
// per-part formulas exactly, also for states whose runs of consecutive pairs are long.
TEST(CoreGates, FixedArithmeticIsBitwiseThePlainLoop) {
    std::mt19937_64 rng(SEED + 1);
    for (std::uint64_t n : {1, 2, 3, 4, 5, 9, 12}) {
        for (const GateInfo& info : ORIGINAL_GATES) {
            if (!info.bitwise) {
                continue;
            }
            for (const Qubits& q : placements(info.kind, n)) {
                for (double theta : angles_of(info.kind)) {
                    SCOPED_TRACE(describe(info.kind, theta, q, n));
                    const Vector v = random_state(n, rng);
                    EXPECT_TRUE(bitwise_equal(run(v, GateType{info.kind, theta}, q),
                                              plain_loop_reference(info.kind, theta, q, v)));
                }
            }
        }
    }
}

// The kernels' constants, read off their results: H on |0> writes the Hadamard factor itself,
// one unit in the last place below the double nearest to 1/sqrt(2), while T on |1> writes both
// parts of e^(i pi/4) as that nearest double.
TEST(CoreGates, HadamardFactorIsOneUlpBelowNearestInverseSqrt2) {
    const std::vector<std::uint64_t> qubit0{0};
    ZarnikState h(1);
    h.apply_gate(GateType::of(GateKind::H), qubit0, {});
    EXPECT_EQ(bits_of(h.amplitudes()[0].real()), 0x3FE6A09E667F3BCCu);
    EXPECT_EQ(bits_of(h.amplitudes()[1].real()), 0x3FE6A09E667F3BCCu);
    ZarnikState t(1);
    t.set_computational_basis(1);
    t.apply_gate(GateType::of(GateKind::T), qubit0, {});
    EXPECT_EQ(bits_of(t.amplitudes()[1].real()), 0x3FE6A09E667F3BCDu);
    EXPECT_EQ(bits_of(t.amplitudes()[1].imag()), 0x3FE6A09E667F3BCDu);
    EXPECT_EQ(std::nextafter(h.amplitudes()[0].real(), 1.0), t.amplitudes()[1].real());
}

// The kernels' edge cases on two qubits, plus S, SX, T on basis states, where every formula is
// exact. Compared by value (the sign of zero is covered by the plain-loop test).
TEST(CoreGates, DocumentedEdgeCasesOnTwoQubits) {
    const double h = HADAMARD_FACTOR;
    const double t = std::numbers::sqrt2 / 2;  // both parts of e^(i pi/4)
    const Complex i(0.0, 1.0);
    const Vector e0 = {1, 0, 0, 0}, e1 = {0, 1, 0, 0}, e2 = {0, 0, 1, 0}, e3 = {0, 0, 0, 1};
    struct Case {
        const char* name;
        Vector initial;
        GateKind kind;
        Qubits qubits;
        Vector expected;
    };
    const std::vector<Case> cases = {
        {"H q0", e0, GateKind::H, {0}, {h, h, 0, 0}},
        {"H q1", e0, GateKind::H, {1}, {h, 0, h, 0}},
        {"X q1", e0, GateKind::X, {1}, e2},
        {"CX 01 on |1>", e1, GateKind::CX, {0, 1}, e3},
        {"CX 01 on |0>", e0, GateKind::CX, {0, 1}, e0},
        {"CX 10 on |2>", e2, GateKind::CX, {1, 0}, e3},
        {"CX 10 on |1>", e1, GateKind::CX, {1, 0}, e1},
        {"Y q0", e0, GateKind::Y, {0}, {0, i, 0, 0}},
        {"Y q0 on |1>", e1, GateKind::Y, {0}, {-i, 0, 0, 0}},
        {"Z q0 on |1>", e1, GateKind::Z, {0}, {0, -1, 0, 0}},
        {"Z q1 on |1>", e1, GateKind::Z, {1}, e1},
        {"S q0 on |1>", e1, GateKind::S, {0}, {0, i, 0, 0}},
        {"S q1 on |1>", e1, GateKind::S, {1}, e1},
        {"T q1 on |2>", e2, GateKind::T, {1}, {0, 0, Complex(t, t), 0}},
        {"SX q0", e0, GateKind::SX, {0}, {Complex(0.5, 0.5), Complex(0.5, -0.5), 0, 0}},
        {"SX q1 on |2>", e2, GateKind::SX, {1}, {Complex(0.5, -0.5), 0, Complex(0.5, 0.5), 0}},
        {"CZ 01 on |3>", e3, GateKind::CZ, {0, 1}, {0, 0, 0, -1}},
        {"CZ 10 on |1>", e1, GateKind::CZ, {1, 0}, e1},
        {"SWAP 01 on |1>", e1, GateKind::SWAP, {0, 1}, e2},
        {"SWAP 10 on |2>", e2, GateKind::SWAP, {1, 0}, e1},
        {"SWAP 01 on |3>", e3, GateKind::SWAP, {0, 1}, e3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZarnikState state = make_state(c.initial);
        state.apply_gate(GateType::of(c.kind), c.qubits, {});
        EXPECT_TRUE(equal_values(state, c.expected));
    }
}

TEST(CoreGates, RotationsFromZeroGiveHalfAngleComponents) {
    for (std::uint64_t t : {0, 1}) {
        for (double theta : {0.8, -2.1, 3.0}) {
            SCOPED_TRACE("t=" + std::to_string(t) + " theta=" + std::to_string(theta));
            const double c = std::cos(theta * 0.5);
            const double s = std::sin(theta * 0.5);
            Vector ry(4), rx(4), rz(4);
            ry[0] = rx[0] = c;
            ry[std::size_t{1} << t] = s;
            rx[std::size_t{1} << t] = Complex(0.0, -s);
            rz[0] = Complex(c, -s);
            const Vector e0 = {1, 0, 0, 0};
            EXPECT_TRUE(bitwise_equal(run(e0, GateType::ry(theta), {t}), ry));
            EXPECT_TRUE(equal_values(make_state(run(e0, GateType::rx(theta), {t})), rx));
            EXPECT_TRUE(equal_values(make_state(run(e0, GateType::rz(theta), {t})), rz));
        }
    }
}

TEST(CoreGates, HadamardTwiceIsNotRescaled) {
    const double h = HADAMARD_FACTOR;
    for (std::uint64_t t : {0, 1}) {
        ZarnikState state(2);
        state.apply_gate(GateType::of(GateKind::H), std::vector<std::uint64_t>{t}, {});
        state.apply_gate(GateType::of(GateKind::H), std::vector<std::uint64_t>{t}, {});
        EXPECT_TRUE(bitwise_equal(state, {(h + h) * h, 0, 0, 0}));
        EXPECT_LT((h + h) * h, 1.0);
    }
}

// theta is params[0] when params has a value (further values ignored), else the gate's angle.
TEST(CoreGates, RotationAngleIsFirstParamElseGateAngle) {
    std::mt19937_64 rng(SEED + 2);
    const Vector v = random_state(3, rng);
    for (GateKind kind : {GateKind::RX, GateKind::RY, GateKind::RZ}) {
        SCOPED_TRACE(gate_info(kind).name);
        const Vector by_half = run(v, GateType{kind, 0.5}, {1});
        const Vector by_one = run(v, GateType{kind, 1.0}, {1});
        EXPECT_TRUE(bitwise_equal(run(v, GateType{kind, 1.0}, {1}, {0.5}), by_half));
        EXPECT_TRUE(bitwise_equal(run(v, GateType{kind, 1.0}, {1}, {0.5, 1.0, 9.0}), by_half));
        EXPECT_TRUE(bitwise_equal(run(v, GateType{kind, 0.5}, {1}, {1.0}), by_one));
        EXPECT_TRUE(bitwise_equal(run(v, GateType{kind, 1.0}, {1}, {}), by_one));
    }
    // RY with angle 1.0 and params [0.5] rotates |0> by 0.5.
    EXPECT_TRUE(bitwise_equal(run({1, 0, 0, 0}, GateType::ry(1.0), {0}, {0.5}),
                              {std::cos(0.25), std::sin(0.25), 0, 0}));
}

TEST(CoreGates, ParamsAngleAndExtraQubitsAreIgnoredWhereUnused) {
    std::mt19937_64 rng(SEED + 3);
    const Vector v = random_state(3, rng);
    for (const GateInfo& info : ORIGINAL_GATES) {
        SCOPED_TRACE(info.name);
        const Qubits q = info.arity == 1 ? Qubits{2} : Qubits{2, 0};
        Qubits extra = q;
        extra.insert(extra.end(), {1, 7, 99});
        const Vector plain = run(v, GateType{info.kind, 0.3}, q);
        EXPECT_TRUE(bitwise_equal(run(v, GateType{info.kind, 0.3}, extra), plain));
        if (!info.has_angle) {
            EXPECT_TRUE(bitwise_equal(run(v, GateType{info.kind, 2.0}, q, {1.0, 2.0}), plain));
        }
    }
    // I looks at neither array.
    EXPECT_TRUE(bitwise_equal(run(v, GateType::of(GateKind::I), {}), v));
    EXPECT_TRUE(bitwise_equal(run(v, GateType::of(GateKind::I), {NO_INDEX}), v));
}

TEST(CoreGates, SymmetricTwoQubitKindsIgnoreQubitOrder) {
    std::mt19937_64 rng(SEED + 4);
    const Vector v = random_state(4, rng);
    for (GateKind kind : {GateKind::CZ, GateKind::SWAP}) {
        for (const Qubits& q : placements(kind, 4)) {
            EXPECT_TRUE(bitwise_equal(run(v, GateType::of(kind), q),
                                      run(v, GateType::of(kind), {q[1], q[0]})));
        }
    }
}

TEST(CoreGates, InverseSequencesGiveIdentity) {
    const double a = 0.9;
    const auto of = GateType::of;
    const std::vector<std::vector<GateType>> sequences = {
        {of(GateKind::X), of(GateKind::X)},
        {of(GateKind::Y), of(GateKind::Y)},
        {of(GateKind::Z), of(GateKind::Z)},
        {of(GateKind::H), of(GateKind::H)},
        {of(GateKind::S), of(GateKind::S), of(GateKind::S), of(GateKind::S)},
        {of(GateKind::SX), of(GateKind::SX), of(GateKind::SX), of(GateKind::SX)},
        std::vector<GateType>(8, of(GateKind::T)),
        {GateType::rx(a), GateType::rx(-a)},
        {GateType::ry(a), GateType::ry(-a)},
        {GateType::rz(a), GateType::rz(-a)},
        {GateType::rx(2 * std::numbers::pi), GateType::rx(2 * std::numbers::pi)},
        {of(GateKind::CX), of(GateKind::CX)},
        {of(GateKind::CZ), of(GateKind::CZ)},
        {of(GateKind::SWAP), of(GateKind::SWAP)},
    };
    std::mt19937_64 rng(SEED + 5);
    for (const auto& sequence : sequences) {
        for (const Qubits& q : placements(sequence[0].kind, 3)) {
            SCOPED_TRACE(describe(sequence[0].kind, sequence[0].angle, q, 3));
            const Vector v = random_state(3, rng);
            ZarnikState state = make_state(v);
            for (const GateType& gate : sequence) {
                state.apply_gate(gate, q, {});
            }
            EXPECT_TRUE(near_amplitudes(state, v));
        }
    }
    // SX twice is X.
    const Vector v = random_state(2, rng);
    ZarnikState state = make_state(v);
    state.apply_gate(of(GateKind::SX), Qubits{1}, {});
    state.apply_gate(of(GateKind::SX), Qubits{1}, {});
    EXPECT_TRUE(near_amplitudes(state, run(v, of(GateKind::X), {1})));
}

// Out-of-range cases that do not stop: the amplitudes stay exactly as they were.
TEST(CoreGates, OutOfRangeCasesThatDoNotStopChangeNothing) {
    std::mt19937_64 rng(SEED + 6);
    const Vector v = random_state(3, rng);
    const std::vector<std::pair<GateKind, Qubits>> cases = {
        {GateKind::Z, {3}},       {GateKind::Z, {64}},       {GateKind::Z, {1000}},
        {GateKind::S, {3}},       {GateKind::S, {70}},       {GateKind::T, {5}},
        {GateKind::T, {64}},      {GateKind::CZ, {3, 0}},    {GateKind::CZ, {0, 3}},
        {GateKind::CZ, {4, 9}},   {GateKind::CZ, {2, 64}},   {GateKind::CX, {3, 0}},
        {GateKind::CX, {3, 5}},   {GateKind::CX, {64, 1}},   {GateKind::SWAP, {3, 0}},
        {GateKind::SWAP, {4, 9}}, {GateKind::SWAP, {65, 2}}, {GateKind::CX, {1, 1}},
        {GateKind::CZ, {2, 2}},   {GateKind::SWAP, {0, 0}},  {GateKind::CX, {7, 7}},
        {GateKind::SWAP, {9, 9}},
    };
    for (const auto& [kind, q] : cases) {
        SCOPED_TRACE(describe(kind, 0.0, q, 3));
        EXPECT_TRUE(bitwise_equal(run(v, GateType::of(kind), q), v));
    }
}

// RZ on a qubit outside the state reads a clear bit everywhere: every amplitude times e^(-i
// theta/2), with the documented arithmetic.
TEST(CoreGates, RzOutOfRangeMultipliesEverythingByHalfAnglePhase) {
    std::mt19937_64 rng(SEED + 7);
    const Vector v = random_state(3, rng);
    for (double theta : ANGLES) {
        for (std::uint64_t q : {3, 10, 64}) {
            SCOPED_TRACE(describe(GateKind::RZ, theta, {q}, 3));
            const double alpha = std::cos(theta * 0.5);
            const double p = -std::sin(theta * 0.5);
            Vector expected = v;
            Vector dense = v;
            for (std::size_t k = 0; k < v.size(); ++k) {
                const double re = v[k].real(), im = v[k].imag();
                expected[k] = Complex(alpha * re - p * im, p * re + alpha * im);
                dense[k] = v[k] * std::polar(1.0, -theta / 2);
            }
            const Vector actual = run(v, GateType::rz(theta), {q});
            EXPECT_TRUE(bitwise_equal(actual, expected));
            EXPECT_TRUE(near_amplitudes(actual, dense));
        }
    }
}

struct BoundsCase {
    GateKind kind;
    Qubits qubits;
    std::uint64_t len;
    std::uint64_t index;
};

// Every stop of the kernels, S/SX/T/CZ/SWAP included, on a two-qubit state (len 4).
std::vector<BoundsCase> bounds_cases() {
    std::vector<BoundsCase> cases;
    for (const GateInfo& info : ORIGINAL_GATES) {
        if (info.kind != GateKind::I) {
            cases.push_back({info.kind, {}, 0, 0});
        }
    }
    for (GateKind kind : {GateKind::CX, GateKind::CZ, GateKind::SWAP}) {
        cases.push_back({kind, {0}, 1, 1});
        cases.push_back({kind, {9}, 1, 1});
    }
    for (GateKind kind :
         {GateKind::X, GateKind::Y, GateKind::H, GateKind::SX, GateKind::RX, GateKind::RY}) {
        cases.push_back({kind, {2}, 4, 4});
        cases.push_back({kind, {5}, 4, 32});
    }
    cases.push_back({GateKind::X, {63}, 4, std::uint64_t{1} << 63});
    cases.push_back({GateKind::H, {64}, 4, NO_INDEX});
    cases.push_back({GateKind::CX, {1, 3}, 4, 2 + 8});
    cases.push_back({GateKind::CX, {0, 2}, 4, 1 + 4});
    cases.push_back({GateKind::CX, {1, 64}, 4, NO_INDEX});
    cases.push_back({GateKind::SWAP, {1, 3}, 4, 8});
    cases.push_back({GateKind::SWAP, {0, 2}, 4, 4});
    return cases;
}

TEST(CoreGates, EveryBoundsCaseThrowsTheReportAndChangesNothing) {
    std::mt19937_64 rng(SEED + 21);
    for (const BoundsCase& c : bounds_cases()) {
        SCOPED_TRACE(describe(c.kind, 0.0, c.qubits, 2));
        const Vector before = random_state(2, rng);
        ZarnikState state = make_state(before);
        EXPECT_TRUE(throws_bounds(
            [&] {
                state.apply_gate(GateType{c.kind, 0.25}, c.qubits, std::vector<double>{0.5});
            },
            c.len, c.index));
        EXPECT_TRUE(throws_bounds(
            [&] {
                check_gate(2, GateType{c.kind, 0.25}, c.qubits);
            },
            c.len, c.index));
        EXPECT_TRUE(bitwise_equal(state, before));
    }
}

}  // namespace
}  // namespace zel::test
