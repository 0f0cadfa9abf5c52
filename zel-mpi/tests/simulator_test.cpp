// Circuit evaluation and the search loop on distributed states against the core's functions on
// a ZarnikState: energies, telemetry and the energy function bit for bit, circuit checks before
// any change, the shared random stream, and a short search with the adaptive strategy giving the
// same lines, circuit and energy. Also the MPI error report.

#include "zel/core/simulator.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/output.hpp"
#include "zel/core/random.hpp"
#include "zel/mpi/error.hpp"
#include "zel/mpi/simulator.hpp"
#include "zel/neural/brain.hpp"

#include "support.hpp"
#include <mpi.h>

namespace zel::mpi::test {
namespace {

// A layered circuit of rotations on every qubit and CX between neighbours, including the rank
// bits, with seeded angles.
ZarnikGraph layered_circuit(std::uint64_t n, random::Generator& rng) {
    ZarnikGraph circuit(n);
    for (std::uint64_t q = 0; q < n; ++q) {
        circuit.add_gate(GateType::ry(2.0 * rng.uniform() - 1.0), {q});
    }
    for (std::uint64_t q = 0; q + 1 < n; ++q) {
        circuit.add_gate(GateType::of(GateKind::CX), {q, q + 1});
    }
    for (std::uint64_t q = 0; q < n; q += 2) {
        circuit.add_gate(GateType::rz(2.0 * rng.uniform() - 1.0), {q});
        circuit.add_gate(GateType::rx(2.0 * rng.uniform() - 1.0), {n - 1 - q});
    }
    return circuit;
}

TEST(DistributedEvaluation, EnergiesTelemetryAndTheEnergyFunctionMatchTheWholeState) {
    const std::uint64_t k = world_rank_bits();
    for (const std::uint64_t n : {k + 2, k + 15}) {
        if (n < 2) {
            continue;
        }
        SCOPED_TRACE(std::to_string(n) + " qubits");
        random::Generator rng(n);
        const ZarnikGraph circuit = layered_circuit(n, rng);
        const PauliSum hamiltonian = random_sum(rng, n, 24, 3);
        const ZarnikState whole(n);
        const DistributedState state(n);

        EXPECT_EQ(bits_of(evaluate_circuit_energy(state, circuit, hamiltonian)),
                  bits_of(zel::evaluate_circuit_energy(whole, circuit, hamiltonian)));
        const Telemetry got = evaluate_circuit_telemetry(state, circuit, hamiltonian);
        const Telemetry expected = zel::evaluate_circuit_telemetry(whole, circuit, hamiltonian);
        EXPECT_EQ(bits_of(got.energy), bits_of(expected.energy));
        EXPECT_EQ(bits_of(got.entropy), bits_of(expected.entropy));

        const DistributedEnergyFn energy(circuit, state, hamiltonian);
        const EnergyFn reference(circuit, whole, hamiltonian);
        std::vector<double> values = parameters(circuit);
        for (double& v : values) {
            v += 0.125;
        }
        EXPECT_EQ(bits_of(energy(values)), bits_of(reference(values)));

        const DistributedState prepared = run_circuit(circuit, n, MPI_COMM_WORLD);
        EXPECT_TRUE(block_matches(prepared, zel::run_circuit(circuit, n)));
    }
}

TEST(DistributedEvaluation, ACircuitThatFailsChangesNothing) {
    const std::uint64_t n = world_rank_bits() + 2;
    ZarnikGraph circuit(n);
    circuit.add_gate(GateType::of(GateKind::H), {n - 1});
    circuit.add_gate(GateType::of(GateKind::CX), {0, n + 1});
    const ZarnikState seeded = seeded_state(n, 12);
    DistributedState state = distribute(seeded);
    ZarnikState whole = seeded;
    const std::string expected = thrown_by([&] {
        zel::apply_circuit(whole, circuit);
    });
    const std::string error = thrown_by([&] {
        apply_circuit(state, circuit);
    });
    EXPECT_NE(error, "");
    EXPECT_EQ(error, expected);
    EXPECT_TRUE(same_on_every_rank(error));
    EXPECT_TRUE(block_matches(state, seeded));
}

TEST(DistributedLoop, SeedIdenticallyGivesEveryRankRankZerosStream) {
    // Different streams on every rank first.
    random::reseed(100 + static_cast<std::uint64_t>(world_rank()));
    random::Generator rank_zero(100);
    const std::uint64_t shared = rank_zero();
    seed_identically();
    random::Generator expected(shared);
    const std::uint64_t draw = random::next_u64();
    EXPECT_EQ(draw, expected());
    EXPECT_TRUE(same_on_every_rank(std::to_string(draw)));
}

// Lines of a sink, collected.
struct Lines {
    std::string text;
    CallbackOutput sink{[this](std::string_view message) {
        text += message;
    }};
};

TEST(DistributedLoop, RunsTheSearchOfTheWholeState) {
    const std::uint64_t k = world_rank_bits();
    struct Run {
        std::uint64_t qubits;
        std::uint64_t iterations;
        bool h2;
    };
    for (const Run& run : {Run{std::max<std::uint64_t>(k, 2), 60, true}, Run{k + 15, 4, false}}) {
        const std::uint64_t n = run.qubits;
        SCOPED_TRACE(std::to_string(n) + " qubits");
        random::Generator rng(n + 3);
        const ZarnikGraph start = layered_circuit(n, rng);
        const PauliSum hamiltonian =
            run.h2 ? PauliSum::h2_hamiltonian() : random_sum(rng, n, 16, 3);
        const LoopOptions base{run.iterations, 2, nullptr};
        constexpr std::uint64_t SEED = 2024;

        Lines distributed_lines;
        LoopOptions options = base;
        options.output = &distributed_lines.sink;
        NeuralZarnikBrain strategy(0.1, 1e-3, -10.0, null_output());
        random::reseed(SEED);
        const LoopResult got =
            run_zarnik_loop(DistributedState(n), start, hamiltonian, strategy, options);

        // The whole-state run with the stream the distributed loop shares: rank 0's first draw.
        Lines whole_lines;
        options.output = &whole_lines.sink;
        NeuralZarnikBrain reference_strategy(0.1, 1e-3, -10.0, null_output());
        random::reseed(SEED);
        random::reseed(random::next_u64());
        const LoopResult expected =
            zel::run_zarnik_loop(ZarnikState(n), start, hamiltonian, reference_strategy, options);

        EXPECT_EQ(distributed_lines.text, whole_lines.text);
        EXPECT_FALSE(whole_lines.text.empty());
        EXPECT_EQ(got.circuit, expected.circuit);
        EXPECT_EQ(bits_of(got.energy), bits_of(expected.energy));
        EXPECT_EQ(got.converged, expected.converged);
        EXPECT_TRUE(same_on_every_rank(distributed_lines.text));
    }
}

TEST(MpiErrors, CarryTheMpiErrorString) {
    EXPECT_NO_THROW(check_mpi(MPI_SUCCESS, "MPI_Barrier"));
    // A real failure: a message to a rank that does not exist, on a communicator whose errors
    // return.
    MPI_Comm comm = MPI_COMM_NULL;
    MPI_Comm_dup(MPI_COMM_WORLD, &comm);
    MPI_Comm_set_errhandler(comm, MPI_ERRORS_RETURN);
    const double value = 1.0;
    const int code = MPI_Send(&value, 1, MPI_DOUBLE, world_size() + 3, 0, comm);
    MPI_Comm_free(&comm);
    EXPECT_NE(code, MPI_SUCCESS);
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    MPI_Error_string(code, text, &length);
    try {
        check_mpi(code, "MPI_Send");
        ADD_FAILURE() << "nothing thrown";
    } catch (const MpiError& error) {
        EXPECT_EQ(std::string(error.what()), "MPI_Send failed: " + std::string(text, length));
        EXPECT_EQ(error.code(), code);
        EXPECT_EQ(error.function(), "MPI_Send");
    }
}

}  // namespace
}  // namespace zel::mpi::test
