#include "manager/MasterSlave.h"

#include <coil/stringutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "corba/NVUtil.h"

extern char** environ;

namespace RTC {

namespace {

std::string describeStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

// The host parts of a comma list of endpoints, each with an open port:
// "127.0.0.1:2810,giop:tcp:10.0.0.1:0" gives "127.0.0.1:,10.0.0.1:".
std::string endpointHosts(const std::string& endpoints) {
  std::string out;
  for (std::string entry : coil::split(endpoints, ",")) {
    entry = coil::eraseBothEndsBlank(entry);
    if (entry.empty()) continue;
    if (entry.compare(0, 9, "giop:tcp:") == 0) entry = entry.substr(9);
    const size_t colon = entry.rfind(':');
    const std::string host = colon == std::string::npos ? entry : entry.substr(0, colon);
    out += (out.empty() ? "" : ",") + host + ":";
  }
  return out;
}

}  // namespace

bool peerGone(const CORBA::Exception& e) {
  return CORBA::TRANSIENT::_downcast(&e) != nullptr ||
         CORBA::COMM_FAILURE::_downcast(&e) != nullptr ||
         CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr;
}

bool PeerManagers::add(RTM::Manager_ptr mgr) {
  if (CORBA::is_nil(mgr)) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const Entry& e : m_entries) {
    if (e.ref->_is_equivalent(mgr)) return false;
  }
  Entry entry;
  entry.ref = RTM::Manager::_duplicate(mgr);
  limitCalls(entry.ref, kPeerCallTimeoutMs);
  m_entries.push_back(entry);
  return true;
}

bool PeerManagers::remove(RTM::Manager_ptr mgr) {
  if (CORBA::is_nil(mgr)) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (it->ref->_is_equivalent(mgr)) {
      m_entries.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<RTM::Manager_var> PeerManagers::snapshot() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<RTM::Manager_var> out;
  for (const Entry& e : m_entries) out.push_back(RTM::Manager::_duplicate(e.ref.in()));
  return out;
}

RTM::ManagerList* PeerManagers::toSequence() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RTM::ManagerList_var out = new RTM::ManagerList;
  out->length(static_cast<CORBA::ULong>(m_entries.size()));
  for (CORBA::ULong i = 0; i < out->length(); ++i) {
    out[i] = RTM::Manager::_duplicate(m_entries[i].ref.in());
  }
  return out._retn();
}

RTM::Manager_ptr PeerManagers::find(const std::string& name) {
  std::vector<Entry> entries;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    entries = m_entries;
  }
  // Asked outside the lock: a slow slave must not hold up the list.
  for (Entry& e : entries) {
    if (e.instanceName.empty()) {
      try {
        RTM::NVList_var config = e.ref->get_configuration();
        e.instanceName = NVUtil::toString(config.in(), "manager.instance_name");
      } catch (const CORBA::Exception& ex) {
        if (peerGone(ex)) remove(e.ref);
        continue;
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      for (Entry& kept : m_entries) {
        if (kept.ref->_is_equivalent(e.ref)) kept.instanceName = e.instanceName;
      }
    }
    if (e.instanceName == name) return RTM::Manager::_duplicate(e.ref.in());
  }
  return RTM::Manager::_nil();
}

pid_t SlaveLauncher::launch(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The manager blocks its shutdown signals in every thread for one thread
  // to take; a slave must start with them open or it could not be stopped.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int err = ::posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
  if (err != 0) {
    m_log.log(Logger::RTL_ERROR, "cannot start a slave manager (" + line + "): " +
                                     std::strerror(err) + " (see manager.modules.C++.manager_cmd)");
    return -1;
  }
  m_log.log(Logger::RTL_INFO, "slave manager started (pid " + std::to_string(pid) + "): " + line);
  std::unique_ptr<Child> child(new Child);
  child->pid = pid;
  Child* raw = child.get();
  Logger& log = m_log;
  child->reaper = std::thread([raw, &log] {
    int status = 0;
    while (::waitpid(raw->pid, &status, 0) < 0 && errno == EINTR) {
    }
    raw->ended = true;
    log.log(Logger::RTL_INFO,
            "slave manager (pid " + std::to_string(raw->pid) + ") " + describeStatus(status));
  });
  std::lock_guard<std::mutex> lock(m_mutex);
  m_children.push_back(std::move(child));
  return pid;
}

bool SlaveLauncher::ended(pid_t pid) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& c : m_children) {
    if (c->pid == pid) return c->ended;
  }
  return true;
}

void SlaveLauncher::stopAll(double graceSec) {
  std::vector<std::unique_ptr<Child> > children;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    children.swap(m_children);
  }
  if (children.empty()) return;
  for (const auto& c : children) {
    if (!c->ended) ::kill(c->pid, SIGTERM);
  }
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(graceSec * 1000));
  for (const auto& c : children) {
    while (!c->ended && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!c->ended) {
      m_log.log(Logger::RTL_WARN, "slave manager (pid " + std::to_string(c->pid) +
                                      ") did not end on SIGTERM; killing it");
      ::kill(c->pid, SIGKILL);
    }
    if (c->reaper.joinable()) c->reaper.join();
  }
}

std::vector<std::string> slaveCommand(const coil::Properties& config,
                                      const std::string& instanceName) {
  std::vector<std::string> argv;
  argv.push_back(config.getProperty("manager.modules.C++.manager_cmd", "rtcd"));
  auto set = [&argv](const std::string& key, const std::string& value) {
    argv.push_back("-o");
    argv.push_back(key + ":" + value);
  };
  // The slave reads the master's file first, then these win over it.
  const std::string file = config.getProperty("config_file");
  if (!file.empty()) {
    argv.push_back("-f");
    argv.push_back(file);
  }
  set("manager.modules.load_path", config.getProperty("manager.modules.load_path"));
  set("manager.is_master", "NO");
  set("manager.corba_servant", "YES");
  set("corba.master_manager", config.getProperty("corba.master_manager", "localhost:2810"));
  set("manager.name", config.getProperty("manager.name", "manager"));
  set("manager.instance_name", instanceName);
  set("manager.shutdown_auto", "NO");
  std::string endpoints = config.getProperty("corba.endpoints");
  if (endpoints.empty()) endpoints = config.getProperty("corba.endpoint");
  const std::string hosts = endpointHosts(endpoints);
  if (!hosts.empty()) set("corba.endpoints", hosts);
  set("corba.nameservers", config.getProperty("corba.nameservers"));
  return argv;
}

}  // namespace RTC
