// rtcd: the generic component host. Everything it runs comes from its
// configuration: manager.modules.preload loads the components' modules,
// manager.components.precreate creates them, preconnect and preactivation
// wire and start them.
#include <rtm/Manager.h>

#include <iostream>

int main(int argc, char** argv) {
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  // A manager whose ORB could not start can serve no one: fail rather than
  // wait for ever.
  if (!manager->activateManager()) {
    std::cerr << "rtcd: the component manager could not start (is the ORB's endpoint port "
                 "already in use? see the log)"
              << std::endl;
    manager->shutdown();
    return 1;
  }
  manager->runManager(false);
  return 0;
}
