// Angles of the reader: the parenthesised angle list of a gate call and its expressions,
// evaluated in double precision with OpenQASM's integer typing.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"

#include "qasm_reader.hpp"

namespace zel::qasm {

std::string without_underscores(std::string_view digits) {
    std::string text;
    text.reserve(digits.size());
    for (const char c : digits) {
        if (c != '_') {
            text += c;
        }
    }
    return text;
}

// Whether a decimal literal that from_chars found out of range lies above the doubles rather than
// below them. Its value is d.ddd x 10^E, where E counts from the first non-zero digit to the point
// plus the exponent; out of range means E > 308 or E < -323, so the sign of E decides.
bool above_range(std::string_view literal) {
    constexpr long long SATURATION = 1'000'000'000'000LL;
    const std::size_t e = literal.find_first_of("eE");
    const std::string_view mantissa = literal.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::size_t k = e + 1;
        const bool negative = k < literal.size() && literal[k] == '-';
        if (k < literal.size() && (literal[k] == '-' || literal[k] == '+')) {
            ++k;
        }
        for (; k < literal.size(); ++k) {
            exponent = std::min(SATURATION, exponent * 10 + (literal[k] - '0'));
        }
        exponent = negative ? -exponent : exponent;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_not_of("0.");
    if (first == std::string_view::npos) {
        return false;
    }
    const long long lead = first < point ? static_cast<long long>(point - first - 1)
                                         : -static_cast<long long>(first - point);
    return lead + exponent > 0;
}

std::string Reader::takes_angles(std::size_t count) {
    if (count <= 1) {
        return count == 0 ? " takes no angle" : " takes one angle";
    }
    return " takes " + std::to_string(count) + " angles";
}

// The parenthesised angles of a gate call, as many as the form takes.
std::vector<double> Reader::angle_list(std::string_view name, const GateForm& form) {
    advance();
    std::vector<double> angles;
    while (!current_.is(")")) {
        if (angles.size() == form.param_count) {
            fail(current_, quoted(name) + takes_angles(form.param_count));
        }
        const double angle = expression(0).number;
        // NaN results carry whatever sign and payload the arithmetic left (0.0 / 0 is
        // negative on x86); every NaN angle reads as the one quiet NaN, so that the bits are
        // the same on every machine and survive the export, which writes every NaN as "NaN".
        angles.push_back(std::isnan(angle) ? std::numeric_limits<double>::quiet_NaN() : angle);
        if (current_.is(",")) {
            advance();
        } else if (!current_.is(")")) {
            fail(current_, "expected ',' or ')' after the angle, found " + describe(current_));
        }
    }
    if (angles.size() < form.param_count) {
        fail(current_, quoted(name) + takes_angles(form.param_count) + ", found " +
                           (angles.empty() ? std::string("none") : std::to_string(angles.size())));
    }
    advance();
    return angles;
}

// Angle expressions: '+' and '-' below '*' and '/', below unary '-'; operators of one level
// apply left to right. `depth` counts the open parentheses.
Value Reader::expression(std::size_t depth) {
    Value value = term(depth);
    while (current_.is("+") || current_.is("-")) {
        const Token op = advance();
        value = combine(op, value, term(depth));
    }
    return value;
}

Value Reader::term(std::size_t depth) {
    Value value = unary(depth);
    while (current_.is("*") || current_.is("/") || current_.is("%")) {
        if (current_.is("%")) {
            fail(current_, "the operator '%' is not supported in angles");
        }
        const Token op = advance();
        value = combine(op, value, unary(depth));
    }
    return value;
}

Value Reader::unary(std::size_t depth) {
    bool negate = false;
    while (current_.is("-")) {
        negate = !negate;
        advance();
    }
    Value value = power(depth);
    if (negate) {
        value.number = -value.number;
    }
    return value;
}

Value Reader::primary(std::size_t depth) {
    const Token token = current_;
    switch (token.kind) {
        case TokenKind::Integer:
            advance();
            return Value{literal_value(token), true};
        case TokenKind::Float:
            advance();
            return Value{literal_value(token), false};
        case TokenKind::Identifier:
            advance();
            return named_value(token, depth);
        case TokenKind::Punct:
            if (token.is("(")) {
                if (depth >= QASM_MAX_NESTING) {
                    fail(token, "parentheses nest deeper than " + std::to_string(QASM_MAX_NESTING) +
                                    " levels");
                }
                advance();
                const Value value = expression(depth + 1);
                expect(")", "to close the parenthesis");
                return value;
            }
            break;
        case TokenKind::String:
        case TokenKind::End:
            break;
    }
    fail(token, "expected a number, found " + describe(token));
}

// A power: OpenQASM 2's '^' and OpenQASM 3's '**', binding tighter than unary minus and to the
// right (2^3^2 is 2^9; -2**2 is -4). A whole power of integers stays an integer while it is exact.
Value Reader::power(std::size_t depth) {
    Value base = primary(depth);
    const bool caret = current_.is("^");
    if (!caret && !current_.is("**")) {
        return base;
    }
    if (caret && version_ != 2) {
        fail(current_,
             "'^' is a bit operation in OpenQASM 3, not supported in angles (the power "
             "is '**')");
    }
    if (!caret && version_ == 2) {
        fail(current_, "'**' is OpenQASM 3's power operator; OpenQASM 2.0 writes '^'");
    }
    advance();
    bool negate = false;
    while (current_.is("-")) {
        negate = !negate;
        advance();
    }
    Value exponent = power(depth);
    const double e = negate ? -exponent.number : exponent.number;
    const double result = std::pow(base.number, e);
    const bool integer = !caret && base.integer && exponent.integer && e >= 0 &&
                         std::abs(result) < EXACT_INTEGERS_BELOW;
    return Value{result, integer};
}

// The language's functions of one angle.
Value Reader::function_call(const Token& name, std::size_t depth) {
    double (*function)(double) = nullptr;
    static constexpr std::array<std::pair<std::string_view, double (*)(double)>, 9> FUNCTIONS = {{
        {"sin",
         [](double x) {
             return std::sin(x);
         }},
        {"cos",
         [](double x) {
             return std::cos(x);
         }},
        {"tan",
         [](double x) {
             return std::tan(x);
         }},
        {"exp",
         [](double x) {
             return std::exp(x);
         }},
        {"ln",
         [](double x) {
             return std::log(x);
         }},
        {"sqrt",
         [](double x) {
             return std::sqrt(x);
         }},
        {"arccos",
         [](double x) {
             return std::acos(x);
         }},
        {"arcsin",
         [](double x) {
             return std::asin(x);
         }},
        {"arctan",
         [](double x) {
             return std::atan(x);
         }},
    }};
    for (const auto& [spelling, f] : FUNCTIONS) {
        if (spelling == name.text) {
            function = f;
        }
    }
    if (function == nullptr) {
        fail(name, "function " + quoted(name.text) + " is not supported in angles");
    }
    if (depth >= QASM_MAX_NESTING) {
        fail(current_,
             "parentheses nest deeper than " + std::to_string(QASM_MAX_NESTING) + " levels");
    }
    advance();
    const Value argument = expression(depth + 1);
    expect(")", "to close the argument of " + quoted(name.text));
    return Value{function(argument.number + 0.0), false};
}

Value Reader::named_value(const Token& token, std::size_t depth) {
    const std::string_view name = token.text;
    if (current_.is("(")) {
        return function_call(token, depth);
    }
    if (parameters_ != nullptr) {
        if (const auto found = parameters_->find(name); found != parameters_->end()) {
            return Value{found->second, false};
        }
    }
    if (parameters_ == nullptr) {
        if (const auto found = inputs_.find(name); found != inputs_.end()) {
            return Value{found->second, false};
        }
    }
    if (name == "pi" || name == "π") {
        return Value{std::numbers::pi, false};
    }
    if (name == "tau" || name == "τ") {
        return Value{2.0 * std::numbers::pi, false};
    }
    if (name == "euler" || name == "ℇ") {
        return Value{std::numbers::e, false};
    }
    // The exporter's spellings of non-finite angles, which OpenQASM has no literal for.
    if (name == "NaN") {
        return Value{std::numeric_limits<double>::quiet_NaN(), false};
    }
    if (name == "inf") {
        return Value{std::numeric_limits<double>::infinity(), false};
    }
    if (registers_.contains(name)) {
        fail(token, quoted(name) + " is a register, not a number");
    }
    fail(token, "unknown name " + quoted(name) +
                    " in an angle (numbers, pi, tau, euler, NaN and inf are read)");
}

// The double nearest to a literal (from_chars rounds correctly).
double Reader::literal_value(const Token& token) const {
    const std::string digits = without_underscores(token.text);
    double value = 0.0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                        std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (above_range(digits)) {
            fail(token, "number " + quoted(token.text) + " is beyond the range of a double");
        }
        // Below half the smallest subnormal: the nearest double is zero.
        return 0.0;
    }
    if (result.ec != std::errc{} || result.ptr != digits.data() + digits.size()) {
        fail(token, "malformed number " + quoted(token.text));
    }
    return value;
}

Value Reader::combine(const Token& op, Value a, Value b) const {
    const char symbol = op.text[0];
    if (a.integer && b.integer) {
        if (symbol == '/') {
            fail(op,
                 "'/' between two integers is integer division in OpenQASM 3: write one "
                 "of them with a point (1.0 / 2)");
        }
        // Integers have no negative zero: adding +0.0 turns -0.0 into +0.0 and leaves every
        // other value as it is.
        const double result = (symbol == '+'   ? a.number + b.number
                               : symbol == '-' ? a.number - b.number
                                               : a.number * b.number) +
                              0.0;
        if (!(std::fabs(a.number) < EXACT_INTEGERS_BELOW &&
              std::fabs(b.number) < EXACT_INTEGERS_BELOW &&
              std::fabs(result) < EXACT_INTEGERS_BELOW)) {
            fail(op,
                 "integer arithmetic from 2^53 on is not exact in double precision: "
                 "write the numbers with a point");
        }
        return Value{result, true};
    }
    const double x = a.integer ? a.number + 0.0 : a.number;
    const double y = b.integer ? b.number + 0.0 : b.number;
    switch (symbol) {
        case '+':
            return Value{x + y, false};
        case '-':
            return Value{x - y, false};
        case '*':
            return Value{x * y, false};
        default:
            return Value{x / y, false};
    }
}

}  // namespace zel::qasm
