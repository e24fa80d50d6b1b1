#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "manager/ComponentProperties.h"
#include "manager/DeploymentPlan.h"
#include "manager/ManagerConfig.h"
#include "manager/NamingTimer.h"
#include "manager/OrbArguments.h"
#include "TestSupport.h"

namespace {

class ManagerConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = pixmoor_test::makeTempDir("managerconfig");
    unsetenv("RTC_MANAGER_CONFIG");
  }
  void TearDown() override {
    unsetenv("RTC_MANAGER_CONFIG");
    pixmoor_test::removeTree(m_dir);
  }

  // Parses `args` (without the program name) with the search confined to
  // the test's directory.
  coil::Properties run(std::vector<std::string> args, RTC::ManagerConfig& config,
                       std::vector<std::string> search = {}) {
    args.insert(args.begin(), "PixmoorComp");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    config.setSearchPaths(search);
    config.parseArgs(static_cast<int>(args.size()), argv.data());
    return config.configure();
  }

  std::string m_dir;
};

TEST_F(ManagerConfigTest, DefaultsApplyWithoutAnyFile) {
  RTC::ManagerConfig config;
  coil::Properties p = run({}, config, {m_dir + "/absent.conf"});
  EXPECT_EQ(config.configFile(), "");
  EXPECT_TRUE(config.warnings().empty());
  EXPECT_EQ(p.getProperty("corba.nameservers"), "localhost");
  EXPECT_EQ(p.getProperty("naming.formats"), "%h.host_cxt/%n.rtc");
  EXPECT_EQ(p.getProperty("naming.update.interval"), "10.0");
  EXPECT_EQ(p.getProperty("logger.file_name"), "./rtc%p.log");
  EXPECT_EQ(p.getProperty("logger.date_format"), "%b %d %H:%M:%S.%Q");
  EXPECT_EQ(p.getProperty("exec_cxt.periodic.type"), "PeriodicExecutionContext");
  EXPECT_EQ(p.getProperty("exec_cxt.periodic.rate"), "1000");
  EXPECT_EQ(p.getProperty("exec_cxt.transition_timeout"), "0.5");
  EXPECT_EQ(p.getProperty("manager.shutdown_on_nortcs"), "YES");
}

TEST_F(ManagerConfigTest, FileThenCommandLineInTheOrderGiven) {
  const std::string file = m_dir + "/my.conf";
  pixmoor_test::writeFile(file,
                          "corba.nameservers: 127.0.0.1:2900\n"
                          "exec_cxt.periodic.rate = 30\n"
                          "logger.log_level: DEBUG\n"
                          "this line is broken\n");
  RTC::ManagerConfig config;
  coil::Properties p = run({"-f", file, "-o", "exec_cxt.periodic.rate:60", "-p", "2810", "-a",
                            "-ORBendPoint", "giop:tcp:127.0.0.1:", "-x", "-d",
                            "-ologger.log_level=TRACE", "-o", "corba.endpoints: host:1"},
                           config);
  EXPECT_EQ(config.configFile(), file);
  EXPECT_EQ(p.getProperty("corba.nameservers"), "127.0.0.1:2900");
  EXPECT_EQ(p.getProperty("exec_cxt.periodic.rate"), "60");
  EXPECT_EQ(p.getProperty("logger.log_level"), "TRACE");
  EXPECT_EQ(p.getProperty("corba.endpoints"), "host:1") << "a later -o wins over -p";
  EXPECT_EQ(p.getProperty("manager.corba_servant"), "NO");
  EXPECT_EQ(p.getProperty("manager.is_master"), "YES");
  ASSERT_EQ(config.warnings().size(), 1u);
  EXPECT_EQ(config.warnings()[0].find(file + ":4:"), 0u) << config.warnings()[0];
}

TEST_F(ManagerConfigTest, PortOptionSetsTheEndpointAndRefusesNonsense) {
  RTC::ManagerConfig good;
  // corba.endpoints, the key the manager reads first, so -p also beats a
  // file that sets it.
  EXPECT_EQ(run({"-p2810"}, good).getProperty("corba.endpoints"), ":2810");
  // Both ends of the range are ports.
  for (const char* port : {"0", "65535"}) {
    RTC::ManagerConfig edge;
    EXPECT_EQ(run({"-p", port}, edge).getProperty("corba.endpoints"), std::string(":") + port);
    EXPECT_TRUE(edge.warnings().empty()) << port;
  }
  RTC::ManagerConfig bad;
  coil::Properties p =
      run({"-p", "28x0", "-p", "70000", "-p", "65536", "-o", "novalue", "-f"}, bad);
  EXPECT_EQ(p.getProperty("corba.endpoints"), "");
  EXPECT_EQ(bad.warnings().size(), 5u);
}

TEST_F(ManagerConfigTest, HelpIsAskedForByDashHOrDashDashHelpOnly) {
  struct Case {
    std::vector<std::string> args;
    bool help;
  } cases[] = {
      {{"-h"}, true},
      {{"-f", "x.conf", "--help"}, true},
      {{"-o", "a:b", "-h", "-p", "2810"}, true},
      {{}, false},
      {{"-help"}, false},
      {{"-hx"}, false},
      {{"-o", "-h"}, false},  // the value of -o
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    RTC::ManagerConfig config;
    run(c.args, config, {m_dir + "/absent.conf"});
    EXPECT_EQ(c.help, config.helpRequested());
  }
  const std::string usage = RTC::ManagerConfig::usage("/opt/bin/rtcd");
  EXPECT_EQ(0u, usage.find("usage: rtcd [-f FILE]")) << usage;
  for (const char* option : {"-o", "-p PORT", "-a    ", "-d    ", "--help"}) {
    EXPECT_NE(std::string::npos, usage.find(option)) << option;
  }
}

TEST_F(ManagerConfigTest, UnreadableFileGivenWithDashFIsReported) {
  RTC::ManagerConfig config;
  coil::Properties p = run({"-f", m_dir + "/missing.conf"}, config, {});
  EXPECT_EQ(config.configFile(), "");
  ASSERT_EQ(config.warnings().size(), 1u);
  EXPECT_NE(config.warnings()[0].find("missing.conf"), std::string::npos);
  EXPECT_EQ(p.getProperty("naming.enable"), "YES");
}

TEST_F(ManagerConfigTest, SearchUsesEnvironmentThenFirstExistingFile) {
  const std::string second = m_dir + "/second.conf";
  const std::string third = m_dir + "/third.conf";
  const std::string fromEnv = m_dir + "/env.conf";
  pixmoor_test::writeFile(second, "naming.enable: NO\n");
  pixmoor_test::writeFile(third, "naming.enable: MAYBE\n");
  pixmoor_test::writeFile(fromEnv, "naming.enable: ENV\n");
  std::vector<std::string> search = {m_dir + "/first.conf", second, third};

  RTC::ManagerConfig plain;
  EXPECT_EQ(run({}, plain, search).getProperty("naming.enable"), "NO");
  EXPECT_EQ(plain.configFile(), second);

  setenv("RTC_MANAGER_CONFIG", fromEnv.c_str(), 1);
  RTC::ManagerConfig env;
  EXPECT_EQ(run({}, env, search).getProperty("naming.enable"), "ENV");

  setenv("RTC_MANAGER_CONFIG", (m_dir + "/gone.conf").c_str(), 1);
  RTC::ManagerConfig gone;
  EXPECT_EQ(run({}, gone, search).getProperty("naming.enable"), "NO");
  EXPECT_EQ(gone.warnings().size(), 1u);

  RTC::ManagerConfig explicitFile;
  EXPECT_EQ(run({"-f", third}, explicitFile, search).getProperty("naming.enable"), "MAYBE");
}

TEST(NamingFormat, ExpandsEveryFormatCharacter) {
  coil::Properties comp;
  comp["implementation_id"] = "Pixmoor";
  comp["instance_name"] = "Pixmoor3";
  comp["type_name"] = "PixType";
  comp["version"] = "1.0.0";
  comp["vendor"] = "Acme";
  comp["category"] = "Generic";
  coil::Properties manager;
  manager["os.hostname"] = "box";
  manager["manager.name"] = "mgr";
  EXPECT_EQ(RTC::formatName("%h.host_cxt/%n.rtc", comp, manager), "box.host_cxt/Pixmoor3.rtc");
  EXPECT_EQ(RTC::formatName("%t|%m|%v|%V|%c|%i|%N|%M|%%|%q|%", comp, manager),
            "PixType|PixType|1.0.0|Acme|Generic|Pixmoor|3|mgr|%|%q|%");
  EXPECT_EQ(RTC::formatName("%p", comp, manager), std::to_string(getpid()));
  manager.removeProperty("os.hostname");
  EXPECT_EQ(RTC::formatName("%h", comp, manager), pixmoor_test::hostName());
  comp["instance_name"] = "Other0";
  EXPECT_EQ(RTC::formatName("%N", comp, manager), "Other0");
}

TEST(OrbArguments, UserArgumentsThenEndpointsThenTheMessageLimitUnlessSet) {
  const std::vector<std::string> limit = {"-ORBgiopMaxMsgSize", RTC::kGiopMaxMsgSize};
  struct Case {
    const char* args;
    const char* endpoints;  // corba.endpoints
    const char* endpoint;   // corba.endpoint
    std::vector<std::string> expected;  // after the program name
    const char* endpointText;
    const char* master = nullptr;  // corba.master_manager of a master
  } cases[] = {
      {"", "", "", limit, ""},
      {"", "", "127.0.0.1:", {"-ORBendPoint", "giop:tcp:127.0.0.1:", limit[0], limit[1]},
       "giop:tcp:127.0.0.1:"},
      // -p writes corba.endpoints, which beats an endpoint from the file.
      {"", ":2810", "127.0.0.1:", {"-ORBendPoint", "giop:tcp::2810", limit[0], limit[1]},
       "giop:tcp::2810"},
      {"", "a:1, giop:unix:/tmp/s,, b:", "",
       {"-ORBendPoint", "giop:tcp:a:1", "-ORBendPoint", "giop:unix:/tmp/s", "-ORBendPoint",
        "giop:tcp:b:", limit[0], limit[1]},
       "giop:tcp:a:1, giop:unix:/tmp/s, giop:tcp:b:"},
      {"  -ORBtraceLevel   5 ", "", "h:",
       {"-ORBtraceLevel", "5", "-ORBendPoint", "giop:tcp:h:", limit[0], limit[1]}, "giop:tcp:h:"},
      {"-ORBgiopMaxMsgSize 4194304", "", "", {"-ORBgiopMaxMsgSize", "4194304"}, ""},
      // A master also listens on corba.master_manager's port, on the hosts
      // of the endpoints only.
      {"", "", "127.0.0.1:",
       {"-ORBendPoint", "giop:tcp:127.0.0.1:", "-ORBendPoint", "giop:tcp:127.0.0.1:2999", limit[0],
        limit[1]},
       "giop:tcp:127.0.0.1:", "localhost:2999"},
      {"", "", "", {"-ORBendPoint", "giop:tcp::2810", limit[0], limit[1]}, "", "localhost:2810"},
      {"", ":2810", "", {"-ORBendPoint", "giop:tcp::2810", limit[0], limit[1]}, "giop:tcp::2810",
       "localhost:2810"},
      {"-ORBserverCallTimeOutPeriod 500", "", "",
       {"-ORBserverCallTimeOutPeriod", "500", limit[0], limit[1]}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("corba.args '") + c.args + "', corba.endpoints '" + c.endpoints +
                 "', corba.endpoint '" + c.endpoint + "'");
    coil::Properties config;
    config["corba.args"] = c.args;
    config["corba.endpoints"] = c.endpoints;
    config["corba.endpoint"] = c.endpoint;
    if (c.master != nullptr) {
      config["manager.is_master"] = "YES";
      config["corba.master_manager"] = c.master;
    }
    RTC::OrbArguments orb = RTC::orbArguments(config);
    std::vector<std::string> expected = c.expected;
    expected.insert(expected.begin(), "manager");
    // A peer that stops half-way through a request holds its thread and
    // bytes only this long, unless the user says otherwise.
    if (std::string(c.args).find("serverCallTimeOutPeriod") == std::string::npos) {
      expected.push_back("-ORBserverCallTimeOutPeriod");
      expected.push_back(RTC::kServerCallTimeoutMs);
    }
    EXPECT_EQ(expected, orb.argv);
    EXPECT_EQ(c.endpointText, orb.endpoints);
  }
}

// "key=value;..." in the order the keys were set.
std::string entriesOf(const coil::Properties& p) {
  std::string out;
  for (const auto& entry : p.entries()) out += entry.first + "=" + entry.second + ";";
  return out;
}

TEST(ComponentProperties, ParseCompArgsSplitsTheIdFromItsParameters) {
  struct Case {
    const char* args;
    const char* id;
    const char* params;
  } cases[] = {
      {"Probe", "Probe", ""},
      {"", "", ""},
      {" Probe ?instance_name= x &level=3", "Probe", "instance_name=x;level=3;"},
      {"Probe?flag&=skipped&&k=a=b", "Probe", "flag=;k=a=b;"},
      {"RTC:tests:Tests:Numbered:C++:2.0.1", "Numbered", ""},
      {"RTC:tests:Tests:Numbered?level=1", "Numbered", "level=1;"},
      {"RTC:a:b", "RTC:a:b", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    coil::Properties params;
    EXPECT_EQ(c.id, RTC::parseCompArgs(c.args, params));
    EXPECT_EQ(c.params, entriesOf(params));
  }
}

class ComponentPropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override { m_dir = pixmoor_test::makeTempDir("componentproperties"); }
  void TearDown() override { pixmoor_test::removeTree(m_dir); }
  std::string m_dir;
};

// Each key is given in some of the layers; the last layer that has it wins.
TEST_F(ComponentPropertiesTest, LaterLayersWinAndTheManagersContextOnlyFillsGaps) {
  struct Row {
    const char* key;
    const char* profile;   // the factory's profile
    const char* manager;   // the manager's own key (exec_cxt.* only)
    const char* typeFile;  // Tests.Probe.config_file
    const char* typeKey;   // Tests.Probe.<key>
    const char* instFile;  // Tests.Probe7.config_file
    const char* instKey;   // Tests.Probe7.<key>
    const char* param;     // createComponent's "?key=value"
    const char* expected;
  } rows[] = {
      {"a", "p", "", "", "", "", "", "", "p"},
      {"exec_cxt.x", "p", "m", "", "", "", "", "", "p"},
      {"exec_cxt.y", "", "m", "", "", "", "", "", "m"},
      {"exec_cxt.z", "", "m", "tf", "", "", "", "", "tf"},
      {"b", "p", "", "tf", "tk", "", "", "", "tk"},
      {"c", "p", "", "", "tk", "if", "", "", "if"},
      {"d", "", "", "tf", "", "if", "ik", "", "ik"},
      {"e", "p", "", "", "tk", "", "ik", "arg", "arg"},
      {"instance_name", "p", "", "", "tk", "", "ik", "arg", "Probe7"},
  };
  coil::Properties profile;
  profile["implementation_id"] = "ProbeId";
  profile["category"] = "Tests";
  coil::Properties config;
  coil::Properties params;
  std::string typeFile, instFile;
  for (const Row& r : rows) {
    auto set = [&r](coil::Properties& p, const std::string& key, const char* value) {
      if (value[0] != '\0') p[key] = value;
    };
    set(profile, r.key, r.profile);
    set(config, r.key, r.manager);
    set(config, std::string("Tests.Probe.") + r.key, r.typeKey);
    set(config, std::string("Tests.Probe7.") + r.key, r.instKey);
    set(params, r.key, r.param);
    if (r.typeFile[0] != '\0') typeFile += std::string(r.key) + ": " + r.typeFile + "\n";
    if (r.instFile[0] != '\0') instFile += std::string(r.key) + ": " + r.instFile + "\n";
  }
  pixmoor_test::writeFile(m_dir + "/type.conf", typeFile + "no separator here\n");
  pixmoor_test::writeFile(m_dir + "/instance.conf", instFile);
  config["Tests.Probe.config_file"] = m_dir + "/type.conf";
  config["Tests.Probe7.config_file"] = m_dir + "/instance.conf";

  std::vector<std::string> problems;
  coil::Properties prop = RTC::typeProperties(profile, "Probe", config, &problems);
  RTC::addInstanceProperties(prop, "Tests", "Probe7", params, config, &problems);
  for (const Row& r : rows) EXPECT_EQ(r.expected, prop.getProperty(r.key)) << r.key;
  ASSERT_EQ(1u, problems.size());
  EXPECT_EQ(0u, problems[0].find(m_dir + "/type.conf: ")) << problems[0];

  config["Tests.Probe7.config_file"] = m_dir + "/absent.conf";
  problems.clear();
  coil::Properties again = RTC::typeProperties(profile, "Probe", config, &problems);
  RTC::addInstanceProperties(again, "Tests", "Probe7", params, config, &problems);
  ASSERT_EQ(2u, problems.size());
  EXPECT_EQ("cannot read Tests.Probe7.config_file '" + m_dir + "/absent.conf'", problems[1]);
  EXPECT_EQ("ik", again.getProperty("d")) << "an unreadable file leaves the keys";
}

// Names from precreate with '/' or ".." made naming contexts that stayed on
// the name server after shutdown, and 100,000 characters were taken.
TEST(ComponentProperties, InstanceNamesAreOneNamingComponentOfSaneLength) {
  const struct {
    std::string name;
    const char* problem;  // "" when taken
  } rows[] = {
      {"Pixmoor0", ""},
      {"left_camera-2", ""},
      {std::string(RTC::kMaxInstanceNameLength, 'v'), ""},
      {std::string(RTC::kMaxInstanceNameLength + 1, 'v'), "is 256 characters long; at most 255"},
      {std::string(100000, 'v'), "is 100000 characters long"},
      {"a/b", "contains '/'"},
      {"..", "contains '.'"},
      {"viewer.rtc", "contains '.'"},
      {"a\\.b", "contains '\\'"},
      {"tab\tname", "contains a control character"},
  };
  for (const auto& row : rows) {
    const std::string problem = RTC::instanceNameProblem(row.name);
    EXPECT_EQ(problem.empty(), *row.problem == 0) << row.name.substr(0, 40) << ": " << problem;
    EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
  }
}

TEST(ComponentProperties, NamingNamesComeFromTheComponentsFormatsElseTheManagers) {
  struct Case {
    const char* own;  // nullptr: the component has no naming.formats
    const char* manager;
    std::vector<std::string> names;
  } cases[] = {
      {nullptr, "%n.rtc", {"Probe0.rtc"}},
      {"a/%n.rtc, ,%t.x", "%n.rtc", {"a/Probe0.rtc", "Probe.x"}},
      {"", "%n.rtc", {}},
      {nullptr, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.own != nullptr ? c.own : "<none>") + " / " + c.manager);
    coil::Properties prop;
    prop["instance_name"] = "Probe0";
    prop["type_name"] = "Probe";
    if (c.own != nullptr) prop["naming.formats"] = c.own;
    coil::Properties config;
    config["naming.formats"] = c.manager;
    EXPECT_EQ(c.names, RTC::addNamingNames(prop, config));
    std::string joined;
    for (const std::string& n : c.names) joined += (joined.empty() ? "" : ",") + n;
    EXPECT_EQ(joined, prop.getProperty("naming.names", "<unset>"));
  }
}

TEST(NamingTimer, IntervalFallsBackToTenSecondsAndStaysWithinADay) {
  const std::pair<const char*, double> cases[] = {
      {"", 10.0},   {"abc", 10.0},  {"0", 10.0},   {"-1", 10.0},
      {"nan", 10.0}, {"0.01", 0.1}, {"2.5", 2.5}, {"1e9", 86400.0},
  };
  for (const auto& c : cases) {
    coil::Properties config;
    config["naming.update.interval"] = c.first;
    EXPECT_DOUBLE_EQ(c.second, RTC::NamingTimer::intervalOf(config)) << "'" << c.first << "'";
  }
}

}  // namespace

namespace deployment {

std::string portsOf(const RTC::ConnectionEntry& c) {
  std::string out;
  for (const RTC::PortRef& p : c.ports) {
    out += (p.component.remote() ? p.component.server + "/" + p.component.path
                                 : p.component.instance) +
           ":" + p.portName + ";";
  }
  return out;
}

std::string propertiesOf(const RTC::ConnectionEntry& c) {
  std::string out;
  for (const auto& p : c.properties) out += p.first + "=" + p.second + ";";
  return out;
}

TEST(DeploymentPlan, PreloadEntriesNameTheFileAndItsInitFunction) {
  struct Case {
    const char* entry;
    const char* file;  // "" when the entry is refused
    const char* init;
  } cases[] = {
      {"Pixmoor", "Pixmoor.so", "PixmoorInit"},
      {" Pixmoor.so ", "Pixmoor.so", "PixmoorInit"},
      {"libviewer.so(PixmoorInit)", "libviewer.so", "PixmoorInit"},
      {"libviewer.so ( PixmoorInit )", "libviewer.so", "PixmoorInit"},
      {"/opt/mods/FrameSource", "/opt/mods/FrameSource.so", "FrameSourceInit"},
      {"dir.d/Cam.1.2.so", "dir.d/Cam.1.2.so", "CamInit"},
      {"Pixmoor()", "", ""},
      {"Pixmoor(PixmoorInit", "", ""},
      {"(PixmoorInit)", "", ""},
      {"/opt/mods/", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    RTC::ModuleEntry module;
    std::string error;
    const bool ok = RTC::parseModuleEntry(c.entry, "so", module, error);
    EXPECT_EQ(c.file[0] != '\0', ok) << error;
    if (!ok) {
      EXPECT_NE(std::string::npos, error.find(c.entry)) << error;
      continue;
    }
    EXPECT_EQ(c.file, module.file);
    EXPECT_EQ(c.init, module.initFunc);
  }
}

TEST(DeploymentPlan, ModulesAreLookedUpAlongTheLoadPathAbsolutePathsOnlyWhenAllowed) {
  std::string error;
  EXPECT_EQ((std::vector<std::string>{"./M.so", "/opt/m/M.so"}),
            RTC::moduleCandidates("M.so", {"./", "/opt/m"}, false, error));
  EXPECT_EQ(std::vector<std::string>{"./M.so"}, RTC::moduleCandidates("M.so", {}, true, error));
  EXPECT_EQ(std::vector<std::string>{"/abs/M.so"},
            RTC::moduleCandidates("/abs/M.so", {"/opt/m"}, true, error));
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(RTC::moduleCandidates("/abs/M.so", {"/opt/m"}, false, error).empty());
  EXPECT_NE(std::string::npos, error.find("abs_path_allowed")) << error;
}

TEST(DeploymentPlan, PreconnectEntriesJoinLocalAndNamedPortsWithTheirProperties) {
  struct Case {
    const char* entry;
    const char* ports;       // "" when refused
    const char* properties;  // or a piece of the error
  } cases[] = {
      {"FrameSource0.out?port=Pixmoor0.image",
       "FrameSource0:FrameSource0.out;Pixmoor0:Pixmoor0.image;",
       "dataport.interface_type=corba_cdr;dataport.dataflow_type=push;"},
      {"rtcname://cam:2810/camhost.host_cxt/Camera0.out?port=Pixmoor0.image&"
       "subscription_type=new&dataflow_type=push&buffer.length=1",
       "cam:2810/camhost.host_cxt/Camera0.rtc:Camera0.out;Pixmoor0:Pixmoor0.image;",
       "dataport.subscription_type=new;dataport.dataflow_type=push;dataport.buffer.length=1;"
       "dataport.interface_type=corba_cdr;"},
      {"Pixmoor0.image?port=rtcname://localhost/a.host_cxt/b.ctx/Src0.out",
       "Pixmoor0:Pixmoor0.image;localhost:2809/a.host_cxt/b.ctx/Src0.rtc:Src0.out;",
       "dataport.interface_type=corba_cdr;dataport.dataflow_type=push;"},
      {"A0.out?port=B0.in&port=C0.in&port2=D0.in&interface_type=corba_cdr&dataport.inport.x=1",
       "A0:A0.out;B0:B0.in;C0:C0.in;D0:D0.in;",
       "dataport.interface_type=corba_cdr;dataport.inport.x=1;dataport.dataflow_type=push;"},
      {"A0.out?port=B0.in&interface_type=shared_memory&subscription_type=new",
       "A0:A0.out;B0:B0.in;",
       "dataport.interface_type=shared_memory;dataport.subscription_type=new;"
       "dataport.dataflow_type=push;"},
      {"A0.out", "", "no port to connect to"},
      {"A0.out?port=B0.in&novalue", "", "'novalue' is not key=value"},
      {"A0.out?port=B0.in&=x", "", "is not key=value"},
      {"A0?port=B0.in", "", "'A0' is not <component>.<port>"},
      {"A0.out?port=B0.", "", "'B0.' is not"},
      {"A0.out?portx=B0.in", "", "no port to connect to"},
      {"rtcname:///Src0.out?port=B0.in", "", "is not rtcname://host[:port]/path"},
      {"rtcname://host/ctx.host_cxt/Src0?port=B0.in", "", "is not <component>.<port>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    RTC::ConnectionEntry connection;
    std::string error;
    const bool ok = RTC::parseConnectionEntry(c.entry, connection, error);
    ASSERT_EQ(c.ports[0] != '\0', ok) << error;
    if (ok) {
      EXPECT_EQ(c.ports, portsOf(connection));
      EXPECT_EQ(c.properties, propertiesOf(connection));
    } else {
      EXPECT_NE(std::string::npos, error.find(c.properties)) << error;
    }
  }
}

TEST(DeploymentPlan, ActivationNamesAreLocalOrFoundThroughANameServer) {
  struct Case {
    const char* text;
    const char* instance;
    const char* server;
    const char* path;
    bool ok;
  } cases[] = {
      {"Pixmoor0", "Pixmoor0", "", "", true},
      {"rtcname://127.0.0.1:2900/h.host_cxt/FrameSource0", "", "127.0.0.1:2900",
       "h.host_cxt/FrameSource0.rtc", true},
      {"rtcname://cam/Camera0", "", "cam:2809", "Camera0.rtc", true},
      {"rtcname://cam", "", "", "", false},
      {"rtcname://cam/ctx/", "", "", "", false},
      {"", "", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RTC::ComponentRef ref;
    std::string error;
    ASSERT_EQ(c.ok, RTC::parseComponentRef(c.text, ref, error)) << error;
    EXPECT_EQ(c.instance, ref.instance);
    EXPECT_EQ(c.server, ref.server);
    EXPECT_EQ(c.path, ref.path);
  }
  EXPECT_EQ((std::vector<std::string>{"Pixmoor?instance_name=viewer&x=1", "FrameSource"}),
            RTC::splitEntries(" Pixmoor?instance_name=viewer&x=1 ,, FrameSource ,"));
}

}  // namespace deployment
