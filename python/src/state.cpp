// States, their amplitudes as NumPy arrays, measurement and the seedable generator.
//
// A state's amplitude buffer is allocated once, by the constructor, and released by the
// destructor: nothing bound here assigns one state to another or moves out of one, so the
// buffer never moves while the Python object lives. That is what lets `amplitudes` be a
// writable view with the state object as its base.

#include "zel/core/state.hpp"

#include <algorithm>
#include <bit>
#include <complex>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zel/core/measurement.hpp"
#include "zel/core/random.hpp"

#include "bindings.hpp"
#include <pybind11/complex.h>
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using Amplitude = ZarnikState::Amplitude;
using AmplitudeArray = py::array_t<Amplitude, py::array::c_style | py::array::forcecast>;

constexpr auto AMPLITUDE_BYTES = static_cast<py::ssize_t>(sizeof(Amplitude));

// The amplitudes of the state held by `owner`, without copying; the array keeps `owner` alive.
py::array amplitude_view(const py::object& owner) {
    ZarnikState& state = owner.cast<ZarnikState&>();
    return py::array_t<Amplitude>({static_cast<py::ssize_t>(state.dimension())}, {AMPLITUDE_BYTES},
                                  state.amplitudes_mut().data(), owner);
}

ZarnikState from_amplitudes(const AmplitudeArray& values) {
    if (values.ndim() != 1) {
        throw py::value_error("amplitudes must be one-dimensional, not " +
                              std::to_string(values.ndim()) + "-dimensional");
    }
    const auto size = static_cast<std::uint64_t>(values.shape(0));
    if (!std::has_single_bit(size)) {
        throw py::value_error("the number of amplitudes must be a power of two, not " +
                              std::to_string(size));
    }
    const auto num_qubits = static_cast<std::uint64_t>(std::countr_zero(size));
    return run_released(releases_gil(num_qubits), [&] {
        ZarnikState state(num_qubits);
        std::copy_n(values.data(), size, state.amplitudes_mut().data());
        return state;
    });
}

ZarnikState copy_of(const ZarnikState& state) {
    return run_released(releases_gil(state), [&state] {
        return ZarnikState(state);
    });
}

// The generator a sampling call draws from: the caller's zel.Generator (advanced in place), a
// new one seeded with an int, or for None one seeded from the calling thread's source.
random::Generator& generator_for(const py::object& argument,
                                 std::optional<random::Generator>& own) {
    if (argument.is_none()) {
        return own.emplace(random::next_u64());
    }
    if (py::isinstance<random::Generator>(argument)) {
        return argument.cast<random::Generator&>();
    }
    if (PyIndex_Check(argument.ptr()) != 0 && !PyBool_Check(argument.ptr())) {
        return own.emplace(unsigned_argument(argument, "a seed"));
    }
    throw py::type_error(
        "generator must be an int seed (or a NumPy integer), a zel.Generator or None, not " +
        std::string(py::str(py::type::handle_of(argument).attr("__name__"))));
}

bool sampling_releases_gil(const ZarnikState& state, std::uint64_t shots) {
    return releases_gil(state) || shots >= (std::uint64_t{1} << RELEASE_GIL_FROM_QUBITS);
}

void bind_zarnik_state(py::module_& m) {
    py::class_<ZarnikState>(
        m, "ZarnikState", py::buffer_protocol(),
        "Dense state vector of `num_qubits` qubits: 2**n complex amplitudes in one 64-byte "
        "aligned buffer. Amplitude k belongs to basis state k; qubit q is bit q of k, qubit 0 "
        "the least significant. Nothing normalises the state.\n\n"
        "`amplitudes` is a writable complex128 NumPy view of the buffer (no copy) that keeps the "
        "state alive; the buffer never moves while the state lives. The state also exports the "
        "buffer protocol, so numpy.asarray(state) and memoryview(state) view it too. States "
        "pickle with every bit of their amplitudes (for multiprocessing).")
        .def(py::init([](const py::object& num_qubits) {
                 const std::uint64_t n = unsigned_argument(num_qubits, "num_qubits");
                 return run_released(releases_gil(std::min<std::uint64_t>(n, 64)), [n] {
                     return ZarnikState(n);
                 });
             }),
             py::arg("num_qubits"),
             "The basis state |0...0> of `num_qubits` qubits. Raises InvalidLayout above "
             "MAX_QUBITS and AllocationError (a MemoryError) when the 16 * 2**n bytes cannot be "
             "obtained or exceed the memory the machine can still give (MemAvailable and free "
             "swap, the process's memory cgroup and resource limits), checked from 1 GiB on.")
        .def_static("from_amplitudes", &from_amplitudes, py::arg("amplitudes"),
                    "A state holding a copy of `amplitudes` (any one-dimensional sequence "
                    "convertible to complex128) whose length is a power of two, 2**n for n "
                    "qubits. Raises ValueError for other lengths and shapes.")
        .def_property_readonly("num_qubits", &ZarnikState::num_qubits, "Number of qubits n.")
        .def_property_readonly("dimension", &ZarnikState::dimension, "Number of amplitudes, 2**n.")
        .def_property_readonly("amplitudes", &amplitude_view,
                               "The amplitudes in basis-index order: a writable complex128 NumPy "
                               "array over the state's own buffer (no copy), which keeps the "
                               "state alive as long as the array or any view of it exists.")
        .def_buffer([](ZarnikState& state) {
            return py::buffer_info(state.amplitudes_mut().data(), AMPLITUDE_BYTES,
                                   py::format_descriptor<Amplitude>::format(), 1,
                                   {static_cast<py::ssize_t>(state.dimension())},
                                   {AMPLITUDE_BYTES});
        })
        .def("set_computational_basis", &ZarnikState::set_computational_basis, py::arg("index"),
             "Turns the state into basis state |index>. Raises StateIndexOutOfBounds (an "
             "IndexError), leaving the amplitudes untouched, when index >= dimension.")
        .def(
            "apply_gate",
            [](ZarnikState& state, const GateType& gate, const SmallList<std::uint64_t>& qubits,
               const SmallList<double>& params) {
                run_released(releases_gil(state), [&] {
                    state.apply_gate(gate, qubits.span(), params.span());
                });
            },
            py::arg("gate"), py::arg("qubits"), py::arg_v("params", py::tuple(), "()"),
            "Applies one gate in place. One-qubit kinds act on qubits[0]; CX takes qubits[0] as "
            "control and qubits[1] as target; CZ and SWAP use both. Rotations use params[0] "
            "when `params` is not empty, else gate.angle.\n\n"
            "Raises IndexOutOfBounds (an IndexError) before changing any amplitude when "
            "`qubits` is too short for the kind, or when X, Y, H, SX, RX, RY, CX or SWAP pair "
            "amplitudes beyond the state; Z, S, T, CZ and RZ on qubits beyond the state follow "
            "the fixed rules of the C++ documentation (state.hpp). Negative qubits are a "
            "TypeError.")
        .def(
            "calculate_entropy",
            [](const ZarnikState& state) {
                return run_released(releases_gil(state), [&state] {
                    return state.calculate_entropy();
                });
            },
            "Shannon entropy in bits of the distribution |a_k|**2: the sum of -p log2(p) over "
            "every p above 1e-12. Not renormalised.")
        .def("copy", &copy_of, "A deep copy with a buffer of its own.")
        .def("__copy__", &copy_of)
        .def(
            "__deepcopy__",
            [](const ZarnikState& state, py::dict) {
                return copy_of(state);
            },
            py::arg("memo"))
        .def(py::pickle(
            [](const ZarnikState& state) {
                // (num_qubits, the amplitudes' bytes): every bit, for multiprocessing.
                const auto amplitudes = state.amplitudes();
                return py::make_tuple(state.num_qubits(),
                                      py::bytes(reinterpret_cast<const char*>(amplitudes.data()),
                                                static_cast<py::ssize_t>(amplitudes.size_bytes())));
            },
            [](const py::tuple& saved) {
                if (saved.size() != 2) {
                    throw py::value_error("a pickled ZarnikState holds (num_qubits, amplitudes)");
                }
                const std::uint64_t n = unsigned_argument(saved[0], "num_qubits");
                const std::string_view bytes = saved[1].cast<std::string_view>();
                ZarnikState state(n);
                if (bytes.size() != state.amplitudes().size_bytes()) {
                    throw py::value_error(
                        "a pickled ZarnikState of " + std::to_string(n) + " qubits needs " +
                        std::to_string(state.amplitudes().size_bytes()) +
                        " bytes of amplitudes, not " + std::to_string(bytes.size()));
                }
                std::memcpy(static_cast<void*>(state.amplitudes_mut().data()), bytes.data(),
                            bytes.size());
                return state;
            }))
        .def("__repr__",
             [](const ZarnikState& state) {
                 return "ZarnikState(num_qubits=" + std::to_string(state.num_qubits()) + ")";
             })
        .def_property_readonly_static(
            "MAX_QUBITS",
            [](py::object) {
                return ZarnikState::MAX_QUBITS;
            },
            "Largest qubit count whose buffer can be requested at all (58).")
        .def_property_readonly_static(
            "ALIGNMENT",
            [](py::object) {
                return ZarnikState::ALIGNMENT;
            },
            "Alignment of the amplitude buffer in bytes (64).");
}

void bind_generator(py::module_& m) {
    py::class_<random::Generator>(
        m, "Generator",
        "The seedable 64-bit generator (xoshiro256**) that sampling draws from. Its sequence "
        "is a fixed function of the seed, the same on every platform and for every thread "
        "count. Copies continue the same sequence independently.")
        .def(py::init([](const py::object& seed) {
                 return random::Generator(unsigned_argument(seed, "a seed"));
             }),
             py::arg("seed"),
             "A generator whose draws are a fixed function of `seed` (an int or NumPy integer, "
             "0 <= seed < 2**64; ValueError otherwise).")
        .def(
            "seed",
            [](random::Generator& generator, const py::object& seed) {
                generator.seed(unsigned_argument(seed, "a seed"));
            },
            py::arg("seed"), "Restarts the sequence from `seed`.")
        .def(
            "next_u64",
            [](random::Generator& generator) {
                return generator();
            },
            "The next uniformly distributed 64-bit value.")
        .def("uniform", &random::Generator::uniform,
             "A uniformly distributed float in [0, 1): the top 53 bits of the next draw times "
             "2**-53.")
        .def(
            "copy",
            [](const random::Generator& generator) {
                return generator;
            },
            "A copy that continues from the same point.")
        .def("__copy__",
             [](const random::Generator& generator) {
                 return generator;
             })
        .def(
            "__deepcopy__",
            [](const random::Generator& generator, py::dict) {
                return generator;
            },
            py::arg("memo"));

    m.def(
        "reseed",
        [](const py::object& seed) {
            random::reseed(unsigned_argument(seed, "a seed"));
        },
        py::arg("seed"),
        "Reseeds the calling thread's generator, the source of the strategy's SPSA signs (and "
        "of sampling without a generator), so that its following draws are a fixed function "
        "of `seed`. Other threads are unaffected.");
    m.def("next_u64", &random::next_u64,
          "The next 64-bit value of the calling thread's generator (seeded from the operating "
          "system on first use, unless reseed was called).");
}

void bind_measurement(py::module_& m) {
    m.def(
        "probabilities",
        [](const ZarnikState& state) {
            return to_numpy(run_released(releases_gil(state), [&state] {
                return probabilities(state);
            }));
        },
        py::arg("state"),
        "|a_k|**2 for every basis index k, in index order, as a new float64 NumPy array (not "
        "divided by their total).");
    m.def(
        "norm",
        [](const ZarnikState& state) {
            return run_released(releases_gil(state), [&state] {
                return norm(state);
            });
        },
        py::arg("state"), "The Euclidean norm sqrt(sum of |a_k|**2).");
    m.def(
        "inner_product",
        [](const ZarnikState& bra, const ZarnikState& ket) {
            return run_released(releases_gil(bra) || releases_gil(ket), [&] {
                return inner_product(bra, ket);
            });
        },
        py::arg("bra"), py::arg("ket"),
        "<bra|ket> = sum over k of conj(bra_k) * ket_k, a complex. Raises InvalidArgument (a "
        "ValueError) when the qubit counts differ.");
    m.def(
        "sample",
        [](const ZarnikState& state, const py::object& shot_count, const py::object& generator) {
            const std::uint64_t shots = unsigned_argument(shot_count, "shots");
            std::optional<random::Generator> own;
            random::Generator& source = generator_for(generator, own);
            return to_numpy(run_released(sampling_releases_gil(state, shots), [&] {
                return sample(state, shots, source);
            }));
        },
        py::arg("state"), py::arg("shots"), py::arg("generator") = py::none(),
        "`shots` measurement outcomes (basis indexes) in the computational basis, in the order "
        "drawn, as a uint64 NumPy array. Outcome k has probability |a_k|**2 / sum |a_j|**2. "
        "`generator` is an int seed (a new Generator), a zel.Generator (advanced in place) or "
        "None (a generator seeded from the calling thread's source, see reseed). The same seed "
        "gives the same outcomes on every machine and thread count. Raises InvalidArgument "
        "when the total probability is 0 or not finite (a state holding NaN refuses), or "
        "`shots` exceeds 2**60 - 1; AllocationError when the outcomes do not fit in the "
        "available memory; ValueError for a negative seed or shot count.");
    m.def(
        "sample_counts",
        [](const ZarnikState& state, const py::object& shot_count, const py::object& generator,
           bool bitstrings) {
            const std::uint64_t shots = unsigned_argument(shot_count, "shots");
            std::optional<random::Generator> own;
            random::Generator& source = generator_for(generator, own);
            const std::map<std::uint64_t, std::uint64_t> counts =
                run_released(sampling_releases_gil(state, shots), [&] {
                    return sample_counts(state, shots, source);
                });
            py::dict result;
            for (const auto& [outcome, count] : counts) {
                if (bitstrings) {
                    result[py::str(bitstring(outcome, state.num_qubits()))] = count;
                } else {
                    result[py::int_(outcome)] = count;
                }
            }
            return result;
        },
        py::arg("state"), py::arg("shots"), py::arg("generator") = py::none(),
        py::arg("bitstrings") = false,
        "The outcomes of sample(state, shots, generator) counted: a dict {outcome: count} in "
        "increasing outcome order, outcomes never drawn absent. With bitstrings=True the keys "
        "are bitstrings written like kets (qubit n-1 first, qubit 0 last).");
    m.def(
        "bitstring",
        [](const py::object& index, const py::object& num_qubits) {
            return bitstring(unsigned_argument(index, "index"),
                             unsigned_argument(num_qubits, "num_qubits"));
        },
        py::arg("index"), py::arg("num_qubits"),
        "Basis index `index` of a `num_qubits`-qubit register as a bitstring written like a "
        "ket: qubit num_qubits-1 first, qubit 0 last (bitstring(1, 3) == '001'). Raises "
        "InvalidArgument above MAX_BITSTRING_QUBITS qubits.");
    m.attr("MAX_BITSTRING_QUBITS") = MAX_BITSTRING_QUBITS;
}

}  // namespace

void bind_state(py::module_& m) {
    bind_zarnik_state(m);
    bind_generator(m);
    bind_measurement(m);
}

}  // namespace zel::python
