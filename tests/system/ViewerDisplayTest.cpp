// What the viewer puts on screen, read back from the X server: frames shown
// pixel-exact in a window of the picture's size, mirrors as the parameters
// ask, size changes at the next activation, windows gone after deactivation;
// for OpenCV's window and for the viewer's own (with and without MIT-SHM,
// and on a screen smaller than the picture: scaled down to fit, or not).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <thread>

#include "DisplayLock.h"
#include "ViewerHarness.h"
#include "XWindowCapture.h"

using namespace pixmoor_test;
using namespace screencapture;

namespace {

// A picture whose every pixel differs from every other, so that any mirror,
// shift or channel swap shows: blue and green carry the low bits of x + seed
// and y, red the high bits of both.
cv::Mat testPicture(int width, int height, int seed) {
  cv::Mat picture(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      cv::Vec3b& p = picture.at<cv::Vec3b>(y, x);
      p[0] = static_cast<uchar>(x + seed);
      p[1] = static_cast<uchar>(y);
      p[2] = static_cast<uchar>((x >> 8) << 4 | (y >> 8));
    }
  }
  return picture;
}

// The frame encoding of `picture`: one element per pixel, blue in bits 0-7,
// green 8-15, red 16-23, alpha 0xFF.
std::vector<CORBA::Long> encode(const cv::Mat& picture) {
  std::vector<CORBA::Long> pixels;
  pixels.reserve(picture.total());
  for (int y = 0; y < picture.rows; ++y) {
    for (int x = 0; x < picture.cols; ++x) {
      const cv::Vec3b& p = picture.at<cv::Vec3b>(y, x);
      pixels.push_back(static_cast<CORBA::Long>(0xFF000000u | p[2] << 16 | p[1] << 8 | p[0]));
    }
  }
  return pixels;
}

cv::Mat mirrored(const cv::Mat& picture, bool horizontal, bool vertical) {
  cv::Mat out = picture.clone();
  if (horizontal && vertical)
    cv::flip(picture, out, -1);
  else if (horizontal)
    cv::flip(picture, out, 1);
  else if (vertical)
    cv::flip(picture, out, 0);
  return out;
}

std::string firstDifference(const WindowPixels& pixels, const cv::Mat& expected) {
  std::ostringstream out;
  if (pixels.width != expected.cols || pixels.height != expected.rows) {
    out << "window " << pixels.width << "x" << pixels.height << ", picture " << expected.cols << "x"
        << expected.rows;
    return out.str();
  }
  for (int y = 0; y < expected.rows; ++y) {
    for (int x = 0; x < expected.cols; ++x) {
      const cv::Vec3b& e = expected.at<cv::Vec3b>(y, x);
      std::uint32_t want = static_cast<std::uint32_t>(e[2]) << 16 | e[1] << 8 | e[0];
      if (pixels.rgb(x, y) != want) {
        out << "first difference at (" << x << "," << y << "): window " << std::hex
            << pixels.rgb(x, y) << ", picture " << want;
        return out.str();
      }
    }
  }
  return "none";
}

int countOf(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

struct DisplayChoice {
  const char* name;
  const char* conf;          // rtc.conf lines
  bool withoutSharedMemory;  // on an X server of the test's own, without MIT-SHM
  const char* route;         // what the log says at activation ("": nothing)
  // An X server of the test's own with a 1920x1080 screen, smaller than the
  // largest picture below; `fit` says whether the viewer scales it down.
  bool smallScreen = false;
  bool fit = true;
};

const DisplayChoice kDisplays[] = {
    {"opencv", "", false, ""},
    {"x11", "Generic.Pixmoor.display: x11\n", false, "pictures through MIT-SHM"},
    {"x11_without_shm", "Generic.Pixmoor.display: X11\n", true,
     "pictures over the connection (MIT-SHM cannot be used)"},
    {"x11_small_screen", "Generic.Pixmoor.display: x11\n", false, "pictures through MIT-SHM", true},
    {"x11_small_screen_full_size",
     "Generic.Pixmoor.display: x11\nGeneric.Pixmoor.display.fit: NO\n", false,
     "pictures through MIT-SHM", true, false},
};

const int kSmallScreenWidth = 1920;
const int kSmallScreenHeight = 1080;

void PrintTo(const DisplayChoice& choice, std::ostream* out) { *out << choice.name; }

// Points DISPLAY at an X server of the test's own while it lives, when the
// row asks for one; everything the fixture starts afterwards uses it.
class DisplayForRow {
 public:
  explicit DisplayForRow(const DisplayChoice& row) {
    if (!row.withoutSharedMemory && !row.smallScreen) return;
    const char* old = std::getenv("DISPLAY");
    if (old == nullptr) return;
    m_old = old;
    XServerOptions options;
    options.withoutSharedMemory = row.withoutSharedMemory;
    options.screen = row.smallScreen ? std::to_string(kSmallScreenWidth) + "x" +
                                           std::to_string(kSmallScreenHeight) + "x24"
                                     : "4096x2304x24";
    if (!m_server.start(options)) return;
    ::setenv("DISPLAY", m_server.display().c_str(), 1);
    m_changed = true;
  }
  ~DisplayForRow() {
    if (m_changed) ::setenv("DISPLAY", m_old.c_str(), 1);
  }
  bool failed() const { return !m_old.empty() && !m_changed; }

 private:
  PrivateXServer m_server;
  std::string m_old;
  bool m_changed = false;
};

class ViewerDisplayTest : public ::testing::TestWithParam<DisplayChoice> {
 protected:
  ViewerDisplayTest() : m_display(GetParam()), m_viewer({}, GetParam().conf) {}

  void SetUp() override {
    if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
    ASSERT_FALSE(m_display.failed()) << "cannot start an Xvfb without MIT-SHM";
    m_lock.reset(new DisplayLock);
    ASSERT_TRUE(m_capture.isOpen()) << "no X server answers at DISPLAY=" << displayName();
    ASSERT_TRUE(m_viewer.start());
    ASSERT_TRUE(m_viewer.connectProducer());
  }
  void TearDown() override {
    if (m_lock) {
      EXPECT_TRUE(m_viewer.stop());
    }
  }

  // Sends `picture` and checks that the window shows `expected`, exactly and
  // at exactly its size.
  ::testing::AssertionResult sendAndSee(const cv::Mat& picture, const cv::Mat& expected) {
    OpenRTM::PortStatus status = m_viewer.sendFrame(encode(picture));
    if (status != OpenRTM::PORT_OK)
      return ::testing::AssertionFailure() << "put answered " << status;
    return sees(expected);
  }

  ::testing::AssertionResult sees(const cv::Mat& expected) {
    WindowPixels pixels;
    double start = now();
    auto same = [&](const WindowPixels& p) {
      return p.width == expected.cols && p.height == expected.rows &&
             std::equal(p.bgr.begin(), p.bgr.end(), expected.data);
    };
    bool ok = m_capture.waitForPixels(kViewerWindow, m_viewer.process().pid(), expected.cols,
                                      expected.rows, same, 30, &pixels);
    std::printf("window showed the %dx%d picture after %.3f s\n", expected.cols, expected.rows,
                now() - start);
    if (ok) return ::testing::AssertionSuccess();
    std::vector<WindowInfo> windows =
        m_capture.findWindows(kViewerWindow, m_viewer.process().pid());
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << windows.size() << " window(s) titled " << kViewerWindow;
    if (!windows.empty())
      failure << " (" << windows[0].width << "x" << windows[0].height << "); "
              << firstDifference(pixels, expected);
    return failure << "\nlog:\n" << m_viewer.log();
  }

  DisplayForRow m_display;  // first: the members below connect to it
  std::unique_ptr<DisplayLock> m_lock;
  XWindowCapture m_capture;
  ViewerHarness m_viewer;
};

TEST_P(ViewerDisplayTest, ShowsFramesExactlyAndMirrorsThemFromTheNextFrameOn) {
  ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
  cv::Mat picture = testPicture(640, 480, 0);
  ASSERT_TRUE(sendAndSee(picture, picture));
  const std::string log = m_viewer.log();
  const std::string route = GetParam().route;
  if (route.empty()) {
    EXPECT_EQ(std::string::npos, log.find("showing frames in")) << log;
  } else {
    EXPECT_NE(std::string::npos, log.find("INFO: Pixmoor0: showing frames in the viewer's own "
                                          "window on the X server at DISPLAY=" +
                                          displayName() + ", " + route))
        << log;
  }

  // Each change of flip_h / flip_v applies to the next frame, while active.
  const struct {
    const char* flipH;
    const char* flipV;
    bool horizontal, vertical;
  } cases[] = {{"1", "0", true, false},
               {"0", "-2", false, true},
               {"-3", "7", true, true},
               {"0", "0", false, false}};
  int seed = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("flip_h ") + c.flipH + ", flip_v " + c.flipV);
    ASSERT_TRUE(m_viewer.setParameter("flip_h", c.flipH));
    ASSERT_TRUE(m_viewer.setParameter("flip_v", c.flipV));
    // The context applies the change after its next cycle (1 ms); give it
    // ample time so that the frame below is the first one after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    picture = testPicture(640, 480, seed++);
    EXPECT_TRUE(sendAndSee(picture, mirrored(picture, c.horizontal, c.vertical)));
  }
  EXPECT_EQ(RTC::ACTIVE_STATE, m_viewer.state());
}

TEST_P(ViewerDisplayTest, TakesANewSizeAtTheNextActivationOnly) {
  ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
  ASSERT_TRUE(sendAndSee(testPicture(640, 480, 0), testPicture(640, 480, 0)));

  ASSERT_TRUE(m_viewer.setParameter("input_image_width", "1920"));
  ASSERT_TRUE(m_viewer.setParameter("input_image_height", "1080"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  cv::Mat still = testPicture(640, 480, 5);
  EXPECT_TRUE(sendAndSee(still, still)) << "the size read at activation holds until deactivation";

  ASSERT_EQ(RTC::RTC_OK, m_viewer.deactivate());
  ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
  cv::Mat large = testPicture(1920, 1080, 9);
  EXPECT_TRUE(sendAndSee(large, large));

  ASSERT_TRUE(m_viewer.setParameter("input_image_width", "3840"));
  ASSERT_TRUE(m_viewer.setParameter("input_image_height", "2160"));
  ASSERT_EQ(RTC::RTC_OK, m_viewer.deactivate());
  ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
  cv::Mat huge = testPicture(3840, 2160, 3);
  const std::string sizeLine =
      "INFO: Pixmoor0: the 3840x2160 picture is larger than the 1920x1080 "
      "screen";
  if (!GetParam().smallScreen) {
    EXPECT_TRUE(sendAndSee(huge, huge));
    EXPECT_EQ(std::string::npos, m_viewer.log().find("picture is larger")) << m_viewer.log();
  } else if (GetParam().fit) {
    // Half the size each way, every shown pixel the mean of four.
    cv::Mat fitted;
    cv::resize(huge, fitted, cv::Size(kSmallScreenWidth, kSmallScreenHeight), 0, 0, cv::INTER_AREA);
    EXPECT_TRUE(sendAndSee(huge, fitted));
    EXPECT_EQ(1, countOf(m_viewer.log(), sizeLine + ": shown scaled to 1920x1080 to fit it"))
        << m_viewer.log();
  } else {
    // Larger than the screen, so only its size can be read back.
    ASSERT_EQ(OpenRTM::PORT_OK, m_viewer.sendFrame(encode(huge)));
    WindowInfo window;
    ASSERT_TRUE(m_capture.waitForWindow(kViewerWindow, m_viewer.process().pid(), 10, &window));
    EXPECT_EQ(3840, window.width);
    EXPECT_EQ(2160, window.height);
    EXPECT_EQ(1, countOf(m_viewer.log(), sizeLine + " and is shown at full size"))
        << m_viewer.log();
  }
}

// A live view must look and behave like a window even when the producer is
// silent: full size at once, and repainted when uncovered.
TEST_P(ViewerDisplayTest, TheWindowIsWholeBeforeTheFirstFrameAndRepaintsWhileIdle) {
  ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
  const cv::Mat black(480, 640, CV_8UC3, cv::Scalar::all(0));
  ASSERT_TRUE(sees(black)) << "no frame sent yet";
  const cv::Mat picture = testPicture(640, 480, 7);
  ASSERT_TRUE(sendAndSee(picture, picture));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("cover " + std::to_string(round));
    WindowInfo window;
    ASSERT_TRUE(m_capture.waitForWindow(kViewerWindow, m_viewer.process().pid(), 5, &window));
    m_capture.cover(window);
    EXPECT_TRUE(sees(picture)) << "the uncovered window was not repainted";
  }
}

// Another program destroying the window used to leave the viewer ACTIVE
// and showing into nothing, without a word. A window the user closes (the
// window manager asks its owner with WM_DELETE_WINDOW) comes back the same.
TEST_P(ViewerDisplayTest, AWindowDestroyedOrClosedIsOpenedAgain) {
  ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
  const cv::Mat picture = testPicture(640, 480, 11);
  ASSERT_TRUE(sendAndSee(picture, picture));
  const struct {
    bool close;  // else destroy
    bool streaming;
  } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  int seed = 12;
  cv::Mat shown = picture;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.close ? "closed" : "destroyed") +
                 (c.streaming ? ", frames arriving" : ", idle"));
    WindowInfo window;
    ASSERT_TRUE(m_capture.waitForWindow(kViewerWindow, m_viewer.process().pid(), 5, &window));
    // The viewer looks its new window up within a few cycles; one destroyed
    // before that would go unnoticed.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (c.close) {
      m_capture.close(window);
    } else {
      m_capture.destroy(window);
    }
    if (c.streaming) {
      shown = testPicture(640, 480, seed++);
      ASSERT_EQ(OpenRTM::PORT_OK, m_viewer.sendFrame(encode(shown)));
    }
    // A new window, not the old one still standing.
    const bool replaced = waitUntil(
        [&] {
          const std::vector<WindowInfo> found =
              m_capture.findWindows(kViewerWindow, m_viewer.process().pid());
          return found.size() == 1 && found[0].id != window.id;
        },
        10, 20);
    EXPECT_TRUE(replaced) << "the window was not opened again\n" << m_viewer.log();
    EXPECT_TRUE(sees(shown));
  }
  const std::string line =
      "WARNING: Pixmoor0: the window Pixmoor.exe was destroyed by another program; opened it again";
  EXPECT_EQ(4, countOf(m_viewer.log(), line)) << m_viewer.log();
  EXPECT_EQ(RTC::ACTIVE_STATE, m_viewer.state());
}

// A tool that writes one frame and disconnects at once: the frame was
// accepted, and is shown although its connection is gone (here before the
// viewer gets to it: it is activated only afterwards).
TEST_P(ViewerDisplayTest, AFrameWrittenJustBeforeTheDisconnectIsShown) {
  const cv::Mat picture = testPicture(640, 480, 21);
  ASSERT_EQ(OpenRTM::PORT_OK, m_viewer.sendFrame(encode(picture)));
  ASSERT_TRUE(m_viewer.disconnectProducer());
  ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
  EXPECT_TRUE(sees(picture));
}

TEST_P(ViewerDisplayTest, DeactivationClosesTheWindowAndActivationBringsItBack) {
  pid_t pid = m_viewer.process().pid();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(RTC::RTC_OK, m_viewer.activate());
    cv::Mat picture = testPicture(640, 480, 40 + round);
    ASSERT_TRUE(sendAndSee(picture, picture));
    ASSERT_EQ(RTC::RTC_OK, m_viewer.deactivate());
    EXPECT_TRUE(m_capture.waitForNoWindow(kViewerWindow, pid, 10));
  }
  EXPECT_TRUE(m_viewer.process().waitForStdout("Pixmoor::onDeactivated()\n", 5));
  std::string out = m_viewer.process().stdoutText();
  EXPECT_EQ(
      "Pixmoor::onInitialize()\n"
      "Pixmoor::onActivated()\n"
      "Pixmoor::onDeactivated()\n"
      "Pixmoor::onActivated()\n"
      "Pixmoor::onDeactivated()\n",
      out);
  EXPECT_EQ(std::string::npos, m_viewer.log().find("ERROR"));
}

// The viewer's own window belongs to its component, not to the process:
// a second viewer in the same process (which OpenCV's window refuses) shows
// its own picture in its own window.
TEST(ViewerOwnWindow, TwoViewersInOneProcessEachShowTheirOwnPicture) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  DisplayLock lock;
  XWindowCapture capture;
  ViewerHarness viewer({},
                       "Generic.Pixmoor.display: x11\n"
                       "manager.components.precreate: Pixmoor?instance_name=second\n"
                       "manager.components.preactivation: second\n");
  ASSERT_TRUE(viewer.start());
  ASSERT_TRUE(viewer.connectProducer());
  ASSERT_TRUE(viewer.waitForLog("INFO: second: showing frames in", 10)) << viewer.log();
  ASSERT_EQ(RTC::RTC_OK, viewer.activate());
  const cv::Mat picture = testPicture(640, 480, 31);
  ASSERT_EQ(OpenRTM::PORT_OK, viewer.sendFrame(encode(picture)));
  const cv::Mat black(480, 640, CV_8UC3, cv::Scalar::all(0));
  auto shows = [](const WindowPixels& p, const cv::Mat& expected) {
    return p.width == expected.cols && p.height == expected.rows &&
           std::equal(p.bgr.begin(), p.bgr.end(), expected.data);
  };
  bool sawPicture = false, sawBlack = false;
  const double deadline = now() + 15;
  while (!(sawPicture && sawBlack) && now() < deadline) {
    std::vector<WindowInfo> windows = capture.findWindows(kViewerWindow, viewer.process().pid());
    if (windows.size() == 2) {
      sawPicture = sawBlack = false;
      for (const WindowInfo& window : windows) {
        capture.raise(window);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        WindowPixels pixels;
        if (!capture.grab(window, &pixels)) continue;
        sawPicture = sawPicture || shows(pixels, picture);
        sawBlack = sawBlack || shows(pixels, black);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(sawPicture) << "Pixmoor0's window does not show its frame\n" << viewer.log();
  EXPECT_TRUE(sawBlack) << "second's window does not show its black picture\n" << viewer.log();
  EXPECT_EQ(std::string::npos, viewer.log().find("ERROR")) << viewer.log();
  // The harness's exit request ends Pixmoor0 only; the process ends with both.
  viewer.process().signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(viewer.process().waitExit(20, &status)) << viewer.log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(2, viewer.countStdout("Pixmoor::onDeactivated()"));
}

INSTANTIATE_TEST_SUITE_P(Displays, ViewerDisplayTest, ::testing::ValuesIn(kDisplays),
                         [](const ::testing::TestParamInfo<DisplayChoice>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
