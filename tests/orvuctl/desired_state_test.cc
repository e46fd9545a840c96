// Desired states as files state them, YAML and JSON, read into names and texts: table rows.
#include "orvuctl/desired_state.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// The state in one line: values, then each table with its rows (index, state, column=text).
std::string Summary(const DesiredState& state) {
  std::string text;
  for (const auto& [name, value] : state.values) text += name + "=" + value + ";";
  for (const DesiredTable& table : state.tables) {
    text += " " + table.entry + (table.exclusive ? "!" : "") + ":";
    for (const DesiredRow& row : table.rows) {
      text += " [" + row.index + (row.present ? "" : " absent");
      for (const auto& [column, value] : row.values)
        text += " " + table.columns[column] + "=" + value;
      text += "]";
    }
  }
  return text;
}

struct ReadRow {
  const char* file;
  const char* summary;  // nullptr: refused with REASON
  const char* reason;
};

TEST(DesiredState, YamlAndJsonFiles) {
  const ReadRow rows[] = {
      {"", "", ""},
      {"values:\n  speakerVolume: 40\n  speakerMuted: ~\n", "speakerVolume=40;speakerMuted=;", ""},
      {"tables:\n  speakerFreqEntry:\n    exclusive: true\n    rows:\n"
       "      - index: 21\n        speakerFreqDescr: \"low beep\"\n        speakerFreqHertz: 220\n"
       "      - {index: 22, state: absent}\n",
       " speakerFreqEntry!: [21 speakerFreqDescr=low beep speakerFreqHertz=220] [22 absent]", ""},
      {"{\"values\": {\"speakerVolume\": 40}, \"tables\": {\"speakerFreqEntry\": {\"rows\": "
       "[{\"index\": 21, \"speakerFreqDescr\": \"x\", \"speakerFreqLevel\": 1.5}, "
       "{\"index\": \"1.2\", \"state\": \"absent\"}], \"exclusive\": false}}}",
       "speakerVolume=40; speakerFreqEntry: [21 speakerFreqDescr=x speakerFreqLevel=1.5] "
       "[1.2 absent]",
       ""},
      {"tables:\n  e:\n    rows:\n", " e:", ""},
      {"- 1\n", nullptr, "f: line 1: a desired state is a mapping of values and tables"},
      {"value:\n  a: 1\n", nullptr, "f: line 1: unknown key \"value\" (values, tables)"},
      {"values:\n  a: [1, 2]\n", nullptr,
       "f: line 2: a takes a single value, not a list or a mapping"},
      {"tables:\n  e:\n    row: []\n", nullptr,
       "f: line 3: e: unknown key \"row\" (rows, exclusive)"},
      {"tables:\n  e:\n    exclusive: maybe\n", nullptr,
       "f: line 3: e: exclusive takes true or false, not \"maybe\""},
      {"tables:\n  e:\n    rows:\n      - index: 1\n        state: gone\n", nullptr,
       "f: line 5: state takes present or absent, not \"gone\""},
      {"tables:\n  e:\n    rows:\n      - 21\n", nullptr,
       "f: line 4: a row is a mapping of index, state and columns"},
      {"tables:\n  e:\n    rows:\n      - speakerFreqHertz: 220\n", nullptr,
       "f: line 4: a row without its index"},
      {"values:\n  a: &x 1\n  b: *x\n", nullptr,
       "f: line 3: aliases (*name) are not taken; write the value out"},
      {"{\"tables\": {\"e\": {\"rows\": [{\"speakerFreqHertz\": 220}]}}}", nullptr,
       "f: a row without its index"},
  };
  for (const ReadRow& row : rows) {
    SCOPED_TRACE(row.file);
    std::istringstream in(row.file);
    DesiredState state;
    std::string reason;
    bool read = ReadDesiredStateFrom(in, "f", &state, &reason);
    EXPECT_EQ(read, row.summary != nullptr) << reason;
    if (read) {
      EXPECT_EQ(Summary(state), row.summary);
    } else {
      EXPECT_EQ(reason, row.reason);
    }
  }
  // A file that breaks off is the parser's to describe; where it broke is said.
  for (const char* broken : {"values: {a: 1\n", "{\"values\": {\"a\": 1"}) {
    std::istringstream in(broken);
    DesiredState state;
    std::string reason;
    EXPECT_FALSE(ReadDesiredStateFrom(in, "f", &state, &reason));
    EXPECT_EQ(reason.rfind("f: ", 0), 0u) << reason;
  }
}

}  // namespace
