// Frames from FrameSource to a consumer in another process, connected with
// rtmctl: every publisher, pull, both byte orders and large frames arrive
// bit for bit in the consumer's bound sample.
#include <chrono>
#include <ctime>
#include <set>

#include "DataFlowHarness.h"

using namespace dataflow_test;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

class DataFlowTest : public SinkAndSourceTest {
 protected:
  DataFlowTest() : SinkAndSourceTest("dataflow") {}

  void SetUp() override {
    SinkAndSourceTest::SetUp();
    if (HasFatalFailure()) return;
    m_out = m_harness.path("FrameSource0") + ":out";
    m_in = m_harness.path("FrameSink0") + ":in";
    ctl({"config", "set", m_harness.path("FrameSource0"), "width", std::to_string(kWidth)});
    ctl({"config", "set", m_harness.path("FrameSource0"), "height", std::to_string(kHeight)});
  }

  void ctl(const std::vector<std::string>& args) {
    const CommandResult result = m_harness.rtmctl(args);
    ASSERT_EQ(result.exitCode, 0) << result;
  }

  std::vector<Sample> samples() const { return parseSamples(m_sink->stdoutText()); }

  // Runs the source until the sink has `count` more samples with `distinct`
  // different frame numbers, then stops it and removes its connections;
  // returns the new samples.
  std::vector<Sample> runSource(std::size_t count, std::size_t distinct = 0) {
    const std::size_t before = samples().size();
    ctl({"activate", m_harness.path("FrameSource0")});
    const bool arrived = waitUntil(
        [&] {
          const std::vector<Sample> all = samples();
          if (all.size() < before + count) return false;
          std::set<std::uint32_t> numbers;
          for (std::size_t i = before; i < all.size(); ++i) numbers.insert(all[i].first);
          return numbers.size() >= distinct;
        },
        60);
    ctl({"deactivate", m_harness.path("FrameSource0")});
    ctl({"disconnect", m_out, "--all"});
    EXPECT_TRUE(arrived) << samples().size() - before << " samples arrived\n"
                         << m_harness.log("source") << m_harness.log("sink");
    // Anything still on its way lands before the next run starts counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<Sample> all = samples();
    return std::vector<Sample>(all.begin() + static_cast<long>(before), all.end());
  }

  // Checks that every sample is a whole counter frame, stamped with the
  // current time, with frame numbers rising (strictly unless `repeats`).
  void expectCounterFrames(const std::vector<Sample>& got, bool repeats) {
    const unsigned long nowSec = static_cast<unsigned long>(std::time(nullptr));
    long previous = -1;
    int lost = 0;
    for (const Sample& s : got) {
      SCOPED_TRACE("sample " + std::to_string(s.n));
      ASSERT_EQ(s.length, kPixels);
      const std::uint32_t k = framesource::counterValue(static_cast<std::int32_t>(s.first));
      EXPECT_EQ(s.first, s.last);
      EXPECT_EQ(s.sum, counterChecksum(kPixels, k));
      EXPECT_NEAR(static_cast<double>(s.sec), static_cast<double>(nowSec), 120.0);
      EXPECT_LT(s.nsec, 1000000000ul);
      if (repeats) {
        EXPECT_GE(static_cast<long>(k), previous);
      } else {
        EXPECT_GT(static_cast<long>(k), previous);
        lost += static_cast<int>(k - previous - 1);
      }
      previous = k;
    }
    std::printf("%zu frames, last number %ld, %d skipped\n", got.size(), previous, lost);
  }

  std::string m_out, m_in;
};

TEST_F(DataFlowTest, PushWithEachPublisherDeliversBitExactFrames) {
  ctl({"config", "set", m_harness.path("FrameSource0"), "pattern", "counter"});
  ctl({"activate", m_harness.path("FrameSink0")});
  const std::vector<std::vector<std::string>> publishers = {
      {"--subscription", "flush"},
      {"--subscription", "new"},
      {"--subscription", "periodic", "--push-rate", "50"}};
  for (const auto& publisher : publishers) {
    SCOPED_TRACE(publisher[1]);
    std::vector<std::string> args = {"connect", m_out, m_in};
    args.insert(args.end(), publisher.begin(), publisher.end());
    ctl(args);
    const std::vector<Sample> got = runSource(10);
    ASSERT_GE(got.size(), 10u);
    expectCounterFrames(got, false);
    // The counter restarts with each activation: the first frames must be there.
    EXPECT_LE(framesource::counterValue(static_cast<std::int32_t>(got.front().first)), 2u);
  }
}

TEST_F(DataFlowTest, PullDeliversToAConsumerThatReadsDirectly) {
  ctl({"config", "set", m_harness.path("FrameSource0"), "pattern", "counter"});
  ctl({"config", "set", m_harness.path("FrameSink0"), "mode", "read"});
  ctl({"activate", m_harness.path("FrameSink0")});
  ctl({"connect", m_out, m_in, "--dataflow", "pull"});
  // The consumer polls ten times faster than the source writes, so a pull
  // connection may hand out a sample again; it must still move on.
  const std::vector<Sample> got = runSource(10, 5);
  ASSERT_GE(got.size(), 10u);
  expectCounterFrames(got, true);
}

TEST_F(DataFlowTest, BothByteOrdersDeliverTheSamePicture) {
  ctl({"activate", m_harness.path("FrameSink0")});
  const std::uint64_t expected = barsChecksum(kWidth, kHeight);
  for (const std::string endian : {"little", "big"}) {
    SCOPED_TRACE(endian);
    ctl({"connect", m_out, m_in, "--endian", endian});
    const CommandResult ports = m_harness.rtmctl({"ports", m_in});
    EXPECT_NE(ports.out.find("dataport.serializer.cdr.endian: " + endian), std::string::npos)
        << ports;
    const std::vector<Sample> got = runSource(5);
    ASSERT_GE(got.size(), 5u);
    for (const Sample& s : got) {
      EXPECT_EQ(s.length, kPixels);
      EXPECT_EQ(s.first, 0xFFFFFFFFu);  // white, top left
      EXPECT_EQ(s.last, 0xFF808080u);   // grey, bottom right
      EXPECT_EQ(s.sum, expected) << "sample " << s.n;
    }
  }
}

// 1920x1080 is 8.3 MB a frame, four times omniORB's default message limit.
TEST_F(DataFlowTest, FullHdFramesArriveWhole) {
  const int width = 1920, height = 1080;
  ctl({"config", "set", m_harness.path("FrameSource0"), "width", std::to_string(width)});
  ctl({"config", "set", m_harness.path("FrameSource0"), "height", std::to_string(height)});
  ctl({"config", "set", m_harness.path("FrameSource0"), "frames", "3"});
  ctl({"activate", m_harness.path("FrameSink0")});
  ctl({"connect", m_out, m_in});
  const double start = pixmoor_test::now();
  const std::vector<Sample> got = runSource(3);
  std::printf("3 frames of %dx%d in %.2f s\n", width, height, pixmoor_test::now() - start);
  ASSERT_EQ(got.size(), 3u);
  const std::uint64_t expected = barsChecksum(width, height);
  for (const Sample& s : got) {
    EXPECT_EQ(s.length, static_cast<unsigned long>(width) * height);
    EXPECT_EQ(s.sum, expected);
  }
}

// rtc.conf connects before it activates: a component activated by
// manager.components.preactivation finds the connections that
// manager.components.preconnect made.
TEST(DataFlowDeployment, PreconnectComesBeforePreactivation) {
  DataFlowHarness harness("deployment");
  ASSERT_TRUE(harness.nameServerUp());
  ChildProcess& source = harness.startSource();
  ASSERT_TRUE(harness.waitForComponent("FrameSource0")) << source.stderrText();
  ChildProcess& sink = harness.startSink(
      "exec_cxt.periodic.rate: 200\n"
      "manager.components.preconnect: rtcname://" +
      harness.names().address() + "/" + pixmoor_test::hostName() +
      ".host_cxt/FrameSource0.out?port=FrameSink0.in\n"
      "manager.components.preactivation: FrameSink0\n");
  ASSERT_TRUE(sink.waitForStdout("FrameSink active with", 30)) << harness.log("sink");
  EXPECT_TRUE(contains(sink.stdoutText(), "FrameSink active with 1 connection(s)"))
      << sink.stdoutText() << harness.log("sink");
}

}  // namespace
