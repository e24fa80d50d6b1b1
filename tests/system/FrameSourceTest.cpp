// FrameSource as users run it: frame limits, refused configurations, and
// pictures from files and videos arriving at a consumer.
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

}  // namespace
