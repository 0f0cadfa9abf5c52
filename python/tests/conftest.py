"""Helpers shared by the Python tests.

CTest runs them with PYTHONPATH at the build tree's package and these environment variables:
ZEL_PARITY_REFERENCE (the C++ program parity_reference.cpp), ZEL_KVT_RUN (kvt_run) and
ZEL_GUIDE (docs/guide.md).
"""

import math
import os
import signal
import threading

import numpy as np
import pytest

import zel


def environment_path(name):
    """The file named by environment variable `name`; fails the test when it is not set."""
    path = os.environ.get(name)
    if not path:
        pytest.fail(f"{name} is not set; run the tests through CTest (ctest -L python)")
    return path


def random_state(num_qubits, seed):
    """A state whose real and imaginary parts are uniform draws of zel.Generator(seed) shifted
    to [-0.5, 0.5), in amplitude order, real part first: the inputs parity_reference.cpp uses."""
    generator = zel.Generator(seed)
    values = []
    for _ in range(1 << num_qubits):
        re = generator.uniform() - 0.5
        im = generator.uniform() - 0.5
        values.append(complex(re, im))
    return zel.ZarnikState.from_amplitudes(np.array(values, dtype=np.complex128))


def ansatz(theta):
    """X on qubit 0, RY(theta) on qubit 1 with theta as its parameter, CX with control 1: it
    prepares cos(theta/2)|1> + sin(theta/2)|2>."""
    circuit = zel.ZarnikGraph(2)
    circuit.add_gate_with_params(zel.GateType.of(zel.GateKind.X), [0], [])
    circuit.add_gate_with_params(zel.GateType.ry(theta), [1], [theta])
    circuit.add_gate_with_params(zel.GateType.of(zel.GateKind.CX), [1, 0], [])
    return circuit


class ShiftRuleStrategy:
    """The guide's custom strategy written in Python: grows X0, RY(0)1, CX(1, 0) one gate per
    decision and tunes the rotation by gradient descent with the parameter-shift rule. The
    arithmetic is that of the C++ version in parity_reference.cpp, operation for operation."""

    def __init__(self, target_energy, step_size=0.5):
        self.target_energy = target_energy
        self.step_size = step_size
        self.calls = 0

    def optimize_parameters(self, circuit, energy_fn):
        theta = [float(v) for v in zel.parameters(circuit)]
        shift = math.pi / 2
        probe = list(theta)
        gradient = []
        for s in range(len(theta)):
            probe[s] = theta[s] + shift
            plus = energy_fn(probe)
            probe[s] = theta[s] - shift
            minus = energy_fn(probe)
            probe[s] = theta[s]
            gradient.append(0.5 * (plus - minus))
        for s in range(len(theta)):
            theta[s] -= self.step_size * gradient[s]
        zel.set_parameters(circuit, theta)

    def evaluate_and_evolve(self, circuit, energy, entropy):
        self.calls += 1
        if energy <= self.target_energy:
            return zel.Converged()
        count = len(circuit)
        if count == 0:
            return zel.AddGate(zel.GateType.of(zel.GateKind.X), [0])
        if count == 1:
            return zel.AddGate(zel.GateType.ry(0.0), [1])
        if count == 2:
            return zel.AddGate(zel.GateType.of(zel.GateKind.CX), [1, 0])
        return zel.NoChange()


class Collect:
    """An output callable that keeps every message."""

    def __init__(self):
        self.messages = []

    def __call__(self, message):
        self.messages.append(message)

    @property
    def text(self):
        return "".join(self.messages)


@pytest.fixture
def sigint_soon():
    """start(delay=0.1) sends SIGINT to the process `delay` seconds later; timers still pending
    when the test ends are cancelled."""
    timers = []

    def start(delay=0.1):
        timer = threading.Timer(delay, os.kill, (os.getpid(), signal.SIGINT))
        timers.append(timer)
        timer.start()

    yield start
    for timer in timers:
        timer.cancel()
        timer.join()
