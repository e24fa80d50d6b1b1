#include <rtm/PortBase.h>
#include <rtm/SystemLogger.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/LogThrottle.h"
#include "common/Uuid.h"
#include "corba/ActivatedObject.h"
#include "corba/NVUtil.h"
#include "port/ConnectionProperties.h"
#include "port/ConnectorBase.h"
#include "port/PortServiceServant.h"

namespace RTC {

namespace {

const char* const kEndianKey = "dataport.serializer.cdr.endian";
// How long a peer port may take to say it still exists.
const CORBA::ULong kProbeTimeoutMs = 1000;
// How long a peer port may take over notify_connect or notify_disconnect: a
// stopped peer must not hold a connect, a disconnect or shutdown for ever.
const CORBA::ULong kPeerCallTimeoutMs = 2000;
// Peers called at once when a profile is read or connections end.
const size_t kConcurrentCalls = 32;
// Defaults of the port properties that bound what a connect may bring.
const double kDefaultValueLimit = 8192;     // bytes per connector property
const double kDefaultProfileLimit = 65536;  // bytes of a connector profile's
                                            // name and properties together
// Seconds a connection that names no other port may deliver nothing before
// a later connection replaces it.
const double kDefaultStaleTimeout = 30;

// Returns whether `peer` still answers; only the exceptions that mean "gone"
// count against it (a peer that is merely slow or odd is kept).
bool peerAlive(PortService_ptr peer) {
  if (CORBA::is_nil(peer)) return false;
  try {
    omniORB::setClientCallTimeout(peer, kProbeTimeoutMs);
    return !peer->_non_existent();
  } catch (const CORBA::SystemException& e) {
    return !isPeerGone(e);
  }
}

// Runs job(0) ... job(count - 1) side by side, kConcurrentCalls at a time,
// so that peers that do not answer cost one call timeout per batch rather
// than one each. A job that cannot have a thread runs on this one.
template <typename Job>
void sideBySide(size_t count, const Job& job) {
  for (size_t start = 0; start < count; start += kConcurrentCalls) {
    const size_t end = std::min(count, start + kConcurrentCalls);
    std::vector<std::future<void> > runs;
    for (size_t i = start; i < end; ++i) {
      try {
        runs.push_back(std::async(std::launch::async, job, i));
      } catch (const std::system_error&) {
        job(i);
      }
    }
    for (std::future<void>& run : runs) run.get();
  }
}

}  // namespace

struct PortBase::Connections {
  struct Entry {
    std::string id;
    ConnectorProfile profile;
    std::shared_ptr<ConnectorBase> connector;
    std::vector<PortService_var> peers;  // the other ports of the connection
    std::chrono::steady_clock::time_point since;  // when it was kept
  };

  explicit Connections(const char* name) : log(name) {}

  mutable std::mutex mutex;
  // A list: removing one connection must not copy every profile after it
  // (the profiles' CORBA types copy deeply), which made clearing 5000
  // connections take longer than any caller waits.
  std::list<Entry> entries;
  // Connectors dropped from their own threads, closed by the next caller.
  std::vector<std::shared_ptr<ConnectorBase> > dropped;
  // Connections this port is ending itself; any other end came from a peer.
  std::set<std::string> ending;
  ActivatedServant<PortServiceServant> object;
  Logger log;
  LogThrottle refusals;

  bool has(const std::string& id) const {
    for (const Entry& e : entries) {
      if (e.id == id) return true;
    }
    return false;
  }
};

PortBase::PortBase(const char* name)
    : m_name(name != nullptr ? name : ""),
      m_fullName(m_name),
      m_connections(new Connections(m_name.c_str())) {}

PortBase::~PortBase() { PortBase::deactivatePort(); }

void PortBase::setOwner(RTObject_ptr owner, const std::string& instanceName) {
  m_owner = RTObject::_duplicate(owner);
  m_fullName = instanceName.empty() ? m_name : instanceName + "." + m_name;
  m_connections->log.setName(m_fullName.c_str());
  if (CORBA::is_nil(m_objref)) m_objref = activatePort();
}

const char* PortBase::getName() const { return m_fullName.c_str(); }

void PortBase::init(const coil::Properties& prop) { m_portProperties = prop; }

PortService_ptr PortBase::getPortRef() const { return PortService::_duplicate(m_objref); }

PortService_ptr PortBase::activatePort() {
  CORBA::Object_var obj = m_connections->object.activate(new PortServiceServant(*this));
  if (CORBA::is_nil(obj)) {
    m_connections->log.log(Logger::RTL_ERROR, "cannot activate the port's CORBA object");
    return PortService::_nil();
  }
  return PortService::_narrow(obj);
}

Logger& PortBase::portLog() const { return m_connections->log; }

PortProfile* PortBase::getPortProfile() const {
  dropDeadConnectors();
  PortProfile* profile = new PortProfile;
  profile->name = CORBA::string_dup(m_fullName.c_str());
  profile->port_ref = PortService::_duplicate(m_objref);
  profile->owner = RTObject::_duplicate(m_owner);
  profile->properties = NVUtil::toNVList(m_properties);
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  profile->connector_profiles.length(static_cast<CORBA::ULong>(m_connections->entries.size()));
  CORBA::ULong i = 0;
  for (const Connections::Entry& e : m_connections->entries) {
    profile->connector_profiles[i++] = e.profile;
  }
  return profile;
}

void PortBase::deactivatePort() {
  disconnect_all();
  // Whatever is left (peers that could not be told) goes too.
  std::list<Connections::Entry> entries;
  std::vector<std::shared_ptr<ConnectorBase> > dropped;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    entries.swap(m_connections->entries);
    dropped.swap(m_connections->dropped);
  }
  for (Connections::Entry& e : entries) e.connector->close();
  for (auto& c : dropped) c->close();
  // No new requests, then wait for those in progress.
  m_connections->object.shutdown();
  m_objref = PortService::_nil();
}

namespace {

// Returns whether `port` is the object `self`; a port that cannot be asked
// is not.
bool sameObject(PortService_ptr port, PortService_ptr self) {
  try {
    return port->_is_equivalent(self);
  } catch (const CORBA::SystemException&) {
    return false;
  }
}

// Returns the index of `self` in `ports`, -1 when absent or listed twice
// (`twice` tells which).
CORBA::Long findSelf(const PortServiceList& ports, PortService_ptr self, bool& twice) {
  twice = false;
  if (CORBA::is_nil(self)) return -1;
  CORBA::Long found = -1;
  for (CORBA::ULong i = 0; i < ports.length(); ++i) {
    if (CORBA::is_nil(ports[i]) || !sameObject(ports[i], self)) continue;
    if (found >= 0) {
      twice = true;
      return -1;
    }
    found = static_cast<CORBA::Long>(i);
  }
  return found;
}

bool anyNil(const PortServiceList& ports) {
  for (CORBA::ULong i = 0; i < ports.length(); ++i) {
    if (CORBA::is_nil(ports[i])) return true;
  }
  return false;
}

// Returns the bytes a property value takes on the wire.
size_t valueSize(const CORBA::Any& value) {
  const char* text = nullptr;
  if (value >>= text) return text != nullptr ? std::strlen(text) : 0;
  cdrMemoryStream stream;
  value >>= stream;
  return stream.bufSize();
}

// Checks a connector profile against the port's size limits: every value
// and the whole (name, property names and values) are stored and returned
// in every profile read, so an oversized one would lock tools out.
bool profileFits(const ConnectorProfile& profile, const coil::Properties& portProps,
                 std::string& why) {
  std::string problem;
  const double valueLimit =
      portLimit(portProps, "connector_value_limit", kDefaultValueLimit, 1e300, &problem);
  const double totalLimit =
      portLimit(portProps, "connector_profile_limit", kDefaultProfileLimit, 1e300, &problem);
  double total = std::strlen(profile.name.in());
  for (CORBA::ULong i = 0; i < profile.properties.length(); ++i) {
    const double size = static_cast<double>(valueSize(profile.properties[i].value));
    if (size > valueLimit) {
      why = std::string("property ") + profile.properties[i].name.in() + " holds " +
            std::to_string(static_cast<unsigned long long>(size)) +
            " bytes, more than connector_value_limit (" +
            std::to_string(static_cast<unsigned long long>(valueLimit)) + ")";
      return false;
    }
    total += size + std::strlen(profile.properties[i].name.in());
  }
  if (total > totalLimit) {
    why = "its name and properties hold " + std::to_string(static_cast<unsigned long long>(total)) +
          " bytes, more than connector_profile_limit (" +
          std::to_string(static_cast<unsigned long long>(totalLimit)) + ")";
    return false;
  }
  return true;
}

// Returns the port's connection_limit (SIZE_MAX: none).
size_t connectionLimit(const coil::Properties& portProps) {
  const double limit = portLimit(portProps, "connection_limit", -1, -1, nullptr);
  return limit < 0 ? SIZE_MAX : static_cast<size_t>(limit);
}

}  // namespace

// Checks what both port kinds require of a connection: corba_cdr or
// shared_memory, push or pull, a matching data type and a known byte order.
static ReturnCode_t checkCommon(const coil::Properties& props, const std::string& ourType,
                                std::string& why) {
  const std::string iface = props.getProperty("dataport.interface_type");
  if (chosenInterface(props).empty()) {
    why = "unsupported dataport.interface_type '" + iface + "' (this port speaks " +
          kDataPortInterfaces + ")";
    return BAD_PARAMETER;
  }
  const std::string flow = firstEntry(props.getProperty("dataport.dataflow_type"));
  if (flow != "push" && flow != "pull") {
    why = "unsupported dataport.dataflow_type '" + flow + "' (push or pull)";
    return BAD_PARAMETER;
  }
  const std::string type = props.getProperty("dataport.data_type");
  if (!dataTypeMatches(type, ourType)) {
    why = "dataport.data_type '" + type + "' does not match the port's " + ourType;
    return BAD_PARAMETER;
  }
  bool little = true;
  if (!parseEndian(props, little)) {
    why = std::string("unsupported ") + kEndianKey + " '" + props.getProperty(kEndianKey) +
          "' (little or big)";
    return BAD_PARAMETER;
  }
  return RTC_OK;
}

ReturnCode_t PortBase::connect(ConnectorProfile& connector_profile) {
  Logger& log = m_connections->log;
  bool twice = false;
  if (connector_profile.ports.length() == 0 || anyNil(connector_profile.ports) ||
      findSelf(connector_profile.ports, m_objref, twice) < 0) {
    log.log(Logger::RTL_WARN,
            "connect refused: the profile's ports must list this port once and no nil ports");
    return BAD_PARAMETER;
  }
  std::string id(connector_profile.connector_id.in());
  if (id.empty()) {
    id = makeUuid();
    connector_profile.connector_id = CORBA::string_dup(id.c_str());
  } else {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    if (m_connections->has(id)) {
      log.log(Logger::RTL_WARN, "connect refused: connection " + id + " already exists");
      return PRECONDITION_NOT_MET;
    }
  }
  std::string why;
  if (!profileFits(connector_profile, m_portProperties, why)) {
    refuseConnect("connect refused: " + why);
    return RTC_ERROR;
  }
  if (NVUtil::find_index(connector_profile.properties, kEndianKey) < 0) {
    NVUtil::setStringValue(connector_profile.properties, kEndianKey, "little,big");
  }
  const ReturnCode_t checked = checkCommon(NVUtil::toProperties(connector_profile.properties),
                                           m_properties.getProperty("dataport.data_type"), why);
  if (checked != RTC_OK) {
    log.log(Logger::RTL_WARN, "connect refused: " + why);
    return checked;
  }

  ReturnCode_t result = RTC_ERROR;
  PortService_var first = PortService::_duplicate(connector_profile.ports[0]);
  if (sameObject(first, m_objref)) {
    result = notify_connect(connector_profile);
  } else {
    try {
      omniORB::setClientCallTimeout(first, kPeerCallTimeoutMs);
      result = first->notify_connect(connector_profile);
    } catch (const CORBA::SystemException& e) {
      log.log(Logger::RTL_WARN,
              "connect failed: the first port of the profile raised " + std::string(e._name()));
      result = RTC_ERROR;
    }
  }
  if (result != RTC_OK && result != PRECONDITION_NOT_MET) {
    // Our own ports undo themselves; a foreign first port may have kept its
    // half, which this removes (it answers BAD_PARAMETER when it kept none).
    // PRECONDITION_NOT_MET means the id is in use: leave that connection be.
    disconnectFrom(first, id);
  }
  return result;
}

void PortBase::disconnectFrom(PortService_ptr first, const std::string& id) {
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    m_connections->ending.insert(id);
  }
  if (!sameObject(first, m_objref)) {
    try {
      first->notify_disconnect(id.c_str());
    } catch (const CORBA::SystemException&) {
      // The first port is gone: the chain starts here instead.
    }
  }
  bool stillHere = false;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    stillHere = m_connections->has(id);
  }
  if (stillHere) notify_disconnect(id.c_str());
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  m_connections->ending.erase(id);
}

// Joins this port to the connection the profile describes, then passes the
// profile on to the next port of its list, which does the same.
ReturnCode_t PortBase::notify_connect(ConnectorProfile& connector_profile) {
  // A client that joins only this port (to read it without a port of its
  // own) calls notify_connect itself, often without an id.
  if (connector_profile.connector_id.in()[0] == '\0') {
    connector_profile.connector_id = CORBA::string_dup(makeUuid().c_str());
  }
  CORBA::Long self = -1;
  ReturnCode_t result = admitConnection(connector_profile, self);
  if (result != RTC_OK) return result;
  const std::string id(connector_profile.connector_id.in());

  // Publish this port's interfaces. The connector follows the request, and
  // the port's own settings where the request is silent.
  const coil::Properties settings =
      withPortDefaults(NVUtil::toProperties(connector_profile.properties), m_portProperties);
  std::shared_ptr<ConnectorBase> connector;
  result = createConnector(id, settings, connector_profile, connector);
  if (result != RTC_OK || !connector) return result != RTC_OK ? result : RTC_ERROR;

  const CORBA::ULong next = static_cast<CORBA::ULong>(self) + 1;
  result = passToNextPort(connector_profile, next);
  if (result != RTC_OK) {
    connector->close();
    return result;
  }

  // Subscribe to what the others published (they have by now), then keep it.
  result = subscribeInterfaces(
      withPortDefaults(NVUtil::toProperties(connector_profile.properties), m_portProperties),
      *connector);
  if (result == RTC_OK) result = keepConnection(connector_profile, self, connector);
  if (result != RTC_OK) {
    connector->close();
    if (next < connector_profile.ports.length()) {
      try {
        connector_profile.ports[next]->notify_disconnect(id.c_str());
      } catch (const CORBA::SystemException&) {
      }
    }
    return result;
  }
  m_connections->log.log(Logger::RTL_DEBUG, "connected " + id);

  // A new connection is the moment to notice peers that went away: a dead
  // first connection would otherwise starve the later ones.
  dropDeadConnectors();
  return RTC_OK;
}

ReturnCode_t PortBase::admitConnection(const ConnectorProfile& connector_profile,
                                       CORBA::Long& self) {
  Logger& log = m_connections->log;
  bool twice = false;
  self = findSelf(connector_profile.ports, m_objref, twice);
  const std::string id(connector_profile.connector_id.in());
  if (self < 0 || anyNil(connector_profile.ports) || id.empty()) {
    log.log(Logger::RTL_WARN,
            "notify_connect refused: the profile must carry an id and list "
            "this port once and no nil ports");
    return BAD_PARAMETER;
  }
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    if (m_connections->has(id)) {
      log.log(Logger::RTL_WARN, "notify_connect refused: connection " + id + " already exists");
      return PRECONDITION_NOT_MET;
    }
  }
  std::string why;
  if (!profileFits(connector_profile, m_portProperties, why)) {
    refuseConnect("connection " + id + " refused: " + why);
    return RTC_ERROR;
  }
  if (!roomForConnection(connector_profile.ports.length() > 1, id)) return RTC_ERROR;
  const ReturnCode_t result = checkCommon(NVUtil::toProperties(connector_profile.properties),
                                          m_properties.getProperty("dataport.data_type"), why);
  if (result != RTC_OK) log.log(Logger::RTL_WARN, "connection " + id + " refused: " + why);
  return result;
}

ReturnCode_t PortBase::passToNextPort(ConnectorProfile& connector_profile, CORBA::ULong next) {
  if (next >= connector_profile.ports.length()) return RTC_OK;
  try {
    omniORB::setClientCallTimeout(connector_profile.ports[next], kPeerCallTimeoutMs);
    return connector_profile.ports[next]->notify_connect(connector_profile);
  } catch (const CORBA::SystemException& e) {
    m_connections->log.log(Logger::RTL_WARN, "connection " +
                                                 std::string(connector_profile.connector_id) +
                                                 ": the next port raised " + e._name() +
                                                 " in notify_connect");
    return RTC_ERROR;
  }
}

ReturnCode_t PortBase::keepConnection(const ConnectorProfile& connector_profile,
                                      CORBA::Long self,
                                      const std::shared_ptr<ConnectorBase>& connector) {
  Connections::Entry entry;
  entry.id = connector_profile.connector_id.in();
  entry.profile = connector_profile;
  entry.connector = connector;
  entry.since = std::chrono::steady_clock::now();
  for (CORBA::ULong i = 0; i < entry.profile.ports.length(); ++i) {
    if (static_cast<CORBA::Long>(i) == self) continue;
    omniORB::setClientCallTimeout(entry.profile.ports[i], kPeerCallTimeoutMs);
    entry.peers.push_back(PortService::_duplicate(entry.profile.ports[i]));
  }
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  if (m_connections->has(entry.id)) return PRECONDITION_NOT_MET;  // the same id twice at once
  if (m_connections->entries.size() >= connectionLimit(m_portProperties)) {
    return RTC_ERROR;  // connections arrived at once past the limit
  }
  m_connections->entries.push_back(entry);
  return RTC_OK;
}

ReturnCode_t PortBase::notify_disconnect(const char* connector_id) {
  if (connector_id == nullptr) return BAD_PARAMETER;
  const std::string id(connector_id);
  Connections::Entry entry;
  bool found = false;
  bool endingHere = false;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    endingHere = m_connections->ending.count(id) > 0;
    auto& entries = m_connections->entries;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (it->id == id) {
        entry = *it;
        entries.erase(it);
        found = true;
        break;
      }
    }
  }
  if (!found) return BAD_PARAMETER;
  if (!endingHere) {
    m_connections->log.log(Logger::RTL_INFO, "connection " + id + " was closed by the peer");
  }
  entry.connector->close();
  bool twice = false;
  const CORBA::Long self = findSelf(entry.profile.ports, m_objref, twice);
  if (self >= 0) {
    const CORBA::ULong next = static_cast<CORBA::ULong>(self) + 1;
    if (next < entry.profile.ports.length()) {
      try {
        entry.profile.ports[next]->notify_disconnect(connector_id);
      } catch (const CORBA::SystemException&) {
        // The next port is gone; its side went with it.
      }
    }
  }
  m_connections->log.log(Logger::RTL_DEBUG, "disconnected " + id);
  return RTC_OK;
}

ReturnCode_t PortBase::disconnect(const char* connector_id) {
  if (connector_id == nullptr) return BAD_PARAMETER;
  const std::string id(connector_id);
  PortService_var first;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    for (const Connections::Entry& e : m_connections->entries) {
      if (e.id == id && e.profile.ports.length() > 0) {
        first = PortService::_duplicate(e.profile.ports[0]);
      }
    }
  }
  if (CORBA::is_nil(first)) return BAD_PARAMETER;
  disconnectFrom(first, id);
  return RTC_OK;
}

ReturnCode_t PortBase::disconnect_all() {
  // Each connection with the first port of its chain, read in one pass:
  // looking each one up again took as long as all of them together.
  std::vector<std::pair<std::string, PortService_var> > connections;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    for (const Connections::Entry& e : m_connections->entries) {
      if (e.profile.ports.length() == 0) continue;
      connections.emplace_back(e.id, PortService::_duplicate(e.profile.ports[0]));
    }
  }
  // Side by side: each stopped peer would otherwise add its call timeout to
  // a shutdown.
  sideBySide(connections.size(), [this, &connections](size_t i) {
    disconnectFrom(connections[i].second.in(), connections[i].first);
  });
  return RTC_OK;
}

ConnectorProfileList* PortBase::get_connector_profiles() {
  dropDeadConnectors();
  ConnectorProfileList* list = new ConnectorProfileList;
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  list->length(static_cast<CORBA::ULong>(m_connections->entries.size()));
  CORBA::ULong i = 0;
  for (const Connections::Entry& e : m_connections->entries) (*list)[i++] = e.profile;
  return list;
}

ConnectorProfile* PortBase::get_connector_profile(const char* connector_id) {
  ConnectorProfile* profile = new ConnectorProfile;
  if (connector_id == nullptr) return profile;
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  for (const Connections::Entry& e : m_connections->entries) {
    if (e.id == connector_id) {
      *profile = e.profile;
      break;
    }
  }
  return profile;
}

size_t PortBase::connectorCount() const {
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  return m_connections->entries.size();
}

size_t PortBase::dropDeadConnectors() const {
  std::vector<std::pair<std::string, std::vector<PortService_var> > > probes;
  std::vector<std::shared_ptr<ConnectorBase> > dropped;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    for (const Connections::Entry& e : m_connections->entries) {
      if (!e.peers.empty()) probes.emplace_back(e.id, e.peers);
    }
    dropped.swap(m_connections->dropped);
  }
  for (auto& c : dropped) c->close();
  size_t count = expireStaleConnectors();
  // Probed side by side, so that stopped peers cost one probe timeout in
  // all rather than one each.
  std::vector<char> dead(probes.size(), 0);
  sideBySide(probes.size(), [&probes, &dead](size_t i) {
    dead[i] = std::any_of(probes[i].second.begin(), probes[i].second.end(),
                          [](const PortService_var& p) { return !peerAlive(p); });
  });
  for (size_t i = 0; i < probes.size(); ++i) {
    if (!dead[i]) continue;
    m_connections->log.log(Logger::RTL_WARN,
                           "connection " + probes[i].first + ": the peer port is gone; dropping it");
    dropConnector(probes[i].first);
    ++count;
  }
  return count;
}

size_t PortBase::expireStaleConnectors() const {
  std::string problem;
  const double timeout =
      portLimit(m_portProperties, "stale_timeout", kDefaultStaleTimeout, 1e300, &problem);
  std::vector<std::string> stale;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    // The last connection stays whatever it does: nobody else waits for it.
    if (m_connections->entries.size() < 2) return 0;
    for (const Connections::Entry& e : m_connections->entries) {
      if (e.peers.empty() && e.connector->idleSeconds() > timeout) stale.push_back(e.id);
    }
    if (stale.size() == m_connections->entries.size()) stale.pop_back();
  }
  for (const std::string& id : stale) {
    m_connections->log.log(Logger::RTL_INFO,
                           "connection " + id + " names no other port and delivered nothing for " +
                               std::to_string(static_cast<long>(timeout)) +
                               " s (stale_timeout); dropping it");
    dropConnector(id);
  }
  return stale.size();
}

bool PortBase::roomForConnection(bool namesAPeer, const std::string& id) const {
  const size_t limit = connectionLimit(m_portProperties);
  if (connectorCount() < limit) return true;
  expireStaleConnectors();
  if (connectorCount() < limit) return true;
  if (namesAPeer && yieldLonelyConnection(id)) return true;
  refuseConnect("connect refused: the port holds its connection_limit of " +
                std::to_string(limit) + " connections");
  return false;
}

bool PortBase::yieldLonelyConnection(const std::string& newcomer) const {
  const double timeout =
      portLimit(m_portProperties, "stale_timeout", kDefaultStaleTimeout, 1e300, nullptr);
  const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  std::string chosen;
  double chosenIdle = -1;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    for (const Connections::Entry& e : m_connections->entries) {
      if (!e.peers.empty()) continue;
      if (std::chrono::duration<double>(now - e.since).count() < timeout) continue;
      const double idle = e.connector->idleSeconds();
      if (idle > chosenIdle) {
        chosen = e.id;
        chosenIdle = idle;
      }
    }
  }
  if (chosen.empty()) return false;
  m_connections->log.log(
      Logger::RTL_INFO,
      "connection " + chosen + " names no other port and has held its place " +
          "longer than stale_timeout (" + std::to_string(static_cast<long>(timeout)) +
          " s); it makes room for connection " + newcomer + ", whose producer's port is named");
  dropConnector(chosen);
  return true;
}

void PortBase::refuseConnect(const std::string& why) const {
  std::string note;
  if (!m_connections->refusals.allow(&note)) return;
  m_connections->log.log(Logger::RTL_WARN, why + note);
}

std::shared_ptr<ConnectorBase> PortBase::firstConnector() const {
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  if (m_connections->entries.empty()) return std::shared_ptr<ConnectorBase>();
  return m_connections->entries.front().connector;
}

void PortBase::copyConnectors(std::vector<std::shared_ptr<ConnectorBase> >& out) const {
  out.clear();
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  for (const Connections::Entry& e : m_connections->entries) out.push_back(e.connector);
}

void PortBase::dropConnector(const std::string& id) const {
  std::shared_ptr<ConnectorBase> connector = takeConnector(id);
  if (connector) connector->close();
}

std::shared_ptr<ConnectorBase> PortBase::takeConnector(const std::string& id) const {
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  auto& entries = m_connections->entries;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (it->id == id) {
      std::shared_ptr<ConnectorBase> connector = it->connector;
      entries.erase(it);
      return connector;
    }
  }
  return std::shared_ptr<ConnectorBase>();
}

void PortBase::dropConnectorLater(const std::string& id) const {
  std::shared_ptr<ConnectorBase> connector = takeConnector(id);
  if (!connector) return;
  std::lock_guard<std::mutex> guard(m_connections->mutex);
  m_connections->dropped.push_back(connector);
}

void PortBase::closeDroppedConnectors() const {
  std::vector<std::shared_ptr<ConnectorBase> > dropped;
  {
    std::lock_guard<std::mutex> guard(m_connections->mutex);
    if (m_connections->dropped.empty()) return;
    dropped.swap(m_connections->dropped);
  }
  for (auto& c : dropped) c->close();
}

}  // namespace RTC
