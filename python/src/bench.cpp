// Loops that time library calls from C++, without Python between the calls, so that
// python/bench/overhead.py can put the cost of a call from Python next to the cost of the
// same call in C++, measured in the same process and the same minute.

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

#include "zel/core/observable.hpp"
#include "zel/core/state.hpp"

#include "bindings.hpp"
#include <pybind11/stl.h>

namespace zel::python {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start, std::uint64_t repetitions) {
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return elapsed.count() / static_cast<double>(repetitions == 0 ? 1 : repetitions);
}

}  // namespace

void bind_bench(py::module_& m) {
    m.def(
        "gate_seconds",
        [](ZarnikState& state, const GateType& gate, const std::vector<std::uint64_t>& qubits,
           std::uint64_t repetitions) {
            return run_released(true, [&] {
                const Clock::time_point start = Clock::now();
                for (std::uint64_t i = 0; i < repetitions; ++i) {
                    state.apply_gate(gate, qubits, {});
                }
                return seconds_since(start, repetitions);
            });
        },
        py::arg("state"), py::arg("gate"), py::arg("qubits"), py::arg("repetitions"),
        "Seconds per call of state.apply_gate(gate, qubits) over `repetitions` calls in C++.");
    m.def(
        "expectation_seconds",
        [](const PauliSum& sum, const ZarnikState& state, std::uint64_t repetitions) {
            const PauliSum copy = sum;
            return run_released(true, [&] {
                double total = 0.0;
                const Clock::time_point start = Clock::now();
                for (std::uint64_t i = 0; i < repetitions; ++i) {
                    total += copy.expectation_value(state);
                }
                // The total is returned so that no call can be left out.
                return std::pair<double, double>(seconds_since(start, repetitions), total);
            });
        },
        py::arg("sum"), py::arg("state"), py::arg("repetitions"),
        "(seconds per call, sum of the values) of sum.expectation_value(state) over "
        "`repetitions` calls in C++.");
}

}  // namespace zel::python
