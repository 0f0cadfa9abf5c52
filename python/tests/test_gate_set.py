"""The whole gate set from Python, driven by GATE_TABLE: every kind from U on against its row's
matrix on a random state, kind times inverse, Pauli rotations and unitaries with their payload,
and the strict checks."""

import copy

import numpy as np
import pytest
import zel

N = 4
SEED = 20


def new_kinds():
    return [info for info in zel.GATE_TABLE[zel.ORIGINAL_KIND_COUNT:]]


def sample(info):
    """An operation of a fixed-arity kind on qubits 2, 0, 3 (as many as it takes)."""
    qubits = [2, 0, 3][: info.arity]
    params = [0.3 + 0.4 * j for j in range(info.param_count)]
    return zel.make_operation(info.kind, qubits, params)


def samples():
    for info in new_kinds():
        if info.variable_qubits:
            continue
        yield pytest.param(sample(info), id=info.name)
    yield pytest.param(zel.pauli_rotation("XYZ", [3, 1, 0], 0.7), id="PAULI_ROTATION")
    c, s = np.cos(0.4), np.sin(0.4)
    matrix = [c, -1j * s, 0, 0, -1j * s, c, 0, 0, 0, 0, c, s, 0, 0, -s, c]
    yield pytest.param(zel.unitary([1, 3], matrix), id="UNITARY")


def random_state(n, seed):
    rng = np.random.default_rng(seed)
    v = rng.normal(size=2**n) + 1j * rng.normal(size=2**n)
    return v / np.linalg.norm(v)


def embedded(local, qubits, v):
    """`local` (row-major, local bit j on qubits[j]) applied to the vector v."""
    k = len(qubits)
    m = np.array(local, dtype=complex).reshape(2**k, 2**k)
    out = np.zeros_like(v)
    for col in range(len(v)):
        lc = sum(((col >> q) & 1) << j for j, q in enumerate(qubits))
        rest = col & ~sum(1 << q for q in qubits)
        for lr in range(2**k):
            row = rest | sum(((lr >> j) & 1) << q for j, q in enumerate(qubits))
            out[row] += m[lr, lc] * v[col]
    return out


def run(op, v):
    circuit = zel.ZarnikGraph(N)
    circuit.add(op)
    state = zel.ZarnikState.from_amplitudes(v)
    zel.apply_circuit(state, circuit)
    return np.array(state.amplitudes)


def test_the_table_describes_every_kind():
    assert len(zel.GATE_TABLE) == zel.GATE_KIND_COUNT
    for info in new_kinds():
        assert info.name in zel.GateKind.__members__
        assert zel.gate_info(info.kind).qasm == info.qasm


@pytest.mark.parametrize("op", samples())
def test_kernel_matches_the_row_matrix(op):
    v = random_state(N, SEED)
    if op.qubits:
        expected = embedded(zel.operation_matrix(op), list(op.qubits), v)
    else:
        expected = v * np.exp(1j * op.params[0])
    assert np.allclose(run(op, v), expected, atol=1e-12, rtol=0)


@pytest.mark.parametrize("op", samples())
def test_kind_times_inverse_is_identity(op):
    v = random_state(N, SEED + 1)
    state = zel.ZarnikState.from_amplitudes(v)
    zel.apply_operation(state, op)
    zel.apply_operation(state, zel.inverse(op))
    assert np.allclose(state.amplitudes, v, atol=1e-12, rtol=0)


def test_payload_is_copied_deeply():
    op = zel.pauli_rotation("XY", [0, 1], 0.5)
    circuit = zel.ZarnikGraph(2, [op])
    clone = copy.deepcopy(circuit)
    op.pauli = "ZZ"
    assert clone[0].pauli == "XY"
    assert circuit[0].pauli == "XY"


@pytest.mark.parametrize(
    "op, message",
    [
        (zel.make_operation(zel.GateKind.CCX, [0, 1, 4]),
         "CCX: qubit 4 is not below the register's 4 qubits"),
        (zel.make_operation(zel.GateKind.CRX, [1, 1], [0.5]), "CRX: qubit 1 appears twice"),
        (zel.make_operation(zel.GateKind.U, [0], [0.5]), "U: takes 3 parameters, got 1"),
        (zel.pauli_rotation("XW", [0, 1], 0.5),
         "PAULI_ROTATION: letter 1 of the Pauli string is not one of I, X, Y, Z"),
        (zel.unitary([0], [1, 1, 0, 1]),
         "UNITARY: the matrix is not unitary: entry (0, 1) of M^dagger M is off by 1.0, more than "
         "1e-12"),
    ],
)
def test_strict_checks_raise_before_any_change(op, message):
    v = random_state(N, SEED + 2)
    state = zel.ZarnikState.from_amplitudes(v)
    with pytest.raises(zel.InvalidArgument) as caught:
        zel.apply_operation(state, op)
    assert str(caught.value) == message
    assert np.array_equal(state.amplitudes, v)


@pytest.mark.parametrize("op", samples())
def test_prepared_operation_gives_the_same_bits(op):
    v = random_state(N, SEED + 3)
    direct = zel.ZarnikState.from_amplitudes(v)
    zel.apply_operation(direct, op)
    prepared = zel.PreparedOperation(op, N)
    assert prepared.num_qubits == N and prepared.operation == op
    state = zel.ZarnikState.from_amplitudes(v)
    zel.apply_operation(state, prepared)
    assert np.array(state.amplitudes).tobytes() == np.array(direct.amplitudes).tobytes()


def test_prepared_operation_refuses_as_applying_does():
    with pytest.raises(zel.InvalidArgument, match="^CRX: qubit 1 appears twice$"):
        zel.PreparedOperation(zel.make_operation(zel.GateKind.CRX, [1, 1], [0.5]), N)
    prepared = zel.PreparedOperation(zel.make_operation(zel.GateKind.H, [0]), N)
    v = random_state(N - 1, SEED + 4)
    state = zel.ZarnikState.from_amplitudes(v)
    with pytest.raises(zel.InvalidArgument) as caught:
        zel.apply_operation(state, prepared)
    assert str(caught.value) == "H: prepared for a register of 4 qubits, applied to one of 3"
    assert np.array_equal(state.amplitudes, v)
