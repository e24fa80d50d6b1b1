#include <gtest/gtest.h>

#include "ArgParser.h"
#include "CtlError.h"

namespace rtmctl {
namespace {

const std::vector<OptionDef> kOptions = {
    {"name", 'n', true}, {"property", 'p', true}, {"all", 0, false}};

TEST(ArgParser, AcceptsEveryValueSpellingAndKeepsOrder) {
  const ParsedArgs parsed = parseArgs(
      "cmd", {"one", "--name", "a", "-p", "k=1", "--property=k2=2", "-pk3=3", "two", "--all"},
      kOptions);
  EXPECT_EQ(parsed.positional, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(parsed.value("name"), "a");
  EXPECT_EQ(parsed.values("property"), (std::vector<std::string>{"k=1", "k2=2", "k3=3"}));
  EXPECT_TRUE(parsed.has("all"));
  EXPECT_FALSE(parsed.help);
  EXPECT_EQ(parsed.value("missing", "fallback"), "fallback");
}

TEST(ArgParser, LastValueWinsForSingleOptions) {
  const ParsedArgs parsed = parseArgs("cmd", {"--name", "a", "--name", "b"}, kOptions);
  EXPECT_EQ(parsed.value("name"), "b");
}

TEST(ArgParser, TreatsNegativeNumbersAndWordsAfterDashDashAsPositional) {
  const ParsedArgs parsed = parseArgs("cmd", {"-5", "-0.5", "--", "--all", "-x"}, kOptions);
  EXPECT_EQ(parsed.positional, (std::vector<std::string>{"-5", "-0.5", "--all", "-x"}));
  EXPECT_FALSE(parsed.has("all"));
}

TEST(ArgParser, HelpIsRecognisedAnywhere) {
  EXPECT_TRUE(parseArgs("cmd", {"x", "--help"}, kOptions).help);
  EXPECT_TRUE(parseArgs("cmd", {"-h"}, {}).help);
}

TEST(ArgParser, RejectsWhatItDoesNotKnowAsUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"--nope"}, {"-z"}, {"--name"}, {"--all=yes"}, {"-p"}};
  for (const auto& args : bad) {
    SCOPED_TRACE(args.front());
    try {
      parseArgs("cmd", args, kOptions);
      ADD_FAILURE() << "accepted";
    } catch (const CtlError& error) {
      EXPECT_EQ(error.exitCode(), kExitUsage);
      EXPECT_NE(std::string(error.what()).find("rtmctl cmd --help"), std::string::npos);
    }
  }
}

TEST(ArgParser, ChecksPositionalCounts) {
  const ParsedArgs parsed = parseArgs("cmd", {"a", "b", "c"}, kOptions);
  EXPECT_NO_THROW(parsed.requirePositionals("cmd", 1, 3, "x"));
  EXPECT_THROW(parsed.requirePositionals("cmd", 1, 2, "x"), CtlError);
  EXPECT_THROW(parsed.requirePositionals("cmd", 4, 5, "x"), CtlError);
}

}  // namespace
}  // namespace rtmctl
