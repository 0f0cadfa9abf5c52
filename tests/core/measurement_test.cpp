// Probabilities, sampling, norm and inner product against the dense definitions; sampling is
// reproducible for a seed, follows the distribution and never draws an impossible outcome.

#include "zel/core/measurement.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"

#include "support/reference.hpp"

namespace zel::test {
namespace {

TEST(CoreMeasurement, ProbabilitiesAreTheSquaredMagnitudesBitForBit) {
    std::mt19937_64 rng(SEED + 31);
    for (std::uint64_t n : {0, 1, 3, 6}) {
        const Vector v = random_state(n, rng);
        const std::vector<double> p = probabilities(make_state(v));
        ASSERT_EQ(p.size(), v.size());
        for (std::size_t k = 0; k < v.size(); ++k) {
            const double expected = v[k].real() * v[k].real() + v[k].imag() * v[k].imag();
            EXPECT_EQ(bits_of(p[k]), bits_of(expected)) << "n=" << n << " k=" << k;
        }
    }
}

TEST(CoreMeasurement, NormAndInnerProductMatchTheirDefinitions) {
    std::mt19937_64 rng(SEED + 32);
    for (std::uint64_t n : {0, 2, 5}) {
        const Vector a = random_state(n, rng);
        Vector b = random_state(n, rng);
        for (Complex& x : b) {
            x *= 3.0;
        }
        Complex expected = 0.0;
        double norm_b = 0.0;
        for (std::size_t k = 0; k < a.size(); ++k) {
            expected += std::conj(a[k]) * b[k];
            norm_b += std::norm(b[k]);
        }
        const ZarnikState sa = make_state(a);
        const ZarnikState sb = make_state(b);
        EXPECT_NEAR(norm(sa), 1.0, TOLERANCE);
        EXPECT_NEAR(norm(sb), std::sqrt(norm_b), TOLERANCE);
        const Complex ab = inner_product(sa, sb);
        EXPECT_NEAR(ab.real(), expected.real(), TOLERANCE);
        EXPECT_NEAR(ab.imag(), expected.imag(), TOLERANCE);
        // <b|a> is the conjugate of <a|b>, and <a|a> is the squared norm, real.
        const Complex ba = inner_product(sb, sa);
        EXPECT_EQ(bits_of(ba.real()), bits_of(ab.real()));
        EXPECT_EQ(bits_of(ba.imag()), bits_of(-ab.imag()));
        EXPECT_EQ(inner_product(sa, sa).imag(), 0.0);
    }
    EXPECT_EQ(norm(ZarnikState(4)), 1.0);
    EXPECT_THROW(static_cast<void>(inner_product(ZarnikState(2), ZarnikState(3))),
                 InvalidArgument);
}

// Above the grain the sums run on the pool; their fixed chunks give the same bits for any count.
TEST(CoreMeasurement, SumsAreIndependentOfTheThreadCount) {
    std::mt19937_64 rng(SEED + 33);
    const std::uint64_t n = 19;
    const ZarnikState a = make_state(random_state(n, rng));
    const ZarnikState b = make_state(random_state(n, rng));
    parallel::set_thread_count(1);
    const double norm_one = norm(a);
    const Complex product_one = inner_product(a, b);
    const std::vector<double> p_one = probabilities(a);
    parallel::set_thread_count(2);
    EXPECT_EQ(bits_of(norm(a)), bits_of(norm_one));
    EXPECT_EQ(bits_of(inner_product(a, b).real()), bits_of(product_one.real()));
    EXPECT_EQ(bits_of(inner_product(a, b).imag()), bits_of(product_one.imag()));
    EXPECT_EQ(probabilities(a), p_one);
    parallel::set_thread_count(0);
}

TEST(CoreSampling, ReproducibleForASeedAndDifferentAcrossSeeds) {
    std::mt19937_64 rng(SEED + 34);
    const ZarnikState state = make_state(random_state(4, rng));
    random::Generator first(7);
    random::Generator second(7);
    const auto a = sample(state, 1000, first);
    EXPECT_EQ(a, sample(state, 1000, second));
    random::Generator other(8);
    EXPECT_NE(a, sample(state, 1000, other));
    std::map<std::uint64_t, std::uint64_t> counted;
    for (const std::uint64_t outcome : a) {
        ++counted[outcome];
    }
    random::Generator third(7);
    EXPECT_EQ(sample_counts(state, 1000, third), counted);
}

// Counts follow the probabilities: every outcome within 5 standard deviations of its mean.
TEST(CoreSampling, CountsFollowTheDistribution) {
    std::mt19937_64 rng(SEED + 35);
    const Vector v = random_state(3, rng);
    const ZarnikState state = make_state(v);
    constexpr std::uint64_t SHOTS = 200000;
    random::Generator generator(11);
    const auto counts = sample_counts(state, SHOTS, generator);
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < v.size(); ++k) {
        const double p = std::norm(v[k]);
        const double mean = p * SHOTS;
        const double sigma = std::sqrt(SHOTS * p * (1 - p));
        const auto found = counts.find(k);
        const double count = found == counts.end() ? 0.0 : static_cast<double>(found->second);
        EXPECT_NEAR(count, mean, 5 * sigma + 1) << "outcome " << k;
        total += found == counts.end() ? 0 : found->second;
    }
    EXPECT_EQ(total, SHOTS);
}

TEST(CoreSampling, ImpossibleOutcomesNeverOccur) {
    // A basis state always gives its index; a state with zeros between its nonzero amplitudes
    // (and a zero last amplitude) never gives the zeros.
    for (std::uint64_t k : {0, 5, 7}) {
        ZarnikState basis(3);
        basis.set_computational_basis(k);
        random::Generator generator(k);
        const auto counts = sample_counts(basis, 500, generator);
        EXPECT_EQ(counts, (std::map<std::uint64_t, std::uint64_t>{{k, 500}}));
    }
    ZarnikState sparse(3);
    auto amplitudes = sparse.amplitudes_mut();
    amplitudes[0] = 0.0;
    amplitudes[2] = Complex(0.0, 0.6);
    amplitudes[5] = -0.8;
    random::Generator generator(3);
    for (const auto& [outcome, count] : sample_counts(sparse, 5000, generator)) {
        EXPECT_TRUE(outcome == 2 || outcome == 5) << outcome;
        EXPECT_GT(count, 0u);
    }
}

// Scaling every amplitude by 2 scales every probability and running total by exactly 4, so an
// unnormalised state draws exactly the outcomes of its normalisation.
TEST(CoreSampling, AnUnnormalisedStateSamplesAsItsNormalisation) {
    std::mt19937_64 rng(SEED + 36);
    Vector v = random_state(4, rng);
    const ZarnikState normalised = make_state(v);
    for (Complex& a : v) {
        a *= 2.0;
    }
    const ZarnikState doubled = make_state(v);
    random::Generator a(5);
    random::Generator b(5);
    EXPECT_EQ(sample(normalised, 3000, a), sample(doubled, 3000, b));
}

TEST(CoreSampling, RefusesStatesWithoutADistribution) {
    ZarnikState zero(2);
    zero.amplitudes_mut()[0] = 0.0;
    ZarnikState not_finite(2);
    not_finite.amplitudes_mut()[1] = std::numeric_limits<double>::quiet_NaN();
    ZarnikState infinite(2);
    infinite.amplitudes_mut()[3] = std::numeric_limits<double>::infinity();
    random::Generator generator(1);
    for (const ZarnikState* state : {&zero, &not_finite, &infinite}) {
        EXPECT_THROW(static_cast<void>(sample(*state, 10, generator)), InvalidArgument);
    }
    EXPECT_TRUE(sample(ZarnikState(2), 0, generator).empty());
}

TEST(CoreSampling, BitstringsPutQubitZeroLast) {
    struct Row {
        std::uint64_t index;
        std::uint64_t n;
        std::string text;
    };
    for (const Row& row : {Row{1, 3, "001"}, Row{4, 3, "100"}, Row{6, 3, "110"}, Row{0, 0, ""},
                           Row{1, 1, "1"}, Row{5, 6, "000101"},
                           Row{std::uint64_t{1} << 63, 65, "0" + std::string(1, '1') +
                                                               std::string(63, '0')}}) {
        EXPECT_EQ(bitstring(row.index, row.n), row.text) << row.index << " on " << row.n;
    }
}

}  // namespace
}  // namespace zel::test
