// Excitation circuits three ways: one native operation per excitation, one PAULI_ROTATION per
// term of its generator (2 for a single, 8 for a double), and those rotations decomposed into the
// fourteen original kinds (basis changes, a CX ladder, RZ), plain and fused. Workloads: the UCCSD
// forward pass of H2O in STO-3G (14 qubits, Jordan–Wigner, every spin-preserving single and double
// from Hartree–Fock), its energy and all gradients, and 50 random doubles on 20 qubits. One thread
// unless the `threads` argument says otherwise. See docs/performance.md.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "zel/chem/excitation.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

namespace {

using zel::GateKind;
using zel::chem::Excitation;
using zel::chem::ExcitationPath;
using zel::chem::Mapping;
using zel::chem::SpinOrdering;

constexpr Mapping MAPPING = Mapping::JordanWigner;
constexpr SpinOrdering ORDERING = SpinOrdering::Interleaved;
constexpr std::uint64_t RANDOM_DOUBLES = 50;
constexpr std::uint64_t RANDOM_QUBITS = 20;

// How the benchmark applies the excitations.
enum class Path : std::int64_t { Native, PauliRotations, Decomposed, DecomposedFused };

const char* path_name(Path path) {
    switch (path) {
        case Path::Native:
            return "native";
        case Path::PauliRotations:
            return "pauli_rotations";
        case Path::Decomposed:
            return "decomposed";
        case Path::DecomposedFused:
            return "decomposed_fused";
    }
    return "";
}

class ThreadScope {
  public:
    explicit ThreadScope(std::int64_t threads) : before_(zel::parallel::thread_count()) {
        zel::parallel::set_thread_count(static_cast<std::size_t>(threads));
    }
    ~ThreadScope() {
        zel::parallel::set_thread_count(before_);
    }
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

  private:
    std::size_t before_;
};

// exp(-i theta/2 P) in the original kinds: each X or Y turned into Z (H; RX(pi/2)), the parity
// gathered on the last qubit by a CX ladder, RZ(theta) there, and everything undone.
void append_decomposed(zel::ZarnikGraph& out, const zel::Operation& rotation) {
    const std::string& letters = rotation.payload.pauli;
    const std::vector<std::uint64_t>& q = rotation.qubits;
    constexpr double HALF_PI = 1.57079632679489661923;
    const auto basis = [&](bool forward) {
        for (std::size_t j = 0; j < letters.size(); ++j) {
            if (letters[j] == 'X') {
                out.add_gate(zel::GateType::of(GateKind::H), {q[j]});
            } else if (letters[j] == 'Y') {
                out.add_gate(zel::GateType::rx(forward ? HALF_PI : -HALF_PI), {q[j]});
            }
        }
    };
    basis(true);
    for (std::size_t j = 0; j + 1 < q.size(); ++j) {
        out.add_gate(zel::GateType::of(GateKind::CX), {q[j], q.back()});
    }
    out.add_gate(zel::GateType::rz(rotation.params[0]), {q.back()});
    for (std::size_t j = q.size() - 1; j-- > 0;) {
        out.add_gate(zel::GateType::of(GateKind::CX), {q[j], q.back()});
    }
    basis(false);
}

// The excitations on n qubits by `path`, each with a parameter drawn from a fixed seed.
zel::ZarnikGraph excitation_circuit(const std::vector<Excitation>& excitations, std::uint64_t n,
                                    Path path) {
    zel::chem::TiedAnsatz ansatz{zel::ZarnikGraph(n), {}};
    for (const Excitation& e : excitations) {
        zel::chem::excitation_circuit(
            ansatz, e, MAPPING,
            path == Path::Native ? ExcitationPath::Native : ExcitationPath::PauliRotations);
    }
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> angle(-0.2, 0.2);
    std::vector<double> theta(ansatz.parameter_count());
    for (double& t : theta) {
        t = angle(rng);
    }
    ansatz.set_parameters(theta);
    if (path == Path::Native || path == Path::PauliRotations) {
        return ansatz.circuit;
    }
    zel::ZarnikGraph decomposed(n);
    for (const zel::Operation& rotation : ansatz.circuit.operations) {
        append_decomposed(decomposed, rotation);
    }
    return decomposed;
}

struct Molecule {
    zel::chem::Fcidump data;
    std::vector<Excitation> excitations;
    std::uint64_t qubits = 0;
    std::uint64_t reference = 0;
};

Molecule load_molecule(const std::string& name) {
    Molecule m{
        zel::chem::read_fcidump(std::string(ZEL_BENCH_DATA) + "/" + name + ".fcidump"), {}, 0, 0};
    const std::size_t n = m.data.integrals.num_orbitals();
    m.excitations = zel::chem::uccsd_excitations(n, m.data.sector(), ORDERING);
    m.qubits = 2 * n;
    m.reference = zel::chem::hartree_fock_index(n, m.data.sector(), ORDERING, MAPPING);
    return m;
}

const Molecule& h2o() {
    static const Molecule molecule = load_molecule("h2o");
    return molecule;
}

// The molecules of the gradient-to-forward ratio, by register size: the H6 chain (12 qubits),
// H2O (14) and N2 in its whole STO-3G space (20 qubits, 609 excitations).
const char* const RATIO_MOLECULES[] = {"h6_chain_1.0", "h2o", "n2_1.098"};

std::vector<Excitation> random_doubles(std::uint64_t n, std::uint64_t count) {
    std::mt19937_64 rng(11);
    std::vector<Excitation> out;
    while (out.size() < count) {
        std::vector<std::uint32_t> modes;
        while (modes.size() < 4) {
            const auto m = static_cast<std::uint32_t>(rng() % n);
            if (std::find(modes.begin(), modes.end(), m) == modes.end()) {
                modes.push_back(m);
            }
        }
        out.push_back({{modes[0], modes[1]}, {modes[2], modes[3]}});
    }
    return out;
}

// Runs `circuit` (fused first for DecomposedFused, outside the timed loop) on a fresh copy of
// `start` per iteration.
void forward(benchmark::State& bench, const zel::ZarnikGraph& circuit,
             const zel::ZarnikState& start, Path path) {
    const ThreadScope scope(bench.range(1));
    zel::ZarnikState state = start;
    const bool fused = path == Path::DecomposedFused;
    const zel::FusedCircuit blocks =
        fused ? zel::fuse(circuit, start.num_qubits())
              : zel::fuse(zel::ZarnikGraph(start.num_qubits()), start.num_qubits());
    for (auto _ : bench) {
        state = start;
        if (fused) {
            zel::apply_fused(state, blocks);
        } else {
            zel::apply_circuit(state, circuit);
        }
        benchmark::ClobberMemory();
    }
    bench.counters["operations"] = static_cast<double>(circuit.gate_count());
}

// Arguments: path, threads.
void bm_uccsd_h2o(benchmark::State& bench) {
    const Molecule& m = h2o();
    const auto path = static_cast<Path>(bench.range(0));
    const zel::ZarnikGraph circuit = excitation_circuit(m.excitations, m.qubits, path);
    zel::ZarnikState start(m.qubits);
    start.set_computational_basis(m.reference);
    bench.SetLabel(path_name(path));
    forward(bench, circuit, start, path);
}

// The energy and every gradient of the same UCCSD circuit (adjoint method). Arguments: path
// (native or Pauli rotations), threads, Hamiltonian (0: H2O's; 1: the one term Z0, which leaves
// the forward pass and the backward sweep).
void bm_uccsd_h2o_gradient(benchmark::State& bench) {
    const Molecule& m = h2o();
    const auto path = static_cast<Path>(bench.range(0));
    const ThreadScope scope(bench.range(1));
    const zel::ZarnikGraph circuit = excitation_circuit(m.excitations, m.qubits, path);
    const zel::PauliSum h = bench.range(2) == 0
                                ? zel::chem::qubit_hamiltonian(m.data.integrals, MAPPING, ORDERING)
                                : zel::parse_pauli_sum("Z0");
    zel::ZarnikState start(m.qubits);
    start.set_computational_basis(m.reference);
    bench.SetLabel(path_name(path));
    for (auto _ : bench) {
        benchmark::DoNotOptimize(zel::energy_and_gradient(circuit, h, start));
    }
    bench.counters["parameters"] = static_cast<double>(zel::parameter_count(circuit));
}

// The one product H|psi> the gradient needs, for the H2O Hamiltonian: how much of the gradient's
// time is the Hamiltonian's rather than the sweep's. Arguments: threads.
void bm_h2o_hamiltonian_product(benchmark::State& bench) {
    const Molecule& m = h2o();
    const ThreadScope scope(bench.range(0));
    const zel::PauliSum h = zel::chem::qubit_hamiltonian(m.data.integrals, MAPPING, ORDERING);
    zel::ZarnikState psi(m.qubits);
    psi.set_computational_basis(m.reference);
    zel::apply_circuit(psi, excitation_circuit(m.excitations, m.qubits, Path::Native));
    zel::ZarnikState out(m.qubits);
    for (auto _ : bench) {
        zel::apply_pauli_sum(h, psi, out);
        benchmark::ClobberMemory();
    }
    bench.counters["terms"] = static_cast<double>(h.terms.size());
}

// The native UCCSD forward pass (what = 0) or its energy and every gradient (what = 1) with the
// molecule's own Hamiltonian, grouped once as the solvers do, so that one run gives the ratio of
// the two at each size. Arguments: molecule (index into RATIO_MOLECULES), what.
void bm_uccsd_ratio(benchmark::State& bench) {
    const auto index = static_cast<std::size_t>(bench.range(0));
    static std::vector<std::unique_ptr<Molecule>> cache(std::size(RATIO_MOLECULES));
    if (!cache[index]) {
        cache[index] = std::make_unique<Molecule>(load_molecule(RATIO_MOLECULES[index]));
    }
    const Molecule& m = *cache[index];
    const ThreadScope scope(1);
    const zel::ZarnikGraph circuit = excitation_circuit(m.excitations, m.qubits, Path::Native);
    const zel::PreparedPauliSum h(zel::chem::qubit_hamiltonian(m.data.integrals, MAPPING, ORDERING),
                                  m.qubits);
    zel::ZarnikState start(m.qubits);
    start.set_computational_basis(m.reference);
    zel::ZarnikState state = start;
    bench.SetLabel(std::string(RATIO_MOLECULES[index]) +
                   (bench.range(1) == 0 ? " forward" : " energy and gradients"));
    for (auto _ : bench) {
        if (bench.range(1) == 0) {
            state = start;
            zel::apply_circuit(state, circuit);
            benchmark::ClobberMemory();
        } else {
            benchmark::DoNotOptimize(zel::energy_and_gradient(circuit, h, start));
        }
    }
    bench.counters["qubits"] = static_cast<double>(m.qubits);
    bench.counters["parameters"] = static_cast<double>(zel::parameter_count(circuit));
}

// Arguments: path, threads.
void bm_random_doubles(benchmark::State& bench) {
    const auto path = static_cast<Path>(bench.range(0));
    const zel::ZarnikGraph circuit =
        excitation_circuit(random_doubles(RANDOM_QUBITS, RANDOM_DOUBLES), RANDOM_QUBITS, path);
    zel::ZarnikState start(RANDOM_QUBITS);
    // An equal superposition, so that every amplitude is read and written.
    for (std::uint64_t q = 0; q < RANDOM_QUBITS; ++q) {
        start.apply_gate(zel::GateType::of(GateKind::H), std::vector<std::uint64_t>{q}, {});
    }
    bench.SetLabel(path_name(path));
    forward(bench, circuit, start, path);
}

const std::vector<std::int64_t> ALL_PATHS = {
    static_cast<std::int64_t>(Path::Native), static_cast<std::int64_t>(Path::PauliRotations),
    static_cast<std::int64_t>(Path::Decomposed), static_cast<std::int64_t>(Path::DecomposedFused)};

}  // namespace

BENCHMARK(bm_uccsd_h2o)
    ->ArgNames({"path", "threads"})
    ->ArgsProduct({ALL_PATHS, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(bm_uccsd_h2o_gradient)
    ->ArgNames({"path", "threads", "hamiltonian"})
    ->ArgsProduct({{static_cast<std::int64_t>(Path::Native),
                    static_cast<std::int64_t>(Path::PauliRotations)},
                   {1},
                   {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(bm_h2o_hamiltonian_product)
    ->ArgNames({"threads"})
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(bm_uccsd_ratio)
    ->ArgNames({"molecule", "what"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(bm_random_doubles)
    ->ArgNames({"path", "threads"})
    ->ArgsProduct({ALL_PATHS, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
