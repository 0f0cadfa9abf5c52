"""Excitations as single operations from Python: the native kinds against exp(theta A) of the
ladder-operator product, their parity qubits, gradients through the generator, and refusals."""

import itertools

import numpy as np
import pytest
import zel

N = 5


def ladder(n, mode, create):
    """a_mode (or its adjoint) under Jordan-Wigner on n qubits: Z below `mode`, then |0><1|."""
    d = 2**n
    m = np.zeros((d, d))
    for col in range(d):
        if ((col >> mode) & 1) == (0 if create else 1):
            sign = (-1) ** bin(col & ((1 << mode) - 1)).count("1")
            m[col ^ (1 << mode), col] = sign
    return m


def excitation_unitary(n, source, target, theta):
    """exp(theta (T - T^dagger)) for T = a^dagger_target... a_source... (reversed) as a matrix."""
    t = np.eye(2**n)
    for mode in source:
        t = ladder(n, mode, False) @ t
    for mode in reversed(target):
        t = ladder(n, mode, True) @ t
    a = t - t.T
    return np.eye(2**n) + np.sin(theta) * a + (1 - np.cos(theta)) * (a @ a)


def state_of(ops, v):
    circuit = zel.ZarnikGraph(N)
    for op in ops:
        circuit.add(op)
    state = zel.ZarnikState.from_amplitudes(v)
    zel.apply_circuit(state, circuit)
    return np.array(state.amplitudes)


def random_state(seed):
    rng = np.random.default_rng(seed)
    v = rng.normal(size=2**N) + 1j * rng.normal(size=2**N)
    return v / np.linalg.norm(v)


PLACEMENTS = [pytest.param(p[:1], p[1:], id=f"single{p}")
              for p in itertools.permutations(range(N), 2)] + [
    pytest.param(p[:2], p[2:], id=f"double{p}")
    for p in list(itertools.permutations(range(N), 4))[::7]]


@pytest.mark.parametrize("source, target", PLACEMENTS)
def test_fermionic_excitation_is_the_ladder_product(source, target):
    v = random_state(len(source) * 10 + source[0])
    op = zel.fermionic_excitation(list(source), list(target), 0.61)
    expected = excitation_unitary(N, source, target, 0.61) @ v
    assert np.allclose(state_of([op], v), expected, atol=1e-12, rtol=0)


def test_table_rows_and_parity_qubits():
    rows = {info.name: info for info in zel.GATE_TABLE}
    assert [(rows[k].orbitals, rows[k].parity_qubits) for k in
            ("FERMIONIC_SINGLE", "FERMIONIC_DOUBLE", "QUBIT_SINGLE", "QUBIT_DOUBLE")] == [
        (2, True), (4, True), (2, False), (4, False)]
    assert zel.excitation_parity_qubits([0, 5, 2, 3]) == [1, 4]
    assert [zel.excitation_sign(*pair) for pair in
            (([0, 1], [2, 3]), ([1, 0], [2, 3]), ([3], [0]))] == [1, -1, 1]
    assert list(zel.fermionic_excitation([3], [0], 0.2).qubits) == [3, 0, 1, 2]
    assert list(zel.qubit_excitation([3, 1], [0, 4], 0.2).qubits) == [3, 1, 0, 4]


def test_inverse_and_generator_come_from_the_table():
    op = zel.fermionic_excitation([0, 3], [1, 4], 0.4)
    v = random_state(3)
    assert np.allclose(state_of([op, zel.inverse(op)], v), v, atol=1e-12, rtol=0)
    k = len(op.qubits)
    g = np.array(zel.generator_matrix(op)).reshape(2**k, 2**k)
    assert np.allclose(g, g.conj().T)


@pytest.mark.parametrize("source, target, message", [
    ([0, 1], [2], "expected 1 or 2 orbitals in both 'from' and 'to', got 2 and 1"),
    ([0], [0], "orbital 0 appears twice"),
])
def test_malformed_excitations_are_refused(source, target, message):
    with pytest.raises(zel.InvalidArgument, match=message):
        zel.fermionic_excitation(source, target, 0.1)
