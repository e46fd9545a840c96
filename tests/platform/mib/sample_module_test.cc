// The module shipped in mibs/, read the way the agent reads it.
#include <gtest/gtest.h>

#include "mibreader/mib_registry.h"

namespace orvu::mib {
namespace {

const std::vector<uint32_t> SPEAKER = {1, 3, 6, 1, 4, 1, 32473, 99, 1};

TEST(SampleModule, LoadsWithItsObjects) {
  Registry registry({ORVU_TEST_MIB_DIR});
  LoadError error;
  ASSERT_TRUE(registry.Load("VORNEL-VNBEEP-MIB", &error)) << error.Text();
  const Object* control = registry.FindName("speakerControl");
  ASSERT_NE(control, nullptr);
  std::vector<uint32_t> oid = SPEAKER;
  oid.push_back(4);
  EXPECT_EQ(control->oid, oid);
  EXPECT_EQ(control->kind, ObjectKind::Scalar);
  EXPECT_EQ(control->syntax, 2u);
  EXPECT_EQ(control->access, Access::ReadWrite);
  ASSERT_TRUE(control->defaultValue);
  EXPECT_EQ(control->defaultValue->number, 1);
  EXPECT_EQ(registry.FindOid(oid.data(), oid.size()), control);

  // What the agent tells a master of the module, and what a notification carries.
  const Object* identity = registry.FindName("vornelVnbeepMIB");
  ASSERT_TRUE(identity && identity->notes);
  EXPECT_TRUE(identity->notes->moduleIdentity);
  EXPECT_EQ(identity->notes->description,
            "Objects of the Vornel VN beeper: its control, its state and the\n         tones it "
            "can play.");
  const Object* beeped = registry.FindName("speakerBeeped");
  ASSERT_TRUE(beeped && beeped->notes);
  EXPECT_EQ(beeped->notes->objects,
            (std::vector<std::string>{"speakerBeepCount", "speakerLastBeep"}));

  const Object* entry = registry.FindName("speakerFreqEntry");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->kind, ObjectKind::Entry);
  EXPECT_EQ(entry->indexNames, std::vector<std::string>{"speakerFreqIndex"});
  EXPECT_FALSE(entry->indexImplied);
  std::vector<const Object*> columns = registry.Columns(*entry);
  ASSERT_EQ(columns.size(), 16u);
  const uint32_t expected[] = {2, 4, 2, 2, 4, 6, 64, 65, 66, 67, 68, 69, 5, 4, 70, 67};
  for (size_t i = 0; i < columns.size(); ++i) {
    EXPECT_EQ(columns[i]->oid.back(), i + 1);
    EXPECT_EQ(columns[i]->syntax, expected[i]) << columns[i]->name;
    EXPECT_EQ(columns[i]->kind, ObjectKind::Column);
  }
  EXPECT_EQ(columns[1]->name, "speakerFreqDescr");
  EXPECT_EQ(columns[1]->sizes, (std::vector<Range>{{0, 64}}));
  EXPECT_EQ(columns[2]->ranges, (std::vector<Range>{{20, 20000}}));
  EXPECT_EQ(columns[1]->access, Access::ReadWrite);
  EXPECT_EQ(columns[14]->access, Access::ReadOnly);
}

}  // namespace
}  // namespace orvu::mib
