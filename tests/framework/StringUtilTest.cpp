#include <coil/stringutil.h>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StringUtil, StringToIntBehavesLikeStreamExtraction) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"12abc", true, 12},
      {"1.5", true, 1},
      {" 7", true, 7},
      {"-3", true, -3},
      {"2147483647", true, 2147483647},
      {"abc", false, 0},
      {"99999999999", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {" ", false, 0},
  };
  for (const Case& c : cases) {
    int value = -42;
    bool ok = coil::stringTo(value, c.text);
    EXPECT_EQ(ok, c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(value, c.value) << "'" << c.text << "'";
    }
  }
  int untouched = 5;
  EXPECT_FALSE(coil::stringTo(untouched, nullptr));
}

TEST(StringUtil, StringToOtherTypes) {
  double d = 0;
  EXPECT_TRUE(coil::stringTo(d, "0.25"));
  EXPECT_DOUBLE_EQ(d, 0.25);
  std::string s;
  EXPECT_TRUE(coil::stringTo(s, "  spaced value "));
  EXPECT_EQ(s, "  spaced value ");
  EXPECT_FALSE(coil::stringTo(s, nullptr));
}

TEST(StringUtil, SprintfHandlesAnyLength) {
  EXPECT_EQ(coil::sprintf("%s=%d", "n", 5), "n=5");
  std::string longText(5000, 'x');
  EXPECT_EQ(coil::sprintf("[%s]", longText.c_str()), "[" + longText + "]");
  EXPECT_EQ(coil::sprintf("%s", ""), "");
}

TEST(StringUtil, SplitTrimsPartsAndKeepsEmptyOnes) {
  EXPECT_EQ(coil::split(" a , b,,c ", ","), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(coil::split("", ","), (std::vector<std::string>{""}));
  EXPECT_EQ(coil::split("a::b", "::"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(coil::eraseBothEndsBlank(" \t x y \r\n"), "x y");
  EXPECT_EQ(coil::toLower("StdOut"), "stdout");
}

TEST(StringUtil, ToBoolKnowsTheUsualWordsAndFallsBack) {
  for (const char* yes : {"YES", "yes", "True", "1", "on", " Yes "}) {
    EXPECT_TRUE(coil::toBool(yes, false)) << yes;
  }
  for (const char* no : {"NO", "no", "false", "0", "OFF"}) {
    EXPECT_FALSE(coil::toBool(no, true)) << no;
  }
  EXPECT_TRUE(coil::toBool("maybe", true));
  EXPECT_FALSE(coil::toBool("maybe", false));
}

}  // namespace
