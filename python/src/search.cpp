// Circuit evaluation, the energy function, the strategy's actions, NeuralZarnikBrain and the
// search loop, driven either by the shipped strategy (entirely without the GIL) or by a
// strategy written in Python (an object with the two methods, called with the GIL taken back).

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
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using Qubits = std::vector<std::uint64_t>;

/// How often, at most, the loop driven by the shipped strategy takes the GIL to look for a
/// pending signal, so that Ctrl-C stops a long search.
constexpr std::chrono::milliseconds SIGNAL_CHECK_INTERVAL{50};

/// Circuits of this many operations run without the GIL (and answer Ctrl-C) on any register:
/// even on two qubits they take a millisecond or more.
constexpr std::size_t LONG_CIRCUIT_OPERATIONS = 4096;

bool is_long(const ZarnikGraph& circuit) noexcept {
    return circuit.operations.size() >= LONG_CIRCUIT_OPERATIONS;
}

std::string type_name(const py::handle& object) {
    return std::string(py::str(py::type::handle_of(object).attr("__name__")));
}

/// The energy function as Python holds it. It owns its snapshot of the circuit and shares the
/// reference state and the observable, none of which changes after construction, so it stays
/// valid as long as Python keeps it and may run without the GIL. Each call is the library's own
/// EnergyFn over these three objects.
class OwnedEnergyFn {
  public:
    OwnedEnergyFn(ZarnikGraph circuit, std::shared_ptr<const ZarnikState> reference,
                  std::shared_ptr<const PauliSum> hamiltonian)
        : circuit_(std::move(circuit)),
          reference_(std::move(reference)),
          hamiltonian_(std::move(hamiltonian)) {
    }

    double operator()(std::span<const double> values) const {
        return EnergyFn(circuit_, *reference_, *hamiltonian_)(values);
    }

    const ZarnikGraph& circuit() const noexcept {
        return circuit_;
    }
    const PauliSum& hamiltonian() const noexcept {
        return *hamiltonian_;
    }
    std::uint64_t num_qubits() const noexcept {
        return reference_->num_qubits();
    }
    bool releases_gil() const noexcept {
        return python::releases_gil(*reference_);
    }

  private:
    ZarnikGraph circuit_;
    std::shared_ptr<const ZarnikState> reference_;
    std::shared_ptr<const PauliSum> hamiltonian_;
};

}  // namespace
}  // namespace zel::python

template <>
class pybind11::detail::type_caster<zel::python::OwnedEnergyFn>
    : public zel::python::BuiltInstanceCaster<zel::python::OwnedEnergyFn> {};

namespace zel::python {
namespace {

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

void bind_evaluation(py::module_& m) {
    py::class_<Telemetry>(m, "Telemetry", "Energy (hartree) and entropy (bits) of one evaluation.")
        .def(py::init([](double energy, double entropy) {
                 return Telemetry{energy, entropy};
             }),
             py::arg("energy") = 0.0, py::arg("entropy") = 0.0,
             "Energy (hartree) and entropy (bits).")
        .def_readwrite("energy", &Telemetry::energy, "Energy in hartree.")
        .def_readwrite("entropy", &Telemetry::entropy, "Entropy in bits.")
        .def("__repr__", [](const Telemetry& t) {
            return "Telemetry(energy=" + std::string(py::repr(py::float_(t.energy))) +
                   ", entropy=" + std::string(py::repr(py::float_(t.entropy))) + ")";
        });

    m.def(
        "run_circuit",
        [](const ZarnikGraph& circuit, std::uint64_t num_qubits) {
            if (!releases_gil(num_qubits) && !is_long(circuit)) {
                return run_circuit(circuit, num_qubits);
            }
            const ZarnikGraph copy = circuit;
            return run_released(true, [&] {
                return run_circuit(copy, num_qubits);
            });
        },
        py::arg("circuit"), py::arg("num_qubits"),
        "The state that `circuit` prepares from |0...0> on `num_qubits` qubits (the argument, "
        "not circuit.num_qubits). Raises what ZarnikState() and apply_gate raise.");
    m.def(
        "apply_circuit",
        [](ZarnikState& state, const ZarnikGraph& circuit) {
            if (!releases_gil(state) && !is_long(circuit)) {
                apply_circuit(state, circuit);
                return;
            }
            const ZarnikGraph copy = circuit;
            run_released(true, [&] {
                apply_circuit(state, copy);
            });
        },
        py::arg("state"), py::arg("circuit"),
        "Applies every operation of `circuit` to `state` in place, in order. Every operation "
        "is checked first (check_gate), so a circuit that would fail raises before any "
        "amplitude changes.");
    m.def(
        "evaluate_circuit_energy",
        [](const ZarnikState& reference, const ZarnikGraph& circuit, const PauliSum& hamiltonian) {
            if (!releases_gil(reference)) {
                return evaluate_circuit_energy(reference, circuit, hamiltonian);
            }
            const ZarnikGraph circuit_copy = circuit;
            const PauliSum hamiltonian_copy = hamiltonian;
            return run_released(true, [&] {
                return evaluate_circuit_energy(reference, circuit_copy, hamiltonian_copy);
            });
        },
        py::arg("reference"), py::arg("circuit"), py::arg("hamiltonian"),
        "Energy of the state that `circuit` prepares from |0...0> on reference.num_qubits "
        "qubits (the reference contributes its qubit count only).");
    m.def(
        "evaluate_circuit_telemetry",
        [](const ZarnikState& reference, const ZarnikGraph& circuit, const PauliSum& hamiltonian) {
            if (!releases_gil(reference)) {
                return evaluate_circuit_telemetry(reference, circuit, hamiltonian);
            }
            const ZarnikGraph circuit_copy = circuit;
            const PauliSum hamiltonian_copy = hamiltonian;
            return run_released(true, [&] {
                return evaluate_circuit_telemetry(reference, circuit_copy, hamiltonian_copy);
            });
        },
        py::arg("reference"), py::arg("circuit"), py::arg("hamiltonian"),
        "Energy and entropy (a Telemetry) of the state that `circuit` prepares from |0...0> on "
        "reference.num_qubits qubits.");

    py::class_<OwnedEnergyFn>(
        m, "EnergyFn",
        "The energy as a function of a circuit's parameters: fn(values) is "
        "evaluate_circuit_energy(reference, with_parameters(circuit, values), hamiltonian), "
        "computed by the library's EnergyFn. `values` is any one-dimensional sequence of "
        "numbers, one per parameter slot in flat order.\n\n"
        "Unlike the C++ class, which borrows, it holds its own copy of the circuit (a snapshot: "
        "later changes to the caller's circuit do not reach it), of the reference state and of "
        "the observable, so it stays valid as long as it is kept, also after the search loop "
        "that handed it to a strategy has returned. Calls are independent and change nothing.")
        .def(py::init([](const ZarnikGraph& circuit, const ZarnikState& reference,
                         const PauliSum& hamiltonian) {
                 auto state = run_released(releases_gil(reference), [&reference] {
                     return std::make_shared<const ZarnikState>(reference);
                 });
                 return OwnedEnergyFn(circuit, std::move(state),
                                      std::make_shared<const PauliSum>(hamiltonian));
             }),
             py::arg("circuit"), py::arg("reference"), py::arg("hamiltonian"),
             "The energy function of a copy of `circuit` on a register of "
             "reference.num_qubits qubits, for `hamiltonian` (also copied).")
        .def(
            "__call__",
            [](const OwnedEnergyFn& energy_fn, const ValuesArray& values) {
                const std::span<const double> span = values_of(values);
                const std::size_t slots = parameter_count(energy_fn.circuit());
                if (span.size() != slots) {
                    throw InvalidArgument("EnergyFn: the circuit has " + std::to_string(slots) +
                                          " parameter slots, but " + std::to_string(span.size()) +
                                          " values were given");
                }
                return run_released(energy_fn.releases_gil(), [&] {
                    return energy_fn(span);
                });
            },
            py::arg("values"),
            "The energy (hartree) with `values` in the parameter slots. Raises InvalidArgument "
            "(a ValueError) unless there is exactly one value per slot, ValueError for complex "
            "values or more than one dimension.")
        .def_property_readonly(
            "circuit",
            [](const OwnedEnergyFn& energy_fn) {
                return energy_fn.circuit();
            },
            "A copy of the snapshot circuit.")
        .def_property_readonly(
            "hamiltonian",
            [](const OwnedEnergyFn& energy_fn) {
                return energy_fn.hamiltonian();
            },
            "A copy of the observable.")
        .def_property_readonly("num_qubits", &OwnedEnergyFn::num_qubits,
                               "Qubits of the register the circuit is evaluated on.")
        .def("__repr__", [](const OwnedEnergyFn& energy_fn) {
            return "EnergyFn(parameters=" + std::to_string(parameter_count(energy_fn.circuit())) +
                   ", num_qubits=" + std::to_string(energy_fn.num_qubits()) + ")";
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
