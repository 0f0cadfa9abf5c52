#include "zel/core/state.hpp"

#include <cstddef>
#include <limits>
#include <string>
#include <utility>

#include "zel/core/detail/aligned_buffer.hpp"
#include "zel/core/error.hpp"
#include "zel/core/prepared.hpp"

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

// check_gate's rules for one of the fourteen original kinds (a shape other than Checked).
void check_original(std::uint64_t num_qubits, const GateInfo& info,
                    std::span<const std::uint64_t> qubits) {
    if (info.shape == GateShape::None) {
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
                                       info.kind == GateKind::CX
                                           ? saturating_add(qubit_mask(q0), reported_index(q1))
                                           : reported_index(q1));
            }
            return;
        }
    }
}

// The kernel one of the fourteen original kinds runs, after check_original, and its arguments;
// nothing where its qubits leave the state alone.
void prepare_original(std::uint64_t num_qubits, const GateInfo& info, const GateType& gate,
                      std::span<const std::uint64_t> qubits, std::span<const double> params,
                      detail::PreparedCall& call) {
    using Route = detail::PreparedCall::Route;
    const GateKind kind = info.kind;
    call.kind = kind;
    call.route = Route::Nothing;
    if (info.shape == GateShape::None || info.shape == GateShape::Checked) {
        return;
    }
    const std::uint64_t q0 = qubits[0];
    call.q0 = q0;
    const detail::HalfAngle angle =
        info.has_angle ? detail::half_angle(gate, params) : detail::HalfAngle{};
    call.cos = angle.alpha;
    call.sin = angle.beta;
    switch (info.shape) {
        case GateShape::None:
        case GateShape::Checked:
            return;
        case GateShape::Pair:
            call.route = Route::Pair;
            return;
        case GateShape::Diagonal:
            if (kind == GateKind::RZ) {
                call.route = Route::RZ;
            } else if (kind == GateKind::CZ) {
                call.q1 = qubits[1];
                if (q0 < num_qubits && call.q1 < num_qubits && q0 != call.q1) {
                    call.route = Route::CZ;
                }
            } else if (q0 < num_qubits) {
                call.route = Route::Phase;
            }
            return;
        case GateShape::Swap:
            // check_original has refused a second qubit outside the state when the first is
            // inside.
            call.q1 = qubits[1];
            if (q0 < num_qubits && q0 != call.q1) {
                call.route = Route::Exchange;
            }
            return;
    }
}

// Runs a prepared original kind on the 2^n amplitudes at `psi`.
void run_original(ZarnikState::Amplitude* psi, std::uint64_t dimension, std::uint64_t num_qubits,
                  const detail::PreparedCall& call) {
    using Route = detail::PreparedCall::Route;
    switch (call.route) {
        case Route::Nothing:
        case Route::Checked:
            return;
        case Route::Pair:
            detail::apply_pair_kind(psi, dimension, call.kind, static_cast<unsigned>(call.q0),
                                    {call.cos, call.sin});
            return;
        case Route::Phase:
            detail::apply_phase_kind(psi, dimension, call.kind, static_cast<unsigned>(call.q0));
            return;
        case Route::RZ:
            detail::apply_rz(psi, dimension, num_qubits, call.q0, {call.cos, call.sin});
            return;
        case Route::CZ:
            detail::apply_cz(psi, dimension, call.q0, call.q1);
            return;
        case Route::Exchange:
            detail::apply_swap_kind(psi, dimension, call.kind, call.q0, call.q1);
            return;
    }
}

}  // namespace

void check_gate(std::uint64_t num_qubits, const GateType& gate,
                std::span<const std::uint64_t> qubits) {
    detail::check_kind_fast(gate.kind);
    const GateInfo& info = gate_info(gate.kind);
    if (info.shape == GateShape::Checked) {
        detail::check_checked_qubits(num_qubits, info, qubits);
        return;
    }
    check_original(num_qubits, info, qubits);
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
    detail::check_kind_fast(kind);
    const GateInfo& info = gate_info(kind);
    if (info.shape == GateShape::Checked) {
        apply(Operation{gate, {qubits.begin(), qubits.end()}, {params.begin(), params.end()}, {}});
        return;
    }
    check_original(num_qubits_, info, qubits);
    detail::PreparedCall call;
    prepare_original(num_qubits_, info, gate, qubits, params, call);
    run_original(amplitudes_, dimension_, num_qubits_, call);
}

void ZarnikState::apply(const Operation& op) {
    const GateKind kind = op.gate.kind;
    detail::check_kind_fast(kind);
    const GateInfo& info = gate_info(kind);
    if (info.shape != GateShape::Checked) {
        if (kind == GateKind::I) {
            return;
        }
        check_original(num_qubits_, info, op.qubits);
        detail::PreparedCall call;
        prepare_original(num_qubits_, info, op.gate, op.qubits, op.params, call);
        run_original(amplitudes_, dimension_, num_qubits_, call);
        return;
    }
    detail::check_checked_operation(num_qubits_, info, op);
    detail::apply_checked(amplitudes_, dimension_, info, op);
}

void ZarnikState::apply(const PreparedOperation& prepared) {
    prepared.check_register(num_qubits_);
    const detail::PreparedCall& call = prepared.call();
    if (call.route == detail::PreparedCall::Route::Checked) {
        detail::run_checked(amplitudes_, dimension_, prepared.operation(), call);
        return;
    }
    run_original(amplitudes_, dimension_, num_qubits_, call);
}

void PreparedOperation::check_register(std::uint64_t num_qubits) const {
    if (num_qubits != num_qubits_) {
        throw InvalidArgument(std::string(gate_info(call_.kind).name) +
                              ": prepared for a register of " + std::to_string(num_qubits_) +
                              " qubits, applied to one of " + std::to_string(num_qubits));
    }
}

PreparedOperation::PreparedOperation(Operation op, std::uint64_t num_qubits)
    : op_(std::move(op)), num_qubits_(num_qubits) {
    const GateKind kind = op_.gate.kind;
    detail::check_kind_fast(kind);
    const GateInfo& info = gate_info(kind);
    if (info.shape != GateShape::Checked) {
        call_.kind = kind;
        if (kind == GateKind::I) {
            return;
        }
        check_original(num_qubits, info, op_.qubits);
        prepare_original(num_qubits, info, op_.gate, op_.qubits, op_.params, call_);
        return;
    }
    detail::check_checked_operation(num_qubits, info, op_);
    detail::prepare_checked(info, op_, call_);
    call_.selected = detail::whole_state_selected(info, op_);
}

double ZarnikState::calculate_entropy() const {
    return detail::entropy(amplitudes_, dimension_);
}

}  // namespace zel
