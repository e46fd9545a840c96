// The fixture of the in-process tests that run the tool's stages on the fake libraries: it
// installs them for one test and checks at the end that nothing stayed attached and that the
// fakes saw no misuse.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "fake_libraries.h"

class FakeLibrariesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = gApi;
    InstallFakeLibraries();
  }
  void TearDown() override {
    EXPECT_TRUE(fake.live.empty()) << fake.live.size() << " blocks not given back";
    EXPECT_TRUE(fake.complaints.empty()) << ::testing::PrintToString(fake.complaints);
    for (const void* block : fake.live) std::free(const_cast<void*>(block));
    fake.live.clear();
    gApi = saved;
  }

  FakeLibraries& fake = gFakes;
  OutsideApi saved{};
};
