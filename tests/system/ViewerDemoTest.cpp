// The README's main command, scripts/demo, run as a user would run it: it
// shows the colour bars, and stops everything it started when it ends. And
// the wiring it relies on, as a deployment uses it: hosts that create,
// connect and activate from rtc.conf alone, PixmoorComp and the generic host
// rtcd with the components loaded as modules.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
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

namespace {

// A host process run with an rtc.conf of the test's, in its own directory.
class ConfiguredHost {
 public:
  ConfiguredHost(const std::string& executable, const std::string& dir, const std::string& name,
                 const std::string& conf, const std::vector<std::string>& env = {})
      : m_log(dir + "/" + name + ".log") {
    const std::string file = dir + "/" + name + ".conf";
    writeFile(file,
              "corba.endpoint: 127.0.0.1:\n"
              "exec_cxt.transition_timeout: 5\n"
              "logger.file_name: " +
                  m_log + "\n" + conf);
    m_process.reset(new ChildProcess({buildPath(executable), "-f", file}, env, dir));
  }
  ChildProcess& process() { return *m_process; }
  std::string log() const { return readFile(m_log); }
  // Waits until the log holds `line`.
  bool waitForLog(const std::string& line, double timeoutSec) const {
    return waitUntil([&] { return log().find(line) != std::string::npos; }, timeoutSec, 50);
  }

 private:
  std::string m_log;
  std::unique_ptr<ChildProcess> m_process;
};

const int kWidth = 320;
const int kHeight = 240;

std::string sourceSettings(int width = kWidth, int height = kHeight) {
  return "Generic.FrameSource.conf.default.width: " + std::to_string(width) +
         "\nGeneric.FrameSource.conf.default.height: " + std::to_string(height) +
         "\nGeneric.FrameSource.exec_cxt.periodic.rate: 30\n";
}

std::string viewerSettings(const std::string& category, int width = kWidth, int height = kHeight) {
  return category + ".conf.default.input_image_width: " + std::to_string(width) + "\n" + category +
         ".conf.default.input_image_height: " + std::to_string(height) + "\n";
}

size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

bool showsBarsOf(const WindowPixels& p, const cv::Mat& bars) {
  return std::equal(p.bgr.begin(), p.bgr.end(), bars.data);
}

// How the good entry connects: each interface type; shared memory with
// frames larger than the segment a connection starts with (2 MiB), so that
// it grows at the first frame.
struct DeploymentRow {
  const char* interfaceType;
  int width, height;
};

void PrintTo(const DeploymentRow& row, std::ostream* out) { *out << row.interfaceType; }

class Deployment : public ::testing::TestWithParam<DeploymentRow> {};

// Each bad entry comes before the good ones: it must be logged and must not
// stop the entries after it.
TEST_P(Deployment, PixmoorCompWiresANamedFrameSourceFromRtcConfAndReportsEachBadEntry) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  const DeploymentRow row = GetParam();
  DisplayLock lock;
  NameServer names;
  ASSERT_TRUE(names.start());
  const std::string dir = makeTempDir("deployment");
  ConfiguredHost source(
      "tools/framesource/FrameSourceComp", dir, "source",
      "corba.nameservers: " + names.address() + "\n" + sourceSettings(row.width, row.height));
  const std::string context = hostName() + ".host_cxt/";
  ASSERT_TRUE(waitUntil(
      [&] {
        return !CORBA::is_nil(
            CORBA::Object_var(resolveName(names.corbaloc(), context + "FrameSource0.rtc")));
      },
      60, 50))
      << source.log();

  const std::string named = "rtcname://" + names.address() + "/" + context + "FrameSource0";
  const std::string silent =
      "rtcname://127.0.0.1:" + std::to_string(freeTcpPort()) + "/" + context + "FrameSource0";
  const std::vector<std::pair<std::string, std::string>> badConnections = {
      {"Nobody0.out?port=Pixmoor0.image", "no component named Nobody0 in this process"},
      {named + ".nothere?port=Pixmoor0.image", "the component has no port FrameSource0.nothere"},
      {named + ".out?port=Pixmoor0.image&dataflow_type=sideways", "the port answered"},
      {named + ".out?port=Pixmoor0.image&interface_type=carrier_pigeon",
       "the port answered BAD_PARAMETER; FrameSource0.out offers interface types corba_cdr"},
      {silent + ".out?port=Pixmoor0.image", "does not answer (is omniNames running there?)"},
      {"Pixmoor0.image", "no port to connect to"},
  };
  std::string preconnect;
  for (const auto& bad : badConnections) preconnect += bad.first + ", ";
  const std::string good =
      named + ".out?port=Pixmoor0.image&subscription_type=new&interface_type=" + row.interfaceType;
  preconnect += good;
  ConfiguredHost viewer("host/PixmoorComp", dir, "viewer",
                        "corba.nameservers: " + names.address() + "\n" +
                            viewerSettings("Generic.Pixmoor", row.width, row.height) +
                            "manager.components.precreate: Pixmoor?instance_name=second\n"
                            "manager.components.preconnect: " +
                            preconnect + "\nmanager.components.preactivation: Ghost0, " + silent +
                            ", Pixmoor0, second, " + named + "\n");

  XWindowCapture capture;
  WindowPixels pixels;
  const cv::Mat bars = colourBars(row.width, row.height);
  EXPECT_TRUE(capture.waitForPixels(
      "Pixmoor.exe", viewer.process().pid(), row.width, row.height,
      [&](const WindowPixels& p) { return showsBarsOf(p, bars); }, 60, &pixels))
      << viewer.log() << source.log();
  const std::string log = viewer.log();
  for (const auto& bad : badConnections) {
    const std::string line = "ERROR: manager: Connection error: " + bad.first + " (";
    const size_t at = log.find(line);
    ASSERT_NE(std::string::npos, at) << line << "\n" << log;
    EXPECT_NE(std::string::npos, log.substr(at, log.find('\n', at) - at).find(bad.second))
        << log.substr(at, log.find('\n', at) - at);
  }
  EXPECT_NE(std::string::npos,
            log.find("ERROR: manager: Activation error: Ghost0 (no component named Ghost0"))
      << log;
  EXPECT_NE(std::string::npos,
            log.find("ERROR: manager: Activation error: " + silent + " (the name server at"))
      << log;
  // A second viewer in the process cannot have the window: refused, and the
  // first one goes on showing.
  EXPECT_NE(std::string::npos, log.find("ERROR: manager: Activation error: second (")) << log;
  EXPECT_NE(std::string::npos, log.find("ERROR: second: no display to show images on: OpenCV's "
                                        "window belongs to another thread of this process"))
      << log;
  // One line per bad entry and nothing for the good ones.
  EXPECT_EQ(badConnections.size() + 4, countOf(log, " ERROR: ")) << log;
  for (const std::string& done :
       {"connected: " + good, std::string("activated: Pixmoor0"), "activated: " + named}) {
    EXPECT_NE(std::string::npos, log.find("INFO: manager: " + done + "\n")) << done;
  }
  viewer.process().signal(SIGTERM);
  source.process().signal(SIGTERM);
  int status = -1;
  EXPECT_TRUE(viewer.process().waitExit(20, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(source.process().waitExit(20));
  removeTree(dir);
}

const DeploymentRow kDeploymentRows[] = {{"corba_cdr", kWidth, kHeight},
                                         {"shared_memory", 1280, 720}};
INSTANTIATE_TEST_SUITE_P(Interfaces, Deployment, ::testing::ValuesIn(kDeploymentRows),
                         [](const ::testing::TestParamInfo<DeploymentRow>& info) {
                           return std::string(info.param.interfaceType);
                         });

// rtcd knows no component of its own: both come from modules that use its
// runtime, and a module or init function that is not there costs one line.
TEST(GenericHost, RtcdLoadsThePixmoorAndFrameSourceModulesAndThePairShowsTheBars) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  DisplayLock lock;
  NameServer names;
  ASSERT_TRUE(names.start());
  const std::string dir = makeTempDir("rtcd");
  const std::string modules = buildPath("modules");
  // dlopen would wait on a FIFO for a writer that never comes.
  const std::string fifo = dir + "/Fifo.so";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  // A throwing init function used to abort the host, a variable to crash it.
  const std::string hostile = buildPath("tests/fixtures/HostileModule.so");
  ConfiguredHost rtcd(
      "tools/rtcd/rtcd", dir, "rtcd",
      "corba.nameservers: " + names.address() + "\n" + sourceSettings() +
          viewerSettings("Generic.Pixmoor") + "manager.modules.load_path: /nonexistent, " +
          modules + "\nmanager.modules.preload: Missing, /nonexistent/Abs, " + fifo +
          ", Pixmoor, " + modules +
          "/FrameSource.so(FrameSourceInit), FrameSource.so(NoSuchInit), " + hostile +
          "(ThrowingInit), " + hostile +
          "(DataSymbol)\n"
          "manager.components.precreate: Nothing, FrameSource, Pixmoor?instance_name=viewer, "
          "FrameSource?instance_name=a/b\n"
          "manager.components.preconnect: FrameSource0.out?port=viewer.image&"
          "subscription_type=new\n"
          "manager.components.preactivation: viewer, FrameSource0\n");

  XWindowCapture capture;
  WindowPixels pixels;
  const cv::Mat bars = colourBars(kWidth, kHeight);
  EXPECT_TRUE(capture.waitForPixels(
      "Pixmoor.exe", rtcd.process().pid(), kWidth, kHeight,
      [&](const WindowPixels& p) { return showsBarsOf(p, bars); }, 60, &pixels))
      << rtcd.log();
  EXPECT_FALSE(CORBA::is_nil(
      CORBA::Object_var(resolveName(names.corbaloc(), hostName() + ".host_cxt/viewer.rtc"))));
  const std::string log = rtcd.log();
  for (const std::string& line :
       {"ERROR: manager: Module load error: Missing (no such file in manager.modules.load_path "
        "(/nonexistent, " +
            modules + "))",
        "ERROR: manager: Module load error: FrameSource.so(NoSuchInit) (" + modules +
            "/FrameSource.so has no init function NoSuchInit)",
        "ERROR: manager: Module load error: " + fifo + " (" + fifo + " is not a regular file)",
        std::string("ERROR: manager: Module load error: /nonexistent/Abs (no such file: "
                    "/nonexistent/Abs.so)"),
        "ERROR: manager: Module load error: " + hostile +
            "(ThrowingInit) (ThrowingInit threw: "
            "the module refuses to start)",
        "ERROR: manager: Module load error: " + hostile + "(DataSymbol) (DataSymbol in " + hostile +
            " is not a function)",
        std::string("ERROR: manager: createComponent: instance name 'a/b' contains '/'; a "
                    "name is one naming component"),
        std::string("ERROR: manager: Component creation error: FrameSource?instance_name=a/b"),
        std::string("ERROR: manager: Component creation error: Nothing")}) {
    EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
  }
  int status = 0;
  rtcd.process().signal(SIGTERM);
  ASSERT_TRUE(rtcd.process().waitExit(20, &status)) << rtcd.log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  removeTree(dir);
}

// The viewer's own window belongs to its component, so one rtcd may host
// several viewers (OpenCV's window allows one a process): each shows its own
// source's frames, here bars and counter frames of different sizes.
TEST(GenericHost, TwoViewersWithTheirOwnWindowsInOneRtcdEachShowTheirOwnSource) {
  if (displayName().empty()) GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  DisplayLock lock;
  NameServer names;
  ASSERT_TRUE(names.start());
  const std::string dir = makeTempDir("rtcd-two");
  const int counterWidth = 200, counterHeight = 150;
  const std::string counterSize =
      "width: " + std::to_string(counterWidth) +
      "\nGeneric.counter.conf.default.height: " + std::to_string(counterHeight) + "\n";
  ConfiguredHost rtcd(
      "tools/rtcd/rtcd", dir, "rtcd",
      "corba.nameservers: " + names.address() + "\n" + sourceSettings() +
          viewerSettings("Generic.Pixmoor") + "Generic.Pixmoor.display: x11\n" +
          "Generic.counter.conf.default.pattern: counter\nGeneric.counter.conf.default." +
          counterSize + "Generic.counterview.conf.default.input_image_width: " +
          std::to_string(counterWidth) + "\nGeneric.counterview.conf.default.input_image_height: " +
          std::to_string(counterHeight) + "\nmanager.modules.load_path: " + buildPath("modules") +
          "\nmanager.modules.preload: Pixmoor, FrameSource\n"
          "manager.components.precreate: FrameSource, FrameSource?instance_name=counter, "
          "Pixmoor?instance_name=viewer, Pixmoor?instance_name=counterview\n"
          "manager.components.preconnect: FrameSource0.out?port=viewer.image&"
          "subscription_type=new, counter.out?port=counterview.image&subscription_type=new\n"
          "manager.components.preactivation: viewer, counterview, FrameSource0, counter\n");

  XWindowCapture capture;
  const cv::Mat bars = colourBars(kWidth, kHeight);
  // A counter frame: every pixel the frame's number.
  auto counterOf = [&](const WindowPixels& p, std::uint32_t* frame) {
    if (p.width != counterWidth || p.height != counterHeight) return false;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        if (p.rgb(x, y) != p.rgb(0, 0)) return false;
    *frame = p.rgb(0, 0);
    return true;
  };
  bool sawBars = false;
  std::vector<std::uint32_t> counts;  // counter frames seen, in order
  const double deadline = now() + 60;
  while (!(sawBars && counts.size() >= 2) && now() < deadline) {
    const std::vector<WindowInfo> windows =
        capture.findWindows("Pixmoor.exe", rtcd.process().pid());
    for (const WindowInfo& window : windows) {
      if (windows.size() != 2) break;
      capture.raise(window);
      WindowPixels pixels;
      if (!capture.grab(window, &pixels)) continue;
      std::uint32_t frame = 0;
      if (pixels.width == kWidth && pixels.height == kHeight) {
        sawBars = sawBars || showsBarsOf(pixels, bars);
      } else if (counterOf(pixels, &frame) && frame != 0 &&
                 (counts.empty() || frame != counts.back())) {
        counts.push_back(frame);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(sawBars) << "viewer's window does not show the bars\n" << rtcd.log();
  ASSERT_GE(counts.size(), 2u) << "counterview's window does not show the counter going on\n"
                               << rtcd.log();
  EXPECT_LT(counts[0], counts[1]) << "counter frames out of order";
  EXPECT_EQ(std::string::npos, rtcd.log().find("ERROR")) << rtcd.log();
  int status = 0;
  rtcd.process().signal(SIGTERM);
  ASSERT_TRUE(rtcd.process().waitExit(20, &status)) << rtcd.log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(2, countOf(rtcd.process().stdoutText(), "Pixmoor::onDeactivated()"));
  removeTree(dir);
}

// A viewer asked to exit while its X server hangs: its deactivation times
// out behind a window call the stopped server holds. It used to be
// destroyed, once the server went on, without onDeactivated and with its
// window open; its display watch was left with an empty callback, and the
// server's death later aborted rtcd (std::bad_function_call), FrameSource
// and its name with it. Now the exit waits for the deactivation.
TEST(GenericHost, AViewerExitedWhileItsXServerHangsIsDeactivatedAndRtcdOutlivesTheServer) {
  PrivateXServer server;
  if (!server.start()) GTEST_SKIP() << "no Xvfb of our own could start";
  NameServer names;
  ASSERT_TRUE(names.start());
  const std::string dir = makeTempDir("rtcd-hang");
  const std::string modules = buildPath("modules");
  ConfiguredHost rtcd(
      "tools/rtcd/rtcd", dir, "rtcd",
      "corba.nameservers: " + names.address() + "\n" + sourceSettings() +
          viewerSettings("Generic.Pixmoor") +
          "exec_cxt.transition_timeout: 1\n"
          "manager.modules.load_path: " +
          modules +
          "\nmanager.modules.preload: Pixmoor, FrameSource\n"
          "manager.components.precreate: FrameSource, Pixmoor?instance_name=viewer\n"
          "manager.components.preconnect: FrameSource0.out?port=viewer.image&"
          "subscription_type=new\n"
          "manager.components.preactivation: viewer, FrameSource0\n",
      {"DISPLAY=" + server.display(), "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"});
  ChildProcess& process = rtcd.process();
  ASSERT_TRUE(process.waitForStdout("Pixmoor::onActivated()", 60)) << rtcd.log();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // frames flow
  const std::string context = hostName() + ".host_cxt/";
  server.process().signal(SIGSTOP);
  ChildProcess exitViewer({buildPath("tools/rtmctl/rtmctl"), "exit",
                           "/" + names.address() + "/" + context + "viewer.rtc"});
  // Past the transition timeout, then the server goes on.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  server.process().signal(SIGCONT);
  EXPECT_TRUE(process.waitForStdout("Pixmoor::onDeactivated()", 20))
      << process.stdoutText() << rtcd.log();
  EXPECT_TRUE(exitViewer.waitExit(20));
  EXPECT_TRUE(
      waitUntil([&] { return rtcd.log().find("INFO: viewer: exiting") != std::string::npos; }, 5));
  server.process().signal(SIGKILL);
  ASSERT_TRUE(server.process().waitExit(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_TRUE(process.running()) << "FrameSource's host outlives the X server\n"
                                 << process.stderrText() << rtcd.log();
  process.signal(SIGTERM);
  int status = -1;
  ASSERT_TRUE(process.waitExit(30, &status)) << rtcd.log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n"
                                                             << process.stderrText() << rtcd.log();
  EXPECT_EQ(1u, countOf(process.stdoutText(), "Pixmoor::onDeactivated()")) << process.stdoutText();
  for (const char* name : {"viewer.rtc", "FrameSource0.rtc"}) {
    EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(resolveName(names.corbaloc(), context + name))))
        << name << " left bound\n"
        << rtcd.log();
  }
  removeTree(dir);
}

}  // namespace
