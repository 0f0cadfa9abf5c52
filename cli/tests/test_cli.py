"""The zel executable on the psi4 test molecules (tests/chem/data): exact energies against
psi4's full CI under every mapping, with and without qubit reduction, the JSON output, and the
one-line errors and exit statuses of bad arguments and bad files."""

import json
import os
import subprocess

import pytest

ZEL = os.environ['ZEL_CLI']
DATA = os.environ['ZEL_CHEM_DATA']
with open(os.path.join(DATA, 'reference.json')) as _f:
    REFERENCE = json.load(_f)['molecules']

# psi4's detci converges its energies far below this; the integrals in the files are exact to
# 17 digits, so both sides diagonalise the same Hamiltonian.
TOLERANCE = 1e-8
MAPPINGS = ['jordan-wigner', 'parity', 'bravyi-kitaev']
EXIT_USAGE, EXIT_INPUT, EXIT_COMPUTATION = 2, 3, 4


def zel(*args):
    return subprocess.run([ZEL, *map(str, args)], capture_output=True, text=True, timeout=300)


def fcidump(name):
    return os.path.join(DATA, name + '.fcidump')


def zel_json(*args):
    result = zel(*args, '--json')
    assert result.returncode == 0, result.stderr
    assert result.stderr == ''
    lines = result.stdout.splitlines()
    assert len(lines) == 1
    return json.loads(lines[0])


# Every molecule under every mapping, with and without reduction; the slowest, N2 in its full
# space (20 qubits, 14 400 determinants), takes a second or two per case. ZEL_TEST_SMALL=1 (the
# sanitizer build in CI, where each case runs ten times slower) keeps the molecules of up to six
# orbitals: the same code paths, and the larger ones still run in the optimised build.
SMALL = os.environ.get('ZEL_TEST_SMALL') == '1'
CASES = [(name, mapping, reduce)
         for name in sorted(REFERENCE)
         if not SMALL or REFERENCE[name]['norb'] <= 6
         for mapping in MAPPINGS
         for reduce in (False, True)]


@pytest.mark.parametrize('name,mapping,reduce', CASES)
def test_exact_energy_matches_psi4_full_ci(name, mapping, reduce):
    reference = REFERENCE[name]
    args = ['exact', fcidump(name), '--mapping', mapping] + (['--reduce'] if reduce else [])
    result = zel_json(*args)
    assert abs(result['energy'] - reference['fci_energy']) < TOLERANCE
    assert abs(result['hartree_fock_energy'] - reference['scf_energy']) < TOLERANCE
    assert abs(result['constant'] - reference['nuclear_repulsion']) < 1e-12
    assert result['sector'] == {'electrons': reference['nelec'], 'alpha': reference['nelec'] // 2,
                                'beta': reference['nelec'] // 2, 'ms2': 0}
    full = 2 * reference['norb']
    assert result['num_qubits'] == full - len(result['removed_qubits'])
    if reduce and mapping == 'parity':
        assert result['removed_qubits'] == [full // 2 - 1, full - 1]
    elif not reduce:
        assert result['removed_qubits'] == []


@pytest.mark.parametrize('mapping', MAPPINGS)
@pytest.mark.parametrize('reduce', [False, True])
def test_active_space_energy_matches_psi4_casci(mapping, reduce):
    active = REFERENCE['n2_1.098']['active_space']
    args = ['exact', fcidump('n2_1.098'), '--mapping', mapping,
            '--active-electrons', active['active_electrons'],
            '--active-orbitals', active['active_orbitals']] + (['--reduce'] if reduce else [])
    result = zel_json(*args)
    assert abs(result['energy'] - active['fci_energy']) < TOLERANCE
    assert result['active_space'] == {'electrons': active['active_electrons'],
                                      'orbitals': active['active_orbitals'],
                                      'frozen_orbitals': active['frozen_core_orbitals']}
    assert result['sector']['electrons'] == active['active_electrons']


def test_json_gives_the_same_facts_for_both_commands():
    exact = zel_json('exact', fcidump('lih_1.595'), '--mapping', 'parity', '--reduce')
    hamiltonian = zel_json('hamiltonian', fcidump('lih_1.595'), '--mapping', 'parity',
                           '--reduce')
    assert exact['command'] == 'exact' and hamiltonian['command'] == 'hamiltonian'
    shared = ['file', 'mapping', 'spin_order', 'reduction', 'sector', 'active_space',
              'num_qubits', 'num_terms', 'removed_qubits', 'constant', 'hartree_fock_energy']
    for key in shared:
        assert exact[key] == hamiltonian[key], key
    assert exact['reduction'] == 'two-qubit' and exact['num_qubits'] == 10
    assert isinstance(exact['energy'], float) and 'energy' not in hamiltonian
    text = zel('hamiltonian', fcidump('lih_1.595'), '--mapping', 'parity', '--reduce')
    assert text.stdout.rstrip('\n') == hamiltonian['hamiltonian']


def test_help_is_printed_with_status_zero():
    result = zel('--help')
    assert result.returncode == 0 and result.stderr == ''
    for word in ['FCIDUMP', 'hartree', 'jordan-wigner', 'parity', 'bravyi-kitaev', 'Exit status']:
        assert word in result.stdout


H2 = fcidump('h2_0.735')
GOOD_HEADER = ' &FCI NORB=2,NELEC=2,MS2=0,\n  ORBSYM=1,1,\n  ISYM=1,\n &END\n'

BAD_ARGUMENTS = [
    ([], 'subcommand'),
    (['frobnicate'], 'frobnicate'),
    (['exact'], 'FILE'),
    (['exact', H2, '--mapping', 'jw'], '--mapping'),
    (['exact', H2, '--active-electrons', 2], '--active-orbitals'),
    (['exact', H2, '--active-electrons', 'two', '--active-orbitals', 2], 'two'),
    (['exact', H2, '--active-electrons', -2, '--active-orbitals', 2], '-2'),
    (['exact', H2, '--active-electrons', 2, '--active-orbitals', -1], '-1'),
    (['exact', H2, '--active-electrons', 1.5, '--active-orbitals', 2], '1.5'),
    (['exact', H2, '--active-electrons', '', '--active-orbitals', 2], '--active-'),
    (['exact', H2, '--active-electrons', 4, '--active-orbitals', 2], '--active-electrons 4'),
    (['exact', H2, '--active-electrons', 1, '--active-orbitals', 2], '--active-electrons 1'),
    (['exact', H2, '--active-electrons', 2, '--active-orbitals', 3], '--active-orbitals 3'),
    (['hamiltonian', H2, '--mapping', 'parity', '--reduce', '--spin-order', 'interleaved'],
     '--reduce'),
    (['hamiltonian', H2, '--bogus'], '--bogus'),
]


@pytest.mark.parametrize('args,named', BAD_ARGUMENTS)
def test_bad_arguments_are_one_line_usage_errors(args, named):
    result = zel(*args)
    assert result.returncode == EXIT_USAGE
    assert result.stdout == ''
    assert result.stderr.startswith('zel: ') and result.stderr.count('\n') == 1
    assert named in result.stderr


BAD_FILES = [
    # (file text or None for a missing file, the line named (None: the whole file or the
    # header), a word of the reason)
    (None, None, ''),
    ('', None, ''),
    (' &FCI NORB=2,NELEC=6,MS2=0,\n &END\n', None, 'NELEC'),
    (GOOD_HEADER + '  0.5 1 1 3 1\n', 5, 'NORB'),
    (GOOD_HEADER + '  0.5 1 1 1\n', 5, ''),
    (GOOD_HEADER + '  zero 1 1 1 1\n', 5, ''),
    (GOOD_HEADER + '  nan 1 1 1 1\n', 5, ''),
    (GOOD_HEADER + '  0.5 1 1 1 1\n  0.6 1 1 1 1\n', 6, ''),
]


@pytest.mark.parametrize('text,line,reason', BAD_FILES)
def test_bad_files_name_file_and_line(tmp_path, text, line, reason):
    path = tmp_path / 'molecule.fcidump'
    if text is not None:
        path.write_text(text)
    result = zel('exact', path)
    assert result.returncode == EXIT_INPUT
    assert result.stdout == ''
    assert result.stderr.count('\n') == 1
    prefix = 'zel: %s:' % path if line is None else 'zel: %s:%d: ' % (path, line)
    assert result.stderr.startswith(prefix), result.stderr
    assert reason in result.stderr


def test_output_that_cannot_be_written_is_a_failure():
    with open('/dev/full', 'w') as full:
        result = subprocess.run([ZEL, 'hamiltonian', H2], stdout=full, stderr=subprocess.PIPE,
                                text=True, timeout=60)
    assert result.returncode == EXIT_COMPUTATION
    assert result.stderr.startswith('zel: ') and result.stderr.count('\n') == 1


def test_sector_beyond_the_solver_is_refused_before_any_work(tmp_path):
    path = tmp_path / 'sixteen.fcidump'
    path.write_text(' &FCI NORB=16,NELEC=16,MS2=0,\n &END\n 0.5 1 1 1 1\n 0.7 0 0 0 0\n')
    result = zel('exact', path)
    assert result.returncode == EXIT_COMPUTATION
    assert result.stdout == ''
    assert result.stderr.count('\n') == 1 and '--active-electrons' in result.stderr


# `zel adapt` and `zel uccsd` with their defaults on the small molecules: the final total energy
# within chemical accuracy (1.6 mHa) of psi4's full CI; LiH with its 1s core frozen.
CHEMICAL_ACCURACY = 1.6e-3
SOLVER_CASES = [
    ('adapt', 'h2_0.735', []),
    ('adapt', 'h2_2.5', ['--pool', 'qubit', '--spin-order', 'interleaved']),
    ('adapt', 'h2_1.5', ['--pool', 'generalized', '--mapping', 'bravyi-kitaev']),
    ('adapt', 'lih_1.595', ['--active-electrons', 2, '--active-orbitals', 5,
                            '--mapping', 'parity', '--reduce']),
    ('adapt', 'h4_chain_0.9', ['--pool', 'generalized-qubit', '--spin-complement']),
    ('uccsd', 'h2_1.0', []),
    ('uccsd', 'h2_2.5', ['--ansatz', 'k-upccgsd', '--layers', 2, '--reduce']),
]


@pytest.mark.parametrize('command,name,extra', SOLVER_CASES)
def test_solvers_reach_chemical_accuracy(tmp_path, command, name, extra):
    qasm = tmp_path / 'circuit.qasm'
    result = zel_json(command, fcidump(name), '--qasm', qasm, *extra)
    assert result['command'] == command
    if '--active-orbitals' not in extra:
        assert abs(result['exact_energy'] - REFERENCE[name]['fci_energy']) < TOLERANCE
    assert abs(result['energy'] - result['exact_energy']) < CHEMICAL_ACCURACY
    assert result['chemical_accuracy'] is True
    assert result['energy'] < result['reference_energy']
    assert len(result['parameters']) == len(result['operators'])
    if command == 'adapt':
        assert result['stop_reason'] == 'gradient norm'
        assert len(result['energies']) == len(result['operators'])
        assert result['energies'][-1] == result['energy']
    text = qasm.read_text()
    assert text.startswith('OPENQASM 3.0;') and 'rz(' in text


def test_adapt_prints_one_progress_line_per_iteration():
    result = zel('adapt', fcidump('lih_1.595'), '--active-electrons', 2, '--active-orbitals', 5)
    assert result.returncode == 0 and result.stderr == ''
    lines = result.stdout.splitlines()
    header = next(i for i, line in enumerate(lines) if line.startswith('iter'))
    progress = [line for line in lines[header + 1:] if line[:4].strip().isdigit()]
    assert [int(line.split()[0]) for line in progress] == list(range(1, len(progress) + 1))
    assert progress[-1].split()[4] == 'yes'
    assert 'within chemical accuracy' in lines[-1]


BAD_SOLVER_ARGUMENTS = [
    (['adapt', H2, '--max-operators', 0], EXIT_USAGE, 'at least 1'),
    (['adapt', H2, '--gradient-tolerance', -1], EXIT_USAGE, 'finite number'),
    (['adapt', H2, '--energy-tolerance', 'nan'], EXIT_USAGE, 'finite number'),
    (['adapt', H2, '--pool', 'bosonic'], EXIT_USAGE, '--pool'),
    (['uccsd', H2, '--layers', 0], EXIT_USAGE, 'at least 1'),
    (['uccsd', H2, '--ansatz', 'ccsd(t)'], EXIT_USAGE, '--ansatz'),
    (['uccsd', H2, '--threads', -2], EXIT_USAGE, 'count'),
    (['adapt', H2, '--qasm', '/nonexistent/dir/x.qasm'], EXIT_COMPUTATION, 'cannot write'),
    (['uccsd', '/nonexistent.fcidump'], EXIT_INPUT, 'cannot open'),
    (['adapt', H2, '--pool', 'qubit', '--mapping', 'parity'], EXIT_USAGE, 'jordan-wigner'),
    (['adapt', H2, '--pool', 'generalized-qubit', '--mapping', 'parity'], EXIT_USAGE,
     'jordan-wigner'),
    (['adapt', H2, '--pool', 'pauli', '--spin-complement'], EXIT_USAGE, 'Pauli strings'),
]


@pytest.mark.parametrize('args,status,reason', BAD_SOLVER_ARGUMENTS)
def test_bad_solver_arguments_are_one_line_errors(args, status, reason):
    result = zel(*args)
    assert result.returncode == status
    assert result.stdout == ''
    assert result.stderr.startswith('zel: ') and result.stderr.count('\n') == 1
    assert reason in result.stderr
