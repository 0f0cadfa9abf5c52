#include "zel/core/state.hpp"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

#include "zel/core/detail/aligned_buffer.hpp"
#include "zel/core/error.hpp"
#include "zel/core/parallel.hpp"

#include "index_iteration.hpp"

namespace zel {
namespace {

using detail::for_each_pair;
using detail::for_each_quad;

constexpr std::size_t BYTES_PER_AMPLITUDE = sizeof(std::complex<double>);

/// Hadamard factor: one unit in the last place below the double nearest to 1/sqrt(2)
/// (0x3FE6A09E667F3BCC rather than ...BCD). The smaller value is part of the fixed arithmetic.
constexpr double HADAMARD_FACTOR = 0.7071067811865475;

/// Both parts of e^(i pi/4) for the T gate: the double nearest to 1/sqrt(2).
constexpr double T_PHASE = 0.7071067811865476;

/// Probabilities at or below this contribute nothing to the entropy; log2 is never taken of 0.
constexpr double ENTROPY_PROBABILITY_FLOOR = 1e-12;

/// Independent partial sums per chunk of the entropy.
constexpr std::size_t ENTROPY_LANES = 4;

/// States of at least this many amplitudes take the vectorised entropy loop; smaller ones (one
/// chunk of the sum) a scalar loop that skips negligible probabilities.
constexpr std::uint64_t ENTROPY_VECTOR_FROM = 64;
static_assert(ENTROPY_VECTOR_FROM <= parallel::SUM_CHUNK);

static_assert(sizeof(ZarnikState::Amplitude) == 2 * sizeof(double));

// log2 of a positive, finite double, written so that a loop of calls vectorises (glibc's
// scalar log2 is otherwise the whole cost of the entropy). p = 2^k * m with m in
// [sqrt(1/2), sqrt(2)), found by integer arithmetic on the bits; ln(m) by the classic kernel
// ln(1 + f) = f - (f^2/2 - s (f^2/2 + R(s^2))), s = f / (2 + f), with R the degree-14 even
// minimax polynomial of fdlibm's log (error below 2^-58 on this interval). Exact for powers of
// two (log2(1) is +0.0); within a few units in the last place elsewhere. Any input yields a
// finite value or NaN without trapping, so callers may evaluate it before testing p.
inline double log2_positive(double p) noexcept {
    constexpr std::uint64_t SQRT_HALF_BITS = 0x3FE6A09E667F3BCD;
    constexpr std::uint64_t EXPONENT_FIELD = 0xFFF0000000000000;
    // Offset binary: adding 2^63 turns the signed exponent k into k + 2048 >= 0.
    constexpr std::uint64_t OFFSET = std::uint64_t{1} << 63;
    // A double 2^52 + j holds the small integer j in its low mantissa bits.
    constexpr std::uint64_t TWO_52_BITS = 0x4330000000000000;
    constexpr double TWO_52_PLUS_OFFSET = 4503599627370496.0 + 2048.0;
    constexpr double INV_LN2 = 1.4426950408889634;
    constexpr double LG1 = 6.666666666666735130e-01;
    constexpr double LG2 = 3.999999999940941908e-01;
    constexpr double LG3 = 2.857142874366239149e-01;
    constexpr double LG4 = 2.222219843214978396e-01;
    constexpr double LG5 = 1.818357216161805012e-01;
    constexpr double LG6 = 1.531383769920937332e-01;
    constexpr double LG7 = 1.479819860511658591e-01;
    const auto bits = std::bit_cast<std::uint64_t>(p);
    const std::uint64_t shifted = bits - SQRT_HALF_BITS;
    const double k =
        std::bit_cast<double>(TWO_52_BITS | ((shifted + OFFSET) >> 52)) - TWO_52_PLUS_OFFSET;
    const double f = std::bit_cast<double>(bits - (shifted & EXPONENT_FIELD)) - 1.0;
    const double s = f / (2.0 + f);
    const double z = s * s;
    const double w = z * z;
    // Even and odd coefficients in two chains, for instruction-level parallelism.
    const double even = w * (LG2 + w * (LG4 + w * LG6));
    const double odd = z * (LG1 + w * (LG3 + w * (LG5 + w * LG7)));
    const double half_f_squared = 0.5 * f * f;
    const double ln_m = f - (half_f_squared - s * (half_f_squared + (odd + even)));
    return k + ln_m * INV_LN2;
}

// Contribution -p log2(p) of one amplitude to the entropy: the term when FLOOR < p <= inf, else
// +0.0 (NaN contributes nothing, as with a plain `p > FLOOR` test). A floating-point compare
// would keep the loop from vectorising (GCC does not if-convert it under -ftrapping-math), so
// the range test runs on the bit pattern, which orders non-negative doubles like their values:
// the top bit of FLOOR - bits is set exactly when bits > FLOOR. The term itself is computed
// for every p (log2_positive is harmless on any input) and masked.
inline double entropy_term(double re, double im) noexcept {
    constexpr auto FLOOR_BITS = std::bit_cast<std::uint64_t>(ENTROPY_PROBABILITY_FLOOR);
    constexpr std::uint64_t INFINITY_BITS = 0x7FF0000000000000;
    const double p = re * re + im * im;
    const auto bits = std::bit_cast<std::uint64_t>(p);
    const std::uint64_t above_floor = (FLOOR_BITS - bits) >> 63;
    const std::uint64_t at_most_infinity = 1 - ((INFINITY_BITS - bits) >> 63);
    const std::uint64_t keep = 0 - (above_floor & at_most_infinity);
    const double term = -p * log2_positive(p);
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(term) & keep);
}

std::size_t buffer_bytes(std::uint64_t dimension) noexcept {
    return static_cast<std::size_t>(dimension) * BYTES_PER_AMPLITUDE;
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

// Real-arithmetic view of the amplitude buffer: re of amplitude k at 2k, im at 2k + 1.
class Amplitudes {
  public:
    explicit Amplitudes(ZarnikState::Amplitude* data) noexcept
        : p_(reinterpret_cast<double*>(data)) {
    }

    double& re(std::uint64_t k) const noexcept {
        return p_[2 * k];
    }
    double& im(std::uint64_t k) const noexcept {
        return p_[2 * k + 1];
    }

  private:
    double* p_;
};

// Runs body(begin, end) over [0, count): on the pool from the grain on, else directly on the
// calling thread. Deciding here keeps small states free of the pool's indirect call. The
// kernels below are kept out of line so that apply_gate stays a small dispatcher whose entry
// and exit cost little at two qubits, where a call does only a few loads and stores.
template <class Body>
void split(std::uint64_t count, const Body& body) {
    if (count < parallel::GRAIN || parallel::thread_count() < 2) {
        body(std::uint64_t{0}, count);
        return;
    }
    parallel::for_each(static_cast<std::size_t>(count),
                       [&body](std::size_t begin, std::size_t end) {
                           body(std::uint64_t{begin}, std::uint64_t{end});
                       });
}

// Amplitudes 2^24 or more apart (256 MiB) are far apart for this machine: a kernel that streams
// two regions that far apart at once ran 4-7x slower than one over nearby pairs (H on the top
// qubit of 2^26 amplitudes, 512 MiB apart: 630 ms against 86 ms on a middle qubit; CX and SWAP
// on qubits 24 and 25: 6x), while 128 MiB apart (top qubit of 2^24) showed no penalty. Such
// kernels copy a block of the upper region into a buffer that stays in the first-level cache,
// work against it and write it back: about 4x faster there, but 1.8x slower than the direct
// loop on nearby pairs, hence the threshold.
constexpr unsigned BLOCKED_FROM_QUBIT = 24;
constexpr std::uint64_t FAR_APART = std::uint64_t{1} << BLOCKED_FROM_QUBIT;

// Amplitudes per block of the upper half: 16 KiB, half of a first-level data cache.
constexpr std::uint64_t PAIR_BLOCK = 1024;

// Applies `update` to the pairs of the compressed indexes [begin, end) of a gate on qubit t,
// one block at a time through a cache-resident copy of the upper amplitudes. The arithmetic per
// pair is that of the direct loop; only the place where a1 waits changes.
template <class Update>
[[gnu::noinline]] void blocked_pairs(double* parts, std::uint64_t begin, std::uint64_t end,
                                     unsigned t, const Update& update) {
    const std::uint64_t m = std::uint64_t{1} << t;
    alignas(64) double upper[2 * PAIR_BLOCK];
    detail::for_each_pair_run(begin, end, t, [&](std::uint64_t i, std::uint64_t run) {
        for (std::uint64_t offset = 0; offset < run; offset += PAIR_BLOCK) {
            const std::uint64_t length = std::min(PAIR_BLOCK, run - offset);
            double* lower = parts + 2 * (i + offset);
            double* far = parts + 2 * (i + offset + m);
            const std::size_t bytes = static_cast<std::size_t>(length) * BYTES_PER_AMPLITUDE;
            std::memcpy(upper, far, bytes);
            for (std::uint64_t k = 0; k < length; ++k) {
                update(lower[2 * k], lower[2 * k + 1], upper[2 * k], upper[2 * k + 1]);
            }
            std::memcpy(far, upper, bytes);
        }
    });
}

// Applies a 2x2 update to every pair of a one-qubit gate on qubit t. The update receives the
// real and imaginary parts of both amplitudes by reference and writes the new values. Workers
// take disjoint ranges of compressed indexes, so every pair is computed exactly as serially.
template <class Update>
[[gnu::noinline]] void pair_kernel(ZarnikState& state, unsigned t, Update update) {
    double* parts = reinterpret_cast<double*>(state.amplitudes_mut().data());
    if (t >= BLOCKED_FROM_QUBIT) {
        split(state.dimension() / 2, [&](std::uint64_t begin, std::uint64_t end) {
            blocked_pairs(parts, begin, end, t, update);
        });
        return;
    }
    const Amplitudes a(state.amplitudes_mut().data());
    split(state.dimension() / 2, [&](std::uint64_t begin, std::uint64_t end) {
        for_each_pair(begin, end, t, [&](std::uint64_t i, std::uint64_t j) {
            update(a.re(i), a.im(i), a.re(j), a.im(j));
        });
    });
}

// Exchanges the ranges [a, a + count) and [b, b + count) of amplitudes in blocks through a
// cache-resident buffer: for ranges far apart, three bursts per block instead of two
// interleaved streams. Out of line (like blocked_pairs): inlined, its 16 KiB buffer would make
// every caller probe its stack pages on entry, a cost that doubled a gate at two qubits.
[[gnu::noinline]] void swap_blocks(ZarnikState::Amplitude* a, ZarnikState::Amplitude* b,
                                   std::uint64_t count) {
    alignas(64) std::byte buffer[PAIR_BLOCK * BYTES_PER_AMPLITUDE];
    for (std::uint64_t offset = 0; offset < count; offset += PAIR_BLOCK) {
        const std::size_t bytes =
            static_cast<std::size_t>(std::min(PAIR_BLOCK, count - offset)) * BYTES_PER_AMPLITUDE;
        void* x = a + offset;
        void* y = b + offset;
        std::memcpy(buffer, x, bytes);
        std::memcpy(x, y, bytes);
        std::memcpy(y, buffer, bytes);
    }
}

// X: a permutation, so whole amplitudes move, 16 bytes at a time.
[[gnu::noinline]] void swap_pair_kernel(ZarnikState& state, unsigned t) {
    ZarnikState::Amplitude* psi = state.amplitudes_mut().data();
    if (t >= BLOCKED_FROM_QUBIT) {
        const std::uint64_t m = std::uint64_t{1} << t;
        split(state.dimension() / 2, [&](std::uint64_t begin, std::uint64_t end) {
            detail::for_each_pair_run(begin, end, t, [&](std::uint64_t i, std::uint64_t run) {
                swap_blocks(psi + i, psi + i + m, run);
            });
        });
        return;
    }
    split(state.dimension() / 2, [&](std::uint64_t begin, std::uint64_t end) {
        for_each_pair(begin, end, t, [psi](std::uint64_t i, std::uint64_t j) {
            std::swap(psi[i], psi[j]);
        });
    });
}

template <class Update>
[[gnu::noinline]] void upper_half_kernel(ZarnikState& state, unsigned t, Update update) {
    const Amplitudes a(state.amplitudes_mut().data());
    split(state.dimension() / 2, [&](std::uint64_t begin, std::uint64_t end) {
        for_each_pair(begin, end, t, [&](std::uint64_t, std::uint64_t j) {
            update(a.re(j), a.im(j));
        });
    });
}

// Calls body(base) for every quad of two distinct qubits below the state's qubit count.
template <class Body>
[[gnu::noinline]] void quad_kernel(ZarnikState& state, std::uint64_t q0, std::uint64_t q1,
                                   const Body& body) {
    const auto low = static_cast<unsigned>(std::min(q0, q1));
    const auto high = static_cast<unsigned>(std::max(q0, q1));
    split(state.dimension() / 4, [&](std::uint64_t begin, std::uint64_t end) {
        for_each_quad(begin, end, low, high, body);
    });
}

// CX and SWAP: exchanges amplitude base | from with base | to for every quad of q0 and q1.
// When the two lie far apart and the runs of consecutive quads are long, whole blocks are
// exchanged through a cache-resident buffer (a swap either way, so bitwise the same).
[[gnu::noinline]] void swap_kernel(ZarnikState& state, std::uint64_t q0, std::uint64_t q1,
                                   std::uint64_t from, std::uint64_t to) {
    ZarnikState::Amplitude* psi = state.amplitudes_mut().data();
    const auto low = static_cast<unsigned>(std::min(q0, q1));
    const auto high = static_cast<unsigned>(std::max(q0, q1));
    const std::uint64_t distance = from < to ? to - from : from - to;
    if (distance < FAR_APART || (std::uint64_t{1} << low) < PAIR_BLOCK) {
        quad_kernel(state, q0, q1, [psi, from, to](std::uint64_t base) {
            std::swap(psi[base | from], psi[base | to]);
        });
        return;
    }
    split(state.dimension() / 4, [&](std::uint64_t begin, std::uint64_t end) {
        detail::for_each_quad_run(begin, end, low, high,
                                  [&](std::uint64_t base, std::uint64_t run) {
                                      swap_blocks(psi + (base | from), psi + (base | to), run);
                                  });
    });
}

// Bulk copy of `count` amplitudes. Large buffers are copied in one block per worker, so that a
// fresh buffer's pages are first touched by the threads of the pool and the copy uses the
// bandwidth of every core.
void copy_amplitudes(ZarnikState::Amplitude* to, const ZarnikState::Amplitude* from,
                     std::uint64_t count) {
    split(count, [to, from](std::uint64_t begin, std::uint64_t end) {
        std::memcpy(static_cast<void*>(to + begin), from + begin,
                    static_cast<std::size_t>(end - begin) * BYTES_PER_AMPLITUDE);
    });
}

double rotation_angle(const GateType& gate, std::span<const double> params) noexcept {
    return params.empty() ? gate.angle : params[0];
}

// RZ on qubits from this one up runs as one sequential pass (runs of at least 16 amplitudes);
// below, pairs are adjacent enough that the pair loop is as good.
constexpr std::uint64_t RZ_SEQUENTIAL_FROM_QUBIT = 4;

[[gnu::noinline]] void apply_rz(ZarnikState& state, std::uint64_t t, double alpha, double beta) {
    const Amplitudes a(state.amplitudes_mut().data());
    // amplitude <- (alpha re - p im, p re + alpha im), p = -beta for a clear bit, +beta for a set
    // one. A target outside the state reads as a clear bit everywhere.
    const auto rotate = [&](std::uint64_t k, double p) {
        const double re = a.re(k);
        const double im = a.im(k);
        a.re(k) = alpha * re - p * im;
        a.im(k) = p * re + alpha * im;
    };
    if (t >= state.num_qubits()) {
        split(state.dimension(), [&](std::uint64_t begin, std::uint64_t end) {
            for (std::uint64_t k = begin; k < end; ++k) {
                rotate(k, -beta);
            }
        });
        return;
    }
    if (t < RZ_SEQUENTIAL_FROM_QUBIT) {
        split(state.dimension() / 2, [&](std::uint64_t begin, std::uint64_t end) {
            for_each_pair(begin, end, static_cast<unsigned>(t),
                          [&](std::uint64_t i, std::uint64_t j) {
                              rotate(i, -beta);
                              rotate(j, beta);
                          });
        });
        return;
    }
    // A diagonal gate needs no partner: one ascending pass, in runs of 2^t amplitudes that share
    // their bit t, reads the state as one stream wherever the target lies.
    const std::uint64_t m = std::uint64_t{1} << t;
    split(state.dimension(), [&](std::uint64_t begin, std::uint64_t end) {
        std::uint64_t k = begin;
        while (k < end) {
            const std::uint64_t run_end = std::min(end, (k | (m - 1)) + 1);
            const double p = (k & m) != 0 ? beta : -beta;
            for (; k < run_end; ++k) {
                rotate(k, p);
            }
        }
    });
}

}  // namespace

void check_gate(std::uint64_t num_qubits, const GateType& gate,
                std::span<const std::uint64_t> qubits) {
    const GateKind kind = gate.kind;
    if (kind == GateKind::I) {
        return;
    }
    const std::size_t arity = gate_info(kind).arity;
    if (qubits.size() < arity) {
        // len = size, index = the first missing entry.
        throw IndexOutOfBounds(qubits.size(), qubits.size());
    }
    const std::uint64_t dimension = num_qubits <= ZarnikState::MAX_QUBITS
                                        ? std::uint64_t{1} << num_qubits
                                        : std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t q0 = qubits[0];
    switch (kind) {
        case GateKind::X:
        case GateKind::Y:
        case GateKind::H:
        case GateKind::SX:
        case GateKind::RX:
        case GateKind::RY:
            // A pair loop whose target lies outside the state: the partner of index 0 is 2^t.
            if (q0 >= num_qubits) {
                throw IndexOutOfBounds(dimension, reported_index(q0));
            }
            return;
        case GateKind::CX:
        case GateKind::SWAP: {
            // CX swaps i (control set, target clear) with i + 2^target. SWAP exchanges i (first
            // qubit set, second clear) with i - 2^q0 + 2^q1. The first partner of the plain
            // ascending loop, that of i = 2^q0, leaves the state when the second qubit does.
            const std::uint64_t q1 = qubits[1];
            if (q0 < num_qubits && q0 != q1 && q1 >= num_qubits) {
                throw IndexOutOfBounds(dimension,
                                       kind == GateKind::CX
                                           ? saturating_add(qubit_mask(q0), reported_index(q1))
                                           : reported_index(q1));
            }
            return;
        }
        case GateKind::I:
        case GateKind::Z:
        case GateKind::S:
        case GateKind::T:
        case GateKind::RZ:
        case GateKind::CZ:
            // Diagonal kinds read a qubit beyond the state as a 0 bit: nothing to report.
            return;
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
    copy_amplitudes(amplitudes_, other.amplitudes_, dimension_);
}

ZarnikState& ZarnikState::operator=(const ZarnikState& other) {
    if (this == &other) {
        return *this;
    }
    if (dimension_ == other.dimension_ && amplitudes_ != nullptr && other.amplitudes_ != nullptr) {
        copy_amplitudes(amplitudes_, other.amplitudes_, dimension_);
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
    Amplitude* data = amplitudes_;
    split(dimension_, [data](std::uint64_t begin, std::uint64_t end) {
        std::memset(static_cast<void*>(data + begin), 0,
                    static_cast<std::size_t>(end - begin) * BYTES_PER_AMPLITUDE);
    });
    amplitudes_[index] = Amplitude(1.0, 0.0);
}

void ZarnikState::apply_gate(const GateType& gate, std::span<const std::uint64_t> qubits,
                             std::span<const double> params) {
    const GateKind kind = gate.kind;
    if (kind == GateKind::I) {
        return;
    }
    check_gate(num_qubits_, gate, qubits);
    const std::size_t arity = gate_info(kind).arity;
    const std::uint64_t q0 = qubits[0];
    const std::uint64_t q1 = arity == 2 ? qubits[1] : 0;
    const bool q0_inside = q0 < num_qubits_;
    const bool q1_inside = q1 < num_qubits_;
    const unsigned t = static_cast<unsigned>(q0);

    switch (kind) {
        case GateKind::I:
            return;
        case GateKind::X:
            swap_pair_kernel(*this, t);
            return;
        case GateKind::Y:
            // i <- -i a1 = (im1, -re1); j <- i a0 = (-im0, re0)
            pair_kernel(*this, t, [](double& re0, double& im0, double& re1, double& im1) {
                const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
                re0 = i1;
                im0 = -r1;
                re1 = -i0;
                im1 = r0;
            });
            return;
        case GateKind::Z:
            if (q0_inside) {
                upper_half_kernel(*this, t, [](double& re, double& im) {
                    re = -re;
                    im = -im;
                });
            }
            return;
        case GateKind::H:
            // The sum or difference is formed first, then scaled by the factor.
            pair_kernel(*this, t, [](double& re0, double& im0, double& re1, double& im1) {
                const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
                re0 = (r0 + r1) * HADAMARD_FACTOR;
                im0 = (i0 + i1) * HADAMARD_FACTOR;
                re1 = (r0 - r1) * HADAMARD_FACTOR;
                im1 = (i0 - i1) * HADAMARD_FACTOR;
            });
            return;
        case GateKind::S:
            // diag(1, i): a set bit takes i a = (-im, re).
            if (q0_inside) {
                upper_half_kernel(*this, t, [](double& re, double& im) {
                    const double r = re;
                    re = -im;
                    im = r;
                });
            }
            return;
        case GateKind::SX:
            // (1/2) [[1+i, 1-i], [1-i, 1+i]]
            pair_kernel(*this, t, [](double& re0, double& im0, double& re1, double& im1) {
                const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
                re0 = 0.5 * ((r0 - i0) + (r1 + i1));
                im0 = 0.5 * ((r0 + i0) + (i1 - r1));
                re1 = 0.5 * ((r0 + i0) + (r1 - i1));
                im1 = 0.5 * ((i0 - r0) + (r1 + i1));
            });
            return;
        case GateKind::T:
            // diag(1, e^(i pi/4)) with both parts of the phase equal to T_PHASE.
            if (q0_inside) {
                upper_half_kernel(*this, t, [](double& re, double& im) {
                    const double r = re, i = im;
                    re = T_PHASE * r - T_PHASE * i;
                    im = T_PHASE * r + T_PHASE * i;
                });
            }
            return;
        case GateKind::RX: {
            const double theta = rotation_angle(gate, params);
            const double alpha = std::cos(theta * 0.5);
            const double beta = std::sin(theta * 0.5);
            pair_kernel(*this, t,
                        [alpha, beta](double& re0, double& im0, double& re1, double& im1) {
                            const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
                            re0 = alpha * r0 + beta * i1;
                            im0 = alpha * i0 - beta * r1;
                            re1 = alpha * r1 + beta * i0;
                            im1 = alpha * i1 - beta * r0;
                        });
            return;
        }
        case GateKind::RY: {
            const double theta = rotation_angle(gate, params);
            const double alpha = std::cos(theta * 0.5);
            const double beta = std::sin(theta * 0.5);
            pair_kernel(*this, t,
                        [alpha, beta](double& re0, double& im0, double& re1, double& im1) {
                            const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
                            re0 = alpha * r0 - beta * r1;
                            im0 = alpha * i0 - beta * i1;
                            re1 = beta * r0 + alpha * r1;
                            im1 = beta * i0 + alpha * i1;
                        });
            return;
        }
        case GateKind::RZ: {
            const double theta = rotation_angle(gate, params);
            apply_rz(*this, q0, std::cos(theta * 0.5), std::sin(theta * 0.5));
            return;
        }
        case GateKind::CX:
        case GateKind::SWAP: {
            // CX swaps i (control set, target clear) with i + 2^target. SWAP exchanges i (first
            // qubit set, second clear) with i - 2^q0 + 2^q1. check_gate has refused a second
            // qubit outside the state when the first is inside.
            if (!q0_inside || q0 == q1) {
                return;
            }
            const std::uint64_t m0 = qubit_mask(q0);
            const std::uint64_t m1 = qubit_mask(q1);
            const std::uint64_t from = m0;
            const std::uint64_t to = kind == GateKind::CX ? m0 | m1 : m1;
            if (dimension_ / 4 < parallel::GRAIN) {
                // Small states (every state of a run): the loop inline, no further call.
                Amplitude* psi = amplitudes_;
                for_each_quad(0, dimension_ / 4, static_cast<unsigned>(std::min(q0, q1)),
                              static_cast<unsigned>(std::max(q0, q1)),
                              [psi, from, to](std::uint64_t base) {
                                  std::swap(psi[base | from], psi[base | to]);
                              });
                return;
            }
            swap_kernel(*this, q0, q1, from, to);
            return;
        }
        case GateKind::CZ: {
            if (!q0_inside || !q1_inside || q0 == q1) {
                return;
            }
            const std::uint64_t both = qubit_mask(q0) | qubit_mask(q1);
            const Amplitudes a(amplitudes_);
            quad_kernel(*this, q0, q1, [a, both](std::uint64_t base) {
                a.re(base | both) = -a.re(base | both);
                a.im(base | both) = -a.im(base | both);
            });
            return;
        }
    }
}

double ZarnikState::calculate_entropy() const {
    const double* parts = reinterpret_cast<const double*>(amplitudes_);
    if (dimension_ < ENTROPY_VECTOR_FROM) {
        // Small states, such as the two-qubit ones of a run, are mostly zero amplitudes: a
        // branch skips them cheaply, and the lanes receive exactly the same terms as below.
        double lanes[ENTROPY_LANES] = {};
        for (std::uint64_t k = 0; k < dimension_; ++k) {
            const double p = parts[2 * k] * parts[2 * k] + parts[2 * k + 1] * parts[2 * k + 1];
            if (p > ENTROPY_PROBABILITY_FLOOR) {
                lanes[k % ENTROPY_LANES] += -p * log2_positive(p);
            }
        }
        // One chunk, added to the empty sum as parallel::sum does.
        double total = -0.0;
        total += (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
        return total;
    }
    return parallel::sum(
        static_cast<std::size_t>(dimension_), [parts](std::size_t begin, std::size_t end) {
            // Independent lanes in a fixed pattern (lane = (k - begin) mod 4), so that the loop
            // vectorises and the result depends only on the chunk. Each lane starts at +0.0 so
            // that a state without contributions (a basis state, whose one term is
            // -1 * log2(1) = -0.0) sums to +0.0.
            double lanes[ENTROPY_LANES] = {};
            std::size_t k = begin;
            for (; k + ENTROPY_LANES <= end; k += ENTROPY_LANES) {
                for (std::size_t l = 0; l < ENTROPY_LANES; ++l) {
                    lanes[l] += entropy_term(parts[2 * (k + l)], parts[2 * (k + l) + 1]);
                }
            }
            for (std::size_t l = 0; k < end; ++k, ++l) {
                lanes[l] += entropy_term(parts[2 * k], parts[2 * k + 1]);
            }
            return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
        });
}

}  // namespace zel
