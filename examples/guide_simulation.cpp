// Guide, "Running circuits and reading states": a circuit run to a state, applied to an existing
// state, probabilities, seeded sampling, bitstrings, norm and inner product; and "Large circuits:
// gate fusion".

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <map>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/fusion.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/random.hpp"
#include "zel/core/simulator.hpp"
#include "zel/core/state.hpp"

int main() {
    // A GHZ circuit on three qubits: H on qubit 0, then CX 0 -> 1 and CX 1 -> 2.
    zel::ZarnikGraph ghz(3);
    ghz.add_gate(zel::GateType::of(zel::GateKind::H), {0});
    ghz.add_gate(zel::GateType::of(zel::GateKind::CX), {0, 1});
    ghz.add_gate(zel::GateType::of(zel::GateKind::CX), {1, 2});

    // The state it prepares from |000>.
    const zel::ZarnikState state = zel::run_circuit(ghz, 3);

    // Probabilities |a_k|^2 by basis index: about 0.5 at index 0 (|000>) and at 7 (|111>).
    const std::vector<double> p = zel::probabilities(state);
    std::cout << "p(000) = " << p[0] << ", p(111) = " << p[7] << '\n';

    // 1000 shots from a generator seeded by the caller: the same seed gives the same counts.
    zel::random::Generator generator(2024);
    const std::map<std::uint64_t, std::uint64_t> counts =
        zel::sample_counts(state, 1000, generator);
    for (const auto& [outcome, count] : counts) {
        // bitstring writes qubit 2 first and qubit 0 last, like a ket.
        std::cout << zel::bitstring(outcome, 3) << ": " << count << '\n';
    }

    // apply_circuit works on a state you already have, here |001> (qubit 0 reads 1). It checks
    // every operation first and changes nothing when one would fail.
    zel::ZarnikState other(3);
    other.set_computational_basis(1);
    zel::apply_circuit(other, ghz);

    // H turned |001> into (|000> - |001>)/sqrt2 and the CXs into (|000> - |111>)/sqrt2, which is
    // orthogonal to (|000> + |111>)/sqrt2: the inner product is 0. The norm is 1 up to the
    // rounding of the Hadamard factor.
    std::cout << "<ghz|other> = " << zel::inner_product(state, other)
              << ", |ghz| = " << zel::norm(state) << '\n';

    // A larger circuit, fused: runs of gates become blocks that mix at most two qubits (the
    // default), each applied in one pass over the state instead of one pass per gate.
    zel::ZarnikGraph layers(16);
    for (std::uint64_t q = 0; q < 16; ++q) {
        layers.add_gate(zel::GateType::of(zel::GateKind::H), {q});
        layers.add_gate(zel::GateType::rz(0.1 * static_cast<double>(q)), {q});
    }
    for (std::uint64_t q = 0; q + 1 < 16; ++q) {
        layers.add_gate(zel::GateType::of(zel::GateKind::CX), {q, q + 1});
    }
    const zel::FusedCircuit fused = zel::fuse(layers, 16);
    zel::ZarnikState fast(16);
    zel::apply_fused(fast, fused);
    std::cout << layers.gate_count() << " gates in " << fused.steps.size() << " passes\n";

    // The same state through run_circuit; it agrees with the exact path to rounding, not to the
    // bit.
    const zel::ZarnikState also = zel::run_circuit(layers, 16, zel::Evaluation::Fused);
    const zel::ZarnikState exact = zel::run_circuit(layers, 16);
    double largest = 0.0;
    for (std::size_t k = 0; k < exact.dimension(); ++k) {
        largest = std::max({largest, std::abs(fast.amplitudes()[k] - exact.amplitudes()[k]),
                            std::abs(also.amplitudes()[k] - exact.amplitudes()[k])});
    }
    std::cout << "largest difference from the exact path: " << largest << '\n';

    const bool sampled = counts.size() == 2 && counts.count(0) == 1 && counts.count(7) == 1;
    return sampled && largest < 1e-13 ? 0 : 1;
}
