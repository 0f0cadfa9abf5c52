#include "zel/chem/integrals.hpp"

#include <bit>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"

#include "chem_support.hpp"
#include <Eigen/Dense>

namespace zel::chem {
namespace {

TEST(IntegralsFromArrays, RoundTripsTheDenseArrays) {
    const Integrals integrals = test::random_integrals(3, 11);
    const Integrals back =
        integrals_from_arrays(integrals.constant(), integrals.one_body_matrix(),
                              integrals.two_body_tensor(), integrals.num_orbitals());
    EXPECT_EQ(back, integrals);
}

TEST(IntegralsFromArrays, RefusesArraysThatBreakTheSymmetry) {
    const Integrals integrals = test::random_integrals(2, 5);
    const std::vector<double> h = integrals.one_body_matrix();
    const std::vector<double> g = integrals.two_body_tensor();
    struct Case {
        const char* name;
        std::vector<double> h;
        std::vector<double> g;
        double constant;
        std::string message;
    };
    std::vector<double> h_asym = h;
    h_asym[1] += 1e-6;  // h(0 1)
    std::vector<double> g_asym = g;
    g_asym[1] = 0.75;  // (0 0|0 1)
    g_asym[2] = 0.75;  // (0 0|1 0)
    g_asym[4] = 0.75;  // (0 1|0 0)
    std::vector<double> g_nan = g;
    g_nan[15] = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        {"short one-body",
         {1.0, 2.0},
         g,
         0.0,
         "one-electron integrals: expected 4 values (n x n) for 2 orbitals, got 2"},
        {"short two-body",
         h,
         {1.0},
         0.0,
         "two-electron integrals: expected 16 values (n^4) for 2 orbitals, got 1"},
        {"constant", h, g, std::numeric_limits<double>::infinity(),
         "constant energy is not finite"},
        {"one-body not symmetric", h_asym, g, 0.0,
         "one-electron integrals not symmetric: h(0 1) = "},
        {"two-body not finite", h, g_nan, 0.0, "two-electron integral (1 1|1 1) is not finite"},
        {"two-body not symmetric", h, g_asym, 0.0,
         "two-electron integrals not symmetric: (0 0|1 0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            integrals_from_arrays(c.constant, c.h, c.g, 2);
            ADD_FAILURE() << "accepted";
        } catch (const InvalidArgument& error) {
            EXPECT_EQ(std::string(error.what()).substr(0, c.message.size()), c.message);
        }
    }
}

/// The lowest energy of the full Hamiltonian among determinants with orbitals below `frozen`
/// doubly occupied, `active_alpha`/`active_beta` electrons in the next `active` orbitals and
/// the rest empty (dense over the full Jordan–Wigner register).
double restricted_full_energy(const Integrals& integrals, std::size_t frozen, std::size_t active,
                              Sector active_sector) {
    const std::size_t n = integrals.num_orbitals();
    const PauliSum h = qubit_hamiltonian(integrals, Mapping::JordanWigner, SpinOrdering::Blocked);
    const Eigen::MatrixXcd matrix = test::matrix_of(h, 2 * n);
    std::vector<Eigen::Index> chosen;
    for (std::uint64_t k = 0; k < (std::uint64_t{1} << (2 * n)); ++k) {
        const std::uint64_t a = k & ((1u << n) - 1);
        const std::uint64_t b = k >> n;
        const std::uint64_t core = (1u << frozen) - 1;
        const std::uint64_t virtual_mask = ~((1u << (frozen + active)) - 1);
        const auto fits = [&](std::uint64_t s, std::size_t count) {
            return (s & core) == core && (s & virtual_mask) == 0 &&
                   static_cast<std::size_t>(std::popcount(s)) == frozen + count;
        };
        if (fits(a, active_sector.num_alpha) && fits(b, active_sector.num_beta)) {
            chosen.push_back(static_cast<Eigen::Index>(k));
        }
    }
    const auto m = static_cast<Eigen::Index>(chosen.size());
    Eigen::MatrixXcd block(m, m);
    for (Eigen::Index r = 0; r < m; ++r) {
        for (Eigen::Index c = 0; c < m; ++c) {
            block(r, c) = matrix(chosen[r], chosen[c]);
        }
    }
    return Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd>(block).eigenvalues()(0);
}

TEST(FreezeOrbitals, EqualsTheFullCalculationWithTheCoreOccupied) {
    struct Case {
        std::size_t n, frozen, active;
        Sector sector;
    };
    for (const Case& c :
         std::vector<Case>{{4, 1, 2, {1, 1}}, {4, 2, 2, {1, 0}}, {5, 1, 3, {2, 1}}}) {
        SCOPED_TRACE(std::to_string(c.n) + " orbitals, " + std::to_string(c.frozen) + " frozen");
        const Integrals full = test::random_integrals(c.n, 21 + static_cast<std::uint32_t>(c.n));
        const Integrals active = freeze_orbitals(full, c.frozen, c.active);
        EXPECT_EQ(active.num_orbitals(), c.active);
        const double folded = exact_ground_state(active, c.sector).energy;
        EXPECT_NEAR(folded, restricted_full_energy(full, c.frozen, c.active, c.sector), 1e-10);
    }
    EXPECT_THROW(freeze_orbitals(test::random_integrals(3, 1), 2, 2), InvalidArgument);
}

TEST(FreezeOrbitals, Psi4ActiveSpaceOfN2MatchesCasci) {
    const Fcidump n2 = read_fcidump(test::data_dir() + "/n2_1.098.fcidump");
    const Fcidump cas = active_space(n2, 6, 6);
    EXPECT_NEAR(exact_ground_state(cas.integrals, cas.sector()).energy,
                test::reference_value("n2_1.098", "fci_energy", "active_space"), 1e-8);
}

}  // namespace
}  // namespace zel::chem
