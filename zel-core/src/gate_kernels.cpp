// The kernels of the original one-qubit kinds on a whole state (the pair updates of X, Y, H,
// SX, RX and RY, the phases of Z, S, T and RZ), bulk copies, and the per-piece entry points
// that apply the same arithmetic to slices of a distributed state.

#include "gate_kernels.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "zel/core/detail/kernels.hpp"
#include "zel/core/parallel.hpp"

#include "cpu_dispatch.hpp"
#include "index_iteration.hpp"
#include "pair_traversal.hpp"
#include "traversal_policy.hpp"

namespace zel::detail {
namespace {

// A 2x2 update of every pair of a one-qubit gate on qubit t. Workers take disjoint ranges of
// compressed indexes, so every pair is computed exactly as serially.
template <class Update>
[[gnu::noinline]] void pair_kernel(Amplitude* psi, std::uint64_t dimension, unsigned t,
                                   const Update& update) {
    const Parts a(psi);
    if (t >= far_from()) {
        const std::uint64_t block = far_block_size();
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            blocked_pairs(a.data(), begin, end, t, block, update);
        });
        return;
    }
    const Lookahead ahead = pairs_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t,
                   [a, update](std::uint64_t i, std::uint64_t j) {
                       if constexpr (std::is_same_v<Update, YUpdate>) {
                           // Whole amplitudes: one shuffle each, where the scalar form became
                           // cross-lane permutes (qubit 1 of 2^24: 0.67 of the probe, now 1.07).
                           update_whole(update, a.data() + 2 * i, a.data() + 2 * j);
                       } else {
                           update(a.re(i), a.im(i), a.re(j), a.im(j));
                       }
                   });
    });
}

// X: a permutation, so whole amplitudes move, 16 bytes at a time.
[[gnu::noinline]] void swap_pair_kernel(Amplitude* psi, std::uint64_t dimension, unsigned t) {
    if (t >= far_from()) {
        const std::uint64_t block = far_block_size();
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            blocked_pairs(reinterpret_cast<double*>(psi), begin, end, t, block, ExchangeUpdate{});
        });
        return;
    }
    const Lookahead ahead = pairs_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t, [psi](std::uint64_t i, std::uint64_t j) {
            std::swap(psi[i], psi[j]);
        });
    });
}

// Applies `update` to the amplitudes with bit t set.
template <class Update>
[[gnu::noinline]] void upper_half_kernel(Amplitude* psi, std::uint64_t dimension, unsigned t,
                                         const Update& update) {
    const Parts a(psi);
    const Lookahead ahead = upper_lookahead(t);
    parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
        pair_range(ahead, psi, dimension, begin, end, t,
                   [a, update](std::uint64_t, std::uint64_t j) {
                       update(a.re(j), a.im(j));
                   });
    });
}

}  // namespace

namespace {

// Calls f with the pair update of `kind` (Y, H, SX, RX, RY) and returns true; false for every
// other kind. The one place that maps a kind to its arithmetic, for whole states and pieces.
template <class F>
bool visit_pair_update(GateKind kind, HalfAngle angle, const F& f) {
    switch (kind) {
        case GateKind::Y:
            f(YUpdate{});
            return true;
        case GateKind::H:
            f(HUpdate{});
            return true;
        case GateKind::SX:
            f(SXUpdate{});
            return true;
        case GateKind::RX:
            f(RXUpdate{angle.alpha, angle.beta});
            return true;
        case GateKind::RY:
            f(RYUpdate{angle.alpha, angle.beta});
            return true;
        case GateKind::I:
        case GateKind::X:
        case GateKind::Z:
        case GateKind::S:
        case GateKind::T:
        case GateKind::RZ:
        case GateKind::CX:
        case GateKind::CZ:
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
        case GateKind::SWAP:
            return false;
    }
    return false;
}

// The same for the update of a set target bit of Z, S and T.
template <class F>
bool visit_phase_update(GateKind kind, const F& f) {
    switch (kind) {
        case GateKind::Z:
            f(ZUpdate{});
            return true;
        case GateKind::S:
            f(SUpdate{});
            return true;
        case GateKind::T:
            f(TUpdate{});
            return true;
        case GateKind::I:
        case GateKind::X:
        case GateKind::Y:
        case GateKind::H:
        case GateKind::SX:
        case GateKind::RX:
        case GateKind::RY:
        case GateKind::RZ:
        case GateKind::CX:
        case GateKind::CZ:
        case GateKind::U:
        case GateKind::U2:
        case GateKind::P:
        case GateKind::SDG:
        case GateKind::TDG:
        case GateKind::SXDG:
        case GateKind::CY:
        case GateKind::CH:
        case GateKind::CP:
        case GateKind::CRX:
        case GateKind::CRY:
        case GateKind::CRZ:
        case GateKind::CU:
        case GateKind::CCX:
        case GateKind::CSWAP:
        case GateKind::RXX:
        case GateKind::RYY:
        case GateKind::RZZ:
        case GateKind::GPHASE:
        case GateKind::PAULI_ROTATION:
        case GateKind::UNITARY:
        case GateKind::FERMIONIC_SINGLE:
        case GateKind::FERMIONIC_DOUBLE:
        case GateKind::QUBIT_SINGLE:
        case GateKind::QUBIT_DOUBLE:
        case GateKind::SWAP:
            return false;
    }
    return false;
}

// Registers of at most SMALL_PAIR_REGISTER amplitudes (2 qubits) run the pair kinds, and of at
// most SMALL_REGISTER (5 qubits) the phases, as plain loops on the calling thread: there the
// entry into the pool and the traversal costs more than the work, while from 3 qubits the
// kernels' vector loop over pairs outruns a scalar one (the same limits as the plain loops of
// the kinds from U on). Each amplitude gets the update the kernels give it, so the bits are the
// kernels'.
constexpr std::uint64_t SMALL_PAIR_REGISTER = 4;

void small_pairs(Amplitude* psi, std::uint64_t dimension, GateKind kind, unsigned t,
                 HalfAngle angle) {
    const std::uint64_t bit = std::uint64_t{1} << t;
    if (kind == GateKind::X) {
        for (std::uint64_t i = 0; i < dimension; i = ((i | bit) + 1) & ~bit) {
            std::swap(psi[i], psi[i | bit]);
        }
        return;
    }
    const Parts a(psi);
    visit_pair_update(kind, angle, [&](const auto& update) {
        for (std::uint64_t i = 0; i < dimension; i = ((i | bit) + 1) & ~bit) {
            update(a.re(i), a.im(i), a.re(i | bit), a.im(i | bit));
        }
    });
}

// `update` on every amplitude whose bits of `mask` are all set.
template <class Update>
void small_each_set(Amplitude* psi, std::uint64_t dimension, std::uint64_t mask,
                    const Update& update) {
    const Parts a(psi);
    for (std::uint64_t i = mask; i < dimension; i = ((i | mask) + 1) | mask) {
        update(a.re(i), a.im(i));
    }
}

}  // namespace

void apply_pair_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind, unsigned t,
                     HalfAngle angle) {
    if (dimension <= SMALL_PAIR_REGISTER) {
        small_pairs(psi, dimension, kind, t, angle);
        return;
    }
    if (kind == GateKind::X) {
        swap_pair_kernel(psi, dimension, t);
        return;
    }
    visit_pair_update(kind, angle, [&](const auto& update) {
        pair_kernel(psi, dimension, t, update);
    });
}

void apply_phase_kind(Amplitude* psi, std::uint64_t dimension, GateKind kind, unsigned t) {
    if (dimension <= SMALL_REGISTER) {
        visit_phase_update(kind, [&](const auto& update) {
            small_each_set(psi, dimension, std::uint64_t{1} << t, update);
        });
        return;
    }
    visit_phase_update(kind, [&](const auto& update) {
        upper_half_kernel(psi, dimension, t, update);
    });
}

// RZ on qubits from this one up runs as one sequential pass (runs of at least 16 amplitudes);
// below, pairs are adjacent enough that the pair loop is as good.
constexpr std::uint64_t RZ_SEQUENTIAL_FROM_QUBIT = 4;

namespace {

// One worker's share [begin, end) of the amplitudes for RZ on qubit t in runs of 2^t that share
// bit t, built for each instruction set like pair_range.
ZEL_EXACT_CLONES void rz_runs(double* parts, std::uint64_t begin, std::uint64_t end,
                              std::uint64_t t, RZUpdate clear, RZUpdate set) {
    const Parts a(reinterpret_cast<Amplitude*>(parts));
    const std::uint64_t m = std::uint64_t{1} << t;
    std::uint64_t k = begin;
    while (k < end) {
        const std::uint64_t run_end = std::min(end, (k | (m - 1)) + 1);
        const RZUpdate rotate = (k & m) != 0 ? set : clear;
        for (; k < run_end; ++k) {
            rotate(a.re(k), a.im(k));
        }
    }
}

}  // namespace

[[gnu::noinline]] void apply_rz(Amplitude* psi, std::uint64_t dimension, std::uint64_t num_qubits,
                                std::uint64_t t, HalfAngle angle) {
    const Parts a(psi);
    const RZUpdate clear{angle.alpha, -angle.beta};
    const RZUpdate set{angle.alpha, angle.beta};
    if (dimension <= SMALL_REGISTER) {
        const std::uint64_t bit = t < num_qubits ? std::uint64_t{1} << t : 0;
        for (std::uint64_t k = 0; k < dimension; ++k) {
            const RZUpdate& rotate = (k & bit) != 0 ? set : clear;
            rotate(a.re(k), a.im(k));
        }
        return;
    }
    if (t >= num_qubits) {
        parallel::for_each(dimension, [&](std::uint64_t begin, std::uint64_t end) {
            for (std::uint64_t k = begin; k < end; ++k) {
                clear(a.re(k), a.im(k));
            }
        });
        return;
    }
    if (t < RZ_SEQUENTIAL_FROM_QUBIT) {
        parallel::for_each(dimension / 2, [&](std::uint64_t begin, std::uint64_t end) {
            pair_range<Lookahead::none>(psi, dimension, begin, end, static_cast<unsigned>(t),
                                        [a, clear, set](std::uint64_t i, std::uint64_t j) {
                                            clear(a.re(i), a.im(i));
                                            set(a.re(j), a.im(j));
                                        });
        });
        return;
    }
    // A diagonal gate needs no partner: one ascending pass, in runs of 2^t amplitudes that share
    // their bit t, reads the state as one stream wherever the target lies.
    parallel::for_each(dimension, [&](std::uint64_t begin, std::uint64_t end) {
        rz_runs(a.data(), begin, end, t, clear, set);
    });
}

void copy_amplitudes(Amplitude* to, const Amplitude* from, std::uint64_t count) {
    parallel::for_each(count, [to, from](std::uint64_t begin, std::uint64_t end) {
        std::memcpy(static_cast<void*>(to + begin), from + begin,
                    static_cast<std::size_t>(end - begin) * BYTES_PER_AMPLITUDE);
    });
}

void zero_amplitudes(Amplitude* psi, std::uint64_t count) {
    parallel::for_each(count, [psi](std::uint64_t begin, std::uint64_t end) {
        std::memset(static_cast<void*>(psi + begin), 0,
                    static_cast<std::size_t>(end - begin) * BYTES_PER_AMPLITUDE);
    });
}

// --- Entry points of detail/kernels.hpp ---------------------------------------------------

namespace {

template <class Update>
void pairs_of(KernelAmplitude* lower, KernelAmplitude* upper, std::size_t count,
              const Update& update) {
    const Parts l(lower);
    const Parts u(upper);
    for (std::size_t k = 0; k < count; ++k) {
        update(l.re(k), l.im(k), u.re(k), u.im(k));
    }
}

template <class Update>
void each_of(KernelAmplitude* amplitudes, std::size_t count, const Update& update) {
    const Parts a(amplitudes);
    for (std::size_t k = 0; k < count; ++k) {
        update(a.re(k), a.im(k));
    }
}

}  // namespace

void apply_pair_gate(const GateType& gate, std::span<const double> params, KernelAmplitude* lower,
                     KernelAmplitude* upper, std::size_t count) noexcept {
    if (gate.kind == GateKind::X) {
        std::swap_ranges(lower, lower + count, upper);
        return;
    }
    const HalfAngle angle = is_rotation(gate.kind) ? half_angle(gate, params) : HalfAngle{};
    visit_pair_update(gate.kind, angle, [&](const auto& update) {
        pairs_of(lower, upper, count, update);
    });
}

void apply_diagonal_gate(const GateType& gate, std::span<const double> params, bool bit,
                         KernelAmplitude* amplitudes, std::size_t count) noexcept {
    if (gate.kind == GateKind::RZ) {
        const HalfAngle angle = half_angle(gate, params);
        each_of(amplitudes, count, RZUpdate{angle.alpha, bit ? angle.beta : -angle.beta});
        return;
    }
    if (bit) {
        visit_phase_update(gate.kind, [&](const auto& update) {
            each_of(amplitudes, count, update);
        });
    }
}

}  // namespace zel::detail
