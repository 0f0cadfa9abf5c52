"""What crosses between Python and C++: NumPy views and arrays, sequences, seeds, enums,
dicts, and which objects are copies."""

import copy

import numpy as np
import pytest

import zel

H = zel.GateType.of(zel.GateKind.H)
X = zel.GateType.of(zel.GateKind.X)


class TestAmplitudeView:
    def test_is_a_writable_complex_view_of_the_state_buffer(self):
        state = zel.ZarnikState(3)
        view = state.amplitudes
        assert view.dtype == np.complex128 and view.shape == (8,)
        assert view.flags.writeable and not view.flags.owndata
        assert np.shares_memory(view, state.amplitudes)
        assert np.shares_memory(view, np.asarray(state))
        assert view.ctypes.data % zel.ZarnikState.ALIGNMENT == 0

    def test_library_writes_show_through_an_existing_view(self):
        state = zel.ZarnikState(2)
        view = state.amplitudes
        state.apply_gate(X, [1])
        assert view.tolist() == [0, 0, 1, 0]
        state.set_computational_basis(1)
        assert view.tolist() == [0, 1, 0, 0]

    def test_writes_through_the_view_reach_the_library(self):
        state = zel.ZarnikState(2)
        state.amplitudes[:] = [0.6, 0, 0.8j, 0]
        assert zel.probabilities(state) == pytest.approx([0.36, 0, 0.64, 0])
        np.asarray(state)[3] = 1.0
        assert state.amplitudes[3] == 1.0
        assert memoryview(state).nbytes == 4 * 16

    @pytest.mark.parametrize(
        "values",
        [
            pytest.param([1, 2, 3, 4], id="list of ints"),
            pytest.param((0.5, -0.5), id="tuple of floats"),
            pytest.param(np.arange(8, dtype=np.float32), id="float32 array"),
            pytest.param(np.array([1 + 2j, 3 - 4j], dtype=np.complex64), id="complex64 array"),
            pytest.param(np.arange(16, dtype=np.complex128)[::2], id="strided complex128"),
        ],
    )
    def test_from_amplitudes_copies_and_converts(self, values):
        state = zel.ZarnikState.from_amplitudes(values)
        expected = np.asarray(values, dtype=np.complex128)
        assert state.dimension == len(expected) and state.num_qubits == len(expected).bit_length() - 1
        assert np.array_equal(state.amplitudes, expected)
        if isinstance(values, np.ndarray):
            assert not np.shares_memory(state.amplitudes, values)

    def test_copies_have_buffers_of_their_own(self):
        state = zel.ZarnikState(2)
        for duplicate in (state.copy(), copy.copy(state), copy.deepcopy(state)):
            duplicate.apply_gate(X, [0])
            assert state.amplitudes[0] == 1 and duplicate.amplitudes[0] == 0


class TestResultArrays:
    def test_probabilities_and_parameters_are_new_float64_arrays(self):
        state = zel.ZarnikState(1)
        state.apply_gate(H, [0])
        circuit = zel.ZarnikGraph(1)
        circuit.add_gate(zel.GateType.ry(0.25), [0])
        for array in (zel.probabilities(state), zel.parameters(circuit)):
            assert isinstance(array, np.ndarray) and array.dtype == np.float64
            assert array.flags.owndata or array.base is not None
        assert zel.parameters(circuit).tolist() == [0.25]

    def test_dense_matrix_applies_like_the_observable(self):
        h2 = zel.PauliSum.h2_hamiltonian()
        matrix = zel.dense_matrix(h2, 2)
        assert matrix.shape == (4, 4) and matrix.dtype == np.complex128
        state = zel.run_circuit(zel.ZarnikGraph(2), 2)
        state.apply_gate(zel.GateType.ry(0.3), [1])
        psi = state.amplitudes
        assert np.vdot(psi, matrix @ psi).real == pytest.approx(h2.expectation_value(state))

    def test_inner_product_is_a_complex(self):
        a = zel.ZarnikState.from_amplitudes([1, 0])
        b = zel.ZarnikState.from_amplitudes([0.5j, 0.5])
        assert zel.inner_product(a, b) == 0.5j
        assert zel.inner_product(b, a) == -0.5j


class TestSampling:
    @staticmethod
    def uniform_state():
        state = zel.ZarnikState(3)
        for q in range(3):
            state.apply_gate(H, [q])
        return state

    def test_outcomes_are_a_uint64_array_fixed_by_the_seed(self):
        state = self.uniform_state()
        outcomes = zel.sample(state, 100, 42)
        assert outcomes.dtype == np.uint64 and outcomes.shape == (100,)
        assert np.array_equal(outcomes, zel.sample(state, 100, zel.Generator(42)))
        assert set(outcomes.tolist()) <= set(range(8))

    def test_a_generator_argument_advances_in_place(self):
        state = self.uniform_state()
        generator = zel.Generator(7)
        first = zel.sample(state, 50, generator)
        second = zel.sample(state, 50, generator)
        both = zel.sample(state, 100, zel.Generator(7))
        assert np.array_equal(np.concatenate([first, second]), both)

    def test_without_a_generator_the_thread_source_decides(self):
        state = self.uniform_state()
        zel.reseed(5)
        first = zel.sample(state, 64)
        zel.reseed(5)
        assert np.array_equal(first, zel.sample(state, 64))

    @pytest.mark.parametrize(
        "bitstrings, key", [pytest.param(False, 5, id="int keys"), pytest.param(True, "101", id="bitstring keys")]
    )
    def test_counts_are_a_dict_keyed_by_outcome(self, bitstrings, key):
        state = zel.ZarnikState(3)
        state.set_computational_basis(5)
        assert zel.sample_counts(state, 30, 1, bitstrings=bitstrings) == {key: 30}

    def test_counts_add_up_in_outcome_order(self):
        counts = zel.sample_counts(self.uniform_state(), 1000, 3)
        assert list(counts) == sorted(counts) and sum(counts.values()) == 1000
        assert zel.bitstring(1, 3) == "001" and zel.bitstring(6, 3) == "110"


class TestEnumsAndTables:
    def test_gate_table_rows_follow_the_kinds(self):
        kinds = list(zel.GateKind.__members__.values())
        assert [info.kind for info in zel.GATE_TABLE] == kinds
        assert [info.name for info in zel.GATE_TABLE] == list(zel.GateKind.__members__)
        assert len(kinds) == zel.GATE_KIND_COUNT == len(zel.GATE_TABLE)
        assert [k.value for k in kinds] == list(range(zel.GATE_KIND_COUNT))
        assert {info.name for info in zel.GATE_TABLE if info.has_angle} == {"RX", "RY", "RZ"}
        assert all(zel.gate_info(info.kind).qasm == info.qasm for info in zel.GATE_TABLE)

    @pytest.mark.parametrize(
        "gate, text, shown",
        [
            (zel.GateType.rx(0.5), "RX(0.5)", "GateType.rx(0.5)"),
            (zel.GateType.rz(1.0), "RZ(1.0)", "GateType.rz(1.0)"),
            (zel.GateType.ry(1e-5), "RY(1e-5)", "GateType.ry(1e-05)"),
            (zel.GateType(zel.GateKind.CX), "CX", "GateType.of(GateKind.CX)"),
        ],
    )
    def test_gate_text(self, gate, text, shown):
        assert str(gate) == zel.debug_text(gate) == text
        assert repr(gate) == shown

    def test_factors_from_tuples_equal_factor_objects(self):
        from_tuples = zel.PauliTerm(0.5, [(0, zel.Pauli.X), (1, zel.Pauli.Z)])
        from_objects = zel.PauliTerm(0.5, [zel.PauliFactor(0, zel.Pauli.X), zel.PauliFactor(1, zel.Pauli.Z)])
        assert from_tuples == from_objects
        assert zel.PauliSum([from_tuples]) == zel.parse_pauli_sum("0.5 * X0 Z1")


class TestCopiesOfContainers:
    def circuit(self):
        circuit = zel.ZarnikGraph(2)
        circuit.add_gate(H, [0])
        circuit.add_gate(zel.GateType.rz(0.5), [1])
        circuit.add_gate(zel.GateType.of(zel.GateKind.CX), [0, 1])
        return circuit

    def test_indexing_gives_copies_and_assignment_writes_back(self):
        circuit = self.circuit()
        op = circuit[1]
        op.params = [2.0]
        op.gate.angle = 2.0
        assert circuit[1].params == [0.5]
        circuit[-2] = op
        assert circuit[1] == op and circuit[1].gate.angle == 2.0
        circuit[1].qubits.append(5)  # a list copy: the circuit does not change
        assert circuit[1].qubits == [1]

    def test_sequence_protocol(self):
        circuit = self.circuit()
        assert len(circuit) == circuit.gate_count() == 3
        assert [op.gate.kind for op in circuit] == [zel.GateKind.H, zel.GateKind.RZ, zel.GateKind.CX]
        assert circuit[-1] == circuit[2]
        del circuit[0]
        assert [op.gate.kind for op in circuit] == [zel.GateKind.RZ, zel.GateKind.CX]
        circuit.append(zel.Operation(X, [1]))
        assert circuit[2] == zel.Operation(X, [1], [])

    def test_copies_are_deep(self):
        circuit = self.circuit()
        for duplicate in (circuit.copy(), copy.copy(circuit), copy.deepcopy(circuit)):
            assert duplicate == circuit
            duplicate.remove_operation(0)
            zel.set_parameters(duplicate, [9.0])
            assert len(circuit) == 3 and zel.parameters(circuit).tolist() == [0.5]

    @pytest.mark.parametrize(
        "values",
        [[1, 2], (1.5, 2.5), np.array([1.0, 2.0]), np.array([1, 2], dtype=np.int8), [3.0]],
    )
    def test_parameter_values_from_any_sequence(self, values):
        circuit = zel.ZarnikGraph(1)
        circuit.add_gate(zel.GateType.rx(0.0), [0])
        circuit.add_gate(zel.GateType.ry(0.0), [0])
        moved = zel.with_parameters(circuit, values)
        zel.set_parameters(circuit, values)
        expected = [float(v) for v in values] + [0.0] * (2 - len(values))
        for c in (moved, circuit):
            assert zel.parameters(c).tolist() == expected
            assert [op.gate.angle for op in c] == expected

    def test_pauli_sum_terms_are_copies(self):
        h2 = zel.PauliSum.h2_hamiltonian()
        term = h2[0]
        term.coefficient = 5.0
        assert h2[0].coefficient != 5.0
        h2.append(term)
        assert len(h2) == 7 and h2[-1].coefficient == 5.0
        assert zel.parse_pauli_sum(str(h2)) == h2
        assert eval(repr(h2), vars(zel)) == h2
