#include "zel/chem/integrals.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "zel/core/error.hpp"

namespace zel::chem {
namespace {

std::size_t packed_pairs(std::size_t n) {
    return n * (n + 1) / 2;
}

void check_orbital_count(std::size_t n) {
    if (n > MAX_ORBITALS) {
        throw InvalidArgument("too many orbitals: " + std::to_string(n) + " (at most " +
                              std::to_string(MAX_ORBITALS) + ")");
    }
}

bool close(double a, double b, double tolerance) {
    const double diff = std::abs(a - b);
    return diff <= tolerance || diff <= tolerance * std::max(std::abs(a), std::abs(b));
}

/// The shortest text that reads back as `value`.
std::string number_text(double value) {
    char buffer[32];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    static_cast<void>(ec);
    return std::string(buffer, ptr);
}

}  // namespace

Integrals::Integrals(std::size_t num_orbitals) : num_orbitals_(num_orbitals) {
    check_orbital_count(num_orbitals);
    const std::size_t pairs = packed_pairs(num_orbitals);
    one_body_.assign(pairs, 0.0);
    two_body_.assign(packed_pairs(pairs), 0.0);
}

double Integrals::one_body(std::size_t p, std::size_t q) const {
    for (std::size_t index : {p, q}) {
        if (index >= num_orbitals_) {
            throw IndexOutOfBounds(num_orbitals_, index);
        }
    }
    return h(p, q);
}

void Integrals::set_one_body(std::size_t p, std::size_t q, double value) {
    static_cast<void>(one_body(p, q));
    one_body_[pair_index(p, q)] = value;
}

double Integrals::two_body(std::size_t p, std::size_t q, std::size_t r, std::size_t s) const {
    for (std::size_t index : {p, q, r, s}) {
        if (index >= num_orbitals_) {
            throw IndexOutOfBounds(num_orbitals_, index);
        }
    }
    return eri(p, q, r, s);
}

void Integrals::set_two_body(std::size_t p, std::size_t q, std::size_t r, std::size_t s,
                             double value) {
    static_cast<void>(two_body(p, q, r, s));
    two_body_[pair_index(pair_index(p, q), pair_index(r, s))] = value;
}

std::vector<double> Integrals::one_body_matrix() const {
    const std::size_t n = num_orbitals_;
    std::vector<double> out(n * n);
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q < n; ++q) {
            out[p * n + q] = h(p, q);
        }
    }
    return out;
}

std::vector<double> Integrals::two_body_tensor() const {
    const std::size_t n = num_orbitals_;
    std::vector<double> out(n * n * n * n);
    std::size_t k = 0;
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q < n; ++q) {
            for (std::size_t r = 0; r < n; ++r) {
                for (std::size_t s = 0; s < n; ++s) {
                    out[k++] = eri(p, q, r, s);
                }
            }
        }
    }
    return out;
}

Integrals integrals_from_arrays(double constant, std::span<const double> one_body,
                                std::span<const double> two_body, std::size_t num_orbitals,
                                double tolerance) {
    check_orbital_count(num_orbitals);
    const std::size_t n = num_orbitals;
    if (!(tolerance >= 0.0) || !std::isfinite(tolerance)) {
        throw InvalidArgument("symmetry tolerance must be finite and non-negative");
    }
    if (one_body.size() != n * n) {
        throw InvalidArgument("one-electron integrals: expected " + std::to_string(n * n) +
                              " values (n x n) for " + std::to_string(n) + " orbitals, got " +
                              std::to_string(one_body.size()));
    }
    if (two_body.size() != n * n * n * n) {
        throw InvalidArgument("two-electron integrals: expected " + std::to_string(n * n * n * n) +
                              " values (n^4) for " + std::to_string(n) + " orbitals, got " +
                              std::to_string(two_body.size()));
    }
    if (!std::isfinite(constant)) {
        throw InvalidArgument("constant energy is not finite");
    }
    Integrals out(n);
    out.set_constant(constant);
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q < n; ++q) {
            const double value = one_body[p * n + q];
            if (!std::isfinite(value)) {
                throw InvalidArgument("one-electron integral h(" + std::to_string(p) + " " +
                                      std::to_string(q) + ") is not finite");
            }
            const double partner = one_body[q * n + p];
            if (!close(value, partner, tolerance)) {
                throw InvalidArgument("one-electron integrals not symmetric: h(" +
                                      std::to_string(p) + " " + std::to_string(q) +
                                      ") = " + number_text(value) + " but h(" + std::to_string(q) +
                                      " " + std::to_string(p) + ") = " + number_text(partner));
            }
        }
    }
    // Row-major order, descending: the element whose indexes come first is written last.
    for (std::size_t p = n; p-- > 0;) {
        for (std::size_t q = n; q-- > 0;) {
            out.set_one_body(p, q, one_body[p * n + q]);
        }
    }
    const auto at = [&](std::size_t p, std::size_t q, std::size_t r, std::size_t s) {
        return two_body[((p * n + q) * n + r) * n + s];
    };
    const auto label = [](std::size_t p, std::size_t q, std::size_t r, std::size_t s) {
        return "(" + std::to_string(p) + " " + std::to_string(q) + "|" + std::to_string(r) + " " +
               std::to_string(s) + ")";
    };
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q < n; ++q) {
            for (std::size_t r = 0; r < n; ++r) {
                for (std::size_t s = 0; s < n; ++s) {
                    const double value = at(p, q, r, s);
                    if (!std::isfinite(value)) {
                        throw InvalidArgument("two-electron integral " + label(p, q, r, s) +
                                              " is not finite");
                    }
                    // Checking the three generators of the symmetry group suffices.
                    const std::size_t partners[3][4] = {{q, p, r, s}, {p, q, s, r}, {r, s, p, q}};
                    for (const auto& o : partners) {
                        const double other = at(o[0], o[1], o[2], o[3]);
                        if (!close(value, other, tolerance)) {
                            throw InvalidArgument(
                                "two-electron integrals not symmetric: " + label(p, q, r, s) +
                                " = " + number_text(value) + " but " +
                                label(o[0], o[1], o[2], o[3]) + " = " + number_text(other));
                        }
                    }
                }
            }
        }
    }
    for (std::size_t k = n * n * n * n; k-- > 0;) {
        const std::size_t s = k % n;
        const std::size_t r = k / n % n;
        const std::size_t q = k / (n * n) % n;
        const std::size_t p = k / (n * n * n);
        out.set_two_body(p, q, r, s, two_body[k]);
    }
    return out;
}

Integrals freeze_orbitals(const Integrals& integrals, std::size_t num_frozen,
                          std::size_t num_active) {
    const std::size_t n = integrals.num_orbitals();
    if (num_frozen > n || num_active > n - num_frozen) {
        throw InvalidArgument("active space does not fit: " + std::to_string(num_frozen) +
                              " frozen and " + std::to_string(num_active) +
                              " active orbitals, but only " + std::to_string(n) + " orbitals");
    }
    Integrals out(num_active);
    double core = integrals.constant();
    for (std::size_t c = 0; c < num_frozen; ++c) {
        core += 2.0 * integrals.h(c, c);
    }
    for (std::size_t c = 0; c < num_frozen; ++c) {
        for (std::size_t d = 0; d < num_frozen; ++d) {
            core += 2.0 * integrals.eri(c, c, d, d) - integrals.eri(c, d, d, c);
        }
    }
    out.set_constant(core);
    const std::size_t f = num_frozen;
    for (std::size_t p = 0; p < num_active; ++p) {
        for (std::size_t q = 0; q <= p; ++q) {
            double value = integrals.h(f + p, f + q);
            for (std::size_t c = 0; c < num_frozen; ++c) {
                value +=
                    2.0 * integrals.eri(f + p, f + q, c, c) - integrals.eri(f + p, c, c, f + q);
            }
            out.set_one_body(p, q, value);
        }
    }
    for (std::size_t p = 0; p < num_active; ++p) {
        for (std::size_t q = 0; q <= p; ++q) {
            for (std::size_t r = 0; r < num_active; ++r) {
                for (std::size_t s = 0; s <= r; ++s) {
                    out.set_two_body(p, q, r, s, integrals.eri(f + p, f + q, f + r, f + s));
                }
            }
        }
    }
    return out;
}

}  // namespace zel::chem
