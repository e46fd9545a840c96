#include "agent/journal/state_integrity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "agent/journal/state_journal.h"
#include "agent/journal/state_records.h"

namespace orvu::agent {
namespace {

StateRecord Parsed(const std::string& line) {
  StateRecord r;
  std::string error;
  EXPECT_TRUE(ParseStateLine(line, &r, &error)) << line << ": " << error;
  return r;
}

class StateFileDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvu-state-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/state";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // An agent-written file: a snapshot, then changes appended to it; *lines gets every record's
  // text in file order.
  std::string Written(std::vector<std::string>* lines, size_t* snapshot) {
    const std::vector<std::string> first = {
        "module VORNEL-VNBEEP-MIB",
        "client handle=40 id=41 process-handle=42 process=4242 thread-handle=43 thread=4243 "
        "time=-1 flags=2 name=Resident%20monitor file=C:\\orvu\\monitor.exe",
        "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=50 handle=1 creator=40 time=17",
        "value handle=1 column=2 syntax=4 bytes=53706561616b6572",
        "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=13 handle=13 creator=40 time=17",
    };
    const std::vector<std::string> then = {
        "value handle=1 column=3 syntax=2 number=-5",
        "remove handle=13",
        "scalar object=1.3.6.1.4.1.32473.99.1.4 syntax=2 number=2",
        "value handle=1 column=2 syntax=4 bytes=4142434445464748494a",
    };
    StateJournal journal;
    std::string error;
    std::vector<StateRecord> records;
    for (const std::string& line : first) records.push_back(Parsed(line));
    EXPECT_TRUE(journal.Lock(path_, false, &error)) << error;
    auto source = [&](const std::function<void(const StateRecord&)>& give) {
      for (const StateRecord& r : records) give(r);
    };
    EXPECT_TRUE(journal.Rewrite(source, &error)) << error;
    for (const std::string& line : then) EXPECT_TRUE(journal.Append(Parsed(line), &error)) << error;
    *lines = first;
    lines->insert(lines->end(), then.begin(), then.end());
    *snapshot = first.size();
    return Read();
  }
  // The file rewritten as a snapshot of LINES, then CHANGES appended one after the other (more
  // than one record: a group); the file as the rewrite left it.
  std::string RewrittenThenAppended(const std::vector<std::string>& lines,
                                    const std::vector<std::vector<StateRecord>>& changes) {
    StateJournal journal;
    std::string error;
    EXPECT_TRUE(journal.Lock(path_, false, &error)) << error;
    // The journal appends to the file a rewrite left open: one more rewrite, of the same records.
    auto same = [&](const std::function<void(const StateRecord&)>& give) {
      for (const std::string& line : lines) give(Parsed(line));
    };
    EXPECT_TRUE(journal.Rewrite(same, &error)) << error;
    std::string rewritten = Read();
    for (const auto& change : changes) EXPECT_TRUE(journal.Append(change, &error)) << error;
    return rewritten;
  }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Write(const std::string& content) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
  }
  // The records read back as text, or false with *error.
  bool Load(std::vector<std::string>* lines, StateFileFound* found, std::string* error) const {
    std::vector<StateRecord> records;
    auto take = [&](StateRecord&& r, std::string*) {
      records.push_back(std::move(r));
      return true;
    };
    if (!ReadStateFile(path_, take, found, error)) return false;
    lines->clear();
    for (const StateRecord& r : records) lines->push_back(FormatStateRecord(r));
    return true;
  }

  std::string dir_;
  std::string path_;
};

// A file cut anywhere is refused, or gives a state the agent had: all of its snapshot and some
// of the changes after it, the last one left out (and said so) when it was cut inside.
TEST_F(StateFileDamageTest, ACutAnywhereIsRefusedOrGivesAnEarlierAcknowledgedState) {
  std::vector<std::string> lines;
  size_t snapshot = 0;
  std::string whole = Written(&lines, &snapshot);
  size_t refused = 0, earlier = 0, torn = 0;
  // Cut at 0 is an empty file, which is a fresh state like a missing one.
  for (size_t cut = 1; cut < whole.size(); ++cut) {
    std::string part = whole.substr(0, cut);
    Write(part);
    std::vector<std::string> got;
    StateFileFound found;
    std::string error;
    if (!Load(&got, &found, &error)) {
      ++refused;
      EXPECT_EQ(error.rfind(path_ + ":", 0), 0u) << error;
      continue;
    }
    ++earlier;
    ASSERT_GE(got.size(), snapshot) << "cut at " << cut;
    ASSERT_LE(got.size(), lines.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], lines[i]) << "cut at " << cut;
    bool midLine = cut > 0 && part.back() != '\n';
    EXPECT_EQ(found.tornLine != 0, midLine) << "cut at " << cut;
    torn += found.tornLine != 0;
  }
  EXPECT_GT(refused, 0u);
  EXPECT_GT(earlier, 0u);
  std::printf(
      "damage: %zu byte offsets cut: %zu refused, %zu an earlier acknowledged state (%zu "
      "with a cut record left out)\n",
      whole.size() - 1, refused, earlier, torn);
}

// Any one bit turned, anywhere, and any record line turned into a comment: refused, or read as
// exactly the same records.
TEST_F(StateFileDamageTest, AnyFlippedBitOrCommentedLineIsRefusedOrChangesNothing) {
  std::vector<std::string> lines;
  size_t snapshot = 0;
  std::string whole = Written(&lines, &snapshot);
  size_t tried = 0, same = 0, commented = 0;
  for (size_t at = 0; at < whole.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string damaged = whole;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
      Write(damaged);
      std::vector<std::string> got;
      StateFileFound found;
      std::string error;
      ++tried;
      if (Load(&got, &found, &error)) {
        EXPECT_EQ(got, lines) << "byte " << at << " bit " << bit;
        EXPECT_EQ(found.tornLine, 0u) << "byte " << at << " bit " << bit;
        ++same;
      } else {
        EXPECT_LT(error.size(), 200u) << error;
      }
    }
  }
  EXPECT_EQ(tried, whole.size() * 8);
  for (size_t start = whole.find('\n') + 1; start < whole.size();
       start = whole.find('\n', start) + 1) {
    std::string damaged = whole;
    damaged[start] = '#';
    Write(damaged);
    std::vector<std::string> got;
    StateFileFound found;
    std::string error;
    EXPECT_FALSE(Load(&got, &found, &error)) << "line at " << start;
    ++commented;
  }
  std::printf(
      "damage: %zu single-bit flips: %zu refused, %zu read as the same records; %zu lines "
      "made comments: all refused\n",
      tried, tried - same, same, commented);
}

// Each sealed record also covers the one before it: a record taken out of the middle of the
// snapshot or of the changes is refused like any damage (the last one can only be taken for a
// journal that ended there). Files sealed line by line, by earlier agents, still load.
TEST_F(StateFileDamageTest, ARecordTakenOutIsRefused) {
  std::vector<std::string> lines;
  size_t snapshot = 0;
  std::string whole = Written(&lines, &snapshot);
  std::vector<std::string> fileLines;
  std::istringstream in(whole);
  for (std::string line; std::getline(in, line);) fileLines.push_back(line);
  ASSERT_EQ(fileLines.size(), lines.size() + 1);
  for (size_t gone = 1; gone < fileLines.size(); ++gone) {
    SCOPED_TRACE(fileLines[gone]);
    std::string text;
    for (size_t i = 0; i < fileLines.size(); ++i) {
      if (i != gone) text += fileLines[i] + "\n";
    }
    Write(text);
    std::vector<std::string> got;
    StateFileFound found;
    std::string error;
    bool loaded = Load(&got, &found, &error);
    if (gone + 1 == fileLines.size()) {
      EXPECT_TRUE(loaded) << error;
      EXPECT_EQ(got, std::vector<std::string>(lines.begin(), lines.end() - 1));
    } else {
      EXPECT_FALSE(loaded);
      EXPECT_EQ(error, path_ + ":" + std::to_string(gone + 1) +
                           ": damaged record, or a record missing before it (its seal does not "
                           "match)");
    }
  }
  Write(
      "# orvu-agentd state: one record per line, see platform/README.md; sealed, snapshot of 2 "
      "records\n" +
      SealLine("module VORNEL-VNBEEP-MIB") + "\n" + SealLine("remove handle=1") + "\n" +
      SealLine("remove handle=2") + "\n");
  std::vector<std::string> got;
  StateFileFound found;
  std::string error;
  ASSERT_TRUE(Load(&got, &found, &error)) << error;
  EXPECT_EQ(got, (std::vector<std::string>{"module VORNEL-VNBEEP-MIB", "remove handle=1",
                                           "remove handle=2"}));
  EXPECT_TRUE(found.sealed);
  // Its header deleted, to be edited by hand, an agent-written file still loads as it stands.
  Write(whole.substr(whole.find('\n') + 1));
  ASSERT_TRUE(Load(&got, &found, &error)) << error;
  EXPECT_EQ(got, lines);
  EXPECT_FALSE(found.sealed);
}

// A group (the varbinds of one SNMP set) is one append: a file cut anywhere inside it gives all
// of the group or none of it, never a part.
TEST_F(StateFileDamageTest, AGroupCountsWholeOrNotAtAll) {
  std::vector<std::string> lines;
  size_t snapshot = 0;
  std::string before = Written(&lines, &snapshot);
  const std::vector<std::string> members = {
      "scalar object=1.3.6.1.4.1.32473.99.1.4 syntax=2 number=3",
      "value handle=1 column=3 syntax=2 number=440"};
  before = RewrittenThenAppended(lines, {{Parsed(members[0]), Parsed(members[1])}});
  std::string whole = Read();
  ASSERT_EQ(whole.compare(0, before.size(), before), 0);
  EXPECT_NE(whole.find("\ngroup records=2 crc="), std::string::npos) << whole;
  std::vector<std::string> all = lines;
  all.insert(all.end(), members.begin(), members.end());
  size_t none = 0, both = 0;
  for (size_t cut = before.size(); cut <= whole.size(); ++cut) {
    Write(whole.substr(0, cut));
    std::vector<std::string> got;
    StateFileFound found;
    std::string error;
    ASSERT_TRUE(Load(&got, &found, &error)) << "cut at " << cut << ": " << error;
    if (got == all) {
      ++both;
    } else {
      EXPECT_EQ(got, lines) << "cut at " << cut;
      EXPECT_EQ(found.tornLine != 0, cut > before.size()) << "cut at " << cut;
      ++none;
    }
  }
  EXPECT_EQ(both, 1u);
  EXPECT_EQ(none, whole.size() - before.size());
  std::printf(
      "damage: a group of 2 records cut at each of its %zu byte offsets: %zu read as "
      "neither, %zu as both, 0 as one\n",
      whole.size() - before.size() + 1, none, both);
}

// NUL bytes that the file ends in are a power cut's: the size reached the disk, the bytes
// written there did not. After every kind of record (and inside one, cut short), tails of one
// byte to 4 KiB are left out and counted, and the records before them read; a NUL byte
// anywhere else is damage.
TEST_F(StateFileDamageTest, ANulTailIsLeftOutAfterEveryRecordAndANulElsewhereIsRefused) {
  std::vector<std::string> lines;
  size_t snapshot = 0;
  Written(&lines, &snapshot);
  const std::vector<std::string> more = {"enable handle=1 flags=8",
                                         "scalar object=1.3.6.1.4.1.32473.99.1.4 syntax=2 number=3",
                                         "value handle=1 column=3 syntax=2 number=440"};
  RewrittenThenAppended(lines, {{Parsed(more[0])}, {Parsed(more[1]), Parsed(more[2])}});
  std::vector<std::string> all = lines;
  all.insert(all.end(), more.begin(), more.end());
  const std::string whole = Read();
  // Where each record ends after the header and the snapshot: the snapshot's last, the enable,
  // and the group (with its last member, at the end of the file).
  std::vector<size_t> ends;
  size_t at = 0;
  for (size_t n = 0; n <= lines.size(); ++n) at = whole.find('\n', at) + 1;
  ends.push_back(at);
  ends.push_back(whole.find('\n', at) + 1);
  ends.push_back(whole.size());
  for (size_t k = 0; k < ends.size(); ++k) {
    for (size_t nuls : {size_t{1}, size_t{2}, size_t{511}, size_t{4096}}) {
      for (size_t torn : {size_t{0}, size_t{9}}) {
        SCOPED_TRACE("record " + std::to_string(k) + ", " + std::to_string(nuls) + " NULs, " +
                     std::to_string(torn) + " bytes of a record before them");
        size_t cut = std::min(ends[k] + torn, whole.size());
        Write(whole.substr(0, cut) + std::string(nuls, '\0'));
        std::vector<std::string> got;
        StateFileFound found;
        std::string error;
        ASSERT_TRUE(Load(&got, &found, &error)) << error;
        EXPECT_EQ(found.nulTail, nuls);
        EXPECT_EQ(found.tornLine != 0, cut != ends[k]);
        EXPECT_FALSE(found.snapshot);
        size_t records = lines.size() + (k == 0 ? 0 : k == 1 ? 1 : 3);
        EXPECT_EQ(got, std::vector<std::string>(all.begin(), all.begin() + records));
      }
    }
  }
  for (size_t at : {ends[0] - 2, ends[0], ends[1] - 5}) {
    SCOPED_TRACE(at);
    std::string damaged = whole;
    damaged[at] = '\0';
    Write(damaged + std::string(100, '\0'));
    std::vector<std::string> got;
    StateFileFound found;
    std::string error;
    EXPECT_FALSE(Load(&got, &found, &error));
    EXPECT_NE(error.find(": not a text line"), std::string::npos) << error;
  }
}

// Written by hand, without seals: taken as before, comments, blank lines, a last line without
// its end and all; a sealed line in it is still checked.
TEST_F(StateFileDamageTest, HandWrittenFilesStayLoadable) {
  Write("# by hand\n\nmodule VORNEL-VNBEEP-MIB\nscalar oid=1.3 syntax=2 number=7");
  std::vector<std::string> got;
  StateFileFound found;
  std::string error;
  ASSERT_TRUE(Load(&got, &found, &error)) << error;
  // The scalar in the form of earlier agents reads as the one written now.
  EXPECT_EQ(got, (std::vector<std::string>{"module VORNEL-VNBEEP-MIB",
                                           "scalar object=1.3 syntax=2 number=7"}));
  EXPECT_FALSE(found.sealed);
  EXPECT_EQ(found.tornLine, 0u);

  std::string sealed = SealLine("remove handle=1");
  Write("module A\n" + sealed + "\n");
  ASSERT_TRUE(Load(&got, &found, &error)) << error;
  EXPECT_EQ(got.back(), "remove handle=1");
  sealed[7] = '7';
  Write("module A\n" + sealed + "\n");
  EXPECT_FALSE(Load(&got, &found, &error));
  EXPECT_EQ(error, path_ + ":2: damaged record (its seal does not match)");
}

// A megabyte of a bad line does not make a megabyte of message.
TEST_F(StateFileDamageTest, MessagesQuoteOnlyTheStartOfALongLine) {
  Write("scalar oid=1.3 syntax=2 bytes=" + std::string(1 << 20, 'g') + "\n");
  std::vector<std::string> got;
  StateFileFound found;
  std::string error;
  EXPECT_FALSE(Load(&got, &found, &error));
  EXPECT_EQ(error, path_ + ":1: bad hex bytes: gggggggggggggggggggggggggggggggggggggggg... (" +
                       std::to_string(1 << 20) + " bytes)");
}

}  // namespace
}  // namespace orvu::agent
