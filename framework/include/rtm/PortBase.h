// RTC::PortBase: what every port of a component offers its owner.
#ifndef RTM_PORTBASE_H
#define RTM_PORTBASE_H

#include <coil/Properties.h>
#include <rtm/RTC.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace RTC {

class ConnectorBase;
class Logger;

// A named port with a CORBA PortService object. The owning component calls
// setOwner() once when the port is added, lists its reference and profile,
// and calls deactivatePort() when the component exits.
//
// The connection protocol (connect, notify_connect passed along the profile's
// port list, disconnect, ...) lives here; each port kind supplies its
// connectors through createConnector() and subscribeInterfaces().
//
// Port properties that bound what peers may bring: connection_limit (-1 or
// absent: none), connector_value_limit and connector_profile_limit (bytes
// of one property value and of a profile's name and properties) and
// stale_timeout (seconds a connection naming no other port may deliver
// nothing while others exist; at connection_limit, also how long such a
// connection keeps its place against a newcomer that names its own port).
class PortBase {
 public:
  explicit PortBase(const char* name);
  virtual ~PortBase();
  PortBase(const PortBase&) = delete;
  PortBase& operator=(const PortBase&) = delete;

  // Names the port "<instance>.<name>", records its owner and activates its
  // PortService object in the ORB's root POA.
  void setOwner(RTObject_ptr owner, const std::string& instanceName);
  // Returns the port's name: "<instance>.<name>" once owned.
  const char* getName() const;
  // Returns the PortService reference (a new reference; nil before setOwner).
  PortService_ptr getPortRef() const;
  // Returns the port's profile, connectors included; the caller owns it.
  // Connectors whose peers are gone are dropped first.
  virtual PortProfile* getPortProfile() const;
  // Removes every connection (telling peers, side by side) and deactivates
  // the port's CORBA objects. Called before the owner goes away.
  virtual void deactivatePort();
  // Tells the port that its owner has begun to exit, so that it stops
  // waiting on peers that no longer answer. Called before the owner's
  // deactivation.
  virtual void prepareExit() {}
  // Returns the properties the port's profile shows (port.port_type,
  // dataport.*).
  const coil::Properties& getProperties() const { return m_properties; }
  // Sets the port's own settings (buffer.length, buffer.write.full_policy,
  // ...): the defaults of every connection made later, each of which a
  // connect request's dataport.<key> or dataport.<side>.<key> overrides.
  // The owner calls it before the port can be reached.
  void init(const coil::Properties& prop);
  // Returns the port's own settings, as given to init().
  const coil::Properties& properties() const { return m_portProperties; }
  // Sets what hears ("CONNECT" or "DISCONNECT", the port's name) of each
  // connection this port keeps or ends; the owner sets it when adding the
  // port, before the port can be reached.
  void setConnectionListener(std::function<void(const char*, const std::string&)> listener) {
    m_connectionListener = std::move(listener);
  }
  // Tells the listener of a connection kept or ended.
  void connectionEvent(const char* what) const {
    if (m_connectionListener) m_connectionListener(what, m_fullName);
  }

  // ---- The PortService operations; the port's servant forwards here. ----

  // Joins the ports of `connector_profile`: fills an empty connector_id with
  // a fresh UUID, adds the default byte-order list and calls notify_connect
  // on ports[0]. On return the profile is the completed one.
  ReturnCode_t connect(ConnectorProfile& connector_profile);
  // Publishes this port's interfaces, passes the profile to the next port of
  // the list, subscribes to what the others published and keeps the
  // connection. Leaves nothing behind on failure.
  ReturnCode_t notify_connect(ConnectorProfile& connector_profile);
  // Ends connection `connector_id` on every port it joins.
  ReturnCode_t disconnect(const char* connector_id);
  // Removes this port's side of `connector_id` and passes the request on.
  ReturnCode_t notify_disconnect(const char* connector_id);
  // Ends every connection of this port, side by side: peers that stopped
  // answering cost one call timeout in all.
  ReturnCode_t disconnect_all();
  // Returns copies of the connections' profiles; the caller owns the list.
  ConnectorProfileList* get_connector_profiles();
  // Returns a copy of one connection's profile (an empty profile when the id
  // is unknown); the caller owns it.
  ConnectorProfile* get_connector_profile(const char* connector_id);

  // Returns the number of connections.
  size_t connectorCount() const;
  // Drops the connections whose peer ports no longer exist (probed side by
  // side, about a second at most when peers do not answer) and the stale
  // ones; returns how many were dropped.
  size_t dropDeadConnectors() const;

 protected:
  // Activates the port's servant; implemented by each port kind.
  virtual PortService_ptr activatePort();

  // Checks the connection's properties and creates this port's connector
  // for it, publishing into `profile.properties` what the peers need (an
  // object reference). Returns RTC_OK, or BAD_PARAMETER for properties this
  // port cannot serve; then `connector` stays empty.
  virtual ReturnCode_t createConnector(const std::string& id, const coil::Properties& props,
                                       ConnectorProfile& profile,
                                       std::shared_ptr<ConnectorBase>& connector) = 0;
  // Binds the new connector to what the other ports published.
  virtual ReturnCode_t subscribeInterfaces(const coil::Properties& props,
                                           ConnectorBase& connector) = 0;

  // Returns the first connector (empty when there is none).
  std::shared_ptr<ConnectorBase> firstConnector() const;
  // Replaces `out` with the current connectors, in connection order.
  void copyConnectors(std::vector<std::shared_ptr<ConnectorBase> >& out) const;
  // Removes connection `id` on this port only (its peer is gone) and
  // closes the connector.
  void dropConnector(const std::string& id) const;
  // As dropConnector, for a connector's own thread, which cannot wait for
  // itself: the connector is closed by closeDroppedConnectors() later.
  void dropConnectorLater(const std::string& id) const;
  // Closes the connectors dropped by dropConnectorLater().
  void closeDroppedConnectors() const;
  // Returns the port's logger.
  Logger& portLog() const;

  std::string m_name;
  std::string m_fullName;
  RTObject_var m_owner;
  PortService_var m_objref;
  coil::Properties m_properties;
  coil::Properties m_portProperties;

 private:
  std::function<void(const char*, const std::string&)> m_connectionListener;
  std::shared_ptr<ConnectorBase> takeConnector(const std::string& id) const;
  // Drops connections that name no other port and delivered nothing for
  // stale_timeout seconds while another connection exists; returns how
  // many.
  size_t expireStaleConnectors() const;
  // Returns whether connection_limit leaves room for connection `id`
  // (stale ones expire first; one that `namesAPeer` may take the place of
  // a connection naming no other port); logs the refusal when not.
  bool roomForConnection(bool namesAPeer, const std::string& id) const;
  // At the limit, drops the connection naming no other port that has been
  // kept for stale_timeout and delivered least recently, for `newcomer`;
  // false when there is none.
  bool yieldLonelyConnection(const std::string& newcomer) const;
  // Logs a refused connect, throttled.
  void refuseConnect(const std::string& why) const;
  // The steps of notify_connect: whether the profile may join this port
  // (`self` its place in the list), passing the profile on to port `next`,
  // and keeping the finished connection.
  ReturnCode_t admitConnection(const ConnectorProfile& connector_profile, CORBA::Long& self);
  ReturnCode_t passToNextPort(ConnectorProfile& connector_profile, CORBA::ULong next);
  ReturnCode_t keepConnection(const ConnectorProfile& connector_profile, CORBA::Long self,
                              const std::shared_ptr<ConnectorBase>& connector);
  // Ends connection `id` from the profile's `first` port, which passes the
  // request along; removes this port's side itself when the chain did not.
  void disconnectFrom(PortService_ptr first, const std::string& id);

  struct Connections;
  std::unique_ptr<Connections> m_connections;
};

}  // namespace RTC

#endif
