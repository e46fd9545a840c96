#include "mibreader/mib_lexer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace orvu::mib {
namespace {

// Far above the largest real module; keeps the token list of hostile input to a few dozen MiB.
constexpr size_t MIB_MAX_TOKENS = 1000000;

constexpr bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What each byte may be, looked up once per byte in the loops that most bytes go through.
constexpr uint8_t MIB_CHAR_SPACE = 1;
constexpr uint8_t MIB_CHAR_WORD = 2;  // letters, digits, '-' and '_'

struct CharClasses {
  uint8_t of[256] = {};
  constexpr CharClasses() {
    for (int c = 0; c < 256; ++c) {
      char ch = static_cast<char>(c);
      if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f' || ch == '\v')
        of[c] = MIB_CHAR_SPACE;
      if (IsLetter(ch) || IsDigit(ch) || ch == '-' || ch == '_') of[c] = MIB_CHAR_WORD;
    }
  }
};
constexpr CharClasses MIB_CHAR_CLASSES;

bool IsSpace(char c) {
  return MIB_CHAR_CLASSES.of[static_cast<unsigned char>(c)] == MIB_CHAR_SPACE;
}
bool IsWordChar(char c) {
  return MIB_CHAR_CLASSES.of[static_cast<unsigned char>(c)] == MIB_CHAR_WORD;
}

class Lexer {
 public:
  explicit Lexer(std::string_view input) : in_(input) {}

  void Fill(Token* token) {
    SkipBlanksAndComments();
    token->kind = TokenKind::End;
    token->text.clear();
    token->position = Here();
    if (pos_ >= in_.size()) return;
    if (++count_ > MIB_MAX_TOKENS)
      throw MibFailure(token->position, "module too large (over 1000000 tokens)");
    Next(token);
  }

 private:
  Position Here() const { return {line_, column_}; }
  char Peek(size_t ahead = 0) const { return pos_ + ahead < in_.size() ? in_[pos_ + ahead] : '\0'; }
  bool AtEnd(size_t ahead = 0) const { return pos_ + ahead >= in_.size(); }

  void Advance() {
    if (in_[pos_] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    ++pos_;
  }

  // Steps over COUNT bytes that hold no line break.
  void AdvanceInLine(size_t count) {
    pos_ += count;
    column_ += static_cast<int>(count);
  }

  // Steps to END, counting the line breaks on the way.
  void AdvanceTo(size_t end) {
    std::string_view passed = in_.substr(pos_, end - pos_);
    size_t lastBreak = passed.rfind('\n');
    if (lastBreak == std::string_view::npos) {
      column_ += static_cast<int>(passed.size());
    } else {
      // memchr skips the long runs between line breaks faster than a count byte by byte.
      const char* at = passed.data();
      const char* stop = at + passed.size();
      while ((at = static_cast<const char*>(std::memchr(at, '\n', stop - at))) != nullptr) {
        ++line_;
        ++at;
      }
      column_ = static_cast<int>(passed.size() - lastBreak);
    }
    pos_ = end;
  }

  // A comment runs from "--" to the end of the line or to the next "--", whichever comes first.
  // Both are stepped over a run at a time: indentation and comments are much of a module.
  void SkipBlanksAndComments() {
    const size_t size = in_.size();
    while (pos_ < size) {
      char c = in_[pos_];
      if (IsSpace(c)) {
        for (; pos_ < size && IsSpace(in_[pos_]); ++pos_) {
          if (in_[pos_] == '\n') {
            ++line_;
            column_ = 1;
          } else {
            ++column_;
          }
        }
      } else if (c == '-' && pos_ + 1 < size && in_[pos_ + 1] == '-') {
        size_t end = pos_ + 2;
        for (; end < size && in_[end] != '\n' && in_[end] != '\r'; ++end) {
          if (in_[end] == '-' && end + 1 < size && in_[end + 1] == '-') {
            end += 2;
            break;
          }
        }
        AdvanceInLine(end - pos_);
      } else {
        return;
      }
    }
  }

  void Next(Token* token) {
    char c = Peek();
    if (IsLetter(c)) {
      token->kind = TokenKind::Word;
      size_t end = pos_;
      while (end < in_.size() && IsWordChar(in_[end])) {
        if (in_[end] == '-' && end + 1 < in_.size() && in_[end + 1] == '-') break;
        ++end;
      }
      token->text.assign(in_.data() + pos_, end - pos_);
      AdvanceInLine(end - pos_);
    } else if (IsDigit(c) || (c == '-' && IsDigit(Peek(1)) && !AtEnd(1))) {
      token->kind = TokenKind::Number;
      size_t end = pos_ + 1;
      while (end < in_.size() && IsDigit(in_[end])) ++end;
      token->text.assign(in_.data() + pos_, end - pos_);
      AdvanceInLine(end - pos_);
    } else if (c == '"') {
      token->kind = TokenKind::Text;
      Advance();
      // A doubled quote stands for one quote inside the text. The text between quotes is taken
      // whole: descriptions make up most of a module.
      for (;;) {
        size_t quote = in_.find('"', pos_);
        if (quote == std::string_view::npos)
          throw MibFailure(token->position, "quoted text not closed");
        token->text.append(in_.data() + pos_, quote - pos_);
        AdvanceTo(quote + 1);
        if (AtEnd() || Peek() != '"') break;
        token->text += '"';
        Advance();
      }
    } else if (c == '\'') {
      ReadBitText(token);
    } else if (c == ':' && Peek(1) == ':' && Peek(2) == '=') {
      Symbol(token, 3);
    } else if (c == '.' && Peek(1) == '.') {
      Symbol(token, 2);
    } else if (std::string_view("{}()[],;|.").find(c) != std::string_view::npos && c != '\0') {
      Symbol(token, 1);
    } else {
      char shown[32];
      if (c > ' ' && c < 0x7f) {
        std::snprintf(shown, sizeof shown, "unexpected character '%c'", c);
      } else {
        std::snprintf(shown, sizeof shown, "unexpected byte 0x%02X", static_cast<unsigned char>(c));
      }
      throw MibFailure(token->position, shown);
    }
  }

  void Symbol(Token* token, size_t length) {
    token->kind = TokenKind::Symbol;
    for (size_t i = 0; i < length; ++i) {
      token->text += Peek();
      Advance();
    }
  }

  // 'C0A8 0001'H or '0101'B; blanks inside are allowed and dropped.
  void ReadBitText(Token* token) {
    Advance();
    std::string digits;
    while (!AtEnd() && Peek() != '\'') {
      if (!IsSpace(Peek())) digits += Peek();
      Advance();
    }
    if (AtEnd()) throw MibFailure(token->position, "quoted bit string not closed");
    Advance();
    char radix = Peek();
    if (AtEnd() || (radix != 'H' && radix != 'h' && radix != 'B' && radix != 'b')) {
      throw MibFailure(token->position, "expected H or B after a quoted bit string");
    }
    Advance();
    bool hex = radix == 'H' || radix == 'h';
    for (char d : digits) {
      bool ok = hex ? (IsDigit(d) || (d >= 'a' && d <= 'f') || (d >= 'A' && d <= 'F'))
                    : (d == '0' || d == '1');
      if (!ok)
        throw MibFailure(token->position,
                         hex ? "bad digit in a hex string" : "bad digit in a binary string");
    }
    token->kind = hex ? TokenKind::HexText : TokenKind::BinText;
    token->text = std::move(digits);
  }

  std::string_view in_;
  size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
  size_t count_ = 0;
};

}  // namespace

struct TokenStream::State {
  explicit State(std::string_view input) : lexer(input) {}
  Lexer lexer;
};

TokenStream::TokenStream(std::string_view input) {
  // Files saved by some Windows editors start with a UTF-8 byte order mark.
  if (input.substr(0, 3) == "\xEF\xBB\xBF") input.remove_prefix(3);
  state_ = std::make_unique<State>(input);
}

TokenStream::~TokenStream() = default;

Token TokenStream::Next() {
  Token token;
  state_->lexer.Fill(&token);
  return token;
}

void TokenStream::Next(Token* token) { state_->lexer.Fill(token); }

std::vector<Token> Tokenize(std::string_view input) {
  TokenStream stream(input);
  std::vector<Token> tokens;
  do {
    tokens.push_back(stream.Next());
  } while (tokens.back().kind != TokenKind::End);
  return tokens;
}

}  // namespace orvu::mib
