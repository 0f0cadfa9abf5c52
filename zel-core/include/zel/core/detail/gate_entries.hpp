#pragma once

// The matrix writers the gate table's rows share; the table in gate_table.hpp reads them.

#include <cmath>
#include <complex>

#include "zel/core/gate_kind.hpp"

namespace zel::detail {

inline constexpr double INV_SQRT2 = 0.70710678118654752440;  // 1/sqrt(2), the double nearest

/// Writes a 2x2 matrix, row-major.
inline void write2(GateEntry* m, GateEntry a, GateEntry b, GateEntry c, GateEntry d) {
    m[0] = a;
    m[1] = b;
    m[2] = c;
    m[3] = d;
}

/// The exchange of two qubits, 4x4 row-major.
inline void write_swap(GateEntry* m) {
    for (int k = 0; k < 16; ++k) {
        m[k] = 0.0;
    }
    m[0] = m[6] = m[9] = m[15] = 1.0;
}

/// e^(i angle) = cos(angle) + i sin(angle), both parts from one evaluation of the angle (the
/// compiler forms them with one sincos); the same bits as std::polar(1.0, angle).
inline GateEntry unit_phase(double angle) {
    return GateEntry(std::cos(angle), std::sin(angle));
}

/// a * b with the real arithmetic written out, (ac - bd) + i(ad + bc): the bits of the
/// std::complex product for finite parts, without its test and library call for NaN results.
inline GateEntry entry_product(GateEntry a, GateEntry b) {
    return GateEntry(a.real() * b.real() - a.imag() * b.imag(),
                     a.real() * b.imag() + a.imag() * b.real());
}

/// r * a for a real r, part by part.
inline GateEntry entry_scaled(double r, GateEntry a) {
    return GateEntry(r * a.real(), r * a.imag());
}

/// U(theta, phi, lambda) times e^(i gamma): [[c, -e^(il) s], [e^(ip) s, e^(i(p+l)) c]]. The
/// phases are products of e^(i gamma), e^(i phi) and e^(i lambda), never the exponential of a
/// sum: a sum of angles far apart in size would lose the smaller one in some entries and not
/// others, and the matrix would no longer be unitary.
inline void write_u(GateEntry* m, double theta, double phi, double lambda, double gamma) {
    const double c = std::cos(theta / 2);
    const double s = std::sin(theta / 2);
    const GateEntry g = unit_phase(gamma);
    const GateEntry l = unit_phase(lambda);
    const GateEntry gp = entry_product(g, unit_phase(phi));
    const GateEntry gl = entry_product(g, l);
    const GateEntry gpl = entry_product(gp, l);
    write2(m, entry_scaled(c, g), entry_scaled(-s, gl), entry_scaled(s, gp), entry_scaled(c, gpl));
}

}  // namespace zel::detail
