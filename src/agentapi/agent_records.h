// Records that the agent framework library fills. Byte-exact on every target: the library and the
// tool agree on them only through these layouts.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t AGENT_VERSION_INFO_SIZE = 428;
constexpr uint32_t AGENT_CLIENT_INFO_SIZE = 424;
constexpr uint32_t TABLE_INSTANCE_INFO_SIZE = 1056;
constexpr uint32_t TABLE_OID_MAX_IDS = 128;

struct AgentVersionInfo {
  uint32_t size;
  int32_t versionMajor;
  int32_t versionMinor;
  int32_t build;
  char specText[84];
  int32_t enterpriseNumber;
  char vendorName[80];
  char vendorOid[80];
  char vendorWeb[80];
  char vendorEmail[84];
};

struct AgentClientInfo {
  uint32_t size;
  uint32_t clientHandle;
  uint32_t clientId;
  uint32_t processHandle;
  uint32_t processId;
  uint32_t threadHandle;
  uint32_t threadId;
  int32_t registrationTime;
  uint32_t flags;
  char name[127];
  char fileName[261];
};

struct TableInstanceInfo {
  uint32_t size;
  uint32_t instanceHandle;
  uint32_t clientHandle;
  int32_t creationTime;
  uint32_t reserved;
  uint32_t leafCount;
  uint32_t entryOidCount;
  uint32_t entryOidIds[TABLE_OID_MAX_IDS];
  uint32_t indexOidCount;
  uint32_t indexOidIds[TABLE_OID_MAX_IDS];
};

static_assert(sizeof(AgentVersionInfo) == AGENT_VERSION_INFO_SIZE);
static_assert(offsetof(AgentVersionInfo, specText) == 16);
static_assert(offsetof(AgentVersionInfo, enterpriseNumber) == 100);
static_assert(offsetof(AgentVersionInfo, vendorName) == 104);
static_assert(offsetof(AgentVersionInfo, vendorOid) == 184);
static_assert(offsetof(AgentVersionInfo, vendorWeb) == 264);
static_assert(offsetof(AgentVersionInfo, vendorEmail) == 344);

static_assert(sizeof(AgentClientInfo) == AGENT_CLIENT_INFO_SIZE);
static_assert(offsetof(AgentClientInfo, processId) == 16);
static_assert(offsetof(AgentClientInfo, registrationTime) == 28);
static_assert(offsetof(AgentClientInfo, flags) == 32);
static_assert(offsetof(AgentClientInfo, name) == 36);
static_assert(offsetof(AgentClientInfo, fileName) == 163);

static_assert(sizeof(TableInstanceInfo) == TABLE_INSTANCE_INFO_SIZE);
static_assert(offsetof(TableInstanceInfo, creationTime) == 12);
static_assert(offsetof(TableInstanceInfo, leafCount) == 20);
static_assert(offsetof(TableInstanceInfo, entryOidCount) == 24);
static_assert(offsetof(TableInstanceInfo, entryOidIds) == 28);
static_assert(offsetof(TableInstanceInfo, indexOidCount) == 540);
static_assert(offsetof(TableInstanceInfo, indexOidIds) == 544);
