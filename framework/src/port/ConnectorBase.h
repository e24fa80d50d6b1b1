// RTC::ConnectorBase: one connection as seen by one port.
#ifndef RTM_SRC_CONNECTORBASE_H
#define RTM_SRC_CONNECTORBASE_H

#include <rtm/RTC.h>

#include <string>

namespace RTC {

// A port's side of one connection. Ports hold connectors through
// shared_ptr so that a reader or writer in progress keeps its connector
// alive while a disconnect removes it.
class ConnectorBase {
 public:
  ConnectorBase(const std::string& id, bool littleEndian)
      : m_id(id), m_littleEndian(littleEndian) {}
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
  // Returns how long the connection has delivered nothing, in seconds; 0
  // for a connection that is never idle in that sense.
  virtual double idleSeconds() const { return 0; }

 private:
  const std::string m_id;
  const bool m_littleEndian;
};

// Returns whether an exception raised by a call to a peer means the peer is
// gone (COMM_FAILURE, TRANSIENT, OBJECT_NOT_EXIST).
bool isPeerGone(const CORBA::SystemException& e);

}  // namespace RTC

#endif
