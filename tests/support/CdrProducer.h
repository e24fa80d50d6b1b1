// A producer outside the framework: connects to an inport as a foreign
// outport would and calls put on the object the port publishes.
#ifndef PIXMOOR_TESTS_SUPPORT_CDRPRODUCER_H
#define PIXMOOR_TESTS_SUPPORT_CDRPRODUCER_H

#include <rtm/idl/DataPortSkel.h>
#include <rtm/idl/RTCSkel.h>

#include <string>

namespace pixmoor_test {

// Connects `inport` alone under connector name `name` (CORBA CDR, push,
// flush, little endian) and returns what connect answered; `inportCdr` gets
// the port's published InPortCdr object, and stays nil when there is none;
// `connectorId`, when given, gets the id of the connection.
inline RTC::ReturnCode_t connectAsForeignProducer(CORBA::ORB_ptr orb, RTC::PortService_ptr inport,
                                                  const char* name,
                                                  OpenRTM::InPortCdr_var& inportCdr,
                                                  std::string* connectorId = nullptr) {
  RTC::ConnectorProfile connector;
  connector.name = CORBA::string_dup(name);
  connector.connector_id = CORBA::string_dup("");
  connector.ports.length(1);
  connector.ports[0] = RTC::PortService::_duplicate(inport);
  const char* properties[][2] = {{"dataport.interface_type", "corba_cdr"},
                                 {"dataport.dataflow_type", "push"},
                                 {"dataport.subscription_type", "flush"},
                                 {"dataport.serializer.cdr.endian", "little"}};
  connector.properties.length(4);
  for (CORBA::ULong i = 0; i < 4; ++i) {
    connector.properties[i].name = CORBA::string_dup(properties[i][0]);
    connector.properties[i].value <<= properties[i][1];
  }
  const RTC::ReturnCode_t result = inport->connect(connector);
  if (result != RTC::RTC_OK) return result;
  if (connectorId != nullptr) *connectorId = static_cast<const char*>(connector.connector_id);
  for (CORBA::ULong i = 0; i < connector.properties.length(); ++i) {
    if (std::string(connector.properties[i].name) != "dataport.corba_cdr.inport_ior") continue;
    const char* ior = nullptr;
    if (!(connector.properties[i].value >>= ior)) continue;
    CORBA::Object_var obj = orb->string_to_object(ior);
    inportCdr = OpenRTM::InPortCdr::_narrow(obj);
  }
  return result;
}

}  // namespace pixmoor_test

#endif
