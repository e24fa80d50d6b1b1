// Once a frame of a size has passed, moving the next one from write() to
// the bound sample allocates nothing in our code.
#include <gtest/gtest.h>

// Every allocation of this test program is counted.
#include "AllocationCounter.h"
#include "PortTestSupport.h"

using namespace port_test;

// The outport marshals into a kept stream and lends its buffer to put;
// the inport copies (a colocated call lends the caller's bytes) into spare
// storage of its queue; read() lends those bytes to the bound sample in the
// host's byte order and decodes them into the sample's kept storage in the
// other. Over shared_memory the outport marshals into its segment and the
// inport copies out of it into the same spare storage. Both byte orders,
// flush publisher.
TEST(InPortAllocation, SteadyStreamAllocatesNothing) {
  for (const char* iface : {"corba_cdr", "shared_memory"}) {
    for (const char* endian : {"little", "big"}) {
      SCOPED_TRACE(std::string(iface) + " " + endian);
      Sink sink;
      Source source;
      ASSERT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(),
                                        {{"dataport.interface_type", iface},
                                         {"dataport.serializer.cdr.endian", endian},
                                         {"dataport.buffer.length", "2"}}));
      source.fill(640 * 480, 1);
      for (int warm = 0; warm < 4; ++warm) {
        ASSERT_TRUE(source.port.write());
        ASSERT_TRUE(sink.port.isNew());
        ASSERT_TRUE(sink.port.read());
      }
      // A colocated call runs on this thread, so the whole road is counted here
      // and the ORB's idle threads cannot blur the figure.
      const unsigned long before = pixmoor_test::threadAllocationCount();
      for (CORBA::Long i = 0; i < 10; ++i) {
        source.value.tm.sec = static_cast<CORBA::ULong>(i);
        ASSERT_TRUE(source.port.write());
        ASSERT_TRUE(sink.port.isNew());
        ASSERT_TRUE(sink.port.read());
      }
      EXPECT_EQ(0u, pixmoor_test::threadAllocationCount() - before);
      EXPECT_TRUE(sameSample(source.value, sink.value));
    }
  }
}
