// Expectation values keep their bits: a table of seeded states and sums over every evaluation
// path (the one pass for terms on qubits 0 and 1, one pass per flip mask, the diagonal pass,
// several batches) with the bit pattern of each result, recorded from the library before its
// evaluation was split into a plan, per-chunk partials and their combination. With one worker
// and with two, on states below and above the pool's grain, the results must stay exactly these.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/random.hpp"
#include "zel/core/state.hpp"

namespace zel::test {
namespace {

// Amplitudes with parts uniform in [-1, 1) from the library's seeded generator, whose draws are
// a fixed function of the seed on every platform (unlike the standard distributions).
ZarnikState seeded_state(std::uint64_t n, std::uint64_t seed) {
    random::Generator rng(seed);
    ZarnikState state(n);
    for (ZarnikState::Amplitude& a : state.amplitudes_mut()) {
        const double re = 2.0 * rng.uniform() - 1.0;
        a = {re, 2.0 * rng.uniform() - 1.0};
    }
    return state;
}

// `count` terms of up to `max_factors` factors of every kind (I included) on qubits below
// `span`; a qubit drawn twice in one term is skipped, so some terms have fewer factors.
PauliSum seeded_sum(std::uint64_t span, std::size_t count, std::uint64_t max_factors,
                    std::uint64_t seed) {
    random::Generator rng(seed);
    PauliSum sum;
    for (std::size_t t = 0; t < count; ++t) {
        PauliTerm term;
        term.coefficient = 2.0 * rng.uniform() - 1.0;
        const std::uint64_t factors = 1 + rng() % max_factors;
        std::uint64_t used = 0;
        for (std::uint64_t f = 0; f < factors; ++f) {
            const std::uint64_t q = rng() % span;
            const auto kind = static_cast<Pauli>(rng() % 4);
            if ((used >> q & 1U) == 0) {
                used |= std::uint64_t{1} << q;
                term.paulis.push_back({q, kind});
            }
        }
        sum.terms.push_back(std::move(term));
    }
    return sum;
}

// Terms made of Y factors only, on qubits below `span`: odd and even Y counts, and the sign of
// i^y on every residue of 4.
PauliSum y_sum(std::uint64_t span) {
    PauliSum sum;
    for (std::uint64_t mask = 1; mask < (std::uint64_t{1} << span); ++mask) {
        PauliTerm term;
        term.coefficient = 0.25 + 0.125 * static_cast<double>(mask);
        for (std::uint64_t q = 0; q < span; ++q) {
            if ((mask >> q & 1U) != 0) {
                term.paulis.push_back({q, Pauli::Y});
            }
        }
        sum.terms.push_back(std::move(term));
    }
    return sum;
}

struct BitsCase {
    std::string name;
    std::uint64_t qubits;
    PauliSum sum;
    std::uint64_t expected;  // bit pattern of the result
};

// The expected patterns were printed by this test's failure messages when run against the
// library at commit a1c094b (before the split), with one worker; they equal the two-worker
// results there.
std::vector<BitsCase> bits_cases() {
    return {
        {"H2, 2 qubits", 2, PauliSum::h2_hamiltonian(), 0xc003f6460aab8577ull},
        {"H2, 13 qubits", 13, PauliSum::h2_hamiltonian(), 0xc0b66257ca9a5defull},
        {"H2, 18 qubits", 18, PauliSum::h2_hamiltonian(), 0xc1067d96051d76a4ull},
        {"quad terms, 2 qubits", 2, seeded_sum(2, 20, 2, 11), 0x401becf9e56b727dull},
        {"quad terms, 16 qubits", 16, seeded_sum(2, 20, 2, 12), 0x40e32bc76ac63186ull},
        {"qubit-0 terms, 1 qubit", 1, seeded_sum(1, 6, 1, 13), 0x3fd46f68f55edf88ull},
        {"general terms, 3 qubits", 3, seeded_sum(3, 24, 3, 14), 0xc01466cea833585cull},
        {"general terms, 6 qubits", 6, seeded_sum(6, 40, 4, 15), 0x404309c012b75cd3ull},
        {"general terms, 15 qubits", 15, seeded_sum(15, 40, 4, 16), 0xc0b8d4b7518e530eull},
        {"general terms, 18 qubits", 18, seeded_sum(18, 30, 4, 17), 0xc0e4ffdccd74a754ull},
        {"top-qubit flips, 18 qubits", 18, seeded_sum(18, 12, 18, 18), 0xc0fda46d5f28f1cbull},
        {"150 terms in three batches, 7 qubits", 7, seeded_sum(7, 150, 3, 19),
         0x404c898a9ab78a4aull},
        {"130 terms in three batches, 18 qubits", 18, seeded_sum(18, 130, 3, 20),
         0x40f61363ca1148b5ull},
        {"Y factors only, 4 qubits", 4, y_sum(4), 0x403b6ec7a9795180ull},
        {"Y factors only, 17 qubits", 17, y_sum(4), 0xc00289ac9c954080ull},
        {"no terms", 5, PauliSum{}, 0x8000000000000000ull},
    };
}

class ExpectationBits : public ::testing::TestWithParam<std::size_t> {
  protected:
    void TearDown() override {
        parallel::set_thread_count(0);
    }
};

TEST_P(ExpectationBits, ResultsKeepTheirBitPatterns) {
    parallel::set_thread_count(GetParam());
    std::uint64_t seed = 100;
    for (const BitsCase& c : bits_cases()) {
        SCOPED_TRACE(c.name);
        const ZarnikState state = seeded_state(c.qubits, ++seed);
        const auto bits = std::bit_cast<std::uint64_t>(c.sum.expectation_value(state));
        EXPECT_EQ(bits, c.expected) << std::hex << "0x" << bits << "ull";
    }
}

INSTANTIATE_TEST_SUITE_P(Workers, ExpectationBits, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::to_string(info.param) + "_workers";
                         });

// The pieces of detail/reductions.hpp as a state held in parts uses them: chunks cut into pieces
// of PIECE items that continue each other's partials (accumulate_pass), diagonal chunks read
// through a pointer to their first amplitude with its basis index (first_index), flip passes on
// the top qubit read from two half-states with contiguous items, and the partials added in chunk
// order. The value must be the bits of expectation_value.
TEST(ExpectationPieces, PiecesAndRebasedSourcesGiveTheBitsOfTheWholeState) {
    using detail::ExpectationBatch;
    using detail::ExpectationPass;
    using detail::PassKind;
    using detail::PassSource;
    constexpr std::uint64_t N = 16;
    constexpr std::uint64_t PIECE = 1000;  // not a divisor of a chunk, on purpose
    const ZarnikState state = seeded_state(N, 77);
    const ZarnikState::Amplitude* psi = state.amplitudes().data();
    const std::uint64_t half = state.dimension() / 2;
    for (const PauliSum& sum : {seeded_sum(N, 40, 4, 31), seeded_sum(N, 12, N, 32),
                                seeded_sum(2, 10, 2, 33), PauliSum::h2_hamiltonian()}) {
        const double value = detail::expectation_in_batches(
            sum, N, state.dimension(), [&](const ExpectationBatch& batch, double* sums) {
                for (std::size_t p = 0; p < batch.pass_count; ++p) {
                    const ExpectationPass& pass = batch.passes[p];
                    double* totals = sums + pass.first_sum;
                    std::fill(totals, totals + pass.sum_count, -0.0);
                    std::vector<double> partial(pass.sum_count);
                    for (std::uint64_t c = 0; c < pass.chunks(); ++c) {
                        const std::uint64_t begin = c * parallel::SUM_CHUNK;
                        const std::uint64_t end =
                            std::min(pass.items, (c + 1) * parallel::SUM_CHUNK);
                        if (pass.kind == PassKind::Quad) {
                            const PassSource source{psi, psi, 0, 0, 0};
                            detail::pass_partial(batch, pass, source, begin, end, partial.data());
                        } else {
                            std::fill(partial.begin(), partial.end(), -0.0);
                            for (std::uint64_t x = begin; x < end; x += PIECE) {
                                const std::uint64_t y = std::min(end, x + PIECE);
                                if (pass.kind == PassKind::Diagonal) {
                                    const PassSource source{psi + x, psi + x, 0, 0, x};
                                    detail::accumulate_pass(batch, pass, source, 0, y - x,
                                                            partial.data());
                                } else if (pass.high == N - 1) {
                                    const PassSource source{psi, psi + half, pass.flip & (half - 1),
                                                            detail::CONTIGUOUS_ITEMS, 0};
                                    detail::accumulate_pass(batch, pass, source, x, y,
                                                            partial.data());
                                } else {
                                    const PassSource source{psi, psi, pass.flip, pass.high, 0};
                                    detail::accumulate_pass(batch, pass, source, x, y,
                                                            partial.data());
                                }
                            }
                        }
                        for (std::size_t t = 0; t < pass.sum_count; ++t) {
                            totals[t] += partial[t];
                        }
                    }
                }
            });
        EXPECT_EQ(std::bit_cast<std::uint64_t>(value),
                  std::bit_cast<std::uint64_t>(sum.expectation_value(state)))
            << sum.terms.size() << " terms";
    }
}

}  // namespace
}  // namespace zel::test
