// How the viewer fails: a frame of the wrong length, a size it cannot show,
// no display to show on. Each failure is logged, puts the component into its
// error state and leaves the process running and able to recover.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
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

// Whether a line holding `first` is followed by one holding `second`.
bool nextLineSays(const std::string& text, const std::string& first, const std::string& second) {
  for (size_t at = text.find(first); at != std::string::npos; at = text.find(first, at + 1)) {
    const size_t next = text.find('\n', at + first.size() - 1);
    if (next == std::string::npos) return false;
    const std::string line = text.substr(next + 1, text.find('\n', next + 1) - next - 1);
    if (line.find(second) != std::string::npos) return true;
  }
  return false;
}

TEST(ViewerErrors, AWrongLengthFrameEndsInTheErrorStateAndResetRecovers) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  for (const char* display : {"opencv", "x11"}) {
    SCOPED_TRACE(display);
    DisplayLock lock;
    XWindowCapture capture;
    ViewerHarness viewer({}, std::string("Generic.Pixmoor.display: ") + display + "\n");
    ASSERT_TRUE(viewer.start());
    ASSERT_TRUE(viewer.connectProducer());
    pid_t pid = viewer.process().pid();
    WindowPixels pixels;

    ASSERT_EQ(RTC::RTC_OK, viewer.activate());
    ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
    ASSERT_TRUE(capture.waitForPixels(kViewerWindow, pid, 640, 480, isPlain, 30, &pixels));

    // A 320x240 frame is a well-formed sample, so the port takes it; the
    // viewer refuses it because it has not 640 x 480 elements, and says so.
    ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(320, 240)));
    ASSERT_TRUE(viewer.waitForState(RTC::ERROR_STATE, 10)) << viewer.log();
    EXPECT_EQ(1, count(viewer.log(), kBadFrame)) << viewer.log();
    EXPECT_TRUE(nextLineSays(viewer.log(), kBadFrame,
                             "ERROR: Pixmoor0: the frame holds 76800 elements; the 640x480 "
                             "picture of this activation needs 307200"))
        << viewer.log();
    // The producer goes on at the old size while the viewer is in error: those
    // frames used to trip the viewer again right after reset + activate.
    for (int i = 0; i < 3; ++i) ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(320, 240)));
    // Leaving the active state runs onDeactivated, which closes the window.
    EXPECT_TRUE(
        viewer.process().waitForStdout("Pixmoor::onActivated()\nPixmoor::onDeactivated()\n", 10));
    EXPECT_TRUE(capture.waitForNoWindow(kViewerWindow, pid, 10));

    ASSERT_EQ(RTC::RTC_OK, viewer.reset());
    EXPECT_EQ(RTC::INACTIVE_STATE, viewer.state());
    ASSERT_EQ(RTC::RTC_OK, viewer.activate());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(RTC::ACTIVE_STATE, viewer.state()) << viewer.log();
    ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
    EXPECT_TRUE(capture.waitForPixels(kViewerWindow, pid, 640, 480, isPlain, 30, &pixels));
    EXPECT_EQ(RTC::ACTIVE_STATE, viewer.state());
    EXPECT_EQ(1, count(viewer.log(), kBadFrame));
    EXPECT_TRUE(viewer.stop());
  }
}

// Sizes that cannot make a buffer: none at all, and one above the largest
// picture the viewer takes (8192 x 8192); and 8192 x 8192 itself, whose
// frames can never pass the ORB's 100 MiB message limit (it used to
// activate, take 590 MB and show nothing). None needs a display: the size
// is judged first.
TEST(ViewerErrors, ASizeItCannotShowFailsTheActivation) {
  ViewerHarness viewer;
  ASSERT_TRUE(viewer.start());
  pid_t pid = viewer.process().pid();
  const struct {
    const char* width;
    const char* height;
    const char* second;
  } sizes[] = {{"0", "480", ""},
               {"640", "-1", ""},
               {"100000", "100000", "cannot hold a 100000x100000 picture"},
               {"8192", "8192",
                "a 8192x8192 frame needs 268436480 bytes in one message, more than this process's "
                "limit of 104857600; raise it in rtc.conf with corba.args: -ORBgiopMaxMsgSize "
                "269484032"}};
  int failures = 0;
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::string(size.width) + "x" + size.height);
    ASSERT_TRUE(viewer.setParameter("input_image_width", size.width));
    ASSERT_TRUE(viewer.setParameter("input_image_height", size.height));
    EXPECT_EQ(RTC::RTC_ERROR, viewer.activate());
    EXPECT_EQ(RTC::ERROR_STATE, viewer.state());
    EXPECT_EQ(++failures, count(viewer.log(), kBadSize)) << viewer.log();
    if (*size.second) {
      EXPECT_TRUE(
          nextLineSays(viewer.log(), kBadSize, std::string("ERROR: Pixmoor0: ") + size.second))
          << viewer.log();
    }
    if (!displayName().empty()) {
      XWindowCapture capture;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_TRUE(capture.findWindows(kViewerWindow, pid).empty());
    }
    ASSERT_EQ(RTC::RTC_OK, viewer.reset());
  }
  EXPECT_EQ(0, viewer.countStdout("Pixmoor::onActivated()"));
  EXPECT_EQ(0, viewer.countStdout("Pixmoor::onDeactivated()"));
  EXPECT_TRUE(viewer.process().running());
  EXPECT_TRUE(viewer.stop());
}

// Qt ends the process when it cannot reach a display; the viewer must refuse
// the activation instead, and live on. So must the viewer's own window on a
// screen whose pixels it cannot write (8-bit PseudoColor).
TEST(ViewerErrors, NoDisplayFailsTheActivationAndTheProcessLivesOn) {
  const struct {
    const char* what;
    std::vector<std::string> env;
    const char* screen = nullptr;  // of an X server of the test's own, DISPLAY then
    const char* conf = "";
    const char* reason = "";  // what the log line says after kNoDisplay
  } cases[] = {
      {"DISPLAY unset", {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"}},
      {"DISPLAY naming no server",
       {"DISPLAY=:2147", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"}},
      // Qt aborted the process (134) on these.
      {"linuxfb without a frame buffer", {"QT_QPA_PLATFORM=linuxfb:fb=/dev/no-fb"}},
      {"a platform Qt does not know", {"QT_QPA_PLATFORM=no-such-platform"}},
      {"the own window on an 8-bit PseudoColor screen",
       {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
       "1024x768x8",
       "Generic.Pixmoor.display: x11\n",
       " is 8-bit not TrueColor with 8 bits a pixel; display: x11 needs a 24- or 32-bit TrueColor "
       "screen with 32 bits a pixel, blue in the low byte (display: opencv shows on any)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PrivateXServer server;
    std::vector<std::string> env = c.env;
    if (c.screen != nullptr) {
      XServerOptions options;
      options.screen = c.screen;
      ASSERT_TRUE(server.start(options));
      env.push_back("DISPLAY=" + server.display());
    }
    ViewerHarness viewer(env, c.conf);
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
    if (*c.reason) {
      EXPECT_EQ(2, count(viewer.log(), std::string(kNoDisplay) + ": the screen at DISPLAY=" +
                                           server.display() + c.reason))
          << viewer.log();
    }
    EXPECT_EQ(0, viewer.countStdout("Pixmoor::onActivated()"));
    // A failed activation prints nothing, though onDeactivated runs after it.
    EXPECT_EQ(0, viewer.countStdout("Pixmoor::onDeactivated()"));
    EXPECT_TRUE(viewer.stop());
  }
}

// A stopped X server accepts a connection and never answers. The probe
// used to wait for it past the transition timeout: activate answered
// RTC_ERROR and the activation completed later anyway.
TEST(ViewerErrors, AStoppedXServerFailsTheActivationForGood) {
  PrivateXServer server;
  if (!server.start()) GTEST_SKIP() << "no Xvfb of our own could start";
  ViewerHarness viewer({"DISPLAY=" + server.display(), "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"});
  ASSERT_TRUE(viewer.start());
  server.process().signal(SIGSTOP);
  const double start = now();
  EXPECT_EQ(RTC::RTC_ERROR, viewer.activate());
  EXPECT_LT(now() - start, 2.0) << "the probe's own bound, well inside transition_timeout";
  EXPECT_TRUE(viewer.waitForLog("does not answer within", 5)) << viewer.log();
  server.process().signal(SIGCONT);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(RTC::ERROR_STATE, viewer.state());
  EXPECT_EQ(0, viewer.countStdout("Pixmoor::onActivated()"));
  ASSERT_EQ(RTC::RTC_OK, viewer.reset());
  EXPECT_EQ(RTC::RTC_OK, viewer.activate()) << viewer.log();
  EXPECT_TRUE(viewer.stop());
}

// The X server killed while frames stream: Qt ends the process when it
// notices (it used to leave only "The X11 connection broke" on stdout and
// the name bound to a dead object). Now the log says what happened and the
// name is gone before the process is.
TEST(ViewerErrors, ALostXServerIsLoggedAndLeavesNoName) {
  PrivateXServer server;
  if (!server.start()) GTEST_SKIP() << "no Xvfb of our own could start";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "streaming" : "idle");
    if (round == 1) {
      ASSERT_TRUE(server.start());
    }
    ViewerHarness viewer({"DISPLAY=" + server.display(), "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"});
    ASSERT_TRUE(viewer.start());
    ASSERT_TRUE(viewer.connectProducer());
    ASSERT_EQ(RTC::RTC_OK, viewer.activate()) << viewer.log();
    for (int i = 0; i < 5; ++i) ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
    server.process().signal(SIGKILL);
    ASSERT_TRUE(server.process().waitExit(5));
    for (int i = 0; round == 0 && i < 20 && viewer.process().running(); ++i) {
      try {
        viewer.sendFrame(plainFrame(640, 480));
      } catch (const CORBA::Exception&) {
        break;  // the viewer is gone
      }
    }
    int status = 0;
    ASSERT_TRUE(viewer.process().waitExit(15, &status)) << viewer.log();
    std::printf("viewer ended with status %d (%s)\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status),
                WIFEXITED(status) ? "exit" : "signal");
    EXPECT_TRUE(WIFEXITED(status)) << "no crash on the way out: " << status;
    EXPECT_TRUE(viewer.waitForLog("ERROR: Pixmoor0: the display went away", 1)) << viewer.log();
    EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(
        resolveName(viewer.nameServer().corbaloc(), hostName() + ".host_cxt/Pixmoor0.rtc"))))
        << "a stale name\n"
        << viewer.log();
  }
}

// Qt cannot connect again once its X server went away. Lost while the
// viewer was inactive, the server used to go unnoticed, and the next
// activation ended the process with status 1 ("The X11 connection broke")
// even with the server back.
TEST(ViewerErrors, AnXServerLostWhileInactiveIsLoggedAndLaterActivationsAreRefused) {
  PrivateXServer server;
  if (!server.start()) GTEST_SKIP() << "no Xvfb of our own could start";
  ViewerHarness viewer({"DISPLAY=" + server.display(), "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"});
  ASSERT_TRUE(viewer.start());
  ASSERT_EQ(RTC::RTC_OK, viewer.activate()) << viewer.log();
  ASSERT_EQ(RTC::RTC_OK, viewer.deactivate());
  server.process().signal(SIGKILL);
  ASSERT_TRUE(server.process().waitExit(5));
  EXPECT_TRUE(
      viewer.waitForLog("ERROR: Pixmoor0: the display went away while the viewer was inactive", 5))
      << viewer.log();
  pixmoor_test::XServerOptions again;
  again.sameNumber = true;
  ASSERT_TRUE(server.start(again));
  const char kLost[] =
      "ERROR: Pixmoor0: no display to show images on: the display was lost while this process "
      "ran";
  for (int attempt = 1; attempt <= 2; ++attempt) {
    EXPECT_EQ(RTC::RTC_ERROR, viewer.activate());
    EXPECT_EQ(attempt, count(viewer.log(), kLost)) << viewer.log();
    EXPECT_EQ(attempt, count(viewer.log(), "in this process; restart the viewer\n"))
        << viewer.log();
    ASSERT_EQ(RTC::RTC_OK, viewer.reset());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(viewer.process().running()) << viewer.process().stdoutText();
  EXPECT_EQ(1, viewer.countStdout("Pixmoor::onActivated()"));
  EXPECT_TRUE(viewer.stop());
}

// The viewer's own window (display: x11) on an X server of the test's own,
// active, with the test's producer connected.
class OwnWindowErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_server.start()) GTEST_SKIP() << "no Xvfb of our own could start";
    m_viewer.reset(new ViewerHarness(
        {"DISPLAY=" + m_server.display(), "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"},
        "Generic.Pixmoor.display: x11\n"));
    ASSERT_TRUE(m_viewer->start());
    ASSERT_TRUE(m_viewer->connectProducer());
    ASSERT_EQ(RTC::RTC_OK, m_viewer->activate()) << m_viewer->log();
  }

  PrivateXServer m_server;
  std::unique_ptr<ViewerHarness> m_viewer;
};

// The viewer's own window (display: x11) has its own connection, which the
// viewer may lose without the process: only the window ends, the component
// goes to its error state, and reset and activate show frames again once a
// server is back. Lost while frames stream, then while idle.
TEST_F(OwnWindowErrors, ALostXServerEndsOnlyTheViewersOwnWindow) {
  PrivateXServer& server = m_server;
  ViewerHarness& viewer = *m_viewer;
  const char kGone[] = "ERROR: Pixmoor0: the display went away (the X server at DISPLAY=";
  for (int round = 1; round <= 2; ++round) {
    const bool streaming = round == 1;
    SCOPED_TRACE(streaming ? "streaming" : "idle");
    if (streaming) {
      for (int i = 0; i < 5; ++i)
        ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
    }
    server.process().signal(SIGKILL);
    ASSERT_TRUE(server.process().waitExit(5));
    for (int i = 0; streaming && i < 5; ++i) viewer.sendFrame(plainFrame(640, 480));
    EXPECT_TRUE(viewer.waitForState(RTC::ERROR_STATE, 10)) << viewer.log();
    EXPECT_EQ(round, count(viewer.log(), kGone)) << viewer.log();
    EXPECT_TRUE(viewer.process().running()) << viewer.process().stdoutText();

    pixmoor_test::XServerOptions again;
    again.sameNumber = true;
    ASSERT_TRUE(server.start(again));
    ASSERT_EQ(RTC::RTC_OK, viewer.reset());
    ASSERT_EQ(RTC::RTC_OK, viewer.activate()) << viewer.log();
    ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
    // The capture reads the new server; the test's DISPLAY is the suite's.
    const std::string suiteDisplay = displayName();
    ::setenv("DISPLAY", server.display().c_str(), 1);
    {
      XWindowCapture capture;
      WindowPixels pixels;
      EXPECT_TRUE(capture.waitForPixels(kViewerWindow, viewer.process().pid(), 640, 480, isPlain,
                                        15, &pixels))
          << viewer.log();
    }
    if (suiteDisplay.empty()) {
      ::unsetenv("DISPLAY");
    } else {
      ::setenv("DISPLAY", suiteDisplay.c_str(), 1);
    }
    EXPECT_EQ(RTC::ACTIVE_STATE, viewer.state());
  }
  EXPECT_TRUE(viewer.stop());
}

// A stopped X server never takes the pictures put to it: the viewer's own
// window waits for it a bounded time, then the viewer goes to its error state
// instead of hanging in its execution context for good.
TEST_F(OwnWindowErrors, AStoppedXServerUnderTheViewersOwnWindowIsAnErrorNotAHang) {
  PrivateXServer& server = m_server;
  ViewerHarness& viewer = *m_viewer;
  ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(plainFrame(640, 480)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  server.process().signal(SIGSTOP);
  const double start = now();
  for (int i = 0; i < 40 && viewer.state() == RTC::ACTIVE_STATE; ++i) {
    viewer.sendFrame(plainFrame(640, 480));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(viewer.waitForState(RTC::ERROR_STATE, 10)) << viewer.log();
  std::printf("error state %.1f s after the server stopped\n", now() - start);
  EXPECT_TRUE(viewer.waitForLog("has not taken the last picture in 2000 ms (is it stopped?)", 1))
      << viewer.log();
  server.process().signal(SIGCONT);
  ASSERT_EQ(RTC::RTC_OK, viewer.reset());
  EXPECT_EQ(RTC::RTC_OK, viewer.activate()) << viewer.log();
  EXPECT_TRUE(viewer.stop());
}

}  // namespace
