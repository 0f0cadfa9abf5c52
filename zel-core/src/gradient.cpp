#include "zel/core/gradient.hpp"

#include <algorithm>
#include <bit>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "zel/core/detail/reductions.hpp"
#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"

#include "gate_rows.hpp"
#include "index_iteration.hpp"
#include "prepared_hamiltonian.hpp"
#include "primitive_kernels.hpp"

namespace zel {
namespace {

using detail::complex_sum;
using detail::conj_times;
using detail::power_of_i;
using detail::times;
using Amplitude = detail::GradientAmplitude;
using FlipGroup = PauliFlipGroup;

using Derivative = detail::OperationDerivative;

// Reads a whole state's amplitudes by basis index.
struct WholeVector {
    const Amplitude* data;
    Amplitude operator()(std::uint64_t index) const noexcept {
        return data[index];
    }
};

WholeVector whole(const ZarnikState& state) noexcept {
    return WholeVector{state.amplitudes().data()};
}

// A chunk's partial from +0 by one of the `add_*` item sums of reductions.hpp.
template <class Add>
Amplitude chunk_partial(std::size_t begin, std::size_t end, const Add& add) {
    double acc[2] = {0.0, 0.0};
    add(begin, end, acc);
    return {acc[0], acc[1]};
}

// <phi| B |psi> for the sum B whose terms are `groups`, the groups' sums added in order.
Amplitude grouped_inner(const ZarnikState& phi, const ZarnikState& psi,
                        std::span<const FlipGroup> groups) {
    Amplitude total(0.0, 0.0);
    for (const FlipGroup& group : groups) {
        total += complex_sum(phi.dimension(), [&](std::size_t begin, std::size_t end) {
            return chunk_partial(begin, end, [&](std::uint64_t x, std::uint64_t y, double* acc) {
                detail::add_group_overlap(x, y, group, whole(phi), whole(psi), acc);
            });
        });
    }
    return total;
}

// <phi|P|psi> of one Pauli string without its i^y factor, restricted by the controls: the
// backward sweep's work for every Pauli rotation.
Amplitude signed_overlap(const ZarnikState& phi, const ZarnikState& psi, const Derivative& d) {
    return complex_sum(phi.dimension(), [&](std::size_t begin, std::size_t end) {
        return chunk_partial(begin, end, [&](std::uint64_t x, std::uint64_t y, double* acc) {
            if (d.controls == 0) {
                detail::add_signed_overlap<false>(x, y, d.flip, d.sign, 0, whole(phi), whole(psi),
                                                  acc);
            } else {
                detail::add_signed_overlap<true>(x, y, d.flip, d.sign, d.controls, whole(phi),
                                                 whole(psi), acc);
            }
        });
    });
}

Amplitude inner(const ZarnikState& phi, const ZarnikState& psi) {
    return complex_sum(phi.dimension(), [&](std::size_t begin, std::size_t end) {
        return chunk_partial(begin, end, [&](std::uint64_t x, std::uint64_t y, double* acc) {
            detail::add_inner(x, y, whole(phi), whole(psi), acc);
        });
    });
}

// <phi| D |psi> for a row-major 2^k x 2^k matrix D on the qubits of `items`, every qubit below
// the register and distinct (checked by `check_operation` beforehand).
Amplitude local_inner(const ZarnikState& phi, const ZarnikState& psi,
                      const detail::DenseItems& items, std::span<const Amplitude> matrix) {
    return complex_sum(
        phi.dimension() >> items.sorted.size(), [&](std::size_t begin, std::size_t end) {
            return chunk_partial(begin, end, [&](std::uint64_t x, std::uint64_t y, double* acc) {
                detail::add_dense_overlap(x, y, items, matrix, whole(phi), whole(psi), acc);
            });
        });
}

// The generator P/2 of a rotation kind (under its controls) as a derivative form. Qubits at or
// beyond 64 (only a lenient RZ can name one) read a 0 bit.
Derivative half_pauli_derivative(const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    const std::string_view letters =
        info.pauli.empty() ? std::string_view(op.payload.pauli) : info.pauli;
    Derivative d;
    d.form = Derivative::Form::HalfPauli;
    for (std::size_t j = 0; j < info.controls; ++j) {
        d.controls |= std::uint64_t{1} << op.qubits[j];
    }
    unsigned y_count = 0;
    for (std::size_t j = 0; j < letters.size(); ++j) {
        const std::uint64_t q = op.qubits[info.controls + j];
        const std::uint64_t bit = q < 64 ? std::uint64_t{1} << q : 0;
        switch (letters[j]) {
            case 'X':
                d.flip ^= bit;
                break;
            case 'Y':
                d.flip ^= bit;
                d.sign ^= bit;
                ++y_count;
                break;
            case 'Z':
                d.sign ^= bit;
                break;
            default:
                break;
        }
    }
    d.weight = 0.5 * power_of_i(y_count);
    return d;
}

// Re <phi| T - T^dagger |psi> for the excitation `d`: over the amplitudes i it moves (their
// `from` bits set, `to` bits clear) and partners j, in one pass over those pairs only.
double excitation_overlap(const Derivative& d, const ZarnikState& phi, const ZarnikState& psi) {
    const detail::IndexPattern pattern = detail::IndexPattern::of(d.from | d.to, d.from);
    const auto expand = [&pattern](std::uint64_t c) {
        return pattern.expand(c);
    };
    const std::size_t count = phi.dimension() >> pattern.fixed_count;
    return complex_sum(count,
                       [&](std::size_t begin, std::size_t end) {
                           return chunk_partial(
                               begin, end, [&](std::uint64_t x, std::uint64_t y, double* acc) {
                                   detail::add_excitation_overlap(x, y, d, expand, whole(phi),
                                                                  whole(psi), acc);
                               });
                       })
        .real();
}

// The derivative 2 Re <phi| T - T^dagger |psi> of an excitation's slot, then its inverse applied
// to both vectors, in one pass over the amplitudes it moves: each pair of both vectors is read
// once, its overlap taken, and rotated back with the kernel's own arithmetic for -theta (so the
// vectors get the bits `apply(inverse(op))` would give them). The overlap's chunks are the fixed
// ones of `complex_sum`, so the result does not depend on the thread count.
double excitation_gradient_and_undo(const Operation& op, ZarnikState& phi, ZarnikState& psi) {
    const Derivative d = detail::operation_derivative(op);
    const detail::IndexPattern pattern = detail::IndexPattern::of(d.from | d.to, d.from);
    const auto expand = [&pattern](std::uint64_t c) {
        return pattern.expand(c);
    };
    const detail::UndoRotation undo(op.params[0]);
    Amplitude* a = phi.amplitudes_mut().data();
    Amplitude* b = psi.amplitudes_mut().data();
    const std::size_t count = phi.dimension() >> pattern.fixed_count;
    const double overlap =
        complex_sum(count, [&](std::size_t begin, std::size_t end) {
            return chunk_partial(begin, end, [&](std::uint64_t x, std::uint64_t y, double* acc) {
                detail::add_excitation_overlap_and_undo(x, y, d, expand, undo, a, b,
                                                        ~std::uint64_t{0}, acc);
            });
        }).real();
    return 2.0 * overlap;
}

// dM/dp_slot for the matrix M of `op`. Every entry of the table's matrices is, in each single
// parameter, a trigonometric polynomial of frequencies 1/2 and 1 (half angles of theta; phases
// e^(i phi), e^(i lambda), e^(i gamma)). For such f, f'(x) = 1/2 [f(x + pi/2) - f(x - pi/2)] +
// (1 - sqrt 2)/4 [f(x + pi) - f(x - pi)] exactly: the first difference weighs frequency w by
// 2 sin(w pi/2), the second by 2 sin(w pi), and the weights make both sums equal w.
std::vector<Amplitude> matrix_derivative(const Operation& op, std::size_t slot) {
    constexpr double NEAR = std::numbers::pi / 2;
    constexpr double FAR = std::numbers::pi;
    constexpr double NEAR_WEIGHT = 0.5;
    const double far_weight = (1.0 - std::numbers::sqrt2) / 4.0;
    Operation shifted = op;
    const auto matrix_at = [&](double shift) {
        shifted.params[slot] = op.params[slot] + shift;
        return operation_matrix(shifted);
    };
    const std::vector<Amplitude> near_plus = matrix_at(NEAR);
    const std::vector<Amplitude> near_minus = matrix_at(-NEAR);
    const std::vector<Amplitude> far_plus = matrix_at(FAR);
    const std::vector<Amplitude> far_minus = matrix_at(-FAR);
    std::vector<Amplitude> derivative(near_plus.size());
    for (std::size_t e = 0; e < derivative.size(); ++e) {
        derivative[e] = NEAR_WEIGHT * (near_plus[e] - near_minus[e]) +
                        far_weight * (far_plus[e] - far_minus[e]);
    }
    return derivative;
}

// product * adjoint(right), both row-major d x d.
std::vector<Amplitude> times_adjoint(std::span<const Amplitude> left,
                                     std::span<const Amplitude> right, std::size_t d) {
    std::vector<Amplitude> out(d * d, Amplitude(0.0, 0.0));
    for (std::size_t r = 0; r < d; ++r) {
        for (std::size_t c = 0; c < d; ++c) {
            for (std::size_t m = 0; m < d; ++m) {
                out[r * d + c] += left[r * d + m] * std::conj(right[c * d + m]);
            }
        }
    }
    return out;
}

// Writes dE/dp for every parameter slot of `op` into `out`, where `psi` is the state just after
// `op` and `phi` the Hamiltonian's product carried back to the same point. Each slot's value
// is 2 Re <phi| D |psi> with D = dM/dp M^dagger.
void operation_gradient(const Operation& op, const ZarnikState& phi, const ZarnikState& psi,
                        std::span<double> out) {
    std::fill(out.begin(), out.end(), 0.0);
    if (out.empty()) {
        return;
    }
    const Derivative d = detail::operation_derivative(op);
    switch (d.form) {
        case Derivative::Form::Zero:
            return;
        case Derivative::Form::HalfPauli:
            // D = -i G with G = P/2 under the controls: 2 Re(-i z) = 2 Im z.
            out[0] = 2.0 * times(d.weight, signed_overlap(phi, psi, d)).imag();
            return;
        case Derivative::Form::Dense: {
            const detail::DenseItems items(d.qubits);
            for (std::size_t slot = 0; slot < d.matrices.size(); ++slot) {
                const Amplitude value = local_inner(phi, psi, items, d.matrices[slot]);
                out[slot] = 2.0 * (d.imaginary ? value.imag() : value.real());
            }
            return;
        }
        case Derivative::Form::Excitation:
            // D = -i G = T - T^dagger.
            out[0] = 2.0 * excitation_overlap(d, phi, psi);
            return;
    }
}

// The first parameter slot of every operation, and the slot count at the end; throws what
// applying the first operation that does not fit the register would throw.
std::vector<std::size_t> parameter_slots(const ZarnikGraph& circuit, std::uint64_t n) {
    const std::vector<Operation>& ops = circuit.operations;
    std::vector<std::size_t> first_slot(ops.size() + 1, 0);
    for (std::size_t k = 0; k < ops.size(); ++k) {
        check_operation(n, ops[k]);
        first_slot[k + 1] = first_slot[k] + ops[k].params.size();
    }
    return first_slot;
}

EnergyGradient checked_energy_and_gradient(const ZarnikGraph& circuit,
                                           const PreparedPauliSum& hamiltonian,
                                           const ZarnikState& reference,
                                           const std::vector<std::size_t>& first_slot) {
    const std::uint64_t n = reference.num_qubits();
    const std::vector<Operation>& ops = circuit.operations;
    ZarnikState psi = reference;
    for (const Operation& op : ops) {
        psi.apply(op);
    }
    ZarnikState phi(n);
    detail::apply_groups(hamiltonian, psi, phi);

    EnergyGradient result;
    result.energy = inner(psi, phi).real();
    result.gradient.assign(first_slot.back(), 0.0);

    const std::size_t first_parametric = detail::first_parametric(ops);
    for (std::size_t k = ops.size(); k-- > first_parametric;) {
        const std::span<double> out(result.gradient.data() + first_slot[k], ops[k].params.size());
        if (k > first_parametric &&
            gate_info(ops[k].gate.kind).generator == GeneratorForm::Excitation) {
            out[0] = excitation_gradient_and_undo(ops[k], phi, psi);
            continue;
        }
        operation_gradient(ops[k], phi, psi, out);
        if (k > first_parametric) {
            const Operation undo = inverse(ops[k]);
            psi.apply(undo);
            phi.apply(undo);
        }
    }
    return result;
}

}  // namespace

namespace detail {

OperationDerivative operation_derivative(const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    if (info.shape != GateShape::Checked && !is_rotation(op.gate.kind)) {
        return {};  // the original kinds without angle read no parameter
    }
    switch (info.generator) {
        case GeneratorForm::HalfPauli:
            return half_pauli_derivative(op);
        case GeneratorForm::MinusSetBits: {
            OperationDerivative d;
            d.form = OperationDerivative::Form::Dense;
            d.qubits = op.qubits;
            d.matrices.push_back(generator_matrix(op));
            d.imaginary = true;
            return d;
        }
        case GeneratorForm::Excitation: {
            const ExcitationMasks masks = excitation_masks(op, false);
            OperationDerivative d;
            d.form = OperationDerivative::Form::Excitation;
            d.from = masks.from;
            d.to = masks.to;
            d.parity = masks.parity;
            d.negative = masks.negative;
            return d;
        }
        case GeneratorForm::None:
            break;
    }
    OperationDerivative d;
    d.form = OperationDerivative::Form::Dense;
    d.qubits = op.qubits;
    const std::vector<Amplitude> m = operation_matrix(op);
    const std::size_t size = std::size_t{1} << op.qubits.size();
    for (std::size_t slot = 0; slot < info.param_count; ++slot) {
        d.matrices.push_back(times_adjoint(matrix_derivative(op, slot), m, size));
    }
    return d;
}

}  // namespace detail

EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                   const ZarnikState& reference) {
    const std::vector<std::size_t> first_slot = parameter_slots(circuit, reference.num_qubits());
    const PreparedPauliSum prepared(hamiltonian, reference.num_qubits());
    return checked_energy_and_gradient(circuit, prepared, reference, first_slot);
}

EnergyGradient energy_and_gradient(const ZarnikGraph& circuit, const PreparedPauliSum& hamiltonian,
                                   const ZarnikState& reference) {
    const std::vector<std::size_t> first_slot = parameter_slots(circuit, reference.num_qubits());
    if (hamiltonian.num_qubits() != reference.num_qubits()) {
        throw InvalidArgument(
            "energy_and_gradient: the reference has " + std::to_string(reference.num_qubits()) +
            " qubits, the prepared Hamiltonian " + std::to_string(hamiltonian.num_qubits()));
    }
    return checked_energy_and_gradient(circuit, hamiltonian, reference, first_slot);
}

std::vector<double> energy_gradient(const ZarnikGraph& circuit, const PauliSum& hamiltonian,
                                    const ZarnikState& reference) {
    return energy_and_gradient(circuit, hamiltonian, reference).gradient;
}

std::vector<double> pool_gradients(const PauliSum& hamiltonian, const ZarnikState& psi,
                                   std::span<const PauliSum> generators) {
    const PreparedPauliSum h(hamiltonian, psi.num_qubits());
    std::vector<PreparedPauliSum> pool;
    pool.reserve(generators.size());
    for (const PauliSum& generator : generators) {
        pool.emplace_back(generator, psi.num_qubits());
    }
    ZarnikState h_psi(psi.num_qubits());
    detail::apply_groups(h, psi, h_psi);
    std::vector<double> gradients;
    gradients.reserve(pool.size());
    for (const PreparedPauliSum& generator : pool) {
        gradients.push_back(-2.0 * grouped_inner(h_psi, psi, generator.groups()).imag());
    }
    return gradients;
}

}  // namespace zel
