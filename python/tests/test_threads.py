"""Threads: the thread count from Python, results independent of it, long calls without the
GIL, and Python threads sharing objects while such calls run."""

import threading

import numpy as np
import pytest

import zel
from conftest import Collect, random_state

H = zel.GateType.of(zel.GateKind.H)
CX = zel.GateType.of(zel.GateKind.CX)

# Large enough for the library's worker pool (2**17 amplitudes and more).
POOLED_QUBITS = 18


@pytest.fixture
def restore_thread_count():
    yield
    zel.set_thread_count(0)


@pytest.mark.parametrize(
    "count, expected",
    [(1, 1), (2, 2), (3, 3), (10**6, zel.MAX_THREADS)],
)
def test_thread_count_is_read_and_set(restore_thread_count, count, expected):
    default = zel.thread_count()
    assert 1 <= default <= zel.MAX_THREADS
    zel.set_thread_count(count)
    assert zel.thread_count() == expected
    zel.set_thread_count(0)
    assert zel.thread_count() == default


def bits(array):
    return np.ascontiguousarray(array).view(np.uint64)


def pooled_work():
    state = random_state(POOLED_QUBITS, 4)
    for qubits, gate in (([0], H), ([POOLED_QUBITS - 1], H), ([3, POOLED_QUBITS - 2], CX),
                         ([7], zel.GateType.ry(0.3))):
        state.apply_gate(gate, qubits)
    observable = zel.parse_pauli_sum("0.5 * X0 Z17 - 0.25 Y3 Y16 + 0.125 Z5")
    return {
        "amplitudes": bits(state.amplitudes),
        "probabilities": bits(zel.probabilities(state)),
        "expectation": bits(np.array([observable.expectation_value(state)])),
        "entropy": bits(np.array([state.calculate_entropy()])),
        "norm": bits(np.array([zel.norm(state)])),
        "sample": zel.sample(state, 1000, 17),
    }


def test_results_are_the_same_bits_for_one_and_two_threads(restore_thread_count):
    zel.set_thread_count(1)
    serial = pooled_work()
    zel.set_thread_count(2)
    parallel = pooled_work()
    for name, value in serial.items():
        assert np.array_equal(value, parallel[name]), name


def test_a_long_call_lets_other_python_threads_run():
    """While apply_circuit works through many RZ gates on another thread, this thread reads the
    amplitudes and sees values between the first and the last: it ran during the call."""
    qubits = 16
    angle = 1e-3
    gates = 5000
    state = zel.ZarnikState(qubits)
    circuit = zel.ZarnikGraph(qubits)
    for _ in range(gates):
        circuit.add_gate(zel.GateType.rz(angle), [0])
    final = np.exp(-0.5j * angle * gates)
    worker = threading.Thread(target=zel.apply_circuit, args=(state, circuit))
    seen = set()
    worker.start()
    while worker.is_alive():
        seen.add(complex(state.amplitudes[0]))
    worker.join()
    assert state.amplitudes[0] == pytest.approx(final)
    between = [a for a in seen if a != 1 and abs(a - final) > 1e-9]
    assert between, "no intermediate amplitude was seen: the call held the GIL"


def test_objects_changed_by_one_thread_while_others_compute_with_them():
    """Calls that release the GIL work on copies of circuits and observables, so changing them
    meanwhile is safe; the results are those of one version or another."""
    qubits = zel.RELEASE_GIL_FROM_QUBITS + 1
    circuit = zel.ZarnikGraph(qubits)
    for q in range(qubits):
        circuit.add_gate(H, [q])
    observable = zel.parse_pauli_sum("Z0 + 0.5 X1 X2")
    reference = zel.ZarnikState(qubits)
    failures = []
    rounds = [0, 0]
    done = threading.Event()

    def compute(worker):
        try:
            while not done.is_set():
                state = zel.run_circuit(circuit, qubits)
                zel.apply_circuit(state, circuit)
                energy = zel.evaluate_circuit_energy(reference, circuit, observable)
                value = observable.expectation_value(state)
                assert np.isfinite(energy) and np.isfinite(value)
                rounds[worker] += 1
        except Exception as error:  # reported by the main thread
            failures.append(error)

    workers = [threading.Thread(target=compute, args=(k,)) for k in range(2)]
    for worker in workers:
        worker.start()
    try:
        step = 0
        while (min(rounds) < 30 or step < 400) and not failures:
            circuit.add_gate(zel.GateType.rx(0.1 * step), [step % qubits])
            if step % 3 == 0:
                del circuit[0]
            if step % 500 == 0:
                circuit.operations = circuit.operations[-qubits:]
            observable.append(zel.PauliTerm(0.01, [(step % qubits, zel.Pauli.Z)]))
            if step % 50 == 0:
                observable.terms = observable.terms[:2]
            step += 1
    finally:
        done.set()
        for worker in workers:
            worker.join()
    assert failures == []


def test_a_loop_printing_on_one_thread_while_another_runs_long_calls():
    """The loop's thread holds the library lock and needs the GIL for each message; the other
    thread holds the GIL and waits for the lock. Neither may wait for the other forever."""
    output = Collect()
    brain = zel.NeuralZarnikBrain(0.0, 0.0, -10.0, output=None)
    loop = threading.Thread(
        target=zel.run_zarnik_loop,
        args=(zel.ZarnikState(2), zel.ZarnikGraph(2), zel.PauliSum.h2_hamiltonian(), brain),
        kwargs={"max_iterations": 600, "progress_interval": 1, "output": output},
    )
    big = zel.ZarnikState(zel.RELEASE_GIL_FROM_QUBITS + 2)
    observable = zel.parse_pauli_sum("Z0 Z1")
    loop.start()
    calls = 0
    while loop.is_alive() or calls == 0:
        assert observable.expectation_value(big) == 1.0
        calls += 1
    loop.join()
    assert sum(line.startswith("Iter ") for line in output.text.splitlines()) == 600
