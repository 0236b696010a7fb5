// Tokenizer of filter texts: blanks and comments, literals, names, operators and the
// keywords LIKE, IN, IS NULL and IS NOT NULL.
#include "filter/expr_lexer.h"

#include <cstdint>

namespace zelvo {

namespace {

bool IsSkipped(char c) {
  const auto b = static_cast<std::uint8_t>(c);
  return b >= 0x01 && b <= 0x20;
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsHighByte(char c) {
  const auto b = static_cast<std::uint8_t>(c);
  return b >= 0x81 && b <= 0xFE;
}
bool StartsWord(char c) { return IsLetter(c) || c == '_' || IsHighByte(c); }
// Letters of the 8-bit code page continue a name as well as start one, so that a name such
// as "Größe" is one word.
bool ContinuesWord(char c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '[' || c == ']' ||
         static_cast<std::uint8_t>(c) >= 0x80;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool IsRunEnd(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ',';
}

}  // namespace

ExprLexer::ExprLexer(std::string_view text, char decimal_separator)
    : text_(text.substr(0, text.find('\0'))), decimal_separator_(decimal_separator) {}

void ExprLexer::SkipBlanks() {
  while (pos_ < text_.size() && IsSkipped(text_[pos_])) ++pos_;
}

char ExprLexer::PeekPastBlanks() const {
  std::size_t p = pos_;
  while (p < text_.size() && IsSkipped(text_[p])) ++p;
  return p < text_.size() ? text_[p] : '\0';
}

std::string ExprLexer::Describe(const Token& token) const {
  if (token.kind == TokenKind::kEnd) return "nothing";
  std::string quoted(1, '\'');
  quoted.append(text_.substr(token.start, token.end - token.start));
  quoted.push_back('\'');
  return quoted;
}

bool ExprLexer::Next(Token* token, std::string* error) {
  SkipBlanks();
  if (text_.substr(pos_, 2) == "/*") {
    const std::size_t star = text_.find('*', pos_ + 2);
    if (star == std::string_view::npos || star + 1 >= text_.size() || text_[star + 1] != '/') {
      const std::string stopped = star == std::string_view::npos ? "" : "*";
      *error = "Invalid filter expression character: '" + stopped + "'";
      return false;
    }
    pos_ = star + 2;
    SkipBlanks();
  }
  token->text.clear();
  token->start = pos_;
  bool ok = true;
  if (pos_ >= text_.size()) {
    token->kind = TokenKind::kEnd;
  } else {
    const char c = text_[pos_];
    const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
    auto single = [&](TokenKind kind, std::size_t length) {
      token->kind = kind;
      token->text = std::string(text_.substr(pos_, length));
      pos_ += length;
    };
    switch (c) {
      case '\'':
        ok = ReadString(token, error);
        break;
      case '(':
        single(TokenKind::kLParen, 1);
        break;
      case ')':
        single(TokenKind::kRParen, 1);
        break;
      case ',':
        single(TokenKind::kComma, 1);
        break;
      case '=':
        single(TokenKind::kEq, 1);
        break;
      case '<':
        if (next == '=') {
          single(TokenKind::kLe, 2);
        } else if (next == '>') {
          single(TokenKind::kNe, 2);
        } else {
          single(TokenKind::kLt, 1);
        }
        break;
      case '>':
        next == '=' ? single(TokenKind::kGe, 2) : single(TokenKind::kGt, 1);
        break;
      case '+':
        single(TokenKind::kPlus, 1);
        break;
      case '*':
        single(TokenKind::kTimes, 1);
        break;
      case '/':
        single(TokenKind::kDivide, 1);
        break;
      case '[': {
        const std::size_t close = text_.find(']', pos_ + 1);
        if (close == std::string_view::npos) {
          *error = "Unterminated field name";
          return false;
        }
        token->kind = TokenKind::kName;
        token->text = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
        pos_ = close + 1;
        break;
      }
      default:
        if (c == '-' || IsDigit(c)) {
          // After an operand a minus or digit can only continue the expression as a minus.
          switch (prev_) {
            case TokenKind::kSymbol:
            case TokenKind::kName:
            case TokenKind::kString:
            case TokenKind::kNumber:
            case TokenKind::kRParen:
            case TokenKind::kLike:
            case TokenKind::kIn:
            case TokenKind::kIsNull:
            case TokenKind::kIsNotNull:
              single(TokenKind::kMinus, 1);
              break;
            default:
              ReadNumber(token);
              break;
          }
        } else if (StartsWord(c)) {
          ok = ReadWord(token, error);
        } else {
          *error = "Invalid filter expression character: '" + std::string(1, c) + "'";
          return false;
        }
        break;
    }
  }
  if (!ok) return false;
  token->end = pos_;
  prev_ = token->kind;
  return true;
}

bool ExprLexer::ReadString(Token* token, std::string* error) {
  std::size_t p = pos_ + 1;
  std::string value;
  for (;;) {
    if (p >= text_.size()) {
      *error = "Unterminated string constant";
      return false;
    }
    const char c = text_[p];
    if (c == '\'') {
      if (p + 1 < text_.size() && text_[p + 1] == '\'') {
        p += 2;
      } else if (QuoteIsPartOfLiteral(p)) {
        p += 1;
      } else {
        break;
      }
    } else {
      p += 1;
    }
    if (value.size() < kMaxLiteralChars) value.push_back(c);
  }
  token->kind = TokenKind::kString;
  token->text = std::move(value);
  pos_ = p + 1;
  return true;
}

// A lone quote inside a literal is taken as a character (as in 'O'Brien') when another quote
// follows somewhere and the text after it starts with a plain word, not with a keyword or
// something that can only follow a finished literal.
bool ExprLexer::QuoteIsPartOfLiteral(std::size_t quote) const {
  if (text_.find('\'', quote + 1) == std::string_view::npos) return false;
  std::size_t p = quote + 1;
  while (p < text_.size() && (text_[p] == ' ' || text_[p] == '\t' || text_[p] == ')')) ++p;
  while (p < text_.size() && IsRunEnd(text_[p])) ++p;
  if (p >= text_.size()) return false;
  const char c = text_[p];
  if (IsDigit(c) || c == '<' || c == '=' || c == '>' || c == '\'') return false;
  if (text_.substr(p, 2) == "/*") return false;
  std::size_t end = p;
  while (end < text_.size() && !IsRunEnd(text_[end])) ++end;
  const std::string_view word = text_.substr(p, end - p);
  // The second word of GROUP BY, ORDER BY and FOR UPDATE.
  auto followed_by = [&](std::string_view second) {
    std::size_t q = end;
    while (q < text_.size() && IsRunEnd(text_[q])) ++q;
    std::size_t e = q;
    while (e < text_.size() && !IsRunEnd(text_[e])) ++e;
    return EqualsNoCase(text_.substr(q, e - q), second);
  };
  static constexpr std::string_view kKeywords[] = {
      "AND",    "OR",    "LIKE", "IS",  "NULL",      "SELECT", "FROM",      "WHERE",
      "HAVING", "UNION", "PLAN", "ASC", "ASCENDING", "DESC",   "DESCENDING"};
  for (std::string_view keyword : kKeywords) {
    if (EqualsNoCase(word, keyword)) return false;
  }
  if (EqualsNoCase(word, "GROUP") && followed_by("BY")) return false;
  if (EqualsNoCase(word, "ORDER") && followed_by("BY")) return false;
  if (EqualsNoCase(word, "FOR") && followed_by("UPDATE")) return false;
  return true;
}

void ExprLexer::ReadNumber(Token* token) {
  std::size_t p = pos_ + 1;
  while (p < text_.size()) {
    const char c = text_[p];
    if (IsDigit(c) || c == 'E' || c == 'e' || c == '+' || c == '-' || c == decimal_separator_) {
      ++p;
    } else {
      break;
    }
  }
  // "1, 2" in a list with "," as the decimal separator: the comma separates the items.
  if (decimal_separator_ == ',' && text_[p - 1] == ',' && p < text_.size() && text_[p] == ' ') {
    --p;
  }
  token->kind = TokenKind::kNumber;
  token->text = std::string(text_.substr(pos_, p - pos_));
  pos_ = p;
}

bool ExprLexer::ReadWord(Token* token, std::string* error) {
  std::size_t p = pos_ + 1;
  while (p < text_.size() && ContinuesWord(text_[p])) ++p;
  const std::string_view word = text_.substr(pos_, p - pos_);
  token->text = std::string(word);
  pos_ = p;
  if (EqualsNoCase(word, "LIKE")) {
    token->kind = TokenKind::kLike;
  } else if (EqualsNoCase(word, "IN")) {
    token->kind = TokenKind::kIn;
  } else if (EqualsNoCase(word, "IS")) {
    auto letters = [this]() {
      SkipBlanks();
      const std::size_t begin = pos_;
      while (pos_ < text_.size() && IsLetter(text_[pos_])) ++pos_;
      return text_.substr(begin, pos_ - begin);
    };
    const std::string_view first = letters();
    if (EqualsNoCase(first, "NULL")) {
      token->kind = TokenKind::kIsNull;
    } else if (EqualsNoCase(first, "NOT") && EqualsNoCase(letters(), "NULL")) {
      token->kind = TokenKind::kIsNotNull;
    } else {
      *error = "Invalid use of keyword";
      return false;
    }
  } else {
    token->kind = TokenKind::kSymbol;
  }
  return true;
}

}  // namespace zelvo
