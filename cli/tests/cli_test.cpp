// The commands of `zel` run in process: the Hamiltonian text reads back to the library's own
// Pauli sum, and its sector energy is the one `zel exact` prints.

#include <cstdlib>
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

#include "commands.hpp"

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

}  // namespace
