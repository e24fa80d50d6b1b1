// The pieces of the master/slave roles that know nothing of the servant:
// a list of peer managers, a bound on the calls made to them, and the
// processes a master starts as slaves.
#ifndef RTM_SRC_MASTERSLAVE_H
#define RTM_SRC_MASTERSLAVE_H

#include <rtm/SystemLogger.h>
#include <rtm/idl/ManagerSkel.h>
#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace RTC {

// Bounds every call made through `obj` (and its duplicates) to `ms`. Per
// reference: omniORB's per-thread bound does not reach threads of ours.
inline void limitCalls(CORBA::Object_ptr obj, unsigned long ms) {
  if (!CORBA::is_nil(obj)) omniORB::setClientCallTimeout(obj, ms);
}

// What a call to a peer manager may take; creating a component there may
// take a component's whole initialisation.
const unsigned long kPeerCallTimeoutMs = 3000;
const unsigned long kCreateTimeoutMs = 15000;

// Whether `e` says the peer is gone for good (its process ended or the
// object was deactivated), as opposed to slow or refusing.
bool peerGone(const CORBA::Exception& e);

// Managers known to this one, each once (by _is_equivalent).
class PeerManagers {
 public:
  // Adds `mgr`; false when it is there already (nothing changes).
  bool add(RTM::Manager_ptr mgr);
  // Removes `mgr`; false when it was not there.
  bool remove(RTM::Manager_ptr mgr);
  // Returns the managers (new references).
  std::vector<RTM::Manager_var> snapshot() const;
  // Returns the managers as a sequence.
  RTM::ManagerList* toSequence() const;
  // Returns the manager whose manager.instance_name is `name` (asking each
  // once and remembering), nil when none; drops the ones found gone.
  RTM::Manager_ptr find(const std::string& name);

 private:
  struct Entry {
    RTM::Manager_var ref;
    std::string instanceName;  // "" until asked
  };
  mutable std::mutex m_mutex;
  std::vector<Entry> m_entries;
};

// The slave processes a master starts: each is reaped by a thread of its
// own as soon as it ends, and stopAll() ends the ones still running.
class SlaveLauncher {
 public:
  explicit SlaveLauncher(Logger& log) : m_log(log) {}
  ~SlaveLauncher() { stopAll(); }
  SlaveLauncher(const SlaveLauncher&) = delete;
  SlaveLauncher& operator=(const SlaveLauncher&) = delete;

  // Starts `argv` (argv[0] looked up in PATH) with the signals unblocked;
  // returns its pid, -1 on failure (logged).
  pid_t launch(const std::vector<std::string>& argv);
  // Returns whether `pid`, started here, has ended.
  bool ended(pid_t pid) const;
  // Asks every slave still running to shut down (SIGTERM: an orderly
  // shutdown that removes its names), kills the ones that have not ended
  // after `graceSec`, and reaps them all.
  void stopAll(double graceSec = 5.0);

 private:
  struct Child {
    pid_t pid = -1;
    std::atomic<bool> ended{false};
    std::thread reaper;
  };
  Logger& m_log;
  mutable std::mutex m_mutex;
  std::vector<std::unique_ptr<Child> > m_children;
};

// Returns the command line a master runs to start slave `instanceName`
// from its configuration `config`: manager.modules.C++.manager_cmd with the
// settings that make it a slave of this master, on the master's interfaces,
// name servers and configuration file.
std::vector<std::string> slaveCommand(const coil::Properties& config,
                                      const std::string& instanceName);

}  // namespace RTC

#endif
