// PixmoorComp as a process: what a tool finds on the name server, and how
// the process starts, fails and stops, with name servers present, absent,
// down and restarted.
#include <gtest/gtest.h>
#include <rtm/Manager.h>
#include <rtm/idl/OpenRTMSkel.h>
#include <rtm/idl/RTCSkel.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CdrProducer.h"
#include "PixmoorProfile.h"
#include "TestSupport.h"

namespace {

using pixmoor_test::ChildProcess;
using pixmoor_test::NameServer;
using pixmoor_test::now;

// Generous: a loaded machine with sanitizers is slow.
const double kStartTimeout = 60.0;
const double kExitTimeout = 20.0;

std::string textOf(const CORBA::Any& any) {
  const char* s = nullptr;
  return (any >>= s) ? std::string(s) : std::string("<not a string>");
}

std::map<std::string, std::string> toMap(const SDOPackage::NVList& nv) {
  std::map<std::string, std::string> out;
  for (CORBA::ULong i = 0; i < nv.length(); ++i) out[std::string(nv[i].name)] = textOf(nv[i].value);
  return out;
}

size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
    ++n;
  return n;
}

// One PixmoorComp with a private name server and rtc.conf.
class Host {
 public:
  explicit Host(const std::string& extraConf = "", bool withNameServer = true,
                const std::string& executable = "host/PixmoorComp",
                const std::vector<std::string>& env = {})
      : m_dir(pixmoor_test::makeTempDir("host")) {
    if (withNameServer) m_started = m_names.start();
    std::string servers = withNameServer ? m_names.address() : "";
    std::string conf =
        "corba.endpoint: 127.0.0.1:\n"
        "logger.file_name: " +
        m_dir +
        "/rtc.log\n"
        "logger.log_level: DEBUG\n"
        "exec_cxt.transition_timeout: 5\n" +
        extraConf;
    if (extraConf.find("corba.nameservers") == std::string::npos) {
      conf += "corba.nameservers: " + servers + "\n";
    }
    pixmoor_test::writeFile(m_dir + "/rtc.conf", conf);
    m_process.reset(new ChildProcess(
        {pixmoor_test::buildPath(executable), "-f", m_dir + "/rtc.conf"}, env, m_dir));
  }
  ~Host() {
    m_process.reset();
    m_names.stop();
    pixmoor_test::removeTree(m_dir);
  }

  NameServer& names() { return m_names; }
  ChildProcess& process() { return *m_process; }
  const std::string& dir() const { return m_dir; }
  std::string log() const { return pixmoor_test::readFile(m_dir + "/rtc.log"); }
  std::string path() const { return pixmoor_test::hostName() + ".host_cxt/Pixmoor0.rtc"; }

  CORBA::Object_ptr resolve() { return pixmoor_test::resolveName(m_names.corbaloc(), path()); }

  // Waits until the component is bound; returns it narrowed to RTObject.
  RTC::RTObject_ptr waitBound(double timeoutSec = kStartTimeout) {
    double end = now() + timeoutSec;
    while (now() < end && m_process->running()) {
      CORBA::Object_var obj = resolve();
      if (!CORBA::is_nil(obj)) return RTC::RTObject::_narrow(obj);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return RTC::RTObject::_nil();
  }

  bool isBound() { return !CORBA::is_nil(CORBA::Object_var(resolve())); }

  // Signals the process and waits for its exit; returns the seconds it took
  // (negative when it did not exit) and the wait status.
  double stopWith(int sig, int* status) {
    double t0 = now();
    m_process->signal(sig);
    if (!m_process->waitExit(kExitTimeout, status)) return -1.0;
    return now() - t0;
  }

  bool started() const { return m_started; }

 private:
  std::string m_dir;
  NameServer m_names;
  bool m_started = false;
  std::unique_ptr<ChildProcess> m_process;
};

void expectCleanExit(double seconds, int status, const char* what) {
  std::printf("%s: exited in %.3f s\n", what, seconds);
  ASSERT_GE(seconds, 0.0) << what << ": no exit within " << kExitTimeout << " s";
  ASSERT_TRUE(WIFEXITED(status)) << what << ": status " << status;
  EXPECT_EQ(0, WEXITSTATUS(status)) << what;
}

std::string dynamicSymbols(const std::string& file) {
  std::string cmd = "nm -D --defined-only '" + pixmoor_test::buildPath(file) + "'";
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  return out;
}

// The host and the modules export the init function under its plain name. A
// module must not carry a runtime of its own: a second Manager singleton
// would hold factories the host's manager never sees.
TEST(ComponentHost, HostAndModulesExportTheirInitFunctionAndOnlyRtcdCarriesTheRuntime) {
  struct Case {
    const char* file;
    const char* init;
    bool runtime;  // defines RTC::Manager::instance()
  } cases[] = {
      {"host/PixmoorComp", "PixmoorInit", true},
      {"modules/Pixmoor.so", "PixmoorInit", false},
      {"modules/FrameSource.so", "FrameSourceInit", false},
      {"tools/rtcd/rtcd", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string symbols = dynamicSymbols(c.file);
    ASSERT_FALSE(symbols.empty());
    if (c.init != nullptr) {
      EXPECT_NE(std::string::npos, symbols.find(std::string(" T ") + c.init + "\n"));
    }
    EXPECT_EQ(c.runtime, symbols.find(" _ZN3RTC7Manager8instanceEv\n") != std::string::npos);
  }
  // rtcd exports all of the runtime, not only what its main calls.
  EXPECT_NE(std::string::npos,
            dynamicSymbols("tools/rtcd/rtcd").find("_ZN3RTC10InPortBaseC2EPKcS2_"));
}

// -h and --help print the usage and end before anything listens or logs.
TEST(ComponentHost, HostsAnswerHelpWithTheirUsageAndStartNothing) {
  for (const char* host :
       {"host/PixmoorComp", "tools/framesource/FrameSourceComp", "tools/rtcd/rtcd"}) {
    for (const char* option : {"-h", "--help"}) {
      SCOPED_TRACE(std::string(host) + " " + option);
      const std::string dir = pixmoor_test::makeTempDir("help");
      ChildProcess process({pixmoor_test::buildPath(host), option}, {"RTC_MANAGER_CONFIG"}, dir);
      int status = 0;
      ASSERT_TRUE(process.waitExit(kExitTimeout, &status));
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      const std::string name = std::string(host).substr(std::string(host).rfind('/') + 1);
      EXPECT_EQ(0u, process.stdoutText().find("usage: " + name + " [-f FILE]"))
          << process.stdoutText();
      EXPECT_EQ("", process.stderrText());
      EXPECT_EQ("", pixmoor_test::readFile(dir + "/rtc" + std::to_string(process.pid()) + ".log"));
      pixmoor_test::removeTree(dir);
    }
  }
}

TEST(ComponentHost, ToolsFindTheProfileConfigurationAndPortThenSigtermUnbinds) {
  Host host;
  ASSERT_TRUE(host.started());
  RTC::RTObject_var rtc = host.waitBound();
  ASSERT_FALSE(CORBA::is_nil(rtc)) << host.process().stderrText() << host.log();

  RTC::ComponentProfile_var profile = rtc->get_component_profile();
  EXPECT_STREQ("Pixmoor0", profile->instance_name);
  EXPECT_STREQ("Pixmoor", profile->type_name);
  EXPECT_STREQ("Pixmoor", profile->description);
  EXPECT_STREQ("1.0.0", profile->version);
  EXPECT_STREQ("QZV", profile->vendor);
  EXPECT_STREQ("Generic", profile->category);
  EXPECT_TRUE(CORBA::is_nil(profile->parent));
  std::map<std::string, std::string> props = toMap(profile->properties);
  for (const auto& pair : pixmoor_test::expectedPixmoorProfile()) {
    ASSERT_TRUE(props.count(pair.first)) << pair.first;
    EXPECT_EQ(pair.second, props[pair.first]) << pair.first;
  }
  EXPECT_EQ("Pixmoor0", props["instance_name"]);

  SDOPackage::Configuration_var config = rtc->get_configuration();
  SDOPackage::ConfigurationSetList_var sets = config->get_configuration_sets();
  std::vector<std::string> ids;
  for (CORBA::ULong i = 0; i < sets->length(); ++i) ids.push_back(std::string(sets[i].id));
  EXPECT_EQ((std::vector<std::string>{"default", "__widget__"}), ids);
  SDOPackage::ConfigurationSet_var active = config->get_active_configuration_set();
  EXPECT_STREQ("default", active->id);
  std::map<std::string, std::string> defaults = toMap(active->configuration_data);
  EXPECT_EQ((std::map<std::string, std::string>{{"input_image_width", "640"},
                                                {"input_image_height", "480"},
                                                {"flip_h", "0"},
                                                {"flip_v", "0"}}),
            defaults);
  SDOPackage::ConfigurationSet_var widgets = config->get_configuration_set("__widget__");
  EXPECT_EQ(4u, widgets->configuration_data.length());
  for (CORBA::ULong i = 0; i < widgets->configuration_data.length(); ++i) {
    EXPECT_EQ("text", textOf(widgets->configuration_data[i].value));
  }

  RTC::PortServiceList_var ports = rtc->get_ports();
  ASSERT_EQ(1u, ports->length());
  ASSERT_EQ(1u, profile->port_profiles.length());
  RTC::PortProfile_var port = ports[0]->get_port_profile();
  EXPECT_STREQ("Pixmoor0.image", port->name);
  EXPECT_STREQ("Pixmoor0.image", profile->port_profiles[0].name);
  EXPECT_EQ(0u, port->interfaces.length());
  EXPECT_TRUE(port->owner->_is_equivalent(rtc));
  std::map<std::string, std::string> portProps = toMap(port->properties);
  EXPECT_EQ("DataInPort", portProps["port.port_type"]);
  EXPECT_EQ("IDL:RTC/TimedLongSeq:1.0", portProps["dataport.data_type"]);
  EXPECT_EQ("Any", portProps["dataport.subscription_type"]);
  EXPECT_EQ("push,pull", portProps["dataport.dataflow_type"]);
  EXPECT_EQ("corba_cdr,shared_memory", portProps["dataport.interface_type"]);

  EXPECT_EQ(1u, countOf(host.process().stdoutText(), "Pixmoor::onInitialize()\n"));

  int status = 0;
  expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM");
  EXPECT_FALSE(host.isBound()) << "name left behind";
  EXPECT_EQ(1u, countOf(host.process().stdoutText(), "Pixmoor::onInitialize()\n"));
}

// What a library does that installs its own handlers once the manager runs
// (Qt does on some platforms): ends the process its own way.
extern "C" void libraryHandler(int) {
  const char text[] = "the library's handler ran\n";
  ssize_t ignored = ::write(2, text, sizeof(text) - 1);
  (void)ignored;
  ::_exit(3);
}

// Runs a manager in this process, lets a library take over SIGINT, SIGTERM
// and SIGHUP, prints the signal mask a program it starts gets, sends `sig` to
// the process and exits 0 once runManager returns.
void runManagerThroughSignalAfterLibraryHandler(int sig) {
  std::vector<std::string> args = {"ComponentHostTest", "-f", "/dev/null",
                                   "-o", "corba.endpoint: 127.0.0.1:",
                                   "-o", "naming.enable: NO",
                                   "-o", "logger.file_name: stderr"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  RTC::Manager* manager = RTC::Manager::init(static_cast<int>(args.size()), argv.data());
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = libraryHandler;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  if (!manager->activateManager()) ::_exit(2);
  {
    ChildProcess grep({"/bin/grep", "SigBlk", "/proc/self/status"});
    grep.waitExit(kExitTimeout);
    std::fprintf(stderr, "child's %s", grep.stdoutText().c_str());
  }
  ::kill(::getpid(), sig);
  manager->runManager();
  std::fprintf(stderr, "runManager returned\n");
  ::_exit(0);
}

// The manager keeps the signals blocked in all its threads for one of them
// to take, which programs it starts must not inherit.
TEST(ComponentHost, SignalsReachTheManagerPastALibrarysOwnHandler) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
    SCOPED_TRACE(name);
    EXPECT_EXIT(
        runManagerThroughSignalAfterLibraryHandler(sig), ::testing::ExitedWithCode(0),
        "child's SigBlk:\\s+0+\n.*" + name + " received.*shut down in .*runManager returned");
  }
}

TEST(ComponentHost, ExitOfItsOnlyComponentEndsTheProcess) {
  Host host;
  ASSERT_TRUE(host.started());
  RTC::RTObject_var rtc = host.waitBound();
  ASSERT_FALSE(CORBA::is_nil(rtc)) << host.log();
  double t0 = now();
  EXPECT_EQ(RTC::RTC_OK, rtc->exit());
  EXPECT_FALSE(host.isBound()) << "unbound before exit() answers";
  int status = 0;
  ASSERT_TRUE(host.process().waitExit(kExitTimeout, &status)) << host.log();
  std::printf("exit(): process ended %.3f s after the call\n", now() - t0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(ComponentHost, ExitsCleanlyWhileTheNameServerIsDown) {
  Host host;
  ASSERT_TRUE(host.started());
  RTC::RTObject_var rtc = host.waitBound();
  ASSERT_FALSE(CORBA::is_nil(rtc)) << host.log();
  host.names().stop();
  int status = 0;
  expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM, name server down");
  EXPECT_NE(std::string::npos, host.log().find("could not remove '" + host.path() + "'"))
      << host.log();
}

TEST(ComponentHost, NameIsBackWithinOneIntervalAfterTheNameServerRestartsEmpty) {
  const double interval = 1.0;
  Host host("naming.update.interval: 1.0\n");
  ASSERT_TRUE(host.started());
  RTC::RTObject_var rtc = host.waitBound();
  ASSERT_FALSE(CORBA::is_nil(rtc)) << host.log();
  const int port = host.names().port();
  host.names().stop();
  ASSERT_TRUE(host.names().start(port));
  double t0 = now();
  while (!host.isBound() && now() - t0 < interval + 10.0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  double back = now() - t0;
  std::printf("name back %.3f s after the restart (interval %.1f s)\n", back, interval);
  ASSERT_TRUE(host.isBound()) << host.log();
  EXPECT_LT(back, interval + 2.0);

  int status = 0;
  expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM after re-registration");
  EXPECT_FALSE(host.isBound()) << "the re-registered name is removed too";
}

TEST(ComponentHost, ExitsCleanlyRightAfterTheNameServerRestarted) {
  // Long interval: the restarted server has not been told the name yet, and
  // the connection to the old one is stale.
  Host host("naming.update.interval: 600\n");
  ASSERT_TRUE(host.started());
  ASSERT_FALSE(CORBA::is_nil(RTC::RTObject_var(host.waitBound()))) << host.log();
  const int port = host.names().port();
  host.names().stop();
  ASSERT_TRUE(host.names().start(port));
  int status = 0;
  expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM, name server restarted");
}

TEST(ComponentHost, UnreachableNameServerIsReportedAndTheComponentStillRuns) {
  NameServer present;
  ASSERT_TRUE(present.start());
  const std::string absent = "127.0.0.1:" + std::to_string(pixmoor_test::freeTcpPort());
  Host host("corba.nameservers: " + absent + ", " + present.address() + "\n", false);
  RTC::RTObject_var rtc;
  double end = now() + kStartTimeout;
  while (CORBA::is_nil(rtc) && now() < end && host.process().running()) {
    CORBA::Object_var obj = pixmoor_test::resolveName(present.corbaloc(), host.path());
    if (!CORBA::is_nil(obj)) rtc = RTC::RTObject::_narrow(obj);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(CORBA::is_nil(rtc)) << host.log();
  CORBA::String_var id = rtc->get_sdo_id();
  EXPECT_STREQ("Pixmoor0", id.in());
  EXPECT_NE(std::string::npos, host.log().find("cannot reach the name server at " + absent +
                                               " \xE2\x80\x94 is omniNames running?"))
      << host.log();
  int status = 0;
  expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM, one server absent");
  EXPECT_TRUE(
      CORBA::is_nil(CORBA::Object_var(pixmoor_test::resolveName(present.corbaloc(), host.path()))));
}

TEST(ComponentHost, MalformedConfigurationLineIsSkippedWithAWarning) {
  Host host("this line sets nothing\nnaming.update.interval: 5\n");
  ASSERT_TRUE(host.started());
  ASSERT_FALSE(CORBA::is_nil(RTC::RTObject_var(host.waitBound()))) << host.log();
  const std::string log = host.log();
  size_t warning = log.find("WARNING: manager: " + host.dir() + "/rtc.conf:");
  ASSERT_NE(std::string::npos, warning) << log;
  EXPECT_NE(std::string::npos, log.find("this line sets nothing", warning)) << log;
  int status = 0;
  expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM");
}

TEST(ComponentHost, PortAlreadyInUseEndsTheProcessWithAClearMessage) {
  int port = 0;
  int fd = pixmoor_test::listenOnLoopback(4, &port);
  ASSERT_GE(fd, 0);

  Host host("corba.endpoint: 127.0.0.1:" + std::to_string(port) + "\n");
  int status = 0;
  double t0 = now();
  ASSERT_TRUE(host.process().waitExit(kExitTimeout, &status)) << "still running";
  std::printf("port in use: exited in %.3f s\n", now() - t0);
  ::close(fd);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(0, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos,
            host.process().stderrText().find("PixmoorComp: the component manager could not start"))
      << host.process().stderrText();
  EXPECT_NE(std::string::npos,
            host.log().find("cannot start the ORB on giop:tcp:127.0.0.1:" + std::to_string(port)));
  EXPECT_EQ(std::string::npos, host.process().stdoutText().find("onInitialize"));
}

// A frame of `pixels` in the little-endian bare CDR of a TimedLongSeq.
OpenRTM::CdrData frameOf(CORBA::ULong pixels) {
  OpenRTM::CdrData data;
  data.length(12 + 4 * pixels);
  const CORBA::ULong header[] = {1, 2, pixels};
  for (CORBA::ULong i = 0; i < 12; ++i) {
    data[i] = static_cast<CORBA::Octet>(header[i / 4] >> (8 * (i % 4)));
  }
  for (CORBA::ULong i = 12; i < data.length(); ++i) data[i] = static_cast<CORBA::Octet>(i);
  return data;
}

OpenRTM::CdrData uhdFrame() { return frameOf(3840u * 2160u); }

// Returns the resident memory of process `pid` in MB.
double residentMb(pid_t pid) {
  const std::string statm = pixmoor_test::readFile("/proc/" + std::to_string(pid) + "/statm");
  double pages = 0, resident = 0;
  std::sscanf(statm.c_str(), "%lf %lf", &pages, &resident);
  return resident * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

// omniORB refuses messages above 2 MiB unless told otherwise; the runtime
// raises that for frames up to 3840x2160, but leaves a limit of the user's
// corba.args alone.
TEST(ComponentHost, TakesAUhdFrameInOneMessageUnlessCorbaArgsSetsTheLimit) {
  const OpenRTM::CdrData frame = uhdFrame();
  for (bool ownLimit : {false, true}) {
    SCOPED_TRACE(ownLimit ? "corba.args sets 4 MiB" : "no limit in corba.args");
    Host host(ownLimit ? "corba.args: -ORBgiopMaxMsgSize 4194304\n" : "");
    ASSERT_TRUE(host.started());
    RTC::RTObject_var rtc = host.waitBound();
    ASSERT_FALSE(CORBA::is_nil(rtc)) << host.log();
    RTC::PortServiceList_var ports = rtc->get_ports();
    ASSERT_EQ(1u, ports->length());
    OpenRTM::InPortCdr_var cdr;
    ASSERT_EQ(RTC::RTC_OK, pixmoor_test::connectAsForeignProducer(pixmoor_test::orb(), ports[0],
                                                                  "uhd", cdr));
    ASSERT_FALSE(CORBA::is_nil(cdr));
    if (ownLimit) {
      EXPECT_THROW(cdr->put(frame), CORBA::SystemException);
    } else {
      const double t0 = now();
      EXPECT_EQ(OpenRTM::PORT_OK, cdr->put(frame));
      std::printf("one 3840x2160 frame put in %.3f s\n", now() - t0);
    }
    int status = 0;
    expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM");
  }
}

// The viewer's port limits come from rtc.conf's port keys: the third
// connection is refused past a connection_limit of 2, and two connections
// that ask for long buffers hold no more than the memory_limit between them
// while the viewer reads nothing.
TEST(ComponentHost, PortLimitsFromRtcConfHoldOverTheNetwork) {
  Host host(
      "Generic.Pixmoor.port.inport.image.connection_limit: 2\n"
      "Generic.Pixmoor.port.inport.image.memory_limit: 8000000\n"
      "Generic.Pixmoor.port.inport.image.buffer.length: 1024\n"
      "Generic.Pixmoor.port.inport.image.buffer.write.full_policy: do_nothing\n");
  ASSERT_TRUE(host.started());
  RTC::RTObject_var rtc = host.waitBound();
  ASSERT_FALSE(CORBA::is_nil(rtc)) << host.log();
  RTC::PortServiceList_var ports = rtc->get_ports();
  ASSERT_EQ(1u, ports->length());
  OpenRTM::InPortCdr_var cdr[3];
  for (int i = 0; i < 3; ++i) {
    const RTC::ReturnCode_t result = pixmoor_test::connectAsForeignProducer(
        pixmoor_test::orb(), ports[0], ("producer" + std::to_string(i)).c_str(), cdr[i]);
    EXPECT_EQ(i < 2 ? RTC::RTC_OK : RTC::RTC_ERROR, result) << i;
  }
  EXPECT_EQ(1u, countOf(host.log(), "connection_limit of 2 connections")) << host.log();

  const OpenRTM::CdrData frame = frameOf(640u * 480u);  // 1.2 MB
  const double before = residentMb(host.process().pid());
  int ok = 0, full = 0;
  for (int i = 0; i < 40; ++i) {
    const OpenRTM::PortStatus status = cdr[i % 2]->put(frame);
    ok += status == OpenRTM::PORT_OK ? 1 : 0;
    full += status == OpenRTM::BUFFER_FULL ? 1 : 0;
  }
  const double grown = residentMb(host.process().pid()) - before;
  std::printf("40 puts of 1.2 MB: %d PORT_OK, %d BUFFER_FULL, RSS +%.1f MB\n", ok, full, grown);
  EXPECT_EQ(6, ok);  // 8000000 / 1228812 bytes
  EXPECT_EQ(34, full);
  if (!pixmoor_test::kSanitizedBuild) {
    EXPECT_LT(grown, 8 + 6);
  }
  EXPECT_NE(std::string::npos, host.log().find("memory_limit of 8000000 bytes")) << host.log();
  int status = 0;
  expectCleanExit(host.stopWith(SIGTERM, &status), status, "SIGTERM");
}

// The real host's main and moduleInit, over a PixmoorInit whose component
// cannot be created in each of the ways the manager knows.
TEST(ComponentHost, FailedCreationPrintsOneLineAndAborts) {
  for (const char* mode : {"none", "null", "init"}) {
    SCOPED_TRACE(mode);
    Host host("", true, "tests/fixtures/FailingPixmoorComp",
              {std::string("PIXMOOR_FIXTURE_FAIL=") + mode});
    int status = 0;
    ASSERT_TRUE(host.process().waitExit(kExitTimeout, &status));
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGABRT, WTERMSIG(status));
    EXPECT_EQ("Component create failed.\n", host.process().stderrText());
    EXPECT_FALSE(host.isBound());
  }
}

}  // namespace
