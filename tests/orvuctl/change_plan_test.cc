// The difference between held and wanted rows, as the changes of one change set: table rows.
#include "orvuctl/change_plan.h"

#include <gtest/gtest.h>

#include "orvuctl/change_report.h"
#include "values/change_record.h"

namespace {

MibObject Object(const std::string& name, std::vector<uint32_t> oid, uint32_t kind,
                 SnmpSyntax syntax) {
  MibObject object;
  object.name = name;
  object.oid = std::move(oid);
  object.kind = kind;
  object.shape.syntax = syntax;
  return object;
}

const MibObject ENTRY = Object("freqEntry", {1, 9, 1}, MIB_KIND_ENTRY, SYNTAX_NULL);
const MibObject DESCR = Object("freqDescr", {1, 9, 1, 2}, MIB_KIND_COLUMN, SYNTAX_OCTETS);
const MibObject HERTZ = Object("freqHertz", {1, 9, 1, 3}, MIB_KIND_COLUMN, SYNTAX_INTEGER);

PlainValue Text(const std::string& text) {
  PlainValue value;
  value.syntax = SYNTAX_OCTETS;
  value.bytes = text;
  return value;
}

PlainValue Int(uint32_t number) {
  PlainValue value;
  value.syntax = SYNTAX_INTEGER;
  value.number = number;
  return value;
}

WantedRow Wanted(uint32_t index, std::vector<std::pair<const MibObject*, PlainValue>> values,
                 bool present = true) {
  return WantedRow{{index}, present, std::move(values)};
}

HeldRow Held(uint32_t index, std::map<const MibObject*, PlainValue> values = {}) {
  return HeldRow{{index}, std::move(values)};
}

// One line per change: ACTION OBJECT [BEFORE -> AFTER], OID.
std::vector<std::string> Lines(const std::vector<PlannedChange>& changes) {
  std::vector<std::string> lines;
  for (const PlannedChange& change : changes) {
    std::string line = change.action == CHANGE_CREATE   ? "create "
                       : change.action == CHANGE_REMOVE ? "remove "
                                                        : "set ";
    line += ChangeObjectName(change);
    if (change.action == CHANGE_SET)
      line += " " + (change.before ? PlainText(*change.before) : "-") + " -> " +
              PlainText(*change.after);
    line += " @" + (change.action == CHANGE_SET ? "" : DottedText(change.object->oid)) + "/" +
            DottedText(change.oid);
    lines.push_back(line);
  }
  return lines;
}

struct PlanRow {
  const char* what;
  bool exclusive;
  std::vector<WantedRow> wanted;
  std::vector<HeldRow> held;
  std::vector<std::string> changes;
};

TEST(ChangePlan, TableRows) {
  const PlanRow rows[] = {
      {"nothing wanted, nothing held", false, {}, {}, {}},
      {"a new row is created with its values",
       false,
       {Wanted(21, {{&DESCR, Text("low")}, {&HERTZ, Int(220)}})},
       {},
       {"create freqEntry.21 @1.9.1/21", "set freqDescr.21 - -> \"low\" @/1.9.1.2.21",
        "set freqHertz.21 - -> 220 @/1.9.1.3.21"}},
      {"a held row gets only the values that differ",
       false,
       {Wanted(21, {{&DESCR, Text("low")}, {&HERTZ, Int(220)}})},
       {Held(21, {{&DESCR, Text("low")}, {&HERTZ, Int(440)}})},
       {"set freqHertz.21 440 -> 220 @/1.9.1.3.21"}},
      {"the same state again changes nothing",
       true,
       {Wanted(21, {{&DESCR, Text("low")}})},
       {Held(21, {{&DESCR, Text("low")}})},
       {}},
      {"a value of another syntax differs, even with the same number",
       false,
       {Wanted(21, {{&HERTZ, Int(220)}})},
       {Held(21, {{&HERTZ,
                   [] {
                     PlainValue gauge = Int(220);
                     gauge.syntax = SYNTAX_GAUGE32;
                     return gauge;
                   }()}})},
       {"set freqHertz.21 220 -> 220 @/1.9.1.3.21"}},
      {"a held value the row lacks is written",
       false,
       {Wanted(21, {{&DESCR, Text("")}})},
       {Held(21)},
       {"set freqDescr.21 - -> \"\" @/1.9.1.2.21"}},
      {"absent rows are removed when held, and nothing else",
       false,
       {Wanted(22, {}, false), Wanted(23, {}, false)},
       {Held(22), Held(24)},
       {"remove freqEntry.22 @1.9.1/22"}},
      {"exclusive: unlisted rows go, listed ones stay",
       true,
       {Wanted(21, {})},
       {Held(20), Held(21), Held(30)},
       {"remove freqEntry.20 @1.9.1/20", "remove freqEntry.30 @1.9.1/30"}},
      {"exclusive without rows empties the table",
       true,
       {},
       {Held(1), Held(2)},
       {"remove freqEntry.1 @1.9.1/1", "remove freqEntry.2 @1.9.1/2"}},
  };
  for (const PlanRow& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<PlannedChange> changes;
    PlanTable(ENTRY, row.exclusive, row.wanted, row.held, &changes);
    EXPECT_EQ(Lines(changes), row.changes);
  }
}

TEST(ChangePlan, ValuesAndTheirDiff) {
  MibObject volume = Object("volume", {1, 2}, MIB_KIND_SCALAR, SYNTAX_INTEGER);
  ResolvedName name{&volume, {1, 2, 0}, {0}, "volume.0"};
  std::vector<PlannedChange> changes;
  PlanValue(name, Int(40), Int(40), &changes);
  EXPECT_TRUE(changes.empty());
  PlanValue(name, Int(30), Int(40), &changes);
  PlanTable(ENTRY, true, {Wanted(21, {{&DESCR, Text("low")}})}, {Held(22)}, &changes);
  EXPECT_EQ(Lines(changes),
            (std::vector<std::string>{
                "set volume.0 30 -> 40 @/1.2.0", "create freqEntry.21 @1.9.1/21",
                "set freqDescr.21 - -> \"low\" @/1.9.1.2.21", "remove freqEntry.22 @1.9.1/22"}));
  DiffTexts texts = MakeDiffTexts(changes);
  EXPECT_EQ(texts.before, "freqEntry.22: present\nvolume.0 = 30\n");
  EXPECT_EQ(texts.after, "freqDescr.21 = \"low\"\nfreqEntry.21: present\nvolume.0 = 40\n");
}

}  // namespace
