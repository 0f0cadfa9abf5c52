#include "zel/core/state.hpp"

#include <cstddef>
#include <limits>
#include <utility>

#include "zel/core/detail/aligned_buffer.hpp"
#include "zel/core/error.hpp"

#include "dispatch.hpp"
#include "gate_kernels.hpp"
#include "gate_rows.hpp"

namespace zel {
namespace {

std::size_t buffer_bytes(std::uint64_t dimension) noexcept {
    return static_cast<std::size_t>(dimension) * sizeof(ZarnikState::Amplitude);
}

// The bit of qubit q, or 0 for qubits beyond a 64-bit index: such a bit reads 0 in every index.
constexpr std::uint64_t qubit_mask(std::uint64_t q) noexcept {
    return q < 64 ? std::uint64_t{1} << q : 0;
}

// 2^q as an index for the bounds report; 2^64 - 1 stands for indexes beyond 64 bits.
constexpr std::uint64_t reported_index(std::uint64_t q) noexcept {
    return q < 64 ? std::uint64_t{1} << q : std::numeric_limits<std::uint64_t>::max();
}

// Sum that saturates instead of wrapping, for reporting partner indexes.
constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

}  // namespace

void check_gate(std::uint64_t num_qubits, const GateType& gate,
                std::span<const std::uint64_t> qubits) {
    check_kind(gate.kind);
    const GateInfo& info = gate_info(gate.kind);
    if (info.shape == GateShape::None) {
        return;
    }
    if (info.shape == GateShape::Checked) {
        detail::check_qubit_list(num_qubits, gate.kind, qubits);
        return;
    }
    if (qubits.size() < info.arity) {
        // len = size, index = the first missing entry.
        throw IndexOutOfBounds(qubits.size(), qubits.size());
    }
    const std::uint64_t dimension = num_qubits <= ZarnikState::MAX_QUBITS
                                        ? std::uint64_t{1} << num_qubits
                                        : std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t q0 = qubits[0];
    switch (info.shape) {
        case GateShape::None:
        case GateShape::Diagonal:
        case GateShape::Checked:
            return;
        case GateShape::Pair:
            // The pair loop's first partner, that of index 0, is 2^t.
            if (q0 >= num_qubits) {
                throw IndexOutOfBounds(dimension, reported_index(q0));
            }
            return;
        case GateShape::Swap: {
            // The first index visited has the first qubit set and the second clear, 2^q0; CX
            // pairs it with 2^q0 + 2^q1, SWAP with 2^q1. With the first qubit outside, or both
            // equal, nothing is visited.
            const std::uint64_t q1 = qubits[1];
            if (q0 < num_qubits && q0 != q1 && q1 >= num_qubits) {
                throw IndexOutOfBounds(dimension,
                                       gate.kind == GateKind::CX
                                           ? saturating_add(qubit_mask(q0), reported_index(q1))
                                           : reported_index(q1));
            }
            return;
        }
    }
}

ZarnikState::ZarnikState(std::uint64_t num_qubits) : num_qubits_(num_qubits) {
    if (num_qubits > MAX_QUBITS) {
        throw InvalidLayout(num_qubits);
    }
    dimension_ = std::uint64_t{1} << num_qubits;
    amplitudes_ = static_cast<Amplitude*>(detail::allocate_zeroed(buffer_bytes(dimension_)));
    amplitudes_[0] = Amplitude(1.0, 0.0);
}

ZarnikState::ZarnikState(const ZarnikState& other)
    : num_qubits_(other.num_qubits_), dimension_(other.dimension_) {
    if (other.amplitudes_ == nullptr) {
        return;
    }
    amplitudes_ = static_cast<Amplitude*>(detail::allocate_uninitialised(buffer_bytes(dimension_)));
    try {
        detail::copy_amplitudes(amplitudes_, other.amplitudes_, dimension_);
    } catch (...) {
        // A cancelled copy: no destructor runs for an unfinished constructor.
        detail::release(amplitudes_, buffer_bytes(dimension_));
        throw;
    }
}

ZarnikState& ZarnikState::operator=(const ZarnikState& other) {
    if (this == &other) {
        return *this;
    }
    if (dimension_ == other.dimension_ && amplitudes_ != nullptr && other.amplitudes_ != nullptr) {
        detail::copy_amplitudes(amplitudes_, other.amplitudes_, dimension_);
        num_qubits_ = other.num_qubits_;
        return *this;
    }
    ZarnikState copy(other);
    *this = std::move(copy);
    return *this;
}

ZarnikState::ZarnikState(ZarnikState&& other) noexcept
    : num_qubits_(std::exchange(other.num_qubits_, 0)),
      dimension_(std::exchange(other.dimension_, 0)),
      amplitudes_(std::exchange(other.amplitudes_, nullptr)) {
}

ZarnikState& ZarnikState::operator=(ZarnikState&& other) noexcept {
    if (this != &other) {
        detail::release(amplitudes_, buffer_bytes(dimension_));
        num_qubits_ = std::exchange(other.num_qubits_, 0);
        dimension_ = std::exchange(other.dimension_, 0);
        amplitudes_ = std::exchange(other.amplitudes_, nullptr);
    }
    return *this;
}

ZarnikState::~ZarnikState() {
    detail::release(amplitudes_, buffer_bytes(dimension_));
}

void ZarnikState::set_computational_basis(std::uint64_t index) {
    if (index >= dimension_) {
        throw StateIndexOutOfBounds(index, dimension_);
    }
    detail::zero_amplitudes(amplitudes_, dimension_);
    amplitudes_[index] = Amplitude(1.0, 0.0);
}

void ZarnikState::apply_gate(const GateType& gate, std::span<const std::uint64_t> qubits,
                             std::span<const double> params) {
    const GateKind kind = gate.kind;
    if (kind == GateKind::I) {
        return;
    }
    check_kind(kind);
    if (gate_info(kind).shape == GateShape::Checked) {
        apply(Operation{gate, {qubits.begin(), qubits.end()}, {params.begin(), params.end()}, {}});
        return;
    }
    check_gate(num_qubits_, gate, qubits);
    const std::uint64_t q0 = qubits[0];
    switch (gate_info(kind).shape) {
        case GateShape::None:
        case GateShape::Checked:
            return;
        case GateShape::Pair: {
            const detail::HalfAngle angle =
                is_rotation(kind) ? detail::half_angle(gate, params) : detail::HalfAngle{};
            detail::apply_pair_kind(amplitudes_, dimension_, kind, static_cast<unsigned>(q0),
                                    angle);
            return;
        }
        case GateShape::Diagonal:
            if (kind == GateKind::RZ) {
                detail::apply_rz(amplitudes_, dimension_, num_qubits_, q0,
                                 detail::half_angle(gate, params));
            } else if (kind == GateKind::CZ) {
                const std::uint64_t q1 = qubits[1];
                if (q0 < num_qubits_ && q1 < num_qubits_ && q0 != q1) {
                    detail::apply_cz(amplitudes_, dimension_, q0, q1);
                }
            } else if (q0 < num_qubits_) {
                detail::apply_phase_kind(amplitudes_, dimension_, kind, static_cast<unsigned>(q0));
            }
            return;
        case GateShape::Swap: {
            // check_gate has refused a second qubit outside the state when the first is inside.
            const std::uint64_t q1 = qubits[1];
            if (q0 < num_qubits_ && q0 != q1) {
                detail::apply_swap_kind(amplitudes_, dimension_, kind, q0, q1);
            }
            return;
        }
    }
}

void ZarnikState::apply(const Operation& op) {
    check_kind(op.gate.kind);
    if (gate_info(op.gate.kind).shape != GateShape::Checked) {
        apply_gate(op.gate, op.qubits, op.params);
        return;
    }
    check_operation(num_qubits_, op);
    detail::apply_checked(amplitudes_, dimension_, op);
}

double ZarnikState::calculate_entropy() const {
    return detail::entropy(amplitudes_, dimension_);
}

}  // namespace zel
