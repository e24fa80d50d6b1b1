// rtmctl's commands for the framework's manager service (RTM::Manager):
// managers, create, delete, modules, load; and the SDO services a component
// calls back: watch (an observer of its own) and log (a logger of its own).
#ifndef PIXMOOR_TOOLS_RTMCTL_MANAGERCOMMANDS_H
#define PIXMOOR_TOOLS_RTMCTL_MANAGERCOMMANDS_H

#include <ostream>
#include <string>
#include <vector>

#include "Session.h"

namespace rtmctl {

// Lists the managers bound below a name server path (kind "mgr").
int runManagers(Session& session, const std::vector<std::string>& args, std::ostream& out);
// Creates a component through a manager ("Type?key=value&...").
int runCreate(Session& session, const std::vector<std::string>& args, std::ostream& out);
// Deletes a component by instance name through a manager.
int runDelete(Session& session, const std::vector<std::string>& args, std::ostream& out);
// Lists a manager's loaded and loadable modules and its factories.
int runModules(Session& session, const std::vector<std::string>& args, std::ostream& out);
// Loads (or with --unload, unloads) a module in a manager's process.
int runLoad(Session& session, const std::vector<std::string>& args, std::ostream& out);
// Prints a component's observer updates as they come.
int runWatch(Session& session, const std::vector<std::string>& args, std::ostream& out);
// Prints a component's log records as they come.
int runLog(Session& session, const std::vector<std::string>& args, std::ostream& out);

}  // namespace rtmctl

#endif
