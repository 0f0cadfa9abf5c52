"""zel: dense state-vector simulation and adaptive ground-state search, from Python.

The zel libraries (zel-core, zel-neural, zel-compiler) with the C++ names:

- states: ZarnikState (amplitudes as a writable NumPy view), the gates (GateKind, GateType,
  GATE_TABLE), probabilities, sample, sample_counts, norm, inner_product, Generator;
- circuits: ZarnikGraph of Operation, parameters, set_parameters, with_parameters, validate,
  run_circuit, apply_circuit, to_open_qasm, from_open_qasm;
- observables: PauliSum of PauliTerm of PauliFactor, parse_pauli_sum, pauli_text,
  expectation values, ground_state, ground_energy, dense_matrix;
- the search: evaluate_circuit_energy, evaluate_circuit_telemetry, EnergyFn, the actions
  AddGate, RemoveGate, NoChange, Converged, NeuralZarnikBrain and run_zarnik_loop, which takes
  the shipped strategy or any Python object with the two strategy methods.

Conventions are those of the C++ libraries (docs/guide.md): qubit 0 is the least significant
bit of a basis index; bitstrings and Pauli strings are written like kets, the rightmost
character for qubit 0; energies in hartree, entropies in bits, angles in radians; nothing
normalises a state.

Errors: every library exception arrives as a subclass of a built-in kind with the library's
message: IndexOutOfBounds and StateIndexOutOfBounds are IndexErrors, InvalidLayout,
InvalidArgument and ParseError are ValueErrors, OutputError is an OSError (all of these are
zel.Error too), AllocationError is a MemoryError.

Threads: calls that work on registers of RELEASE_GIL_FROM_QUBITS (12) qubits or more, the
search loop, ground states and large samples release the GIL; such calls run one at a time
across Python threads, as the library expects. thread_count() and set_thread_count(n) read and
set the number of threads of the library's parallel work.

Lifetimes: arrays from ZarnikState.amplitudes keep their state alive; circuits and Pauli sums
hand out copies of their operations and terms; an EnergyFn owns what it evaluates.

docs/python.md in the source tree covers building, installing and the measured overheads.
"""

import numpy as _numpy  # noqa: F401  The extension's arrays need NumPy; fail here if it is absent.

from . import _zel
from ._zel import *  # noqa: F401,F403
from ._zel import __version__  # noqa: F401

__all__ = sorted(name for name in vars(_zel) if not name.startswith("_"))
