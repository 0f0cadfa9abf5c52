// zel.chem.adapt_vqe and zel.chem.uccsd: variational ground states of molecules from Python.
// Results come back as a types.SimpleNamespace whose per-iteration records are NumPy arrays;
// the ADAPT callback receives each iteration as a dict while the solve runs. The solves run
// without the GIL, so Ctrl-C ends them with KeyboardInterrupt and other Python threads go on;
// the callback takes the GIL back for its call and may do anything Python allows.

#include "zel/chem/vqe.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/error.hpp"

#include "bindings.hpp"
#include <pybind11/functional.h>
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using namespace zel::chem;

Reduction reduction_of(const std::string& name) {
    if (name == "none") {
        return Reduction::None;
    }
    if (name == "two-qubit") {
        return Reduction::TwoQubit;
    }
    if (name == "tapering") {
        return Reduction::Tapering;
    }
    throw InvalidArgument("reduction must be 'none', 'two-qubit' or 'tapering', not '" + name +
                          "'");
}

AdaptPool pool_of(const std::string& name) {
    for (const AdaptPool pool :
         {AdaptPool::Fermionic, AdaptPool::GeneralizedFermionic, AdaptPool::Qubit,
          AdaptPool::PauliString, AdaptPool::GeneralizedQubit}) {
        if (name == adapt_pool_name(pool)) {
            return pool;
        }
    }
    throw InvalidArgument(
        "pool must be 'fermionic', 'generalized', 'qubit', 'pauli' or 'generalized-qubit', not '" +
        name + "'");
}

VqeOptions vqe_options(const std::string& optimizer, double optimizer_tolerance,
                       std::size_t max_evaluations, std::size_t threads, std::uint64_t seed) {
    VqeOptions options;
    if (optimizer == "nelder-mead" || optimizer == "cobyla") {
        options.optimizer = optimizer == "cobyla" ? VqeOptimizer::Cobyla : VqeOptimizer::NelderMead;
        options.optimize.energy_tolerance = 1e-10;
    } else if (optimizer != "lbfgs") {
        throw InvalidArgument("optimizer must be 'lbfgs', 'nelder-mead' or 'cobyla', not '" +
                              optimizer + "'");
    }
    options.optimize.gradient_tolerance = optimizer_tolerance;
    options.optimize.max_evaluations = max_evaluations;
    options.threads = threads;
    options.seed = seed;
    return options;
}

py::dict iteration_dict(const AdaptIteration& it) {
    py::dict d;
    d["iteration"] = it.iteration;
    d["pool_index"] = it.pool_index;
    d["operator"] = it.label;
    d["gradient"] = it.gradient;
    d["gradient_norm"] = it.gradient_norm;
    d["energy"] = it.energy;
    d["evaluations"] = it.evaluations;
    d["seconds"] = it.seconds;
    return d;
}

py::object namespace_of(py::dict members) {
    return py::module_::import("types").attr("SimpleNamespace")(**members);
}

py::object adapt(const Integrals& integrals, const Sector& sector, Mapping mapping,
                 SpinOrdering ordering, const std::string& reduction, const std::string& pool,
                 bool spin_complement, double gradient_tolerance, double energy_tolerance,
                 std::size_t max_operators, const std::string& optimizer,
                 double optimizer_tolerance, std::size_t max_evaluations, std::size_t threads,
                 std::uint64_t seed, const py::object& callback) {
    AdaptOptions options;
    options.pool = pool_of(pool);
    options.spin_complement = spin_complement;
    options.gradient_tolerance = gradient_tolerance;
    options.energy_tolerance = energy_tolerance;
    options.max_operators = max_operators;
    options.vqe = vqe_options(optimizer, optimizer_tolerance, max_evaluations, threads, seed);
    if (!callback.is_none()) {
        options.callback = [&callback](const AdaptIteration& it) {
            const PythonCallback scope;
            callback(iteration_dict(it));
        };
    }
    const Integrals copy = integrals;
    const Reduction reduced = reduction_of(reduction);
    VqeProblem problem;
    const AdaptResult result = run_released(true, [&] {
        problem = make_vqe_problem(copy, sector, mapping, ordering, reduced);
        return adapt_vqe(problem, options);
    });

    std::vector<double> energies;
    std::vector<double> norms;
    std::vector<double> gradients;
    std::vector<double> seconds;
    std::vector<std::int64_t> indices;
    py::list labels;
    for (const AdaptIteration& it : result.iterations) {
        energies.push_back(it.energy);
        norms.push_back(it.gradient_norm);
        gradients.push_back(it.gradient);
        seconds.push_back(it.seconds);
        indices.push_back(static_cast<std::int64_t>(it.pool_index));
        labels.append(it.label);
    }
    py::dict d;
    d["energy"] = result.energy;
    d["reference_energy"] = result.reference_energy;
    d["energies"] = to_numpy(std::move(energies));
    d["gradient_norms"] = to_numpy(std::move(norms));
    d["gradients"] = to_numpy(std::move(gradients));
    d["iteration_seconds"] = to_numpy(std::move(seconds));
    d["pool_indices"] = to_numpy(std::move(indices));
    d["operators"] = labels;
    d["parameters"] = to_numpy(std::vector<double>(result.parameters));
    d["final_gradient_norm"] = result.final_gradient_norm;
    d["stop_reason"] = std::string(adapt_stop_name(result.stop));
    d["seconds"] = result.seconds;
    d["num_qubits"] = problem.num_qubits;
    d["hamiltonian"] = problem.hamiltonian;
    d["circuit"] = prepared_circuit(result.ansatz, problem.reference_index);
    return namespace_of(d);
}

py::object fixed(const Integrals& integrals, const Sector& sector, Mapping mapping,
                 SpinOrdering ordering, const std::string& reduction, const std::string& ansatz,
                 std::size_t layers, const std::string& optimizer, double optimizer_tolerance,
                 std::size_t max_evaluations, std::size_t threads, std::uint64_t seed) {
    if (ansatz != "uccsd" && ansatz != "k-upccgsd") {
        throw InvalidArgument("ansatz must be 'uccsd' or 'k-upccgsd', not '" + ansatz + "'");
    }
    const VqeOptions options =
        vqe_options(optimizer, optimizer_tolerance, max_evaluations, threads, seed);
    const Integrals copy = integrals;
    const Reduction reduced = reduction_of(reduction);
    VqeProblem problem;
    const VqeResult result = run_released(true, [&] {
        problem = make_vqe_problem(copy, sector, mapping, ordering, reduced);
        return ansatz == "uccsd" ? uccsd(problem, options) : k_upccgsd(problem, layers, options);
    });
    py::dict d;
    d["energy"] = result.energy;
    d["reference_energy"] = result.reference_energy;
    d["parameters"] = to_numpy(std::vector<double>(result.parameters));
    d["operators"] = py::cast(result.operators);
    d["stop_reason"] = std::string(stop_reason_name(result.optimization.reason));
    d["iterations"] = result.optimization.iterations;
    d["evaluations"] = result.optimization.evaluations;
    d["seconds"] = result.seconds;
    d["num_qubits"] = problem.num_qubits;
    d["hamiltonian"] = problem.hamiltonian;
    d["circuit"] = prepared_circuit(result.ansatz, problem.reference_index);
    return namespace_of(d);
}

}  // namespace

void bind_vqe(py::module_& chem) {
    chem.def("adapt_vqe", &adapt, py::arg("integrals"), py::arg("sector"),
             py::arg("mapping") = Mapping::JordanWigner,
             py::arg("ordering") = SpinOrdering::Blocked, py::arg("reduction") = "none",
             py::arg("pool") = "fermionic", py::arg("spin_complement") = false,
             py::arg("gradient_tolerance") = 1e-3, py::arg("energy_tolerance") = 0.0,
             py::arg("max_operators") = 100, py::arg("optimizer") = "lbfgs",
             py::arg("optimizer_tolerance") = 1e-6, py::arg("max_evaluations") = 10000,
             py::arg("threads") = 0, py::arg("seed") = 0, py::arg("callback") = py::none(),
             R"(ADAPT-VQE from the Hartree-Fock state of `integrals` in `sector`.

Each iteration computes the energy gradient of every pool operator, stops when their norm is at
or below `gradient_tolerance` (hartree), appends the operator of largest |gradient| and
re-optimises all parameters (L-BFGS on exact gradients, warm-started). `pool`: 'fermionic'
(UCCSD singles and doubles), 'generalized', 'qubit', 'pauli' or 'generalized-qubit' (the
generalised list as qubit excitations; the last three need Mapping.JordanWigner).
`spin_complement`: pair each excitation with its spin complement (every mode's spin exchanged)
as one operator with one parameter, as spin-adapted pools do (not with 'pauli'). `reduction`:
'none', 'two-qubit' (parity, blocked) or 'tapering'. Also stops
when an iteration lowers the energy by less than `energy_tolerance` (0: off) or at
`max_operators`. `callback(iteration)` is called after every iteration with a dict (iteration,
pool_index, operator, gradient, gradient_norm, energy, evaluations, seconds); an exception it
raises ends the solve. Results repeat bit for bit for any `threads`.

Returns a namespace: energy (total, hartree), reference_energy (Hartree-Fock), per iteration the
NumPy arrays energies, gradient_norms, gradients, iteration_seconds and pool_indices, the list
operators, the array parameters, final_gradient_norm, stop_reason ('gradient norm', 'energy
change', 'max operators'), seconds, num_qubits, hamiltonian and circuit (a ZarnikGraph in
standard gates that prepares the final state from |0...0>). Bad settings raise
zel.InvalidArgument.)");
    chem.def("uccsd", &fixed, py::arg("integrals"), py::arg("sector"),
             py::arg("mapping") = Mapping::JordanWigner,
             py::arg("ordering") = SpinOrdering::Blocked, py::arg("reduction") = "none",
             py::arg("ansatz") = "uccsd", py::arg("layers") = 1, py::arg("optimizer") = "lbfgs",
             py::arg("optimizer_tolerance") = 1e-6, py::arg("max_evaluations") = 10000,
             py::arg("threads") = 0, py::arg("seed") = 0,
             R"(A fixed ansatz from the Hartree-Fock state, all parameters optimised at once.

`ansatz`: 'uccsd' (every spin-preserving single and double, parameters from 0) or 'k-upccgsd'
(`layers` layers of generalised singles and paired doubles, starting values drawn from `seed`).
Other arguments as for adapt_vqe. Returns a namespace: energy, reference_energy, parameters
(NumPy array), operators, stop_reason of the optimiser, iterations, evaluations, seconds,
num_qubits, hamiltonian and circuit.)");
}

}  // namespace zel::python
