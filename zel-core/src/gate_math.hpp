#pragma once

// The per-amplitude arithmetic of every gate kind, written once in real arithmetic: the kernels,
// their blocked traversals and the piecewise entry points of detail/kernels.hpp all apply these,
// so every path gives the same bits. Pair updates receive the parts of the amplitude with the
// target bit clear (re0, im0) and set (re1, im1), read both before writing either.

#include <cmath>
#include <concepts>
#include <span>

#include "zel/core/circuit.hpp"

namespace zel::detail {

/// One amplitude as a vector of its two parts (re, im), for the pair updates that also take whole
/// amplitudes: each lane computes exactly what the scalar form computes for that part.
using AmplitudeLanes = double __attribute__((vector_size(16)));

/// Two neighbouring amplitudes as one vector (re, im, re, im), lane for lane as AmplitudeLanes.
using AmplitudePairLanes = double __attribute__((vector_size(32)));

/// A vector of whole amplitudes: real parts in the even lanes, imaginary parts in the odd ones.
template <class V>
concept WholeAmplitudes = std::same_as<V, AmplitudeLanes> || std::same_as<V, AmplitudePairLanes>;

/// Each amplitude's parts exchanged: (im, re).
template <WholeAmplitudes V>
[[gnu::always_inline]] inline V swap_parts(V v) noexcept {
    if constexpr (std::same_as<V, AmplitudeLanes>) {
        return __builtin_shufflevector(v, v, 1, 0);
    } else {
        return __builtin_shufflevector(v, v, 1, 0, 3, 2);
    }
}

/// The real parts of `re` with the imaginary parts of `im`.
template <WholeAmplitudes V>
[[gnu::always_inline]] inline V join_parts(V re, V im) noexcept {
    if constexpr (std::same_as<V, AmplitudeLanes>) {
        return __builtin_shufflevector(re, im, 0, 3);
    } else {
        return __builtin_shufflevector(re, im, 0, 5, 2, 7);
    }
}

/// Hadamard factor: one unit in the last place below the double nearest to 1/sqrt(2)
/// (0x3FE6A09E667F3BCC rather than ...BCD). The smaller value is part of the fixed arithmetic.
inline constexpr double HADAMARD_FACTOR = 0.7071067811865475;

/// Both parts of e^(i pi/4) for the T gate: the double nearest to 1/sqrt(2).
inline constexpr double T_PHASE = 0.7071067811865476;

/// alpha = cos(theta/2) and beta = sin(theta/2) of a rotation by theta = params[0] when params
/// is not empty, else gate.angle. The half angle is theta * 0.5; both are evaluated once per call.
struct HalfAngle {
    double alpha = 1.0;
    double beta = 0.0;
};

inline HalfAngle half_angle(const GateType& gate, std::span<const double> params) noexcept {
    const double theta = params.empty() ? gate.angle : params[0];
    return {std::cos(theta * 0.5), std::sin(theta * 0.5)};
}

// i <- -i a1 = (im1, -re1); j <- i a0 = (-im0, re0)
struct YUpdate {
    void operator()(double& re0, double& im0, double& re1, double& im1) const noexcept {
        const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
        re0 = i1;
        im0 = -r1;
        re1 = -i0;
        im1 = r0;
    }
    template <WholeAmplitudes V>
    void operator()(V& a0, V& a1) const noexcept {
        // (im1, -re1) and (-im0, re0) from the parts exchanged
        const V l = swap_parts(a0), u = swap_parts(a1);
        a0 = join_parts(u, -u);
        a1 = join_parts(-l, l);
    }
};

// The sum or difference is formed first, then scaled by the factor.
struct HUpdate {
    void operator()(double& re0, double& im0, double& re1, double& im1) const noexcept {
        const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
        re0 = (r0 + r1) * HADAMARD_FACTOR;
        im0 = (i0 + i1) * HADAMARD_FACTOR;
        re1 = (r0 - r1) * HADAMARD_FACTOR;
        im1 = (i0 - i1) * HADAMARD_FACTOR;
    }
    template <WholeAmplitudes V>
    void operator()(V& a0, V& a1) const noexcept {
        const V l = a0, u = a1;
        a0 = (l + u) * HADAMARD_FACTOR;
        a1 = (l - u) * HADAMARD_FACTOR;
    }
};

// (1/2) [[1+i, 1-i], [1-i, 1+i]]
struct SXUpdate {
    void operator()(double& re0, double& im0, double& re1, double& im1) const noexcept {
        const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
        re0 = 0.5 * ((r0 - i0) + (r1 + i1));
        im0 = 0.5 * ((r0 + i0) + (i1 - r1));
        re1 = 0.5 * ((r0 + i0) + (r1 - i1));
        im1 = 0.5 * ((i0 - r0) + (r1 + i1));
    }
    // The four sums and differences of each amplitude with its parts exchanged hold every inner
    // term above: r0 - i0 and i0 - r0 in `m`, r0 + i0 in both lanes of `p` (likewise `q`, `d` for
    // the upper amplitude). Sums are commutative bit for bit, so i0 + r0 is r0 + i0.
    template <WholeAmplitudes V>
    void operator()(V& a0, V& a1) const noexcept {
        const V l = a0, u = a1;
        const V ls = swap_parts(l), us = swap_parts(u);
        const V p = l + ls, m = l - ls, q = u + us, d = u - us;
        const V mq = m + q;  // re0 in the real lane, im1 in the imaginary one
        const V pd = p + d;  // re1 in the real lane, im0 in the imaginary one
        a0 = 0.5 * join_parts(mq, pd);
        a1 = 0.5 * join_parts(pd, mq);
    }
};

// [[alpha, -i beta], [-i beta, alpha]]
struct RXUpdate {
    double alpha;
    double beta;
    void operator()(double& re0, double& im0, double& re1, double& im1) const noexcept {
        const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
        re0 = alpha * r0 + beta * i1;
        im0 = alpha * i0 - beta * r1;
        re1 = alpha * r1 + beta * i0;
        im1 = alpha * i1 - beta * r0;
    }
    // The sum for the real part and the difference for the imaginary one, each formed as above.
    template <WholeAmplitudes V>
    void operator()(V& a0, V& a1) const noexcept {
        const V l = a0, u = a1;
        const V kept0 = alpha * l;
        const V kept1 = alpha * u;
        const V crossed0 = beta * swap_parts(u);
        const V crossed1 = beta * swap_parts(l);
        a0 = join_parts(kept0 + crossed0, kept0 - crossed0);
        a1 = join_parts(kept1 + crossed1, kept1 - crossed1);
    }
};

// [[alpha, -beta], [beta, alpha]]
struct RYUpdate {
    double alpha;
    double beta;
    void operator()(double& re0, double& im0, double& re1, double& im1) const noexcept {
        const double r0 = re0, i0 = im0, r1 = re1, i1 = im1;
        re0 = alpha * r0 - beta * r1;
        im0 = alpha * i0 - beta * i1;
        re1 = beta * r0 + alpha * r1;
        im1 = beta * i0 + alpha * i1;
    }
    template <WholeAmplitudes V>
    void operator()(V& a0, V& a1) const noexcept {
        const V l = a0, u = a1;
        a0 = alpha * l - beta * u;
        a1 = beta * l + alpha * u;
    }
};

// Diagonal kinds change only the amplitudes whose target bit is set (RZ excepted).
struct ZUpdate {
    void operator()(double& re, double& im) const noexcept {
        re = -re;
        im = -im;
    }
};

// diag(1, i): a set bit takes i a = (-im, re).
struct SUpdate {
    void operator()(double& re, double& im) const noexcept {
        const double r = re;
        re = -im;
        im = r;
    }
};

// diag(1, e^(i pi/4)) with both parts of the phase equal to T_PHASE.
struct TUpdate {
    void operator()(double& re, double& im) const noexcept {
        const double r = re, i = im;
        re = T_PHASE * r - T_PHASE * i;
        im = T_PHASE * r + T_PHASE * i;
    }
};

// RZ: amplitude <- (alpha re - p im, p re + alpha im), with p = -beta for a clear target bit and
// p = +beta for a set one.
struct RZUpdate {
    double alpha;
    double p;
    void operator()(double& re, double& im) const noexcept {
        const double r = re, i = im;
        re = alpha * r - p * i;
        im = p * r + alpha * i;
    }
};

}  // namespace zel::detail
