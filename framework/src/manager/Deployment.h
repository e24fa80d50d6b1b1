// RTC::Deployment: carries out what rtc.conf asks of the manager at start —
// loading modules, then creating, connecting and activating components.
#ifndef RTM_SRC_DEPLOYMENT_H
#define RTM_SRC_DEPLOYMENT_H

#include <coil/Properties.h>
#include <rtm/SystemLogger.h>
#include <rtm/idl/RTCSkel.h>

#include <string>

#include "manager/DeploymentPlan.h"

namespace RTC {

class Manager;

// Each step works through its comma list entry by entry: an entry that fails
// is logged at ERROR naming it and the next one is tried, so one bad entry
// never stops the others nor the manager.
class Deployment {
 public:
  // Works for `manager`, reaching name servers and components through `orb`;
  // `timeoutMs` bounds each call to a name server.
  Deployment(Manager& manager, CORBA::ORB_ptr orb, Logger& log, unsigned long timeoutMs);
  Deployment(const Deployment&) = delete;
  Deployment& operator=(const Deployment&) = delete;

  // Loads manager.modules.preload from manager.modules.load_path and calls
  // each module's init function with the manager.
  void loadModules(const coil::Properties& config);
  // Loads one such entry ("File.so", "File", "File.so(InitFunc)") with the
  // same checks, recording it in the ModuleRegistry; false with `error` set.
  bool loadModuleEntry(const std::string& entry, const coil::Properties& config,
                       std::string& error);
  // Creates manager.components.precreate's components.
  void createComponents(const std::string& list);
  // Makes manager.components.preconnect's connections.
  void connectPorts(const std::string& list);
  // Activates manager.components.preactivation's components in their first
  // execution context.
  void activateComponents(const std::string& list);

 private:
  bool loadModule(const ModuleEntry& module, const coil::Properties& config, std::string& error);
  std::vector<std::string> factoriesAddedSince(const std::vector<coil::Properties>& before);
  bool connect(const ConnectionEntry& connection, std::string& error);
  bool activate(const ComponentRef& component, std::string& error);
  // Returns the component's reference, nil with `error` set.
  RTObject_ptr resolve(const ComponentRef& component, std::string& error);
  // Returns the port's reference, nil with `error` set.
  PortService_ptr findPort(const PortRef& port, std::string& error);

  Manager& m_manager;
  CORBA::ORB_var m_orb;
  Logger& m_log;
  unsigned long m_timeoutMs;
};

}  // namespace RTC

#endif
