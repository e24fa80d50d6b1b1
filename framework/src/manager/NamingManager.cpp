#include "manager/NamingManager.h"

#include <coil/stringutil.h>

namespace RTC {

namespace {

std::string describe(const CORBA::Exception& e) {
  std::string text = e._name();
  const CORBA::SystemException* sys = CORBA::SystemException::_downcast(&e);
  if (sys != nullptr) {
    const char* minor = sys->NP_minorString();
    if (minor != nullptr) text += std::string(" (") + minor + ")";
  }
  return text;
}

// A server that refuses, times out or has gone away, as opposed to one that
// answered with an error of its own.
bool isUnreachable(const CORBA::Exception& e) {
  return CORBA::TRANSIENT::_downcast(&e) != nullptr ||
         CORBA::COMM_FAILURE::_downcast(&e) != nullptr ||
         CORBA::TIMEOUT::_downcast(&e) != nullptr ||
         CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr ||
         CORBA::INV_OBJREF::_downcast(&e) != nullptr;
}

// Runs `f`, again after a COMM_FAILURE: each connection kept open to a name
// server that has restarted since fails on its first reuse (there is one per
// address form: the corbaloc root and the contexts' own references), and a
// new attempt opens a new one. A server that is really gone answers
// TRANSIENT instead.
template <class F>
void retryOnStaleConnection(F&& f) {
  for (int attempt = 0;; ++attempt) {
    try {
      f();
      return;
    } catch (const CORBA::COMM_FAILURE&) {
      if (attempt >= 3) throw;
    }
  }
}

}  // namespace

NamingManager::NamingManager(CORBA::ORB_ptr orb, Logger& log, unsigned long timeoutMs)
    : m_orb(CORBA::ORB::_duplicate(orb)), m_log(log), m_timeoutMs(timeoutMs) {}

NamingManager::~NamingManager() {}

void NamingManager::addNameServer(const std::string& address) {
  std::string addr = coil::eraseBothEndsBlank(address);
  if (addr.empty()) return;
  // "host", "host:port" or "[v6]:port": the port is what follows the last
  // colon after any bracketed address.
  std::string::size_type close = addr.rfind(']');
  std::string::size_type colon = addr.rfind(':');
  if (colon == std::string::npos || (close != std::string::npos && colon < close)) {
    addr += ":2809";
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const Server& s : m_servers) {
    if (s.address == addr) return;
  }
  Server server;
  server.address = addr;
  m_servers.push_back(server);
}

std::vector<std::string> NamingManager::getNameServers() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> out;
  for (const Server& s : m_servers) out.push_back(s.address);
  return out;
}

CosNaming::Name NamingManager::toName(const std::string& path) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (start <= path.size()) {
    std::string::size_type slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = coil::eraseBothEndsBlank(path.substr(start, slash - start));
    if (!part.empty()) parts.push_back(part);
    start = slash + 1;
  }
  CosNaming::Name name;
  name.length(static_cast<CORBA::ULong>(parts.size()));
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string::size_type dot = parts[i].rfind('.');
    std::string id = dot == std::string::npos ? parts[i] : parts[i].substr(0, dot);
    std::string kind = dot == std::string::npos ? "" : parts[i].substr(dot + 1);
    name[static_cast<CORBA::ULong>(i)].id = CORBA::string_dup(id.c_str());
    name[static_cast<CORBA::ULong>(i)].kind = CORBA::string_dup(kind.c_str());
  }
  return name;
}

void NamingManager::limit(CORBA::Object_ptr obj) const {
  if (!CORBA::is_nil(obj)) omniORB::setClientCallTimeout(obj, m_timeoutMs);
}

CosNaming::NamingContext_ptr NamingManager::rootOf(Server& server) {
  if (CORBA::is_nil(server.root)) {
    std::string loc = "corbaloc::" + server.address + "/NameService";
    CORBA::Object_var obj = m_orb->string_to_object(loc.c_str());
    // Unchecked: a checked narrow would be a remote call without our timeout.
    server.root = CosNaming::NamingContext::_unchecked_narrow(obj);
    limit(server.root);
  }
  return CosNaming::NamingContext::_duplicate(server.root);
}

void NamingManager::reportFailure(Server& server, const std::string& what,
                                  const CORBA::Exception& e) {
  if (isUnreachable(e)) {
    if (!server.unreachable) {
      server.unreachable = true;
      m_log.log(Logger::RTL_WARN, "cannot reach the name server at " + server.address +
                                      " \xE2\x80\x94 is omniNames running? (" + what + ": " +
                                      describe(e) + "; will keep trying)");
    }
    return;
  }
  m_log.log(Logger::RTL_ERROR,
            "name server at " + server.address + ": " + what + " failed: " + describe(e));
}

void NamingManager::reportSuccess(Server& server) {
  if (server.unreachable) {
    server.unreachable = false;
    m_log.log(Logger::RTL_INFO, "name server at " + server.address + " is reachable again");
  }
}

void NamingManager::bindOn(Server& server, const CosNaming::Name& name, CORBA::Object_ptr obj) {
  CosNaming::NamingContext_var cxt = rootOf(server);
  for (CORBA::ULong i = 0; i + 1 < name.length(); ++i) {
    CosNaming::Name part;
    part.length(1);
    part[0] = name[i];
    CORBA::Object_var found;
    try {
      found = cxt->resolve(part);
    } catch (const CosNaming::NamingContext::NotFound&) {
    }
    CosNaming::NamingContext_var next;
    if (!CORBA::is_nil(found)) {
      limit(found);
      next = CosNaming::NamingContext::_narrow(found);
    }
    if (CORBA::is_nil(next)) {
      // Missing, or a stale object where a context belongs: make a context.
      if (!CORBA::is_nil(found)) cxt->unbind(part);
      next = cxt->bind_new_context(part);
    }
    limit(next);
    cxt = next;
  }
  CosNaming::Name last;
  last.length(1);
  last[0] = name[name.length() - 1];
  cxt->rebind(last, obj);
}

bool NamingManager::isBoundOn(Server& server, const CosNaming::Name& name) {
  CosNaming::NamingContext_var root = rootOf(server);
  try {
    CORBA::Object_var found = root->resolve(name);
    return !CORBA::is_nil(found);
  } catch (const CosNaming::NamingContext::NotFound&) {
    return false;
  }
}

void NamingManager::unbindOn(Server& server, const CosNaming::Name& name, CORBA::Object_ptr obj) {
  CosNaming::NamingContext_var root = rootOf(server);
  CORBA::Object_var found;
  try {
    found = root->resolve(name);
  } catch (const CosNaming::NamingContext::NotFound&) {
    return;
  }
  // Another process may have taken the name since; leave its binding alone.
  if (!CORBA::is_nil(obj) && !CORBA::is_nil(found) && !found->_is_equivalent(obj)) return;
  root->unbind(name);
}

int NamingManager::bindObject(const std::string& path, CORBA::Object_ptr obj) {
  CosNaming::Name name = toName(path);
  if (name.length() == 0) {
    m_log.log(Logger::RTL_ERROR, "naming: empty name '" + path + "' not bound");
    return 0;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  bool known = false;
  for (Binding& b : m_bindings) {
    if (b.path == path) {
      b.obj = CORBA::Object::_duplicate(obj);
      known = true;
    }
  }
  if (!known) {
    Binding b;
    b.path = path;
    b.obj = CORBA::Object::_duplicate(obj);
    m_bindings.push_back(b);
  }
  int bound = 0;
  for (Server& server : m_servers) {
    try {
      retryOnStaleConnection([&] { bindOn(server, name, obj); });
      reportSuccess(server);
      m_log.log(Logger::RTL_INFO, "bound '" + path + "' on " + server.address);
      ++bound;
    } catch (const CORBA::Exception& e) {
      reportFailure(server, "binding '" + path + "'", e);
    }
  }
  return bound;
}

void NamingManager::unbindObject(const std::string& path, CORBA::Object_ptr obj) {
  CosNaming::Name name = toName(path);
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto it = m_bindings.begin(); it != m_bindings.end();) {
    it = it->path == path ? m_bindings.erase(it) : it + 1;
  }
  if (name.length() == 0) return;
  for (Server& server : m_servers) {
    try {
      retryOnStaleConnection([&] { unbindOn(server, name, obj); });
      reportSuccess(server);
    } catch (const CORBA::Exception& e) {
      // Shutting down goes on without the name server; the name stays
      // behind there until someone rebinds or removes it.
      if (isUnreachable(e)) {
        m_log.log(Logger::RTL_WARN, "could not remove '" + path + "' from the name server at " +
                                        server.address + ": " + describe(e));
      } else {
        reportFailure(server, "removing '" + path + "'", e);
      }
    }
  }
}

void NamingManager::unbindAll() {
  std::vector<std::pair<std::string, CORBA::Object_var>> all;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Binding& b : m_bindings) all.emplace_back(b.path, b.obj);
  }
  for (auto& entry : all) unbindObject(entry.first, entry.second);
}

void NamingManager::update() {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (Server& server : m_servers) {
    for (const Binding& b : m_bindings) {
      CosNaming::Name name = toName(b.path);
      bool unreachable = false;
      try {
        retryOnStaleConnection([&] {
          if (!isBoundOn(server, name)) {
            bindOn(server, name, b.obj);
            m_log.log(Logger::RTL_INFO, "bound '" + b.path + "' again on " + server.address);
          }
        });
        reportSuccess(server);
      } catch (const CORBA::Exception& e) {
        reportFailure(server, "binding '" + b.path + "'", e);
        unreachable = isUnreachable(e);
      }
      // One failure per server per round is enough: the others would only
      // wait for the same timeout.
      if (unreachable) break;
    }
  }
}

std::vector<std::string> NamingManager::getNames() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> out;
  for (const Binding& b : m_bindings) out.push_back(b.path);
  return out;
}

}  // namespace RTC
