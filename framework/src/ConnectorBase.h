// RTC::ConnectorBase: one connection as seen by one port, and what the port
// kinds share to make one.
#ifndef RTM_SRC_CONNECTORBASE_H
#define RTM_SRC_CONNECTORBASE_H

#include <coil/Properties.h>
#include <rtm/RTC.h>

#include <string>

namespace RTC {

// A port's side of one connection. Ports hold connectors through
// shared_ptr so that a reader or writer in progress keeps its connector
// alive while a disconnect removes it.
class ConnectorBase {
 public:
  ConnectorBase(const std::string& id, bool littleEndian) : m_id(id), m_littleEndian(littleEndian) {}
  virtual ~ConnectorBase() {}
  ConnectorBase(const ConnectorBase&) = delete;
  ConnectorBase& operator=(const ConnectorBase&) = delete;

  // Returns the connector_id of the connection.
  const std::string& id() const { return m_id; }
  // Returns whether samples travel little-endian on this connection.
  bool littleEndian() const { return m_littleEndian; }
  // Ends the connector's activity: deactivates its CORBA object, stops its
  // thread and wakes whoever waits on its buffer. Safe to call twice.
  virtual void close() = 0;

 private:
  const std::string m_id;
  const bool m_littleEndian;
};

// Returns `text` trimmed and in lower case.
std::string normalizedValue(const std::string& text);

// Reads dataport.serializer.cdr.endian: the first entry of the list decides;
// absent or empty means little. False for anything but little or big.
bool parseEndian(const coil::Properties& props, bool& littleEndian);

// Returns whether a connection's dataport.data_type `given` names the type
// with repository ID `ours`: empty, the repository ID itself, the bare type
// name ("TimedLongSeq") or its scoped name ("RTC::TimedLongSeq").
bool dataTypeMatches(const std::string& given, const std::string& ours);

// Returns whether an exception raised by a call to a peer means the peer is
// gone (COMM_FAILURE, TRANSIENT, OBJECT_NOT_EXIST).
bool isPeerGone(const CORBA::SystemException& e);

// Returns a reference to the process's ORB (nil when none was initialised).
CORBA::ORB_ptr portOrb();

// A servant activated in the root POA, deactivated by deactivate() or the
// destructor. The POA owns the servant after activation.
class ActivatedObject {
 public:
  ActivatedObject() = default;
  ~ActivatedObject() { deactivate(); }
  ActivatedObject(const ActivatedObject&) = delete;
  ActivatedObject& operator=(const ActivatedObject&) = delete;

  // Activates `servant`, handing the caller's reference to the POA; returns
  // the new object reference (nil on failure, the servant then freed).
  CORBA::Object_ptr activate(PortableServer::ServantBase* servant);
  // Deactivates the object; calls in progress finish first on their own.
  void deactivate();

 private:
  PortableServer::POA_var m_poa;
  PortableServer::ObjectId_var m_oid;
  bool m_active = false;
};

}  // namespace RTC

#endif
