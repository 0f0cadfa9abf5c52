// The commands of `zel` run in process: the Hamiltonian text reads back to the library's own
// Pauli sum, and its sector energy is the one `zel exact` prints.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/chem/tapering.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/spectrum.hpp"

#include "commands.hpp"
#include "reduced_sector.hpp"

namespace {

using zel::PauliSum;
namespace chem = zel::chem;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome run_zel(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = zel::cli::run(args, out, err);
    return {status, out.str(), err.str()};
}

std::string data_file(const std::string& name) {
    return std::string(ZEL_CHEM_DATA_DIR) + "/" + name + ".fcidump";
}

// The number after "energy": in a JSON line.
double json_energy(const std::string& json) {
    const std::string key = "\"energy\": ";
    const auto at = json.find(key);
    EXPECT_NE(at, std::string::npos) << json;
    return at == std::string::npos ? 0.0 : std::strtod(json.c_str() + at + key.size(), nullptr);
}

struct Case {
    const char* molecule;
    const char* mapping;
    chem::Mapping kind;
    bool reduce;
};

class HamiltonianText : public testing::TestWithParam<Case> {};

TEST_P(HamiltonianText, ReadsBackToTheLibrarysSumAndItsExactEnergy) {
    const Case c = GetParam();
    std::vector<std::string> args = {"hamiltonian", data_file(c.molecule), "--mapping", c.mapping};
    if (c.reduce) {
        args.push_back("--reduce");
    }
    const Outcome printed = run_zel(args);
    ASSERT_EQ(printed.status, 0) << printed.err;
    const PauliSum parsed = zel::parse_pauli_sum(printed.out);

    const chem::Fcidump data = chem::read_fcidump(data_file(c.molecule));
    const std::size_t n = data.integrals.num_orbitals();
    const auto ordering = chem::SpinOrdering::Blocked;
    PauliSum expected = chem::qubit_hamiltonian(data.integrals, c.kind, ordering);
    if (c.reduce && c.kind == chem::Mapping::Parity) {
        expected = chem::two_qubit_reduction(expected, 2 * n, data.sector()).hamiltonian;
    } else if (c.reduce) {
        expected = chem::taper(expected, 2 * n,
                               chem::hartree_fock_index(n, data.sector(), ordering, c.kind))
                       .hamiltonian;
    }
    EXPECT_EQ(parsed, expected);

    args[0] = "exact";
    args.push_back("--json");
    const Outcome exact = run_zel(args);
    ASSERT_EQ(exact.status, 0) << exact.err;
    if (!c.reduce) {
        const double energy =
            chem::sector_ground_state(parsed, n, data.sector(), ordering, c.kind).energy;
        EXPECT_NEAR(energy, json_energy(exact.out), 1e-12);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Molecules, HamiltonianText,
    testing::Values(Case{"h2_0.735", "jordan-wigner", chem::Mapping::JordanWigner, false},
                    Case{"h2_0.735", "parity", chem::Mapping::Parity, true},
                    Case{"h2_0.735", "bravyi-kitaev", chem::Mapping::BravyiKitaev, true},
                    Case{"lih_1.595", "parity", chem::Mapping::Parity, false},
                    Case{"lih_1.595", "bravyi-kitaev", chem::Mapping::BravyiKitaev, false},
                    Case{"lih_1.595", "jordan-wigner", chem::Mapping::JordanWigner, true}));

TEST(Help, ExplainsTheInputTheMappingsAndTheExitStatuses) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"exact", "--help"}}) {
        const Outcome help = run_zel(args);
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.err.empty());
        for (const char* word :
             {"FCIDUMP", "hartree", "jordan-wigner", "bravyi-kitaev", "Exit status"}) {
            EXPECT_NE(help.out.find(word), std::string::npos) << word << " in\n" << help.out;
        }
    }
}

// The restricted solver against the core's dense ground energy over the whole register: real
// and complex (odd numbers of Y) sums, on both sides of the dense/Lanczos switch.
TEST(RestrictedGroundEnergy, OverTheWholeRegisterIsTheDenseGroundEnergy) {
    const std::vector<std::pair<const char*, std::size_t>> cases = {
        {"0.3 * Z0 + 0.5 * Y0", 1},
        {"-0.2 + 0.7 * Z0 Z1 - 0.4 * X0 X1 + 0.25 * Y0 Y1 + 0.1 * Z1", 2},
        {"0.3 * X0 Y1 - 0.2 * Z0 + 0.6 * Y2 Z0 + 0.15 * X1 X2", 3},
        {"0.4 * Z0 Z1 + 0.3 * Z1 Z2 - 0.5 * Z2 Z3 + 0.2 * Z3 Z4 + 0.7 * Z4 Z5 - 0.1 * Z5 Z6 + "
         "0.6 * Z6 Z7 + 0.35 * Z7 Z8 - 0.45 * X0 + 0.25 * X3 + 0.55 * X8 - 0.15 * X5",
         9},
        {"0.4 * Z0 Z1 + 0.3 * Z1 Z2 - 0.5 * Z2 Z3 + 0.2 * Z3 Z4 + 0.7 * Z4 Z5 - 0.1 * Z5 Z6 + "
         "0.6 * Z6 Z7 + 0.35 * Z7 Z8 - 0.45 * Y0 + 0.25 * X3 Y4 + 0.55 * Y8 - 0.15 * X5",
         9},
    };
    for (const auto& [text, num_qubits] : cases) {
        const PauliSum sum = zel::parse_pauli_sum(text);
        std::vector<std::uint64_t> basis(std::size_t{1} << num_qubits);
        std::iota(basis.begin(), basis.end(), std::uint64_t{0});
        EXPECT_NEAR(zel::cli::restricted_ground_energy(sum, basis),
                    zel::ground_energy(sum, num_qubits), 1e-10)
            << text;
    }
}

TEST(RestrictedGroundEnergy, IgnoresElementsLeadingOutOfTheSpan) {
    const PauliSum sum = zel::parse_pauli_sum("0.5 * Z0 + 2 * X0 X1 + 0.25 * Z1");
    // |0> and |1> (bit 0 set): X0 X1 pairs 0 with 3 and 1 with 2, all outside the span.
    const std::vector<std::uint64_t> basis = {0, 1};
    EXPECT_DOUBLE_EQ(zel::cli::restricted_ground_energy(sum, basis), -0.5 + 0.25);
    EXPECT_THROW(zel::cli::restricted_ground_energy(sum, {}), zel::InvalidArgument);
}

TEST(ReducedSectorBasis, KeepsTheStatesWithTheReferenceEigenvaluesAndDropsTheRemovedBits) {
    // Symmetries Z0 Z2 with eigenvalue +1 and Z3 with -1; qubits 0 and 3 removed. 0b0000 and
    // 0b0101 have Z3 = +1, 0b1001 has Z0 Z2 = -1; the other four keep bits 2 and 1.
    const std::vector<std::uint64_t> sector = {0b0000, 0b0101, 0b1001, 0b1000,
                                               0b1111, 0b1101, 0b1010};
    const std::vector<std::uint64_t> symmetries = {0b0101, 0b1000};
    const std::vector<int> eigenvalues = {1, -1};
    const std::vector<std::size_t> removed = {0, 3};
    EXPECT_EQ(zel::cli::reduced_sector_basis(sector, symmetries, eigenvalues, removed),
              (std::vector<std::uint64_t>{0b00, 0b01, 0b10, 0b11}));
}

}  // namespace

namespace {

// The solver commands in process: their help speaks of the methods, and the JSON energy is the
// library's own ADAPT-VQE or UCCSD energy, within chemical accuracy of the exact one.
TEST(SolverCommands, HelpAndEnergiesAgreeWithTheLibrary) {
    for (const char* command : {"adapt", "uccsd"}) {
        const Outcome help = run_zel({command, "--help"});
        EXPECT_EQ(help.status, 0);
        for (const char* word : {"Hartree-Fock", "--optimizer", "--qasm", "Exit status"}) {
            EXPECT_NE(help.out.find(word), std::string::npos) << word << " in\n" << help.out;
        }
    }
    const chem::Fcidump data = chem::read_fcidump(data_file("h2_0.735"));
    const double exact = chem::exact_ground_state(data.integrals, data.sector()).energy;
    for (const char* command : {"adapt", "uccsd"}) {
        const Outcome run = run_zel({command, data_file("h2_0.735"), "--json"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_LT(std::abs(json_energy(run.out) - exact), 1.6e-3);
    }
    const Outcome unknown = run_zel({"vqe", data_file("h2_0.735")});
    EXPECT_EQ(unknown.status, zel::cli::EXIT_USAGE);
    EXPECT_NE(unknown.err.find("uccsd and run"), std::string::npos) << unknown.err;
}

}  // namespace
