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

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

/// Text of a token for messages: at most 40 bytes, non-printable bytes as '?'.
std::string quoted(std::string_view token) {
    std::string out = "'";
    for (std::size_t k = 0; k < token.size() && k < 40; ++k) {
        const auto c = static_cast<unsigned char>(token[k]);
        out += std::isprint(c) ? static_cast<char>(c) : '?';
    }
    if (token.size() > 40) {
        out += "...";
    }
    return out + "'";
}

/// The shortest text that reads back as `value`.
std::string shortest(double value) {
    char buffer[32];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    static_cast<void>(ec);
    return std::string(buffer, ptr);
}

bool close(double a, double b) {
    const double diff = std::abs(a - b);
    return diff <= SYMMETRY_TOLERANCE ||
           diff <= SYMMETRY_TOLERANCE * std::max(std::abs(a), std::abs(b));
}

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

Fcidump parse_fcidump(std::string_view text, std::string_view source_name) {
    return Reader(text, std::string(source_name)).read();
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
