// Loads the modules named on the command line, in one registry and in that order, and prints
// every object they define as one tab-separated line, for a comparison with other readers:
//   module name oid kind syntax access implied index augments ranges sizes labels
// A module that fails prints "FAILED module: reason"; warnings go to standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "mibreader/mib_registry.h"

namespace orvu::mib {
namespace {

const char* KindText(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::Node: return "node";
    case ObjectKind::Scalar: return "scalar";
    case ObjectKind::Table: return "table";
    case ObjectKind::Entry: return "row";
    case ObjectKind::Column: return "column";
    case ObjectKind::Notification: return "notification";
    case ObjectKind::Group: return "group";
    case ObjectKind::Compliance: return "compliance";
  }
  return "?";
}

const char* AccessText(Access access) {
  switch (access) {
    case Access::None: return "-";
    case Access::NotAccessible: return "not-accessible";
    case Access::AccessibleForNotify: return "accessible-for-notify";
    case Access::ReadOnly: return "read-only";
    case Access::ReadWrite: return "read-write";
    case Access::ReadCreate: return "read-create";
    case Access::WriteOnly: return "write-only";
  }
  return "?";
}

std::string Bound(int64_t value) {
  if (value == INT64_MIN) return "MIN";
  if (value == INT64_MAX) return "MAX";
  return std::to_string(value);
}

std::string RangesText(const std::vector<Range>& ranges) {
  std::string text;
  for (const Range& range : ranges) {
    if (!text.empty()) text += "|";
    text += Bound(range.low);
    if (range.high != range.low) text += ".." + Bound(range.high);
  }
  return text.empty() ? "-" : text;
}

std::string Line(const std::string& module, const Object& object) {
  std::string oid;
  for (uint32_t id : object.oid) oid += (oid.empty() ? "" : ".") + std::to_string(id);
  std::string index;
  for (const std::string& name : object.indexNames) index += (index.empty() ? "" : ",") + name;
  std::string labels;
  for (const auto& [label, value] : object.enumeration)
    labels += (labels.empty() ? "" : ",") + label + "(" + std::to_string(value) + ")";
  return module + "\t" + object.name + "\t" + oid + "\t" + KindText(object.kind) + "\t" +
         std::to_string(object.syntax) + "\t" + AccessText(object.access) + "\t" +
         (object.indexImplied ? "implied" : "-") + "\t" + (index.empty() ? "-" : index) + "\t" +
         (object.augments.empty() ? "-" : object.augments) + "\t" + RangesText(object.ranges) +
         "\t" + RangesText(object.sizes) + "\t" + (labels.empty() ? "-" : labels);
}

}  // namespace
}  // namespace orvu::mib

int main(int argc, char** argv) {
  using namespace orvu::mib;
  if (argc < 3) {
    std::fprintf(stderr, "usage: mib_corpus_dump FOLDER[:FOLDER...] MODULE...\n");
    return 2;
  }
  std::vector<std::string> path;
  std::string folders = argv[1];
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    if (end > start) path.push_back(folders.substr(start, end - start));
    start = end + 1;
  }
  Registry registry(path);
  for (int i = 2; i < argc; ++i) {
    LoadError error;
    std::vector<LoadError> warnings;
    bool loaded = registry.Load(argv[i], &error, &warnings);
    for (const LoadError& warning : warnings)
      std::fprintf(stderr, "warning: %s\n", warning.Text().c_str());
    if (!loaded) {
      std::printf("FAILED %s: %s\n", argv[i], error.Text().c_str());
      continue;
    }
  }
  for (const auto& module : registry.Modules()) {
    if (module->fileName.empty()) continue;
    for (const Object& object : module->objects)
      std::printf("%s\n", Line(module->name, object).c_str());
  }
  return 0;
}
