// Adjoint gradients, Pauli-sum products and pool gradients of the distributed state against the
// whole state, bit for bit: every parametric kind on registers of 4 to 8 qubits (rank bits among
// the qubits the operations touch, blocks smaller than a sum's chunk), blocks of two chunks with
// items that continue across ranks, exchanges in small pieces, and the argument checks alike on
// every rank.

#include "zel/mpi/gradient.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/gate_table.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/state.hpp"
#include "zel/mpi/state.hpp"

#include "support.hpp"

namespace zel::mpi::test {
namespace {

// `count` distinct qubits below n in a seeded order.
std::vector<std::uint64_t> distinct_qubits(random::Generator& rng, std::uint64_t n,
                                           std::size_t count) {
    std::vector<std::uint64_t> all(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        all[q] = q;
    }
    for (std::uint64_t q = n; q > 1; --q) {
        std::swap(all[q - 1], all[rng() % q]);
    }
    all.resize(count);
    return all;
}

// An operation of `kind` on seeded qubits with angles in [-pi, pi).
Operation seeded_operation(GateKind kind, std::uint64_t n, random::Generator& rng) {
    const GateInfo& info = gate_info(kind);
    std::vector<double> params(info.param_count);
    for (double& p : params) {
        p = std::numbers::pi * (2.0 * rng.uniform() - 1.0);
    }
    if (kind == GateKind::PAULI_ROTATION) {
        const std::size_t k = 1 + rng() % n;
        std::string letters;
        for (std::size_t j = 0; j < k; ++j) {
            letters.push_back("IXYZ"[rng() % 4]);
        }
        return pauli_rotation(letters, distinct_qubits(rng, n, k), params[0]);
    }
    if (info.orbitals != 0) {
        const std::vector<std::uint64_t> orbitals = distinct_qubits(rng, n, info.orbitals);
        const std::size_t half = info.orbitals / 2;
        const std::span<const std::uint64_t> from(orbitals.data(), half);
        const std::span<const std::uint64_t> to(orbitals.data() + half, half);
        return info.parity_qubits ? fermionic_excitation(from, to, params[0])
                                  : qubit_excitation(from, to, params[0]);
    }
    return make_operation(kind, distinct_qubits(rng, n, info.arity), params);
}

// A generic state from H and U on every qubit, then three operations of `kind` between CX.
ZarnikGraph seeded_circuit(GateKind kind, std::uint64_t n, random::Generator& rng) {
    ZarnikGraph circuit(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        circuit.add_gate(GateType::of(GateKind::H), {q});
        circuit.add(
            make_operation(GateKind::U, {q}, {0.3 + 0.2 * static_cast<double>(q), 0.7, -0.4}));
    }
    for (int r = 0; r < 3; ++r) {
        circuit.add(seeded_operation(kind, n, rng));
        circuit.add_gate(GateType::of(GateKind::CX), distinct_qubits(rng, n, 2));
    }
    return circuit;
}

// `op` with the top qubit and the one below it (rank bits on 2 and 4 ranks) in the places of its
// last two qubits (of its last two orbitals for an excitation, whose parity qubits follow).
Operation with_top_qubits(const Operation& op, std::uint64_t n) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t count = info.orbitals != 0 ? info.orbitals : op.qubits.size();
    std::vector<std::uint64_t> qubits(op.qubits.begin(), op.qubits.begin() + count);
    for (std::size_t j = 0; j < std::min<std::size_t>(2, count); ++j) {
        const std::uint64_t top = n - 1 - j;
        std::uint64_t& last = qubits[count - 1 - j];
        std::replace(qubits.begin(), qubits.end(), top, last);
        last = top;
    }
    if (info.orbitals == 0) {
        Operation moved = op;
        moved.qubits = qubits;
        return moved;
    }
    const std::size_t half = info.orbitals / 2;
    const std::span<const std::uint64_t> from(qubits.data(), half);
    const std::span<const std::uint64_t> to(qubits.data() + half, half);
    return info.parity_qubits ? fermionic_excitation(from, to, op.params[0])
                              : qubit_excitation(from, to, op.params[0]);
}

std::vector<std::uint64_t> bits_of_all(const std::vector<double>& values) {
    std::vector<std::uint64_t> out;
    for (const double v : values) {
        out.push_back(bits_of(v));
    }
    return out;
}

TEST(DistributedGradient, EveryParametricKindMatchesTheWholeStateBitForBit) {
    for (const GateInfo& info : GATE_TABLE) {
        if (info.param_count == 0) {
            continue;
        }
        for (const std::uint64_t n : {4U, 6U, 8U}) {
            SCOPED_TRACE(std::string(info.name) + " on " + std::to_string(n) + " qubits");
            random::Generator rng(n * 131 + static_cast<std::uint64_t>(info.kind));
            const ZarnikGraph circuit = seeded_circuit(info.kind, n, rng);
            const PauliSum h = random_sum(rng, n, 24, 4);
            const ZarnikState reference = seeded_state(n, 7 + n);

            const EnergyGradient whole = zel::energy_and_gradient(circuit, h, reference);
            // Exchanges of whole blocks, and of pieces of two amplitudes.
            for (const std::uint64_t piece : {DEFAULT_EXCHANGE_AMPLITUDES, std::uint64_t{2}}) {
                const EnergyGradient spread =
                    energy_and_gradient(circuit, h, distribute(reference, {piece}));
                EXPECT_EQ(bits_of(spread.energy), bits_of(whole.energy));
                EXPECT_EQ(bits_of_all(spread.gradient), bits_of_all(whole.gradient));
            }
        }
    }
}

// Blocks of 2^14 amplitudes, two chunks of the core's sums each: the reductions over basis
// indexes sum whole chunks on each rank, while the items of an excitation or of a dense matrix
// on rank-bit qubits are fewer per rank than a chunk and continue across ranks. One circuit
// holds every parametric kind, its last qubits (the rank bits) among each operation's.
TEST(DistributedGradient, LargerBlocksSumTheirChunksInTheWholeStateOrder) {
    const std::uint64_t n = world_rank_bits() + 14;
    random::Generator rng(2026);
    ZarnikGraph circuit(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        circuit.add_gate(GateType::of(GateKind::H), {q});
    }
    for (const GateInfo& info : GATE_TABLE) {
        if (info.param_count == 0) {
            continue;
        }
        circuit.add(with_top_qubits(seeded_operation(info.kind, n, rng), n));
        circuit.add_gate(GateType::of(GateKind::CX), {n - 1, rng() % (n - 1)});
    }
    const PauliSum h = random_sum(rng, n, 40, 4);
    const ZarnikState reference = seeded_state(n, 11);
    const DistributedState spread = distribute(reference);

    const EnergyGradient whole = zel::energy_and_gradient(circuit, h, reference);
    const EnergyGradient distributed = energy_and_gradient(circuit, h, spread);
    EXPECT_EQ(bits_of(distributed.energy), bits_of(whole.energy));
    EXPECT_EQ(bits_of_all(distributed.gradient), bits_of_all(whole.gradient));

    const std::vector<PauliSum> pool = {random_sum(rng, n, 4, n), random_sum(rng, n, 8, 3)};
    EXPECT_TRUE(block_matches(apply_pauli_sum(h, spread), zel::apply_pauli_sum(h, reference)));
    EXPECT_EQ(bits_of_all(pool_gradients(h, spread, pool)),
              bits_of_all(zel::pool_gradients(h, reference, pool)));
}

// A state whose amplitudes are zero but for a few (a molecular state's sector), one of them -0.
ZarnikState sparse_state(std::uint64_t n, std::uint64_t seed) {
    ZarnikState state = seeded_state(n, seed);
    for (std::uint64_t j = 0; j < state.dimension(); ++j) {
        if (j % 5 != 1) {
            state.amplitudes_mut()[j] = {0.0, 0.0};
        }
    }
    state.amplitudes_mut()[state.dimension() - 1] = {-0.0, -0.0};
    return state;
}

TEST(DistributedGradient, ProductsAndPoolGradientsMatchTheWholeStateBitForBit) {
    for (const std::uint64_t n : {4U, 5U, 6U, 8U}) {
        for (const bool sparse : {false, true}) {
            SCOPED_TRACE(std::to_string(n) + " qubits" + (sparse ? ", sparse" : ""));
            random::Generator rng(n);
            const ZarnikState whole = sparse ? sparse_state(n, 100 + n) : seeded_state(n, 100 + n);
            const DistributedState spread = distribute(whole, {std::uint64_t{1} << (n % 3)});
            const PauliSum h = random_sum(rng, n, 30, n);
            const std::vector<PauliSum> pool = {random_sum(rng, n, 2, 2), random_sum(rng, n, 8, n),
                                                PauliSum{}};

            const ZarnikState product = zel::apply_pauli_sum(h, whole);
            EXPECT_TRUE(block_matches(apply_pauli_sum(h, spread), product));
            DistributedState into = distribute(seeded_state(n, 1));
            apply_pauli_sum(h, spread, into);
            EXPECT_TRUE(block_matches(into, product));

            EXPECT_EQ(bits_of_all(pool_gradients(h, spread, pool)),
                      bits_of_all(zel::pool_gradients(h, whole, pool)));
        }
    }
}

TEST(DistributedGradient, RejectsBadArgumentsOnEveryRankBeforeAnyChange) {
    const std::uint64_t n = 4;
    const ZarnikState whole = seeded_state(n, 3);
    const DistributedState psi = distribute(whole);
    DistributedState out = distribute(seeded_state(n, 4));
    DistributedState other = distribute(seeded_state(n + 1, 5));
    const PauliSum beyond{{{1.0, {{n, Pauli::X}}}}};
    const std::vector<PauliSum> bad_pool = {PauliSum{}, beyond};
    ZarnikGraph wide(n + 1);
    wide.add(make_operation(GateKind::RY, {n}, {0.5}));

    ZarnikState whole_out(n);
    ZarnikState whole_other(n + 1);
    struct Case {
        const char* name;
        std::function<void()> distributed;
        std::function<void()> one_process;  // throws the message the distributed call must
    };
    const std::vector<Case> cases = {
        {"qubit counts differ",
         [&] {
             apply_pauli_sum(PauliSum{}, psi, other);
         },
         [&] {
             zel::apply_pauli_sum(PauliSum{}, whole, whole_other);
         }},
        {"output is the input",
         [&] {
             apply_pauli_sum(PauliSum{}, psi, const_cast<DistributedState&>(psi));
         },
         [&] {
             zel::apply_pauli_sum(PauliSum{}, whole, const_cast<ZarnikState&>(whole));
         }},
        {"product beyond the register",
         [&] {
             apply_pauli_sum(beyond, psi, out);
         },
         [&] {
             zel::apply_pauli_sum(beyond, whole, whole_out);
         }},
        {"Hamiltonian beyond the register",
         [&] {
             energy_and_gradient(ZarnikGraph(n), beyond, psi);
         },
         [&] {
             zel::energy_and_gradient(ZarnikGraph(n), beyond, whole);
         }},
        {"operation beyond the register",
         [&] {
             energy_and_gradient(wide, PauliSum{}, psi);
         },
         [&] {
             zel::energy_and_gradient(wide, PauliSum{}, whole);
         }},
        {"generator beyond the register",
         [&] {
             pool_gradients(PauliSum{}, psi, bad_pool);
         },
         [&] {
             zel::pool_gradients(PauliSum{}, whole, bad_pool);
         }},
    };
    const auto message_of = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const ZarnikState untouched = out.gather();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = message_of(c.one_process);
        const std::string caught = message_of(c.distributed);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(caught, expected);
        // Every rank threw the same.
        for (const std::string& text : gather_strings(caught)) {
            EXPECT_EQ(text, caught);
        }
    }
    EXPECT_TRUE(block_matches(out, untouched));
}

}  // namespace
}  // namespace zel::mpi::test
