// Code substitution lookups: the first header of a code wins, kinds and the
// exact text matter, and a list emptied for a new import starts afresh.
#include <gtest/gtest.h>

#include "processing/handlers.h"

namespace {

TEST(MapCode, FindsTheFirstSubstitutionOfTheSameKindAndExactCode) {
  CodeControlList = {{"P1", "10", 0}, {"R1", "20", 3}, {"P1", "11", 0}, {"P2", "12", 0}};
  struct Case {
    const char* code;
    unsigned char kind;
    const char* expected;
  } cases[] = {
      {"P1", 0, "10"},  // the first of two headers with the same code
      {"P2", 0, "12"},
      {"R1", 3, "20"},
      {"P1", 3, "P1"},  // an order code is no manifest code
      {"p1", 0, "p1"},  // letter case matters
      {"P 1", 0, "P 1"},
      {"P9", 0, "P9"},  // no header: the device's code
  };
  for (const Case& c : cases) EXPECT_EQ(MapCode(c.code, c.kind), c.expected) << c.code;

  // Headers added after a lookup are found too.
  CodeControlList.push_back({"P9", "13", 0});
  EXPECT_EQ(MapCode("P9", 0), "13");
}

TEST(MapCode, ListStartedAnewForgetsTheEarlierImport) {
  CodeControlList = {{"P1", "10", 0}, {"P2", "11", 0}};
  ASSERT_EQ(MapCode("P1", 0), "10");
  CodeControlList.clear();
  CodeControlList = {{"P7", "30", 0}, {"P8", "31", 0}, {"P2", "32", 0}};
  EXPECT_EQ(MapCode("P1", 0), "P1");
  EXPECT_EQ(MapCode("P2", 0), "32");
  CodeControlList.clear();
  EXPECT_EQ(MapCode("P2", 0), "P2");
}

}  // namespace
