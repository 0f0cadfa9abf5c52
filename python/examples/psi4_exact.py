#!/usr/bin/env python3
"""Builds a molecule in psi4, hands its integrals to zel and prints zel's exact energy next to
psi4's full-CI energy.

psi4 runs a restricted Hartree-Fock calculation (STO-3G, exact integrals: scf_type pk) and its
full CI (detci). Its MintsHelper gives the integrals over the Hartree-Fock orbitals: the
one-electron matrix C^T (T + V) C and the two-electron tensor (pq|rs) in chemists' order,
which zel.chem.integrals_from_arrays takes as NumPy arrays. zel maps them to a qubit
Hamiltonian and diagonalises it in the molecule's electron-number and spin sector.

Usage: psi4_exact.py [molecule]  where molecule is lih (default), h2 or h2o.
Exit status 0 when the energies agree within 1e-8 Ha, 1 when they do not, 77 when psi4 cannot
be imported (Debian: apt-get install psi4; its module lives in the multiarch library folder,
which this script adds to the path itself).
"""

import glob
import os
import sys
import tempfile

import numpy as np

import zel
import zel.chem as chem

SKIP = 77
TOLERANCE = 1e-8

MOLECULES = {
    'h2': 'H 0 0 0\nH 0 0 0.735',
    'lih': 'Li 0 0 0\nH 0 0 1.595',
    'h2o': 'O 0 0 0\nH 0 0.7569 0.5858\nH 0 -0.7569 0.5858',
}


def import_psi4():
    try:
        import psi4
        return psi4
    except ImportError:
        pass
    for init in sorted(glob.glob('/usr/lib/*/psi4/__init__.py')):
        sys.path.insert(0, os.path.dirname(os.path.dirname(init)))
        try:
            import psi4
            return psi4
        except ImportError:
            sys.path.pop(0)
    return None


def main():
    name = sys.argv[1] if len(sys.argv) > 1 else 'lih'
    if name not in MOLECULES:
        print('unknown molecule %r; choose one of %s' % (name, ', '.join(MOLECULES)),
              file=sys.stderr)
        return 2
    psi4 = import_psi4()
    if psi4 is None:
        print('psi4 cannot be imported: skipped', file=sys.stderr)
        return SKIP

    # psi4 writes scratch files and timer.dat into the working directory.
    os.chdir(tempfile.mkdtemp(prefix='zel_psi4_'))
    psi4.core.set_output_file('psi4.out', False)
    psi4.core.IOManager.shared_object().set_default_path(os.getcwd())
    psi4.set_memory('500 MB')
    molecule = psi4.geometry(MOLECULES[name] + '\nsymmetry c1')
    psi4.set_options({'basis': 'sto-3g', 'scf_type': 'pk', 'e_convergence': 1e-12,
                      'd_convergence': 1e-10, 'r_convergence': 1e-9})
    scf_energy, wfn = psi4.energy('scf', return_wfn=True)
    fci_energy = psi4.energy('fci', ref_wfn=wfn)

    mints = psi4.core.MintsHelper(wfn.basisset())
    c = np.asarray(wfn.Ca())
    one_body = c.T @ (np.asarray(mints.ao_kinetic()) + np.asarray(mints.ao_potential())) @ c
    two_body = np.asarray(mints.mo_eri(wfn.Ca(), wfn.Ca(), wfn.Ca(), wfn.Ca()))
    integrals = chem.integrals_from_arrays(molecule.nuclear_repulsion_energy(), one_body,
                                           two_body)
    sector = chem.Sector(wfn.nalpha(), wfn.nbeta())

    n = integrals.num_orbitals
    ordering = chem.SpinOrdering.Blocked
    hamiltonian = chem.qubit_hamiltonian(integrals, chem.Mapping.JordanWigner, ordering)
    ground = chem.sector_ground_state(hamiltonian, n, sector, ordering,
                                      chem.Mapping.JordanWigner)
    error = ground.energy - fci_energy

    print('%s/STO-3G: %d orbitals, %d alpha and %d beta electrons, %d qubits, %d Pauli terms'
          % (name, n, sector.num_alpha, sector.num_beta, 2 * n, len(hamiltonian)))
    print('psi4 SCF energy   %.10f Ha' % scf_energy)
    print('psi4 FCI energy   %.10f Ha' % fci_energy)
    print('zel exact energy  %.10f Ha  (difference %.2e mHa)' % (ground.energy, error * 1e3))
    return 0 if abs(error) < TOLERANCE else 1


if __name__ == '__main__':
    sys.exit(main())
