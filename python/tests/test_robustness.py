"""Nothing hangs and nothing dies silently: a strategy that evaluates from a thread pool, Ctrl-C
during long calls, states holding NaN, and errors of the library's own for arguments out of
reach (seeds, shot counts, array shapes and dtypes, parameter-vector lengths)."""

import math
import os
import pickle
import signal
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import zel

RY = zel.GateType.ry
H = zel.GateType.of(zel.GateKind.H)
X = zel.GateType.of(zel.GateKind.X)

# Far longer than any test may take: a hung call fails its test instead of hanging the suite.
HANG_LIMIT_SECONDS = 120


class ThreadPoolShiftStrategy:
    """Evaluates the energy at theta +- pi/2 on two threads (a parameter-shift step), then
    stops after `steps` decisions."""

    def __init__(self, steps):
        self.steps = steps
        self.energies = []

    def optimize_parameters(self, circuit, energy_fn):
        theta = zel.parameters(circuit)
        shifts = [theta + math.pi / 2, theta - math.pi / 2]
        with ThreadPoolExecutor(max_workers=2) as pool:
            self.energies.append(list(pool.map(energy_fn, shifts)))

    def evaluate_and_evolve(self, circuit, energy, entropy):
        self.steps -= 1
        return zel.Converged() if self.steps <= 0 else zel.NoChange()


@pytest.mark.parametrize("num_qubits", [8, 12, 14])
def test_a_strategy_may_evaluate_from_a_thread_pool(num_qubits):
    circuit = zel.ZarnikGraph(num_qubits)
    circuit.add_gate_with_params(RY(0.3), [0], [0.3])
    hamiltonian = zel.parse_pauli_sum("Z0 + 0.5 X0")
    strategy = ThreadPoolShiftStrategy(steps=3)
    outcome = {}

    def search():
        outcome["result"] = zel.run_zarnik_loop(zel.ZarnikState(num_qubits), circuit, hamiltonian,
                                                strategy, output=None)

    # A daemon thread, so that a hang before the fix fails the test and lets the process end.
    worker = threading.Thread(target=search, daemon=True)
    worker.start()
    worker.join(HANG_LIMIT_SECONDS)
    assert not worker.is_alive(), "the search loop deadlocked"
    assert outcome["result"].converged
    # cos(0.3 + pi/2) and cos(0.3 - pi/2) for <Z0>, their sines for <X0>.
    plus, minus = strategy.energies[0]
    assert plus == pytest.approx(math.cos(0.3 + math.pi / 2) + 0.5 * math.sin(0.3 + math.pi / 2))
    assert minus == pytest.approx(math.cos(0.3 - math.pi / 2) + 0.5 * math.sin(0.3 - math.pi / 2))


def rz_chain(num_qubits, gates, angle):
    circuit = zel.ZarnikGraph(num_qubits)
    for _ in range(gates):
        circuit.add_gate(zel.GateType.rz(angle), [0])
    return circuit


@pytest.mark.parametrize("num_qubits", [14, 16])
def test_ctrl_c_cuts_a_long_circuit_short(sigint_soon, num_qubits):
    """Seconds of RZ gates on qubit 0: Ctrl-C raises KeyboardInterrupt with most of them not
    applied, and the library works afterwards."""
    gates = 200_000
    angle = 1e-6
    state = zel.ZarnikState(num_qubits)
    state.apply_gate(H, [0])
    circuit = rz_chain(num_qubits, gates, angle)
    sigint_soon()
    with pytest.raises(KeyboardInterrupt):
        zel.apply_circuit(state, circuit)
    # Amplitude 1 turns by angle per gate relative to amplitude 0: far from all the gates.
    turned = np.angle(state.amplitudes[1] / state.amplitudes[0])
    assert turned < 0.5 * gates * angle
    assert zel.norm(zel.run_circuit(rz_chain(num_qubits, 3, 0.1), num_qubits)) == 1.0


def test_ctrl_c_stops_a_ground_state_and_sampling(sigint_soon):
    # Complex (an odd number of Y factors per term) on 10 qubits: seconds of diagonalisation.
    hamiltonian = zel.parse_pauli_sum(" + ".join(f"X{q} Y{q + 1}" for q in range(9)))
    sigint_soon()
    with pytest.raises(KeyboardInterrupt):
        zel.ground_state(hamiltonian, 10)
    sigint_soon()
    with pytest.raises(KeyboardInterrupt):
        zel.sample(zel.ZarnikState(2), 3 * 10**7, 1)
    assert zel.ground_energy(zel.parse_pauli_sum("Z0"), 1) == -1.0


def test_a_sigint_handler_that_returns_leaves_cancelled(sigint_soon):
    calls = []
    circuit = rz_chain(16, 200_000, 1e-6)
    previous = signal.signal(signal.SIGINT, lambda signum, frame: calls.append(signum))
    try:
        sigint_soon()
        with pytest.raises(zel.Cancelled, match="the call was cancelled"):
            zel.apply_circuit(zel.ZarnikState(16), circuit)
    finally:
        signal.signal(signal.SIGINT, previous)
    assert calls == [signal.SIGINT]


@pytest.mark.parametrize("num_qubits", [2, 8, 18])
def test_nan_amplitudes_show_in_every_result(num_qubits):
    state = zel.ZarnikState(num_qubits)
    state.amplitudes[1] = complex(math.nan, 0.0)
    assert math.isnan(state.calculate_entropy())
    assert math.isnan(zel.norm(state))
    assert math.isnan(zel.probabilities(state)[1])
    assert math.isnan(zel.parse_pauli_sum("Z0").expectation_value(state))
    with pytest.raises(zel.InvalidArgument, match="NaN"):
        zel.sample(state, 1, 1)


def two_parameter_energy_fn():
    circuit = zel.ZarnikGraph(2)
    circuit.add_gate_with_params(RY(0.1), [0], [0.1])
    circuit.add_gate_with_params(RY(0.2), [1], [0.2])
    return zel.EnergyFn(circuit, zel.ZarnikState(2), zel.parse_pauli_sum("Z0 + Z1"))


LIBRARY_ERRORS = [
    pytest.param(lambda: zel.sample(zel.ZarnikState(1), 2**62, 1), zel.InvalidArgument,
                 "shots exceed the limit", id="shots beyond any memory"),
    pytest.param(lambda: zel.bitstring(5, 2**63), zel.InvalidArgument, "qubits exceed the limit",
                 id="bitstring too long"),
    pytest.param(lambda: two_parameter_energy_fn()([0.5]), zel.InvalidArgument,
                 "2 parameter slots, but 1 values", id="too few values"),
    pytest.param(lambda: two_parameter_energy_fn()([0.5, 0.5, 0.5]), zel.InvalidArgument,
                 "2 parameter slots, but 3 values", id="too many values"),
]


@pytest.mark.parametrize("call, kind, pattern", LIBRARY_ERRORS)
def test_sizes_out_of_reach_are_library_errors(call, kind, pattern):
    with pytest.raises(kind, match=pattern):
        call()


ARGUMENT_ERRORS = [
    pytest.param(lambda: zel.sample(zel.ZarnikState(1), -1, 1), ValueError, "shots must be in",
                 id="negative shots"),
    pytest.param(lambda: zel.sample(zel.ZarnikState(1), 1, np.int64(-3)), ValueError,
                 "seed must be in", id="negative NumPy seed"),
    pytest.param(lambda: zel.Generator(-1), ValueError, "seed must be in", id="negative seed"),
    pytest.param(lambda: zel.Generator(2**64), ValueError, "seed must be in",
                 id="seed beyond 64 bits"),
    pytest.param(lambda: zel.reseed(-1), ValueError, "seed must be in", id="negative reseed"),
    pytest.param(lambda: zel.Generator(1.5), TypeError, "seed must be an int", id="float seed"),
    pytest.param(lambda: zel.set_thread_count(2**64), ValueError, "thread count",
                 id="thread count beyond 64 bits"),
    pytest.param(lambda: zel.ZarnikState(-1), ValueError, "num_qubits must be in",
                 id="negative qubit count"),
    pytest.param(lambda: zel.ZarnikState(2).apply_gate(X, np.array([[0]])), ValueError,
                 "one-dimensional", id="qubits as a 2-D array"),
    pytest.param(lambda: two_parameter_energy_fn()(np.array([0.5, 0.5j])), ValueError,
                 "not complex", id="complex values"),
    pytest.param(lambda: two_parameter_energy_fn()([0.5, 1j]), ValueError, "not complex",
                 id="complex values in a list"),
    pytest.param(lambda: two_parameter_energy_fn()(["a", "b"]), TypeError, "must be numbers",
                 id="values that are not numbers"),
]


@pytest.mark.parametrize("call, kind, pattern", ARGUMENT_ERRORS)
def test_arguments_out_of_reach_say_which_and_why(call, kind, pattern):
    with pytest.raises(kind, match=pattern) as caught:
        call()
    assert "incompatible function arguments" not in str(caught.value)


def test_numpy_integers_serve_as_seeds_and_counts():
    state = zel.ZarnikState(2)
    state.apply_gate(H, [0])
    expected = zel.sample(state, 20, 7)
    for seed in (np.int64(7), np.uint64(7), np.int32(7)):
        assert np.array_equal(zel.sample(state, np.int64(20), seed), expected)
        assert np.array_equal(zel.sample(state, 20, zel.Generator(seed)), expected)
    assert zel.bitstring(np.int64(1), np.uint8(3)) == "001"


def test_states_and_pauli_sums_pickle_exactly():
    state = zel.ZarnikState(3)
    state.apply_gate(H, [0])
    state.apply_gate(zel.GateType.ry(0.1), [2])
    state.amplitudes[5] = complex(math.nan, -0.0)
    restored = pickle.loads(pickle.dumps(state))
    assert restored.num_qubits == 3
    assert np.array_equal(restored.amplitudes.view(np.uint64), state.amplitudes.view(np.uint64))
    observable = zel.parse_pauli_sum("0.1 X0 Y5 - 1e-300 Z2 + 3")
    assert pickle.loads(pickle.dumps(observable)) == observable
    with pytest.raises(ValueError, match="needs 32 bytes of amplitudes, not 16"):
        zel.ZarnikState.__new__(zel.ZarnikState).__setstate__((1, b"\0" * 16))
