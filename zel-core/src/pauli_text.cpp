// Pauli sums as text: the parser and the writer.
//
//   sum     := [sign] term { sign term }          whitespace allowed between any two tokens
//   sign    := "+" | "-"
//   term    := number [ "*" ] factors | number | factors
//   factors := word { [ "*" ] word }
//   word    := letter digits                        one factor: the letter on that qubit
//            | letter { letter }                    a whole string, rightmost letter on qubit 0
//   letter  := "I" | "X" | "Y" | "Z"
//   number  := digits [ "." [digits] ] [exponent] | "." digits [exponent]
//
// A whole string ("XIZ") stands alone in its term; its I letters add no factor, while an
// indexed I ("I3") is kept as a factor.

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "zel/core/error.hpp"
#include "zel/core/float_text.hpp"
#include "zel/core/observable.hpp"

namespace zel {
namespace {

bool is_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

bool is_pauli_letter(char c) noexcept {
    return c == 'I' || c == 'X' || c == 'Y' || c == 'Z';
}

Pauli pauli_of(char c) noexcept {
    switch (c) {
        case 'X':
            return Pauli::X;
        case 'Y':
            return Pauli::Y;
        case 'Z':
            return Pauli::Z;
        default:
            return Pauli::I;
    }
}

// A byte for an error message: itself when printable, else its code.
std::string shown(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) {
        return std::string("'") + c + "'";
    }
    constexpr char HEX[] = "0123456789abcdef";
    return std::string("byte 0x") + HEX[u >> 4] + HEX[u & 15];
}

// `word` between single quotes. Built by appending: prepending to a temporary string makes g++ 12
// warn falsely about overlapping copies at -O3.
std::string quoted(std::string_view word) {
    std::string text = "'";
    text += word;
    text += "'";
    return text;
}

class PauliParser {
  public:
    explicit PauliParser(std::string_view text) noexcept : text_(text) {
    }

    PauliSum parse() {
        PauliSum sum;
        skip_space();
        if (at_end()) {
            fail("expected a term");
        }
        double sign = 1.0;
        if (peek() == '+' || peek() == '-') {
            sign = take() == '-' ? -1.0 : 1.0;
        }
        while (true) {
            skip_space();
            if (at_end()) {
                fail(std::string("expected a term after '") + text_[pos_ - 1] + "'");
            }
            sum.terms.push_back(term(sign));
            skip_space();
            if (at_end()) {
                return sum;
            }
            if (peek() != '+' && peek() != '-') {
                fail("expected '+' or '-' between terms, found " + shown(peek()));
            }
            sign = take() == '-' ? -1.0 : 1.0;
        }
    }

  private:
    PauliTerm term(double sign) {
        PauliTerm result;
        if (!seen_qubits_.empty()) {
            seen_qubits_.clear();
        }
        double magnitude = 1.0;
        bool has_number = false;
        if (is_digit(peek()) || peek() == '.') {
            magnitude = number();
            has_number = true;
            skip_space();
            skip_optional_star();
        }
        result.coefficient = sign * magnitude;
        if (at_end() || !is_pauli_letter(peek())) {
            if (!has_number) {
                fail_here_or_end("expected a coefficient or a Pauli letter I, X, Y or Z");
            }
            return result;
        }
        bool whole_string = false;
        while (true) {
            const std::size_t start = pos_;
            std::size_t letters = 0;
            while (!at_end() && is_pauli_letter(peek())) {
                take();
                ++letters;
            }
            if (!at_end() && std::isalpha(static_cast<unsigned char>(peek())) != 0) {
                fail(shown(peek()) + " is not a Pauli letter (I, X, Y or Z)");
            }
            const bool indexed = !at_end() && is_digit(peek());
            if (indexed && letters > 1) {
                std::size_t word_end = pos_;
                while (word_end < text_.size() && is_digit(text_[word_end])) {
                    ++word_end;
                }
                fail_at(start, quoted(text_.substr(start, word_end - start)) +
                                   " has several letters before a qubit index; write one letter "
                                   "per index (X1 Z0) or the letters alone (XZ)");
            }
            if (whole_string || (!indexed && !result.paulis.empty())) {
                fail_at(start, "a Pauli string without indexes stands alone in its term");
            }
            if (indexed) {
                const std::uint64_t qubit = index();
                add_factor(result, start, {qubit, pauli_of(text_[start])});
            } else {
                // The letters of a whole string stand on distinct qubits and nothing else shares
                // their term, so no check for repeats.
                whole_string = true;
                result.paulis.reserve(letters);
                for (std::size_t k = 0; k < letters; ++k) {
                    const char letter = text_[start + k];
                    if (letter != 'I') {
                        result.paulis.push_back({letters - 1 - k, pauli_of(letter)});
                    }
                }
            }
            // Another factor may follow after whitespace or a '*'.
            skip_space();
            skip_optional_star();
            if (at_end() || !is_pauli_letter(peek())) {
                return result;
            }
        }
    }

    // Skips a '*' (and the whitespace after it), which must be followed by a factor.
    void skip_optional_star() {
        if (!at_end() && peek() == '*') {
            take();
            skip_space();
            if (at_end() || !is_pauli_letter(peek())) {
                fail_here_or_end("expected a Pauli factor after '*'");
            }
        }
    }

    // Appends `factor`, refusing a qubit the term already has. Short terms compare with every
    // earlier factor; from SCAN_UP_TO factors on, a set of the term's qubits keeps a term of k
    // factors at O(k) instead of O(k^2).
    void add_factor(PauliTerm& term, std::size_t at, PauliFactor factor) {
        if (term.paulis.size() < SCAN_UP_TO) {
            for (const PauliFactor& existing : term.paulis) {
                if (existing.qubit == factor.qubit) {
                    fail_repeat(at, factor.qubit);
                }
            }
        } else {
            if (seen_qubits_.empty()) {
                for (const PauliFactor& existing : term.paulis) {
                    seen_qubits_.insert(existing.qubit);
                }
            }
            if (!seen_qubits_.insert(factor.qubit).second) {
                fail_repeat(at, factor.qubit);
            }
        }
        term.paulis.push_back(factor);
    }

    [[noreturn]] void fail_repeat(std::size_t at, std::uint64_t qubit) const {
        fail_at(at, "qubit " + std::to_string(qubit) + " appears twice in one term");
    }

    double number() {
        const std::size_t start = pos_;
        while (!at_end() && is_digit(peek())) {
            take();
        }
        if (!at_end() && peek() == '.') {
            take();
            while (!at_end() && is_digit(peek())) {
                take();
            }
        }
        if (pos_ - start == 1 && text_[start] == '.') {
            fail_at(start, "expected digits in a number");
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            take();
            if (!at_end() && (peek() == '+' || peek() == '-')) {
                take();
            }
            if (at_end() || !is_digit(peek())) {
                fail_here_or_end("expected the digits of an exponent");
            }
            while (!at_end() && is_digit(peek())) {
                take();
            }
        }
        double value = 0.0;
        const char* first = text_.data() + start;
        const char* last = text_.data() + pos_;
        const auto result = std::from_chars(first, last, value);
        if (result.ec == std::errc::result_out_of_range || !std::isfinite(value)) {
            fail_at(start, "the number " + std::string(first, last) + " is out of range");
        }
        if (result.ec != std::errc{} || result.ptr != last) {
            fail_at(start, "malformed number " + std::string(first, last));
        }
        return value;
    }

    std::uint64_t index() {
        const std::size_t start = pos_;
        while (!at_end() && is_digit(peek())) {
            take();
        }
        std::uint64_t value = 0;
        const auto result = std::from_chars(text_.data() + start, text_.data() + pos_, value);
        if (result.ec != std::errc{}) {
            fail_at(start, "qubit index " + std::string(text_.substr(start, pos_ - start)) +
                               " does not fit in 64 bits");
        }
        if (!at_end() && std::isalpha(static_cast<unsigned char>(peek())) != 0) {
            fail("expected whitespace, '*', '+' or '-' after a qubit index, found " +
                 shown(peek()));
        }
        return value;
    }

    bool at_end() const noexcept {
        return pos_ >= text_.size();
    }
    char peek() const noexcept {
        return at_end() ? '\0' : text_[pos_];
    }
    char take() noexcept {
        return text_[pos_++];
    }
    void skip_space() noexcept {
        while (!at_end() && is_space(peek())) {
            ++pos_;
        }
    }

    [[noreturn]] void fail(const std::string& reason) const {
        throw ParseError(pos_, reason);
    }
    [[noreturn]] void fail_at(std::size_t at, const std::string& reason) const {
        throw ParseError(at, reason);
    }
    [[noreturn]] void fail_here_or_end(const std::string& reason) const {
        if (at_end()) {
            throw ParseError(pos_, reason + ", found the end of the text");
        }
        throw ParseError(pos_, reason + ", found " + shown(peek()));
    }

    static constexpr std::size_t SCAN_UP_TO = 16;

    std::string_view text_;
    std::size_t pos_ = 0;
    std::unordered_set<std::uint64_t> seen_qubits_;
};

}  // namespace

PauliSum parse_pauli_sum(std::string_view text) {
    return PauliParser(text).parse();
}

std::string pauli_text(const PauliSum& sum) {
    std::string text;
    for (std::size_t t = 0; t < sum.terms.size(); ++t) {
        const PauliTerm& term = sum.terms[t];
        const bool negative = std::signbit(term.coefficient);
        if (t == 0) {
            text += negative ? "-" : "";
        } else {
            text += negative ? " - " : " + ";
        }
        text += format_float_debug(std::fabs(term.coefficient));
        for (std::size_t f = 0; f < term.paulis.size(); ++f) {
            text += f == 0 ? " * " : " ";
            text += "IXYZ"[static_cast<int>(term.paulis[f].kind)];
            text += std::to_string(term.paulis[f].qubit);
        }
    }
    return text;
}

}  // namespace zel
