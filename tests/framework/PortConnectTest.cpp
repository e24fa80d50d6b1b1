// The PortService protocol between ports on a real ORB: profiles, connect
// and notify_connect along the port list, refusals, disconnects.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PortTestSupport.h"

using namespace port_test;

namespace {

std::string prop(const SDOPackage::NVList& nv, const char* name) {
  return NVUtil::toString(nv, name);
}

}  // namespace

TEST(PortConnect, PortProfilesDescribeTheDataPorts) {
  Sink sink;
  Source source;
  RTC::PortProfile_var in = sink.ref()->get_port_profile();
  RTC::PortProfile_var out = source.ref()->get_port_profile();
  EXPECT_STREQ("Sink0.in", in->name);
  EXPECT_STREQ("Source0.out", out->name);
  EXPECT_EQ(0u, in->interfaces.length());
  EXPECT_TRUE(in->port_ref->_is_equivalent(sink.m_ref));
  EXPECT_TRUE(CORBA::is_nil(in->owner));
  EXPECT_EQ("DataInPort", prop(in->properties, "port.port_type"));
  EXPECT_EQ("DataOutPort", prop(out->properties, "port.port_type"));
  EXPECT_EQ("IDL:RTC/TimedLongSeq:1.0", prop(in->properties, "dataport.data_type"));
  EXPECT_EQ("IDL:RTC/TimedLongSeq:1.0", prop(out->properties, "dataport.data_type"));
  EXPECT_EQ("Any", prop(in->properties, "dataport.subscription_type"));
  EXPECT_EQ("flush,new,periodic", prop(out->properties, "dataport.subscription_type"));
  EXPECT_EQ("push,pull", prop(in->properties, "dataport.dataflow_type"));
  EXPECT_EQ("corba_cdr,shared_memory", prop(in->properties, "dataport.interface_type"));
  EXPECT_EQ("corba_cdr,shared_memory", prop(out->properties, "dataport.interface_type"));
}

// Whichever port connect is called on, and in either order of the list,
// both ports end up with the same completed profile.
TEST(PortConnect, BothPortsKeepTheCompletedProfile) {
  struct Case {
    bool callInport;
    bool inportFirst;
    const char* iface;
    const char* published;  // what the inport publishes under the corba_cdr keys
  };
  for (const Case& c : {Case{false, false, "corba_cdr", "IDL:OpenRTM/InPortCdr:1.0"},
                        Case{true, false, "corba_cdr", "IDL:OpenRTM/InPortCdr:1.0"},
                        Case{false, true, "corba_cdr", "IDL:OpenRTM/InPortCdr:1.0"},
                        Case{true, true, "corba_cdr", "IDL:OpenRTM/InPortCdr:1.0"},
                        Case{false, false, "shared_memory", "IDL:OpenRTM/PortSharedMemory:1.0"},
                        Case{true, true, "shared_memory", "IDL:OpenRTM/PortSharedMemory:1.0"}}) {
    SCOPED_TRACE(std::string(c.iface) + " " + (c.callInport ? "in." : "out.") + "connect, " +
                 (c.inportFirst ? "[in, out]" : "[out, in]"));
    Sink sink;
    Source source;
    const Props props = {{"dataport.interface_type", c.iface}};
    RTC::ConnectorProfile profile = c.inportFirst ? makeProfile({sink.ref(), source.ref()}, props)
                                                  : makeProfile({source.ref(), sink.ref()}, props);
    RTC::PortService_ptr caller = c.callInport ? sink.m_ref.in() : source.m_ref.in();
    ASSERT_EQ(RTC::RTC_OK, caller->connect(profile));
    const std::string id(profile.connector_id.in());
    EXPECT_EQ(36u, id.size());
    EXPECT_EQ("little,big", prop(profile.properties, "dataport.serializer.cdr.endian"));
    EXPECT_NE("", prop(profile.properties, "dataport.corba_cdr.inport_ior"));
    const CORBA::Long refIndex =
        NVUtil::find_index(profile.properties, "dataport.corba_cdr.inport_ref");
    ASSERT_GE(refIndex, 0);
    CORBA::Object_var ref;
    ASSERT_TRUE(profile.properties[refIndex].value >>= CORBA::Any::to_object(ref.out()));
    EXPECT_TRUE(ref->_is_a(c.published));
    for (RTC::PortBase* port :
         {static_cast<RTC::PortBase*>(&sink.port), static_cast<RTC::PortBase*>(&source.port)}) {
      RTC::ConnectorProfile_var kept = port->get_connector_profile(id.c_str());
      EXPECT_EQ(id, kept->connector_id.in());
      EXPECT_EQ(2u, kept->ports.length());
      EXPECT_EQ(prop(profile.properties, "dataport.corba_cdr.inport_ior"),
                prop(kept->properties, "dataport.corba_cdr.inport_ior"));
    }
    // A sample, then one past the first segment (2 MiB), then a small one
    // into the grown segment.
    for (const CORBA::ULong elements : {16u, 700000u, 3u}) {
      source.fill(elements, static_cast<CORBA::Long>(elements));
      ASSERT_TRUE(source.port.write());
      ASSERT_TRUE(sink.port.read());
      EXPECT_TRUE(sameSample(source.value, sink.value)) << elements;
    }
  }
}

namespace {

// Connects a fresh source and sink with each of `refused`, asking either
// port: each answers `expected` and neither port keeps anything.
void expectRefusedWithNoHalfConnection(const std::vector<Props>& refused,
                                       RTC::ReturnCode_t expected) {
  for (size_t i = 0; i < refused.size(); ++i) {
    for (bool callInport : {false, true}) {
      SCOPED_TRACE(std::to_string(i) + (callInport ? " via in" : " via out"));
      Sink sink;
      Source source;
      RTC::PortService_ptr caller = callInport ? sink.ref() : source.ref();
      EXPECT_EQ(expected, connectVia(caller, source.ref(), sink.ref(), refused[i]));
      EXPECT_EQ(0u, sink.port.connectorCount());
      EXPECT_EQ(0u, source.port.connectorCount());
    }
  }
}

}  // namespace

// What the ports cannot serve is refused with BAD_PARAMETER, and no port
// keeps a half-made connection, whichever port was asked.
TEST(PortConnect, RefusalsLeaveNoHalfConnection) {
  const std::vector<Props> refused = {
      {{"dataport.interface_type", "direct"}},
      {{"dataport.interface_type", ""}},
      {{"dataport.dataflow_type", "duplex"}},
      {{"dataport.dataflow_type", ""}},
      {{"dataport.data_type", "IDL:RTC/TimedShortSeq:1.0"}},
      {{"dataport.data_type", "TimedShortSeq"}},
      {{"dataport.serializer.cdr.endian", "middle"}},
      {{"dataport.subscription_type", "periodic"}},
      {{"dataport.subscription_type", "periodic"}, {"dataport.publisher.push_rate", "-1"}},
      {{"dataport.subscription_type", "sometimes"}},
      {{"dataport.subscription_type", "new"}, {"dataport.publisher.push_policy", "most"}},
  };
  expectRefusedWithNoHalfConnection(refused, RTC::BAD_PARAMETER);
}

// What would lock tools out of the inport's profile is refused at connect
// with RTC_ERROR and leaves nothing behind: one 3 MB property, 40 large ones
// (together past the profile limit), more connections than
// connection_limit. Each used to be stored whole and returned in every
// profile read, until rtmctl failed with MARSHAL.
TEST(PortConnect, OversizedProfilesAndConnectionsPastTheLimitAreRefused) {
  Props many;
  for (int i = 0; i < 40; ++i) many.push_back({"x.key" + std::to_string(i), std::string(4000, 'v')});
  const std::vector<Props> refused = {{{"x.huge", std::string(3000000, 'v')}},
                                      many,
                                      // Past connector_value_limit, well inside the profile's.
                                      {{"x.long", std::string(9000, 'v')}}};
  expectRefusedWithNoHalfConnection(refused, RTC::RTC_ERROR);

  Sink sink;
  sink.port.set("connection_limit", "2");
  Source a("out", "A0"), b("out", "B0"), c("out", "C0");
  EXPECT_EQ(RTC::RTC_OK, connectVia(a.ref(), a.ref(), sink.ref(), {}));
  EXPECT_EQ(RTC::RTC_OK, connectVia(b.ref(), b.ref(), sink.ref(), {}));
  EXPECT_EQ(RTC::RTC_ERROR, connectVia(c.ref(), c.ref(), sink.ref(), {}));
  EXPECT_EQ(2u, sink.port.connectorCount());
  EXPECT_EQ(0u, c.port.connectorCount());
  // The port at its limit refuses before anything is made or passed on:
  // the port after it in the list never hears of the connection.
  Activated<FakeInPortService> next("IOR:unused");
  RTC::PortService_var nextRef = RTC::PortService::_narrow(next.ref);
  RTC::ConnectorProfile sinkFirst = makeProfile({sink.ref(), nextRef.in()}, {});
  EXPECT_EQ(RTC::RTC_ERROR, sink.ref()->connect(sinkFirst));
  EXPECT_EQ(0, next.servant->connects);
  EXPECT_EQ(2u, sink.port.connectorCount());
}

// A connection that names only the inport has no peer to probe: it used to
// outlive the client that made it for ever. Once it has delivered nothing
// for stale_timeout while another connection exists, the next connect or
// profile read drops it; the last connection stays whatever it does, and a
// connection naming its producer's port is never stale, however quiet.
TEST(PortConnect, StaleSinglePortConnectionExpires) {
  Sink sink;
  sink.port.set("stale_timeout", "0.2");
  sink.port.set("connection_limit", "2");
  RTC::ConnectorProfile lonely = makeProfile({sink.ref()}, {});
  ASSERT_EQ(RTC::RTC_OK, sink.ref()->connect(lonely));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  RTC::PortProfile_var profile = sink.ref()->get_port_profile();
  EXPECT_EQ(1u, profile->connector_profiles.length());

  Source live("out", "Live0"), late("out", "Late0");
  ASSERT_EQ(RTC::RTC_OK, connectVia(live.ref(), live.ref(), sink.ref(), {}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // At the limit, the stale one makes room for a newcomer.
  ASSERT_EQ(RTC::RTC_OK, connectVia(late.ref(), late.ref(), sink.ref(), {}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  RTC::ConnectorProfileList_var left = sink.ref()->get_connector_profiles();
  ASSERT_EQ(2u, left->length()) << "the quiet connections name their producers' ports";
  for (CORBA::ULong i = 0; i < left->length(); ++i) {
    EXPECT_NE(std::string(lonely.connector_id.in()), left[i].connector_id.in());
  }
}

// At connection_limit, a connection naming no other port keeps its place for
// stale_timeout against a newcomer that names its own port, even while it
// trickles samples in; then the one that delivered least recently makes
// room. A newcomer naming no other port cannot take that place.
TEST(PortConnect, AtTheLimitALonelyConnectionYieldsToAProducerAfterStaleTimeout) {
  Sink sink;
  sink.port.set("stale_timeout", "0.3");
  sink.port.set("connection_limit", "2");
  RTC::ConnectorProfile lonely[2] = {makeProfile({sink.ref()}, {}), makeProfile({sink.ref()}, {})};
  OpenRTM::InPortCdr_var cdr[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(RTC::RTC_OK, sink.ref()->connect(lonely[i]));
    cdr[i] = inportCdrOf(lonely[i]);
  }
  const OpenRTM::CdrData sample = cdrOf(timedLongSeqBytes(1, 2, {3}, true));
  Source early("out", "Early0"), producer("out", "Producer0");
  EXPECT_EQ(RTC::RTC_ERROR, connectVia(early.ref(), early.ref(), sink.ref(), {}))
      << "both still within stale_timeout";
  for (int round = 0; round < 4; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < 2; ++i) ASSERT_EQ(OpenRTM::PORT_OK, cdr[i]->put(sample));
  }
  RTC::ConnectorProfile another = makeProfile({sink.ref()}, {});
  EXPECT_EQ(RTC::RTC_ERROR, sink.ref()->connect(another));
  ASSERT_EQ(RTC::RTC_OK, connectVia(producer.ref(), producer.ref(), sink.ref(), {}));
  // The second delivered last; the first made room.
  EXPECT_THROW(cdr[0]->put(sample), CORBA::OBJECT_NOT_EXIST);
  EXPECT_EQ(OpenRTM::PORT_OK, cdr[1]->put(sample));
  EXPECT_EQ(2u, sink.port.connectorCount());
}

TEST(PortConnect, AcceptsWhatRealPeersSend) {
  for (const char* type :
       {"IDL:RTC/TimedLongSeq:1.0", "TimedLongSeq", "RTC::TimedLongSeq", " TimedLongSeq "}) {
    SCOPED_TRACE(type);
    Sink sink;
    Source source;
    // Bare keys with empty values and lists, as real ports send them.
    EXPECT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(),
                                      {{"dataport.data_type", type},
                                       {"dataport.interface_type", "corba_cdr,direct"},
                                       {"dataport.subscription_type", "Flush"},
                                       {"dataport.buffer.length", ""},
                                       {"dataport.outport", ""},
                                       {"dataport.inport", ""}}));
  }
}

TEST(PortConnect, RefusesProfilesItCannotTakePartIn) {
  Sink sink;
  Source source, other("out", "Other0");
  RTC::ConnectorProfile notListed = makeProfile({other.ref(), sink.ref()}, {});
  EXPECT_EQ(RTC::BAD_PARAMETER, source.ref()->connect(notListed));
  RTC::ConnectorProfile twice = makeProfile({source.ref(), sink.ref(), source.ref()}, {});
  EXPECT_EQ(RTC::BAD_PARAMETER, source.ref()->connect(twice));
  RTC::ConnectorProfile withNil = makeProfile({source.ref(), RTC::PortService::_nil()}, {});
  EXPECT_EQ(RTC::BAD_PARAMETER, source.ref()->connect(withNil));
  EXPECT_EQ(
      0u, sink.port.connectorCount() + source.port.connectorCount() + other.port.connectorCount());

  // An id already in use is refused and its connection left alone.
  std::string id;
  ASSERT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(), {}, &id));
  RTC::ConnectorProfile again = makeProfile({source.ref(), sink.ref()}, {});
  again.connector_id = CORBA::string_dup(id.c_str());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, source.ref()->connect(again));
  EXPECT_EQ(1u, sink.port.connectorCount());
  EXPECT_EQ(1u, source.port.connectorCount());
}

// An inport whose published reference the outport cannot use: the outport
// refuses, tells the port after it to undo, and keeps nothing.
TEST(PortConnect, FailedSubscriptionIsUndoneAlongTheList) {
  Source source;
  Activated<FakeInPortService> fake("IOR:not-an-ior");
  RTC::PortService_var fakeRef = RTC::PortService::_narrow(fake.ref);
  RTC::ConnectorProfile profile = makeProfile({source.ref(), fakeRef.in()}, {});
  EXPECT_EQ(RTC::BAD_PARAMETER, source.m_ref->connect(profile));
  EXPECT_EQ(1, fake.servant->connects);
  EXPECT_EQ(1, fake.servant->disconnects);
  EXPECT_EQ(0u, source.port.connectorCount());
}

TEST(PortConnect, DisconnectFromEitherEndLeavesBothClean) {
  for (bool fromInport : {false, true}) {
    SCOPED_TRACE(fromInport ? "from the inport" : "from the outport");
    Sink sink;
    Source source;
    std::string id;
    ASSERT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(), {}, &id));
    OpenRTM::InPortCdr_var cdr = inportCdrOf(onlyProfile(sink.port));
    RTC::PortService_ptr caller = fromInport ? sink.m_ref.in() : source.m_ref.in();
    EXPECT_EQ(RTC::RTC_OK, caller->disconnect(id.c_str()));
    EXPECT_EQ(0u, sink.port.connectorCount());
    EXPECT_EQ(0u, source.port.connectorCount());
    // The connection's InPortCdr is gone with it.
    EXPECT_THROW(cdr->put(cdrOf(timedLongSeqBytes(1, 2, {3}, true))), CORBA::OBJECT_NOT_EXIST);
    EXPECT_FALSE(source.port.write());
    EXPECT_EQ(RTC::BAD_PARAMETER, caller->disconnect(id.c_str()));
    EXPECT_EQ(RTC::BAD_PARAMETER, caller->notify_disconnect(id.c_str()));
  }
}

// With the first port of the list gone, a disconnect still cleans the rest.
TEST(PortConnect, DisconnectWithTheFirstPortGone) {
  Sink sink;
  Source source;
  std::string id;
  ASSERT_EQ(RTC::RTC_OK, connectVia(source.ref(), source.ref(), sink.ref(), {}, &id));
  killObject(source.m_ref);
  EXPECT_EQ(RTC::RTC_OK, sink.ref()->disconnect(id.c_str()));
  EXPECT_EQ(0u, sink.port.connectorCount());
}

TEST(PortConnect, DisconnectAllAndDeactivateTellThePeers) {
  Sink sink;
  Source a("out", "A0"), b("out", "B0");
  ASSERT_EQ(RTC::RTC_OK, connectVia(a.ref(), a.ref(), sink.ref(), {}));
  ASSERT_EQ(RTC::RTC_OK, connectVia(b.ref(), b.ref(), sink.ref(), {}));
  RTC::ConnectorProfileList_var list = sink.ref()->get_connector_profiles();
  EXPECT_EQ(2u, list->length());
  EXPECT_EQ(RTC::RTC_OK, sink.ref()->disconnect_all());
  EXPECT_EQ(0u, sink.port.connectorCount() + a.port.connectorCount() + b.port.connectorCount());

  ASSERT_EQ(RTC::RTC_OK, connectVia(a.ref(), a.ref(), sink.ref(), {}));
  sink.port.deactivatePort();
  EXPECT_EQ(0u, a.port.connectorCount());
  EXPECT_THROW(sink.m_ref->get_port_profile(), CORBA::OBJECT_NOT_EXIST);
}

TEST(PortConnect, UnknownConnectorProfileIsEmpty) {
  Sink sink;
  RTC::ConnectorProfile_var profile = sink.ref()->get_connector_profile("no-such-id");
  EXPECT_STREQ("", profile->connector_id);
  EXPECT_EQ(0u, profile->ports.length());
}
