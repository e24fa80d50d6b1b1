// FrameSourceComp: a process hosting one FrameSource.
#include <rtm/Manager.h>

#include <cstdlib>
#include <iostream>

#include "FrameSource.h"

// Registers the type and creates the one instance; called inside activateManager().
static void moduleInit(RTC::Manager* manager) {
  FrameSourceInit(manager);
  RTC::RTObject_impl* component = manager->createComponent("FrameSource");
  if (component == nullptr) {
    std::cerr << "Component create failed." << std::endl;
    abort();
  }
}

int main(int argc, char** argv) {
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  manager->setModuleInitProc(moduleInit);
  // A manager that cannot serve must not look alive.
  if (!manager->activateManager()) {
    std::cerr << "FrameSourceComp: the component manager could not start (is the ORB's "
                 "endpoint port already in use? see the log)"
              << std::endl;
    manager->shutdown();
    return 1;
  }
  manager->runManager(false);
  return 0;
}
