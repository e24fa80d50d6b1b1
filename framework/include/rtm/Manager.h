// RTC::Manager: the process-wide component manager.
#ifndef RTM_MANAGER_H
#define RTM_MANAGER_H

#include <coil/Properties.h>
#include <rtm/Factory.h>
#include <rtm/RTC.h>

#include <memory>
#include <string>
#include <vector>

namespace RTC {

class Manager;
class RTObject_impl;

// The module initialisation procedure: registers factories and creates
// components from inside activateManager().
typedef void (*ModuleInitProc)(Manager* manager);

// Starts the ORB, creates components from registered factories, registers
// them with the name servers and shuts everything down on request, on
// SIGINT/SIGTERM, or when the last component has exited.
class Manager {
 public:
  // Returns the manager, reading the command line and rtc.conf the first
  // time; later calls return the same manager. The first call blocks SIGINT
  // and SIGTERM in the calling thread for one thread of the manager to take,
  // so make it before the process starts other threads.
  static Manager* init(int argc, char** argv);
  // Returns the manager (initialised without arguments if need be).
  static Manager& instance();

  // Finalizes and destroys every component, removes their names, stops the
  // ORB and releases runManager(). Safe to call more than once and from any
  // thread but an ORB request thread.
  void shutdown();
  // Returns the manager's configuration (rtc.conf and command line).
  coil::Properties& getConfig();
  // Sets the procedure activateManager() calls.
  void setModuleInitProc(ModuleInitProc proc);
  // Starts the ORB and its POA and calls the module initialisation
  // procedure. Returns false when the ORB cannot start (for example its
  // port is taken).
  bool activateManager();
  // Blocks until the manager has shut down; with `no_block` returns at once
  // (the ORB serves on its own threads either way).
  void runManager(bool no_block = false);
  // Registers a component type under the profile's implementation_id,
  // keeping a copy of the profile. False when the id is missing or taken.
  bool registerFactory(coil::Properties& profile, RtcNewFunc new_func, RtcDeleteFunc delete_func);
  // Creates, initialises and registers one component of the type named by
  // `comp_args` ("Type" or "Type?key=value&..."). Returns null when there is
  // no such factory, the factory returns null or onInitialize fails.
  RTObject_impl* createComponent(const char* comp_args);

  // ---- Beyond the published subset: used by the runtime and its tests. ----

  // Returns the ORB, its root POA and POA manager (new references; nil
  // before activateManager()).
  CORBA::ORB_ptr getORB();
  PortableServer::POA_ptr getPOA();
  PortableServer::POAManager_ptr getPOAManager();
  // Removes the factory of `implementation_id`; components made by it live
  // on. False when there is none.
  bool unregisterFactory(const char* implementation_id);
  // Returns the profiles of the registered factories.
  std::vector<coil::Properties> getFactoryProfiles();
  // Returns the live components.
  std::vector<RTObject_impl*> getComponents();
  // Returns the live component named `instance_name`, or null.
  RTObject_impl* getComponent(const char* instance_name);
  // Returns whether shutdown() has begun.
  bool isShuttingDown() const;
  // Re-registers every component's names now (the timer does it every
  // naming.update.interval).
  void updateNames();
  // Called by a component whose exit() has finalized it: removes its names
  // and lets the manager destroy it.
  void notifyFinalized(RTObject_impl* comp);

  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;

 private:
  Manager();
  ~Manager();
  void runWorker();
  static void removeNamesAtExit(int status, void* unused);
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace RTC

#endif
