"""Circuits survive pickling bit for bit (for multiprocessing), and a fused circuit runs to the
same state as the circuit gate by gate."""

import math
import pickle
import re
import struct

import numpy as np
import pytest

import zel


def every_kind():
    """One operation of each gate kind on qubits of a 4-qubit register, with parameters whose
    bits a decimal round trip would not keep."""
    ops = []
    for info in zel.GATE_TABLE:
        if info.variable_qubits:
            continue
        qubits = [2, 0, 3][: info.arity]
        params = [0.1 + math.pi * (j + 1) / 7 for j in range(info.param_count)]
        if info.has_angle:
            ops.append(zel.Operation(zel.GateType(info.kind, params[0]), qubits, params))
        elif info.kind.value < zel.ORIGINAL_KIND_COUNT:
            ops.append(zel.Operation(zel.GateType.of(info.kind), qubits))
        else:
            ops.append(zel.make_operation(info.kind, qubits, params))
    ops.append(zel.pauli_rotation("XYZ", [3, 1, 0], 0.7))
    c, s = math.cos(0.4), math.sin(0.4)
    ops.append(zel.unitary([1, 3], [c, -1j * s, 0, 0, -1j * s, c, 0, 0, 0, 0, c, s, 0, 0, -s, c]))
    return ops


def odd_bits(op):
    """`op` with a NaN carrying a payload, a negative zero and a subnormal among its values."""
    nan = struct.unpack("<d", struct.pack("<Q", 0x7FF8_0000_0000_BEEF))[0]
    op.params = [nan, -0.0, 5e-324]
    op.gate = zel.GateType(op.gate.kind, -0.0)
    return op


def bits(values):
    return [struct.pack("<d", v) for v in values]


@pytest.mark.parametrize("op", every_kind(), ids=lambda op: op.gate.kind.name)
def test_operations_round_trip_exactly(op):
    restored = pickle.loads(pickle.dumps(op))
    assert restored == op
    assert bits(restored.params) == bits(op.params)
    assert restored.pauli == op.pauli and restored.matrix == op.matrix
    assert pickle.loads(pickle.dumps(op.gate)) == op.gate


def test_a_circuit_round_trips_exactly_every_bit_included():
    odd = odd_bits(zel.Operation(zel.GateType.rx(1.0), [1]))
    circuit = zel.ZarnikGraph(4, every_kind() + [odd])
    restored = pickle.loads(pickle.dumps(circuit, protocol=pickle.HIGHEST_PROTOCOL))
    assert restored.num_qubits == 4 and len(restored) == len(circuit)
    for a, b in zip(restored, circuit):
        assert bits(a.params) == bits(b.params)
        assert bits([a.gate.angle]) == bits([b.gate.angle])
        assert (a.gate.kind, a.qubits) == (b.gate.kind, b.qubits)
        assert (a.pauli, a.matrix) == (b.pauli, b.matrix)
    assert pickle.loads(pickle.dumps(zel.ZarnikGraph(3))) == zel.ZarnikGraph(3)
    assert pickle.loads(pickle.dumps(zel.GateKind.CSWAP)) == zel.GateKind.CSWAP


def operation_state():
    return zel.Operation(zel.GateType.rx(0.5), [1], [0.5]).__getstate__()


@pytest.mark.parametrize(
    "cls, state, message",
    [
        (zel.GateType, (3,), "GateType must be a tuple (kind, angle) of 2 items, not 1"),
        (zel.GateType, (99, struct.pack("<d", 0.0)), "kind 99 is not a gate kind"),
        (zel.GateType, (1, 0.5), "angle must be bytes, not float"),
        (zel.GateType, (1, b"\0" * 4), "angle must be a multiple of 8 bytes long, not 4"),
        (zel.Operation, operation_state()[:5], "of 6 items, not 5"),
        (zel.Operation, ("RX",) + operation_state()[1:], "kind must be an int"),
        (zel.Operation, operation_state()[:2] + ([1],) + operation_state()[3:],
         "qubits must be a tuple of ints"),
        (zel.Operation, operation_state()[:2] + ((-1,),) + operation_state()[3:], "qubit"),
        (zel.Operation, operation_state()[:3] + (b"\0" * 9,) + operation_state()[4:],
         "params must be a multiple of 8 bytes long, not 9"),
        (zel.Operation, operation_state()[:4] + (b"X",) + operation_state()[5:],
         "Pauli string must be a str"),
        (zel.Operation, operation_state()[:5] + (b"\0" * 8,), "matrix must be a multiple of 16"),
        (zel.ZarnikGraph, (2,), "ZarnikGraph must be a tuple (num_qubits, operations)"),
        (zel.ZarnikGraph, (2, [operation_state()]), "operations must be a tuple"),
        (zel.ZarnikGraph, (2, (operation_state(), (1,))), "operation 1 must be a tuple"),
    ],
)
def test_a_malformed_pickle_is_refused_by_name(cls, state, message):
    obj = cls.__new__(cls)
    with pytest.raises(ValueError, match=re.escape(message)):
        obj.__setstate__(state)


def test_fused_circuit_gives_the_circuit_state():
    n = 5
    rng = np.random.default_rng(7)
    circuit = zel.ZarnikGraph(n, every_kind())
    for _ in range(40):
        a, b = (int(q) for q in rng.choice(n, 2, replace=False))
        circuit.add_gate(zel.GateType.ry(float(rng.uniform(-3, 3))), [a])
        circuit.add_gate(zel.GateType.of(zel.GateKind.CX), [a, b])
        circuit.add_gate(zel.GateType.rz(float(rng.uniform(-3, 3))), [b])
    exact = zel.ZarnikState(n)
    zel.apply_circuit(exact, circuit)
    for width in (2, 4, zel.MAX_FUSED_QUBITS):
        fused = zel.fuse(circuit, n, width)
        assert fused.num_qubits == n and fused.source_gates == len(circuit)
        assert 0 < fused.block_count <= fused.step_count < len(circuit)
        assert repr(fused).startswith(f"FusedCircuit(num_qubits={n}, source_gates={len(circuit)}")
        state = zel.ZarnikState(n)
        zel.apply_fused(state, fused)
        np.testing.assert_allclose(state.amplitudes, exact.amplitudes, rtol=0, atol=1e-12)


def test_fusion_refuses_before_changing_anything():
    circuit = zel.ZarnikGraph(3)
    circuit.add_gate(zel.GateType.of(zel.GateKind.H), [0])
    fused = zel.fuse(circuit, 3)
    state = zel.ZarnikState(2)
    before = state.amplitudes.copy()
    with pytest.raises(zel.InvalidArgument):
        zel.apply_fused(state, fused)
    np.testing.assert_array_equal(state.amplitudes, before)
    bad = zel.ZarnikGraph(3)
    bad.add_gate(zel.GateType.of(zel.GateKind.CX), [0])
    with pytest.raises(zel.Error):
        zel.fuse(bad, 3)
    with pytest.raises(TypeError):
        zel.apply_fused(zel.ZarnikState(3), zel.FusedCircuit.__new__(zel.FusedCircuit))
    with pytest.raises(TypeError):
        pickle.dumps(fused)
