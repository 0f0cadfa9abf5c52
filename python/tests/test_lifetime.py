"""Objects stay valid as long as Python can reach them: views outlive the state they came from,
and what the loop hands a strategy outlives the loop."""

import gc
import weakref

import numpy as np
import pytest

import zel
from conftest import ansatz

H = zel.GateType.of(zel.GateKind.H)
H2 = zel.PauliSum.h2_hamiltonian()


def bell_state():
    state = zel.ZarnikState(2)
    state.apply_gate(H, [0])
    state.apply_gate(zel.GateType.of(zel.GateKind.CX), [0, 1])
    return state


# Ways of viewing a state's buffer; each view alone must keep the state alive.
VIEWS = [
    pytest.param(lambda state: state.amplitudes, id="amplitudes"),
    pytest.param(lambda state: state.amplitudes[1:3], id="slice of amplitudes"),
    pytest.param(lambda state: state.amplitudes.reshape(2, 2).T, id="reshaped view"),
    pytest.param(lambda state: np.asarray(state), id="numpy.asarray"),
    pytest.param(lambda state: np.asarray(memoryview(state)), id="memoryview"),
]


@pytest.mark.parametrize("make_view", VIEWS)
def test_a_view_keeps_its_state_alive_and_then_lets_it_go(make_view):
    state = bell_state()
    expected = np.array(make_view(state))
    alive = weakref.ref(state)
    view = make_view(state)
    del state
    gc.collect()
    assert alive() is not None
    # Allocations in between must not land on the buffer the view still uses.
    others = [zel.ZarnikState(2) for _ in range(8)]
    assert np.array_equal(view, expected)
    view[...] = 0
    del view, others
    gc.collect()
    assert alive() is None


def test_a_view_of_a_temporary_state():
    view = zel.run_circuit(zel.ZarnikGraph(3), 3).amplitudes
    gc.collect()
    assert view.tolist() == [1] + [0] * 7


def test_the_ground_state_view_keeps_its_result_alive():
    view = zel.ground_state(H2, 2).state.amplitudes
    gc.collect()
    _ = [zel.ground_state(H2, 2) for _ in range(4)]
    assert np.vdot(view, view).real == pytest.approx(1.0)
    assert zel.ZarnikState.from_amplitudes(view).dimension == 4


def test_the_loop_results_circuit_outlives_the_result():
    brain = zel.NeuralZarnikBrain(0.001, 0.0001, -1.136, output=None)
    circuit = zel.run_zarnik_loop(zel.ZarnikState(2), zel.ZarnikGraph(2), H2, brain,
                                  max_iterations=30, output=None).circuit
    gc.collect()
    # The first decision only records the energy; then every STAGNATION_LIMIT-th adds a CX.
    assert len(circuit) == (30 - 1) // zel.STAGNATION_LIMIT
    assert all(op.qubits == [0, 1] for op in circuit)


class Hoarder:
    """Keeps everything the loop hands it, and meddles with it afterwards."""

    def __init__(self):
        self.kept = []

    def optimize_parameters(self, circuit, energy_fn):
        self.kept.append((circuit, energy_fn))

    def evaluate_and_evolve(self, circuit, energy, entropy):
        self.kept.append((circuit, None))
        return zel.NoChange()


def test_what_a_strategy_keeps_stays_usable_after_the_loop():
    hoarder = Hoarder()
    result = zel.run_zarnik_loop(zel.ZarnikState(2), ansatz(0.3), H2, hoarder,
                                 max_iterations=4, output=None)
    gc.collect()
    assert len(hoarder.kept) == 8
    for circuit, energy_fn in hoarder.kept:
        circuit.add_gate(H, [0])
        del circuit[0]
        if energy_fn is not None:
            assert energy_fn([0.3]) == zel.evaluate_circuit_energy(zel.ZarnikState(2), ansatz(0.3), H2)
    assert result.circuit == ansatz(0.3)


def test_an_energy_fn_holds_a_snapshot():
    circuit = ansatz(0.3)
    reference = zel.ZarnikState(2)
    energy_fn = zel.EnergyFn(circuit, reference, H2)
    before = energy_fn([0.5])
    circuit.add_gate(H, [0])
    reference.set_computational_basis(3)
    del reference
    gc.collect()
    assert energy_fn([0.5]) == before
    assert energy_fn.circuit == ansatz(0.3)


def test_iterating_while_changing_the_container():
    circuit = ansatz(0.0)
    seen = 0
    for _ in circuit:
        circuit.add_gate(H, [0])
        del circuit[0]
        seen += 1
    assert seen == 3
    terms = zel.PauliSum.h2_hamiltonian()
    for term in terms:
        terms.terms = []
    assert len(terms) == 0
