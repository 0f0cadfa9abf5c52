// The one place that decides which primitive runs a kind from U on, from its table row, on a
// whole state and on one block of a distributed state.

#include "dispatch.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#include "zel/core/detail/kernels.hpp"

#include "gate_math.hpp"
#include "gate_rows.hpp"
#include "primitive_kernels.hpp"

namespace zel::detail {
namespace {

// The qubits of a block: those below `local_qubits` index the block's amplitudes; each one from
// `local_qubits` up is fixed, reading bit (q - local_qubits) of `block_index` everywhere in it.
struct BlockLayout {
    std::uint64_t local_qubits;
    std::uint64_t block_index;

    bool fixed(std::uint64_t q) const noexcept {
        return q >= local_qubits;
    }
    bool fixed_bit(std::uint64_t q) const noexcept {
        return ((block_index >> (q - local_qubits)) & 1U) != 0;
    }
};

}  // namespace

namespace {

// Runs the prepared primitive of `op` on `dimension` amplitudes, where `selected` holds the
// selectors (controls, or every qubit of a diagonal phase) that are not fixed and every qubit that
// moves amplitudes lies in the buffer.
void run_selected(std::complex<double>* psi, std::uint64_t dimension, const Operation& op,
                  const PreparedCall& call, std::uint64_t selected) {
    switch (call.info->primitive) {
        case Primitive::None:
            return;
        case Primitive::Pair:
            apply_controlled_pair(psi, dimension, selected, static_cast<unsigned>(call.q0),
                                  call.matrix.data());
            return;
        case Primitive::Diagonal:
            // The rows of this primitive leave a clear target bit alone (m[0] is exactly 1).
            apply_controlled_phase(psi, dimension, selected, call.matrix[3]);
            return;
        case Primitive::Permutation:
            apply_controlled_permutation(psi, dimension, selected, static_cast<unsigned>(call.q0),
                                         static_cast<unsigned>(call.q1), call.flag);
            return;
        case Primitive::PauliRotation:
            apply_pauli_rotation(psi, dimension, call.x, call.z, call.y_count, selected, call.cos,
                                 call.sin);
            return;
        case Primitive::Excitation:
            apply_excitation(psi, dimension, call.x, call.z, call.parity, call.flag, call.cos,
                             call.sin);
            return;
        case Primitive::Dense:
            apply_dense(psi, dimension, op.qubits, op.payload.matrix);
            return;
        case Primitive::GlobalPhase:
            apply_controlled_phase(psi, dimension, 0, call.matrix[0]);
            return;
    }
}

// Registers of at most SMALL_DIMENSION amplitudes (5 qubits) run the primitives whose arithmetic
// is a fixed product per amplitude in the plain loops below, on the calling thread: at 2 to 5
// qubits a call into the kernels (pool decision, traversal choice, index pattern set-up) costs
// more than the work. Each loop computes, part by part, exactly what the kernel computes for the
// same amplitude (the same products, summed in the same order), so the bits are those of the
// kernels; a test compares the two paths on every kind and placement.
constexpr std::uint64_t SMALL_DIMENSION = 32;

// An uncontrolled 2x2 matrix changes every amplitude, and from 3 qubits the kernels' vector loop
// over whole amplitudes outruns the scalar one here despite its entry cost (measured at 3 to 6
// qubits: 1.0 to 2.2 times the kernels' time), so only 2 qubits take the plain loop.
constexpr std::uint64_t SMALL_UNCONTROLLED_PAIR_DIMENSION = 4;

// The indexes i < dimension with (i & fixed) == set (set a subset of fixed), ascending: the
// fixed bits are filled with ones before each increment so that the carry passes over them.
// The body runs from a local copy whose address is never taken, so that its coefficients stay
// in registers across the stores to amplitudes (read through a reference, they were reloaded).
template <class Body>
void for_each_matching(std::uint64_t dimension, std::uint64_t fixed, std::uint64_t set,
                       const Body& body) {
    const Body local = body;
    for (std::uint64_t i = set; i < dimension; i = (((i | fixed) + 1) & ~fixed) | set) {
        local(i);
    }
}

// m * a for the entry m = (mr, mi) and the amplitude a = (re, im): (mr re + (-mi) im,
// mr im + mi re), the lanes of the kernels' coefficient product.
struct SmallProduct {
    double re;
    double im;
};

inline SmallProduct small_times(std::complex<double> m, double re, double im) noexcept {
    const double mr = m.real();
    const double mi = m.imag();
    return {mr * re + (-mi) * im, mr * im + mi * re};
}

// An entry m = (mr, mi) in lanes: m * a = {mr, mr} a + {-mi, mi} (a with its parts exchanged),
// lane for lane small_times.
struct LaneEntry {
    AmplitudeLanes real;
    AmplitudeLanes imag;
};

inline LaneEntry lane_entry(std::complex<double> m) noexcept {
    return {AmplitudeLanes{m.real(), m.real()}, AmplitudeLanes{-m.imag(), m.imag()}};
}

inline AmplitudeLanes lane_times(const LaneEntry& m, AmplitudeLanes a) noexcept {
    return m.real * a + m.imag * swap_parts(a);
}

// The 2x2 matrix m on target t where every bit of `controls` is set, each amplitude as one
// vector of its two parts. The entries are copied into the loop's closure: read through the
// pointer, they would be reloaded after every store to an amplitude, which may alias them.
void small_pair(double* parts, std::uint64_t dimension, std::uint64_t controls, unsigned t,
                const std::complex<double> m[4]) {
    const std::uint64_t bit = std::uint64_t{1} << t;
    const std::array<LaneEntry, 4> e = {lane_entry(m[0]), lane_entry(m[1]), lane_entry(m[2]),
                                        lane_entry(m[3])};
    for_each_matching(dimension, controls | bit, controls, [parts, bit, e](std::uint64_t i) {
        double* p0 = parts + 2 * i;
        double* p1 = parts + 2 * (i | bit);
        AmplitudeLanes a0;
        AmplitudeLanes a1;
        std::memcpy(&a0, p0, sizeof a0);
        std::memcpy(&a1, p1, sizeof a1);
        const AmplitudeLanes b0 = lane_times(e[0], a0) + lane_times(e[1], a1);
        const AmplitudeLanes b1 = lane_times(e[2], a0) + lane_times(e[3], a1);
        std::memcpy(p0, &b0, sizeof b0);
        std::memcpy(p1, &b1, sizeof b1);
    });
}

// Multiplies by `phase` the amplitudes where every bit of `selected` is set.
void small_phase(double* parts, std::uint64_t dimension, std::uint64_t selected,
                 std::complex<double> phase) {
    for_each_matching(dimension, selected, selected, [parts, phase](std::uint64_t i) {
        const SmallProduct p = small_times(phase, parts[2 * i], parts[2 * i + 1]);
        parts[2 * i] = p.re;
        parts[2 * i + 1] = p.im;
    });
}

// X on t, or the exchange of t and b, where every bit of `controls` is set.
void small_permutation(std::complex<double>* psi, std::uint64_t dimension, std::uint64_t controls,
                       unsigned t, unsigned b, bool exchange) {
    const std::uint64_t bit_t = std::uint64_t{1} << t;
    if (!exchange) {
        for_each_matching(dimension, controls | bit_t, controls, [&](std::uint64_t i) {
            std::swap(psi[i], psi[i | bit_t]);
        });
        return;
    }
    const std::uint64_t bit_b = std::uint64_t{1} << b;
    for_each_matching(dimension, controls | bit_t | bit_b, controls | bit_t, [&](std::uint64_t i) {
        std::swap(psi[i], psi[(i ^ bit_t) | bit_b]);
    });
}

// The excitation's rotation: a_i and its partner a_j become c a_i - f a_j and c a_j + f a_i with
// f = +-sin(theta) by the sign and the parity of i & parity, part by part as the kernel's lanes.
void small_excitation(double* parts, std::uint64_t dimension, const ExcitationMasks& masks,
                      double c, double s) {
    const std::uint64_t both = masks.from | masks.to;
    const ExcitationMasks local = masks;
    for_each_matching(dimension, both, masks.from, [parts, both, local, c, s](std::uint64_t i) {
        double* a = parts + 2 * i;
        double* b = parts + 2 * (i ^ both);
        const bool odd = (std::popcount(i & local.parity) & 1) != 0;
        const double f = local.negative != odd ? -s : s;
        const double are = a[0], aim = a[1], bre = b[0], bim = b[1];
        a[0] = c * are - f * bre;
        a[1] = c * aim - f * bim;
        b[0] = c * bre + f * are;
        b[1] = c * bim + f * aim;
    });
}

// Runs `op` on a whole register of at most SMALL_DIMENSION amplitudes when its primitive has a
// plain loop here; false leaves it to the kernels.
bool run_small(std::complex<double>* psi, std::uint64_t dimension, const Operation& op,
               const PreparedCall& call, std::uint64_t selected) {
    auto* parts = reinterpret_cast<double*>(psi);
    switch (call.info->primitive) {
        case Primitive::Pair:
            if (selected == 0 && dimension > SMALL_UNCONTROLLED_PAIR_DIMENSION) {
                return false;
            }
            small_pair(parts, dimension, selected, static_cast<unsigned>(call.q0),
                       call.matrix.data());
            return true;
        case Primitive::Diagonal:
            small_phase(parts, dimension, selected, call.matrix[3]);
            return true;
        case Primitive::GlobalPhase:
            small_phase(parts, dimension, 0, call.matrix[0]);
            return true;
        case Primitive::Permutation:
            small_permutation(psi, dimension, selected, static_cast<unsigned>(call.q0),
                              static_cast<unsigned>(call.q1), call.flag);
            return true;
        case Primitive::Excitation:
            small_excitation(parts, dimension, {call.x, call.z, call.parity, call.flag}, call.cos,
                             call.sin);
            return true;
        case Primitive::Dense:
            if (op.qubits.size() != 1 || dimension > SMALL_UNCONTROLLED_PAIR_DIMENSION) {
                return false;
            }
            small_pair(parts, dimension, 0, static_cast<unsigned>(op.qubits[0]),
                       op.payload.matrix.data());
            return true;
        case Primitive::PauliRotation:
            // The kernel has a plain loop of its own for small registers.
            apply_pauli_rotation(psi, dimension, call.x, call.z, call.y_count, selected, call.cos,
                                 call.sin);
            return true;
        case Primitive::None:
            return false;
    }
    return false;
}

// Selectors pick the amplitudes that change without moving any: the controls, and every qubit
// of a diagonal phase.
std::size_t selector_count(const GateInfo& info, const Operation& op) noexcept {
    if (info.primitive != Primitive::Diagonal) {
        return info.controls;
    }
    return info.variable_qubits ? op.qubits.size() : info.arity;
}

[[gnu::always_inline]] inline void prepare_call(const GateInfo& info, const Operation& op,
                                                PreparedCall& call) {
    const std::size_t controls = info.controls;
    call.route = PreparedCall::Route::Checked;
    call.kind = info.kind;
    call.info = &info;
    switch (info.primitive) {
        case Primitive::None:
        case Primitive::Dense:
            return;
        case Primitive::Pair:
            call.q0 = op.qubits[controls];
            info.target_matrix(op.params, call.matrix.data());
            return;
        case Primitive::Diagonal:
        case Primitive::GlobalPhase:
            info.target_matrix(op.params, call.matrix.data());
            return;
        case Primitive::Permutation:
            call.flag = info.arity - controls == 2;
            call.q0 = op.qubits[controls];
            call.q1 = call.flag ? op.qubits[controls + 1] : call.q0;
            return;
        case Primitive::PauliRotation: {
            const std::string_view letters = info.payload == PayloadKind::PauliString
                                                 ? std::string_view(op.payload.pauli)
                                                 : info.pauli;
            const PauliMasks local = pauli_masks(letters);
            call.x = 0;
            call.z = 0;
            for (std::size_t j = 0; j < letters.size(); ++j) {
                const std::uint64_t bit = std::uint64_t{1} << op.qubits[controls + j];
                call.x |= ((local.x >> j) & 1U) != 0 ? bit : 0;
                call.z |= ((local.z >> j) & 1U) != 0 ? bit : 0;
            }
            call.y_count = local.y_count;
            call.cos = std::cos(op.params[0] / 2);
            call.sin = std::sin(op.params[0] / 2);
            return;
        }
        case Primitive::Excitation: {
            const ExcitationMasks masks = excitation_masks(op, false);
            call.x = masks.from;
            call.z = masks.to;
            call.parity = masks.parity;
            call.flag = masks.negative;
            call.cos = std::cos(op.params[0]);
            call.sin = std::sin(op.params[0]);
            return;
        }
    }
}

[[gnu::always_inline]] inline std::uint64_t selected_of(const GateInfo& info,
                                                        const Operation& op) noexcept {
    // A whole state is the one block with no fixed qubit: every selector stays.
    const std::size_t selectors = selector_count(info, op);
    std::uint64_t selected = 0;
    for (std::size_t j = 0; j < selectors; ++j) {
        selected |= std::uint64_t{1} << op.qubits[j];
    }
    return selected;
}

[[gnu::always_inline]] inline void run_call(std::complex<double>* psi, std::uint64_t dimension,
                                            const Operation& op, const PreparedCall& call) {
    if (dimension <= SMALL_DIMENSION && run_small(psi, dimension, op, call, call.selected)) {
        return;
    }
    run_selected(psi, dimension, op, call, call.selected);
}

}  // namespace

void prepare_checked(const GateInfo& info, const Operation& op, PreparedCall& call) {
    prepare_call(info, op, call);
}

std::uint64_t whole_state_selected(const GateInfo& info, const Operation& op) noexcept {
    return selected_of(info, op);
}

void run_checked(std::complex<double>* psi, std::uint64_t dimension, const Operation& op,
                 const PreparedCall& call) {
    run_call(psi, dimension, op, call);
}

bool apply_checked_on_block(std::complex<double>* block, std::uint64_t local_qubits,
                            std::uint64_t block_index, const Operation& op) {
    const GateInfo& info = gate_info(op.gate.kind);
    const BlockLayout layout{local_qubits, block_index};
    const std::uint64_t dimension = std::uint64_t{1} << local_qubits;
    const std::size_t selectors = selector_count(info, op);
    // The qubits other than the selectors move amplitudes and must lie in the block. This
    // decision reads no fixed bit, so every block of a state takes the same one.
    for (std::size_t j = selectors; j < op.qubits.size(); ++j) {
        if (layout.fixed(op.qubits[j])) {
            return false;
        }
    }
    // A fixed selector reading 0 leaves the whole block alone; one reading 1 holds for the
    // whole block and drops out.
    std::uint64_t selected = 0;
    for (std::size_t j = 0; j < selectors; ++j) {
        const std::uint64_t q = op.qubits[j];
        if (!layout.fixed(q)) {
            selected |= std::uint64_t{1} << q;
        } else if (!layout.fixed_bit(q)) {
            return true;
        }
    }
    PreparedCall call;
    prepare_call(info, op, call);
    run_selected(block, dimension, op, call, selected);
    return true;
}

void apply_checked(std::complex<double>* psi, std::uint64_t dimension, const GateInfo& info,
                   const Operation& op) {
    PreparedCall call;
    prepare_call(info, op, call);
    call.selected = selected_of(info, op);
    run_call(psi, dimension, op, call);
}

}  // namespace zel::detail
