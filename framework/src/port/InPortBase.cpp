#include <rtm/InPortBase.h>
#include <rtm/SystemLogger.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "corba/ActivatedObject.h"
#include "port/BufferSettings.h"
#include "port/CdrChunk.h"
#include "port/CdrInterfaceRef.h"
#include "port/ConnectionProperties.h"
#include "port/ConnectorBase.h"
#include "port/InPortConnector.h"

namespace RTC {

struct InPortBase::State {
  SampleCheck check = nullptr;
  std::shared_ptr<InPortCounters> counters = std::make_shared<InPortCounters>();
  std::shared_ptr<MemoryBudget> budget = std::make_shared<MemoryBudget>(kDefaultPortMemoryLimit);
  // Read before the open connections: what they hold came later, and they
  // may never run dry.
  std::shared_ptr<ClosedConnections> closed = std::make_shared<ClosedConnections>();
  // Reused by every look for the next connection, so reading allocates
  // nothing once running.
  std::mutex snapshotMutex;
  std::vector<std::shared_ptr<ConnectorBase> > snapshot;
  // The bytes of the sample read last. The port, not the connector, keeps
  // them: the bound variable may refer to them until the next read, and a
  // connection may end before that.
  std::mutex readMutex;
  CdrChunk sample;
  std::weak_ptr<ConnectorBase> sampleFrom;

  bool sampleCameFrom(const std::shared_ptr<ConnectorBase>& connector) const {
    return !sampleFrom.owner_before(connector) && !connector.owner_before(sampleFrom);
  }
};

InPortBase::InPortBase(const char* name, const char* data_type)
    : PortBase(name), m_state(new State) {
  m_properties.setProperty("port.port_type", "DataInPort");
  m_properties.setProperty("dataport.data_type", data_type != nullptr ? data_type : "");
  m_properties.setProperty("dataport.subscription_type", "Any");
  m_properties.setProperty("dataport.dataflow_type", "push,pull");
  m_properties.setProperty("dataport.interface_type", kDataPortInterfaces);
}

InPortBase::~InPortBase() {
  // Connections end before the sample check and counters they use go.
  PortBase::deactivatePort();
}

void InPortBase::setSampleCheck(SampleCheck check) { m_state->check = check; }

std::shared_ptr<ConnectorBase> InPortBase::connectorToRead() const {
  std::shared_ptr<ConnectorBase> closed = m_state->closed->next();
  if (closed) return closed;
  std::lock_guard<std::mutex> guard(m_state->snapshotMutex);
  std::vector<std::shared_ptr<ConnectorBase> >& connectors = m_state->snapshot;
  copyConnectors(connectors);
  std::shared_ptr<ConnectorBase> next;
  for (const auto& c : connectors) {
    if (static_cast<InPortConnector&>(*c).hasUnread()) {
      next = c;
      break;
    }
  }
  if (!next && !connectors.empty()) next = connectors.front();
  connectors.clear();
  return next;
}

bool InPortBase::hasUnreadSample() const {
  std::shared_ptr<ConnectorBase> next = connectorToRead();
  return next && static_cast<InPortConnector&>(*next).hasUnread();
}

bool InPortBase::readSample(SampleDecode decode, void* target) {
  std::shared_ptr<ConnectorBase> first = connectorToRead();
  if (!first) return false;
  InPortConnector& connector = static_cast<InPortConnector&>(*first);
  State& s = *m_state;
  std::lock_guard<std::mutex> guard(s.readMutex);
  ReadResult result = connector.take(s.sample);
  if (result == ReadResult::Ok) {
    s.sampleFrom = first;
    // The sample now held may be in use until the next read: it must not
    // shut out the next one (see MemoryBudget).
    s.budget->setHeld(s.sample.budget() == s.budget.get() ? s.sample.capacity() : 0);
  } else if (result == ReadResult::Empty && connector.readsBack() && !s.sample.empty() &&
             s.sampleCameFrom(first)) {
    result = ReadResult::Ok;  // the same sample again
  }
  if (result == ReadResult::Ok) result = connector.decodeSample(s.sample, decode, target);
  if (result == ReadResult::PeerGone) {
    portLog().log(Logger::RTL_WARN,
                  "connection " + first->id() + ": the peer is gone; dropping it");
    dropConnector(first->id());
  }
  return result == ReadResult::Ok;
}

InPortBase::Counters InPortBase::counters() const {
  Counters c;
  c.stored = m_state->counters->stored;
  c.adopted = m_state->counters->adopted;
  c.refused = m_state->counters->refused;
  c.overwritten = m_state->counters->overwritten;
  c.full = m_state->counters->full;
  return c;
}

ReturnCode_t InPortBase::createConnector(const std::string& id, const coil::Properties& props,
                                         ConnectorProfile& profile,
                                         std::shared_ptr<ConnectorBase>& connector) {
  bool little = true;
  parseEndian(props, little);  // checked before this is called
  const bool shared = chosenInterface(props) == "shared_memory";
  std::string problem;
  const size_t limit = portMemoryLimit(m_portProperties, &problem);
  if (!problem.empty()) portLog().log(Logger::RTL_WARN, problem);
  if (firstEntry(props.getProperty("dataport.dataflow_type")) == "pull") {
    if (!shared) {
      connector = std::make_shared<InPortPullConnector>(id, little, getName(), m_state->check,
                                                        m_state->counters);
      return RTC_OK;
    }
    auto pull = std::make_shared<InPortSharedPullConnector>(id, little, getName(), m_state->check,
                                                            m_state->counters, limit);
    if (!pull->activate()) {
      portLog().log(Logger::RTL_ERROR,
                    "connection " + id + ": cannot activate its PortSharedMemory");
      return RTC_ERROR;
    }
    connector = pull;
    return RTC_OK;
  }
  std::vector<std::string> problems;
  const BufferSettings settings = BufferSettings::fromProperties(props, "inport", &problems);
  for (const std::string& p : problems) {
    portLog().log(Logger::RTL_WARN, "connection " + id + ": " + p);
  }
  m_state->budget->setLimit(limit);
  auto push = std::make_shared<InPortPushConnector>(id, little, getName(), m_state->check,
                                                    m_state->counters, settings, m_state->budget);
  push->keepUnreadIn(m_state->closed);
  // The provider's object goes under the corba_cdr keys whatever its
  // interface, as the peer expects.
  bool published = false;
  if (shared) {
    OpenRTM::PortSharedMemory_var ref = push->activateShared(limit);
    published = !CORBA::is_nil(ref) && publishCdrInterface(ref.in(), "inport", profile.properties);
  } else {
    OpenRTM::InPortCdr_var ref = push->activate();
    published = !CORBA::is_nil(ref) && publishCdrInterface(ref.in(), "inport", profile.properties);
  }
  if (!published) {
    portLog().log(Logger::RTL_ERROR, "connection " + id + ": cannot activate or publish its " +
                                         (shared ? "PortSharedMemory" : "InPortCdr"));
    push->close();
    return RTC_ERROR;
  }
  connector = push;
  return RTC_OK;
}

ReturnCode_t InPortBase::subscribeInterfaces(const coil::Properties& props,
                                             ConnectorBase& connector) {
  const std::string ior = props.getProperty("dataport.corba_cdr.outport_ior");
  if (InPortSharedPullConnector* shared = dynamic_cast<InPortSharedPullConnector*>(&connector)) {
    OpenRTM::PortSharedMemory_var peer = peerCdrInterface<OpenRTM::PortSharedMemory>(ior);
    if (CORBA::is_nil(peer)) {
      portLog().log(Logger::RTL_WARN,
                    "connection " + connector.id() +
                        ": no usable PortSharedMemory under dataport.corba_cdr.outport_ior");
      return BAD_PARAMETER;
    }
    return shared->setPeer(peer) ? RTC_OK : RTC_ERROR;
  }
  InPortPullConnector* pull = dynamic_cast<InPortPullConnector*>(&connector);
  if (pull == nullptr) return RTC_OK;  // push: the peer calls us
  OpenRTM::OutPortCdr_var peer = peerCdrInterface<OpenRTM::OutPortCdr>(ior);
  if (CORBA::is_nil(peer)) {
    portLog().log(Logger::RTL_WARN, "connection " + connector.id() +
                                        ": no usable dataport.corba_cdr.outport_ior to pull from");
    return BAD_PARAMETER;
  }
  pull->setPeer(peer);
  return RTC_OK;
}

}  // namespace RTC
