// Reductions of the distributed state against the whole state, bit for bit: expectation values
// of sums over every evaluation path (the quad pass, diagonal terms, flips within a block and
// across rank bits, several batches), with several exchange sizes and thread counts, on blocks
// that are gathered and on blocks reduced in place; entropies likewise; bounds failures alike on
// every rank.

#include "zel/core/observable.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/mpi/observable.hpp"
#include "zel/mpi/state.hpp"

#include "support.hpp"

namespace zel::mpi::test {
namespace {

std::string hex_bits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits_of(value)));
    return text;
}

struct SumCase {
    std::string name;
    PauliSum sum;
};

// Sums for a register of n qubits, from one seeded generator.
std::vector<SumCase> sum_cases(std::uint64_t n, random::Generator& rng) {
    std::vector<SumCase> cases = {
        {"no terms", PauliSum{}},
        {"general terms", random_sum(rng, n, 40, 4)},
        {"flips up to the top qubit", random_sum(rng, n, 12, n)},
        {"130 terms in three batches", random_sum(rng, n, 130, 3)},
    };
    if (n >= 2) {
        cases.push_back({"H2", PauliSum::h2_hamiltonian()});
        cases.push_back({"terms on qubits 0 and 1", random_sum(rng, 2, 20, 2)});
    }
    // Diagonal terms only, and the top qubit's X and Y with the rest.
    PauliSum diagonal;
    PauliSum top;
    for (std::uint64_t q = 0; q < n; ++q) {
        diagonal.terms.push_back({0.5 + static_cast<double>(q), {{q, Pauli::Z}}});
        top.terms.push_back({-0.25, {{n - 1, Pauli::Y}, {q == n - 1 ? 0 : q, Pauli::Z}}});
        top.terms.push_back({0.75, {{n - 1, Pauli::X}, {0, Pauli::Y}}});
    }
    cases.push_back({"Z terms", diagonal});
    cases.push_back({"top-qubit X and Y", top});
    return cases;
}

TEST(DistributedExpectation, MatchesTheWholeStateBitForBit) {
    const std::uint64_t k = world_rank_bits();
    struct Layout {
        std::uint64_t qubits;
        std::uint64_t exchange;
    };
    std::vector<Layout> layouts;
    for (const std::uint64_t n : qubit_counts()) {
        layouts.push_back({n, DEFAULT_EXCHANGE_AMPLITUDES});
    }
    // In place with pieces below a chunk (chunks span pieces) and with the block in one piece.
    layouts.push_back({k + 15, 1024});
    layouts.push_back({k + 16, std::uint64_t{1} << 20});
    for (const std::size_t threads : {1, 2}) {
        const ThreadScope scope(threads);
        for (const Layout& layout : layouts) {
            const std::uint64_t n = layout.qubits;
            if (n == 0) {
                continue;
            }
            random::Generator rng(n * 1000 + layout.exchange);
            const ZarnikState whole = seeded_state(n, rng());
            const DistributedState state = distribute(whole, {layout.exchange});
            for (const SumCase& c : sum_cases(n, rng)) {
                SCOPED_TRACE(c.name + ", " + std::to_string(n) + " qubits, " +
                             std::to_string(threads) + " threads, exchange " +
                             std::to_string(layout.exchange));
                const double expected = c.sum.expectation_value(whole);
                const double value = expectation_value(c.sum, state);
                EXPECT_EQ(hex_bits(value), hex_bits(expected));
                EXPECT_TRUE(same_on_every_rank(hex_bits(value)));
            }
        }
    }
}

TEST(DistributedExpectation, FactorsOutsideTheRegisterThrowOnEveryRank) {
    const std::uint64_t k = world_rank_bits();
    for (const std::uint64_t n : {k + 1, k + 15}) {
        const ZarnikState whole = seeded_state(n, 4);
        const DistributedState state = distribute(whole);
        const std::vector<PauliSum> sums = {
            {{{1.0, {{n, Pauli::X}}}}},
            {{{1.0, {{0, Pauli::Z}}}, {2.0, {{n + 3, Pauli::Y}, {0, Pauli::X}}}}},
            {{{1.0, {{64, Pauli::X}}}}},
        };
        for (const PauliSum& sum : sums) {
            const std::string expected = thrown_by([&] {
                static_cast<void>(sum.expectation_value(whole));
            });
            const std::string error = thrown_by([&] {
                static_cast<void>(expectation_value(sum, state));
            });
            EXPECT_NE(error, "");
            EXPECT_EQ(error, expected);
            EXPECT_TRUE(same_on_every_rank(error));
        }
        // Z factors beyond the register read a clear bit, as on the whole state.
        const PauliSum beyond = {{{0.5, {{n + 2, Pauli::Z}, {0, Pauli::X}}}}};
        EXPECT_EQ(hex_bits(expectation_value(beyond, state)),
                  hex_bits(beyond.expectation_value(whole)));
    }
}

TEST(DistributedEntropy, MatchesTheWholeStateBitForBit) {
    std::vector<std::uint64_t> counts = qubit_counts();
    counts.push_back(world_rank_bits() + 16);
    for (const std::size_t threads : {1, 2}) {
        const ThreadScope scope(threads);
        for (const std::uint64_t n : counts) {
            SCOPED_TRACE(std::to_string(n) + " qubits, " + std::to_string(threads) + " threads");
            const ZarnikState whole = seeded_state(n, 40 + n);
            const DistributedState state = distribute(whole);
            EXPECT_EQ(hex_bits(state.calculate_entropy()), hex_bits(whole.calculate_entropy()));
            // A basis state: no term contributes (+0.0, never -0.0).
            DistributedState basis(n);
            basis.set_computational_basis(state.dimension() - 1);
            EXPECT_EQ(hex_bits(basis.calculate_entropy()), hex_bits(0.0));
            EXPECT_TRUE(same_on_every_rank(hex_bits(state.calculate_entropy())));
        }
    }
}

}  // namespace
}  // namespace zel::mpi::test
