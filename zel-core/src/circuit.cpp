#include "zel/core/circuit.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"

#include "gate_rows.hpp"

namespace zel {

void check_kind(GateKind kind) {
    if (static_cast<std::uint64_t>(kind) >= GATE_KIND_COUNT) {
        detail::refuse_kind(kind);
    }
}

namespace detail {

void refuse_kind(GateKind kind) {
    throw InvalidArgument("gate kind " + std::to_string(static_cast<std::uint64_t>(kind)) +
                          " is not one of the " + std::to_string(GATE_KIND_COUNT) + " kinds");
}

}  // namespace detail

std::string debug_text(const GateType& gate) {
    check_kind(gate.kind);
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

void ZarnikGraph::add(Operation op) {
    operations.push_back(std::move(op));
}

void ZarnikGraph::remove_operation(std::uint64_t index) {
    if (index >= operations.size()) {
        throw IndexOutOfBounds(operations.size(), index);
    }
    operations.erase(operations.begin() + static_cast<std::ptrdiff_t>(index));
}

bool ZarnikGraph::has_parameters() const noexcept {
    return std::any_of(operations.begin(), operations.end(), [](const Operation& op) {
        return !op.params.empty();
    });
}

void ZarnikGraph::add_gate(GateType gate, std::vector<std::uint64_t> qubits) {
    std::vector<double> params;
    if (is_rotation(gate.kind)) {
        params.push_back(gate.angle);
    }
    add_gate_with_params(gate, std::move(qubits), std::move(params));
}

void sync_rotation_angle(Operation& op) noexcept {
    if (!op.params.empty() && is_rotation(op.gate.kind)) {
        op.gate.angle = op.params[0];
    }
}

std::vector<double> parameters(const ZarnikGraph& circuit) {
    std::vector<double> values;
    values.reserve(parameter_count(circuit));
    for (const Operation& op : circuit.operations) {
        values.insert(values.end(), op.params.begin(), op.params.end());
    }
    return values;
}

std::size_t parameter_count(const ZarnikGraph& circuit) noexcept {
    std::size_t count = 0;
    for (const Operation& op : circuit.operations) {
        count += op.params.size();
    }
    return count;
}

void set_parameters(ZarnikGraph& circuit, std::span<const double> values) noexcept {
    std::size_t r = 0;
    for (Operation& op : circuit.operations) {
        for (double& slot : op.params) {
            if (r < values.size()) {
                slot = values[r++];
            }
        }
        sync_rotation_angle(op);
    }
}

namespace {

std::string operation_name(const ZarnikGraph& circuit, std::size_t position) {
    return "operation " + std::to_string(position) + " (" +
           debug_text(circuit.operations[position].gate) + ")";
}

// The findings of a kind from U on, which the simulation refuses rather than handles.
template <class Add>
void validate_checked(const Operation& op, std::uint64_t num_qubits, const Add& add) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::size_t wanted = info.variable_qubits ? op.qubits.size() : info.arity;
    if (op.qubits.size() < wanted || (info.variable_qubits && op.qubits.empty())) {
        add(Finding::MissingQubits, "has " + std::to_string(op.qubits.size()) +
                                        " qubit entries but its kind uses " +
                                        std::to_string(std::max<std::size_t>(wanted, 1)));
    }
    for (std::size_t k = 0; k < op.qubits.size(); ++k) {
        if (op.qubits[k] >= num_qubits) {
            add(Finding::QubitOutOfRange, "qubit " + std::to_string(op.qubits[k]) +
                                              " is not below the register's " +
                                              std::to_string(num_qubits) + " qubits");
        }
        if (std::find(op.qubits.begin(), op.qubits.begin() + static_cast<std::ptrdiff_t>(k),
                      op.qubits[k]) != op.qubits.begin() + static_cast<std::ptrdiff_t>(k)) {
            add(Finding::RepeatedQubits, "acts on qubit " + std::to_string(op.qubits[k]) +
                                             " twice, which is refused when it runs");
        }
    }
    for (std::size_t j = 0; j < op.params.size(); ++j) {
        if (!std::isfinite(op.params[j])) {
            add(Finding::NonFiniteAngle,
                "parameter " + std::to_string(j) + " is " + format_float_debug(op.params[j]));
        }
    }
    if (op.qubits.size() < wanted || op.qubits.empty()) {
        return;
    }
    try {
        Operation trimmed = op;
        for (double& value : trimmed.params) {
            value = std::isfinite(value) ? value : 0.0;
        }
        detail::check_operation_form(trimmed);
    } catch (const InvalidArgument& error) {
        add(Finding::InvalidOperation, error.what());
    }
}

}  // namespace

std::vector<ValidationIssue> validate(const ZarnikGraph& circuit, std::uint64_t num_qubits) {
    std::vector<ValidationIssue> issues;
    if (circuit.num_qubits != num_qubits) {
        issues.push_back({Finding::QubitCountMismatch, ValidationIssue::WHOLE_CIRCUIT,
                          "the circuit declares " + std::to_string(circuit.num_qubits) +
                              " qubits but runs on " + std::to_string(num_qubits) +
                              "; the export writes the former"});
    }
    for (std::size_t i = 0; i < circuit.operations.size(); ++i) {
        const Operation& op = circuit.operations[i];
        if (static_cast<std::uint64_t>(op.gate.kind) >= GATE_KIND_COUNT) {
            issues.push_back({Finding::UnknownKind, i,
                              "operation " + std::to_string(i) + ": gate kind " +
                                  std::to_string(static_cast<std::uint64_t>(op.gate.kind)) +
                                  " is not one of the " + std::to_string(GATE_KIND_COUNT) +
                                  " kinds"});
            continue;
        }
        const GateInfo& info = gate_info(op.gate.kind);
        const auto add = [&](Finding finding, const std::string& what) {
            issues.push_back({finding, i, operation_name(circuit, i) + ": " + what});
        };
        if (info.shape == GateShape::Checked) {
            validate_checked(op, num_qubits, add);
            continue;
        }
        if (op.qubits.size() < info.arity) {
            add(Finding::MissingQubits, "has " + std::to_string(op.qubits.size()) +
                                            " qubit entries but its kind uses " +
                                            std::to_string(info.arity));
        }
        const std::size_t used = std::min<std::size_t>(op.qubits.size(), info.arity);
        for (std::size_t k = 0; k < used; ++k) {
            if (op.qubits[k] >= num_qubits) {
                add(Finding::QubitOutOfRange, "qubit " + std::to_string(op.qubits[k]) +
                                                  " is not below the register's " +
                                                  std::to_string(num_qubits) + " qubits");
            }
        }
        if (used == 2 && op.qubits[0] == op.qubits[1]) {
            add(Finding::RepeatedQubits,
                "acts on qubit " + std::to_string(op.qubits[0]) + " twice and changes nothing");
        }
        if (!info.has_angle) {
            continue;
        }
        if (!std::isfinite(op.gate.angle)) {
            add(Finding::NonFiniteAngle, "angle " + format_float_debug(op.gate.angle));
        }
        for (std::size_t j = 0; j < op.params.size(); ++j) {
            if (!std::isfinite(op.params[j])) {
                add(Finding::NonFiniteAngle,
                    "parameter " + std::to_string(j) + " is " + format_float_debug(op.params[j]));
            }
        }
        if (!op.params.empty() && std::bit_cast<std::uint64_t>(op.params[0]) !=
                                      std::bit_cast<std::uint64_t>(op.gate.angle)) {
            add(Finding::ParameterDiffersFromAngle,
                "rotates by params[0] = " + format_float_debug(op.params[0]) +
                    " but exports its angle " + format_float_debug(op.gate.angle));
        }
    }
    return issues;
}

}  // namespace zel
