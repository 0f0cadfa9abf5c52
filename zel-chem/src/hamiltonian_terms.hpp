#pragma once

// The terms of the molecular Hamiltonian in spin orbitals, produced one by one for the fermion
// operator and for the direct mapping alike, so both give the same terms in the same order.

#include <array>
#include <cstdint>

#include "zel/chem/fermion.hpp"
#include "zel/chem/integrals.hpp"

namespace zel::chem::detail {

/// Calls `emit(coefficient, ops, count)` for the constant (count 0), every h_pq a†_ps a_qs
/// (count 2) and every 1/2 (pq|rs) a†_ps a†_rt a_vt a_qs (count 4) with a non-zero coefficient.
template <class Emit>
void for_each_hamiltonian_term(const Integrals& integrals, SpinOrdering ordering, Emit&& emit) {
    const std::size_t n = integrals.num_orbitals();
    std::array<LadderOp, 4> ops{};
    emit(integrals.constant(), ops, 0);
    const auto mode = [&](std::size_t p, Spin spin) {
        return static_cast<std::uint32_t>(spin_orbital(p, spin, n, ordering));
    };
    for (Spin s : {Spin::Alpha, Spin::Beta}) {
        for (std::size_t p = 0; p < n; ++p) {
            for (std::size_t q = 0; q < n; ++q) {
                const double h = integrals.h(p, q);
                if (h != 0.0) {
                    ops[0] = {mode(p, s), true};
                    ops[1] = {mode(q, s), false};
                    emit(h, ops, 2);
                }
            }
        }
    }
    for (Spin s : {Spin::Alpha, Spin::Beta}) {
        for (Spin t : {Spin::Alpha, Spin::Beta}) {
            for (std::size_t p = 0; p < n; ++p) {
                for (std::size_t q = 0; q < n; ++q) {
                    for (std::size_t r = 0; r < n; ++r) {
                        if (s == t && p == r) {
                            continue;
                        }
                        for (std::size_t v = 0; v < n; ++v) {
                            if (s == t && q == v) {
                                continue;
                            }
                            const double g = integrals.eri(p, q, r, v);
                            if (g != 0.0) {
                                ops[0] = {mode(p, s), true};
                                ops[1] = {mode(r, t), true};
                                ops[2] = {mode(v, t), false};
                                ops[3] = {mode(q, s), false};
                                emit(0.5 * g, ops, 4);
                            }
                        }
                    }
                }
            }
        }
    }
}

}  // namespace zel::chem::detail
