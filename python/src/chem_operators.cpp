// zel.chem: fermion operators and their mappings to qubits (Jordan-Wigner, parity,
// Bravyi-Kitaev), occupation encodings, the two-qubit reduction and tapering.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zel/chem/fermion.hpp"
#include "zel/chem/mapping.hpp"
#include "zel/chem/tapering.hpp"

#include "bindings.hpp"
#include "chem_bindings.hpp"
#include <pybind11/complex.h>
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using namespace zel::chem;

using LadderList = std::vector<std::pair<std::uint32_t, bool>>;

LadderList ladder_list(const std::vector<LadderOp>& ops) {
    LadderList list;
    for (const LadderOp& op : ops) {
        list.emplace_back(op.mode, op.creation);
    }
    return list;
}

}  // namespace

void bind_fermion(py::module_& m) {
    py::class_<FermionOperator>(
        m, "FermionOperator",
        "A sum of products of creation and annihilation operators over numbered spin orbitals "
        "(modes) with complex coefficients. A product is a list of (mode, creation) pairs, "
        "leftmost first: [(1, True), (0, False)] is a+_1 a_0. Supports +, *, ==, len() and "
        "str().")
        .def(py::init<>(), "The zero operator (no terms).")
        .def(
            "add",
            [](FermionOperator& op, std::complex<double> coefficient, const LadderList& ops) {
                std::vector<LadderOp> ladder;
                for (const auto& [mode, creation] : ops) {
                    ladder.push_back(LadderOp{mode, creation});
                }
                op.add(coefficient, std::move(ladder));
            },
            py::arg("coefficient"), py::arg("ops"),
            "Appends `coefficient` times the product `ops`, a list of (mode, creation) pairs.")
        .def_property_readonly(
            "terms",
            [](const FermionOperator& op) {
                py::list terms;
                for (const FermionTerm& term : op.terms) {
                    terms.append(py::make_tuple(term.coefficient, ladder_list(term.ops)));
                }
                return terms;
            },
            "The terms as a new list of (coefficient, [(mode, creation), ...]) tuples.")
        .def_property_readonly("num_modes", &FermionOperator::num_modes,
                               "One more than the largest mode any term names.")
        .def("__len__",
             [](const FermionOperator& op) {
                 return op.terms.size();
             })
        .def(
            "__add__",
            [](const FermionOperator& a, const FermionOperator& b) {
                return a + b;
            },
            py::is_operator())
        .def(
            "__mul__",
            [](const FermionOperator& a, const FermionOperator& b) {
                return a * b;
            },
            py::is_operator())
        .def(
            "__mul__",
            [](FermionOperator a, std::complex<double> factor) {
                a *= factor;
                return a;
            },
            py::is_operator())
        .def(
            "__rmul__",
            [](FermionOperator a, std::complex<double> factor) {
                a *= factor;
                return a;
            },
            py::is_operator())
        .def(
            "__eq__",
            [](const FermionOperator& a, const FermionOperator& b) {
                return a == b;
            },
            py::is_operator())
        .def("__str__", &fermion_text);

    m.def("creation", &creation, py::arg("mode"), "a+_mode with coefficient 1.");
    m.def("annihilation", &annihilation, py::arg("mode"), "a_mode with coefficient 1.");
    m.def("normal_ordered", &normal_ordered, py::arg("op"), py::arg("tolerance") = 0.0,
          "The operator in normal order (creation operators left, each group by descending "
          "mode), equal products merged, terms at or below `tolerance` dropped.");
    m.def("hermitian_conjugate", &hermitian_conjugate, py::arg("op"),
          "The hermitian conjugate: products reversed, creation and annihilation swapped, "
          "coefficients conjugated.");
    m.def("molecular_hamiltonian", &molecular_hamiltonian, py::arg("integrals"),
          py::arg("ordering"),
          "The molecular Hamiltonian over 2n spin orbitals numbered by `ordering` (hartree, "
          "the constant as the identity term).");
    m.def("number_operator", &number_operator, py::arg("num_modes"),
          "N = sum of a+_j a_j over `num_modes` modes.");
    m.def("spin_z_operator", &spin_z_operator, py::arg("num_orbitals"), py::arg("ordering"),
          "S_z over `num_orbitals` spatial orbitals (units of hbar).");
    m.def("total_spin_operator", &total_spin_operator, py::arg("num_orbitals"), py::arg("ordering"),
          "S^2 over `num_orbitals` spatial orbitals (units of hbar^2).");
    m.def(
        "map_operator",
        [](const FermionOperator& op, Mapping mapping, std::size_t num_modes, double tolerance) {
            const FermionOperator copy = op;
            return run_released(true, [&] {
                return map_operator(copy, mapping, num_modes, tolerance);
            });
        },
        py::arg("op"), py::arg("mapping"), py::arg("num_modes"),
        py::arg("tolerance") = DEFAULT_DROP_TOLERANCE,
        "The qubit operator (zel.PauliSum) of a Hermitian fermion operator on `num_modes` "
        "qubits under `mapping`; raises zel.InvalidArgument when an imaginary part survives.");
}

void bind_mapping(py::module_& m) {
    m.def(
        "qubit_hamiltonian",
        [](const Integrals& integrals, Mapping mapping, SpinOrdering ordering, double tolerance) {
            const Integrals copy = integrals;
            return run_released(true, [&] {
                return qubit_hamiltonian(copy, mapping, ordering, tolerance);
            });
        },
        py::arg("integrals"), py::arg("mapping"), py::arg("ordering"),
        py::arg("tolerance") = DEFAULT_DROP_TOLERANCE,
        "The qubit Hamiltonian (zel.PauliSum on 2n qubits, hartree) of `integrals` under "
        "`mapping` with spin orbitals numbered by `ordering`; the identity term includes the "
        "constant; terms at or below `tolerance` are dropped.");
    m.def("encode_occupation", &encode_occupation, py::arg("occupation"), py::arg("mapping"),
          py::arg("num_modes"),
          "The basis index that represents occupation vector `occupation` (bit j = mode j "
          "occupied) under `mapping`.");
    m.def("two_qubit_reduction", &two_qubit_reduction, py::arg("parity_hamiltonian"),
          py::arg("num_qubits"), py::arg("sector"), py::arg("tolerance") = DEFAULT_DROP_TOLERANCE,
          "The parity mapping's two-qubit reduction of a Blocked-order parity Hamiltonian on "
          "`num_qubits` = 2n qubits, in `sector`: qubits n - 1 and 2n - 1 removed.");
    m.def("find_z2_symmetries", &find_z2_symmetries, py::arg("sum"), py::arg("num_qubits"),
          "Independent Z-type Pauli strings that commute with every term of `sum`.");
    m.def("decode_basis_index", &decode_basis_index, py::arg("index"), py::arg("mapping"),
          py::arg("num_modes"), "The occupation vector of basis index `index` under `mapping`.");
    m.def("taper_operator", &taper_operator, py::arg("op"), py::arg("num_qubits"),
          py::arg("symmetries"), py::arg("reduced"), py::arg("tolerance") = DEFAULT_DROP_TOLERANCE,
          "Applies the rotation and substitution that produced `reduced` (from `taper` with "
          "`symmetries`) to another operator that commutes with them, e.g. N or S^2.");
    m.def(
        "remove_qubits",
        [](std::uint64_t index, const std::vector<std::size_t>& removed) {
            return remove_qubits(index, removed);
        },
        py::arg("index"), py::arg("removed_qubits"),
        "Basis index `index` with the bits of `removed_qubits` (ascending) taken out.");
    m.def("taper", &taper, py::arg("sum"), py::arg("num_qubits"), py::arg("reference_index"),
          py::arg("tolerance") = DEFAULT_DROP_TOLERANCE,
          "Tapers `sum` by all its Z2 symmetries in the sector of basis state "
          "`reference_index` (usually hartree_fock_index) and removes the pivot qubits.");
}

}  // namespace zel::python
