// The operator pools of ADAPT-VQE: excitations or their Pauli strings, alone or paired with
// their spin complements, and how the solvers append an operator to an ansatz.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "zel/chem/reference.hpp"
#include "zel/chem/vqe.hpp"
#include "zel/core/circuit.hpp"
#include "zel/core/error.hpp"

#include "vqe_support.hpp"

namespace zel::chem {

namespace detail {

std::optional<Excitation> native_excitation(const VqeProblem& problem,
                                            const Excitation& excitation) {
    if (problem.reduction != Reduction::None || (excitation.kind == ExcitationKind::Fermionic &&
                                                 problem.mapping != Mapping::JordanWigner)) {
        return std::nullopt;
    }
    return excitation;
}

}  // namespace detail

namespace {

std::string pauli_string_label(const PauliTerm& term) {
    std::string text;
    for (const PauliFactor& factor : term.paulis) {
        if (factor.kind == Pauli::I) {
            continue;
        }
        text += text.empty() ? "" : " ";
        text += "IXYZ"[static_cast<int>(factor.kind)];
        text += std::to_string(factor.qubit);
    }
    return text;
}

/// The mode holding the same spatial orbital with the other spin.
std::uint32_t spin_partner(std::uint32_t mode, std::size_t num_orbitals, SpinOrdering ordering) {
    const auto n = static_cast<std::uint32_t>(num_orbitals);
    if (ordering == SpinOrdering::Interleaved) {
        return mode ^ 1U;
    }
    return mode < n ? mode + n : mode - n;
}

/// +1 when `b` lists the modes of `a` in the same order, -1 when in the other order (two
/// modes), 0 when they are not the same modes.
int order_sign(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a == b) {
        return 1;
    }
    if (a.size() == 2 && b.size() == 2 && a[0] == b[1] && a[1] == b[0]) {
        return -1;
    }
    return 0;
}

/// For fermionic excitations, the coefficient c with T - T^dagger of `wanted` = c (T - T^dagger)
/// of `listed`: +1 or -1 when both excite the same modes (reversed: from and to exchanged, which
/// negates the generator; each pair of modes listed in the other order negates it too), 0
/// otherwise. Qubit excitations get the same value: see `reference_sign`.
int relative_sign(const Excitation& wanted, const Excitation& listed) {
    if (wanted.kind != listed.kind) {
        return 0;
    }
    for (const bool reversed : {false, true}) {
        const int from = order_sign(wanted.from, reversed ? listed.to : listed.from);
        const int to = order_sign(wanted.to, reversed ? listed.from : listed.to);
        if (from != 0 && to != 0) {
            return (reversed ? -1 : 1) * from * to;
        }
    }
    return 0;
}

/// The sign with which the fermionic form of `excitation` acts where the modes between its
/// orbitals are occupied as in the Hartree-Fock determinant `occupied` (a mask of modes): a
/// qubit excitation is its fermionic form times this there. Pairing qubit excitations with the
/// fermionic relative sign times both reference signs makes the pair act on the reference as
/// the fermionic pair does (a spin complement pair of singles stays a singlet).
int reference_sign(const Excitation& excitation, std::uint64_t occupied) {
    const std::vector<std::uint64_t> from(excitation.from.begin(), excitation.from.end());
    const std::vector<std::uint64_t> to(excitation.to.begin(), excitation.to.end());
    std::vector<std::uint64_t> orbitals = from;
    orbitals.insert(orbitals.end(), to.begin(), to.end());
    int sign = excitation_sign(from, to);
    for (const std::uint64_t q : excitation_parity_qubits(orbitals)) {
        sign = ((occupied >> q) & 1U) != 0 ? -sign : sign;
    }
    return sign;
}

/// `sum` with every coefficient multiplied by `factor`.
PauliSum scaled(PauliSum sum, double factor) {
    for (PauliTerm& term : sum.terms) {
        term.coefficient *= factor;
    }
    return sum;
}

/// Moves the ties of the ansatz's last logical parameter into those of `parameter`, each scaled
/// by `coefficient`, and drops the last one.
void tie_last_to(TiedAnsatz& ansatz, std::size_t parameter, double coefficient) {
    std::vector<TiedSlot> last = std::move(ansatz.ties.back());
    ansatz.ties.pop_back();
    for (TiedSlot& tie : last) {
        tie.coefficient *= coefficient;
        ansatz.ties[parameter].push_back(tie);
    }
}

/// The pool operators of `excitations` paired with their spin complements (see `make_pool`).
std::vector<PoolOperator> spin_complemented(const VqeProblem& problem,
                                            const std::vector<Excitation>& excitations) {
    std::vector<bool> used(excitations.size(), false);
    std::vector<PoolOperator> out;
    for (std::size_t i = 0; i < excitations.size(); ++i) {
        if (used[i]) {
            continue;
        }
        used[i] = true;
        const Excitation& first = excitations[i];
        Excitation complement = first;
        for (std::uint32_t& mode : complement.from) {
            mode = spin_partner(mode, problem.num_orbitals, problem.ordering);
        }
        for (std::uint32_t& mode : complement.to) {
            mode = spin_partner(mode, problem.num_orbitals, problem.ordering);
        }
        std::optional<PauliSum> generator = problem_generator(problem, first);
        // An excitation that is its own complement stays single.
        std::size_t partner = excitations.size();
        int sign = relative_sign(complement, first) != 0 ? 0 : 1;
        for (std::size_t j = i + 1; j < excitations.size() && sign != 0; ++j) {
            if (!used[j] && relative_sign(complement, excitations[j]) != 0) {
                partner = j;
                sign = relative_sign(complement, excitations[j]);
                break;
            }
        }
        std::optional<PauliSum> second;
        if (partner < excitations.size()) {
            used[partner] = true;
            if (first.kind == ExcitationKind::Qubit) {
                const std::uint64_t occupied = hartree_fock_index(
                    problem.num_orbitals, problem.sector, problem.ordering, Mapping::JordanWigner);
                sign *= reference_sign(first, occupied) *
                        reference_sign(excitations[partner], occupied);
            }
            second = problem_generator(problem, excitations[partner]);
        }
        if (!generator || !second) {
            // Alone, or a pair of which one factor leaves the sector: the factors that act.
            for (const std::size_t k : {i, partner}) {
                if (k >= excitations.size()) {
                    continue;
                }
                if (std::optional<PauliSum> g = problem_generator(problem, excitations[k])) {
                    out.push_back(PoolOperator{std::move(*g),
                                               detail::native_excitation(problem, excitations[k]),
                                               operator_label(excitations[k]),
                                               {}});
                }
            }
            continue;
        }
        const double c = sign;
        PoolOperator op;
        op.generator = *generator;
        const PauliSum scaled_second = scaled(*second, c);
        op.generator.terms.insert(op.generator.terms.end(), scaled_second.terms.begin(),
                                  scaled_second.terms.end());
        op.label = operator_label(first) + (sign > 0 ? " + " : " - ") +
                   operator_label(excitations[partner]);
        op.factors.push_back(
            PoolFactor{std::move(*generator), detail::native_excitation(problem, first), 1.0});
        op.factors.push_back(PoolFactor{
            std::move(*second), detail::native_excitation(problem, excitations[partner]), c});
        out.push_back(std::move(op));
    }
    return out;
}

}  // namespace

std::string operator_label(const Excitation& excitation) {
    std::ostringstream text;
    text << (excitation.kind == ExcitationKind::Fermionic ? "f[" : "q[");
    for (const std::uint32_t mode : excitation.from) {
        text << mode << ' ';
    }
    text << "->";
    for (const std::uint32_t mode : excitation.to) {
        text << ' ' << mode;
    }
    text << ']';
    return text.str();
}

std::size_t append_operator(TiedAnsatz& ansatz, const PoolOperator& op) {
    if (op.factors.empty()) {
        return append_operator(ansatz, op.generator);
    }
    const std::size_t parameter = append_operator(ansatz, op.factors.front().generator);
    for (std::size_t f = 1; f < op.factors.size(); ++f) {
        append_operator(ansatz, op.factors[f].generator);
        tie_last_to(ansatz, parameter, op.factors[f].coefficient);
    }
    return parameter;
}

std::size_t append_operator(TiedAnsatz& ansatz, const PoolOperator& op, Mapping mapping) {
    const auto append_one = [&](const std::optional<Excitation>& excitation,
                                const PauliSum& generator) {
        if (excitation) {
            return excitation_circuit(ansatz, *excitation, mapping, ExcitationPath::Native);
        }
        return excitation_circuit(ansatz, generator);
    };
    if (op.factors.empty()) {
        return append_one(op.excitation, op.generator);
    }
    const std::size_t parameter =
        append_one(op.factors.front().excitation, op.factors.front().generator);
    for (std::size_t f = 1; f < op.factors.size(); ++f) {
        append_one(op.factors[f].excitation, op.factors[f].generator);
        tie_last_to(ansatz, parameter, op.factors[f].coefficient);
    }
    return parameter;
}

std::vector<PoolOperator> make_pool(const VqeProblem& problem, AdaptPool pool,
                                    bool spin_complement) {
    const bool qubit = pool == AdaptPool::Qubit || pool == AdaptPool::PauliString ||
                       pool == AdaptPool::GeneralizedQubit;
    if (qubit && problem.mapping != Mapping::JordanWigner) {
        // Under parity or Bravyi-Kitaev a qubit does not hold one orbital's occupation, so a
        // qubit excitation would not move electrons between orbitals.
        throw InvalidArgument(
            "ADAPT-VQE: the qubit, generalized-qubit and pauli pools act on occupation qubits and "
            "need the Jordan-Wigner mapping");
    }
    if (spin_complement && pool == AdaptPool::PauliString) {
        throw InvalidArgument(
            "ADAPT-VQE: spin complements pair excitations, not the Pauli strings of the pauli "
            "pool");
    }
    const std::size_t n = problem.num_orbitals;
    std::vector<Excitation> excitations =
        pool == AdaptPool::GeneralizedFermionic || pool == AdaptPool::GeneralizedQubit
            ? generalized_excitations(n, problem.ordering)
            : uccsd_excitations(n, problem.sector, problem.ordering);
    if (qubit) {
        excitations = as_qubit_excitations(std::move(excitations));
    }
    if (spin_complement) {
        return spin_complemented(problem, excitations);
    }
    std::vector<PoolOperator> out;
    std::set<std::string> seen;
    for (const Excitation& excitation : excitations) {
        std::optional<PauliSum> generator = problem_generator(problem, excitation);
        if (!generator) {
            continue;
        }
        if (pool != AdaptPool::PauliString) {
            out.push_back(PoolOperator{std::move(*generator),
                                       detail::native_excitation(problem, excitation),
                                       operator_label(excitation),
                                       {}});
            continue;
        }
        for (const PauliTerm& term : generator->terms) {
            std::string label = pauli_string_label(term);
            if (seen.insert(label).second) {
                PauliSum single;
                single.terms.push_back(PauliTerm{1.0, term.paulis});
                out.push_back(PoolOperator{std::move(single), std::nullopt, std::move(label), {}});
            }
        }
    }
    return out;
}

}  // namespace zel::chem
