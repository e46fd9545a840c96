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

// What each byte may be, looked up once per byte in the loops that most bytes go through. The
// hyphen has a class of its own: inside a word it is the one byte that needs a second look. Other
// bytes are 0.
constexpr uint8_t MIB_CHAR_SPACE = 1;
constexpr uint8_t MIB_CHAR_NEWLINE = 2;
constexpr uint8_t MIB_CHAR_WORD = 3;  // letters, digits and '_'
constexpr uint8_t MIB_CHAR_HYPHEN = 4;

struct CharClasses {
  uint8_t of[256] = {};
  constexpr CharClasses() {
    for (int c = 0; c < 256; ++c) {
      char ch = static_cast<char>(c);
      if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\f' || ch == '\v') of[c] = MIB_CHAR_SPACE;
      if (ch == '\n') of[c] = MIB_CHAR_NEWLINE;
      if (IsLetter(ch) || IsDigit(ch) || ch == '_') of[c] = MIB_CHAR_WORD;
      if (ch == '-') of[c] = MIB_CHAR_HYPHEN;
    }
  }
};
constexpr CharClasses MIB_CHAR_CLASSES;

uint8_t ClassOf(char c) { return MIB_CHAR_CLASSES.of[static_cast<unsigned char>(c)]; }
bool IsSpace(char c) {
  uint8_t of = ClassOf(c);
  return of == MIB_CHAR_SPACE || of == MIB_CHAR_NEWLINE;
}

bool EightSpaces(const char* at) {
  uint64_t eight;
  std::memcpy(&eight, at, sizeof eight);
  return eight == 0x2020202020202020u;
}

// One past the last byte of INPUT whose class is not CLASS, 0 when there is none: a run of CLASS
// that starts before it ends before it too, so the run needs no check against the end.
template <typename Pred>
size_t RunStop(std::string_view input, Pred inRun) {
  size_t at = input.size();
  while (at > 0 && inRun(input[at - 1])) --at;
  return at;
}

class Lexer {
 public:
  explicit Lexer(std::string_view input)
      : in_(input),
        blankStop_(RunStop(input, IsSpace)),
        wordStop_(RunStop(input, [](char c) { return ClassOf(c) == MIB_CHAR_WORD; })) {}

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
  // The column is counted from where the line starts, so that stepping over bytes only has to
  // notice line breaks.
  Position Here() const { return {line_, static_cast<int>(pos_ - lineStart_) + 1}; }
  char Peek(size_t ahead = 0) const { return pos_ + ahead < in_.size() ? in_[pos_ + ahead] : '\0'; }
  bool AtEnd(size_t ahead = 0) const { return pos_ + ahead >= in_.size(); }

  void Advance() {
    if (in_[pos_++] == '\n') NewLine();
  }
  void NewLine() {
    ++line_;
    lineStart_ = pos_;
  }

  // Steps over COUNT bytes that hold no line break.
  void AdvanceInLine(size_t count) { pos_ += count; }

  // Steps to END, counting the line breaks on the way.
  void AdvanceTo(size_t end) {
    // memchr skips the long runs between line breaks faster than a count byte by byte.
    const char* start = in_.data();
    const char* at = start + pos_;
    const char* stop = start + end;
    while ((at = static_cast<const char*>(std::memchr(at, '\n', stop - at))) != nullptr) {
      ++line_;
      ++at;
      lineStart_ = static_cast<size_t>(at - start);
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
        if (pos_ >= blankStop_) {
          AdvanceTo(size);
          return;
        }
        for (;;) {
          uint8_t of = ClassOf(in_[pos_]);
          if (of == MIB_CHAR_NEWLINE) {
            ++line_;
            lineStart_ = ++pos_;
            // Lines are mostly indented with spaces: those go eight at a time.
            while (pos_ + 8 <= size && EightSpaces(in_.data() + pos_)) pos_ += 8;
          } else if (of == MIB_CHAR_SPACE) {
            ++pos_;
          } else {
            break;
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
      size_t end = pos_ + 1;
      const size_t size = in_.size();
      for (;;) {
        if (end < wordStop_) {
          while (ClassOf(in_[end]) == MIB_CHAR_WORD) ++end;
        } else {
          while (end < size && ClassOf(in_[end]) == MIB_CHAR_WORD) ++end;
        }
        // A hyphen goes on the word unless it starts a comment.
        if (end < size && in_[end] == '-' && !(end + 1 < size && in_[end + 1] == '-')) {
          ++end;
        } else {
          break;
        }
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
      Unexpected(c, token->position);
    }
  }

  // Apart from the token loop, which stays lean without it.
  [[noreturn, gnu::noinline]] static void Unexpected(char c, Position at) {
    char shown[32];
    if (c > ' ' && c < 0x7f) {
      std::snprintf(shown, sizeof shown, "unexpected character '%c'", c);
    } else {
      std::snprintf(shown, sizeof shown, "unexpected byte 0x%02X", static_cast<unsigned char>(c));
    }
    throw MibFailure(at, shown);
  }

  // LENGTH bytes, none of them a line break.
  void Symbol(Token* token, size_t length) {
    token->kind = TokenKind::Symbol;
    token->text.assign(in_.data() + pos_, length);
    AdvanceInLine(length);
  }

  // 'C0A8 0001'H or '0101'B; blanks inside are allowed and dropped.
  [[gnu::noinline]] void ReadBitText(Token* token) {
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
  size_t blankStop_;  // see RunStop
  size_t wordStop_;
  size_t pos_ = 0;
  int line_ = 1;
  size_t lineStart_ = 0;  // where the current line starts
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
