#include "TemporaryInPort.h"

#include <chrono>
#include <string>
#include <thread>

#include "CtlError.h"
#include "ProfileFormat.h"

namespace rtmctl {

namespace {

const char* const kDataType = "IDL:RTC/TimedLongSeq:1.0";

void addProperty(SDOPackage::NVList& list, const char* name, const char* value) {
  const CORBA::ULong at = list.length();
  list.length(at + 1);
  list[at].name = name;
  list[at].value <<= value;
}

// Refuses a port that is no outport of TimedLongSeq, or that does not offer
// the interface type, before anything is joined.
void checkOutport(RTC::PortService_ptr outport, const std::string& label,
                  const std::string& interfaceType, int timeoutMs) {
  RTC::PortProfile_var profile;
  try {
    profile = outport->get_port_profile();
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the port " + label, timeoutMs);
  }
  const std::string name = static_cast<const char*>(profile->name);
  const std::string portType = nvValue(profile->properties, "port.port_type");
  if (!portType.empty() && portType != "DataOutPort") {
    throw CtlError(name + " is a " + portType + "; name a DataOutPort");
  }
  const std::string dataType = nvValue(profile->properties, "dataport.data_type");
  if (!dataType.empty() && dataType != kDataType && dataType != "TimedLongSeq") {
    throw CtlError(name + " carries " + dataType + "; only " + kDataType + " can be read");
  }
  if (!offers(profile->properties, "dataport.interface_type", interfaceType)) {
    throw CtlError(name + " offers interface types " +
                   nvValue(profile->properties, "dataport.interface_type") + ", not " +
                   interfaceType);
  }
}

}  // namespace

TemporaryInPort::TemporaryInPort(Session& session, RTC::PortService_ptr outport,
                                 const std::string& label, const std::string& name,
                                 const std::string& interfaceType)
    : m_label(label), m_port(name.c_str(), m_sample) {
  checkOutport(outport, label, interfaceType, session.callTimeoutMs());
  PortableServer::POA_var poa = session.servingPoa();
  // The largest sample the ORB lets in must fit the port's budget too, or
  // the sizes the message limit was raised for would never arrive.
  coil::Properties settings;
  settings.setProperty("memory_limit", std::to_string(omniORB::giopMaxMsgSize()));
  m_port.init(settings);
  m_port.setOwner(RTC::RTObject::_nil(), "rtmctl");
  RTC::PortService_var self = m_port.getPortRef();
  if (CORBA::is_nil(self)) throw CtlError("cannot activate rtmctl's own inport");
  RTC::PortProfile_var own = self->get_port_profile();
  if (!offers(own->properties, "dataport.interface_type", interfaceType)) {
    throw CtlError("rtmctl's own inport offers interface types " +
                   nvValue(own->properties, "dataport.interface_type") + ", not " + interfaceType);
  }

  RTC::ConnectorProfile profile;
  profile.name = ("rtmctl_" + name).c_str();
  profile.connector_id = "";
  profile.ports.length(2);
  profile.ports[0] = RTC::PortService::_duplicate(outport);
  profile.ports[1] = RTC::PortService::_duplicate(self);
  addProperty(profile.properties, "dataport.interface_type", interfaceType.c_str());
  addProperty(profile.properties, "dataport.dataflow_type", "push");
  addProperty(profile.properties, "dataport.subscription_type", "new");
  addProperty(profile.properties, "dataport.data_type", kDataType);
  // Our side waits for samples in short slices, so Ctrl-C is noticed soon.
  addProperty(profile.properties, "dataport.inport.buffer.read.empty_policy", "block");
  addProperty(profile.properties, "dataport.inport.buffer.read.timeout", "0.1");

  RTC::ReturnCode_t code = RTC::RTC_OK;
  try {
    code = outport->connect(profile);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the port " + label, session.callTimeoutMs());
  }
  if (code != RTC::RTC_OK) {
    throw CtlError("connecting " + label + " to rtmctl failed: " + returnCodeName(code) +
                   " (see the component's log)");
  }
  m_connectorId = static_cast<const char*>(profile.connector_id);
}

TemporaryInPort::~TemporaryInPort() { disconnect(); }

const RTC::TimedLongSeq* TemporaryInPort::next() {
  if (m_port.read()) return &m_sample;
  // Without a connection read() does not wait: keep callers from spinning.
  if (m_port.connectorCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return nullptr;
}

bool TemporaryInPort::connected() {
  m_port.dropDeadConnectors();
  return m_port.connectorCount() > 0;
}

bool TemporaryInPort::disconnect() {
  if (m_connectorId.empty()) return true;
  const std::string id = m_connectorId;
  m_connectorId.clear();
  if (m_port.connectorCount() == 0) return true;  // the peer already ended it
  return m_port.disconnect(id.c_str()) == RTC::RTC_OK;
}

}  // namespace rtmctl
