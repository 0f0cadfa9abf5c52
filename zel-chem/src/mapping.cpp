#include "zel/chem/mapping.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <string>
#include <utility>

#include "zel/core/error.hpp"

#include "hamiltonian_terms.hpp"
#include "pauli_algebra.hpp"

namespace zel::chem {
namespace {

using detail::MaskString;

std::uint64_t low_bits(std::size_t count) {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

/// The encoding b = B n of a mapping on `n` modes as rows (row q: the modes whose occupations
/// qubit q sums), its inverse, and each mode's two Majorana strings
///     c_j = a_j + a†_j = X^col_j Z^r_j,   d_j = i (a†_j - a_j) = i X^col_j Z^(r_j ^ inv_j),
/// col_j the qubits whose sums include mode j, r_j the linear form over qubits that gives the
/// parity of modes below j, inv_j row j of B^-1 (the form that gives n_j).
struct Encoding {
    std::size_t modes = 0;
    std::array<std::uint64_t, 64> rows{};
    std::array<std::uint64_t, 64> inverse_rows{};
    std::array<MaskString, 64> c{};
    std::array<MaskString, 64> d{};
};

void check_modes(std::size_t num_modes) {
    if (num_modes > MAX_MODES) {
        throw InvalidArgument("too many modes: " + std::to_string(num_modes) + " (at most " +
                              std::to_string(MAX_MODES) + " qubits)");
    }
}

Encoding make_encoding(Mapping mapping, std::size_t n) {
    check_modes(n);
    Encoding e;
    e.modes = n;
    for (std::size_t q = 0; q < n; ++q) {
        switch (mapping) {
            case Mapping::JordanWigner:
                e.rows[q] = std::uint64_t{1} << q;
                break;
            case Mapping::Parity:
                e.rows[q] = low_bits(q + 1);
                break;
            case Mapping::BravyiKitaev: {
                // Fenwick tree: qubit q sums the modes (q + 1 - lowbit(q + 1), q].
                const std::size_t span = std::size_t{1} << std::countr_zero(q + 1);
                e.rows[q] = low_bits(q + 1) & ~low_bits(q + 1 - span);
                break;
            }
        }
    }
    // B is lower triangular with a unit diagonal in all three cases; invert by forward
    // substitution over GF(2): n_q = b_q + sum_{j<q, B_qj = 1} n_j.
    for (std::size_t q = 0; q < n; ++q) {
        std::uint64_t inv = std::uint64_t{1} << q;
        std::uint64_t below = e.rows[q] & low_bits(q);
        while (below != 0) {
            const auto j = static_cast<std::size_t>(std::countr_zero(below));
            inv ^= e.inverse_rows[j];
            below &= below - 1;
        }
        e.inverse_rows[q] = inv;
    }
    std::uint64_t parity_below = 0;
    for (std::size_t j = 0; j < n; ++j) {
        std::uint64_t col = 0;
        for (std::size_t q = 0; q < n; ++q) {
            if ((e.rows[q] >> j) & 1) {
                col |= std::uint64_t{1} << q;
            }
        }
        e.c[j] = MaskString{col, parity_below, 0};
        e.d[j] = MaskString{col, parity_below ^ e.inverse_rows[j], 1};
        parity_below ^= e.inverse_rows[j];
    }
    return e;
}

/// Adds coefficient * (product of `count` ladder operators) to `sum`, expanding each
/// a†_j = (c_j - i d_j) / 2 and a_j = (c_j + i d_j) / 2.
void add_product(detail::PauliAccumulator& sum, const Encoding& e, std::complex<double> coefficient,
                 const LadderOp* ops, std::size_t count) {
    const double scale = std::ldexp(1.0, -static_cast<int>(count));
    const std::size_t choices = std::size_t{1} << count;
    for (std::size_t choice = 0; choice < choices; ++choice) {
        MaskString string;
        unsigned phase = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const LadderOp& op = ops[k];
            if ((choice >> k) & 1) {
                string = detail::multiply(string, e.d[op.mode]);
                phase += op.creation ? 3 : 1;  // -i for a†, +i for a
            } else {
                string = detail::multiply(string, e.c[op.mode]);
            }
        }
        string.phase = (string.phase + phase) & 3;
        sum.add(string, coefficient * scale);
    }
}

}  // namespace

std::string_view mapping_name(Mapping mapping) noexcept {
    switch (mapping) {
        case Mapping::JordanWigner:
            return "jordan-wigner";
        case Mapping::Parity:
            return "parity";
        case Mapping::BravyiKitaev:
            return "bravyi-kitaev";
    }
    return "";
}

PauliSum map_operator(const FermionOperator& op, Mapping mapping, std::size_t num_modes,
                      double tolerance) {
    detail::check_tolerance(tolerance);
    const Encoding e = make_encoding(mapping, num_modes);
    for (const FermionTerm& term : op.terms) {
        if (!std::isfinite(term.coefficient.real()) || !std::isfinite(term.coefficient.imag())) {
            throw InvalidArgument("fermion operator has a coefficient that is not finite");
        }
        for (const LadderOp& ladder : term.ops) {
            if (ladder.mode >= num_modes) {
                throw InvalidArgument("fermion operator names mode " + std::to_string(ladder.mode) +
                                      " beyond the " + std::to_string(num_modes) + " modes mapped");
            }
        }
    }
    detail::PauliAccumulator sum;
    for (const FermionTerm& term : op.terms) {
        if (term.coefficient != 0.0) {
            add_product(sum, e, term.coefficient, term.ops.data(), term.ops.size());
        }
    }
    return sum.to_pauli_sum(tolerance);
}

PauliSum qubit_hamiltonian(const Integrals& integrals, Mapping mapping, SpinOrdering ordering,
                           double tolerance) {
    detail::check_tolerance(tolerance);
    const Encoding e = make_encoding(mapping, 2 * integrals.num_orbitals());
    detail::PauliAccumulator sum;
    const std::size_t n = 2 * integrals.num_orbitals();
    // A molecular Hamiltonian has O(n^4 / 8) distinct strings; start near that to avoid most
    // rehashing.
    sum.reserve(n * n * n * n / 16 + 16);
    // A two-electron product a†_A a†_B a_D a_C is the same operator as a†_B a†_A a_C a_D (two
    // swaps), with the same integral: map the one whose first electron (A, C) comes first,
    // twice, and skip the other. Halves the work; the sum differs only in rounding.
    detail::for_each_hamiltonian_term(
        integrals, ordering, [&](double coefficient, const auto& ops, std::size_t count) {
            if (count == 4) {
                const auto first = std::pair(ops[0].mode, ops[3].mode);
                const auto second = std::pair(ops[1].mode, ops[2].mode);
                if (second < first) {
                    return;
                }
                coefficient *= 2.0;  // first == second would need a†_A a†_A, never produced
            }
            add_product(sum, e, coefficient, ops.data(), count);
        });
    return sum.to_pauli_sum(tolerance);
}

std::uint64_t encode_occupation(std::uint64_t occupation, Mapping mapping, std::size_t num_modes) {
    const Encoding e = make_encoding(mapping, num_modes);
    if ((occupation & ~low_bits(num_modes)) != 0) {
        throw InvalidArgument("occupation has a mode beyond the " + std::to_string(num_modes) +
                              " modes");
    }
    std::uint64_t index = 0;
    for (std::size_t q = 0; q < num_modes; ++q) {
        index |= static_cast<std::uint64_t>(std::popcount(e.rows[q] & occupation) & 1) << q;
    }
    return index;
}

std::uint64_t decode_basis_index(std::uint64_t index, Mapping mapping, std::size_t num_modes) {
    const Encoding e = make_encoding(mapping, num_modes);
    if ((index & ~low_bits(num_modes)) != 0) {
        throw InvalidArgument("basis index has a bit beyond the " + std::to_string(num_modes) +
                              " qubits");
    }
    std::uint64_t occupation = 0;
    for (std::size_t j = 0; j < num_modes; ++j) {
        occupation |= static_cast<std::uint64_t>(std::popcount(e.inverse_rows[j] & index) & 1) << j;
    }
    return occupation;
}

}  // namespace zel::chem
