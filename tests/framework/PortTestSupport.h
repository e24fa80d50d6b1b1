// Shared pieces of the data-port tests: ports on the test ORB, profiles and
// samples.
#ifndef PIXMOOR_TESTS_FRAMEWORK_PORTTESTSUPPORT_H
#define PIXMOOR_TESTS_FRAMEWORK_PORTTESTSUPPORT_H

#include <rtm/DataInPort.h>
#include <rtm/DataOutPort.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "NVUtil.h"
#include "TestSupport.h"

namespace port_test {

typedef std::vector<std::pair<std::string, std::string> > Props;

// An inport and its bound sample, owned by no component.
struct Sink {
  explicit Sink(const char* name = "in", const char* instance = "Sink0") : port(name, value) {
    pixmoor_test::orb();
    port.setOwner(RTC::RTObject::_nil(), instance);
  }
  RTC::TimedLongSeq value;
  RTC::InPort<RTC::TimedLongSeq> port;
  RTC::PortService_ptr ref() { return m_ref = port.getPortRef(); }
  RTC::PortService_var m_ref;
};

// An outport and its bound sample, owned by no component.
struct Source {
  explicit Source(const char* name = "out", const char* instance = "Source0")
      : port(name, value) {
    pixmoor_test::orb();
    port.setOwner(RTC::RTObject::_nil(), instance);
  }
  // Fills the bound sample with `count` elements derived from `seed`.
  void fill(CORBA::ULong count, CORBA::Long seed) {
    value.tm.sec = static_cast<CORBA::ULong>(seed);
    value.tm.nsec = 1000u + static_cast<CORBA::ULong>(seed);
    value.data.length(count);
    for (CORBA::ULong i = 0; i < count; ++i) {
      value.data[i] = static_cast<CORBA::Long>(0x01020304u * (i + 1)) ^ seed;
    }
  }
  RTC::TimedLongSeq value;
  RTC::OutPort<RTC::TimedLongSeq> port;
  RTC::PortService_ptr ref() { return m_ref = port.getPortRef(); }
  RTC::PortService_var m_ref;
};

// Returns a connector profile joining `ports` with `props` (besides
// interface corba_cdr and dataflow push unless given).
inline RTC::ConnectorProfile makeProfile(const std::vector<RTC::PortService_ptr>& ports,
                                         const Props& props) {
  RTC::ConnectorProfile profile;
  profile.name = CORBA::string_dup("test");
  profile.connector_id = CORBA::string_dup("");
  profile.ports.length(static_cast<CORBA::ULong>(ports.size()));
  for (CORBA::ULong i = 0; i < ports.size(); ++i) {
    profile.ports[i] = RTC::PortService::_duplicate(ports[i]);
  }
  coil::Properties p;
  p.setProperty("dataport.interface_type", "corba_cdr");
  p.setProperty("dataport.dataflow_type", "push");
  for (const auto& kv : props) p.setProperty(kv.first, kv.second);
  profile.properties = NVUtil::toNVList(p);
  return profile;
}

// Connects `from` to `to` by calling connect on `caller`; returns the code
// and, in `id`, the connector id.
inline RTC::ReturnCode_t connectVia(RTC::PortService_ptr caller, RTC::PortService_ptr from,
                                    RTC::PortService_ptr to, const Props& props,
                                    std::string* id = nullptr) {
  RTC::ConnectorProfile profile = makeProfile({from, to}, props);
  RTC::ReturnCode_t result = caller->connect(profile);
  if (id != nullptr) *id = profile.connector_id.in();
  return result;
}

// Waits up to `seconds` for `condition`.
inline bool waitFor(const std::function<bool()>& condition, double seconds = 5.0) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}

// Returns whether two samples are equal, field by field.
inline bool sameSample(const RTC::TimedLongSeq& a, const RTC::TimedLongSeq& b) {
  if (a.tm.sec != b.tm.sec || a.tm.nsec != b.tm.nsec || a.data.length() != b.data.length()) {
    return false;
  }
  for (CORBA::ULong i = 0; i < a.data.length(); ++i) {
    if (a.data[i] != b.data[i]) return false;
  }
  return true;
}

}  // namespace port_test

#endif
