#!/usr/bin/env python3
"""Regenerates the chemistry test data in this folder with psi4.

    python3 tests/chem/data/make_data.py [--out DIR] [--only NAME ...]

For every molecule below it runs a restricted Hartree-Fock calculation and a full CI
(psi4's detci), writes <name>.fcidump with the integrals of the full orbital space in the
canonical Hartree-Fock orbitals, and records the energies in reference.json. All energies are
total energies in hartree (nuclear repulsion included); geometries are in angstrom.

Written for Debian's psi4 1.3.2 (`apt-get install psi4`), whose Python module lives in the
multiarch library folder; the script finds it there itself. Notes on that version:
- its FCIDUMP writer gets the one-electron integrals wrong when core orbitals are frozen, so the
  files are written here from the integrals of its MintsHelper instead (full space only);
- its default density fitting moves energies by about 1e-5 Ha, so `scf_type pk` is set;
- every calculation runs in C1 symmetry, so ORBSYM is all ones and orbitals are in energy order.
"""

import argparse
import glob
import json
import math
import os
import subprocess
import sys
import tempfile


def import_psi4():
    try:
        import psi4  # noqa: F401
    except ImportError:
        for init in sorted(glob.glob('/usr/lib/*/psi4/__init__.py')):
            sys.path.insert(0, os.path.dirname(os.path.dirname(init)))
            break
    import psi4
    return psi4


# Distances in angstrom. The chains lie along z; the water geometry is the experimental
# equilibrium (O-H 0.9572 A, H-O-H 104.52 degrees).
def _h2(r):
    return [['H', 0.0, 0.0, 0.0], ['H', 0.0, 0.0, r]]


def _chain(count, spacing):
    return [['H', 0.0, 0.0, spacing * i] for i in range(count)]


def _water():
    r, angle = 0.9572, math.radians(104.52)
    half = angle / 2
    return [['O', 0.0, 0.0, 0.0],
            ['H', 0.0, r * math.sin(half), r * math.cos(half)],
            ['H', 0.0, -r * math.sin(half), r * math.cos(half)]]


MOLECULES = [
    # name, geometry, basis, active space (frozen core orbitals, active orbitals) or None
    ('h2_0.735', _h2(0.735), 'sto-3g', None),
    ('h2_0.5', _h2(0.5), 'sto-3g', None),
    ('h2_1.0', _h2(1.0), 'sto-3g', None),
    ('h2_1.5', _h2(1.5), 'sto-3g', None),
    ('h2_2.5', _h2(2.5), 'sto-3g', None),
    ('h2_631g_0.735', _h2(0.735), '6-31g', None),
    ('lih_1.595', [['Li', 0.0, 0.0, 0.0], ['H', 0.0, 0.0, 1.595]], 'sto-3g', None),
    ('beh2_1.326', [['H', 0.0, 0.0, -1.326], ['Be', 0.0, 0.0, 0.0], ['H', 0.0, 0.0, 1.326]],
     'sto-3g', None),
    ('h2o', _water(), 'sto-3g', None),
    ('h4_chain_0.9', _chain(4, 0.9), 'sto-3g', None),
    ('h6_chain_1.0', _chain(6, 1.0), 'sto-3g', None),
    # Six electrons in six orbitals: the 2p bonding and antibonding orbitals over a frozen
    # 1s/2s core of four doubly occupied orbitals.
    ('n2_1.098', [['N', 0.0, 0.0, 0.0], ['N', 0.0, 0.0, 1.098]], 'sto-3g', (4, 6)),
]

CUTOFF = 1e-12
CONVERGENCE = {
    'scf_type': 'pk',
    'reference': 'rhf',
    'e_convergence': 1e-12,
    'd_convergence': 1e-10,
    'r_convergence': 1e-9,
    'ci_maxiter': 200,
}


def geometry_text(atoms):
    lines = ['%s %.10f %.10f %.10f' % tuple(atom) for atom in atoms]
    return '\n'.join(lines + ['units angstrom', 'symmetry c1', 'no_reorient', 'no_com'])


def mo_integrals(psi4, wfn):
    """One- and two-electron integrals over the molecular orbitals, chemists' notation."""
    import numpy as np
    mints = psi4.core.MintsHelper(wfn.basisset())
    ca = wfn.Ca()
    c = np.asarray(ca)
    h_ao = np.asarray(mints.ao_kinetic()) + np.asarray(mints.ao_potential())
    h1 = c.T @ h_ao @ c
    h2 = np.asarray(mints.mo_eri(ca, ca, ca, ca))
    return h1, h2


def hf_energy(h1, h2, constant, nocc):
    """Closed-shell determinant energy from the integrals, as a check on the files."""
    occ = range(nocc)
    e = constant + sum(2 * h1[i, i] for i in occ)
    e += sum(2 * h2[i, i, j, j] - h2[i, j, j, i] for i in occ for j in occ)
    return e


def write_fcidump(path, h1, h2, constant, nelec):
    """FCIDUMP with 1-based indexes, one line per symmetry-distinct integral."""
    n = h1.shape[0]
    lines = [' &FCI NORB=%d,NELEC=%d,MS2=0,' % (n, nelec),
             '  ORBSYM=' + ','.join(['1'] * n) + ',',
             '  ISYM=1,',
             ' &END']
    fmt = '%24.16e %3d %3d %3d %3d'
    for i in range(n):
        for j in range(i + 1):
            ij = i * (i + 1) // 2 + j
            for k in range(n):
                for l in range(k + 1):
                    if k * (k + 1) // 2 + l > ij:
                        continue
                    v = h2[i, j, k, l]
                    if abs(v) >= CUTOFF:
                        lines.append(fmt % (v, i + 1, j + 1, k + 1, l + 1))
    for i in range(n):
        for j in range(i + 1):
            if abs(h1[i, j]) >= CUTOFF:
                lines.append(fmt % (h1[i, j], i + 1, j + 1, 0, 0))
    lines.append(fmt % (constant, 0, 0, 0, 0))
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')


def run_molecule(psi4, name, atoms, basis, active, out_dir):
    psi4.core.clean()
    psi4.core.clean_options()
    mol = psi4.geometry(geometry_text(atoms), name=name.replace('.', '_'))
    psi4.set_options(dict(CONVERGENCE, basis=basis))
    e_scf, wfn = psi4.energy('scf', molecule=mol, return_wfn=True)
    nuclear = mol.nuclear_repulsion_energy()
    nmo = wfn.nmo()
    nelec = 2 * wfn.doccpi().sum()
    h1, h2 = mo_integrals(psi4, wfn)
    check = hf_energy(h1, h2, nuclear, nelec // 2)
    if abs(check - e_scf) > 1e-8:
        raise RuntimeError('%s: determinant energy from the integrals %.12f differs from the '
                           'SCF energy %.12f' % (name, check, e_scf))
    write_fcidump(os.path.join(out_dir, name + '.fcidump'), h1, h2, nuclear, nelec)

    e_fci = psi4.energy('fci', molecule=mol, ref_wfn=wfn)
    entry = {
        'geometry_angstrom': atoms,
        'basis': basis,
        'norb': nmo,
        'nelec': int(nelec),
        'ms2': 0,
        'nuclear_repulsion': nuclear,
        'scf_energy': e_scf,
        'fci_energy': e_fci,
        # Canonical orbital energies (hartree), in the order of the FCIDUMP's orbitals.
        'orbital_energies': [float(e) for e in wfn.epsilon_a().to_array()],
    }
    if active is not None:
        frozen, orbitals = active
        psi4.set_options({'frozen_docc': [frozen], 'active': [orbitals]})
        e_cas = psi4.energy('fci', molecule=mol, ref_wfn=wfn)
        entry['active_space'] = {
            'frozen_core_orbitals': frozen,
            'active_orbitals': orbitals,
            'active_electrons': int(nelec - 2 * frozen),
            # 1-based, as the FCIDUMP numbers them: frozen 1..frozen, active after them.
            'active_orbital_numbers': list(range(frozen + 1, frozen + orbitals + 1)),
            'fci_energy': e_cas,
        }
        psi4.core.clean_options()
    return entry


def run_worker(name, out_dir, entry_path):
    """Computes one molecule in this process; psi4 1.3.2 does not survive a change of molecule
    and basis size within one process (it fails in free() after clean()), so each molecule gets
    a fresh interpreter."""
    psi4 = import_psi4()
    psi4.set_memory('500 MB')
    psi4.set_num_threads(1)
    scratch = os.getcwd()
    psi4.core.IOManager.shared_object().set_default_path(scratch)
    psi4.core.set_output_file(os.path.join(scratch, 'psi4.out'), False)
    _, atoms, basis, active = next(m for m in MOLECULES if m[0] == name)
    entry = run_molecule(psi4, name, atoms, basis, active, out_dir)
    entry['psi4_version'] = psi4.__version__
    with open(entry_path, 'w') as f:
        json.dump(entry, f)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--out', default=here, help='output folder (default: this folder)')
    parser.add_argument('--only', nargs='*', help='molecule names to regenerate')
    parser.add_argument('--worker', nargs=2, metavar=('NAME', 'ENTRY_JSON'),
                        help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        run_worker(args.worker[0], args.out, args.worker[1])
        return

    reference_path = os.path.join(args.out, 'reference.json')
    reference = {}
    if args.only and os.path.exists(reference_path):
        with open(reference_path) as f:
            reference = json.load(f)['molecules']
    version = None
    for name, _, _, _ in MOLECULES:
        if args.only and name not in args.only:
            continue
        with tempfile.TemporaryDirectory(prefix='zel_make_data_') as tmp:
            entry_path = os.path.join(tmp, 'entry.json')
            # psi4 leaves its scratch files and timer.dat in the working directory.
            subprocess.run([sys.executable, os.path.abspath(__file__),
                            '--out', os.path.abspath(args.out), '--worker', name, entry_path],
                           check=True, stdout=subprocess.DEVNULL, cwd=tmp)
            with open(entry_path) as f:
                entry = json.load(f)
        version = entry.pop('psi4_version')
        reference[name] = entry
        print('%-16s norb %2d nelec %2d  scf %.10f  fci %.10f' %
              (name, entry['norb'], entry['nelec'], entry['scf_energy'], entry['fci_energy']))
    document = {
        'generator': 'tests/chem/data/make_data.py with psi4 %s' % version,
        'units': 'energies in hartree (total, nuclear repulsion included), geometry in angstrom',
        'orbitals': 'canonical restricted Hartree-Fock orbitals in C1 symmetry, energy order',
        'molecules': {k: reference[k] for k in sorted(reference)},
    }
    with open(reference_path, 'w') as f:
        json.dump(document, f, indent=1)
        f.write('\n')


if __name__ == '__main__':
    main()
