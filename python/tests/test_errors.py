"""Every library exception arrives as a Python exception of a fitting built-in kind, with the
library's message and its numbers as attributes; what the module itself checks raises the
plain built-in kinds. Nothing here may end the interpreter."""

import re

import numpy as np
import pytest

import zel

X = zel.GateType.of(zel.GateKind.X)
CX = zel.GateType.of(zel.GateKind.CX)


def apply(num_qubits, gate, qubits):
    zel.ZarnikState(num_qubits).apply_gate(gate, qubits)


def circuit_with(gate, qubits):
    circuit = zel.ZarnikGraph(2)
    circuit.add_gate_with_params(gate, qubits, [])
    return circuit


def remove_from_one_gate_circuit(index):
    circuit_with(X, [0]).remove_operation(index)


def with_x_factor_on(qubit):
    return zel.PauliSum([zel.PauliTerm(1.0, [(qubit, zel.Pauli.X)])])


# (call, zel class, built-in base, exact message, attributes)
LIBRARY_ERRORS = [
    pytest.param(
        lambda: apply(2, X, [2]), zel.IndexOutOfBounds, IndexError,
        "index out of bounds: the len is 4 but the index is 4", {"len": 4, "index": 4},
        id="gate beyond the state",
    ),
    pytest.param(
        lambda: apply(2, CX, [0]), zel.IndexOutOfBounds, IndexError,
        "index out of bounds: the len is 1 but the index is 1", {"len": 1, "index": 1},
        id="two-qubit gate with one qubit",
    ),
    pytest.param(
        lambda: apply(2, X, []), zel.IndexOutOfBounds, IndexError,
        "index out of bounds: the len is 0 but the index is 0", {"len": 0, "index": 0},
        id="gate without qubits",
    ),
    pytest.param(
        lambda: apply(2, X, [64]), zel.IndexOutOfBounds, IndexError,
        f"index out of bounds: the len is 4 but the index is {2**64 - 1}",
        {"len": 4, "index": 2**64 - 1},
        id="index without a 64-bit form",
    ),
    pytest.param(
        lambda: zel.apply_circuit(zel.ZarnikState(1), circuit_with(CX, [0, 1])),
        zel.IndexOutOfBounds, IndexError,
        "index out of bounds: the len is 2 but the index is 3", {"len": 2, "index": 3},
        id="apply_circuit",
    ),
    pytest.param(
        lambda: remove_from_one_gate_circuit(5), zel.IndexOutOfBounds, IndexError,
        "index out of bounds: the len is 1 but the index is 5", {"len": 1, "index": 5},
        id="remove_operation",
    ),
    pytest.param(
        lambda: zel.to_open_qasm(circuit_with(CX, [0])), zel.IndexOutOfBounds, IndexError,
        "index out of bounds: the len is 1 but the index is 1", {"len": 1, "index": 1},
        id="export of a short operation",
    ),
    pytest.param(
        lambda: with_x_factor_on(5).expectation_value(zel.ZarnikState(2)),
        zel.IndexOutOfBounds, IndexError,
        "index out of bounds: the len is 4 but the index is 32", {"len": 4, "index": 32},
        id="Pauli factor beyond the state",
    ),
    pytest.param(
        lambda: zel.ZarnikState(2).set_computational_basis(4), zel.StateIndexOutOfBounds,
        IndexError, "Index out of bounds for state vector", {"index": 4, "dimension": 4},
        id="basis index",
    ),
    pytest.param(
        lambda: zel.ZarnikState(59), zel.InvalidLayout, ValueError,
        "Invalid layout: LayoutError", {"num_qubits": 59},
        id="too many qubits",
    ),
    pytest.param(
        lambda: zel.inner_product(zel.ZarnikState(1), zel.ZarnikState(2)), zel.InvalidArgument,
        ValueError, None, {},
        id="inner product of different sizes",
    ),
    pytest.param(
        lambda: zel.sample(zel.ZarnikState.from_amplitudes([0, 0]), 3, 1), zel.InvalidArgument,
        ValueError, None, {},
        id="sampling a zero state",
    ),
    pytest.param(
        lambda: zel.ground_energy(zel.PauliSum.h2_hamiltonian(), 13), zel.InvalidArgument,
        ValueError, None, {},
        id="ground state of too many qubits",
    ),
    pytest.param(
        lambda: zel.parse_pauli_sum("X0 Q"), zel.ParseError, ValueError,
        "position 3: expected '+' or '-' between terms, found 'Q'",
        {"line": 1, "column": 4, "offset": 3,
         "reason": "expected '+' or '-' between terms, found 'Q'"},
        id="Pauli text",
    ),
    pytest.param(
        lambda: zel.from_open_qasm("OPENQASM 3.0;\nfoo q;\n"), zel.ParseError, ValueError,
        "line 2, column 1: unknown gate 'foo'",
        {"line": 2, "column": 1, "offset": 14, "reason": "unknown gate 'foo'"},
        id="OpenQASM program",
    ),
    pytest.param(
        lambda: zel.ZarnikState(53), zel.AllocationError, MemoryError,
        f"memory allocation of {16 << 53} bytes failed", {"bytes": 16 << 53},
        id="amplitude buffer",
    ),
]


@pytest.mark.parametrize("call, kind, builtin, message, attributes", LIBRARY_ERRORS)
def test_library_exceptions(call, kind, builtin, message, attributes):
    with pytest.raises(kind) as caught:
        call()
    error = caught.value
    assert isinstance(error, builtin)
    # AllocationError is a std::bad_alloc in C++, not a precondition failure.
    assert isinstance(error, zel.Error) == (kind is not zel.AllocationError)
    if message is not None:
        assert str(error) == message
        assert error.args == (message,)
    for name, value in attributes.items():
        assert getattr(error, name) == value


def test_output_error_is_an_oserror_with_the_library_message():
    # Python sinks raise their own exceptions; the class exists for the C++ sinks' failures.
    assert issubclass(zel.OutputError, OSError) and issubclass(zel.OutputError, zel.Error)


def two_dimensional_values():
    zel.set_parameters(zel.ZarnikGraph(1), np.zeros((2, 2)))


# Arguments the module checks before the library sees them: (call, exception, message pattern).
MODULE_CHECKS = [
    pytest.param(lambda: zel.GateType(zel.GateKind(99)), ValueError, r"GateKind\(99\)",
                 id="gate kind out of the table"),
    pytest.param(lambda: zel.GateType.of(zel.GateKind(zel.GATE_KIND_COUNT)), ValueError,
                 rf"GateKind\({zel.GATE_KIND_COUNT}\)", id="GateType.of"),
    pytest.param(lambda: setattr(zel.GateType.rx(1.0), "kind", zel.GateKind(40)), ValueError,
                 r"GateKind\(40\)", id="kind setter"),
    pytest.param(lambda: zel.gate_info(zel.GateKind(1000)), ValueError, r"GateKind\(1000\)",
                 id="gate_info"),
    pytest.param(lambda: zel.PauliFactor(0, zel.Pauli(7)), ValueError, r"Pauli\(7\)",
                 id="Pauli kind"),
    pytest.param(lambda: zel.PauliTerm(1.0, [(0, "X")]), TypeError, "",
                 id="factor tuple of the wrong types"),
    pytest.param(lambda: zel.ZarnikState.from_amplitudes([1, 0, 0]), ValueError,
                 "power of two, not 3", id="amplitudes not a power of two"),
    pytest.param(lambda: zel.ZarnikState.from_amplitudes([]), ValueError,
                 "power of two, not 0", id="no amplitudes"),
    pytest.param(lambda: zel.ZarnikState.from_amplitudes(np.zeros((2, 2))), ValueError,
                 "one-dimensional", id="amplitudes of two dimensions"),
    pytest.param(two_dimensional_values, ValueError, "one-dimensional",
                 id="parameter values of two dimensions"),
    pytest.param(lambda: zel.ZarnikGraph(1)[0], IndexError, "out of range",
                 id="circuit index"),
    pytest.param(lambda: zel.PauliSum()[-1], IndexError, "out of range", id="term index"),
    pytest.param(lambda: zel.set_thread_count(-1), ValueError, "negative",
                 id="negative thread count"),
    pytest.param(lambda: zel.format_fixed(1.0, -1), ValueError, "decimals", id="decimals"),
    pytest.param(lambda: zel.sample(zel.ZarnikState(1), 1, -1), ValueError, "seed",
                 id="negative seed"),
    pytest.param(lambda: zel.sample(zel.ZarnikState(1), 1, 2**64), ValueError, "seed",
                 id="seed beyond 64 bits"),
    pytest.param(lambda: zel.sample(zel.ZarnikState(1), 1, "7"), TypeError, "generator",
                 id="seed of the wrong type"),
    pytest.param(lambda: zel.ZarnikState(2).apply_gate(X, [-1]), TypeError, "",
                 id="negative qubit"),
    pytest.param(lambda: zel.sample(zel.ZarnikState(1), 2**58, 1), MemoryError, "",
                 id="shots beyond the memory"),
    pytest.param(lambda: zel.run_zarnik_loop(zel.ZarnikState(1), zel.ZarnikGraph(1),
                                             zel.PauliSum(), object(), output=None),
                 TypeError, "optimize_parameters", id="strategy without the methods"),
    pytest.param(lambda: zel.NeuralZarnikBrain(0, 0, 0, output=42), TypeError, "output",
                 id="output that is not callable"),
    pytest.param(lambda: zel.NeuralZarnikBrain(0, 0, 0, None).optimize_parameters(
                     zel.ZarnikGraph(1), 3.0), TypeError, "energy_fn", id="energy_fn not callable"),
]


@pytest.mark.parametrize("call, kind, pattern", MODULE_CHECKS)
def test_module_checks(call, kind, pattern):
    with pytest.raises(kind, match=re.compile(pattern)) as caught:
        call()
    assert not isinstance(caught.value, zel.Error)


def test_failed_calls_leave_the_state_unchanged():
    state = zel.ZarnikState(2)
    state.apply_gate(zel.GateType.of(zel.GateKind.H), [0])
    before = state.amplitudes.copy()
    circuit = zel.ZarnikGraph(2)
    circuit.add_gate(zel.GateType.of(zel.GateKind.H), [1])
    circuit.add_gate(X, [2])
    for call in (
        lambda: state.apply_gate(X, [2]),
        lambda: state.set_computational_basis(4),
        lambda: zel.apply_circuit(state, circuit),
    ):
        with pytest.raises(IndexError):
            call()
        assert np.array_equal(state.amplitudes, before)


# Instances made by Cls.__new__(Cls) without __init__, and a use of each.
UNBUILT = [
    pytest.param(zel.ZarnikState, lambda state: state.amplitudes, id="ZarnikState"),
    pytest.param(zel.ZarnikGraph, len, id="ZarnikGraph"),
    pytest.param(zel.PauliSum, lambda sum: sum.expectation_value(zel.ZarnikState(1)),
                 id="PauliSum"),
    pytest.param(zel.GateType, lambda gate: zel.ZarnikState(1).apply_gate(gate, [0]),
                 id="GateType"),
    pytest.param(zel.GateKind, zel.GateType, id="GateKind"),
    pytest.param(zel.EnergyFn, lambda energy_fn: energy_fn([0.0]), id="EnergyFn"),
    pytest.param(zel.Generator, lambda g: zel.sample(zel.ZarnikState(1), 1, g), id="Generator"),
    pytest.param(zel.NeuralZarnikBrain,
                 lambda brain: zel.run_zarnik_loop(zel.ZarnikState(1), zel.ZarnikGraph(1),
                                                   zel.PauliSum(), brain, output=None),
                 id="NeuralZarnikBrain"),
]


@pytest.mark.parametrize("cls, use", UNBUILT)
def test_an_instance_whose_init_never_ran_is_refused(cls, use):
    unbuilt = cls.__new__(cls)
    with pytest.raises(TypeError, match="never initialised"):
        use(unbuilt)


def test_an_instance_whose_init_failed_is_refused():
    state = zel.ZarnikState.__new__(zel.ZarnikState)
    with pytest.raises(zel.InvalidLayout):
        state.__init__(zel.ZarnikState.MAX_QUBITS + 1)
    with pytest.raises(TypeError, match="never initialised"):
        state.num_qubits
