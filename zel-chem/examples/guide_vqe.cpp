// Guide, "Ground states: UCCSD and ADAPT-VQE": ADAPT-VQE with a progress callback, UCCSD and
// k-UpCCGSD, pools and single operators, the exported circuit, and ADAPT as a strategy of the
// search loop, on H2 at 0.735 angstrom in STO-3G (the FCIDUMP text of
// tests/chem/data/h2_0.735.fcidump). Exits 1 when an energy misses the exact one.

#include <cmath>
#include <cstddef>
#include <iostream>
#include <optional>
#include <vector>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/reference.hpp"
#include "zel/chem/vqe.hpp"
#include "zel/core/output.hpp"
#include "zel/core/simulator.hpp"

#include "shared/chemistry_example.hpp"

using example::expect_near;
using example::failures;
using example::H2_FCIDUMP;

int main() {
    const zel::chem::Fcidump h2 = zel::chem::parse_fcidump(H2_FCIDUMP);
    const double exact = zel::chem::exact_ground_state(h2.integrals, h2.sector()).energy;

    // The qubit Hamiltonian (constant included), its register and the Hartree-Fock state.
    const zel::chem::VqeProblem problem =
        zel::chem::make_vqe_problem(h2.integrals, h2.sector(), zel::chem::Mapping::JordanWigner,
                                    zel::chem::SpinOrdering::Blocked, zel::chem::Reduction::None);

    // ADAPT-VQE with the defaults: fermionic pool, stop at pool gradient norm 1e-3, L-BFGS.
    zel::chem::AdaptOptions options;
    options.callback = [](const zel::chem::AdaptIteration& it) {
        std::cout << it.iteration << "  " << it.label << "  E = " << it.energy << " Ha\n";
    };
    const zel::chem::AdaptResult adapt = zel::chem::adapt_vqe(problem, options);
    std::cout << "ADAPT: " << adapt.energy << " Ha after " << adapt.iterations.size()
              << " operators, stopped by " << zel::chem::adapt_stop_name(adapt.stop) << '\n';
    expect_near(adapt.energy, exact, 1.6e-3, "ADAPT energy");

    // Fixed ansätze: UCCSD from 0, and two layers of k-UpCCGSD from a seeded start.
    zel::chem::VqeOptions settings;
    settings.optimizer = zel::chem::VqeOptimizer::Lbfgs;
    settings.seed = 7;
    zel::chem::check_vqe_options(settings);
    const zel::chem::VqeResult ucc = zel::chem::uccsd(problem, settings);
    const zel::chem::VqeResult kup = zel::chem::k_upccgsd(problem, 2, settings);
    std::cout << "UCCSD (" << zel::chem::vqe_optimizer_name(settings.optimizer)
              << "): " << ucc.energy << " Ha, k-UpCCGSD: " << kup.energy << " Ha\n";
    expect_near(ucc.energy, exact, 1e-6, "UCCSD energy");
    expect_near(kup.energy, exact, 1e-6, "k-UpCCGSD energy");

    // A pool, and one excitation turned into a generator and appended to an ansatz.
    const std::vector<zel::chem::PoolOperator> pool =
        zel::chem::make_pool(problem, zel::chem::AdaptPool::Qubit);
    std::cout << zel::chem::adapt_pool_name(zel::chem::AdaptPool::Qubit) << " pool: " << pool.size()
              << " operators, the first " << pool.front().label << '\n';
    zel::chem::TiedAnsatz ansatz{zel::ZarnikGraph(problem.num_qubits), {}};
    const zel::chem::Excitation pair{{0, 2}, {1, 3}};
    const std::optional<zel::PauliSum> generator = zel::chem::problem_generator(problem, pair);
    const std::size_t index = zel::chem::append_operator(ansatz, *generator);
    std::cout << zel::chem::operator_label(pair) << " drives parameter " << index << '\n';

    // Spin-complemented pairs: the alpha and beta versions of an excitation as one operator.
    const std::vector<zel::chem::PoolOperator> paired =
        zel::chem::make_pool(problem, zel::chem::AdaptPool::GeneralizedQubit, true);
    for (const zel::chem::PoolOperator& op : paired) {
        std::cout << op.label << (op.factors.empty() ? "" : "  (one parameter, two excitations)")
                  << '\n';
    }
    zel::chem::TiedAnsatz both{zel::ZarnikGraph(problem.num_qubits), {}};
    zel::chem::append_operator(both, paired.front());  // Pauli rotations of every factor
    zel::chem::AdaptOptions spin_adapted;
    spin_adapted.pool = zel::chem::AdaptPool::Qubit;
    spin_adapted.spin_complement = true;
    const zel::chem::AdaptResult fewer = zel::chem::adapt_vqe(problem, spin_adapted);
    std::cout << "spin-complemented qubit pool: " << fewer.iterations.size() << " operators\n";
    expect_near(fewer.energy, exact, 1.6e-3, "ADAPT energy with spin-complemented pairs");

    // The final circuit in standard gates, from |0...0> (what `zel adapt --qasm` writes).
    const zel::ZarnikGraph circuit =
        zel::chem::prepared_circuit(adapt.ansatz, problem.reference_index);
    const double replay = zel::evaluate_circuit_energy(zel::ZarnikState(problem.num_qubits),
                                                       circuit, problem.hamiltonian);
    expect_near(replay, adapt.energy, 1e-10, "energy of the exported circuit");

    // ADAPT as a strategy: the search loop grows the circuit gate by gate.
    zel::chem::AdaptStrategy strategy(problem);
    zel::LoopOptions loop;
    loop.output = &zel::null_output();
    const zel::LoopResult grown = zel::run_zarnik_loop(
        zel::ZarnikState(problem.num_qubits),
        zel::chem::basis_state_circuit(problem.reference_index, problem.num_qubits),
        problem.hamiltonian, strategy, loop);
    std::cout << "search loop: " << grown.energy << " Ha with " << strategy.chosen().size()
              << " operators, " << grown.circuit.gate_count() << " gates\n";
    expect_near(grown.energy, exact, 1.6e-3, "search-loop energy");
    return failures == 0 ? 0 : 1;
}
