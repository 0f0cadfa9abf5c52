// Benchmarks of the core kernels over qubit counts and target positions, with one thread and with
// the whole pool. Every memory-bound benchmark reports the bytes its kernel must read and write
// (SetBytesProcessed), and the bandwidth probe at the end measures what this machine can move for
// a buffer of the same size, so each kernel reads as a fraction of the probe (bench/report.py).
//
// Argument names: n = qubit count; q = target position (0: qubit 0, 1: qubit n/2, 2: qubit n-1;
// for two-qubit gates the pair {0, 1}, {n/2 - 1, n/2} or {n-2, n-1}); rev = 1 swaps the two
// qubits of the pair; threads = 1 for one worker, 0 for the pool's default (all CPUs).

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "zel/core/circuit.hpp"
#include "zel/core/detail/kernels.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/prepared.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

namespace {

using zel::ChangedAmplitudes;
using zel::GateKind;
using zel::ZarnikState;

constexpr std::uint64_t SEED = 20261208;
constexpr std::int64_t ALL_THREADS = 0;
constexpr std::size_t BYTES_PER_AMPLITUDE = sizeof(ZarnikState::Amplitude);
const std::vector<std::int64_t> QUBIT_COUNTS = {2, 10, 16, 20, 22, 24, 26};
const std::vector<std::int64_t> POSITIONS = {0, 1, 2};
const std::vector<std::int64_t> THREADS = {1, ALL_THREADS};

// Selects the pool size for one benchmark and restores the default when it ends.
class ThreadScope {
  public:
    explicit ThreadScope(std::int64_t threads) {
        zel::parallel::set_thread_count(static_cast<std::size_t>(threads));
    }
    ~ThreadScope() {
        zel::parallel::set_thread_count(0);
    }
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;
};

// Sets the far-pair traversal for one benchmark: from qubit 24 (the default on CPUs that fold
// way tags) when `blocked`, never otherwise; the traversal in effect before comes back at the end.
class TraversalScope {
  public:
    explicit TraversalScope(bool blocked) : saved_(zel::detail::far_pair_traversal()) {
        zel::detail::FarPairTraversal traversal = saved_;
        traversal.from_qubit = blocked ? zel::detail::FarPairTraversal{}.from_qubit : 64;
        zel::detail::set_far_pair_traversal(traversal);
    }
    ~TraversalScope() {
        zel::detail::set_far_pair_traversal(saved_);
    }
    TraversalScope(const TraversalScope&) = delete;
    TraversalScope& operator=(const TraversalScope&) = delete;

  private:
    zel::detail::FarPairTraversal saved_;
};

// The gate the benchmarks apply: angle pi for the rotations, which keeps the amplitudes'
// magnitudes, so repeated runs stay finite.
zel::GateType bench_gate(GateKind kind) {
    return {kind, zel::gate_info(kind).has_angle ? 3.141592653589793 : 0.0};
}

// A state with seeded pseudo-random amplitudes whose squared norm is close to 1.
ZarnikState random_state(std::uint64_t n) {
    ZarnikState state(n);
    std::uint64_t x = SEED | 1U;
    const double scale = std::sqrt(1.5 / static_cast<double>(state.dimension()));
    const auto next = [&x, scale] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return (static_cast<double>(x >> 11) * 0x1p-52 - 1.0) * scale;
    };
    for (ZarnikState::Amplitude& a : state.amplitudes_mut()) {
        const double re = next();
        a = {re, next()};
    }
    return state;
}

std::int64_t dimension_of(const benchmark::State& bench) {
    return std::int64_t{1} << bench.range(0);
}

std::uint64_t single_target(std::uint64_t n, std::int64_t position) {
    switch (position) {
        case 0:
            return 0;
        case 1:
            return n / 2;
        default:
            return n - 1;
    }
}

std::vector<std::uint64_t> pair_targets(std::uint64_t n, std::int64_t position, bool reversed) {
    std::uint64_t low = 0;
    if (position == 1) {
        low = n / 2 - 1;
    } else if (position == 2) {
        low = n - 2;
    }
    return reversed ? std::vector<std::uint64_t>{low + 1, low}
                    : std::vector<std::uint64_t>{low, low + 1};
}

// Qubits below this share a 64-byte cache line (four amplitudes of 16 bytes).
constexpr std::uint64_t QUBITS_IN_A_LINE = 2;

// Bytes a kernel of `kind` must move between memory and cache on 2^n amplitudes: every cache
// line holding an amplitude it changes (the row's `changes`), read and written. Pair kinds and RZ
// change every amplitude; Z, S and T those with the target bit set; CX those with the control bit
// set; SWAP those whose two bits differ; CZ those with both bits set. A condition on a qubit above
// the first two halves the lines; one on qubits 0 or 1 selects amplitudes within every line.
std::int64_t gate_bytes(GateKind kind, std::span<const std::uint64_t> qubits,
                        std::int64_t dimension) {
    const std::int64_t all = 2 * dimension * static_cast<std::int64_t>(BYTES_PER_AMPLITUDE);
    const auto halved_if_high = [](std::int64_t bytes, std::uint64_t q) {
        return q >= QUBITS_IN_A_LINE ? bytes / 2 : bytes;
    };
    const zel::GateInfo& info = zel::gate_info(kind);
    if (info.shape == zel::GateShape::Checked && info.changes != ChangedAmplitudes::Excited) {
        // The other kinds from U on: counted as a pass over every amplitude.
        return all;
    }
    switch (info.changes) {
        case ChangedAmplitudes::Nothing:
            return 0;
        case ChangedAmplitudes::All:
            return all;
        // The excitations read and write the amplitudes they move only: half of them for a
        // single (two orbitals), an eighth for a double (four).
        case ChangedAmplitudes::Excited:
            return all >> (info.orbitals - 1);
        case ChangedAmplitudes::TargetSet:
        case ChangedAmplitudes::ControlSet:
            return halved_if_high(all, qubits[0]);
        case ChangedAmplitudes::QubitsDiffer:
            return std::min(qubits[0], qubits[1]) >= QUBITS_IN_A_LINE ? all / 2 : all;
        case ChangedAmplitudes::BothSet:
            return halved_if_high(halved_if_high(all, qubits[0]), qubits[1]);
    }
    return 0;
}

void gate_benchmark(benchmark::State& bench, GateKind kind) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const zel::GateInfo& info = zel::gate_info(kind);
    const ThreadScope scope(bench.range(info.arity == 2 ? 3 : 2));
    ZarnikState state = random_state(n);
    const std::vector<std::uint64_t> qubits =
        info.arity == 2 ? pair_targets(n, bench.range(1), bench.range(2) != 0)
                        : std::vector<std::uint64_t>{single_target(n, bench.range(1))};
    const zel::GateType gate = bench_gate(kind);
    for (auto _ : bench) {
        state.apply_gate(gate, qubits, {});
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * gate_bytes(kind, qubits, dimension_of(bench)));
}

// An operation of any kind, built from its table row, with its qubits spread over the register
// (the first on qubit 0, the last on the top qubit): what a call through ZarnikState::apply costs,
// from 2 qubits (the per-call cost) to sizes bound by memory.
zel::Operation sample_operation(GateKind kind, std::uint64_t n) {
    const zel::GateInfo& info = zel::gate_info(kind);
    const std::size_t k = info.variable_qubits ? std::min<std::uint64_t>(n, 2) : info.arity;
    std::vector<std::uint64_t> qubits;
    for (std::size_t j = 0; j < k; ++j) {
        qubits.push_back(k == 1 ? 0 : j * (n - 1) / (k - 1));
    }
    std::vector<double> params(info.param_count, 0.7);
    if (kind == GateKind::PAULI_ROTATION) {
        return zel::pauli_rotation(std::string("XY").substr(0, k), qubits, 0.7);
    }
    if (info.orbitals != 0) {
        // The orbitals spread over the register: the widest parity strings.
        const std::vector<std::uint64_t> from = info.orbitals == 2
                                                    ? std::vector<std::uint64_t>{0}
                                                    : std::vector<std::uint64_t>{0, n / 2};
        const std::vector<std::uint64_t> to = info.orbitals == 2
                                                  ? std::vector<std::uint64_t>{n - 1}
                                                  : std::vector<std::uint64_t>{n / 2 - 1, n - 1};
        return info.parity_qubits ? zel::fermionic_excitation(from, to, 0.7)
                                  : zel::qubit_excitation(from, to, 0.7);
    }
    if (kind == GateKind::UNITARY) {
        const std::size_t d = std::size_t{1} << k;
        std::vector<std::complex<double>> matrix(d * d);
        for (std::size_t r = 0; r < d; ++r) {
            matrix[r * d + (r + 1) % d] = std::complex<double>(0.0, 1.0);
        }
        return zel::unitary(qubits, matrix);
    }
    zel::Operation op = zel::make_operation(kind, qubits, params);
    if (info.has_angle) {
        op.params.clear();
    }
    return op;
}

// Arguments: n. One thread. With `Prepared`, the operation is prepared once
// (zel::PreparedOperation) and each call applies it without checks or forming its matrix.
template <bool Prepared>
void kind_benchmark(benchmark::State& bench, GateKind kind) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const ThreadScope scope(1);
    ZarnikState state = random_state(n);
    const zel::Operation op = sample_operation(kind, n);
    const zel::PreparedOperation prepared(op, n);
    for (auto _ : bench) {
        if constexpr (Prepared) {
            state.apply(prepared);
        } else {
            state.apply(op);
        }
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * gate_bytes(kind, op.qubits, dimension_of(bench)));
}

// A UNITARY on the lowest k qubits of n, applied again and again: the per-call cost with the
// unitarity check of its matrix. The matrix is a cyclic shift times i, exactly unitary.
// Arguments: n, k. One thread.
void unitary_benchmark(benchmark::State& bench) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const auto k = static_cast<std::uint64_t>(bench.range(1));
    const ThreadScope scope(1);
    ZarnikState state = random_state(n);
    std::vector<std::uint64_t> qubits;
    for (std::uint64_t j = 0; j < k; ++j) {
        qubits.push_back(j);
    }
    const std::size_t d = std::size_t{1} << k;
    std::vector<std::complex<double>> matrix(d * d);
    for (std::size_t r = 0; r < d; ++r) {
        matrix[r * d + (r + 1) % d] = std::complex<double>(0.0, 1.0);
    }
    const zel::Operation op = zel::unitary(qubits, matrix);
    for (auto _ : bench) {
        state.apply(op);
        benchmark::ClobberMemory();
    }
}

// A circuit of `ops` distinct UNITARY operations on 3 qubits each of n = 6, checked as a whole and
// then run (apply_circuit), again and again: how often the matrices are verified.
// Arguments: ops. One thread.
void unitary_circuit_benchmark(benchmark::State& bench) {
    const auto ops = static_cast<std::size_t>(bench.range(0));
    constexpr std::uint64_t N = 6;
    constexpr std::size_t D = 8;
    const ThreadScope scope(1);
    ZarnikState state = random_state(N);
    zel::ZarnikGraph circuit(N);
    for (std::size_t j = 0; j < ops; ++j) {
        std::vector<std::complex<double>> matrix(D * D);
        for (std::size_t r = 0; r < D; ++r) {
            matrix[r * D + (r + 1 + j) % D] = std::polar(1.0, 0.1 * static_cast<double>(j));
        }
        circuit.add(zel::unitary({j % N, (j + 1) % N, (j + 3) % N}, matrix));
    }
    for (auto _ : bench) {
        zel::apply_circuit(state, circuit);
        benchmark::ClobberMemory();
    }
}

// exp(-i theta/2 P) for a string of w letters (X, Y, Z in turn) on the top w qubits, one pass
// whatever w. Arguments: n, w. One thread.
void pauli_rotation_benchmark(benchmark::State& bench) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const auto w = static_cast<std::uint64_t>(bench.range(1));
    const ThreadScope scope(1);
    ZarnikState state = random_state(n);
    std::string letters;
    std::vector<std::uint64_t> qubits;
    for (std::uint64_t j = 0; j < w; ++j) {
        letters += "XYZ"[j % 3];
        qubits.push_back(n - w + j);
    }
    const zel::Operation op = zel::pauli_rotation(letters, qubits, 0.7);
    for (auto _ : bench) {
        state.apply(op);
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * 2 * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

// A one-qubit kind on the top qubit with the far-pair traversal on (blocked:1, from qubit 24, the
// default on CPUs that fold way tags) or off (blocked:0, two straight streams over both halves), in
// the same run so the two read as a ratio. Arguments: n, blocked, threads.
void top_qubit_benchmark(benchmark::State& bench, GateKind kind) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const ThreadScope scope(bench.range(2));
    const TraversalScope traversal(bench.range(1) != 0);
    ZarnikState state = random_state(n);
    const std::vector<std::uint64_t> qubits{n - 1};
    const zel::GateType gate = bench_gate(kind);
    for (auto _ : bench) {
        state.apply_gate(gate, qubits, {});
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * gate_bytes(kind, qubits, dimension_of(bench)));
}

// A one-qubit kind on every qubit t of the register, so that no position escapes the comparison
// with the probe. Arguments: n, t, threads.
void every_qubit_benchmark(benchmark::State& bench, GateKind kind) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const ThreadScope scope(bench.range(2));
    ZarnikState state = random_state(n);
    const std::vector<std::uint64_t> qubits{static_cast<std::uint64_t>(bench.range(1))};
    const zel::GateType gate = bench_gate(kind);
    for (auto _ : bench) {
        state.apply_gate(gate, qubits, {});
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * gate_bytes(kind, qubits, dimension_of(bench)));
}

// The sum of amplitudes [begin, end) as 2 (end - begin) doubles: the read-only probe's loop.
// Several accumulators so that the sum is limited by memory, not by addition latency.
double read_pass(const double* values, std::size_t begin, std::size_t end) {
    constexpr std::size_t LANES = 8;
    double lanes[LANES] = {};
    for (std::size_t k = 2 * begin; k < 2 * end; k += LANES) {
        for (std::size_t l = 0; l < LANES; ++l) {
            lanes[l] += values[k + l];
        }
    }
    double total = 0.0;
    for (const double lane : lanes) {
        total += lane;
    }
    return total;
}

// Times `work` in every iteration, right after a pass of `probe` over the same state, and reports
// the median over the iterations of work's time over the probe's as the counter `passes`.
template <class Probe, class Work>
void time_against_probe(benchmark::State& bench, const Probe& probe, const Work& work) {
    std::vector<double> ratios;
    for (auto _ : bench) {
        const auto start = std::chrono::steady_clock::now();
        probe();
        const auto middle = std::chrono::steady_clock::now();
        work();
        const auto stop = std::chrono::steady_clock::now();
        const std::chrono::duration<double> probe_time = middle - start;
        const std::chrono::duration<double> work_time = stop - middle;
        bench.SetIterationTime(work_time.count());
        ratios.push_back(work_time / probe_time);
    }
    std::sort(ratios.begin(), ratios.end());
    bench.counters["passes"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}

// `kind` on `qubits` of `state`, each iteration timed against an in-place pass over the state
// just before it (time_against_probe).
void time_gate_against_probe(benchmark::State& bench, ZarnikState& state, GateKind kind,
                             const std::vector<std::uint64_t>& qubits) {
    double* values = reinterpret_cast<double*>(state.amplitudes_mut().data());
    const zel::GateType gate = bench_gate(kind);
    time_against_probe(
        bench,
        [&] {
            for (std::size_t k = 0; k < 2 * state.dimension(); ++k) {
                values[k] *= -1.0;
            }
            benchmark::ClobberMemory();
        },
        [&] {
            state.apply_gate(gate, qubits, {});
            benchmark::ClobberMemory();
        });
}

// A one-qubit kind on qubit t, each iteration timed together with an in-place probe pass over
// the same state just before it; the counter `passes` is the median over the iterations of the
// gate's time over the probe's. Memory differs from one allocation to the next on a shared host
// (the probe alone took 43-70 ms over 2^26 amplitudes, from one state to the next), so a ratio
// between two benchmarks, each with its own state, carries that spread, and one taken within an
// iteration does not. Arguments: n, t. One thread.
void paired_benchmark(benchmark::State& bench, GateKind kind) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const ThreadScope scope(1);
    ZarnikState state = random_state(n);
    const std::vector<std::uint64_t> qubits{static_cast<std::uint64_t>(bench.range(1))};
    time_gate_against_probe(bench, state, kind, qubits);
}

// A kind on the top qubits of the register with the far-pair traversal from qubit 24 (blocked:1)
// or never (blocked:0), timed as in paired/: the default is the first on CPUs that fold way tags
// and the second elsewhere, and this shows what the other would cost. Two-qubit kinds act on t
// and t + 1. Arguments: n, t, blocked. One thread.
void far_pairs_benchmark(benchmark::State& bench, GateKind kind) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const auto t = static_cast<std::uint64_t>(bench.range(1));
    const ThreadScope scope(1);
    const TraversalScope traversal(bench.range(2) != 0);
    ZarnikState state = random_state(n);
    const std::vector<std::uint64_t> qubits = zel::gate_info(kind).arity == 2
                                                  ? std::vector<std::uint64_t>{t, t + 1}
                                                  : std::vector<std::uint64_t>{t};
    time_gate_against_probe(bench, state, kind, qubits);
}

// The reads of a one-qubit gate on qubit t and nothing else: each pair's two amplitudes multiplied
// and summed, no stores, in groups of eight pairs as the gate kernels take them. LOOKAHEAD 1 and
// 2 prefetch the next window of 2^max(10, t + 1) amplitudes in address order, as the kernels do
// on qubits 5-11, into the first-level or the second-level cache; 0 leaves the lines to the
// hardware prefetchers. Shows what the access pattern itself allows, arithmetic and write-back
// aside.
template <int LOOKAHEAD>
double pair_reads(const double* values, std::uint64_t dimension, unsigned t) {
    constexpr std::uint64_t GROUP = 8;
    constexpr std::uint64_t AMPLITUDES_PER_LINE = 4;
    const std::uint64_t m = std::uint64_t{1} << t;
    const std::uint64_t low = m - 1;
    const unsigned window_bits = std::max(10U, t + 1);
    const std::uint64_t pairs_per_window = std::uint64_t{1} << (window_bits - 1);
    const auto* bytes = reinterpret_cast<const char*>(values);
    double lanes[2 * AMPLITUDES_PER_LINE] = {};
    for (std::uint64_t c = 0; c < dimension / 2; c += GROUP) {
        if constexpr (LOOKAHEAD != 0) {
            const std::uint64_t ahead =
                (((c >> (window_bits - 1)) + 1) << window_bits) + 2 * (c & (pairs_per_window - 1));
            if (ahead + 2 * GROUP <= dimension) {
                for (std::uint64_t k = 0; k < 2 * GROUP; k += AMPLITUDES_PER_LINE) {
                    __builtin_prefetch(bytes + (ahead + k) * BYTES_PER_AMPLITUDE, 0,
                                       LOOKAHEAD == 1 ? 3 : 2);
                }
            }
        }
        const double* lower = values + 2 * (((c & ~low) << 1) | (c & low));
        const double* upper = lower + 2 * m;
        for (std::uint64_t k = 0; k < 2 * GROUP; k += 2 * AMPLITUDES_PER_LINE) {
            for (std::uint64_t l = 0; l < 2 * AMPLITUDES_PER_LINE; ++l) {
                lanes[l] += lower[k + l] * upper[k + l];
            }
        }
    }
    double total = 0.0;
    for (const double lane : lanes) {
        total += lane;
    }
    return total;
}

// pair_reads on qubit t, each iteration timed together with a read-only probe pass over the same
// state just before it; `passes` as in paired/. Arguments: n, t (3 or more, so that a group of
// eight pairs lies in one run), lookahead. One thread.
void paired_read_benchmark(benchmark::State& bench) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const auto t = static_cast<unsigned>(bench.range(1));
    const ThreadScope scope(1);
    const ZarnikState state = random_state(n);
    const double* values = reinterpret_cast<const double*>(state.amplitudes().data());
    const std::uint64_t dimension = state.dimension();
    time_against_probe(
        bench,
        [&] {
            benchmark::DoNotOptimize(read_pass(values, 0, dimension));
        },
        [&] {
            switch (bench.range(2)) {
                case 0:
                    benchmark::DoNotOptimize(pair_reads<0>(values, dimension, t));
                    break;
                case 1:
                    benchmark::DoNotOptimize(pair_reads<1>(values, dimension, t));
                    break;
                default:
                    benchmark::DoNotOptimize(pair_reads<2>(values, dimension, t));
                    break;
            }
        });
}

// GHZ preparation from |0...0>: H on qubit 0, then CX from qubit q to q + 1 up the register;
// many short kernels in a row, where a pool that waits for an unscheduled worker shows first.
void bm_ghz(benchmark::State& bench) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const ThreadScope scope(bench.range(1));
    zel::ZarnikGraph circuit(n);
    circuit.add_gate(zel::GateType::of(GateKind::H), {0});
    for (std::uint64_t q = 0; q + 1 < n; ++q) {
        circuit.add_gate(zel::GateType::of(GateKind::CX), {q, q + 1});
    }
    ZarnikState state(n);
    // One untimed preparation first: the first pass over a fresh state's pages pays for the
    // system's page faults (on this kind of VM up to half a second for 256 MiB), and at n = 24 a
    // single timed iteration would otherwise measure mostly that.
    state.set_computational_basis(0);
    zel::apply_circuit(state, circuit);
    for (auto _ : bench) {
        state.set_computational_basis(0);
        zel::apply_circuit(state, circuit);
        benchmark::ClobberMemory();
    }
}

// Seeded random Pauli sum: `count` terms of 1 to 4 factors on distinct qubits of the register.
zel::PauliSum random_sum(std::uint64_t n, std::size_t count) {
    std::mt19937_64 rng(SEED);
    zel::PauliSum sum;
    for (std::size_t t = 0; t < count; ++t) {
        zel::PauliTerm term;
        term.coefficient = std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
        const std::uint64_t factors =
            std::min<std::uint64_t>(n, std::uniform_int_distribution<std::uint64_t>(1, 4)(rng));
        std::set<std::uint64_t> used;
        while (used.size() < factors) {
            used.insert(std::uniform_int_distribution<std::uint64_t>(0, n - 1)(rng));
        }
        for (const std::uint64_t q : used) {
            const auto kind =
                static_cast<zel::Pauli>(std::uniform_int_distribution<int>(1, 3)(rng));
            term.paulis.push_back({q, kind});
        }
        sum.terms.push_back(std::move(term));
    }
    return sum;
}

// Passes over the state the evaluation needs: one per distinct X/Y flip mask, plus one for all
// diagonal terms together.
std::int64_t passes_of(const zel::PauliSum& sum) {
    std::set<std::uint64_t> flips;
    for (const zel::PauliTerm& term : sum.terms) {
        std::uint64_t flip = 0;
        for (const zel::PauliFactor& factor : term.paulis) {
            if (factor.kind == zel::Pauli::X || factor.kind == zel::Pauli::Y) {
                flip ^= std::uint64_t{1} << factor.qubit;
            }
        }
        flips.insert(flip);
    }
    return static_cast<std::int64_t>(flips.size());
}

void expectation_benchmark(benchmark::State& bench, const zel::PauliSum& sum, std::int64_t passes) {
    const ThreadScope scope(bench.range(1));
    const ZarnikState state = random_state(static_cast<std::uint64_t>(bench.range(0)));
    for (auto _ : bench) {
        benchmark::DoNotOptimize(sum.expectation_value(state));
    }
    bench.SetBytesProcessed(bench.iterations() * passes * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
    bench.counters["passes"] = static_cast<double>(passes);
}

void bm_expectation_h2(benchmark::State& bench) {
    const zel::PauliSum sum = zel::PauliSum::h2_hamiltonian();
    expectation_benchmark(bench, sum, 1);
}

void bm_expectation_random(benchmark::State& bench) {
    const zel::PauliSum sum = random_sum(static_cast<std::uint64_t>(bench.range(0)), 40);
    expectation_benchmark(bench, sum, passes_of(sum));
}

void bm_entropy(benchmark::State& bench) {
    const ThreadScope scope(bench.range(1));
    const ZarnikState state = random_state(static_cast<std::uint64_t>(bench.range(0)));
    for (auto _ : bench) {
        benchmark::DoNotOptimize(state.calculate_entropy());
    }
    bench.SetBytesProcessed(bench.iterations() * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

// A fresh copy per iteration, as every evaluation makes: allocation, first touch and the copy.
void bm_state_copy(benchmark::State& bench) {
    const ThreadScope scope(bench.range(1));
    const ZarnikState state = random_state(static_cast<std::uint64_t>(bench.range(0)));
    for (auto _ : bench) {
        ZarnikState copy = state;
        benchmark::DoNotOptimize(copy.amplitudes().data());
    }
    bench.SetBytesProcessed(bench.iterations() * 2 * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

void bm_set_basis(benchmark::State& bench) {
    const ThreadScope scope(bench.range(1));
    ZarnikState state(static_cast<std::uint64_t>(bench.range(0)));
    for (auto _ : bench) {
        state.set_computational_basis(1);
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

// Seeded circuit of `count` gates of every kind on random qubits with random angles.
zel::ZarnikGraph random_circuit(std::uint64_t n, std::size_t count) {
    std::mt19937_64 rng(SEED);
    zel::ZarnikGraph circuit(n);
    for (std::size_t g = 0; g < count; ++g) {
        const auto kind = static_cast<GateKind>(
            std::uniform_int_distribution<std::size_t>(1, zel::ORIGINAL_KIND_COUNT - 1)(rng));
        const zel::GateInfo& info = zel::gate_info(kind);
        const std::uint64_t q0 = std::uniform_int_distribution<std::uint64_t>(0, n - 1)(rng);
        std::vector<std::uint64_t> qubits{q0};
        if (info.arity == 2) {
            qubits.push_back((q0 + std::uniform_int_distribution<std::uint64_t>(1, n - 1)(rng)) %
                             n);
        }
        std::vector<double> params;
        double angle = 0.0;
        if (info.has_angle) {
            angle = std::uniform_real_distribution<double>(-3.0, 3.0)(rng);
            params.push_back(angle);
        }
        circuit.add_gate_with_params({kind, angle}, std::move(qubits), std::move(params));
    }
    return circuit;
}

void telemetry_benchmark(benchmark::State& bench, std::size_t gates) {
    const ThreadScope scope(bench.range(1));
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    ZarnikState reference(n);
    reference.set_computational_basis(1);
    const zel::ZarnikGraph circuit = random_circuit(n, gates);
    const zel::PauliSum hamiltonian = zel::PauliSum::h2_hamiltonian();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(zel::evaluate_circuit_telemetry(reference, circuit, hamiltonian));
    }
}

void bm_telemetry_20_gates(benchmark::State& bench) {
    telemetry_benchmark(bench, 20);
}

void bm_telemetry_empty(benchmark::State& bench) {
    telemetry_benchmark(bench, 0);
}

// A random circuit of `gates` operations with kinds uniform over H, RX, RZ and CX and qubits
// uniform over the register (a CX on two distinct qubits), seeded.
zel::ZarnikGraph random_hrc_circuit(std::uint64_t n, std::size_t gates) {
    std::mt19937_64 rng(SEED + n * 1000 + gates);
    std::uniform_real_distribution<double> angle(-3.14, 3.14);
    zel::ZarnikGraph circuit(n);
    for (std::size_t g = 0; g < gates; ++g) {
        const std::uint64_t a = rng() % n;
        switch (rng() % 4) {
            case 0:
                circuit.add_gate(zel::GateType::of(GateKind::H), {a});
                break;
            case 1:
                circuit.add_gate(zel::GateType::rx(angle(rng)), {a});
                break;
            case 2:
                circuit.add_gate(zel::GateType::rz(angle(rng)), {a});
                break;
            default: {
                std::uint64_t b = rng() % n;
                while (b == a) {
                    b = rng() % n;
                }
                circuit.add_gate(zel::GateType::of(GateKind::CX), {a, b});
                break;
            }
        }
    }
    return circuit;
}

// A whole circuit applied to a state, gate by gate (k = 0) or fused into blocks of at most k
// qubits (fusing included in the time). Arguments: n, gates, k, threads.
void bm_circuit(benchmark::State& bench) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const auto gates = static_cast<std::size_t>(bench.range(1));
    const auto k = static_cast<unsigned>(bench.range(2));
    const ThreadScope scope(bench.range(3));
    const zel::ZarnikGraph circuit = random_hrc_circuit(n, gates);
    ZarnikState state = random_state(n);
    std::size_t steps = gates;
    for (auto _ : bench) {
        if (k == 0) {
            zel::apply_circuit(state, circuit);
        } else {
            const zel::FusedCircuit fused = zel::fuse(circuit, n, k);
            steps = fused.steps.size();
            zel::apply_fused(state, fused);
        }
        benchmark::ClobberMemory();
    }
    bench.counters["passes"] = static_cast<double>(steps);
}

// A two-qubit kind on qubit `q` and a fixed partner, in the order the arguments give (rev:1
// puts the partner first: CX's control). lower/ sweeps the lower qubit against qubit n - 4,
// upper/ the upper qubit against qubit 0. Arguments: n, q, rev.
template <bool UPPER>
void two_qubit_sweep_benchmark(benchmark::State& bench, GateKind kind) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const ThreadScope scope(1);
    ZarnikState state = random_state(n);
    const auto q = static_cast<std::uint64_t>(bench.range(1));
    const std::uint64_t partner = UPPER ? 0 : n - 4;
    const std::vector<std::uint64_t> qubits = bench.range(2) != 0
                                                  ? std::vector<std::uint64_t>{partner, q}
                                                  : std::vector<std::uint64_t>{q, partner};
    for (auto _ : bench) {
        state.apply_gate(zel::GateType::of(kind), qubits, {});
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * gate_bytes(kind, qubits, dimension_of(bench)));
}

// Bandwidth probe: the three access patterns of the kernels, on buffers of the state's size,
// split over the pool like the kernels (for_each) or summed in fixed chunks like the reductions.
void bm_probe_copy(benchmark::State& bench) {
    const ThreadScope scope(bench.range(1));
    const ZarnikState source = random_state(static_cast<std::uint64_t>(bench.range(0)));
    ZarnikState target = source;
    const ZarnikState::Amplitude* from = source.amplitudes().data();
    ZarnikState::Amplitude* to = target.amplitudes_mut().data();
    for (auto _ : bench) {
        zel::parallel::for_each(source.dimension(), [=](std::size_t begin, std::size_t end) {
            std::memcpy(static_cast<void*>(to + begin), from + begin,
                        (end - begin) * BYTES_PER_AMPLITUDE);
        });
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * 2 * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

void bm_probe_scale(benchmark::State& bench) {
    const ThreadScope scope(bench.range(1));
    ZarnikState state = random_state(static_cast<std::uint64_t>(bench.range(0)));
    double* values = reinterpret_cast<double*>(state.amplitudes_mut().data());
    // -1 keeps the values bounded however many times the pass runs.
    for (auto _ : bench) {
        zel::parallel::for_each(2 * state.dimension(), [=](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) {
                values[k] *= -1.0;
            }
        });
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * 2 * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

void bm_probe_read(benchmark::State& bench) {
    const ThreadScope scope(bench.range(1));
    const ZarnikState state = random_state(static_cast<std::uint64_t>(bench.range(0)));
    const double* values = reinterpret_cast<const double*>(state.amplitudes().data());
    for (auto _ : bench) {
        benchmark::DoNotOptimize(
            zel::parallel::sum(state.dimension(), [=](std::size_t begin, std::size_t end) {
                return read_pass(values, begin, end);
            }));
    }
    bench.SetBytesProcessed(bench.iterations() * dimension_of(bench) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

// The access pattern of a one-qubit gate on the top qubit without the gate: amplitude k of the
// lower half and its partner in the upper half, both read and rewritten in one straight loop
// (sum and difference, scaled by 1/2 so the values stay bounded). shift:1 moves every partner
// 4 KiB further, which changes nothing in the memory traffic but the distance between the two
// lines the loop works on at once; the comparison isolates what that distance costs. One thread.
void bm_probe_pairs(benchmark::State& bench) {
    const auto n = static_cast<std::uint64_t>(bench.range(0));
    const std::uint64_t shift = bench.range(1) != 0 ? 4096 / BYTES_PER_AMPLITUDE : 0;
    ZarnikState state = random_state(n);
    double* values = reinterpret_cast<double*>(state.amplitudes_mut().data());
    const std::uint64_t half = state.dimension() / 2;
    const std::uint64_t pairs = half - shift;
    double* lower = values;
    double* upper = values + 2 * (half + shift);
    for (auto _ : bench) {
        for (std::uint64_t k = 0; k < 2 * pairs; ++k) {
            const double x = lower[k];
            const double y = upper[k];
            lower[k] = 0.5 * (x + y);
            upper[k] = 0.5 * (x - y);
        }
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(bench.iterations() * static_cast<std::int64_t>(4 * pairs) *
                            static_cast<std::int64_t>(BYTES_PER_AMPLITUDE));
}

void sized(benchmark::internal::Benchmark* bench) {
    bench->ArgNames({"n", "threads"})->ArgsProduct({QUBIT_COUNTS, THREADS});
    bench->Unit(benchmark::kMicrosecond)->UseRealTime();
}

void register_all() {
    for (const zel::GateInfo& info : zel::ORIGINAL_GATES) {
        auto* bench = benchmark::RegisterBenchmark(("gate/" + std::string(info.name)).c_str(),
                                                   gate_benchmark, info.kind);
        if (info.arity == 2) {
            bench->ArgNames({"n", "q", "rev", "threads"})
                ->ArgsProduct({QUBIT_COUNTS, POSITIONS, {0, 1}, THREADS});
        } else {
            bench->ArgNames({"n", "q", "threads"})->ArgsProduct({QUBIT_COUNTS, POSITIONS, THREADS});
        }
        bench->Unit(benchmark::kMicrosecond)->UseRealTime();
    }
    for (const zel::GateInfo& info : zel::ORIGINAL_GATES) {
        if (info.arity != 1 || info.kind == GateKind::I) {
            continue;
        }
        benchmark::RegisterBenchmark(("top/" + std::string(info.name)).c_str(), top_qubit_benchmark,
                                     info.kind)
            ->ArgNames({"n", "blocked", "threads"})
            ->ArgsProduct({{12, 22, 24, 26}, {0, 1}, THREADS})
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
    for (const zel::GateInfo& info : zel::ORIGINAL_GATES) {
        if (info.arity != 1 || info.kind == GateKind::I) {
            continue;
        }
        auto* bench = benchmark::RegisterBenchmark(("qubit/" + std::string(info.name)).c_str(),
                                                   every_qubit_benchmark, info.kind);
        bench->ArgNames({"n", "t", "threads"});
        for (const std::int64_t n : {24, 26}) {
            for (std::int64_t t = 0; t < n; ++t) {
                bench->Args({n, t, 1});
            }
        }
        bench->Unit(benchmark::kMicrosecond)->UseRealTime();
        auto* paired = benchmark::RegisterBenchmark(("paired/" + std::string(info.name)).c_str(),
                                                    paired_benchmark, info.kind);
        paired->ArgNames({"n", "t"});
        for (const std::int64_t n : {12, 24, 25, 26}) {
            for (std::int64_t t = 0; t < n; ++t) {
                paired->Args({n, t});
            }
        }
        paired->Unit(benchmark::kMicrosecond)->UseManualTime();
    }
    for (const GateKind kind : {GateKind::H, GateKind::X, GateKind::Y, GateKind::SX, GateKind::RX,
                                GateKind::RY, GateKind::CX, GateKind::SWAP}) {
        const bool two = zel::gate_info(kind).arity == 2;
        auto* far = benchmark::RegisterBenchmark(
            ("far/" + std::string(zel::gate_info(kind).name)).c_str(), far_pairs_benchmark, kind);
        far->ArgNames({"n", "t", "blocked"});
        far->ArgsProduct({{25}, {two ? 23 : 24}, {0, 1}});
        far->ArgsProduct({{26}, {two ? 23 : 24, two ? 24 : 25}, {0, 1}});
        far->Unit(benchmark::kMicrosecond)->UseManualTime();
    }
    auto* reads = benchmark::RegisterBenchmark("paired_read", paired_read_benchmark);
    reads->ArgNames({"n", "t", "lookahead"});
    for (const std::int64_t n : {12, 24}) {
        reads->ArgsProduct({{n}, benchmark::CreateDenseRange(3, n - 1, 1), {0, 1, 2}});
    }
    reads->Unit(benchmark::kMicrosecond)->UseManualTime();
    for (const GateKind kind : {GateKind::CX, GateKind::CZ, GateKind::SWAP}) {
        const std::string name(zel::gate_info(kind).name);
        benchmark::RegisterBenchmark(("lower/" + name).c_str(), two_qubit_sweep_benchmark<false>,
                                     kind)
            ->ArgNames({"n", "low", "rev"})
            ->ArgsProduct({{24}, benchmark::CreateDenseRange(0, 11, 1), {0, 1}})
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("upper/" + name).c_str(), two_qubit_sweep_benchmark<true>,
                                     kind)
            ->ArgNames({"n", "high", "rev"})
            ->ArgsProduct({{24}, benchmark::CreateDenseRange(2, 13, 1), {0, 1}})
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
    for (const zel::GateInfo& info : zel::GATE_TABLE) {
        if (info.kind == GateKind::I) {
            continue;
        }
        const std::vector<std::int64_t> sizes =
            info.orbitals > 2 ? std::vector<std::int64_t>{4, 10, 20, 24}
            : info.arity > 2  ? std::vector<std::int64_t>{3, 4, 10, 20, 24}
                              : std::vector<std::int64_t>{2, 4, 10, 20, 24};
        benchmark::RegisterBenchmark(("kind/" + std::string(info.name)).c_str(),
                                     kind_benchmark<false>, info.kind)
            ->ArgNames({"n"})
            ->ArgsProduct({sizes})
            ->Unit(benchmark::kNanosecond)
            ->UseRealTime();
        // Prepared once: the per-call cost where it matters, on small registers.
        benchmark::RegisterBenchmark(("kind_prepared/" + std::string(info.name)).c_str(),
                                     kind_benchmark<true>, info.kind)
            ->ArgNames({"n"})
            ->ArgsProduct({{sizes.begin(), std::find(sizes.begin(), sizes.end(), 20)}})
            ->Unit(benchmark::kNanosecond)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("unitary", unitary_benchmark)
        ->ArgNames({"n", "k"})
        ->ArgsProduct({{6}, {1, 2, 3, 4, 5, 6}})
        ->Unit(benchmark::kNanosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("unitary_circuit", unitary_circuit_benchmark)
        ->ArgNames({"ops"})
        ->Arg(4)
        ->Arg(16)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("pauli_rotation", pauli_rotation_benchmark)
        ->ArgNames({"n", "w"})
        ->ArgsProduct({{20, 24}, {1, 2, 4, 8, 16}})
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("ghz", bm_ghz)
        ->ArgNames({"n", "threads"})
        ->ArgsProduct({{12, 16, 20, 22, 24}, THREADS})
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    sized(benchmark::RegisterBenchmark("expectation/h2", bm_expectation_h2));
    sized(benchmark::RegisterBenchmark("expectation/random40", bm_expectation_random));
    sized(benchmark::RegisterBenchmark("entropy", bm_entropy));
    sized(benchmark::RegisterBenchmark("state/copy", bm_state_copy));
    sized(benchmark::RegisterBenchmark("state/set_basis", bm_set_basis));
    for (auto* bench : {benchmark::RegisterBenchmark("telemetry/20_gates", bm_telemetry_20_gates),
                        benchmark::RegisterBenchmark("telemetry/empty", bm_telemetry_empty)}) {
        bench->ArgNames({"n", "threads"})
            ->ArgsProduct({{2, 12, 20}, THREADS})
            ->Unit(benchmark::kNanosecond)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("circuit", bm_circuit)
        ->ArgNames({"n", "gates", "k", "threads"})
        ->ArgsProduct({{16, 20, 22, 24, 26}, {50, 200, 800}, {0, 2, 3, 4, 5, 6}, THREADS})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    sized(benchmark::RegisterBenchmark("probe/copy", bm_probe_copy));
    sized(benchmark::RegisterBenchmark("probe/scale", bm_probe_scale));
    sized(benchmark::RegisterBenchmark("probe/read", bm_probe_read));
    benchmark::RegisterBenchmark("probe/pairs", bm_probe_pairs)
        ->ArgNames({"n", "shift"})
        ->ArgsProduct({{24, 26}, {0, 1}})
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
