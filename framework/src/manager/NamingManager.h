// RTC::NamingManager: a component's names on the CORBA name servers.
#ifndef RTM_SRC_NAMINGMANAGER_H
#define RTM_SRC_NAMINGMANAGER_H

#include <omniORB4/CORBA.h>
#include <rtm/SystemLogger.h>

#include <mutex>
#include <omniORB4/Naming.hh>
#include <string>
#include <vector>

namespace RTC {

// Binds objects under "ctx.kind/.../name.kind" paths on every configured
// name server, creating missing contexts and replacing stale bindings, and
// keeps the list so that update() can put back what a restarted name server
// has lost. A name server that cannot be reached is reported once (with
// advice) and skipped; calls to it are bounded by a short timeout so a dead
// or stalled server never holds up a component or a shutdown.
class NamingManager {
 public:
  // Uses `orb` to reach the name servers; `log` receives the reports.
  // `timeoutMs` bounds every call to a name server.
  NamingManager(CORBA::ORB_ptr orb, Logger& log, unsigned long timeoutMs = 3000);
  ~NamingManager();
  NamingManager(const NamingManager&) = delete;
  NamingManager& operator=(const NamingManager&) = delete;

  // Adds the name server at `address` ("host" or "host:port", port 2809 by
  // default). Empty addresses are ignored.
  void addNameServer(const std::string& address);
  // Returns the name servers as "host:port".
  std::vector<std::string> getNameServers() const;

  // Binds `obj` under `path` on every name server (replacing what was bound
  // there) and remembers it for update(). Returns the number of servers that
  // hold the name afterwards.
  int bindObject(const std::string& path, CORBA::Object_ptr obj);
  // Removes `path` from every name server where it still refers to `obj`,
  // and forgets it. Failures are logged, never thrown.
  void unbindObject(const std::string& path, CORBA::Object_ptr obj);
  // Removes every remembered name.
  void unbindAll();
  // Binds again every remembered name that a name server no longer has.
  void update();
  // Returns the remembered paths.
  std::vector<std::string> getNames() const;

  // Splits "a.host_cxt/b.rtc" into naming components; each segment's kind
  // follows its last dot. Empty segments are dropped.
  static CosNaming::Name toName(const std::string& path);

 private:
  struct Server {
    std::string address;  // host:port
    CosNaming::NamingContext_var root;
    bool unreachable = false;
  };
  struct Binding {
    std::string path;
    CORBA::Object_var obj;
  };

  CosNaming::NamingContext_ptr rootOf(Server& server);
  void bindOn(Server& server, const CosNaming::Name& name, CORBA::Object_ptr obj);
  bool isBoundOn(Server& server, const CosNaming::Name& name);
  void unbindOn(Server& server, const CosNaming::Name& name, CORBA::Object_ptr obj);
  void reportFailure(Server& server, const std::string& what, const CORBA::Exception& e);
  void reportSuccess(Server& server);
  void limit(CORBA::Object_ptr obj) const;

  mutable std::mutex m_mutex;  // serialises every naming call
  CORBA::ORB_var m_orb;
  Logger& m_log;
  unsigned long m_timeoutMs;
  std::vector<Server> m_servers;
  std::vector<Binding> m_bindings;
};

}  // namespace RTC

#endif
