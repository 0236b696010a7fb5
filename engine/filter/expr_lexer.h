// The tokenizer of filter texts (internal to filter/): one token at a time, with the
// lookahead the grammar needs to tell a function call from a field of the same name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvo {

enum class TokenKind {
  kEnd,
  kSymbol,  // a word: field names, AND, OR, NOT, NULL, True, False, function names
  kName,    // [bracketed name]
  kString,  // 'string literal'
  kNumber,  // number literal, converted only when encoded
  kLParen,
  kRParen,
  kComma,
  kEq,
  kNe,
  kLt,
  kGt,
  kLe,
  kGe,
  kPlus,
  kMinus,
  kTimes,
  kDivide,
  kLike,
  kIn,
  kIsNull,
  kIsNotNull,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;  // value: a literal's characters, a name without brackets, a word
  std::size_t start = 0;
  std::size_t end = 0;  // one past the token's last source character
};

// At most this many characters of a string literal are kept.
constexpr std::size_t kMaxLiteralChars = 256;

class ExprLexer {
 public:
  // The text ends at its first zero byte, as a text typed into an edit control does.
  ExprLexer(std::string_view text, char decimal_separator);

  // Reads the next token. On failure returns false with the user's message in *error.
  bool Next(Token* token, std::string* error);

  // The character after the current position and any bytes 0x01-0x20; 0 at the end.
  char PeekPastBlanks() const;

  // The token's source text in single quotes, or "nothing" for the end, as messages name it.
  std::string Describe(const Token& token) const;

 private:
  void SkipBlanks();
  bool ReadString(Token* token, std::string* error);
  void ReadNumber(Token* token);
  bool ReadWord(Token* token, std::string* error);
  bool QuoteIsPartOfLiteral(std::size_t quote) const;

  std::string_view text_;
  std::size_t pos_ = 0;
  char decimal_separator_;
  TokenKind prev_ = TokenKind::kEnd;
};

}  // namespace zelvo
