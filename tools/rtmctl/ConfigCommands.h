// rtmctl commands for configuration parameters and sets.
#ifndef PIXMOOR_TOOLS_RTMCTL_CONFIGCOMMANDS_H
#define PIXMOOR_TOOLS_RTMCTL_CONFIGCOMMANDS_H

#include <rtm/idl/SDOPackageSkel.h>

#include <ostream>
#include <string>
#include <vector>

#include "Session.h"

namespace rtmctl {

// `config get|set|sets|activate ...`.
int runConfig(Session& session, const std::vector<std::string>& args, std::ostream& out);

// Replaces the value of `name` in `set` with the string `value`; false when the
// set holds no parameter of that name.
bool setParameterValue(SDOPackage::ConfigurationSet& set, const std::string& name,
                       const std::string& value);

// Returns the names of the parameters in `set`, comma-separated.
std::string parameterNames(const SDOPackage::ConfigurationSet& set);

// True for sets that hold hints for tools ("__widget__"); they are never activated.
bool isHintSet(const std::string& id);

}  // namespace rtmctl

#endif
