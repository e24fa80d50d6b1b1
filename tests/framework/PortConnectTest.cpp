// The PortService protocol between two ports on a real ORB.
#include <gtest/gtest.h>

#include "PortTestSupport.h"

using namespace port_test;

TEST(PortConnect, FlushPushDeliversBitExact) {
  Sink sink;
  Source source;
  std::string id;
  ASSERT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(), {}, &id));
  EXPECT_EQ(36u, id.size());
  source.fill(1000, 7);
  EXPECT_TRUE(source.port.write());
  ASSERT_TRUE(sink.port.isNew());
  ASSERT_TRUE(sink.port.read());
  EXPECT_TRUE(sameSample(source.value, sink.value));
  EXPECT_FALSE(sink.port.isNew());
}
