// The outport as a peer sees it: bytes on the wire, write results, peers
// that go away.
#include <gtest/gtest.h>

#include <chrono>


#include "PortTestSupport.h"

using namespace port_test;

namespace {

// An outport connected to a capturing stand-in for a foreign inport.
// With `notifyOnly` the profile goes straight to notify_connect, as it does
// when another port's connect was called.
struct CapturedOutPort {
  explicit CapturedOutPort(const Props& props, bool notifyOnly = false)
      : capture(), fake(capture.ior()), result(connect(props, notifyOnly)) {}
  RTC::ReturnCode_t connect(const Props& props, bool notifyOnly) {
    RTC::PortService_var fakeRef = RTC::PortService::_narrow(fake.ref);
    RTC::ConnectorProfile profile = makeProfile({source.ref(), fakeRef.in()}, props);
    RTC::ReturnCode_t r = RTC::RTC_ERROR;
    if (notifyOnly) {
      profile.connector_id = CORBA::string_dup("8d6e3c1a-5b2f-4e0d-9a7c-1f2e3d4c5b6a");
      r = source.m_ref->notify_connect(profile);
    } else {
      r = source.m_ref->connect(profile);
    }
    completed = profile;
    return r;
  }
  Source source;
  Activated<CaptureInPortCdr> capture;
  Activated<FakeInPortService> fake;
  RTC::ConnectorProfile completed;
  RTC::ReturnCode_t result;
};

}  // namespace

TEST(OutPort, WriteWithoutConnectionFails) {
  Source source;
  source.fill(4, 1);
  EXPECT_FALSE(source.port.write());
}

TEST(OutPort, SetTimestampStampsTheTimeOfDay) {
  // The same clock as the stamp: time() reads a coarser one, which can
  // still show the previous second.
  const auto seconds = []() -> long long {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  RTC::TimedLongSeq sample;
  const long long before = seconds();
  setTimestamp(sample);
  EXPECT_GE(static_cast<long long>(sample.tm.sec), before);
  EXPECT_LE(static_cast<long long>(sample.tm.sec), seconds());
  EXPECT_LT(sample.tm.nsec, 1000000000u);
}

// The bare CDR stream of protocol.md, in the byte order the connection's
// endian list puts first; nothing before or after it.
// A profile that reaches notify_connect without one (its connect did not
// add it) means little.
TEST(OutPort, WireBytesFollowTheConnectionsByteOrder) {
  struct Case {
    const char* endian;  // nullptr: absent, connect adds "little,big"
    bool little;
    bool notifyOnly;
  };
  for (const Case& c :
       {Case{nullptr, true, false}, Case{"little", true, false}, Case{"big", false, false},
        Case{"big,little", false, false}, Case{" Little , big", true, false},
        Case{nullptr, true, true}, Case{"big", false, true}}) {
    SCOPED_TRACE(std::string(c.endian != nullptr ? c.endian : "(absent)") +
                 (c.notifyOnly ? ", notify_connect only" : ""));
    Props props;
    if (c.endian != nullptr) props.emplace_back("dataport.serializer.cdr.endian", c.endian);
    CapturedOutPort out(props, c.notifyOnly);
    ASSERT_EQ(RTC::RTC_OK, out.result);
    if (c.endian == nullptr) {
      EXPECT_EQ(c.notifyOnly ? "" : "little,big",
                profileValue(out.completed, "dataport.serializer.cdr.endian"));
    }
    out.source.value.tm.sec = 0x6b163f36;
    out.source.value.tm.nsec = 0x359426cf;
    out.source.value.data.length(2);
    out.source.value.data[0] = static_cast<CORBA::Long>(0xFF0000FFu);
    out.source.value.data[1] = 0x01020304;
    ASSERT_TRUE(out.source.port.write());
    const auto taken = out.capture.servant->taken();
    ASSERT_EQ(1u, taken.size());
    EXPECT_EQ(timedLongSeqBytes(0x6b163f36, 0x359426cf, {0xFF0000FFu, 0x01020304}, c.little),
              taken[0]);
  }
}

TEST(OutPort, RepeatedWritesReuseTheMarshalBuffer) {
  CapturedOutPort out({});
  ASSERT_EQ(RTC::RTC_OK, out.result);
  for (CORBA::Long i = 0; i < 3; ++i) {
    out.source.fill(100 - 30 * static_cast<CORBA::ULong>(i), i);
    ASSERT_TRUE(out.source.port.write());
  }
  // Each sample is exactly as long as itself: a shorter one after a longer
  // one carries no leftovers of the first.
  const auto taken = out.capture.servant->taken();
  ASSERT_EQ(3u, taken.size());
  EXPECT_EQ(12u + 4 * 100, taken[0].size());
  EXPECT_EQ(12u + 4 * 40, taken[2].size());
}

// A peer that raises anything but "gone" keeps its connection; the write
// reports the failure.
TEST(OutPort, KeepsAPeerThatFailsOtherwise) {
  CapturedOutPort out({});
  ASSERT_EQ(RTC::RTC_OK, out.result);
  out.capture.servant->raiseMarshal = true;
  out.source.fill(8, 1);
  EXPECT_FALSE(out.source.port.write());
  EXPECT_EQ(1u, out.source.port.connectorCount());
  out.capture.servant->raiseMarshal = false;
  out.capture.servant->answer = OpenRTM::BUFFER_FULL;
  EXPECT_FALSE(out.source.port.write());
  out.capture.servant->answer = OpenRTM::PORT_OK;
  EXPECT_TRUE(out.source.port.write());
}

// OBJECT_NOT_EXIST from put: the connection is dropped at once, from write
// itself (flush) or from the publisher's thread (new).
TEST(OutPort, DropsAPushPeerThatIsGone) {
  for (const char* kind : {"flush", "new"}) {
    SCOPED_TRACE(kind);
    Sink sink;
    Source source;
    ASSERT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(),
                                      {{"dataport.subscription_type", kind}}));
    OpenRTM::InPortCdr_var cdr = inportCdrOf(onlyProfile(source.port));
    killObject(cdr);
    source.fill(8, 1);
    const bool written = source.port.write();
    if (std::string(kind) == "flush") {
      EXPECT_FALSE(written);
    }
    EXPECT_TRUE(waitFor([&] {
      source.port.write();
      return source.port.connectorCount() == 0;
    }));
  }
}
