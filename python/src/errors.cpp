// The library's exceptions as Python exceptions. Each C++ type gets a Python class of the same
// name that also derives from the built-in kind a Python caller expects (IndexError,
// ValueError, OSError, MemoryError), so that `except IndexError` and `except zel.Error` both
// work; the message is the library's `what()`, the numbers are attributes.

#include <cstddef>
#include <exception>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>

#include "zel/core/error.hpp"

#include "bindings.hpp"

namespace zel::python {
namespace {

// The classes, created once when the module is imported and never released: the translator
// may run at any time while the interpreter lives.
struct ExceptionTypes {
    PyObject* error = nullptr;
    PyObject* index_out_of_bounds = nullptr;
    PyObject* state_index_out_of_bounds = nullptr;
    PyObject* invalid_layout = nullptr;
    PyObject* invalid_argument = nullptr;
    PyObject* parse_error = nullptr;
    PyObject* output_error = nullptr;
    PyObject* cancelled = nullptr;
    PyObject* allocation_error = nullptr;
};

ExceptionTypes types;

PyObject* add_type(py::module_& m, const char* name, const char* doc,
                   std::initializer_list<PyObject*> bases) {
    py::tuple base_tuple(bases.size());
    std::size_t i = 0;
    for (PyObject* base : bases) {
        base_tuple[i++] = py::reinterpret_borrow<py::object>(base);
    }
    const std::string qualified = std::string("zel.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base_tuple.ptr(), nullptr);
    if (type == nullptr) {
        throw py::error_already_set();
    }
    m.add_object(name, py::handle(type));
    return type;
}

using Field = std::pair<const char*, py::object>;

// Sets the pending Python exception to an instance of `type` whose one argument is `message`,
// with `fields` as attributes.
void set_error(PyObject* type, const char* message, std::initializer_list<Field> fields = {}) {
    py::object instance;
    try {
        instance = py::reinterpret_borrow<py::object>(type)(to_str(message));
        for (const auto& [name, value] : fields) {
            instance.attr(name) = value;
        }
    } catch (const py::error_already_set&) {
        // Building the instance failed (memory): raise the class with the message alone.
        PyErr_SetString(type, message);
        return;
    }
    PyErr_SetObject(type, instance.ptr());
}

py::object integer(std::uint64_t value) {
    return py::int_(value);
}

void translate(std::exception_ptr failure) {
    try {
        if (failure) {
            std::rethrow_exception(failure);
        }
    } catch (const ParseError& e) {
        set_error(types.parse_error, e.what(),
                  {{"line", integer(e.line())},
                   {"column", integer(e.column())},
                   {"offset", integer(e.offset())},
                   {"reason", to_str(e.reason())}});
    } catch (const InvalidArgument& e) {
        set_error(types.invalid_argument, e.what());
    } catch (const IndexOutOfBounds& e) {
        set_error(types.index_out_of_bounds, e.what(),
                  {{"len", integer(e.len())}, {"index", integer(e.index())}});
    } catch (const StateIndexOutOfBounds& e) {
        set_error(types.state_index_out_of_bounds, e.what(),
                  {{"index", integer(e.index())}, {"dimension", integer(e.dimension())}});
    } catch (const InvalidLayout& e) {
        set_error(types.invalid_layout, e.what(), {{"num_qubits", integer(e.num_qubits())}});
    } catch (const OutputError& e) {
        // errno as OSError has it; the message stays the library's, without an "[Errno n]".
        set_error(
            types.output_error, e.what(),
            {{"errno", py::int_(e.error_number())}, {"error_number", py::int_(e.error_number())}});
    } catch (const Cancelled& e) {
        set_error(types.cancelled, e.what());
    } catch (const Error& e) {
        set_error(types.error, e.what());
    } catch (const AllocationError& e) {
        set_error(types.allocation_error, e.what(), {{"bytes", integer(e.bytes())}});
    }
    // Anything else goes on to pybind11's own translators (std::bad_alloc to MemoryError,
    // std::out_of_range to IndexError, std::length_error and std::invalid_argument to
    // ValueError, other std::exception to RuntimeError).
}

}  // namespace

void bind_errors(py::module_& m) {
    types.error = add_type(m, "Error",
                           "Base of every precondition failure of the zel libraries (C++ "
                           "zel::Error). Its subclasses also derive from the built-in exception a "
                           "Python caller expects. str(error) is the library's message.",
                           {PyExc_Exception});
    types.index_out_of_bounds = add_type(
        m, "IndexOutOfBounds",
        "An index into an array of `len` elements that is not below `len`: a missing qubit "
        "entry of an operation, the partner amplitude of a gate or of a Pauli factor outside the "
        "state, an operation position beyond the gate count. Message: \"index out of bounds: the "
        "len is {len} but the index is {index}\". Attributes `len` and `index` (ints; an index "
        "without a 64-bit form is 2**64 - 1). An IndexError.",
        {types.error, PyExc_IndexError});
    types.state_index_out_of_bounds =
        add_type(m, "StateIndexOutOfBounds",
                 "A basis index at or beyond the state's dimension (\"Index out of bounds for "
                 "state vector\"). Attributes `index` and `dimension`. An IndexError.",
                 {types.error, PyExc_IndexError});
    types.invalid_layout = add_type(
        m, "InvalidLayout",
        "A qubit count whose amplitude buffer cannot be requested at all, above "
        "ZarnikState.MAX_QUBITS (\"Invalid layout: LayoutError\"). Attribute `num_qubits`. A "
        "ValueError.",
        {types.error, PyExc_ValueError});
    types.invalid_argument = add_type(
        m, "InvalidArgument",
        "An argument outside what a function accepts (sampling a state of norm 0, an inner "
        "product of states of different sizes, a ground state of too many qubits, ...); the "
        "message says which and why. A ValueError.",
        {types.error, PyExc_ValueError});
    types.parse_error = add_type(
        m, "ParseError",
        "Text that does not parse: a Pauli sum or an OpenQASM program. The message is "
        "\"position {offset}: {reason}\" for one-line texts and \"line {line}, column {column}: "
        "{reason}\" for programs. Attributes `line`, `column` (1-based, the column in bytes), "
        "`offset` (0-based byte offset) and `reason`. An InvalidArgument, so a ValueError.",
        {types.invalid_argument});
    types.output_error = add_type(
        m, "OutputError",
        "A failed write of library output by one of the C++ sinks (\"failed printing to "
        "{stream}: {error text}\"). Attributes `error_number` and `errno`. An OSError. Python "
        "output callables raise their own exceptions instead.",
        {types.error, PyExc_OSError});
    types.cancelled = add_type(
        m, "Cancelled",
        "A long call stopped because the libraries were asked to cancel (\"the call was "
        "cancelled\"). Ctrl-C during a call that runs without the GIL raises what the SIGINT "
        "handler raises, KeyboardInterrupt by default; this is raised instead when the handler "
        "raises nothing, and on threads other than the main one.",
        {types.error});
    types.allocation_error = add_type(
        m, "AllocationError",
        "Memory for an amplitude buffer could not be obtained (\"memory allocation of {bytes} "
        "bytes failed\"). Attribute `bytes`. A MemoryError, and like the C++ type (a "
        "std::bad_alloc) not a zel.Error.",
        {PyExc_MemoryError});
    py::register_exception_translator(&translate);
}

}  // namespace zel::python
