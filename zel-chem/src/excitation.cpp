#include "zel/chem/excitation.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zel/core/error.hpp"

namespace zel::chem {
namespace {

void check_modes(std::size_t num_orbitals) {
    if (2 * num_orbitals > MAX_MODES) {
        throw InvalidArgument("excitations: " + std::to_string(num_orbitals) +
                              " orbitals make more than " + std::to_string(MAX_MODES) + " modes");
    }
}

void check_excitation(const Excitation& e) {
    const std::size_t k = e.from.size();
    if (k < 1 || k > 2 || e.to.size() != k) {
        throw InvalidArgument("excitation: expected 1 or 2 modes in both 'from' and 'to', got " +
                              std::to_string(k) + " and " + std::to_string(e.to.size()));
    }
    std::vector<std::uint32_t> all = e.from;
    all.insert(all.end(), e.to.begin(), e.to.end());
    std::sort(all.begin(), all.end());
    if (std::adjacent_find(all.begin(), all.end()) != all.end()) {
        throw InvalidArgument("excitation: mode " +
                              std::to_string(*std::adjacent_find(all.begin(), all.end())) +
                              " appears twice");
    }
}

std::uint32_t mode(std::size_t orbital, Spin spin, std::size_t n, SpinOrdering ordering) {
    return static_cast<std::uint32_t>(spin_orbital(orbital, spin, n, ordering));
}

// The X|Y and Z|Y masks of a term; qubits below 64 (checked by the caller).
struct Masks {
    std::uint64_t x = 0;
    std::uint64_t z = 0;
};

Masks masks_of(const PauliTerm& term) {
    Masks m;
    for (const PauliFactor& f : term.paulis) {
        const std::uint64_t bit = std::uint64_t{1} << f.qubit;
        if (f.kind == Pauli::X || f.kind == Pauli::Y) {
            m.x |= bit;
        }
        if (f.kind == Pauli::Z || f.kind == Pauli::Y) {
            m.z |= bit;
        }
    }
    return m;
}

}  // namespace

std::vector<Excitation> uccsd_excitations(std::size_t num_orbitals, Sector sector,
                                          SpinOrdering ordering) {
    check_modes(num_orbitals);
    const std::size_t n = num_orbitals;
    if (sector.num_alpha > n || sector.num_beta > n) {
        throw InvalidArgument("uccsd_excitations: " + std::to_string(sector.num_alpha) +
                              " alpha and " + std::to_string(sector.num_beta) +
                              " beta electrons do not fit in " + std::to_string(n) + " orbitals");
    }
    const std::size_t occupied[2] = {sector.num_alpha, sector.num_beta};
    const Spin spins[2] = {Spin::Alpha, Spin::Beta};
    std::vector<Excitation> out;
    for (int s = 0; s < 2; ++s) {
        for (std::size_t i = 0; i < occupied[s]; ++i) {
            for (std::size_t a = occupied[s]; a < n; ++a) {
                out.push_back({{mode(i, spins[s], n, ordering)}, {mode(a, spins[s], n, ordering)}});
            }
        }
    }
    for (int s = 0; s < 2; ++s) {
        for (std::size_t i = 0; i < occupied[s]; ++i) {
            for (std::size_t j = i + 1; j < occupied[s]; ++j) {
                for (std::size_t a = occupied[s]; a < n; ++a) {
                    for (std::size_t b = a + 1; b < n; ++b) {
                        out.push_back(
                            {{mode(i, spins[s], n, ordering), mode(j, spins[s], n, ordering)},
                             {mode(a, spins[s], n, ordering), mode(b, spins[s], n, ordering)}});
                    }
                }
            }
        }
    }
    for (std::size_t i = 0; i < occupied[0]; ++i) {
        for (std::size_t j = 0; j < occupied[1]; ++j) {
            for (std::size_t a = occupied[0]; a < n; ++a) {
                for (std::size_t b = occupied[1]; b < n; ++b) {
                    out.push_back(
                        {{mode(i, Spin::Alpha, n, ordering), mode(j, Spin::Beta, n, ordering)},
                         {mode(a, Spin::Alpha, n, ordering), mode(b, Spin::Beta, n, ordering)}});
                }
            }
        }
    }
    return out;
}

std::vector<Excitation> generalized_excitations(std::size_t num_orbitals, SpinOrdering ordering) {
    check_modes(num_orbitals);
    const std::size_t n = num_orbitals;
    const Spin spins[2] = {Spin::Alpha, Spin::Beta};
    std::vector<Excitation> out;
    for (const Spin spin : spins) {
        for (std::size_t p = 0; p < n; ++p) {
            for (std::size_t q = p + 1; q < n; ++q) {
                out.push_back({{mode(p, spin, n, ordering)}, {mode(q, spin, n, ordering)}});
            }
        }
    }
    // Mode pairs of each spin pattern; a double joins two distinct pairs of one pattern.
    const auto doubles_of = [&](const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs) {
        for (std::size_t u = 0; u < pairs.size(); ++u) {
            for (std::size_t v = u + 1; v < pairs.size(); ++v) {
                const auto [p, q] = pairs[u];
                const auto [r, s] = pairs[v];
                if (p == r || p == s || q == r || q == s) {
                    continue;  // a mode both emptied and filled: a single times a number operator
                }
                out.push_back({{p, q}, {r, s}});
            }
        }
    };
    for (const Spin spin : spins) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
        for (std::size_t p = 0; p < n; ++p) {
            for (std::size_t q = p + 1; q < n; ++q) {
                pairs.emplace_back(mode(p, spin, n, ordering), mode(q, spin, n, ordering));
            }
        }
        doubles_of(pairs);
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> mixed;
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q < n; ++q) {
            mixed.emplace_back(mode(p, Spin::Alpha, n, ordering), mode(q, Spin::Beta, n, ordering));
        }
    }
    doubles_of(mixed);
    return out;
}

std::vector<Excitation> as_qubit_excitations(std::vector<Excitation> excitations) {
    for (Excitation& e : excitations) {
        e.kind = ExcitationKind::Qubit;
    }
    return excitations;
}

FermionOperator excitation_operator(const Excitation& excitation) {
    check_excitation(excitation);
    if (excitation.kind != ExcitationKind::Fermionic) {
        throw InvalidArgument("excitation_operator: a qubit excitation has no fermion operator");
    }
    std::vector<LadderOp> ops;
    for (const std::uint32_t m : excitation.to) {
        ops.push_back({m, true});
    }
    for (std::size_t j = excitation.from.size(); j-- > 0;) {
        ops.push_back({excitation.from[j], false});
    }
    FermionOperator t;
    t.add(1.0, std::move(ops));
    FermionOperator out = t;
    FermionOperator adjoint = hermitian_conjugate(t);
    adjoint *= -1.0;
    out += adjoint;
    return out;
}

PauliSum excitation_generator(const Excitation& excitation, Mapping mapping,
                              std::size_t num_modes) {
    check_excitation(excitation);
    for (const auto* modes : {&excitation.from, &excitation.to}) {
        for (const std::uint32_t m : *modes) {
            if (m >= num_modes) {
                throw InvalidArgument("excitation_generator: mode " + std::to_string(m) +
                                      " is not below the " + std::to_string(num_modes) + " modes");
            }
        }
    }
    if (excitation.kind == ExcitationKind::Fermionic) {
        FermionOperator b = excitation_operator(excitation);
        b *= std::complex<double>(0.0, -1.0);
        return map_operator(b, mapping, num_modes);
    }
    // Raising |1><0| = (X - iY)/2 on `to`, lowering |0><1| = (X + iY)/2 on `from`. The product's
    // term with letters L has coefficient c; T^dagger has conj(c) on the same letters, so
    // B = -i (T - T^dagger) has 2 Im c.
    std::vector<std::pair<std::uint32_t, bool>> qubits;  // (qubit, raising)
    for (const std::uint32_t m : excitation.to) {
        qubits.emplace_back(m, true);
    }
    for (const std::uint32_t m : excitation.from) {
        qubits.emplace_back(m, false);
    }
    std::sort(qubits.begin(), qubits.end());
    PauliSum out;
    const std::size_t count = std::size_t{1} << qubits.size();
    for (std::size_t letters = 0; letters < count; ++letters) {
        std::complex<double> c = 1.0;
        PauliTerm term;
        for (std::size_t j = 0; j < qubits.size(); ++j) {
            // The first qubit's letter varies slowest: terms come sorted as `map_operator` sorts
            // them.
            const bool y = (letters >> (qubits.size() - 1 - j)) & 1U;
            const double sign = qubits[j].second ? -1.0 : 1.0;
            c *= y ? std::complex<double>(0.0, 0.5 * sign) : std::complex<double>(0.5, 0.0);
            term.paulis.push_back({qubits[j].first, y ? Pauli::Y : Pauli::X});
        }
        if (c.imag() != 0.0) {
            term.coefficient = 2.0 * c.imag();
            out.terms.push_back(std::move(term));
        }
    }
    return out;
}

void TiedAnsatz::set_parameters(std::span<const double> theta) {
    if (theta.size() != ties.size()) {
        throw InvalidArgument("TiedAnsatz: expected " + std::to_string(ties.size()) +
                              " parameters, got " + std::to_string(theta.size()));
    }
    std::vector<double> values = parameters(circuit);
    for (const std::vector<TiedSlot>& slots : ties) {
        for (const TiedSlot& tie : slots) {
            if (tie.slot >= values.size()) {
                throw InvalidArgument("TiedAnsatz: slot " + std::to_string(tie.slot) +
                                      " is not below the circuit's " +
                                      std::to_string(values.size()) + " parameter slots");
            }
            values[tie.slot] = 0.0;
        }
    }
    for (std::size_t k = 0; k < ties.size(); ++k) {
        for (const TiedSlot& tie : ties[k]) {
            values[tie.slot] += tie.coefficient * theta[k];
        }
    }
    zel::set_parameters(circuit, values);
}

std::vector<double> TiedAnsatz::logical_gradient(std::span<const double> slot_gradient) const {
    std::vector<double> out(ties.size(), 0.0);
    for (std::size_t k = 0; k < ties.size(); ++k) {
        for (const TiedSlot& tie : ties[k]) {
            if (tie.slot >= slot_gradient.size()) {
                throw InvalidArgument("TiedAnsatz: slot " + std::to_string(tie.slot) +
                                      " is not below the gradient's " +
                                      std::to_string(slot_gradient.size()) + " entries");
            }
            out[k] += tie.coefficient * slot_gradient[tie.slot];
        }
    }
    return out;
}

std::size_t excitation_circuit(TiedAnsatz& ansatz, const PauliSum& generator) {
    const std::uint64_t n = ansatz.circuit.num_qubits;
    std::vector<Masks> masks;
    for (std::size_t t = 0; t < generator.terms.size(); ++t) {
        const PauliTerm& term = generator.terms[t];
        if (!std::isfinite(term.coefficient)) {
            throw InvalidArgument("excitation_circuit: term " + std::to_string(t) +
                                  " has a coefficient that is not finite");
        }
        for (const PauliFactor& f : term.paulis) {
            if (f.qubit >= n || f.qubit >= 64) {
                throw InvalidArgument("excitation_circuit: term " + std::to_string(t) +
                                      " names qubit " + std::to_string(f.qubit) +
                                      ", not below the circuit's " + std::to_string(n));
            }
        }
        masks.push_back(masks_of(term));
        if (masks.back().x == 0 && masks.back().z == 0) {
            throw InvalidArgument("excitation_circuit: term " + std::to_string(t) +
                                  " is the identity, which only changes the global phase");
        }
        for (std::size_t u = 0; u < t; ++u) {
            const std::uint64_t clash = (masks[u].x & masks[t].z) ^ (masks[u].z & masks[t].x);
            if (std::popcount(clash) % 2 != 0) {
                throw InvalidArgument("excitation_circuit: terms " + std::to_string(u) + " and " +
                                      std::to_string(t) +
                                      " anticommute, so their product is not the exponential");
            }
        }
    }
    std::size_t slot = parameter_count(ansatz.circuit);
    std::vector<TiedSlot> ties;
    for (const PauliTerm& term : generator.terms) {
        std::string letters;
        std::vector<std::uint64_t> qubits;
        for (const PauliFactor& f : term.paulis) {
            if (f.kind != Pauli::I) {
                letters.push_back("IXYZ"[static_cast<int>(f.kind)]);
                qubits.push_back(f.qubit);
            }
        }
        // exp(i theta c P) = exp(-i (-2 c theta)/2 P).
        ansatz.circuit.add(pauli_rotation(std::move(letters), std::move(qubits), 0.0));
        ties.push_back({slot++, -2.0 * term.coefficient});
    }
    ansatz.ties.push_back(std::move(ties));
    return ansatz.ties.size() - 1;
}

std::size_t excitation_circuit(TiedAnsatz& ansatz, const Excitation& excitation, Mapping mapping,
                               ExcitationPath path) {
    const std::uint64_t n = ansatz.circuit.num_qubits;
    const bool fermionic = excitation.kind == ExcitationKind::Fermionic;
    if (path == ExcitationPath::PauliRotations || (fermionic && mapping != Mapping::JordanWigner)) {
        return excitation_circuit(ansatz, excitation_generator(excitation, mapping, n));
    }
    check_excitation(excitation);
    std::vector<std::uint64_t> from(excitation.from.begin(), excitation.from.end());
    std::vector<std::uint64_t> to(excitation.to.begin(), excitation.to.end());
    for (const auto* modes : {&from, &to}) {
        for (const std::uint64_t m : *modes) {
            if (m >= n) {
                throw InvalidArgument("excitation_circuit: mode " + std::to_string(m) +
                                      " is not below the circuit's " + std::to_string(n) +
                                      " qubits");
            }
        }
    }
    Operation op =
        fermionic ? fermionic_excitation(from, to, 0.0) : qubit_excitation(from, to, 0.0);
    const std::size_t slot = parameter_count(ansatz.circuit);
    ansatz.circuit.add(std::move(op));
    ansatz.ties.push_back({TiedSlot{slot, 1.0}});
    return ansatz.ties.size() - 1;
}

EnergyGradient ansatz_energy_and_gradient(const TiedAnsatz& ansatz, std::span<const double> theta,
                                          const PauliSum& hamiltonian,
                                          const ZarnikState& reference) {
    TiedAnsatz at = ansatz;
    at.set_parameters(theta);
    EnergyGradient slots = energy_and_gradient(at.circuit, hamiltonian, reference);
    return EnergyGradient{slots.energy, at.logical_gradient(slots.gradient)};
}

}  // namespace zel::chem
