#pragma once

// Shared helpers of the distributed tests. Every rank computes the whole-state result itself
// with a ZarnikState and compares its own block with the matching slice, bit for bit; what must
// be the same on every rank (values, exception messages) is gathered and compared across ranks.
//
// The tests use EXPECT_* only: a fatal assertion would return from a test on one rank while the
// others go on to the next collective and wait there.

#include <bit>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/random.hpp"
#include "zel/core/state.hpp"
#include "zel/mpi/state.hpp"

#include <mpi.h>

namespace zel::mpi::test {

/// Rank count of MPI_COMM_WORLD.
inline int world_size() {
    int size = 0;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    return size;
}

/// This process's rank in MPI_COMM_WORLD.
inline int world_rank() {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

/// Rank bits of MPI_COMM_WORLD (0, 1 or 2 under the test runs with 1, 2 and 4 ranks).
inline std::uint64_t world_rank_bits() {
    return static_cast<std::uint64_t>(std::countr_zero(static_cast<unsigned>(world_size())));
}

/// Qubit counts that give blocks of 1, 2 and 4 amplitudes, a medium one, and blocks at the size
/// from which reductions run in place (2^15 amplitudes).
inline std::vector<std::uint64_t> qubit_counts() {
    const std::uint64_t k = world_rank_bits();
    return {k, k + 1, k + 2, k + 5, k + 15};
}

/// Sets the pool's thread count for a scope and restores the default.
class ThreadScope {
  public:
    explicit ThreadScope(std::size_t threads) {
        parallel::set_thread_count(threads);
    }
    ~ThreadScope() {
        parallel::set_thread_count(0);
    }
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;
};

/// A whole state with seeded amplitudes, parts uniform in [-1, 1), the same on every rank.
inline ZarnikState seeded_state(std::uint64_t n, std::uint64_t seed) {
    random::Generator rng(seed);
    ZarnikState state(n);
    for (ZarnikState::Amplitude& a : state.amplitudes_mut()) {
        const double re = 2.0 * rng.uniform() - 1.0;
        a = {re, 2.0 * rng.uniform() - 1.0};
    }
    return state;
}

/// A distributed state over MPI_COMM_WORLD holding `whole` (each rank copies its slice).
inline DistributedState distribute(const ZarnikState& whole, DistributionOptions options = {}) {
    DistributedState state(whole.num_qubits(), MPI_COMM_WORLD, options);
    const std::uint64_t first = state.first_index();
    const auto block = state.local_amplitudes_mut();
    for (std::size_t k = 0; k < block.size(); ++k) {
        block[k] = whole.amplitudes()[first + k];
    }
    return state;
}

/// Success when this rank's block is bit for bit the slice of `whole` it stands for.
inline ::testing::AssertionResult block_matches(const DistributedState& state,
                                                const ZarnikState& whole) {
    const auto block = state.local_amplitudes();
    const std::uint64_t first = state.first_index();
    if (state.dimension() != whole.dimension()) {
        return ::testing::AssertionFailure() << "dimensions differ";
    }
    for (std::size_t k = 0; k < block.size(); ++k) {
        const ZarnikState::Amplitude expected = whole.amplitudes()[first + k];
        if (std::memcmp(&block[k], &expected, sizeof(expected)) != 0) {
            return ::testing::AssertionFailure()
                   << "rank " << state.rank() << ": amplitude " << first + k << " is "
                   << block[k].real() << " + " << block[k].imag() << "i, expected "
                   << expected.real() << " + " << expected.imag() << "i";
        }
    }
    return ::testing::AssertionSuccess();
}

/// The bit pattern of a double.
inline std::uint64_t bits_of(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

/// Every rank's `text`, in rank order.
inline std::vector<std::string> gather_strings(const std::string& text) {
    const int size = world_size();
    const int length = static_cast<int>(text.size());
    std::vector<int> lengths(static_cast<std::size_t>(size));
    MPI_Allgather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, MPI_COMM_WORLD);
    std::vector<int> offsets(static_cast<std::size_t>(size));
    int total = 0;
    for (int r = 0; r < size; ++r) {
        offsets[static_cast<std::size_t>(r)] = total;
        total += lengths[static_cast<std::size_t>(r)];
    }
    std::string all(static_cast<std::size_t>(total), '\0');
    MPI_Allgatherv(text.data(), length, MPI_CHAR, all.data(), lengths.data(), offsets.data(),
                   MPI_CHAR, MPI_COMM_WORLD);
    std::vector<std::string> texts;
    for (int r = 0; r < size; ++r) {
        texts.push_back(all.substr(static_cast<std::size_t>(offsets[static_cast<std::size_t>(r)]),
                                   static_cast<std::size_t>(lengths[static_cast<std::size_t>(r)])));
    }
    return texts;
}

/// Success when every rank passed the same `text`.
inline ::testing::AssertionResult same_on_every_rank(const std::string& text) {
    const std::vector<std::string> texts = gather_strings(text);
    for (std::size_t r = 0; r < texts.size(); ++r) {
        if (texts[r] != texts[0]) {
            return ::testing::AssertionFailure()
                   << "rank " << r << " has \"" << texts[r] << "\", rank 0 \"" << texts[0] << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}

/// "<type>: <what()>" of what `body` throws, or "" when it returns.
template <class Body>
std::string thrown_by(Body&& body) {
    try {
        body();
    } catch (const std::exception& error) {
        return std::string(typeid(error).name()) + ": " + error.what();
    }
    return "";
}

/// A seeded random gate of any kind on qubits below `span` (which may exceed the register for
/// the kinds whose out-of-range qubits change nothing or act uniformly), with its parameters
/// present or not.
inline Operation random_operation(random::Generator& rng, std::uint64_t span) {
    Operation op;
    const auto kind = static_cast<GateKind>(rng() % ORIGINAL_KIND_COUNT);
    const double angle = 6.0 * rng.uniform() - 3.0;
    op.gate = GateType{kind, angle};
    const GateInfo& info = gate_info(kind);
    for (std::uint8_t q = 0; q < info.arity; ++q) {
        op.qubits.push_back(rng() % span);
    }
    if (info.has_angle && rng() % 2 == 0) {
        op.params.push_back(angle);
    }
    return op;
}

/// A seeded random Pauli sum of `count` terms with up to `max_factors` factors on qubits below
/// `span` (a qubit drawn twice in a term is skipped).
inline PauliSum random_sum(random::Generator& rng, std::uint64_t span, std::size_t count,
                           std::uint64_t max_factors) {
    PauliSum sum;
    for (std::size_t t = 0; t < count; ++t) {
        PauliTerm term;
        term.coefficient = 2.0 * rng.uniform() - 1.0;
        const std::uint64_t factors = 1 + rng() % max_factors;
        std::uint64_t used = 0;
        for (std::uint64_t f = 0; f < factors; ++f) {
            const std::uint64_t q = rng() % span;
            if ((used >> q & 1U) == 0) {
                used |= std::uint64_t{1} << q;
                term.paulis.push_back({q, static_cast<Pauli>(rng() % 4)});
            }
        }
        sum.terms.push_back(std::move(term));
    }
    return sum;
}

}  // namespace zel::mpi::test
