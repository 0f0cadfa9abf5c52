// The Pauli-string parser: accepted forms, the first bad character of rejected ones, and the
// round trip through pauli_text.

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"
#include "zel/core/observable.hpp"

#include "support/reference.hpp"

namespace zel::test {
namespace {

TEST(CorePauliText, AcceptedForms) {
    struct Row {
        std::string text;
        std::vector<PauliTerm> terms;
    };
    const std::vector<Row> rows = {
        {"0.5 * X0 Z1", {{0.5, {{0, Pauli::X}, {1, Pauli::Z}}}}},
        {"-1.2 YY", {{-1.2, {{1, Pauli::Y}, {0, Pauli::Y}}}}},
        {"XIZ", {{1.0, {{2, Pauli::X}, {0, Pauli::Z}}}}},
        {"IIII", {{1.0, {}}}},
        {"3", {{3.0, {}}}},
        {"-0", {{-0.0, {}}}},
        {"X0", {{1.0, {{0, Pauli::X}}}}},
        {"- Z12", {{-1.0, {{12, Pauli::Z}}}}},
        {"+2.5e-3*Y3*X1", {{2.5e-3, {{3, Pauli::Y}, {1, Pauli::X}}}}},
        {".5 I4", {{0.5, {{4, Pauli::I}}}}},
        {"1E2 Z0", {{100.0, {{0, Pauli::Z}}}}},
        {"\t0.25 Z0\n  + 0.75 Z1\r\n - X0 X1 ",
         {{0.25, {{0, Pauli::Z}}}, {0.75, {{1, Pauli::Z}}}, {-1.0, {{0, Pauli::X}, {1, Pauli::X}}}}},
        {"1 - 2 + 3", {{1.0, {}}, {-2.0, {}}, {3.0, {}}}},
        {"Z18446744073709551615", {{1.0, {{18446744073709551615u, Pauli::Z}}}}},
    };
    for (const Row& row : rows) {
        const PauliSum sum = parse_pauli_sum(row.text);
        EXPECT_EQ(sum, PauliSum{row.terms}) << "\"" << row.text << "\"";
        if (!sum.terms.empty()) {
            // Signs of zero are kept.
            EXPECT_EQ(std::signbit(sum.terms[0].coefficient),
                      std::signbit(row.terms[0].coefficient));
        }
    }
}

// Each rejected text names the byte offset of its first bad character.
TEST(CorePauliText, RejectedFormsNameTheFirstBadCharacter) {
    struct Row {
        std::string text;
        std::size_t offset;
        std::string reason_start;
    };
    const std::vector<Row> rows = {
        {"", 0, "expected a term"},
        {"   ", 3, "expected a term"},
        {"0.5 X0 0.3 Z1", 7, "expected '+' or '-' between terms"},
        {"X0 +", 4, "expected a term after '+'"},
        {"0.5 * ", 6, "expected a Pauli factor after '*'"},
        {"0.5 * 3", 6, "expected a Pauli factor after '*'"},
        {"Q0", 0, "expected a coefficient or a Pauli letter"},
        {"x0", 0, "expected a coefficient or a Pauli letter"},
        {"XA", 1, "'A' is not a Pauli letter"},
        {"XZ1", 0, "'XZ1' has several letters before a qubit index"},
        {"X0 X0", 3, "qubit 0 appears twice in one term"},
        {"XX X3", 3, "a Pauli string without indexes stands alone"},
        {"X3 YY", 3, "a Pauli string without indexes stands alone"},
        {"X0Z1", 2, "expected whitespace, '*', '+' or '-' after a qubit index"},
        {"Z99999999999999999999", 1, "qubit index 99999999999999999999 does not fit"},
        {"1e999 Z0", 0, "the number 1e999 is out of range"},
        {"1e Z0", 2, "expected the digits of an exponent"},
        {". Z0", 0, "expected digits in a number"},
        {"0.5 X0 & Z1", 7, "expected '+' or '-' between terms, found '&'"},
        {std::string("X0 \x01"), 3, "expected '+' or '-' between terms, found byte 0x01"},
    };
    for (const Row& row : rows) {
        try {
            static_cast<void>(parse_pauli_sum(row.text));
            ADD_FAILURE() << "accepted \"" << row.text << "\"";
        } catch (const ParseError& error) {
            EXPECT_EQ(error.offset(), row.offset) << "\"" << row.text << "\": " << error.what();
            EXPECT_EQ(error.reason().rfind(row.reason_start, 0), 0u)
                << "\"" << row.text << "\": " << error.what();
            EXPECT_EQ(std::string(error.what()),
                      "position " + std::to_string(row.offset) + ": " + error.reason());
        }
    }
}

TEST(CorePauliText, TextReadsBackToTheSameSum) {
    std::mt19937_64 rng(SEED + 51);
    const double weights[] = {0.5, -1.25, 1e-7, 3e20, -0.0, 0.0, 0.1, -0.39793742484318045};
    for (int trial = 0; trial < 200; ++trial) {
        PauliSum sum;
        const std::size_t terms = 1 + rng() % 5;
        for (std::size_t t = 0; t < terms; ++t) {
            PauliTerm term{weights[rng() % 8], {}};
            const std::size_t factors = rng() % 4;
            for (std::size_t f = 0; f < factors; ++f) {
                const std::uint64_t qubit = f * 7 + rng() % 7;
                term.paulis.push_back({qubit, static_cast<Pauli>(rng() % 4)});
            }
            sum.terms.push_back(term);
        }
        const std::string text = pauli_text(sum);
        const PauliSum back = parse_pauli_sum(text);
        ASSERT_EQ(back, sum) << text;
        for (std::size_t t = 0; t < terms; ++t) {
            EXPECT_EQ(bits_of(back.terms[t].coefficient), bits_of(sum.terms[t].coefficient))
                << text;
        }
    }
    EXPECT_EQ(pauli_text(PauliSum::h2_hamiltonian()),
              "-1.052373245772859 + 0.39793742484318045 * Z0 - 0.39793742484318045 * Z1 - "
              "0.01128010425623538 * Z0 Z1 + 0.18093119978423156 * X0 X1 + 0.18093119978423156 "
              "* Y0 Y1");
    EXPECT_EQ(parse_pauli_sum(pauli_text(PauliSum::h2_hamiltonian())),
              PauliSum::h2_hamiltonian());
}

}  // namespace
}  // namespace zel::test
