// The viewer's activation, execution and deactivation, driven directly with
// a recording display in place of the desktop: which window calls happen
// when, what is logged and printed, and what happens to the frame buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "ImageDisplay.h"
#include "ImageUtil.h"
#include "Pixmoor.h"

namespace {

// Records every display call; can be told to refuse or to throw.
class RecordingDisplay : public ImageDisplay {
 public:
  bool reachable(std::string* reason) override {
    m_calls.push_back("reachable");
    if (!m_reachable) *reason = "the test says so";
    return m_reachable;
  }
  void openWindow(const char* name) override {
    m_calls.push_back(std::string("open ") + name);
    if (m_throwOnOpen) CV_Error(cv::Error::StsError, "cannot open in this test");
  }
  void show(const char* name, const cv::Mat& image) override {
    m_calls.push_back(std::string("show ") + name + " " + std::to_string(image.cols) + "x" +
                      std::to_string(image.rows));
    if (m_throwOnShow) CV_Error(cv::Error::StsError, "cannot show in this test");
    m_shown.push_back(image);
  }
  void processEvents(int milliseconds) override {
    m_calls.push_back("events " + std::to_string(milliseconds));
  }
  void closeAllWindows() override { m_calls.push_back("close all"); }

  std::vector<std::string> m_calls;
  std::vector<cv::Mat> m_shown;  // headers sharing the shown pixels
  bool m_reachable = true;
  bool m_throwOnOpen = false;
  bool m_throwOnShow = false;
};

// Opens the component's members to the test.
class ViewerUnderTest : public Pixmoor {
 public:
  ViewerUnderTest() : Pixmoor(nullptr) { onInitialize(); }
  using Pixmoor::m_imageUtil;
  using Pixmoor::m_input_image_height;
  using Pixmoor::m_input_image_width;
};

// Whether the buffer that owned `shown` has let go of its pixels: then the
// test's header is their last owner.
bool released(const cv::Mat& shown) { return shown.u != nullptr && shown.u->refcount == 1; }

class PixmoorActivity : public ::testing::Test {
 protected:
  void SetUp() override { m_viewer.setDisplay(&m_display); }

  // Runs `action` and returns what it printed on standard output and error.
  template <typename Action>
  std::pair<std::string, std::string> captured(Action action) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    action();
    std::string err = ::testing::internal::GetCapturedStderr();
    return {::testing::internal::GetCapturedStdout(), err};
  }

  RecordingDisplay m_display;
  ViewerUnderTest m_viewer;
};

TEST_F(PixmoorActivity, OpensTheWindowAtActivationAndPumpsNothingWithoutFrames) {
  RTC::ReturnCode_t result = RTC::RTC_ERROR;
  auto out = captured([&] { result = m_viewer.onActivated(0); });
  ASSERT_EQ(RTC::RTC_OK, result);
  EXPECT_EQ("Pixmoor::onActivated()\n", out.first);
  EXPECT_EQ((std::vector<std::string>{"reachable", "open Pixmoor.exe", "show Pixmoor.exe 640x480"}),
            m_display.m_calls);
  ASSERT_EQ(1u, m_display.m_shown.size());
  EXPECT_EQ(0, cv::countNonZero(m_display.m_shown[0].reshape(1))) << "a new buffer is black";

  // No connection, so never a new frame: nothing is shown and no window
  // events are processed.
  for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
  EXPECT_EQ(3u, m_display.m_calls.size());
}

TEST_F(PixmoorActivity, DeactivationClosesEveryWindowAndReleasesTheBuffer) {
  captured([&] { m_viewer.onActivated(0); });
  ASSERT_NE(nullptr, m_viewer.m_imageUtil);
  RTC::ReturnCode_t result = RTC::RTC_ERROR;
  auto out = captured([&] { result = m_viewer.onDeactivated(0); });
  EXPECT_EQ(RTC::RTC_OK, result);
  EXPECT_EQ("Pixmoor::onDeactivated()\n", out.first);
  EXPECT_EQ("close all", m_display.m_calls.back());
  EXPECT_EQ(nullptr, m_viewer.m_imageUtil);
  EXPECT_TRUE(released(m_display.m_shown[0]));

  // The framework also deactivates after a failed activation: nothing held.
  out = captured([&] { result = m_viewer.onDeactivated(0); });
  EXPECT_EQ(RTC::RTC_OK, result);
  EXPECT_EQ("Pixmoor::onDeactivated()\n", out.first);
}

// Activating again with a buffer still held (a framework that skips
// onDeactivated after an error) used to drop that buffer without freeing it.
TEST_F(PixmoorActivity, ActivationReleasesABufferStillHeld) {
  captured([&] { m_viewer.onActivated(0); });
  m_viewer.m_input_image_width = 320;
  m_viewer.m_input_image_height = 240;
  RTC::ReturnCode_t result = RTC::RTC_ERROR;
  captured([&] { result = m_viewer.onActivated(0); });
  ASSERT_EQ(RTC::RTC_OK, result);
  ASSERT_EQ(2u, m_display.m_shown.size());
  EXPECT_TRUE(released(m_display.m_shown[0]));
  EXPECT_FALSE(released(m_display.m_shown[1]));
  EXPECT_EQ(320, m_display.m_shown[1].cols);
  captured([&] { m_viewer.onDeactivated(0); });
}

TEST_F(PixmoorActivity, RefusesSizesItCannotHoldBeforeTouchingTheDisplay) {
  const int sizes[][2] = {{0, 480}, {640, 0}, {-1, 480}, {640, -480}, {100000, 100000}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
    m_viewer.m_input_image_width = size[0];
    m_viewer.m_input_image_height = size[1];
    RTC::ReturnCode_t result = RTC::RTC_OK;
    auto out = captured([&] { result = m_viewer.onActivated(0); });
    EXPECT_EQ(RTC::RTC_ERROR, result);
    EXPECT_EQ("", out.first);
    EXPECT_NE(std::string::npos, out.second.find("ERROR")) << out.second;
    EXPECT_NE(std::string::npos, out.second.find("invalid image size...\n")) << out.second;
    EXPECT_EQ(nullptr, m_viewer.m_imageUtil);
  }
  EXPECT_TRUE(m_display.m_calls.empty());
}

TEST_F(PixmoorActivity, RefusesToActivateWithoutADisplay) {
  m_display.m_reachable = false;
  RTC::ReturnCode_t result = RTC::RTC_OK;
  auto out = captured([&] { result = m_viewer.onActivated(0); });
  EXPECT_EQ(RTC::RTC_ERROR, result);
  EXPECT_EQ("", out.first);
  EXPECT_NE(std::string::npos, out.second.find("no display to show images on: the test says so"))
      << out.second;
  EXPECT_EQ(std::vector<std::string>{"reachable"}, m_display.m_calls);
  EXPECT_EQ(nullptr, m_viewer.m_imageUtil);
}

TEST_F(PixmoorActivity, TurnsWindowExceptionsIntoAnError) {
  for (int which = 0; which < 2; ++which) {
    m_display.m_throwOnOpen = which == 0;
    m_display.m_throwOnShow = which == 1;
    RTC::ReturnCode_t result = RTC::RTC_OK;
    auto out = captured([&] { result = m_viewer.onActivated(0); });
    EXPECT_EQ(RTC::RTC_ERROR, result);
    EXPECT_EQ("", out.first);
    EXPECT_NE(std::string::npos,
              out.second.find(which == 0 ? "cannot open in this test" : "cannot show in this test"))
        << out.second;
    EXPECT_EQ(nullptr, m_viewer.m_imageUtil);
  }
}

// With the real desktop behind it and no display at all, activation must
// fail cleanly: Qt would have ended this test process.
TEST(PixmoorDesktop, ActivationWithoutAnyDisplayFailsAndTheProcessLivesOn) {
  std::map<std::string, std::string> saved;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"}) {
    if (const char* value = std::getenv(name)) saved[name] = value;
    ::unsetenv(name);
  }
  ViewerUnderTest viewer;
  ::testing::internal::CaptureStderr();
  RTC::ReturnCode_t result = viewer.onActivated(0);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(RTC::RTC_ERROR, result);
  EXPECT_NE(std::string::npos, err.find("no display to show images on: DISPLAY is not set")) << err;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RTC::RTC_OK, viewer.onDeactivated(0));
  ::testing::internal::GetCapturedStdout();
  for (const auto& entry : saved) ::setenv(entry.first.c_str(), entry.second.c_str(), 1);
}

}  // namespace
