#include "mibreader/mib_base_modules.h"

#include <initializer_list>
#include <utility>

#include "orvu/orvu_types.h"

namespace orvu::mib {
namespace {

struct NodeSeed {
  const char* name;
  std::initializer_list<uint32_t> oid;
};

struct TypeSeed {
  const char* name;
  uint32_t syntax;
  std::initializer_list<std::pair<const char*, int64_t>> labels = {};
  std::initializer_list<Range> ranges = {};
  std::initializer_list<Range> sizes = {};
};

std::unique_ptr<Module> Build(const char* name, std::initializer_list<NodeSeed> nodes,
                              std::initializer_list<TypeSeed> types,
                              std::initializer_list<const char*> macros) {
  auto module = std::make_unique<Module>();
  module->name = name;
  for (const NodeSeed& node : nodes) {
    Object object;
    object.name = node.name;
    object.oid = node.oid;
    module->objects.push_back(std::move(object));
  }
  for (const TypeSeed& type : types) {
    TypeDefinition definition;
    definition.name = type.name;
    definition.syntax = type.syntax;
    Labels::Map labels;
    for (const auto& [label, value] : type.labels) labels.emplace(label, value);
    definition.enumeration = std::move(labels);
    definition.ranges = type.ranges;
    definition.sizes = type.sizes;
    module->types.emplace(type.name, std::move(definition));
  }
  for (const char* macro : macros) module->macros.emplace_back(macro);
  return module;
}

}  // namespace

std::vector<std::unique_ptr<Module>> BaseModules() {
  std::vector<std::unique_ptr<Module>> modules;
  modules.push_back(
      Build("SNMPv2-SMI",
            {{"iso", {1}},
             {"org", {1, 3}},
             {"dod", {1, 3, 6}},
             {"internet", {1, 3, 6, 1}},
             {"directory", {1, 3, 6, 1, 1}},
             {"mgmt", {1, 3, 6, 1, 2}},
             {"mib-2", {1, 3, 6, 1, 2, 1}},
             {"transmission", {1, 3, 6, 1, 2, 1, 10}},
             {"experimental", {1, 3, 6, 1, 3}},
             {"private", {1, 3, 6, 1, 4}},
             {"enterprises", {1, 3, 6, 1, 4, 1}},
             {"security", {1, 3, 6, 1, 5}},
             {"snmpV2", {1, 3, 6, 1, 6}},
             {"snmpDomains", {1, 3, 6, 1, 6, 1}},
             {"snmpProxys", {1, 3, 6, 1, 6, 2}},
             {"snmpModules", {1, 3, 6, 1, 6, 3}},
             {"zeroDotZero", {0, 0}}},
            {{"Integer32", ORVU_SYNTAX_INTEGER},
             {"Unsigned32", ORVU_SYNTAX_GAUGE32},
             {"Counter32", ORVU_SYNTAX_CNTR32},
             {"Counter64", ORVU_SYNTAX_CNTR64},
             {"Gauge32", ORVU_SYNTAX_GAUGE32},
             {"TimeTicks", ORVU_SYNTAX_TIMETICKS},
             {"IpAddress", ORVU_SYNTAX_IPADDR},
             {"Opaque", ORVU_SYNTAX_OPAQUE},
             {"NsapAddress", ORVU_SYNTAX_NSAPADDR},
             {"BITS", ORVU_SYNTAX_OCTETS},
             {"ObjectName", ORVU_SYNTAX_OID},
             {"NotificationName", ORVU_SYNTAX_OID},
             {"ExtUTCTime", ORVU_SYNTAX_OCTETS},
             {"ObjectSyntax", 0},
             {"SimpleSyntax", 0},
             {"ApplicationSyntax", 0}},
            {"MODULE-IDENTITY", "OBJECT-IDENTITY", "OBJECT-TYPE", "NOTIFICATION-TYPE"}));
  modules.push_back(Build(
      "SNMPv2-TC", {},
      {{"DisplayString", ORVU_SYNTAX_OCTETS, {}, {}, {{0, 255}}},
       {"PhysAddress", ORVU_SYNTAX_OCTETS},
       {"MacAddress", ORVU_SYNTAX_OCTETS, {}, {}, {{6, 6}}},
       {"TruthValue", ORVU_SYNTAX_INTEGER, {{"true", 1}, {"false", 2}}},
       {"TestAndIncr", ORVU_SYNTAX_INTEGER, {}, {{0, 2147483647}}},
       {"AutonomousType", ORVU_SYNTAX_OID},
       {"InstancePointer", ORVU_SYNTAX_OID},
       {"VariablePointer", ORVU_SYNTAX_OID},
       {"RowPointer", ORVU_SYNTAX_OID},
       {"RowStatus",
        ORVU_SYNTAX_INTEGER,
        {{"active", 1},
         {"notInService", 2},
         {"notReady", 3},
         {"createAndGo", 4},
         {"createAndWait", 5},
         {"destroy", 6}}},
       {"TimeStamp", ORVU_SYNTAX_TIMETICKS},
       {"TimeInterval", ORVU_SYNTAX_INTEGER, {}, {{0, 2147483647}}},
       {"DateAndTime", ORVU_SYNTAX_OCTETS, {}, {}, {{8, 8}, {11, 11}}},
       {"StorageType",
        ORVU_SYNTAX_INTEGER,
        {{"other", 1}, {"volatile", 2}, {"nonVolatile", 3}, {"permanent", 4}, {"readOnly", 5}}},
       {"TDomain", ORVU_SYNTAX_OID},
       {"TAddress", ORVU_SYNTAX_OCTETS, {}, {}, {{1, 255}}}},
      {"TEXTUAL-CONVENTION"}));
  modules.push_back(
      Build("SNMPv2-CONF", {}, {},
            {"OBJECT-GROUP", "NOTIFICATION-GROUP", "MODULE-COMPLIANCE", "AGENT-CAPABILITIES"}));
  modules.push_back(Build("RFC1155-SMI",
                          {{"internet", {1, 3, 6, 1}},
                           {"directory", {1, 3, 6, 1, 1}},
                           {"mgmt", {1, 3, 6, 1, 2}},
                           {"experimental", {1, 3, 6, 1, 3}},
                           {"private", {1, 3, 6, 1, 4}},
                           {"enterprises", {1, 3, 6, 1, 4, 1}}},
                          {{"NetworkAddress", ORVU_SYNTAX_IPADDR},
                           {"IpAddress", ORVU_SYNTAX_IPADDR},
                           {"Counter", ORVU_SYNTAX_CNTR32},
                           {"Gauge", ORVU_SYNTAX_GAUGE32},
                           {"TimeTicks", ORVU_SYNTAX_TIMETICKS},
                           {"Opaque", ORVU_SYNTAX_OPAQUE},
                           {"ObjectName", ORVU_SYNTAX_OID},
                           {"ObjectSyntax", 0},
                           {"SimpleSyntax", 0},
                           {"ApplicationSyntax", 0}},
                          {"OBJECT-TYPE"}));
  modules.push_back(Build("RFC-1212", {}, {}, {"OBJECT-TYPE"}));
  modules.push_back(Build("RFC-1215", {}, {}, {"TRAP-TYPE"}));
  return modules;
}

std::unique_ptr<Module> FallbackModule(const std::string& name) {
  if (name != "RFC1213-MIB") return nullptr;
  return Build("RFC1213-MIB",
               {{"mib-2", {1, 3, 6, 1, 2, 1}},
                {"system", {1, 3, 6, 1, 2, 1, 1}},
                {"interfaces", {1, 3, 6, 1, 2, 1, 2}},
                {"at", {1, 3, 6, 1, 2, 1, 3}},
                {"ip", {1, 3, 6, 1, 2, 1, 4}},
                {"icmp", {1, 3, 6, 1, 2, 1, 5}},
                {"tcp", {1, 3, 6, 1, 2, 1, 6}},
                {"udp", {1, 3, 6, 1, 2, 1, 7}},
                {"egp", {1, 3, 6, 1, 2, 1, 8}},
                {"transmission", {1, 3, 6, 1, 2, 1, 10}},
                {"snmp", {1, 3, 6, 1, 2, 1, 11}}},
               {{"DisplayString", ORVU_SYNTAX_OCTETS, {}, {}, {{0, 255}}},
                {"PhysAddress", ORVU_SYNTAX_OCTETS}},
               {});
}

}  // namespace orvu::mib
