// The SDO services tools hand the viewer, through rtmctl watch and log run as
// the tools would be: the observer's hints in order, heartbeats, the log
// records with their levels; an observer and a logger that stop answering
// cost the viewer nothing and are dropped; the limit on services.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DataFlowHarness.h"
#include "DisplayLock.h"
#include "TestSupport.h"
#include "XWindowCapture.h"

using namespace pixmoor_test;
using dataflow_test::CommandResult;
using dataflow_test::runToEnd;

namespace {

size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// The rates of the viewer's "figures, last ..." log lines ("(29.8/s)").
std::vector<double> shownRates(const std::string& log) {
  std::vector<double> rates;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("figures, last") == std::string::npos) continue;
    const size_t open = line.rfind('(');
    if (open != std::string::npos) rates.push_back(std::atof(line.c_str() + open + 1));
  }
  return rates;
}

class ComponentServices : public ::testing::Test {
 protected:
  void SetUp() override {
    if (screencapture::displayName().empty()) {
      GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
    }
    ASSERT_TRUE(m_names.start());
    m_dir = makeTempDir("services");
    const std::string common =
        "corba.endpoint: 127.0.0.1:\ncorba.nameservers: " + m_names.address() +
        "\ncorba.update_master_manager.enable: NO\n"
        "exec_cxt.transition_timeout: 5\n";
    writeFile(m_dir + "/viewer.conf", common + "logger.file_name: " + m_dir +
                                          "/viewer.log\n"
                                          "Generic.Pixmoor.conf.default.input_image_width: 160\n"
                                          "Generic.Pixmoor.conf.default.input_image_height: 120\n"
                                          "Generic.Pixmoor.stats_interval: 1\n"
                                          "Generic.Pixmoor.exec_cxt.periodic.rate: 100\n"
                                          "Generic.Pixmoor.sdo.service.consumer.call_timeout: 1\n");
    writeFile(m_dir + "/source.conf", common + "logger.file_name: " + m_dir +
                                          "/source.log\n"
                                          "Generic.FrameSource.conf.default.width: 160\n"
                                          "Generic.FrameSource.conf.default.height: 120\n"
                                          "Generic.FrameSource.exec_cxt.periodic.rate: 30\n");
    m_viewer.reset(
        new ChildProcess({buildPath("host/PixmoorComp"), "-f", m_dir + "/viewer.conf"}, {}, m_dir));
    m_source.reset(new ChildProcess(
        {buildPath("tools/framesource/FrameSourceComp"), "-f", m_dir + "/source.conf"}, {}, m_dir));
    const std::string root = "/" + m_names.address() + "/" + hostName() + ".host_cxt/";
    m_viewerPath = root + "Pixmoor0.rtc";
    m_sourcePath = root + "FrameSource0.rtc";
    ASSERT_TRUE(waitUntil(
        [&] {
          return rtmctl({"state", m_viewerPath, m_sourcePath}).exitCode == 0;
        },
        20));
  }
  void TearDown() override {
    for (ChildProcess* p : {m_viewer.get(), m_source.get()}) {
      if (p != nullptr && p->running()) {
        p->signal(SIGTERM);
        p->waitExit(20);
      }
    }
    if (!m_dir.empty()) removeTree(m_dir);
  }
  CommandResult rtmctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {buildPath("tools/rtmctl/rtmctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    return runToEnd(argv, {}, 60);
  }
  std::unique_ptr<ChildProcess> startTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {buildPath("tools/rtmctl/rtmctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::unique_ptr<ChildProcess>(new ChildProcess(argv));
  }
  std::string viewerLog() const { return readFile(m_dir + "/viewer.log"); }

  DisplayLock m_lock;
  NameServer m_names;
  std::string m_dir;
  std::unique_ptr<ChildProcess> m_viewer;
  std::unique_ptr<ChildProcess> m_source;
  std::string m_viewerPath;
  std::string m_sourcePath;
};

TEST_F(ComponentServices, AnObserverHearsEachChangeInOrderAndALoggerEachLine) {
  std::unique_ptr<ChildProcess> watch =
      startTool({"watch", m_viewerPath, "--heartbeat", "0.5", "--seconds", "60"});
  std::unique_ptr<ChildProcess> log = startTool({"log", m_viewerPath, "--seconds", "60"});
  ASSERT_TRUE(waitUntil([&] { return countOf(viewerLog(), "SDO service rtmctl-") == 2; }, 10))
      << viewerLog();

  const double start = now();
  ASSERT_EQ(0, rtmctl({"connect", m_sourcePath + ":out", m_viewerPath + ":image"}).exitCode);
  ASSERT_EQ(0, rtmctl({"activate", m_viewerPath, m_sourcePath}).exitCode);
  ASSERT_EQ(0, rtmctl({"config", "set", m_viewerPath, "flip_h", "1"}).exitCode);
  ASSERT_EQ(0, rtmctl({"deactivate", m_viewerPath}).exitCode);
  // An activation that fails: on_activated refuses a zero size.
  ASSERT_EQ(0, rtmctl({"config", "set", m_viewerPath, "input_image_width", "0"}).exitCode);
  EXPECT_NE(0, rtmctl({"activate", m_viewerPath}).exitCode);
  ASSERT_EQ(0, rtmctl({"reset", m_viewerPath}).exitCode);
  ASSERT_EQ(0, rtmctl({"disconnect", m_viewerPath + ":image", "--all"}).exitCode);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const double elapsed = now() - start;

  ASSERT_EQ(0, rtmctl({"exit", m_viewerPath}).exitCode);
  ASSERT_TRUE(watch->waitExit(20)) << watch->stdoutText();
  ASSERT_TRUE(log->waitExit(20)) << log->stdoutText();
  const std::string hints = watch->stdoutText();
  std::string order;
  std::istringstream lines(hints);
  std::string line;
  while (std::getline(lines, line)) {
    if (line != "HEARTBEAT") order += line + "\n";
  }
  const std::vector<std::string> expected = {
      "PORT_PROFILE CONNECT:Pixmoor0.image",
      "RTC_STATUS ACTIVE:0",
      "CONFIGURATION SET_CONFIG_SET: default",
      "CONFIGURATION ACTIVATE_CONFIG_SET: default",
      "RTC_STATUS INACTIVE:0",
      "RTC_STATUS ACTIVE:0",
      "RTC_STATUS INACTIVE:0",
      "RTC_STATUS ERROR:0",
      "RTC_STATUS INACTIVE:0",
      "PORT_PROFILE DISCONNECT:Pixmoor0.image",
      "EC_STATUS SHUTDOWN:0",
      "RTC_STATUS FINALIZE:0",
  };
  size_t at = 0;
  for (const std::string& hint : expected) {
    const size_t found = order.find(hint + "\n", at);
    ASSERT_NE(std::string::npos, found) << "'" << hint << "' missing or out of order in\n" << order;
    at = found + hint.size();
  }
  // Applied on the context's thread, after the tool's set.
  EXPECT_NE(std::string::npos, order.find("CONFIGURATION UPDATE_CONFIG_SET: default")) << order;
  const size_t beats = countOf(hints, "HEARTBEAT\n");
  std::printf("%zu heartbeats in %.1f s at a 0.5 s interval\n", beats, elapsed);
  EXPECT_GE(beats, static_cast<size_t>(elapsed / 0.5 * 0.6)) << hints;
  EXPECT_LE(beats, static_cast<size_t>((elapsed + 3) / 0.5 * 1.5)) << hints;

  // The logger got the component's own lines with their levels, and close().
  const std::string records = log->stdoutText();
  EXPECT_NE(std::string::npos, records.find("ERROR: Pixmoor0: invalid image size...")) << records;
  EXPECT_NE(std::string::npos, records.find("INFO: Pixmoor0: exiting")) << records;
  EXPECT_NE(std::string::npos, records.find("(the component closed the log)")) << records;
}

TEST_F(ComponentServices, StoppedServicesCostTheViewerNothingAndAreDroppedOnce) {
  ASSERT_EQ(0, rtmctl({"connect", m_sourcePath + ":out", m_viewerPath + ":image"}).exitCode);
  ASSERT_EQ(0, rtmctl({"activate", m_viewerPath, m_sourcePath}).exitCode);
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const size_t before = shownRates(viewerLog()).size();

  std::unique_ptr<ChildProcess> watch =
      startTool({"watch", m_viewerPath, "--heartbeat", "0.1", "--seconds", "120"});
  std::unique_ptr<ChildProcess> log = startTool({"log", m_viewerPath, "--seconds", "120"});
  ASSERT_TRUE(waitUntil([&] { return countOf(viewerLog(), "SDO service rtmctl-") == 2; }, 10))
      << viewerLog();
  watch->signal(SIGSTOP);
  log->signal(SIGSTOP);
  // Configuration changes applied on the context's thread keep updates and
  // records coming for the stopped tools.
  for (int i = 0; i < 20; ++i) {
    rtmctl({"config", "set", m_viewerPath, "flip_v", std::to_string(i % 2)});
  }
  ASSERT_TRUE(waitUntil([&] { return countOf(viewerLog(), " dropped: ") >= 2; }, 15))
      << viewerLog();
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  const std::string text = viewerLog();
  EXPECT_EQ(
      1u, countOf(text, "SDO service rtmctl-watch-" + std::to_string(watch->pid()) + " dropped: "))
      << text;
  EXPECT_EQ(1u,
            countOf(text, "SDO service rtmctl-log-" + std::to_string(log->pid()) + " dropped: "))
      << text;

  const std::vector<double> rates = shownRates(text);
  ASSERT_GT(rates.size(), before + 3) << text;
  double without = 0, with = 0;
  for (size_t i = 1; i < before; ++i) without += rates[i] / static_cast<double>(before - 1);
  for (size_t i = before; i < rates.size(); ++i) with += rates[i] / (rates.size() - before);
  std::printf("frames shown per second: %.1f without services, %.1f with two stopped ones\n",
              without, with);
  EXPECT_GT(with, without * 0.7) << text;
  watch->signal(SIGKILL);
  log->signal(SIGKILL);
}

TEST_F(ComponentServices, TheNinthServiceIsRefusedAndRemovalFreesASlot) {
  std::vector<std::unique_ptr<ChildProcess> > watchers;
  for (int i = 0; i < 8; ++i) {
    watchers.push_back(startTool({"watch", m_viewerPath, "--seconds", "60"}));
  }
  ASSERT_TRUE(waitUntil([&] { return countOf(viewerLog(), " added (IDL:OpenRTM/") == 8; }, 20))
      << viewerLog();
  CommandResult refused = rtmctl({"log", m_viewerPath, "--seconds", "1"});
  EXPECT_EQ(1, refused.exitCode) << refused;
  EXPECT_NE(std::string::npos, refused.err.find("refused")) << refused;
  EXPECT_NE(std::string::npos, viewerLog().find("keeps 8 service profiles already"));
  // A tool that ends removes its profile: the next one fits.
  watchers[0]->signal(SIGINT);
  ASSERT_TRUE(watchers[0]->waitExit(10));
  CommandResult fits = rtmctl({"log", m_viewerPath, "--seconds", "1"});
  EXPECT_EQ(0, fits.exitCode) << fits;
  for (auto& w : watchers) w->signal(SIGINT);
}

}  // namespace
