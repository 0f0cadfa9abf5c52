// Google Benchmark suite of zel-chem: the qubit Hamiltonian built from integrals against the
// number of spin orbitals (random integrals with the symmetry of real orbitals, up to 40 spin
// orbitals), and the expectation value of molecular Hamiltonians (psi4's files under
// tests/chem/data) as a multiple of a read-only pass over the same state, the probe; ADAPT-VQE
// runs and the gradients of an operator pool. See docs/performance.md.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/vqe.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"

namespace {

using namespace zel::chem;

Integrals random_integrals(std::size_t n) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Integrals out(n);
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q <= p; ++q) {
            out.set_one_body(p, q, uniform(rng));
            for (std::size_t r = 0; r < n; ++r) {
                for (std::size_t s = 0; s <= r; ++s) {
                    out.set_two_body(p, q, r, s, 0.5 * uniform(rng));
                }
            }
        }
    }
    return out;
}

// Argument: spin orbitals (qubits); the second: the mapping. Counter `terms`: Pauli strings of
// the result; `table_bytes`: an estimate of the merge table at its end (its peak), 48 bytes a
// node plus 8 a bucket.
void BM_QubitHamiltonian(benchmark::State& bench) {
    const auto modes = static_cast<std::size_t>(bench.range(0));
    const auto mapping = static_cast<Mapping>(bench.range(1));
    const Integrals integrals = random_integrals(modes / 2);
    std::size_t terms = 0;
    for (auto _ : bench) {
        const zel::PauliSum sum = qubit_hamiltonian(integrals, mapping, SpinOrdering::Interleaved);
        terms = sum.terms.size();
        benchmark::DoNotOptimize(sum.terms.data());
    }
    bench.counters["terms"] = static_cast<double>(terms);
    bench.counters["table_bytes"] = static_cast<double>(terms) * 56.0;
    bench.SetLabel(std::string(mapping_name(mapping)));
}
BENCHMARK(BM_QubitHamiltonian)
    ->ArgsProduct({{8, 16, 24, 32, 40}, {0}})
    ->ArgsProduct({{40}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

double read_pass(const zel::ZarnikState& state) {
    const auto* values = reinterpret_cast<const double*>(state.amplitudes().data());
    double lanes[8] = {};
    for (std::size_t k = 0; k < 2 * state.dimension(); k += 8) {
        for (std::size_t l = 0; l < 8; ++l) {
            lanes[l] += values[k + l];
        }
    }
    double total = 0.0;
    for (double lane : lanes) {
        total += lane;
    }
    return total;
}

// The Jordan–Wigner Hamiltonian of a psi4 molecule on a random state. Counters: `terms`,
// `flip_masks` (passes over the state), and `passes`: the median time of one evaluation over
// the time of one read-only pass over the state, measured just before it.
void BM_MolecularExpectation(benchmark::State& bench, const std::string& molecule) {
    const Fcidump data =
        read_fcidump(std::string(ZEL_CHEM_BENCH_DATA) + "/" + molecule + ".fcidump");
    const std::size_t qubits = 2 * data.integrals.num_orbitals();
    const zel::PauliSum h =
        qubit_hamiltonian(data.integrals, Mapping::JordanWigner, SpinOrdering::Interleaved);
    zel::ZarnikState state(qubits);
    std::mt19937 rng(5);
    std::normal_distribution<double> normal;
    for (auto& a : state.amplitudes_mut()) {
        a = {normal(rng), normal(rng)};
    }
    std::vector<std::uint64_t> masks;
    for (const zel::PauliTerm& term : h.terms) {
        std::uint64_t x = 0;
        for (const zel::PauliFactor& f : term.paulis) {
            if (f.kind == zel::Pauli::X || f.kind == zel::Pauli::Y) {
                x |= std::uint64_t{1} << f.qubit;
            }
        }
        masks.push_back(x);
    }
    std::sort(masks.begin(), masks.end());
    const auto flips = std::unique(masks.begin(), masks.end()) - masks.begin();
    std::vector<double> ratios;
    for (auto _ : bench) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(read_pass(state));
        const auto middle = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(h.expectation_value(state));
        const auto stop = std::chrono::steady_clock::now();
        const std::chrono::duration<double> probe = middle - start;
        const std::chrono::duration<double> work = stop - middle;
        bench.SetIterationTime(work.count());
        ratios.push_back(work / probe);
    }
    std::sort(ratios.begin(), ratios.end());
    bench.counters["qubits"] = static_cast<double>(qubits);
    bench.counters["terms"] = static_cast<double>(h.terms.size());
    bench.counters["flip_masks"] = static_cast<double>(flips);
    bench.counters["passes"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}
BENCHMARK_CAPTURE(BM_MolecularExpectation, lih_12, std::string("lih_1.595"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MolecularExpectation, h2o_14, std::string("h2o"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MolecularExpectation, n2_20, std::string("n2_1.098"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Exact energies from integrals (Davidson over alpha and beta strings). Counter `determinants`.
void BM_ExactGroundState(benchmark::State& bench, const std::string& molecule) {
    const Fcidump data =
        read_fcidump(std::string(ZEL_CHEM_BENCH_DATA) + "/" + molecule + ".fcidump");
    std::size_t dim = 0;
    for (auto _ : bench) {
        const SectorGroundState ground = exact_ground_state(data.integrals, data.sector());
        dim = ground.basis.size();
        benchmark::DoNotOptimize(ground.energy);
    }
    bench.counters["determinants"] = static_cast<double>(dim);
}
BENCHMARK_CAPTURE(BM_ExactGroundState, h2o, std::string("h2o"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExactGroundState, n2, std::string("n2_1.098"))->Unit(benchmark::kMillisecond);

// ADAPT-VQE (fermionic pool, defaults) to its gradient-norm stop. Time per iteration is the
// whole run over the iterations; counters `qubits`, `pool` (operators), `iterations`.
void BM_AdaptVqe(benchmark::State& bench, const std::string& molecule, std::uint64_t electrons,
                 std::size_t orbitals) {
    Fcidump data = read_fcidump(std::string(ZEL_CHEM_BENCH_DATA) + "/" + molecule + ".fcidump");
    if (orbitals != 0) {
        data = active_space(data, electrons, orbitals);
    }
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    std::size_t iterations = 0;
    for (auto _ : bench) {
        const AdaptResult result = adapt_vqe(problem);
        iterations = result.iterations.size();
        benchmark::DoNotOptimize(result.energy);
    }
    bench.counters["qubits"] = static_cast<double>(problem.num_qubits);
    bench.counters["pool"] = static_cast<double>(make_pool(problem, AdaptPool::Fermionic).size());
    bench.counters["iterations"] = static_cast<double>(iterations);
}
BENCHMARK_CAPTURE(BM_AdaptVqe, h2, std::string("h2_0.735"), 0, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AdaptVqe, h4_chain, std::string("h4_chain_0.9"), 0, 0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AdaptVqe, lih_frozen_core, std::string("lih_1.595"), 2, 5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AdaptVqe, lih, std::string("lih_1.595"), 0, 0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The gradients of the whole fermionic pool at the Hartree-Fock state (`pool_gradients`: one
// product H|psi>, one pass per operator), against qubits. Counter `pool`.
void BM_PoolGradients(benchmark::State& bench, const std::string& molecule) {
    const Fcidump data =
        read_fcidump(std::string(ZEL_CHEM_BENCH_DATA) + "/" + molecule + ".fcidump");
    const VqeProblem problem = make_vqe_problem(data.integrals, data.sector());
    std::vector<zel::PauliSum> generators;
    for (const PoolOperator& op : make_pool(problem, AdaptPool::Fermionic)) {
        generators.push_back(op.generator);
    }
    zel::ZarnikState state(problem.num_qubits);
    state.set_computational_basis(problem.reference_index);
    for (auto _ : bench) {
        benchmark::DoNotOptimize(zel::pool_gradients(problem.hamiltonian, state, generators));
    }
    bench.counters["qubits"] = static_cast<double>(problem.num_qubits);
    bench.counters["pool"] = static_cast<double>(generators.size());
}
BENCHMARK_CAPTURE(BM_PoolGradients, h4_chain_8, std::string("h4_chain_0.9"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PoolGradients, lih_12, std::string("lih_1.595"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PoolGradients, h2o_14, std::string("h2o"))->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
