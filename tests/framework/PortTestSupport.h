// Shared pieces of the data-port tests: ports on the test ORB, profiles and
// samples.
#ifndef PIXMOOR_TESTS_FRAMEWORK_PORTTESTSUPPORT_H
#define PIXMOOR_TESTS_FRAMEWORK_PORTTESTSUPPORT_H

// The data types before the port headers, whose templates look up their
// Any operators (see rtm/CdrSerializer.h).
#include <rtm/idl/BasicDataTypeSkel.h>

#include <rtm/DataInPort.h>
#include <rtm/DataOutPort.h>
#include <rtm/idl/DataPortSkel.h>
#include <rtm/idl/SharedMemorySkel.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "common/Uuid.h"
#include "corba/NVUtil.h"
#include "port/SharedSegment.h"

namespace port_test {

typedef std::vector<std::pair<std::string, std::string> > Props;

// An inport whose port properties a test sets, as a component's own
// properties would.
struct SinkPort : RTC::InPort<RTC::TimedLongSeq> {
  using RTC::InPort<RTC::TimedLongSeq>::InPort;
  void set(const char* key, const char* value) { m_portProperties.setProperty(key, value); }
};

// An inport and its bound sample, owned by no component.
struct Sink {
  explicit Sink(const char* name = "in", const char* instance = "Sink0") : port(name, value) {
    pixmoor_test::orb();
    port.setOwner(RTC::RTObject::_nil(), instance);
  }
  RTC::TimedLongSeq value;
  SinkPort port;
  RTC::PortService_ptr ref() { return m_ref = port.getPortRef(); }
  RTC::PortService_var m_ref;
};

// An outport and its bound sample, owned by no component.
struct Source {
  explicit Source(const char* name = "out", const char* instance = "Source0") : port(name, value) {
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

// Returns the root POA of the test ORB.
inline PortableServer::POA_ptr rootPoa() {
  CORBA::Object_var obj = pixmoor_test::orb()->resolve_initial_references("RootPOA");
  return PortableServer::POA::_narrow(obj);
}

// Deactivates the object behind `ref`, as if its process had let it go,
// without anything else noticing.
inline void killObject(CORBA::Object_ptr ref) {
  PortableServer::POA_var poa = rootPoa();
  PortableServer::ObjectId_var oid = poa->reference_to_id(ref);
  poa->deactivate_object(oid.in());
}

// Returns the string property `name` of a connector profile ("" if absent).
inline std::string profileValue(const RTC::ConnectorProfile& profile, const char* name) {
  return NVUtil::toString(profile.properties, name);
}

// Returns the InPortCdr a push connection's inport published.
inline OpenRTM::InPortCdr_ptr inportCdrOf(const RTC::ConnectorProfile& profile) {
  const std::string ior = profileValue(profile, "dataport.corba_cdr.inport_ior");
  if (ior.empty()) return OpenRTM::InPortCdr::_nil();
  CORBA::Object_var obj = pixmoor_test::orb()->string_to_object(ior.c_str());
  return OpenRTM::InPortCdr::_narrow(obj);
}

// Returns the PortSharedMemory a shared_memory connection's provider
// published under `key`.
inline OpenRTM::PortSharedMemory_ptr sharedMemoryOf(
    const RTC::ConnectorProfile& profile, const char* key = "dataport.corba_cdr.inport_ior") {
  const std::string ior = profileValue(profile, key);
  if (ior.empty()) return OpenRTM::PortSharedMemory::_nil();
  CORBA::Object_var obj = pixmoor_test::orb()->string_to_object(ior.c_str());
  return OpenRTM::PortSharedMemory::_narrow(obj);
}

// The writing side of a shared_memory connection, made by hand as a
// foreign outport would: a segment of its own, open_memory and put on the
// inport's PortSharedMemory.
struct SegmentPeer {
  // Takes over the reference `inport`.
  explicit SegmentPeer(OpenRTM::PortSharedMemory_ptr inport = OpenRTM::PortSharedMemory::_nil())
      : peer(inport) {}
  // Creates a segment of `size` bytes and announces it (setEndian, then
  // open_memory).
  void announce(size_t size) {
    std::string error;
    segment.close();
    if (!segment.create(name, size, error)) throw std::runtime_error(error);
    peer->setEndian(little);
    peer->open_memory(size, name.c_str());
  }
  // Writes `length` as the length word.
  void setLength(std::uint64_t length) {
    for (int i = 0; i < 8; ++i) {
      segment.data()[little ? i : 7 - i] = static_cast<unsigned char>(length >> (8 * i));
    }
  }
  // Writes `bytes` and puts them; a segment too small is replaced first.
  OpenRTM::PortStatus put(const std::vector<std::uint8_t>& bytes) {
    if (!segment.mapped() || segment.size() < bytes.size() + 8) {
      if (segment.mapped()) peer->close_memory(false);
      announce(std::max<size_t>(bytes.size() + 8, 4096));
    }
    setLength(bytes.size());
    std::copy(bytes.begin(), bytes.end(), segment.data() + 8);
    return peer->put();
  }
  OpenRTM::PortSharedMemory_var peer;
  RTC::SharedSegment segment;
  std::string name = RTC::makeUuid();
  bool little = true;
};

// Returns the names in /dev/shm.
inline std::set<std::string> shmNames() {
  std::set<std::string> names;
  if (DIR* dir = ::opendir("/dev/shm")) {
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') names.insert(entry->d_name);
    }
    ::closedir(dir);
  }
  return names;
}

// Returns the only connector profile of `port` (empty when it has none or several).
inline RTC::ConnectorProfile onlyProfile(RTC::PortBase& port) {
  RTC::ConnectorProfileList_var list = port.get_connector_profiles();
  if (list->length() != 1) return RTC::ConnectorProfile();
  return list[0];
}

// Returns `values` as a CdrData.
inline OpenRTM::CdrData cdrOf(const std::vector<std::uint8_t>& bytes) {
  OpenRTM::CdrData data;
  data.length(static_cast<CORBA::ULong>(bytes.size()));
  for (CORBA::ULong i = 0; i < data.length(); ++i) data[i] = bytes[i];
  return data;
}

// Appends `v` to `out` in the given byte order.
inline void put32(std::vector<std::uint8_t>& out, std::uint32_t v, bool little) {
  for (int i = 0; i < 4; ++i) {
    const int shift = little ? 8 * i : 8 * (3 - i);
    out.push_back(static_cast<std::uint8_t>(v >> shift));
  }
}

// Returns the CDR bytes of a TimedLongSeq built by hand: sec, nsec, count,
// then `elements`.
inline std::vector<std::uint8_t> timedLongSeqBytes(std::uint32_t sec, std::uint32_t nsec,
                                                   const std::vector<std::uint32_t>& elements,
                                                   bool little) {
  std::vector<std::uint8_t> out;
  put32(out, sec, little);
  put32(out, nsec, little);
  put32(out, static_cast<std::uint32_t>(elements.size()), little);
  for (std::uint32_t e : elements) put32(out, e, little);
  return out;
}

// An InPortCdr that records every sample put to it and answers `answer`
// (or raises `raise` when set).
class CaptureInPortCdr : public POA_OpenRTM::InPortCdr {
 public:
  OpenRTM::PortStatus put(const OpenRTM::CdrData& data) override {
    std::lock_guard<std::mutex> guard(mutex);
    if (raiseMarshal) throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
    samples.emplace_back(data.get_buffer(), data.get_buffer() + data.length());
    return answer;
  }
  std::vector<std::vector<std::uint8_t> > taken() {
    std::lock_guard<std::mutex> guard(mutex);
    return samples;
  }
  std::mutex mutex;
  std::vector<std::vector<std::uint8_t> > samples;
  OpenRTM::PortStatus answer = OpenRTM::PORT_OK;
  bool raiseMarshal = false;
};

// A PortService standing in for a foreign inport: notify_connect publishes
// `inportIor` and records the profile; notify_disconnect is counted.
class FakeInPortService : public POA_RTC::PortService {
 public:
  explicit FakeInPortService(const std::string& inportIor) : m_ior(inportIor) {}
  RTC::PortProfile* get_port_profile() override { return new RTC::PortProfile; }
  RTC::ConnectorProfileList* get_connector_profiles() override {
    return new RTC::ConnectorProfileList;
  }
  RTC::ConnectorProfile* get_connector_profile(const char*) override {
    return new RTC::ConnectorProfile;
  }
  RTC::ReturnCode_t connect(RTC::ConnectorProfile&) override { return RTC::UNSUPPORTED; }
  RTC::ReturnCode_t disconnect(const char*) override { return RTC::RTC_OK; }
  RTC::ReturnCode_t disconnect_all() override { return RTC::RTC_OK; }
  RTC::ReturnCode_t notify_connect(RTC::ConnectorProfile& profile) override {
    NVUtil::setStringValue(profile.properties, "dataport.corba_cdr.inport_ior", m_ior.c_str());
    ++connects;
    return RTC::RTC_OK;
  }
  RTC::ReturnCode_t notify_disconnect(const char*) override {
    ++disconnects;
    return RTC::RTC_OK;
  }
  int connects = 0;
  int disconnects = 0;

 private:
  std::string m_ior;
};

// Activates a servant of type T in the root POA for the scope's lifetime.
template <class T>
class Activated {
 public:
  template <class... Args>
  explicit Activated(Args&&... args) : servant(new T(std::forward<Args>(args)...)) {
    PortableServer::POA_var poa = rootPoa();
    m_oid = poa->activate_object(servant);
    ref = poa->id_to_reference(m_oid.in());
  }
  ~Activated() {
    try {
      PortableServer::POA_var poa = rootPoa();
      poa->deactivate_object(m_oid.in());
    } catch (const CORBA::Exception&) {
    }
  }
  Activated(const Activated&) = delete;
  Activated& operator=(const Activated&) = delete;
  std::string ior() const {
    CORBA::String_var s = pixmoor_test::orb()->object_to_string(ref);
    return s.in();
  }
  PortableServer::Servant_var<T> servant;
  CORBA::Object_var ref;

 private:
  PortableServer::ObjectId_var m_oid;
};

}  // namespace port_test

#endif
