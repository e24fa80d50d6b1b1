// rtmctl commands that join and part data ports.
#ifndef PIXMOOR_TOOLS_RTMCTL_CONNECTIONCOMMANDS_H
#define PIXMOOR_TOOLS_RTMCTL_CONNECTIONCOMMANDS_H

#include <ostream>
#include <string>
#include <vector>

#include "Session.h"

namespace rtmctl {

// `connect OUT IN [options]`: connects an outport to an inport.
int runConnect(Session& session, const std::vector<std::string>& args, std::ostream& out);
// `disconnect PORT [PORT2] [--id ID | --name NAME | --all]`.
int runDisconnect(Session& session, const std::vector<std::string>& args, std::ostream& out);

}  // namespace rtmctl

#endif
