// zel.chem: molecules from FCIDUMP files or NumPy integral arrays, their qubit Hamiltonians
// under the three mappings, qubit reduction, the Hartree-Fock state and exact sector energies.
//
// Integrals cross as NumPy arrays in chemists' order ((pq|rs) at [p, q, r, s]); Hamiltonians
// are zel.PauliSum. Long computations (mapping, exact energies) release the GIL and run on
// copies of their inputs.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/reference.hpp"
#include "zel/chem/tapering.hpp"

#include "bindings.hpp"
#include "chem_bindings.hpp"
#include <pybind11/complex.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

namespace zel::python {
namespace {

using namespace zel::chem;

constexpr const char* CHEM_DOC =
    R"(Molecules in: FCIDUMP files and integral arrays to qubit Hamiltonians.

Conventions: energies in hartree; orbitals 0-based in memory (1-based only in FCIDUMP files);
two-electron integrals in chemists' notation, h2[p, q, r, s] = (pq|rs). Spin orbitals are
numbered by a SpinOrdering that every call taking one names: Blocked (alpha p on qubit p, beta
p on qubit n + p) or Interleaved (alpha p on 2p, beta p on 2p + 1). Qubit q is bit q of a basis
index. A Sector is the number of alpha and beta electrons.

Errors: a bad file raises FcidumpError (a zel.InvalidArgument, so a ValueError) with `source`,
`line` and `reason`; other bad arguments raise zel.InvalidArgument.)";

PyObject* fcidump_error_type = nullptr;

void translate_fcidump_error(std::exception_ptr failure) {
    try {
        if (failure) {
            std::rethrow_exception(failure);
        }
    } catch (const FcidumpError& e) {
        py::object instance =
            py::reinterpret_borrow<py::object>(fcidump_error_type)(to_str(e.what()));
        instance.attr("source") = to_str(e.source());
        instance.attr("line") = py::int_(e.line());
        instance.attr("reason") = to_str(e.reason());
        PyErr_SetObject(fcidump_error_type, instance.ptr());
    }
}

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

/// An n x n array (or n^4 for `dimensions` 4) as a shaped NumPy array over `values`.
py::array shaped(std::vector<double>&& values, std::size_t n, int dimensions) {
    std::vector<py::ssize_t> shape(static_cast<std::size_t>(dimensions),
                                   static_cast<py::ssize_t>(n));
    return to_numpy(std::move(values)).reshape(shape);
}

Integrals from_arrays(double constant, const DoubleArray& one_body, const DoubleArray& two_body,
                      double tolerance) {
    if (one_body.ndim() != 2 || one_body.shape(0) != one_body.shape(1)) {
        throw py::value_error("one_body must be a square n x n array");
    }
    const auto n = static_cast<std::size_t>(one_body.shape(0));
    bool matches = two_body.ndim() == 4;
    for (int axis = 0; matches && axis < 4; ++axis) {
        matches = static_cast<std::size_t>(two_body.shape(axis)) == n;
    }
    if (!matches) {
        throw py::value_error("two_body must be an n x n x n x n array with n = " +
                              std::to_string(n) + " (the size of one_body)");
    }
    return integrals_from_arrays(constant, {one_body.data(), n * n},
                                 {two_body.data(), n * n * n * n}, n, tolerance);
}

std::string sector_repr(const Sector& sector) {
    return "Sector(" + std::to_string(sector.num_alpha) + ", " + std::to_string(sector.num_beta) +
           ")";
}

void bind_types(py::module_& m) {
    py::enum_<Mapping>(m, "Mapping",
                       "A fermion-to-qubit mapping: what qubit q stores for occupations n. "
                       "JordanWigner: n_q. Parity: n_0 + ... + n_q (mod 2). BravyiKitaev: the "
                       "Fenwick-tree partial sums.")
        .value("JordanWigner", Mapping::JordanWigner)
        .value("Parity", Mapping::Parity)
        .value("BravyiKitaev", Mapping::BravyiKitaev);
    py::enum_<SpinOrdering>(m, "SpinOrdering",
                            "Numbering of spin orbitals from n spatial orbitals. Interleaved: "
                            "alpha p -> 2p, beta p -> 2p + 1. Blocked: alpha p -> p, beta p -> "
                            "n + p.")
        .value("Interleaved", SpinOrdering::Interleaved)
        .value("Blocked", SpinOrdering::Blocked);

    py::class_<Sector>(m, "Sector",
                       "A particle-number and spin sector: num_alpha and num_beta electrons "
                       "(N = num_alpha + num_beta, S_z = (num_alpha - num_beta) / 2). A tuple "
                       "(num_alpha, num_beta) converts to one.")
        .def(py::init([](std::size_t num_alpha, std::size_t num_beta) {
                 return Sector{num_alpha, num_beta};
             }),
             py::arg("num_alpha"), py::arg("num_beta"), "The sector of the given counts.")
        .def(py::init([](const py::tuple& pair) {
                 if (pair.size() != 2) {
                     throw py::value_error("a sector tuple is (num_alpha, num_beta)");
                 }
                 return Sector{pair[0].cast<std::size_t>(), pair[1].cast<std::size_t>()};
             }),
             py::arg("pair"), "From a tuple (num_alpha, num_beta).")
        .def_readwrite("num_alpha", &Sector::num_alpha, "Alpha (spin-up) electrons.")
        .def_readwrite("num_beta", &Sector::num_beta, "Beta (spin-down) electrons.")
        .def(
            "__eq__",
            [](const Sector& a, const Sector& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", &sector_repr);
    py::implicitly_convertible<py::tuple, Sector>();

    py::class_<Integrals>(m, "Integrals",
                          "Restricted one- and two-electron integrals over n spatial orbitals "
                          "and the constant energy (hartree): H = constant + sum h_pq E_pq + "
                          "1/2 sum (pq|rs) (E_pq E_rs - delta_qr E_ps). Build one with "
                          "integrals_from_arrays or read_fcidump.")
        .def(py::init<std::size_t>(), py::arg("num_orbitals"),
             "`num_orbitals` orbitals with every integral and the constant 0.")
        .def_property_readonly("num_orbitals", &Integrals::num_orbitals,
                               "Number of spatial orbitals n.")
        .def_property("constant", &Integrals::constant, &Integrals::set_constant,
                      "The constant energy (hartree): nuclear repulsion plus any frozen core.")
        .def(
            "one_body",
            [](const Integrals& integrals) {
                return shaped(integrals.one_body_matrix(), integrals.num_orbitals(), 2);
            },
            "The one-electron integrals h as a new n x n array (hartree).")
        .def(
            "two_body",
            [](const Integrals& integrals) {
                return shaped(integrals.two_body_tensor(), integrals.num_orbitals(), 4);
            },
            "The two-electron integrals as a new n x n x n x n array in chemists' order: "
            "[p, q, r, s] = (pq|rs) (hartree).")
        .def(
            "__eq__",
            [](const Integrals& a, const Integrals& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", [](const Integrals& integrals) {
            return "<zel.chem.Integrals of " + std::to_string(integrals.num_orbitals()) +
                   " orbitals>";
        });

    py::class_<Fcidump>(m, "Fcidump",
                        "The contents of an FCIDUMP file: integrals, NELEC, MS2, ORBSYM, ISYM "
                        "and the orbital energies its `i 0 0 0` lines gave.")
        .def(py::init<>(), "An empty file: no orbitals, no electrons.")
        .def_readwrite("integrals", &Fcidump::integrals, "The integrals (a copy on read).")
        .def_readwrite("num_electrons", &Fcidump::num_electrons, "NELEC.")
        .def_readwrite("ms2", &Fcidump::ms2, "MS2 = N_alpha - N_beta.")
        .def_readwrite("orbsym", &Fcidump::orbsym, "ORBSYM, one irrep label per orbital.")
        .def_readwrite("isym", &Fcidump::isym, "ISYM, the irrep of the state.")
        .def_readwrite("orbital_energies", &Fcidump::orbital_energies,
                       "Orbital energies (hartree) per orbital, None where the file has none.")
        .def_property_readonly("sector", &Fcidump::sector,
                               "The Sector ((NELEC + MS2) / 2, (NELEC - MS2) / 2).")
        .def(
            "__eq__",
            [](const Fcidump& a, const Fcidump& b) {
                return a == b;
            },
            py::is_operator());

    py::class_<ReducedHamiltonian>(m, "ReducedHamiltonian",
                                   "A Hamiltonian on fewer qubits and which qubits were removed.")
        .def_readonly("hamiltonian", &ReducedHamiltonian::hamiltonian,
                      "The reduced PauliSum (a copy).")
        .def_readonly("num_qubits", &ReducedHamiltonian::num_qubits,
                      "Qubits of the reduced register.")
        .def_readonly("removed_qubits", &ReducedHamiltonian::removed_qubits,
                      "Removed qubits of the full register, ascending.")
        .def_readonly("eigenvalues", &ReducedHamiltonian::eigenvalues,
                      "+1 or -1 substituted for each removed qubit, in the same order.");

    py::class_<Z2Symmetry>(m, "Z2Symmetry",
                           "A Z-type symmetry generator: Z on the set bits of `z_mask`, and "
                           "its pivot qubit, which no other generator of its set touches.")
        .def_readonly("z_mask", &Z2Symmetry::z_mask, "The qubits of its Z factors as a mask.")
        .def_readonly("pivot", &Z2Symmetry::pivot, "The pivot qubit.");

    py::class_<SectorGroundState>(m, "SectorGroundState",
                                  "The lowest eigenpair within a sector: `energy` (hartree), "
                                  "`basis` (qubit basis indexes, ascending, uint64 array) and "
                                  "`amplitudes` (normalised eigenvector over `basis`).")
        .def_readonly("energy", &SectorGroundState::energy,
                      "The lowest eigenvalue (hartree, constant included when the "
                      "Hamiltonian's identity term holds it).")
        .def_property_readonly(
            "basis",
            [](const SectorGroundState& ground) {
                return to_numpy(std::vector<std::uint64_t>(ground.basis));
            },
            "The sector's basis states as a new uint64 array.")
        .def_property_readonly(
            "amplitudes",
            [](const SectorGroundState& ground) {
                return to_numpy(std::vector<std::complex<double>>(ground.amplitudes));
            },
            "The eigenvector over `basis` as a new complex128 array.");
}

void bind_integrals(py::module_& m) {
    m.def("integrals_from_arrays", &from_arrays, py::arg("constant"), py::arg("one_body"),
          py::arg("two_body"), py::arg("tolerance") = SYMMETRY_TOLERANCE,
          "Integrals from NumPy arrays, e.g. psi4's or PySCF's: the constant (hartree), the n x "
          "n one-electron array h[p, q] and the n x n x n x n two-electron array in chemists' "
          "order [p, q, r, s] = (pq|rs). Raises ValueError for wrong shapes and "
          "zel.InvalidArgument for non-finite values or arrays that break the permutational "
          "symmetry by more than `tolerance`.");
    m.def("freeze_orbitals", &freeze_orbitals, py::arg("integrals"), py::arg("num_frozen"),
          py::arg("num_active"),
          "Freezes the `num_frozen` lowest orbitals (doubly occupied, folded into the constant "
          "and the one-electron integrals exactly) and keeps the next `num_active`.");
    m.def("read_fcidump", &read_fcidump, py::arg("path"),
          "Reads an FCIDUMP file. Raises FcidumpError naming the file, the line and the "
          "reason.");
    m.def("parse_fcidump", &parse_fcidump, py::arg("text"), py::arg("source_name") = "<text>",
          "Reads FCIDUMP text; errors name `source_name` as the file.");
    m.def("fcidump_text", &fcidump_text, py::arg("data"),
          "The FCIDUMP text of `data`, which parse_fcidump reads back bit for bit.");
    m.def("write_fcidump", &write_fcidump, py::arg("data"), py::arg("path"),
          "Writes fcidump_text(data) to `path`; raises FcidumpError when it cannot.");
    m.def("active_space", &active_space, py::arg("data"), py::arg("active_electrons"),
          py::arg("active_orbitals"),
          "The active space of `active_electrons` electrons in `active_orbitals` orbitals; the "
          "orbitals below are frozen and folded in. Raises zel.InvalidArgument for an "
          "impossible space.");
}

void bind_reference(py::module_& m) {
    m.def("hartree_fock_occupation", &hartree_fock_occupation, py::arg("num_orbitals"),
          py::arg("sector"), py::arg("ordering"),
          "The Hartree-Fock occupation vector over 2n modes (bit j set when mode j is "
          "occupied): the lowest num_alpha alpha and num_beta beta orbitals.");
    m.def("hartree_fock_index", &hartree_fock_index, py::arg("num_orbitals"), py::arg("sector"),
          py::arg("ordering"), py::arg("mapping"),
          "The basis index of the Hartree-Fock state on 2n qubits under `mapping`.");
    m.def("basis_state_circuit", &basis_state_circuit, py::arg("index"), py::arg("num_qubits"),
          "A zel.ZarnikGraph of one X gate per set bit of `index`: it prepares basis state "
          "`index` from |0...0>.");
}

void bind_exact(py::module_& m) {
    m.def("sector_dimension", &sector_dimension, py::arg("num_orbitals"), py::arg("sector"),
          "C(n, num_alpha) * C(n, num_beta): the basis states of `sector`.");
    m.def(
        "sector_ground_state",
        [](const PauliSum& hamiltonian, std::size_t num_orbitals, Sector sector,
           SpinOrdering ordering, Mapping mapping) {
            const PauliSum copy = hamiltonian;
            return run_released(true, [&] {
                return sector_ground_state(copy, num_orbitals, sector, ordering, mapping);
            });
        },
        py::arg("hamiltonian"), py::arg("num_orbitals"), py::arg("sector"), py::arg("ordering"),
        py::arg("mapping"),
        "The lowest eigenpair of a qubit Hamiltonian on 2n qubits (mapped by `mapping` with "
        "`ordering`) within `sector`: the exact (full-CI) energy for a molecular Hamiltonian.");
    m.def(
        "exact_ground_state",
        [](const Integrals& integrals, Sector sector) {
            const Integrals copy = integrals;
            return run_released(true, [&] {
                return exact_ground_state(copy, sector);
            });
        },
        py::arg("integrals"), py::arg("sector"),
        "The exact (full-CI) ground state of `integrals` in `sector` (Jordan-Wigner, "
        "Interleaved order); the energy includes the constant.");
    m.def(
        "exact_energy",
        [](const Integrals& integrals, Sector sector) {
            const Integrals copy = integrals;
            return run_released(true, [&] {
                return exact_ground_state(copy, sector).energy;
            });
        },
        py::arg("integrals"), py::arg("sector"),
        "The exact (full-CI) energy of `integrals` in `sector` (hartree, constant included).");
}

}  // namespace

void bind_chem(py::module_& zel_module) {
    py::module_ m = zel_module.def_submodule("chem", CHEM_DOC);
    // The submodule's own name, so that `import zel.chem` and pickling find it.
    m.attr("__name__") = "zel.chem";
    py::module_::import("sys").attr("modules")["zel.chem"] = m;

    py::object invalid_argument = zel_module.attr("InvalidArgument");
    fcidump_error_type = PyErr_NewExceptionWithDoc(
        "zel.chem.FcidumpError",
        "A file or text that is not a valid FCIDUMP: str(error) is \"{source}:{line}: "
        "{reason}\"; attributes `source`, `line` (1-based, 0 for the whole file) and `reason`. "
        "A zel.InvalidArgument, so a ValueError.",
        invalid_argument.ptr(), nullptr);
    if (fcidump_error_type == nullptr) {
        throw py::error_already_set();
    }
    m.add_object("FcidumpError", py::handle(fcidump_error_type));
    // Registered after the library's translator, so it is tried first.
    py::register_exception_translator(&translate_fcidump_error);

    bind_types(m);
    bind_fermion(m);
    bind_integrals(m);
    bind_mapping(m);
    bind_reference(m);
    bind_exact(m);
}

}  // namespace zel::python
