// rtmctl's connection to the world: one client ORB, name servers, components.
#ifndef PIXMOOR_TOOLS_RTMCTL_SESSION_H
#define PIXMOOR_TOOLS_RTMCTL_SESSION_H

#include <omniORB4/CORBA.h>
#include <rtm/idl/RTCSkel.h>

#include <omniORB4/Naming.hh>
#include <string>
#include <vector>

#include "RtmPath.h"

namespace rtmctl {

// One entry of a naming context.
struct NameEntry {
  std::string name;  // "Pixmoor0.rtc"
  bool isContext = false;
};

// Owns the client ORB (created on first use) and turns paths into references.
// Every failure becomes a CtlError whose message says what to check.
class Session {
 public:
  // `callTimeoutMs` bounds every remote call so that a dead peer cannot hang us.
  explicit Session(int callTimeoutMs);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Returns the ORB, initialising it on first use.
  CORBA::ORB_ptr orb();
  // Sets the omniORB endpoint ("giop:tcp:HOST:PORT") the ORB listens on for
  // the objects rtmctl serves itself; only before the ORB's first use.
  void setEndpoint(const std::string& endpoint);
  // Activates the root POA's manager so that objects rtmctl activates answer
  // calls; returns the root POA.
  PortableServer::POA_ptr servingPoa();
  // Returns the call timeout in milliseconds.
  int callTimeoutMs() const { return m_callTimeoutMs; }
  // Makes the call timeout, from now, a deadline for every remote call the
  // process makes: a command of several calls then ends within it too.
  void boundWholeCommand();

  // Returns the root naming context of the path's name server.
  CosNaming::NamingContext_ptr rootContext(const RtmPath& path);
  // Returns the object bound at the path's naming path (the root context for
  // a path without segments). `noun` names what was expected in messages.
  CORBA::Object_ptr resolve(const RtmPath& path, const std::string& noun);
  // Returns the component bound at the path.
  RTC::RTObject_ptr component(const RtmPath& path);
  // Returns the component's port named by path.portName.
  RTC::PortService_ptr port(RTC::RTObject_ptr component, const RtmPath& path);
  // Returns the entries of a naming context, sorted by name.
  std::vector<NameEntry> entries(CosNaming::NamingContext_ptr context, const std::string& where);

 private:
  int m_callTimeoutMs;
  std::string m_endpoint = "giop:tcp:127.0.0.1:";
  CORBA::ORB_var m_orb;
};

// Returns a CosNaming name for the path's segments [0, count).
CosNaming::Name toCosName(const RtmPath& path, std::size_t count);

// Returns the text of one CosNaming component ("id.kind").
std::string nameComponentText(const CosNaming::NameComponent& component);

// Throws a CtlError that explains a system exception raised while talking to
// `target` (a path or a description) in words a user can act on.
[[noreturn]] void failRemote(const CORBA::SystemException& ex, const std::string& target,
                             int callTimeoutMs);

}  // namespace rtmctl

#endif
