// The inport: what put answers, what isNew and read see, buffers, pull and
// peers that go away.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "PortTestSupport.h"

using namespace port_test;

namespace {

// A sink connected to a source, with the sink's InPortCdr (or, for
// shared_memory, a segment writer of the test's own) at hand for direct
// puts.
struct Pushed {
  explicit Pushed(const Props& props = {}, const coil::Properties& sinkSettings = {}) {
    sink.port.init(sinkSettings);
    result = connectVia(source.ref(), source.ref(), sink.ref(), props, &id);
    if (result != RTC::RTC_OK) return;
    if (profileValue(onlyProfile(sink.port), "dataport.interface_type") == "shared_memory") {
      shared.reset(new SegmentPeer(sharedMemoryOf(onlyProfile(sink.port))));
    } else {
      cdr = inportCdrOf(onlyProfile(sink.port));
    }
  }
  OpenRTM::PortStatus put(const std::vector<std::uint8_t>& bytes) {
    return shared ? shared->put(bytes) : cdr->put(cdrOf(bytes));
  }
  OpenRTM::PortStatus putSample(std::uint32_t sec, bool little = true) {
    return put(timedLongSeqBytes(sec, 0, {sec, sec + 1, sec + 2}, little));
  }
  Sink sink;
  Source source;
  std::string id;
  RTC::ReturnCode_t result;
  OpenRTM::InPortCdr_var cdr;
  std::unique_ptr<SegmentPeer> shared;
};

const char* const kInterfaces[] = {"corba_cdr", "shared_memory"};

}  // namespace

TEST(InPort, ReadWithoutConnectionIsFalse) {
  Sink sink;
  sink.value.tm.sec = 42;
  EXPECT_FALSE(sink.port.isNew());
  EXPECT_FALSE(sink.port.read());
  EXPECT_EQ(42u, sink.value.tm.sec);
}

// Bytes that are not one whole sample are answered PORT_ERROR, nothing is
// stored, and the next valid sample still arrives. The 2^30-element frame
// in 112 bytes used to make the receiver reserve 4 GiB.
TEST(InPort, MalformedPutsAnswerPortErrorAndChangeNothing) {
  Pushed p;
  ASSERT_EQ(RTC::RTC_OK, p.result);
  std::vector<std::uint8_t> truncated = timedLongSeqBytes(1, 2, {1, 2, 3, 4, 5}, true);
  truncated.resize(truncated.size() - 4);
  std::vector<std::uint8_t> countTooLarge = timedLongSeqBytes(1, 2, {1, 2, 3}, true);
  countTooLarge[8] = 100;
  std::vector<std::uint8_t> huge = timedLongSeqBytes(1, 2, std::vector<std::uint32_t>(25, 7), true);
  huge[8] = 0, huge[9] = 0, huge[10] = 0, huge[11] = 0x40;  // 2^30 elements in 112 bytes
  std::vector<std::uint8_t> trailing = timedLongSeqBytes(1, 2, {1}, true);
  trailing.push_back(0);
  std::vector<std::uint8_t> bigOnLittle = timedLongSeqBytes(1, 2, {1, 2}, false);
  const std::vector<std::vector<std::uint8_t> > bad = {{},   {1, 2, 3}, truncated,  countTooLarge,
                                                       huge, trailing,  bigOnLittle};
  ASSERT_EQ(112u, huge.size());
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(OpenRTM::PORT_ERROR, p.put(bad[i]));
    EXPECT_FALSE(p.sink.port.isNew());
  }
  EXPECT_EQ(bad.size(), p.sink.port.counters().refused);
  EXPECT_EQ(OpenRTM::PORT_OK, p.putSample(9));
  ASSERT_TRUE(p.sink.port.read());
  EXPECT_EQ(9u, p.sink.value.tm.sec);
  ASSERT_EQ(3u, p.sink.value.data.length());
  EXPECT_EQ(11, p.sink.value.data[2]);
}

// Only a call that came over the wire hands its buffer over; a caller in
// this process keeps its sequence as it was.
TEST(InPort, ColocatedCallerKeepsItsSequence) {
  Pushed p;
  ASSERT_EQ(RTC::RTC_OK, p.result);
  const OpenRTM::CdrData sample = cdrOf(timedLongSeqBytes(3, 4, {5, 6}, true));
  ASSERT_EQ(OpenRTM::PORT_OK, p.cdr->put(sample));
  EXPECT_EQ(20u, sample.length());
  EXPECT_EQ(0u, p.sink.port.counters().adopted);
  ASSERT_TRUE(p.sink.port.read());
  EXPECT_EQ(6, p.sink.value.data[1]);
}

// Each connection decodes in its own byte order: hand-made bytes and an
// outport's samples both arrive bit-exact.
TEST(InPort, DecodesEachByteOrderBitExact) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "little" : "big");
    Pushed p(Props{{"dataport.serializer.cdr.endian", little ? "little,big" : "big,little"}});
    ASSERT_EQ(RTC::RTC_OK, p.result);
    ASSERT_EQ(OpenRTM::PORT_OK,
              p.put(timedLongSeqBytes(0x6b163f36, 0x359426cf, {0xFF0000FFu, 0x80000001u}, little)));
    ASSERT_TRUE(p.sink.port.read());
    EXPECT_EQ(0x6b163f36u, p.sink.value.tm.sec);
    EXPECT_EQ(0x359426cfu, p.sink.value.tm.nsec);
    ASSERT_EQ(2u, p.sink.value.data.length());
    EXPECT_EQ(static_cast<CORBA::Long>(0xFF0000FFu), p.sink.value.data[0]);
    EXPECT_EQ(static_cast<CORBA::Long>(0x80000001u), p.sink.value.data[1]);

    p.source.fill(640 * 480, 3);
    ASSERT_TRUE(p.source.port.write());
    ASSERT_TRUE(p.sink.port.read());
    EXPECT_TRUE(sameSample(p.source.value, p.sink.value));
  }
}

// The bound sample stays intact until the next read, whatever arrives or
// ends meanwhile. In the host's byte order it borrows the port's copy of the
// bytes instead of copying them; in the other it owns its storage and keeps
// it from one read to the next. Each leg follows one of the other order, so
// a borrowed sample is then decoded into (which must not write into the
// bytes it borrowed) and an owned one is then lent.
TEST(InPort, BoundSampleStaysIntactUntilTheNextRead) {
  const bool hostLittle = omni::myByteOrder != 0;
  for (bool firstLittle : {true, false}) {
    Sink sink;
    std::map<CORBA::ULong, RTC::TimedLongSeq> sent;
    CORBA::Long seed = 0;
    for (bool little : {firstLittle, !firstLittle}) {
      SCOPED_TRACE(std::string(firstLittle ? "little first, " : "big first, ") +
                   (little ? "little" : "big"));
      Source source;
      std::string id;
      ASSERT_EQ(RTC::RTC_OK,
                connectVia(source.ref(), source.ref(), sink.ref(),
                           {{"dataport.serializer.cdr.endian", little ? "little" : "big"},
                            {"dataport.buffer.length", "2"}},
                           &id));
      auto send = [&](int frames) {
        for (int i = 0; i < frames; ++i) {
          source.fill(1000, ++seed);
          sent[source.value.tm.sec] = source.value;
          ASSERT_TRUE(source.port.write());
        }
      };
      const CORBA::Long* owned = nullptr;
      CORBA::ULong shown = 0;
      for (int round = 0; round < 3; ++round) {
        send(3);
        ASSERT_TRUE(sink.port.read());
        shown = sink.value.tm.sec;
        // Overwrites cycle the queue's storage through every slot and spare.
        send(3);
        EXPECT_TRUE(sameSample(sent[shown], sink.value));
        EXPECT_EQ(little != hostLittle, static_cast<bool>(sink.value.data.release()))
            << "borrowed in the host's byte order only";
        if (little != hostLittle) {
          if (owned != nullptr) {
            EXPECT_EQ(owned, sink.value.data.get_buffer());
          }
          owned = sink.value.data.get_buffer();
        }
      }
      const CORBA::ULong last = source.value.tm.sec;
      ASSERT_EQ(RTC::RTC_OK, source.m_ref->disconnect(id.c_str()));
      EXPECT_TRUE(sameSample(sent[shown], sink.value)) << "after the disconnect";
      // What the connection delivered before it closed is still read, in order.
      for (CORBA::ULong sec = last - 1; sec <= last; ++sec) {
        ASSERT_TRUE(sink.port.isNew());
        ASSERT_TRUE(sink.port.read());
        EXPECT_TRUE(sameSample(sent[sec], sink.value)) << "after the disconnect, " << sec;
        shown = sec;
      }
      EXPECT_FALSE(sink.port.isNew());
      EXPECT_FALSE(sink.port.read());
      EXPECT_TRUE(sameSample(sent[shown], sink.value)) << "after a read that found nothing";
    }
  }
}

TEST(InPort, FullBufferPolicies) {
  struct Case {
    const char* policy;
    OpenRTM::PortStatus third;
    std::uint32_t firstRead;
  };
  for (const char* iface : kInterfaces) {
    for (const Case& c :
         {Case{"do_nothing", OpenRTM::BUFFER_FULL, 1}, Case{"overwrite", OpenRTM::PORT_OK, 2},
          Case{"block", OpenRTM::BUFFER_TIMEOUT, 1}}) {
      SCOPED_TRACE(std::string(iface) + " " + c.policy);
      Pushed p(Props{{"dataport.interface_type", iface},
                     {"dataport.buffer.length", "2"},
                     {"dataport.buffer.write.full_policy", c.policy},
                     {"dataport.buffer.write.timeout", "0.2"}});
      ASSERT_EQ(RTC::RTC_OK, p.result);
      EXPECT_EQ(OpenRTM::PORT_OK, p.putSample(1));
      EXPECT_EQ(OpenRTM::PORT_OK, p.putSample(2));
      const double start = pixmoor_test::now();
      EXPECT_EQ(c.third, p.putSample(3));
      const double waited = pixmoor_test::now() - start;
      if (std::string(c.policy) == "block") {
        EXPECT_GE(waited, 0.15);
      }
      ASSERT_TRUE(p.sink.port.read());
      EXPECT_EQ(c.firstRead, p.sink.value.tm.sec);
      // What the component's status reports: the sample dropped, either way.
      const RTC::InPortBase::Counters counters = p.sink.port.counters();
      EXPECT_EQ(c.third == OpenRTM::PORT_OK ? 3u : 2u, counters.stored);
      EXPECT_EQ(c.third == OpenRTM::PORT_OK ? 1u : 0u, counters.overwritten);
      EXPECT_EQ(c.third == OpenRTM::PORT_OK ? 0u : 1u, counters.full);
    }
  }
}

// Without a memory_limit of its own a port holds 128 MiB: four 3840x2160
// frames (33.2 MB each) fit, where 128 MB would take only three.
TEST(InPort, DefaultMemoryLimitHoldsFourUhdFrames) {
  Pushed p(Props{{"dataport.buffer.write.full_policy", "do_nothing"}});
  ASSERT_EQ(RTC::RTC_OK, p.result);
  const CORBA::ULong pixels = 3840 * 2160;
  OpenRTM::CdrData frame;
  frame.length(12 + 4 * pixels);
  std::fill(frame.get_buffer(), frame.get_buffer() + frame.length(), CORBA::Octet(0));
  for (int i = 0; i < 4; ++i) frame[8 + i] = static_cast<CORBA::Octet>(pixels >> (8 * i));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(OpenRTM::PORT_OK, p.cdr->put(frame)) << i;
  EXPECT_EQ(OpenRTM::BUFFER_FULL, p.cdr->put(frame));
  EXPECT_EQ(1u, p.sink.port.counters().full);
}

// Under overwrite, a sample past memory_limit drops the connection's oldest
// unread one, and the port counts it as overwritten (it used to count
// nothing, so the figures hid frames lost this way).
TEST(InPort, MemoryLimitDropsTheOldestAndCountsIt) {
  coil::Properties settings;
  settings.setProperty("memory_limit", "100");  // four 24-byte samples
  for (const char* iface : kInterfaces) {
    SCOPED_TRACE(iface);
    Pushed p(Props{{"dataport.interface_type", iface}}, settings);
    ASSERT_EQ(RTC::RTC_OK, p.result);
    if (p.shared) {
      // Its segment is as small as a segment may be: 24 bytes and the word.
      p.shared->announce(32);
    }
    for (std::uint32_t sec = 1; sec <= 5; ++sec) EXPECT_EQ(OpenRTM::PORT_OK, p.putSample(sec));
    EXPECT_EQ(1u, p.sink.port.counters().overwritten);
    ASSERT_TRUE(p.sink.port.read());
    EXPECT_EQ(2u, p.sink.value.tm.sec);
  }
}

// A blocked put returns as soon as the reader makes room.
TEST(InPort, BlockedPutProceedsWhenTheReaderTakesOne) {
  Pushed p(Props{{"dataport.buffer.length", "1"},
                 {"dataport.buffer.write.full_policy", "block"},
                 {"dataport.buffer.write.timeout", "10"}});
  ASSERT_EQ(RTC::RTC_OK, p.result);
  ASSERT_EQ(OpenRTM::PORT_OK, p.putSample(1));
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p.sink.port.read();
  });
  const double start = pixmoor_test::now();
  EXPECT_EQ(OpenRTM::PORT_OK, p.putSample(2));
  reader.join();
  const double waited = pixmoor_test::now() - start;
  std::printf("blocked put waited %.3f s\n", waited);
  EXPECT_LT(waited, 5.0);
  ASSERT_TRUE(p.sink.port.read());
  EXPECT_EQ(2u, p.sink.value.tm.sec);
}

TEST(InPort, EmptyBufferPolicies) {
  {
    SCOPED_TRACE("readback rereads the last sample");
    Pushed p;
    ASSERT_EQ(OpenRTM::PORT_OK, p.putSample(5));
    ASSERT_TRUE(p.sink.port.read());
    p.sink.value.tm.sec = 0;
    EXPECT_FALSE(p.sink.port.isNew());
    EXPECT_TRUE(p.sink.port.read());
    EXPECT_EQ(5u, p.sink.value.tm.sec);
  }
  {
    SCOPED_TRACE("readback before anything arrived");
    Pushed p;
    EXPECT_FALSE(p.sink.port.read());
  }
  {
    SCOPED_TRACE("do_nothing");
    Pushed p(Props{{"dataport.buffer.read.empty_policy", "do_nothing"}});
    ASSERT_EQ(OpenRTM::PORT_OK, p.putSample(5));
    ASSERT_TRUE(p.sink.port.read());
    EXPECT_FALSE(p.sink.port.read());
  }
  {
    SCOPED_TRACE("block waits for its timeout, or for a sample");
    Pushed p(Props{{"dataport.inport.buffer.read.empty_policy", "block"},
                   {"dataport.inport.buffer.read.timeout", "0.2"}});
    const double start = pixmoor_test::now();
    EXPECT_FALSE(p.sink.port.read());
    EXPECT_GE(pixmoor_test::now() - start, 0.15);
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      p.putSample(6);
    });
    EXPECT_TRUE(p.sink.port.read());
    writer.join();
    EXPECT_EQ(6u, p.sink.value.tm.sec);
  }
}

// A connection's buffer settings, key by key: the port's own settings
// (rtc.conf's port.inport.<name>.*), then the request's dataport.*, then its
// dataport.inport.*, each winning over the one before. An empty value, as
// real peers send, sets nothing.
TEST(InPort, BufferSettingsLayerKeyByKey) {
  struct Case {
    const char* what;
    Props request;
    int accepted;  // of 5 puts, before BUFFER_FULL
    std::uint32_t firstRead;
  };
  const Case cases[] = {
      {"the port's settings", {}, 2, 1},
      {"the request's length, the port's policy", {{"dataport.buffer.length", "3"}}, 3, 1},
      {"the inport's own length wins",
       {{"dataport.buffer.length", "1"}, {"dataport.inport.buffer.length", "4"}},
       4,
       1},
      {"the request's policy, the port's length",
       {{"dataport.inport.buffer.write.full_policy", "overwrite"}},
       5,
       4},
      {"an empty value", {{"dataport.buffer.length", ""}}, 2, 1},
      {"the outport's side is not ours", {{"dataport.outport.buffer.length", "4"}}, 2, 1},
  };
  coil::Properties portSettings;
  portSettings.setProperty("buffer.length", "2");
  portSettings.setProperty("buffer.write.full_policy", "do_nothing");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pushed p(c.request, portSettings);
    ASSERT_EQ(RTC::RTC_OK, p.result);
    int accepted = 0;
    for (std::uint32_t sec = 1; sec <= 5; ++sec) {
      if (p.putSample(sec) == OpenRTM::PORT_OK) ++accepted;
    }
    EXPECT_EQ(c.accepted, accepted);
    ASSERT_TRUE(p.sink.port.read());
    EXPECT_EQ(c.firstRead, p.sink.value.tm.sec);
  }
}

// isNew and read serve the first connection that holds a sample, in
// connection order: a first connection that never delivers used to shadow
// every later one (a producer's frames were acknowledged and never shown).
TEST(InPort, ServesTheFirstConnectionHoldingASample) {
  Sink sink;
  Source first("out", "First0"), second("out", "Second0");
  std::string firstId;
  ASSERT_EQ(RTC::RTC_OK, connectVia(first.ref(), first.ref(), sink.ref(), {}, &firstId));
  ASSERT_EQ(RTC::RTC_OK, connectVia(second.ref(), second.ref(), sink.ref(), {}));
  second.fill(4, 2);
  ASSERT_TRUE(second.port.write());
  EXPECT_TRUE(sink.port.isNew());
  ASSERT_TRUE(sink.port.read());
  EXPECT_TRUE(sameSample(second.value, sink.value));
  EXPECT_FALSE(sink.port.isNew());
  // Nothing unread: the first connection is served, and it has nothing of
  // its own to read back (the sample held came from the second).
  EXPECT_FALSE(sink.port.read());

  // Both hold one: connection order decides.
  first.fill(4, 1);
  ASSERT_TRUE(second.port.write());
  ASSERT_TRUE(first.port.write());
  ASSERT_TRUE(sink.port.read());
  EXPECT_TRUE(sameSample(first.value, sink.value));
  ASSERT_TRUE(sink.port.read());
  EXPECT_TRUE(sameSample(second.value, sink.value));
  EXPECT_FALSE(sink.port.isNew());

  ASSERT_EQ(RTC::RTC_OK, first.m_ref->disconnect(firstId.c_str()));
  ASSERT_TRUE(second.port.write());
  EXPECT_TRUE(sink.port.isNew());
  ASSERT_TRUE(sink.port.read());
  EXPECT_TRUE(sameSample(second.value, sink.value));

  // A writer that disconnects right after its one write (a one-shot tool):
  // the sample it was told PORT_OK for is read first, then the others.
  Source once("out", "Once0");
  std::string onceId;
  ASSERT_EQ(RTC::RTC_OK, connectVia(once.ref(), once.ref(), sink.ref(), {}, &onceId));
  ASSERT_TRUE(second.port.write());
  once.fill(4, 9);
  ASSERT_TRUE(once.port.write());
  ASSERT_EQ(RTC::RTC_OK, once.m_ref->disconnect(onceId.c_str()));
  EXPECT_EQ(1u, sink.port.connectorCount());
  ASSERT_TRUE(sink.port.isNew());
  ASSERT_TRUE(sink.port.read());
  EXPECT_TRUE(sameSample(once.value, sink.value));
  ASSERT_TRUE(sink.port.read());
  EXPECT_TRUE(sameSample(second.value, sink.value));
  EXPECT_FALSE(sink.port.isNew());
}

// A client without an outport of its own reads a port this way: it calls
// notify_connect with a profile that names only the inport (and, as the
// real framework's tools do, often no id), gets the InPortCdr back and puts
// to it. Refused with BAD_PARAMETER before.
TEST(InPort, NotifyConnectNamingOnlyTheInportPublishesItsInterface) {
  for (const char* id : {"", "5c8a9aea-375f-4230-90b8-09d71c9e7e20"}) {
    SCOPED_TRACE(std::string("connector_id '") + id + "'");
    Sink sink;
    RTC::ConnectorProfile profile = makeProfile({sink.ref()}, {});
    profile.connector_id = CORBA::string_dup(id);
    ASSERT_EQ(RTC::RTC_OK, sink.m_ref->notify_connect(profile));
    const std::string kept = profile.connector_id.in();
    if (id[0] != '\0') {
      EXPECT_EQ(id, kept);
    }
    EXPECT_EQ(36u, kept.size());
    EXPECT_NE(-1, NVUtil::find_index(profile.properties, "dataport.corba_cdr.inport_ref"));
    OpenRTM::InPortCdr_var cdr = inportCdrOf(profile);
    ASSERT_FALSE(CORBA::is_nil(cdr));
    EXPECT_EQ(OpenRTM::PORT_OK, cdr->put(cdrOf(timedLongSeqBytes(7, 0, {1, 2}, true))));
    ASSERT_TRUE(sink.port.read());
    EXPECT_EQ(7u, sink.value.tm.sec);
    EXPECT_EQ(RTC::RTC_OK, sink.m_ref->disconnect(kept.c_str()));
    EXPECT_EQ(0u, sink.port.connectorCount());
  }
}

// A connection whose outport vanished is dropped when a new connection
// arrives or the profile is read.
TEST(InPort, DeadFirstConnectionIsDropped) {
  for (bool byNewConnection : {false, true}) {
    SCOPED_TRACE(byNewConnection ? "a new connection arrives" : "the profile is read");
    Sink sink;
    Source dead("out", "Dead0"), alive("out", "Alive0"), late("out", "Late0");
    ASSERT_EQ(RTC::RTC_OK, connectVia(dead.ref(), dead.ref(), sink.ref(), {}));
    ASSERT_EQ(RTC::RTC_OK, connectVia(alive.ref(), alive.ref(), sink.ref(), {}));
    killObject(dead.m_ref);
    alive.fill(4, 3);
    ASSERT_TRUE(alive.port.write());
    if (byNewConnection) {
      ASSERT_EQ(RTC::RTC_OK, connectVia(late.ref(), late.ref(), sink.ref(), {}));
      EXPECT_EQ(2u, sink.port.connectorCount());
    } else {
      RTC::PortProfile_var profile = sink.ref()->get_port_profile();
      EXPECT_EQ(1u, profile->connector_profiles.length());
    }
    EXPECT_TRUE(sink.port.isNew());
    ASSERT_TRUE(sink.port.read());
    EXPECT_TRUE(sameSample(alive.value, sink.value));
  }
}

// Pull: read() asks the outport, which keeps what was written; isNew stays
// false (it looks at a buffer a pull connection does not fill).
TEST(InPort, PullReadsFromTheOutport) {
  Pushed p(Props{{"dataport.dataflow_type", "pull"}});
  ASSERT_EQ(RTC::RTC_OK, p.result);
  EXPECT_NE("", profileValue(onlyProfile(p.sink.port), "dataport.corba_cdr.outport_ior"));
  OpenRTM::OutPortCdr_var cdr =
      OpenRTM::OutPortCdr::_narrow(CORBA::Object_var(pixmoor_test::orb()->string_to_object(
          profileValue(onlyProfile(p.sink.port), "dataport.corba_cdr.outport_ior").c_str())));
  // Nothing written yet: readback has nothing to give either.
  OpenRTM::CdrData_var nothing;
  EXPECT_EQ(OpenRTM::BUFFER_EMPTY, cdr->get(nothing.out()));
  EXPECT_FALSE(p.sink.port.read());
  p.source.fill(640 * 480, 4);
  ASSERT_TRUE(p.source.port.write());
  EXPECT_FALSE(p.sink.port.isNew());
  ASSERT_TRUE(p.sink.port.read());
  EXPECT_TRUE(sameSample(p.source.value, p.sink.value));
  p.sink.value.tm.sec = 0;
  ASSERT_TRUE(p.sink.port.read());  // the outport's readback
  EXPECT_TRUE(sameSample(p.source.value, p.sink.value));

  // The outport's OutPortCdr going away ends the connection on read.
  killObject(cdr);
  EXPECT_FALSE(p.sink.port.read());
  EXPECT_EQ(0u, p.sink.port.connectorCount());
}

// The outport's empty policy, from its own settings or the request.
TEST(InPort, PullHonoursTheOutportsEmptyPolicy) {
  struct Case {
    const char* what;
    const char* portPolicy;
    Props request;
    bool readsAgain;
  };
  const Case cases[] = {
      {"request", "", {{"dataport.outport.buffer.read.empty_policy", "do_nothing"}}, false},
      {"the outport's settings", "do_nothing", {}, false},
      {"the request over the settings",
       "do_nothing",
       {{"dataport.buffer.read.empty_policy", "readback"}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sink sink;
    Source source;
    coil::Properties settings;
    if (*c.portPolicy != '\0') settings.setProperty("buffer.read.empty_policy", c.portPolicy);
    source.port.init(settings);
    Props request = c.request;
    request.emplace_back("dataport.dataflow_type", "pull");
    ASSERT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(), request));
    source.fill(4, 4);
    ASSERT_TRUE(source.port.write());
    ASSERT_TRUE(sink.port.read());
    EXPECT_EQ(c.readsAgain, sink.port.read());
  }
}
