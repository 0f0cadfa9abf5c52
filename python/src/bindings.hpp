#pragma once

// Pieces the binding files share: when the GIL is released, the lock that keeps the library to
// one caller at a time, checks of enum values, NumPy arrays over C++ vectors, and the output
// sink behind every `output=` argument.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "zel/core/cancel.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/output.hpp"
#include "zel/core/parallel.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/spectrum.hpp"
#include "zel/core/state.hpp"
#include "zel/core/strategy.hpp"
#include "zel/neural/brain.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace zel::python {

namespace py = pybind11;

/// Work on registers of at least this many qubits (2^12 amplitudes, 64 KiB) runs with the GIL
/// released. Releasing and taking back the GIL costs a fraction of a microsecond; one gate on
/// 2^12 amplitudes takes several microseconds, an expectation value more.
inline constexpr std::uint64_t RELEASE_GIL_FROM_QUBITS = 12;

// Calls that keep the GIL must never reach the worker pool: they do not take the library lock.
static_assert((std::uint64_t{1} << RELEASE_GIL_FROM_QUBITS) <= parallel::GRAIN);

/// Whether work on a register of `num_qubits` qubits releases the GIL.
inline bool releases_gil(std::uint64_t num_qubits) noexcept {
    return num_qubits >= RELEASE_GIL_FROM_QUBITS;
}

/// Whether work on `state` releases the GIL.
inline bool releases_gil(const ZarnikState& state) noexcept {
    return releases_gil(state.num_qubits());
}

/// The lock held by every call that runs without the GIL: the libraries' objects are changed
/// by one call at a time. A thread may take it several times over (a strategy or an output
/// callback that the search loop calls may call the module again), and a thread that calls
/// back into Python lets go of it entirely for the time of the callback (see PythonCallback),
/// so that Python code that waits for other threads' calls into the module, such as a strategy
/// evaluating its energy function from a thread pool, never waits for itself.
class LibraryLock {
  public:
    void lock();
    void unlock();
    /// Lets go of every hold of the calling thread; returns how many it had (0 if none).
    std::size_t release_all();
    /// Takes the lock `holds` times again (nothing for 0).
    void restore(std::size_t holds);

  private:
    std::mutex mutex_;
    std::condition_variable free_;
    std::thread::id owner_;
    std::size_t holds_ = 0;
};

LibraryLock& library_lock() noexcept;

/// The scope of a call into Python from code that may run without the GIL and with the library
/// lock held (strategy methods, output callables, energy callables): lets go of the library
/// lock first, then takes the GIL; on leaving, lets go of the GIL first, then takes the lock
/// back. Never holding one while waiting for the other keeps the two locks from deadlocking.
class PythonCallback {
  public:
    PythonCallback();
    ~PythonCallback();
    PythonCallback(const PythonCallback&) = delete;
    PythonCallback& operator=(const PythonCallback&) = delete;

  private:
    std::size_t holds_;
    std::optional<py::gil_scoped_acquire> gil_;
};

/// Watches for Ctrl-C during a call that runs without the GIL: on entry (GIL held) it chains a
/// SIGINT handler in front of Python's that also asks the libraries to cancel
/// (zel::request_cancel) while such calls run, and raises what a signal that is already pending
/// raises; the last such call to end withdraws the request. `interrupted()` (GIL held) turns a
/// cancellation into what Python's own handler raises, KeyboardInterrupt by default.
class InterruptWatch {
  public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    /// Runs Python's pending signal handlers; throws error_already_set when one raised.
    static void interrupted();
};

/// Runs `work` and returns its result. When `release` is true, it runs with the GIL released
/// and the library lock held (taken after the GIL is let go, so that a thread waiting for the
/// lock never blocks one that needs the GIL), under an InterruptWatch: Ctrl-C cancels it
/// within milliseconds and raises KeyboardInterrupt (or what the SIGINT handler raises; a
/// handler that raises nothing leaves zel.Cancelled). `work` must not touch Python objects,
/// and must only read C++ objects that no other thread can change shape while it runs (copies
/// of circuits and observables, states whose buffers never move).
template <class Work>
decltype(auto) run_released(bool release, Work&& work) {
    if (!release) {
        return work();
    }
    InterruptWatch watch;
    try {
        py::gil_scoped_release no_gil;
        std::lock_guard<LibraryLock> lock(library_lock());
        return work();
    } catch (const Cancelled&) {
        InterruptWatch::interrupted();
        throw;
    }
}

/// A non-negative integer argument below 2**64 (a seed, a shot count, a thread count): an int
/// or any object with __index__ (NumPy integers), bool excepted. Throws ValueError "{what} must
/// be in [0, 2**64), not {value}" for other integers and TypeError "{what} must be an int, not
/// {type}" for other objects.
std::uint64_t unsigned_argument(const py::handle& value, const char* what);

/// `kind` when it is one of the fourteen kinds; otherwise throws ValueError. pybind11 enums
/// can be built from any integer (`GateKind(99)`), and the gate table is indexed by the kind.
GateKind checked_kind(GateKind kind);

/// `kind` when it is one of I, X, Y, Z; otherwise throws ValueError.
Pauli checked_pauli(Pauli kind);

/// A one-dimensional NumPy array that takes over `values` without copying them.
template <class T>
py::array_t<T> to_numpy(std::vector<T>&& values) {
    auto owned = std::make_unique<std::vector<T>>(std::move(values));
    const auto size = static_cast<py::ssize_t>(owned->size());
    T* data = owned->data();
    py::capsule release(owned.get(), [](void* pointer) {
        delete static_cast<std::vector<T>*>(pointer);
    });
    owned.release();
    return py::array_t<T>({size}, {static_cast<py::ssize_t>(sizeof(T))}, data, release);
}

/// A short list of numbers from Python (qubit indexes, parameters) for the per-gate calls: up
/// to INLINE elements live in the object itself, so the usual one or two need no allocation.
/// Converted from lists and tuples directly, from other sequences through pybind11's list
/// conversion, element by element as pybind11 converts one T.
template <class T>
class SmallList {
  public:
    static constexpr std::size_t INLINE = 4;

    std::span<const T> span() const noexcept {
        return overflow_.empty() ? std::span<const T>(inline_.data(), size_)
                                 : std::span<const T>(overflow_);
    }

    void assign_inline(std::size_t size) noexcept {
        size_ = size;
        overflow_.clear();
    }
    T* inline_data() noexcept {
        return inline_.data();
    }
    void assign(std::vector<T> values) noexcept {
        size_ = values.size();
        overflow_ = std::move(values);
    }

  private:
    std::array<T, INLINE> inline_{};
    std::size_t size_ = 0;
    std::vector<T> overflow_;
};

/// A parameter-value argument: any one-dimensional sequence or array of real numbers (bool,
/// integer or floating dtypes), converted to a float64 array. Its caster raises ValueError for
/// other shapes and for complex values, which would lose their imaginary parts, and TypeError
/// for what NumPy cannot read as numbers.
struct ValuesArray {
    py::array_t<double, py::array::c_style | py::array::forcecast> array;
};

/// The elements of `values`.
std::span<const double> values_of(const ValuesArray& values);

/// The type of `zel.STDOUT`, the default of every `output=` argument.
struct StandardOutputMarker {};

/// The sink behind an `output=` argument: None discards every message; zel.STDOUT writes each
/// to the `sys.stdout` of the moment of writing; any other object is called with each message
/// (a str, line feeds included). Writes take the GIL; what the callable raises propagates out
/// of the library call that printed. Build and destroy it with the GIL held.
class PythonOutput final : public OutputSink {
  public:
    explicit PythonOutput(py::object output);

    void write(std::string_view message) override;

  private:
    py::object callback_;
    bool discard_ = false;
    bool to_stdout_ = false;
};

/// A Python `str` of the UTF-8 `text`; undecodable bytes become backslash escapes.
py::str to_str(std::string_view text);

void bind_errors(py::module_& m);
void bind_circuit(py::module_& m);
void bind_state(py::module_& m);
void bind_observable(py::module_& m);
void bind_search(py::module_& m);
void bind_bench(py::module_& m);
/// read_open_qasm, QasmProgram, run_shots and the export of a program (needs bind_circuit).
void bind_qasm_programs(py::module_& m);
/// The submodule zel.chem (needs the error classes of `bind_errors`).
void bind_chem(py::module_& m);

/// zel.chem.adapt_vqe and zel.chem.uccsd, added to the submodule `chem` made by `bind_chem`.
void bind_vqe(py::module_& chem);

}  // namespace zel::python

namespace zel::python {

/// Throws TypeError when `source` is an instance of the bound class `type` whose C++ object was
/// never built: made by `Cls.__new__(Cls)` without `__init__`, or left so by an `__init__` that
/// raised. pybind11 would hand such an instance's methods freshly allocated, unbuilt memory.
void require_built(py::handle source, const py::detail::type_info* type);

/// Throws ValueError when `source` is a NumPy array of other than one dimension (qubit lists,
/// parameter lists): pybind11 would read a 2-D array row by row.
void require_one_dimensional(py::handle source);

/// pybind11's caster for a bound class, refusing instances whose object was never built.
template <class T>
class BuiltInstanceCaster : public py::detail::type_caster_base<T> {
  public:
    bool load(py::handle source, bool convert) {
        require_built(source, this->typeinfo);
        return py::detail::type_caster_base<T>::load(source, convert);
    }
};

}  // namespace zel::python

namespace pybind11::detail {

// Every class and enum the module binds loads through BuiltInstanceCaster.
template <>
class type_caster<zel::ZarnikState> : public zel::python::BuiltInstanceCaster<zel::ZarnikState> {};
template <>
class type_caster<zel::ZarnikGraph> : public zel::python::BuiltInstanceCaster<zel::ZarnikGraph> {};
template <>
class type_caster<zel::FusedCircuit> : public zel::python::BuiltInstanceCaster<zel::FusedCircuit> {
};
template <>
class type_caster<zel::Operation> : public zel::python::BuiltInstanceCaster<zel::Operation> {};
template <>
class type_caster<zel::GateType> : public zel::python::BuiltInstanceCaster<zel::GateType> {};
template <>
class type_caster<zel::GateKind> : public zel::python::BuiltInstanceCaster<zel::GateKind> {};
template <>
class type_caster<zel::GateInfo> : public zel::python::BuiltInstanceCaster<zel::GateInfo> {};
template <>
class type_caster<zel::Finding> : public zel::python::BuiltInstanceCaster<zel::Finding> {};
template <>
class type_caster<zel::ValidationIssue>
    : public zel::python::BuiltInstanceCaster<zel::ValidationIssue> {};
template <>
class type_caster<zel::Pauli> : public zel::python::BuiltInstanceCaster<zel::Pauli> {};
template <>
class type_caster<zel::PauliFactor> : public zel::python::BuiltInstanceCaster<zel::PauliFactor> {};
template <>
class type_caster<zel::PauliTerm> : public zel::python::BuiltInstanceCaster<zel::PauliTerm> {};
template <>
class type_caster<zel::PauliSum> : public zel::python::BuiltInstanceCaster<zel::PauliSum> {};
template <>
class type_caster<zel::GroundState> : public zel::python::BuiltInstanceCaster<zel::GroundState> {};
template <>
class type_caster<zel::random::Generator>
    : public zel::python::BuiltInstanceCaster<zel::random::Generator> {};
template <>
class type_caster<zel::Telemetry> : public zel::python::BuiltInstanceCaster<zel::Telemetry> {};
template <>
class type_caster<zel::AddGate> : public zel::python::BuiltInstanceCaster<zel::AddGate> {};
template <>
class type_caster<zel::RemoveGate> : public zel::python::BuiltInstanceCaster<zel::RemoveGate> {};
template <>
class type_caster<zel::NoChange> : public zel::python::BuiltInstanceCaster<zel::NoChange> {};
template <>
class type_caster<zel::Converged> : public zel::python::BuiltInstanceCaster<zel::Converged> {};
template <>
class type_caster<zel::NeuralZarnikBrain>
    : public zel::python::BuiltInstanceCaster<zel::NeuralZarnikBrain> {};
template <>
class type_caster<zel::LoopResult> : public zel::python::BuiltInstanceCaster<zel::LoopResult> {};
template <>
class type_caster<zel::python::StandardOutputMarker>
    : public zel::python::BuiltInstanceCaster<zel::python::StandardOutputMarker> {};

template <>
struct type_caster<zel::python::ValuesArray> {
    PYBIND11_TYPE_CASTER(zel::python::ValuesArray, const_name("numpy.ndarray[numpy.float64]"));

    bool load(handle source, bool convert);

    static handle cast(const zel::python::ValuesArray& values, return_value_policy, handle) {
        return values.array.inc_ref();
    }
};

template <class T>
struct type_caster<zel::python::SmallList<T>> {
    using List = zel::python::SmallList<T>;
    PYBIND11_TYPE_CASTER(List, const_name("List[") + make_caster<T>::name + const_name("]"));

    bool load(handle source, bool convert) {
        zel::python::require_one_dimensional(source);
        if (PyList_Check(source.ptr()) || PyTuple_Check(source.ptr())) {
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(source.ptr());
            if (static_cast<std::size_t>(size) <= List::INLINE) {
                PyObject** items = PySequence_Fast_ITEMS(source.ptr());
                for (Py_ssize_t i = 0; i < size; ++i) {
                    make_caster<T> element;
                    if (!element.load(items[i], convert)) {
                        return false;
                    }
                    value.inline_data()[i] = cast_op<T>(element);
                }
                value.assign_inline(static_cast<std::size_t>(size));
                return true;
            }
        }
        make_caster<std::vector<T>> values;
        if (!values.load(source, convert)) {
            return false;
        }
        value.assign(cast_op<std::vector<T>&&>(std::move(values)));
        return true;
    }

    static handle cast(const List& list, return_value_policy policy, handle parent) {
        const std::span<const T> elements = list.span();
        return make_caster<std::vector<T>>::cast(std::vector<T>(elements.begin(), elements.end()),
                                                 policy, parent);
    }
};

}  // namespace pybind11::detail
