#include <rtm/OutPortBase.h>
#include <rtm/SystemLogger.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/LogThrottle.h"
#include "corba/ActivatedObject.h"
#include "port/BufferSettings.h"
#include "port/CdrInterfaceRef.h"
#include "port/ConnectionProperties.h"
#include "port/ConnectorBase.h"
#include "port/MemoryBudget.h"
#include "port/OutPortConnector.h"
#include "port/Publisher.h"

namespace RTC {

namespace {

// Seconds a put may take: a stopped peer costs this much per sample at most.
const double kDefaultCallTimeout = 3.0;

}  // namespace

struct OutPortBase::State {
  std::atomic<bool> exiting{false};
  std::atomic<unsigned long> refused{0};
  std::shared_ptr<MemoryBudget> budget = std::make_shared<MemoryBudget>(kDefaultPortMemoryLimit);
  std::mutex writeMutex;
  bool silenced = false;  // under writeMutex: exiting, and a peer went unanswered
  // Reused by every write, so that writing allocates nothing once running.
  std::vector<std::shared_ptr<ConnectorBase> > snapshot;
  cdrMemoryStream streams[2];  // [0] big-endian, [1] little-endian
  LogThrottle throttle;
};

OutPortBase::OutPortBase(const char* name, const char* data_type)
    : PortBase(name), m_state(new State) {
  m_properties.setProperty("port.port_type", "DataOutPort");
  m_properties.setProperty("dataport.data_type", data_type != nullptr ? data_type : "");
  m_properties.setProperty("dataport.subscription_type", "flush,new,periodic");
  m_properties.setProperty("dataport.dataflow_type", "push,pull");
  m_properties.setProperty("dataport.interface_type", kDataPortInterfaces);
}

OutPortBase::~OutPortBase() { PortBase::deactivatePort(); }

void OutPortBase::prepareExit() { m_state->exiting = true; }

unsigned long OutPortBase::refusedWrites() const { return m_state->refused; }

bool OutPortBase::writeSample(SampleEncode encode, const void* value) {
  std::lock_guard<std::mutex> guard(m_state->writeMutex);
  if (m_state->silenced) return false;
  closeDroppedConnectors();
  std::vector<std::shared_ptr<ConnectorBase> >& connectors = m_state->snapshot;
  copyConnectors(connectors);
  if (connectors.empty()) return false;
  bool encoded[2] = {false, false};
  bool ok = true;
  for (const std::shared_ptr<ConnectorBase>& c : connectors) {
    OutPortConnector& connector = static_cast<OutPortConnector&>(*c);
    WriteResult result = WriteResult::Failed;
    if (!connector.writeInPlace(encode, value, result)) {
      const int order = connector.littleEndian() ? 1 : 0;
      cdrMemoryStream& stream = m_state->streams[order];
      if (!encoded[order]) {
        // Marshalled once per byte order in use, into a stream whose buffer
        // is kept from one write to the next.
        stream.rewindPtrs();
        stream.setByteSwapFlag(connector.littleEndian());
        try {
          encode(value, stream);
        } catch (const CORBA::Exception& e) {
          std::string note;
          if (m_state->throttle.allow(&note)) {
            portLog().log(Logger::RTL_ERROR,
                          std::string("cannot marshal the sample: ") + e._name() + note);
          }
          ok = false;
          continue;
        }
        encoded[order] = true;
      }
      result = connector.write(static_cast<const CORBA::Octet*>(stream.bufPtr()), stream.bufSize());
    }
    if (result == WriteResult::PeerGone) {
      dropConnector(connector.id());
      ok = false;
    } else if (result != WriteResult::Ok) {
      if (result == WriteResult::Refused) ++m_state->refused;
      ok = false;
    }
    if (result == WriteResult::Unanswered && m_state->exiting) {
      portLog().log(Logger::RTL_INFO, "connection " + connector.id() +
                                          " does not answer while the component exits; "
                                          "nothing more is sent");
      m_state->silenced = true;
      break;
    }
  }
  connectors.clear();
  return ok;
}

unsigned long OutPortBase::callTimeoutMs(const coil::Properties& props,
                                         const std::string& id) const {
  // The connection's dataport.outport.call_timeout, else its
  // dataport.call_timeout, else the port's call_timeout; seconds.
  double seconds = kDefaultCallTimeout;
  for (const std::pair<const coil::Properties*, const char*>& source :
       {std::make_pair(&m_portProperties, "call_timeout"),
        std::make_pair(&props, "dataport.call_timeout"),
        std::make_pair(&props, "dataport.outport.call_timeout")}) {
    std::string problem;
    seconds = portLimit(*source.first, source.second, seconds, 0, &problem);
    if (!problem.empty()) portLog().log(Logger::RTL_WARN, "connection " + id + ": " + problem);
  }
  // 0 (or -1) would mean "wait for ever" to the ORB: a day stands for it.
  if (seconds <= 0 || seconds > 86400) seconds = 86400;
  return static_cast<unsigned long>(seconds * 1000 + 0.5);
}

ReturnCode_t OutPortBase::createConnector(const std::string& id, const coil::Properties& props,
                                          ConnectorProfile& profile,
                                          std::shared_ptr<ConnectorBase>& connector) {
  bool little = true;
  parseEndian(props, little);  // checked before this is called
  std::vector<std::string> problems;
  const BufferSettings buffer = BufferSettings::fromProperties(props, "outport", &problems);
  for (const std::string& p : problems) {
    portLog().log(Logger::RTL_WARN, "connection " + id + ": " + p);
  }
  std::string problem;
  const size_t limit = portMemoryLimit(m_portProperties, &problem);
  if (!problem.empty()) portLog().log(Logger::RTL_WARN, problem);
  m_state->budget->setLimit(limit);
  const bool shared = chosenInterface(props) == "shared_memory";
  if (firstEntry(props.getProperty("dataport.dataflow_type")) == "push") {
    PublisherSettings publisher;
    std::string why;
    if (!PublisherSettings::fromProperties(props, publisher, why)) {
      portLog().log(Logger::RTL_WARN, "connection " + id + " refused: " + why);
      return BAD_PARAMETER;
    }
    connector = std::make_shared<OutPortPushConnector>(
        id, little, getName(), publisher, buffer, [this, id] { dropConnectorLater(id); },
        callTimeoutMs(props, id), m_state->budget);
    return RTC_OK;
  }
  auto pull =
      std::make_shared<OutPortPullConnector>(id, little, getName(), buffer, m_state->budget);
  // The provider's object goes under the corba_cdr keys whatever its
  // interface, as the peer expects.
  bool published = false;
  if (shared) {
    problem.clear();
    const size_t initial = initialSegmentSize(props, "provider", &problem);
    if (!problem.empty()) portLog().log(Logger::RTL_WARN, "connection " + id + ": " + problem);
    OpenRTM::PortSharedMemory_var ref = pull->activateShared(initial, limit);
    published = !CORBA::is_nil(ref) && publishCdrInterface(ref.in(), "outport", profile.properties);
  } else {
    OpenRTM::OutPortCdr_var ref = pull->activate();
    published = !CORBA::is_nil(ref) && publishCdrInterface(ref.in(), "outport", profile.properties);
  }
  if (!published) {
    portLog().log(Logger::RTL_ERROR, "connection " + id + ": cannot activate or publish its " +
                                         (shared ? "PortSharedMemory" : "OutPortCdr"));
    pull->close();
    return RTC_ERROR;
  }
  connector = pull;
  return RTC_OK;
}

ReturnCode_t OutPortBase::subscribeInterfaces(const coil::Properties& props,
                                              ConnectorBase& connector) {
  OutPortPushConnector* push = dynamic_cast<OutPortPushConnector*>(&connector);
  if (push == nullptr) return RTC_OK;  // pull: the peer calls us
  const std::string ior = props.getProperty("dataport.corba_cdr.inport_ior");
  if (chosenInterface(props) == "shared_memory") {
    OpenRTM::PortSharedMemory_var peer = peerCdrInterface<OpenRTM::PortSharedMemory>(ior);
    if (CORBA::is_nil(peer)) {
      portLog().log(Logger::RTL_WARN,
                    "connection " + connector.id() +
                        ": no usable PortSharedMemory under dataport.corba_cdr.inport_ior");
      return BAD_PARAMETER;
    }
    std::string problem;
    const size_t initial = initialSegmentSize(props, "consumer", &problem);
    if (!problem.empty())
      portLog().log(Logger::RTL_WARN, "connection " + connector.id() + ": " + problem);
    push->setSharedPeer(peer, initial, portMemoryLimit(m_portProperties, nullptr));
    return RTC_OK;
  }
  OpenRTM::InPortCdr_var peer = peerCdrInterface<OpenRTM::InPortCdr>(ior);
  if (CORBA::is_nil(peer)) {
    portLog().log(Logger::RTL_WARN, "connection " + connector.id() +
                                        ": no usable dataport.corba_cdr.inport_ior to push to");
    return BAD_PARAMETER;
  }
  push->setPeer(peer);
  return RTC_OK;
}

}  // namespace RTC
