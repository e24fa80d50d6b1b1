#include <gtest/gtest.h>
#include <rtm/SystemLogger.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "common/LogThrottle.h"
#include "TestSupport.h"

namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

class LoggerFile : public ::testing::Test {
 protected:
  void SetUp() override { m_dir = pixmoor_test::makeTempDir("logger"); }
  void TearDown() override {
    coil::Properties quiet;
    quiet["logger.file_name"] = "STDERR";
    quiet["logger.log_level"] = "WARN";
    RTC::Logger::configure(quiet);
    pixmoor_test::removeTree(m_dir);
  }
  // Points the process-wide log at a file in the test's directory.
  std::string useFile(const std::string& level, const std::string& dateFormat = "") {
    coil::Properties conf;
    conf["logger.file_name"] = m_dir + "/rtc%p.log";
    conf["logger.log_level"] = level;
    if (!dateFormat.empty()) conf["logger.date_format"] = dateFormat;
    EXPECT_TRUE(RTC::Logger::configure(conf));
    return m_dir + "/rtc" + std::to_string(getpid()) + ".log";
  }
  std::string m_dir;
};

// Runs first in this executable: nothing has configured the logger yet.
TEST(Logger, BeforeConfigureWarningsReachStandardError) {
  RTC::Logger rtclog("early");
  testing::internal::CaptureStderr();
  RTC_WARN(("port %s not ready", "image"));
  RTC_INFO(("not shown"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(" WARNING: early: port image not ready\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("not shown"), std::string::npos);
}

TEST_F(LoggerFile, LineFormatIsDateLevelNameMessage) {
  std::string path = useFile("INFO");
  RTC::Logger rtclog("Pixmoor0");
  RTC_ERROR(("invalid image size %d x %d", 3, 4));
  std::vector<std::string> lines = linesOf(pixmoor_test::readFile(path));
  ASSERT_EQ(lines.size(), 1u);
  // Default date format: "%b %d %H:%M:%S.%Q", e.g. "Dec 07 04:09:01.123".
  std::regex pattern(
      R"(^[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d\.\d{3} ERROR: Pixmoor0: invalid image size 3 x 4$)");
  EXPECT_TRUE(std::regex_match(lines[0], pattern)) << lines[0];
}

TEST_F(LoggerFile, LevelIncludesEveryLevelLeftOfIt) {
  std::string path = useFile("info");
  RTC::Logger rtclog("lv");
  EXPECT_TRUE(rtclog.isValid(RTC::Logger::RTL_INFO));
  EXPECT_FALSE(rtclog.isValid(RTC::Logger::RTL_DEBUG));
  EXPECT_FALSE(rtclog.isValid(RTC::Logger::RTL_SILENT));
  RTC_FATAL(("f"));
  RTC_ERROR(("e"));
  RTC_WARN(("w"));
  RTC_INFO(("i"));
  RTC_DEBUG(("d"));
  RTC_TRACE(("t"));
  RTC_VERBOSE(("v"));
  RTC_PARANOID(("p"));
  std::vector<std::string> lines = linesOf(pixmoor_test::readFile(path));
  ASSERT_EQ(lines.size(), 4u);
  const char* expected[] = {" FATAL: lv: f", " ERROR: lv: e", " WARNING: lv: w", " INFO: lv: i"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NE(lines[i].find(expected[i]), std::string::npos) << lines[i];
  }

  std::string paranoid = useFile("PARANOID");
  RTC_PARANOID(("deep"));
  EXPECT_NE(pixmoor_test::readFile(paranoid).find(" PARANOID: lv: deep"), std::string::npos);
}

TEST_F(LoggerFile, SilentAndDisabledWriteNothing) {
  std::string path = useFile("SILENT");
  RTC::Logger rtclog("quiet");
  RTC_FATAL(("nothing"));
  EXPECT_EQ(pixmoor_test::readFile(path), "");

  coil::Properties off;
  off["logger.enable"] = "NO";
  off["logger.file_name"] = "STDOUT";
  EXPECT_TRUE(RTC::Logger::configure(off));
  testing::internal::CaptureStdout();
  RTC_FATAL(("still nothing"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(LoggerFile, DateFormatExpandsMillisecondsButNotEscapedPercent) {
  std::string path = useFile("INFO", "[%Q|%%Q|%Y]");
  RTC::Logger rtclog("d");
  RTC_INFO(("x"));
  std::vector<std::string> lines = linesOf(pixmoor_test::readFile(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(^\[\d{3}\|%Q\|\d{4}\] INFO: d: x$)")))
      << lines[0];
}

TEST_F(LoggerFile, CommaListWritesToEverySinkIncludingStdout) {
  coil::Properties conf;
  conf["logger.file_name"] = m_dir + "/a.log, STDOUT";
  conf["logger.log_level"] = "DEBUG";
  ASSERT_TRUE(RTC::Logger::configure(conf));
  RTC::Logger rtclog("both");
  testing::internal::CaptureStdout();
  RTC_DEBUG(("to both"));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" DEBUG: both: to both\n"), std::string::npos) << out;
  EXPECT_NE(pixmoor_test::readFile(m_dir + "/a.log").find(" DEBUG: both: to both\n"),
            std::string::npos);
}

TEST_F(LoggerFile, UnopenableFileFallsBackToStandardError) {
  coil::Properties conf;
  conf["logger.file_name"] = m_dir + "/no/such/dir/x.log";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(RTC::Logger::configure(conf));
  RTC::Logger rtclog("fallback");
  RTC_ERROR(("visible"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("cannot open log file"), std::string::npos) << err;
  EXPECT_NE(err.find(" ERROR: fallback: visible"), std::string::npos) << err;
}

TEST_F(LoggerFile, ConcurrentLoggersNeverInterleaveLines) {
  std::string path = useFile("INFO");
  RTC::Logger shared("shared");
  const int kThreads = 6;
  const int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&shared, t] {
      RTC::Logger own(("own" + std::to_string(t)).c_str());
      std::string payload(200, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) {
        {
          RTC::Logger& rtclog = shared;
          RTC_INFO(("%d %s", t, payload.c_str()));
        }
        own.log(RTC::Logger::RTL_WARN, payload);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::vector<std::string> lines = linesOf(pixmoor_test::readFile(path));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines * 2));
  std::regex pattern(
      R"(^.{19} (INFO: shared: (\d) ([a-z])\3{199}|WARNING: own(\d): ([a-z])\5{199})$)");
  for (const auto& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, pattern)) << line;
    if (m[2].matched) {
      EXPECT_EQ(m[3].str()[0], 'a' + (m[2].str()[0] - '0'));
    } else {
      EXPECT_EQ(m[5].str()[0], 'a' + (m[4].str()[0] - '0'));
    }
  }
}

TEST(Logger, LevelNamesParseCaseInsensitively) {
  EXPECT_EQ(RTC::Logger::levelFromName("WARN", -1), RTC::Logger::RTL_WARN);
  EXPECT_EQ(RTC::Logger::levelFromName(" paranoid ", -1), RTC::Logger::RTL_PARANOID);
  EXPECT_EQ(RTC::Logger::levelFromName("Silent", -1), RTC::Logger::RTL_SILENT);
  EXPECT_EQ(RTC::Logger::levelFromName("LOUD", -1), -1);
}

TEST(LogThrottle, PassesBurstThenOnePerIntervalAndSaysHowManyItHeldBack) {
  RTC::LogThrottle throttle(2, 10.0);
  std::string note = "stale";
  EXPECT_TRUE(throttle.allowAt(0.0, &note));
  EXPECT_EQ("", note);
  EXPECT_TRUE(throttle.allowAt(0.1, &note));
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(throttle.allowAt(1.0 + i, &note));
  EXPECT_TRUE(throttle.allowAt(10.2, &note));
  EXPECT_EQ(" (5 more not logged)", note);
  EXPECT_FALSE(throttle.allowAt(15.0, &note));
  EXPECT_TRUE(throttle.allowAt(20.3, &note));
  EXPECT_EQ(" (1 more not logged)", note);
  throttle.reset();
  EXPECT_TRUE(throttle.allowAt(20.4, &note));
  EXPECT_EQ("", note);
}

}  // namespace
