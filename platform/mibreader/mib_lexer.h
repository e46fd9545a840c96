// Splits the text of a MIB module into tokens with their positions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mibreader/mib_failure.h"

namespace orvu::mib {

enum class TokenKind {
  Word,     // identifiers and keywords: letters, digits and single hyphens
  Number,   // decimal digits, with a leading '-' when negative
  Text,     // "quoted text", without the quotes
  HexText,  // 'digits'H, the digits only
  BinText,  // 'digits'B, the digits only
  Symbol,   // ::=  ..  {  }  (  )  [  ]  ,  ;  |  .
  End,      // end of the input
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;
  Position position;
};

// The tokens of INPUT one at a time, so that a reader holds a few tokens, never those of a whole
// module; End again and again once the input is used up. Every byte sequence either yields
// tokens or a MibFailure at the offending position. INPUT must outlive the stream.
class TokenStream {
 public:
  explicit TokenStream(std::string_view input);
  ~TokenStream();
  Token Next();
  // The same into TOKEN, whose text keeps its storage.
  void Next(Token* token);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// All tokens of INPUT, the End token last.
std::vector<Token> Tokenize(std::string_view input);

}  // namespace orvu::mib
