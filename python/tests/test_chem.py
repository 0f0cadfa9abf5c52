"""zel.chem: molecules from the psi4 test files (tests/chem/data) and from NumPy arrays, their
qubit Hamiltonians, Hartree-Fock states and exact energies against psi4's SCF and full CI, and
the library's errors as Python exceptions."""

import json
import os

import numpy as np
import pytest

import zel
import zel.chem as chem

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tests', 'chem',
                    'data')
with open(os.path.join(DATA, 'reference.json')) as _f:
    REFERENCE = json.load(_f)['molecules']

# psi4's energies are converged far below this, from the same integrals.
TOLERANCE = 1e-8
MAPPINGS = [chem.Mapping.JordanWigner, chem.Mapping.Parity, chem.Mapping.BravyiKitaev]
ORDERINGS = [chem.SpinOrdering.Interleaved, chem.SpinOrdering.Blocked]


def read(name):
    return chem.read_fcidump(os.path.join(DATA, name + '.fcidump'))


# The full-space N2 (14 400 determinants) is left to the C++ and command-line tests.
SMALL = sorted(name for name in REFERENCE if not name.startswith('n2'))


@pytest.mark.parametrize('name', SMALL)
def test_exact_energy_is_psi4_full_ci(name):
    data = read(name)
    reference = REFERENCE[name]
    assert data.integrals.num_orbitals == reference['norb']
    assert data.sector == chem.Sector(reference['nelec'] // 2, reference['nelec'] // 2)
    assert abs(chem.exact_energy(data.integrals, data.sector) - reference['fci_energy']) < TOLERANCE


@pytest.mark.parametrize('mapping', MAPPINGS)
@pytest.mark.parametrize('ordering', ORDERINGS)
def test_hartree_fock_state_and_sector_energy_under_every_mapping(mapping, ordering):
    data = read('lih_1.595')
    reference = REFERENCE['lih_1.595']
    n = data.integrals.num_orbitals
    hamiltonian = chem.qubit_hamiltonian(data.integrals, mapping, ordering)
    assert isinstance(hamiltonian, zel.PauliSum)

    index = chem.hartree_fock_index(n, data.sector, ordering, mapping)
    state = zel.run_circuit(chem.basis_state_circuit(index, 2 * n), 2 * n)
    assert abs(state.amplitudes[index]) == 1.0
    assert abs(hamiltonian.expectation_value(state) - reference['scf_energy']) < TOLERANCE

    ground = chem.sector_ground_state(hamiltonian, n, data.sector, ordering, mapping)
    assert abs(ground.energy - reference['fci_energy']) < TOLERANCE
    assert ground.basis.dtype == np.uint64 and ground.amplitudes.dtype == np.complex128
    assert len(ground.basis) == chem.sector_dimension(n, data.sector)
    assert abs(np.linalg.norm(ground.amplitudes) - 1.0) < 1e-12


def test_reduced_hamiltonians_keep_the_ground_energy():
    data = read('h2_0.735')
    fci = REFERENCE['h2_0.735']['fci_energy']
    blocked = chem.SpinOrdering.Blocked
    parity = chem.qubit_hamiltonian(data.integrals, chem.Mapping.Parity, blocked)
    reduced = chem.two_qubit_reduction(parity, 4, data.sector)
    assert (reduced.num_qubits, reduced.removed_qubits) == (2, [1, 3])
    assert abs(zel.ground_energy(reduced.hamiltonian, 2) - fci) < TOLERANCE

    jordan_wigner = chem.qubit_hamiltonian(data.integrals, chem.Mapping.JordanWigner, blocked)
    index = chem.hartree_fock_index(2, data.sector, blocked, chem.Mapping.JordanWigner)
    tapered = chem.taper(jordan_wigner, 4, index)
    assert tapered.num_qubits == 4 - len(chem.find_z2_symmetries(jordan_wigner, 4)) == 1
    assert abs(zel.ground_energy(tapered.hamiltonian, 1) - fci) < TOLERANCE


def test_active_space_energy_is_psi4_casci():
    data = read('n2_1.098')
    active = REFERENCE['n2_1.098']['active_space']
    space = chem.active_space(data, active['active_electrons'], active['active_orbitals'])
    assert space.integrals.num_orbitals == active['active_orbitals']
    assert space.num_electrons == active['active_electrons']
    assert abs(chem.exact_energy(space.integrals, space.sector) - active['fci_energy']) < TOLERANCE

    folded = chem.freeze_orbitals(data.integrals, active['frozen_core_orbitals'],
                                  active['active_orbitals'])
    assert folded == space.integrals


def test_arrays_in_and_out():
    integrals = read('h4_chain_0.9').integrals
    h1, h2 = integrals.one_body(), integrals.two_body()
    assert h1.shape == (4, 4) and h2.shape == (4, 4, 4, 4)
    assert np.array_equal(h1, h1.T)
    assert np.array_equal(h2, h2.transpose(2, 3, 0, 1)) and np.array_equal(h2, h2.transpose(1, 0, 2, 3))
    again = chem.integrals_from_arrays(integrals.constant, h1, h2)
    assert again == integrals
    # Any array of numbers converts: nested lists, Fortran order.
    assert chem.integrals_from_arrays(integrals.constant, h1.tolist(), np.asfortranarray(h2)) == integrals


BAD_ARRAYS = [
    # (one-body, two-body, exception)
    (np.zeros((2, 3)), np.zeros((2, 2, 2, 2)), ValueError),
    (np.zeros((2, 2)), np.zeros((2, 2, 2)), ValueError),
    (np.zeros((2, 2)), np.zeros((3, 3, 3, 3)), ValueError),
    (np.array([[0.0, 1.0], [0.5, 0.0]]), np.zeros((2, 2, 2, 2)), zel.InvalidArgument),
    (np.array([[np.nan, 0.0], [0.0, 0.0]]), np.zeros((2, 2, 2, 2)), zel.InvalidArgument),
]


@pytest.mark.parametrize('one_body,two_body,error', BAD_ARRAYS)
def test_bad_arrays_are_refused(one_body, two_body, error):
    with pytest.raises(error):
        chem.integrals_from_arrays(0.0, one_body, two_body)


def test_fcidump_text_reads_back_bit_for_bit(tmp_path):
    data = read('beh2_1.326')
    assert chem.parse_fcidump(chem.fcidump_text(data)) == data
    path = tmp_path / 'copy.fcidump'
    chem.write_fcidump(data, str(path))
    assert chem.read_fcidump(str(path)) == data


HEADER = ' &FCI NORB=2,NELEC=2,MS2=0,\n  ORBSYM=1,1,\n  ISYM=1,\n &END\n'


@pytest.mark.parametrize('text,line', [
    (HEADER + ' 0.5 1 1 3 1\n', 5),
    (HEADER + ' 0.5D+00 1 1 1\n', 5),
    (HEADER + ' 1.0 1 1 1 1\n 2.0 1 1 1 1\n', 6),
])
def test_fcidump_errors_name_source_and_line(text, line):
    with pytest.raises(chem.FcidumpError) as caught:
        chem.parse_fcidump(text, 'molecule.fcidump')
    error = caught.value
    assert isinstance(error, zel.InvalidArgument) and isinstance(error, ValueError)
    assert (error.source, error.line) == ('molecule.fcidump', line)
    assert str(error) == 'molecule.fcidump:%d: %s' % (line, error.reason)


def test_missing_file_is_an_fcidump_error(tmp_path):
    with pytest.raises(chem.FcidumpError) as caught:
        chem.read_fcidump(str(tmp_path / 'absent.fcidump'))
    assert caught.value.line == 0


def test_impossible_active_space_is_invalid_argument():
    with pytest.raises(zel.InvalidArgument):
        chem.active_space(read('h2_0.735'), 4, 2)


@pytest.mark.parametrize('mapping', MAPPINGS)
def test_fermion_operators_map_to_the_same_hamiltonian_and_the_hartree_fock_quantum_numbers(
        mapping):
    data = read('h4_chain_0.9')
    n = data.integrals.num_orbitals
    ordering = chem.SpinOrdering.Interleaved
    fermion = chem.molecular_hamiltonian(data.integrals, ordering)
    mapped = chem.map_operator(fermion, mapping, 2 * n)
    direct = chem.qubit_hamiltonian(data.integrals, mapping, ordering)
    assert [[(f.qubit, f.kind) for f in t.paulis] for t in mapped] == \
        [[(f.qubit, f.kind) for f in t.paulis] for t in direct]
    assert max(abs(a.coefficient - b.coefficient) for a, b in zip(mapped, direct)) < 1e-12

    index = chem.hartree_fock_index(n, data.sector, ordering, mapping)
    state = zel.run_circuit(chem.basis_state_circuit(index, 2 * n), 2 * n)
    expected = {'number': data.num_electrons, 'spin_z': 0.0, 'total_spin': 0.0}
    operators = {'number': chem.number_operator(2 * n),
                 'spin_z': chem.spin_z_operator(n, ordering),
                 'total_spin': chem.total_spin_operator(n, ordering)}
    for name, op in operators.items():
        value = chem.map_operator(op, mapping, 2 * n).expectation_value(state)
        assert abs(value - expected[name]) < 1e-12, name

    # After tapering, N still counts the Hartree-Fock electrons on the reduced register.
    full = chem.qubit_hamiltonian(data.integrals, mapping, chem.SpinOrdering.Blocked)
    blocked_index = chem.hartree_fock_index(n, data.sector, chem.SpinOrdering.Blocked, mapping)
    symmetries = chem.find_z2_symmetries(full, 2 * n)
    tapered = chem.taper(full, 2 * n, blocked_index)
    number = chem.taper_operator(chem.map_operator(chem.number_operator(2 * n), mapping, 2 * n),
                                 2 * n, symmetries, tapered)
    reduced_index = chem.remove_qubits(blocked_index, tapered.removed_qubits)
    reduced_state = zel.run_circuit(chem.basis_state_circuit(reduced_index, tapered.num_qubits),
                                    tapered.num_qubits)
    assert abs(number.expectation_value(reduced_state) - data.num_electrons) < 1e-12


def test_normal_order_and_conjugate():
    op = chem.annihilation(0) * chem.creation(0)
    expected = chem.FermionOperator()
    expected.add(1.0, [])
    expected.add(-1.0, [(0, True), (0, False)])
    assert chem.normal_ordered(op) == expected
    hop = chem.FermionOperator()
    hop.add(0.5j, [(1, True), (0, False)])
    conjugate = chem.hermitian_conjugate(hop)
    assert conjugate.terms == [(-0.5j, [(0, True), (1, False)])]
    with pytest.raises(zel.InvalidArgument):
        chem.map_operator(hop, chem.Mapping.JordanWigner, 2)
    assert len(chem.map_operator(hop + conjugate, chem.Mapping.JordanWigner, 2)) == 2
