// PixmoorComp: a process hosting one Pixmoor component in the framework's
// manager until the manager shuts down.
#include <rtm/Manager.h>

#include <cstdlib>
#include <iostream>

#include "Pixmoor.h"

// Registers the component type and creates its one instance; a host without
// its component has no reason to run.
void moduleInit(RTC::Manager* manager) {
  PixmoorInit(manager);
  RTC::RTObject_impl* comp = manager->createComponent("Pixmoor");
  if (comp == NULL) {
    std::cerr << "Component create failed." << std::endl;
    abort();
  }
}

int main(int argc, char** argv) {
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  manager->setModuleInitProc(moduleInit);
  // A manager whose ORB could not start can never serve anyone: say so and
  // fail instead of waiting for ever.
  if (!manager->activateManager()) {
    std::cerr << "PixmoorComp: the component manager could not start; see the log for why "
                 "(is the ORB's port already in use?)"
              << std::endl;
    manager->shutdown();
    return 1;
  }
  manager->runManager(false);
  return 0;
}
