#include "agent/journal/state_integrity.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace orvu::agent {
namespace {

constexpr char STATE_HEADER_START[] =
    "# orvu-agentd state: one record per line, see platform/README.md; sealed in a chain, "
    "snapshot of ";
// What earlier agents wrote: every record sealed on its own.
constexpr char STATE_OLD_HEADER_START[] =
    "# orvu-agentd state: one record per line, see platform/README.md; sealed, snapshot of ";
constexpr char STATE_HEADER_END[] = " records";
constexpr char STATE_SEAL_KEY[] = " crc=";
constexpr size_t STATE_SEAL_SIZE = sizeof STATE_SEAL_KEY - 1 + 8;
constexpr size_t STATE_EXCERPT_SIZE = 40;

// CRC-32 (IEEE), eight bytes a step through eight tables: a start-up checks every byte of the
// state file, at the speed the disk gives them.
uint32_t Crc32(const char* data, size_t size, uint32_t crc = 0) {
  static const std::array<std::array<uint32_t, 256>, 8> tables = [] {
    std::array<std::array<uint32_t, 256>, 8> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
  }();
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  crc ^= 0xFFFFFFFFu;
  for (; size >= 8; size -= 8, p += 8) {
    uint32_t low =
        crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
          tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^
          tables[0][p[7]];
  }
  for (; size > 0; --size, ++p) crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// V as eight lower-case hex digits at OUT.
void PutHex8(uint32_t v, char* out) {
  static const char digits[] = "0123456789abcdef";
  for (int i = 7; i >= 0; --i, v >>= 4) out[i] = digits[v & 15];
}

std::string Hex8(uint32_t v) {
  std::string out(8, '0');
  PutHex8(v, out.data());
  return out;
}

// The seal's position when TEXT ends in one (whether or not it matches), else npos.
size_t SealAt(std::string_view text) {
  if (text.size() < STATE_SEAL_SIZE) return std::string::npos;
  size_t at = text.size() - STATE_SEAL_SIZE;
  if (text.compare(at, sizeof STATE_SEAL_KEY - 1, STATE_SEAL_KEY) != 0) return std::string::npos;
  return at;
}

// The seal of the SIZE bytes at DATA after the seal CHAIN.
uint32_t ChainedCrc(const char* data, size_t size, uint32_t chain) {
  char before[8];
  PutHex8(chain, before);
  return Crc32(data, size, Crc32(before, sizeof before));
}

bool ParseHeader(std::string_view text, size_t* count, bool* chained) {
  const std::string_view end = STATE_HEADER_END;
  *chained = text.rfind(STATE_HEADER_START, 0) == 0;
  const std::string_view start = *chained ? STATE_HEADER_START : STATE_OLD_HEADER_START;
  if (text.size() <= start.size() + end.size() || text.compare(0, start.size(), start) != 0 ||
      text.compare(text.size() - end.size(), end.size(), end) != 0) {
    return false;
  }
  std::string_view digits = text.substr(start.size(), text.size() - start.size() - end.size());
  if (digits.empty() || digits.size() > 12) return false;
  size_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  *count = n;
  return true;
}

bool IsBlankOrComment(std::string_view text) {
  size_t i = text.find_first_not_of(" \t\r");
  return i == std::string::npos || text[i] == '#';
}

}  // namespace

std::string StateHeader(size_t records) {
  return STATE_HEADER_START + std::to_string(records) + STATE_HEADER_END;
}

bool IsStateHeader(const std::string& line) {
  size_t count = 0;
  bool chained = false;
  return ParseHeader(line, &count, &chained);
}

std::string WithoutSeal(const std::string& line) {
  size_t seal = SealAt(line);
  return seal == std::string::npos ? line : line.substr(0, seal);
}

std::string SealLine(const std::string& line) {
  return line + STATE_SEAL_KEY + Hex8(Crc32(line.data(), line.size()));
}

std::string SealLineInChain(const std::string& line, uint32_t* chain) {
  *chain = ChainedCrc(line.data(), line.size(), *chain);
  return line + STATE_SEAL_KEY + Hex8(*chain);
}

void SealTailInChain(std::string* text, size_t start, uint32_t* chain) {
  *chain = ChainedCrc(text->data() + start, text->size() - start, *chain);
  text->append(STATE_SEAL_KEY);
  text->append(Hex8(*chain));
}

bool StateFileCheck::SealFits(std::string_view text, size_t at, uint32_t* seal) const {
  auto fits = [&](uint32_t value) {
    *seal = value;
    char hex[8];
    PutHex8(value, hex);
    return text.compare(at + sizeof STATE_SEAL_KEY - 1, 8, std::string_view(hex, 8)) == 0;
  };
  if (chained_) return fits(ChainedCrc(text.data(), at, chain_));
  // Without the chained header (a file of an earlier agent, or one whose header was deleted to
  // edit it by hand), a seal of its own line fits, and so does one that follows the sealed line
  // before it.
  return fits(Crc32(text.data(), at)) || (!sealed_ && fits(ChainedCrc(text.data(), at, chain_)));
}

std::string Excerpt(const std::string& text) {
  if (text.size() <= STATE_EXCERPT_SIZE) return text;
  return text.substr(0, STATE_EXCERPT_SIZE) + "... (" + std::to_string(text.size()) + " bytes)";
}

StateFileCheck::Verdict StateFileCheck::Line(std::string_view text, bool ended,
                                             std::string_view* body, std::string* reason) {
  ++lines_;
  if (lines_ == 1 && ended && ParseHeader(text, &snapshot_, &chained_)) {
    sealed_ = true;
    return Verdict::Skip;
  }
  for (std::string_view headerStart : {STATE_HEADER_START, STATE_OLD_HEADER_START}) {
    if (lines_ == 1 && !ended &&
        (headerStart.rfind(text, 0) == 0 || text.rfind(headerStart, 0) == 0)) {
      *reason = "the file ends inside its header";
      return Verdict::Damaged;
    }
  }
  size_t seal = SealAt(text);
  uint32_t value = 0;
  if (!ended && (sealed_ || sawSeal_)) {
    // A write cut short leaves a prefix of "record crc=XXXXXXXX\n". Bytes after a whole seal,
    // or a whole seal that does not match, are damage instead (a line end turned into a byte).
    size_t key = text.find(STATE_SEAL_KEY);
    if ((key != std::string::npos && text.size() > key + STATE_SEAL_SIZE) ||
        (seal != std::string::npos && !SealFits(text, seal, &value))) {
      *reason = "damaged record at the end of the file";
      return Verdict::Damaged;
    }
    dropped_ = true;
    return Verdict::Skip;
  }
  if (seal == std::string::npos) {
    if (sealed_) {
      *reason =
          IsBlankOrComment(text) ? "unsealed line in a sealed file" : "record without its seal";
      return Verdict::Damaged;
    }
    if (IsBlankOrComment(text)) return Verdict::Skip;
    *body = text;
    ++records_;
    return Verdict::Record;
  }
  if (!SealFits(text, seal, &value)) {
    // In a chain the seal also covers the line before: a line taken out fails here too.
    *reason = chained_ ? "damaged record, or a record missing before it (its seal does not match)"
                       : "damaged record (its seal does not match)";
    return Verdict::Damaged;
  }
  chain_ = value;
  sawSeal_ = true;
  *body = text.substr(0, seal);
  if (IsBlankOrComment(*body)) {
    *reason = "sealed line holds no record";
    return Verdict::Damaged;
  }
  ++records_;
  return Verdict::Record;
}

bool StateFileCheck::Finish(std::string* reason) const {
  if (!sealed_ || records_ >= snapshot_) return true;
  *reason = "the file ends inside its snapshot (" + std::to_string(snapshot_) +
            " records expected, " + std::to_string(records_) + " found)";
  return false;
}

}  // namespace orvu::agent
