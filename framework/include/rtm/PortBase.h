// RTC::PortBase: what every port of a component offers its owner.
#ifndef RTM_PORTBASE_H
#define RTM_PORTBASE_H

#include <rtm/RTC.h>
#include <coil/Properties.h>

#include <string>

namespace RTC {

// A named port with a CORBA PortService object. The owning component calls
// setOwner() once when the port is added, lists its reference and profile,
// and calls deactivatePort() when the component exits.
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
  virtual PortProfile* getPortProfile() const = 0;
  // Removes every connection (telling peers) and deactivates the port's
  // CORBA objects. Called before the owner goes away.
  virtual void deactivatePort() = 0;
  // Returns the port's own properties (port.port_type, dataport.*).
  const coil::Properties& getProperties() const { return m_properties; }

 protected:
  // Activates the port's servant; implemented by each port kind.
  virtual PortService_ptr activatePort() = 0;

  std::string m_name;
  std::string m_fullName;
  RTObject_var m_owner;
  PortService_var m_objref;
  coil::Properties m_properties;
};

}  // namespace RTC

#endif
