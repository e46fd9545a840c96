#include "mibreader/mib_defval.h"

#include <cstdint>

#include "common/decimal.h"
#include "orvu/orvu_types.h"

namespace orvu::mib {
namespace {

class Converter {
 public:
  Converter(const std::vector<Token>& tokens, Position clause, const DefaultTarget& target)
      : tokens_(tokens), clause_(clause), target_(target) {}

  DefaultValue Run() {
    if (tokens_.empty()) Fail("empty DEFVAL");
    DefaultValue value;
    switch (target_.syntax) {
      case ORVU_SYNTAX_INTEGER: value.number = Number(INT32_MIN, INT32_MAX, true); break;
      case ORVU_SYNTAX_CNTR32:
      case ORVU_SYNTAX_GAUGE32:
      case ORVU_SYNTAX_TIMETICKS: value.number = Number(0, UINT32_MAX, false); break;
      case ORVU_SYNTAX_CNTR64: value.number = Number(0, INT64_MAX, false); break;
      case ORVU_SYNTAX_OCTETS: value.bytes = target_.bits ? Bits() : Bytes(); break;
      case ORVU_SYNTAX_IPADDR:
        value.bytes = Bytes();
        if (value.bytes.size() != 4) Fail("IpAddress DEFVAL must be 4 bytes, as in 'C0A80001'H");
        break;
      case ORVU_SYNTAX_OPAQUE:
      case ORVU_SYNTAX_NSAPADDR: value.bytes = Bytes(); break;
      case ORVU_SYNTAX_OID: value.oid = Oid(); break;
      default: Fail("DEFVAL not allowed for this syntax");
    }
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& cause) const { throw MibFailure(clause_, cause); }

  const Token& Single() const {
    if (tokens_.size() != 1) Fail("DEFVAL must hold a single value");
    return tokens_[0];
  }

  int64_t Number(int64_t low, int64_t high, bool labels) const {
    const Token& token = Single();
    if (token.kind == TokenKind::Word && labels && target_.labels) {
      auto found = target_.labels->find(token.text);
      if (found == target_.labels->end()) Fail("unknown label " + token.text + " in DEFVAL");
      return found->second;
    }
    if (token.kind == TokenKind::HexText || token.kind == TokenKind::BinText) {
      std::string bytes = Decode(token);
      if (bytes.size() > 8) Fail("DEFVAL out of range");
      uint64_t value = 0;
      for (unsigned char c : bytes) value = (value << 8) | c;
      if (value > static_cast<uint64_t>(high)) Fail("DEFVAL out of range");
      return static_cast<int64_t>(value);
    }
    if (token.kind != TokenKind::Number) Fail("DEFVAL " + token.text + " is not a number");
    int64_t value = 0;
    if (!ParseDecimal(token.text, low, high, &value))
      Fail("DEFVAL " + token.text + " out of range");
    return value;
  }

  // Hex digits fill bytes from the left, so an odd count leaves the low half of the last byte 0;
  // binary digits likewise fill bits from the left.
  static std::string Decode(const Token& token) {
    std::string bytes;
    bool hex = token.kind == TokenKind::HexText;
    unsigned perByte = hex ? 2 : 8;
    unsigned shift = hex ? 4 : 1;
    unsigned current = 0;
    unsigned used = 0;
    for (char c : token.text) {
      unsigned digit = (c >= '0' && c <= '9')   ? unsigned(c - '0')
                       : (c >= 'a' && c <= 'f') ? unsigned(c - 'a' + 10)
                                                : unsigned(c - 'A' + 10);
      current = (current << shift) | digit;
      if (++used == perByte) {
        bytes += static_cast<char>(current);
        current = 0;
        used = 0;
      }
    }
    if (used > 0) bytes += static_cast<char>(current << (shift * (perByte - used)));
    return bytes;
  }

  std::string Bytes() const {
    const Token& token = Single();
    if (token.kind == TokenKind::Text) return token.text;
    if (token.kind == TokenKind::HexText || token.kind == TokenKind::BinText) return Decode(token);
    Fail("DEFVAL " + token.text + " is not a quoted text or a bit string");
  }

  // { } or { name, name }: bit 0 is the top bit of the first byte.
  std::string Bits() const {
    if (tokens_.size() == 1) return Bytes();
    if (tokens_.front().text != "{" || tokens_.back().text != "}")
      Fail("DEFVAL of BITS must be { bit, ... }");
    std::string bytes;
    for (size_t i = 1; i + 1 < tokens_.size(); ++i) {
      const Token& token = tokens_[i];
      if (token.kind == TokenKind::Symbol && token.text == ",") continue;
      if (token.kind != TokenKind::Word || !target_.labels) Fail("DEFVAL of BITS must name bits");
      auto found = target_.labels->find(token.text);
      if (found == target_.labels->end()) Fail("unknown bit " + token.text + " in DEFVAL");
      size_t bit = static_cast<size_t>(found->second);
      if (bytes.size() <= bit / 8) bytes.resize(bit / 8 + 1, '\0');
      bytes[bit / 8] =
          static_cast<char>(static_cast<unsigned char>(bytes[bit / 8]) | (0x80u >> (bit % 8)));
    }
    return bytes;
  }

  uint32_t SubIdentifier(const Token& token) const {
    if (token.kind != TokenKind::Number || token.text[0] == '-') Fail("bad OID in DEFVAL");
    uint64_t value = 0;
    if (!ParseDigits(token.text, UINT32_MAX, &value))
      Fail("sub-identifier " + token.text + " out of range in DEFVAL");
    return static_cast<uint32_t>(value);
  }

  // zeroDotZero, { name 1 2 }, { 1 3 6 1 } or 1.3.6.1
  std::vector<uint32_t> Oid() const {
    std::vector<uint32_t> oid;
    const Token& first = tokens_.front();
    if (first.kind == TokenKind::Symbol && first.text == "{") {
      if (tokens_.size() < 3 || tokens_.back().text != "}") Fail("bad OID in DEFVAL");
      for (size_t at = 1; at + 1 < tokens_.size(); ++at) {
        if (at == 1 && tokens_[at].kind == TokenKind::Word) {
          oid = Named(tokens_[at]);
        } else {
          oid.push_back(SubIdentifier(tokens_[at]));
        }
        if (oid.size() > MIB_MAX_OID_LENGTH) Fail("OID in DEFVAL longer than 128 sub-identifiers");
      }
      return oid;
    }
    if (tokens_.size() == 1 && first.kind == TokenKind::Word) return Named(first);
    for (size_t at = 0; at < tokens_.size(); at += 2) {
      oid.push_back(SubIdentifier(tokens_[at]));
      if (at + 1 < tokens_.size() && (tokens_[at + 1].kind != TokenKind::Symbol ||
                                      tokens_[at + 1].text != "." || at + 2 == tokens_.size())) {
        Fail("bad OID in DEFVAL");
      }
      if (oid.size() > MIB_MAX_OID_LENGTH) Fail("OID in DEFVAL longer than 128 sub-identifiers");
    }
    return oid;
  }

  std::vector<uint32_t> Named(const Token& token) const {
    std::optional<std::vector<uint32_t>> named = target_.oidOfName(token.text);
    if (!named) Fail("unknown name " + token.text + " in DEFVAL");
    return *named;
  }

  const std::vector<Token>& tokens_;
  Position clause_;
  const DefaultTarget& target_;
};

}  // namespace

DefaultValue ConvertDefault(const std::vector<Token>& tokens, Position clause,
                            const DefaultTarget& target) {
  return Converter(tokens, clause, target).Run();
}

}  // namespace orvu::mib
