#pragma once

// Helpers of the chemistry tests: random integrals with the symmetry of real orbitals, the test
// data folder and its psi4 reference energies, and dense spectra of small Pauli sums.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "zel/chem/integrals.hpp"
#include "zel/core/observable.hpp"
#include "zel/core/spectrum.hpp"

#include <Eigen/Dense>

namespace zel::chem::test {

/// Integrals over `n` orbitals with uniform random values in [-1, 1] (two-electron ones scaled
/// by 0.5) and the full permutational symmetry; constant 0.25.
inline Integrals random_integrals(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Integrals out(n);
    out.set_constant(0.25);
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q <= p; ++q) {
            out.set_one_body(p, q, uniform(rng));
            for (std::size_t r = 0; r < n; ++r) {
                for (std::size_t s = 0; s <= r; ++s) {
                    if (r * (r + 1) / 2 + s <= p * (p + 1) / 2 + q) {
                        out.set_two_body(p, q, r, s, 0.5 * uniform(rng));
                    }
                }
            }
        }
    }
    return out;
}

/// The folder of the committed FCIDUMP files and reference.json.
inline std::string data_dir() {
    return ZEL_CHEM_TEST_DATA;
}

/// A number from reference.json: the first value of `key` ("fci_energy", "nuclear_repulsion")
/// after the object of `molecule` starts, or after its member `within` when one is named.
inline double reference_value(const std::string& molecule, const std::string& key,
                              const std::string& within = "") {
    std::ifstream in(data_dir() + "/reference.json");
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    std::size_t start = text.find("\"" + molecule + "\": {");
    if (start != std::string::npos && !within.empty()) {
        start = text.find("\"" + within + "\":", start);
    }
    if (start == std::string::npos) {
        throw std::runtime_error("no molecule " + molecule + " in reference.json");
    }
    const std::size_t at = text.find("\"" + key + "\":", start);
    if (at == std::string::npos) {
        throw std::runtime_error("no " + key + " for " + molecule);
    }
    return std::stod(text.substr(at + key.size() + 3));
}

/// The dense matrix of `sum` on `num_qubits` qubits as an Eigen matrix.
inline Eigen::MatrixXcd matrix_of(const PauliSum& sum, std::size_t num_qubits) {
    const auto matrix = zel::dense_matrix(sum, num_qubits);
    const auto dim = static_cast<Eigen::Index>(std::size_t{1} << num_qubits);
    Eigen::MatrixXcd m(dim, dim);
    for (Eigen::Index r = 0; r < dim; ++r) {
        for (Eigen::Index c = 0; c < dim; ++c) {
            m(r, c) = matrix[static_cast<std::size_t>(r * dim + c)];
        }
    }
    return m;
}

/// Every eigenvalue of `sum` on `num_qubits` qubits, ascending (dense, at most 10 qubits).
inline std::vector<double> spectrum(const PauliSum& sum, std::size_t num_qubits) {
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> solver(matrix_of(sum, num_qubits),
                                                           Eigen::EigenvaluesOnly);
    const Eigen::VectorXd values = solver.eigenvalues();
    return {values.data(), values.data() + values.size()};
}

}  // namespace zel::chem::test
