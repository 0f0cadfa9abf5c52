// The molecular solvers on distributed states against the one-process solvers, bit for bit:
// UCCSD and ADAPT-VQE on H2 and on LiH with its 1s core frozen, the same results on every rank.

#include "zel/mpi/vqe.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/chem/fcidump.hpp"
#include "zel/chem/vqe.hpp"

#include "support.hpp"

namespace zel::mpi::test {
namespace {

struct Molecule {
    const char* file;
    std::uint64_t active_electrons = 0;
    std::size_t active_orbitals = 0;  // 0: every orbital
};

const Molecule H2{"h2_0.735"};
const Molecule LIH{"lih_1.595", 2, 5};  // 10 qubits

chem::VqeProblem problem_of(const Molecule& m) {
    chem::Fcidump data =
        chem::read_fcidump(std::string(ZEL_CHEM_TEST_DATA) + "/" + m.file + ".fcidump");
    if (m.active_orbitals != 0) {
        data = chem::active_space(data, m.active_electrons, m.active_orbitals);
    }
    return chem::make_vqe_problem(data.integrals, data.sector());
}

// Every value's bits as hexadecimal text, one string for comparing results and ranks.
std::string hex_of(const std::vector<double>& values) {
    std::string text;
    for (const double v : values) {
        char word[20];
        std::snprintf(word, sizeof word, "%016llx ", static_cast<unsigned long long>(bits_of(v)));
        text += word;
    }
    return text;
}

void expect_on_every_rank(const std::string& text) {
    for (const std::string& other : gather_strings(text)) {
        EXPECT_EQ(other, text);
    }
}

TEST(DistributedSolvers, UccsdMatchesOneProcessBitForBit) {
    for (const Molecule& m : {H2, LIH}) {
        SCOPED_TRACE(m.file);
        const chem::VqeProblem problem = problem_of(m);
        const chem::VqeResult whole = chem::uccsd(problem);
        const chem::VqeResult spread = mpi::uccsd(problem);
        const std::vector<double> expected = {whole.energy, whole.reference_energy};
        const std::vector<double> got = {spread.energy, spread.reference_energy};
        EXPECT_EQ(hex_of(got), hex_of(expected));
        EXPECT_EQ(hex_of(spread.parameters), hex_of(whole.parameters));
        EXPECT_EQ(spread.optimization.evaluations, whole.optimization.evaluations);
        expect_on_every_rank(hex_of(got) + hex_of(spread.parameters));
    }
}

TEST(DistributedSolvers, AdaptMatchesOneProcessBitForBit) {
    struct Case {
        Molecule molecule;
        chem::AdaptPool pool;
        std::size_t max_operators;
    };
    const Case cases[] = {
        {H2, chem::AdaptPool::Fermionic, 100},
        {LIH, chem::AdaptPool::Fermionic, 4},
        {LIH, chem::AdaptPool::Qubit, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.molecule.file) + " " +
                     std::string(chem::adapt_pool_name(c.pool)));
        const chem::VqeProblem problem = problem_of(c.molecule);
        chem::AdaptOptions options;
        options.pool = c.pool;
        options.max_operators = c.max_operators;
        const chem::AdaptResult whole = chem::adapt_vqe(problem, options);
        const chem::AdaptResult spread = mpi::adapt_vqe(problem, options);

        const auto trace = [](const chem::AdaptResult& r) {
            std::vector<double> values = {r.energy, r.reference_energy, r.final_gradient_norm};
            std::string labels;
            for (const chem::AdaptIteration& it : r.iterations) {
                values.push_back(it.energy);
                values.push_back(it.gradient);
                labels += it.label + " ";
            }
            return labels + hex_of(values) + hex_of(r.parameters);
        };
        EXPECT_EQ(trace(spread), trace(whole));
        EXPECT_EQ(spread.stop, whole.stop);
        expect_on_every_rank(trace(spread));
    }
}

}  // namespace
}  // namespace zel::mpi::test
