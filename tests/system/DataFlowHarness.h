// Shared by the data-flow, frame source and rtmctl system tests: a private
// name server, FrameSourceComp / FrameSinkComp processes with their own
// rtc.conf, rtmctl runs and the sink's report lines.
#ifndef PIXMOOR_TESTS_SYSTEM_DATAFLOWHARNESS_H
#define PIXMOOR_TESTS_SYSTEM_DATAFLOWHARNESS_H

#include <gtest/gtest.h>
#include <rtm/idl/RTCSkel.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FrameChecksum.h"
#include "FramePainter.h"
#include "TestSupport.h"

namespace dataflow_test {

using pixmoor_test::ChildProcess;

// What a finished rtmctl run gave.
struct CommandResult {
  int exitCode = -1;  // -1 when it did not exit normally in time
  std::string out;
  std::string err;
};

// Runs `argv` to its end (at most `timeoutSec`) and returns its status and
// output.
inline CommandResult runToEnd(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env = {},
                              double timeoutSec = 60) {
  ChildProcess process(argv, env);
  CommandResult result;
  int status = 0;
  if (process.waitExit(timeoutSec, &status) && WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  result.out = process.stdoutText();
  result.err = process.stderrText();
  return result;
}

inline std::ostream& operator<<(std::ostream& os, const CommandResult& r) {
  return os << "exit " << r.exitCode << "\n--- stdout\n" << r.out << "--- stderr\n" << r.err;
}

// One "sample ..." line of FrameSink.
struct Sample {
  unsigned long n = 0, sec = 0, nsec = 0, length = 0;
  std::uint32_t first = 0, last = 0;
  std::uint64_t sum = 0;
};

inline std::vector<Sample> parseSamples(const std::string& text) {
  std::vector<Sample> samples;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    Sample s;
    unsigned long long sum = 0;
    unsigned first = 0, last = 0;
    if (std::sscanf(line.c_str(),
                    "sample %lu sec %lu nsec %lu length %lu first %x last %x sum %llx", &s.n,
                    &s.sec, &s.nsec, &s.length, &first, &last, &sum) == 7) {
      s.first = first;
      s.last = last;
      s.sum = sum;
      samples.push_back(s);
    }
  }
  return samples;
}

// The checksum FrameSink prints for the bars picture of a size.
inline std::uint64_t barsChecksum(int width, int height) {
  std::vector<std::int32_t> frame(static_cast<std::size_t>(width) * height);
  framesource::paintBars(frame.data(), width, height);
  return framesink::frameChecksum(frame.data(), frame.size());
}

// The checksum FrameSink prints for counter frame `k` of `count` pixels.
inline std::uint64_t counterChecksum(std::size_t count, std::uint64_t k) {
  std::vector<std::int32_t> frame(count);
  framesource::paintCounter(frame.data(), count, k);
  return framesink::frameChecksum(frame.data(), count);
}

inline bool contains(const std::string& text, const std::string& needle) {
  return text.find(needle) != std::string::npos;
}

// Polls `done` every 20 ms for up to `timeoutSec`.
template <typename Predicate>
bool waitUntil(Predicate done, double timeoutSec) {
  return pixmoor_test::waitUntil(done, timeoutSec, 20);
}

class DataFlowHarness {
 public:
  explicit DataFlowHarness(const std::string& tag) : m_dir(pixmoor_test::makeTempDir(tag)) {
    m_started = m_names.start();
  }
  ~DataFlowHarness() {
    // Components first, while the name server can still take their unbinding.
    m_processes.clear();
    m_names.stop();
    pixmoor_test::removeTree(m_dir);
  }
  DataFlowHarness(const DataFlowHarness&) = delete;
  DataFlowHarness& operator=(const DataFlowHarness&) = delete;

  bool nameServerUp() const { return m_started; }
  pixmoor_test::NameServer& names() { return m_names; }
  const std::string& dir() const { return m_dir; }

  // "/127.0.0.1:<port>/<host>.host_cxt/<instance>.rtc"
  std::string path(const std::string& instance) const {
    return "/" + m_names.address() + "/" + namingPath(instance);
  }
  std::string namingPath(const std::string& instance) const {
    return pixmoor_test::hostName() + ".host_cxt/" + instance + ".rtc";
  }

  // Writes <dir>/<name>.conf and returns its path; the log goes to <dir>/<name>.log.
  std::string writeConf(const std::string& name, const std::string& extra) const {
    const std::string conf = m_dir + "/" + name + ".conf";
    pixmoor_test::writeFile(conf, "corba.nameservers: " + m_names.address() +
                                      "\n"
                                      "corba.endpoint: 127.0.0.1:\n"
                                      "naming.formats: %h.host_cxt/%n.rtc\n"
                                      "logger.file_name: " +
                                      m_dir + "/" + name +
                                      ".log\n"
                                      "exec_cxt.transition_timeout: 5\n" +
                                      extra);
    return conf;
  }

  // Starts a component host (a path relative to the build directory) with
  // its own rtc.conf; the harness kills it at the end unless it ended.
  ChildProcess& startHost(const std::string& binary, const std::string& name,
                          const std::string& extraConf) {
    const std::string conf = writeConf(name, extraConf);
    m_processes.emplace_back(
        new ChildProcess({pixmoor_test::buildPath(binary), "-f", conf}, {}, m_dir));
    return *m_processes.back();
  }
  ChildProcess& startSource(const std::string& extraConf = "exec_cxt.periodic.rate: 20\n",
                            const std::string& name = "source") {
    return startHost("tools/framesource/FrameSourceComp", name, extraConf);
  }
  ChildProcess& startSink(const std::string& extraConf = "exec_cxt.periodic.rate: 200\n",
                          const std::string& name = "sink") {
    return startHost("tests/fixtures/FrameSink/FrameSinkComp", name, extraConf);
  }

  std::string log(const std::string& name) const {
    return pixmoor_test::readFile(m_dir + "/" + name + ".log");
  }

  // Waits until `instance` is bound and its object answers.
  bool waitForComponent(const std::string& instance, double timeoutSec = 30) {
    return waitUntil(
        [&] {
          RTC::RTObject_var rtc = component(instance);
          if (CORBA::is_nil(rtc)) return false;
          try {
            return !rtc->_non_existent();
          } catch (const CORBA::Exception&) {
            return false;
          }
        },
        timeoutSec);
  }

  // Returns the bound component (nil when not bound).
  RTC::RTObject_ptr component(const std::string& instance) {
    CORBA::Object_var object = pixmoor_test::resolveName(m_names.corbaloc(), namingPath(instance));
    if (CORBA::is_nil(object)) return RTC::RTObject::_nil();
    try {
      return RTC::RTObject::_narrow(object);
    } catch (const CORBA::Exception&) {
      return RTC::RTObject::_nil();
    }
  }

  // Returns the port "<instance>.<port>" of a bound component.
  RTC::PortService_ptr port(const std::string& instance, const std::string& portName) {
    RTC::RTObject_var rtc = component(instance);
    if (CORBA::is_nil(rtc)) return RTC::PortService::_nil();
    RTC::PortServiceList_var ports = rtc->get_ports();
    for (CORBA::ULong i = 0; i < ports->length(); ++i) {
      RTC::PortProfile_var profile = ports[i]->get_port_profile();
      if (std::string(profile->name) == instance + "." + portName) {
        return RTC::PortService::_duplicate(ports[i]);
      }
    }
    return RTC::PortService::_nil();
  }

  // Returns how many connectors the port lists.
  CORBA::ULong connectorCount(const std::string& instance, const std::string& portName) {
    RTC::PortService_var p = port(instance, portName);
    if (CORBA::is_nil(p)) return 9999;
    RTC::ConnectorProfileList_var list = p->get_connector_profiles();
    return list->length();
  }

  // Runs rtmctl with `args` and waits for it.
  CommandResult rtmctl(const std::vector<std::string>& args, double timeoutSec = 60) {
    std::vector<std::string> argv = {pixmoor_test::buildPath("tools/rtmctl/rtmctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    return runToEnd(argv, {}, timeoutSec);
  }

  // Waits until the sink has reported at least `count` samples in total.
  static bool waitForSamples(const ChildProcess& sink, std::size_t count, double timeoutSec) {
    return waitUntil([&] { return parseSamples(sink.stdoutText()).size() >= count; }, timeoutSec);
  }

 private:
  std::string m_dir;
  pixmoor_test::NameServer m_names;
  bool m_started = false;
  std::vector<std::unique_ptr<ChildProcess>> m_processes;
};

// A fixture whose SetUp starts a sink and a source and waits until both are
// bound; a derived SetUp goes on only when this one did not fail.
class SinkAndSourceTest : public ::testing::Test {
 protected:
  explicit SinkAndSourceTest(const std::string& tag) : m_harness(tag) {}

  void SetUp() override {
    ASSERT_TRUE(m_harness.nameServerUp());
    m_sink = &m_harness.startSink();
    m_source = &m_harness.startSource();
    ASSERT_TRUE(m_harness.waitForComponent("FrameSink0")) << m_sink->stderrText();
    ASSERT_TRUE(m_harness.waitForComponent("FrameSource0")) << m_source->stderrText();
  }

  DataFlowHarness m_harness;
  ChildProcess* m_sink = nullptr;
  ChildProcess* m_source = nullptr;
};

}  // namespace dataflow_test

#endif
