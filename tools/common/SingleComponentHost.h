// The main of a tool process that hosts one component in the framework's
// manager, shared by FrameSourceComp and the tests' FrameSinkComp.
#ifndef PIXMOOR_TOOLS_COMMON_SINGLECOMPONENTHOST_H
#define PIXMOOR_TOOLS_COMMON_SINGLECOMPONENTHOST_H

#include <rtm/Manager.h>

#include <cstdlib>
#include <iostream>

namespace toolhost {

// Creates one component of `typeName`, already registered; a host without
// its component has no reason to run, so a failure aborts.
inline void createOrAbort(RTC::Manager* manager, const char* typeName) {
  if (manager->createComponent(typeName) == nullptr) {
    std::cerr << "Component create failed." << std::endl;
    std::abort();
  }
}

// Runs a manager whose activation calls `moduleInit` until it shuts down;
// returns 1 after printing `startFailure` when the manager cannot start, so
// that a manager that cannot serve does not look alive.
inline int runHost(int argc, char** argv, RTC::ModuleInitProc moduleInit,
                   const char* startFailure) {
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  manager->setModuleInitProc(moduleInit);
  if (!manager->activateManager()) {
    std::cerr << startFailure << std::endl;
    manager->shutdown();
    return 1;
  }
  manager->runManager(false);
  return 0;
}

}  // namespace toolhost

#endif
