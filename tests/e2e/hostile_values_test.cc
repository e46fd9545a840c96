// Values that no MIB allows, put into the agent through its state file: very long octet strings
// and OIDs, and counts that disagree with the data they count. The tool prints or refuses each
// and ends normally; the Valgrind run of this suite checks that it stays inside its buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "agent_process.h"

namespace {

const std::string ENTRY = "1.3.6.1.4.1.32473.99.5.1";

std::string Dotted(uint32_t first, uint32_t count) {
  std::string text;
  for (uint32_t i = 0; i < count; ++i) text += (i == 0 ? "" : ".") + std::to_string(first + i);
  return text;
}

std::string Hex(const std::string& bytes) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += DIGITS[c >> 4];
    text += DIGITS[c & 15];
  }
  return text;
}

TestAgentOptions WithState(const std::string& state) {
  TestAgentOptions options;
  options.initialState = "module VORNEL-VNBEEP-MIB\n" + state;
  return options;
}

std::string Leaf(int column, const std::string& index, const std::string& text) {
  return "\n    " + std::to_string(column) + ": " + ENTRY + "." + std::to_string(column) + "." +
         index + " **** " + text;
}

// The text between the start of leaf COLUMN of the first instance and the next line end.
std::string LeafLine(const std::string& out, int column) {
  std::string start = "\n    " + std::to_string(column) + ": ";
  size_t at = out.find(start);
  if (at == std::string::npos) return "(missing)";
  size_t end = out.find('\n', at + 1);
  return out.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// LINE is WHOLE, or WHOLE cut somewhere in its value.
bool PrintsPartOf(const std::string& line, const std::string& whole) {
  return line.size() > whole.find(" **** ") + 16 && whole.compare(0, line.size(), line) == 0;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(HostileValuesE2e, LongValuesPrintWholeAndDisagreeingCountsStayInsideTheirData) {
  const std::string octets(100000, 'x');
  const std::string longOid = Dotted(1, 10000);
  TestAgent agent(
      WithState("instance entry=" + ENTRY +
                " index=1 handle=1 creator=7 time=86400 leaves=12\n"
                "value handle=1 column=1 syntax=4 bytes=" +
                Hex(octets) +
                "\n"
                "value handle=1 column=2 syntax=6 oid=" +
                longOid +
                "\n"
                // Counts with no data behind them.
                "value handle=1 column=3 syntax=4 number=100000\n"
                "value handle=1 column=4 syntax=6 number=10000\n"
                // Data under a syntax of another form.
                "value handle=1 column=5 syntax=4 number=1 second=5\n"
                "value handle=1 column=6 syntax=6 bytes=0102030405\n"
                "value handle=1 column=7 syntax=70 bytes=" +
                Hex(octets) +
                "\n"
                "value handle=1 column=8 syntax=67 oid=" +
                longOid +
                "\n"
                "value handle=1 column=9 syntax=4711 number=1 second=12345\n"
                "value handle=1 column=10 syntax=4 oid=1.2\n"
                "value handle=1 column=11 syntax=64 bytes=0102\n"
                "value handle=1 column=12 syntax=64 bytes=" +
                Hex(octets.substr(0, 1000)) +
                "\n"
                // An index far longer than the record holds, and a leaf count past any column.
                "instance entry=" +
                ENTRY + " index=" + longOid +
                " handle=2 creator=7 time=86400 leaves=4294967295\n"
                "value handle=2 column=1 syntax=2 number=1\n"));
  OasetRun run = RunOaset(&agent, {"-t" + ENTRY});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(EndsWith(run.out, "\nNothing to set.\n" + FinishedText())) << run.out.substr(0, 2000);

  // Long values print whole or cut, but never with anything that is not theirs.
  EXPECT_TRUE(PrintsPartOf(LeafLine(run.out, 1), Leaf(1, "1", "(octets) " + octets)));
  EXPECT_TRUE(PrintsPartOf(LeafLine(run.out, 2), Leaf(2, "1", "(oid) iso." + Dotted(2, 9999))));
  EXPECT_EQ(LeafLine(run.out, 3), Leaf(3, "1", "(octets) (zero-length)"));
  EXPECT_EQ(LeafLine(run.out, 4), Leaf(4, "1", "(oid) "));
  // A second half is never read as the address of octets, nor a byte count as sub-identifiers.
  EXPECT_EQ(LeafLine(run.out, 5), Leaf(5, "1", "(octets) (zero-length)"));
  EXPECT_EQ(LeafLine(run.out, 6), Leaf(6, "1", "(oid) 67305985"));
  // A Counter64 shows no address as its second half.
  EXPECT_EQ(LeafLine(run.out, 7), Leaf(7, "1", "(cntr64) 186a0.0 (hex)"));
  EXPECT_EQ(LeafLine(run.out, 8), Leaf(8, "1", "(timeticks) 0 days 00h:01m:40s.00th"));
  EXPECT_EQ(LeafLine(run.out, 9), "\n    9: ");
  EXPECT_EQ(LeafLine(run.out, 10), Leaf(10, "1", "(octets) 01.00 (hex)"));
  EXPECT_EQ(LeafLine(run.out, 11), Leaf(11, "1", "(ipaddr) 1.2"));

  // The long index prints its first 128 sub-identifiers; the leaves of that cut index end at once.
  EXPECT_NE(run.out.find("\n 2: Table entry instance OID - " + ENTRY + ".<index>." +
                         Dotted(1, 128) + "\n"),
            std::string::npos);
  EXPECT_TRUE(
      EndsWith(run.out, "    Instance leafs:\n    1: \n\n\nNothing to set.\n" + FinishedText()));
}

TEST(HostileValuesE2e, OverlongClientTextsAreCut) {
  TestAgent agent(WithState(
      "client handle=40 id=41 process-handle=42 process=4242 thread-handle=43 thread=4243 "
      "time=86400 flags=2 name=" +
      std::string(5000, 'n') + " file=" + std::string(100000, 'f') + "\n"));
  OasetRun run = RunOaset(&agent, {"-c"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\n    Name: " + std::string(126, 'n') + "\n"), std::string::npos);
  EXPECT_NE(run.out.find("\n    File name: " + std::string(260, 'f') + "\n"), std::string::npos);
  EXPECT_TRUE(EndsWith(run.out, FinishedText()));
}

TEST(HostileValuesE2e, VeryLongOidsAndValuesOnTheCommandLine) {
  uint32_t components = 10000;
  while (Dotted(1, components).size() + 30 > LongestArgument(SIZE_MAX)) components -= 1000;
  const std::string longOid = "1.3.6.1.4.1.32473.99.8." + Dotted(1, components);
  // As long as the agent takes: SNMP carries no longer string.
  const std::string value(LongestArgument(65535), 'v');
  TestAgent agent(WithState("scalar oid=" + longOid + " syntax=4 bytes=\n"));
  OasetRun run = RunOaset(&agent, {"-s" + longOid, "-mo" + value});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(EndsWith(run.out, FinishedText()));
  EXPECT_NE(agent.ReadState().find(Hex(value)), std::string::npos) << run.out.substr(0, 3000);
}

}  // namespace
