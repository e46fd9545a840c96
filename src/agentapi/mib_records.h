// The record that the MIB library's MibGetObjectFacet fills, and the codes in it. Byte-exact on
// every target, as the agent framework's records are.
#pragma once

#include <cstddef>
#include <cstdint>

enum MibKind : uint32_t {
  MIB_KIND_OTHER = 0,
  MIB_KIND_SCALAR = 1,
  MIB_KIND_TABLE = 2,
  MIB_KIND_ENTRY = 3,
  MIB_KIND_COLUMN = 4
};

enum MibAccess : uint32_t {
  MIB_ACCESS_NONE = 0,
  MIB_ACCESS_NOT_ACCESSIBLE = 1,
  MIB_ACCESS_NOTIFY = 2,
  MIB_ACCESS_READ_ONLY = 3,
  MIB_ACCESS_READ_WRITE = 4,
  MIB_ACCESS_READ_CREATE = 5,
  MIB_ACCESS_WRITE_ONLY = 6
};

enum MibFacetKind : uint32_t {
  MIB_FACET_SUMMARY = 0,
  MIB_FACET_LABEL = 1,
  MIB_FACET_RANGE = 2,
  MIB_FACET_SIZE = 3,
  MIB_FACET_INDEX = 4,
  MIB_FACET_COLUMN = 5
};

constexpr uint32_t MIB_FLAG_INDEX_IMPLIED = 1;

struct MibFacet {
  uint32_t size;
  uint32_t kind;
  uint32_t syntax;
  uint32_t access;
  uint32_t flags;
  uint32_t object;
  int64_t low;
  int64_t high;
  char name[128];
};

static_assert(sizeof(MibFacet) == 168);
static_assert(offsetof(MibFacet, low) == 24);
static_assert(offsetof(MibFacet, name) == 40);
