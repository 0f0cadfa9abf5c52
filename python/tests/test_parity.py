"""The module gives the same bits as the C++ libraries called directly on the same inputs.

parity_reference.cpp prints its results; each test repeats one group of them through the
module. A difference means a conversion that loses or reorders something (qubit order,
parameter order, seeds, copies that change what a call sees), not a numerical tolerance.
"""

import math
import struct
import subprocess

import pytest

import zel
from conftest import Collect, ShiftRuleStrategy, ansatz, environment_path, random_state

# Inputs shared with parity_reference.cpp.
STATE_SEED = 11
GATE_ANGLE = 0.7
GATE_PARAM = -1.3
SUM_TEXT = "0.5 * X0 Z1 - 1.2 YY + 0.3 + 0.7 XIZ - 0.25 Y2 X0"
PROGRAM = (
    'OPENQASM 3.0;\ninclude "stdgates.inc";\nqubit[2] q;\nqubit r;\n'
    "h q[0];\ncx q[0], r;\nrz(pi / 3) q[1];\nry(-0.25 * tau) r;\nsdg q[1];\nswap q[1], r;\n"
)


def double_bits(value):
    return struct.unpack(">Q", struct.pack(">d", float(value)))[0]


@pytest.fixture(scope="module")
def reference():
    """The C++ results: key -> list of bit patterns, integers or one text."""
    output = subprocess.run(
        [environment_path("ZEL_PARITY_REFERENCE")], check=True, capture_output=True, text=True
    ).stdout
    results = {}
    for line in output.splitlines():
        key, kind, *values = line.split(" ")
        if kind == "f":
            results[key] = [int(v, 16) for v in values]
        elif kind == "u":
            results[key] = [int(v) for v in values]
        else:
            results[key] = bytes.fromhex(values[0] if values else "").decode("utf-8")
    return results


def amplitude_bits(state):
    parts = []
    for a in state.amplitudes:
        parts += [double_bits(a.real), double_bits(a.imag)]
    return parts


def circuit_records(key, circuit):
    shape = [circuit.num_qubits]
    numbers = []
    for op in circuit:
        shape += [int(op.gate.kind.value), len(op.qubits), *op.qubits, len(op.params)]
        numbers += [double_bits(op.gate.angle)] + [double_bits(p) for p in op.params]
    return {key + ".shape": shape, key + ".numbers": numbers}


def assert_same(reference, computed):
    for key, value in computed.items():
        assert key in reference, f"the C++ reference has no result {key}"
        assert value == reference[key], f"{key} differs from the C++ result"


def gate_cases():
    # The C++ reference records the fourteen original kinds, whose arithmetic is fixed.
    for info in zel.GATE_TABLE[:zel.ORIGINAL_KIND_COUNT]:
        if info.arity == 1:
            targets = [[a] for a in range(3)]
        else:
            targets = [[a, b] for a in range(3) for b in range(3) if a != b]
        for qubits in targets:
            yield pytest.param(info, qubits, id=".".join([info.name, *map(str, qubits)]))


@pytest.mark.parametrize("info, qubits", gate_cases())
def test_every_gate_kind_on_every_qubit_choice(reference, info, qubits):
    start = random_state(3, STATE_SEED)
    assert amplitude_bits(start) == reference["state.random"]
    key = "gate." + ".".join([info.name, *map(str, qubits)])
    gate = zel.GateType(info.kind, GATE_ANGLE)
    state = start.copy()
    state.apply_gate(gate, qubits)
    computed = {key: amplitude_bits(state)}
    if info.has_angle:
        with_param = start.copy()
        with_param.apply_gate(gate, qubits, [GATE_PARAM])
        computed[key + ".param"] = amplitude_bits(with_param)
    assert_same(reference, computed)


def test_observables_and_measurement(reference):
    state3 = random_state(3, STATE_SEED)
    state2 = random_state(2, STATE_SEED + 1)
    h2 = zel.PauliSum.h2_hamiltonian()
    parsed = zel.parse_pauli_sum(SUM_TEXT)
    hadamard = state3.copy()
    hadamard.apply_gate(zel.GateType.of(zel.GateKind.H), [1])
    inner = zel.inner_product(state3, hadamard)
    ground = zel.ground_state(parsed, 3)
    matrix = zel.dense_matrix(parsed, 3).reshape(-1)
    assert_same(
        reference,
        {
            "sum.text": zel.pauli_text(parsed),
            "expectation.h2": [double_bits(h2.expectation_value(state2))],
            "expectation.parsed": [double_bits(parsed.expectation_value(state3))],
            "entropy": [double_bits(state3.calculate_entropy())],
            "norm": [double_bits(zel.norm(state3))],
            "probabilities": [double_bits(p) for p in zel.probabilities(state3)],
            "inner_product": [double_bits(inner.real), double_bits(inner.imag)],
            "ground_energy.h2": [double_bits(zel.ground_energy(h2, 2))],
            "ground_state.parsed.energy": [double_bits(ground.energy)],
            "ground_state.parsed.state": amplitude_bits(ground.state),
            "dense_matrix.parsed": [
                bits for a in matrix for bits in (double_bits(a.real), double_bits(a.imag))
            ],
        },
    )


@pytest.mark.parametrize(
    "generator",
    [pytest.param(lambda seed: seed, id="int seed"), pytest.param(zel.Generator, id="Generator")],
)
def test_sampling_with_a_seed(reference, generator):
    state3 = random_state(3, STATE_SEED)
    outcomes = zel.sample(state3, 200, generator(5))
    counts = zel.sample_counts(state3, 1000, generator(6))
    assert_same(
        reference,
        {
            "sample": [int(k) for k in outcomes],
            "sample_counts": [v for pair in counts.items() for v in pair],
        },
    )


def test_circuits_evaluation_and_qasm(reference):
    ghz = zel.ZarnikGraph(3)
    ghz.add_gate(zel.GateType.of(zel.GateKind.H), [0])
    ghz.add_gate(zel.GateType.of(zel.GateKind.CX), [0, 1])
    ghz.add_gate(zel.GateType.of(zel.GateKind.CX), [1, 2])
    ghz.add_gate(zel.GateType.rz(0.3), [2])
    applied = random_state(3, STATE_SEED)
    zel.apply_circuit(applied, ghz)

    h2 = zel.PauliSum.h2_hamiltonian()
    ref = zel.ZarnikState(2)
    circuit = ansatz(-0.4)
    telemetry = zel.evaluate_circuit_telemetry(ref, circuit, h2)

    exported = zel.ZarnikGraph(3)
    exported.add_gate(zel.GateType.rx(0.1 + 0.2), [0])
    exported.add_gate(zel.GateType.of(zel.GateKind.SWAP), [2, 0])
    exported.add_gate(zel.GateType.rz(-1e-7), [1])
    exported.add_gate(zel.GateType.ry(1e22), [2])

    assert_same(
        reference,
        {
            "run_circuit.ghz": amplitude_bits(zel.run_circuit(ghz, 3)),
            "apply_circuit.ghz": amplitude_bits(applied),
            "energy.ansatz": [double_bits(zel.evaluate_circuit_energy(ref, circuit, h2))],
            "telemetry.ansatz": [double_bits(telemetry.energy), double_bits(telemetry.entropy)],
            "energy_fn.ansatz": [double_bits(zel.EnergyFn(circuit, ref, h2)([-0.42]))],
            "qasm.export": zel.to_open_qasm(exported),
            **circuit_records("qasm.import", zel.from_open_qasm(PROGRAM)),
        },
    )


@pytest.mark.parametrize(
    "wrap",
    [
        pytest.param(lambda fn: fn, id="EnergyFn"),
        pytest.param(lambda fn: (lambda values: fn(values)), id="Python callable"),
    ],
)
def test_spsa_steps(reference, wrap):
    h2 = zel.PauliSum.h2_hamiltonian()
    ref = zel.ZarnikState(2)
    zel.reseed(3)
    brain = zel.NeuralZarnikBrain(0.001, 0.0001, -2.0, output=None)
    circuit = ansatz(0.0)
    trace = []
    for _ in range(50):
        energy_fn = wrap(zel.EnergyFn(circuit, ref, h2))
        brain.optimize_parameters(circuit, energy_fn)
        brain.iteration += 1
        trace.append(double_bits(circuit[1].params[0]))
    assert_same(reference, {"spsa.trace": trace, **circuit_records("spsa.circuit", circuit)})


def loop_records(key, output, result):
    return {
        key + ".transcript": output.text,
        key + ".energy": [double_bits(result.energy)],
        key + ".converged": [int(result.converged)],
        **circuit_records(key + ".circuit", result.circuit),
    }


def run_brain_loop(start, basis, brain, iterations):
    output = Collect()
    ref = zel.ZarnikState(2)
    ref.set_computational_basis(basis)
    result = zel.run_zarnik_loop(
        ref, start, zel.PauliSum.h2_hamiltonian(), brain,
        max_iterations=iterations, progress_interval=50, output=output,
    )
    return output, result


def test_loop_with_the_shipped_strategy(reference):
    brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.136, output=None)
    output, result = run_brain_loop(zel.ZarnikGraph(2), 1, brain, 300)
    assert_same(reference, loop_records("loop.brain", output, result))


def test_loop_with_the_shipped_strategy_tuning_parameters(reference):
    zel.reseed(9)
    brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.9, output=None)
    output, result = run_brain_loop(ansatz(0.1), 0, brain, 200)
    assert_same(reference, loop_records("loop.brain_spsa", output, result))


def test_loop_with_a_python_strategy_matches_the_same_strategy_in_cpp(reference):
    strategy = ShiftRuleStrategy(-1.91536)
    output = Collect()
    result = zel.run_zarnik_loop(
        zel.ZarnikState(2), zel.ZarnikGraph(2), zel.PauliSum.h2_hamiltonian(), strategy,
        output=output,
    )
    assert_same(
        reference,
        {**loop_records("loop.shift_rule", output, result), "loop.shift_rule.calls": [strategy.calls]},
    )


def test_loop_transcript_matches_kvt_run():
    """kvt_run's search, repeated from Python: the same loop lines and the same final circuit."""
    run = subprocess.run(
        [environment_path("ZEL_KVT_RUN")], check=True, capture_output=True, text=True
    ).stdout
    reference = zel.ZarnikState(2)
    reference.set_computational_basis(1)
    brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.136, output=None)
    output = Collect()
    result = zel.run_zarnik_loop(
        reference, zel.ZarnikGraph(2), zel.PauliSum.h2_hamiltonian(), brain, output=output
    )
    assert output.text.startswith("Starting Zarnik Loop.")
    assert output.text in run
    assert zel.to_open_qasm(result.circuit) in run
    assert math.isfinite(result.energy)
