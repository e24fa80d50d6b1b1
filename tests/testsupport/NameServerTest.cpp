// The helpers every system test stands on: a private name server that really
// answers and forgets, and child processes whose output and exit we can see.
#include <gtest/gtest.h>
#include <omniORB4/Naming.hh>
#include <signal.h>
#include <sys/wait.h>

#include "TestSupport.h"

using namespace pixmoor_test;

TEST(NameServer, StartsBindsAndForgetsOnRestart) {
  NameServer names;
  ASSERT_TRUE(names.start());
  CORBA::Object_var obj = orb()->string_to_object(names.corbaloc().c_str());
  CosNaming::NamingContext_var root = CosNaming::NamingContext::_narrow(obj);
  CosNaming::Name name;
  name.length(1);
  name[0].id = CORBA::string_dup("probe");
  name[0].kind = CORBA::string_dup("cxt");
  CosNaming::NamingContext_var child = root->bind_new_context(name);
  CORBA::Object_var found = resolveName(names.corbaloc(), "probe.cxt");
  EXPECT_FALSE(CORBA::is_nil(found));

  int port = names.port();
  names.stop();
  EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(resolveName(names.corbaloc(), "probe.cxt"))));
  ASSERT_TRUE(names.start(port));
  EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(resolveName(names.corbaloc(), "probe.cxt"))));
}

TEST(ChildProcess, CapturesOutputAndExitStatus) {
  ChildProcess child({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"});
  int status = 0;
  ASSERT_TRUE(child.waitExit(10, &status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(3, WEXITSTATUS(status));
  EXPECT_EQ("out\n", child.stdoutText());
  EXPECT_EQ("err\n", child.stderrText());
}

TEST(ChildProcess, SignalsAndEnvironment) {
  ChildProcess child({"/bin/sh", "-c", "echo \"$PIXMOOR_PROBE\"; exec sleep 30"},
                     {"PIXMOOR_PROBE=seen"});
  ASSERT_TRUE(child.waitForStdout("seen", 10));
  child.signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child.waitExit(10, &status));
  EXPECT_TRUE(WIFSIGNALED(status));
}
