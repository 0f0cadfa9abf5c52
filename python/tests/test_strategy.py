"""The search loop driven by strategies written in Python, and where its output goes."""

import os
import signal
import threading

import pytest

import zel
from conftest import Collect, ShiftRuleStrategy, ansatz

H = zel.GateType.of(zel.GateKind.H)
X = zel.GateType.of(zel.GateKind.X)
CX = zel.GateType.of(zel.GateKind.CX)
H2 = zel.PauliSum.h2_hamiltonian()


class Scripted:
    """Returns `actions` one per decision, then NoChange; records what the loop shows it."""

    def __init__(self, actions, tune=None):
        self.actions = list(actions)
        self.tune = tune
        self.decisions = []
        self.tunings = []

    def optimize_parameters(self, circuit, energy_fn):
        self.tunings.append((circuit.copy(), energy_fn))
        if self.tune is not None:
            self.tune(circuit, energy_fn)

    def evaluate_and_evolve(self, circuit, energy, entropy):
        self.decisions.append((circuit.copy(), energy, entropy))
        return self.actions.pop(0) if self.actions else zel.NoChange()


def run(strategy, iterations, output=None, circuit=None):
    return zel.run_zarnik_loop(
        zel.ZarnikState(2), circuit if circuit is not None else zel.ZarnikGraph(2), H2, strategy,
        max_iterations=iterations, progress_interval=0, output=output,
    )


def shape(circuit):
    return [(op.gate.kind, op.qubits, op.params) for op in circuit]


# (actions, final circuit as (kind, qubits, params), strategy lines printed, converged)
ACTION_CASES = [
    pytest.param(
        [zel.AddGate(H, [0]), zel.AddGate(CX, [0, 1]), zel.Converged()],
        [(zel.GateKind.H, [0], []), (zel.GateKind.CX, [0, 1], [])],
        ["Strategy: Adding H on qubits [0]", "Strategy: Adding CX on qubits [0, 1]",
         "Strategy: Converged. Halting."],
        True,
        id="add, add, converge",
    ),
    pytest.param(
        [zel.AddGate(X, [1]), zel.RemoveGate(0)],
        [],
        ["Strategy: Adding X on qubits [1]", "Strategy: Removing gate at index 0"],
        False,
        id="add then remove",
    ),
    pytest.param(
        [zel.RemoveGate(3), zel.NoChange()], [], [], False, id="removal beyond the circuit is ignored",
    ),
    pytest.param(
        [zel.AddGate(zel.GateType.ry(0.5), [0])],
        [(zel.GateKind.RY, [0], [0.5])],
        ["Strategy: Adding RY(0.5) on qubits [0]"],
        False,
        id="a rotation enters with its angle as parameter",
    ),
]


@pytest.mark.parametrize("actions, final, lines, converged", ACTION_CASES)
def test_actions_shape_the_circuit(actions, final, lines, converged):
    output = Collect()
    strategy = Scripted(actions)
    result = run(strategy, 4, output)
    assert shape(result.circuit) == final
    assert result.converged == converged
    printed = output.text.splitlines()
    assert printed[0].startswith("Starting Zarnik Loop. Initial Energy: ")
    assert printed[1:] == lines
    assert all(message.endswith("\n") for message in output.messages)
    # Every decision sees the energy and entropy of the circuit it is shown.
    for shown, energy, entropy in strategy.decisions:
        telemetry = zel.evaluate_circuit_telemetry(zel.ZarnikState(2), shown, H2)
        assert (energy, entropy) == (telemetry.energy, telemetry.entropy)


def test_tuning_happens_only_with_parameters_and_in_place():
    def tune(circuit, energy_fn):
        zel.set_parameters(circuit, [zel.parameters(circuit)[0] + 0.25])

    strategy = Scripted([zel.NoChange(), zel.AddGate(zel.GateType.ry(0.0), [1])], tune)
    result = run(strategy, 5)
    # Decisions 1 and 2 see no parameter; the three iterations after the RY was added tune it.
    assert len(strategy.tunings) == 3
    assert result.circuit[0].params == [0.75] and result.circuit[0].gate.angle == 0.75
    for entry, energy_fn in strategy.tunings:
        values = [0.1]
        expected = zel.evaluate_circuit_energy(
            zel.ZarnikState(2), zel.with_parameters(entry, values), H2
        )
        assert energy_fn(values) == expected
        assert energy_fn.circuit == entry


def test_a_python_strategy_reaches_the_ground_state():
    strategy = ShiftRuleStrategy(-1.91536)
    result = run(strategy, 1000)
    assert result.converged and len(result.circuit) == 3
    assert abs(result.energy - zel.ground_energy(H2, 2)) < 1e-5


class Raised(Exception):
    pass


def raiser(error):
    def call(*args):
        raise error

    return call


@pytest.mark.parametrize("where", ["optimize_parameters", "evaluate_and_evolve", "output"])
def test_exceptions_of_python_code_propagate_unchanged(where):
    error = Raised(where)
    strategy = Scripted([])
    output = Collect()
    if where == "output":
        output = raiser(error)
    else:
        setattr(strategy, where, raiser(error))
    with pytest.raises(Raised) as caught:
        run(strategy, 3, output, circuit=ansatz(0.2))
    assert caught.value is error


@pytest.mark.parametrize("where", ["constructor", "loop"])
def test_output_exceptions_propagate_from_the_shipped_strategy(where):
    error = Raised(where)
    if where == "constructor":
        with pytest.raises(Raised) as caught:
            zel.NeuralZarnikBrain(0.001, 0.0001, -1.136, output=raiser(error))
    else:
        brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.136, output=None)
        with pytest.raises(Raised) as caught:
            run(brain, 3, raiser(error))
    assert caught.value is error


@pytest.mark.parametrize("returned", [None, 3, "Converged", zel.Converged, zel.GateType.rx(1.0)])
def test_a_decision_that_is_not_an_action_is_a_type_error(returned):
    strategy = Scripted([])
    strategy.evaluate_and_evolve = lambda circuit, energy, entropy: returned
    with pytest.raises(TypeError, match="evaluate_and_evolve must return"):
        run(strategy, 2)


def test_changes_to_the_shown_circuits_do_not_reach_the_loop():
    class Meddling(Scripted):
        def evaluate_and_evolve(self, circuit, energy, entropy):
            circuit.add_gate(X, [0])
            circuit.num_qubits = 7
            return super().evaluate_and_evolve(circuit, energy, entropy)

    result = run(Meddling([zel.AddGate(H, [1])]), 3)
    assert shape(result.circuit) == [(zel.GateKind.H, [1], [])]
    assert result.circuit.num_qubits == 2


def test_the_callers_objects_are_left_as_they_were():
    reference = zel.ZarnikState(2)
    reference.set_computational_basis(3)
    circuit = ansatz(0.3)
    hamiltonian = zel.PauliSum.h2_hamiltonian()
    before = (reference.amplitudes.copy(), circuit.copy(), hamiltonian.copy())
    zel.run_zarnik_loop(reference, circuit, hamiltonian, ShiftRuleStrategy(-5.0),
                        max_iterations=5, output=None)
    assert (reference.amplitudes == before[0]).all()
    assert circuit == before[1] and hamiltonian == before[2]


def test_a_subclass_of_the_shipped_strategy_runs_its_own_methods():
    class Impatient(zel.NeuralZarnikBrain):
        def evaluate_and_evolve(self, circuit, energy, entropy):
            return zel.Converged()

    brain = Impatient(0.001, 0.0001, -1.136, output=None)
    result = run(brain, 10)
    assert result.converged and brain.iteration == 0


class TestOutput:
    def test_none_is_silent(self, capfd):
        brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.136, output=None)
        run(brain, 60)
        assert capfd.readouterr() == ("", "")

    def test_the_default_writes_to_sys_stdout(self, capsys):
        brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.136)
        zel.run_zarnik_loop(zel.ZarnikState(2), zel.ZarnikGraph(2), H2, brain, max_iterations=1)
        printed = capsys.readouterr().out
        assert "Running KVT Community Edition" in printed
        assert "Starting Zarnik Loop. Initial Energy: -1.063653\n" in printed
        assert "Iter 0: Energy = -1.063653 | Entropy = 0.0000\n" in printed

    @pytest.mark.parametrize("interval, lines", [(0, []), (50, ["Iter 0", "Iter 50", "Iter 100"])])
    def test_progress_lines_follow_the_interval(self, interval, lines):
        output = Collect()
        brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.136, output=None)
        zel.run_zarnik_loop(zel.ZarnikState(1), zel.ZarnikGraph(1), zel.parse_pauli_sum("Z0"),
                            brain, max_iterations=120, progress_interval=interval, output=output)
        assert [line.split(":")[0] for line in output.text.splitlines()[1:]] == lines


class Interrupted(Exception):
    pass


def test_the_shipped_strategy_loop_stops_on_a_signal():
    """SIGINT while the loop runs without the GIL ends it with the handler's exception. The
    loop would take minutes to finish on its own."""

    def handler(signum, frame):
        raise Interrupted()

    previous = signal.signal(signal.SIGINT, handler)
    timer = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
    try:
        brain = zel.NeuralZarnikBrain(0.0, 0.0, -10.0, output=None)
        timer.start()
        with pytest.raises(Interrupted):
            zel.run_zarnik_loop(zel.ZarnikState(1), zel.ZarnikGraph(1), zel.parse_pauli_sum("Z0"),
                                brain, max_iterations=10**9, progress_interval=0, output=None)
    finally:
        timer.cancel()
        timer.join()
        signal.signal(signal.SIGINT, previous)
