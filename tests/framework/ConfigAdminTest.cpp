#include <gtest/gtest.h>
#include <rtm/ConfigAdmin.h>
#include <rtm/SystemLogger.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "TestSupport.h"

namespace {

coil::Properties confOf(const std::string& text) {
  coil::Properties p;
  std::istringstream in(text);
  p.load(in);
  return p;
}

// Sends the process-wide log to a file so tests can read the warnings.
class ConfigAdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = pixmoor_test::makeTempDir("configadmin");
    coil::Properties conf;
    conf["logger.file_name"] = m_dir + "/log";
    conf["logger.log_level"] = "INFO";
    ASSERT_TRUE(RTC::Logger::configure(conf));
  }
  void TearDown() override {
    coil::Properties conf;
    conf["logger.file_name"] = "STDERR";
    RTC::Logger::configure(conf);
    pixmoor_test::removeTree(m_dir);
  }
  std::string logText() const { return pixmoor_test::readFile(m_dir + "/log"); }
  static size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
      ++n;
    return n;
  }

  RTC::Logger m_log{"Pixmoor0"};
  std::string m_dir;
};

TEST_F(ConfigAdminTest, SetsComeFromConfSubtreeWithDefaultFirst) {
  RTC::ConfigAdmin admin(confOf("__widget__.flip_h: text\n"
                                "mode1.flip_h: 1\n"
                                "default.flip_h: 0\n"
                                "__constraints__.flip_h: 0<=x\n"
                                "stray: 1\n"),
                         &m_log);
  EXPECT_EQ(admin.getConfigurationSetIds(),
            (std::vector<std::string>{"default", "__widget__", "mode1", "__constraints__"}));
  EXPECT_EQ(admin.getActiveId(), "default");
  coil::Properties widget;
  ASSERT_TRUE(admin.getConfigurationSet("__widget__", widget));
  EXPECT_EQ(widget.getProperty("flip_h"), "text");
  EXPECT_FALSE(admin.haveConfig("stray"));

  RTC::ConfigAdmin empty(coil::Properties(), nullptr);
  EXPECT_EQ(empty.getConfigurationSetIds(), (std::vector<std::string>{"default"}));
}

TEST_F(ConfigAdminTest, BindSetsVariableAtOnceAndFillsTheDefaultSet) {
  RTC::ConfigAdmin admin(confOf("default.flip_h: 1\n"), &m_log);
  int flipH = -1, width = -1;
  EXPECT_TRUE(admin.bindParameter("flip_h", flipH, "0"));
  EXPECT_TRUE(admin.bindParameter("input_image_width", width, "640"));
  EXPECT_EQ(flipH, 1);
  EXPECT_EQ(width, 640);
  coil::Properties defaults;
  admin.getConfigurationSet("default", defaults);
  EXPECT_EQ(defaults.getProperty("input_image_width"), "640");
  EXPECT_EQ(admin.getParameterNames(), (std::vector<std::string>{"flip_h", "input_image_width"}));
  EXPECT_FALSE(admin.isChanged());

  EXPECT_FALSE(admin.bindParameter("flip_h", flipH, "0")) << "second binding of a name";
  int bad = 7;
  EXPECT_FALSE(admin.bindParameter("bad_default", bad, "zero"));
  EXPECT_NE(logText().find("bad_default: the default 'zero' is not an int"), std::string::npos);
}

TEST_F(ConfigAdminTest, ValuesConvertLikeStreamsAndBadOnesFallBackToTheDefault) {
  RTC::ConfigAdmin admin(confOf("default.flip_h: abc\n"), &m_log);
  int flipH = -1;
  ASSERT_TRUE(admin.bindParameter("flip_h", flipH, "0"));
  EXPECT_EQ(flipH, 0);
  EXPECT_EQ(count(logText(), "flip_h: 'abc' is not an int; using the default 0"), 1u);

  struct Case {
    const char* text;
    int expected;
  } cases[] = {{"12abc", 12}, {"1.5", 1}, {" -3", -3}, {"99999999999", 0}, {"", 0}};
  for (const Case& c : cases) {
    flipH = -1;
    admin.setActiveValue("flip_h", c.text);
    admin.update();
    EXPECT_EQ(flipH, c.expected) << "'" << c.text << "'";
  }
  EXPECT_NE(logText().find("flip_h: '99999999999' is not an int"), std::string::npos);

  double gain = 0;
  std::string label;
  admin.setActiveValue("gain", "fast");
  ASSERT_TRUE(admin.bindParameter("gain", gain, "1.5"));
  EXPECT_DOUBLE_EQ(gain, 1.5);
  EXPECT_NE(logText().find("gain: 'fast' is not a double; using the default 1.5"),
            std::string::npos);
  ASSERT_TRUE(admin.bindParameter("label", label, "none"));
  EXPECT_EQ(label, "none");
}

TEST_F(ConfigAdminTest, BadValueIsReportedOncePerChange) {
  RTC::ConfigAdmin admin(coil::Properties(), &m_log);
  int flipH = 0, flipV = 0;
  admin.bindParameter("flip_h", flipH, "0");
  admin.bindParameter("flip_v", flipV, "0");
  admin.setActiveValue("flip_h", "abc");
  admin.update();
  // Another parameter changes: flip_h is applied again but not reported again.
  admin.setActiveValue("flip_v", "1");
  admin.update();
  EXPECT_EQ(flipV, 1);
  EXPECT_EQ(count(logText(), "flip_h: 'abc'"), 1u);
  admin.setActiveValue("flip_h", "xyz");
  admin.update();
  EXPECT_EQ(count(logText(), "flip_h: 'xyz'"), 1u);
  admin.setActiveValue("flip_h", "1");
  admin.update();
  admin.setActiveValue("flip_h", "abc");
  admin.update();
  EXPECT_EQ(count(logText(), "flip_h: 'abc'"), 2u) << "a new bad value after a good one";
}

// Regression: a batch of changes sent as one set must be applied entirely,
// not just its first entry, and only when update() runs.
TEST_F(ConfigAdminTest, UpdateAppliesWholeBatchOnlyWhenCalled) {
  RTC::ConfigAdmin admin(coil::Properties(), &m_log);
  int w = 0, h = 0, fh = 0, fv = 0;
  admin.bindParameter("input_image_width", w, "640");
  admin.bindParameter("input_image_height", h, "480");
  admin.bindParameter("flip_h", fh, "0");
  admin.bindParameter("flip_v", fv, "0");
  EXPECT_TRUE(admin.setConfigurationSetValues(
      "default", confOf("input_image_width: 320\ninput_image_height: 240\n"
                        "flip_h: 1\nflip_v: -1\n")));
  EXPECT_TRUE(admin.isChanged());
  EXPECT_EQ(w, 640) << "variables change only in update()";
  admin.update();
  EXPECT_FALSE(admin.isChanged());
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(fh, 1);
  EXPECT_EQ(fv, -1);
  EXPECT_FALSE(admin.setConfigurationSetValues("nosuch", confOf("flip_h: 1\n")));
}

TEST_F(ConfigAdminTest, ActivationSwitchesSetsAndFallsBackToDefaultValues) {
  RTC::ConfigAdmin admin(confOf("default.flip_h: 0\ndefault.flip_v: 0\n"
                                "__widget__.flip_h: text\n"),
                         &m_log);
  int fh = -1, fv = -1;
  admin.bindParameter("flip_h", fh, "0");
  admin.bindParameter("flip_v", fv, "0");
  ASSERT_TRUE(admin.addConfigurationSet("mirror", confOf("flip_h: 1\n")));
  EXPECT_FALSE(admin.addConfigurationSet("mirror", coil::Properties()));
  EXPECT_FALSE(admin.addConfigurationSet("", coil::Properties()));
  // Changing a set that is not active changes nothing.
  admin.setConfigurationSetValues("mirror", confOf("flip_h: 2\n"));
  EXPECT_FALSE(admin.isChanged());

  ASSERT_TRUE(admin.activateConfigurationSet("mirror"));
  admin.update();
  EXPECT_EQ(fh, 2);
  EXPECT_EQ(fv, 0) << "missing in the active set: the default set's value";

  EXPECT_FALSE(admin.activateConfigurationSet("__widget__"));
  EXPECT_FALSE(admin.activateConfigurationSet("unknown"));
  EXPECT_EQ(admin.getActiveId(), "mirror");
  EXPECT_FALSE(admin.removeConfigurationSet("mirror")) << "active set";
  EXPECT_FALSE(admin.removeConfigurationSet("default"));

  ASSERT_TRUE(admin.activateConfigurationSet("default"));
  admin.update();
  EXPECT_EQ(fh, 0);
  EXPECT_TRUE(admin.removeConfigurationSet("mirror"));
  EXPECT_FALSE(admin.haveConfig("mirror"));
}

TEST_F(ConfigAdminTest, ConcurrentChangesAndUpdatesEndConsistent) {
  RTC::ConfigAdmin admin(coil::Properties(), &m_log);
  int a = 0, b = 0;
  admin.bindParameter("a", a, "0");
  admin.bindParameter("b", b, "0");
  std::atomic<bool> done{false};
  std::thread updater([&] {
    while (!done) {
      admin.update();
      // The variables change only in update(), on this thread.
      ASSERT_GE(a, 0);
      ASSERT_GE(b, 0);
    }
  });
  std::thread writer([&] {
    for (int i = 1; i <= 2000; ++i) {
      admin.setConfigurationSetValues(
          "default", confOf("a: " + std::to_string(i) + "\nb: " + std::to_string(i) + "\n"));
      if (i % 100 == 0) admin.addConfigurationSet("s" + std::to_string(i), coil::Properties());
    }
  });
  writer.join();
  done = true;
  updater.join();
  admin.update();
  EXPECT_EQ(a, 2000);
  EXPECT_EQ(b, 2000);
  EXPECT_EQ(admin.getConfigurationSetIds().size(), 21u);
}

}  // namespace
