#pragma once

// Pieces of the zel.chem bindings shared by their source files: the chemistry types cross by
// their bound classes, and the functions that add groups of bindings to the submodule.

#include "zel/chem/exact.hpp"
#include "zel/chem/fcidump.hpp"
#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"
#include "zel/chem/tapering.hpp"

#include "bindings.hpp"

namespace pybind11::detail {

template <>
class type_caster<zel::chem::Integrals>
    : public zel::python::BuiltInstanceCaster<zel::chem::Integrals> {};
template <>
class type_caster<zel::chem::Fcidump>
    : public zel::python::BuiltInstanceCaster<zel::chem::Fcidump> {};
template <>
class type_caster<zel::chem::Sector> : public zel::python::BuiltInstanceCaster<zel::chem::Sector> {
};
template <>
class type_caster<zel::chem::ReducedHamiltonian>
    : public zel::python::BuiltInstanceCaster<zel::chem::ReducedHamiltonian> {};
template <>
class type_caster<zel::chem::Z2Symmetry>
    : public zel::python::BuiltInstanceCaster<zel::chem::Z2Symmetry> {};
template <>
class type_caster<zel::chem::FermionOperator>
    : public zel::python::BuiltInstanceCaster<zel::chem::FermionOperator> {};
template <>
class type_caster<zel::chem::SectorGroundState>
    : public zel::python::BuiltInstanceCaster<zel::chem::SectorGroundState> {};

}  // namespace pybind11::detail

namespace zel::python {

/// FermionOperator, the ladder-operator constructors and the molecular operators.
void bind_fermion(py::module_& m);

/// The mappings to qubits, occupation encodings and the qubit reductions.
void bind_mapping(py::module_& m);

}  // namespace zel::python
