// Guide, "Gradients and optimisers": the energy and all its derivatives by the adjoint method,
// H|psi> as a state, pool gradients, and L-BFGS, Nelder–Mead and SPSA behind one interface,
// on the built-in two-qubit H2 operator.

#include <cmath>
#include <iostream>
#include <span>
#include <vector>

#include "zel/core/circuit.hpp"
#include "zel/core/gradient.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/spectrum.hpp"
#include "zel/core/state.hpp"
#include "zel/neural/optimizer.hpp"

int main() {
    int failures = 0;
    const zel::PauliSum h2 = zel::PauliSum::h2_hamiltonian();

    // A four-parameter circuit: RY on both qubits, CX, RY on both qubits again.
    zel::ZarnikGraph circuit(2);
    circuit.add_gate(zel::GateType::ry(0.4), {0});
    circuit.add_gate(zel::GateType::ry(-0.2), {1});
    circuit.add_gate(zel::GateType::of(zel::GateKind::CX), {0, 1});
    circuit.add_gate(zel::GateType::ry(0.1), {0});
    circuit.add_gate(zel::GateType::ry(0.3), {1});

    // Energy and dE/dtheta for every parameter slot, in parameters(circuit) order.
    const zel::EnergyGradient eg = zel::energy_and_gradient(circuit, h2, zel::ZarnikState(2));
    std::cout << "E = " << eg.energy << ", dE/dtheta = " << eg.gradient[0] << ", " << eg.gradient[1]
              << '\n';
    // The derivatives alone.
    const std::vector<double> slopes = zel::energy_gradient(circuit, h2, zel::ZarnikState(2));

    // H|psi> as a state of its own (one pass per distinct X/Y flip mask of the sum).
    zel::ZarnikState psi(2);
    psi.apply_gate(zel::GateType::of(zel::GateKind::H), std::vector<std::uint64_t>{0}, {});
    const zel::ZarnikState h_psi = zel::apply_pauli_sum(h2, psi);
    std::cout << "<0|H|psi> = " << h_psi.amplitudes()[0] << '\n';

    // Group the Hamiltonian's terms once for many evaluations on 2-qubit states.
    const zel::PreparedPauliSum prepared(h2, 2);
    const zel::EnergyGradient again =
        zel::energy_and_gradient(circuit, prepared, zel::ZarnikState(2));
    std::cout << "prepared: E = " << again.energy << '\n';

    // Pool gradients: dE/dtheta at 0 of appending exp(i theta B_k), for Hermitian B_k.
    const std::vector<zel::PauliSum> pool = {zel::parse_pauli_sum("X0 Y1"),
                                             zel::parse_pauli_sum("Y0")};
    const std::vector<double> pool_gradient = zel::pool_gradients(h2, psi, pool);
    std::cout << "pool gradients: " << pool_gradient[0] << ", " << pool_gradient[1] << '\n';

    // Minimise the circuit's energy with L-BFGS on the exact gradients.
    const zel::Objective energy = [&](std::span<const double> x, std::span<double> g) {
        zel::ZarnikGraph at = circuit;
        zel::set_parameters(at, x);
        const zel::EnergyGradient e = zel::energy_and_gradient(at, h2, zel::ZarnikState(2));
        for (std::size_t i = 0; i < g.size(); ++i) {
            g[i] = e.gradient[i];
        }
        return e.energy;
    };
    zel::OptimizeOptions options;
    options.gradient_tolerance = 1e-8;
    const zel::LbfgsOptimizer lbfgs;
    const zel::OptimizeResult best = lbfgs.minimize(energy, zel::parameters(circuit), options);
    std::cout << lbfgs.name() << ": E = " << best.value << " after " << best.evaluations
              << " evaluations, stopped on " << zel::stop_reason_name(best.reason) << '\n';

    // The same with a derivative-free method and with the search loop's SPSA step.
    const zel::DerivativeFreeOptimizer nelder_mead;
    const zel::OptimizeResult simplex = nelder_mead.minimize(
        energy, zel::parameters(circuit), zel::OptimizeOptions{0.0, 1e-12, 2000, 0});
    const zel::OptimizeResult spsa = zel::SpsaOptimizer().minimize(
        energy, zel::parameters(circuit), zel::OptimizeOptions{0.0, 0.0, 3001, 1000});

    const double exact = zel::ground_energy(h2, 2);
    std::cout << "exact " << exact << ", nelder-mead " << simplex.value << ", spsa " << spsa.value
              << '\n';
    if (std::abs(best.value - exact) > 1e-8 || std::abs(simplex.value - exact) > 1e-6 ||
        !(spsa.value < eg.energy) || slopes != eg.gradient) {
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
