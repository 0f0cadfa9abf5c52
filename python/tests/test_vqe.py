"""zel.chem.adapt_vqe and zel.chem.uccsd: energies within chemical accuracy of the exact sector
energy, the per-iteration callback and arrays, the exported circuit, and refused settings."""

import os

import numpy as np
import pytest

import zel
import zel.chem as chem

DATA = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "chem", "data")
CHEMICAL_ACCURACY = 1.6e-3


def molecule(name, active=None):
    data = chem.read_fcidump(os.path.join(DATA, name + ".fcidump"))
    return chem.active_space(data, *active) if active else data


@pytest.mark.parametrize("name,active,kwargs", [
    ("h2_0.735", None, {}),
    ("h2_2.5", None, {"pool": "qubit", "reduction": "tapering"}),
    ("lih_1.595", (2, 5), {"mapping": chem.Mapping.Parity, "reduction": "two-qubit"}),
    ("h4_chain_0.9", None, {"pool": "generalized-qubit", "spin_complement": True}),
])
def test_adapt_reaches_chemical_accuracy_with_a_callback_per_iteration(name, active, kwargs):
    data = molecule(name, active)
    exact = chem.exact_ground_state(data.integrals, data.sector).energy
    seen = []
    result = chem.adapt_vqe(data.integrals, data.sector, callback=seen.append, **kwargs)
    assert abs(result.energy - exact) < CHEMICAL_ACCURACY
    assert result.stop_reason == "gradient norm"
    assert [it["iteration"] for it in seen] == list(range(1, len(seen) + 1))
    assert isinstance(result.energies, np.ndarray) and result.energies.dtype == np.float64
    assert np.array_equal(result.energies, [it["energy"] for it in seen])
    assert result.operators == [it["operator"] for it in seen]
    assert result.parameters.shape == result.energies.shape == result.pool_indices.shape
    assert np.all(np.diff(result.energies) <= 1e-12)
    # The exported circuit prepares the final state from |0...0>.
    state = zel.run_circuit(result.circuit, result.num_qubits)
    assert result.hamiltonian.expectation_value(state) == pytest.approx(result.energy, abs=1e-10)


@pytest.mark.parametrize("ansatz,layers", [("uccsd", 1), ("k-upccgsd", 2)])
def test_fixed_ansatz_reaches_the_exact_energy(ansatz, layers):
    data = molecule("h2_1.0")
    exact = chem.exact_ground_state(data.integrals, data.sector).energy
    result = chem.uccsd(data.integrals, data.sector, ansatz=ansatz, layers=layers)
    assert abs(result.energy - exact) < 1e-6
    assert len(result.parameters) == len(result.operators)


def test_a_raising_callback_ends_the_solve():
    data = molecule("h2_0.735")

    def stop(iteration):
        raise KeyError("enough")

    with pytest.raises(KeyError):
        chem.adapt_vqe(data.integrals, data.sector, callback=stop)


@pytest.mark.parametrize("kwargs,message", [
    ({"max_operators": 0}, "max_operators must be at least 1"),
    ({"gradient_tolerance": float("nan")}, "gradient_tolerance must be finite"),
    ({"pool": "bosonic"}, "pool must be"),
    ({"reduction": "some"}, "reduction must be"),
    ({"optimizer": "adam"}, "optimizer must be"),
    ({"pool": "pauli", "mapping": chem.Mapping.BravyiKitaev}, "Jordan-Wigner"),
    ({"pool": "generalized-qubit", "mapping": chem.Mapping.Parity}, "Jordan-Wigner"),
    ({"pool": "pauli", "spin_complement": True}, "not the Pauli strings"),
])
def test_bad_settings_raise_invalid_argument(kwargs, message):
    data = molecule("h2_0.735")
    with pytest.raises(zel.InvalidArgument, match=message):
        chem.adapt_vqe(data.integrals, data.sector, **kwargs)


@pytest.mark.parametrize("solve", [
    lambda data, seen: chem.adapt_vqe(data.integrals, data.sector, callback=seen.append),
    lambda data, seen: chem.uccsd(data.integrals, data.sector, ansatz="k-upccgsd", layers=2),
], ids=["adapt_vqe", "k_upccgsd"])
def test_ctrl_c_ends_a_solve_with_keyboard_interrupt(sigint_soon, solve):
    """H2O (14 qubits) takes seconds by ADAPT and minutes by 2-UpCCGSD: Ctrl-C ends either
    solve with KeyboardInterrupt, and the module solves the next molecule as before."""
    data = molecule("h2o")
    seen = []
    sigint_soon(0.2)
    with pytest.raises(KeyboardInterrupt):
        solve(data, seen)
    h2 = molecule("h2_0.735")
    exact = chem.exact_ground_state(h2.integrals, h2.sector).energy
    assert abs(chem.adapt_vqe(h2.integrals, h2.sector).energy - exact) < CHEMICAL_ACCURACY
