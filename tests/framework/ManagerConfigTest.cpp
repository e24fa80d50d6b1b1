#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "manager/ManagerConfig.h"
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
  RTC::ManagerConfig bad;
  coil::Properties p = run({"-p", "28x0", "-p", "70000", "-o", "novalue", "-f"}, bad);
  EXPECT_EQ(p.getProperty("corba.endpoints"), "");
  EXPECT_EQ(bad.warnings().size(), 4u);
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

}  // namespace
