// RTC::ManagerServant: the process's RTM::Manager object, through which
// tools create and delete components, load modules and find a host's
// master.
#ifndef RTM_SRC_MANAGERSERVANT_H
#define RTM_SRC_MANAGERSERVANT_H

#include <rtm/SystemLogger.h>
#include <rtm/idl/ManagerSkel.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "manager/MasterSlave.h"

namespace RTC {

class Manager;
class NamingManager;

// What the service asks of the manager beyond its public interface.
struct ManagerServiceHooks {
  // Shuts the process down in order, later and from a thread of its own.
  std::function<void()> requestShutdown;
  // Loads a module as manager.modules.preload does ("File.so" or
  // "File.so(InitFunc)"); false with `error` set.
  std::function<bool(const std::string& entry, std::string& error)> loadModule;
};

// One per process, on omniINSPOA under manager.name. A master
// (manager.is_master) binds itself under manager.naming_formats and hands
// creations to its slaves, starting one when needed; a slave registers with
// corba.master_manager and creates components itself. Every remote call it
// makes is bounded, and a peer found dead is dropped from its lists.
class ManagerServant : public POA_RTM::Manager {
 public:
  ManagerServant(RTC::Manager& manager, CORBA::ORB_ptr orb, Logger& log, ManagerServiceHooks hooks);
  ~ManagerServant() override;
  ManagerServant(const ManagerServant&) = delete;
  ManagerServant& operator=(const ManagerServant&) = delete;

  // Activates the object and takes up its role; `naming` (may be null)
  // receives a master's names. False when the object cannot be activated
  // (logged).
  bool start(NamingManager* naming);
  // Leaves the role: a slave unregisters from its masters, a master shuts
  // down the slaves it started and reaps them. The object answers until
  // the ORB goes.
  void stop();
  // Returns the object's reference (nil before start()).
  RTM::Manager_ptr getObjRef();

  RTC::ReturnCode_t load_module(const char* pathname, const char* initfunc) override;
  RTC::ReturnCode_t unload_module(const char* pathname) override;
  RTM::ModuleProfileList* get_loadable_modules() override;
  RTM::ModuleProfileList* get_loaded_modules() override;
  RTM::ModuleProfileList* get_factory_profiles() override;
  RTC::RTObject_ptr create_component(const char* module_name) override;
  RTC::ReturnCode_t delete_component(const char* instance_name) override;
  RTC::RTCList* get_components() override;
  RTC::ComponentProfileList* get_component_profiles() override;
  RTC::RTCList* get_components_by_name(const char* name) override;
  RTM::ManagerProfile* get_profile() override;
  RTM::NVList* get_configuration() override;
  RTC::ReturnCode_t set_configuration(const char* name, const char* value) override;
  CORBA::Boolean is_master() override;
  RTM::ManagerList* get_master_managers() override;
  RTC::ReturnCode_t add_master_manager(RTM::Manager_ptr mgr) override;
  RTC::ReturnCode_t remove_master_manager(RTM::Manager_ptr mgr) override;
  RTM::ManagerList* get_slave_managers() override;
  RTC::ReturnCode_t add_slave_manager(RTM::Manager_ptr mgr) override;
  RTC::ReturnCode_t remove_slave_manager(RTM::Manager_ptr mgr) override;
  RTC::ReturnCode_t fork() override;
  RTC::ReturnCode_t shutdown() override;
  RTC::ReturnCode_t restart() override;
  CORBA::Object_ptr get_service(const char* name) override;

 private:
  RTC::RTObject_ptr createHere(const std::string& arg);
  RTC::RTObject_ptr createOnSlaves(const std::string& arg);
  void registerWithMaster();

  RTC::Manager& m_manager;
  CORBA::ORB_var m_orb;
  Logger& m_log;
  ManagerServiceHooks m_hooks;
  bool m_isMaster = false;
  RTM::Manager_var m_self;
  PortableServer::POA_var m_insPoa;

  std::mutex m_createMutex;  // a master starts one slave at a time
  PeerManagers m_masters;
  PeerManagers m_slaves;
  std::unique_ptr<SlaveLauncher> m_launcher;

  std::mutex m_stopMutex;
  std::condition_variable m_stopChanged;
  bool m_stopping = false;
  std::thread m_registration;
};

}  // namespace RTC

#endif
