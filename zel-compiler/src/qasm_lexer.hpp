#pragma once

// Tokens of OpenQASM 3 source text for the reader (qasm_reader.cpp). The lexer checks the bytes as
// it goes: valid UTF-8, no NUL, no control characters outside comments, no characters beyond
// ASCII outside comments and strings except the constants π, τ and ℇ. Every failure is a
// `ParseError` at the first offending byte.

#include <cstddef>
#include <string>
#include <string_view>

namespace zel::qasm {

enum class TokenKind {
    End,         ///< the end of the text (empty spelling, offset = text size)
    Identifier,  ///< an ASCII name, or one of the constants π, τ, ℇ (spelled in UTF-8)
    Integer,     ///< decimal digits with single underscores between them: "12", "1_000"
    Float,       ///< a decimal literal with a point or an exponent: "1.5", ".5", "2.", "1e-3"
    String,      ///< a quoted string; the spelling keeps the quotes
    Punct,       ///< one ASCII punctuation character, or "**"
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string_view text;   ///< the token's bytes in the source
    std::size_t offset = 0;  ///< byte offset of its first byte

    bool is(std::string_view punct) const noexcept {
        return kind == TokenKind::Punct && text == punct;
    }
};

/// 1-based line and column (in bytes) of `offset` in `text`. A line ends at "\n", at "\r\n" or
/// at a "\r" that no "\n" follows.
struct Position {
    std::size_t line;
    std::size_t column;
};
Position position_of(std::string_view text, std::size_t offset) noexcept;

/// Throws the `ParseError` for `offset` of `text` with `reason`.
[[noreturn]] void fail_at(std::string_view text, std::size_t offset, std::string reason);

/// `text` for a message, cut to a readable length at a character boundary ("1234...").
std::string shortened(std::string_view text);

/// `shortened(text)` in single quotes.
std::string quoted(std::string_view text);

class Lexer {
  public:
    /// A byte-order mark at the very start is skipped.
    explicit Lexer(std::string_view text) noexcept;

    /// The next token, after whitespace and comments. Returns End at the end, again and again.
    Token next();

    std::string_view text() const noexcept {
        return text_;
    }

  private:
    void skip_space_and_comments();
    Token number();
    Token string_literal();
    Token non_ascii();
    // Checks one UTF-8 sequence at `position_` and returns its length.
    std::size_t utf8_length() const;

    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace zel::qasm
