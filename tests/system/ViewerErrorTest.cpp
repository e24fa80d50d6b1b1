// How the viewer fails: a frame of the wrong length, a size it cannot show,
// no display to show on. Each failure is logged, puts the component into its
// error state and leaves the process running and able to recover.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "DisplayLock.h"
#include "ViewerHarness.h"
#include "XWindowCapture.h"

using namespace pixmoor_test;
using namespace screencapture;

namespace {

// A frame of one colour (blue 0x30, green 0x20, red 0x10).
std::vector<CORBA::Long> plainFrame(int width, int height) {
  return std::vector<CORBA::Long>(static_cast<size_t>(width) * height,
                                  static_cast<CORBA::Long>(0xFF102030u));
}

bool isPlain(const WindowPixels& pixels) {
  for (int y = 0; y < pixels.height; ++y)
    for (int x = 0; x < pixels.width; ++x)
      if (pixels.rgb(x, y) != 0x102030) return false;
  return true;
}

const char kBadFrame[] = "ERROR: Pixmoor0: invalid image size....\n";
const char kBadSize[] = "ERROR: Pixmoor0: invalid image size...\n";
const char kNoDisplay[] = "ERROR: Pixmoor0: no display to show images on";

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(ViewerErrors, AWrongLengthFrameEndsInTheErrorStateAndResetRecovers) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  DisplayLock lock;
  XWindowCapture capture;
  ViewerHarness viewer;
  ASSERT_TRUE(viewer.start());
  ASSERT_TRUE(viewer.connectProducer());
  pid_t pid = viewer.process().pid();
  WindowPixels pixels;

  ASSERT_EQ(RTC::RTC_OK, viewer.activate());
  ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
  ASSERT_TRUE(capture.waitForPixels(kViewerWindow, pid, 640, 480, isPlain, 30, &pixels));

  // A 320x240 frame is a well-formed sample, so the port takes it; the
  // viewer refuses it because it has not 640 x 480 elements.
  ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(320, 240)));
  ASSERT_TRUE(viewer.waitForState(RTC::ERROR_STATE, 10)) << viewer.log();
  EXPECT_EQ(1, count(viewer.log(), kBadFrame)) << viewer.log();
  // Leaving the active state runs onDeactivated, which closes the window.
  EXPECT_TRUE(
      viewer.process().waitForStdout("Pixmoor::onActivated()\nPixmoor::onDeactivated()\n", 10));
  EXPECT_TRUE(capture.waitForNoWindow(kViewerWindow, pid, 10));

  ASSERT_EQ(RTC::RTC_OK, viewer.reset());
  EXPECT_EQ(RTC::INACTIVE_STATE, viewer.state());
  ASSERT_EQ(RTC::RTC_OK, viewer.activate());
  ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
  EXPECT_TRUE(capture.waitForPixels(kViewerWindow, pid, 640, 480, isPlain, 30, &pixels));
  EXPECT_EQ(RTC::ACTIVE_STATE, viewer.state());
  EXPECT_EQ(1, count(viewer.log(), kBadFrame));
  EXPECT_TRUE(viewer.stop());
}

// Sizes that cannot make a buffer: none at all, and one above the largest
// picture the viewer takes (8192 x 8192). Neither needs a display: the size
// is judged first.
TEST(ViewerErrors, ASizeItCannotShowFailsTheActivation) {
  ViewerHarness viewer;
  ASSERT_TRUE(viewer.start());
  pid_t pid = viewer.process().pid();
  const struct {
    const char* width;
    const char* height;
  } sizes[] = {{"0", "480"}, {"640", "-1"}, {"100000", "100000"}};
  int failures = 0;
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::string(size.width) + "x" + size.height);
    ASSERT_TRUE(viewer.setParameter("input_image_width", size.width));
    ASSERT_TRUE(viewer.setParameter("input_image_height", size.height));
    EXPECT_EQ(RTC::RTC_ERROR, viewer.activate());
    EXPECT_EQ(RTC::ERROR_STATE, viewer.state());
    EXPECT_EQ(++failures, count(viewer.log(), kBadSize)) << viewer.log();
    if (!displayName().empty()) {
      XWindowCapture capture;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_TRUE(capture.findWindows(kViewerWindow, pid).empty());
    }
    ASSERT_EQ(RTC::RTC_OK, viewer.reset());
  }
  EXPECT_EQ(0, viewer.countStdout("Pixmoor::onActivated()"));
  EXPECT_TRUE(viewer.process().running());
  EXPECT_TRUE(viewer.stop());
}

// Qt ends the process when it cannot reach a display; the viewer must refuse
// the activation instead, and live on.
TEST(ViewerErrors, NoDisplayFailsTheActivationAndTheProcessLivesOn) {
  const struct {
    const char* what;
    std::vector<std::string> env;
  } cases[] = {
      {"DISPLAY unset", {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"}},
      {"DISPLAY naming no server",
       {"DISPLAY=:2147", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ViewerHarness viewer(c.env);
    ASSERT_TRUE(viewer.start());
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(RTC::RTC_ERROR, viewer.activate());
      EXPECT_EQ(RTC::ERROR_STATE, viewer.state());
      EXPECT_TRUE(viewer.waitForLog(kNoDisplay, 5)) << viewer.log();
      ASSERT_EQ(RTC::RTC_OK, viewer.reset());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(viewer.process().running()) << viewer.process().stderrText();
    EXPECT_EQ(RTC::INACTIVE_STATE, viewer.state());
    EXPECT_EQ(2, count(viewer.log(), kNoDisplay)) << viewer.log();
    EXPECT_EQ(0, viewer.countStdout("Pixmoor::onActivated()"));
    EXPECT_TRUE(viewer.stop());
  }
}

}  // namespace
