// Samples that cross a process boundary: the GIOP path, where the inport
// takes over omniORB's buffer instead of copying it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "PortTestSupport.h"

using namespace port_test;

namespace {

// argv[1] that makes this program the source process instead of the tests.
const char* const kChildSourceFlag = "--child-source";
const CORBA::ULong kElements = 320 * 240;
const CORBA::Long kFrames = 5;

// Runs in the child: an outport that, on each new connection, writes
// kFrames frames, then a malformed put straight to the inport (reporting
// the answer on stdout), then one more frame.
void runChildSource() {
  Source source("out", "Remote0");
  CORBA::String_var ior = pixmoor_test::orb()->object_to_string(source.ref());
  std::cout << "PORT-IOR " << ior.in() << std::endl;
  const double end = pixmoor_test::now() + 120;
  std::string served;
  while (pixmoor_test::now() < end) {
    std::string id;
    if (!waitFor(
            [&] {
              id = onlyProfile(source.port).connector_id.in();
              return !id.empty() && id != served;
            },
            1.0)) {
      continue;
    }
    served = id;
    for (CORBA::Long i = 0; i <= kFrames; ++i) {
      if (i == kFrames) {
        // 2^30 elements claimed in 112 bytes, over the wire.
        std::vector<std::uint8_t> bad =
            timedLongSeqBytes(1, 2, std::vector<std::uint32_t>(25, 7), true);
        bad[8] = bad[9] = bad[10] = 0, bad[11] = 0x40;
        OpenRTM::InPortCdr_var cdr = inportCdrOf(onlyProfile(source.port));
        int status = -1;
        try {
          status = cdr->put(cdrOf(bad));
        } catch (const CORBA::Exception& e) {
          status = 100;
        }
        std::cout << "MALFORMED " << status << std::endl;
      }
      source.fill(kElements, i);
      source.port.write();
    }
  }
}

std::string selfPath() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace

// Frames pushed from another process arrive bit-exact in either byte
// order, every one of them stored by adopting the ORB's buffer (no copy);
// a malformed frame over the wire is answered PORT_ERROR; a source that is
// killed is noticed when the profile is read.
TEST(InPortRemote, FramesOverGiopAreAdoptedAndBitExact) {
  pixmoor_test::ChildProcess child({selfPath(), kChildSourceFlag});
  ASSERT_TRUE(child.waitForStdout("PORT-IOR ", 20)) << child.stderrText();
  std::string ior;
  {
    std::istringstream lines(child.stdoutText());
    for (std::string line; std::getline(lines, line);) {
      if (line.compare(0, 9, "PORT-IOR ") == 0) ior = line.substr(9);
    }
  }
  CORBA::Object_var obj = pixmoor_test::orb()->string_to_object(ior.c_str());
  RTC::PortService_var remote = RTC::PortService::_narrow(obj);
  ASSERT_FALSE(CORBA::is_nil(remote));

  Sink sink;
  Source expected;
  for (const char* endian : {"little,big", "big,little"}) {
    SCOPED_TRACE(endian);
    const RTC::InPortBase::Counters before = sink.port.counters();
    std::string id;
    ASSERT_EQ(RTC::RTC_OK, connectVia(remote, remote, sink.ref(),
                                      {{"dataport.serializer.cdr.endian", endian},
                                       {"dataport.buffer.write.full_policy", "block"},
                                       {"dataport.buffer.write.timeout", "30"},
                                       {"dataport.buffer.read.empty_policy", "do_nothing"}},
                                      &id));
    for (CORBA::Long i = 0; i <= kFrames; ++i) {
      ASSERT_TRUE(waitFor([&] { return sink.port.read(); }, 20))
          << i << "\n"
          << child.stdoutText() << child.stderrText();
      expected.fill(kElements, i);
      EXPECT_TRUE(sameSample(expected.value, sink.value)) << i;
    }
    const RTC::InPortBase::Counters after = sink.port.counters();
    EXPECT_EQ(static_cast<unsigned long>(kFrames + 1), after.stored - before.stored);
    EXPECT_EQ(after.stored - before.stored, after.adopted - before.adopted);
    EXPECT_EQ(1u, after.refused - before.refused);
    ASSERT_EQ(RTC::RTC_OK, sink.ref()->disconnect(id.c_str()));
  }
  EXPECT_NE(std::string::npos, child.stdoutText().find("MALFORMED 1\nMALFORMED 1\n"))
      << child.stdoutText();

  ASSERT_EQ(RTC::RTC_OK, connectVia(remote, remote, sink.ref(), {}));
  child.signal(SIGKILL);
  child.waitExit(10);
  RTC::PortProfile_var profile = sink.ref()->get_port_profile();
  EXPECT_EQ(0u, profile->connector_profiles.length());
  EXPECT_EQ(0u, sink.port.connectorCount());
}

// The source runs in a second copy of this program, started with
// kChildSourceFlag; it is not a test of its own.
int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == kChildSourceFlag) {
    runChildSource();
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
