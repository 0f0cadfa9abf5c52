// Pauli-sum observables, their text form, expectation values and exact ground states.
//
// Terms and factors live in std::vectors, so, as for circuits, Python gets copies of them and
// never a reference into one. Work that releases the GIL runs on a copy of the sum, which
// another thread may change meanwhile.

#include "zel/core/observable.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/spectrum.hpp"
#include "zel/core/state.hpp"

#include "bindings.hpp"
#include <pybind11/complex.h>
#include <pybind11/stl.h>

namespace zel::python {
namespace {

constexpr const char* PAULI_LETTERS = "IXYZ";

// The spectrum's cost grows eightfold per qubit; from this size on it releases the GIL.
constexpr std::uint64_t SPECTRUM_RELEASES_GIL_FROM_QUBITS = 4;

char letter(Pauli kind) {
    return PAULI_LETTERS[static_cast<std::size_t>(checked_pauli(kind))];
}

std::string factor_repr(const PauliFactor& factor) {
    return "PauliFactor(" + std::to_string(factor.qubit) + ", Pauli." + letter(factor.kind) + ")";
}

std::string term_repr(const PauliTerm& term) {
    std::string text = "PauliTerm(" + std::string(py::repr(py::float_(term.coefficient))) + ", [";
    for (std::size_t i = 0; i < term.paulis.size(); ++i) {
        text += (i == 0 ? "" : ", ") + factor_repr(term.paulis[i]);
    }
    return text + "])";
}

std::size_t term_position(std::int64_t index, std::size_t size) {
    const auto length = static_cast<std::int64_t>(size);
    const std::int64_t resolved = index < 0 ? index + length : index;
    if (resolved < 0 || resolved >= length) {
        throw py::index_error("term index " + std::to_string(index) + " out of range for " +
                              std::to_string(size) + " terms");
    }
    return static_cast<std::size_t>(resolved);
}

double expectation(const PauliSum& sum, const ZarnikState& state) {
    if (!releases_gil(state)) {
        return sum.expectation_value(state);
    }
    const PauliSum copy = sum;
    return run_released(true, [&] {
        return copy.expectation_value(state);
    });
}

void bind_pauli(py::module_& m) {
    py::enum_<Pauli>(m, "Pauli", "Single-qubit Pauli kind: I, X, Y, Z (0 to 3).")
        .value("I", Pauli::I)
        .value("X", Pauli::X)
        .value("Y", Pauli::Y)
        .value("Z", Pauli::Z);

    py::class_<PauliFactor>(m, "PauliFactor",
                            "One factor of a Pauli string: `kind` acting on qubit `qubit`. A "
                            "tuple (qubit, kind) converts to one wherever a factor is expected.")
        .def(py::init([](std::uint64_t qubit, Pauli kind) {
                 return PauliFactor{qubit, checked_pauli(kind)};
             }),
             py::arg("qubit"), py::arg("kind"), "`kind` on qubit `qubit`.")
        .def(py::init([](const py::tuple& pair) {
                 if (pair.size() != 2) {
                     throw py::value_error("a Pauli factor tuple is (qubit, kind), not " +
                                           std::to_string(pair.size()) + " items");
                 }
                 try {
                     return PauliFactor{pair[0].cast<std::uint64_t>(),
                                        checked_pauli(pair[1].cast<Pauli>())};
                 } catch (const py::cast_error&) {
                     throw py::type_error(
                         "a Pauli factor tuple is (qubit, kind): a non-negative int and a "
                         "zel.Pauli");
                 }
             }),
             py::arg("pair"), "From a tuple (qubit, kind).")
        .def_readwrite("qubit", &PauliFactor::qubit, "The qubit the factor acts on.")
        .def_property(
            "kind",
            [](const PauliFactor& factor) {
                return factor.kind;
            },
            [](PauliFactor& factor, Pauli kind) {
                factor.kind = checked_pauli(kind);
            },
            "The Pauli kind.")
        .def(
            "__eq__",
            [](const PauliFactor& a, const PauliFactor& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", &factor_repr);
    py::implicitly_convertible<py::tuple, PauliFactor>();

    py::class_<PauliTerm>(m, "PauliTerm",
                          "`coefficient` times the product of `paulis` (an empty product is "
                          "the identity). Each qubit occurs at most once. `paulis` reads as a "
                          "new list: assign a whole list to change it.")
        .def(py::init([](double coefficient, std::vector<PauliFactor> paulis) {
                 return PauliTerm{coefficient, std::move(paulis)};
             }),
             py::arg("coefficient") = 0.0, py::arg("paulis") = std::vector<PauliFactor>{},
             "A term; `paulis` holds PauliFactor objects or (qubit, Pauli) tuples.")
        .def_readwrite("coefficient", &PauliTerm::coefficient, "The real coefficient.")
        .def_readwrite("paulis", &PauliTerm::paulis, "The factors, as a new list.")
        .def(
            "__eq__",
            [](const PauliTerm& a, const PauliTerm& b) {
                return a == b;
            },
            py::is_operator())
        .def("__repr__", &term_repr);

    py::class_<PauliSum>(
        m, "PauliSum",
        "A Hermitian observable: the sum of its terms, in insertion order. Supports len(), "
        "iteration and indexing (copies of the terms), ==, str() (pauli_text), copy and pickling "
        "(exact coefficients, for multiprocessing).")
        .def(py::init([](std::vector<PauliTerm> terms) {
                 return PauliSum{std::move(terms)};
             }),
             py::arg("terms") = std::vector<PauliTerm>{},
             "The sum of `terms` (PauliTerm objects), in order.")
        .def_property(
            "terms",
            [](const PauliSum& sum) {
                return sum.terms;
            },
            [](PauliSum& sum, std::vector<PauliTerm> terms) {
                sum.terms = std::move(terms);
            },
            "The terms, as a new list of copies; assign a list to replace them.")
        .def(
            "append",
            [](PauliSum& sum, const PauliTerm& term) {
                sum.terms.push_back(term);
            },
            py::arg("term"), "Appends a copy of `term`.")
        .def_static("h2_hamiltonian", &PauliSum::h2_hamiltonian,
                    "The built-in qubit Hamiltonian of H2 on qubits 0 and 1 (hartree), six "
                    "terms: identity, Z0, Z1, Z0 Z1, X0 X1, Y0 Y1. Its lowest eigenvalue is "
                    "-1.915371 Ha; without the Y0 Y1 term it is the standard parity-mapped "
                    "operator, lowest eigenvalue -1.857275 Ha.")
        .def("expectation_value", &expectation, py::arg("state"),
             "Exact <psi|H|psi>, computed on the amplitudes (no sampling; the state need not be "
             "normalised). A sum without terms gives -0.0. The same bits for any thread count. "
             "Raises IndexOutOfBounds when an X or Y factor names a qubit beyond the state.")
        .def("__len__",
             [](const PauliSum& sum) {
                 return sum.terms.size();
             })
        .def(
            "__getitem__",
            [](const PauliSum& sum, std::int64_t index) {
                return sum.terms[term_position(index, sum.terms.size())];
            },
            py::arg("index"))
        .def("__iter__",
             [](const PauliSum& sum) {
                 return py::iter(py::cast(sum.terms));
             })
        .def(
            "__eq__",
            [](const PauliSum& a, const PauliSum& b) {
                return a == b;
            },
            py::is_operator())
        .def("__str__", &pauli_text)
        .def(py::pickle(
            [](const PauliSum& sum) {
                // Every coefficient and factor exactly: (coefficient, ((qubit, kind), ...)).
                py::list terms;
                for (const PauliTerm& term : sum.terms) {
                    py::list factors;
                    for (const PauliFactor& factor : term.paulis) {
                        factors.append(
                            py::make_tuple(factor.qubit, static_cast<unsigned>(factor.kind)));
                    }
                    terms.append(py::make_tuple(term.coefficient, py::tuple(factors)));
                }
                return py::tuple(terms);
            },
            [](const py::tuple& terms) {
                PauliSum sum;
                for (const py::handle entry : terms) {
                    const auto term = entry.cast<py::tuple>();
                    PauliTerm restored;
                    restored.coefficient = term[0].cast<double>();
                    for (const py::handle factor : term[1].cast<py::tuple>()) {
                        const auto pair = factor.cast<py::tuple>();
                        restored.paulis.push_back(
                            {pair[0].cast<std::uint64_t>(),
                             checked_pauli(static_cast<Pauli>(pair[1].cast<unsigned>()))});
                    }
                    sum.terms.push_back(std::move(restored));
                }
                return sum;
            }))
        .def("__repr__",
             [](const PauliSum& sum) {
                 return "parse_pauli_sum(" + std::string(py::repr(py::str(pauli_text(sum)))) + ")";
             })
        .def(
            "copy",
            [](const PauliSum& sum) {
                return sum;
            },
            "A deep copy.")
        .def("__copy__",
             [](const PauliSum& sum) {
                 return sum;
             })
        .def(
            "__deepcopy__",
            [](const PauliSum& sum, py::dict) {
                return sum;
            },
            py::arg("memo"));

    m.def("parse_pauli_sum", &parse_pauli_sum, py::arg("text"),
          "Reads a Pauli sum from text: terms joined by + or -, each an optional real "
          "coefficient (1 when absent), an optional *, then its factors, either indexed (\"X0 "
          "Z1\") or one string of letters written like a ket whose rightmost letter acts on "
          "qubit 0 (\"XIZ\" is Z0 X2). Example: \"0.5 * X0 Z1 - 1.2 YY + 0.3\". Raises "
          "ParseError (a ValueError) naming the byte offset of the first bad character.");
    m.def("pauli_text", &pauli_text, py::arg("sum"),
          "The sum as text that parse_pauli_sum reads back to the same terms, with indexed "
          "factors and coefficients in the shortest digits that read back exactly.");
}

void bind_spectrum(py::module_& m) {
    py::class_<GroundState>(m, "GroundState", "The lowest eigenvalue and one eigenvector.")
        .def_readonly("energy", &GroundState::energy,
                      "The lowest eigenvalue (the observable's unit, hartree for H2).")
        .def_property_readonly(
            "state",
            [](const GroundState& ground) -> const ZarnikState& {
                return ground.state;
            },
            py::return_value_policy::reference_internal,
            "A normalised eigenvector as a ZarnikState (its global phase is the solver's); it "
            "keeps this GroundState alive. Copy it (state.copy()) for a state of its own.")
        .def("__repr__", [](const GroundState& ground) {
            return "GroundState(energy=" + std::string(py::repr(py::float_(ground.energy))) +
                   ", num_qubits=" + std::to_string(ground.state.num_qubits()) + ")";
        });

    m.def(
        "ground_state",
        [](const PauliSum& sum, std::uint64_t num_qubits) {
            const PauliSum copy = sum;
            return run_released(num_qubits >= SPECTRUM_RELEASES_GIL_FROM_QUBITS, [&] {
                return ground_state(copy, num_qubits);
            });
        },
        py::arg("sum"), py::arg("num_qubits"),
        "The exact ground state of `sum` on `num_qubits` qubits by dense diagonalisation: a "
        "GroundState (energy, state). Cost grows eightfold per qubit. Raises InvalidArgument "
        "above MAX_GROUND_STATE_QUBITS or for a coefficient that is not finite, and "
        "IndexOutOfBounds as expectation_value does.");
    m.def(
        "ground_energy",
        [](const PauliSum& sum, std::uint64_t num_qubits) {
            const PauliSum copy = sum;
            return run_released(num_qubits >= SPECTRUM_RELEASES_GIL_FROM_QUBITS, [&] {
                return ground_energy(copy, num_qubits);
            });
        },
        py::arg("sum"), py::arg("num_qubits"),
        "The lowest eigenvalue alone, the same value as ground_state(sum, num_qubits).energy, "
        "about three times faster.");
    m.def(
        "dense_matrix",
        [](const PauliSum& sum, std::uint64_t num_qubits) {
            const PauliSum copy = sum;
            std::vector<ZarnikState::Amplitude> elements =
                run_released(num_qubits >= SPECTRUM_RELEASES_GIL_FROM_QUBITS, [&] {
                    return dense_matrix(copy, num_qubits);
                });
            const auto side = static_cast<py::ssize_t>(std::uint64_t{1} << num_qubits);
            py::array_t<ZarnikState::Amplitude> flat = to_numpy(std::move(elements));
            return flat.reshape({side, side});
        },
        py::arg("sum"), py::arg("num_qubits"),
        "The 2**n x 2**n matrix of `sum` as a complex128 NumPy array: element [m, k] is "
        "<m|H|k>, so H @ psi applies it to the amplitudes psi. Raises as ground_state does.");
    m.attr("MAX_GROUND_STATE_QUBITS") = MAX_GROUND_STATE_QUBITS;
}

}  // namespace

void bind_observable(py::module_& m) {
    bind_pauli(m);
    bind_spectrum(m);
}

}  // namespace zel::python
