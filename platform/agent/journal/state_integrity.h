// What tells a whole, agent-written state file from a damaged or torn one. Every line the agent
// writes ends in " crc=XXXXXXXX"; the first line says how many records the snapshot that follows
// it holds. Under the chained header, a seal is the CRC-32 of the seal before it (in hex; none
// for the first record) and the text before it, so that a line taken out of the file breaks the
// chain at the next one; under the header of earlier agents, and on lines written by hand, it is
// the CRC-32 of the text alone. Lines written by hand carry no seal and are taken as they are, as
// long as the file has no header of the agent's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvu::agent {

// The header line of a snapshot of COUNT records (unsealed: it is checked by its form); the
// records after it are sealed in a chain.
std::string StateHeader(size_t records);
// LINE with its seal appended, on its own (as in a hand-written file).
std::string SealLine(const std::string& line);
// LINE with its seal appended in a chain: *chain is the seal before it (0 for the first record
// after the header), and becomes this one's.
std::string SealLineInChain(const std::string& line, uint32_t* chain);
// The same for the line that *TEXT holds from START on: its seal is appended to *TEXT.
void SealTailInChain(std::string* text, size_t start, uint32_t* chain);
// Whether LINE is the header that starts a file the agent wrote.
bool IsStateHeader(const std::string& line);
// LINE without the seal it ends in, if it ends in one (matching or not).
std::string WithoutSeal(const std::string& line);
// Shortens a text quoted in a message, so that a damaged megabyte line does not become one.
std::string Excerpt(const std::string& text);

// Judges the lines of one state file in order.
class StateFileCheck {
 public:
  enum class Verdict { Record, Skip, Damaged };
  // One line, without its line end; LAST with ENDED false is a final line without one. On Record,
  // *body is the line without its seal (a view into TEXT), to be parsed; on Damaged, *reason says
  // why.
  Verdict Line(std::string_view text, bool ended, std::string_view* body, std::string* reason);
  // After the last line: false with *reason when the file ends before its snapshot does.
  bool Finish(std::string* reason) const;
  // The agent wrote this file (its header is there).
  bool Sealed() const { return sealed_; }
  // The final line had no line end and was left out: a write cut short, never acknowledged.
  bool DroppedTornLine() const { return dropped_; }
  // The file is one whole snapshot in a chain: its header's count of records, each sealed onto
  // the one before, and nothing after them.
  bool WholeSnapshot() const { return sealed_ && chained_ && !dropped_ && records_ == snapshot_; }
  // Under the header whose seals form a chain.
  bool Chained() const { return sealed_ && chained_; }
  // The seal of the last record read.
  uint32_t LastSeal() const { return chain_; }

 private:
  // Whether TEXT's seal at AT fits; *seal gets its value.
  bool SealFits(std::string_view text, size_t at, uint32_t* seal) const;

  size_t lines_ = 0;
  bool sealed_ = false;
  bool chained_ = false;
  uint32_t chain_ = 0;  // the last seal, in a chained file
  bool sawSeal_ = false;
  bool dropped_ = false;
  size_t snapshot_ = 0;
  size_t records_ = 0;
};

}  // namespace orvu::agent
