#include "orvuctl/change_report.h"

#include <cstdio>
#include <map>
#include <set>

#include "values/change_record.h"
#include "values/syntax_table.h"

namespace {

constexpr size_t REPORT_TEXT_HELD = 64 * 1024;

const char* ActionText(uint32_t action) {
  switch (action) {
    case CHANGE_CREATE: return "create";
    case CHANGE_REMOVE: return "remove";
    default: return "set";
  }
}

std::string ValueText(const std::optional<PlainValue>& value, const ValueShape* shape) {
  return value ? PlainText(*value, shape) : "(absent)";
}

nlohmann::ordered_json ValueJson(const std::optional<PlainValue>& value) {
  return value ? PlainJson(*value) : nlohmann::ordered_json(nullptr);
}

std::string Lines(const std::map<std::string, std::string>& lines) {
  std::string text;
  for (const auto& [object, line] : lines) text += line + "\n";
  return text;
}

void PrintUnified(const DiffTexts& texts) {
  auto split = [](const std::string& text) {
    std::set<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.insert(text.substr(start, end - start));
    return lines;
  };
  std::set<std::string> before = split(texts.before);
  std::set<std::string> after = split(texts.after);
  std::string out = "--- before\n+++ after\n";
  for (const std::string& line : before)
    if (!after.count(line)) out += "-" + line + "\n";
  for (const std::string& line : after)
    if (!before.count(line)) out += "+" + line + "\n";
  std::fputs(out.c_str(), stdout);
}

}  // namespace

DiffTexts MakeDiffTexts(const std::vector<PlannedChange>& changes) {
  std::map<std::string, std::string> before;
  std::map<std::string, std::string> after;
  for (const PlannedChange& change : changes) {
    std::string name = ChangeObjectName(change);
    std::string present = name + ": present";
    if (change.action == CHANGE_CREATE) after[name] = present;
    if (change.action == CHANGE_REMOVE) before[name] = present;
    if (change.action != CHANGE_SET) continue;
    if (change.before) before[name] = name + " = " + PlainText(*change.before, ChangeShape(change));
    after[name] = name + " = " + PlainText(*change.after, ChangeShape(change));
  }
  return {Lines(before), Lines(after)};
}

void PrintChanges(const std::vector<PlannedChange>& changes, const ChangeReportOptions& options) {
  if (options.json) {
    // Written a change at a time: a document of 100,000 changes held whole would outweigh the
    // change set itself.
    std::string text = "{\"changed\":" + std::to_string(changes.size()) +
                       ",\"check\":" + (options.check ? "true" : "false") + ",\"changes\":[";
    for (size_t i = 0; i < changes.size(); ++i) {
      const PlannedChange& change = changes[i];
      nlohmann::ordered_json item;
      item["action"] = ActionText(change.action);
      item["object"] = ChangeObjectName(change);
      if (change.action == CHANGE_SET) {
        item["syntax"] = SyntaxSmiText(change.after->syntax, false);
        item["before"] = ValueJson(change.before);
        item["after"] = ValueJson(change.after);
      } else {
        item["before"] = nullptr;
        item["after"] = nullptr;
      }
      if (i > 0) text += ',';
      text += JsonText(item);
      if (text.size() >= REPORT_TEXT_HELD) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        text.clear();
      }
    }
    text += ']';
    if (options.diff) {
      DiffTexts texts = MakeDiffTexts(changes);
      text += ",\"diff\":" + JsonText({{"before", texts.before}, {"after", texts.after}});
    }
    text += "}\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  std::string out;
  for (const PlannedChange& change : changes) {
    out += ActionText(change.action);
    out += ' ';
    out += ChangeObjectName(change);
    if (change.action == CHANGE_SET)
      out += ": " + ValueText(change.before, ChangeShape(change)) + " -> " +
             ValueText(change.after, ChangeShape(change));
    out += '\n';
  }
  if (changes.empty())
    out += "nothing to change\n";
  else if (options.check)
    out += "would change: " + std::to_string(changes.size()) + " (check: nothing was changed)\n";
  else
    out += "changed: " + std::to_string(changes.size()) + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (options.diff && !changes.empty()) PrintUnified(MakeDiffTexts(changes));
}
