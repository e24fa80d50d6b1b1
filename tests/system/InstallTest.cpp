// The installed runtime as a user meets it: `cmake --install` into a fresh
// prefix, a component of their own built out of tree against it (CMake
// package and pkg-config file), and that component running and answering.
#include <sys/stat.h>

#include "DataFlowHarness.h"

using namespace dataflow_test;

namespace {

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// Installing and building run the compiler: minutes on a slow machine.
const double kBuildTimeout = 300;

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() : m_harness("install") {
    // Beside the build tree rather than in /tmp: a compiler cache then sees
    // the same relative paths on every run and compiles once.
    m_work = pixmoor_test::buildPath("tests/system/InstallTest.work");
    pixmoor_test::removeTree(m_work);
    ::mkdir(m_work.c_str(), 0755);
    m_prefix = m_work + "/prefix";
  }
  ~InstallTest() override {
    if (!HasFailure()) pixmoor_test::removeTree(m_work);
  }

  // The compiler of the main build, behind ccache when the main build uses it.
  std::vector<std::string> compilerArgs() const {
    if (std::string(PIXMOOR_CXX_LAUNCHER).empty()) return {PIXMOOR_CXX_COMPILER};
    return {PIXMOOR_CXX_LAUNCHER, PIXMOOR_CXX_COMPILER};
  }

  DataFlowHarness m_harness;
  std::string m_work, m_prefix;
};

TEST_F(InstallTest, AComponentBuiltAgainstTheInstalledTreeRunsAndAnswers) {
  const CommandResult install = runToEnd(
      {PIXMOOR_CMAKE_COMMAND, "--install", pixmoor_test::buildPath(""), "--prefix", m_prefix}, {},
      kBuildTimeout);
  ASSERT_EQ(install.exitCode, 0) << install;
  for (const char* file :
       {"bin/PixmoorComp", "bin/FrameSourceComp", "bin/rtmctl", "bin/screenshot",
        "lib/libpixmoor_rtm.a", "lib/libpixmoor_stubs.a",
        "lib/cmake/PixmoorRTM/PixmoorRTMConfig.cmake", "lib/pkgconfig/pixmoor-rtm.pc",
        "include/pixmoor-rtm/rtm/Manager.h", "include/pixmoor-rtm/rtm/DataFlowComponentBase.h",
        "include/pixmoor-rtm/coil/Properties.h", "include/pixmoor-rtm/rtm/idl/BasicDataTypeSkel.h",
        "include/pixmoor-rtm/rtm/idl/BasicDataType.hh",
        "include/pixmoor-rtm/rtm/idl/BasicDataType.idl"}) {
    EXPECT_TRUE(exists(m_prefix + "/" + file)) << file;
  }

  // Through the CMake package, with the fixture's ten-line CMakeLists.txt.
  const std::string source = pixmoor_test::sourcePath("tests/fixtures/OutOfTree");
  const std::string build = m_work + "/ticker";
  std::vector<std::string> configure = {
      PIXMOOR_CMAKE_COMMAND,
      "-S",
      source,
      "-B",
      build,
      "-DCMAKE_PREFIX_PATH=" + m_prefix,
      std::string("-DCMAKE_CXX_COMPILER=") + PIXMOOR_CXX_COMPILER};
  if (!std::string(PIXMOOR_CXX_LAUNCHER).empty()) {
    configure.push_back(std::string("-DCMAKE_CXX_COMPILER_LAUNCHER=") + PIXMOOR_CXX_LAUNCHER);
  }
  const CommandResult configured = runToEnd(configure, {}, kBuildTimeout);
  ASSERT_EQ(configured.exitCode, 0) << configured;
  const CommandResult built = runToEnd({PIXMOOR_CMAKE_COMMAND, "--build", build}, {}, kBuildTimeout);
  ASSERT_EQ(built.exitCode, 0) << built;

  // Through pkg-config, the way users of the framework's openrtm-aist.pc build.
  std::string compile;
  for (const std::string& word : compilerArgs()) compile += word + " ";
  const CommandResult pkgBuilt = runToEnd(
      {"/bin/sh", "-c",
       compile + "$(pkg-config --cflags pixmoor-rtm) " + source + "/TickerComp.cpp -rdynamic -o " +
           m_work + "/TickerPc $(pkg-config --libs pixmoor-rtm)"},
      {"PKG_CONFIG_PATH=" + m_prefix + "/lib/pkgconfig"}, kBuildTimeout);
  ASSERT_EQ(pkgBuilt.exitCode, 0) << pkgBuilt;

  // The CMake-built host starts, registers Ticker0, sends when activated and
  // ends when its component exits.
  ASSERT_TRUE(m_harness.nameServerUp());
  const std::string conf = m_harness.writeConf("ticker", "exec_cxt.periodic.rate: 20\n");
  ChildProcess host({build + "/TickerComp", "-f", conf}, {}, m_harness.dir());
  ASSERT_TRUE(m_harness.waitForComponent("Ticker0"))
      << host.stderrText() << m_harness.log("ticker");
  const std::string path = m_harness.path("Ticker0");
  CommandResult result = m_harness.rtmctl({"activate", path});
  EXPECT_EQ(result.exitCode, 0) << result;
  result = m_harness.rtmctl({"hz", path + ":out", "--count", "3"});
  EXPECT_EQ(result.exitCode, 0) << result;
  EXPECT_TRUE(contains(result.out, "total 3 samples: ")) << result;
  EXPECT_TRUE(contains(result.out, " 4 elements (28 bytes), age ")) << result;
  result = m_harness.rtmctl({"exit", path});
  EXPECT_EQ(result.exitCode, 0) << result;
  int status = -1;
  ASSERT_TRUE(host.waitExit(30, &status)) << host.stderrText();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
