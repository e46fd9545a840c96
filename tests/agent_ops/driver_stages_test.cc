#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "agent_ops/banner.h"
#include "agent_ops/client_list.h"
#include "agent_ops/version_report.h"
#include "agentapi/outside_api.h"

namespace {

template <typename Stage>
std::string Captured(Stage stage) {
  ::testing::internal::CaptureStdout();
  stage();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

std::vector<AgentClientInfo> gClients;
std::vector<uint32_t> gClientSizesSeen;
AgentVersionInfo gVersion;
int gVersionResult;

int OUTSIDE_CALL FakeEnumClients(AgentHandle, uint32_t index, AgentClientInfo* info) {
  gClientSizesSeen.push_back(info->size);
  if (index == 0 || index > gClients.size()) return 0;
  uint32_t size = info->size;
  *info = gClients[index - 1];
  info->size = size;
  return 1;
}

int OUTSIDE_CALL FakeLastError() { return 1006; }

const char* OUTSIDE_CALL FakeErrorText(int, char* buffer, uint32_t size) {
  std::snprintf(buffer, size, "the connection to the agent was lost");
  return buffer;
}

int OUTSIDE_CALL FakeGetVersionInfo(AgentVersionInfo* info) {
  if (info->size != AGENT_VERSION_INFO_SIZE) return 0;
  *info = gVersion;
  return gVersionResult;
}

TEST(ClientListTest, OddValuesAndUnterminatedNamesStayInsideTheRecord) {
  AgentClientInfo client{};
  client.clientHandle = 0xFFFFFFFFu;
  client.clientId = 42;
  client.flags = 0x80000001u;
  client.processHandle = 7;
  client.processId = 4000000000u;
  client.threadHandle = 0;
  client.threadId = 1;
  client.registrationTime = -5;
  std::memset(client.name, 'N', sizeof(client.name));
  std::memset(client.fileName, 'F', sizeof(client.fileName));
  gClients = {client};
  gClientSizesSeen.clear();
  gApi = OutsideApi{};
  gApi.AgentEnumClients = FakeEnumClients;

  std::string expected =
      "\nClients connected to Orvu Agent:\n\n  Client 1:\n    Name: " + std::string(127, 'N') +
      "\n    File name: " + std::string(261, 'F') +
      "\n    Handle: 0xFFFFFFFF"
      "\n    Id: 0x0000002A"
      "\n    Flags: 0x80000001"
      "\n    Registration time: (null)    Process: 0x00000007 (handle), "
      "4000000000 (id)"
      "\n    Thread: 0x00000000 (handle), 1 (id)"
      "\n";
  EXPECT_EQ(Captured([] { PrintClientList(5); }), expected);
  // The size is set once and the calls run 0, 1, 2.
  EXPECT_EQ(gClientSizesSeen, (std::vector<uint32_t>{AGENT_CLIENT_INFO_SIZE, AGENT_CLIENT_INFO_SIZE,
                                                     AGENT_CLIENT_INFO_SIZE}));
}

TEST(VersionReportTest, OnlyAResultOfExactlyOneCounts) {
  std::memset(&gVersion, 0, sizeof(gVersion));
  gVersion.versionMajor = 3;
  gVersion.versionMinor = 1;
  gVersion.build = 77;
  std::strcpy(gVersion.specText, "SNMPv2 framework");
  gVersion.enterpriseNumber = 32473;
  std::memset(gVersion.vendorName, 'V', sizeof(gVersion.vendorName));  // no terminator
  std::strcpy(gVersion.vendorOid, "1.3.6.1.4.1.32473");
  std::strcpy(gVersion.vendorWeb, "w");
  std::strcpy(gVersion.vendorEmail, "e");
  gApi = OutsideApi{};
  gApi.AgentGetVersionInfo = FakeGetVersionInfo;

  gVersionResult = 1;
  EXPECT_EQ(Captured(PrintVersionReport),
            "\n\nOrvu SNMP Agent version information:\n"
            "\n  Orvu SNMP Agent version: 3.1 (Build 77)"
            "\n  Orvu SNMP Agent spec: SNMPv2 framework"
            "\n  Vendor name: " +
                std::string(80, 'V') +
                "\n  Vendor OID: 1.3.6.1.4.1.32473"
                "\n  Vendor IANA enterprise number: 32473"
                "\n  Vendor WEB: w"
                "\n  Vendor E-Mail: e"
                "\n");

  // A failure also says why, on standard error.
  gApi.AgentGetLastError = FakeLastError;
  gApi.AgentErrorText = FakeErrorText;
  gVersionResult = 2;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Captured(PrintVersionReport),
            "\n\nOrvu SNMP Agent version information:\n\nFailed.\n\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "oaset: no version from the agent framework: the connection to the agent was lost\n");
}

}  // namespace
