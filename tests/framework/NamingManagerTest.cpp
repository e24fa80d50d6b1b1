// NamingManager against a private omniNames: binding under contexts, stale
// and foreign bindings, restarts, and name servers that are absent or mute.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "manager/NamingManager.h"
#include "TestSupport.h"

namespace {

using pixmoor_test::NameServer;
using pixmoor_test::now;
using pixmoor_test::orb;
using pixmoor_test::resolveName;

// Sends the runtime's log to a file of its own so tests can read it.
class NamingManagerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = pixmoor_test::makeTempDir("naming");
    coil::Properties conf;
    conf.setProperty("logger.file_name", s_dir + "/rtc.log");
    conf.setProperty("logger.log_level", "INFO");
    RTC::Logger::configure(conf);
  }
  static void TearDownTestSuite() { pixmoor_test::removeTree(s_dir); }

  static std::string logText() { return pixmoor_test::readFile(s_dir + "/rtc.log"); }

  // Returns a fresh object to bind: a new context of `server`.
  static CORBA::Object_ptr newObject(const NameServer& server) {
    CORBA::Object_var obj = orb()->string_to_object(server.corbaloc().c_str());
    CosNaming::NamingContext_var root = CosNaming::NamingContext::_narrow(obj);
    return root->new_context();
  }

  static std::string s_dir;
  RTC::Logger m_log{"naming-test"};
};
std::string NamingManagerTest::s_dir;

TEST_F(NamingManagerTest, SplitsPathsAtSlashesAndKindsAtTheLastDot) {
  CosNaming::Name name = RTC::NamingManager::toName("pc.lab.host_cxt//Pixmoor0.rtc/plain");
  ASSERT_EQ(3u, name.length());
  EXPECT_STREQ("pc.lab", name[0].id);
  EXPECT_STREQ("host_cxt", name[0].kind);
  EXPECT_STREQ("Pixmoor0", name[1].id);
  EXPECT_STREQ("rtc", name[1].kind);
  EXPECT_STREQ("plain", name[2].id);
  EXPECT_STREQ("", name[2].kind);
}

TEST_F(NamingManagerTest, BindsUnderNewContextsReplacesStaleBindingsAndUnbinds) {
  NameServer server;
  ASSERT_TRUE(server.start());
  CORBA::Object_var stale = newObject(server);
  CORBA::Object_var mine = newObject(server);

  RTC::NamingManager naming(orb(), m_log);
  naming.addNameServer(server.address());
  ASSERT_EQ(1, naming.bindObject("h.host_cxt/Stale0.rtc", stale));
  // A new component under the same name replaces the stale reference.
  ASSERT_EQ(1, naming.bindObject("h.host_cxt/Stale0.rtc", mine));
  CORBA::Object_var found = resolveName(server.corbaloc(), "h.host_cxt/Stale0.rtc");
  ASSERT_FALSE(CORBA::is_nil(found));
  EXPECT_TRUE(found->_is_equivalent(mine));

  naming.unbindObject("h.host_cxt/Stale0.rtc", mine);
  found = resolveName(server.corbaloc(), "h.host_cxt/Stale0.rtc");
  EXPECT_TRUE(CORBA::is_nil(found));
  EXPECT_TRUE(naming.getNames().empty());
}

TEST_F(NamingManagerTest, LeavesANameThatAnotherProcessHasTakenSince) {
  NameServer server;
  ASSERT_TRUE(server.start());
  CORBA::Object_var mine = newObject(server);
  CORBA::Object_var theirs = newObject(server);
  RTC::NamingManager naming(orb(), m_log);
  naming.addNameServer(server.address());
  ASSERT_EQ(1, naming.bindObject("h.host_cxt/Shared0.rtc", mine));

  RTC::NamingManager other(orb(), m_log);
  other.addNameServer(server.address());
  ASSERT_EQ(1, other.bindObject("h.host_cxt/Shared0.rtc", theirs));

  naming.unbindObject("h.host_cxt/Shared0.rtc", mine);
  CORBA::Object_var found = resolveName(server.corbaloc(), "h.host_cxt/Shared0.rtc");
  ASSERT_FALSE(CORBA::is_nil(found));
  EXPECT_TRUE(found->_is_equivalent(theirs));
}

TEST_F(NamingManagerTest, UpdatePutsNamesBackOnARestartedNameServer) {
  NameServer server;
  ASSERT_TRUE(server.start());
  const int port = server.port();
  CORBA::Object_var obj = newObject(server);  // lives in the first omniNames
  RTC::NamingManager naming(orb(), m_log);
  naming.addNameServer(server.address());
  ASSERT_EQ(1, naming.bindObject("h.host_cxt/Back0.rtc", obj));

  server.stop();
  // While the server is down, rounds fail fast and are reported once.
  double t0 = now();
  naming.update();
  naming.update();
  double downTime = now() - t0;
  std::printf("two update rounds against a stopped name server: %.3f s\n", downTime);
  EXPECT_LT(downTime, 10.0);

  ASSERT_TRUE(server.start(port));
  EXPECT_TRUE(
      CORBA::is_nil(CORBA::Object_var(resolveName(server.corbaloc(), "h.host_cxt/Back0.rtc"))));
  naming.update();
  CORBA::Object_var found = resolveName(server.corbaloc(), "h.host_cxt/Back0.rtc");
  ASSERT_FALSE(CORBA::is_nil(found)) << logText();
  EXPECT_TRUE(found->_is_equivalent(obj));

  const std::string advice =
      "cannot reach the name server at " + server.address() + " \xE2\x80\x94 is omniNames running?";
  std::string log = logText();
  size_t first = log.find(advice);
  ASSERT_NE(std::string::npos, first) << log;
  EXPECT_EQ(std::string::npos, log.find(advice, first + 1)) << "reported more than once:\n" << log;
  EXPECT_NE(std::string::npos,
            log.find("name server at " + server.address() + " is reachable again"));
}

TEST_F(NamingManagerTest, AbsentNameServerIsSkippedAndTheOthersStillServe) {
  NameServer server;
  ASSERT_TRUE(server.start());
  CORBA::Object_var obj = newObject(server);
  const std::string absent = "127.0.0.1:" + std::to_string(pixmoor_test::freeTcpPort());
  RTC::NamingManager naming(orb(), m_log);
  naming.addNameServer(absent);
  naming.addNameServer(server.address());
  double t0 = now();
  EXPECT_EQ(1, naming.bindObject("h.host_cxt/Half0.rtc", obj));
  std::printf("bind with one absent name server: %.3f s\n", now() - t0);
  EXPECT_FALSE(
      CORBA::is_nil(CORBA::Object_var(resolveName(server.corbaloc(), "h.host_cxt/Half0.rtc"))));
  EXPECT_NE(std::string::npos, logText().find("cannot reach the name server at " + absent));
}

// A name server that accepts connections but never answers must not hold
// the caller: every call is bounded by the timeout.
TEST_F(NamingManagerTest, MuteNameServerCostsOnlyTheTimeout) {
  int mutePort = 0;
  int fd = pixmoor_test::listenOnLoopback(16, &mutePort);
  ASSERT_GE(fd, 0);
  const std::string mute = "127.0.0.1:" + std::to_string(mutePort);

  NameServer server;
  ASSERT_TRUE(server.start());
  CORBA::Object_var obj = newObject(server);
  RTC::NamingManager naming(orb(), m_log, 1000);
  naming.addNameServer(mute);
  double t0 = now();
  EXPECT_EQ(0, naming.bindObject("h.host_cxt/Mute0.rtc", obj));
  naming.update();
  naming.unbindObject("h.host_cxt/Mute0.rtc", obj);
  double elapsed = now() - t0;
  std::printf("bind, update and unbind against a mute name server: %.3f s\n", elapsed);
  EXPECT_LT(elapsed, 15.0);
  ::close(fd);
}

}  // namespace
