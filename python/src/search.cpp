// The strategy's actions, NeuralZarnikBrain and the search loop, driven either by the shipped
// strategy (entirely without the GIL) or by a strategy written in Python (an object with the two
// methods, called with the GIL taken back).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"
#include "zel/neural/brain.hpp"

#include "bindings.hpp"
#include "energy_function.hpp"
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using Qubits = std::vector<std::uint64_t>;

/// How often, at most, the loop driven by the shipped strategy takes the GIL to look for a
/// pending signal, so that Ctrl-C stops a long search.
constexpr std::chrono::milliseconds SIGNAL_CHECK_INTERVAL{50};

std::string type_name(const py::handle& object) {
    return std::string(py::str(py::type::handle_of(object).attr("__name__")));
}

/// A Python callable as the energy function of NeuralZarnikBrain::optimize_parameters: called
/// with a new float64 array of the values, its result taken as float(result).
struct PythonEnergy {
    py::handle function;

    double operator()(std::span<const double> values) const {
        py::array_t<double> array(static_cast<py::ssize_t>(values.size()));
        std::copy(values.begin(), values.end(), array.mutable_data());
        const py::object result = function(array);
        const double value = PyFloat_AsDouble(result.ptr());
        if (value == -1.0 && PyErr_Occurred() != nullptr) {
            throw py::error_already_set();
        }
        return value;
    }
};

StrategyAction to_action(const py::handle& result) {
    if (py::isinstance<AddGate>(result)) {
        return result.cast<AddGate>();
    }
    if (py::isinstance<RemoveGate>(result)) {
        return result.cast<RemoveGate>();
    }
    if (py::isinstance<NoChange>(result)) {
        return NoChange{};
    }
    if (py::isinstance<Converged>(result)) {
        return Converged{};
    }
    throw py::type_error(
        "evaluate_and_evolve must return zel.AddGate, zel.RemoveGate, zel.NoChange or "
        "zel.Converged, not " +
        type_name(result));
}

/// A strategy written in Python, seen by the loop as a ZarnikStrategy. The loop runs without
/// the GIL; each call takes it back. Python gets objects of its own, never the loop's: for
/// optimize_parameters a copy of the circuit, read back into the loop's circuit when the method
/// returns (so changing it in place is what counts), and an EnergyFn over the same snapshot,
/// reference and observable as the loop's; for evaluate_and_evolve a copy of the circuit,
/// whose changes are discarded. A Python exception raised by either method propagates out of
/// the loop unchanged.
class PythonStrategy {
  public:
    PythonStrategy(py::object strategy, std::shared_ptr<const ZarnikState> reference,
                   std::shared_ptr<const PauliSum> hamiltonian)
        : strategy_(std::move(strategy)),
          reference_(std::move(reference)),
          hamiltonian_(std::move(hamiltonian)) {
    }

    template <class EnergyFunction>
    void optimize_parameters(ZarnikGraph& graph, const EnergyFunction& /*loop_energy_fn*/) {
        // Without the library lock: the method may call the module from other threads (an
        // energy function evaluated on a thread pool) and wait for them.
        const PythonCallback callback;
        const py::object circuit = py::cast(ZarnikGraph(graph));
        const py::object energy_fn = py::cast(OwnedEnergyFn(graph, reference_, hamiltonian_));
        strategy_.attr("optimize_parameters")(circuit, energy_fn);
        graph = circuit.cast<const ZarnikGraph&>();
    }

    StrategyAction evaluate_and_evolve(const ZarnikGraph& graph, double energy, double entropy) {
        const PythonCallback callback;
        const py::object action =
            strategy_.attr("evaluate_and_evolve")(py::cast(ZarnikGraph(graph)), energy, entropy);
        return to_action(action);
    }

  private:
    py::object strategy_;
    std::shared_ptr<const ZarnikState> reference_;
    std::shared_ptr<const PauliSum> hamiltonian_;
};

static_assert(ZarnikStrategy<PythonStrategy>);

/// The shipped strategy inside the loop: its own calls, plus a look for pending signals at most
/// every SIGNAL_CHECK_INTERVAL, since the loop holds no GIL for Python to handle them.
class BrainInLoop {
  public:
    explicit BrainInLoop(NeuralZarnikBrain& brain)
        : brain_(brain), last_check_(std::chrono::steady_clock::now()) {
    }

    template <class EnergyFunction>
    void optimize_parameters(ZarnikGraph& graph, const EnergyFunction& energy_fn) {
        brain_.optimize_parameters(graph, energy_fn);
    }

    StrategyAction evaluate_and_evolve(const ZarnikGraph& graph, double energy, double entropy) {
        check_signals();
        return brain_.evaluate_and_evolve(graph, energy, entropy);
    }

  private:
    void check_signals() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_check_ < SIGNAL_CHECK_INTERVAL) {
            return;
        }
        last_check_ = now;
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    }

    NeuralZarnikBrain& brain_;
    std::chrono::steady_clock::time_point last_check_;
};

static_assert(ZarnikStrategy<BrainInLoop>);

LoopResult run_loop(const ZarnikState& reference, const ZarnikGraph& circuit,
                    const PauliSum& hamiltonian, const py::object& strategy,
                    std::uint64_t max_iterations, std::uint64_t progress_interval,
                    const py::object& output) {
    PythonOutput sink(output);
    LoopOptions options;
    options.max_iterations = max_iterations;
    options.progress_interval = progress_interval;
    options.output = &sink;
    // Copies: other Python threads may change the caller's objects while the loop runs.
    ZarnikGraph start = circuit;
    const auto observable = std::make_shared<const PauliSum>(hamiltonian);

    if (py::type::handle_of(strategy).is(py::type::of<NeuralZarnikBrain>())) {
        BrainInLoop brain(strategy.cast<NeuralZarnikBrain&>());
        return run_released(true, [&] {
            return run_zarnik_loop(ZarnikState(reference), std::move(start), *observable, brain,
                                   options);
        });
    }

    for (const char* method : {"optimize_parameters", "evaluate_and_evolve"}) {
        if (!py::hasattr(strategy, method)) {
            throw py::type_error(
                "a strategy needs the methods optimize_parameters(circuit, "
                "energy_fn) and evaluate_and_evolve(circuit, energy, entropy); " +
                type_name(strategy) + " has no " + method);
        }
    }
    const auto shared_reference = run_released(releases_gil(reference), [&reference] {
        return std::make_shared<const ZarnikState>(reference);
    });
    PythonStrategy python_strategy(strategy, shared_reference, observable);
    return run_released(true, [&] {
        return run_zarnik_loop(ZarnikState(*shared_reference), std::move(start), *observable,
                               python_strategy, options);
    });
}

void bind_actions(py::module_& m) {
    py::class_<AddGate>(m, "AddGate",
                        "Action: append `gate` on `qubits`. A rotation enters with its angle as "
                        "its only parameter; any other kind with no parameters.")
        .def(py::init([](const GateType& gate, Qubits qubits) {
                 return AddGate{gate, std::move(qubits)};
             }),
             py::arg("gate"), py::arg("qubits"), "Append `gate` on `qubits`.")
        .def_readwrite("gate", &AddGate::gate, "The gate to add.")
        .def_readwrite("qubits", &AddGate::qubits, "Its qubits, as a new list.")
        .def(
            "__eq__",
            [](const AddGate& a, const AddGate& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", [](const AddGate& action) {
            return "AddGate(" + debug_text(action.gate) + ", " +
                   std::string(py::repr(py::cast(action.qubits))) + ")";
        });
    py::class_<RemoveGate>(m, "RemoveGate",
                           "Action: remove the operation at `index`; later ones move up by one. "
                           "The loop ignores an index at or beyond the gate count.")
        .def(py::init([](std::uint64_t index) {
                 return RemoveGate{index};
             }),
             py::arg("index"), "Remove the operation at `index`.")
        .def_readwrite("index", &RemoveGate::index, "Position of the operation to remove.")
        .def(
            "__eq__",
            [](const RemoveGate& a, const RemoveGate& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", [](const RemoveGate& action) {
            return "RemoveGate(" + std::to_string(action.index) + ")";
        });
    py::class_<NoChange>(m, "NoChange", "Action: leave the circuit as it is.")
        .def(py::init<>(), "Leave the circuit as it is.")
        .def(
            "__eq__",
            [](const NoChange&, const NoChange&) {
                return true;
            },
            py::is_operator())
        .def("__repr__", [](const NoChange&) {
            return "NoChange()";
        });
    py::class_<Converged>(m, "Converged", "Action: the goal is reached; stop the search.")
        .def(py::init<>(), "Stop the search.")
        .def(
            "__eq__",
            [](const Converged&, const Converged&) {
                return true;
            },
            py::is_operator())
        .def("__repr__", [](const Converged&) {
            return "Converged()";
        });
}

void bind_brain(py::module_& m) {
    const py::object standard_output = m.attr("STDOUT");
    py::class_<NeuralZarnikBrain>(
        m, "NeuralZarnikBrain",
        "The adaptive strategy: it converges when the energy reaches target_energy, prunes a "
        "nearly vanished rotation, adds CX on [0, 1] after the energy stagnated "
        "STAGNATION_LIMIT times, and tunes every parameter at once by SPSA. All eleven fields "
        "are plain attributes.\n\n"
        "The SPSA signs come from the calling thread's generator: reseed(seed) first for a "
        "reproducible run.")
        .def(py::init([](double learning_rate, double prune_threshold, double target_energy,
                         const py::object& output) {
                 PythonOutput sink(output);
                 return NeuralZarnikBrain(learning_rate, prune_threshold, target_energy, sink);
             }),
             py::arg("learning_rate"), py::arg("prune_threshold"), py::arg("target_energy"),
             py::arg_v("output", standard_output, "zel.STDOUT"),
             "A fresh strategy. Writes its two-line notice to `output` first: zel.STDOUT "
             "(sys.stdout), None for silence, or a callable that gets each message as a str.")
        .def_readwrite("learning_rate", &NeuralZarnikBrain::learning_rate,
                       "Stored for callers; no decision reads it.")
        .def_readwrite("prune_threshold", &NeuralZarnikBrain::prune_threshold,
                       "Parameter magnitudes strictly between MIN_PRUNE_MAGNITUDE and this are "
                       "pruned.")
        .def_readwrite("target_energy", &NeuralZarnikBrain::target_energy,
                       "An energy at or below this (hartree) means convergence.")
        .def_readwrite("last_energy", &NeuralZarnikBrain::last_energy,
                       "Energy of the last stagnation test.")
        .def_readwrite("stagnation_count", &NeuralZarnikBrain::stagnation_count,
                       "Consecutive stagnation tests so far.")
        .def_readwrite("spsa_a", &NeuralZarnikBrain::spsa_a, "Numerator of the SPSA step gain.")
        .def_readwrite("spsa_c", &NeuralZarnikBrain::spsa_c,
                       "Numerator of the SPSA perturbation size.")
        .def_readwrite("spsa_stability", &NeuralZarnikBrain::spsa_stability,
                       "Stability offset of the step gain.")
        .def_readwrite("spsa_alpha", &NeuralZarnikBrain::spsa_alpha, "Exponent of the step gain.")
        .def_readwrite("spsa_gamma", &NeuralZarnikBrain::spsa_gamma,
                       "Exponent of the perturbation size.")
        .def_readwrite("iteration", &NeuralZarnikBrain::iteration,
                       "Number of evaluate_and_evolve calls so far; the SPSA step index k.")
        .def("evaluate_and_evolve", &NeuralZarnikBrain::evaluate_and_evolve, py::arg("circuit"),
             py::arg("energy"), py::arg("entropy"),
             "The decision for `circuit` whose latest energy is `energy` (entropy is not "
             "consulted): Converged, RemoveGate of the first prunable rotation, AddGate CX on "
             "[0, 1] after stagnation, or NoChange. Counts the call in `iteration`.")
        .def(
            "optimize_parameters",
            [](const NeuralZarnikBrain& brain, ZarnikGraph& circuit, const py::object& energy_fn) {
                // On a copy, written back at the end: the step may run without the GIL, while
                // another thread could change the caller's circuit.
                ZarnikGraph work = circuit;
                if (py::isinstance<OwnedEnergyFn>(energy_fn)) {
                    const auto& function = energy_fn.cast<const OwnedEnergyFn&>();
                    run_released(function.releases_gil(), [&] {
                        brain.optimize_parameters(work, function);
                    });
                } else if (PyCallable_Check(energy_fn.ptr()) != 0) {
                    brain.optimize_parameters(work, PythonEnergy{energy_fn});
                } else {
                    throw py::type_error("energy_fn must be a zel.EnergyFn or a callable, not " +
                                         type_name(energy_fn));
                }
                circuit = std::move(work);
            },
            py::arg("circuit"), py::arg("energy_fn"),
            "One SPSA step over every parameter slot of `circuit`, in place, with step index "
            "k = iteration: evaluates energy_fn at theta + c_k delta and theta - c_k delta for "
            "random signs delta and moves every slot by -delta a_k (E+ - E-) / (2 c_k), "
            "keeping rotations' angles equal to params[0]. `energy_fn` is a zel.EnergyFn (run "
            "in C++) or any callable taking a float64 array and returning a float. Does not "
            "advance `iteration`; does nothing without parameters, and changes nothing when "
            "the step is not finite.")
        .def(
            "copy",
            [](const NeuralZarnikBrain& brain) {
                return brain;
            },
            "A copy of all fields (prints nothing).")
        .def("__copy__",
             [](const NeuralZarnikBrain& brain) {
                 return brain;
             })
        .def(
            "__deepcopy__",
            [](const NeuralZarnikBrain& brain, py::dict) {
                return brain;
            },
            py::arg("memo"))
        .def("__repr__", [](const NeuralZarnikBrain& brain) {
            return "NeuralZarnikBrain(target_energy=" +
                   std::string(py::repr(py::float_(brain.target_energy))) +
                   ", iteration=" + std::to_string(brain.iteration) + ")";
        });

    m.attr("MIN_PRUNE_MAGNITUDE") = MIN_PRUNE_MAGNITUDE;
    m.attr("STAGNATION_TOLERANCE") = STAGNATION_TOLERANCE;
    m.attr("STAGNATION_LIMIT") = STAGNATION_LIMIT;
}

void bind_loop(py::module_& m) {
    py::class_<LoopResult>(m, "LoopResult", "Outcome of run_zarnik_loop.")
        .def_readwrite("circuit", &LoopResult::circuit, "The final circuit.")
        .def_readwrite("energy", &LoopResult::energy, "The latest evaluated energy (hartree).")
        .def_readwrite("converged", &LoopResult::converged,
                       "Whether the loop ended by a Converged action.")
        .def("__repr__", [](const LoopResult& result) {
            return "LoopResult(energy=" + std::string(py::repr(py::float_(result.energy))) +
                   ", converged=" + (result.converged ? "True" : "False") +
                   ", gates=" + std::to_string(result.circuit.gate_count()) + ")";
        });

    m.def("run_zarnik_loop", &run_loop, py::arg("reference"), py::arg("circuit"),
          py::arg("hamiltonian"), py::arg("strategy"), py::kw_only(),
          py::arg("max_iterations") = MAX_ITERATIONS,
          py::arg("progress_interval") = PROGRESS_INTERVAL,
          py::arg_v("output", m.attr("STDOUT"), "zel.STDOUT"),
          "The search: evaluates `circuit` from |0...0> on reference.num_qubits qubits, then "
          "for at most `max_iterations` iterations lets `strategy` tune the parameters (only "
          "when some operation has any), asks it for one action, applies it and re-evaluates, "
          "printing a progress line every `progress_interval` iterations (0: none). Returns a "
          "LoopResult (circuit, energy, converged). The caller's reference, circuit and "
          "observable are copied and never changed.\n\n"
          "`strategy` is a NeuralZarnikBrain, run entirely in C++ without the GIL, or any "
          "object with the methods optimize_parameters(circuit, energy_fn) and "
          "evaluate_and_evolve(circuit, energy, entropy) -> AddGate | RemoveGate | NoChange | "
          "Converged. optimize_parameters gets a circuit of its own to change in place (the "
          "loop reads it back when the method returns) and an EnergyFn over the circuit as it "
          "stood on entry; evaluate_and_evolve gets a copy, whose changes are ignored. "
          "Exceptions raised by the methods propagate out of the loop unchanged.\n\n"
          "`output` receives the start line, one line per structural change, the progress "
          "lines and the convergence line: zel.STDOUT (sys.stdout), None for silence, or a "
          "callable that gets each message as a str.");
    m.attr("MAX_ITERATIONS") = MAX_ITERATIONS;
    m.attr("PROGRESS_INTERVAL") = PROGRESS_INTERVAL;
}

}  // namespace

void bind_search(py::module_& m) {
    bind_evaluation(m);
    bind_actions(m);
    bind_brain(m);
    bind_loop(m);
}

}  // namespace zel::python
