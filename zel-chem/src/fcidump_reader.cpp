// The FCIDUMP reader: the namelist header, the integral lines and the symmetry fill of the
// integrals, each error naming the source and line.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "zel/chem/fcidump.hpp"

#include "fcidump_tokens.hpp"

namespace zel::chem {
namespace {

using detail::close;
using detail::equal_ignoring_case;
using detail::is_blank;
using detail::quoted;
using detail::shortest;
using detail::upper;

/// A token of the text and the line it is on.
struct Token {
    std::string_view text;
    std::size_t line;
};

class Reader {
  public:
    Reader(std::string_view text, std::string source) : text_(text), source_(std::move(source)) {
    }

    Fcidump read() {
        read_header();
        read_body();
        return std::move(result_);
    }

  private:
    [[noreturn]] void fail(std::size_t line, const std::string& reason) const {
        throw FcidumpError(source_, line, reason);
    }

    /// The next line (without its terminator) into `line_text_`; false at the end.
    bool next_line() {
        if (pos_ >= text_.size()) {
            return false;
        }
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line_text_ = text_.substr(pos_, stop - pos_);
        pos_ = stop + 1;
        ++line_;
        return true;
    }

    // --- Header -------------------------------------------------------------------------------

    void read_header() {
        // The header's tokens: names, '=', values and the terminator; commas are blanks.
        std::vector<Token> tokens;
        bool started = false;
        bool ended = false;
        while (!ended && next_line()) {
            std::string_view rest = line_text_;
            while (!rest.empty()) {
                const char c = rest.front();
                if (is_blank(c) || c == ',') {
                    rest.remove_prefix(1);
                    continue;
                }
                std::size_t len = 1;
                if (c != '=' && c != '/') {
                    while (len < rest.size() && !is_blank(rest[len]) && rest[len] != ',' &&
                           rest[len] != '=' && rest[len] != '/') {
                        ++len;
                    }
                }
                const std::string_view token = rest.substr(0, len);
                rest.remove_prefix(len);
                if (!started) {
                    if (!equal_ignoring_case(token, "&FCI")) {
                        fail(line_, "expected the header '&FCI', found " + quoted(token));
                    }
                    started = true;
                    continue;
                }
                if (token == "/" || equal_ignoring_case(token, "&END") ||
                    equal_ignoring_case(token, "$END")) {
                    ended = true;
                    if (!(std::all_of(rest.begin(), rest.end(), [](char x) {
                            return is_blank(x) || x == ',';
                        }))) {
                        fail(line_, "text after the end of the header");
                    }
                    break;
                }
                tokens.push_back({token, line_});
            }
        }
        if (!started) {
            fail(line_, "missing header '&FCI'");
        }
        if (!ended) {
            fail(line_, "header not closed by '&END' or '/'");
        }
        header_end_line_ = line_;
        parse_fields(tokens);
    }

    std::int64_t integer(const Token& token, std::string_view field) const {
        std::int64_t value = 0;
        const char* first = token.text.data();
        const char* last = first + token.text.size();
        if (!token.text.empty() && *first == '+') {
            ++first;
        }
        const auto [ptr, ec] = std::from_chars(first, last, value);
        if (ec != std::errc() || ptr != last || first == last) {
            fail(token.line,
                 std::string(field) + ": expected an integer, found " + quoted(token.text));
        }
        return value;
    }

    void parse_fields(const std::vector<Token>& tokens) {
        bool have_norb = false;
        bool have_nelec = false;
        bool have_ms2 = false;
        bool have_orbsym = false;
        bool have_isym = false;
        bool have_uhf = false;
        std::int64_t norb = 0;
        std::int64_t nelec = 0;
        std::vector<Token> orbsym;
        std::size_t k = 0;
        while (k < tokens.size()) {
            const Token& name = tokens[k];
            if (name.text == "=") {
                fail(name.line, "'=' without a field name");
            }
            if (k + 1 >= tokens.size() || tokens[k + 1].text != "=") {
                fail(name.line, "expected '=' after the field name " + quoted(name.text));
            }
            // The values run to the next name (a token followed by '=').
            std::size_t first = k + 2;
            std::size_t stop = first;
            while (stop < tokens.size() && tokens[stop].text != "=" &&
                   !(stop + 1 < tokens.size() && tokens[stop + 1].text == "=")) {
                ++stop;
            }
            const std::string field = upper(name.text);
            const std::size_t count = stop - first;
            const auto single = [&]() -> const Token& {
                if (count != 1) {
                    fail(name.line, field + ": expected one value, found " + std::to_string(count));
                }
                return tokens[first];
            };
            const auto once = [&](bool& seen) {
                if (seen) {
                    fail(name.line, "field " + field + " given twice");
                }
                seen = true;
            };
            if (field == "NORB") {
                once(have_norb);
                norb = integer(single(), field);
            } else if (field == "NELEC") {
                once(have_nelec);
                nelec = integer(single(), field);
            } else if (field == "MS2") {
                once(have_ms2);
                result_.ms2 = integer(single(), field);
            } else if (field == "ISYM") {
                once(have_isym);
                result_.isym = integer(single(), field);
            } else if (field == "ORBSYM") {
                once(have_orbsym);
                orbsym.assign(tokens.begin() + static_cast<std::ptrdiff_t>(first),
                              tokens.begin() + static_cast<std::ptrdiff_t>(stop));
            } else if (field == "UHF" || field == "IUHF") {
                once(have_uhf);
                const Token& value = single();
                const std::string text = upper(value.text);
                if (text == "1" || text == ".TRUE." || text == "TRUE" || text == "T" ||
                    text == ".T.") {
                    fail(value.line,
                         "unrestricted (UHF) integrals are not supported; write restricted "
                         "integrals");
                }
                if (!(text == "0" || text == ".FALSE." || text == "FALSE" || text == "F" ||
                      text == ".F.")) {
                    fail(value.line,
                         "UHF: expected 0, 1, .TRUE. or .FALSE., found " + quoted(value.text));
                }
            } else {
                fail(name.line, "unknown header field " + quoted(name.text));
            }
            k = stop;
        }
        const std::size_t line = header_end_line_;
        if (!have_norb) {
            fail(line, "missing header field NORB");
        }
        if (!have_nelec) {
            fail(line, "missing header field NELEC");
        }
        if (norb <= 0 || norb > static_cast<std::int64_t>(MAX_ORBITALS)) {
            fail(line, "NORB=" + std::to_string(norb) + " out of range (1 to " +
                           std::to_string(MAX_ORBITALS) + ")");
        }
        if (nelec < 0) {
            fail(line, "NELEC=" + std::to_string(nelec) + " is negative");
        }
        if (nelec > 2 * norb) {
            fail(line, "NELEC=" + std::to_string(nelec) +
                           " beyond what NORB=" + std::to_string(norb) + " orbitals hold (" +
                           std::to_string(2 * norb) + ")");
        }
        const std::int64_t ms2 = result_.ms2;
        if (ms2 > nelec || ms2 < -nelec || (nelec + ms2) % 2 != 0 || (nelec + ms2) / 2 > norb ||
            (nelec - ms2) / 2 > norb) {
            fail(line, "MS2=" + std::to_string(ms2) +
                           " impossible with NELEC=" + std::to_string(nelec) +
                           " in NORB=" + std::to_string(norb) + " orbitals");
        }
        norb_ = static_cast<std::size_t>(norb);
        result_.num_electrons = static_cast<std::uint64_t>(nelec);
        if (have_orbsym) {
            if (orbsym.size() != norb_) {
                fail(orbsym.empty() ? line : orbsym.front().line,
                     "ORBSYM has " + std::to_string(orbsym.size()) +
                         " entries, NORB=" + std::to_string(norb));
            }
            for (const Token& token : orbsym) {
                result_.orbsym.push_back(integer(token, "ORBSYM"));
            }
        } else {
            result_.orbsym.assign(norb_, 1);
        }
        result_.integrals = Integrals(norb_);
        result_.orbital_energies.assign(norb_, std::nullopt);
    }

    // --- Body ---------------------------------------------------------------------------------

    double value_of(std::string_view token) const {
        // Fortran writes exponents with D; from_chars takes E.
        char buffer[64];
        if (token.size() >= sizeof buffer) {
            fail(line_, "not a number: " + quoted(token));
        }
        std::size_t len = 0;
        for (char c : token) {
            buffer[len++] = (c == 'D' || c == 'd') ? 'e' : c;
        }
        const char* first = buffer;
        if (len > 0 && *first == '+') {
            ++first;
        }
        double value = 0.0;
        const auto [ptr, ec] = std::from_chars(first, buffer + len, value);
        if (ptr != buffer + len || first == buffer + len ||
            (ec != std::errc() && ec != std::errc::result_out_of_range)) {
            fail(line_, "not a number: " + quoted(token));
        }
        if (ec == std::errc::result_out_of_range || !std::isfinite(value)) {
            fail(line_, "value " + quoted(token) + " is not finite");
        }
        return value;
    }

    std::size_t index_of(std::string_view token) const {
        std::int64_t value = 0;
        const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
        if (ec != std::errc() || ptr != token.data() + token.size()) {
            fail(line_, "index is not an integer: " + quoted(token));
        }
        if (value < 0) {
            fail(line_, "negative index " + std::to_string(value));
        }
        if (static_cast<std::uint64_t>(value) > norb_) {
            fail(line_, "index " + std::to_string(value) + " beyond NORB=" + std::to_string(norb_));
        }
        return static_cast<std::size_t>(value);
    }

    /// Stores `value` at slot `slot` of `seen`/`values`, or checks it against an earlier line.
    void store(std::vector<std::uint32_t>& seen, std::size_t slot, double value, double old,
               const auto& set) {
        if (seen[slot] != 0) {
            if (!close(old, value)) {
                fail(line_, "value " + shortest(value) + " contradicts " + shortest(old) +
                                " given for the same integral on line " +
                                std::to_string(seen[slot]));
            }
            return;
        }
        seen[slot] = static_cast<std::uint32_t>(
            std::min<std::size_t>(line_, std::numeric_limits<std::uint32_t>::max()));
        set();
    }

    void read_body() {
        const std::size_t n = norb_;
        const std::size_t pairs = n * (n + 1) / 2;
        std::vector<std::uint32_t> seen_two(pairs * (pairs + 1) / 2, 0);
        std::vector<std::uint32_t> seen_one(pairs, 0);
        std::vector<std::uint32_t> seen_energy(n, 0);
        std::vector<std::uint32_t> seen_constant(1, 0);
        const auto pair = [](std::size_t a, std::size_t b) {
            return a >= b ? a * (a + 1) / 2 + b : b * (b + 1) / 2 + a;
        };
        Integrals& integrals = result_.integrals;
        while (next_line()) {
            std::string_view fields[5];
            std::size_t count = 0;
            std::string_view rest = line_text_;
            while (!rest.empty()) {
                if (is_blank(rest.front())) {
                    rest.remove_prefix(1);
                    continue;
                }
                std::size_t len = 1;
                while (len < rest.size() && !is_blank(rest[len])) {
                    ++len;
                }
                if (count == 5) {
                    fail(line_, "more than five fields (value i j k l)");
                }
                fields[count++] = rest.substr(0, len);
                rest.remove_prefix(len);
            }
            if (count == 0) {
                continue;
            }
            if (count < 5) {
                fail(line_, "line cut short: expected 'value i j k l', found " +
                                std::to_string(count) + " field" + (count == 1 ? "" : "s"));
            }
            const double value = value_of(fields[0]);
            const std::size_t i = index_of(fields[1]);
            const std::size_t j = index_of(fields[2]);
            const std::size_t k = index_of(fields[3]);
            const std::size_t l = index_of(fields[4]);
            if (i > 0 && j > 0 && k > 0 && l > 0) {
                const std::size_t slot = pair(pair(i - 1, j - 1), pair(k - 1, l - 1));
                store(seen_two, slot, value, integrals.eri(i - 1, j - 1, k - 1, l - 1), [&] {
                    integrals.set_two_body(i - 1, j - 1, k - 1, l - 1, value);
                });
            } else if (i > 0 && j > 0 && k == 0 && l == 0) {
                store(seen_one, pair(i - 1, j - 1), value, integrals.h(i - 1, j - 1), [&] {
                    integrals.set_one_body(i - 1, j - 1, value);
                });
            } else if (i > 0 && j == 0 && k == 0 && l == 0) {
                store(seen_energy, i - 1, value, result_.orbital_energies[i - 1].value_or(0.0),
                      [&] {
                          result_.orbital_energies[i - 1] = value;
                      });
            } else if (i == 0 && j == 0 && k == 0 && l == 0) {
                store(seen_constant, 0, value, integrals.constant(), [&] {
                    integrals.set_constant(value);
                });
            } else {
                fail(line_, "index pattern " + std::to_string(i) + " " + std::to_string(j) + " " +
                                std::to_string(k) + " " + std::to_string(l) +
                                " is none of 'i j k l', 'i j 0 0', 'i 0 0 0', '0 0 0 0'");
            }
        }
    }

    std::string_view text_;
    std::string source_;
    std::size_t pos_ = 0;
    std::size_t line_ = 0;
    std::string_view line_text_;
    std::size_t header_end_line_ = 0;
    std::size_t norb_ = 0;
    Fcidump result_;
};

}  // namespace

Fcidump parse_fcidump(std::string_view text, std::string_view source_name) {
    return Reader(text, std::string(source_name)).read();
}

}  // namespace zel::chem
