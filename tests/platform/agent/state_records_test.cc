#include "agent/journal/state_records.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/messages.h"

namespace orvu::agent {
namespace {

TEST(StateRecordsTest, EveryRecordReadsBackAsItWasWritten) {
  const char* lines[] = {
      "module VORNEL-VNBEEP-MIB",
      "client handle=1 id=2 process-handle=3 process=4 thread-handle=5 thread=6 time=-7 flags=8 "
      "name=a%20b%25c%3d file=/bin/x",
      "instance entry=1.3.6.1 index=4294967295.0 handle=9 creator=2 time=-2147483648 enabled=8 "
      "leaves=0",
      "instance entry=1.3 index=1 handle=10 creator=0 time=0",
      "enable handle=9 flags=0",
      "remove handle=10",
      "value handle=9 column=2 syntax=4 bytes=00ff",
      "value handle=9 column=3 syntax=70 number=1 second=2",
      "value handle=9 column=4 syntax=6 oid=",
      "value handle=9 column=5 syntax=2 number=-5",
      "scalar object=1.3.6.1.4 syntax=4000000000 bytes=",
      "scalar object=1.3.6.1.4 syntax=6 oid=1.3.6.1.2",
  };
  for (const char* line : lines) {
    StateRecord record;
    std::string error;
    ASSERT_TRUE(ParseStateLine(line, &record, &error)) << line << ": " << error;
    EXPECT_EQ(FormatStateRecord(record), line);
  }
  StateRecord record;
  std::string error;
  ASSERT_TRUE(
      ParseStateLine("client handle=1 id=2 process-handle=3 process=4 thread-handle=5 "
                     "thread=6 time=-7 flags=8 name=a%20b%25c%3d file=x",
                     &record, &error));
  EXPECT_EQ(record.client.name, "a b%c=");
  // Earlier agents named a scalar's object with the first oid=, also before an OID value's.
  for (const auto& [old, now] : std::vector<std::pair<std::string, std::string>>{
           {"scalar oid=1.3 syntax=2 number=7", "scalar object=1.3 syntax=2 number=7"},
           {"scalar oid=1.3 syntax=6 oid=1.3.6.1.4.1",
            "scalar object=1.3 syntax=6 oid=1.3.6.1.4.1"},
           {"scalar oid=1.3 syntax=6 oid=", "scalar object=1.3 syntax=6 oid="}}) {
    ASSERT_TRUE(ParseStateLine(old, &record, &error)) << old << ": " << error;
    EXPECT_EQ(FormatStateRecord(record), now);
  }
  // Records written by hand in their own order and spacing read as the agent writes them.
  ASSERT_TRUE(
      ParseStateLine("value column=3  syntax=70\tsecond=2 handle=9 number=1", &record, &error));
  EXPECT_EQ(FormatStateRecord(record), "value handle=9 column=3 syntax=70 number=1 second=2");
  ASSERT_TRUE(
      ParseStateLine("instance entry=1.3 index=007 handle=1 creator=0 time=0 leaves=4 "
                     "enabled=8\r",
                     &record, &error));
  EXPECT_EQ(FormatStateRecord(record),
            "instance entry=1.3 index=7 handle=1 creator=0 time=0 enabled=8 leaves=4");
  EXPECT_FALSE(ParseStateLine("   # a comment", &record, &error));
  EXPECT_TRUE(error.empty());
  EXPECT_FALSE(ParseStateLine("", &record, &error));
  EXPECT_TRUE(error.empty());
}

TEST(StateRecordsTest, BadLinesSayWhatIsWrong) {
  const std::pair<const char*, const char*> cases[] = {
      {"frobnicate x=1", "unknown record 'frobnicate'"},
      {"remove", "missing 'handle'"},
      {"remove handle=1 handle=2", "duplicate key 'handle'"},
      {"remove handle=4294967296", "bad number for 'handle': 4294967296"},
      {"remove handle=-2147483649", "bad number"},
      {"remove handle=1 colour=red", "unknown key 'colour'"},
      {"remove handle", "expected key=value"},
      {"scalar oid=1..3 syntax=2 number=1", "bad OID"},
      {"scalar oid=1.3 syntax=2 number=1 bytes=00", "exactly one of"},
      {"scalar oid=1.3 syntax=2 bytes=0", "bad hex"},
      {"scalar oid= syntax=2 number=1", "nonempty OID"},
      {"scalar object=1.3 oid=1.4 syntax=6 oid=1.5", "duplicate key 'oid'"},
      {"scalar syntax=6 oid=1.5", "a value needs exactly one of"},
      {"instance entry=1.3 index= handle=1 creator=0 time=0", "nonempty entry and index"},
      {"client handle=1 id=2 process-handle=3 process=4 thread-handle=5 thread=6 time=7 flags=8 "
       "name=%4 file=x",
       "bad text for 'name'"},
      {"module", "one module name"},
      {"value handle=1 column=2 syntax=4 bytes=0", "bad hex"},
      {"value handle=1 column=2 syntax=4 bytes=00 second=1", "unknown key 'second'"},
      {"value handle=1 column=2 syntax=2 number=1 second=x", "bad number for 'second'"},
      {"value handle=1 column=2 syntax=2 number=1 number=2", "duplicate key 'number'"},
      {"value handle=x column=2 syntax=2 number=1", "bad number for 'handle'"},
      {"value handle=1 column=2 syntax=6 oid=1.-3", "bad OID"},
      {"value handle=1 column=2 syntax=6 oid=1.4294967296", "bad OID"},
      {"value handle=1 column=2 syntax=6 oid=1.", "bad OID"},
      {"value handle=1 column=2 syntax=6 oid=.1", "bad OID"},
      {"instance entry=1.3 index=1 handle=1 creator=0 time=0 enabled=x",
       "bad number for 'enabled'"},
      {"instance entry=1.3 index=1 handle=1 creator=0 time=0 leaves=1 leaves=2", "duplicate key"},
      {"instance entry=1.3 index=01.x handle=1 creator=0 time=0", "bad OID for 'index'"},
  };
  for (const auto& [line, expected] : cases) {
    StateRecord record;
    std::string error;
    EXPECT_FALSE(ParseStateLine(line, &record, &error)) << line;
    EXPECT_NE(error.find(expected), std::string::npos) << line << " -> " << error;
  }
}

TEST(RequestDecoderTest, TruncatedInputIsRefusedAtEveryLength) {
  proto::Request q;
  q.op = proto::Op::SetData;
  q.dataHandle = 5;
  q.value.syntax = 6;
  q.value.kind = proto::ValueKind::Oid;
  q.value.ids = {1, 3, 6, 1};
  std::string body = proto::EncodeRequest(q);
  proto::Request decoded;
  std::string error;
  ASSERT_TRUE(proto::DecodeRequest(reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                                   &decoded, &error));
  EXPECT_EQ(decoded.value, q.value);
  for (size_t size = 0; size < body.size(); ++size) {
    EXPECT_FALSE(
        proto::DecodeRequest(reinterpret_cast<const uint8_t*>(body.data()), size, &decoded, &error))
        << size;
  }
}

}  // namespace
}  // namespace orvu::agent
