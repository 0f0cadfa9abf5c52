// The short path of one call to ZarnikState::apply for the kinds from U on: a UNITARY whose
// matrix this thread has verified before skips the unitarity check, yet no matrix that was not
// verified is ever applied; the checks that compare qubits and parity lists without building
// lists refuse exactly what they refused before; and the matrix writers give the bits of the
// std::complex formulas they replace.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/detail/kernels.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gate_table.hpp"
#include "zel/core/state.hpp"

#include "support/operations.hpp"
#include "support/placement.hpp"

namespace zel {
namespace {

using Amplitude = std::complex<double>;
using Matrix = std::vector<Amplitude>;

const std::string NOT_UNITARY_1E9 =
    "UNITARY: the matrix is not unitary: entry (0, 1) of M^dagger M is off by 1e-9, more than "
    "1e-12";

// A state with every amplitude distinct, so that any change shows.
ZarnikState spread_state(std::uint64_t n) {
    ZarnikState state(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        state.apply(make_operation(GateKind::U, {q}, {0.3 + 0.2 * double(q), 0.5, -0.4}));
    }
    return state;
}

bool same_bits(const ZarnikState& a, const ZarnikState& b) {
    const auto x = a.amplitudes();
    const auto y = b.amplitudes();
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size_bytes()) == 0;
}

// `text` is the message of the InvalidArgument that applying `op` to `state` throws, and the
// state is left as it was.
void expect_refused(ZarnikState& state, const Operation& op, const std::string& text) {
    const ZarnikState before = state;
    try {
        state.apply(op);
        ADD_FAILURE() << "applied, expected: " << text;
    } catch (const InvalidArgument& e) {
        EXPECT_EQ(e.what(), text);
    }
    EXPECT_TRUE(same_bits(state, before));
}

// The identity on `k` qubits with entry (0, 1) set to 1e-9: off by 1e-9 in entry (0, 1) of
// M^dagger M.
Matrix nearly_identity(std::size_t k) {
    const std::size_t d = std::size_t{1} << k;
    Matrix m(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        m[r * d + r] = 1.0;
    }
    m[1] = 1e-9;
    return m;
}

Matrix identity(std::size_t k) {
    Matrix m = nearly_identity(k);
    m[1] = 0.0;
    return m;
}

// A cyclic shift of the basis times e^(i phase): unitary for any phase.
Matrix shift(std::size_t k, double phase) {
    const std::size_t d = std::size_t{1} << k;
    Matrix m(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        m[r * d + (r + 1) % d] = std::polar(1.0, phase);
    }
    return m;
}

TEST(CheckedApply, UnitaryVerifiedBeforeNeverLetsAnotherMatrixThrough) {
    // Each case first applies `verified` (accepted), then `next`, which must be refused: a
    // matrix one entry away, the same bits after a mutation in place, a wider matrix sharing
    // the verified one's leading entries, and the non-unitary matrix a second time.
    struct Case {
        const char* name;
        Matrix verified;
        std::vector<std::uint64_t> next_qubits;
        Matrix next;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"one entry off", identity(1), {0}, nearly_identity(1), NOT_UNITARY_1E9},
        {"wider, same leading entries", identity(1), {0, 1}, nearly_identity(2), NOT_UNITARY_1E9},
        {"refused twice", nearly_identity(2), {0, 1}, nearly_identity(2), NOT_UNITARY_1E9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZarnikState state = spread_state(3);
        const std::vector<std::uint64_t> first_qubits = c.verified.size() == 4
                                                            ? std::vector<std::uint64_t>{0}
                                                            : std::vector<std::uint64_t>{0, 1};
        const Operation first = unitary(first_qubits, c.verified);
        if (c.verified == c.next) {
            expect_refused(state, first, c.text);
        } else {
            state.apply(first);
        }
        expect_refused(state, unitary(c.next_qubits, c.next), c.text);
    }
    // An operation whose matrix changes in place after it was applied.
    ZarnikState state = spread_state(3);
    Operation op = unitary({2}, identity(1));
    state.apply(op);
    state.apply(op);
    op.payload.matrix[1] = 1e-9;
    expect_refused(state, op, NOT_UNITARY_1E9);
}

TEST(CheckedApply, RepeatedUnitariesMatchTheirFirstApplication) {
    // More distinct matrices than the thread keeps (by count on two qubits, by bytes on six),
    // applied in turn twice: every call gives the bits a fresh thread gives for the same
    // sequence, and a matrix one entry off a verified one is still refused afterwards.
    for (const std::size_t k : {std::size_t{2}, std::size_t{6}}) {
        SCOPED_TRACE(k);
        std::vector<Operation> ops;
        const int count = k == 2 ? 70 : 18;
        std::vector<std::uint64_t> qubits;
        for (std::uint64_t q = 0; q < k; ++q) {
            qubits.push_back(q);
        }
        for (int j = 0; j < count; ++j) {
            ops.push_back(unitary(qubits, shift(k, 0.01 * j)));
        }
        const auto run = [&ops] {
            ZarnikState state = spread_state(6);
            for (int round = 0; round < 2; ++round) {
                for (const Operation& op : ops) {
                    state.apply(op);
                }
            }
            return state;
        };
        const ZarnikState here = run();
        ZarnikState elsewhere(0);
        std::thread([&] {
            elsewhere = run();
        }).join();
        EXPECT_TRUE(same_bits(here, elsewhere));
        ZarnikState state = spread_state(6);
        expect_refused(state, unitary(qubits, nearly_identity(k)), NOT_UNITARY_1E9);
    }
}

TEST(CheckedApply, ThreadsVerifyTheirOwnMatrices) {
    // Two threads at once: one applies a unitary again and again, the other a matrix one entry
    // away from it; the second is refused every time, the first never.
    const Operation good = unitary({0}, identity(1));
    const Operation bad = unitary({0}, nearly_identity(1));
    int refused = 0;
    int accepted = 0;
    std::thread other([&] {
        ZarnikState state(2);
        for (int j = 0; j < 200; ++j) {
            try {
                state.apply(bad);
            } catch (const InvalidArgument&) {
                ++refused;
            }
        }
    });
    ZarnikState state(2);
    for (int j = 0; j < 200; ++j) {
        state.apply(good);
        ++accepted;
    }
    other.join();
    EXPECT_EQ(refused, 200);
    EXPECT_EQ(accepted, 200);
}

TEST(CheckedApply, QubitListsRefusedAsBefore) {
    // Duplicates found through the bit set below 64 and by comparison above it (a register
    // wider than 64 qubits can be checked, never allocated); the first offending entry is named.
    struct Case {
        std::uint64_t num_qubits;
        Operation op;
        std::string text;
    };
    const std::vector<Case> cases = {
        {4, make_operation(GateKind::CCX, {3, 1, 3}), "CCX: qubit 3 appears twice"},
        {4, make_operation(GateKind::CCX, {3, 4, 3}),
         "CCX: qubit 4 is not below the register's 4 qubits"},
        {100, pauli_rotation("XYZ", {70, 5, 70}, 0.1), "PAULI_ROTATION: qubit 70 appears twice"},
        {100, pauli_rotation("XY", {99, 100}, 0.1),
         "PAULI_ROTATION: qubit 100 is not below the register's 100 qubits"},
        {100, pauli_rotation("XYZ", {63, 64, 63}, 0.1), "PAULI_ROTATION: qubit 63 appears twice"},
        {100, make_operation(GateKind::CRX, {70, 70}, {0.1}), "CRX: qubit 70 appears twice"},
        {64, make_operation(GateKind::CCX, {63, 0, 63}), "CCX: qubit 63 appears twice"},
        {3, make_operation(GateKind::CRX, {0, 1}, {0.1, 0.2}), "CRX: takes 1 parameter, got 2"},
        {3, make_operation(GateKind::CRX, {0, 1, 2}, {0.1}), "CRX: takes 2 qubits, got 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            check_operation(c.num_qubits, c.op);
            ADD_FAILURE() << "accepted";
        } catch (const InvalidArgument& e) {
            EXPECT_EQ(e.what(), c.text);
        }
    }
    EXPECT_NO_THROW(check_operation(100, pauli_rotation("XYZ", {64, 63, 99}, 0.1)));
    EXPECT_NO_THROW(check_operation(100, make_operation(GateKind::CRX, {70, 99}, {0.1})));
    EXPECT_NO_THROW(check_operation(64, make_operation(GateKind::CCX, {63, 0, 62})));
}

TEST(CheckedApply, ParityListsComparedInPlace) {
    // Orbitals in any order; the parity qubits must be exactly those between the lowest two
    // orbitals, then between the third and fourth, ascending.
    struct Case {
        GateKind kind;
        std::vector<std::uint64_t> qubits;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {GateKind::FERMIONIC_SINGLE, {4, 0, 1, 2, 3}, true},
        {GateKind::FERMIONIC_SINGLE, {0, 1}, true},
        {GateKind::FERMIONIC_SINGLE, {4, 0, 1, 2}, false},
        {GateKind::FERMIONIC_SINGLE, {4, 0, 1, 2, 3, 5}, false},
        {GateKind::FERMIONIC_SINGLE, {4, 0, 2, 1, 3}, false},
        {GateKind::FERMIONIC_DOUBLE, {7, 0, 3, 5, 1, 2, 6}, true},
        {GateKind::FERMIONIC_DOUBLE, {0, 1, 2, 3}, true},
        {GateKind::FERMIONIC_DOUBLE, {7, 0, 3, 5, 1, 2}, false},
        {GateKind::FERMIONIC_DOUBLE, {7, 0, 3, 5, 1, 2, 4, 6}, false},
    };
    for (const Case& c : cases) {
        const Operation op = make_operation(c.kind, c.qubits, {0.2});
        const std::vector<std::uint64_t> orbitals(c.qubits.begin(),
                                                  c.qubits.begin() + gate_info(c.kind).orbitals);
        const std::vector<std::uint64_t> parity = excitation_parity_qubits(orbitals);
        // What the list comparison decides, against the list itself.
        const bool matches = std::equal(c.qubits.begin() + gate_info(c.kind).orbitals,
                                        c.qubits.end(), parity.begin(), parity.end());
        ASSERT_EQ(matches, c.accepted) << "case table";
        if (c.accepted) {
            EXPECT_NO_THROW(check_operation(8, op));
        } else {
            EXPECT_THROW(check_operation(8, op), InvalidArgument);
        }
    }
}

TEST(CheckedApply, SmallRegistersGiveTheKernelsBits) {
    // A whole register of up to 32 amplitudes runs plain loops of its own (2x2 matrices without
    // controls up to 4); the kernels run the same operation when the register is handed to them
    // as one block.
    for (const std::uint64_t n : {1, 2, 3, 5, 6}) {
        ZarnikState start(n);
        std::span<Amplitude> a = start.amplitudes_mut();
        for (std::size_t j = 0; j < a.size(); ++j) {
            const auto x = static_cast<double>(j);
            a[j] = Amplitude(std::sin(0.7 * x + 1.0), std::cos(1.3 * x));
        }
        for (const Operation& op : test::checked_operations_on(n)) {
            ZarnikState whole = start;
            whole.apply(op);
            ZarnikState kernels = start;
            ASSERT_TRUE(detail::apply_checked_on_block(kernels.amplitudes_mut().data(), n, 0, op));
            EXPECT_TRUE(same_bits(whole, kernels)) << debug_text(op.gate) << " on " << n;
        }
    }
}

// The sign by its definition, on a list of occupied orbitals: each ladder operator, right to
// left, passes the occupied orbitals below its own.
int sign_by_list(const std::vector<std::uint64_t>& from, const std::vector<std::uint64_t>& to) {
    std::vector<std::uint64_t> occupied = from;
    int sign = 1;
    const auto pass = [&](std::uint64_t m) {
        for (const std::uint64_t q : occupied) {
            sign = q < m ? -sign : sign;
        }
    };
    for (const std::uint64_t m : from) {
        occupied.erase(std::find(occupied.begin(), occupied.end(), m));
        pass(m);
    }
    for (std::size_t j = to.size(); j-- > 0;) {
        pass(to[j]);
        occupied.push_back(to[j]);
    }
    return sign;
}

TEST(CheckedApply, ExcitationSignsOfEveryDoubleOnSixOrbitalsAndAtTheTop) {
    // Every ordered choice of four distinct orbitals among 0-5 as a double and of two as a
    // single, and the same shifted to the top of 64 orbitals.
    for (const std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{58}}) {
        for (std::uint64_t a = 0; a < 6; ++a) {
            for (std::uint64_t b = 0; b < 6; ++b) {
                if (b == a) {
                    continue;
                }
                EXPECT_EQ(excitation_sign({{a + offset}}, {{b + offset}}),
                          sign_by_list({a + offset}, {b + offset}));
                for (std::uint64_t c = 0; c < 6; ++c) {
                    for (std::uint64_t d = 0; d < 6; ++d) {
                        if (c == a || c == b || d == a || d == b || d == c) {
                            continue;
                        }
                        const std::vector<std::uint64_t> from = {a + offset, b + offset};
                        const std::vector<std::uint64_t> to = {c + offset, d + offset};
                        EXPECT_EQ(excitation_sign(from, to), sign_by_list(from, to))
                            << a << b << c << d << " +" << offset;
                    }
                }
            }
        }
    }
}

TEST(CheckedApply, MatrixWritersGiveTheBitsOfTheComplexFormulas) {
    // U(theta, phi, lambda) e^(i gamma) from std::polar and std::complex products, entry by
    // entry, against the row's writer; angles far apart in size and signed zeros included.
    const double angles[] = {0.0, -0.0, 0.7, -2.9, 3.3, 1e20, -1e-300, 123.456};
    const GateInfo& cu = gate_info(GateKind::CU);
    const GateInfo& p = gate_info(GateKind::P);
    for (const double theta : angles) {
        for (const double phi : angles) {
            for (const double lambda : {0.7, -0.0, 1e20}) {
                for (const double gamma : {0.0, -1.3}) {
                    const double c = std::cos(theta / 2);
                    const double s = std::sin(theta / 2);
                    const Amplitude g = std::polar(1.0, gamma);
                    const Amplitude gp = g * std::polar(1.0, phi);
                    const Amplitude gl = g * std::polar(1.0, lambda);
                    const Amplitude gpl = gp * std::polar(1.0, lambda);
                    const Amplitude expected[4] = {c * g, -s * gl, s * gp, c * gpl};
                    Amplitude m[4];
                    const double params[4] = {theta, phi, lambda, gamma};
                    cu.target_matrix(std::span<const double>(params, 4), m);
                    EXPECT_EQ(std::memcmp(m, expected, sizeof m), 0)
                        << theta << " " << phi << " " << lambda << " " << gamma;
                }
            }
        }
        Amplitude m[4];
        p.target_matrix(std::span<const double>(&theta, 1), m);
        const Amplitude phase = std::polar(1.0, theta);
        EXPECT_EQ(std::memcmp(&m[3], &phase, sizeof phase), 0) << theta;
    }
}

}  // namespace
}  // namespace zel
