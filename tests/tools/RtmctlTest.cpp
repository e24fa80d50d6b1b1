// Command-line handling that is decided before any remote call.
#include <gtest/gtest.h>

#include <sstream>

#include "CtlError.h"
#include "Rtmctl.h"

namespace rtmctl {
namespace {

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result run(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = runRtmctl(args, out, err);
  return {code, out.str(), err.str()};
}

TEST(Rtmctl, EveryCommandExplainsItselfWithoutTouchingTheNetwork) {
  const std::vector<std::string> commands = {"list",       "show",     "ports",      "connect",
                                             "disconnect", "activate", "deactivate", "reset",
                                             "state",      "config",   "exit"};
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const Result result = run({command, "--help"});
    EXPECT_EQ(result.code, kExitOk);
    EXPECT_NE(result.out.find("Usage: rtmctl " + command), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
  }
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}}) {
    const Result result = run(args);
    EXPECT_EQ(result.code, kExitOk);
    EXPECT_NE(result.out.find("Usage: rtmctl [--timeout MS] COMMAND"), std::string::npos);
  }
}

TEST(Rtmctl, CommandLineMistakesExitWithUsageCode) {
  const struct {
    std::vector<std::string> args;
    const char* mentions;
  } cases[] = {
      {{}, "Usage: rtmctl"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--timeout", "0", "list"}, "--timeout '0'"},
      {{"--timeout"}, "--timeout needs a value"},
      {{"--verbose", "list"}, "unknown option '--verbose'"},
      {{"show"}, "'show' takes one PATH"},
      {{"show", "localhost/x.rtc"}, "is not a path"},
      {{"show", "/localhost"}, "names a name server, not a component"},
      {{"connect", "/ns/a.rtc:out"}, "two port PATHs"},
      {{"connect", "/ns/a.rtc", "/ns/b.rtc:in"}, "names no port"},
      {{"connect", "/ns/a.rtc:out", "/ns/b.rtc:in", "--dataflow", "sideways"}, "--dataflow"},
      {{"disconnect", "/ns/a.rtc:out"}, "--id ID, --name NAME, a second port, or --all"},
      {{"disconnect", "/ns/a.rtc:out", "--all", "--id", "x"}, "--all removes"},
      {{"activate"}, "one or more component PATHs"},
      {{"state", "/ns/a.rtc", "--ec", "x"}, "--ec 'x'"},
      {{"config"}, "needs get, set, sets or activate"},
      {{"config", "tweak", "/ns/a.rtc"}, "unknown config action 'tweak'"},
      {{"config", "get"}, "'config get' needs a component PATH"},
      {{"config", "set", "/ns/a.rtc", "x"}, "set PATH NAME VALUE"},
      {{"config", "sets", "/ns/a.rtc", "extra"}, "sets PATH [--all]"},
      {{"config", "activate", "/ns/a.rtc", "__widget__"}, "never activated"},
      {{"list", "/ns/a.rtc:out"}, "drop ':out'"},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const std::string& word : c.args) joined += word + " ";
    SCOPED_TRACE(joined);
    const Result result = run(c.args);
    EXPECT_EQ(result.code, kExitUsage);
    EXPECT_NE(result.err.find(c.mentions), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

}  // namespace
}  // namespace rtmctl
