// Command-line handling that is decided before any remote call.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "CtlError.h"
#include "RateMeter.h"
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
  const std::vector<std::string> commands = {
      "list",  "show",  "ports",  "connect", "disconnect", "activate", "deactivate",
      "reset", "state", "config", "exit",    "hz",         "snapshot"};
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
      {{"hz"}, "'hz' takes one outport PATH"},
      {{"hz", "/ns/a.rtc"}, "names no port"},
      {{"hz", "/ns/a.rtc:out", "--count", "2.5"}, "--count '2.5' is not a whole number above 0"},
      {{"hz", "/ns/a.rtc:out", "-s", "0"}, "--seconds '0' is not a number above 0"},
      {{"hz", "/ns/a.rtc:out", "--seconds", "nan"}, "--seconds 'nan'"},
      {{"hz", "/ns/a.rtc:out", "--endpoint="}, "--endpoint needs HOST"},
      {{"hz", "/ns/a.rtc:out", "--interface="}, "--interface needs a type"},
      {{"snapshot", "/ns/a.rtc:out", "64x48", "f.png", "--interface", ""},
       "--interface needs a type"},
      {{"snapshot", "/ns/a.rtc:out", "f.png"}, "an outport PATH, WIDTHxHEIGHT and a FILE"},
      {{"snapshot", "/ns/a.rtc:out", "640x0", "f.png"}, "'640x0' is not a picture size"},
      {{"snapshot", "/ns/a.rtc:out", "640x480x3", "f.png"}, "'640x480x3' is not a picture size"},
      {{"snapshot", "/ns/a.rtc:out", "9000x9000", "f.png"}, "at most 67108864 pixels"},
      {{"snapshot", "/ns/a.rtc:out", "64x48", "f.raw"}, "cannot tell a picture format"},
      {{"snapshot", "/ns/a.rtc:out", "64x48", "f.png", "--wait", "-1"}, "--wait '-1'"},
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

// hz's figures: the first sample starts the clock (its size and age count,
// its interval does not), take() closes one window and opens the next, and
// unstamped samples leave the age out.
TEST(RateMeter, ReportsEachWindowFromTheSamplesInIt) {
  RateMeter meter(100.0);
  meter.add(307200, 2.0, true);
  meter.add(307200, 4.0);
  meter.add(307200, 9.0);
  const RateReport first = meter.take(101.0);
  EXPECT_EQ(first.samples, 3u);
  EXPECT_EQ(first.paced, 2u);
  EXPECT_DOUBLE_EQ(first.pacedBytes, 2 * 1228812.0);
  EXPECT_EQ(formatRateReport(first),
            "2.0 frames/s, 2.46 MB/s, 307200 elements (1228812 bytes), age 5.0 ms mean, 9.0 ms "
            "worst");

  meter.add(4, NAN);
  meter.add(4, NAN);
  const RateReport second = meter.take(101.5);
  EXPECT_DOUBLE_EQ(second.seconds, 0.5);
  EXPECT_EQ(second.stamped, 0u);
  EXPECT_EQ(formatRateReport(second),
            "4.0 frames/s, 0.00 MB/s, 4 elements (28 bytes), age - (no time stamps)");

  EXPECT_EQ(formatRateReport(meter.take(102.5)), "0.0 frames/s (no samples)");
  // A worst age below zero (a producer's clock ahead of ours) is still the worst.
  meter.add(1, -3.0);
  meter.add(1, -1.0);
  EXPECT_DOUBLE_EQ(meter.take(103.5).worstAgeMs, -1.0);
}

TEST(RateMeter, AgesSamplesFromTheirTimeStamps) {
  RTC::Time stamp;
  stamp.sec = 1700000000;
  stamp.nsec = 250000000;
  EXPECT_NEAR(sampleAgeMs(stamp, 1700000000.262), 12.0, 1e-3);
  stamp.sec = 0;
  stamp.nsec = 0;
  EXPECT_TRUE(std::isnan(sampleAgeMs(stamp, 1700000000.0)));
}

}  // namespace
}  // namespace rtmctl
