// The README's main command, scripts/demo, run as a user would run it: it
// shows the colour bars, and stops everything it started when it ends.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "DisplayLock.h"
#include "FramePainter.h"
#include "TestSupport.h"
#include "XWindowCapture.h"

using namespace pixmoor_test;
using namespace screencapture;

namespace {

// Returns the command lines of the processes that mention `needle`.
std::vector<std::string> processesMentioning(const std::string& needle) {
  std::vector<std::string> found;
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::string cmdline = readFile(std::string("/proc/") + entry->d_name + "/cmdline");
    for (char& c : cmdline)
      if (c == '\0') c = ' ';
    if (cmdline.find(needle) != std::string::npos) found.push_back(cmdline);
  }
  ::closedir(proc);
  return found;
}

// Returns the pid of the first process whose command line mentions both
// `needle` and `program`, 0 when there is none.
pid_t findProcess(const std::string& needle, const std::string& program) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
  pid_t found = 0;
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::string cmdline = readFile(std::string("/proc/") + entry->d_name + "/cmdline");
    if (cmdline.find(needle) != std::string::npos && cmdline.find(program) != std::string::npos) {
      found = static_cast<pid_t>(std::atol(entry->d_name));
      break;
    }
  }
  ::closedir(proc);
  return found;
}

cv::Mat colourBars(int width, int height) {
  std::vector<std::int32_t> pixels(static_cast<size_t>(width) * height);
  framesource::paintBars(pixels.data(), width, height);
  cv::Mat bars(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t p = static_cast<std::uint32_t>(pixels[static_cast<size_t>(y) * width + x]);
      bars.at<cv::Vec3b>(y, x) = cv::Vec3b(p & 0xff, (p >> 8) & 0xff, (p >> 16) & 0xff);
    }
  }
  return bars;
}

class ViewerDemo : public ::testing::Test {
 protected:
  void SetUp() override { m_tmp = makeTempDir("demotest"); }
  void TearDown() override {
    // Nothing the demo started may outlive it: all of it ran from our TMPDIR.
    std::vector<std::string> strays = processesMentioning(m_tmp + "/pixmoor-demo-");
    EXPECT_TRUE(strays.empty()) << strays.size() << " stray process(es), e.g. " << strays[0];
    removeTree(m_tmp);
  }
  std::vector<std::string> demoCommand() const {
    return {"/bin/bash", sourcePath("scripts/demo"), "--no-build", "--shot", m_tmp + "/shot.png"};
  }
  std::string m_tmp;
};

TEST_F(ViewerDemo, HeadlessRunWritesAScreenshotOfTheColourBars) {
  ChildProcess demo(demoCommand(), {"DISPLAY", "WAYLAND_DISPLAY", "PIXMOOR_NAMESERVER",
                                    "PIXMOOR_BUILD=" + buildPath(""), "TMPDIR=" + m_tmp});
  int status = 0;
  double start = now();
  ASSERT_TRUE(demo.waitExit(180, &status)) << demo.stdoutText() << demo.stderrText();
  std::printf("the headless demo took %.1f s\n", now() - start);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << demo.stdoutText() << demo.stderrText();
  EXPECT_NE(std::string::npos,
            demo.stdoutText().find("screenshot of the viewer's window: " + m_tmp + "/shot.png"));

  // Its own virtual display ends with it.
  std::string out = demo.stdoutText();
  size_t at = out.find("running on the virtual display ");
  ASSERT_NE(std::string::npos, at) << out;
  std::string display = out.substr(at + 31, out.find('\n', at) - at - 31);
  EXPECT_TRUE(processesMentioning("Xvfb " + display + " ").empty()) << display;

  cv::Mat shot = cv::imread(m_tmp + "/shot.png", cv::IMREAD_COLOR);
  ASSERT_FALSE(shot.empty());
  ASSERT_EQ(640, shot.cols);
  ASSERT_EQ(480, shot.rows);
  cv::Mat difference;
  cv::absdiff(shot, colourBars(640, 480), difference);
  EXPECT_EQ(0, cv::countNonZero(difference.reshape(1))) << "the screenshot is not the bars";
}

TEST_F(ViewerDemo, WithADisplayItRunsUntilCtrlCAndThenUnbindsEverything) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  DisplayLock lock;
  NameServer names;
  ASSERT_TRUE(names.start());
  ChildProcess demo(demoCommand(), {"PIXMOOR_NAMESERVER=" + names.address(),
                                    "PIXMOOR_BUILD=" + buildPath(""), "TMPDIR=" + m_tmp});
  ASSERT_TRUE(demo.waitForStdout("Ctrl-C stops", 120)) << demo.stdoutText() << demo.stderrText();
  std::string context = hostName() + ".host_cxt/";
  EXPECT_FALSE(
      CORBA::is_nil(CORBA::Object_var(resolveName(names.corbaloc(), context + "Pixmoor0.rtc"))));
  XWindowCapture capture;
  WindowPixels pixels;
  cv::Mat bars = colourBars(640, 480);
  auto showsBars = [&](const WindowPixels& p) {
    return std::equal(p.bgr.begin(), p.bgr.end(), bars.data);
  };
  // Other tests may show viewers on this display too: look at the demo's.
  pid_t viewer = findProcess(m_tmp + "/pixmoor-demo-", "PixmoorComp");
  ASSERT_NE(0, viewer);
  EXPECT_TRUE(capture.waitForPixels("Pixmoor.exe", viewer, 640, 480, showsBars, 30, &pixels));

  demo.signal(SIGINT);
  int status = 0;
  ASSERT_TRUE(demo.waitExit(60, &status)) << demo.stdoutText();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << demo.stdoutText();
  for (const char* component : {"Pixmoor0.rtc", "FrameSource0.rtc"}) {
    EXPECT_TRUE(
        CORBA::is_nil(CORBA::Object_var(resolveName(names.corbaloc(), context + component))))
        << component << " is still bound";
  }
  EXPECT_TRUE(capture.waitForNoWindow("Pixmoor.exe", viewer, 10));
}

}  // namespace
