// Time per gate and bytes sent per gate of the distributed state, by gate kind and qubit
// position, and the time of the reductions; run it under mpirun with any power-of-two rank count:
//
//     mpirun -np 4 zel_mpi_bench [qubits = 22] [repetitions = 11] [exchange amplitudes = 2^15]
//
// Every rank applies each gate `repetitions` times between barriers; a repetition's time is the
// slowest rank's, and the table shows the median. Bytes are what one rank handed to MPI for one
// gate (the largest over the ranks), next to the model for a pair kind on a rank bit, the whole
// block: 16 * 2^(n-k) bytes. Positions: "low" qubit 0, "local" the highest local qubit n-k-1,
// "rank" the lowest rank bit n-k, "top" qubit n-1; two-qubit gates name the position of each
// qubit. Timings are results, never checked.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/mpi/observable.hpp"
#include "zel/mpi/state.hpp"

#include <mpi.h>

namespace {

struct Placement {
    std::string name;
    std::vector<std::uint64_t> qubits;
};

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Median over repetitions of the slowest rank's time for body(), in microseconds.
template <class Body>
double median_time(int repetitions, const Body& body) {
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
        MPI_Barrier(MPI_COMM_WORLD);
        const double start = seconds_now();
        body();
        double elapsed = seconds_now() - start;
        double slowest = 0.0;
        MPI_Allreduce(&elapsed, &slowest, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
        times.push_back(slowest * 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::uint64_t largest_over_ranks(std::uint64_t value) {
    std::uint64_t largest = 0;
    MPI_Allreduce(&value, &largest, 1, MPI_UINT64_T, MPI_MAX, MPI_COMM_WORLD);
    return largest;
}

int run(std::uint64_t n, int repetitions, std::uint64_t exchange) {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    zel::mpi::DistributedState state(n, MPI_COMM_WORLD, {exchange});
    // A state with every amplitude non-zero, so that no kernel meets only zeros.
    for (std::uint64_t q = 0; q < n; ++q) {
        const std::uint64_t target[1] = {q};
        state.apply_gate(zel::GateType::ry(0.3 + 0.01 * static_cast<double>(q)), target, {});
    }
    const std::uint64_t k = state.rank_qubits();
    const std::uint64_t l = state.local_qubits();
    const std::uint64_t block_bytes = std::uint64_t{16} << l;
    if (rank == 0) {
        std::printf(
            "# %llu qubits on %d ranks (k = %llu), %llu amplitudes (%llu bytes) per rank, "
            "%zu threads per rank, %d repetitions, exchange pieces of %llu amplitudes\n",
            static_cast<unsigned long long>(n), state.rank_count(),
            static_cast<unsigned long long>(k),
            static_cast<unsigned long long>(state.local_amplitudes().size()),
            static_cast<unsigned long long>(block_bytes), zel::parallel::thread_count(),
            repetitions, static_cast<unsigned long long>(exchange));
        std::printf("%-6s %-12s %12s %14s %14s\n", "kind", "qubits", "time_us", "bytes_sent",
                    "model_bytes");
    }
    std::vector<Placement> one = {{"low", {0}}, {"local", {l - 1}}};
    std::vector<Placement> two = {{"low,low", {0, 1}}, {"local,low", {l - 1, 0}}};
    if (k > 0) {
        one.push_back({"rank", {l}});
        one.push_back({"top", {n - 1}});
        two.push_back({"low,top", {0, n - 1}});
        two.push_back({"top,low", {n - 1, 0}});
    }
    if (k > 1) {
        two.push_back({"rank,top", {l, n - 1}});
    }
    for (const zel::GateInfo& info : zel::ORIGINAL_GATES) {
        if (info.kind == zel::GateKind::I) {
            continue;
        }
        const zel::GateType gate{info.kind, 0.25};
        for (const Placement& placement : info.arity == 1 ? one : two) {
            const zel::mpi::Traffic before = state.traffic();
            state.apply_gate(gate, placement.qubits, {});
            const std::uint64_t bytes =
                largest_over_ranks(state.traffic().bytes_sent - before.bytes_sent);
            const double time = median_time(repetitions, [&] {
                state.apply_gate(gate, placement.qubits, {});
            });
            const bool on_rank_bit = info.shape == zel::GateShape::Pair && placement.qubits[0] >= l;
            if (rank == 0) {
                std::printf("%-6s %-12s %12.1f %14llu %14s\n", std::string(info.name).c_str(),
                            placement.name.c_str(), time, static_cast<unsigned long long>(bytes),
                            on_rank_bit ? std::to_string(block_bytes).c_str() : "-");
            }
        }
    }
    // Reductions: the H2 operator (one quad pass) and 40 terms over the whole register.
    const zel::PauliSum h2 = zel::PauliSum::h2_hamiltonian();
    zel::PauliSum wide;
    for (std::uint64_t t = 0; t < 40; ++t) {
        const std::uint64_t a = (7 * t + 3) % n;
        const std::uint64_t b = (11 * t + 5) % n;
        zel::PauliTerm term{0.01 * static_cast<double>(t + 1), {{a, zel::Pauli::X}}};
        if (b != a) {
            term.paulis.push_back({b, t % 2 == 0 ? zel::Pauli::Z : zel::Pauli::Y});
        }
        wide.terms.push_back(term);
    }
    const struct {
        const char* name;
        const zel::PauliSum* sum;
    } sums[] = {{"<H2>", &h2}, {"<40-terms>", &wide}};
    for (const auto& entry : sums) {
        const zel::mpi::Traffic before = state.traffic();
        volatile double value = zel::mpi::expectation_value(*entry.sum, state);
        static_cast<void>(value);
        const std::uint64_t bytes =
            largest_over_ranks(state.traffic().bytes_sent - before.bytes_sent);
        const double time = median_time(repetitions, [&] {
            volatile double again = zel::mpi::expectation_value(*entry.sum, state);
            static_cast<void>(again);
        });
        if (rank == 0) {
            std::printf("%-10s %-8s %12.1f %14llu %14s\n", entry.name, "-", time,
                        static_cast<unsigned long long>(bytes), "-");
        }
    }
    const zel::mpi::Traffic before = state.traffic();
    volatile double entropy = state.calculate_entropy();
    static_cast<void>(entropy);
    const std::uint64_t bytes = largest_over_ranks(state.traffic().bytes_sent - before.bytes_sent);
    const double time = median_time(repetitions, [&] {
        volatile double again = state.calculate_entropy();
        static_cast<void>(again);
    });
    if (rank == 0) {
        std::printf("%-6s %-12s %12.1f %14llu %14s\n", "S", "-", time,
                    static_cast<unsigned long long>(bytes), "-");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    const std::uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 22;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 11;
    const std::uint64_t exchange =
        argc > 3 ? std::strtoull(argv[3], nullptr, 10) : zel::mpi::DEFAULT_EXCHANGE_AMPLITUDES;
    int status = 0;
    try {
        status = run(n, repetitions, exchange);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zel_mpi_bench: %s\n", error.what());
        MPI_Abort(MPI_COMM_WORLD, 1);
    }
    MPI_Finalize();
    return status;
}
