// The manager service as the framework's tools use it: a master rtcd -d
// found on the name server, slaves it starts or that find it, components
// created and deleted through either, modules loaded and unloaded, and
// shutdown over CORBA.
#include <gtest/gtest.h>
#include <rtm/idl/ManagerSkel.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <map>
#include <memory>
#include <string>

#include "DisplayLock.h"
#include "FramePainter.h"
#include "TestSupport.h"
#include "XWindowCapture.h"

using namespace pixmoor_test;

namespace {

// Reads one string value out of an NVList ("" when absent).
std::string valueOf(const SDOPackage::NVList& list, const std::string& name) {
  for (CORBA::ULong i = 0; i < list.length(); ++i) {
    if (name == static_cast<const char*>(list[i].name)) {
      const char* text = nullptr;
      if (list[i].value >>= text) return text;
    }
  }
  return "";
}

bool listHas(const RTM::ModuleProfileList& list, const std::string& key,
             const std::string& needle) {
  for (CORBA::ULong i = 0; i < list.length(); ++i) {
    if (valueOf(list[i].properties, key).find(needle) != std::string::npos) return true;
  }
  return false;
}

// An rtcd with a configuration file of its own in `dir`, on 127.0.0.1.
class Host {
 public:
  Host(const std::string& dir, const std::string& name, const std::string& conf,
       const std::vector<std::string>& extraArgs = {})
      : m_log(dir + "/" + name + ".log") {
    const std::string file = dir + "/" + name + ".conf";
    writeFile(file, "corba.endpoint: 127.0.0.1:\nlogger.file_name: " + m_log +
                        "\nmanager.modules.load_path: " + buildPath("modules") +
                        "\nmanager.modules.C++.manager_cmd: " + buildPath("tools/rtcd/rtcd") +
                        "\n" + conf);
    std::vector<std::string> argv = {buildPath("tools/rtcd/rtcd"), "-f", file};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    m_process.reset(new ChildProcess(argv, {}, dir));
  }
  ChildProcess& process() { return *m_process; }
  std::string log() const { return readFile(m_log); }
  bool waitForLog(const std::string& line, double timeoutSec) const {
    return waitUntil([&] { return log().find(line) != std::string::npos; }, timeoutSec, 20);
  }

 private:
  std::string m_log;
  std::unique_ptr<ChildProcess> m_process;
};

RTM::Manager_ptr managerAt(const std::string& address) {
  CORBA::Object_var obj = orb()->string_to_object(("corbaloc::" + address + "/manager").c_str());
  return RTM::Manager::_narrow(obj);
}

// Joins `out`'s first port to `in`'s first port (push, new).
RTC::ReturnCode_t connectFirstPorts(RTC::RTObject_ptr out, RTC::RTObject_ptr in) {
  RTC::PortServiceList_var outs = out->get_ports();
  RTC::PortServiceList_var ins = in->get_ports();
  RTC::ConnectorProfile profile;
  profile.name = CORBA::string_dup("out_image");
  profile.connector_id = CORBA::string_dup("");
  profile.ports.length(2);
  profile.ports[0] = RTC::PortService::_duplicate(outs[0]);
  profile.ports[1] = RTC::PortService::_duplicate(ins[0]);
  profile.properties.length(3);
  const char* const keys[][2] = {{"dataport.interface_type", "corba_cdr"},
                                 {"dataport.dataflow_type", "push"},
                                 {"dataport.subscription_type", "new"}};
  for (CORBA::ULong i = 0; i < 3; ++i) {
    profile.properties[i].name = CORBA::string_dup(keys[i][0]);
    profile.properties[i].value <<= keys[i][1];
  }
  return outs[0]->connect(profile);
}

RTC::ReturnCode_t activate(RTC::RTObject_ptr comp) {
  RTC::ExecutionContextList_var contexts = comp->get_owned_contexts();
  return contexts[0]->activate_component(comp);
}

bool showsBars(const screencapture::WindowPixels& p, int width, int height) {
  std::vector<std::int32_t> pixels(static_cast<size_t>(width) * height);
  framesource::paintBars(pixels.data(), width, height);
  if (p.bgr.size() != pixels.size() * 3) return false;
  for (size_t i = 0; i < pixels.size(); ++i) {
    const std::uint32_t v = static_cast<std::uint32_t>(pixels[i]);
    if (p.bgr[i * 3] != (v & 0xff) || p.bgr[i * 3 + 1] != ((v >> 8) & 0xff) ||
        p.bgr[i * 3 + 2] != ((v >> 16) & 0xff)) {
      return false;
    }
  }
  return true;
}

pid_t pidOf(RTM::Manager_ptr mgr) {
  RTM::ManagerProfile_var profile = mgr->get_profile();
  return static_cast<pid_t>(std::stol(valueOf(profile->properties, "pid")));
}

class ManagerService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_names.start());
    m_dir = makeTempDir("managerservice");
    m_masterAddress = "127.0.0.1:" + std::to_string(freeTcpPort());
    m_common = "corba.nameservers: " + m_names.address() +
               "\ncorba.master_manager: " + m_masterAddress + "\n";
  }
  void TearDown() override { removeTree(m_dir); }

  // Starts `rtcd -d` and waits for its service to answer.
  std::unique_ptr<Host> startMaster(const std::string& extra = "") {
    std::unique_ptr<Host> master(new Host(m_dir, "master", m_common + extra, {"-d"}));
    EXPECT_TRUE(master->waitForLog("master manager service active", 20)) << master->log();
    return master;
  }

  NameServer m_names;
  std::string m_dir;
  std::string m_masterAddress;
  std::string m_common;
};

TEST_F(ManagerService, MasterIsNamedStartsASlavePerManagerNameAndEndsInOrder) {
  std::unique_ptr<Host> master = startMaster();
  const std::string mgrName = hostName() + ".host_cxt/manager.mgr";
  CORBA::Object_var bound = resolveName(m_names.corbaloc(), mgrName);
  ASSERT_FALSE(CORBA::is_nil(bound)) << master->log();
  RTM::Manager_var mgr = RTM::Manager::_narrow(bound);
  EXPECT_TRUE(mgr->is_master());
  RTM::ManagerProfile_var profile = mgr->get_profile();
  EXPECT_EQ("YES", valueOf(profile->properties, "is_master"));
  EXPECT_EQ(std::to_string(master->process().pid()), valueOf(profile->properties, "pid"));
  // The same object answers on corba.master_manager's port.
  RTM::Manager_var byPort = managerAt(m_masterAddress);
  RTM::ManagerProfile_var byPortProfile = byPort->get_profile();
  EXPECT_EQ(std::to_string(master->process().pid()), valueOf(byPortProfile->properties, "pid"));
  RTM::NVList_var config = mgr->get_configuration();
  EXPECT_EQ("YES", valueOf(config.in(), "manager.is_master"));
  EXPECT_EQ("C++", valueOf(config.in(), "manager.language"));
  EXPECT_EQ(RTC::RTC_OK, mgr->set_configuration("pixmoor.test", "1"));
  config = mgr->get_configuration();
  EXPECT_EQ("1", valueOf(config.in(), "pixmoor.test"));
  EXPECT_EQ(RTC::UNSUPPORTED, mgr->fork());
  EXPECT_EQ(RTC::UNSUPPORTED, mgr->restart());
  CORBA::Object_var service = mgr->get_service("anything");
  EXPECT_TRUE(CORBA::is_nil(service));

  // A master hosts nothing itself: manager_name names the slave, which it
  // starts, and a second creation with the same name goes to the same one.
  RTC::RTObject_var source = mgr->create_component("FrameSource?manager_name=src&");
  ASSERT_FALSE(CORBA::is_nil(source)) << master->log();
  RTC::RTObject_var second = mgr->create_component("FrameSource?manager_name=src");
  ASSERT_FALSE(CORBA::is_nil(second)) << master->log();
  RTM::ManagerList_var slaves = mgr->get_slave_managers();
  ASSERT_EQ(1u, slaves->length());
  RTM::NVList_var slaveConfig = slaves[0]->get_configuration();
  EXPECT_EQ("src", valueOf(slaveConfig.in(), "manager.instance_name"));
  EXPECT_EQ("NO", valueOf(slaveConfig.in(), "manager.is_master"));
  EXPECT_EQ(m_names.address(), valueOf(slaveConfig.in(), "corba.nameservers"));
  RTM::ManagerProfile_var slaveProfile = slaves[0]->get_profile();
  const std::string slavePid = valueOf(slaveProfile->properties, "pid");
  EXPECT_NE(std::to_string(master->process().pid()), slavePid);
  RTM::ManagerList_var slavesMasters = slaves[0]->get_master_managers();
  ASSERT_EQ(1u, slavesMasters->length());
  RTM::ManagerProfile_var itsMaster = slavesMasters[0]->get_profile();
  EXPECT_EQ(std::to_string(master->process().pid()), valueOf(itsMaster->properties, "pid"));
  // The slave uses its master's name servers.
  CORBA::Object_var named =
      resolveName(m_names.corbaloc(), hostName() + ".host_cxt/FrameSource1.rtc");
  EXPECT_TRUE(!CORBA::is_nil(named) && named->_is_equivalent(second));

  // The lists: the master adds its slaves' components.
  RTC::RTCList_var comps = mgr->get_components();
  EXPECT_EQ(2u, comps->length());
  RTC::ComponentProfileList_var profiles = mgr->get_component_profiles();
  ASSERT_EQ(2u, profiles->length());
  EXPECT_STREQ("FrameSource0", profiles[0].instance_name);
  RTC::RTCList_var byName = mgr->get_components_by_name("FrameSource1");
  ASSERT_EQ(1u, byName->length());
  EXPECT_TRUE(byName[0]->_is_equivalent(second));
  RTC::RTCList_var byCategory =
      mgr->get_components_by_name((std::string(profiles[0].category) + "/FrameSource0").c_str());
  EXPECT_EQ(1u, byCategory->length());
  RTM::ModuleProfileList_var factories = slaves[0]->get_factory_profiles();
  EXPECT_TRUE(listHas(factories.in(), "implementation_id", "FrameSource"));

  // delete_component through the master; the slave ends with its last one.
  EXPECT_EQ(RTC::BAD_PARAMETER, mgr->delete_component("NoSuchComponent0"));
  EXPECT_EQ(RTC::RTC_OK, mgr->delete_component("FrameSource1"));
  EXPECT_EQ(RTC::RTC_OK, mgr->delete_component("FrameSource0"));
  EXPECT_TRUE(waitUntil(
      [&] {
        RTM::ManagerList_var now = mgr->get_slave_managers();
        return now->length() == 0;
      },
      10))
      << master->log();
  EXPECT_TRUE(master->waitForLog("slave manager (pid " + slavePid + ") exited with status 0", 10))
      << master->log();

  // A master's shutdown ends the slaves it started.
  RTC::RTObject_var third = mgr->create_component("FrameSource?manager_name=other");
  ASSERT_FALSE(CORBA::is_nil(third)) << master->log();
  RTM::ManagerList_var others = mgr->get_slave_managers();
  ASSERT_EQ(1u, others->length());
  RTM::ManagerProfile_var otherProfile = others[0]->get_profile();
  const pid_t otherPid = std::stoi(valueOf(otherProfile->properties, "pid"));

  // shutdown over CORBA: answered, then the process ends in order and its
  // name is gone.
  EXPECT_EQ(RTC::RTC_OK, mgr->shutdown());
  int status = -1;
  ASSERT_TRUE(master->process().waitExit(20, &status)) << master->log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(resolveName(m_names.corbaloc(), mgrName))));
  EXPECT_NE(std::string::npos, master->log().find("shut down in")) << master->log();
  EXPECT_NE(std::string::npos,
            master->log().find("slave manager (pid " + std::to_string(otherPid) + ") exited"))
      << master->log();
  EXPECT_TRUE(::kill(otherPid, 0) != 0 && errno == ESRCH);
}

TEST_F(ManagerService, ASlaveStartedFirstRegistersAndServesModulesAndComponents) {
  Host slave(m_dir, "slave",
             m_common +
                 "corba.update_master_manager.interval: 0.5\nmanager.instance_name: s1\n"
                 "manager.shutdown_on_nortcs: NO\n");
  ASSERT_TRUE(slave.waitForLog("no master manager answers at " + m_masterAddress, 20))
      << slave.log();
  RTM::Manager_var slaveMgr = RTM::Manager::_nil();
  std::unique_ptr<Host> master = startMaster();
  RTM::Manager_var mgr = managerAt(m_masterAddress);
  const double registered = now();
  ASSERT_TRUE(waitUntil(
      [&] {
        RTM::ManagerList_var slaves = mgr->get_slave_managers();
        if (slaves->length() == 0) return false;
        slaveMgr = RTM::Manager::_duplicate(slaves[0]);
        return true;
      },
      5))
      << slave.log();
  std::printf("the slave registered %.2f s after its master answered\n", now() - registered);
  EXPECT_FALSE(slaveMgr->is_master());

  // Modules through the same checks as the preload.
  RTM::ModuleProfileList_var loadable = slaveMgr->get_loadable_modules();
  EXPECT_TRUE(listHas(loadable.in(), "file_path", "/FrameSource.so"));
  EXPECT_EQ(RTC::RTC_ERROR, slaveMgr->load_module("FrameSource.so", "NoSuchInit"));
  EXPECT_EQ(RTC::RTC_ERROR, slaveMgr->load_module("Missing.so", ""));
  EXPECT_EQ(RTC::BAD_PARAMETER, slaveMgr->load_module("", ""));
  EXPECT_EQ(RTC::RTC_OK, slaveMgr->load_module("FrameSource.so", ""));
  EXPECT_EQ(RTC::RTC_OK, slaveMgr->load_module("FrameSource.so", ""));
  RTM::ModuleProfileList_var loaded = slaveMgr->get_loaded_modules();
  ASSERT_EQ(1u, loaded->length());
  EXPECT_TRUE(listHas(loaded.in(), "file_path", "/FrameSource.so"));
  RTM::ModuleProfileList_var factories = slaveMgr->get_factory_profiles();
  ASSERT_EQ(1u, factories->length());
  EXPECT_EQ("FrameSource", valueOf(factories[0].properties, "implementation_id"));

  // A slave creates locally; the master sees it and can delete it.
  RTC::RTObject_var comp = slaveMgr->create_component("FrameSource?instance_name=cam");
  ASSERT_FALSE(CORBA::is_nil(comp)) << slave.log();
  RTC::RTObject_var none = slaveMgr->create_component("NoSuchType");
  EXPECT_TRUE(CORBA::is_nil(none));
  RTC::RTCList_var seen = mgr->get_components_by_name("cam");
  EXPECT_EQ(1u, seen->length());
  EXPECT_EQ(RTC::RTC_ERROR, slaveMgr->unload_module("FrameSource.so"));
  EXPECT_EQ(RTC::RTC_OK, slaveMgr->delete_component("cam"));
  EXPECT_EQ(RTC::BAD_PARAMETER, slaveMgr->delete_component("cam"));
  EXPECT_EQ(RTC::RTC_OK, slaveMgr->unload_module("FrameSource.so"));
  EXPECT_EQ(RTC::BAD_PARAMETER, slaveMgr->unload_module("FrameSource.so"));
  factories = slaveMgr->get_factory_profiles();
  EXPECT_EQ(0u, factories->length());
  loaded = slaveMgr->get_loaded_modules();
  EXPECT_EQ(0u, loaded->length());
  // Loaded again, its init function runs again.
  EXPECT_EQ(RTC::RTC_OK, slaveMgr->load_module(buildPath("modules/FrameSource.so").c_str(), ""));
  factories = slaveMgr->get_factory_profiles();
  EXPECT_EQ(1u, factories->length());

  // A slave's shutdown leaves its master first.
  EXPECT_EQ(RTC::RTC_OK, slaveMgr->shutdown());
  int status = -1;
  ASSERT_TRUE(slave.process().waitExit(20, &status)) << slave.log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  RTM::ManagerList_var after = mgr->get_slave_managers();
  EXPECT_EQ(0u, after->length());
  EXPECT_TRUE(master->waitForLog("slave manager unregistered", 5)) << master->log();
  master->process().signal(SIGTERM);
  EXPECT_TRUE(master->process().waitExit(20));
}

// What the manager service is for with this viewer: highgui allows one
// viewer per process, so each viewer goes to a slave process of its own.
TEST_F(ManagerService, EachViewerCreatedWithAManagerNameShowsFramesInItsOwnProcess) {
  if (screencapture::displayName().empty()) {
    GTEST_SKIP() << "DISPLAY is not set: no X server to show on";
  }
  DisplayLock lock;
  const int width = 160, height = 120;
  std::unique_ptr<Host> master = startMaster(
      "Generic.Pixmoor.conf.default.input_image_width: 160\n"
      "Generic.Pixmoor.conf.default.input_image_height: 120\n"
      "Generic.FrameSource.conf.default.width: 160\n"
      "Generic.FrameSource.conf.default.height: 120\n"
      "Generic.FrameSource.exec_cxt.periodic.rate: 30\n"
      "exec_cxt.transition_timeout: 5\n");
  RTM::Manager_var mgr = managerAt(m_masterAddress);
  RTC::RTObject_var source = mgr->create_component("FrameSource?manager_name=src");
  RTC::RTObject_var first = mgr->create_component("Pixmoor?manager_name=viewer1&instance_name=v1");
  RTC::RTObject_var second = mgr->create_component("Pixmoor?manager_name=viewer2&instance_name=v2");
  ASSERT_FALSE(CORBA::is_nil(source) || CORBA::is_nil(first) || CORBA::is_nil(second))
      << master->log();
  RTM::ManagerList_var slaves = mgr->get_slave_managers();
  ASSERT_EQ(3u, slaves->length());
  std::map<std::string, pid_t> pids;
  for (CORBA::ULong i = 0; i < slaves->length(); ++i) {
    RTM::NVList_var config = slaves[i]->get_configuration();
    pids[valueOf(config.in(), "manager.instance_name")] = pidOf(slaves[i]);
  }
  ASSERT_EQ(3u, pids.size());
  EXPECT_NE(pids["viewer1"], pids["viewer2"]);

  ASSERT_EQ(RTC::RTC_OK, connectFirstPorts(source, first));
  ASSERT_EQ(RTC::RTC_OK, connectFirstPorts(source, second));
  EXPECT_EQ(RTC::RTC_OK, activate(first));
  EXPECT_EQ(RTC::RTC_OK, activate(second));
  EXPECT_EQ(RTC::RTC_OK, activate(source));
  screencapture::XWindowCapture capture;
  screencapture::WindowPixels pixels;
  for (const char* viewer : {"viewer1", "viewer2"}) {
    SCOPED_TRACE(viewer);
    EXPECT_TRUE(capture.waitForPixels(
        "Pixmoor.exe", pids[viewer], width, height,
        [&](const screencapture::WindowPixels& p) { return showsBars(p, width, height); }, 60,
        &pixels))
        << master->log();
  }

  // Deleting the only component of a slave ends the slave.
  EXPECT_EQ(RTC::RTC_OK, mgr->delete_component("v2"));
  EXPECT_TRUE(master->waitForLog(
      "slave manager (pid " + std::to_string(pids["viewer2"]) + ") exited with status 0", 20))
      << master->log();
  EXPECT_EQ(RTC::RTC_OK, mgr->shutdown());
  ASSERT_TRUE(master->process().waitExit(30)) << master->log();
  for (const auto& slave : pids) {
    EXPECT_TRUE(::kill(slave.second, 0) != 0 && errno == ESRCH) << slave.first;
  }
}

// rtmctl's manager commands, as a user types them; each fails with exit 1.
TEST_F(ManagerService, RtmctlFindsCreatesDeletesAndLoadsThroughManagers) {
  std::unique_ptr<Host> master = startMaster();
  auto rtmctl = [](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {buildPath("tools/rtmctl/rtmctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess tool(argv);
    int status = -1;
    EXPECT_TRUE(tool.waitExit(60, &status));
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                          tool.stdoutText() + tool.stderrText());
  };
  const std::string ns = "/" + m_names.address();
  const std::string named = ns + "/" + hostName() + ".host_cxt/manager.mgr";
  auto listed = rtmctl({"managers", ns});
  EXPECT_EQ(0, listed.first) << listed.second;
  EXPECT_NE(std::string::npos,
            listed.second.find(named + "  master  instance manager  pid " +
                               std::to_string(master->process().pid()) + "  slaves 0"))
      << listed.second;
  auto created = rtmctl({"create", named, "FrameSource?manager_name=tools"});
  EXPECT_EQ(0, created.first) << created.second;
  EXPECT_EQ("created FrameSource0\n", created.second);
  listed = rtmctl({"managers", ns});
  EXPECT_NE(std::string::npos, listed.second.find("slaves 1 (tools pid ")) << listed.second;
  auto modules = rtmctl({"modules", m_masterAddress});
  EXPECT_EQ(0, modules.first) << modules.second;
  EXPECT_NE(std::string::npos, modules.second.find("/FrameSource.so\n")) << modules.second;
  auto bad = rtmctl({"load", m_masterAddress, "NoSuchModule.so"});
  EXPECT_EQ(1, bad.first) << bad.second;
  EXPECT_NE(std::string::npos, bad.second.find("loading NoSuchModule.so failed: RTC_ERROR"))
      << bad.second;
  auto loaded = rtmctl({"load", m_masterAddress, "FrameSource.so"});
  EXPECT_EQ(0, loaded.first) << loaded.second;
  auto deleted = rtmctl({"delete", named, "FrameSource0"});
  EXPECT_EQ(0, deleted.first) << deleted.second;
  auto again = rtmctl({"delete", named, "FrameSource0"});
  EXPECT_EQ(1, again.first) << again.second;
  EXPECT_NE(std::string::npos, again.second.find("BAD_PARAMETER (no such component)"));
  auto nobody = rtmctl({"create", "127.0.0.1:1", "FrameSource"});
  EXPECT_EQ(1, nobody.first) << nobody.second;
  auto wrong = rtmctl({"create", "nonsense", "FrameSource"});
  EXPECT_EQ(2, wrong.first) << wrong.second;
  for (const char* command : {"managers", "create", "delete", "modules", "load", "watch", "log"}) {
    auto help = rtmctl({command, "--help"});
    EXPECT_EQ(0, help.first) << command;
    EXPECT_EQ(0u, help.second.find(std::string("Usage: rtmctl ") + command)) << help.second;
  }
  master->process().signal(SIGTERM);
  EXPECT_TRUE(master->process().waitExit(30));
}

TEST_F(ManagerService, DashAHostHasNoServiceAndNoMasterIsOneInfoLine) {
  Host plain(m_dir, "plain", m_common + "corba.update_master_manager.enable: NO\n");
  ASSERT_TRUE(plain.waitForLog("manager active", 20)) << plain.log();
  Host quiet(m_dir, "quiet", m_common, {"-a"});
  ASSERT_TRUE(quiet.waitForLog("manager active", 20)) << quiet.log();
  EXPECT_EQ(std::string::npos, quiet.log().find("manager service")) << quiet.log();
  EXPECT_TRUE(plain.waitForLog("INFO: manager: no master manager answers at", 5)) << plain.log();
  plain.process().signal(SIGTERM);
  quiet.process().signal(SIGTERM);
  EXPECT_TRUE(plain.process().waitExit(20));
  EXPECT_TRUE(quiet.process().waitExit(20));
}

}  // namespace
