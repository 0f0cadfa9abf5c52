// The extension module zel._zel: the shared helpers of bindings.hpp, the thread count, the
// float texts, and the order in which the binding files register their types.

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "zel/core/cancel.hpp"
#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/parallel.hpp"

#include "bindings.hpp"

namespace zel::python {
namespace {

/// Most decimals `format_fixed` accepts: a double's exact expansion has at most 1074 digits
/// after the point, so more add only zeros (and a huge count would ask for that many bytes).
constexpr int MAX_FIXED_DECIMALS = 1100;

constexpr const char* MODULE_DOC = R"(The compiled part of the zel package; import `zel` instead.

Everything here is re-exported by `zel`, whose docstring gives the overview.)";

void bind_parallel(py::module_& m) {
    m.def("thread_count", &parallel::thread_count,
          "Number of threads that parallel work on large states runs on, the calling thread "
          "included, in [1, MAX_THREADS]. The default is one per CPU available to the process, "
          "or the RAYON_NUM_THREADS environment variable when set.");
    m.def(
        "set_thread_count",
        [](const py::object& value) {
            if (py::isinstance<py::int_>(value) && value.cast<py::int_>() < py::int_(0)) {
                throw py::value_error("the thread count must not be negative, not " +
                                      std::string(py::str(value)));
            }
            const std::uint64_t count = unsigned_argument(value, "the thread count");
            // Waits for long work running on other Python threads: the count must not change
            // during parallel work.
            run_released(true, [count] {
                parallel::set_thread_count(static_cast<std::size_t>(
                    std::min<std::uint64_t>(count, parallel::MAX_THREADS)));
            });
        },
        py::arg("count"),
        "Sets the number of threads for parallel work, clamped to MAX_THREADS; 0 restores the "
        "default. Results are the same bits for every count. `count` is an int or a NumPy "
        "integer; raises ValueError for a negative count or one of 2**64 or more, TypeError "
        "for other types.");
    m.attr("MAX_THREADS") = parallel::MAX_THREADS;
}

void bind_float_text(py::module_& m) {
    m.def("format_float_debug", &format_float_debug, py::arg("value"),
          "The general debug text of a float, as in gate names (\"1.0\", \"0.5\", \"1e-5\", "
          "\"NaN\", \"inf\"): positional for 0 and magnitudes in [1e-4, 1e16), else scientific "
          "with the shortest mantissa.");
    m.def("format_float_plain", &format_float_plain, py::arg("value"),
          "The shortest digits that read back as `value`, positional, never an exponent, no "
          "point for whole numbers (\"0.5\", \"1\", \"-0\").");
    m.def(
        "format_fixed",
        [](double value, int decimals) {
            if (decimals < 0 || decimals > MAX_FIXED_DECIMALS) {
                throw py::value_error("decimals must be in [0, " +
                                      std::to_string(MAX_FIXED_DECIMALS) + "], not " +
                                      std::to_string(decimals));
            }
            return format_fixed(value, decimals);
        },
        py::arg("value"), py::arg("decimals"),
        "`value` with exactly `decimals` digits after the point, rounded half to even on the "
        "exact binary value, as the search loop prints energies (\"-1.063653\" for 6). Raises "
        "ValueError unless 0 <= decimals <= 1100.");
}

}  // namespace

void LibraryLock::lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (holds_ > 0 && owner_ == self) {
        ++holds_;
        return;
    }
    free_.wait(guard, [this] {
        return holds_ == 0;
    });
    owner_ = self;
    holds_ = 1;
}

void LibraryLock::unlock() {
    const std::lock_guard<std::mutex> guard(mutex_);
    if (--holds_ == 0) {
        owner_ = std::thread::id();
        free_.notify_one();
    }
}

std::size_t LibraryLock::release_all() {
    const std::lock_guard<std::mutex> guard(mutex_);
    if (holds_ == 0 || owner_ != std::this_thread::get_id()) {
        return 0;
    }
    const std::size_t holds = holds_;
    holds_ = 0;
    owner_ = std::thread::id();
    free_.notify_one();
    return holds;
}

void LibraryLock::restore(std::size_t holds) {
    if (holds == 0) {
        return;
    }
    std::unique_lock<std::mutex> guard(mutex_);
    free_.wait(guard, [this] {
        return holds_ == 0;
    });
    owner_ = std::this_thread::get_id();
    holds_ = holds;
}

LibraryLock& library_lock() noexcept {
    static LibraryLock lock;
    return lock;
}

PythonCallback::PythonCallback() : holds_(library_lock().release_all()) {
    gil_.emplace();
}

PythonCallback::~PythonCallback() {
    gil_.reset();
    library_lock().restore(holds_);
}

namespace {

// Python's SIGINT handler as it was when ours was put in front of it. Written only while ours
// is not installed, read by ours.
struct sigaction python_sigint {};

// Calls that run under an InterruptWatch right now, on any thread.
std::atomic<std::size_t> watched_calls{0};

// Cancels only while watched calls run: between them Python's handler does all, and a request
// left standing would stop the next call of any size.
void on_sigint(int signal, siginfo_t* info, void* context) {
    if (watched_calls.load() > 0) {
        request_cancel();
    }
    if ((python_sigint.sa_flags & SA_SIGINFO) != 0) {
        python_sigint.sa_sigaction(signal, info, context);
    } else if (python_sigint.sa_handler != SIG_DFL && python_sigint.sa_handler != SIG_IGN) {
        python_sigint.sa_handler(signal);
    }
}

// Puts on_sigint in front of the SIGINT handler that is installed, unless it is there already
// or the handler is the default or ignore disposition (then Ctrl-C does not reach Python
// either). Python's signal.signal() replaces it; the next watched call puts it back.
void chain_sigint() {
    struct sigaction current {};
    if (::sigaction(SIGINT, nullptr, &current) != 0) {
        return;
    }
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == &on_sigint) {
        return;
    }
    if ((current.sa_flags & SA_SIGINFO) == 0 &&
        (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)) {
        return;
    }
    python_sigint = current;
    struct sigaction ours = current;
    ours.sa_sigaction = &on_sigint;
    ours.sa_flags = current.sa_flags | SA_SIGINFO;
    ::sigaction(SIGINT, &ours, nullptr);
}

}  // namespace

InterruptWatch::InterruptWatch() {
    chain_sigint();
    if (PyErr_CheckSignals() != 0) {
        throw py::error_already_set();
    }
    watched_calls.fetch_add(1);
}

InterruptWatch::~InterruptWatch() {
    // The last watched call to end withdraws the request, which has stopped every call it was
    // meant for.
    if (watched_calls.fetch_sub(1) == 1) {
        clear_cancel();
    }
}

void InterruptWatch::interrupted() {
    if (PyErr_CheckSignals() != 0) {
        throw py::error_already_set();
    }
}

std::uint64_t unsigned_argument(const py::handle& value, const char* what) {
    if (PyBool_Check(value.ptr()) || PyIndex_Check(value.ptr()) == 0) {
        throw py::type_error(std::string(what) + " must be an int, not " +
                             std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    }
    const py::int_ integer = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!integer) {
        throw py::error_already_set();
    }
    const unsigned long long result = PyLong_AsUnsignedLongLong(integer.ptr());
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
        PyErr_Clear();
        throw py::value_error(std::string(what) + " must be in [0, 2**64), not " +
                              std::string(py::str(static_cast<py::handle>(integer))));
    }
    return result;
}

void require_one_dimensional(py::handle source) {
    if (py::isinstance<py::array>(source)) {
        const auto dimensions = py::reinterpret_borrow<py::array>(source).ndim();
        if (dimensions != 1) {
            throw py::value_error("a list of qubits or values must be one-dimensional, not a " +
                                  std::to_string(dimensions) + "-dimensional array");
        }
    }
}

GateKind checked_kind(GateKind kind) {
    const auto value = static_cast<std::uint64_t>(kind);
    if (value >= GATE_KIND_COUNT) {
        throw py::value_error("GateKind(" + std::to_string(value) +
                              ") is not a gate kind; the kinds are 0 to " +
                              std::to_string(GATE_KIND_COUNT - 1));
    }
    return kind;
}

Pauli checked_pauli(Pauli kind) {
    const auto value = static_cast<unsigned>(kind);
    if (value > static_cast<unsigned>(Pauli::Z)) {
        throw py::value_error("Pauli(" + std::to_string(value) +
                              ") is not a Pauli kind; the kinds are 0 to 3 (I, X, Y, Z)");
    }
    return kind;
}

void require_built(py::handle source, const py::detail::type_info* type) {
    if (type == nullptr || !source || PyObject_TypeCheck(source.ptr(), type->type) == 0) {
        return;
    }
    auto* instance = reinterpret_cast<py::detail::instance*>(source.ptr());
    const py::detail::value_and_holder held = instance->get_value_and_holder(type, false);
    if (held.inst != nullptr && held.value_ptr() == nullptr) {
        throw py::type_error(std::string(type->type->tp_name) +
                             " object was never initialised: its __init__ did not run or failed");
    }
}

std::span<const double> values_of(const ValuesArray& values) {
    return {values.array.data(), static_cast<std::size_t>(values.array.shape(0))};
}

py::str to_str(std::string_view text) {
    PyObject* str =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
    if (str == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(str);
}

PythonOutput::PythonOutput(py::object output) {
    if (output.is_none()) {
        discard_ = true;
    } else if (py::isinstance<StandardOutputMarker>(output)) {
        to_stdout_ = true;
    } else if (PyCallable_Check(output.ptr()) == 0) {
        throw py::type_error("output must be None, zel.STDOUT or a callable taking a str, not " +
                             std::string(py::str(py::type::handle_of(output).attr("__name__"))));
    } else {
        callback_ = std::move(output);
    }
}

void PythonOutput::write(std::string_view message) {
    if (discard_) {
        return;
    }
    const PythonCallback callback;
    py::str text = to_str(message);
    if (to_stdout_) {
        py::module_::import("sys").attr("stdout").attr("write")(text);
    } else {
        callback_(text);
    }
}

}  // namespace zel::python

namespace pybind11::detail {

bool type_caster<zel::python::ValuesArray>::load(handle source, bool) {
    zel::python::require_one_dimensional(source);
    const object numpy = module_::import("numpy");
    const array raw = numpy.attr("asarray")(source);
    const char kind = raw.dtype().kind();
    if (kind == 'c') {
        throw value_error("parameter values must be real numbers, not complex");
    }
    if (kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f') {
        throw type_error("parameter values must be numbers, not an array of dtype " +
                         std::string(str(raw.dtype())));
    }
    if (raw.ndim() != 1) {
        throw value_error("parameter values must be one-dimensional, not " +
                          std::to_string(raw.ndim()) + "-dimensional");
    }
    value.array = array_t<double, array::c_style | array::forcecast>::ensure(raw);
    if (!value.array) {
        throw error_already_set();
    }
    return true;
}

}  // namespace pybind11::detail

PYBIND11_MODULE(_zel, m) {
    namespace py = pybind11;
    using namespace zel::python;

    m.doc() = MODULE_DOC;
    // Types and functions created below take their __module__ from the module's name: they are
    // used as zel.X, so name them that way (pickle, repr and the docstrings' signatures).
    const py::object own_name = m.attr("__name__");
    m.attr("__name__") = "zel";

    py::class_<StandardOutputMarker>(m, "_StandardOutput",
                                     "Type of zel.STDOUT, the default of every `output=` "
                                     "argument: messages go to the current sys.stdout.")
        .def("__repr__", [](const StandardOutputMarker&) {
            return "zel.STDOUT";
        });
    m.attr("STDOUT") = StandardOutputMarker{};

    bind_errors(m);
    bind_circuit(m);
    bind_qasm_programs(m);
    bind_state(m);
    bind_observable(m);
    bind_search(m);
    bind_chem(m);
    {
        py::module_ chem = m.attr("chem");
        bind_vqe(chem);
    }
    bind_parallel(m);
    bind_float_text(m);

    py::module_ bench =
        m.def_submodule("_bench",
                        "C++ loops that time library calls without Python in between, for "
                        "python/bench/overhead.py; not part of the API.");
    bind_bench(bench);

    m.attr("RELEASE_GIL_FROM_QUBITS") = RELEASE_GIL_FROM_QUBITS;
    m.attr("__version__") = ZEL_VERSION;
    m.attr("__name__") = own_name;
}
