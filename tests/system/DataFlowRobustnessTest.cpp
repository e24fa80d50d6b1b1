// Connections that end badly: disconnecting from either end, a source that
// is killed, and put calls carrying bytes that are not a sample.
#include <rtm/idl/DataPortSkel.h>
#include <sys/wait.h>

#include <csignal>
#include <iostream>
#include <sstream>

#include "CdrProducer.h"
#include "DataFlowHarness.h"

using namespace dataflow_test;

namespace {

class DataFlowRobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_harness.nameServerUp());
    m_sink = &m_harness.startSink();
    ASSERT_TRUE(m_harness.waitForComponent("FrameSink0")) << m_sink->stderrText();
    m_in = m_harness.path("FrameSink0") + ":in";
    ctl({"activate", m_harness.path("FrameSink0")});
  }

  ChildProcess& startSource(const std::string& name = "source") {
    ChildProcess& source = m_harness.startSource("exec_cxt.periodic.rate: 20\n", name);
    EXPECT_TRUE(m_harness.waitForComponent("FrameSource0")) << source.stderrText();
    ctl({"config", "set", m_harness.path("FrameSource0"), "width", "32"});
    ctl({"config", "set", m_harness.path("FrameSource0"), "height", "8"});
    m_out = m_harness.path("FrameSource0") + ":out";
    return source;
  }

  CommandResult ctl(const std::vector<std::string>& args) {
    const CommandResult result = m_harness.rtmctl(args);
    EXPECT_EQ(result.exitCode, 0) << result;
    return result;
  }

  // Connects source and sink; returns the new connector's id.
  std::string connect(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"connect", m_out, m_in};
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult result = ctl(args);
    const std::string::size_type at = result.out.find("(id ");
    const std::string::size_type end = result.out.find(')', at);
    EXPECT_TRUE(at != std::string::npos && end != std::string::npos) << result;
    return at == std::string::npos || end == std::string::npos
               ? ""
               : result.out.substr(at + 4, end - at - 4);
  }

  // Starts another sink, bound as `name`, and activates it; `in` gets its
  // inport's path.
  ChildProcess& startNamedSink(const std::string& name, std::string& in) {
    ChildProcess& sink = m_harness.startSink(
        "exec_cxt.periodic.rate: 200\nnaming.formats: %h.host_cxt/" + name + ".rtc\n", name);
    EXPECT_TRUE(m_harness.waitForComponent(name)) << sink.stderrText();
    ctl({"activate", m_harness.path(name)});
    in = m_harness.path(name) + ":in";
    return sink;
  }

  std::size_t sampleCount() const { return parseSamples(m_sink->stdoutText()).size(); }

  void expectBothPortsClean() {
    EXPECT_EQ(m_harness.connectorCount("FrameSink0", "in"), 0u);
    EXPECT_EQ(m_harness.connectorCount("FrameSource0", "out"), 0u);
  }

  DataFlowHarness m_harness{"robustness"};
  ChildProcess* m_sink = nullptr;
  std::string m_in, m_out;
};

TEST_F(DataFlowRobustnessTest, DisconnectFromEitherEndLeavesBothPortsClean) {
  startSource();
  ctl({"activate", m_harness.path("FrameSource0")});

  const std::string id = connect({"--name", "first"});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, sampleCount() + 3, 30));
  EXPECT_EQ(m_harness.connectorCount("FrameSink0", "in"), 1u);
  EXPECT_EQ(m_harness.connectorCount("FrameSource0", "out"), 1u);
  ctl({"disconnect", m_in, "--id", id});
  expectBothPortsClean();
  // Nothing flows once the connection is gone.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::size_t settled = sampleCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(sampleCount(), settled);

  connect({"--name", "second"});
  ctl({"disconnect", m_out, "--name", "second"});
  expectBothPortsClean();

  connect();
  ctl({"disconnect", m_in, m_out});
  expectBothPortsClean();

  connect({"--name", "a"});
  connect({"--name", "b", "--subscription", "new"});
  EXPECT_EQ(m_harness.connectorCount("FrameSink0", "in"), 2u);
  ctl({"disconnect", m_in, "--all"});
  expectBothPortsClean();

  // And the ports still connect afterwards.
  connect();
  EXPECT_TRUE(DataFlowHarness::waitForSamples(*m_sink, sampleCount() + 3, 30));
}

TEST_F(DataFlowRobustnessTest, AKilledSourceLeavesTheConsumerRunningAndConnectable) {
  ChildProcess& first = startSource("source1");
  connect();
  ctl({"activate", m_harness.path("FrameSource0")});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 3, 30));

  first.signal(SIGKILL);
  ASSERT_TRUE(first.waitExit(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(m_sink->running());
  EXPECT_EQ(ctl({"state", m_harness.path("FrameSink0")}).out, "ACTIVE\n");

  // A new source takes over the name; the consumer's dead first connector
  // must not starve the new one.
  ChildProcess& second = startSource("source2");
  ASSERT_TRUE(second.running());
  connect();
  const std::size_t before = sampleCount();
  ctl({"activate", m_harness.path("FrameSource0")});
  EXPECT_TRUE(DataFlowHarness::waitForSamples(*m_sink, before + 5, 30)) << m_harness.log("sink");
  // Reading the profile drops the dead connector.
  EXPECT_EQ(m_harness.connectorCount("FrameSink0", "in"), 1u);
  EXPECT_TRUE(m_sink->running());
}

// A producer whose viewers stopped answering (SIGSTOP) stays responsive and
// exits 0 soon after SIGTERM. Shutdown used to wait out each stopped
// viewer in turn: a write blocked on them (3 s call timeout each), then the
// disconnect notices (1-2 s each); 3 viewers took 9-12 s. A `new`
// subscription's stopped viewer used to go unmentioned in the log.
TEST_F(DataFlowRobustnessTest, AProducerWithStoppedViewersStaysResponsiveAndExitsPromptly) {
  std::vector<ChildProcess*> sinks = {m_sink};
  std::vector<std::string> ins = {m_in};
  for (const std::string name : {"Sink1", "Sink2"}) {
    ins.emplace_back();
    sinks.push_back(&startNamedSink(name, ins.back()));
  }
  const struct {
    std::size_t stopped;
    const char* subscription;
  } cases[] = {{1, "flush"}, {3, "flush"}, {3, "new"}};
  int run = 0;
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.stopped) + " stopped viewer(s), " + c.subscription;
    SCOPED_TRACE(what);
    const std::string name = "source" + std::to_string(++run);
    ChildProcess& source = startSource(name);
    for (std::size_t i = 0; i < c.stopped; ++i) {
      ctl({"connect", m_out, ins[i], "--subscription", c.subscription});
    }
    const std::size_t before = sampleCount();
    ctl({"activate", m_harness.path("FrameSource0")});
    ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, before + 3, 30));
    for (std::size_t i = 0; i < c.stopped; ++i) sinks[i]->signal(SIGSTOP);
    // The producer says so within its call timeout (3 s), and still answers.
    EXPECT_TRUE(waitUntil([&] { return contains(m_harness.log(name), "TIMEOUT"); }, 10))
        << m_harness.log(name);
    const double asked = pixmoor_test::now();
    EXPECT_EQ(ctl({"state", m_harness.path("FrameSource0")}).out, "ACTIVE\n");
    const double answered = pixmoor_test::now() - asked;

    const double start = pixmoor_test::now();
    source.signal(SIGTERM);
    int status = 0;
    const bool exited = source.waitExit(60, &status);
    const double seconds = pixmoor_test::now() - start;
    std::cout << what << ": state answered in " << answered << " s, exit " << seconds
              << " s after SIGTERM\n";
    for (std::size_t i = 0; i < c.stopped; ++i) sinks[i]->signal(SIGCONT);
    ASSERT_TRUE(exited) << m_harness.log(name);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // At most one put in flight (3 s) and the disconnect notices side by side.
    EXPECT_LT(seconds, 7.5) << m_harness.log(name);
  }
}

// Counts the lines of `log` that hold `needle`.
std::size_t countLines(const std::string& log, const std::string& needle) {
  std::size_t count = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) count += contains(line, needle) ? 1 : 0;
  return count;
}

// A viewer that disconnects or exits while frames stream ends its
// connections in order: the producer logs each end once, at INFO, and keeps
// running; the viewer, which ended them, logs none. The producer used to
// log "the peer is gone (OBJECT_NOT_EXIST)" for dozens of puts, and later
// nothing at all.
TEST_F(DataFlowRobustnessTest, AViewerThatDisconnectsOrExitsIsLoggedOnceByTheProducer) {
  ChildProcess& source = startSource();
  const std::string byId = connect({"--name", "by-id"});
  const std::string flush = connect({"--name", "flush"});
  const std::string fresh = connect({"--name", "new", "--subscription", "new"});
  ctl({"activate", m_harness.path("FrameSource0")});
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 5, 30));
  ctl({"disconnect", m_in, "--id", byId});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  m_sink->signal(SIGTERM);
  ASSERT_TRUE(m_sink->waitExit(20));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the producer writes on
  const std::string log = m_harness.log("source");
  EXPECT_EQ(0u, countLines(m_harness.log("sink"), "closed by the peer")) << m_harness.log("sink");
  for (const std::string& id : {byId, flush, fresh}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(1u, countLines(log, "connection " + id + " was closed by the peer")) << log;
    EXPECT_EQ(0u, countLines(log, id + ": ")) << log;  // no warning about it
  }
  EXPECT_EQ(0u, countLines(log, "gone")) << log;
  EXPECT_TRUE(source.running());
  EXPECT_EQ(m_harness.connectorCount("FrameSource0", "out"), 0u);
}

// CDR of a TimedLongSeq in little-endian order, as a push connector carries it.
OpenRTM::CdrData littleEndianSample(CORBA::ULong sec, CORBA::ULong nsec, CORBA::ULong claimed,
                                    const std::vector<std::uint32_t>& elements) {
  std::vector<std::uint32_t> words = {sec, nsec, claimed};
  words.insert(words.end(), elements.begin(), elements.end());
  OpenRTM::CdrData data;
  data.length(static_cast<CORBA::ULong>(words.size() * 4));
  for (std::size_t i = 0; i < words.size(); ++i) {
    for (int b = 0; b < 4; ++b) {
      data[static_cast<CORBA::ULong>(i * 4 + b)] = static_cast<CORBA::Octet>(words[i] >> (8 * b));
    }
  }
  return data;
}

OpenRTM::CdrData truncated(OpenRTM::CdrData data, CORBA::ULong length) {
  data.length(length);
  return data;
}

TEST_F(DataFlowRobustnessTest, MalformedPutsAnswerPortErrorAndTheNextFrameStillArrives) {
  // Connect the sink's inport alone, as a foreign outport would, and call
  // put on the object it publishes.
  RTC::PortService_var inport = m_harness.port("FrameSink0", "in");
  ASSERT_FALSE(CORBA::is_nil(inport));
  OpenRTM::InPortCdr_var cdr;
  std::string connectorId;
  ASSERT_EQ(pixmoor_test::connectAsForeignProducer(pixmoor_test::orb(), inport, "hand_made", cdr,
                                                   &connectorId),
            RTC::RTC_OK);
  ASSERT_FALSE(CORBA::is_nil(cdr)) << "the inport published no dataport.corba_cdr.inport_ior";

  const std::vector<std::uint32_t> pixels = {0xFF010203u, 0xFF040506u, 0xFF070809u};
  const OpenRTM::CdrData valid = littleEndianSample(1234, 5678, 3, pixels);
  const struct {
    const char* what;
    OpenRTM::CdrData data;
  } malformed[] = {
      {"empty", OpenRTM::CdrData()},
      {"header cut short", truncated(valid, 10)},
      {"last element cut short", truncated(valid, valid.length() - 1)},
      {"count larger than the data", littleEndianSample(1, 2, 100, pixels)},
      // 112 bytes claiming 2^30 elements: refused before anything is reserved.
      {"absurd count", littleEndianSample(1, 2, 1u << 30, std::vector<std::uint32_t>(25, 7))},
      {"count read in the wrong byte order", littleEndianSample(1, 2, 0x03000000u, pixels)},
  };
  for (const auto& bad : malformed) {
    SCOPED_TRACE(bad.what);
    EXPECT_EQ(cdr->put(bad.data), OpenRTM::PORT_ERROR);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(sampleCount(), 0u) << m_sink->stdoutText();
  EXPECT_TRUE(m_sink->running());

  ASSERT_EQ(cdr->put(valid), OpenRTM::PORT_OK);
  ASSERT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 1, 10)) << m_harness.log("sink");
  const Sample got = parseSamples(m_sink->stdoutText()).front();
  EXPECT_EQ(got.sec, 1234u);
  EXPECT_EQ(got.nsec, 5678u);
  EXPECT_EQ(got.length, 3u);
  const std::int32_t expected[] = {static_cast<std::int32_t>(pixels[0]),
                                   static_cast<std::int32_t>(pixels[1]),
                                   static_cast<std::int32_t>(pixels[2])};
  EXPECT_EQ(got.sum, framesink::frameChecksum(expected, 3));

  // The port is as good as new: a real source connects and its frames arrive.
  ASSERT_EQ(inport->disconnect(connectorId.c_str()), RTC::RTC_OK);
  startSource();
  connect();
  ctl({"activate", m_harness.path("FrameSource0")});
  EXPECT_TRUE(DataFlowHarness::waitForSamples(*m_sink, 4, 30)) << m_harness.log("sink");
}

// At connection_limit, connections that name no other port and deliver a
// frame now and then used to keep a real producer out for as long as they
// trickled (one frame every 5 s against a stale_timeout of 6: refused at 8,
// 16 and 24 s). Such a connection now holds its place for stale_timeout
// only against a producer that names its own port; one naming no port is
// still refused.
TEST(DataFlowLimits, TricklingConnectionsMakeRoomForARealProducerAfterStaleTimeout) {
  DataFlowHarness harness("trickle");
  ASSERT_TRUE(harness.nameServerUp());
  ChildProcess& sink = harness.startSink(
      "exec_cxt.periodic.rate: 200\n"
      "Test.FrameSink.port.inport.in.connection_limit: 2\n"
      "Test.FrameSink.port.inport.in.stale_timeout: 2\n");
  ChildProcess& source = harness.startSource();
  ASSERT_TRUE(harness.waitForComponent("FrameSink0")) << sink.stderrText();
  ASSERT_TRUE(harness.waitForComponent("FrameSource0")) << source.stderrText();
  RTC::PortService_var inport = harness.port("FrameSink0", "in");
  ASSERT_FALSE(CORBA::is_nil(inport));
  OpenRTM::InPortCdr_var trickle[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(RTC::RTC_OK, pixmoor_test::connectAsForeignProducer(
                               pixmoor_test::orb(), inport, ("trickle" + std::to_string(i)).c_str(),
                               trickle[i]));
  }
  const OpenRTM::CdrData frame = littleEndianSample(1, 2, 1, {0xFF102030u});
  const std::string out = harness.path("FrameSource0") + ":out";
  const std::string in = harness.path("FrameSink0") + ":in";
  CommandResult connected;
  OpenRTM::InPortCdr_var lonely;
  const double start = pixmoor_test::now();
  // One frame per connection every 0.5 s, well inside stale_timeout.
  for (int round = 0; round < 12; ++round) {
    for (auto& cdr : trickle) {
      try {
        cdr->put(frame);
      } catch (const CORBA::OBJECT_NOT_EXIST&) {
        // the connection that made room
      }
    }
    if (round == 6) {
      std::printf("a producer connects %.1f s after two trickling connections\n",
                  pixmoor_test::now() - start);
      connected = harness.rtmctl({"connect", out, in});
      EXPECT_NE(RTC::RTC_OK, pixmoor_test::connectAsForeignProducer(pixmoor_test::orb(), inport,
                                                                    "lonely", lonely))
          << "a newcomer naming no other port is still refused";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_EQ(0, connected.exitCode) << connected << harness.log("sink");
  EXPECT_EQ(2u, harness.connectorCount("FrameSink0", "in"));
  EXPECT_TRUE(contains(harness.log("sink"), "it makes room for connection")) << harness.log("sink");
  ASSERT_EQ(0,
            harness.rtmctl({"activate", harness.path("FrameSink0"), harness.path("FrameSource0")})
                .exitCode);
  const std::size_t before = parseSamples(sink.stdoutText()).size();
  EXPECT_TRUE(DataFlowHarness::waitForSamples(sink, before + 5, 30)) << harness.log("sink");
}

}  // namespace
