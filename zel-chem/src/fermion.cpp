#include "zel/chem/fermion.hpp"

#include <algorithm>
#include <map>
#include <sstream>
#include <utility>

#include "hamiltonian_terms.hpp"

namespace zel::chem {
namespace {

/// Orders ladder operators: creation before annihilation, then descending mode.
bool ordered_before(const LadderOp& a, const LadderOp& b) {
    if (a.creation != b.creation) {
        return a.creation;
    }
    return a.mode > b.mode;
}

/// Appends the normal-ordered form of coefficient * ops to `out` (unmerged).
void normal_order_term(std::complex<double> coefficient, std::vector<LadderOp> ops,
                       std::vector<FermionTerm>& out) {
    // Insertion sort by adjacent swaps: each swap of two distinct operators costs a sign; an
    // annihilator moved past the creator of its own mode leaves the contraction term behind.
    for (std::size_t i = 1; i < ops.size(); ++i) {
        for (std::size_t j = i; j > 0; --j) {
            LadderOp& left = ops[j - 1];
            LadderOp& right = ops[j];
            if (!ordered_before(right, left)) {
                if (left == right) {
                    return;  // a mode created or annihilated twice
                }
                break;
            }
            if (left.mode == right.mode && left.creation != right.creation) {
                std::vector<LadderOp> contracted;
                contracted.reserve(ops.size() - 2);
                contracted.insert(contracted.end(), ops.begin(),
                                  ops.begin() + static_cast<std::ptrdiff_t>(j - 1));
                contracted.insert(contracted.end(),
                                  ops.begin() + static_cast<std::ptrdiff_t>(j + 1), ops.end());
                normal_order_term(coefficient, std::move(contracted), out);
            }
            std::swap(left, right);
            coefficient = -coefficient;
        }
    }
    out.push_back({coefficient, std::move(ops)});
}

bool term_less(const std::vector<LadderOp>& a, const std::vector<LadderOp>& b) {
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].creation != b[k].creation) {
            return a[k].creation;
        }
        if (a[k].mode != b[k].mode) {
            return a[k].mode > b[k].mode;
        }
    }
    return false;
}

}  // namespace

std::size_t spin_orbital(std::size_t orbital, Spin spin, std::size_t num_orbitals,
                         SpinOrdering ordering) noexcept {
    const std::size_t beta = spin == Spin::Beta ? 1 : 0;
    switch (ordering) {
        case SpinOrdering::Interleaved:
            return 2 * orbital + beta;
        case SpinOrdering::Blocked:
            return orbital + beta * num_orbitals;
    }
    return 0;
}

void FermionOperator::add(std::complex<double> coefficient, std::vector<LadderOp> ops) {
    terms.push_back({coefficient, std::move(ops)});
}

FermionOperator& FermionOperator::operator+=(const FermionOperator& other) {
    terms.insert(terms.end(), other.terms.begin(), other.terms.end());
    return *this;
}

FermionOperator& FermionOperator::operator*=(std::complex<double> factor) {
    for (FermionTerm& term : terms) {
        term.coefficient *= factor;
    }
    return *this;
}

std::size_t FermionOperator::num_modes() const noexcept {
    std::size_t modes = 0;
    for (const FermionTerm& term : terms) {
        for (const LadderOp& op : term.ops) {
            modes = std::max<std::size_t>(modes, std::size_t{op.mode} + 1);
        }
    }
    return modes;
}

FermionOperator operator*(const FermionOperator& left, const FermionOperator& right) {
    FermionOperator out;
    out.terms.reserve(left.terms.size() * right.terms.size());
    for (const FermionTerm& a : left.terms) {
        for (const FermionTerm& b : right.terms) {
            std::vector<LadderOp> ops = a.ops;
            ops.insert(ops.end(), b.ops.begin(), b.ops.end());
            out.terms.push_back({a.coefficient * b.coefficient, std::move(ops)});
        }
    }
    return out;
}

FermionOperator operator+(FermionOperator left, const FermionOperator& right) {
    left += right;
    return left;
}

FermionOperator creation(std::uint32_t mode) {
    FermionOperator out;
    out.add(1.0, {{mode, true}});
    return out;
}

FermionOperator annihilation(std::uint32_t mode) {
    FermionOperator out;
    out.add(1.0, {{mode, false}});
    return out;
}

FermionOperator normal_ordered(const FermionOperator& op, double tolerance) {
    std::vector<FermionTerm> expanded;
    for (const FermionTerm& term : op.terms) {
        normal_order_term(term.coefficient, term.ops, expanded);
    }
    std::map<std::vector<LadderOp>, std::complex<double>, decltype(&term_less)> merged(&term_less);
    for (FermionTerm& term : expanded) {
        merged[std::move(term.ops)] += term.coefficient;
    }
    FermionOperator out;
    for (auto& [ops, coefficient] : merged) {
        if (std::abs(coefficient) > tolerance) {
            out.terms.push_back({coefficient, ops});
        }
    }
    return out;
}

FermionOperator hermitian_conjugate(const FermionOperator& op) {
    FermionOperator out;
    out.terms.reserve(op.terms.size());
    for (const FermionTerm& term : op.terms) {
        std::vector<LadderOp> ops(term.ops.rbegin(), term.ops.rend());
        for (LadderOp& ladder : ops) {
            ladder.creation = !ladder.creation;
        }
        out.terms.push_back({std::conj(term.coefficient), std::move(ops)});
    }
    return out;
}

FermionOperator molecular_hamiltonian(const Integrals& integrals, SpinOrdering ordering) {
    FermionOperator out;
    detail::for_each_hamiltonian_term(
        integrals, ordering, [&](double coefficient, const auto& ops, std::size_t count) {
            out.add(coefficient, std::vector<LadderOp>(ops.begin(), ops.begin() + count));
        });
    return out;
}

FermionOperator number_operator(std::size_t num_modes) {
    FermionOperator out;
    for (std::size_t j = 0; j < num_modes; ++j) {
        const auto m = static_cast<std::uint32_t>(j);
        out.add(1.0, {{m, true}, {m, false}});
    }
    return out;
}

FermionOperator spin_z_operator(std::size_t num_orbitals, SpinOrdering ordering) {
    FermionOperator out;
    for (std::size_t p = 0; p < num_orbitals; ++p) {
        const auto a =
            static_cast<std::uint32_t>(spin_orbital(p, Spin::Alpha, num_orbitals, ordering));
        const auto b =
            static_cast<std::uint32_t>(spin_orbital(p, Spin::Beta, num_orbitals, ordering));
        out.add(0.5, {{a, true}, {a, false}});
        out.add(-0.5, {{b, true}, {b, false}});
    }
    return out;
}

FermionOperator total_spin_operator(std::size_t num_orbitals, SpinOrdering ordering) {
    FermionOperator raise;
    FermionOperator lower;
    for (std::size_t p = 0; p < num_orbitals; ++p) {
        const auto a =
            static_cast<std::uint32_t>(spin_orbital(p, Spin::Alpha, num_orbitals, ordering));
        const auto b =
            static_cast<std::uint32_t>(spin_orbital(p, Spin::Beta, num_orbitals, ordering));
        raise.add(1.0, {{a, true}, {b, false}});
        lower.add(1.0, {{b, true}, {a, false}});
    }
    const FermionOperator sz = spin_z_operator(num_orbitals, ordering);
    FermionOperator sz_plus_one = sz;
    sz_plus_one.add(1.0, {});
    return normal_ordered(lower * raise + sz * sz_plus_one);
}

std::string fermion_text(const FermionOperator& op) {
    std::ostringstream out;
    out.precision(17);
    bool first = true;
    for (const FermionTerm& term : op.terms) {
        if (!first) {
            out << " + ";
        }
        first = false;
        out << "(" << term.coefficient.real() << (term.coefficient.imag() < 0 ? "" : "+")
            << term.coefficient.imag() << "i) [";
        for (std::size_t k = 0; k < term.ops.size(); ++k) {
            out << (k ? " " : "") << term.ops[k].mode << (term.ops[k].creation ? "^" : "");
        }
        out << "]";
    }
    return out.str();
}

}  // namespace zel::chem
