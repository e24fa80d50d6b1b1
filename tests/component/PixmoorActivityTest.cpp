// The viewer's activation, execution and deactivation, driven directly with
// a recording display in place of the desktop: which window calls happen
// when, what is logged and printed, and what happens to the frame buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <map>
#include <opencv2/core.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Every allocation of this test program is counted.
#include "AllocationCounter.h"
#include "CdrProducer.h"
#include "ImageDisplay.h"
#include "ImageUtil.h"
#include "Pixmoor.h"
#include "TestSupport.h"
#include "X11Display.h"

namespace {

// A manager on the test's loopback ORB, as a host has one: a component gets
// its CORBA object, and so a real "image" port, only from one.
class ManagerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    pixmoor_test::orb();  // loopback only; the manager's ORB is this one
    std::vector<std::string> args = {"component_tests",
                                     "-o",
                                     "corba.endpoint: 127.0.0.1:",
                                     "-o",
                                     "corba.nameservers:",
                                     "-o",
                                     "naming.enable: NO",
                                     "-o",
                                     "logger.file_name: STDERR",
                                     "-o",
                                     "manager.shutdown_on_nortcs: NO"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    RTC::Manager* manager = RTC::Manager::init(static_cast<int>(args.size()), argv.data());
    ASSERT_TRUE(manager->activateManager());
  }
  void TearDown() override { RTC::Manager::instance().shutdown(); }
};

::testing::Environment* const g_managerEnvironment =
    ::testing::AddGlobalTestEnvironment(new ManagerEnvironment);

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
  void watchConnection(std::function<void()> onLost) override {
    if (onLost) m_calls.push_back("watch");
    m_onLost = onLost;
  }
  void show(const char* name, const cv::Mat& image) override {
    ++m_shows;
    m_lastShown = image.data;
    if (m_quiet) return;
    m_calls.push_back(std::string("show ") + name + " " + std::to_string(image.cols) + "x" +
                      std::to_string(image.rows));
    if (m_throwOnShow) CV_Error(cv::Error::StsError, "cannot show in this test");
    m_shown.push_back(image);
  }
  void processEvents(int milliseconds) override {
    ++m_pumps;
    if (m_quiet) return;
    m_calls.push_back("events " + std::to_string(milliseconds));
  }
  void pollEvents() override {
    ++m_polls;
    if (!m_quiet && m_recordPolls) m_calls.push_back("poll");
  }
  void closeAllWindows() override { m_calls.push_back("close all"); }

  std::vector<std::string> m_calls;
  std::function<void()> m_onLost;
  std::vector<cv::Mat> m_shown;  // headers sharing the shown pixels
  bool m_reachable = true;
  bool m_throwOnOpen = false;
  bool m_throwOnShow = false;
  // When set, show and processEvents only count, so that they allocate nothing.
  bool m_quiet = false;
  int m_shows = 0;
  int m_pumps = 0;
  int m_polls = 0;
  // Idle polls depend on timing; tests about frames leave them out.
  bool m_recordPolls = true;
  const unsigned char* m_lastShown = nullptr;
};

// Returns the component properties the shipped rtc.conf gives the viewer
// type (its Generic.Pixmoor.* keys, as the manager layers them).
coil::Properties recommendedProperties() {
  std::ifstream in(pixmoor_test::sourcePath("conf/pixmoor.rtc.conf"));
  coil::Properties conf;
  conf.load(in);
  return conf.getNode("Generic.Pixmoor");
}

// Opens the component's members to the test. The viewer is set up as the
// shipped rtc.conf deploys it.
class ViewerUnderTest : public Pixmoor {
 public:
  // Initialized as the manager initializes a component it creates: CORBA
  // objects first, then onInitialize, then its own execution context (in
  // which it stays inactive: the tests call its actions themselves).
  ViewerUnderTest() : Pixmoor(&RTC::Manager::instance()) {
    setProperties(recommendedProperties());
    EXPECT_EQ(RTC::RTC_OK, initialize());
  }
  using Pixmoor::m_figures;
  using Pixmoor::m_flip_h;
  using Pixmoor::m_flip_v;
  using Pixmoor::m_imageIn;
  using Pixmoor::m_imageUtil;
  using Pixmoor::m_input_image_height;
  using Pixmoor::m_input_image_width;
  // Logs what a refused size logs, to weigh that line alone.
  void logInvalidSize() { RTC_ERROR(("invalid image size...")); }
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

TEST_F(PixmoorActivity, OpensTheWindowAtActivationAndKeepsItAliveWithoutFrames) {
  RTC::ReturnCode_t result = RTC::RTC_ERROR;
  auto out = captured([&] { result = m_viewer.onActivated(0); });
  ASSERT_EQ(RTC::RTC_OK, result);
  EXPECT_EQ("Pixmoor::onActivated()\n", out.first);
  EXPECT_EQ((std::vector<std::string>{"reachable", "open Pixmoor.exe", "watch",
                                      "show Pixmoor.exe 640x480", "events 1"}),
            m_display.m_calls)
      << "the window is laid out at its full size at once";
  // The display's watch reports a lost server in the component's log.
  ASSERT_TRUE(m_display.m_onLost);
  out = captured([&] { m_display.m_onLost(); });
  EXPECT_NE(std::string::npos, out.second.find("ERROR")) << out.second;
  EXPECT_NE(std::string::npos, out.second.find("the display went away")) << out.second;
  ASSERT_EQ(1u, m_display.m_shown.size());
  EXPECT_EQ(0, cv::countNonZero(m_display.m_shown[0].reshape(1))) << "a new buffer is black";

  // No connection, so never a new frame: nothing is shown, and the window's
  // queued events are polled now and then, never waited for.
  m_display.m_calls.clear();
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200)) {
    ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(0, m_display.m_shows - 1);
  EXPECT_EQ(std::vector<std::string>(static_cast<size_t>(m_display.m_polls), "poll"),
            m_display.m_calls);
  // One poll per 25 ms at most, and some: 200 ms holds at most 8 (+1 for a
  // cycle that straddles the end), and a loaded machine still manages 2.
  EXPECT_GE(m_display.m_polls, 2);
  EXPECT_LE(m_display.m_polls, 9);
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
  // The watch outlives the window: a loss now is logged as one while
  // inactive, and the component takes its callback back when it goes.
  ASSERT_TRUE(m_display.m_onLost);
  out = captured([&] { m_display.m_onLost(); });
  EXPECT_NE(std::string::npos,
            out.second.find("the display went away while the viewer was inactive"))
      << out.second;
  EXPECT_NE(std::string::npos, out.second.find("restart the viewer")) << out.second;
  {
    ViewerUnderTest passing;
    passing.setDisplay(&m_display);
    captured([&] { passing.onActivated(0); });
    EXPECT_TRUE(m_display.m_onLost);
  }
  EXPECT_FALSE(m_display.m_onLost) << "a destroyed component is never called back";
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

// A size of 0 or less is logged as the one line "invalid image size..." and
// allocates nothing beyond that line; a positive size that cannot be held or
// whose frames (8192x8192: 268 MB) can never pass the ORB's message limit
// gets a second line saying why. A weakened height check once let 640x0
// through to ImageUtil, which allocated and logged twice, unseen.
TEST_F(PixmoorActivity, RefusesSizesItCannotHoldBeforeTouchingTheDisplay) {
  unsigned long oneLine = 0;
  captured([&] {
    m_viewer.logInvalidSize();  // the logger's first line sets things up once
    const unsigned long before = pixmoor_test::threadAllocationCount();
    m_viewer.logInvalidSize();
    oneLine = pixmoor_test::threadAllocationCount() - before;
  });
  const std::string limit = std::to_string(omniORB::giopMaxMsgSize());
  const struct {
    int width, height;
    std::string secondLine;  // empty: the refusal is the only line
  } cases[] = {{0, 480, ""},
               {640, 0, ""},
               {-1, 480, ""},
               {640, -480, ""},
               {0, 0, ""},
               {100000, 100000, "cannot hold a 100000x100000 picture"},
               {8192, 8192,
                "a 8192x8192 frame needs 268436480 bytes in one message, more than this "
                "process's limit of " +
                    limit +
                    "; raise it in rtc.conf with corba.args: -ORBgiopMaxMsgSize 269484032"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    m_viewer.m_input_image_width = c.width;
    m_viewer.m_input_image_height = c.height;
    RTC::ReturnCode_t result = RTC::RTC_OK;
    unsigned long used = 0;
    auto out = captured([&] {
      const unsigned long before = pixmoor_test::threadAllocationCount();
      result = m_viewer.onActivated(0);
      used = pixmoor_test::threadAllocationCount() - before;
    });
    EXPECT_EQ(RTC::RTC_ERROR, result);
    EXPECT_EQ("", out.first);
    std::vector<std::string> lines;
    std::istringstream err(out.second);
    for (std::string line; std::getline(err, line);) lines.push_back(line);
    ASSERT_EQ(c.secondLine.empty() ? 1u : 2u, lines.size()) << out.second;
    EXPECT_NE(std::string::npos, lines[0].find("ERROR")) << lines[0];
    EXPECT_EQ(" invalid image size...",
              lines[0].substr(lines[0].size() - std::min<size_t>(lines[0].size(), 22)));
    if (!c.secondLine.empty()) {
      EXPECT_NE(std::string::npos, lines[1].find(c.secondLine)) << lines[1];
    } else {
      EXPECT_EQ(oneLine, used) << "allocations beyond the log line";
    }
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

  // The framework deactivates after a failed activation too; that used to
  // print "Pixmoor::onDeactivated()" for a window that never opened.
  out = captured([&] { result = m_viewer.onDeactivated(0); });
  EXPECT_EQ(RTC::RTC_OK, result);
  EXPECT_EQ("", out.first);
  EXPECT_EQ(std::vector<std::string>{"reachable"}, m_display.m_calls) << "no window call";
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

// The same, with a producer connected to the "image" port the way a remote
// one connects, so that onExecute reads real samples.
class PixmoorFrames : public PixmoorActivity {
 protected:
  void SetUp() override {
    PixmoorActivity::SetUp();
    m_display.m_recordPolls = false;
    RTC::PortService_var port = m_viewer.m_imageIn.getPortRef();
    ASSERT_FALSE(CORBA::is_nil(port)) << "the component added no port";
    ASSERT_EQ(RTC::RTC_OK, pixmoor_test::connectAsForeignProducer(pixmoor_test::orb(), port,
                                                                  "frames", m_producer));
    ASSERT_FALSE(CORBA::is_nil(m_producer));
  }

  // Activates the viewer at `width` x `height` and forgets the calls so far.
  void activate(int width, int height) {
    m_viewer.m_input_image_width = width;
    m_viewer.m_input_image_height = height;
    RTC::ReturnCode_t result = RTC::RTC_ERROR;
    captured([&] { result = m_viewer.onActivated(0); });
    ASSERT_EQ(RTC::RTC_OK, result);
    m_display.m_calls.clear();
  }

  // Puts one sample holding `pixels` (little-endian CDR: sec, nsec, count,
  // elements) into the viewer's port, stamped `sec`.`nsec`.
  void send(const std::vector<std::uint32_t>& pixels, std::uint32_t sec = 1,
            std::uint32_t nsec = 0) {
    m_frame.length(static_cast<CORBA::ULong>(12 + 4 * pixels.size()));
    CORBA::Octet* out = m_frame.get_buffer();
    auto put = [&out](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) *out++ = static_cast<CORBA::Octet>(v >> (8 * i));
    };
    put(sec);
    put(nsec);
    put(static_cast<std::uint32_t>(pixels.size()));
    for (std::uint32_t p : pixels) put(p);
    ASSERT_EQ(OpenRTM::PORT_OK, m_producer->put(m_frame));
  }

  OpenRTM::CdrData m_frame;
  OpenRTM::InPortCdr_var m_producer;
};

// `width` x `height` pixels that all differ, with assorted top bytes, and the
// picture they decode to.
std::vector<std::uint32_t> distinctPixels(int width, int height, cv::Mat* picture) {
  std::vector<std::uint32_t> pixels;
  picture->create(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t i = static_cast<std::uint32_t>(y * width + x);
      const cv::Vec3b bgr(static_cast<uchar>(3 * i + 1), static_cast<uchar>(5 * i + 2),
                          static_cast<uchar>(7 * i + 3));
      picture->at<cv::Vec3b>(y, x) = bgr;
      pixels.push_back((i * 0x3Bu) << 24 | std::uint32_t(bgr[2]) << 16 |
                       std::uint32_t(bgr[1]) << 8 | bgr[0]);
    }
  }
  return pixels;
}

bool sameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

TEST_F(PixmoorFrames, ShowsEachNewFrameOnceMirroredAsAskedWithOnePump) {
  activate(4, 3);
  for (int cycle = 0; cycle < 3; ++cycle) EXPECT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
  EXPECT_TRUE(m_display.m_calls.empty()) << "connected, but nothing sent yet";

  const struct {
    int flipH, flipV, flipCode;  // flipCode 2: no mirror
  } cases[] = {{0, 0, 2}, {1, 0, 1}, {-1, 0, 1}, {0, -4, 0}, {7, 1, -1}, {-2, -3, -1}, {0, 0, 2}};
  int seed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "flip_h " << c.flipH << ", flip_v " << c.flipV);
    m_viewer.m_flip_h = c.flipH;
    m_viewer.m_flip_v = c.flipV;
    cv::Mat picture;
    std::vector<std::uint32_t> pixels = distinctPixels(4, 3, &picture);
    for (std::uint32_t& p : pixels) p ^= static_cast<std::uint32_t>(seed) * 0x010101u;
    picture ^= cv::Scalar::all(seed++);
    send(pixels);
    m_display.m_calls.clear();
    m_display.m_shown.clear();
    EXPECT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    EXPECT_EQ((std::vector<std::string>{"show Pixmoor.exe 4x3", "events 1"}), m_display.m_calls);
    cv::Mat expected = picture;
    if (c.flipCode != 2) cv::flip(picture, expected, c.flipCode);
    ASSERT_EQ(1u, m_display.m_shown.size());
    EXPECT_TRUE(sameBytes(expected, m_display.m_shown[0]));

    // The frame has been read: later cycles do not show it again.
    for (int cycle = 0; cycle < 3; ++cycle) EXPECT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    EXPECT_EQ(2u, m_display.m_calls.size());
  }
  captured([&] { m_viewer.onDeactivated(0); });
}

TEST_F(PixmoorFrames, AFrameOfTheWrongLengthIsLoggedAndLeavesThePictureAlone) {
  activate(4, 3);
  cv::Mat picture;
  send(distinctPixels(4, 3, &picture));
  ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
  for (int length : {11, 13, 1}) {
    SCOPED_TRACE(length);
    send(std::vector<std::uint32_t>(static_cast<size_t>(length), 0xFFFFFFFFu));
    m_display.m_calls.clear();
    RTC::ReturnCode_t result = RTC::RTC_OK;
    auto out = captured([&] { result = m_viewer.onExecute(0); });
    EXPECT_EQ(RTC::RTC_ERROR, result);
    EXPECT_EQ("", out.first);
    EXPECT_NE(std::string::npos, out.second.find("ERROR")) << out.second;
    const size_t first = out.second.find("invalid image size....\n");
    EXPECT_NE(std::string::npos, first) << out.second;
    EXPECT_LT(first, out.second.find("the frame holds " + std::to_string(length) +
                                     " elements; the 4x3 picture of this activation needs 12"))
        << out.second;
    EXPECT_TRUE(m_display.m_calls.empty()) << "nothing shown, no events processed";
    ASSERT_NE(nullptr, m_viewer.m_imageUtil) << "the buffer stays until onDeactivated";
    EXPECT_TRUE(sameBytes(picture, m_viewer.m_imageUtil->getImage()));
  }
  captured([&] { m_viewer.onDeactivated(0); });
}

// Frames queued while the viewer was inactive (a producer that changed its
// size before a reset) used to end the new activation at its first cycle.
// They are read at activation; the newest is shown when it fits, and the
// log counts the ones that were not.
TEST_F(PixmoorFrames, FramesQueuedBeforeActivationCannotEndIt) {
  // A buffer that keeps every frame queued, so that several wait.
  coil::Properties settings = m_viewer.m_imageIn.properties();
  settings.setProperty("buffer.length", "8");
  m_viewer.m_imageIn.init(settings);
  m_viewer.m_imageIn.disconnect_all();
  RTC::PortService_var port = m_viewer.m_imageIn.getPortRef();
  ASSERT_EQ(RTC::RTC_OK, pixmoor_test::connectAsForeignProducer(pixmoor_test::orb(), port, "queued",
                                                                m_producer));
  cv::Mat picture;
  const std::vector<std::uint32_t> fits = distinctPixels(4, 3, &picture);
  const std::vector<std::uint32_t> wrong(6, 0xFFFFFFFFu);
  const struct {
    const char* what;
    std::vector<std::vector<std::uint32_t>> queued;
    bool newestShown;
    const char* logged;  // nullptr: nothing
  } cases[] = {
      {"all of another size", {wrong, wrong, wrong}, false, "dropped 3 frame(s)"},
      {"the newest fits", {wrong, wrong, fits}, true, "dropped 2 frame(s)"},
      {"only the newest is of another size", {fits, wrong}, false, "dropped 2 frame(s)"},
      {"one that fits", {fits}, true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& frame : c.queued) send(frame);
    m_viewer.m_input_image_width = 4;
    m_viewer.m_input_image_height = 3;
    RTC::ReturnCode_t result = RTC::RTC_ERROR;
    const std::string err = captured([&] { result = m_viewer.onActivated(0); }).second;
    ASSERT_EQ(RTC::RTC_OK, result);
    m_display.m_calls.clear();
    if (c.logged != nullptr) {
      EXPECT_NE(std::string::npos,
                err.find(std::string(c.logged) + " that were waiting before the activation"))
          << err;
    } else {
      EXPECT_EQ(std::string::npos, err.find("dropped")) << err;
    }
    ASSERT_FALSE(m_viewer.m_imageIn.isNew());
    cv::Mat black(3, 4, CV_8UC3, cv::Scalar::all(0));
    EXPECT_TRUE(sameBytes(c.newestShown ? picture : black, m_viewer.m_imageUtil->getImage()));
    for (int cycle = 0; cycle < 3; ++cycle) EXPECT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    send(fits);
    EXPECT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    captured([&] { m_viewer.onDeactivated(0); });
  }
}

// With the shipped configuration a producer faster than the viewer costs no
// delay: each cycle shows the newest frame, and the frames it had no time
// for are dropped rather than queued before it. Each frame is a counter
// value in every pixel.
TEST_F(PixmoorFrames, ShowsTheNewestFrameWhenTheProducerIsFaster) {
  ASSERT_EQ("1", m_viewer.m_imageIn.properties().getProperty("buffer.length"));
  activate(4, 3);
  std::uint32_t counter = 0;
  for (int cycle = 0; cycle < 4; ++cycle) {
    SCOPED_TRACE(cycle);
    for (int burst = 0; burst < 3; ++burst) {
      ++counter;
      send(std::vector<std::uint32_t>(12, counter * 0x010101u));
    }
    m_display.m_shown.clear();
    ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    ASSERT_EQ(1u, m_display.m_shown.size());
    const cv::Scalar newest = cv::Scalar::all(counter);
    EXPECT_TRUE(sameBytes(cv::Mat(3, 4, CV_8UC3, newest), m_display.m_shown[0]))
        << "shown " << m_display.m_shown[0].at<cv::Vec3b>(0, 0) << ", newest " << counter;
    EXPECT_FALSE(m_viewer.m_imageIn.isNew()) << "no older frame waits behind it";
  }
  captured([&] { m_viewer.onDeactivated(0); });
}

// Once running, a frame on its way from the port to the window allocates
// nothing: read into the bound sample, decode and mirrors into the two
// images made at activation, show.
TEST_F(PixmoorFrames, HandlingAFrameAllocatesNothingOnceRunning) {
  activate(640, 480);
  m_viewer.m_flip_h = 1;
  m_viewer.m_flip_v = 1;
  m_display.m_quiet = true;
  cv::Mat picture;
  const std::vector<std::uint32_t> pixels = distinctPixels(640, 480, &picture);
  for (int warm = 0; warm < 3; ++warm) {
    send(pixels);
    ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
  }
  const cv::Mat front = m_viewer.m_imageUtil->getImage();
  m_viewer.m_imageUtil->swapImages();
  const cv::Mat back = m_viewer.m_imageUtil->getImage();
  m_viewer.m_imageUtil->swapImages();

  unsigned long allocations = 0;
  const int shows = m_display.m_shows;
  for (int frame = 0; frame < 10; ++frame) {
    send(pixels);
    // Counted on this thread only: the ORB's threads may still be finishing
    // the delivery, and that is not the frame's road.
    const unsigned long before = pixmoor_test::threadAllocationCount();
    ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    allocations += pixmoor_test::threadAllocationCount() - before;
    EXPECT_TRUE(m_display.m_lastShown == front.data || m_display.m_lastShown == back.data)
        << "an image was reallocated";
  }
  EXPECT_EQ(0u, allocations);
  EXPECT_EQ(shows + 10, m_display.m_shows);
  EXPECT_EQ(m_display.m_shows, m_display.m_pumps) << "one pump per frame and one at activation";
  cv::Mat turned;
  cv::flip(picture, turned, -1);
  EXPECT_TRUE(sameBytes(turned, m_viewer.m_imageUtil->getImage()));
  captured([&] { m_viewer.onDeactivated(0); });
}

// The same road into the viewer's own X window: the conversion goes into
// the shared-memory images made at activation, and a picture larger than
// the screen is scaled through storage made then too (by an exact half and
// by an uneven ratio, which take different roads). OpenCV's resize builds
// small coordinate tables on every call (a few KB, more when it splits the
// work between threads), which nothing can hand it: those are allowed.
TEST_F(PixmoorFrames, HandlingAFrameWithTheOwnX11WindowAllocatesNothingButScalingTables) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') GTEST_SKIP() << "no X server to show on";
  const struct {
    int width, height;
    const char* screen;  // of an X server of the test's own; nullptr: DISPLAY's
    const char* scaled;  // what the log says about the size; "" nothing
    unsigned long allowedPerFrame;
  } cases[] = {
      {640, 480, nullptr, "", 0},
      {1280, 960, "640x480x24",
       "the 1280x960 picture is larger than the 640x480 screen: shown "
       "scaled to 640x480 to fit it",
       12},
      {1280, 720, "800x600x24",
       "the 1280x720 picture is larger than the 800x600 screen: shown "
       "scaled to 800x450 to fit it",
       12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    pixmoor_test::PrivateXServer server;
    if (c.screen != nullptr) {
      pixmoor_test::XServerOptions options;
      options.screen = c.screen;
      ASSERT_TRUE(server.start(options));
      ::setenv("DISPLAY", server.display().c_str(), 1);
    }
    X11Display x11;
    m_viewer.setDisplay(&x11);
    m_viewer.m_input_image_width = c.width;
    m_viewer.m_input_image_height = c.height;
    RTC::ReturnCode_t activated = RTC::RTC_ERROR;
    const auto log = captured([&] { activated = m_viewer.onActivated(0); });
    ::setenv("DISPLAY", display, 1);
    ASSERT_EQ(RTC::RTC_OK, activated) << log.second;
    if (*c.scaled == '\0') {
      EXPECT_EQ(std::string::npos, log.second.find("picture is larger")) << log.second;
    } else {
      EXPECT_NE(std::string::npos, log.second.find(c.scaled)) << log.second;
    }
    cv::Mat picture;
    const std::vector<std::uint32_t> pixels = distinctPixels(c.width, c.height, &picture);
    for (int warm = 0; warm < 3; ++warm) {
      send(pixels);
      ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
    }
    unsigned long allocations = 0;
    for (int frame = 0; frame < 10; ++frame) {
      send(pixels);
      const unsigned long before = pixmoor_test::threadAllocationCount();
      ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
      allocations += pixmoor_test::threadAllocationCount() - before;
    }
    EXPECT_LE(allocations, 10 * c.allowedPerFrame);
    captured([&] { m_viewer.onDeactivated(0); });
    m_viewer.setDisplay(&m_display);
  }
}

// Returns the entry `name` of `status` as a number; -1 when absent.
double statusValue(const SDOPackage::NVList& status, const std::string& name) {
  for (CORBA::ULong i = 0; i < status.length(); ++i) {
    if (name != static_cast<const char*>(status[i].name)) continue;
    CORBA::ULongLong count = 0;
    CORBA::Double value = 0;
    if (status[i].value >>= count) return static_cast<double>(count);
    if (status[i].value >>= value) return value;
  }
  return -1;
}

// Returns the text entry `name` of `status`; "" when absent.
std::string statusText(const SDOPackage::NVList& status, const std::string& name) {
  for (CORBA::ULong i = 0; i < status.length(); ++i) {
    const char* text = nullptr;
    if (name == static_cast<const char*>(status[i].name) && (status[i].value >>= text)) return text;
  }
  return "";
}

// A producer that outruns the viewer: of 19 frames put between two cycles
// the one-sample buffer keeps the newest, and the viewer's figures count
// only the frames it got; what it publishes is what it had when it published,
// beside what its port counted.
TEST_F(PixmoorFrames, FiguresCountOnlyTheFramesTheViewerGot) {
  activate(4, 3);
  m_display.m_quiet = true;
  cv::Mat picture;
  const std::vector<std::uint32_t> pixels = distinctPixels(4, 3, &picture);
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  // Stamped 50 ms ago; the one unstamped frame counts without an age.
  const std::uint32_t sec = static_cast<std::uint32_t>(now.tv_sec - (now.tv_nsec < 50000000));
  const std::uint32_t nsec =
      static_cast<std::uint32_t>((now.tv_nsec + 1000000000 - 50000000) % 1000000000);
  send(pixels, 0, 0);
  ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
  for (int frame = 0; frame < 19; ++frame) send(pixels, sec, nsec);
  for (int cycle = 0; cycle < 12; ++cycle) ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
  EXPECT_EQ(2u, m_viewer.m_figures.framesRead());
  EXPECT_EQ(2u, m_viewer.m_figures.framesShown());
  SDOPackage::NVList_var status = m_viewer.get_status_list();
  EXPECT_EQ(-1, statusValue(status.in(), "frames.read"))
      << "nothing published within the first second";
  EXPECT_EQ(20, statusValue(status.in(), "port.image.arrived"));
  EXPECT_EQ(18, statusValue(status.in(), "port.image.overwritten"));
  EXPECT_EQ(0, statusValue(status.in(), "port.image.refused"));

  std::this_thread::sleep_for(FrameFigures::kStatusInterval);
  send(pixels, sec, nsec);  // shown after the figures are published
  ASSERT_EQ(RTC::RTC_OK, m_viewer.onExecute(0));
  status = m_viewer.get_status_list();
  EXPECT_EQ(2, statusValue(status.in(), "frames.read"));
  EXPECT_EQ(2, statusValue(status.in(), "frames.shown"));
  EXPECT_EQ(3u, m_viewer.m_figures.framesShown());
  const double mean = statusValue(status.in(), "age.mean_ms");
  EXPECT_GE(mean, 50.0);
  EXPECT_LT(mean, 5000.0) << "the unstamped frame has no age";
  EXPECT_GE(statusValue(status.in(), "age.worst_ms"), mean);
  // One aged frame, in the 0.25 ms bin that holds its age.
  const std::string histogram = statusText(status.in(), "age.histogram");
  int bin = -1, count = 0;
  ASSERT_EQ(2, std::sscanf(histogram.c_str(), "0.25ms %d:%d", &bin, &count)) << histogram;
  EXPECT_EQ(1, count) << histogram;
  EXPECT_LE(bin * 0.25, mean + 1e-3) << histogram;
  EXPECT_GT((bin + 1) * 0.25, mean - 1e-3) << histogram;
  captured([&] { m_viewer.onDeactivated(0); });
}

// stats_interval comes from rtc.conf as text; what is not a plain number of
// seconds keeps the default rather than turning the lines off or flooding.
TEST(FrameFigures, ReadsTheLogIntervalOrKeepsTheDefault) {
  const struct {
    const char* text;
    bool ok;
    double seconds;
  } cases[] = {{"", true, FrameFigures::kDefaultLogInterval},
               {"0", true, 0},
               {"2.5", true, 2.5},
               {"86400", true, 86400},
               {"86400.5", false, 0},
               {"-1", false, 0},
               {"5s", false, 0},
               {"abc", false, 0},
               {"1e9", false, 0},
               {"nan", false, 0}};
  for (const auto& c : cases) {
    double seconds = -7;
    EXPECT_EQ(c.ok, FrameFigures::parseLogInterval(c.text, &seconds)) << c.text;
    EXPECT_EQ(c.ok ? c.seconds : -7, seconds) << c.text;
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
  EXPECT_EQ(RTC::RTC_OK, viewer.onDeactivated(0));
  for (const auto& entry : saved) ::setenv(entry.first.c_str(), entry.second.c_str(), 1);
}

}  // namespace
