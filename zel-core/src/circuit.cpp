#include "zel/core/circuit.hpp"

#include <algorithm>
#include <utility>

#include "zel/core/fatal.hpp"
#include "zel/core/float_text.hpp"

namespace zel {

std::string debug_text(const GateType& gate) {
    const GateInfo& info = gate_info(gate.kind);
    std::string text(info.name);
    if (info.has_angle) {
        text += '(';
        text += format_float_debug(gate.angle);
        text += ')';
    }
    return text;
}

void ZarnikGraph::add_gate_with_params(GateType gate, std::vector<std::uint64_t> qubits,
                                       std::vector<double> params) {
    operations.push_back(Operation{gate, std::move(qubits), std::move(params)});
}

void ZarnikGraph::remove_operation(std::uint64_t index) {
    if (index >= operations.size()) {
        fatal_index_out_of_bounds(operations.size(), index);
    }
    operations.erase(operations.begin() + static_cast<std::ptrdiff_t>(index));
}

bool ZarnikGraph::has_parameters() const noexcept {
    return std::any_of(operations.begin(), operations.end(), [](const Operation& op) {
        return !op.params.empty();
    });
}

}  // namespace zel
