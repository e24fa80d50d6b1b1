// rtmctl commands that look at components and drive their life cycle.
#ifndef PIXMOOR_TOOLS_RTMCTL_COMPONENTCOMMANDS_H
#define PIXMOOR_TOOLS_RTMCTL_COMPONENTCOMMANDS_H

#include <ostream>
#include <string>
#include <vector>

#include "Session.h"

namespace rtmctl {

// `list [PATH]`: prints every context and object below PATH, one path a line.
int runList(Session& session, const std::vector<std::string>& args, std::ostream& out);
// `show PATH`: prints the component's profile, state and a port summary.
int runShow(Session& session, const std::vector<std::string>& args, std::ostream& out);
// `ports PATH[:PORT]`: prints ports with their properties and connectors.
int runPorts(Session& session, const std::vector<std::string>& args, std::ostream& out);
// `activate|deactivate|reset|state PATH...` through the owned execution context.
int runLifecycle(const std::string& command, Session& session, const std::vector<std::string>& args,
                 std::ostream& out);
// `stats PATH`: prints the figures in the component's SDO status.
int runStats(Session& session, const std::vector<std::string>& args, std::ostream& out);
// `exit PATH...`: asks each component to finish.
int runExit(Session& session, const std::vector<std::string>& args, std::ostream& out);

}  // namespace rtmctl

#endif
