// FrameSource as users run it: frame limits, refused configurations, and
// pictures from files and videos arriving at a consumer.
#include <unistd.h>

#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "DataFlowHarness.h"
#include "FrameProducer.h"

using namespace dataflow_test;

namespace {

class FrameSourceTest : public SinkAndSourceTest {
 protected:
  FrameSourceTest() : SinkAndSourceTest("framesource") {}

  void SetUp() override {
    SinkAndSourceTest::SetUp();
    if (HasFatalFailure()) return;
    m_path = m_harness.path("FrameSource0");
    ctl({"activate", m_harness.path("FrameSink0")});
    ctl({"connect", m_path + ":out", m_harness.path("FrameSink0") + ":in"});
  }

  CommandResult ctl(const std::vector<std::string>& args, int exitCode = 0) {
    const CommandResult result = m_harness.rtmctl(args);
    EXPECT_EQ(result.exitCode, exitCode) << result;
    return result;
  }

  void configure(const std::string& name, const std::string& value) {
    ctl({"config", "set", m_path, name, value});
  }

  std::vector<Sample> samples() const { return parseSamples(m_sink->stdoutText()); }

  // Activation must fail, leave the component in ERROR with `message` in its
  // log, and a reset must bring it back.
  void expectRefusedActivation(const std::string& message) {
    SCOPED_TRACE(message);
    ctl({"activate", m_path}, 1);
    EXPECT_EQ(ctl({"state", m_path}).out, "ERROR\n");
    EXPECT_TRUE(waitUntil([&] { return contains(m_harness.log("source"), message); }, 5))
        << m_harness.log("source");
    ctl({"reset", m_path});
  }

  std::string m_path;
};

TEST_F(FrameSourceTest, StopsAfterTheConfiguredFramesAndStartsOverOnActivation) {
  configure("pattern", "counter");
  configure("width", "16");
  configure("height", "4");
  configure("frames", "5");
  ctl({"activate", m_path});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 5, 30));
  ASSERT_TRUE(waitUntil(
      [&] { return contains(m_harness.log("source"), "FrameSource0: sent all 5 frames"); }, 10))
      << m_harness.log("source");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(samples().size(), 5u);
  EXPECT_EQ(ctl({"state", m_path}).out, "ACTIVE\n");

  ctl({"deactivate", m_path});
  ctl({"activate", m_path});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 10, 30));
  const std::vector<Sample> got = samples();
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(framesource::counterValue(static_cast<std::int32_t>(got[i].first)), i % 5)
        << "sample " << i;
    if (i > 0) {
      EXPECT_GE(got[i].sec * 1000000000ull + got[i].nsec,
                got[i - 1].sec * 1000000000ull + got[i - 1].nsec)
          << "time stamps go back at sample " << i;
    }
  }
}

// A running source takes a new size (or pattern) at its next cycle, as a
// producer does; it used to wait for the next activation.
TEST_F(FrameSourceTest, ARunningSourceTakesANewSizeAtItsNextCycle) {
  configure("pattern", "counter");
  configure("width", "16");
  configure("height", "4");
  ctl({"activate", m_path});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 2, 30));
  configure("pattern", "bars");
  configure("width", "8");
  const double start = pixmoor_test::now();
  ASSERT_TRUE(waitUntil(
      [&] {
        const std::vector<Sample> got = samples();
        return !got.empty() && got.back().length == 32u;
      },
      10))
      << m_harness.log("source");
  std::printf("the new size arrived %.2f s after it was set\n", pixmoor_test::now() - start);
  EXPECT_EQ(samples().back().sum, barsChecksum(8, 4));
  EXPECT_EQ(ctl({"state", m_path}).out, "ACTIVE\n");
  // A size it cannot serve ends the activation with the same message.
  configure("width", "0");
  EXPECT_TRUE(waitUntil([&] { return ctl({"state", m_path}).out == "ERROR\n"; }, 10));
  EXPECT_TRUE(contains(m_harness.log("source"), "ERROR: FrameSource0: invalid frame size 0x4"))
      << m_harness.log("source");
}

TEST_F(FrameSourceTest, RefusesConfigurationsItCannotServeAtActivation) {
  configure("width", "0");
  expectRefusedActivation(
      "ERROR: FrameSource0: invalid frame size 0x480: width and height must be above 0");
  configure("width", "8193");
  expectRefusedActivation("ERROR: FrameSource0: frame size 8193x480 is too large");
  configure("width", "64");
  configure("height", "-3");
  expectRefusedActivation("ERROR: FrameSource0: invalid frame size 64x-3");
  configure("height", "48");
  configure("pattern", "stripes");
  expectRefusedActivation(
      "ERROR: FrameSource0: unknown pattern 'stripes': use bars, counter, file or video");
  configure("pattern", "file");
  configure("source", m_harness.dir() + "/missing.png");
  expectRefusedActivation("ERROR: FrameSource0: cannot read a picture from");
  configure("frames", "-1");
  configure("pattern", "bars");
  expectRefusedActivation("ERROR: FrameSource0: frames -1 is negative");

  // Nothing was sent, and a good configuration works again.
  EXPECT_EQ(samples().size(), 0u);
  configure("frames", "2");
  ctl({"activate", m_path});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 2, 30));
  EXPECT_EQ(samples().front().sum, barsChecksum(64, 48));
}

TEST_F(FrameSourceTest, SendsAPictureFileScaledToTheFrameSize) {
  // Four quadrants of different colours, 40x20, sent at 8x4.
  cv::Mat picture(20, 40, CV_8UC3, cv::Scalar(255, 0, 0));
  picture(cv::Rect(20, 0, 20, 10)).setTo(cv::Scalar(0, 255, 0));
  picture(cv::Rect(0, 10, 20, 10)).setTo(cv::Scalar(0, 0, 255));
  picture(cv::Rect(20, 10, 20, 10)).setTo(cv::Scalar(255, 255, 255));
  const std::string file = m_harness.dir() + "/quadrants.png";
  ASSERT_TRUE(cv::imwrite(file, picture));

  configure("pattern", "file");
  configure("source", file);
  configure("width", "8");
  configure("height", "4");
  configure("frames", "3");
  ctl({"activate", m_path});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 3, 30)) << m_harness.log("source");

  framesource::FrameProducer producer;
  ASSERT_EQ(producer.open("file", 8, 4, file), "");
  std::vector<std::int32_t> expected(32);
  std::string error;
  ASSERT_TRUE(producer.produce(0, expected.data(), &error));
  for (const Sample& s : samples()) {
    EXPECT_EQ(s.length, 32u);
    EXPECT_EQ(s.first, 0xFF0000FFu);  // blue, top left
    EXPECT_EQ(s.last, 0xFFFFFFFFu);   // white, bottom right
    EXPECT_EQ(s.sum, framesink::frameChecksum(expected.data(), expected.size()));
  }
}

TEST_F(FrameSourceTest, SendsVideoFramesInALoop) {
  const std::string file = m_harness.dir() + "/clip.avi";
  {
    cv::VideoWriter writer(file, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                           cv::Size(32, 16));
    if (!writer.isOpened()) GTEST_SKIP() << "this OpenCV cannot write MJPG video";
    for (int i = 0; i < 3; ++i) writer.write(cv::Mat(16, 32, CV_8UC3, cv::Scalar(0, 0, 200)));
  }
  configure("pattern", "video");
  configure("source", file);
  configure("width", "16");
  configure("height", "8");
  configure("frames", "8");  // more than the clip holds
  ctl({"activate", m_path});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 8, 30)) << m_harness.log("source");
  for (const Sample& s : samples()) {
    EXPECT_EQ(s.length, 128u);
    EXPECT_NEAR(static_cast<int>((s.first >> 16) & 0xFF), 200, 12);  // red
    EXPECT_LT(static_cast<int>(s.first & 0xFFFF), 0x1400);           // little green or blue
  }
  EXPECT_EQ(ctl({"state", m_path}).out, "ACTIVE\n");
}

TEST(FrameSourceHost, EndsWithAMessageWhenItsOrbCannotListen) {
  DataFlowHarness harness("framesource-host");
  ASSERT_TRUE(harness.nameServerUp());
  // The name server's own port is taken for sure.
  const std::string conf = harness.writeConf("host", "");
  ChildProcess host({pixmoor_test::buildPath("tools/framesource/FrameSourceComp"), "-f", conf, "-p",
                     std::to_string(harness.names().port())});
  int status = -1;
  ASSERT_TRUE(host.waitExit(30, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
  EXPECT_TRUE(contains(host.stderrText(), "FrameSourceComp: the component manager could not start"))
      << host.stderrText();
}

// Returns the resident memory of process `pid` in MB.
double residentMb(pid_t pid) {
  const std::string statm = pixmoor_test::readFile("/proc/" + std::to_string(pid) + "/statm");
  double pages = 0, resident = 0;
  std::sscanf(statm.c_str(), "%lf %lf", &pages, &resident);
  return resident * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

// Connects `outport` alone for pulling, with a 1024-sample buffer whose
// full policy is `policy`, as a client that never reads would.
RTC::ReturnCode_t connectHoard(RTC::PortService_ptr outport, const std::string& name,
                               const char* policy) {
  RTC::ConnectorProfile connector;
  connector.name = CORBA::string_dup(name.c_str());
  connector.connector_id = CORBA::string_dup("");
  connector.ports.length(1);
  connector.ports[0] = RTC::PortService::_duplicate(outport);
  const char* properties[][2] = {{"dataport.interface_type", "corba_cdr"},
                                 {"dataport.dataflow_type", "pull"},
                                 {"dataport.buffer.length", "1024"},
                                 {"dataport.buffer.write.full_policy", policy}};
  connector.properties.length(4);
  for (CORBA::ULong i = 0; i < 4; ++i) {
    connector.properties[i].name = CORBA::string_dup(properties[i][0]);
    connector.properties[i].value <<= properties[i][1];
  }
  return outport->connect(connector);
}

// Three pull connections that name only the outport and never read: each
// used to keep every frame written (FrameSourceComp at 640x480 and 60 Hz
// grew from 69 MiB to 3686 MiB in 20 s). The outport's memory_limit holds
// them all together: overwrite drops a connection's own oldest samples, and
// do_nothing refuses the write, counted in the component's status.
TEST(FrameSourceHost, PullConnectionsThatNeverReadStayWithinTheOutportsMemoryLimit) {
  DataFlowHarness harness("framesource-hoard");
  ASSERT_TRUE(harness.nameServerUp());
  ChildProcess& source = harness.startSource(
      "exec_cxt.periodic.rate: 60\n"
      "Generic.FrameSource.port.outport.out.memory_limit: 20000000\n");
  ASSERT_TRUE(harness.waitForComponent("FrameSource0")) << source.stderrText();
  RTC::PortService_var out = harness.port("FrameSource0", "out");
  ASSERT_FALSE(CORBA::is_nil(out));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(RTC::RTC_OK,
              connectHoard(out, "hoard" + std::to_string(i), i < 2 ? "overwrite" : "do_nothing"));
  }
  const double before = residentMb(source.pid());
  const CommandResult activated = harness.rtmctl({"activate", harness.path("FrameSource0")});
  ASSERT_EQ(0, activated.exitCode) << activated;
  std::this_thread::sleep_for(std::chrono::seconds(4));
  const double grown = residentMb(source.pid()) - before;

  RTC::RTObject_var rtc = harness.component("FrameSource0");
  ASSERT_FALSE(CORBA::is_nil(rtc));
  SDOPackage::NVList_var status = rtc->get_status_list();
  CORBA::ULongLong refused = 0;
  for (CORBA::ULong i = 0; i < status->length(); ++i) {
    if (std::string(status[i].name.in()) == "port.out.refused") status[i].value >>= refused;
  }
  std::printf("3 pull connections never read for 4 s: RSS +%.1f MB, %llu writes refused\n", grown,
              static_cast<unsigned long long>(refused));
  EXPECT_GT(refused, 0u);
  if (!pixmoor_test::kSanitizedBuild) {
    EXPECT_LT(grown, 20 + 25) << harness.log("source");
  }
  EXPECT_TRUE(contains(harness.rtmctl({"state", harness.path("FrameSource0")}).out, "ACTIVE"));
}

}  // namespace
