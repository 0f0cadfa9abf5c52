#include "qasm_lexer.hpp"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "zel/core/error.hpp"

namespace zel::qasm {
namespace {

// Longest token spelling a message quotes in full.
constexpr std::size_t QUOTE_LIMIT = 40;

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

bool is_letter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_punct(unsigned char c) noexcept {
    return (c >= 0x21 && c <= 0x2f) || (c >= 0x3a && c <= 0x40) || (c >= 0x5b && c <= 0x60) ||
           (c >= 0x7b && c <= 0x7e);
}

std::string hex_byte(unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02x", static_cast<unsigned>(c));
    return buffer;
}

std::string code_point_name(std::uint32_t code_point) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(code_point));
    return buffer;
}

}  // namespace

Position position_of(std::string_view text, std::size_t offset) noexcept {
    Position position{1, 1};
    std::size_t line_start = 0;
    const std::size_t end = offset < text.size() ? offset : text.size();
    for (std::size_t k = 0; k < end; ++k) {
        if (text[k] == '\n' || (text[k] == '\r' && (k + 1 >= text.size() || text[k + 1] != '\n'))) {
            ++position.line;
            line_start = k + 1;
        }
    }
    position.column = offset - line_start + 1;
    return position;
}

void fail_at(std::string_view text, std::size_t offset, std::string reason) {
    const Position position = position_of(text, offset);
    throw ParseError(position.line, position.column, offset, std::move(reason));
}

std::string shortened(std::string_view text) {
    if (text.size() <= QUOTE_LIMIT) {
        return std::string(text);
    }
    std::size_t cut = QUOTE_LIMIT - 3;
    // Never split a UTF-8 sequence: step back over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) {
        --cut;
    }
    return std::string(text.substr(0, cut)) + "...";
}

std::string quoted(std::string_view text) {
    // Appended in place: GCC 12 reports a false overlap (-Wrestrict) in its inlined
    // `"'" + std::string&&` at -O2 and above.
    const std::string inner = shortened(text);
    std::string out;
    out.reserve(inner.size() + 2);
    out += '\'';
    out += inner;
    out += '\'';
    return out;
}

Lexer::Lexer(std::string_view text) noexcept : text_(text) {
    if (text_.starts_with("\xef\xbb\xbf")) {
        position_ = 3;
    }
}

std::size_t Lexer::utf8_length() const {
    const auto byte = [this](std::size_t k) -> unsigned {
        return position_ + k < text_.size() ? static_cast<unsigned char>(text_[position_ + k]) : 0u;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    // The second byte's range depends on the lead byte: this excludes overlong forms, the UTF-16
    // surrogates U+D800..U+DFFF and code points above U+10FFFF.
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    bool valid = length != 0 && byte(1) >= low && byte(1) <= high;
    for (std::size_t k = 2; valid && k < length; ++k) {
        valid = byte(k) >= 0x80 && byte(k) <= 0xbf;
    }
    if (!valid) {
        fail_at(text_, position_,
                "invalid UTF-8 (byte " + hex_byte(static_cast<unsigned char>(lead)) + ")");
    }
    return length;
}

void Lexer::skip_space_and_comments() {
    while (position_ < text_.size()) {
        const char c = text_[position_];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++position_;
        } else if (text_.substr(position_, 2) == "//") {
            while (position_ < text_.size() && text_[position_] != '\n' &&
                   text_[position_] != '\r') {
                if (text_[position_] == '\0') {
                    fail_at(text_, position_, "NUL byte in the text");
                }
                position_ += utf8_length();
            }
        } else if (text_.substr(position_, 2) == "/*") {
            const std::size_t start = position_;
            position_ += 2;
            while (text_.substr(position_, 2) != "*/") {
                if (position_ >= text_.size()) {
                    fail_at(text_, start, "comment '/*' is never closed");
                }
                if (text_[position_] == '\0') {
                    fail_at(text_, position_, "NUL byte in the text");
                }
                position_ += utf8_length();
            }
            position_ += 2;
        } else {
            return;
        }
    }
}

Token Lexer::next() {
    skip_space_and_comments();
    if (position_ >= text_.size()) {
        return Token{TokenKind::End, text_.substr(text_.size()), text_.size()};
    }
    const std::size_t start = position_;
    const auto c = static_cast<unsigned char>(text_[start]);
    if (is_letter(static_cast<char>(c))) {
        while (position_ < text_.size() &&
               (is_letter(text_[position_]) || is_digit(text_[position_]))) {
            ++position_;
        }
        return Token{TokenKind::Identifier, text_.substr(start, position_ - start), start};
    }
    if (is_digit(static_cast<char>(c)) ||
        (c == '.' && start + 1 < text_.size() && is_digit(text_[start + 1]))) {
        return number();
    }
    if (c == '"' || c == '\'') {
        return string_literal();
    }
    if (c >= 0x80) {
        return non_ascii();
    }
    if (c == '\0') {
        fail_at(text_, start, "NUL byte in the text");
    }
    if (!is_punct(c)) {
        fail_at(text_, start, "control character " + hex_byte(c) + " in the text");
    }
    position_ += text_.substr(start, 2) == "**" ? 2 : 1;
    return Token{TokenKind::Punct, text_.substr(start, position_ - start), start};
}

Token Lexer::number() {
    const std::size_t start = position_;
    // Digits with single underscores between them; returns how many digits it read.
    const auto digits = [this] {
        std::size_t count = 0;
        while (position_ < text_.size()) {
            if (is_digit(text_[position_])) {
                ++count;
                ++position_;
            } else if (text_[position_] == '_' && count > 0 && position_ + 1 < text_.size() &&
                       is_digit(text_[position_ + 1])) {
                ++position_;
            } else {
                break;
            }
        }
        return count;
    };
    if (text_.substr(start, 2).size() == 2 && text_[start] == '0') {
        const char base = text_[start + 1];
        if (base == 'x' || base == 'X' || base == 'o' || base == 'b' || base == 'B') {
            fail_at(text_, start, "hexadecimal, octal and binary literals are not supported");
        }
    }
    digits();
    bool is_float = false;
    if (position_ < text_.size() && text_[position_] == '.') {
        is_float = true;
        ++position_;
        digits();
    }
    if (position_ < text_.size() && (text_[position_] == 'e' || text_[position_] == 'E')) {
        is_float = true;
        const std::size_t exponent = position_;
        ++position_;
        if (position_ < text_.size() && (text_[position_] == '+' || text_[position_] == '-')) {
            ++position_;
        }
        if (digits() == 0) {
            fail_at(text_, exponent,
                    "the exponent of " + quoted(text_.substr(start, position_ - start)) +
                        " has no digits");
        }
    }
    if (position_ < text_.size()) {
        const char after = text_[position_];
        if (after == '_') {
            fail_at(text_, position_, "'_' in a number must stand between two digits");
        }
        if (is_letter(after) || is_digit(after) || after == '.' ||
            static_cast<unsigned char>(after) >= 0x80) {
            fail_at(text_, position_,
                    "unexpected character after the number " +
                        quoted(text_.substr(start, position_ - start)) +
                        " (units, imaginary numbers and names need a space or an operator "
                        "between)");
        }
    }
    return Token{is_float ? TokenKind::Float : TokenKind::Integer,
                 text_.substr(start, position_ - start), start};
}

Token Lexer::string_literal() {
    const std::size_t start = position_;
    const char quote = text_[start];
    ++position_;
    while (position_ < text_.size() && text_[position_] != quote) {
        const auto c = static_cast<unsigned char>(text_[position_]);
        if (c == '\n' || c == '\r') {
            break;
        }
        if (c < 0x20 || c == 0x7f) {
            fail_at(text_, position_,
                    c == 0 ? std::string("NUL byte in the text")
                           : "control character " + hex_byte(c) + " inside a string");
        }
        position_ += utf8_length();
    }
    if (position_ >= text_.size() || text_[position_] != quote) {
        fail_at(text_, start, "string is never closed on its line");
    }
    ++position_;
    return Token{TokenKind::String, text_.substr(start, position_ - start), start};
}

Token Lexer::non_ascii() {
    const std::size_t start = position_;
    const std::size_t length = utf8_length();
    const std::string_view character = text_.substr(start, length);
    if (character == "π" || character == "τ" || character == "ℇ") {
        position_ += length;
        return Token{TokenKind::Identifier, character, start};
    }
    // Decode for the message; utf8_length has checked the sequence.
    std::uint32_t code_point = static_cast<unsigned char>(character[0]) & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        code_point = (code_point << 6) | (static_cast<unsigned char>(character[k]) & 0x3f);
    }
    fail_at(text_, start,
            "unexpected character " + code_point_name(code_point) + " " + quoted(character) +
                " (outside comments and strings only π, τ and ℇ may be non-ASCII)");
}

}  // namespace zel::qasm
