#pragma once

// The promises of the FCIDUMP reader, checked on any bytes. Shared by the libFuzzer target
// (fuzz/fcidump_fuzz.cpp) and the replay of its corpus in the test suite
// (tests/chem/fcidump_corpus_replay_test.cpp).
//
// For any text, `parse_fcidump` either returns or throws `FcidumpError`, nothing else. An error
// names the source and a line inside the text, and its message is short printable ASCII. A
// result has at most MAX_ORBITALS orbitals, electron counts that fit them, finite integrals, and
// writes to a text that reads back to the same data, bit for bit, and writes to the same text.

#include <cmath>
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>

#include "zel/chem/fcidump.hpp"

namespace zel::fcidump_fuzz {

/// Longest reason an error may give: quoted tokens are cut short.
inline constexpr std::size_t MAX_REASON_BYTES = 200;

inline std::size_t line_count(std::string_view text) {
    std::size_t lines = 1;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

/// An empty string when `text` keeps every promise, else what went wrong.
inline std::string check_text(std::string_view text) {
    chem::Fcidump data;
    try {
        data = chem::parse_fcidump(text, "fuzz");
    } catch (const chem::FcidumpError& error) {
        const std::string what = error.what();
        if (error.source() != "fuzz" || what.rfind("fuzz:", 0) != 0) {
            return "error does not name the source: " + what;
        }
        if (error.line() > line_count(text)) {
            return "error names line " + std::to_string(error.line()) + " beyond the text";
        }
        if (error.reason().empty() || error.reason().size() > MAX_REASON_BYTES) {
            return "error reason empty or too long: " + what;
        }
        for (char c : what) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
                return "error message has a byte that is not printable ASCII";
            }
        }
        return "";
    } catch (const std::exception& error) {
        return std::string("threw ") + typeid(error).name() + ": " + error.what();
    }
    const std::size_t n = data.integrals.num_orbitals();
    if (n == 0 || n > chem::MAX_ORBITALS || data.num_electrons > 2 * n || data.orbsym.size() != n ||
        data.orbital_energies.size() != n) {
        return "accepted an impossible header";
    }
    const chem::Sector sector = data.sector();
    if (sector.num_alpha > n || sector.num_beta > n ||
        sector.num_alpha + sector.num_beta != data.num_electrons) {
        return "accepted electrons that do not fit";
    }
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t q = 0; q <= p; ++q) {
            bool finite = std::isfinite(data.integrals.h(p, q));
            for (std::size_t r = 0; r <= p; ++r) {
                for (std::size_t s = 0; s <= r; ++s) {
                    finite = finite && std::isfinite(data.integrals.eri(p, q, r, s));
                }
            }
            if (!finite) {
                return "accepted a value that is not finite";
            }
        }
    }
    const std::string written = chem::fcidump_text(data);
    chem::Fcidump back;
    try {
        back = chem::parse_fcidump(written, "written");
    } catch (const std::exception& error) {
        return std::string("written text does not read back: ") + error.what();
    }
    if (!(back == data)) {
        return "written text reads back to other data";
    }
    if (chem::fcidump_text(back) != written) {
        return "writing again gives other text";
    }
    return "";
}

}  // namespace zel::fcidump_fuzz
