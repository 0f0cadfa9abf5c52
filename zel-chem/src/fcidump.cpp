// FCIDUMP files: their errors, reading a file, the writer, and the active space of a file's
// integrals.

#include "zel/chem/fcidump.hpp"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <ios>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>

namespace zel::chem {
namespace {

std::string error_message(const std::string& source, std::size_t line, const std::string& reason) {
    if (line == 0) {
        return source + ": " + reason;
    }
    return source + ":" + std::to_string(line) + ": " + reason;
}

void append_value(std::string& out, double value) {
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    static_cast<void>(ec);
    const std::size_t len = static_cast<std::size_t>(ptr - buffer);
    // Right-aligned in 25 columns, as Fortran readers of the fixed layout expect at least.
    if (len < 25) {
        out.append(25 - len, ' ');
    }
    out.append(buffer, len);
}

void append_line(std::string& out, double value, std::size_t i, std::size_t j, std::size_t k,
                 std::size_t l) {
    append_value(out, value);
    for (std::size_t index : {i, j, k, l}) {
        const std::string text = std::to_string(index);
        out.append(text.size() < 4 ? 4 - text.size() : 1, ' ');
        out += text;
    }
    out += '\n';
}

bool nonzero_bits(double value) {
    return std::bit_cast<std::uint64_t>(value) != 0;
}

}  // namespace

FcidumpError::FcidumpError(std::string source, std::size_t line, std::string reason)
    : InvalidArgument(error_message(source, line, reason)),
      source_(std::move(source)),
      line_(line),
      reason_(std::move(reason)) {
}

Sector Fcidump::sector() const noexcept {
    const auto n = static_cast<std::int64_t>(num_electrons);
    return Sector{static_cast<std::size_t>((n + ms2) / 2), static_cast<std::size_t>((n - ms2) / 2)};
}

Fcidump read_fcidump(const std::filesystem::path& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        throw FcidumpError(path.string(), 0, "cannot read: is a directory");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw FcidumpError(path.string(), 0, std::string("cannot open: ") + std::strerror(errno));
    }
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        // The stream buffer throws when the read itself fails (EIO, a directory).
        throw FcidumpError(path.string(), 0, "read failed");
    }
    if (in.bad()) {
        throw FcidumpError(path.string(), 0, "read failed");
    }
    return parse_fcidump(text, path.string());
}

std::string fcidump_text(const Fcidump& data) {
    const Integrals& integrals = data.integrals;
    const std::size_t n = integrals.num_orbitals();
    std::string out = "&FCI NORB=" + std::to_string(n) +
                      ",NELEC=" + std::to_string(data.num_electrons) +
                      ",MS2=" + std::to_string(data.ms2) + ",\n ORBSYM=";
    for (std::size_t p = 0; p < n; ++p) {
        out += std::to_string(p < data.orbsym.size() ? data.orbsym[p] : 1) + ",";
    }
    out += "\n ISYM=" + std::to_string(data.isym) + ",\n&END\n";
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q <= p; ++q) {
            for (std::size_t r = 0; r <= p; ++r) {
                for (std::size_t s = 0; s <= (r == p ? q : r); ++s) {
                    const double value = integrals.eri(p, q, r, s);
                    if (nonzero_bits(value)) {
                        append_line(out, value, p + 1, q + 1, r + 1, s + 1);
                    }
                }
            }
        }
    }
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q <= p; ++q) {
            const double value = integrals.h(p, q);
            if (nonzero_bits(value)) {
                append_line(out, value, p + 1, q + 1, 0, 0);
            }
        }
    }
    for (std::size_t p = 0; p < n && p < data.orbital_energies.size(); ++p) {
        if (data.orbital_energies[p]) {
            append_line(out, *data.orbital_energies[p], p + 1, 0, 0, 0);
        }
    }
    append_line(out, integrals.constant(), 0, 0, 0, 0);
    return out;
}

void write_fcidump(const Fcidump& data, const std::filesystem::path& path) {
    const std::string text = fcidump_text(data);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw FcidumpError(path.string(), 0,
                           std::string("cannot open for writing: ") + std::strerror(errno));
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
        throw FcidumpError(path.string(), 0, "write failed");
    }
}

Fcidump active_space(const Fcidump& data, std::uint64_t active_electrons,
                     std::size_t active_orbitals) {
    const std::size_t n = data.integrals.num_orbitals();
    if (active_electrons > data.num_electrons) {
        throw InvalidArgument("active electrons (" + std::to_string(active_electrons) +
                              ") exceed NELEC=" + std::to_string(data.num_electrons));
    }
    if ((data.num_electrons - active_electrons) % 2 != 0) {
        throw InvalidArgument(
            "NELEC - active electrons = " + std::to_string(data.num_electrons - active_electrons) +
            " is odd; frozen orbitals hold electron pairs");
    }
    const std::size_t frozen =
        static_cast<std::size_t>((data.num_electrons - active_electrons) / 2);
    if (frozen > n || active_orbitals > n - frozen) {
        throw InvalidArgument(std::to_string(frozen) + " frozen and " +
                              std::to_string(active_orbitals) +
                              " active orbitals exceed NORB=" + std::to_string(n));
    }
    const auto ae = static_cast<std::int64_t>(active_electrons);
    const auto m = static_cast<std::int64_t>(active_orbitals);
    if (data.ms2 > ae || data.ms2 < -ae || (ae + data.ms2) / 2 > m || (ae - data.ms2) / 2 > m) {
        throw InvalidArgument(std::to_string(active_electrons) + " active electrons with MS2=" +
                              std::to_string(data.ms2) + " do not fit in " +
                              std::to_string(active_orbitals) + " active orbitals");
    }
    Fcidump out;
    out.integrals = freeze_orbitals(data.integrals, frozen, active_orbitals);
    out.num_electrons = active_electrons;
    out.ms2 = data.ms2;
    out.isym = data.isym;
    for (std::size_t p = frozen; p < frozen + active_orbitals; ++p) {
        out.orbsym.push_back(p < data.orbsym.size() ? data.orbsym[p] : 1);
        out.orbital_energies.push_back(p < data.orbital_energies.size() ? data.orbital_energies[p]
                                                                        : std::nullopt);
    }
    return out;
}

}  // namespace zel::chem
