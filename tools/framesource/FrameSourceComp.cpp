// FrameSourceComp: a process hosting one FrameSource.
#include "FrameSource.h"
#include "SingleComponentHost.h"

// Registers the type and creates the one instance; called inside activateManager().
static void moduleInit(RTC::Manager* manager) {
  FrameSourceInit(manager);
  toolhost::createOrAbort(manager, "FrameSource");
}

int main(int argc, char** argv) {
  return toolhost::runHost(argc, argv, moduleInit,
                           "FrameSourceComp: the component manager could not start (is the ORB's "
                           "endpoint port already in use? see the log)");
}
